// Modem health against the simulator on real pseudo-terminals: each way a
// modem can be unable to send found by a health round, said and told to the
// traders by SMS through the other modem; the PIN entered once and a wrong
// one never again; alerts held while no modem can send, and the traders told
// afterwards; a round and an SMS asked for at the same moment; the daily
// heartbeat; Status.json, whole at any moment, also after a kill; a modem
// missing at start looked at the moment it comes; a refused PIN in each way
// a modem says it; an LTE module that cannot tell its signal; a PIN or reset
// command in Config.mdb that the Modems window would not have stored.

#include "store/DeskOptions.h"
#include "store/ModemTable.h"
#include "support/ProgramFolderFixture.h"
#include "support/Readback.h"
#include "support/RelayHost.h"
#include "support/RunUntil.h"
#include "support/ScriptedMessageBoxes.h"
#include "support/SimulatedModem.h"
#include "support/TestClock.h"
#include "support/TestRelay.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>

#include <csignal>

class tst_health : public QObject
{
    Q_OBJECT

private slots:
    void downForEachReasonAndToldByTheOtherModem();
    void aWrongPinIsEnteredOnce();
    void aRefusedPinInEachForm();
    void aModemMissingAtStartIsCheckedWhenItComes();
    void unknownSignalWhileRegisteredIsNoOutage();
    void aStoredPinOrResetCommandThatIsNoneIsNeverWritten();
    void heldWhileNoModemCanSend();
    void aRoundAndAnSmsAtOnce();
    void heartbeat();
    void statusFileIsAlwaysWhole();
};

namespace {

QJsonObject status(const ProgramFolderFixture &folder)
{
    return QJsonDocument::fromJson(fileBytes(folder.file("Status.json"))).object();
}

} // namespace

void tst_health::downForEachReasonAndToldByTheOtherModem()
{
    ProgramFolderFixture folder;
    ScriptedMessageBoxes boxes;
    folder.addUser("Ann", "+111", true);
    folder.addUser("Bob", "+222", true);
    ModemTable::add(2, "9600");
    SimulatedModem a({"--quiet"}, folder.path(), 1);
    SimulatedModem b({"--quiet"}, folder.path(), 2);
    QVERIFY(a.isReady() && b.isReady());
    TestRelay relay(300);
    relay.setHealthRoundMs(150);
    relay.statusFile().write();
    QTRY_COMPARE(status(folder)["modems"].toArray()[0].toObject()["operator"].toString(), QString("Vantrel Mobile"));
    QCOMPARE(status(folder)["modems"].toArray()[0].toObject()["signal_dbm"].toInt(), -73);

    struct Case {
        const char *down;
        QString reason;
        std::function<void()> up;
    };
    const QList<Case> cases = {
        {"no-sim", "SIM missing", [&] { a.control("sim"); }},
        {"registration 3", "not registered on the network", [&] { a.control("registration 1"); }},
        {"signal 0", "no signal", [&] { a.control("signal 20"); }},
        {"silent on", "no answer", [&] { a.control("silent off"); }},
        {"unplug", "no such device", [&] { QVERIFY(a.control("plug") && a.waitForReady()); }},
        // No PIN is set: down until the desk gives the right one.
        {"pin-required", "SIM PIN required", [&] { relay.routes().setModemPin(1, "0000"); }},
    };
    int ups = 0;
    for (const Case &c : cases) {
        QVERIFY(a.control(c.down));
        const QString said = "Modem COM1 is down: " + c.reason;
        QTRY_VERIFY2_WITH_TIMEOUT(relay.pageLog().text().contains(said), qPrintable(c.reason), 5000);
        QCOMPARE(relay.pageLog().text().count(said), 1);
        // Told to every trader on duty, through the modem that is up: the
        // first time at once; a flapping modem's later changes wait for the
        // summary at the end of its quiet half hour (tst_alarms).
        // (A slow first round may have found it down already and told that.)
        if (ups == 0) {
            const QString told = "Vantrel: modem COM1 is down: ";
            QTRY_VERIFY(b.textsTo("+111").join('\n').contains(told) && b.textsTo("+222").join('\n').contains(told));
        }
        QCOMPARE(b.textsTo("+111").join('\n').count("Vantrel: modem COM1"), 1);
        // Status.json says so within moments: its writes follow a change
        // by 50 ms, so that a burst of changes is written once, and this
        // one may come before the file has told of the modem's last return.
        QTRY_COMPARE(status(folder)["modems"].toArray()[0].toObject()["reason"].toString(), c.reason);
        QCOMPARE(status(folder)["modems"].toArray()[0].toObject()["state"].toString(), QString("down"));
        QCOMPARE(status(folder)["modems"].toArray()[1].toObject()["state"].toString(), QString("up"));
        c.up();
        ++ups;
        QTRY_COMPARE_WITH_TIMEOUT(relay.pageLog().text().count("Modem COM1 is up again"), ups, 5000);
    }
    // Back within its quiet time: held for the summary.
    QVERIFY(!b.textsTo("+111").join('\n').contains("up again"));
    QVERIFY(a.textsTo("+111").isEmpty());
}

void tst_health::aWrongPinIsEnteredOnce()
{
    ProgramFolderFixture folder;
    ScriptedMessageBoxes boxes;
    SimulatedModem modem({"--pin", "1234"}, folder.path(), 1);
    QVERIFY(modem.isReady());
    ModemTable::setPin(1, "9999");
    const auto entered = [&] { return modem.log().count("AT+CPIN=9999"); };
    {
        TestRelay relay(300);
        relay.setHealthRoundMs(100);
        QTRY_VERIFY(relay.pageLog().text().contains("Modem COM1 is down: the SIM refused the PIN"));
        runUntil([] { return false; }, 1000); // rounds go on
        QCOMPARE(entered(), 1);
    }
    // Nor after a restart: three wrong tries lock a SIM.
    QCOMPARE(folder.values("SELECT RefusedPin FROM ModemOptions WHERE COM = 1"), QStringList({"9999"}));
    TestRelay relay(300);
    relay.setHealthRoundMs(100);
    QTRY_VERIFY(relay.pageLog().text().contains("Modem COM1 is down: the SIM refused the PIN"));
    runUntil([] { return false; }, 500);
    QCOMPARE(entered(), 1);
    // The right one, once set, is entered, and the modem is up.
    relay.routes().setModemPin(1, "1234");
    QTRY_VERIFY(relay.pageLog().text().contains("Modem COM1 is up again"));
    QCOMPARE(modem.log().count("AT+CPIN=1234"), 1);
}

void tst_health::aRefusedPinInEachForm()
{
    // The modem set back to a bare ERROR, or to words, after the line was
    // opened: the SIM's no is heard whichever way it comes.
    for (const QString mode : {"0", "2"}) {
        ProgramFolderFixture folder;
        ScriptedMessageBoxes boxes;
        SimulatedModem modem({"--pin", "1234", "--cmee", mode}, folder.path(), 1);
        QVERIFY(modem.isReady());
        TestRelay relay(300);
        relay.setHealthRoundMs(100);
        QTRY_VERIFY(relay.pageLog().text().contains("Modem COM1 is down: SIM PIN required"));
        QVERIFY(modem.control("cmee " + mode));
        relay.routes().setModemPin(1, "9999");
        QTRY_VERIFY2(relay.pageLog().text().contains("Modem COM1 is down: the SIM refused the PIN"), qPrintable(mode));
        runUntil([] { return false; }, 1000); // rounds go on
        QCOMPARE(modem.log().count("AT+CPIN=9999"), 1);
        QVERIFY(modem.log().contains(mode == "0" ? "AT+CPIN=9999  -> ERROR" : "-> +CME ERROR: incorrect password"));
        QCOMPARE(folder.values("SELECT RefusedPin FROM ModemOptions WHERE COM = 1"), QStringList({"9999"}));
    }
}

void tst_health::aModemMissingAtStartIsCheckedWhenItComes()
{
    // The relay starts while the modem's link leads nowhere; the device
    // comes a moment later and is asked at once, not at the next round.
    ProgramFolderFixture folder;
    ScriptedMessageBoxes boxes;
    QVERIFY(QFile::link(folder.file("no-such-device"), folder.file("COM1")));
    TestRelay relay(300);
    QTRY_VERIFY(relay.pageLog().text().contains("Modem COM1 is down: no such device"));
    SimulatedModem modem({}, folder.path(), 1);
    QVERIFY(modem.isReady());
    QTRY_VERIFY_WITH_TIMEOUT(modem.log().contains("AT+CPIN?"), 3 * ModemLine::ReopenMs);
    QTRY_VERIFY(relay.pageLog().text().contains("Modem COM1 is up again"));
    // The opening's own command came first.
    QVERIFY(modem.log().indexOf("AT+CMEE=1") < modem.log().indexOf("AT+CPIN?"));
}

void tst_health::unknownSignalWhileRegisteredIsNoOutage()
{
    // An LTE module answers "+CSQ: 99,99" while registered: it can send.
    ProgramFolderFixture folder;
    ScriptedMessageBoxes boxes;
    folder.addUser("Ann", "+111", true);
    const QString mt4 = folder.addWatchedFolder("mt4");
    SimulatedModem modem({"--quiet", "--csq", "99,99"}, folder.path(), 1);
    QVERIFY(modem.isReady());
    TestRelay relay(300);
    relay.setHealthRoundMs(100);
    runUntil([] { return false; }, 1000); // rounds enough for "no signal"
    QVERIFY2(!relay.pageLog().text().contains("is down"), qPrintable(relay.pageLog().text()));
    writeAlerts(mt4, 1, 1);
    QVERIFY(relay.waitUntilIdle(20000));
    QCOMPARE(sentTexts(modem), QStringList({"Alert 1"}));
    // A measured 0 is still no signal.
    QVERIFY(modem.control("csq 0,99"));
    QTRY_VERIFY_WITH_TIMEOUT(relay.pageLog().text().contains("Modem COM1 is down: no signal"), 5000);
}

void tst_health::aStoredPinOrResetCommandThatIsNoneIsNeverWritten()
{
    // Written into Config.mdb by hand: a quote would end AT+CPIN's
    // argument, a CR the reset command and start another one.
    ProgramFolderFixture folder;
    ScriptedMessageBoxes boxes;
    ModemTable::setPin(1, "1234");
    folder.exec("UPDATE ModemOptions SET Pin = ?, ResetCommand = ? WHERE COM = 1",
                {QString("1234\""), QString("AT+CFUN=1,1\rATD5550100;")});
    SimulatedModem modem({"--pin", "1234"}, folder.path(), 1);
    QVERIFY(modem.isReady());
    TestRelay relay(300);
    relay.setHealthRoundMs(100);
    QTRY_VERIFY(relay.pageLog().text().contains("Modem COM1 is down: SIM PIN required"));
    const QString pin = "The PIN stored for the modem on COM1 is not 4 to 8 digits; it is not entered.";
    const QString reset = "The reset command \"AT+CFUN=1,1?ATD5550100;\" stored for the modem on COM1 is not one AT "
                          "command; it is not sent.";
    QCOMPARE(relay.pageLog().text().count(pin), 1);
    QCOMPARE(relay.pageLog().text().count(reset), 1);
    // Silent for rounds enough to be reset (each question waits its unit):
    // nothing is sent.
    QVERIFY(modem.control("silent on"));
    QTRY_VERIFY(relay.pageLog().text().contains("Modem COM1 is down: no answer"));
    runUntil([] { return false; }, 5000);
    QVERIFY(!relay.pageLog().text().contains("it is sent"));
    QVERIFY(!relay.trace().lines().join('\n').contains("AT+CFUN"));
    QVERIFY(!modem.log().contains("AT+CPIN="));
    QCOMPARE(relay.pageLog().text().count(pin), 1);
}

void tst_health::heldWhileNoModemCanSend()
{
    TestClock clock(QDateTime(QDate(2026, 12, 9), QTime(10, 0)));
    ProgramFolderFixture folder;
    ScriptedMessageBoxes boxes;
    folder.addUser("Ann", "+111", true);
    const QString mt4 = folder.addWatchedFolder("mt4");
    SimulatedModem modem({"--quiet"}, folder.path(), 1);
    QVERIFY(modem.isReady());
    TestRelay relay(300);
    relay.setHealthRoundMs(150);
    QSignalSpy began(&relay, &AlertRelay::outageBegan);

    // The only modem loses its network: nothing is tried meanwhile, and the
    // alert files are still taken.
    QVERIFY(modem.control("registration 3"));
    QTRY_COMPARE(began.size(), 1);
    QVERIFY(relay.pageLog().text().contains("No modem can send"));
    writeAlerts(mt4, 1, 3);
    QTRY_VERIFY(folderEntries(mt4).isEmpty());
    runUntil([] { return false; }, 500);
    QVERIFY(modem.messages().isEmpty());
    QVERIFY(!relay.pageLog().text().contains("Not sent to"));

    // Back after a quarter of an hour: the alerts go, then the traders are told.
    clock.set(QDateTime(QDate(2026, 12, 9), QTime(10, 15)));
    QVERIFY(modem.control("registration 1"));
    QVERIFY(relay.waitUntilIdle(20000));
    QTRY_COMPARE(sentTexts(modem).size(), 4);
    QCOMPARE(sentTexts(modem).mid(0, 3), QStringList({"Alert 1", "Alert 2", "Alert 3"}));
    QCOMPARE(sentTexts(modem).last(),
             QString("Vantrel: no modem could send from 10:00 to 10:15; 3 alerts were held and have now been sent."));
}

void tst_health::aRoundAndAnSmsAtOnce()
{
    // Each answer takes a while; the round starts once the line has been
    // opened, and an SMS is asked for the moment its first question is
    // written: it waits for the question under way only, and no question
    // comes between its steps.
    ProgramFolderFixture folder;
    SimulatedModem modem({"--delay", "100"}, folder.path(), 1);
    QVERIFY(modem.isReady());
    TestRelay relay(1500);
    QVERIFY(runUntil([&] { return relay.trace().lines().contains("Sending..AT+CPIN?"); }, 10000));
    bool done = false;
    relay.SendAlarm("now", "TEST", "+333", [&] { done = true; });
    QVERIFY(runUntil([&] { return done; }, 10000));
    QTRY_VERIFY(modem.log().contains("AT+COPS?"));
    const QString log = modem.log();
    const qsizetype cpin = log.indexOf("AT+CPIN?");
    const qsizetype cmgf = log.indexOf("AT+CMGF=1");
    const qsizetype sent = log.indexOf("(message to +333");
    const qsizetype creg = log.indexOf("AT+CREG?");
    QVERIFY2(cpin >= 0 && cpin < cmgf && cmgf < sent && sent < creg, qPrintable(log));
}

void tst_health::heartbeat()
{
    TestClock clock(QDateTime(QDate(2026, 12, 9), QTime(8, 59, 30)));
    ProgramFolderFixture folder;
    ScriptedMessageBoxes boxes;
    folder.addUser("Ann", "+111", true);
    folder.addUser("Bob", "+222", true);
    const QString mt4 = folder.addWatchedFolder("mt4");
    DeskOptions::setValue(DeskOptions::Heartbeat, "09:00");
    SimulatedModem modem({"--quiet"}, folder.path(), 1);
    QVERIFY(modem.isReady());
    TestRelay relay;
    relay.heartbeat().setLookMs(50);
    writeAlerts(mt4, 1, 3);
    QVERIFY(relay.waitUntilIdle());
    runUntil([] { return false; }, 200); // not yet
    QCOMPARE(modem.messages().size(), 6);

    // At nine, once; the next day, again.
    clock.set(QDateTime(QDate(2026, 12, 9), QTime(9, 0, 5)));
    const QString report = "Vantrel OK: 3 alerts and 6 SMS since the last report, 0 failed; modems: COM1 up -73 dBm.";
    QTRY_VERIFY(modem.textsTo("+111").contains(report) && modem.textsTo("+222").contains(report));
    runUntil([] { return false; }, 300);
    QCOMPARE(modem.messages().size(), 8);
    clock.set(QDateTime(QDate(2026, 12, 10), QTime(9, 0, 1)));
    QTRY_COMPARE(modem.messages().size(), 10);
    QCOMPARE(sentTexts(modem).last(),
             QString("Vantrel OK: 0 alerts and 0 SMS since the last report, 0 failed; modems: COM1 up -73 dBm."));
}

void tst_health::statusFileIsAlwaysWhole()
{
    // The relay without its windows, killed while it writes its status
    // again and again: whoever reads the file finds a whole one.
    ProgramFolderFixture folder;
    folder.addUser("Ann", "+111", true);
    const QString mt4 = folder.addWatchedFolder("mt4");
    SimulatedModem modem({"--quiet"}, folder.path(), 1);
    QVERIFY(modem.isReady());
    for (int run = 0; run < 5; ++run) {
        QProcess host;
        QVERIFY(startRelayHost(host, folder.path()));
        writeAlerts(mt4, run * 10, run * 10 + 9);
        runUntil([] { return false; }, 150 + 97 * run);
        ::kill(pid_t(host.processId()), SIGKILL);
        QVERIFY(host.waitForFinished());
        const QJsonDocument document = QJsonDocument::fromJson(fileBytes(folder.file("Status.json")));
        QVERIFY(document.isObject());
        const QJsonObject object = document.object();
        for (const char *key : {"updated", "modems", "waiting", "retrying", "given_up_24h", "last_alert"})
            QVERIFY2(object.contains(key), key);
        QCOMPARE(object["modems"].toArray().size(), 1);
    }
}

QTEST_GUILESS_MAIN(tst_health)
#include "tst_health.moc"
