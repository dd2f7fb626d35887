#include "pickup/AlertFile.h"

#include "pickup/MT4Paths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_LINUX
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#endif

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

bool openForWriting(const QString &file)
{
#ifdef Q_OS_LINUX
    // A read lease is granted only while no descriptor of the file is open
    // for writing, anywhere on the system. It is given back at once.
    const int fd = ::open(QFile::encodeName(file).constData(), O_RDONLY | O_CLOEXEC);
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
