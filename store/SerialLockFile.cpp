#include "store/SerialLockFile.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

// Far longer than a writer takes between making the file and filling it.
constexpr qint64 UnfinishedAfterMs = 2000;

// The folders QSerialPort may choose for its lock files.
QStringList lockFolders()
{
    return {QStringLiteral("/var/lock"),         QStringLiteral("/etc/locks"), QStringLiteral("/var/spool/locks"),
            QStringLiteral("/var/spool/uucp"),   QStringLiteral("/tmp"),       QStringLiteral("/var/tmp"),
            QStringLiteral("/var/lock/lockdev"), QStringLiteral("/run/lock"),  QDir::tempPath()};
}

} // namespace

bool SerialLockFile::removeUnfinished(const QString &device)
{
    // "/dev/pts/3" is locked as "LCK..pts_3".
    QString name = device;
    if (name.startsWith(QLatin1String("/dev/")))
        name.remove(0, 5);
    name = QStringLiteral("LCK..") + name.replace(QLatin1Char('/'), QLatin1Char('_'));

    bool removed = false;
    for (const QString &folder : lockFolders()) {
        const QFileInfo lock(QDir(folder).filePath(name));
        if (lock.isFile() && lock.size() == 0
            && lock.lastModified().msecsTo(QDateTime::currentDateTime()) > UnfinishedAfterMs)
            removed = QFile::remove(lock.filePath()) || removed;
    }
    return removed;
}
