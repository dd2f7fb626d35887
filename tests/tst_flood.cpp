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

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
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

} // namespace

class tst_flood : public QObject
{
    Q_OBJECT

private slots:
    void repeatsCollapsed();
    void withoutSettingsEveryRepeatIsSent();
    void pacePerPhoneWithDigests();
    void floodingRobotNamed();
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
        QVERIFY(runUntil([&] { return modem.messages().size() == 6; }, 20000));
        // The first repeat at once, the distinct alert right after it, the
        // robot named, and nothing else of the flood while its window lasts.
        const QString alarm = QString("Vantrel: Robot Looper in %1 wrote 500 alerts in 10 minutes; repeats are "
                                      "collapsed")
                                  .arg(QDir::toNativeSeparators(looper));
        for (const QString number : {"+111", "+222"})
            QCOMPARE(modem.textsTo(number), (QStringList{Repeated, "Close GBPUSD now", alarm}));
        // Every alert has its LOG row, in the order they were written.
        QStringList logged(500, Repeated);
        logged << "Close GBPUSD now";
        QCOMPARE(folder.loggedMessages(), logged);

        // The robot goes on within the window; the program stops meanwhile.
        writeRepeats(looper, 500, 100);
        clock.set(start.addSecs(5 * 60));
        QVERIFY(relay.waitUntilIdle(20000));
        QCOMPARE(modem.messages().size(), 6);
        relay.stop();
        QVERIFY(runUntil([&] { return relay.stopped() && !relay.sending(); }, 5000));
    }
    writeRepeats(looper, 600, 50);
    clock.set(start.addSecs(9 * 60));
    {
        // The next start counts them in the same run and sends none.
        TestRelay relay(300);
        QVERIFY(relay.waitUntilIdle(20000));
        QTest::qWait(1100); // the robot is looked at again, told already
        relay.cycle();
        QCOMPARE(modem.messages().size(), 6);
        QVERIFY(!relay.pageLog().text().contains("Collapsed"));

        // The window ends: one SMS with the count, to each who got the first;
        // one page log line.
        clock.set(start.addSecs(10 * 60 + 1));
        QVERIFY(runUntil([&] { return modem.messages().size() == 8; }, 20000));
        QVERIFY(relay.waitUntilIdle(20000));
        const QString count = QString("Repeated 649 times since %1: %2").arg(since, Repeated);
        for (const QString number : {"+111", "+222"})
            QCOMPARE(modem.textsTo(number).mid(0, 2), (QStringList{Repeated, "Close GBPUSD now"}));
        for (const QString number : {"+111", "+222"})
            QCOMPARE(modem.textsTo(number).last(), count);
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
        QCOMPARE(modem.messages().size(), 10);
        QCOMPARE(modem.textsTo("+111").last(), Repeated);
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
    QCOMPARE(modem.textsTo("+111"), QStringList(500, Repeated));
    QCOMPARE(modem.textsTo("+222"), QStringList(500, Repeated));
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
            QCOMPARE(modem.textsTo(number), first);
        QCOMPARE(folder.loggedMessages().size(), 40);

        // Five minutes on: one digest each naming all thirty.
        clock.set(start.addSecs(5 * 60 + 1));
        QVERIFY(runUntil([&] { return modem.messages().size() == 22; }, 20000));
        for (const QString number : {"+111", "+222"})
            QCOMPARE(modem.textsTo(number), first + QStringList{"30 more alerts: " + names(11, 40)});

        // More within the pace's window wait for the next digest; the
        // relay's own notices are never held.
        clock.set(start.addSecs(6 * 60));
        writeAlerts(robots, 41, 45);
        QVERIFY(relay.waitUntilIdle(20000));
        relay.sendNotice("Vantrel: a notice");
        QVERIFY(runUntil([&] { return modem.messages().size() == 24; }, 20000));
        QCOMPARE(modem.textsTo("+111").last(), QString("Vantrel: a notice"));
    }
    // A restart between two digests loses none of those held.
    clock.set(start.addSecs(10 * 60 + 2));
    {
        TestRelay relay(300);
        QVERIFY(runUntil([&] { return modem.messages().size() == 26; }, 20000));
        QVERIFY(relay.waitUntilIdle(20000));
        for (const QString number : {"+111", "+222"})
            QCOMPARE(modem.textsTo(number).last(), "5 more alerts: " + names(41, 45));
        QCOMPARE(relay.pageLog().text().count("Digest of 5 alerts"), 2);
        // The window has passed: the next alert goes at once.
        clock.set(start.addSecs(21 * 60));
        writeAlerts(robots, 46, 46);
        QVERIFY(runUntil([&] { return modem.messages().size() == 28; }, 20000));
        QCOMPARE(modem.textsTo("+222").last(), QString("Alert 46"));
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

void tst_flood::floodingRobotNamed()
{
    ProgramFolderFixture folder;
    folder.addUser("Ann", "+111", true);
    const QString looper = folder.addWatchedFolder("terminal-a");
    FloodOptions::storeCollapse(10);
    SimulatedModem modem({"--quiet"}, folder.path(), 1);
    QVERIFY(modem.isReady());
    const QDateTime start = QDateTime::currentDateTimeUtc();
    TestClock clock(start);
    const auto flooding = [&] {
        QFile file(folder.file("Status.json"));
        if (!file.open(QIODevice::ReadOnly))
            return QJsonArray();
        return QJsonDocument::fromJson(file.readAll()).object().value("flooding").toArray();
    };
    TestRelay relay(300);
    relay.statusFile().write();
    QVERIFY(flooding().isEmpty());
    // A hundred in ten minutes is no flood yet.
    QSignalSpy balloons(&relay, &AlertRelay::floodingRobot);
    writeRepeats(looper, 0, 100);
    QVERIFY(relay.waitUntilIdle(20000));
    QTest::qWait(1100);
    relay.cycle();
    QCOMPARE(balloons.size(), 0);

    const QString words = QString("Robot Looper in %1 wrote 150 alerts in 10 minutes; repeats are collapsed")
                              .arg(QDir::toNativeSeparators(looper));
    writeRepeats(looper, 100, 50);
    QVERIFY(runUntil([&] { return balloons.size() == 1; }, 20000));
    QCOMPARE(balloons.first().first().toString(), words);
    QVERIFY(runUntil([&] { return modem.messages().size() == 2; }, 20000));
    QCOMPARE(modem.messages().last().text, "Vantrel: " + words);
    // Said once, and once more as the SMS that went (written once the
    // modem's answer is in, a moment after the modem took it).
    QVERIFY(runUntil([&] { return relay.pageLog().text().count(words) == 2; }, 20000));
    QCOMPARE(relay.pageLog().text().count("Vantrel: " + words), 1);
    relay.statusFile().write();
    QCOMPARE(flooding().size(), 1);
    QCOMPARE(flooding().first().toObject().value("robot").toString(), QString("Looper"));
    QCOMPARE(flooding().first().toObject().value("folder").toString(), QDir::toNativeSeparators(looper));
    QCOMPARE(flooding().first().toObject().value("alerts_10min").toInt(), 150);

    // While it goes on: no second balloon, no second SMS within the hour.
    clock.set(start.addSecs(5 * 60));
    writeRepeats(looper, 150, 50);
    QVERIFY(relay.waitUntilIdle(20000));
    QTest::qWait(1100);
    relay.cycle();
    QCOMPARE(balloons.size(), 1);
    relay.statusFile().write();
    QCOMPARE(flooding().first().toObject().value("alerts_10min").toInt(), 200);

    // Ten quiet minutes later it is no longer listed.
    clock.set(start.addSecs(16 * 60));
    QTest::qWait(1100);
    relay.cycle();
    QVERIFY(relay.waitUntilIdle(20000));
    relay.statusFile().write();
    QVERIFY(flooding().isEmpty());
    QCOMPARE(balloons.size(), 1);
    // The one count of the run, and the alarm: nothing else was sent.
    QCOMPARE(modem.messages().size(), 3);
    QVERIFY(modem.messages().last().text.startsWith("Repeated 199 times since"));
}

QTEST_GUILESS_MAIN(tst_flood)
#include "tst_flood.moc"
