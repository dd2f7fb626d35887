// A real Kannel on loopback, driven the way the program will drive it: plain
// sendsms requests, delivery reports fetched back over HTTP, and the gateway
// and its SMSC going away and coming back under it.

#include "support/KannelGateway.h"

#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrlQuery>
#include <QtTest>

#include <algorithm>

namespace {

using Items = QList<std::pair<QByteArray, QByteArray>>;

struct Answer {
    int status = 0; // 0: no HTTP answer at all
    QByteArray body;
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
};

// Takes the delivery reports smsbox fetches, one GET each, and answers 200.
class ReportReceiver : public QObject
{
public:
    ReportReceiver()
    {
        m_server.listen(QHostAddress::LocalHost);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { read(socket); });
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }

    // With %d for the type and %A for the SMSC's answer.
    QByteArray url(const QString &id) const
    {
        return "http://127.0.0.1:" + QByteArray::number(m_server.serverPort()) + "/report?id=" + id.toUtf8()
               + "&type=%d&answer=%A";
    }

    QList<int> types(const QString &id) const
    {
        QList<int> found;
        for (const QUrlQuery &report : m_reports) {
            if (report.queryItemValue(QStringLiteral("id")) == id)
                found << report.queryItemValue(QStringLiteral("type")).toInt();
        }
        std::sort(found.begin(), found.end());
        return found;
    }

    QString answer(const QString &id, int type) const
    {
        for (const QUrlQuery &report : m_reports) {
            if (report.queryItemValue(QStringLiteral("id")) == id
                && report.queryItemValue(QStringLiteral("type")).toInt() == type) {
                // smsbox encodes a space as '+', as in a form.
                QByteArray answer = report.queryItemValue(QStringLiteral("answer"), QUrl::FullyEncoded).toLatin1();
                return QString::fromUtf8(QByteArray::fromPercentEncoding(answer.replace('+', ' ')));
            }
        }
        return {};
    }

    qsizetype count() const { return m_reports.size(); }

private:
    void read(QTcpSocket *socket)
    {
        // The request so far rides on the socket, which may go at any time.
        const QByteArray request = socket->property("request").toByteArray() + socket->readAll();
        socket->setProperty("request", request);
        if (!request.contains("\r\n\r\n"))
            return;
        // "GET /report?... HTTP/1.1"
        const QList<QByteArray> words = request.left(request.indexOf("\r\n")).split(' ');
        if (words.size() >= 2)
            m_reports << QUrlQuery(QUrl::fromEncoded(words[1]));
        socket->write("HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
        socket->disconnectFromHost();
    }

    QTcpServer m_server;
    QList<QUrlQuery> m_reports;
};

const QByteArray Accepted = "0: Accepted for delivery";
const QByteArray Queued = "3: Queued for later delivery";

} // namespace

class tst_kannel : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void asciiText();
    void cyrillicText();
    void longTexts();
    void deliveryReports();
    void reportsWaitForTheSmsc();
    void refusals();
    void stopAndStartInTheMiddle();
    void cleanupTestCase();

private:
    // A sendsms request to the fixture's URL, or to `base` with its credentials.
    Answer send(const Items &items, const QUrl &base = {});
    Answer sendText(const QString &to, const QString &text, const Items &more = {});
    // The message after the first `before`, or an empty one after ten seconds.
    KannelGateway::Sms next(qsizetype before);

    KannelGateway m_gateway;
    QNetworkAccessManager m_network;
};

Answer tst_kannel::send(const Items &items, const QUrl &base)
{
    QUrl url = base.isEmpty() ? m_gateway.sendSmsUrl() : base;
    // Every value fully percent-encoded: to sendsms '+' is a space.
    QByteArray query = url.query(QUrl::FullyEncoded).toLatin1();
    for (const auto &[key, value] : items)
        query += '&' + key + '=' + QUrl::toPercentEncoding(value);
    url.setQuery(QString::fromLatin1(query), QUrl::StrictMode);
    QNetworkReply *reply = m_network.get(QNetworkRequest(url));
    Answer answer;
    if (!QTest::qWaitFor([reply] { return reply->isFinished(); }, 10000))
        reply->abort();
    answer.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    answer.body = reply->readAll();
    answer.error = reply->error();
    reply->deleteLater();
    return answer;
}

Answer tst_kannel::sendText(const QString &to, const QString &text, const Items &more)
{
    return send(Items{{"from", "Vantrel"}, {"to", to.toUtf8()}, {"text", text.toUtf8()}} + more);
}

KannelGateway::Sms tst_kannel::next(qsizetype before)
{
    if (!m_gateway.waitForMessages(before + 1))
        return {};
    return m_gateway.messages().value(before);
}

void tst_kannel::initTestCase()
{
    const QString unavailable = KannelGateway::unavailableReason();
    if (!unavailable.isEmpty())
        QSKIP(qPrintable(unavailable));
    m_network.setProxy(QNetworkProxy::NoProxy);
    QVERIFY2(m_gateway.start(), qPrintable(m_gateway.errorString()));
    QVERIFY(m_gateway.isSmscOnline());
}

void tst_kannel::asciiText()
{
    qsizetype before = m_gateway.messages().size();
    // '+', '&' and '%' are where a badly encoded request shows.
    const QString alert = QStringLiteral("EURUSD buy 1.0850 SL 1.0800 TP +50 pips & 2% risk");
    Answer answer = sendText(QStringLiteral("+79161234567"), alert);
    QCOMPARE(answer.status, 202);
    QCOMPARE(answer.body, Accepted);
    KannelGateway::Sms sms = next(before);
    QCOMPARE(sms.sender, QStringLiteral("Vantrel"));
    QCOMPARE(sms.receiver, QStringLiteral("+79161234567"));
    QCOMPARE(sms.text, alert);
    QCOMPARE(sms.coding, 0);
    QCOMPARE(sms.parts, 1);

    // The fake SMSC's line ends at a line break; the fixture joins it again.
    before = m_gateway.messages().size();
    const QString twoLines = QStringLiteral("Order #1 filled\nProfit 12.50 USD");
    answer = sendText(QStringLiteral("79031112233"), twoLines);
    QCOMPARE(answer.body, Accepted);
    sms = next(before);
    QCOMPARE(sms.receiver, QStringLiteral("79031112233"));
    QCOMPARE(sms.text, twoLines);
}

void tst_kannel::cyrillicText()
{
    const QString alert = QStringLiteral("Сработал сигнал: EURUSD выше 1.0850");
    qsizetype before = m_gateway.messages().size();
    Answer answer = sendText(QStringLiteral("+79161234567"), alert, {{"charset", "UTF-8"}, {"coding", "2"}});
    QCOMPARE(answer.status, 202);
    QCOMPARE(answer.body, Accepted);
    KannelGateway::Sms sms = next(before);
    QCOMPARE(sms.receiver, QStringLiteral("+79161234567"));
    QCOMPARE(sms.text, alert);
    QCOMPARE(sms.coding, 2);
    QCOMPARE(sms.parts, 1);

    // UCS-2 as it is, named as such.
    before = m_gateway.messages().size();
    const QByteArray ucs2 = QByteArray::fromHex("041f04400438043204350442"); // Привет
    answer = send(
        Items{{"from", "Vantrel"}, {"to", "79161234567"}, {"text", ucs2}, {"coding", "2"}, {"charset", "UTF-16BE"}});
    QCOMPARE(answer.body, Accepted);
    sms = next(before);
    QCOMPARE(sms.text, QStringLiteral("Привет"));
    QCOMPARE(sms.data, ucs2);

    // Without coding=2 Kannel keeps to 7-bit text, and Cyrillic does not fit.
    before = m_gateway.messages().size();
    answer = sendText(QStringLiteral("79161234567"), alert, {{"charset", "UTF-8"}});
    QCOMPARE(answer.body, Accepted);
    sms = next(before);
    QString lost = alert;
    for (QChar &c : lost) {
        if (c.unicode() > 0x7f)
            c = QLatin1Char('?');
    }
    QCOMPARE(sms.text, lost);
    QCOMPARE(sms.coding, 0);
}

void tst_kannel::longTexts()
{
    QString latin;
    for (int i = 0; latin.size() < 400; ++i)
        latin += QStringLiteral("Alert %1: XAUUSD crossed 2350.00; ").arg(i);
    latin.truncate(400);
    qsizetype before = m_gateway.messages().size();
    QCOMPARE(sendText(QStringLiteral("79161234567"), latin).body, Accepted);
    KannelGateway::Sms sms = next(before);
    QCOMPARE(sms.text, latin);
    QCOMPARE(sms.parts, 3); // 153 characters a part
    QCOMPARE(sms.coding, 0);

    QString cyrillic;
    while (cyrillic.size() < 150)
        cyrillic += QStringLiteral("Цена пробила уровень. ");
    cyrillic.truncate(150);
    before = m_gateway.messages().size();
    QCOMPARE(sendText(QStringLiteral("79161234567"), cyrillic, {{"charset", "UTF-8"}, {"coding", "2"}}).body, Accepted);
    sms = next(before);
    QCOMPARE(sms.text, cyrillic);
    QCOMPARE(sms.parts, 3); // 67 characters a part
    QCOMPARE(sms.coding, 2);
}

void tst_kannel::deliveryReports()
{
    ReportReceiver reports;
    const Items wanted{{"dlr-mask", "31"}};

    QCOMPARE(
        sendText(QStringLiteral("79161234567"), QStringLiteral("one"), wanted + Items{{"dlr-url", reports.url("one")}})
            .body,
        Accepted);
    QVERIFY(QTest::qWaitFor([&] { return reports.types("one").size() >= 2; }, 10000));
    // The fake SMSC's own: 8, its ack, and 1, delivered.
    QCOMPARE(reports.types("one"), (QList<int>{1, 8}));
    QCOMPARE(reports.answer("one", 8), QStringLiteral("ACK/"));

    // One of each for a text in parts too.
    QCOMPARE(sendText(QStringLiteral("79161234567"), QString(400, QLatin1Char('x')),
                      wanted + Items{{"dlr-url", reports.url("parts")}})
                 .body,
             Accepted);
    QVERIFY(QTest::qWaitFor([&] { return reports.types("parts").size() >= 2; }, 10000));

    // Only what the mask asks for.
    QCOMPARE(sendText(QStringLiteral("79161234567"), QStringLiteral("delivered only"),
                      Items{{"dlr-mask", "1"}, {"dlr-url", reports.url("delivered")}})
                 .body,
             Accepted);
    QVERIFY(QTest::qWaitFor([&] { return !reports.types("delivered").isEmpty(); }, 10000));

    // A receiver no SMSC takes: refused at once, and 16, the SMSC's reject.
    const QString nowhere = KannelGateway::rejectedPrefix() + QStringLiteral("1234567");
    const Answer refused =
        sendText(nowhere, QStringLiteral("nowhere"), wanted + Items{{"dlr-url", reports.url("nowhere")}});
    QCOMPARE(refused.status, 403);
    QCOMPARE(refused.body, QByteArray("Not routable. Do not try again."));
    QVERIFY(QTest::qWaitFor([&] { return !reports.types("nowhere").isEmpty(); }, 10000));
    QCOMPARE(reports.types("nowhere"), QList<int>{16});
    QCOMPARE(reports.answer("nowhere", 16), QStringLiteral("NACK/no SMSC"));
    QCOMPARE(sendText(QLatin1Char('+') + nowhere, QStringLiteral("nowhere either")).body, refused.body);

    // Nothing more comes: no 2, no 4, no second 1.
    QTest::qWait(300);
    QCOMPARE(reports.types("one"), (QList<int>{1, 8}));
    QCOMPARE(reports.types("parts"), (QList<int>{1, 8}));
    QCOMPARE(reports.types("delivered"), QList<int>{1});
    QCOMPARE(reports.count(), 6);
}

void tst_kannel::reportsWaitForTheSmsc()
{
    ReportReceiver reports;
    QVERIFY2(m_gateway.stopSmsc(), qPrintable(m_gateway.errorString()));
    const qsizetype before = m_gateway.messages().size();
    const Answer answer = sendText(QStringLiteral("79161234567"), QStringLiteral("held"),
                                   Items{{"dlr-mask", "31"}, {"dlr-url", reports.url("held")}});
    QCOMPARE(answer.status, 202);
    QCOMPARE(answer.body, Queued);
    QTest::qWait(500);
    QCOMPARE(reports.count(), 0);
    QCOMPARE(m_gateway.messages().size(), before);

    QVERIFY2(m_gateway.startSmsc(), qPrintable(m_gateway.errorString()));
    QCOMPARE(next(before).text, QStringLiteral("held"));
    QVERIFY(QTest::qWaitFor([&] { return reports.types("held").size() >= 2; }, 10000));
    QCOMPARE(reports.types("held"), (QList<int>{1, 8}));
}

void tst_kannel::refusals()
{
    const qsizetype before = m_gateway.messages().size();
    const Items message{{"from", "Vantrel"}, {"to", "79161234567"}, {"text", "refused"}};
    // The fixture's own user with the wrong password, then a user it has not.
    const QString base = QStringLiteral("http://127.0.0.1:%1/cgi-bin/sendsms?").arg(m_gateway.sendSmsPort());
    for (const QString &credentials : {QStringLiteral("username=%1&password=wrong").arg(m_gateway.username()),
                                       QStringLiteral("username=nobody&password=%1").arg(m_gateway.password())}) {
        const Answer refused = send(message, QUrl(base + credentials));
        QCOMPARE(refused.status, 403);
        QCOMPARE(refused.body, QByteArray("Authorization failed for sendsms"));
    }

    Answer answer = send(Items{{"from", "Vantrel"}, {"text", "no receiver"}});
    QCOMPARE(answer.status, 400);
    QCOMPARE(answer.body, QByteArray("Missing receiver number, rejected"));
    answer = send(Items{{"to", "79161234567"}, {"text", "no sender"}});
    QCOMPARE(answer.status, 400);
    QCOMPARE(answer.body, QByteArray("Sender missing and no global set, rejected"));

    QTest::qWait(300);
    QCOMPARE(m_gateway.messages().size(), before);
}

void tst_kannel::stopAndStartInTheMiddle()
{
    const QUrl url = m_gateway.sendSmsUrl();
    // Queued while the SMSC is away, then kept by bearerbox over its restart.
    QVERIFY2(m_gateway.stopSmsc(), qPrintable(m_gateway.errorString()));
    const qsizetype before = m_gateway.messages().size();
    QCOMPARE(sendText(QStringLiteral("79161234567"), QStringLiteral("kept over a restart")).body, Queued);

    m_gateway.stop();
    QVERIFY(!m_gateway.isRunning());
    const Answer down = sendText(QStringLiteral("79161234567"), QStringLiteral("while down"));
    QCOMPARE(down.status, 0);
    QCOMPARE(down.error, QNetworkReply::ConnectionRefusedError);

    QVERIFY2(m_gateway.start(), qPrintable(m_gateway.errorString()));
    QCOMPARE(m_gateway.sendSmsUrl(), url);
    QCOMPARE(next(before).text, QStringLiteral("kept over a restart"));
    // Nothing left over from the old gateway's connection.
    m_network.clearConnectionCache();
    QCOMPARE(sendText(QStringLiteral("79161234567"), QStringLiteral("after the restart")).body, Accepted);
    QCOMPARE(next(before + 1).text, QStringLiteral("after the restart"));
    QCOMPARE(m_gateway.messages().size(), before + 2);
}

void tst_kannel::cleanupTestCase()
{
    m_gateway.stop();
}

QTEST_GUILESS_MAIN(tst_kannel)
#include "tst_kannel.moc"
