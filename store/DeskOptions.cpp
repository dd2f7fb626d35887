#include "store/DeskOptions.h"

#include "store/Database.h"
#include "store/Sql.h"

namespace DeskOptions {

QString value(const QString &name, const QString &fallback)
{
    try {
        Connection cn;
        cn.Open();
        const QVariant stored = Sql::value(QSqlDatabase::database(cn.name(), false),
                                           QStringLiteral("SELECT Value FROM DeskOptions WHERE Name = ?"), {name});
        return stored.isNull() ? fallback : stored.toString();
    } catch (const DbError &) {
        // An older Config.mdb without the table.
        return fallback;
    }
}

void setValue(const QString &name, const QString &value)
{
    Connection cn;
    cn.Open();
    const QSqlDatabase db = QSqlDatabase::database(cn.name(), false);
    Sql::run(db, QStringLiteral("CREATE TABLE IF NOT EXISTS DeskOptions (Name TEXT PRIMARY KEY, Value TEXT)"));
    Sql::run(db, QStringLiteral("INSERT OR REPLACE INTO DeskOptions (Name, Value) VALUES (?, ?)"), {name, value});
}

} // namespace DeskOptions
