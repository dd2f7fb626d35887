// CPU while every modem is down: the desk's only modem has no SIM for the
// whole run, so its health rounds find it down and the relay holds what it
// takes in. 1,000 alerts are written into a watched folder and taken into
// the outbox; then the relay runs on its real 3-second tick for 30 s with
// all of them held. CPU time is this process's user + system time from
// getrusage (the simulator is a process of its own); the relay's own
// thread is measured as well. Polling cycles are counted by cycleEnded().

#include "pickup/AlertRelay.h"
#include "support/BenchDesk.h"
#include "support/BenchReport.h"
#include "support/ProgramFolderFixture.h"
#include "support/RunUntil.h"
#include "support/SimulatedModem.h"
#include "support/TestRelay.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTimer>

#include <sys/resource.h>

namespace {

// CPU time (user + system) the calling thread has used, in milliseconds.
double threadCpuMs()
{
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000.0
           + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000.0;
}

QString share(double cpuMs, double wallMs)
{
    return QStringLiteral("%1 % of a core").arg(100.0 * cpuMs / wallMs, 0, 'f', 3);
}

QString mb(qint64 kb)
{
    return QString::number(double(kb) / 1024.0, 'f', 1);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QString name = QStringLiteral("outage");
    const int seconds = Bench::intOption(app.arguments(), QStringLiteral("--seconds"), 30);
    const int alerts = Bench::intOption(app.arguments(), QStringLiteral("--alerts"), 1000);
    Bench::heading(QStringLiteral("CPU during an outage"),
                   QStringLiteral("one modem (vantrel-modemsim --no-sim) found down by its health rounds (at start "
                                  "and every 60 s), 1 on-duty user, %1 alerts written into one watched folder and "
                                  "taken into the outbox, held; then the relay on its real 3000 ms tick for %2 s; "
                                  "CPU = getrusage user+system of this process (and of the relay's thread) over wall "
                                  "time; VmRSS and VmHWM from /proc/self/status")
                       .arg(alerts)
                       .arg(seconds));

    ProgramFolderFixture program;
    const QString folder = Bench::setUpDesk(program, 1, 1).first();
    SimulatedModem modem({QStringLiteral("--quiet"), QStringLiteral("--no-sim")}, program.path(), 1);
    if (!modem.isReady())
        qFatal("the modem simulator did not start");

    AlertRelay relay;
    relay.load();
    int ticks = 0;
    int cycles = 0;
    int tries = 0;
    bool outage = false;
    QObject::connect(&relay, &AlertRelay::tickCounted, &app, [&] { ++ticks; });
    QObject::connect(&relay, &AlertRelay::cycleEnded, &app, [&] { ++cycles; });
    QObject::connect(&relay, &AlertRelay::outageBegan, &app, [&] { outage = true; });
    QObject::connect(&relay.reporter(), &SmsReporter::smsTried, &app, [&] { ++tries; });
    relay.start();
    if (!runUntil([&] { return outage; }, 20000))
        qFatal("the modem was not found down");

    // The alerts arrive during the outage and are taken into the outbox.
    const qint64 idleKb = Bench::rssKb();
    QElapsedTimer clock;
    clock.start();
    double cpuBefore = Bench::cpuMs();
    writeAlerts(folder, 1, alerts);
    const auto waiting = [&] {
        return program.outboxRows(QStringLiteral("SELECT count(*) FROM alert WHERE logged = 0"))
            .first()
            .first()
            .toInt();
    };
    if (!runUntil(
            [&] {
                return !QFileInfo::exists(MT4Paths::alertFile(folder)) && !relay.cycleRunning() && waiting() == alerts;
            },
            60000))
        qFatal("the alerts were not taken into the outbox");
    Bench::note(name, QStringLiteral("alerts taken in / time / CPU"),
                QStringLiteral("%1 / %2 / %3")
                    .arg(alerts)
                    .arg(Bench::ms(double(clock.elapsed())))
                    .arg(Bench::ms(Bench::cpuMs() - cpuBefore)));

    // The outage itself: everything held, the tick going on.
    ticks = 0;
    cycles = 0;
    tries = 0;
    const qint64 startKb = Bench::rssKb();
    cpuBefore = Bench::cpuMs();
    const double threadBefore = threadCpuMs();
    clock.restart();
    // The loop sleeps until the relay has something to do: runUntil() would
    // look every 5 ms and measure itself.
    QTimer::singleShot(seconds * 1000, &app, &QCoreApplication::quit);
    app.exec();
    const double wallMs = double(clock.elapsed());
    const double cpuMs = Bench::cpuMs() - cpuBefore;
    const double threadMs = threadCpuMs() - threadBefore;
    const qint64 endKb = Bench::rssKb();
    const int held = waiting();

    Bench::note(name, QStringLiteral("wall time / ticks / polling cycles"),
                QStringLiteral("%1 / %2 / %3").arg(Bench::ms(wallMs)).arg(ticks).arg(cycles));
    Bench::note(name, QStringLiteral("alerts held at the end / SMS tried / SMS at the modem"),
                QStringLiteral("%1 / %2 / %3").arg(held).arg(tries).arg(modem.messages().size()));
    Bench::note(name, QStringLiteral("CPU, process / relay thread"),
                QStringLiteral("%1 / %2").arg(Bench::ms(cpuMs), Bench::ms(threadMs)));
    Bench::note(name, QStringLiteral("relay thread"), share(threadMs, wallMs));
    Bench::note(name, QStringLiteral("RSS idle / with the alerts held, start / end / peak"),
                QStringLiteral("%1 / %2 / %3 / %4 MB").arg(mb(idleKb), mb(startKb), mb(endKb), mb(Bench::peakRssKb())));
    Bench::result(name, QStringLiteral("cycles per tick"),
                  QString::number(ticks > 0 ? double(cycles) / double(ticks) : 0.0, 'f', 2), QStringLiteral("<= 1.1"),
                  ticks > 0 && cycles <= ticks + ticks / 10 + 1);
    Bench::result(name, QStringLiteral("RSS growth during the outage"),
                  QStringLiteral("%1 MB").arg(mb(endKb - startKb)), QStringLiteral("< 5 MB"),
                  endKb - startKb < 5 * 1024);
    Bench::result(name, QStringLiteral("CPU, %1 alerts held, %2 s").arg(alerts).arg(seconds), share(cpuMs, wallMs),
                  QStringLiteral("< 1 %"),
                  100.0 * cpuMs / wallMs < 1.0 && held == alerts && tries == 0 && ticks >= seconds / 3 - 1);
    return 0;
}
