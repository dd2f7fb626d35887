#include "pickup/AlertFile.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <sys/stat.h>

#ifdef Q_OS_LINUX
#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

const QLatin1String AlertName("Sms.csv");
const QLatin1String TakenMark(".taken");

} // namespace

namespace AlertFile {

bool list(const QString &folder, Names &names, QString *reason)
{
    names = {};
    const QFileInfo info(folder);
    if (!info.exists())
        return true;
    if (!info.isDir() || !info.isReadable()) {
        if (reason)
            *reason = info.isDir() ? QStringLiteral("permission denied") : QStringLiteral("not a folder");
        return false;
    }
    QDirIterator it(folder, QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        const QString name = QFileInfo(it.next()).fileName();
        if (name.compare(AlertName, Qt::CaseInsensitive) == 0)
            names.alertFiles << name;
        else if (name.startsWith(AlertName + TakenMark, Qt::CaseInsensitive))
            names.takenFiles << name;
    }
    // The taken part of the name orders them by the time they were taken.
    const auto takenAt = [](const QString &name) { return name.mid(AlertName.size()); };
    std::sort(names.takenFiles.begin(), names.takenFiles.end(),
              [&](const QString &a, const QString &b) { return takenAt(a) < takenAt(b); });
    names.alertFiles.sort();
    return true;
}

QString newTakenName(const QString &folder, const QString &name)
{
    const QDir dir(folder);
    for (qint64 stamp = QDateTime::currentMSecsSinceEpoch();; ++stamp) {
        QString taken = name + TakenMark + QLatin1Char('-') + QStringLiteral("%1").arg(stamp, 13, 10, QLatin1Char('0'));
        if (!QFileInfo::exists(dir.filePath(taken)) && !QFileInfo(dir.filePath(taken)).isSymLink())
            return taken;
    }
}

bool identify(const QString &file, Outbox::FileId &id, bool &plainFile)
{
    struct stat status = {};
    if (::lstat(QFile::encodeName(file).constData(), &status) != 0)
        return false;
    id = {qint64(status.st_dev), qint64(status.st_ino)};
    plainFile = S_ISREG(status.st_mode);
    return true;
}

bool openForWriting(const QString &file)
{
#ifdef Q_OS_LINUX
    // A read lease is granted only while no descriptor of the file is open
    // for writing, anywhere on the system. It is given back at once.
    const int fd = ::open(QFile::encodeName(file).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return false;
    // Should anyone open it for writing in the moment the lease is held, the
    // kernel signals us: with SIGURG, which is ignored, instead of SIGIO,
    // which would end the program.
    ::fcntl(fd, F_SETSIG, SIGURG);
    const bool busy = ::fcntl(fd, F_SETLEASE, F_RDLCK) != 0 && errno == EAGAIN;
    ::close(fd);
    return busy;
#else
    Q_UNUSED(file);
    return false;
#endif
}

} // namespace AlertFile
