#include "support/KannelGateway.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QThread>

#include <csignal>
#include <sys/prctl.h>

namespace {

const QString AdminPassword = QStringLiteral("gateway-admin");

QString findProgram(const QString &name)
{
    // Debian puts the boxes in /usr/sbin and fakesmsc among Kannel's test
    // tools (kannel-extras), neither of them on a usual PATH.
    QString found = QStandardPaths::findExecutable(name);
    if (!found.isEmpty())
        return found;
    return QStandardPaths::findExecutable(name, {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/local/sbin"),
                                                 QStringLiteral("/usr/lib/kannel/test"),
                                                 QStringLiteral("/usr/local/lib/kannel/test")});
}

// Ports below the ephemeral range, so that no outgoing connection can take one
// between a stop() and the start() after it; and away from Kannel's own
// defaults (10000, 13000-13013), where the package's bearerbox may listen.
QList<quint16> pickPorts(int count)
{
    int below = 32768;
    QFile range(QStringLiteral("/proc/sys/net/ipv4/ip_local_port_range"));
    if (range.open(QIODevice::ReadOnly)) {
        const int low = range.readAll().simplified().split(' ').value(0).toInt();
        if (low > 21000)
            below = low;
    }
    QList<quint16> ports;
    for (int attempt = 0; attempt < 500 && ports.size() < count; ++attempt) {
        const auto port = quint16(QRandomGenerator::global()->bounded(20000, below));
        if (ports.contains(port))
            continue;
        QTcpServer probe;
        if (probe.listen(QHostAddress::LocalHost, port))
            ports.append(port);
    }
    return ports;
}

// One HTTP/1.0 GET on loopback; the whole answer, or empty.
QByteArray httpGet(quint16 port, const QByteArray &target, int ms = 2000)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(ms))
        return {};
    socket.write("GET " + target + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n");
    QByteArray answer;
    const QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired() && socket.state() == QAbstractSocket::ConnectedState) {
        socket.waitForReadyRead(int(qMax<qint64>(deadline.remainingTime(), 1)));
        answer += socket.readAll();
    }
    return answer + socket.readAll();
}

bool waitForListener(quint16 port, const QProcess &process, const QDeadlineTimer &deadline)
{
    while (process.state() == QProcess::Running && !deadline.hasExpired()) {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, port);
        if (socket.waitForConnected(200))
            return true;
        QThread::msleep(50);
    }
    return false;
}

// SIGTERM to each first, so that they wind down side by side (bearerbox
// alone takes about two seconds), then SIGKILL to any still there.
void stopProcesses(std::initializer_list<QProcess *> processes)
{
    for (QProcess *process : processes) {
        if (process->state() != QProcess::NotRunning)
            process->terminate();
    }
    const QDeadlineTimer deadline(8000);
    for (QProcess *process : processes) {
        if (process->state() == QProcess::NotRunning)
            continue;
        if (!process->waitForFinished(int(qMax<qint64>(deadline.remainingTime(), 1)))) {
            process->kill();
            process->waitForFinished(2000);
        }
    }
}

QByteArray urlDecoded(QByteArray encoded)
{
    return QByteArray::fromPercentEncoding(encoded.replace('+', ' '));
}

QString decoded(const QByteArray &data, int coding)
{
    if (coding == 2) {
        QStringDecoder utf16(QStringConverter::Utf16BE);
        return utf16(data);
    }
    return coding == 1 ? QString::fromLatin1(data) : QString::fromUtf8(data);
}

// Kannel's line for a part does not say its coding. Here text is UTF-8, and
// the high bytes of UCS-2 in Latin, Cyrillic, Greek and the like scripts are
// below 0x20, where text has hardly any.
bool looksLikeUcs2(const QByteArray &data)
{
    if (data.isEmpty() || data.size() % 2 != 0)
        return false;
    qsizetype low = 0;
    for (qsizetype i = 0; i < data.size(); i += 2) {
        if (uchar(data[i]) < 0x20)
            ++low;
    }
    return low * 4 > data.size();
}

struct Concatenation {
    int reference = -1;
    int total = 0;
    int sequence = 0;
};

// The 8-bit (IEI 0) or 16-bit (IEI 8) reference element of a UDH.
Concatenation concatenation(const QByteArray &udh)
{
    Concatenation found;
    const qsizetype end = udh.isEmpty() ? 0 : qMin<qsizetype>(udh.size(), 1 + uchar(udh[0]));
    for (qsizetype i = 1; i + 1 < end;) {
        const int iei = uchar(udh[i]);
        const int length = uchar(udh[i + 1]);
        const QByteArray value = udh.mid(i + 2, length);
        if (iei == 0x00 && value.size() == 3)
            found = {uchar(value[0]), uchar(value[1]), uchar(value[2])};
        else if (iei == 0x08 && value.size() == 4)
            found = {uchar(value[0]) << 8 | uchar(value[1]), uchar(value[2]), uchar(value[3])};
        i += 2 + length;
    }
    return found;
}

QString tail(const QString &path, int lines)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QList<QByteArray> all = file.readAll().split('\n');
    QStringList last;
    for (qsizetype i = qMax<qsizetype>(0, all.size() - lines - 1); i < all.size(); ++i)
        last << QString::fromUtf8(all[i]);
    return last.join(QLatin1Char('\n')).trimmed();
}

} // namespace

KannelGateway::KannelGateway() = default;

KannelGateway::~KannelGateway()
{
    stop();
}

QString KannelGateway::unavailableReason()
{
    QStringList missing;
    for (const QString &program : {QStringLiteral("bearerbox"), QStringLiteral("smsbox"), QStringLiteral("fakesmsc")}) {
        if (findProgram(program).isEmpty())
            missing << program;
    }
    if (missing.isEmpty())
        return {};
    return QStringLiteral("Kannel not installed (%1 not found): the Debian packages kannel and kannel-extras, "
                          "which scripts/setup-machine.sh installs")
        .arg(missing.join(QStringLiteral(", ")));
}

bool KannelGateway::prepare()
{
    if (m_smscPort != 0)
        return true;
    if (!m_work.isValid())
        return fail(QStringLiteral("no temporary folder"));
    const QString missing = unavailableReason();
    if (!missing.isEmpty())
        return fail(missing);
    m_bearerboxPath = findProgram(QStringLiteral("bearerbox"));
    m_smsboxPath = findProgram(QStringLiteral("smsbox"));
    m_fakesmscPath = findProgram(QStringLiteral("fakesmsc"));
    const QList<quint16> ports = pickPorts(4);
    if (ports.size() < 4)
        return fail(QStringLiteral("no free loopback ports"));

    const auto path = [this](const char *name) { return m_work.filePath(QString::fromLatin1(name)); };
    // Everything on loopback. The store keeps what bearerbox queued across a
    // restart; the internal DLR store is all the fake SMSC needs.
    QString conf = QStringLiteral(R"(group = core
admin-port = %1
admin-interface = 127.0.0.1
admin-password = %2
admin-allow-ip = 127.0.0.1
smsbox-port = %3
smsbox-interface = 127.0.0.1
box-allow-ip = 127.0.0.1
dlr-storage = internal
store-type = file
store-location = "%4"
log-file = "%5"
log-level = 0
access-log = "%6"

group = smsc
smsc = fake
smsc-id = fake
host = 127.0.0.1
our-host = 127.0.0.1
port = %7
connect-allow-ip = 127.0.0.1
denied-prefix = "%8;+%8"

group = smsbox
bearerbox-host = 127.0.0.1
bearerbox-port = %3
sendsms-port = %9
sendsms-interface = 127.0.0.1
log-file = "%10"
log-level = 0

group = sendsms-user
username = %11
password = %12
max-messages = 10
concatenation = true
)")
                       .arg(ports[0])
                       .arg(AdminPassword)
                       .arg(ports[1])
                       .arg(path("store"), path("bearerbox.log"), path("access.log"))
                       .arg(ports[2])
                       .arg(rejectedPrefix())
                       .arg(ports[3])
                       .arg(path("smsbox.log"), username(), password());
    if (!m_incomingUrl.isEmpty()) {
        // An SMS the get-url did not take (any answer but 200 or 202) is
        // asked again a second later, at most three times.
        conf.replace(QStringLiteral("sendsms-interface = 127.0.0.1\n"),
                     QStringLiteral("sendsms-interface = 127.0.0.1\nhttp-request-retry = 3\nhttp-queue-delay = 1\n"));
        // Every SMS from a phone to the get-url; what it answers is never
        // sent back.
        conf += QStringLiteral(R"(
group = sms-service
keyword = default
catch-all = true
get-url = "%1"
max-messages = 0
omit-empty = true
)")
                    .arg(m_incomingUrl);
    }
    QFile file(path("kannel.conf"));
    if (!file.open(QIODevice::WriteOnly) || file.write(conf.toUtf8()) != conf.toUtf8().size())
        return fail(QStringLiteral("cannot write %1").arg(file.fileName()));
    // An empty store spares the first start its errors about a missing one.
    QFile store(path("store"));
    if (!store.open(QIODevice::WriteOnly))
        return fail(QStringLiteral("cannot write %1").arg(store.fileName()));
    m_adminPort = ports[0];
    m_smsboxPort = ports[1];
    m_smscPort = ports[2];
    m_sendSmsPort = ports[3];
    return true;
}

bool KannelGateway::startBox(QProcess &process, const QString &program, const QString &name)
{
    process.setWorkingDirectory(m_work.path());
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(m_work.filePath(name + QStringLiteral(".out")), QIODevice::Append);
    // Should the test itself die, its Kannel goes with it and frees the ports.
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    // -v 2: warnings and worse on the console; the log files have the rest.
    process.start(program, {QStringLiteral("-v"), QStringLiteral("2"), m_work.filePath(QStringLiteral("kannel.conf"))});
    return process.waitForStarted(5000)
           || fail(QStringLiteral("%1 did not start: %2").arg(name, process.errorString()));
}

bool KannelGateway::start()
{
    if (isRunning())
        return true;
    m_error.clear();
    if (!prepare())
        return false;
    // Both start in well under a second; the deadline is for a busy machine.
    const QDeadlineTimer deadline(15000);
    if (!startBox(m_bearerbox, m_bearerboxPath, QStringLiteral("bearerbox")))
        return false;
    // smsbox gives up at once without a bearerbox to connect to.
    if (!waitForListener(m_smsboxPort, m_bearerbox, deadline)) {
        fail(QStringLiteral("bearerbox did not open port %1").arg(m_smsboxPort));
        stop();
        return false;
    }
    if (!startBox(m_smsbox, m_smsboxPath, QStringLiteral("smsbox"))) {
        stop();
        return false;
    }
    bool answers = false;
    while (!answers && m_smsbox.state() == QProcess::Running && !deadline.hasExpired()) {
        answers = httpGet(m_sendSmsPort, "/cgi-bin/sendsms", 1000).startsWith("HTTP/");
        if (!answers)
            QThread::msleep(50);
    }
    if (!answers) {
        fail(QStringLiteral("sendsms did not answer on port %1").arg(m_sendSmsPort));
        stop();
        return false;
    }
    if (!startSmsc()) {
        stop();
        return false;
    }
    return true;
}

void KannelGateway::stop()
{
    stopProcesses({&m_fakesmsc, &m_smsbox, &m_bearerbox});
}

bool KannelGateway::isRunning() const
{
    return m_bearerbox.state() == QProcess::Running && m_smsbox.state() == QProcess::Running;
}

bool KannelGateway::isSmscOnline() const
{
    if (m_bearerbox.state() != QProcess::Running)
        return false;
    const QByteArray status = httpGet(m_adminPort, "/status.txt?password=" + AdminPassword.toLatin1());
    return status.contains("FAKE:" + QByteArray::number(m_smscPort) + " (online");
}

bool KannelGateway::startSmsc()
{
    return runSmsc({});
}

bool KannelGateway::sendFromPhone(const QString &sender, const QString &text)
{
    bool ascii = true;
    for (const QChar c : text)
        ascii = ascii && c.unicode() >= 0x20 && c.unicode() < 0x7f;
    QByteArray line = sender.toUtf8() + " 12345 ";
    if (ascii) {
        line += "text " + text.toLatin1();
    } else {
        QStringEncoder utf16(QStringConverter::Utf16BE);
        line += "ucs2 " + QByteArray(utf16(text)).toPercentEncoding();
    }
    return stopSmsc() && runSmsc(QString::fromLatin1(line));
}

bool KannelGateway::runSmsc(const QString &message)
{
    if (m_bearerbox.state() != QProcess::Running)
        return fail(QStringLiteral("no bearerbox for fakesmsc"));
    if (m_fakesmsc.state() == QProcess::NotRunning) {
        m_fakesmsc.setWorkingDirectory(m_work.path());
        m_fakesmsc.setProcessChannelMode(QProcess::MergedChannels);
        m_fakesmsc.setStandardInputFile(QProcess::nullDevice());
        // Its log, kept across restarts, is where messages() reads what came.
        m_fakesmsc.setStandardOutputFile(m_work.filePath(QStringLiteral("fakesmsc.log")), QIODevice::Append);
        m_fakesmsc.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
        // -m 0: the one message it must be given is never sent; it only
        // listens. -m 1: a phone's message, sent once; then it listens.
        m_fakesmsc.start(m_fakesmscPath, {QStringLiteral("-H"), QStringLiteral("127.0.0.1"), QStringLiteral("-r"),
                                          QString::number(m_smscPort), QStringLiteral("-m"),
                                          message.isEmpty() ? QStringLiteral("0") : QStringLiteral("1"),
                                          message.isEmpty() ? QStringLiteral("0 0 text unused") : message});
        if (!m_fakesmsc.waitForStarted(5000))
            return fail(QStringLiteral("fakesmsc did not start: %1").arg(m_fakesmsc.errorString()));
    }
    // Until bearerbox has it, sendsms would answer "queued", not "accepted".
    const QDeadlineTimer deadline(10000);
    while (m_fakesmsc.state() == QProcess::Running && !deadline.hasExpired()) {
        if (isSmscOnline())
            return true;
        QThread::msleep(50);
    }
    return fail(QStringLiteral("the fake SMSC did not come online on port %1").arg(m_smscPort));
}

bool KannelGateway::stopSmsc()
{
    stopProcesses({&m_fakesmsc});
    // bearerbox must have seen it go, or it could still hand it the next one.
    const QDeadlineTimer deadline(5000);
    while (!deadline.hasExpired()) {
        if (!isSmscOnline())
            return true;
        QThread::msleep(50);
    }
    return fail(QStringLiteral("bearerbox still has the fake SMSC online"));
}

QUrl KannelGateway::sendSmsUrl() const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1/cgi-bin/sendsms?username=%2&password=%3")
                    .arg(m_sendSmsPort)
                    .arg(username(), password()));
}

QList<KannelGateway::Sms> KannelGateway::messages() const
{
    // fakesmsc logs each line the fake SMSC sends as
    //   ... DEBUG: Got message N: <SENDER RECEIVER TYPE DATA>
    // TYPE "text": DATA as it is (UTF-8); "data": url-encoded 8-bit;
    // "ucs-2": url-encoded UTF-16BE; "udh": url-encoded UDH, " data ",
    // url-encoded part, in whatever coding the message has.
    QList<Sms> done;
    QFile file(m_work.filePath(QStringLiteral("fakesmsc.log")));
    if (!file.open(QIODevice::ReadOnly))
        return done;
    struct Open {
        Sms sms;
        QList<QByteArray> pieces;
        int have = 0;
    };
    QHash<QByteArray, Open> open;
    bool lastWasText = false;
    static const QByteArray Mark = "Got message ";
    for (const QByteArray &logLine : file.readAll().split('\n')) {
        const qsizetype mark = logLine.indexOf(Mark);
        const qsizetype start = mark < 0 ? -1 : logLine.indexOf(": <", mark);
        if (start < 0 || !logLine.endsWith('>'))
            continue;
        const QByteArray line = logLine.mid(start + 3, logLine.size() - start - 4);
        const QList<QByteArray> words = line.split(' ');
        const QByteArray type = words.value(2);
        const bool known = words.size() >= 4 && (type == "text" || type == "data" || type == "ucs-2" || type == "udh");
        if (!known) {
            // A line break inside a text ends the fake SMSC's line there; the
            // rest comes as a line of its own.
            if (lastWasText) {
                done.last().data += '\n' + line;
                done.last().text = QString::fromUtf8(done.last().data);
            }
            continue;
        }
        Sms sms;
        sms.sender = QString::fromUtf8(words[0]);
        sms.receiver = QString::fromUtf8(words[1]);
        const qsizetype dataAt = words[0].size() + words[1].size() + type.size() + 3;
        lastWasText = type == "text";
        if (type != "udh") {
            sms.data = lastWasText ? line.mid(dataAt) : urlDecoded(line.mid(dataAt));
            sms.coding = type == "ucs-2" ? 2 : type == "data" ? 1 : 0;
            sms.text = decoded(sms.data, sms.coding);
            done.append(sms);
            continue;
        }
        if (words.size() < 6 || words[4] != "data")
            continue;
        const QByteArray piece = urlDecoded(words[5]);
        const Concatenation part = concatenation(urlDecoded(words[3]));
        if (part.total < 2 || part.sequence < 1 || part.sequence > part.total) {
            sms.data = piece;
            sms.coding = looksLikeUcs2(piece) ? 2 : 0;
            sms.text = decoded(sms.data, sms.coding);
            done.append(sms);
            continue;
        }
        const QByteArray key =
            words[0] + ' ' + words[1] + ' ' + QByteArray::number(part.reference) + '/' + QByteArray::number(part.total);
        Open &set = open[key];
        // A reference comes round again once the old set is complete.
        if (set.pieces.size() != part.total || !set.pieces[part.sequence - 1].isNull())
            set = Open{sms, QList<QByteArray>(part.total), 0};
        set.pieces[part.sequence - 1] = piece.isNull() ? QByteArray("") : piece;
        if (++set.have < part.total)
            continue;
        Sms whole = set.sms;
        for (const QByteArray &each : std::as_const(set.pieces))
            whole.data += each;
        whole.parts = part.total;
        whole.coding = looksLikeUcs2(whole.data) ? 2 : 0;
        whole.text = decoded(whole.data, whole.coding);
        done.append(whole);
        open.remove(key);
    }
    return done;
}

bool KannelGateway::waitForMessages(qsizetype count, int ms) const
{
    return QTest::qWaitFor([&] { return messages().size() >= count; }, ms);
}

QString KannelGateway::logs() const
{
    QStringList all;
    for (const char *name :
         {"bearerbox.out", "smsbox.out", "fakesmsc.log", "access.log", "bearerbox.log", "smsbox.log"}) {
        const QString last = tail(m_work.filePath(QString::fromLatin1(name)), 12);
        if (!last.isEmpty())
            all << QStringLiteral("== %1\n%2").arg(QString::fromLatin1(name), last);
    }
    return all.join(QLatin1Char('\n'));
}

bool KannelGateway::fail(const QString &why)
{
    m_error = why;
    const QString last = logs();
    if (!last.isEmpty())
        m_error += QLatin1Char('\n') + last;
    return false;
}
