// When a modem's down and up alarms go out: the first change at once, those
// that follow within the quiet time as one summary at its end.

#include "route/AlarmThrottle.h"
#include "support/RunUntil.h"
#include "support/TestClock.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QtTest>

namespace {

struct Alarm {
    qint64 at = 0; // ms since the test began
    QString text;
};

// Every alarm the throttle gives, with when it gave it.
class Alarms : public QObject
{
public:
    explicit Alarms(AlarmThrottle &throttle)
    {
        m_since.start();
        connect(&throttle, &AlarmThrottle::alarm, this, [this](const QString &text) {
            m_alarms << Alarm{m_since.elapsed(), text};
        });
    }

    qsizetype count() const { return m_alarms.size(); }
    QStringList texts() const
    {
        QStringList all;
        for (const Alarm &alarm : m_alarms)
            all << alarm.text;
        return all;
    }
    QList<Alarm> of(const QString &modem) const
    {
        QList<Alarm> found;
        for (const Alarm &alarm : m_alarms) {
            if (alarm.text.startsWith(QStringLiteral("Vantrel: modem %1 ").arg(modem)))
                found << alarm;
        }
        return found;
    }

private:
    QElapsedTimer m_since;
    QList<Alarm> m_alarms;
};

QDateTime at(int hour, int minute)
{
    return QDateTime(QDate(2024, 3, 5), QTime(hour, minute));
}

void pause(int ms)
{
    runUntil([] { return false; }, ms);
}

// How many times an alarm says the modem went down; -1 for a text that
// reads as none of the three.
int downsTold(const QString &text)
{
    static const QRegularExpression Down(QStringLiteral("^Vantrel: modem \\w+ is down: .+$"));
    static const QRegularExpression Up(QStringLiteral("^Vantrel: modem \\w+ is up again$"));
    static const QRegularExpression Summary(
        QStringLiteral("^Vantrel: modem \\w+ went down (once|(\\d+) times) since \\d\\d:\\d\\d, now (up|down: .+)$"));
    if (Down.match(text).hasMatch())
        return 1;
    if (Up.match(text).hasMatch())
        return 0;
    const QRegularExpressionMatch summary = Summary.match(text);
    if (!summary.hasMatch())
        return -1;
    return summary.captured(1) == QLatin1String("once") ? 1 : summary.captured(2).toInt();
}

} // namespace

class tst_alarms : public QObject
{
    Q_OBJECT

private slots:
    void oneModem();
    void flappingModem();
    void modemsApart();
};

void tst_alarms::oneModem()
{
    TestClock clock(at(10, 39));
    AlarmThrottle throttle;
    constexpr int QuietMs = 300;
    throttle.setQuietMs(QuietMs);
    Alarms alarms(throttle);

    // A quiet modem's change is told at once, with the words it has always had.
    throttle.down(QStringLiteral("COM2"), QStringLiteral("no such device"));
    QCOMPARE(alarms.texts(), QStringList{QStringLiteral("Vantrel: modem COM2 is down: no such device")});
    // A second word of the same state is no change.
    throttle.down(QStringLiteral("COM2"), QStringLiteral("no such device"));
    pause(QuietMs + 150);
    QCOMPARE(alarms.count(), 1);
    throttle.up(QStringLiteral("COM2"));
    QCOMPARE(alarms.count(), 2);
    QCOMPARE(alarms.texts().last(), QStringLiteral("Vantrel: modem COM2 is up again"));

    // Held back in the quiet time: the first held change names the time,
    // the last one the state and its reason.
    clock.set(at(10, 41));
    throttle.down(QStringLiteral("COM2"), QStringLiteral("no answer"));
    clock.set(at(10, 42));
    throttle.up(QStringLiteral("COM2"));
    clock.set(at(10, 43));
    throttle.down(QStringLiteral("COM2"), QStringLiteral("SIM not inserted"));
    QCOMPARE(alarms.count(), 2);
    QVERIFY(runUntil([&] { return alarms.count() == 3; }, QuietMs + 2000));
    QCOMPARE(alarms.texts().last(),
             QStringLiteral("Vantrel: modem COM2 went down 2 times since 10:41, now down: SIM not inserted"));

    // Only its coming back held: told as such.
    throttle.up(QStringLiteral("COM2"));
    QVERIFY(runUntil([&] { return alarms.count() == 4; }, QuietMs + 2000));
    QCOMPARE(alarms.texts().last(), QStringLiteral("Vantrel: modem COM2 is up again"));

    // Down and back within the quiet time, the same as last told: it flapped.
    throttle.down(QStringLiteral("COM2"), QStringLiteral("no answer"));
    throttle.up(QStringLiteral("COM2"));
    QVERIFY(runUntil([&] { return alarms.count() == 5; }, QuietMs + 2000));
    QCOMPARE(alarms.texts().last(), QStringLiteral("Vantrel: modem COM2 went down once since 10:43, now up"));

    // Nothing repeats once nothing changes; then the next change goes at once.
    pause(2 * QuietMs + 150);
    QCOMPARE(alarms.count(), 5);
    throttle.down(QStringLiteral("COM2"), QStringLiteral("no carrier"));
    QCOMPARE(alarms.count(), 6);
    QCOMPARE(alarms.texts().last(), QStringLiteral("Vantrel: modem COM2 is down: no carrier"));
}

void tst_alarms::flappingModem()
{
    TestClock clock(at(10, 40));
    AlarmThrottle throttle;
    constexpr int QuietMs = 400;
    throttle.setQuietMs(QuietMs);
    Alarms alarms(throttle);

    // Down and up twenty times in a second.
    constexpr int Downs = 20;
    QElapsedTimer flapping;
    flapping.start();
    for (int i = 0; i < Downs; ++i) {
        throttle.down(QStringLiteral("COM2"), QStringLiteral("no answer"));
        pause(25);
        throttle.up(QStringLiteral("COM2"));
        pause(25);
    }
    const qint64 flappedMs = flapping.elapsed();
    // Its last summary is due within a quiet time; nothing comes after.
    pause(2 * QuietMs + 200);

    const QList<Alarm> told = alarms.of(QStringLiteral("COM2"));
    QCOMPARE(told.size(), alarms.count());
    QCOMPARE(told.first().text, QStringLiteral("Vantrel: modem COM2 is down: no answer"));
    // The first at once, then at most one a quiet time while it flapped and one after.
    QVERIFY2(told.size() >= 2 && told.size() <= 2 + flappedMs / QuietMs,
             qPrintable(alarms.texts().join(QLatin1Char('\n'))));
    int downs = 0;
    for (qsizetype i = 0; i < told.size(); ++i) {
        const int said = downsTold(told[i].text);
        QVERIFY2(said >= 0, qPrintable(told[i].text));
        downs += said;
        // No two alarms within one quiet time (a precise timer ends none
        // early; the slack is the clocks' rounding).
        if (i > 0)
            QVERIFY2(told[i].at - told[i - 1].at >= QuietMs - 2, qPrintable(alarms.texts().join(QLatin1Char('\n'))));
    }
    QCOMPARE(downs, Downs);
    QVERIFY2(told.last().text.endsWith(QLatin1String("now up")) || told.last().text.endsWith(QLatin1String("up again")),
             qPrintable(told.last().text));
    QVERIFY2(told[1].text.contains(QLatin1String(" since 10:40, ")), qPrintable(told[1].text));
}

void tst_alarms::modemsApart()
{
    TestClock clock(at(10, 40));
    AlarmThrottle throttle;
    constexpr int QuietMs = 400;
    throttle.setQuietMs(QuietMs);
    Alarms alarms(throttle);

    throttle.down(QStringLiteral("COM1"), QStringLiteral("no answer"));
    throttle.up(QStringLiteral("COM1"));
    throttle.down(QStringLiteral("COM1"), QStringLiteral("no answer"));
    // COM1's quiet time holds nothing of COM2's.
    throttle.down(QStringLiteral("COM2"), QStringLiteral("no such device"));
    QCOMPARE(alarms.texts(), (QStringList{QStringLiteral("Vantrel: modem COM1 is down: no answer"),
                                          QStringLiteral("Vantrel: modem COM2 is down: no such device")}));
    throttle.up(QStringLiteral("COM2"));
    QVERIFY(runUntil([&] { return alarms.count() == 4; }, QuietMs + 2000));
    QCOMPARE(alarms.of(QStringLiteral("COM1")).last().text,
             QStringLiteral("Vantrel: modem COM1 went down once since 10:40, now down: no answer"));
    QCOMPARE(alarms.of(QStringLiteral("COM2")).last().text, QStringLiteral("Vantrel: modem COM2 is up again"));

    // COM2 quiet again goes at once while COM1 is still in its quiet time.
    pause(QuietMs + 100);
    throttle.up(QStringLiteral("COM1"));
    QCOMPARE(alarms.count(), 5);
    throttle.down(QStringLiteral("COM1"), QStringLiteral("no answer"));
    throttle.down(QStringLiteral("COM2"), QStringLiteral("no carrier"));
    QCOMPARE(alarms.count(), 6);
    QCOMPARE(alarms.texts().last(), QStringLiteral("Vantrel: modem COM2 is down: no carrier"));
    QVERIFY(runUntil([&] { return alarms.count() == 7; }, QuietMs + 2000));
    QCOMPARE(alarms.texts().last(),
             QStringLiteral("Vantrel: modem COM1 went down once since 10:40, now down: no answer"));
}

QTEST_GUILESS_MAIN(tst_alarms)
#include "tst_alarms.moc"
