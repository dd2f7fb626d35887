// The metrics page of a running relay, scraped over loopback while alerts go
// through two simulated modems on real pseudo-terminals: counters that rise
// with what the relay does, a route's state that follows its modem as it is
// pulled and put back, every page read under the rules of Prometheus' text
// format; what is not a scrape refused; a port that is taken tried again;
// and a desk without the setting that opens no port at all.

#include "store/DeskOptions.h"
#include "store/ModemTable.h"
#include "support/HttpServer.h"
#include "support/ProgramFolderFixture.h"
#include "support/RunUntil.h"
#include "support/ScriptedMessageBoxes.h"
#include "support/SimulatedModem.h"
#include "support/TestRelay.h"

#include <QDir>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <cmath>

namespace {

using Labels = QList<std::pair<QString, QString>>;

// One answer of the server, as a client sees it.
struct Exchange {
    int status = 0;
    QByteArray head;
    QByteArray body;
    bool closed = false; // the server closed the connection
};

Exchange exchange(quint16 port, const QByteArray &request)
{
    QTcpSocket socket;
    QByteArray received;
    QObject::connect(&socket, &QTcpSocket::readyRead, &socket, [&] { received += socket.readAll(); });
    QObject::connect(&socket, &QTcpSocket::connected, &socket, [&] { socket.write(request); });
    socket.connectToHost(QHostAddress::LocalHost, port);
    Exchange answer;
    answer.closed = runUntil([&] { return socket.state() == QAbstractSocket::UnconnectedState; }, 5000);
    received += socket.readAll();
    const qsizetype end = received.indexOf("\r\n\r\n");
    answer.head = received.left(end);
    answer.body = end < 0 ? QByteArray() : received.mid(end + 4);
    const QList<QByteArray> words = answer.head.split(' ');
    answer.status = words.size() > 1 && words[0] == "HTTP/1.1" ? words[1].toInt() : 0;
    return answer;
}

// The series of a page by name and labels, the labels in name order.
QString seriesKey(const QString &name, Labels labels)
{
    std::sort(labels.begin(), labels.end());
    QStringList parts;
    for (const auto &[label, value] : labels)
        parts << label + QLatin1Char('=') + value;
    return name + QLatin1Char('{') + parts.join(QChar(0x1f)) + QLatin1Char('}');
}

// A page read under the rules of the text format, version 0.0.4.
class Page
{
public:
    explicit Page(const QByteArray &text) { m_problem = read(text); }

    // Empty where the page keeps every rule.
    QString problem() const { return m_problem; }
    bool has(const QString &name, const Labels &labels = {}) const
    {
        return m_values.contains(seriesKey(name, labels));
    }
    // NaN for a series the page does not hold.
    double value(const QString &name, const Labels &labels = {}) const
    {
        return m_values.value(seriesKey(name, labels), std::nan(""));
    }
    // The sum over every series of a name.
    double sum(const QString &name) const
    {
        double total = 0;
        for (auto it = m_values.cbegin(); it != m_values.cend(); ++it) {
            if (it.key().startsWith(name + QLatin1Char('{')))
                total += it.value();
        }
        return total;
    }
    QStringList families() const { return m_types.keys(); }
    QString type(const QString &family) const { return m_types.value(family); }

private:
    QString read(const QByteArray &bytes)
    {
        static const QRegularExpression MetricName(QStringLiteral("^[a-zA-Z_:][a-zA-Z0-9_:]*$"));
        static const QRegularExpression LabelName(QStringLiteral("^[a-zA-Z_][a-zA-Z0-9_]*$"));
        const QString text = QString::fromUtf8(bytes);
        if (!text.endsWith(QLatin1Char('\n')))
            return QStringLiteral("the page does not end with a line end");
        QSet<QString> helped;
        QSet<QString> done; // families whose samples have ended
        QString current;
        QHash<QString, QHash<QString, QList<std::pair<double, double>>>> buckets; // histogram -> labels -> (le, n)
        const QStringList lines = text.chopped(1).split(QLatin1Char('\n'));
        for (const QString &line : lines) {
            const QString where = QStringLiteral(" in \"%1\"").arg(line);
            if (line.startsWith(QLatin1String("# HELP ")) || line.startsWith(QLatin1String("# TYPE "))) {
                const QStringList words = line.split(QLatin1Char(' '));
                if (words.size() < 4 || !MetricName.match(words[2]).hasMatch())
                    return QStringLiteral("a HELP or TYPE line without a name and its text") + where;
                const QString &family = words[2];
                if (done.contains(family) || family == current)
                    return QStringLiteral("HELP or TYPE after the family's samples") + where;
                if (words[1] == QLatin1String("HELP")) {
                    if (helped.contains(family))
                        return QStringLiteral("HELP twice") + where;
                    helped.insert(family);
                    continue;
                }
                static const QStringList Types = {"counter", "gauge", "histogram", "summary", "untyped"};
                if (m_types.contains(family) || words.size() != 4 || !Types.contains(words[3]))
                    return QStringLiteral("TYPE twice or unknown") + where;
                m_types.insert(family, words[3]);
                continue;
            }
            if (line.startsWith(QLatin1Char('#')))
                continue;
            if (line.isEmpty())
                return QStringLiteral("an empty line");

            // name{label="value",...} value
            qsizetype i = 0;
            while (i < line.size() && line[i] != QLatin1Char('{') && line[i] != QLatin1Char(' '))
                ++i;
            const QString name = line.left(i);
            if (!MetricName.match(name).hasMatch())
                return QStringLiteral("a sample without a metric name") + where;
            Labels labels;
            if (i < line.size() && line[i] == QLatin1Char('{')) {
                ++i;
                while (i < line.size() && line[i] != QLatin1Char('}')) {
                    const qsizetype equals = line.indexOf(QLatin1Char('='), i);
                    if (equals < 0 || equals + 1 >= line.size() || line[equals + 1] != QLatin1Char('"'))
                        return QStringLiteral("a label without =\"") + where;
                    const QString label = line.mid(i, equals - i);
                    if (!LabelName.match(label).hasMatch())
                        return QStringLiteral("a bad label name") + where;
                    QString value;
                    i = equals + 2;
                    for (; i < line.size() && line[i] != QLatin1Char('"'); ++i) {
                        if (line[i] != QLatin1Char('\\')) {
                            value += line[i];
                            continue;
                        }
                        ++i;
                        if (i >= line.size())
                            return QStringLiteral("a label value cut after its backslash") + where;
                        if (line[i] == QLatin1Char('n'))
                            value += QLatin1Char('\n');
                        else if (line[i] == QLatin1Char('\\') || line[i] == QLatin1Char('"'))
                            value += line[i];
                        else
                            return QStringLiteral("an escape the format does not know") + where;
                    }
                    if (i >= line.size())
                        return QStringLiteral("a label value without its closing quote") + where;
                    ++i;
                    if (std::any_of(labels.cbegin(), labels.cend(), [&](const auto &l) { return l.first == label; }))
                        return QStringLiteral("a label twice") + where;
                    labels.append({label, value});
                    if (i < line.size() && line[i] == QLatin1Char(','))
                        ++i;
                }
                if (i >= line.size())
                    return QStringLiteral("labels without their closing brace") + where;
                ++i;
            }
            if (i >= line.size() || line[i] != QLatin1Char(' '))
                return QStringLiteral("no blank before the value") + where;
            const QStringList rest = line.mid(i + 1).split(QLatin1Char(' '));
            bool number = false;
            double value = rest[0].toDouble(&number);
            if (rest[0] == QLatin1String("+Inf") || rest[0] == QLatin1String("-Inf")) {
                value = rest[0][0] == QLatin1Char('+') ? INFINITY : -INFINITY;
                number = true;
            } else if (rest[0] == QLatin1String("NaN")) {
                value = std::nan("");
                number = true;
            }
            if (!number || rest.size() > 2)
                return QStringLiteral("a value that is no number") + where;

            // Which family: a histogram's samples carry suffixes.
            QString family = name;
            for (const QString &suffix :
                 {QStringLiteral("_bucket"), QStringLiteral("_sum"), QStringLiteral("_count")}) {
                if (name.endsWith(suffix) && m_types.value(name.chopped(suffix.size())) == QLatin1String("histogram"))
                    family = name.chopped(suffix.size());
            }
            if (!m_types.contains(family) || !helped.contains(family))
                return QStringLiteral("a sample before its family's HELP and TYPE") + where;
            if (family != current) {
                if (done.contains(family))
                    return QStringLiteral("a family's samples not together") + where;
                if (!current.isEmpty())
                    done.insert(current);
                current = family;
            }
            const QString type = m_types.value(family);
            if (type == QLatin1String("counter") && (!name.endsWith(QLatin1String("_total")) || value < 0))
                return QStringLiteral("a counter without _total, or below zero") + where;
            const QString key = seriesKey(name, labels);
            if (m_values.contains(key))
                return QStringLiteral("a series twice") + where;
            m_values.insert(key, value);
            if (type == QLatin1String("histogram") && name == family + QLatin1String("_bucket")) {
                const auto le = std::find_if(labels.cbegin(), labels.cend(),
                                             [](const auto &l) { return l.first == QLatin1String("le"); });
                if (le == labels.cend())
                    return QStringLiteral("a bucket without le") + where;
                Labels others = labels;
                others.removeIf([](const auto &l) { return l.first == QLatin1String("le"); });
                const double bound = le->second == QLatin1String("+Inf") ? INFINITY : le->second.toDouble(&number);
                if (!number && le->second != QLatin1String("+Inf"))
                    return QStringLiteral("a bucket whose le is no number") + where;
                buckets[family][seriesKey(QString(), others)].append({bound, value});
            }
        }
        // Each histogram's buckets rise with their bounds up to +Inf, which
        // is its _count; its _sum is there.
        for (auto family = buckets.cbegin(); family != buckets.cend(); ++family) {
            for (auto series = family->cbegin(); series != family->cend(); ++series) {
                QList<std::pair<double, double>> rising = series.value();
                std::sort(rising.begin(), rising.end());
                for (qsizetype i = 1; i < rising.size(); ++i) {
                    if (rising[i].second < rising[i - 1].second)
                        return QStringLiteral("the buckets of %1 are not cumulative").arg(family.key());
                }
                const QString &labels = series.key();
                const QString count = family.key() + QStringLiteral("_count") + labels;
                const QString sum = family.key() + QStringLiteral("_sum") + labels;
                if (rising.isEmpty() || !std::isinf(rising.last().first) || !m_values.contains(count)
                    || !m_values.contains(sum) || m_values.value(count) != rising.last().second)
                    return QStringLiteral("%1 lacks +Inf, _sum or _count, or +Inf is not _count").arg(family.key());
            }
        }
        return {};
    }

    QString m_problem;
    QHash<QString, QString> m_types;
    QHash<QString, double> m_values;
};

// Scrapes the page as Prometheus does, and reads it under the format's rules.
Page scrape(quint16 port)
{
    const Exchange answer = exchange(port, "GET /metrics HTTP/1.1\r\nHost: 127.0.0.1\r\nAccept: text/plain\r\n"
                                           "User-Agent: Prometheus/2.42.0\r\n\r\n");
    Page page(answer.body);
    if (answer.status != 200 || !answer.head.contains("Content-Type: text/plain; version=0.0.4; charset=utf-8"))
        qWarning("scrape answered %s", answer.head.constData());
    else if (!page.problem().isEmpty())
        qWarning("%s\n%s", qPrintable(page.problem()), answer.body.constData());
    return answer.status == 200 && page.problem().isEmpty() ? page : Page("broken");
}

// The TCP ports this process listens on, from the kernel's tables.
QList<quint16> listeningPorts()
{
    QSet<QString> sockets;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QFileInfo &fd : fds.entryInfoList(QDir::System | QDir::NoDotAndDotDot)) {
        const QString target = fd.symLinkTarget().isEmpty() ? QFile::symLinkTarget(fd.filePath()) : fd.symLinkTarget();
        static const QRegularExpression Socket(QStringLiteral("socket:\\[(\\d+)\\]"));
        const QRegularExpressionMatch match = Socket.match(target);
        if (match.hasMatch())
            sockets.insert(match.captured(1));
    }
    QList<quint16> ports;
    for (const QString &table : {QStringLiteral("/proc/self/net/tcp"), QStringLiteral("/proc/self/net/tcp6")}) {
        QFile file(table);
        if (!file.open(QIODevice::ReadOnly))
            continue;
        file.readLine();
        while (!file.atEnd()) {
            // sl local_address rem_address st tx:rx tr:tm retrnsmt uid timeout inode
            const QStringList fields = QString::fromLatin1(file.readLine()).simplified().split(QLatin1Char(' '));
            if (fields.size() > 9 && fields[3] == QLatin1String("0A") && sockets.contains(fields[9]))
                ports << quint16(fields[1].section(QLatin1Char(':'), -1).toUInt(nullptr, 16));
        }
    }
    std::sort(ports.begin(), ports.end());
    return ports;
}

QString metricsOn(quint16 port)
{
    return QStringLiteral("127.0.0.1:%1").arg(port);
}

} // namespace

class tst_metrics : public QObject
{
    Q_OBJECT

private slots:
    void countsAndStatesAsTheRelayGoes();
    void onlyAScrapeIsAnswered();
    void aTakenPortIsTriedAgain();
    void offUnlessSet();
};

void tst_metrics::countsAndStatesAsTheRelayGoes()
{
    ProgramFolderFixture folder;
    ScriptedMessageBoxes boxes;
    // Ann's phone has her SMS, Bob's network cannot deliver his, Cy's
    // number is refused by both modems until her SMS are given up.
    folder.addUser("Ann", "+111", true);
    folder.addUser("Bob", "+222", true);
    folder.addUser("Cy", "+333", true);
    // A folder whose name the page must escape.
    const QString mt4 = folder.addWatchedFolder("desk \"a\\b\"");
    const QString quiet = folder.addWatchedFolder("quiet");
    ModemTable::add(2, "9600");
    DeskOptions::setValue(DeskOptions::DeliveryReports, "on");
    const quint16 port = freePort();
    DeskOptions::setValue(DeskOptions::Metrics, metricsOn(port));
    // Refused as an unknown subscriber, which blames no modem.
    const QStringList options = {"--report-fail", "+222:65", "--reject", "+333", "--cms-code", "30"};
    SimulatedModem a(options, folder.path(), 1);
    SimulatedModem b(options, folder.path(), 2);
    QVERIFY(a.isReady() && b.isReady());
    const qint64 startedBefore = QDateTime::currentSecsSinceEpoch();
    TestRelay relay(300);
    relay.setHealthRoundMs(150);
    relay.setRetryDelays({50, 50, 50, 50});
    relay.setFailoverWaitMs(500);
    relay.reports().setLookMs(50);
    QVERIFY(relay.metrics().serving());
    QCOMPARE(relay.metrics().port(), port);

    // Before anything happened: every series there, at zero; the modems up
    // with the signal their first health round measured.
    QTRY_VERIFY(scrape(port).has("vantrel_route_signal_dbm", {{"route", "COM2"}}));
    Page page = scrape(port);
    QVERIFY(page.has("vantrel_route_signal_dbm", {{"route", "COM1"}}));
    QCOMPARE(page.value("vantrel_route_signal_dbm", {{"route", "COM1"}}), -73.0);
    QVERIFY(std::abs(page.value("vantrel_start_time_seconds") - double(startedBefore)) < 5);
    QCOMPARE(page.value("vantrel_alerts_taken_total", {{"folder", mt4}}), 0.0);
    QCOMPARE(page.value("vantrel_alerts_taken_total", {{"folder", quiet}}), 0.0);
    for (const QString route : {"COM1", "COM2"}) {
        for (const QString name : {"vantrel_sms_sent_total", "vantrel_sms_failed_total", "vantrel_sms_delivered_total",
                                   "vantrel_sms_not_delivered_total"})
            QCOMPARE(page.value(name, {{"route", route}}), 0.0);
        QCOMPARE(page.value("vantrel_route_up", {{"route", route}}), 1.0);
        QCOMPARE(page.value("vantrel_route_state", {{"route", route}, {"state", "up"}}), 1.0);
        for (const QString state : {"down", "set aside", "out of service"})
            QCOMPARE(page.value("vantrel_route_state", {{"route", route}, {"state", state}}), 0.0);
    }
    QCOMPARE(page.value("vantrel_sms_given_up_total"), 0.0);
    QCOMPARE(page.value("vantrel_alert_to_accept_seconds_count"), 0.0);
    QCOMPARE(page.value("vantrel_sms_waiting"), 0.0);
    QCOMPARE(page.value("vantrel_sms_retrying"), 0.0);
    QCOMPARE(page.type("vantrel_alert_to_accept_seconds"), QString("histogram"));
    QCOMPARE(page.type("vantrel_sms_sent_total"), QString("counter"));
    QCOMPARE(page.type("vantrel_route_up"), QString("gauge"));

    // Two alerts: Ann's and Bob's SMS go, and their reports come; Cy's fail
    // on both modems each try, and are given up.
    writeAlerts(mt4, 1, 2);
    QVERIFY(relay.waitUntilIdle());
    QTRY_COMPARE(scrape(port).sum("vantrel_sms_delivered_total") + scrape(port).sum("vantrel_sms_not_delivered_total"),
                 4.0);
    QTRY_COMPARE(double(a.log().count("refused a message to") + b.log().count("refused a message to")),
                 scrape(port).sum("vantrel_sms_failed_total"));
    page = scrape(port);
    QCOMPARE(page.value("vantrel_alerts_taken_total", {{"folder", mt4}}), 2.0);
    QCOMPARE(page.value("vantrel_alerts_taken_total", {{"folder", quiet}}), 0.0);
    QCOMPARE(page.value("vantrel_sms_sent_total", {{"route", "COM1"}}), double(a.messages().size()));
    QCOMPARE(page.value("vantrel_sms_sent_total", {{"route", "COM2"}}), double(b.messages().size()));
    QCOMPARE(page.sum("vantrel_sms_sent_total"), 4.0);
    QCOMPARE(page.sum("vantrel_sms_delivered_total"), 2.0);
    QCOMPARE(page.sum("vantrel_sms_not_delivered_total"), 2.0);
    for (const QString route : {"COM1", "COM2"}) {
        QCOMPARE(page.value("vantrel_sms_delivered_total", {{"route", route}})
                     + page.value("vantrel_sms_not_delivered_total", {{"route", route}}),
                 page.value("vantrel_sms_sent_total", {{"route", route}}));
        QCOMPARE(page.value("vantrel_sms_failed_total", {{"route", route}}),
                 double((route == "COM1" ? a : b).log().count("refused a message to")));
    }
    // Five tries each, over one modem or both.
    QVERIFY(page.sum("vantrel_sms_failed_total") >= 10);
    QCOMPARE(page.value("vantrel_sms_given_up_total"), 2.0);
    // Every SMS of an alert that went, timed from its file.
    QCOMPARE(page.value("vantrel_alert_to_accept_seconds_count"), 4.0);
    QVERIFY(page.value("vantrel_alert_to_accept_seconds_sum") > 0);
    QVERIFY(page.value("vantrel_alert_to_accept_seconds_sum") < 4 * 60);
    QCOMPARE(page.value("vantrel_alert_to_accept_seconds_bucket", {{"le", "+Inf"}}), 4.0);
    QCOMPARE(page.value("vantrel_sms_waiting"), 0.0);
    QCOMPARE(page.value("vantrel_sms_retrying"), 0.0);
    QCOMPARE(page.value("vantrel_sms_unconfirmed"), 0.0);

    // The first modem pulled: down at once, the other carries on and takes
    // the alarm to the traders, a notice that is sent but was no alert.
    const double sentByB = page.value("vantrel_sms_sent_total", {{"route", "COM2"}});
    QVERIFY(a.control("unplug"));
    QTRY_COMPARE(scrape(port).value("vantrel_route_up", {{"route", "COM1"}}), 0.0);
    page = scrape(port);
    QCOMPARE(page.value("vantrel_route_state", {{"route", "COM1"}, {"state", "down"}}), 1.0);
    QCOMPARE(page.value("vantrel_route_state", {{"route", "COM1"}, {"state", "up"}}), 0.0);
    QCOMPARE(page.value("vantrel_route_up", {{"route", "COM2"}}), 1.0);
    QTRY_COMPARE(scrape(port).value("vantrel_sms_sent_total", {{"route", "COM2"}}), sentByB + 2);
    QCOMPARE(double(b.messages().size()), sentByB + 2);
    QCOMPARE(scrape(port).value("vantrel_alert_to_accept_seconds_count"), 4.0);

    // Put back: up again.
    QVERIFY(a.control("plug") && a.waitForReady());
    QTRY_COMPARE(scrape(port).value("vantrel_route_up", {{"route", "COM1"}}), 1.0);
    QCOMPARE(scrape(port).value("vantrel_route_state", {{"route", "COM1"}, {"state", "down"}}), 0.0);
}

void tst_metrics::onlyAScrapeIsAnswered()
{
    ProgramFolderFixture folder;
    ScriptedMessageBoxes boxes;
    const quint16 port = freePort();
    DeskOptions::setValue(DeskOptions::Metrics, metricsOn(port));
    SimulatedModem modem({"--quiet"}, folder.path(), 1);
    TestRelay relay(300);
    QVERIFY(relay.metrics().serving());

    // Prometheus' own way: GET, the format's content type.
    QNetworkAccessManager network;
    QNetworkRequest request(QUrl(QStringLiteral("http://127.0.0.1:%1/metrics").arg(port)));
    QNetworkReply *reply = network.get(request);
    QVERIFY(runUntil([&] { return reply->isFinished(); }, 5000));
    QCOMPARE(reply->error(), QNetworkReply::NoError);
    QCOMPARE(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 200);
    QCOMPARE(reply->rawHeader("Content-Type"), QByteArray("text/plain; version=0.0.4; charset=utf-8"));
    const QByteArray body = reply->readAll();
    QVERIFY2(Page(body).problem().isEmpty(), qPrintable(Page(body).problem()));
    QVERIFY(body.contains("# TYPE vantrel_sms_sent_total counter\n"));
    reply->deleteLater();
    // An HTTP/1.0 client, a query Prometheus may add.
    QCOMPARE(exchange(port, "GET /metrics HTTP/1.0\r\n\r\n").status, 200);
    QCOMPARE(exchange(port, "GET /metrics?name[]=up HTTP/1.1\r\n\r\n").status, 200);

    // Anything else is refused, answered and closed, and says nothing of the desk.
    struct Case {
        QByteArray request;
        int status;
    };
    const QList<Case> cases = {
        {"POST /metrics HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 3\r\n\r\nabc", 405},
        {"HEAD /metrics HTTP/1.1\r\n\r\n", 405},
        {"DELETE /metrics HTTP/1.1\r\n\r\n", 405},
        {"GET / HTTP/1.1\r\n\r\n", 404},
        {"GET /metrics/ HTTP/1.1\r\n\r\n", 404},
        {"GET /dlr?token=x&type=1 HTTP/1.1\r\n\r\n", 404},
        {"GET /status.json HTTP/1.1\r\n\r\n", 404},
        {"hello\r\n\r\n", 400},
        {"GET /metrics?" + QByteArray(10000, 'a') + " HTTP/1.1\r\n\r\n", 414},
        {"GET /metrics HTTP/1.1\r\nX-Padding: " + QByteArray(10000, 'a') + "\r\n\r\n", 431},
    };
    for (const Case &c : cases) {
        const Exchange answer = exchange(port, c.request);
        QVERIFY2(answer.closed, c.request.left(40).constData());
        QVERIFY2(answer.status == c.status, answer.head.constData());
        QVERIFY(!answer.body.contains("vantrel_"));
        if (c.status == 405)
            QVERIFY(answer.head.contains("\r\nAllow: GET"));
    }
    // Still serving.
    QVERIFY(scrape(port).has("vantrel_route_up", {{"route", "COM1"}}));
}

void tst_metrics::aTakenPortIsTriedAgain()
{
    ProgramFolderFixture folder;
    ScriptedMessageBoxes boxes;
    QTcpServer other;
    QVERIFY(other.listen(QHostAddress::LocalHost));
    const quint16 port = other.serverPort();
    DeskOptions::setValue(DeskOptions::Metrics, QString::number(port));
    SimulatedModem modem({"--quiet"}, folder.path(), 1);
    TestRelay relay(300, 60, false);
    relay.metrics().setRetryMs(200);
    relay.start();

    // Said once, however long the port stays taken; the relay goes on.
    const QString said = QStringLiteral("The metrics page cannot be served on 127.0.0.1:%1: ").arg(port);
    QVERIFY(relay.pageLog().text().contains(said));
    QVERIFY(!relay.metrics().serving());
    runUntil([] { return false; }, 700);
    QCOMPARE(relay.pageLog().text().count(said), 1);

    // Freed: taken at the next try.
    other.close();
    QTRY_VERIFY_WITH_TIMEOUT(relay.metrics().serving(), 3000);
    QCOMPARE(relay.metrics().port(), port);
    QVERIFY(scrape(port).has("vantrel_start_time_seconds"));
    QCOMPARE(relay.pageLog().text().count(said), 1);
}

void tst_metrics::offUnlessSet()
{
    ProgramFolderFixture folder;
    ScriptedMessageBoxes boxes;
    const QString mt4 = folder.addWatchedFolder("mt4");
    folder.addUser("Ann", "+111", true);
    SimulatedModem modem({"--quiet"}, folder.path(), 1);
    const QList<quint16> before = listeningPorts();
    const auto setup = [&](const QStringList &arguments) {
        QProcess tool;
        tool.start(QCoreApplication::applicationDirPath() + "/vantrel-setup", QStringList{folder.path()} + arguments);
        return tool.waitForFinished(10000) && tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : -1;
    };
    const auto stored = [] { return DeskOptions::value(DeskOptions::Metrics); };

    // A Config.mdb without the setting: the relay sends as always, and no
    // port is opened.
    QCOMPARE(DeskOptions::value(DeskOptions::Metrics, "(none)"), QString("(none)"));
    {
        TestRelay relay(300);
        writeAlerts(mt4, 1, 1);
        QVERIFY(relay.waitUntilIdle());
        QCOMPARE(modem.messages().size(), 1);
        QVERIFY(!relay.metrics().serving());
        QCOMPARE(listeningPorts(), before);
    }

    // vantrel-setup stores the address, on loopback unless a host is named,
    // and takes it away again.
    QCOMPARE(setup({"--metrics", "9747"}), 0);
    QCOMPARE(stored(), QString("127.0.0.1:9747"));
    QCOMPARE(setup({"--metrics", "0.0.0.0:9748"}), 0);
    QCOMPARE(stored(), QString("0.0.0.0:9748"));
    QCOMPARE(setup({"--metrics", "somewhere"}), 1);
    QCOMPARE(setup({"--metrics", "127.0.0.1:70000"}), 1);
    QCOMPARE(stored(), QString("0.0.0.0:9748"));
    QCOMPARE(setup({"--metrics", "off"}), 0);
    QCOMPARE(stored(), QString());
    QCOMPARE(setup({"--metrics", "1.2.3.4:5"}), 0);
    QCOMPARE(setup({"--metrics", ""}), 0);
    QCOMPARE(stored(), QString());
    {
        TestRelay relay(300);
        QVERIFY(!relay.metrics().serving());
        QCOMPARE(listeningPorts(), before);
    }

    // On: this port and no other; a stored address that does not read is said.
    const quint16 port = freePort();
    QCOMPARE(setup({"--metrics", QString::number(port)}), 0);
    {
        TestRelay relay(300);
        QVERIFY(relay.metrics().serving());
        QCOMPARE(listeningPorts(), before + QList<quint16>{port});
    }
    DeskOptions::setValue(DeskOptions::Metrics, "not an address");
    TestRelay relay(300);
    QVERIFY(relay.pageLog().text().contains("The metrics address \"not an address\" does not read as [HOST:]PORT"));
    QCOMPARE(listeningPorts(), before);
}

QTEST_GUILESS_MAIN(tst_metrics)
#include "tst_metrics.moc"
