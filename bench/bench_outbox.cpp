// The cost of the outbox journal: the time from an alert file in its folder
// to its alerts committed (claim, read, synchronous commit, removal), the
// commit of one SMS's outcome, and the memory of the process while a 50 MB
// alert file is taken in and while 10,000 alerts wait in the outbox.

#include "pickup/AlertIntake.h"
#include "pickup/AlertRelay.h"
#include "store/Outbox.h"
#include "support/BenchDesk.h"
#include "support/BenchReport.h"
#include "support/ProgramFolderFixture.h"
#include "support/RunUntil.h"
#include "support/SimulatedModem.h"
#include "support/TestRelay.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <algorithm>
#include <vector>

namespace {

double percentile(std::vector<double> values, double p)
{
    std::sort(values.begin(), values.end());
    return values[size_t(p * double(values.size() - 1))];
}

// A valid alert file of about `megabytes` MB, one alert a line.
void writeBigFile(const QString &folder, int megabytes, int *lines)
{
    QFile file(MT4Paths::alertFile(folder));
    file.open(QIODevice::WriteOnly);
    QByteArray block;
    int n = 0;
    for (; block.size() < 1024 * 1024; ++n)
        block +=
            "ALERT|10:15:02|GoldScalper|Price alert|XAUUSD crossed 1905.20 (alert " + QByteArray::number(n) + ")\r\n";
    for (int i = 0; i < megabytes; ++i)
        file.write(block);
    *lines = n * megabytes;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QString name = QStringLiteral("outbox");
    Bench::heading(QStringLiteral("outbox journal"),
                   QStringLiteral("Outbox.db in %1 (WAL, synchronous commits); 200 files of one alert each taken one "
                                  "by one; 200 SMS outcomes committed; 10,000 alerts waiting while the relay "
                                  "sends for 5 s on vantrel-modemsim answering in 20 ms; a 50 MB alert file taken in; "
                                  "VmRSS and VmHWM from /proc/self/status")
                       .arg(QDir::tempPath()));

    ProgramFolderFixture program;
    const QStringList watched = Bench::setUpDesk(program, 1, 1);
    const QString folder = watched.first();

    // From a file in its folder to its alert committed and the file gone.
    {
        Outbox outbox;
        PageLog pageLog;
        AlertIntake intake(outbox, pageLog);
        outbox.open();
        std::vector<double> cost;
        for (int i = 0; i < 200; ++i) {
            writeAlerts(folder, i, i);
            QElapsedTimer clock;
            clock.start();
            intake.ProcessSmsFile(folder);
            cost.push_back(double(clock.nsecsElapsed()) / 1e6);
        }
        Bench::note(name, QStringLiteral("file to commit, median / p95"),
                    Bench::ms(percentile(cost, 0.5)) + QStringLiteral(" / ") + Bench::ms(percentile(cost, 0.95)));

        const QList<Outbox::Alert> alerts = outbox.firstTries(folder, 200);
        for (const Outbox::Alert &alert : alerts)
            outbox.beginDispatch(alert.id, {{QStringLiteral("Desk 1"), QStringLiteral("+15550001"), {}}});
        std::vector<double> outcome;
        for (const Outbox::Alert &alert : alerts) {
            const qint64 sms = outbox.dueSms(alert.id, QDateTime::currentDateTimeUtc()).first().id;
            QElapsedTimer clock;
            clock.start();
            outbox.recordSent(sms);
            outcome.push_back(double(clock.nsecsElapsed()) / 1e6);
        }
        Bench::note(name, QStringLiteral("SMS outcome committed, median / p95"),
                    Bench::ms(percentile(outcome, 0.5)) + QStringLiteral(" / ") + Bench::ms(percentile(outcome, 0.95)));
    }

    // 10,000 alerts waiting while the relay sends them as fast as a modem
    // that takes 20 ms an answer lets it: most of them are still waiting
    // when the memory is read.
    SimulatedModem modem({QStringLiteral("--quiet"), QStringLiteral("--delay"), QStringLiteral("20")}, program.path(),
                         1);
    if (!modem.isReady())
        qFatal("the modem simulator did not start");
    QByteArray many;
    for (int i = 0; i < 10000; ++i)
        many +=
            "ALERT|10:15:02|GoldScalper|Price alert|XAUUSD crossed 1905.20 (alert " + QByteArray::number(i) + ")\r\n";
    QFile file(MT4Paths::alertFile(folder));
    file.open(QIODevice::WriteOnly);
    file.write(many);
    file.close();
    {
        TestRelay relay(8640, 1, false);
        const qint64 idleKb = Bench::rssKb();
        relay.Timer1_Timer();
        runUntil([] { return false; }, 5000);
        const qint64 waiting = program.outboxRows(QStringLiteral("SELECT count(*) FROM alert WHERE logged = 0"))
                                   .first()
                                   .first()
                                   .toLongLong();
        const double growthMb = double(Bench::rssKb() - idleKb) / 1024.0;
        Bench::note(name, QStringLiteral("alerts waiting after 5 s"), QString::number(waiting));
        Bench::result(name, QStringLiteral("RSS above idle with them waiting"),
                      QStringLiteral("%1 MB").arg(growthMb, 0, 'f', 1), QStringLiteral("< 20 MB"),
                      growthMb < 20 && waiting >= 8000);
    }

    // A valid 50 MB alert file, taken in slice by slice.
    {
        Outbox outbox;
        PageLog pageLog;
        AlertIntake intake(outbox, pageLog);
        int lines = 0;
        writeBigFile(folder, 50, &lines);
        const qint64 before = Bench::rssKb();
        qint64 highest = before;
        QElapsedTimer clock;
        clock.start();
        int cycles = 0;
        while (!QDir(folder).entryList(QDir::Files).isEmpty()) {
            intake.ProcessSmsFile(folder);
            highest = std::max(highest, Bench::rssKb());
            ++cycles;
        }
        const double peakGrowthMb = double(highest - before) / 1024.0;
        Bench::note(
            name, QStringLiteral("50 MB file: alerts / cycles / time"),
            QStringLiteral("%1 / %2 / %3 s").arg(lines).arg(cycles).arg(double(clock.elapsed()) / 1000.0, 0, 'f', 1));
        Bench::result(name, QStringLiteral("50 MB file: highest RSS growth"),
                      QStringLiteral("%1 MB").arg(peakGrowthMb, 0, 'f', 1), QStringLiteral("< 20 MB"),
                      peakGrowthMb < 20);
    }
    return 0;
}
