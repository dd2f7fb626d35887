#include "SoakRun.h"

#include "modem/SmsPdu.h"
#include "pickup/MT4Paths.h"
#include "support/ProcessStatus.h"
#include "support/ProgramFolderFixture.h"
#include "support/RunUntil.h"
#include "support/ScriptedMessageBoxes.h"
#include "support/SimulatedModem.h"
#include "support/TestRelay.h"

#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QSet>
#include <QTest>

#include <algorithm>
#include <atomic>
#include <numeric>
#include <random>
#include <thread>

namespace {

// One SMS: a number and a text, as the modem saw them.
using Pair = QPair<QString, QString>;

// What the trace of one send showed, taken when the send has ended.
struct SendSeen {
    QString number;
    QString text; // empty unless step three was written
    bool acknowledged = false;
    bool refused = false;
    bool timedOut = false;
};

SendSeen readTrace(const QStringList &trace, bool acknowledged)
{
    SendSeen seen;
    seen.acknowledged = acknowledged;
    const QString cmgs = QStringLiteral("Sending..AT+CMGS=\"");
    bool pdu = false;
    for (const QString &line : trace) {
        if (line == QLatin1String("Sending..AT+CMGF=0")) {
            pdu = true;
        } else if (line.startsWith(cmgs)) {
            seen.number = line.mid(cmgs.size()).chopped(1);
        } else if (line.startsWith(QLatin1String("Sending..")) && line.endsWith(QChar(26))) {
            seen.text = line.mid(9).chopped(1);
            // In PDU mode the text and the number travel inside the PDU.
            if (pdu) {
                const SmsPdu::Submit submit = SmsPdu::decode(seen.text.toLatin1());
                seen.number = submit.number;
                seen.text = submit.text;
            }
        } else if (line.startsWith(QLatin1String("Err--->")) && line.contains(QLatin1String("+CMS ERROR"))) {
            seen.refused = true;
        } else if (line == QLatin1String("Timeout...")) {
            seen.timedOut = true;
        }
    }
    return seen;
}

// The robots: bursts of alert lines appended to the Sms.csv of random
// folders, each burst opened, written and closed as a terminal does.
void robots(const QStringList &folders, int alerts, int tickMs, quint32 seed, std::atomic<int> &written)
{
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> folder(0, int(folders.size()) - 1);
    std::uniform_int_distribution<int> burst(1, 12);
    std::uniform_int_distribution<int> pause(0, 2 * tickMs);
    int n = 0;
    while (n < alerts) {
        QFile file(MT4Paths::alertFile(folders[folder(random)]));
        if (file.open(QIODevice::WriteOnly | QIODevice::Append)) {
            QByteArray lines;
            for (int i = burst(random); i > 0 && n < alerts; --i, ++n) {
                // Commas, quotes and a Latin-1 letter are ordinary text.
                lines += "L|" + QByteArray::number(n % 86400) + "|EA" + QByteArray::number(n % 7) + "|Title, \""
                         + QByteArray::number(n) + "\"|Soak alert " + QByteArray::number(n) + " caf\xe9\r\n";
            }
            file.write(lines);
            file.close();
            written = n;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(pause(random)));
    }
}

QString alertText(int n)
{
    return QStringLiteral("Soak alert %1 caf").arg(n) + QChar(0xE9);
}

} // namespace

QString SoakOutcome::summary() const
{
    return QString::asprintf(
        "%d alerts, %d LOG rows, %d sends: %d acknowledged, %d accepted by the modem, "
        "%d refused (%d seen in the trace), %d time-outs, %d lines lost, %d hang-ups, "
        "%d ignored commands, %d accepted but not acknowledged, %d accepted twice after a lost answer, "
        "%d given up, %d not delivered, %d message boxes; RSS %lld -> %lld kB; %.1f s",
        alerts, logRows, sends, acknowledged, accepted, refusedByModem, refusalsInTrace, timeouts, brokenOff, hangUps,
        ignoredCommands, acceptedNotAcknowledged, acceptedTwice, givenUp, notDelivered, messageBoxes,
        qlonglong(rssStartKb), qlonglong(rssEndKb), seconds);
}

SoakOutcome runSoak(const SoakPlan &plan)
{
    SoakOutcome out;
    out.alerts = plan.alerts;
    out.rssStartKb = processStatusKb("VmRSS:");
    QElapsedTimer clock;
    clock.start();

    ProgramFolderFixture program;
    ScriptedMessageBoxes boxes;
    QStringList numbers;
    for (int i = 0; i < plan.onDuty; ++i) {
        numbers << QStringLiteral("+4470000%1").arg(i + 1);
        program.addUser(QStringLiteral("Desk %1").arg(i + 1), numbers.last(), true);
    }
    program.addUser(QStringLiteral("Off Duty"), QStringLiteral("+4479999"), false);
    QStringList folders;
    for (int i = 0; i < plan.folders; ++i)
        folders << program.addWatchedFolder(QStringLiteral("terminal-%1").arg(i + 1));

    SimulatedModem modem(plan.modemOptions, program.path(), 1);
    if (!modem.isReady()) {
        out.problems << QStringLiteral("the modem simulator did not start");
        return out;
    }

    QList<SendSeen> sends;
    QHash<Pair, int> acknowledged;
    {
        TestRelay relay(plan.timeUnitMs, plan.tickMs, false);
        relay.setRetryDelays(plan.retryDelaysMs);
        // The trace keeps only the latest send: read it as each send ends.
        QObject::connect(&relay.reporter(), &SmsReporter::smsTried, &relay, [&](bool ok) {
            sends << readTrace(relay.trace().lines(), ok);
            if (ok)
                ++acknowledged[{sends.last().number, sends.last().text}];
        });
        relay.start();

        std::atomic<int> written{0};
        std::thread robot(robots, folders, plan.alerts, plan.tickMs, plan.seed, std::ref(written));
        // Done when every alert is written, taken and logged, and every SMS
        // sent or given up.
        const auto msLeft = [&] { return int(qMax<qint64>(plan.timeLimitMs - clock.elapsed(), 1)); };
        if (!runUntil([&] { return written == plan.alerts; }, msLeft()) || !relay.waitUntilIdle(msLeft()))
            out.problems << QStringLiteral("not done within %1 ms").arg(plan.timeLimitMs);
        robot.join();
        relay.stop();

        if (relay.SmsCount() != 0)
            out.problems << QStringLiteral("records left in the batch");
        if (!program.outboxRows(QStringLiteral("SELECT id FROM alert WHERE logged = 0")).isEmpty())
            out.problems << QStringLiteral("alerts left in the outbox");
        const QString pageLog = relay.pageLog().text();
        if (pageLog.count(QLatin1String("Sending to "))
            != std::count_if(sends.cbegin(), sends.cend(), [](const SendSeen &s) { return s.acknowledged; }))
            out.problems << QStringLiteral("page log and acknowledged sends disagree");
        out.brokenOff = int(pageLog.count(QLatin1String("the line to the modem was lost")));
        out.givenUp = int(pageLog.count(QLatin1String("Given up sending to ")));
    }
    out.rssEndKb = processStatusKb("VmRSS:");
    out.sends = int(sends.size());
    out.messageBoxes = int(boxes.shown.size());
    for (const QString &text : boxes.texts()) {
        // Only a line that is being offered afresh after a hang-up may fail to open.
        if (text != QLatin1String("Invalid port number")) {
            out.problems << QStringLiteral("unexpected message box: %1").arg(text);
            break;
        }
    }

    // Exactly one LOG row per alert.
    QHash<QString, int> logged;
    for (const QVariantList &row : program.rows(QStringLiteral("SELECT Message FROM LOG")))
        ++logged[row[0].toString()];
    out.logRows = int(std::accumulate(logged.cbegin(), logged.cend(), 0));
    QSet<QString> wantedTexts;
    for (int n = 0; n < plan.alerts; ++n) {
        wantedTexts << alertText(n);
        if (logged.value(alertText(n)) != 1) {
            out.problems << QStringLiteral("alert %1 has %2 LOG rows").arg(n).arg(logged.value(alertText(n)));
            if (out.problems.size() > 20)
                break;
        }
    }
    if (out.logRows != plan.alerts)
        out.problems << QStringLiteral("%1 LOG rows for %2 alerts").arg(out.logRows).arg(plan.alerts);

    // What the trace showed of each send. A send cut off after its text
    // was written (a time-out or a lost line) may have reached the phone
    // all the same; it is the only kind of send that may be tried again and
    // so reach the modem twice.
    QHash<Pair, int> cutOff;
    for (const SendSeen &send : std::as_const(sends)) {
        out.timeouts += send.timedOut ? 1 : 0;
        out.refusalsInTrace += send.refused ? 1 : 0;
        if (!send.acknowledged && !send.refused && !send.text.isEmpty())
            ++cutOff[{send.number, send.text}];
    }

    // Every SMS the modem accepted was wanted, and accepted once, but for
    // those cut off.
    QHash<Pair, int> accepted;
    for (const SimulatedModem::Sms &sms : modem.messages()) {
        const Pair pair{sms.number, sms.text};
        if (!numbers.contains(sms.number) || !wantedTexts.contains(sms.text))
            out.problems << QStringLiteral("unwanted SMS to %1: %2").arg(sms.number, sms.text);
        if (++accepted[pair] > 1 + cutOff.value(pair))
            out.problems << QStringLiteral("SMS accepted twice: %1 to %2").arg(sms.text, sms.number);
        out.acceptedTwice += accepted[pair] == 2 ? 1 : 0;
        ++out.accepted;
    }

    // An acknowledged send was accepted, and never sent again; one accepted
    // but not acknowledged had its answer cut off.
    for (auto it = acknowledged.cbegin(); it != acknowledged.cend(); ++it) {
        out.acknowledged += it.value();
        if (it.value() > 1)
            out.problems << QStringLiteral("acknowledged twice: %1 to %2").arg(it.key().second, it.key().first);
        if (!accepted.contains(it.key()))
            out.problems
                << QStringLiteral("acknowledged but never accepted: %1 to %2").arg(it.key().second, it.key().first);
    }
    for (auto it = accepted.cbegin(); it != accepted.cend(); ++it) {
        if (acknowledged.contains(it.key()))
            continue;
        ++out.acceptedNotAcknowledged;
        if (!cutOff.contains(it.key()))
            out.problems << QStringLiteral("accepted without its send reaching the text: %1 to %2")
                                .arg(it.key().second, it.key().first);
    }
    // Every SMS went out in the end, or was given up and said so.
    if (acknowledged.size() + out.givenUp < plan.alerts * plan.onDuty)
        out.problems << QStringLiteral("%1 SMS acknowledged and %2 given up of %3")
                            .arg(acknowledged.size())
                            .arg(out.givenUp)
                            .arg(plan.alerts * plan.onDuty);
    out.notDelivered = plan.alerts * plan.onDuty - int(accepted.size());

    // Every refusal the modem made shows in the trace of its send.
    const QString log = modem.log();
    out.refusedByModem = int(log.count(QLatin1String("refused a message to")));
    out.hangUps = int(log.count(QLatin1String("line dropped")));
    out.ignoredCommands = int(log.count(QLatin1String("(ignoring a command)")));
    if (out.refusedByModem != out.refusalsInTrace)
        out.problems << QStringLiteral("%1 refusals by the modem, %2 in the traces")
                            .arg(out.refusedByModem)
                            .arg(out.refusalsInTrace);

    // No alert file left behind.
    for (const QString &folder : std::as_const(folders)) {
        if (!folderEntries(folder).isEmpty())
            out.problems << QStringLiteral("alert file left in %1").arg(folder);
    }
    if (!modem.stop())
        out.problems << QStringLiteral("the modem simulator did not end cleanly");
    out.seconds = double(clock.elapsed()) / 1000.0;
    return out;
}
