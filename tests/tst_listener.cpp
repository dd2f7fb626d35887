// The delivery-report listener against real clients on loopback: it keeps
// trying for a port another program holds, and clients that connect and say
// nothing can neither hold a connection nor keep a report out. The gateway's
// incoming SMS on the same address, as the desk's routes serve them.

#include "modem/PageLog.h"
#include "modem/TraceList.h"
#include "route/ReportListener.h"
#include "route/RouteSet.h"
#include "store/DeskOptions.h"
#include "support/ProgramFolderFixture.h"
#include "support/RunUntil.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <memory>
#include <vector>

namespace {

const QByteArray KnownReport = "GET /dlr?token=known&type=1&answer=DELIVRD HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";

// A client that writes `request` and reads until the listener closes.
class Client : public QObject
{
public:
    explicit Client(quint16 port, const QByteArray &request = {})
    {
        connect(&m_socket, &QTcpSocket::connected, this, [this, request] {
            m_connected = true;
            if (!request.isEmpty())
                m_socket.write(request);
        });
        connect(&m_socket, &QTcpSocket::readyRead, this, [this] { m_answer += m_socket.readAll(); });
        // A reset may end it without a disconnected().
        connect(&m_socket, &QTcpSocket::stateChanged, this, [this](QAbstractSocket::SocketState state) {
            if (state == QAbstractSocket::UnconnectedState && m_connected)
                m_closed = true;
        });
        m_socket.connectToHost(QHostAddress::LocalHost, port);
    }

    bool connected() const { return m_connected; }
    // Closed by the listener.
    bool closed() const { return m_closed; }
    QByteArray answer() const { return m_answer; }

private:
    QTcpSocket m_socket;
    bool m_connected = false;
    bool m_closed = false;
    QByteArray m_answer;
};

// The status the listener answered `request` with, 0 for none; `body` gets
// what followed the head.
int ask(quint16 port, const QByteArray &request, QByteArray *body = nullptr)
{
    Client client(port, request);
    if (!runUntil([&] { return client.closed(); }, 5000))
        return 0;
    const QByteArray answer = client.answer();
    if (body)
        *body = answer.mid(answer.indexOf("\r\n\r\n") + 4);
    const QList<QByteArray> words = answer.split(' ');
    return words.size() > 1 && words[0] == "HTTP/1.1" ? words[1].toInt() : 0;
}

QByteArray getRequest(const QByteArray &target)
{
    return "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
}

quint16 freePort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost) ? probe.serverPort() : 0;
}

} // namespace

class tst_listener : public QObject
{
    Q_OBJECT

private slots:
    void portTakenUntilFreed();
    void silentClientsCannotShutReportsOut();
    void idleConnectionsClosed();
    void incomingSmsOnlyWithTheSecret();
};

void tst_listener::portTakenUntilFreed()
{
    QTcpServer other;
    QVERIFY(other.listen(QHostAddress::LocalHost));
    const quint16 port = other.serverPort();

    ReportListener listener;
    listener.setTokenCheck([](const QString &token) { return token == QLatin1String("known"); });
    listener.setRetryMs(200);
    QSignalSpy cannot(&listener, &ReportListener::cannotListen);
    QSignalSpy listening(&listener, &ReportListener::listening);
    QSignalSpy reported(&listener, &ReportListener::reported);

    // Said once, however long the port stays taken and however often asked.
    listener.keepListening(QHostAddress::LocalHost, port);
    QCOMPARE(cannot.count(), 1);
    QVERIFY(!cannot[0][0].toString().isEmpty());
    QVERIFY(!listener.isListening());
    runUntil([] { return false; }, 700);
    listener.keepListening(QHostAddress::LocalHost, port);
    QCOMPARE(cannot.count(), 1);
    QCOMPARE(listening.count(), 0);

    // Freed: taken within the retry time, and reports come in on it.
    other.close();
    QElapsedTimer freed;
    freed.start();
    QVERIFY(runUntil([&] { return listening.count() == 1; }, 5000));
    QVERIFY2(freed.elapsed() < 1000, qPrintable(QString::number(freed.elapsed())));
    QVERIFY(listener.isListening());
    QCOMPARE(listener.port(), port);
    QCOMPARE(ask(port, KnownReport), 200);
    QCOMPARE(reported.count(), 1);
    runUntil([] { return false; }, 500);
    QCOMPARE(listening.count(), 1);
    QCOMPARE(cannot.count(), 1);

    // close() ends the trying too.
    listener.close();
    QVERIFY(other.listen(QHostAddress::LocalHost, port));
    listener.keepListening(QHostAddress::LocalHost, port);
    QCOMPARE(cannot.count(), 2);
    listener.close();
    other.close();
    runUntil([] { return false; }, 600);
    QVERIFY(!listener.isListening());
    QCOMPARE(listening.count(), 1);

    // A free port is bound at once.
    ReportListener second;
    QSignalSpy secondListening(&second, &ReportListener::listening);
    QSignalSpy secondCannot(&second, &ReportListener::cannotListen);
    second.keepListening(QHostAddress::LocalHost, port);
    QVERIFY(second.isListening());
    QCOMPARE(secondListening.count(), 1);
    QCOMPARE(secondCannot.count(), 0);
}

void tst_listener::silentClientsCannotShutReportsOut()
{
    ReportListener listener;
    listener.setTokenCheck([](const QString &token) { return token == QLatin1String("known"); });
    QSignalSpy reported(&listener, &ReportListener::reported);
    QVERIFY(listener.listen());

    // A hundred clients, one after the other, that say nothing or only the
    // start of a request and then wait.
    constexpr int Silent = 100;
    std::vector<std::unique_ptr<Client>> silent;
    for (int i = 0; i < Silent; ++i) {
        silent.push_back(std::make_unique<Client>(listener.port(), i % 2 ? QByteArray("GET /dlr?tok") : QByteArray()));
        QVERIFY(runUntil([&] { return silent.back()->connected(); }, 5000));
    }
    const auto closedCount = [&] {
        return std::count_if(silent.cbegin(), silent.cend(), [](const auto &client) { return client->closed(); });
    };
    // The oldest made room for the newest; no more are open than the bound.
    QVERIFY(runUntil([&] { return closedCount() == Silent - ReportListener::MostConnections; }, 5000));
    runUntil([] { return false; }, 200);
    QCOMPARE(closedCount(), Silent - ReportListener::MostConnections);

    QCOMPARE(ask(listener.port(), KnownReport), 200);
    QCOMPARE(reported.count(), 1);
    QCOMPARE(reported[0][0].toString(), QStringLiteral("known"));
    QCOMPARE(reported[0][2].toString(), QStringLiteral("DELIVRD"));
    // The report's room was the oldest silent client's.
    const int closed = Silent - ReportListener::MostConnections + 1;
    QVERIFY(runUntil([&] { return closedCount() == closed; }, 5000));
    for (int i = 0; i < Silent; ++i)
        QVERIFY2(silent[i]->closed() == (i < closed), qPrintable(QString::number(i)));

    // Again, the listener still full of silent clients.
    QCOMPARE(ask(listener.port(), KnownReport), 200);
    QCOMPARE(reported.count(), 2);
}

void tst_listener::idleConnectionsClosed()
{
    ReportListener listener;
    listener.setTokenCheck([](const QString &token) { return token == QLatin1String("known"); });
    constexpr int IdleMs = 300;
    listener.setIdleMs(IdleMs);
    QVERIFY(listener.listen());

    QElapsedTimer since;
    since.start();
    Client quiet(listener.port());
    Client halfway(listener.port(), "GET /dlr?token=known&type=1 HTTP/1.1\r\n");
    Client whole(listener.port(), KnownReport);
    QVERIFY(runUntil([&] { return whole.closed(); }, 5000));
    QVERIFY(whole.answer().startsWith("HTTP/1.1 200 "));
    QVERIFY(!quiet.closed());
    QVERIFY(!halfway.closed());

    QVERIFY(runUntil([&] { return quiet.closed() && halfway.closed(); }, 5000));
    // A coarse timer may end up to 5% early.
    QVERIFY2(since.elapsed() >= IdleMs * 95 / 100, qPrintable(QString::number(since.elapsed())));
    QVERIFY2(since.elapsed() < IdleMs + 2000, qPrintable(QString::number(since.elapsed())));
    QVERIFY2(quiet.answer().startsWith("HTTP/1.1 408 "), quiet.answer().constData());
    QVERIFY2(halfway.answer().startsWith("HTTP/1.1 408 "), halfway.answer().constData());
}

void tst_listener::incomingSmsOnlyWithTheSecret()
{
    ProgramFolderFixture folder;
    const quint16 port = freePort();
    QVERIFY(port != 0);
    // A gateway the desk sends by alone, so that no modem is opened; it
    // need not answer for what comes in.
    DeskOptions::setValue(QString::fromLatin1(DeskOptions::Gateway),
                          QStringLiteral("http://127.0.0.1:9/cgi-bin/sendsms?username=u&password=p"));
    DeskOptions::setValue(QString::fromLatin1(DeskOptions::GatewayOnly), QStringLiteral("on"));
    DeskOptions::setValue(QString::fromLatin1(DeskOptions::GatewayReports), QStringLiteral("127.0.0.1:%1").arg(port));

    struct Kept {
        QString route;
        IncomingSms sms;
    };
    QList<Kept> kept;
    bool keeps = true;
    SmsRoute::Incoming incoming;
    incoming.keep = [&](const QString &route, const IncomingSms &sms) {
        kept << Kept{route, sms};
        return keeps;
    };

    const QByteArray good = "/incoming?secret=s%3Dcret+7&from=%2B15550100&text=OK%2012&coding=0&charset=UTF-8"
                            "&time=1796860800";
    {
        // No secret set: every request is refused, the right-looking one too.
        TraceList trace;
        PageLog pageLog;
        RouteSet routes(trace, pageLog);
        routes.load();
        routes.start({});
        routes.listenToPhones(incoming);
        QVERIFY(runUntil([&] { return ask(port, getRequest("/dlr?token=x&type=1")) == 403; }, 5000));
        QCOMPARE(ask(port, getRequest(good)), 403);
        QCOMPARE(ask(port, getRequest("/incoming?secret=&from=%2B15550100&text=OK")), 403);
        QVERIFY(kept.isEmpty());
        QCOMPARE(pageLog.text().count(QStringLiteral("Gateway: an incoming SMS without the right secret refused")), 1);
    }

    DeskOptions::setValue(QString::fromLatin1(DeskOptions::GatewayIncoming), QStringLiteral("s=cret 7"));
    TraceList trace;
    PageLog pageLog;
    RouteSet routes(trace, pageLog);
    routes.load();
    routes.start({});

    // Nothing listens yet: not taken, and the gateway is told to try again.
    QVERIFY(runUntil([&] { return ask(port, getRequest(good)) == 503; }, 5000));
    QVERIFY(kept.isEmpty());

    routes.listenToPhones(incoming);
    // Without the secret, with a wrong one, a longer or shorter one, one
    // given twice where the first is wrong: refused, and nothing reaches the keeper.
    const QList<QByteArray> wrong{
        "/incoming?from=%2B15550100&text=OK",
        "/incoming?secret=s%3Dcret+8&from=%2B15550100&text=OK",
        "/incoming?secret=s%3Dcret+77&from=%2B15550100&text=OK",
        "/incoming?secret=s%3Dcret&from=%2B15550100&text=OK",
        "/incoming?secret=S%3DCRET+7&from=%2B15550100&text=OK",
        "/incoming?secret=x&secret=s%3Dcret+7&from=%2B15550100&text=OK",
        "/incoming?secret=s%3Dcret%207&from=%2B15550100&text=OK&x",
    };
    for (qsizetype i = 0; i < wrong.size(); ++i) {
        const int status = ask(port, getRequest(wrong[i]));
        // The last one is right: a space may come as %20 as well as '+'.
        QCOMPARE(status, i + 1 == wrong.size() ? 200 : 403);
    }
    QCOMPARE(kept.size(), 1);
    kept.clear();
    // Said once however many came within the minute.
    QCOMPARE(pageLog.text().count(QStringLiteral("Gateway: an incoming SMS without the right secret refused")), 1);

    // Kept: 200 with nothing in the body, for smsbox has nothing to send back.
    QByteArray body = "unset";
    QCOMPARE(ask(port, getRequest(good), &body), 200);
    QVERIFY2(body.isEmpty(), body.constData());
    QCOMPARE(kept.size(), 1);
    QCOMPARE(kept[0].route, QStringLiteral("gateway"));
    QCOMPARE(kept[0].sms.number, QStringLiteral("+15550100"));
    QCOMPARE(kept[0].sms.text, QStringLiteral("OK 12"));
    QCOMPARE(kept[0].sms.sentAt, QDateTime(QDate(2026, 12, 10), QTime(0, 0), Qt::UTC));

    // UCS-2 as Kannel hands it over: the bytes as they came, with coding
    // and charset; a line break kept.
    QCOMPARE(ask(port, getRequest("/incoming?secret=s%3Dcret+7&from=%2B15550101&text=%04%1F%04%40%00%0A%00%21"
                                  "&coding=2&charset=UTF-16BE&time=")),
             200);
    QCOMPARE(kept.size(), 2);
    QCOMPARE(kept[1].sms.text, QStringLiteral("\u041F\u0440\n!"));
    QVERIFY(!kept[1].sms.sentAt.isValid());

    // Not committed: 503, so that the gateway keeps it and tries again.
    keeps = false;
    QCOMPARE(ask(port, getRequest(good)), 503);
    QCOMPARE(kept.size(), 3);
    keeps = true;

    // Without a sender there is nothing to keep.
    QCOMPARE(ask(port, getRequest("/incoming?secret=s%3Dcret+7&text=OK")), 400);
    QCOMPARE(kept.size(), 3);

    // Listening stopped: nothing is taken.
    routes.listenToPhones({});
    QCOMPARE(ask(port, getRequest(good)), 503);
    QCOMPARE(kept.size(), 3);

    // The delivery reports are still served beside it, and other paths are not.
    QCOMPARE(ask(port, getRequest("/dlr?token=unknown&type=1")), 403);
    QCOMPARE(ask(port, getRequest("/incomingx?secret=s%3Dcret+7&from=1")), 404);
}

QTEST_GUILESS_MAIN(tst_listener)
#include "tst_listener.moc"
