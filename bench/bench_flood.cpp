// A robot in a loop: 10,000 identical alerts written into one watched
// folder, then one distinct alert of another robot into another, on a desk
// that collapses repeats (10 minutes) and paces each phone (10/10), with two
// on-duty users and one simulated modem whose network takes 1 s to accept
// each message. Measured: the time from the distinct alert's file to its
// text on the modem's line (read from the simulator's dialogue log), and the
// CPU and memory the relay spends taking the flood in.

#include "pickup/AlertRelay.h"
#include "store/FloodOptions.h"
#include "support/BenchDesk.h"
#include "support/BenchReport.h"
#include "support/ProgramFolderFixture.h"
#include "support/RunUntil.h"
#include "support/SimulatedModem.h"
#include "support/TestRelay.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>

namespace {

QString mb(qint64 kb)
{
    return QString::number(double(kb) / 1024.0, 'f', 1);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QString name = QStringLiteral("flood");
    const int repeats = Bench::intOption(app.arguments(), QStringLiteral("--repeats"), 10000);
    Bench::heading(QStringLiteral("A flooding robot"),
                   QStringLiteral("%1 identical alerts into one watched folder, then one distinct alert into "
                                  "another; collapse 10 min, pace 10/10; 2 on-duty users; one vantrel-modemsim "
                                  "with --cmgs-delay 1000 (a 1 s network); latency = from the distinct alert's "
                                  "file written to its message in the modem's dialogue log; CPU = getrusage of this "
                                  "process while the flood is taken; RSS from /proc/self/status")
                       .arg(repeats));

    ProgramFolderFixture program;
    const QStringList folders = Bench::setUpDesk(program, 2, 2);
    FloodOptions::storeCollapse(10);
    FloodOptions::storePace({10, 10});
    SimulatedModem modem({QStringLiteral("--cmgs-delay"), QStringLiteral("1000")}, program.path(), 1);
    if (!modem.isReady())
        qFatal("the modem simulator did not start");

    AlertRelay relay;
    relay.load();
    relay.start();
    // Settled: the modem's first health questions answered.
    runUntil([] { return false; }, 3000);

    const qint64 startKb = Bench::rssKb();
    const double cpuBefore = Bench::cpuMs();
    QElapsedTimer clock;
    clock.start();
    QByteArray flood;
    for (int i = 0; i < repeats; ++i)
        flood += QStringLiteral("L|10:%1:%2|Looper|Cross|EURUSD crossed 1.1000\r\n")
                     .arg(i / 60 % 60, 2, 10, QLatin1Char('0'))
                     .arg(i % 60, 2, 10, QLatin1Char('0'))
                     .toLatin1();
    writeFile(MT4Paths::alertFile(folders[0]), flood);
    if (!runUntil([&] { return !QFileInfo::exists(MT4Paths::alertFile(folders[0])) && !relay.cycleRunning(); }, 60000))
        qFatal("the flood was not taken");
    const double takenMs = double(clock.elapsed());
    const double cpuMs = Bench::cpuMs() - cpuBefore;
    const qint64 takenKb = Bench::rssKb();

    clock.restart();
    writeFile(MT4Paths::alertFile(folders[1]), "L|10:30:00|Guard|Stop|Close GBPUSD now\r\n");
    // The simulator logs each message as "(message to NUMBER, N bytes)" the
    // moment its text is in, a few ms after the first byte of its dialogue;
    // the distinct alert's is the only one of 16 bytes.
    if (!runUntil([&] { return modem.log().contains(QStringLiteral(", 16 bytes)")); }, 60000))
        qFatal("the distinct alert never reached the line: %s", qPrintable(modem.log().right(2000)));
    const double latencyMs = double(clock.elapsed());
    runUntil([&] { return modem.messages().size() >= 4; }, 20000);

    Bench::note(name, QStringLiteral("flood taken in / CPU"),
                QStringLiteral("%1 / %2").arg(Bench::ms(takenMs), Bench::ms(cpuMs)));
    Bench::note(name, QStringLiteral("SMS at the modem after the distinct alert"),
                QString::number(modem.messages().size()));
    Bench::note(name, QStringLiteral("RSS before / after the flood / peak"),
                QStringLiteral("%1 / %2 / %3 MB").arg(mb(startKb), mb(takenKb), mb(Bench::peakRssKb())));
    Bench::result(name, QStringLiteral("distinct alert, file to the line"), Bench::ms(latencyMs),
                  QStringLiteral("< 2 s"), latencyMs < 2000.0);
    Bench::result(name, QStringLiteral("RSS growth while the flood is taken"),
                  QStringLiteral("%1 MB").arg(mb(takenKb - startKb)), QStringLiteral("< 20 MB"),
                  takenKb - startKb < 20 * 1024);
    return 0;
}
