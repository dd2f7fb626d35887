// CPU while waiting: the relay polling 21 watched folders with the real
// 3-second tick and nothing to do, then one send waiting on a modem that
// never answers for its whole real time-out (8.64 s) while the tick goes
// on. CPU time is this process's user + system time from getrusage.

#include "pickup/AlertRelay.h"
#include "store/ModemTable.h"
#include "support/BenchDesk.h"
#include "support/BenchReport.h"
#include "support/ProgramFolderFixture.h"
#include "support/SimulatedModem.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    // Long enough for a health round on each modem beside the one at start.
    const int idleSeconds = Bench::intOption(app.arguments(), QStringLiteral("--idle-seconds"), 65);
    Bench::heading(QStringLiteral("CPU while waiting"),
                   QStringLiteral("relay with 21 watched folders (existing, empty, each watched for notifications), "
                                  "2 modems (vantrel-modemsim) with their ports held open and a health round each "
                                  "at start and every 60 s, and the real 3000 ms tick for %1 s; "
                                  "then one SendAlarm on the first modem gone silent, with the real 8640 ms time-out, "
                                  "ticks going on; CPU = getrusage user+system of this process over wall time")
                       .arg(idleSeconds));

    ProgramFolderFixture program;
    Bench::setUpDesk(program, 1, 21);
    ModemTable::add(2, QStringLiteral("9600"));
    SimulatedModem second({QStringLiteral("--quiet")}, program.path(), 2);
    SimulatedModem modem({QStringLiteral("--quiet")}, program.path(), 1);
    if (!modem.isReady() || !second.isReady())
        qFatal("the modem simulator did not start");

    AlertRelay relay;
    relay.load();
    int ticks = 0;
    QObject::connect(&relay, &AlertRelay::tickCounted, &app, [&] { ++ticks; });
    // What a health round costs on the line, from the trace: each question
    // with the ESC before it and its CR, and the whole answer.
    qint64 written = 0;
    qint64 read = 0;
    int questions = 0;
    QObject::connect(&relay.trace(), &QAbstractItemModel::dataChanged, &app, [&](const QModelIndex &at) {
        const QString line = at.data().toString().section(QStringLiteral(": "), 1);
        if (line.startsWith(QLatin1String("Sending..AT+C"))) {
            written += line.size() - 9 + 2;
            ++questions;
        } else if (line.startsWith(QLatin1String("--> "))) {
            read += line.size() - 4;
        }
    });
    relay.start();

    // Idle polling.
    QElapsedTimer clock;
    double cpuBefore = Bench::cpuMs();
    clock.start();
    QTimer::singleShot(idleSeconds * 1000, &app, &QCoreApplication::quit);
    app.exec();
    double share = 100.0 * (Bench::cpuMs() - cpuBefore) / double(clock.elapsed());
    Bench::note(QStringLiteral("CPU idle"), QStringLiteral("ticks"), QString::number(ticks));
    Bench::note(QStringLiteral("CPU idle"), QStringLiteral("health questions / bytes written / read"),
                QStringLiteral("%1 / %2 / %3").arg(questions).arg(written).arg(read));
    Bench::note(QStringLiteral("CPU idle"), QStringLiteral("one health round on the line"),
                QStringLiteral("%1 bytes").arg(questions > 0 ? (written + read) * 4 / questions : 0));
    Bench::result(QStringLiteral("CPU idle"), QStringLiteral("idle polling, 21 folders, 2 modems"),
                  QStringLiteral("%1 % of a core").arg(share, 0, 'f', 3), QStringLiteral("< 0.1 %"),
                  share < 0.1 && ticks >= idleSeconds / 3 - 1);

    // A send on a silent modem: step one waits its whole time-out.
    modem.control(QStringLiteral("silent on"));
    ticks = 0;
    cpuBefore = Bench::cpuMs();
    clock.restart();
    bool acknowledged = true;
    QObject::connect(&relay.reporter(), &SmsReporter::smsTried, &app, [&](bool ok) { acknowledged = ok; });
    relay.SendAlarm(QStringLiteral("nobody answers"), QStringLiteral("Desk 1"), QStringLiteral("+15550001"),
                    [&app] { app.quit(); });
    app.exec();
    const qint64 waited = clock.elapsed();
    share = 100.0 * (Bench::cpuMs() - cpuBefore) / double(waited);
    Bench::note(QStringLiteral("CPU send wait"), QStringLiteral("wait / ticks meanwhile"),
                QStringLiteral("%1 / %2").arg(Bench::ms(double(waited))).arg(ticks));
    Bench::result(QStringLiteral("CPU send wait"), QStringLiteral("send waiting on a silent modem"),
                  QStringLiteral("%1 % of a core").arg(share, 0, 'f', 3), QStringLiteral("< 1 %"),
                  share < 1.0 && !acknowledged && waited >= 8000);
    return 0;
}
