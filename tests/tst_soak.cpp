// The whole relay under a long run of alerts with a modem that misbehaves at
// random: every alert logged once, every accepted SMS wanted and accepted
// once, every refusal in the trace, nothing left in the folders.

#include "soak/SoakRun.h"

#include <QTest>

class tst_soak : public QObject
{
    Q_OBJECT

private slots:
    void thousandsOfAlertsWithAnUnreliableModem();
};

void tst_soak::thousandsOfAlertsWithAnUnreliableModem()
{
    SoakPlan plan; // 1500 alerts into 12 folders, a tick of 20 ms
    plan.onDuty = 2;
    plan.timeUnitMs = 80;
    plan.timeLimitMs = 240000;
    plan.modemOptions = QStringLiteral("--seed 5 --reject-rate 0.03 --silent-rate 0.004 --split-rate 0.1 "
                                       "--hangup-rate 0.002 --reopen-ms 50")
                            .split(QLatin1Char(' '));
    const SoakOutcome outcome = runSoak(plan);
    qInfo().noquote() << outcome.summary();
    QVERIFY2(outcome.problems.isEmpty(), qPrintable(outcome.problems.join(QLatin1Char('\n'))));
    // The run really met every kind of trouble it is meant to survive.
    QVERIFY(outcome.refusedByModem > 0);
    QVERIFY(outcome.timeouts > 0);
    QVERIFY(outcome.hangUps > 0);
    QVERIFY(outcome.accepted > plan.alerts);
}

QTEST_GUILESS_MAIN(tst_soak)
#include "tst_soak.moc"
