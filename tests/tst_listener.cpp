// The delivery-report listener against real clients on loopback: it keeps
// trying for a port another program holds, and clients that connect and say
// nothing can neither hold a connection nor keep a report out.

#include "route/ReportListener.h"
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

// The status the listener answered `request` with, 0 for none.
int ask(quint16 port, const QByteArray &request)
{
    Client client(port, request);
    if (!runUntil([&] { return client.closed(); }, 5000))
        return 0;
    const QList<QByteArray> words = client.answer().split(' ');
    return words.size() > 1 && words[0] == "HTTP/1.1" ? words[1].toInt() : 0;
}

} // namespace

class tst_listener : public QObject
{
    Q_OBJECT

private slots:
    void portTakenUntilFreed();
    void silentClientsCannotShutReportsOut();
    void idleConnectionsClosed();
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

QTEST_GUILESS_MAIN(tst_listener)
#include "tst_listener.moc"
