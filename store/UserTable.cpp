#include "store/UserTable.h"

#include "store/Database.h"
#include "store/DeleteMatching.h"
#include "store/Statements.h"

namespace UserTable {

QList<User> rows()
{
    Connection cn;
    cn.Open();
    Recordset rs;
    rs.Open(QString::fromLatin1(Statements::Users), cn);
    QList<User> users;
    for (; !rs.Eof(); rs.MoveNext()) {
        // A user without a flag is off duty.
        users.append({rs.Field(QStringLiteral("name")).toString(), rs.Field(QStringLiteral("Phone_No")).toString(),
                      rs.Field(QStringLiteral("On_Duty")).toBool()});
    }
    return users;
}

void add(const QString &name, const QString &phoneNo)
{
    Connection cn;
    cn.Open();
    Recordset rs;
    rs.Open(QString::fromLatin1(Statements::Users), cn);
    rs.AddNew();
    rs.SetField(QStringLiteral("name"), name);
    rs.SetField(QStringLiteral("Phone_No"), phoneNo);
    rs.Update();
}

bool isEmpty()
{
    Connection cn;
    cn.Open();
    Recordset rs;
    rs.Open(QString::fromLatin1(Statements::Users), cn);
    return rs.Eof();
}

void removeNamed(const QString &name)
{
    Connection cn;
    cn.Open();
    Recordset rs;
    rs.Open(QString::fromLatin1(Statements::Users), cn);
    DeleteMatching(rs, QStringLiteral("name"), name);
}

} // namespace UserTable
