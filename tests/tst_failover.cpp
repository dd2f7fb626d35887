// Faults that meet one SMS on one route while the others are busy, slow or
// away, end to end on simulated modems: nothing waits without a way out, a
// late answer is not a second send, the parts of a long SMS reach the phone
// from one modem, and a modem put back in service shows as it stands.

#include "admin/frmModems.h"
#include "app/TahomaFont.h"
#include "store/ModemTable.h"
#include "support/ProgramFolderFixture.h"
#include "support/RunUntil.h"
#include "support/ScriptedMessageBoxes.h"
#include "support/SimulatedModem.h"
#include "support/StartedProgram.h"
#include "support/TestRelay.h"
#include "support/WindowDriver.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QtTest>

#include <optional>

class tst_failover : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { TahomaFont::ensure(); }
    void noStallWhileTheOtherModemGoesAway();
    void aLateAnswerIsNotASecondSend();
    void aLongSmsFromOneModem();
    void putBackWhileDownShowsDown();
};

namespace {

// A desk with Ann on duty (and Bob, unless told otherwise), one folder,
// the simulator on COM1 and, where it has options, another on COM2.
struct Desk {
    explicit Desk(const QStringList &first, const std::optional<QStringList> &second = {}, bool bob = true)
        : a(first, folder.path(), 1)
    {
        folder.addUser("Ann", "+111", true);
        if (bob)
            folder.addUser("Bob", "+222", true);
        mt4 = folder.addWatchedFolder("mt4");
        if (second) {
            b.emplace(*second, folder.path(), 2);
            ModemTable::add(2, "9600");
        }
    }

    ProgramFolderFixture folder;
    ScriptedMessageBoxes boxes;
    SimulatedModem a;
    std::optional<SimulatedModem> b;
    QString mt4;
};

// "NUMBER TEXT" of every SMS a simulator accepted, in its order.
QStringList texts(const SimulatedModem &modem)
{
    QStringList all;
    for (const SimulatedModem::Sms &sms : modem.messages())
        all << sms.number + ' ' + sms.text;
    return all;
}

QStringList bothTexts(const Desk &desk)
{
    QStringList all = texts(desk.a) + texts(*desk.b);
    all.sort();
    return all;
}

bool said(const QString &pageLog, const QString &pattern)
{
    return QRegularExpression(pattern).match(pageLog).hasMatch();
}

} // namespace

void tst_failover::noStallWhileTheOtherModemGoesAway()
{
    // COM1 refuses Ann's number for a cause that is not the number's, so
    // her SMS waits for COM2, busy with Bob's; then COM2 falls silent.
    // Her SMS must not wait for a modem that is gone: the failover wait is
    // long here, so that only COM2 being set aside can free it.
    Desk desk({"--quiet", "--reject", "+111", "--cms-code", "500"}, QStringList{"--quiet", "--delay", "150"});
    TestRelay relay(1000, 60, true, TestRelay::NoHealthRounds);
    relay.setProbeMs(300);
    relay.setRetryDelays({1500, 1500, 1500, 1500});
    relay.setFailoverWaitMs(600000);
    QSignalSpy setAside(&relay, &AlertRelay::routeSetAside);
    bool silenced = false;
    connect(&relay.reporter(), &SmsReporter::smsTried, this, [&](bool sent) {
        if (!sent && !silenced) {
            silenced = true;
            QVERIFY(desk.b->control("silent on"));
        }
    });
    // Both lines opened: Ann's SMS goes by COM1, Bob's by COM2.
    QTRY_VERIFY(relay.routes().idle());
    writeAlerts(desk.mt4, 1, 2);
    QTRY_COMPARE_WITH_TIMEOUT(setAside.size(), 1, 10000);
    relay.reporter().disconnect(this);
    QCOMPARE(setAside.first().first().toString(), QString("Modem COM2 set aside: no answer from the modem within 1 s"));
    // Ann's first SMS is said as not sent and waits for its retry; Bob's,
    // which COM2 never answered, went by COM1.
    QTRY_VERIFY(
        said(relay.pageLog().text(), R"(Not sent to Ann \(\+111\): [^\r\n]*500[^\r\n]*\r\nMessage: Alert 1\r\n)"));
    QTRY_VERIFY(texts(desk.a).contains("+222 Alert 1"));
    QVERIFY(relay.deliveryCounts().retrying >= 1);

    // Alert files are still taken meanwhile, within a cycle or two, and
    // Bob's SMS go by COM1 while COM2 is away.
    QElapsedTimer clock;
    clock.start();
    writeAlerts(desk.mt4, 3, 3);
    QTRY_VERIFY_WITH_TIMEOUT(folderEntries(desk.mt4).isEmpty(), 5000);
    QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
    QTRY_VERIFY_WITH_TIMEOUT(texts(desk.a).contains("+222 Alert 3"), 5000);
    QCOMPARE(texts(*desk.b), QStringList());

    // COM2 answers again: it is taken back, and Ann's SMS go by it on
    // their retries, every SMS once.
    QVERIFY(desk.b->control("silent off"));
    QVERIFY(relay.waitUntilIdle(30000));
    QStringList expected;
    for (int i = 1; i <= 3; ++i)
        expected << QStringLiteral("+111 Alert %1").arg(i) << QStringLiteral("+222 Alert %1").arg(i);
    expected.sort();
    QCOMPARE(bothTexts(desk), expected);
    for (const SimulatedModem::Sms &sms : desk.a.messages())
        QCOMPARE(sms.number, QString("+222"));
    const QString pageLog = relay.pageLog().text();
    QVERIFY(pageLog.contains("Modem COM2 back in service"));
    QVERIFY(said(pageLog, R"(Sending to Ann \(\+111\) via COM2\r\nMessage: Alert 1\r\n)"));
    QVERIFY(!pageLog.contains("Not sent to Bob"));
    QVERIFY(!pageLog.contains("Given up"));
    QCOMPARE(relay.deliveryCounts().retrying, 0);
    QCOMPARE(relay.deliveryCounts().givenUp, 0);
}

void tst_failover::aLateAnswerIsNotASecondSend()
{
    // The network takes 3.5 s to answer a message; the relay waits 2 s for
    // it (288 ms for 8.64 s) and tries again after 3 s, so the late answer
    // comes before the retry would.
    const QList<qint64> retries = {3000, 3000, 3000, 3000};
    const QString slow = "--cmgs-delay";
    const QString notSent = R"(Not sent to Ann \(\+111\): no answer from the modem within 2 s\r\nMessage: Alert 1\r\n)";
    {
        Desk desk({"--quiet", slow, "3500"}, {}, false);
        TestRelay relay(288);
        relay.setRetryDelays(retries);
        writeAlerts(desk.mt4, 1, 1);
        QTRY_VERIFY_WITH_TIMEOUT(said(relay.pageLog().text(), notSent), 5000);
        QVERIFY(!relay.pageLog().text().contains("Sending to"));
        QTRY_VERIFY_WITH_TIMEOUT(relay.pageLog().text().contains("Sending to Ann (+111)\r\nMessage: Alert 1\r\n"),
                                 5000);
        QCOMPARE(relay.deliveryCounts().retrying, 0);
        // Past its retry time it is not sent again.
        runUntil([] { return false; }, 2500);
        QVERIFY(relay.waitUntilIdle(5000));
        QCOMPARE(texts(desk.a), QStringList({"+111 Alert 1"}));
        QCOMPARE(relay.pageLog().text().count("Sending to"), 1);
        QCOMPARE(relay.pageLog().text().count("Not sent to"), 1);
    }
    {
        // With another modem free, the unanswered SMS does not go by it at
        // once: the one the slow modem took is settled by its late answer.
        Desk desk({"--quiet", slow, "3500"}, QStringList{"--quiet"});
        TestRelay relay(288);
        relay.setRetryDelays(retries);
        writeAlerts(desk.mt4, 1, 1);
        QTRY_VERIFY_WITH_TIMEOUT(relay.pageLog().text().contains("Not sent to"), 5000);
        QTRY_COMPARE_WITH_TIMEOUT(relay.pageLog().text().count("Sending to"), 2, 5000);
        runUntil([] { return false; }, 2500);
        QVERIFY(relay.waitUntilIdle(5000));
        QCOMPARE(bothTexts(desk), QStringList({"+111 Alert 1", "+222 Alert 1"}));
        QCOMPARE(desk.a.messages().size(), 1);
        QCOMPARE(relay.pageLog().text().count("Not sent to"), 1);
        QCOMPARE(relay.pageLog().text().count("Sending to"), 2);
        QCOMPARE(relay.deliveryCounts().retrying, 0);
    }
}

void tst_failover::aLongSmsFromOneModem()
{
    // COM1 refuses the second part of every long message. While COM2 is out
    // of service, Ann's SMS keeps failing there; once COM2 is back, it goes
    // whole by COM2, never joined with COM1's first part.
    Desk desk({"--quiet", "--refuse-part", "2"}, QStringList{"--quiet"}, false);
    ModemTable::setInService(2, false);
    TestRelay relay(300);
    relay.setRetryDelays({1500, 1500, 1500, 1500});
    const QString text = QStringLiteral("Long %1").arg(QString(200, 'x')) + " 1";
    writeAlerts(desk.mt4, 1, 1, QStringLiteral("Long %1").arg(QString(200, 'x')));
    QTRY_VERIFY_WITH_TIMEOUT(relay.pageLog().text().contains("Not sent to Ann (+111)"), 5000);
    // Its retry on COM1 sends only the part left, refused again.
    QTRY_VERIFY_WITH_TIMEOUT(desk.a.log().count("refused a message to +111") >= 2, 5000);
    QVERIFY(texts(desk.a).isEmpty());
    QVERIFY(texts(*desk.b).isEmpty());

    relay.routes().setModemInService(2, true);
    QVERIFY(relay.waitUntilIdle(20000));
    const QList<SimulatedModem::Sms> got = desk.b->messages();
    QCOMPARE(got.size(), 1);
    QCOMPARE(got.first().number, QString("+111"));
    QCOMPARE(got.first().text, text);
    QVERIFY(got.first().pdu);
    QCOMPARE(got.first().parts, 2);
    QVERIFY(texts(desk.a).isEmpty());
    QVERIFY(relay.pageLog().text().contains("Sending to Ann (+111) via COM2\r\n"));
    QCOMPARE(relay.pageLog().text().count("Sending to"), 1);
    QCOMPARE(relay.deliveryCounts().givenUp, 0);
}

void tst_failover::putBackWhileDownShowsDown()
{
    ProgramFolderFixture folder;
    ScriptedMessageBoxes boxes;
    SimulatedModem modem({"--quiet"}, folder.path(), 1);
    StartedProgram program;
    program.relay.setHealthRoundMs(150);
    frmModems window(program.relay.routes(), program.window);
    window.show();
    const auto state = [&] { return column(window, "ModemList", 2).value(0); };
    QCOMPARE(state(), QString("up"));
    QVERIFY(modem.control("no-sim"));
    QTRY_COMPARE(state(), QString("down (SIM missing)"));

    find<QTableWidget>(window, "ModemList")->setCurrentCell(0, 0);
    click(window, "cmdModemService");
    QCOMPARE(state(), QString("out of service"));
    // Put back, it is down for its old reason at once, and stays so through
    // the rounds that still find no SIM.
    QStringList shown;
    connect(&program.relay.routes(), &RouteSet::changed, this,
            [&] { shown << program.relay.routes().modemStatuses().first().stateWithReason(); });
    click(window, "cmdModemService");
    QCOMPARE(state(), QString("down (SIM missing)"));
    runUntil([] { return false; }, 800);
    QCOMPARE(state(), QString("down (SIM missing)"));
    QVERIFY2(!shown.contains("up"), qPrintable(shown.join(", ")));

    QVERIFY(modem.control("sim"));
    QTRY_COMPARE(state(), QString("up"));
    program.relay.routes().disconnect(this);
    QCOMPARE(program.relay.pageLog().text().count("Modem COM1 is up again"), 1);
}

QTEST_MAIN(tst_failover)
#include "tst_failover.moc"
