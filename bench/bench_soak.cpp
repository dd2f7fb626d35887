// The long soak: the same run as the soak test, bigger. Every figure of the
// run is printed; the verdict is whether every alert, SMS and refusal was
// accounted for. Modem options after "--" replace the default misbehaviour.

#include "soak/SoakRun.h"
#include "support/BenchReport.h"

#include <QCoreApplication>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    SoakPlan plan;
    plan.alerts = Bench::intOption(arguments, QStringLiteral("--alerts"), 20000);
    plan.folders = Bench::intOption(arguments, QStringLiteral("--folders"), 21);
    plan.onDuty = Bench::intOption(arguments, QStringLiteral("--on-duty"), 3);
    plan.tickMs = Bench::intOption(arguments, QStringLiteral("--tick-ms"), 20);
    plan.timeUnitMs = Bench::intOption(arguments, QStringLiteral("--time-unit-ms"), 100);
    plan.seed = quint32(Bench::intOption(arguments, QStringLiteral("--seed"), 11));
    plan.timeLimitMs = 3600000;
    const qsizetype dashes = arguments.indexOf(QStringLiteral("--"));
    if (dashes >= 0)
        plan.modemOptions = arguments.mid(dashes + 1);
    else
        plan.modemOptions = {QStringLiteral("--reject-rate"), QStringLiteral("0.03"),
                             QStringLiteral("--silent-rate"), QStringLiteral("0.004"),
                             QStringLiteral("--split-rate"),  QStringLiteral("0.3"),
                             QStringLiteral("--hangup-rate"), QStringLiteral("0.004"),
                             QStringLiteral("--reopen-ms"),   QStringLiteral("50")};

    Bench::heading(
        QStringLiteral("long soak"),
        QStringLiteral("%1 alerts from a robot thread into %2 watched folders, %3 on-duty users; tick %4 ms, "
                       "time-out %5 ms; vantrel-modemsim %6")
            .arg(plan.alerts)
            .arg(plan.folders)
            .arg(plan.onDuty)
            .arg(plan.tickMs)
            .arg(plan.timeUnitMs)
            .arg(plan.modemOptions.join(QLatin1Char(' '))));
    const SoakOutcome outcome = runSoak(plan);
    std::printf("%s\n", qPrintable(outcome.summary()));
    for (const QString &problem : outcome.problems)
        std::printf("problem: %s\n", qPrintable(problem));
    Bench::note(QStringLiteral("long soak"), QStringLiteral("sends / accepted / refused / time-outs"),
                QStringLiteral("%1 / %2 / %3 / %4")
                    .arg(outcome.sends)
                    .arg(outcome.accepted)
                    .arg(outcome.refusedByModem)
                    .arg(outcome.timeouts));
    Bench::note(QStringLiteral("long soak"), QStringLiteral("RSS start / end"),
                QStringLiteral("%1 / %2 MB")
                    .arg(double(outcome.rssStartKb) / 1024, 0, 'f', 1)
                    .arg(double(outcome.rssEndKb) / 1024, 0, 'f', 1));
    Bench::result(QStringLiteral("long soak"), QStringLiteral("alerts, SMS and refusals accounted for"),
                  QStringLiteral("%1 problems in %2 s").arg(outcome.problems.size()).arg(outcome.seconds, 0, 'f', 0),
                  QStringLiteral("0 problems"), outcome.problems.isEmpty());
    return outcome.problems.isEmpty() ? 0 : 1;
}
