#include "pickup/AlertFile.h"

#include "pickup/MT4Paths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace AlertFile {

QString takenName(const QString &path)
{
    return MT4Paths::alertFile(path) + QStringLiteral(".taken");
}

Take take(const QString &path, QString *reason)
{
    const QString name = MT4Paths::alertFile(path);
    if (!QFileInfo::exists(name))
        return Take::NoFile;
    QFile file(name);
    if (file.rename(takenName(path)))
        return Take::Taken;
    if (!QFileInfo(path).isDir())
        return Take::FolderGone;
    if (!QFileInfo::exists(name))
        return Take::NoFile;
    if (reason)
        *reason = QFileInfo::exists(takenName(path))
                      ? QStringLiteral("%1 is still there from an earlier pick-up").arg(takenName(path))
                      : file.errorString();
    return Take::Refused;
}

} // namespace AlertFile
