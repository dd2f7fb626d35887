// A robot in a loop: its repeats collapsed into one count per window, sent
// to those who got the first, while a distinct alert of another robot goes
// through at once; through the real relay, a real outbox and Config.mdb, and
// the modem simulator on a pseudo-terminal.

#include "pickup/PhonePace.h"
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
    void pacePerPhoneWithDigests();
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

void tst_flood::pacePerPhoneWithDigests()
{
    ProgramFolderFixture folder;
    folder.addUser("Ann", "+111", true);
    folder.addUser("Bob", "+222", true);
    const QString robots = folder.addWatchedFolder("terminal-a");
    FloodOptions::storePace({10, 10});
    SimulatedModem modem({"--quiet"}, folder.path(), 1);
    QVERIFY(modem.isReady());
    const QDateTime start = QDateTime::currentDateTimeUtc();
    TestClock clock(start);
    writeAlerts(robots, 1, 40);
    QStringList first;
    for (int i = 1; i <= 10; ++i)
        first << QString("Alert %1").arg(i);
    const auto names = [](int from, int to) {
        QStringList list;
        for (int i = from; i <= to; ++i)
            list << QString("EA%1 Title %1").arg(i);
        return list.join("; ");
    };
    {
        TestRelay relay(300);
        QVERIFY(relay.pace().on());
        QVERIFY(relay.waitUntilIdle(30000));
        // Ten each at once; the other thirty wait, each with its LOG row.
        for (const QString number : {"+111", "+222"})
            QCOMPARE(textsTo(modem, number), first);
        QCOMPARE(folder.loggedMessages().size(), 40);

        // Five minutes on: one digest each naming all thirty.
        clock.set(start.addSecs(5 * 60 + 1));
        QVERIFY(runUntil([&] { return modem.messages().size() == 22; }, 20000));
        for (const QString number : {"+111", "+222"})
            QCOMPARE(textsTo(modem, number), first + QStringList{"30 more alerts: " + names(11, 40)});

        // More within the pace's window wait for the next digest; the
        // relay's own notices are never held.
        clock.set(start.addSecs(6 * 60));
        writeAlerts(robots, 41, 45);
        QVERIFY(relay.waitUntilIdle(20000));
        relay.sendNotice("Vantrel: a notice");
        QVERIFY(runUntil([&] { return modem.messages().size() == 24; }, 20000));
        QCOMPARE(textsTo(modem, "+111").last(), QString("Vantrel: a notice"));
    }
    // A restart between two digests loses none of those held.
    clock.set(start.addSecs(10 * 60 + 2));
    {
        TestRelay relay(300);
        QVERIFY(runUntil([&] { return modem.messages().size() == 26; }, 20000));
        QVERIFY(relay.waitUntilIdle(20000));
        for (const QString number : {"+111", "+222"})
            QCOMPARE(textsTo(modem, number).last(), "5 more alerts: " + names(41, 45));
        QCOMPARE(relay.pageLog().text().count("Digest of 5 alerts"), 2);
        // The window has passed: the next alert goes at once.
        clock.set(start.addSecs(21 * 60));
        writeAlerts(robots, 46, 46);
        QVERIFY(runUntil([&] { return modem.messages().size() == 28; }, 20000));
        QCOMPARE(textsTo(modem, "+222").last(), QString("Alert 46"));
    }

    // What does not fit four parts is counted, not dropped.
    Outbox::Digest many;
    for (int i = 0; i < 200; ++i)
        many.alerts.append({QString("Robot%1").arg(i), "Price alert"});
    const QString text = PhonePace::digestText(many);
    QVERIFY(text.startsWith("200 more alerts: Robot0 Price alert; "));
    QVERIFY(text.size() <= 4 * 153);
    QVERIFY(text.contains(QRegularExpression("; and \\d+ more, see the desk$")));
    const int named = int(text.count("Price alert"));
    QVERIFY(text.endsWith(QString("and %1 more, see the desk").arg(200 - named)));
}

QTEST_GUILESS_MAIN(tst_flood)
#include "tst_flood.moc"
