#include "modem/Recipients.h"

#include "store/Database.h"
#include "store/Statements.h"

void Recipients::GetPhoneNo()
{
    // Build the new list aside so that a failing read leaves the old one in
    // use rather than half of a new one.
    QStringList list;
    Connection cn;
    cn.Open();
    Recordset rs;
    rs.Open(QString::fromLatin1(Statements::Recipients), cn);
    while (!rs.Eof()) {
        // A null On_Duty counts as off duty.
        if (rs.Field(QStringLiteral("On_Duty")).toBool()) {
            const QString number = rs.Field(QStringLiteral("Phone_No")).toString();
            // Without a number there is nobody to send to; without a name
            // the user is still served, under an empty name.
            if (!number.isEmpty())
                list << rs.Field(QStringLiteral("name")).toString() << number;
        }
        rs.MoveNext();
    }
    m_phoneList = list;
    m_phoneCount = short(qMin<qsizetype>(list.size(), 32766));
}
