#include "store/UserTable.h"

#include "store/Database.h"
#include "store/DeleteMatching.h"
#include "store/Sql.h"
#include "store/Statements.h"

namespace UserTable {

QList<User> rows()
{
    Table table(Statements::Users);
    QList<User> users;
    for (; !table.rs.Eof(); table.rs.MoveNext()) {
        // A user without a flag is off duty.
        users.append({table.rs.Field(QStringLiteral("name")).toString(),
                      table.rs.Field(QStringLiteral("Phone_No")).toString(),
                      table.rs.Field(QStringLiteral("On_Duty")).toBool()});
    }
    return users;
}

void add(const QString &name, const QString &phoneNo)
{
    Table table(Statements::Users);
    table.rs.AddNew();
    table.rs.SetField(QStringLiteral("name"), name);
    table.rs.SetField(QStringLiteral("Phone_No"), phoneNo);
    table.rs.Update();
}

bool isEmpty()
{
    Table table(Statements::Users);
    return table.rs.Eof();
}

void setOnDuty(const QString &name, const QString &phoneNo, bool onDuty)
{
    Connection cn;
    cn.Open();
    Sql::run(QSqlDatabase::database(cn.name(), false),
             QStringLiteral("UPDATE USERS SET On_Duty = ? WHERE name = ? AND Phone_No = ?"), {onDuty, name, phoneNo});
}

void removeNamed(const QString &name)
{
    Table table(Statements::Users);
    DeleteMatching(table.rs, QStringLiteral("name"), name);
}

} // namespace UserTable
