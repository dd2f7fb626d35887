// A desk that sends through a real Kannel on loopback: alerts from their
// files to the phones of fakesmsc with the gateway's delivery reports; the
// gateway stopped in the middle, on its own and beside a modem; a forged
// report; and the relay killed between a request and its answer.

#include "store/DeskOptions.h"
#include "support/HttpServer.h"
#include "support/KannelGateway.h"
#include "support/ProgramFolderFixture.h"
#include "support/RelayHost.h"
#include "support/RunUntil.h"
#include "support/ScriptedMessageBoxes.h"
#include "support/SimulatedModem.h"
#include "support/TestRelay.h"

#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QProcess>
#include <QtTest>

#include <csignal>

class tst_gatewaydesk : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void alertsThroughTheGatewayAlone();
    void theGatewayStopsInTheMiddle();
    void killedBetweenRequestAndAnswer();

private:
    // A desk of Ann and Bob whose SMS go through this Kannel, with delivery
    // reports to a port of its own.
    void gatewayDesk(const ProgramFolderFixture &folder, bool only);
    QStringList textsTo(qsizetype from, const QString &receiver) const;

    KannelGateway m_kannel;
    QString m_noKannel;
    quint16 m_reportPort = 0;
};

#define NEEDS_KANNEL()                                                                                                 \
    do {                                                                                                               \
        if (!m_noKannel.isEmpty())                                                                                     \
            QSKIP(qPrintable(m_noKannel));                                                                             \
    } while (false)

namespace {

QStringList states(const ProgramFolderFixture &folder)
{
    QStringList list;
    for (const QVariantList &row : folder.outboxRows("SELECT s.number, s.state, coalesce(d.state, '') FROM sms s "
                                                     "LEFT JOIN delivery d ON d.sms_id = s.id ORDER BY s.id"))
        list << row[0].toString() + ' ' + row[1].toString() + ' ' + row[2].toString();
    return list;
}

} // namespace

void tst_gatewaydesk::initTestCase()
{
    m_noKannel = KannelGateway::unavailableReason();
    if (m_noKannel.isEmpty())
        QVERIFY2(m_kannel.start(), qPrintable(m_kannel.errorString()));
}

void tst_gatewaydesk::gatewayDesk(const ProgramFolderFixture &folder, bool only)
{
    folder.addUser("Ann", "+79161234567", true);
    folder.addUser("Bob", "79031112233", true);
    m_reportPort = freePort();
    DeskOptions::setValue(DeskOptions::Gateway, m_kannel.sendSmsUrl().toString());
    DeskOptions::setValue(DeskOptions::GatewayOnly, only ? "on" : "");
    DeskOptions::setValue(DeskOptions::GatewayReports, QStringLiteral("127.0.0.1:%1").arg(m_reportPort));
    DeskOptions::setValue(DeskOptions::DeliveryReports, "on");
}

QStringList tst_gatewaydesk::textsTo(qsizetype from, const QString &receiver) const
{
    QStringList texts;
    for (const KannelGateway::Sms &sms : m_kannel.messages().mid(from)) {
        if (sms.receiver == receiver)
            texts << sms.text;
    }
    return texts;
}

void tst_gatewaydesk::alertsThroughTheGatewayAlone()
{
    NEEDS_KANNEL();
    ProgramFolderFixture folder;
    ScriptedMessageBoxes boxes;
    gatewayDesk(folder, true);
    const QString mt4 = folder.addWatchedFolder("mt4");
    const qsizetype before = m_kannel.messages().size();
    TestRelay relay(300);
    const QString longText = QString("XAUUSD crossed 2350.00 on heavy volume; ").repeated(10).left(400);
    writeFile(MT4Paths::alertFile(mt4), "L|10:00|EA1|Title|EURUSD buy 1.0850 & 2% risk\r\n"
                                        "L|10:01|EA2|Title|Сработал сигнал: EURUSD выше 1.0850\r\n"
                                        "L|10:02|EA3|Title|"
                                            + longText.toLatin1() + "\r\n");
    QVERIFY(relay.waitUntilIdle());
    const QStringList texts = {"EURUSD buy 1.0850 & 2% risk", "Сработал сигнал: EURUSD выше 1.0850", longText};
    QVERIFY(m_kannel.waitForMessages(before + 6));
    QCOMPARE(textsTo(before, "+79161234567"), texts);
    QCOMPARE(textsTo(before, "79031112233"), texts);
    // Kannel's reports mark every one delivered.
    QTRY_COMPARE(relay.pageLog().text().count("Delivered to "), 6);
    QCOMPARE(states(folder),
             QStringList({"+79161234567 sent delivered", "79031112233 sent delivered", "+79161234567 sent delivered",
                          "79031112233 sent delivered", "+79161234567 sent delivered", "79031112233 sent delivered"}));
    // One route: the page log reads as it always has; no modem was touched.
    QVERIFY(!relay.pageLog().text().contains(" via "));
    QVERIFY(!relay.trace().lines().contains("Port Opened"));
    QCOMPARE(folder.loggedMessages().size(), 3);

    // A report with a token of nobody's, or of a delivered SMS saying it
    // failed, changes nothing.
    QNetworkAccessManager network;
    network.setProxy(QNetworkProxy::NoProxy);
    const QString token = folder.outboxRows("SELECT reference FROM sms_part LIMIT 1")[0][0].toString();
    const auto get = [&](const QString &query) {
        QNetworkReply *reply = network.get(
            QNetworkRequest(QUrl(QStringLiteral("http://127.0.0.1:%1/dlr?%2").arg(m_reportPort).arg(query))));
        runUntil([reply] { return reply->isFinished(); }, 5000);
        reply->deleteLater();
        return reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    };
    QCOMPARE(get("token=0123456789abcdef0123456789abcdef&type=2&answer=forged"), 403);
    QCOMPARE(get("token=" + token + "&type=2&answer=late"), 200);
    runUntil([] { return false; }, 100);
    QCOMPARE(states(folder).filter(" sent delivered").size(), 6);
    QVERIFY(!relay.pageLog().text().contains("Not delivered"));
}

void tst_gatewaydesk::theGatewayStopsInTheMiddle()
{
    NEEDS_KANNEL();
    {
        // Alone: its SMS wait in the outbox, untried, and go once it is back.
        ProgramFolderFixture folder;
        ScriptedMessageBoxes boxes;
        gatewayDesk(folder, true);
        const QString mt4 = folder.addWatchedFolder("mt4");
        TestRelay relay(300);
        relay.setProbeMs(200);
        // The SMS the stop failed is tried again soon, not after 30 s.
        relay.setRetryDelays({300, 300, 300, 300});
        m_kannel.stop();
        writeAlerts(mt4, 1, 3);
        QTRY_VERIFY(relay.pageLog().text().contains("Gateway set aside: the gateway refused the connection"));
        runUntil([] { return false; }, 600);
        QVERIFY(!relay.pageLog().text().contains("Given up"));
        QCOMPARE(folder.outboxRows("SELECT max(tries) FROM sms")[0][0].toInt(), 1);
        const qsizetype before = m_kannel.messages().size();
        QVERIFY2(m_kannel.start(), qPrintable(m_kannel.errorString()));
        QVERIFY(relay.waitUntilIdle());
        QVERIFY(m_kannel.waitForMessages(before + 6));
        // The one the stop failed goes at its retry, the held ones at once.
        QStringList texts = textsTo(before, "+79161234567");
        texts.sort();
        QCOMPARE(texts, QStringList({"Alert 1", "Alert 2", "Alert 3"}));
        QVERIFY(relay.pageLog().text().contains("Gateway back in service"));
    }
    {
        // Beside a modem: the modem takes over at once.
        ProgramFolderFixture folder;
        ScriptedMessageBoxes boxes;
        gatewayDesk(folder, false);
        const QString mt4 = folder.addWatchedFolder("mt4");
        SimulatedModem modem({"--quiet", "--delay", "50"}, folder.path(), 1);
        QVERIFY(modem.isReady());
        TestRelay relay(300);
        relay.setProbeMs(200);
        writeAlerts(mt4, 1, 4);
        QVERIFY(relay.waitUntilIdle());
        // Each send says which route it went by.
        QVERIFY(relay.pageLog().text().contains(" via gateway"));
        m_kannel.stop();
        const int byModem = int(modem.messages().size());
        writeAlerts(mt4, 5, 8);
        QVERIFY(relay.waitUntilIdle());
        QCOMPARE(int(modem.messages().size()), byModem + 8);
        QVERIFY(relay.pageLog().text().contains(" via COM1"));
        QVERIFY(relay.pageLog().text().contains("Gateway set aside: the gateway refused the connection"));
        QVERIFY(!relay.pageLog().text().contains("Not sent"));
        QVERIFY2(m_kannel.start(), qPrintable(m_kannel.errorString()));
    }
}

void tst_gatewaydesk::killedBetweenRequestAndAnswer()
{
    // A gateway that takes the request and never answers; the relay killed
    // meanwhile. On the next start, with the gateway answering, the SMS
    // goes: sent twice at worst, never lost.
    NEEDS_KANNEL();
    ProgramFolderFixture folder;
    gatewayDesk(folder, true);
    folder.exec("DELETE FROM USERS WHERE name = 'Bob'");
    const QString mt4 = folder.addWatchedFolder("mt4");
    HttpServer hanging;
    DeskOptions::setValue(DeskOptions::Gateway, hanging.url().toString());
    {
        QProcess host;
        QVERIFY(startRelayHost(host, folder.path()));
        writeAlerts(mt4, 1, 1);
        QVERIFY(runUntil([&] { return hanging.connections() > 0; }, 10000));
        runUntil([] { return false; }, 100);
        ::kill(pid_t(host.processId()), SIGKILL);
        QVERIFY(host.waitForFinished());
    }
    QCOMPARE(states(folder), QStringList({"+79161234567 waiting unconfirmed"}));
    DeskOptions::setValue(DeskOptions::Gateway, m_kannel.sendSmsUrl().toString());
    const qsizetype before = m_kannel.messages().size();
    QProcess host;
    QVERIFY(startRelayHost(host, folder.path()));
    QVERIFY(m_kannel.waitForMessages(before + 1));
    QCOMPARE(textsTo(before, "+79161234567"), QStringList({"Alert 1"}));
    QVERIFY(runUntil([&] { return states(folder) == QStringList({"+79161234567 sent delivered"}); }, 10000));
    host.terminate();
    QVERIFY(host.waitForFinished());
}

QTEST_GUILESS_MAIN(tst_gatewaydesk)
#include "tst_gatewaydesk.moc"
