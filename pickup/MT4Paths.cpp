#include "pickup/MT4Paths.h"

#include "store/Database.h"
#include "store/Statements.h"

#include <QDir>

void MT4Paths::GetPathList()
{
    PathCount = 0;
    PathList.clear();
    Connection cn;
    cn.Open();
    Recordset rs;
    rs.Open(QString::fromLatin1(Statements::Mt4Paths), cn);
    // Every stored folder is watched, however many there are.
    while (!rs.Eof()) {
        PathList << rs.Field(QStringLiteral("MT4_PATH")).toString();
        ++PathCount;
        rs.MoveNext();
    }
}

QString MT4Paths::alertFile(const QString &path)
{
    QString file = path;
    if (!file.endsWith(QLatin1Char('/')) && !file.endsWith(QLatin1Char('\\')))
        file += QDir::separator();
    return file + QStringLiteral("Sms.csv");
}
