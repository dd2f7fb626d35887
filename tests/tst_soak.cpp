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
    SoakPlan plan;
    plan.alerts = 1500;
    plan.folders = 12;
    plan.onDuty = 2;
    plan.tickMs = 20;
    plan.timeUnitMs = 80;
    plan.timeLimitMs = 240000;
    plan.modemOptions = {QStringLiteral("--seed"),        QStringLiteral("5"),
                         QStringLiteral("--reject-rate"), QStringLiteral("0.03"),
                         QStringLiteral("--silent-rate"), QStringLiteral("0.004"),
                         QStringLiteral("--split-rate"),  QStringLiteral("0.1"),
                         QStringLiteral("--hangup-rate"), QStringLiteral("0.002"),
                         QStringLiteral("--reopen-ms"),   QStringLiteral("50")};
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
