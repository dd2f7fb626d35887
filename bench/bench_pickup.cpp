// Pickup latency: from the moment a robot starts writing an alert file into
// a watched folder to the first byte of "AT+CMGF=1" at the modem, with the
// real 3-second tick. The robot is a thread that writes at random moments,
// so the alerts fall on every phase of the tick; the modem is a thread on
// its own pseudo-terminal that notes when each byte arrives.

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

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int alerts = Bench::intOption(app.arguments(), QStringLiteral("--alerts"), 120);
    const int folders = 4;
    Bench::heading(QStringLiteral("pickup latency"),
                   QStringLiteral("%1 alerts written by a robot thread at random gaps of 0-1000 ms into %2 watched "
                                  "folders; real 3000 ms tick; one on-duty user; latency = first byte of "
                                  "AT+CMGF=1 read by a modem thread on the pty minus the moment the robot opened "
                                  "the file (steady clock)")
                       .arg(alerts)
                       .arg(folders));

    ProgramFolderFixture program;
    const QStringList watched = Bench::setUpDesk(program, 1, folders);
    LineModem modem(program.path(), 1);

    AlertRelay relay;
    relay.paths().GetPathList();
    relay.recipients().GetPhoneNo();
    relay.Timer1().start();

    std::vector<Clock::time_point> written(static_cast<size_t>(alerts));
    std::thread robot([&] {
        std::mt19937 random(7);
        std::uniform_int_distribution<int> gap(0, 1000);
        for (int i = 0; i < alerts; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(gap(random)));
            written[size_t(i)] = Clock::now();
            QFile file(MT4Paths::alertFile(watched[i % folders]));
            file.open(QIODevice::WriteOnly | QIODevice::Append);
            file.write(QStringLiteral("ALERT|10:00|Robot|Price|Pickup %1\r\n").arg(i).toLatin1());
        }
    });

    QTimer check;
    const Clock::time_point giveUp = Clock::now() + std::chrono::seconds(alerts + 60);
    QObject::connect(&check, &QTimer::timeout, &app, [&] {
        if (int(modem.messages().size()) >= alerts || Clock::now() > giveUp)
            app.quit();
    });
    check.start(100);
    app.exec();
    robot.join();

    std::vector<double> latency;
    for (const LineModem::Message &message : modem.messages()) {
        const int i = message.text.mid(message.text.lastIndexOf(' ') + 1).toInt();
        latency.push_back(std::chrono::duration<double, std::milli>(message.textModeAt - written[size_t(i)]).count());
    }
    const bool complete = int(latency.size()) == alerts;
    std::sort(latency.begin(), latency.end());
    const auto at = [&](double q) { return latency.empty() ? 0.0 : latency[size_t(q * double(latency.size() - 1))]; };
    Bench::note(QStringLiteral("pickup"), QStringLiteral("alerts measured"), QString::number(latency.size()));
    Bench::note(QStringLiteral("pickup"), QStringLiteral("latency min / median / p95"),
                QStringLiteral("%1 / %2 / %3").arg(Bench::ms(at(0)), Bench::ms(at(0.5)), Bench::ms(at(0.95))));
    Bench::result(QStringLiteral("pickup"), QStringLiteral("latency max"), Bench::ms(at(1)), QStringLiteral("<= 3050 ms"),
                  complete && at(1) <= 3050);
    return complete ? 0 : 1;
}
