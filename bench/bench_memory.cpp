// Memory over many sends: the real main window (offscreen) with its relay,
// five on-duty users and alerts enough for 10,000 sends through the whole
// path with a modem simulator that answers at once. Resident size is read
// from /proc/self/status after the 100th and after the 10,000th send.

#include "app/frmMain.h"
#include "support/BenchDesk.h"
#include "support/BenchReport.h"
#include "support/ProgramFolderFixture.h"
#include "support/ScriptedMessageBoxes.h"
#include "support/SimulatedModem.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QPlainTextEdit>
#include <QTextCursor>
#include <QTimer>

#include <optional>

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int sends = Bench::intOption(app.arguments(), QStringLiteral("--sends"), 10000);
    const int users = 5;
    const int alerts = sends / users;
    Bench::heading(QStringLiteral("memory"),
                   QStringLiteral("frmMain shown offscreen with its relay; %1 on-duty users, %2 alerts in 10 watched "
                                  "folders = %3 sends through the whole path on vantrel-modemsim (instant); tick 1 ms; "
                                  "VmRSS from /proc/self/status after send 100 and after send %3")
                       .arg(users)
                       .arg(alerts)
                       .arg(sends));

    ProgramFolderFixture program;
    ScriptedMessageBoxes boxes;
    const QStringList watched = Bench::setUpDesk(program, users, 10);
    SimulatedModem modem({QStringLiteral("--quiet")}, program.path(), 1);
    if (!modem.isReady())
        qFatal("the modem simulator did not start");

    // --relay-only leaves the window out, to tell its share from the relay's.
    const bool relayOnly = app.arguments().contains(QStringLiteral("--relay-only"));
    AlertRelay relay;
    std::optional<frmMain> window;
    if (!relayOnly)
        window.emplace(relay);
    relay.paths().GetPathList();
    relay.recipients().GetPhoneNo();
    if (window)
        window->show();

    // The robot writes the alerts as the relay goes, a file per folder at a
    // time, so that the files themselves stay small.
    int written = 0;
    int sent = 0;
    QTimer robot;
    QObject::connect(&robot, &QTimer::timeout, &app, [&] {
        // A few cycles' worth ahead of the sends, no more.
        if (written >= alerts || written - sent / users > 50)
            return;
        const QString folder = watched[written % watched.size()];
        QFile file(MT4Paths::alertFile(folder));
        file.open(QIODevice::WriteOnly | QIODevice::Append);
        for (int i = 0; i < 10 && written < alerts; ++i, ++written)
            file.write(QStringLiteral("ALERT|10:15:02|GoldScalper|Price alert|XAUUSD crossed 1905.20 (alert %1)\r\n")
                           .arg(written)
                           .toLatin1());
    });
    robot.start(20);

    qint64 rssAt100 = 0;
    QObject::connect(&relay.reporter(), &SmsReporter::smsTried, &app, [&] {
        if (++sent == 100)
            rssAt100 = Bench::rssKb();
        if (sent % 1000 == 0)
            std::printf("  %d sends, RSS %lld kB\n", sent, Bench::rssKb()), std::fflush(stdout);
    });
    relay.Timer1().setInterval(1);
    relay.Timer1().start();
    QElapsedTimer clock;
    clock.start();
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &app, [&] {
        if ((sent >= sends && !relay.cycleRunning()) || clock.elapsed() > 1800000)
            QCoreApplication::exit(0);
    });
    check.start(10);
    app.exec();
    relay.Timer1().stop();
    const qint64 rssAtEnd = Bench::rssKb();
    const qint64 peakKb = Bench::peakRssKb();

    const QString name = relayOnly ? QStringLiteral("memory, relay only") : QStringLiteral("memory");
    const auto *pageLog = !window ? nullptr : window->findChild<QPlainTextEdit *>(QStringLiteral("txtPageLog"));
    const double growthMb = double(rssAtEnd - rssAt100) / 1024.0;

    // The page log keeps every line on purpose, and txtPageLog groups its
    // lines into paragraphs to keep that cheap. For comparison, a second text
    // box like it, shown beside it, takes the same lines one paragraph each.
    // (--relay-only gives the growth without any text box.)
    double textBoxMb = 0;
    if (window) {
        const qint64 before = Bench::rssKb();
        QPlainTextEdit copy;
        copy.setReadOnly(true);
        copy.setUndoRedoEnabled(false);
        copy.resize(pageLog->size());
        copy.show();
        const QStringList lines = relay.pageLog().text().split(QStringLiteral("\r\n"));
        for (int i = 0; i + 1 < lines.size(); ++i) {
            QTextCursor cursor(copy.document());
            cursor.movePosition(QTextCursor::End);
            cursor.insertText(lines[i] + QLatin1Char('\n'));
            if (i % 100 == 0)
                QCoreApplication::processEvents();
        }
        QCoreApplication::processEvents();
        textBoxMb = double(Bench::rssKb() - before) / 1024.0;
    }
    Bench::note(name, QStringLiteral("sends / time"),
                QStringLiteral("%1 / %2 s").arg(sent).arg(double(clock.elapsed()) / 1000.0, 0, 'f', 1));
    Bench::note(name, QStringLiteral("RSS after 100 / after all / peak"),
                QStringLiteral("%1 / %2 / %3 MB")
                    .arg(double(rssAt100) / 1024.0, 0, 'f', 1)
                    .arg(double(rssAtEnd) / 1024.0, 0, 'f', 1)
                    .arg(double(peakKb) / 1024.0, 0, 'f', 1));
    Bench::note(name, QStringLiteral("page log kept"),
                pageLog ? QStringLiteral("%1 characters, %2 lines in %3 paragraphs of txtPageLog")
                              .arg(relay.pageLog().text().size())
                              .arg(relay.pageLog().text().count(QLatin1String("\r\n")))
                              .arg(pageLog->blockCount())
                        : QStringLiteral("%1 characters").arg(relay.pageLog().text().size()));
    if (relayOnly) {
        Bench::result(name, QStringLiteral("RSS growth, send 100 to %1").arg(sends),
                      QStringLiteral("%1 MB").arg(growthMb, 0, 'f', 1), QStringLiteral("< 10 MB"),
                      growthMb < 10 && sent >= sends);
        return 0;
    }
    Bench::result(QStringLiteral("memory"), QStringLiteral("RSS growth, send 100 to %1").arg(sends),
                  QStringLiteral("%1 MB").arg(growthMb, 0, 'f', 1), QStringLiteral("< 10 MB"),
                  growthMb < 10 && sent >= sends);
    Bench::note(QStringLiteral("memory"), QStringLiteral("the same lines in a text box, one paragraph each"),
                QStringLiteral("%1 MB").arg(textBoxMb, 0, 'f', 1));
    return 0;
}
