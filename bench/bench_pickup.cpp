// Pickup latency: from the moment a robot starts writing an alert file into
// one of 21 watched folders to the first byte of "AT+CMGF=1" at the modem,
// the relay as the program runs it: folder notifications and the real
// 3-second tick. The same again with the tick alone, for comparison. The
// robot is a thread that writes at random moments, so the alerts fall on
// every phase of the tick; the modem is a thread on its own pseudo-terminal
// that notes when each byte arrives.

#include "pickup/AlertRelay.h"
#include "support/BenchDesk.h"
#include "support/BenchReport.h"
#include "support/LineModem.h"
#include "support/ProgramFolderFixture.h"

#include <QCoreApplication>
#include <QFile>
#include <QTimer>

#include <algorithm>
#include <random>
#include <thread>

using Clock = LineModem::Clock;

namespace {

// The latencies of `alerts` alerts, sorted; empty when not all arrived.
std::vector<double> measure(const QStringList &watched, LineModem &modem, int alerts, int first)
{
    std::vector<Clock::time_point> written(static_cast<size_t>(alerts));
    std::thread robot([&] {
        std::mt19937 random(7 + first);
        std::uniform_int_distribution<int> gap(0, 1000);
        for (int i = 0; i < alerts; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(gap(random)));
            written[size_t(i)] = Clock::now();
            QFile file(MT4Paths::alertFile(watched[(i * 7) % watched.size()]));
            file.open(QIODevice::WriteOnly | QIODevice::Append);
            file.write(QStringLiteral("ALERT|10:00|Robot|Price|Pickup %1\r\n").arg(first + i).toLatin1());
        }
    });
    QTimer check;
    const Clock::time_point giveUp = Clock::now() + std::chrono::seconds(alerts + 60);
    QObject::connect(&check, &QTimer::timeout, [&] {
        if (int(modem.messages().size()) >= first + alerts || Clock::now() > giveUp)
            QCoreApplication::quit();
    });
    check.start(100);
    QCoreApplication::exec();
    robot.join();

    std::vector<double> latency;
    for (const LineModem::Message &message : modem.messages()) {
        const int i = message.text.mid(message.text.lastIndexOf(' ') + 1).toInt() - first;
        if (i >= 0)
            latency.push_back(
                std::chrono::duration<double, std::milli>(message.textModeAt - written[size_t(i)]).count());
    }
    std::sort(latency.begin(), latency.end());
    if (int(latency.size()) != alerts)
        latency.clear();
    return latency;
}

QString figures(const std::vector<double> &latency)
{
    const auto at = [&](double q) { return latency[size_t(q * double(latency.size() - 1))]; };
    return QStringLiteral("%1 / %2 / %3 / %4")
        .arg(Bench::ms(at(0)), Bench::ms(at(0.5)), Bench::ms(at(0.95)), Bench::ms(at(1)));
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int alerts = Bench::intOption(app.arguments(), QStringLiteral("--alerts"), 100);
    const int folders = 21;
    Bench::heading(QStringLiteral("pickup latency"),
                   QStringLiteral("%1 alerts written by a robot thread at random gaps of 0-1000 ms into %2 watched "
                                  "folders; folder notifications and the real 3000 ms tick, then the tick alone; one "
                                  "on-duty user; latency = first byte of AT+CMGF=1 read by a modem thread on the pty "
                                  "minus the moment the robot opened the file (steady clock)")
                       .arg(alerts)
                       .arg(folders));

    ProgramFolderFixture program;
    const QStringList watched = Bench::setUpDesk(program, 1, folders);
    LineModem modem(program.path(), 1);

    AlertRelay relay;
    relay.load();
    relay.start();
    const std::vector<double> notified = measure(watched, modem, alerts, 0);
    relay.setFolderNotifications(false);
    const std::vector<double> tickOnly = measure(watched, modem, alerts, alerts);
    if (notified.empty() || tickOnly.empty()) {
        Bench::result(QStringLiteral("pickup"), QStringLiteral("alerts measured"), QStringLiteral("not all arrived"),
                      QString::number(alerts), false);
        return 1;
    }
    const auto at = [&](double q) { return notified[size_t(q * double(notified.size() - 1))]; };
    Bench::note(QStringLiteral("pickup"), QStringLiteral("alerts measured, each way"), QString::number(alerts));
    Bench::note(QStringLiteral("pickup"), QStringLiteral("tick alone: min / median / p95 / max"), figures(tickOnly));
    Bench::note(QStringLiteral("pickup"), QStringLiteral("notified: min / median / p95 / max"), figures(notified));
    Bench::result(QStringLiteral("pickup"), QStringLiteral("notified: latency median"), Bench::ms(at(0.5)),
                  QStringLiteral("<= 100 ms"), at(0.5) <= 100);
    Bench::result(QStringLiteral("pickup"), QStringLiteral("notified: latency max"), Bench::ms(at(1)),
                  QStringLiteral("<= 500 ms"), at(1) <= 500);
    return 0;
}
