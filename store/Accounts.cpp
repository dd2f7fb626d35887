// The accounts and users of UpdateCom: the login check and the save of an
// edited user.

#include "store/UpdateCom.h"

#include "store/Database.h"
#include "store/FieldValues.h"
#include "store/Statements.h"

namespace UpdateCom {

short CheckLogin(const QString &userName, const QString &password)
{
    Connection cn;
    cn.Open();
    Recordset rs;
    rs.Open(QString::fromLatin1(Statements::Accounts), cn);
    short rank = 0;
    while (!rs.Eof()) {
        const QVariant name = rs.Field(QStringLiteral("UserName"));
        const QVariant pass = rs.Field(QStringLiteral("Password"));
        // A field without value never matches.
        if (!name.isNull() && !pass.isNull() && name.toString() == userName && pass.toString() == password) {
            rank = FieldValues::toShort(rs.Field(QStringLiteral("Rank")), "Rank");
            break;
        }
        rs.MoveNext();
    }
    return rank;
}

bool UpdateUser(const QString &userName, const QString &phoneNo, bool onDuty)
{
    Connection cn;
    cn.Open();
    Recordset rs;
    // The name is bound, never pasted into the statement: an apostrophe in a
    // name is an ordinary character and typed text cannot widen the lookup.
    rs.Open(QString::fromLatin1(Statements::UserByName), cn, {userName});
    if (rs.Eof())
        return false;
    rs.SetField(QStringLiteral("name"), userName);
    rs.SetField(QStringLiteral("Phone_No"), phoneNo);
    rs.SetField(QStringLiteral("On_Duty"), onDuty);
    rs.Update();
    return true;
}

} // namespace UpdateCom
