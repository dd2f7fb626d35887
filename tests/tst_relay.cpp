// Alerts end to end: robots' files in real watched folders, a real
// Config.mdb, the real polling timer, the outbox, and the modem simulator on
// a pseudo-terminal: every on-duty phone served once, failed SMS tried again
// and given up, LOG rows that wait for the database, and long and non-Latin
// alerts that arrive as written. (A refused SMS that goes out on a later
// try: retryAfterTheRealWait here, and tst_mainwindow.)

#include "store/CodePage.h"
#include "store/UpdateCom.h"
#include "support/LockHolder.h"
#include "support/ProgramFolderFixture.h"
#include "support/Readback.h"
#include "support/ScriptedMessageBoxes.h"
#include "support/SimulatedModem.h"
#include "support/TestRelay.h"

#include <QElapsedTimer>
#include <QStringEncoder>
#include <QtTest>

class tst_relay : public QObject
{
    Q_OBJECT

private slots:
    void alertsReachEveryOnDutyPhoneOnce();
    void refusedSmsAreGivenUp();
    void retryAfterTheRealWait();
    void logRowsWaitForTheDatabase();
    void longAndNonLatinAlertsArriveAsWritten();
};

void tst_relay::alertsReachEveryOnDutyPhoneOnce()
{
    ProgramFolderFixture folder;
    folder.addUser("Ann", "+111", true);
    folder.addUser("Bob", "+222", false);
    folder.addUser("Cid", "+333", true);
    const QString a = folder.addWatchedFolder("terminal-a");
    const QString b = folder.addWatchedFolder("terminal-b");
    SimulatedModem modem({"--quiet", "--split-rate", "0.5", "--seed", "9"}, folder.path(), 1);
    QVERIFY(modem.isReady());
    writeAlerts(a, 1, 7);
    writeAlerts(b, 8, 12);

    TestRelay relay;
    QVERIFY(relay.waitUntilIdle(60000));
    QTest::qWait(300); // further ticks find nothing and send nothing

    // Record by record, every on-duty recipient in table order, then the
    // record's LOG row. (The folders taken in turn: tst_intake.)
    const QList<SimulatedModem::Sms> sent = modem.messages();
    QCOMPARE(sent.size(), 24);
    QStringList texts;
    for (int i = 0; i < 12; ++i) {
        QCOMPARE(sent[2 * i].number, QString("+111"));
        QCOMPARE(sent[2 * i + 1].number, QString("+333"));
        QCOMPARE(sent[2 * i + 1].text, sent[2 * i].text);
        texts << sent[2 * i].text;
    }
    QCOMPARE(folder.loggedMessages(), texts);
    QVERIFY(!relay.pageLog().text().contains("Bob"));
    QCOMPARE(fileBytes(folder.file("ALARM1.csv")).count("\r\n"), 24);
    QCOMPARE(folder.outboxRows("SELECT count(*) FROM sms WHERE state = 'sent'").first().first().toInt(), 24);
}

void tst_relay::refusedSmsAreGivenUp()
{
    ProgramFolderFixture folder;
    const QString a = folder.addWatchedFolder("terminal-a");
    // The network refuses Bob's number for good.
    SimulatedModem modem({"--quiet", "--reject", "+222"}, folder.path(), 1);
    TestRelay relay;
    relay.setRetryDelays({400, 400, 400, 400});
    QSignalSpy counts(&relay, &AlertRelay::deliveryChanged);
    QSignalSpy gaveUp(&relay, &AlertRelay::gaveUp);

    // Bob and Cid, put on duty while the relay runs, are sent the next
    // alert. Bob's SMS never goes: tried five times, then given up, said
    // once; Cid's does not wait for those tries.
    folder.addUser("Bob", "+222", true);
    folder.addUser("Cid", "+333", true);
    relay.recipients().GetPhoneNo();
    writeAlerts(a, 1, 1);
    QVERIFY(relay.waitUntilIdle());
    const QString log = relay.pageLog().text();
    QCOMPARE(log.count("Not sent to Bob (+222)"), 1);
    QCOMPARE(log.count("Given up sending to Bob (+222) after 5 tries: +CMS ERROR: 500"), 1);
    QVERIFY(log.indexOf("Sending to Cid (+333)") < log.indexOf("Given up sending to Bob"));
    QCOMPARE(modem.messages().size(), 1);
    QCOMPARE(gaveUp.size(), 1);
    QCOMPARE(folder.outboxRows("SELECT state, tries FROM sms WHERE name = 'Bob'").first(), QVariantList({"failed", 5}));
    QVERIFY(!counts.isEmpty() && counts.first() == QVariantList({1, 0}));
    QCOMPARE(counts.last(), QVariantList({0, 1}));
    QCOMPARE(relay.deliveryCounts().givenUp, 1);
}

void tst_relay::retryAfterTheRealWait()
{
    // The first retry, after its real 30 seconds.
    ProgramFolderFixture folder;
    folder.addUser("Ann", "+111", true);
    const QString a = folder.addWatchedFolder("terminal-a");
    SimulatedModem modem({"--quiet", "--reject-for", "+111:20000"}, folder.path(), 1);
    TestRelay relay;
    writeAlerts(a, 1, 1);
    QTRY_VERIFY_WITH_TIMEOUT(relay.pageLog().text().contains("Not sent to Ann (+111)"), 10000);
    QElapsedTimer clock;
    clock.start();
    QTRY_COMPARE_WITH_TIMEOUT(modem.messages().size(), 1, 45000);
    QVERIFY2(clock.elapsed() > 28000, qPrintable(QString::number(clock.elapsed())));
    // Said once the modem's answer is in.
    QTRY_COMPARE(relay.pageLog().text().count("Sending to Ann (+111)"), 1);
}

void tst_relay::logRowsWaitForTheDatabase()
{
    ProgramFolderFixture folder;
    folder.addUser("Ann", "+111", true);
    const QString a = folder.addWatchedFolder("terminal-a");
    SimulatedModem modem({"--quiet"}, folder.path(), 1);
    auto relay = std::make_unique<TestRelay>();

    // A lock shorter than the busy wait is waited out.
    {
        LockHolder holder(folder.databasePath(), std::chrono::milliseconds(1000));
        QVERIFY(holder.locked());
        writeAlerts(a, 1, 1, "short lock");
        QVERIFY(relay->waitUntilIdle());
    }
    QVERIFY(!relay->pageLog().text().contains("LOG row not written"));

    // Another program holds Config.mdb locked: the alerts still go out at
    // once, their LOG rows wait in the outbox, said once.
    auto holder = std::make_unique<LockHolder>(folder.databasePath());
    QVERIFY(holder->locked());
    writeAlerts(a, 2, 3, "long lock");
    QTRY_COMPARE_WITH_TIMEOUT(modem.messages().size(), 3, 20000);
    QTRY_COMPARE_WITH_TIMEOUT(folder.outboxRows("SELECT count(*) FROM alert WHERE logged = 0").first().first().toInt(),
                              2, 20000);
    QCOMPARE(relay->pageLog().text().count("LOG row not written"), 1);
    QVERIFY(relay->pageLog().text().contains("database is locked"));

    // The program ends during the lock and starts again after it: the rows
    // are written, in order, and nothing is sent again.
    relay.reset();
    holder.reset();
    relay = std::make_unique<TestRelay>();
    QVERIFY(relay->waitUntilIdle());
    QCOMPARE(folder.loggedMessages(), QStringList({"short lock 1", "long lock 2", "long lock 3"}));
    QCOMPARE(modem.messages().size(), 3);

    // A row that reached LOG just before the program stopped, before the
    // outbox learnt it, is found there on the next start and not written twice.
    relay.reset();
    folder.execOutbox("UPDATE alert SET logged = 0 WHERE message = 'long lock 3'");
    relay = std::make_unique<TestRelay>();
    QVERIFY(relay->waitUntilIdle());
    QCOMPARE(folder.loggedMessages(), QStringList({"short lock 1", "long lock 2", "long lock 3"}));
}

void tst_relay::longAndNonLatinAlertsArriveAsWritten()
{
    ProgramFolderFixture folder;
    folder.addUser("Ann", "+111", true);
    const QString ascii = folder.addWatchedFolder("ascii");
    const QString cyrillic = folder.addWatchedFolder("cyrillic");
    const QString utf8 = folder.addWatchedFolder("utf8");
    CodePage::save("windows-1251"); // the desk's terminals write Cyrillic
    // Part 2 of a long message is refused the first time it is offered.
    SimulatedModem modem({"--reject-part", "2"}, folder.path(), 1);

    const QString longText = QString("Gold broke out. ").repeated(25); // 400 characters
    const QString russian = QString::fromUtf8("Курс рубля упал: продать");
    const QString rocket = QString::fromUtf8("BTC 🚀 up, café");
    QStringEncoder cp1251("windows-1251");
    writeFile(MT4Paths::alertFile(ascii), "L|1|EA|T|" + longText.toLatin1() + "\r\n");
    const QByteArray russianBytes = cp1251.encode(russian);
    writeFile(MT4Paths::alertFile(cyrillic), "L|2|EA|T|" + russianBytes + "\r\n");
    writeFile(MT4Paths::alertFile(utf8), "L|3|EA|T|" + rocket.toUtf8() + "\r\n");

    TestRelay relay;
    relay.setRetryDelays({200, 200, 200, 200});
    QVERIFY(relay.waitUntilIdle());
    QHash<QString, SimulatedModem::Sms> arrived;
    for (const SimulatedModem::Sms &sms : modem.messages())
        arrived.insert(sms.text, sms);
    QCOMPARE(arrived.size(), 3);
    QCOMPARE(arrived.value(longText).parts, 3);
    QVERIFY(arrived.contains(russian) && arrived.contains(rocket));
    QStringList logged = folder.loggedMessages();
    logged.sort();
    QStringList written = {longText, russian, rocket};
    written.sort();
    QCOMPARE(logged, written);

    // The refused part alone was offered again, once; the others once.
    const QString log = modem.log();
    QCOMPARE(log.count("part 1 of 3"), 1);
    QCOMPARE(log.count("part 2 of 3"), 2);
    QCOMPARE(log.count("part 3 of 3"), 1);
    QCOMPARE(relay.pageLog().text().count("Not sent to Ann (+111): +CMS ERROR: 500"), 1);
    QVERIFY(relay.pageLog().text().contains("Message: " + russian + "\r\n"));
    // The history keeps the robot's own bytes.
    const QByteArray lines = fileBytes(folder.file("ALARM1.csv"));
    QVERIFY(lines.contains("Ann (+111)*** " + russianBytes + "\r\n"));
    QVERIFY(lines.contains("Ann (+111)*** " + rocket.toUtf8() + "\r\n"));
}

QTEST_GUILESS_MAIN(tst_relay)
#include "tst_relay.moc"
