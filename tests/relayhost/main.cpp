// vantrel-relayhost: the relay of the program without its windows, on a
// program folder, with the tick and the time-out unit given. Tests start it
// as a child process to kill it at random moments and start it again. It
// takes the program's lock and ends on SIGTERM after the dialogue under way.

#include "app/QuitSignals.h"
#include "pickup/AlertRelay.h"
#include "store/DbError.h"
#include "store/InstanceLock.h"
#include "store/ProgramFolder.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addOptions(
        {{QStringLiteral("folder"), QStringLiteral("Program folder."), QStringLiteral("DIR")},
         {QStringLiteral("tick"), QStringLiteral("Tick in ms."), QStringLiteral("MS"), QStringLiteral("3000")},
         {QStringLiteral("unit"), QStringLiteral("Time-out unit in ms."), QStringLiteral("MS"),
          QStringLiteral("8640")}});
    parser.process(app);
    ProgramFolder::set(parser.value(QStringLiteral("folder")));

    InstanceLock lock;
    if (!lock.tryLock()) {
        std::fprintf(stderr, "%s\n", qPrintable(InstanceLock::refusalText()));
        return 1;
    }
    AlertRelay relay;
    try {
        relay.load();
    } catch (const DbError &error) {
        std::fprintf(stderr, "%s\n", qPrintable(error.text()));
        return 1;
    }
    relay.setTimeUnitMs(parser.value(QStringLiteral("unit")).toInt());
    relay.Timer1().setInterval(parser.value(QStringLiteral("tick")).toInt());
    relay.start();

    QuitSignals quit;
    // A dispatch under way ends after its dialogue, then the relay says so.
    QObject::connect(&quit, &QuitSignals::received, &relay, &AlertRelay::stop);
    QObject::connect(&relay, &AlertRelay::finished, &app, [] { QCoreApplication::exit(0); });
    return app.exec();
}
