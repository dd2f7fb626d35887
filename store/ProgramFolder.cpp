#include "store/ProgramFolder.h"

#include <QCoreApplication>
#include <QDir>

namespace {
QString &folderSlot()
{
    static QString folder;
    return folder;
}
} // namespace

namespace ProgramFolder {

QString path()
{
    QString &folder = folderSlot();
    if (folder.isEmpty())
        folder = QCoreApplication::applicationDirPath();
    return folder;
}

void set(const QString &folder)
{
    folderSlot() = QDir::cleanPath(QDir(folder).absolutePath());
}

QString file(const QString &name)
{
    return QDir(path()).filePath(name);
}

} // namespace ProgramFolder
