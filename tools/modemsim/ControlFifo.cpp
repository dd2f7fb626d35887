#include "ControlFifo.h"

#include <QFile>
#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

ControlFifo::ControlFifo(const QString &path, QObject *parent)
    : QObject(parent)
    , m_path(path)
{
}

ControlFifo::~ControlFifo()
{
    closeFifo();
    if (m_made)
        QFile::remove(m_path);
}

bool ControlFifo::open(QString *error)
{
    const QByteArray path = QFile::encodeName(m_path);
    struct stat status {
    };
    if (::mkfifo(path.constData(), 0600) != 0
        && (errno != EEXIST || ::lstat(path.constData(), &status) != 0 || !S_ISFIFO(status.st_mode))) {
        if (error)
            *error = QStringLiteral("cannot make the FIFO %1: %2")
                         .arg(m_path, errno == EEXIST ? QStringLiteral("something else is there")
                                                      : QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    m_made = true;
    if (!openForReading()) {
        if (error)
            *error = QStringLiteral("cannot open %1: %2").arg(m_path, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    return true;
}

bool ControlFifo::openForReading()
{
    // Non-blocking, so that opening does not wait for a writer.
    m_fd = ::open(QFile::encodeName(m_path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (m_fd < 0)
        return false;
    m_notifier = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &ControlFifo::readFifo);
    return true;
}

void ControlFifo::closeFifo()
{
    m_notifier.reset();
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

void ControlFifo::readFifo()
{
    char buffer[4096];
    const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
    if (n < 0 && (errno == EAGAIN || errno == EINTR))
        return;
    if (n > 0) {
        m_partial.append(buffer, n);
        qsizetype end;
        while ((end = m_partial.indexOf('\n')) >= 0) {
            const QByteArray line = m_partial.left(end).trimmed();
            m_partial.remove(0, end + 1);
            if (!line.isEmpty())
                emit received(line);
        }
        if (m_partial.size() > MaxLineLength)
            m_partial.clear();
        return;
    }
    // The last writer has gone (or the FIFO failed): a line it left without
    // its line end still counts. Once at end of file the FIFO would wake us
    // without end, so it is opened afresh for the next writer.
    const QByteArray rest = std::exchange(m_partial, {}).trimmed();
    if (!rest.isEmpty())
        emit received(rest);
    closeFifo();
    openForReading();
}
