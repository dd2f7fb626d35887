#include "store/CodePage.h"

#include "store/Database.h"
#include "store/Sql.h"

#include "store/Statements.h"

#include <QStringDecoder>

#include <algorithm>

namespace CodePage {

QString load()
{
    try {
        Table table(Statements::AlertCodePage);
        if (!table.rs.Eof() && !table.rs.Field(QStringLiteral("CodePage")).toString().isEmpty())
            return table.rs.Field(QStringLiteral("CodePage")).toString();
    } catch (const DbError &) {
        // An older Config.mdb without the table: the default it has always had.
    }
    return QString::fromLatin1(Default);
}

bool known(const QString &name)
{
    // A name is plain printable ASCII; a NUL inside would hide the rest of it.
    const bool printable = std::all_of(name.cbegin(), name.cend(), [](QChar c) { return c >= u' ' && c <= u'~'; });
    return printable && !name.isEmpty() && QStringDecoder(name.toLatin1().constData()).isValid();
}

void save(const QString &name)
{
    Connection cn;
    cn.Open();
    Sql::run(QSqlDatabase::database(cn.name(), false),
             QStringLiteral("CREATE TABLE IF NOT EXISTS AlertCodePage (CodePage TEXT)"));
    Recordset rs;
    rs.Open(QString::fromLatin1(Statements::AlertCodePage), cn);
    if (rs.Eof())
        rs.AddNew();
    rs.SetField(QStringLiteral("CodePage"), name);
    rs.Update();
}

} // namespace CodePage
