#include "modem/Recipients.h"

#include "store/Database.h"
#include "store/Statements.h"

void Recipients::GetPhoneNo()
{
    // Build the new list aside so that a failing read leaves the old one in
    // use rather than half of a new one.
    QStringList list;
    Table table(Statements::Recipients);
    while (!table.rs.Eof()) {
        // A null On_Duty counts as off duty.
        if (table.rs.Field(QStringLiteral("On_Duty")).toBool()) {
            const QString number = table.rs.Field(QStringLiteral("Phone_No")).toString();
            // Without a number there is nobody to send to; without a name
            // the user is still served, under an empty name.
            if (!number.isEmpty())
                list << table.rs.Field(QStringLiteral("name")).toString() << number;
        }
        table.rs.MoveNext();
    }
    m_phoneList = list;
    m_phoneCount = short(qMin<qsizetype>(list.size(), 32766));
}
