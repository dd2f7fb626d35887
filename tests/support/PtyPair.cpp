#include "support/PtyPair.h"

#include <QDir>
#include <QFile>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

PtyPair::PtyPair(const QString &folder, int port)
{
    m_master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (m_master < 0 || ::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0)
        qFatal("cannot open a pseudo-terminal");
    m_slave = QString::fromLocal8Bit(::ptsname(m_master));
    // Keep a slave descriptor of our own, in raw mode, so the line stays raw
    // and the master never reads EIO while the program has its end closed.
    m_slaveFd = ::open(m_slave.toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
    termios tio;
    ::tcgetattr(m_slaveFd, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(m_slaveFd, TCSANOW, &tio);
    m_link = QDir(folder).filePath(QStringLiteral("COM%1").arg(port));
    QFile::remove(m_link);
    QFile::link(m_slave, m_link);
}

PtyPair::~PtyPair()
{
    QFile::remove(m_link);
    hangUp();
    if (m_slaveFd >= 0)
        ::close(m_slaveFd);
}

void PtyPair::listen()
{
    if (m_notifier || m_master < 0)
        return;
    m_notifier = new QSocketNotifier(m_master, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] {
        char buffer[4096];
        const ssize_t n = ::read(m_master, buffer, sizeof buffer);
        if (n > 0)
            emit received(QByteArray(buffer, int(n)));
    });
}

void PtyPair::writeLater(const QByteArray &bytes, int ms)
{
    QTimer::singleShot(ms, this, [this, bytes] { write(bytes); });
}

void PtyPair::write(const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_master, bytes.constData() + done, size_t(bytes.size() - done));
        if (n <= 0)
            return;
        done += n;
    }
}

QByteArray PtyPair::read(int ms)
{
    QByteArray bytes;
    for (;;) {
        pollfd fd{m_master, POLLIN, 0};
        if (::poll(&fd, 1, ms) <= 0 || !(fd.revents & POLLIN))
            return bytes;
        char buffer[4096];
        const ssize_t n = ::read(m_master, buffer, sizeof buffer);
        if (n <= 0)
            return bytes;
        bytes.append(buffer, n);
    }
}

void PtyPair::hangUp()
{
    delete m_notifier;
    m_notifier = nullptr;
    if (m_master >= 0)
        ::close(m_master);
    m_master = -1;
    if (m_slaveFd >= 0)
        ::close(m_slaveFd);
    m_slaveFd = -1;
}
