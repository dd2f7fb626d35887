// A robot in a loop: its repeats collapsed into one count per window, sent
// to those who got the first, while a distinct alert of another robot goes
// through at once; through the real relay, a real outbox and Config.mdb, and
// the modem simulator on a pseudo-terminal.

#include "store/FloodOptions.h"
#include "support/ProgramFolderFixture.h"
#include "support/RunUntil.h"
#include "support/SimulatedModem.h"
#include "support/TestClock.h"
#include "support/TestRelay.h"

#include <QtTest>

namespace {

const QString Repeated = QStringLiteral("EURUSD crossed 1.1000");

// `count` identical alerts of one robot, each with its own time field.
void writeRepeats(const QString &folder, int from, int count)
{
    QByteArray bytes;
    for (int i = from; i < from + count; ++i)
        bytes += QStringLiteral("L|10:%1:%2|Looper|Cross|%3\r\n")
                     .arg(i / 60 % 60, 2, 10, QLatin1Char('0'))
                     .arg(i % 60, 2, 10, QLatin1Char('0'))
                     .arg(Repeated)
                     .toLatin1();
    writeFile(MT4Paths::alertFile(folder), bytes, QIODevice::WriteOnly | QIODevice::Append);
}

// The texts one phone got, in order.
QStringList textsTo(const SimulatedModem &modem, const QString &number)
{
    QStringList texts;
    for (const SimulatedModem::Sms &sms : modem.messages()) {
        if (sms.number == number)
            texts << sms.text;
    }
    return texts;
}

} // namespace

class tst_flood : public QObject
{
    Q_OBJECT

private slots:
    void repeatsCollapsed();
    void withoutSettingsEveryRepeatIsSent();
};

void tst_flood::repeatsCollapsed()
{
    ProgramFolderFixture folder;
    folder.addUser("Ann", "+111", true);
    folder.addUser("Bob", "+222", true);
    const QString looper = folder.addWatchedFolder("terminal-a");
    const QString other = folder.addWatchedFolder("terminal-b");
    FloodOptions::storeCollapse(10);
    SimulatedModem modem({"--quiet"}, folder.path(), 1);
    QVERIFY(modem.isReady());
    const QDateTime start = QDateTime::currentDateTimeUtc();
    TestClock clock(start);
    const QString since = start.toLocalTime().toString("HH:mm");
    writeRepeats(looper, 0, 500);
    writeFile(MT4Paths::alertFile(other), "L|10:09:00|Guard|Stop|Close GBPUSD now\r\n");

    {
        TestRelay relay(300);
        QCOMPARE(relay.repeats().windowMinutes(), 10);
        QVERIFY(relay.waitUntilIdle(60000));
        // The first repeat at once, the distinct alert right after it, and
        // nothing else of the flood while its window lasts.
        for (const QString number : {"+111", "+222"})
            QCOMPARE(textsTo(modem, number), (QStringList{Repeated, "Close GBPUSD now"}));
        // Every alert has its LOG row, in the order they were written.
        QStringList logged(500, Repeated);
        logged << "Close GBPUSD now";
        QCOMPARE(folder.loggedMessages(), logged);

        // The robot goes on within the window; the program stops meanwhile.
        writeRepeats(looper, 500, 100);
        clock.set(start.addSecs(5 * 60));
        QVERIFY(relay.waitUntilIdle(20000));
        QCOMPARE(modem.messages().size(), 4);
        relay.stop();
        QVERIFY(runUntil([&] { return relay.stopped() && !relay.sending(); }, 5000));
    }
    writeRepeats(looper, 600, 50);
    clock.set(start.addSecs(9 * 60));
    {
        // The next start counts them in the same run and sends none.
        TestRelay relay(300);
        QVERIFY(relay.waitUntilIdle(20000));
        QCOMPARE(modem.messages().size(), 4);
        QVERIFY(!relay.pageLog().text().contains("Collapsed"));

        // The window ends: one SMS with the count, to each who got the first;
        // one page log line.
        clock.set(start.addSecs(10 * 60 + 1));
        QVERIFY(runUntil([&] { return modem.messages().size() == 6; }, 20000));
        QVERIFY(relay.waitUntilIdle(20000));
        const QString count = QString("Repeated 649 times since %1: %2").arg(since, Repeated);
        for (const QString number : {"+111", "+222"})
            QCOMPARE(textsTo(modem, number), (QStringList{Repeated, "Close GBPUSD now", count}));
        QCOMPARE(relay.pageLog().text().count("Collapsed 649 repeats of Looper: Cross"), 1);
        QCOMPARE(folder.loggedMessages().size(), 651);
    }
    {
        // Told once: a start after it tells nothing again; a repeat after
        // the window is a first again.
        TestRelay relay(300);
        writeRepeats(looper, 700, 1);
        QVERIFY(relay.waitUntilIdle(20000));
        QTest::qWait(200);
        QCOMPARE(modem.messages().size(), 8);
        QCOMPARE(textsTo(modem, "+111").last(), Repeated);
    }
}

void tst_flood::withoutSettingsEveryRepeatIsSent()
{
    // A Config.mdb that never chose collapsing sends every alert as before.
    ProgramFolderFixture folder;
    folder.addUser("Ann", "+111", true);
    folder.addUser("Bob", "+222", true);
    const QString looper = folder.addWatchedFolder("terminal-a");
    SimulatedModem modem({"--quiet"}, folder.path(), 1);
    QVERIFY(modem.isReady());
    writeRepeats(looper, 0, 500);
    TestRelay relay(300);
    QCOMPARE(relay.repeats().windowMinutes(), 0);
    QVERIFY(relay.waitUntilIdle(180000));
    QCOMPARE(textsTo(modem, "+111"), QStringList(500, Repeated));
    QCOMPARE(textsTo(modem, "+222"), QStringList(500, Repeated));
    QCOMPARE(folder.loggedMessages().size(), 500);
}

QTEST_GUILESS_MAIN(tst_flood)
#include "tst_flood.moc"
