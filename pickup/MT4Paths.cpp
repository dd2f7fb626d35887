#include "pickup/MT4Paths.h"

#include "store/Database.h"
#include "store/FieldValues.h"
#include "store/Statements.h"

#include <QDir>

namespace {

// No file system takes a longer path.
constexpr qsizetype LongestPath = 4096;

// Why a stored path cannot be watched; empty when it can. An empty path
// would name the root folder's alert file.
QString unusable(const QString &path)
{
    if (path.trimmed().isEmpty())
        return QStringLiteral("it is empty");
    if (path.size() > LongestPath)
        return QStringLiteral("it is %1 characters long").arg(path.size());
    if (std::any_of(path.cbegin(), path.cend(), [](QChar c) { return c.category() == QChar::Other_Control; }))
        return QStringLiteral("it holds control characters");
    return {};
}

} // namespace

void MT4Paths::GetPathList()
{
    // Built aside, so that a failing read leaves the old list in use rather
    // than half of a new one. Every stored folder is watched, however many.
    QStringList list;
    QStringList complaints;
    Table table(Statements::Mt4Paths);
    for (; !table.rs.Eof(); table.rs.MoveNext()) {
        const QString path = table.rs.Field(QStringLiteral("MT4_PATH")).toString();
        const QString why = unusable(path);
        if (why.isEmpty())
            list << path;
        else
            complaints
                << QStringLiteral("The watched folder \"%1\" is skipped: %2.").arg(FieldValues::shown(path), why);
    }
    m_pathList = list;
    m_pathCount = short(qMin<qsizetype>(list.size(), 32767));
    m_complaints = complaints;
}

QString MT4Paths::alertFile(const QString &path)
{
    QString file = path;
    if (!file.endsWith(QLatin1Char('/')) && !file.endsWith(QLatin1Char('\\')))
        file += QDir::separator();
    return file + QStringLiteral("Sms.csv");
}
