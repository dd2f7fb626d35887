#include "support/SimulatedModem.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QThread>

#include <cerrno>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

// Undoes the record file's backslash escapes: \\ \n \r \t \xHH.
QByteArray unescape(const QByteArray &escaped)
{
    QByteArray out;
    for (qsizetype i = 0; i < escaped.size(); ++i) {
        const char c = escaped[i];
        if (c != '\\' || i + 1 == escaped.size()) {
            out += c;
            continue;
        }
        const char next = escaped[++i];
        if (next == 'n')
            out += '\n';
        else if (next == 'r')
            out += '\r';
        else if (next == 't')
            out += '\t';
        else if (next == 'x' && i + 2 < escaped.size()) {
            out += char(escaped.mid(i + 1, 2).toInt(nullptr, 16));
            i += 2;
        } else
            out += next;
    }
    return out;
}

} // namespace

SimulatedModem::SimulatedModem(const QStringList &options, const QString &folder, int port)
    : m_folder(folder.isEmpty() ? m_work.path() : folder)
    , m_port(port)
{
    QStringList arguments{QStringLiteral("--folder"), m_folder, QStringLiteral("--port"), QString::number(port)};
    const qsizetype record = options.indexOf(QStringLiteral("--record"));
    if (record >= 0 && record + 1 < options.size()) {
        m_record = options[record + 1];
    } else {
        m_record = m_work.filePath(QStringLiteral("sms.txt"));
        arguments << QStringLiteral("--record") << m_record;
    }
    const qsizetype control = options.indexOf(QStringLiteral("--control"));
    if (control >= 0 && control + 1 < options.size()) {
        m_control = options[control + 1];
    } else {
        m_control = m_work.filePath(QStringLiteral("control"));
        arguments << QStringLiteral("--control") << m_control;
    }
    m_process.setStandardErrorFile(m_work.filePath(QStringLiteral("modemsim.log")));
    m_process.start(QCoreApplication::applicationDirPath() + QStringLiteral("/vantrel-modemsim"), arguments + options);
    if (m_process.waitForStarted(5000))
        readReadyLine(5000);
}

SimulatedModem::~SimulatedModem()
{
    stop();
}

bool SimulatedModem::waitForReady(int ms)
{
    return readReadyLine(ms);
}

bool SimulatedModem::readReadyLine(int ms)
{
    // The line reads "ready COM<n> <slave path>".
    const QDeadlineTimer deadline(ms);
    for (;;) {
        const qsizetype end = m_stdout.indexOf('\n');
        if (end >= 0) {
            const QList<QByteArray> words = m_stdout.left(end).split(' ');
            m_stdout.remove(0, end + 1);
            if (words.size() == 3 && words[0] == "ready") {
                m_slave = QString::fromLocal8Bit(words[2]);
                return true;
            }
            continue;
        }
        if (m_process.state() != QProcess::Running || deadline.hasExpired())
            return false;
        m_process.waitForReadyRead(int(qMax<qint64>(deadline.remainingTime(), 1)));
        m_stdout += m_process.readAllStandardOutput();
    }
}

QString SimulatedModem::linkPath() const
{
    return QDir(m_folder).filePath(QStringLiteral("COM%1").arg(m_port));
}

QList<SimulatedModem::Sms> SimulatedModem::messages() const
{
    QList<Sms> messages;
    QFile file(m_record);
    if (!file.open(QIODevice::ReadOnly))
        return messages;
    // NUMBER TAB TEXT for text mode; NUMBER TAB UTF-8 TEXT TAB pdu/PARTS for PDU mode.
    for (const QByteArray &line : file.readAll().split('\n')) {
        const QList<QByteArray> fields = line.split('\t');
        if (fields.size() < 2)
            continue;
        Sms sms{QString::fromLatin1(unescape(fields[0])), QString::fromLatin1(unescape(fields[1]))};
        if (fields.size() > 2 && fields[2].startsWith("pdu/")) {
            sms.text = QString::fromUtf8(unescape(fields[1]));
            sms.parts = fields[2].mid(4).toInt();
            sms.pdu = true;
        }
        messages.append(sms);
    }
    return messages;
}

bool SimulatedModem::control(const QString &line)
{
    const QByteArray bytes = line.toUtf8() + '\n';
    const QByteArray path = QFile::encodeName(m_control);
    const QDeadlineTimer deadline(2000);
    // Between two writers the modem opens its FIFO afresh; until it has,
    // nobody reads and opening for writing fails at once.
    int fd = -1;
    while ((fd = ::open(path.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC)) < 0) {
        if (errno != ENXIO || deadline.hasExpired())
            return false;
        QThread::msleep(1);
    }
    const bool written = ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
    // The modem acts on a line as it reads it: once the FIFO is empty, it has.
    int unread = 0;
    while (written && ::ioctl(fd, FIONREAD, &unread) == 0 && unread > 0 && !deadline.hasExpired())
        QThread::msleep(1);
    ::close(fd);
    return written && unread == 0;
}

QString SimulatedModem::log() const
{
    QFile file(m_work.filePath(QStringLiteral("modemsim.log")));
    return file.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(file.readAll()) : QString();
}

bool SimulatedModem::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0;
    m_process.terminate();
    if (!m_process.waitForFinished(3000)) {
        m_process.kill();
        m_process.waitForFinished(1000);
        return false;
    }
    return m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0;
}

QStringList SimulatedModem::textsTo(const QString &number) const
{
    QStringList texts;
    for (const Sms &sms : messages()) {
        if (sms.number == number)
            texts << sms.text;
    }
    return texts;
}
