#include "pickup/MT4Paths.h"

#include "store/Database.h"
#include "store/Statements.h"

#include <QDir>

void MT4Paths::GetPathList()
{
    // Built aside, so that a failing read leaves the old list in use rather
    // than half of a new one. Every stored folder is watched, however many.
    QStringList list;
    Table table(Statements::Mt4Paths);
    for (; !table.rs.Eof(); table.rs.MoveNext())
        list << table.rs.Field(QStringLiteral("MT4_PATH")).toString();
    m_pathList = list;
    m_pathCount = short(qMin<qsizetype>(list.size(), 32767));
}

QString MT4Paths::alertFile(const QString &path)
{
    QString file = path;
    if (!file.endsWith(QLatin1Char('/')) && !file.endsWith(QLatin1Char('\\')))
        file += QDir::separator();
    return file + QStringLiteral("Sms.csv");
}
