// Several modems sharing the load: the same alerts through 1, 2 and 4
// simulated modems whose every answer takes a third of a second (about a
// second per SMS, as a real network takes), SMS per second and the ratio to
// one modem. Then a backlog of 200 SMS on one modem: the time to drain it
// against the time the modem itself was busy, which waiting for polling
// ticks between batches would add to.

#include "pickup/AlertRelay.h"
#include "store/ModemTable.h"
#include "support/BenchDesk.h"
#include "support/BenchReport.h"
#include "support/ProgramFolderFixture.h"
#include "support/SimulatedModem.h"
#include "support/TestRelay.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <memory>
#include <vector>

namespace {

struct Drained {
    double wallMs = 0;
    double modemBusyMs = 0; // from each dialogue's "Starting..." to its "Done..."
    int sms = 0;
};

// `alerts` alerts to `users` users through `modems` simulated modems.
Drained drain(int modems, int alerts, int users, const QString &delayMs)
{
    ProgramFolderFixture program;
    const QStringList watched = Bench::setUpDesk(program, users, 1);
    std::vector<std::unique_ptr<SimulatedModem>> simulators;
    for (int port = 1; port <= modems; ++port) {
        if (port > 1)
            ModemTable::add(short(port), QStringLiteral("9600"));
        simulators.push_back(std::make_unique<SimulatedModem>(
            QStringList{QStringLiteral("--quiet"), QStringLiteral("--delay"), delayMs}, program.path(), port));
        if (!simulators.back()->isReady())
            qFatal("the modem simulator did not start");
    }
    TestRelay relay(8640, 3000, true);
    Drained drained;
    QHash<QString, qint64> started;
    QElapsedTimer clock;
    QObject::connect(&relay.trace(), &QAbstractItemModel::dataChanged, &relay, [&](const QModelIndex &at) {
        const QString line = at.data().toString();
        // With several modems each line starts with its modem's name.
        const QString modem = line.startsWith(QLatin1String("COM")) ? line.section(QLatin1Char(':'), 0, 0) : QString();
        if (line.endsWith(QLatin1String("Starting...")))
            started[modem] = clock.nsecsElapsed();
        else if (line.endsWith(QLatin1String("Done...")))
            drained.modemBusyMs += double(clock.nsecsElapsed() - started.value(modem)) / 1e6;
    });
    clock.start();
    writeAlerts(watched.first(), 1, alerts);
    if (!relay.waitUntilIdle(600000))
        qFatal("the alerts were not sent");
    drained.wallMs = double(clock.nsecsElapsed()) / 1e6;
    for (const auto &simulator : simulators)
        drained.sms += int(simulator->messages().size());
    return drained;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int alerts = Bench::intOption(app.arguments(), QStringLiteral("--alerts"), 6);
    // One SMS a recipient is under way at a time: four modems need four.
    constexpr int Users = 4;
    Bench::heading(QStringLiteral("several modems"),
                   QStringLiteral("%1 alerts to %2 on-duty users through 1, 2 and 4 vantrel-modemsim --delay 333 "
                                  "(three answers an SMS: about 1 s each); the real 3 s tick; wall time from the "
                                  "alert file to the last LOG row. Backlog: 200 alerts to 1 user on one instant "
                                  "modem, against the time its dialogues took")
                       .arg(alerts)
                       .arg(Users));

    double one = 0;
    for (const int modems : {1, 2, 4}) {
        const Drained drained = drain(modems, alerts, Users, QStringLiteral("333"));
        const double perSecond = drained.sms / (drained.wallMs / 1000.0);
        const QString name = QStringLiteral("%1 modem%2").arg(modems).arg(modems > 1 ? "s" : "");
        Bench::note(QStringLiteral("modems"), name + QStringLiteral(": SMS / time"),
                    QStringLiteral("%1 / %2 s").arg(drained.sms).arg(drained.wallMs / 1000.0, 0, 'f', 1));
        if (modems == 1) {
            one = perSecond;
            Bench::note(QStringLiteral("modems"), name + QStringLiteral(": SMS per second"),
                        QString::number(perSecond, 'f', 2));
            continue;
        }
        const double ratio = perSecond / one;
        const double target = modems == 2 ? 1.8 : 3.4;
        Bench::result(QStringLiteral("modems"), name + QStringLiteral(": SMS per second, ratio to one"),
                      QStringLiteral("%1, %2 x").arg(perSecond, 0, 'f', 2).arg(ratio, 0, 'f', 2),
                      QStringLiteral(">= %1 x").arg(target), ratio >= target && drained.sms == Users * alerts);
    }

    // On a modem that answers at once a dialogue takes a fraction of a
    // millisecond and the outbox's commits of each SMS are most of the time;
    // with 20 ms an answer (some 60 ms an SMS, a fast modem) the figure says
    // whether anything but the modem holds the backlog up.
    const Drained instant = drain(1, 200, 1, QStringLiteral("0"));
    Bench::note(QStringLiteral("backlog"), QStringLiteral("200 SMS, instant modem: wall / modem busy"),
                QStringLiteral("%1 / %2").arg(Bench::ms(instant.wallMs), Bench::ms(instant.modemBusyMs)));
    const Drained backlog = drain(1, 200, 1, QStringLiteral("20"));
    const double share = backlog.wallMs / backlog.modemBusyMs;
    Bench::note(QStringLiteral("backlog"), QStringLiteral("200 SMS, 20 ms an answer: wall / modem busy"),
                QStringLiteral("%1 / %2").arg(Bench::ms(backlog.wallMs), Bench::ms(backlog.modemBusyMs)));
    Bench::result(QStringLiteral("backlog"), QStringLiteral("drain time against the modem's own"),
                  QStringLiteral("%1 x").arg(share, 0, 'f', 2), QStringLiteral("<= 1.2 x"),
                  share <= 1.2 && backlog.sms == 200 && instant.sms == 200);
    return 0;
}
