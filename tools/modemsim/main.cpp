// vantrel-modemsim: a GSM modem in text and PDU mode on a pseudo-terminal
// bound as <folder>/COM<n>, for the tests, the demo and the benchmarks.

#include "ControlFifo.h"
#include "ModemEngine.h"
#include "PtyModem.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSocketNotifier>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sys/signalfd.h>
#include <unistd.h>

namespace {

[[noreturn]] void die(const QString &message)
{
    std::fprintf(stderr, "vantrel-modemsim: %s\n", qPrintable(message));
    std::exit(2);
}

// Reads a number option and checks its range; a typo must not pass as 0.
double number(const QCommandLineParser &parser, const QString &name, double low, double high)
{
    bool ok = false;
    const double value = parser.value(name).toDouble(&ok);
    if (!ok || value < low || value > high)
        die(QStringLiteral("--%1 wants a number from %2 to %3").arg(name).arg(low).arg(high));
    return value;
}

// Every option with its help text; --help prints them.
void addOptions(QCommandLineParser &parser)
{
    parser.setApplicationDescription(QStringLiteral(
        "A GSM modem in text and PDU mode on a pseudo-terminal linked as DIR/COM<N>.\n"
        "In text mode a text longer than 160 characters is refused with +CMS ERROR; in PDU mode\n"
        "(AT+CMGF=0, AT+CMGS=<octets>, hex, Ctrl-Z) a PDU that does not decode or has another length\n"
        "than announced gets +CMS ERROR: 304, and the parts of a concatenated message are put together.\n"
        "Each accepted SMS is a line of the record file: NUMBER TAB TEXT for text mode (the bytes as sent),\n"
        "NUMBER TAB TEXT TAB pdu/PARTS for PDU mode (the decoded text in UTF-8, once all parts are in);\n"
        "backslash escapes \\\\ \\n \\r \\t \\xHH.\n"
        "Health: AT+CPIN, AT+CREG, AT+CSQ, AT+COPS?, AT+CFUN (AT+CFUN=1,1 resets: the line drops and comes\n"
        "back fresh). Without a ready SIM a message gets +CMS ERROR: 310, 311 or 316 at AT+CMGS, without\n"
        "network service +CMS ERROR: 331 after its text.\n"
        "Status reports: a message that asks for one (bit 0x20 of AT+CSMP's first octet, TP-SRR in PDU mode)\n"
        "gets one per SMS, passed on as AT+CNMI's <ds> says: 1 as +CDS, 2 stored in SR memory (AT+CPMS=\"SR\",\n"
        "AT+CMGR, AT+CMGL, AT+CMGD) and announced as +CDSI; with <mode> 0 the modem keeps them until\n"
        "<mode> is 1 to 3. A report the modem cannot take (off, hung, no SIM, no network) comes again later."));
    parser.addHelpOption();
    const auto option = [&parser](const char *name, const char *help, const char *valueName = nullptr,
                                  const char *defaultValue = nullptr) {
        QString text = QString::fromLatin1(help);
        if (defaultValue)
            text += QStringLiteral(" Default: %1.").arg(QString::fromLatin1(defaultValue));
        parser.addOption(valueName ? QCommandLineOption(QString::fromLatin1(name), text, QString::fromLatin1(valueName),
                                                        QString::fromLatin1(defaultValue))
                                   : QCommandLineOption(QString::fromLatin1(name), text));
    };
    option("folder", "Folder that receives the COM<N> link (required).", "DIR");
    option("port", "Port number N of the link COM<N>.", "N", "1");
    option("record", "File every accepted SMS is appended to (default DIR/modemsim-sms.txt).", "FILE");
    option("serial", "Serial number answered to AT+GSN.", "TEXT", "356938035643809");
    option("no-echo", "Start with echo off (as after ATE0).");
    option("reject", "Refuse messages to this number (repeatable).", "NUMBER");
    option("reject-for", "Refuse messages to NUMBER during the first MS milliseconds after start (repeatable).",
           "NUMBER:MS");
    option("reject-part", "Refuse part N of each concatenated PDU message the first time it is offered.", "N", "0");
    option("refuse-part", "Refuse part N of every concatenated PDU message with +CMS ERROR: 500, every time.", "N",
           "0");
    option("cmgs-delay",
           "The answer to a message (+CMGS: <mr> and OK after Ctrl-Z or the PDU) comes this late, as on a "
           "congested network; other commands are answered meanwhile.",
           "MS", "0");
    option("cmee",
           "AT+CMEE mode at power-on: 0 a bare ERROR for every failure (the factory setting of many modems), "
           "1 +CME ERROR: <number>, 2 +CME ERROR: <text>.",
           "N", "1");
    option("reject-rate", "Refuse this fraction of the other messages.", "P", "0");
    option("cms-code", "Code of the +CMS ERROR sent for a refusal.", "CODE", "500");
    option("seed", "Seed of the random choices (default: random, shown in the log).", "S");
    option("error-cmgf", "Answer ERROR to AT+CMGF=1.");
    option("refuse-pdu", "Answer ERROR to AT+CMGF=0: a modem without PDU mode.");
    option("bare-ok", "Answer a bare OK to every message, without +CMGS, and send nothing.");
    option("lowercase", "Send result codes in lowercase.");
    option("silent", "Never answer anything, not even the echo.");
    option("silent-rate", "Ignore this fraction of the commands entirely.", "P", "0");
    option("delay", "Wait this long before each answer, echo included.", "MS", "0");
    option("split", "Send the output in pieces of at most N bytes.", "N", "0");
    option("split-rate", "Cut this fraction of the answers into random pieces.", "P", "0");
    option("hangup-after", "Drop the line after every N accepted messages.", "N", "0");
    option("hangup-rate", "Drop the line in the middle of this fraction of message entries.", "P", "0");
    option("reopen-ms", "After a hang-up, offer a fresh line after this long.", "MS", "500");
    option("pin", "The SIM asks for this PIN after each power-on; three wrong tries and it wants its PUK.", "NNNN");
    option("no-sim", "Start without a SIM: AT+CPIN? answers +CME ERROR: 10.");
    option("registration",
           "Registration AT+CREG? reads: 0 not searching, 1 home, 2 searching, 3 denied, 5 roaming; "
           "messages are sent at 1 and 5 only.",
           "STAT", "1");
    option("signal", "Signal strength AT+CSQ answers: 0 to 31, 99 for unknown.", "RSSI", "20");
    option("csq", "What AT+CSQ answers while registered, overriding --signal: \"99,99\" as LTE modules say.",
           "RSSI,BER");
    option("operator", "Network name AT+COPS? answers while registered.", "NAME", "Vantrel Mobile");
    option("control",
           "Make a FIFO at PATH and take commands from it, one a line: signal N, registration N, pin-required, "
           "no-sim, sim, silent on|off, csq RSSI,BER, cmgs-delay MS, refuse-part N, cmee N, unplug (the line and the "
           "link go away), plug (a fresh line and link), reports deliver (every report on its way comes now), "
           "report-fail NUMBER ST, report-silent NUMBER, keep-reports on|off, sms NUMBER TEXT (an SMS from NUMBER, "
           "stored in SM memory and announced as AT+CNMI says), ring NUMBER (RING and +CLIP every 2 s until ATH or "
           "AT+CHUP, or 20 s), dial ringing|answer S|noanswer|busy|novoice [error] (how each ATD<number>; goes from "
           "now on), sm-capacity N.",
           "PATH");
    option("sr-capacity", "Status reports the SIM's SR memory holds; when it is full, further ones are lost.", "N",
           "20");
    option("report-delay", "A status report comes this long after its message was accepted.", "MS", "200");
    option("report-late", "Add this long to every status report's delay.", "MS", "0");
    option("report-jitter", "Add a random part of this to each status report's delay, so that reports cross.", "MS",
           "0");
    option("report-fail",
           "Reports on messages to NUMBER carry TP-Status ST, in decimal, instead of 0, delivered (repeatable).",
           "NUMBER:ST");
    option("report-silent", "No status report ever comes for messages to this number (repeatable).", "NUMBER");
    option("report-mid-dialogue",
           "Hold each status report until the next message prompt and send it right after the \"> \".");
    option("keep-reports", "Store every status report in SR memory and announce none, whatever AT+CNMI says.");
    option("stored-reports-only",
           "AT+CNMI takes <ds> 0 and 2 only: status reports are stored and announced with +CDSI, never passed on.");
    option("sm-capacity",
           "Incoming SMS the SIM's SM memory holds; a full memory refuses more, which the network keeps until "
           "there is room.",
           "N", "30");
    option("sms", "An unread SMS on the SIM at start, as \"NUMBER TEXT\" (repeatable).", "NUMBER TEXT");
    option("cmt-only", "AT+CNMI takes <mt> 0 and 2 only: incoming SMS are passed on as +CMT, never announced.");
    option("no-ath", "ATH answers ERROR; AT+CHUP hangs up.");
    option("dial",
           "How each ATD<number>; goes: ringing (until hung up), answer (at once; the control FIFO sets a delay), "
           "noanswer, busy, novoice (NO CARRIER at once).",
           "MODE", "ringing");
    option("quiet", "Do not log the dialogue on stderr.");
}

// What the modem answers and refuses.
ModemEngine::Options modemOptions(const QCommandLineParser &parser, quint32 seed)
{
    ModemEngine::Options modem;
    modem.echo = !parser.isSet(QStringLiteral("no-echo"));
    modem.serial = parser.value(QStringLiteral("serial")).toLatin1();
    for (const QString &rejected : parser.values(QStringLiteral("reject")))
        modem.rejected.insert(rejected.toLatin1());
    for (const QString &window : parser.values(QStringLiteral("reject-for"))) {
        const qsizetype colon = window.lastIndexOf(QLatin1Char(':'));
        bool isNumber = false;
        const int ms = window.mid(colon + 1).toInt(&isNumber);
        if (colon < 1 || !isNumber || ms < 0)
            die(QStringLiteral("--reject-for wants NUMBER:MS, not %1").arg(window));
        modem.rejectedFor.insert(window.left(colon).toLatin1(), ms);
    }
    modem.rejectPart = int(number(parser, QStringLiteral("reject-part"), 0, 255));
    modem.refusePart = int(number(parser, QStringLiteral("refuse-part"), 0, 255));
    modem.cmgsDelayMs = int(number(parser, QStringLiteral("cmgs-delay"), 0, 3600000));
    modem.errorMode = int(number(parser, QStringLiteral("cmee"), 0, 2));
    modem.rejectRate = number(parser, QStringLiteral("reject-rate"), 0, 1);
    modem.cmsCode = int(number(parser, QStringLiteral("cms-code"), 0, 65535));
    modem.refuseTextMode = parser.isSet(QStringLiteral("error-cmgf"));
    modem.refusePduMode = parser.isSet(QStringLiteral("refuse-pdu"));
    modem.bareOk = parser.isSet(QStringLiteral("bare-ok"));
    modem.lowercase = parser.isSet(QStringLiteral("lowercase"));
    modem.silent = parser.isSet(QStringLiteral("silent"));
    modem.silentRate = number(parser, QStringLiteral("silent-rate"), 0, 1);
    modem.hangupAfter = int(number(parser, QStringLiteral("hangup-after"), 0, 1e9));
    modem.hangupRate = number(parser, QStringLiteral("hangup-rate"), 0, 1);
    modem.seed = seed;

    if (parser.isSet(QStringLiteral("pin"))) {
        modem.pin = parser.value(QStringLiteral("pin")).toLatin1();
        if (modem.pin.size() < 4 || modem.pin.size() > 8
            || !std::all_of(modem.pin.cbegin(), modem.pin.cend(), [](char c) { return c >= '0' && c <= '9'; }))
            die(QStringLiteral("--pin wants 4 to 8 digits"));
        modem.pinLock = true;
    }
    modem.simInserted = !parser.isSet(QStringLiteral("no-sim"));
    modem.registration = int(number(parser, QStringLiteral("registration"), 0, 5));
    if (modem.registration == 4)
        die(QStringLiteral("--registration wants 0, 1, 2, 3 or 5"));
    modem.signal = int(number(parser, QStringLiteral("signal"), 0, 99));
    if (modem.signal > 31 && modem.signal != 99)
        die(QStringLiteral("--signal wants 0 to 31, or 99"));
    if (parser.isSet(QStringLiteral("csq"))) {
        const std::optional<QByteArray> csq =
            ModemEngine::signalQuality(parser.value(QStringLiteral("csq")).toLatin1());
        if (!csq)
            die(QStringLiteral("--csq wants RSSI,BER: 0 to 31 or 99, then 0 to 7 or 99"));
        modem.csq = *csq;
    }
    modem.operatorName = parser.value(QStringLiteral("operator")).toLatin1();
    modem.srCapacity = int(number(parser, QStringLiteral("sr-capacity"), 0, 1000));
    modem.reportDelayMs = int(number(parser, QStringLiteral("report-delay"), 0, 3600000));
    modem.reportLateMs = int(number(parser, QStringLiteral("report-late"), 0, 3600000));
    modem.reportJitterMs = int(number(parser, QStringLiteral("report-jitter"), 0, 3600000));
    for (const QString &failure : parser.values(QStringLiteral("report-fail"))) {
        const qsizetype colon = failure.lastIndexOf(QLatin1Char(':'));
        bool isNumber = false;
        const int status = failure.mid(colon + 1).toInt(&isNumber);
        if (colon < 1 || !isNumber || status < 0 || status > 255)
            die(QStringLiteral("--report-fail wants NUMBER:ST with ST from 0 to 255, not %1").arg(failure));
        modem.reportStatus.insert(failure.left(colon).toLatin1(), status);
    }
    for (const QString &silent : parser.values(QStringLiteral("report-silent")))
        modem.reportSilent.insert(silent.toLatin1());
    modem.reportMidDialogue = parser.isSet(QStringLiteral("report-mid-dialogue"));
    modem.keepReports = parser.isSet(QStringLiteral("keep-reports"));
    modem.storedReportsOnly = parser.isSet(QStringLiteral("stored-reports-only"));
    modem.smCapacity = int(number(parser, QStringLiteral("sm-capacity"), 0, 1000));
    for (const QString &sms : parser.values(QStringLiteral("sms"))) {
        const qsizetype space = sms.indexOf(QLatin1Char(' '));
        if (space < 1)
            die(QStringLiteral("--sms wants \"NUMBER TEXT\", not %1").arg(sms));
        modem.storedSms.append({sms.left(space).toLatin1(), sms.mid(space + 1)});
    }
    modem.cmtOnly = parser.isSet(QStringLiteral("cmt-only"));
    modem.refuseAth = parser.isSet(QStringLiteral("no-ath"));
    modem.dial = parser.value(QStringLiteral("dial")).toLatin1();
    if (!QList<QByteArray>{"ringing", "answer", "noanswer", "busy", "novoice"}.contains(modem.dial))
        die(QStringLiteral("--dial wants ringing, answer, noanswer, busy or novoice"));

    return modem;
}

// How the answers travel over the line.
PtyModem::Options lineOptions(const QCommandLineParser &parser, quint32 seed)
{
    PtyModem::Options line;
    line.delayMs = int(number(parser, QStringLiteral("delay"), 0, 3600000));
    line.split = int(number(parser, QStringLiteral("split"), 0, 1e9));
    line.splitRate = number(parser, QStringLiteral("split-rate"), 0, 1);
    line.reopenMs = int(number(parser, QStringLiteral("reopen-ms"), 0, 3600000));
    line.seed = seed + 1;

    return line;
}

// Each accepted SMS becomes a line of the record file, flushed at once:
// tests and people read the file while the modem runs.
void recordAccepted(const ModemEngine &engine, QFile &record)
{
    QObject::connect(&engine, &ModemEngine::accepted, [&record](const QByteArray &to, const QByteArray &text) {
        record.write(ModemEngine::escape(to) + '\t' + ModemEngine::escape(text) + '\n');
        record.flush();
    });
    QObject::connect(&engine, &ModemEngine::acceptedPdu,
                     [&record](const QByteArray &to, const QString &text, int parts) {
                         record.write(ModemEngine::escape(to) + '\t' + ModemEngine::escape(text.toUtf8()) + "\tpdu/"
                                      + QByteArray::number(parts) + '\n');
                         record.flush();
                     });
}

} // namespace

int main(int argc, char *argv[])
{
    // Signals are taken through a descriptor in the event loop, so that the
    // objects below are destroyed as usual and the link is removed.
    sigset_t stop;
    sigemptyset(&stop);
    for (const int s : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&stop, s);
    sigprocmask(SIG_BLOCK, &stop, nullptr);

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vantrel-modemsim"));

    QCommandLineParser parser;
    addOptions(parser);
    parser.process(app);

    if (!parser.isSet(QStringLiteral("folder")))
        die(QStringLiteral("--folder is required"));
    const QString folder = parser.value(QStringLiteral("folder"));
    const int port = int(number(parser, QStringLiteral("port"), 1, 255));
    const bool quiet = parser.isSet(QStringLiteral("quiet"));
    const quint32 seed = parser.isSet(QStringLiteral("seed"))
                             ? quint32(number(parser, QStringLiteral("seed"), 0, 4294967295.0))
                             : QRandomGenerator::system()->generate();

    const ModemEngine::Options modem = modemOptions(parser, seed);
    const PtyModem::Options line = lineOptions(parser, seed);

    if (!QDir().mkpath(folder))
        die(QStringLiteral("cannot create %1").arg(folder));
    QFile record(parser.isSet(QStringLiteral("record")) ? parser.value(QStringLiteral("record"))
                                                        : QDir(folder).filePath(QStringLiteral("modemsim-sms.txt")));
    if (!record.open(QIODevice::WriteOnly | QIODevice::Append))
        die(QStringLiteral("cannot write %1: %2").arg(record.fileName(), record.errorString()));

    const auto log = [](const QString &text) {
        std::fprintf(stderr, "%s\n", qPrintable(text));
        std::fflush(stderr);
    };
    ModemEngine engine(modem);
    PtyModem pty(engine, folder, port, line);
    recordAccepted(engine, record);
    QObject::connect(&engine, &ModemEngine::refused, [&log](const QByteArray &to, const QByteArray &reason) {
        log(QStringLiteral("refused a message to %1: %2")
                .arg(QString::fromLatin1(ModemEngine::escape(to)), QString::fromLatin1(reason)));
    });
    if (!quiet) {
        QObject::connect(&engine, &ModemEngine::logged, log);
        QObject::connect(&pty, &PtyModem::logged, log);
    }
    QObject::connect(&pty, &PtyModem::ready, [port](const QString &slave) {
        std::printf("ready COM%d %s\n", port, qPrintable(slave));
        std::fflush(stdout);
    });
    std::unique_ptr<ControlFifo> control;
    if (parser.isSet(QStringLiteral("control"))) {
        control = std::make_unique<ControlFifo>(parser.value(QStringLiteral("control")));
        QString error;
        if (!control->open(&error))
            die(error);
        QObject::connect(control.get(), &ControlFifo::received, &pty, &PtyModem::control);
    }

    const int signalFd = ::signalfd(-1, &stop, SFD_CLOEXEC | SFD_NONBLOCK);
    QSocketNotifier stopper(signalFd, QSocketNotifier::Read);
    QObject::connect(&stopper, &QSocketNotifier::activated, &app, &QCoreApplication::quit);

    if (!quiet)
        log(QStringLiteral("seed %1").arg(seed));
    QString error;
    if (!pty.open(&error))
        die(error);
    const int code = app.exec();
    ::close(signalFd);
    return code;
}
