// The gateway route and the delivery report listener against a real Kannel
// on loopback: what reaches the phones, the reports that come back, the SMS
// phones send back, and the gateway, its SMSC and the network failing under
// them.

#include "route/GatewayIncoming.h"
#include "route/GatewayRoute.h"
#include "route/ReportListener.h"
#include "support/HttpServer.h"
#include "support/KannelGateway.h"
#include "support/RunUntil.h"

#include <QElapsedTimer>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QSet>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrlQuery>
#include <QtTest>

#include <algorithm>
#include <memory>
#include <optional>

namespace {

// With what Kannel would take for its escapes, and what a URL must encode.
const QString IncomingSecret = QStringLiteral("t%p & =7+");

struct Report {
    QString token;
    int type = 0;
    QString answer;
};

// What became of one send, as its callback told.
struct Tried {
    std::optional<SendOutcome> outcome;
    int calls = 0;
    bool sending = true; // send() had not returned yet
    bool early = false;  // the callback came while it had not
};

SmsRequest request(const QString &number, const QString &text, const QString &token = {})
{
    SmsRequest sms;
    sms.text = text;
    sms.number = number;
    sms.token = token;
    return sms;
}

std::shared_ptr<Tried> send(GatewayRoute &route, const SmsRequest &sms)
{
    auto tried = std::make_shared<Tried>();
    route.send(sms, [tried](const SendOutcome &outcome) {
        tried->outcome = outcome;
        ++tried->calls;
        tried->early = tried->sending;
    });
    tried->sending = false;
    return tried;
}

bool ended(const std::shared_ptr<Tried> &tried, int ms = 10000)
{
    return runUntil([&] { return tried->outcome.has_value(); }, ms);
}

} // namespace

class tst_gateway : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void addresses();
    void textsReachThePhones();
    void reportsOnlyFromKannel();
    void smsFromPhones();
    void smscAway();
    void gatewayDown();
    void refusals();
    void requestsInFlight();
    void strangeGateways();
    void cleanupTestCase();

private:
    QList<int> types(const QString &token) const;
    QString answer(const QString &token, int type) const;
    // The messages fakesmsc got after the first `before`, once there are `count`.
    QList<KannelGateway::Sms> arrived(qsizetype before, qsizetype count);
    // A GET to the listener with a plain client: the status, 0 for none.
    int get(const QByteArray &target);

    KannelGateway m_gateway;
    QString m_noKannel; // why the tests that need Kannel are skipped
    ReportListener m_listener;
    GatewayIncoming m_incoming;
    QList<int> m_incomingAnswers; // the status of each request for an incoming SMS
    QSet<QString> m_tokens;
    QList<Report> m_reports;
    QNetworkAccessManager m_network;
};

#define NEEDS_KANNEL()                                                                                                 \
    do {                                                                                                               \
        if (!m_noKannel.isEmpty())                                                                                     \
            QSKIP(qPrintable(m_noKannel));                                                                             \
    } while (false)

QList<int> tst_gateway::types(const QString &token) const
{
    QList<int> found;
    for (const Report &report : m_reports) {
        if (report.token == token)
            found << report.type;
    }
    std::sort(found.begin(), found.end());
    return found;
}

QString tst_gateway::answer(const QString &token, int type) const
{
    for (const Report &report : m_reports) {
        if (report.token == token && report.type == type)
            return report.answer;
    }
    return {};
}

QList<KannelGateway::Sms> tst_gateway::arrived(qsizetype before, qsizetype count)
{
    runUntil([&] { return m_gateway.messages().size() >= before + count; }, 10000);
    return m_gateway.messages().mid(before);
}

int tst_gateway::get(const QByteArray &target)
{
    QUrl url = m_listener.reportUrl();
    url = QUrl::fromEncoded(url.toEncoded(QUrl::RemovePath) + target);
    QNetworkReply *reply = m_network.get(QNetworkRequest(url));
    if (!runUntil([reply] { return reply->isFinished(); }, 5000))
        reply->abort();
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    reply->deleteLater();
    return status;
}

void tst_gateway::initTestCase()
{
    m_network.setProxy(QNetworkProxy::NoProxy);
    QVERIFY2(m_listener.listen(), qPrintable(m_listener.errorString()));
    m_listener.setTokenCheck([this](const QString &token) { return m_tokens.contains(token); });
    connect(&m_listener, &ReportListener::reported, this, [this](const QString &token, int type, const QString &said) {
        m_reports << Report{token, type, said};
    });

    m_incoming.setSecret(IncomingSecret);
    m_listener.serve(GatewayIncoming::Path, [this](const QByteArray &query) {
        const HttpListener::Answer answer = m_incoming.answer(query);
        m_incomingAnswers << answer.status;
        return answer;
    });

    m_noKannel = KannelGateway::unavailableReason();
    if (m_noKannel.isEmpty()) {
        m_gateway.setIncomingUrl(GatewayIncoming::queryTemplate(m_listener.reportUrl(), IncomingSecret));
        QVERIFY2(m_gateway.start(), qPrintable(m_gateway.errorString()));
    }
}

void tst_gateway::addresses()
{
    QVERIFY(
        GatewayRoute::urlProblem(QUrl(QStringLiteral("http://10.0.0.5:13013/cgi-bin/sendsms?username=u&password=p")))
            .isEmpty());
    QVERIFY(
        GatewayRoute::urlProblem(QUrl(QStringLiteral("https://sms.example/cgi-bin/sendsms?user=u&pass=p"))).isEmpty());
    for (const QString &wrong :
         {QString(), QStringLiteral("ftp://10.0.0.5/cgi-bin/sendsms?username=u&password=p"),
          QStringLiteral("10.0.0.5:13013/cgi-bin/sendsms?username=u&password=p"), QStringLiteral("http:///sendsms"),
          QStringLiteral("http://10.0.0.5:13013/cgi-bin/sendsms"),
          QStringLiteral("http://10.0.0.5:13013/cgi-bin/sendsms?username=u")}) {
        QVERIFY2(!GatewayRoute::urlProblem(QUrl(wrong)).isEmpty(), qPrintable(wrong));
    }

    // Such a route takes every SMS, and fails each with why, afterwards.
    const QUrl ftp(QStringLiteral("ftp://10.0.0.5/cgi-bin/sendsms?username=u&password=p"));
    GatewayRoute unusable(ftp);
    std::shared_ptr<Tried> tried = send(unusable, request(QStringLiteral("79161234567"), QStringLiteral("x")));
    QVERIFY(ended(tried));
    QVERIFY(!tried->early);
    QVERIFY(!tried->outcome->sent);
    QCOMPARE(tried->outcome->failure, SendOutcome::Failure::Port);
    QCOMPARE(tried->outcome->reason, GatewayRoute::urlProblem(ftp));

    // A number that is none never leaves.
    GatewayRoute route(QUrl(QStringLiteral("http://127.0.0.1:9/cgi-bin/sendsms?username=u&password=p&from=Desk")));
    QCOMPARE(route.routeName(), QStringLiteral("gateway"));
    SmsRequest notANumber = request(QStringLiteral("+7 916 \"123\""), QStringLiteral("x"));
    notANumber.partsSent = 3;
    tried = send(route, notANumber);
    QCOMPARE(route.inFlight(), 0);
    QVERIFY(route.requestUrl(notANumber).isEmpty());
    QVERIFY(ended(tried));
    QVERIFY(!tried->early);
    QCOMPARE(tried->outcome->failure, SendOutcome::Failure::Destination);
    QCOMPARE(tried->outcome->reason, QStringLiteral("not a phone number"));
    QCOMPARE(tried->outcome->route, QStringLiteral("gateway"));
    QCOMPARE(tried->outcome->partsSent, 3u);

    // On the wire: the administrator's user kept, the route's own sender,
    // and the report URL one value with Kannel's escapes in it.
    route.setReportUrl(QUrl(QStringLiteral("http://127.0.0.1:5000/dlr")));
    const auto query = [&route](const SmsRequest &sms) { return QUrlQuery(route.requestUrl(sms)); };
    QUrlQuery items =
        query(request(QStringLiteral("+7 916 123-45-67"), QStringLiteral("A+B & 5%"), QStringLiteral("t1")));
    QCOMPARE(items.queryItemValue(QStringLiteral("username")), QStringLiteral("u"));
    QCOMPARE(items.queryItemValue(QStringLiteral("password")), QStringLiteral("p"));
    QCOMPARE(items.allQueryItemValues(QStringLiteral("from")), QStringList{QStringLiteral("Vantrel")});
    QCOMPARE(items.queryItemValue(QStringLiteral("to"), QUrl::FullyDecoded), QStringLiteral("+79161234567"));
    QCOMPARE(items.queryItemValue(QStringLiteral("text"), QUrl::FullyDecoded), QStringLiteral("A+B & 5%"));
    QCOMPARE(items.queryItemValue(QStringLiteral("charset")), QStringLiteral("UTF-8"));
    QVERIFY(!items.hasQueryItem(QStringLiteral("coding")));
    QCOMPARE(items.queryItemValue(QStringLiteral("dlr-mask")), QStringLiteral("31"));
    QCOMPARE(items.queryItemValue(QStringLiteral("dlr-url"), QUrl::FullyDecoded),
             QStringLiteral("http://127.0.0.1:5000/dlr?token=t1&type=%d&answer=%A"));
    items = query(request(QStringLiteral("79161234567"), QStringLiteral("Цена"), QStringLiteral("a b&c%")));
    QCOMPARE(items.queryItemValue(QStringLiteral("coding")), QStringLiteral("2"));
    QCOMPARE(items.queryItemValue(QStringLiteral("dlr-url"), QUrl::FullyDecoded),
             QStringLiteral("http://127.0.0.1:5000/dlr?token=a%%20b%%26c%%25&type=%d&answer=%A"));
    // No token, no report.
    items = query(request(QStringLiteral("79161234567"), QStringLiteral("x")));
    QVERIFY(!items.hasQueryItem(QStringLiteral("dlr-mask")));
    QVERIFY(!items.hasQueryItem(QStringLiteral("dlr-url")));
}

void tst_gateway::textsReachThePhones()
{
    NEEDS_KANNEL();
    GatewayRoute route(m_gateway.sendSmsUrl());
    route.setReportUrl(m_listener.reportUrl());

    QString latin;
    for (int i = 0; latin.size() < 400; ++i)
        latin += QStringLiteral("Alert %1: XAUUSD crossed 2350.00; ").arg(i);
    latin.truncate(400);
    struct Case {
        QString number;
        QString text;
        QString token;
        QString receiver;
        int coding;
        int parts;
    };
    // The last token has what Kannel would take for its escapes.
    const QList<Case> cases{
        {QStringLiteral("+79161234567"), QStringLiteral("EURUSD buy 1.0850 SL 1.0800 TP +50 pips & 2% risk"),
         QStringLiteral("ascii-1"), QStringLiteral("+79161234567"), 0, 1},
        {QStringLiteral("79031112233"), QStringLiteral("Сработал сигнал: EURUSD выше 1.0850"),
         QStringLiteral("cyrillic-2"), QStringLiteral("79031112233"), 2, 1},
        // Kannel keeps to the GSM alphabet without coding=2, and this fits it.
        {QStringLiteral("5550001"), QStringLiteral("Prix é€Ω£ ΔΦ [x] ~ ^"), QStringLiteral("gsm-3"),
         QStringLiteral("5550001"), 0, 1},
        {QStringLiteral("+44 (20) 7946-0958"), latin, QStringLiteral("long #4 & 50% %A+é"),
         QStringLiteral("+442079460958"), 0, 3},
    };
    const qsizetype before = m_gateway.messages().size();
    QList<std::shared_ptr<Tried>> tries;
    for (const Case &each : cases) {
        m_tokens.insert(each.token);
        tries << send(route, request(each.number, each.text, each.token));
    }
    QCOMPARE(route.inFlight(), cases.size());
    QVERIFY(runUntil(
        [&] { return std::all_of(tries.begin(), tries.end(), [](const auto &t) { return t->outcome.has_value(); }); },
        10000));
    for (const std::shared_ptr<Tried> &tried : tries) {
        QVERIFY(!tried->early);
        QCOMPARE(tried->calls, 1);
        QVERIFY2(tried->outcome->sent, qPrintable(tried->outcome->reason));
        QCOMPARE(tried->outcome->failure, SendOutcome::Failure::None);
        QCOMPARE(tried->outcome->route, QStringLiteral("gateway"));
    }
    QCOMPARE(route.inFlight(), 0);

    const QList<KannelGateway::Sms> got = arrived(before, cases.size());
    QCOMPARE(got.size(), cases.size());
    for (const Case &each : cases) {
        const auto sms = std::find_if(got.begin(), got.end(),
                                      [&](const KannelGateway::Sms &s) { return s.receiver == each.receiver; });
        QVERIFY2(sms != got.end(), qPrintable(each.receiver + QLatin1Char('\n') + m_gateway.logs()));
        QCOMPARE(sms->sender, QStringLiteral("Vantrel"));
        QCOMPARE(sms->text, each.text);
        QCOMPARE(sms->coding, each.coding);
        QCOMPARE(sms->parts, each.parts);
    }

    // The fake SMSC's ack (8) and the delivery (1), one of each an SMS.
    QVERIFY2(runUntil(
                 [&] {
                     return std::all_of(cases.begin(), cases.end(),
                                        [&](const Case &each) { return types(each.token).size() >= 2; });
                 },
                 10000),
             qPrintable(m_gateway.logs()));
    for (const Case &each : cases) {
        QCOMPARE(types(each.token), (QList<int>{1, 8}));
        QCOMPARE(answer(each.token, 8), QStringLiteral("ACK/"));
    }
}

void tst_gateway::reportsOnlyFromKannel()
{
    QSignalSpy reported(&m_listener, &ReportListener::reported);
    m_tokens.insert(QStringLiteral("known"));
    QCOMPARE(m_listener.reportUrl(), QUrl(QStringLiteral("http://127.0.0.1:%1/dlr").arg(m_listener.port())));

    // Nobody can mark an SMS delivered with a token of his own making, nor
    // with none; nor reach anything else.
    QCOMPARE(get("/dlr?token=forged&type=1&answer=DELIVRD"), 403);
    QCOMPARE(get("/dlr?type=1&answer=DELIVRD"), 403);
    QCOMPARE(get("/dlr?token=&type=1"), 403);
    QCOMPARE(get("/dlr"), 403);
    QCOMPARE(get("/status?token=known&type=1"), 404);
    QCOMPARE(get("/dlr?token=known&type=delivered"), 400);
    QCOMPARE(reported.count(), 0);

    // A known token, its request in pieces.
    QTcpSocket client;
    QByteArray response;
    connect(&client, &QTcpSocket::readyRead, this, [&] { response += client.readAll(); });
    client.connectToHost(QHostAddress::LocalHost, m_listener.port());
    QVERIFY(runUntil([&] { return client.state() == QAbstractSocket::ConnectedState; }, 5000));
    for (const QByteArray &piece : {QByteArray("GET /dlr?tok"), QByteArray("en=known&type=1&answer=DELIVRD+ok%2F"),
                                    QByteArray("1 HTTP/1.1\r\nHost: 127.0.0.1\r"), QByteArray("\n\r\n")}) {
        client.write(piece);
        runUntil([&] { return client.bytesToWrite() == 0; }, 1000);
        runUntil([] { return false; }, 20);
        if (piece.endsWith("\n\r\n"))
            break;
        QCOMPARE(reported.count(), 0);
    }
    QVERIFY(runUntil([&] { return client.state() == QAbstractSocket::UnconnectedState; }, 5000));
    QVERIFY2(response.startsWith("HTTP/1.1 200 "), response.constData());
    QCOMPARE(reported.count(), 1);
    QCOMPARE(reported[0][0].toString(), QStringLiteral("known"));
    QCOMPARE(reported[0][1].toInt(), 1);
    QCOMPARE(reported[0][2].toString(), QStringLiteral("DELIVRD ok/1"));

    // A request line that will not end is cut off at its size.
    QTcpSocket flood;
    response.clear();
    connect(&flood, &QTcpSocket::readyRead, this, [&] { response += flood.readAll(); });
    flood.connectToHost(QHostAddress::LocalHost, m_listener.port());
    flood.write("GET /dlr?token=known&type=1&answer=" + QByteArray(ReportListener::LongestRequest + 100, 'a'));
    QVERIFY(runUntil([&] { return flood.state() == QAbstractSocket::UnconnectedState; }, 5000));
    QVERIFY2(response.startsWith("HTTP/1.1 414 "), response.constData());
    QCOMPARE(reported.count(), 1);
    m_tokens.remove(QStringLiteral("known"));
}

void tst_gateway::smsFromPhones()
{
    NEEDS_KANNEL();
    GatewayRoute route(m_gateway.sendSmsUrl());
    struct Kept {
        QString route;
        IncomingSms sms;
    };
    QList<Kept> kept;
    int notCommitted = 0; // how many of the next SMS the keeper fails
    SmsRoute::Incoming incoming;
    incoming.keep = [&](const QString &name, const IncomingSms &sms) {
        kept << Kept{name, sms};
        if (notCommitted == 0)
            return true;
        --notCommitted;
        return false;
    };
    route.listenToPhones(incoming);
    m_incoming.setKeeper([&route](const IncomingSms &sms) { return route.keep(sms); });
    m_incomingAnswers.clear();
    const QDateTime start = QDateTime::currentDateTimeUtc().addSecs(-1);

    // 7-bit text, and UCS-2 in a script the GSM alphabet lacks.
    const QList<std::pair<QString, QString>> sent{
        {QStringLiteral("+15550100"), QStringLiteral("ok 12 & 50% +1")},
        {QStringLiteral("79031112233"), QStringLiteral("Принято, OK #7 — спасибо")},
    };
    for (const auto &[number, text] : sent) {
        const qsizetype before = kept.size();
        QVERIFY2(m_gateway.sendFromPhone(number, text), qPrintable(m_gateway.errorString()));
        QVERIFY2(runUntil([&] { return kept.size() > before; }, 10000), qPrintable(m_gateway.logs()));
        QCOMPARE(kept.last().route, QStringLiteral("gateway"));
        QCOMPARE(kept.last().sms.number, number);
        QCOMPARE(kept.last().sms.text, text);
        QVERIFY2(kept.last().sms.sentAt >= start && kept.last().sms.sentAt <= QDateTime::currentDateTimeUtc(),
                 qPrintable(kept.last().sms.sentAt.toString(Qt::ISODate)));
    }
    QCOMPARE(m_incomingAnswers, (QList<int>{200, 200}));
    // Nothing was sent back to the phones.
    const qsizetype toPhones = m_gateway.messages().size();

    // Not committed: 503, and smsbox asks again until it is.
    notCommitted = 1;
    QVERIFY2(m_gateway.sendFromPhone(QStringLiteral("+15550102"), QStringLiteral("OFF")),
             qPrintable(m_gateway.errorString()));
    QVERIFY2(runUntil([&] { return kept.size() == 4; }, 10000), qPrintable(m_gateway.logs()));
    QCOMPARE(m_incomingAnswers.mid(2), (QList<int>{503, 200}));
    QCOMPARE(kept[2].sms.text, QStringLiteral("OFF"));
    QCOMPARE(kept[3].sms.text, QStringLiteral("OFF"));
    QCOMPARE(kept[3].sms.number, QStringLiteral("+15550102"));

    // The desk's secret is another than the gateway's: refused every time
    // smsbox asks, said once, and nothing reaches the keeper.
    QSignalSpy refused(&m_incoming, &GatewayIncoming::refused);
    m_incoming.setSecret(QStringLiteral("another secret"));
    QVERIFY2(m_gateway.sendFromPhone(QStringLiteral("+15550103"), QStringLiteral("STATUS")),
             qPrintable(m_gateway.errorString()));
    QVERIFY2(runUntil([&] { return m_incomingAnswers.count(403) == 4; }, 10000), qPrintable(m_gateway.logs()));
    QCOMPARE(kept.size(), 4);
    QCOMPARE(refused.count(), 1);
    QCOMPARE(m_gateway.messages().size(), toPhones);

    m_incoming.setSecret(IncomingSecret);
    m_incoming.setKeeper({});
}

void tst_gateway::smscAway()
{
    NEEDS_KANNEL();
    GatewayRoute route(m_gateway.sendSmsUrl());
    route.setReportUrl(m_listener.reportUrl());
    m_tokens.insert(QStringLiteral("held"));
    QVERIFY2(m_gateway.stopSmsc(), qPrintable(m_gateway.errorString()));
    const qsizetype before = m_gateway.messages().size();

    // "3: Queued for later delivery": the gateway has it, and that is enough.
    std::shared_ptr<Tried> tried =
        send(route, request(QStringLiteral("79161234567"), QStringLiteral("held"), QStringLiteral("held")));
    QVERIFY(ended(tried));
    QVERIFY2(tried->outcome->sent, qPrintable(tried->outcome->reason));
    runUntil([] { return false; }, 300);
    QVERIFY(types(QStringLiteral("held")).isEmpty());
    QCOMPARE(m_gateway.messages().size(), before);

    QVERIFY2(m_gateway.startSmsc(), qPrintable(m_gateway.errorString()));
    const QList<KannelGateway::Sms> got = arrived(before, 1);
    QCOMPARE(got.size(), 1);
    QCOMPARE(got[0].text, QStringLiteral("held"));
    QVERIFY(runUntil([&] { return types(QStringLiteral("held")).size() >= 2; }, 10000));
    QCOMPARE(types(QStringLiteral("held")), (QList<int>{1, 8}));
}

void tst_gateway::gatewayDown()
{
    NEEDS_KANNEL();
    GatewayRoute route(m_gateway.sendSmsUrl());
    // One first, so that a connection is kept open into the stop.
    std::shared_ptr<Tried> tried = send(route, request(QStringLiteral("79161234567"), QStringLiteral("before")));
    QVERIFY(ended(tried));
    QVERIFY2(tried->outcome->sent, qPrintable(tried->outcome->reason));

    m_gateway.stop();
    QElapsedTimer clock;
    clock.start();
    tried = send(route, request(QStringLiteral("79161234567"), QStringLiteral("while down")));
    QVERIFY(ended(tried, 5000));
    QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(!tried->early);
    QVERIFY(!tried->outcome->sent);
    QCOMPARE(tried->outcome->failure, SendOutcome::Failure::Port);
    QCOMPARE(tried->outcome->reason,
             QStringLiteral("the gateway refused the connection (127.0.0.1:%1)").arg(m_gateway.sendSmsPort()));
    QVERIFY(route.free());

    QVERIFY2(m_gateway.start(), qPrintable(m_gateway.errorString()));
    const qsizetype before = m_gateway.messages().size();
    tried = send(route, request(QStringLiteral("79161234567"), QStringLiteral("after the start")));
    QVERIFY(ended(tried));
    QVERIFY2(tried->outcome->sent, qPrintable(tried->outcome->reason));
    const QList<KannelGateway::Sms> got = arrived(before, 1);
    QCOMPARE(got.size(), 1);
    QCOMPARE(got[0].text, QStringLiteral("after the start"));
}

void tst_gateway::refusals()
{
    NEEDS_KANNEL();
    const qsizetype before = m_gateway.messages().size();
    QUrl wrong = m_gateway.sendSmsUrl();
    QUrlQuery credentials(wrong);
    credentials.removeQueryItem(QStringLiteral("password"));
    credentials.addQueryItem(QStringLiteral("password"), QStringLiteral("wrong"));
    wrong.setQuery(credentials);
    GatewayRoute stranger(wrong);
    std::shared_ptr<Tried> tried = send(stranger, request(QStringLiteral("79161234567"), QStringLiteral("refused")));
    QVERIFY(ended(tried));
    QVERIFY(!tried->outcome->sent);
    QCOMPARE(tried->outcome->failure, SendOutcome::Failure::Refused);
    QCOMPARE(tried->outcome->reason, QStringLiteral("HTTP 403: Authorization failed for sendsms"));

    // A number no SMSC of the gateway takes: another route may.
    GatewayRoute route(m_gateway.sendSmsUrl());
    tried =
        send(route, request(KannelGateway::rejectedPrefix() + QStringLiteral("1234567"), QStringLiteral("nowhere")));
    QVERIFY(ended(tried));
    QVERIFY(!tried->outcome->sent);
    QCOMPARE(tried->outcome->failure, SendOutcome::Failure::Destination);
    QCOMPARE(tried->outcome->reason, QStringLiteral("HTTP 403: Not routable. Do not try again."));

    runUntil([] { return false; }, 200);
    QCOMPARE(m_gateway.messages().size(), before);
}

void tst_gateway::requestsInFlight()
{
    NEEDS_KANNEL();
    GatewayRoute route(m_gateway.sendSmsUrl());
    QCOMPARE(route.maxInFlight(), 4);
    const qsizetype before = m_gateway.messages().size();
    QList<std::shared_ptr<Tried>> tries;
    // Whether the route was free as each callback came, and how many were left.
    QList<std::pair<bool, int>> seen;
    for (int i = 0; i < 5; ++i) {
        QVERIFY(route.free() == (i < 4));
        auto tried = std::make_shared<Tried>();
        route.send(request(QStringLiteral("7916000000%1").arg(i), QStringLiteral("burst %1").arg(i)),
                   [&route, &seen, tried](const SendOutcome &outcome) {
                       tried->outcome = outcome;
                       seen.append({route.free(), route.inFlight()});
                   });
        tries << tried;
    }
    QCOMPARE(route.inFlight(), 5);
    QVERIFY(!route.free());
    QVERIFY(runUntil([&] { return seen.size() == 5; }, 10000));
    for (const auto &[wasFree, left] : seen)
        QCOMPARE(wasFree, left < 4);
    for (const std::shared_ptr<Tried> &tried : tries)
        QVERIFY2(tried->outcome->sent, qPrintable(tried->outcome->reason));
    QCOMPARE(arrived(before, 5).size(), 5);

    route.setMaxInFlight(1);
    tries = {send(route, request(QStringLiteral("79161234567"), QStringLiteral("one at a time")))};
    QVERIFY(!route.free());
    QVERIFY(ended(tries[0]));
    QVERIFY(route.free());
}

void tst_gateway::strangeGateways()
{
    HttpServer silent;
    GatewayRoute route(silent.url());
    route.setTimeoutMs(300);
    QElapsedTimer clock;
    clock.start();
    std::shared_ptr<Tried> tried = send(route, request(QStringLiteral("79161234567"), QStringLiteral("anyone?")));
    QVERIFY(ended(tried, 5000));
    QVERIFY2(clock.elapsed() >= 300 && clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(silent.connections(), 1);
    QCOMPARE(tried->calls, 1);
    QVERIFY(!tried->outcome->sent);
    QCOMPARE(tried->outcome->failure, SendOutcome::Failure::Port);
    QCOMPARE(tried->outcome->reason, QStringLiteral("the gateway did not answer within 0.3 s"));
    QVERIFY(runUntil([&] { return silent.allClosed(); }, 5000));
    // The default, as the page log words it.
    QCOMPARE(GatewayRoute(silent.url()).timeoutMs(), 30000);

    // A route that goes with requests under way takes them along, untold.
    auto going = std::make_unique<GatewayRoute>(silent.url());
    QList<std::shared_ptr<Tried>> tries;
    for (int i = 0; i < 3; ++i)
        tries << send(*going, request(QStringLiteral("79161234567"), QStringLiteral("lost %1").arg(i)));
    QVERIFY(runUntil([&] { return silent.connections() == 4; }, 5000));
    going.reset();
    QVERIFY(runUntil([&] { return silent.allClosed(); }, 5000));
    runUntil([] { return false; }, 50);
    for (const std::shared_ptr<Tried> &lost : tries)
        QCOMPARE(lost->calls, 0);

    // Nobody at the port at all.
    quint16 closedPort = 0;
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        closedPort = probe.serverPort();
    }
    GatewayRoute nobody(
        QUrl(QStringLiteral("http://127.0.0.1:%1/cgi-bin/sendsms?username=u&password=p").arg(closedPort)));
    tried = send(nobody, request(QStringLiteral("79161234567"), QStringLiteral("hello?")));
    QVERIFY(ended(tried, 5000));
    QCOMPARE(tried->outcome->failure, SendOutcome::Failure::Port);
    QCOMPARE(tried->outcome->reason,
             QStringLiteral("the gateway refused the connection (127.0.0.1:%1)").arg(closedPort));

    // No such host; where the name service is slow to say so, the time-out
    // ends the wait.
    GatewayRoute nowhere(QUrl(QStringLiteral("http://gateway.invalid:13013/cgi-bin/sendsms?username=u&password=p")));
    nowhere.setTimeoutMs(3000);
    tried = send(nowhere, request(QStringLiteral("79161234567"), QStringLiteral("hello?")));
    QVERIFY(ended(tried, 5000));
    QCOMPARE(tried->outcome->failure, SendOutcome::Failure::Port);
    QVERIFY2(tried->outcome->reason == QStringLiteral("the gateway's host gateway.invalid was not found")
                 || tried->outcome->reason == QStringLiteral("the gateway did not answer within 3 s"),
             qPrintable(tried->outcome->reason));

    // A web server where the gateway should be: its page is no answer of
    // Kannel's, and a long one is cut off.
    const QByteArray html = "<html><p>It works!</p></html>";
    HttpServer web("HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(html.size()) + "\r\n\r\n" + html);
    GatewayRoute page(web.url());
    tried = send(page, request(QStringLiteral("79161234567"), QStringLiteral("hello?")));
    QVERIFY(ended(tried));
    QCOMPARE(tried->outcome->failure, SendOutcome::Failure::Refused);
    QCOMPARE(tried->outcome->reason, QStringLiteral("HTTP 200: <html><p>It works!</p></html>"));
    const QByteArray big(100000, 'x');
    HttpServer flood("HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(big.size()) + "\r\n\r\n" + big);
    GatewayRoute flooded(flood.url());
    tried = send(flooded, request(QStringLiteral("79161234567"), QStringLiteral("hello?")));
    QVERIFY(ended(tried));
    QCOMPARE(tried->calls, 1);
    QCOMPARE(tried->outcome->failure, SendOutcome::Failure::Port);
    QVERIFY2(tried->outcome->reason.startsWith(QStringLiteral("the gateway's answer is longer than 4096 bytes")),
             qPrintable(tried->outcome->reason));
}

void tst_gateway::cleanupTestCase()
{
    m_gateway.stop();
}

QTEST_GUILESS_MAIN(tst_gateway)
#include "tst_gateway.moc"
