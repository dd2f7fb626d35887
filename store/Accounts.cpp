// The accounts and users of UpdateCom: the login check and the save of an
// edited user.

#include "store/UpdateCom.h"

#include "store/Database.h"
#include "store/FieldValues.h"
#include "store/Statements.h"

namespace UpdateCom {

short CheckLogin(const QString &userName, const QString &password)
{
    Table table(Statements::Accounts);
    short rank = 0;
    while (!table.rs.Eof()) {
        const QVariant name = table.rs.Field(QStringLiteral("UserName"));
        const QVariant pass = table.rs.Field(QStringLiteral("Password"));
        // A field without value never matches.
        if (!name.isNull() && !pass.isNull() && name.toString() == userName && pass.toString() == password) {
            rank = FieldValues::toShort(table.rs.Field(QStringLiteral("Rank")), "Rank");
            break;
        }
        table.rs.MoveNext();
    }
    return rank;
}

bool UpdateUser(const QString &userName, const QString &phoneNo, bool onDuty)
{
    // The name is bound, never pasted into the statement: an apostrophe in a
    // name is an ordinary character and typed text cannot widen the lookup.
    Table table(Statements::UserByName, {userName});
    if (table.rs.Eof())
        return false;
    table.rs.SetField(QStringLiteral("name"), userName);
    table.rs.SetField(QStringLiteral("Phone_No"), phoneNo);
    table.rs.SetField(QStringLiteral("On_Duty"), onDuty);
    table.rs.Update();
    return true;
}

} // namespace UpdateCom
