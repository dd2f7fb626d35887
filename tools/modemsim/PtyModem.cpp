#include "PtyModem.h"

#include "ModemEngine.h"

#include <QDir>
#include <QFile>
#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {
constexpr int PieceGapMs = 5; // between two pieces of a split answer
constexpr int RetryMs = 10;   // when the line's buffer is full
constexpr int StallMs = 1000; // a full line for this long: nobody reads
constexpr int HangUpSettleMs = 20;
constexpr int HangUpPatienceMs = 1000;
// What the program has not read yet; past this the modem talks into the void.
constexpr qsizetype MaxPendingBytes = 1 << 20;
} // namespace

PtyModem::PtyModem(ModemEngine &engine, const QString &folder, int port, const Options &options, QObject *parent)
    : QObject(parent)
    , m_engine(engine)
    , m_options(options)
    , m_link(QDir(folder).absoluteFilePath(QStringLiteral("COM%1").arg(port)))
    , m_random(options.seed)
{
    m_clock.start();
    m_drainTimer.setSingleShot(true);
    m_drainTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_drainTimer, &QTimer::timeout, this, &PtyModem::drain);
    m_reopenTimer.setSingleShot(true);
    connect(&m_reopenTimer, &QTimer::timeout, this, &PtyModem::reopen);
    connect(&m_engine, &ModemEngine::reportDue, this,
            [this](int id, int delayMs) { QTimer::singleShot(delayMs, this, [this, id] { bringReport(id); }); });
    connect(&m_engine, &ModemEngine::answerLate, this, &PtyModem::answerLate);
    connect(&m_engine, &ModemEngine::due, this, [this](int token, int delayMs) {
        QTimer::singleShot(delayMs, this, [this, token] {
            const QByteArray said = m_engine.fire(token);
            if (m_master >= 0 && !said.isEmpty())
                queue({m_clock.elapsed(), said, false, false});
        });
    });
}

PtyModem::~PtyModem()
{
    // The link stays if it has been pointed elsewhere meanwhile.
    if (!m_linkTarget.isEmpty() && QFile::symLinkTarget(m_link) == m_linkTarget)
        QFile::remove(m_link);
    closeLine();
}

bool PtyModem::open(QString *error)
{
    const auto fail = [this, error](const QString &what) {
        const int cause = errno;
        closeLine();
        if (error)
            *error = what + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(cause));
        return false;
    };
    m_master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (m_master < 0 || ::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0)
        return fail(QStringLiteral("cannot open a pseudo-terminal"));
    char name[128];
    if (::ptsname_r(m_master, name, sizeof name) != 0)
        return fail(QStringLiteral("cannot name the pseudo-terminal"));
    ::fcntl(m_master, F_SETFD, FD_CLOEXEC);
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);

    // A slave descriptor of our own, raw: the line stays raw between the
    // program's opens (a cooked line turns CR into LF and eats Ctrl-Z), and
    // the master never reads EIO while the program has its end closed.
    m_slaveFd = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios tio;
    if (m_slaveFd < 0 || ::tcgetattr(m_slaveFd, &tio) != 0)
        return fail(QStringLiteral("cannot open %1").arg(QString::fromLocal8Bit(name)));
    ::cfmakeraw(&tio);
    if (::tcsetattr(m_slaveFd, TCSANOW, &tio) != 0)
        return fail(QStringLiteral("cannot make %1 raw").arg(QString::fromLocal8Bit(name)));

    if (!pointLinkAt(QString::fromLocal8Bit(name)))
        return fail(QStringLiteral("cannot link %1").arg(m_link));
    m_slave = QString::fromLocal8Bit(name);

    m_notifier = std::make_unique<QSocketNotifier>(m_master, QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &PtyModem::readMaster);
    emit ready(m_slave);
    return true;
}

void PtyModem::readMaster()
{
    char buffer[4096];
    const ssize_t n = ::read(m_master, buffer, sizeof buffer);
    if (n < 0 && (errno == EAGAIN || errno == EINTR))
        return;
    if (n <= 0) {
        const char *why = n < 0 ? std::strerror(errno) : "closed";
        emit logged(QStringLiteral("the line failed: %1").arg(QString::fromLocal8Bit(why)));
        hangUp();
        return;
    }
    // After the modem dropped the line, what still comes is lost with it.
    if (m_engine.lineDropped())
        return;
    const qint64 due = m_clock.elapsed() + m_options.delayMs;
    const bool randomSplit = m_options.splitRate > 0 && m_random.generateDouble() < m_options.splitRate;
    queue({due, m_engine.feed(QByteArrayView(buffer, n)), randomSplit, false});
    if (m_engine.lineDropped())
        queue({due, {}, false, true});
}

void PtyModem::queue(Pending pending)
{
    if (pending.bytes.isEmpty() && !pending.hangUp)
        return;
    if (m_pendingBytes + pending.bytes.size() > MaxPendingBytes) {
        emit logged(QStringLiteral("%1 bytes of output dropped: nobody reads the line").arg(pending.bytes.size()));
        if (!pending.hangUp)
            return;
        pending.bytes.clear();
    }
    m_pendingBytes += pending.bytes.size();
    m_pending.push_back(std::move(pending));
    if (!m_drainTimer.isActive())
        drain();
}

void PtyModem::drain()
{
    const bool pieces = m_options.split > 0;
    while (!m_pending.empty()) {
        Pending &next = m_pending.front();
        const qint64 wait = std::max(next.due, m_nextWrite) - m_clock.elapsed();
        if (wait > 0) {
            m_drainTimer.start(int(wait));
            return;
        }
        if (next.hangUp) {
            if (!programHasReadAll(next)) {
                m_drainTimer.start(RetryMs);
                return;
            }
            hangUp();
            return;
        }
        qsizetype size = next.bytes.size();
        if (pieces)
            size = std::min<qsizetype>(size, m_options.split);
        // A random cut each time: a few pieces, however long the answer.
        if (next.randomSplit && size > 1)
            size = m_random.bounded(qint64(1), qint64(size) + 1);
        const ssize_t written = ::write(m_master, next.bytes.constData(), size_t(size));
        if (written < 0 && errno != EAGAIN && errno != EINTR) {
            emit logged(QStringLiteral("the line failed: %1").arg(QString::fromLocal8Bit(std::strerror(errno))));
            hangUp();
            return;
        }
        if (written <= 0) {
            // The line's buffer is full. A program that reads catches up
            // soon; when nobody reads, the modem talks into the void.
            if (m_stalledSince < 0)
                m_stalledSince = m_clock.elapsed();
            if (m_clock.elapsed() - m_stalledSince < StallMs) {
                m_drainTimer.start(RetryMs);
                return;
            }
            discardUnsent();
            continue;
        }
        m_stalledSince = -1;
        next.bytes.remove(0, written);
        m_pendingBytes -= written;
        if (pieces || next.randomSplit)
            m_nextWrite = m_clock.elapsed() + PieceGapMs;
        if (next.bytes.isEmpty())
            m_pending.pop_front();
    }
}

void PtyModem::discardUnsent()
{
    qsizetype dropped = 0;
    while (!m_pending.empty() && !m_pending.front().hangUp) {
        dropped += m_pending.front().bytes.size();
        m_pending.pop_front();
    }
    m_pendingBytes = 0;
    m_stalledSince = -1;
    emit logged(QStringLiteral("%1 bytes of output dropped: nobody reads the line").arg(dropped));
}

bool PtyModem::programHasReadAll(Pending &marker)
{
    // Hanging up throws away what the program has not read yet, the last
    // answer included: wait until its end of the line has stayed empty for a
    // moment (bytes may still be on their way into it), or for a second when
    // the program has closed its port and nobody reads.
    const qint64 now = m_clock.elapsed();
    if (marker.giveUpAt < 0)
        marker.giveUpAt = now + HangUpPatienceMs;
    int unread = 0;
    if (::ioctl(m_slaveFd, FIONREAD, &unread) == 0 && unread > 0)
        marker.emptySince = -1;
    else if (marker.emptySince < 0)
        marker.emptySince = now;
    return now >= marker.giveUpAt || (marker.emptySince >= 0 && now - marker.emptySince >= HangUpSettleMs);
}

void PtyModem::hangUp()
{
    m_engine.powerOff();
    m_drainTimer.stop();
    m_pending.clear();
    m_pendingBytes = 0;
    m_stalledSince = -1;
    closeLine();
    // While the line is down the link leads nowhere, as a modem that has gone
    // away. Left on the old line's name it would lead, once the system hands
    // that number to another pseudo-terminal, to somebody else's line.
    pointLinkAt(m_link + QStringLiteral(".offline"));
    emit logged(QStringLiteral("line hung up; a fresh one in %1 ms").arg(m_options.reopenMs));
    m_reopenTimer.start(m_options.reopenMs);
}

bool PtyModem::pointLinkAt(const QString &target)
{
    // A new link renamed over the old one: whoever opens COM<n> meanwhile
    // finds either the old target or the new one, never nothing.
    const QByteArray link = QFile::encodeName(m_link);
    const QByteArray temporary = link + ".new";
    ::unlink(temporary.constData());
    if (::symlink(QFile::encodeName(target).constData(), temporary.constData()) != 0
        || ::rename(temporary.constData(), link.constData()) != 0) {
        ::unlink(temporary.constData());
        return false;
    }
    m_linkTarget = target;
    return true;
}

void PtyModem::reopen()
{
    m_engine.powerOn();
    QString error;
    if (!open(&error)) {
        emit logged(error + QStringLiteral("; trying again"));
        m_reopenTimer.start(m_options.reopenMs);
    }
}

void PtyModem::control(const QByteArray &line)
{
    const QByteArray command = line.simplified();
    if (command == "unplug" || command == "plug") {
        emit logged(QStringLiteral("control: ") + QString::fromLatin1(command));
        command == "unplug" ? unplug() : plug();
        return;
    }
    const std::optional<QByteArray> said = m_engine.control(command);
    if (said && m_master >= 0)
        queue({m_clock.elapsed(), *said, false, false});
}

void PtyModem::unplug()
{
    if (m_unplugged)
        return;
    m_unplugged = true;
    m_reopenTimer.stop();
    m_drainTimer.stop();
    m_pending.clear();
    m_pendingBytes = 0;
    m_stalledSince = -1;
    m_engine.powerOff();
    closeLine();
    // A pulled USB modem leaves no device behind: the COM link, bound to
    // the device's stable name, leads nowhere until it is back.
    pointLinkAt(m_link + QStringLiteral(".unplugged"));
    m_slave.clear();
    emit logged(QStringLiteral("unplugged: the line is closed and %1 is gone").arg(m_link));
}

void PtyModem::plug()
{
    if (!m_unplugged)
        return;
    m_unplugged = false;
    reopen();
}

void PtyModem::bringReport(int id)
{
    // While the line is down the engine counts as off and lets the network
    // try again later.
    const QByteArray said = m_engine.reportArrived(id);
    if (m_master >= 0)
        queue({m_clock.elapsed(), said, false, false});
}

void PtyModem::answerLate(const QByteArray &bytes, int delayMs)
{
    // A line that hung up meanwhile took the answer with it.
    QTimer::singleShot(delayMs, this, [this, bytes, line = m_lineNumber] {
        if (line == m_lineNumber && m_master >= 0 && !m_engine.lineDropped())
            queue({m_clock.elapsed(), bytes, false, false});
    });
}

void PtyModem::closeLine()
{
    ++m_lineNumber;
    m_notifier.reset();
    if (m_master >= 0)
        ::close(m_master);
    if (m_slaveFd >= 0)
        ::close(m_slaveFd);
    m_master = m_slaveFd = -1;
}
