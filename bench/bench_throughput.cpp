// Own overhead per SMS: alerts through the whole path (tick, intake, the
// three AT steps on the port the engine holds open, page log, history line,
// LOG row) with a modem simulator that answers at once, so that the time is
// Vantrel's and the pseudo-terminal's alone. Then the parts one by one, to
// show where the time goes (not with --no-parts). With --reports every SMS
// asks for a delivery report and the simulator sends one for each: the
// figure then includes pairing them, and the bytes on the line per SMS show
// what asking for them adds. With --gateway the SMS go through a real
// Kannel on loopback instead (the desk's gateway alone), to its fake SMS
// centre, with its delivery reports; then also the time from an alert file
// to the gateway's acceptance. That desk has no modem, so no modem parts.

#include "modem/SmsPdu.h"
#include "pickup/AlertRelay.h"
#include "route/GatewayRoute.h"
#include "store/DeskOptions.h"
#include "store/LogTable.h"
#include "store/UpdateCom.h"
#include "support/BenchDesk.h"
#include "support/BenchReport.h"
#include "support/HttpServer.h"
#include "support/KannelGateway.h"
#include "support/ProgramFolderFixture.h"
#include "support/RunUntil.h"
#include "support/SimulatedModem.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>

#include <algorithm>
#include <memory>

namespace {

void writeAlerts(const QString &folder, int from, int count)
{
    QFile file(MT4Paths::alertFile(folder));
    file.open(QIODevice::WriteOnly | QIODevice::Append);
    for (int i = from; i < from + count; ++i)
        file.write(QStringLiteral("ALERT|10:15:02|GoldScalper|Price alert|XAUUSD crossed 1905.20 (alert %1)\r\n")
                       .arg(i)
                       .toLatin1());
}

// Runs `work` `count` times and prints the mean wall time per run.
template <typename Work> void part(const QString &figure, int count, Work work)
{
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < count; ++i)
        work(i);
    const double ms = double(clock.nsecsElapsed()) / 1e6 / count;
    // Below a tenth of a millisecond, in microseconds.
    const QString each = ms < 0.1 ? QStringLiteral("%1 us").arg(ms * 1000, 0, 'f', 1) : Bench::ms(ms);
    Bench::note(QStringLiteral("throughput parts"), figure, each + QStringLiteral(" each"));
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int alerts = Bench::intOption(app.arguments(), QStringLiteral("--alerts"), 1000);
    const int users = Bench::intOption(app.arguments(), QStringLiteral("--users"), 1);
    const bool gateway = app.arguments().contains(QStringLiteral("--gateway"));
    const bool reports = gateway || app.arguments().contains(QStringLiteral("--reports"));
    QString name = users == 1 ? QStringLiteral("throughput") : QStringLiteral("throughput, %1 users").arg(users);
    if (gateway)
        name += QStringLiteral(", Kannel gateway");
    else if (reports)
        name += QStringLiteral(", delivery reports");
    // A program folder on tmpfs takes the disk's sync time out of the figure.
    if (QDir::tempPath().startsWith(QLatin1String("/dev/shm")))
        name += QStringLiteral(", folder on tmpfs");
    Bench::heading(QStringLiteral("own overhead per SMS"),
                   QStringLiteral("%1 alerts in 10 watched folders, %2 on-duty user(s) (with one, every SMS "
                                  "carries its own LOG row); %4; tick 1 ms; "
                                  "program folder in %3; wall time from the first tick to the last LOG row, CPU time "
                                  "of this process from getrusage")
                       .arg(alerts)
                       .arg(users)
                       .arg(QDir::tempPath(),
                            gateway ? QStringLiteral("Kannel bearerbox, smsbox and fakesmsc on loopback, up to %1 "
                                                     "requests at once")
                                          .arg(GatewayRoute::DefaultMaxInFlight)
                                    : QStringLiteral("vantrel-modemsim answering at once on a pty")));

    ProgramFolderFixture program;
    const QStringList watched = Bench::setUpDesk(program, users, 10);
    std::unique_ptr<SimulatedModem> modem;
    std::unique_ptr<KannelGateway> kannel;
    if (gateway) {
        if (!KannelGateway::unavailableReason().isEmpty())
            qFatal("%s", qPrintable(KannelGateway::unavailableReason()));
        kannel = std::make_unique<KannelGateway>();
        if (!kannel->start())
            qFatal("%s", qPrintable(kannel->errorString()));
        DeskOptions::setValue(QString::fromLatin1(DeskOptions::Gateway), kannel->sendSmsUrl().toString());
        DeskOptions::setValue(QString::fromLatin1(DeskOptions::GatewayOnly), QStringLiteral("on"));
        DeskOptions::setValue(QString::fromLatin1(DeskOptions::GatewayReports),
                              QStringLiteral("127.0.0.1:%1").arg(freePort()));
    } else {
        modem = std::make_unique<SimulatedModem>(QStringList{QStringLiteral("--quiet")}, program.path(), 1);
        if (!modem->isReady())
            qFatal("the modem simulator did not start");
    }
    for (int i = 0; i < 10; ++i)
        writeAlerts(watched[i], i * (alerts / 10), alerts / 10);

    int sent = 0;
    int acknowledged = 0;
    {
        AlertRelay relay;
        relay.setHealthRounds(false);
        relay.load();
        QObject::connect(&relay.reporter(), &SmsReporter::smsTried, &app, [&](bool ok) {
            ++sent;
            acknowledged += ok ? 1 : 0;
        });
        relay.Timer1().setInterval(1);
        relay.setDeliveryReports(reports);
        // The bytes on the line, from the trace: each command and its CR,
        // each arrival, each line the modem sent on its own and its CR LF.
        qint64 lineBytes = 0;
        QObject::connect(&relay.trace(), &QAbstractItemModel::dataChanged, &app, [&](const QModelIndex &at) {
            const QString line = at.data().toString();
            if (line.startsWith(QLatin1String("Sending..")))
                lineBytes += line.size() - 9 + 1;
            else if (line.startsWith(QLatin1String("--> ")))
                lineBytes += line.size() - 4;
            else if (line.startsWith(QLatin1String("Unsolicited: ")))
                lineBytes += line.size() - 13 + 2;
        });
        int delivered = 0;
        QObject::connect(&relay.pageLog(), &PageLog::appended, &app, [&](const QString &text) {
            delivered += text.startsWith(QLatin1String("Delivered to ")) ? 1 : 0;
        });
        QElapsedTimer clock;
        const double cpuBefore = Bench::cpuMs();
        clock.start();
        relay.start();
        QTimer check;
        QObject::connect(&check, &QTimer::timeout, &app, [&] {
            const bool drained =
                sent >= alerts * users && !relay.cycleRunning() && (!reports || delivered >= alerts * users);
            if (drained || clock.elapsed() > 600000)
                app.quit();
        });
        check.start(5);
        app.exec();
        relay.Timer1().stop();
        const double wallMs = double(clock.nsecsElapsed()) / 1e6;
        const double cpuMs = Bench::cpuMs() - cpuBefore;
        const int logRows = int(program.rows(QStringLiteral("SELECT SMS_ID FROM LOG")).size());
        const double perSecond = sent / (wallMs / 1000.0);

        Bench::note(name, QStringLiteral("sends / acknowledged / LOG rows"),
                    QStringLiteral("%1 / %2 / %3").arg(sent).arg(acknowledged).arg(logRows));
        Bench::note(name, QStringLiteral("wall time per SMS"), Bench::ms(wallMs / sent));
        if (gateway)
            Bench::note(name, QStringLiteral("SMS at the fake SMS centre"), QString::number(kannel->messages().size()));
        else
            Bench::note(name, QStringLiteral("bytes on the line per SMS"),
                        QString::number(double(lineBytes) / sent, 'f', 1));
        if (reports)
            Bench::note(name, QStringLiteral("delivered, as the page log says"), QString::number(delivered));
        Bench::note(name, QStringLiteral("Vantrel CPU per SMS"), Bench::ms(cpuMs / sent));
        Bench::note(name, QStringLiteral("share of a 2 s GSM send"),
                    QStringLiteral("%1 %").arg(100.0 * (wallMs / sent) / 2000.0, 0, 'f', 2));
        const double target = gateway ? 50 : 100;
        Bench::result(name, QStringLiteral("SMS per second, whole path"), QString::number(perSecond, 'f', 1),
                      QStringLiteral(">= %1").arg(target),
                      perSecond >= target && acknowledged == alerts * users && logRows == alerts);

        if (gateway) {
            // One alert at a time, from its file to the gateway's "Accepted".
            QList<double> waits;
            for (int i = 0; i < 20; ++i) {
                const int before = sent;
                QElapsedTimer one;
                one.start();
                writeAlerts(watched[0], alerts + i, 1);
                runUntil([&] { return sent > before; }, 10000);
                waits << double(one.nsecsElapsed()) / 1e6;
            }
            std::sort(waits.begin(), waits.end());
            Bench::note(name, QStringLiteral("alert file to the gateway's acceptance, median of 20"),
                        Bench::ms(waits[waits.size() / 2]));
            // Kannel's own answer time bounds what one number can get: its
            // SMS go one after another.
            GatewayRoute route(kannel->sendSmsUrl());
            QElapsedTimer requests;
            requests.start();
            for (int i = 0; i < 50; ++i) {
                bool done = false;
                route.send({QStringLiteral("Kannel alone %1").arg(i),
                            QStringLiteral("Desk 1"),
                            QStringLiteral("+15550001"),
                            {},
                            0,
                            0,
                            {},
                            false},
                           [&done](const SendOutcome &) { done = true; });
                runUntil([&done] { return done; }, 10000);
            }
            Bench::note(name, QStringLiteral("sendsms answer, one request at a time, mean of 50"),
                        Bench::ms(double(requests.nsecsElapsed()) / 1e6 / 50));
        }
    }

    // Where the time goes.
    if (!gateway && !app.arguments().contains(QStringLiteral("--no-parts"))) {
        AlertRelay relay;
        part(QStringLiteral("LOG row (WriteLog)"), 200, [&](int i) {
            LogTable::WriteLog(QStringLiteral("10:15:02"), QStringLiteral("GoldScalper"), QStringLiteral("Price alert"),
                               QStringLiteral("part %1").arg(i));
        });
        part(QStringLiteral("history line (AlarmLog)"), 1000,
             [&](int) { relay.history().AlarmLog("Desk One (+15550001)*** XAUUSD crossed 1905.20"); });
        MSComm port;
        part(QStringLiteral("port open + close"), 200, [&](int) {
            UpdateCom::OpenModemPort(port, relay.comSettings(), relay.comSettings().ComPort());
            port.setPortOpen(false);
        });
        // What encoding a message in PDU mode adds to its send.
        const QString cyrillic = QString::fromUtf8("XAUUSD пробил 1905.20, продавать %1");
        const QString longText = QStringLiteral("XAUUSD crossed 1905.20 on heavy volume; %1 ").repeated(10);
        part(QStringLiteral("PDU encoding, Cyrillic, 1 part"), 10000,
             [&](int i) { SmsPdu::encode(QStringLiteral("+15550001"), cyrillic.arg(i), quint8(i)); });
        part(QStringLiteral("PDU encoding, 400+ ASCII characters, 3 parts"), 10000,
             [&](int i) { SmsPdu::encode(QStringLiteral("+15550001"), longText.arg(i), quint8(i)); });
        part(QStringLiteral("SendAlarm (3 steps on the open port, page log, history)"), 200, [&](int i) {
            bool done = false;
            relay.SendAlarm(QStringLiteral("XAUUSD crossed 1905.20 (part %1)").arg(i), QStringLiteral("Desk One"),
                            QStringLiteral("+15550001"), [&done] { done = true; });
            if (!runUntil([&done] { return done; }, 10000))
                qFatal("a send did not end");
        });
    }
    return 0;
}
