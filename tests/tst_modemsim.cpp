// The modem simulator: its engine byte for byte, then the real tool on a real
// pseudo-terminal, talked to through its COM link with QSerialPort and
// changed while it runs through its control FIFO. What the relay tests
// already meet through the tool (refusals of a number, for a while or of a
// part, split and slow replies, silence, a bare OK to a text, PDU messages in
// parts) is left to them.

#include "ModemEngine.h"
#include "modem/SmsPdu.h"
#include "support/RunUntil.h"
#include "support/SimulatedModem.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QSerialPort>
#include <QTimeZone>
#include <QtTest>

class tst_modemsim : public QObject
{
    Q_OBJECT

private slots:
    void engineCommands();
    void engineMessages();
    void engineSurvivesGarbage();
    void enginePduMode();
    void engineRefusalsAndHangUps();
    void engineHealth();
    void engineErrorModesAndACongestedNetwork();
    void engineReportSettings();
    void engineReportsPassedOn();
    void engineStoredReports();
    void engineReferences();
    void engineIncomingSms();
    void engineCalls();
    void toolOverThePty();
    void toolControl();
    void toolIncomingSmsAndCalls();
};

namespace {

bool openPort(QSerialPort &port, const QString &path)
{
    port.setPortName(path);
    return port.open(QIODevice::ReadWrite);
}

// Writes `send` and collects what comes back until `until` shows up or three
// seconds pass.
QByteArray talk(QSerialPort &port, const QByteArray &send, const QByteArray &until)
{
    port.write(send);
    port.flush();
    QByteArray got;
    const QDeadlineTimer deadline(3000);
    while (!got.contains(until) && !deadline.hasExpired()) {
        if (port.waitForReadyRead(int(qMax<qint64>(deadline.remainingTime(), 1))))
            got += port.readAll();
        else if (port.error() != QSerialPort::TimeoutError)
            break;
    }
    return got;
}

// One part in PDU mode: the length command, then the hex; the answer to the hex.
QByteArray sendPart(ModemEngine &modem, const SmsPdu::Part &part, int announced = -1)
{
    const int length = announced < 0 ? part.tpduLength : announced;
    if (!modem.feed("AT+CMGS=" + QByteArray::number(length) + "\r").endsWith("> "))
        return "no prompt";
    return modem.feed(part.hex + "\x1a");
}

QByteArray acknowledged(int reference)
{
    return "\r\n+CMGS: " + QByteArray::number(reference) + "\r\n\r\nOK\r\n";
}

const QByteArray Refused = "\r\n+CMS ERROR: 500\r\n";
const QByteArray Ok = "\r\nOK\r\n";

QByteArray answer(const QByteArray &text)
{
    return "\r\n" + text + "\r\n" + Ok;
}

QDateTime at(int hour, int minute, int second)
{
    return QDateTime(QDate(2024, 3, 5), QTime(hour, minute, second), QTimeZone(2 * 3600));
}

// One text-mode message: the number, then the text; the answer to the text.
QByteArray sendText(ModemEngine &modem, const QByteArray &number, const QByteArray &text = "hi")
{
    if (!modem.feed("AT+CMGS=\"" + number + "\"\r").endsWith("> "))
        return "no prompt";
    return modem.feed(text + "\x1a");
}

// What the modem says to a control line; "not a command" for one it refuses.
QByteArray said(ModemEngine &modem, const QByteArray &line)
{
    return modem.control(line).value_or("not a command");
}

} // namespace

void tst_modemsim::engineCommands()
{
    ModemEngine modem;
    // Echo first, byte for byte, then the framed result; case does not matter.
    QCOMPARE(modem.feed("AT+CMGF=1\r"), QByteArray("AT+CMGF=1\r\r\nOK\r\n"));
    QCOMPARE(modem.feed("at+cmgf?\r\n"), QByteArray("at+cmgf?\r\r\n+CMGF: 1\r\n\r\nOK\r\n\n"));
    QCOMPARE(modem.feed("AT+GSN\r"), QByteArray("AT+GSN\r\r\n356938035643809\r\n\r\nOK\r\n"));
    QCOMPARE(modem.feed("\r"), QByteArray("\r"));
    QCOMPARE(modem.feed("ATE0\r"), QByteArray("ATE0\r\r\nOK\r\n"));
    QCOMPARE(modem.feed("AT\r"), QByteArray("\r\nOK\r\n"));
    QCOMPARE(modem.feed("AT+CGMI\r"), QByteArray("\r\nVantrel\r\n\r\nOK\r\n"));
    QCOMPARE(modem.feed("AT+CSCA?\r"), QByteArray("\r\nERROR\r\n"));
    QCOMPARE(modem.feed("hello\r"), QByteArray("\r\nERROR\r\n"));
    QCOMPARE(modem.feed("ATZ\r"), QByteArray("\r\nOK\r\n"));
    QCOMPARE(modem.feed("AT+CMGF=0\r"), QByteArray("AT+CMGF=0\r\r\nOK\r\n"));

    // A serial line delivers a byte at a time: the same answer results.
    ModemEngine slow;
    QByteArray answer;
    for (const char c : QByteArray("AT+CMGF=1\r"))
        answer += slow.feed(QByteArrayView(&c, 1));
    QCOMPARE(answer, QByteArray("AT+CMGF=1\r\r\nOK\r\n"));

    ModemEngine brokenModem({.echo = false, .refuseTextMode = true, .lowercase = true});
    QCOMPARE(brokenModem.feed("AT+CMGF=1\r"), QByteArray("\r\nerror\r\n"));
    QCOMPARE(brokenModem.feed("AT\r"), QByteArray("\r\nok\r\n"));
}

void tst_modemsim::engineMessages()
{
    ModemEngine modem;
    QSignalSpy accepted(&modem, &ModemEngine::accepted);
    // A modem wakes up in PDU mode: text mode must be asked for.
    QCOMPARE(modem.feed("AT+CMGS=\"+15550001\"\r"), QByteArray("AT+CMGS=\"+15550001\"\r\r\nERROR\r\n"));
    modem.feed("AT+CMGF=1\r");

    // A CR inside the text prompts again and stays in the text; what follows
    // Ctrl-Z is a command again, so the bare CR is only echoed.
    QCOMPARE(modem.feed("AT+CMGS=5550002,129\r"), QByteArray("AT+CMGS=5550002,129\r\r\n> "));
    QCOMPARE(modem.feed("one\rtwo\x1a\r"), QByteArray("one\r\n> two\r\n+CMGS: 1\r\n\r\nOK\r\n\r"));
    QCOMPARE(accepted.size(), 1);
    QCOMPARE(accepted[0][0].toByteArray(), QByteArray("5550002"));
    QCOMPARE(accepted[0][1].toByteArray(), QByteArray("one\rtwo"));
    QCOMPARE(accepted[0][2].toInt(), 1);

    // ESC cancels: OK, and nothing is sent.
    modem.feed("AT+CMGS=\"3\"\r");
    QCOMPARE(modem.feed("never\x1b"), QByteArray("never\r\nOK\r\n"));
    QVERIFY(modem.feed("AT+CMGS=\"\"\r").endsWith("\r\nERROR\r\n"));
    QCOMPARE(accepted.size(), 1);
}

void tst_modemsim::engineSurvivesGarbage()
{
    ModemEngine modem;
    QSignalSpy accepted(&modem, &ModemEngine::accepted);
    QRandomGenerator random(7);
    qsizetype most = 0;
    for (int round = 0; round < 256; ++round) {
        QByteArray chunk(4096, Qt::Uninitialized);
        for (char &c : chunk)
            c = char(random.bounded(256));
        modem.feed(chunk);
        most = qMax(most, modem.bufferedBytes());
    }
    QVERIFY(most <= ModemEngine::MaxCommandLength + ModemEngine::MaxTextLength);
    QVERIFY(modem.feed("\x1b\rAT\r").endsWith("\r\nOK\r\n"));

    modem.feed("ATE0\r");
    QCOMPARE(modem.feed(QByteArray(10000, 'A') + '\r'), QByteArray("\r\nERROR\r\n"));
    QCOMPARE(modem.feed("AT\r"), QByteArray("\r\nOK\r\n"));

    modem.feed("AT+CMGF=1\rAT+CMGS=\"1\"\r");
    for (int round = 0; round < 4; ++round)
        modem.feed(QByteArray(64 * 1024, 'x'));
    QVERIFY(modem.bufferedBytes() <= ModemEngine::MaxTextLength);
    QCOMPARE(modem.feed("\x1a"), QByteArray("\r\n+CMS ERROR: 500\r\n"));
    QCOMPARE(accepted.size(), 0);
    QCOMPARE(modem.bufferedBytes(), 0);
}

void tst_modemsim::enginePduMode()
{
    ModemEngine modem({.echo = false});
    QSignalSpy accepted(&modem, &ModemEngine::acceptedPdu);
    QSignalSpy refused(&modem, &ModemEngine::refused);

    // A wrong length, a malformed PDU, an SMS-DELIVER: 304, and no reference used.
    const SmsPdu::Part part = SmsPdu::encode("5550002", "hi", 2).parts[0];
    QCOMPARE(sendPart(modem, part, part.tpduLength + 1), QByteArray("\r\n+CMS ERROR: 304\r\n"));
    QCOMPARE(sendPart(modem, {3, "00ZZ11"}), QByteArray("\r\n+CMS ERROR: 304\r\n"));
    QCOMPARE(sendPart(modem, {13, "0010000891515500100000A700"}), QByteArray("\r\n+CMS ERROR: 304\r\n"));
    QCOMPARE(refused.size(), 3);
    QCOMPARE(modem.feed("AT+CMGS=x\r"), QByteArray("\r\nERROR\r\n"));
    // Line ends inside the hex do not count.
    modem.feed("AT+CMGS=" + QByteArray::number(part.tpduLength) + "\r");
    QCOMPARE(modem.feed(part.hex.left(10) + "\r\n" + part.hex.mid(10) + "\x1a"), "\r\n> " + acknowledged(1));

    // Three parts, out of order: each acknowledged, the message kept once, whole.
    const QString text = QString(150, 'a') + QString(150, 'b') + QString(100, 'c');
    const SmsPdu::Message message = SmsPdu::encode("+15550003", text, 77);
    QCOMPARE(sendPart(modem, message.parts[2]), acknowledged(2));
    QCOMPARE(sendPart(modem, message.parts[0]), acknowledged(3));
    QCOMPARE(accepted.size(), 1);
    QCOMPARE(sendPart(modem, message.parts[1]), acknowledged(4));
    QCOMPARE(accepted.size(), 2);
    QCOMPARE(accepted[1][0].toByteArray(), QByteArray("+15550003"));
    QCOMPARE(accepted[1][1].toString(), text);
    QCOMPARE(accepted[1][2].toInt(), 3);

    // Text mode takes one SMS at most, as real modems do.
    modem.feed("AT+CMGF=1\r");
    QSignalSpy acceptedText(&modem, &ModemEngine::accepted);
    modem.feed("AT+CMGS=\"1\"\r");
    QCOMPARE(modem.feed(QByteArray(161, 'x') + "\x1a"), Refused);
    modem.feed("AT+CMGS=\"1\"\r");
    QCOMPARE(modem.feed(QByteArray(160, 'x') + "\x1a"), acknowledged(5));
    QCOMPARE(acceptedText.size(), 1);
    QCOMPARE(refused.size(), 4);
    QCOMPARE(refused[3][1].toByteArray(), QByteArray("text of 161 characters does not fit one SMS"));

    ModemEngine textOnlyModem({.echo = false, .refusePduMode = true});
    QCOMPARE(textOnlyModem.feed("AT+CMGF=0\r"), QByteArray("\r\nERROR\r\n"));
    QCOMPARE(sendPart(textOnlyModem, part), QByteArray("no prompt"));
}

void tst_modemsim::engineRefusalsAndHangUps()
{
    // A refusal in the code asked for uses up no message reference.
    ModemEngine modem({.echo = false, .rejected = {"+15550009"}, .cmsCode = 321});
    QSignalSpy accepted(&modem, &ModemEngine::accepted);
    QSignalSpy refused(&modem, &ModemEngine::refused);
    modem.feed("AT+CMGF=1\rAT+CMGS=\"+15550009\"\r");
    QCOMPARE(modem.feed("hi\x1a"), QByteArray("\r\n+CMS ERROR: 321\r\n"));
    QCOMPARE(refused.size(), 1);
    QCOMPARE(refused[0][0].toByteArray(), QByteArray("+15550009"));
    modem.feed("AT+CMGS=\"+15550001\"\r");
    QCOMPARE(modem.feed("hi\x1a"), QByteArray("\r\n+CMGS: 1\r\n\r\nOK\r\n"));
    QCOMPARE(accepted.size(), 1);

    // A line broken off in the middle of a message: nothing is sent.
    ModemEngine flakyModem({.echo = false, .hangupRate = 1});
    QSignalSpy flakyAccepted(&flakyModem, &ModemEngine::accepted);
    flakyModem.feed("AT+CMGF=1\rAT+CMGS=\"1\"\r");
    flakyModem.feed("a longer text than any break-off point\x1a");
    QVERIFY(flakyModem.lineDropped());
    QCOMPARE(flakyAccepted.size(), 0);

    const SmsPdu::Message message = SmsPdu::encode("+15550001", QString(400, 'z'), 9);

    // A bare OK to a PDU: nothing counts as sent.
    ModemEngine bareModem({.echo = false, .bareOk = true});
    QSignalSpy barePdu(&bareModem, &ModemEngine::acceptedPdu);
    for (const SmsPdu::Part &part : message.parts)
        QCOMPARE(sendPart(bareModem, part), QByteArray("\r\nOK\r\n"));
    QCOMPARE(barePdu.size(), 0);

    // Part 2 is refused when first offered, taken when offered again; the
    // next message with the same reference meets the same refusal once.
    ModemEngine choosyModem({.echo = false, .rejectPart = 2});
    QSignalSpy choosyAccepted(&choosyModem, &ModemEngine::acceptedPdu);
    for (int round = 0; round < 2; ++round) {
        const int reference = round * 3;
        QCOMPARE(sendPart(choosyModem, message.parts[0]), acknowledged(reference + 1));
        QCOMPARE(sendPart(choosyModem, message.parts[1]), Refused);
        QCOMPARE(sendPart(choosyModem, message.parts[1]), acknowledged(reference + 2));
        QCOMPARE(sendPart(choosyModem, message.parts[2]), acknowledged(reference + 3));
        QCOMPARE(choosyAccepted.size(), round + 1);
    }
}

void tst_modemsim::engineHealth()
{
    ModemEngine modem({.echo = false});
    QCOMPARE(modem.feed("AT+CPIN?\r"), answer("+CPIN: READY"));
    QCOMPARE(modem.feed("AT+CPIN=1234\r"), QByteArray("\r\n+CME ERROR: 3\r\n"));
    QCOMPARE(modem.feed("AT+CREG?\r"), answer("+CREG: 0,1"));
    QCOMPARE(modem.feed("AT+CREG=2\r"), Ok);
    QCOMPARE(modem.feed("AT+CREG?\r"), answer("+CREG: 2,1,\"1A2B\",\"3C4D\""));
    QCOMPARE(modem.feed("AT+CREG=3\r"), QByteArray("\r\nERROR\r\n"));
    QCOMPARE(modem.feed("AT+CSQ\r"), answer("+CSQ: 20,99"));
    QCOMPARE(modem.feed("AT+COPS?\r"), answer("+COPS: 0,0,\"Vantrel Mobile\""));
    QCOMPARE(modem.feed("AT+CFUN?\r"), answer("+CFUN: 1"));
    // Radio off: not registered, and told so unasked with AT+CREG=1 or 2.
    modem.feed("AT+CREG=1\r");
    QCOMPARE(modem.feed("AT+CFUN=4\r"), Ok + "\r\n+CREG: 0\r\n");
    QCOMPARE(modem.feed("AT+COPS?\r"), answer("+COPS: 0"));
    QCOMPARE(modem.feed("AT+CFUN=1\r"), Ok + "\r\n+CREG: 1\r\n");

    // The surroundings change while the modem runs.
    QCOMPARE(modem.control("signal 0"), std::optional<QByteArray>(""));
    QCOMPARE(modem.feed("AT+CSQ\r"), answer("+CSQ: 0,99"));
    QCOMPARE(modem.control("registration 3"), std::optional<QByteArray>("\r\n+CREG: 3\r\n"));
    QCOMPARE(modem.control("signal 32"), std::nullopt);
    QCOMPARE(modem.control("registration 4"), std::nullopt);
    QCOMPARE(modem.control("louder"), std::nullopt);
    QVERIFY(modem.control("silent on"));
    QCOMPARE(modem.feed("AT\r"), QByteArray());
    QVERIFY(modem.control("silent off"));
    QCOMPARE(modem.feed("AT\r"), Ok);

    // Without a SIM: +CME ERROR as AT+CMEE says, messages refused at once.
    QCOMPARE(modem.control("no-sim"), std::optional<QByteArray>("\r\n+CREG: 0\r\n"));
    QCOMPARE(modem.feed("AT+CPIN?\r"), QByteArray("\r\n+CME ERROR: 10\r\n"));
    QCOMPARE(modem.feed("AT+CPIN=0000\r"), QByteArray("\r\n+CME ERROR: 10\r\n"));
    modem.feed("AT+CMEE=2\r");
    QCOMPARE(modem.feed("AT+CPIN?\r"), QByteArray("\r\n+CME ERROR: SIM not inserted\r\n"));
    modem.feed("AT+CMEE=0\r");
    QCOMPARE(modem.feed("AT+CPIN?\r"), QByteArray("\r\nERROR\r\n"));
    QCOMPARE(modem.feed("AT+CMGS=5\r"), QByteArray("\r\n+CMS ERROR: 310\r\n"));
    modem.feed("AT+CMEE=1\r");
    // The SIM back: it has no PIN lock, until it is told to ask (for 0000).
    QCOMPARE(modem.control("sim"), std::optional<QByteArray>("\r\n+CREG: 3\r\n"));
    QCOMPARE(modem.feed("AT+CPIN?\r"), answer("+CPIN: READY"));
    modem.control("pin-required");
    QCOMPARE(modem.feed("AT+CPIN?\r"), answer("+CPIN: SIM PIN"));
    QCOMPARE(modem.feed("AT+CPIN=0000\r"), Ok + "\r\n+CREG: 3\r\n");

    // A SIM with a PIN: not registered until it has it; three wrong tries
    // and it wants its PUK, which no PIN, not even the right one, gets past.
    ModemEngine locked(
        {.echo = false, .pin = "1234", .pinLock = true, .registration = 5, .signal = 7, .operatorName = "Test Net"});
    QCOMPARE(locked.feed("AT+CPIN?\r"), answer("+CPIN: SIM PIN"));
    QCOMPARE(locked.feed("AT+CREG?\r"), answer("+CREG: 0,0"));
    QCOMPARE(locked.feed("AT+COPS?\r"), answer("+COPS: 0"));
    QCOMPARE(locked.feed("AT+CMGF=1\rAT+CMGS=\"+15550001\"\r"), Ok + "\r\n+CMS ERROR: 311\r\n");
    QCOMPARE(locked.feed("AT+CPIN=0000\r"), QByteArray("\r\n+CME ERROR: 16\r\n"));
    QCOMPARE(locked.feed("AT+CREG=1\rAT+CPIN=\"1234\"\r"), Ok + Ok + "\r\n+CREG: 5\r\n");
    QCOMPARE(locked.feed("AT+CPIN?\r"), answer("+CPIN: READY"));
    QCOMPARE(locked.feed("AT+COPS?\r"), answer("+COPS: 0,0,\"Test Net\""));
    QCOMPARE(locked.feed("AT+CSQ\r"), answer("+CSQ: 7,99"));
    QCOMPARE(sendText(locked, "+15550001"), acknowledged(1));

    // A reset answers OK and drops the line; the modem starts over and the
    // SIM asks for its PIN again.
    QCOMPARE(locked.feed("AT+CFUN=1,1\rAT\r"), Ok);
    QVERIFY(locked.lineDropped());
    QCOMPARE(locked.feed("AT\r"), QByteArray());
    locked.powerOn();
    QCOMPARE(locked.feed("AT+CPIN?\r"), answer("+CPIN: SIM PIN"));
    for (const QByteArray wrong : {"1111", "2222", "3333"})
        QCOMPARE(locked.feed("AT+CPIN=" + wrong + "\r"), QByteArray("\r\n+CME ERROR: 16\r\n"));
    QCOMPARE(locked.feed("AT+CPIN?\r"), answer("+CPIN: SIM PUK"));
    QCOMPARE(locked.feed("AT+CPIN=1234\r"), QByteArray("\r\n+CME ERROR: 16\r\n"));
    QCOMPARE(locked.feed("AT+CMGS=5\r"), QByteArray("\r\n+CMS ERROR: 316\r\n"));
    // The SIM counts its tries itself: a power cycle does not help.
    locked.powerOn();
    QCOMPARE(locked.feed("AT+CPIN?\r"), answer("+CPIN: SIM PUK"));

    // Without network service a message is typed in and then refused, in
    // both modes, using up no reference.
    ModemEngine searching({.echo = false, .registration = 2});
    QSignalSpy searchingRefused(&searching, &ModemEngine::refused);
    QCOMPARE(searching.feed("AT+COPS?\r"), answer("+COPS: 0"));
    searching.feed("AT+CMGF=1\r");
    QCOMPARE(sendText(searching, "+15550001"), QByteArray("\r\n+CMS ERROR: 331\r\n"));
    searching.feed("AT+CMGF=0\r");
    QCOMPARE(sendPart(searching, SmsPdu::encode("+15550001", "hi", 1).parts[0]), QByteArray("\r\n+CMS ERROR: 331\r\n"));
    QCOMPARE(searchingRefused.size(), 2);
    QCOMPARE(searchingRefused[1][1].toByteArray(), QByteArray("no network service"));
    searching.control("registration 1");
    QCOMPARE(sendPart(searching, SmsPdu::encode("+15550001", "hi", 1).parts[0]), acknowledged(1));
}

void tst_modemsim::engineErrorModesAndACongestedNetwork()
{
    // Failures as AT+CMEE says, from power-on: a bare ERROR, then words,
    // then codes; a power-on sets the mode back, the control line too.
    ModemEngine bare({.echo = false, .errorMode = 0, .pin = "1234", .pinLock = true});
    QCOMPARE(bare.feed("AT+CMEE?\r"), answer("+CMEE: 0"));
    QCOMPARE(bare.feed("AT+CPIN=9999\r"), QByteArray("\r\nERROR\r\n"));
    QCOMPARE(bare.feed("AT+CMEE=2\r"), Ok);
    QCOMPARE(bare.feed("AT+CPIN=9999\r"), QByteArray("\r\n+CME ERROR: incorrect password\r\n"));
    QCOMPARE(bare.feed("AT+CMEE=1\r"), Ok);
    QCOMPARE(bare.feed("AT+CMEE?\r"), answer("+CMEE: 1"));
    bare.powerOn();
    QCOMPARE(bare.feed("AT+CMEE?\r"), answer("+CMEE: 0"));
    QCOMPARE(bare.control("cmee 2"), std::optional<QByteArray>(""));
    QCOMPARE(bare.feed("AT+CMEE?\r"), answer("+CMEE: 2"));
    QCOMPARE(bare.control("cmee 3"), std::nullopt);
    QCOMPARE(ModemEngine({.echo = false}).feed("AT+CMEE?\r"), answer("+CMEE: 1"));

    // An LTE module: 99,99 while registered; not registered, the signal as ever.
    ModemEngine lte({.echo = false, .csq = "99,99"});
    QCOMPARE(lte.feed("AT+CSQ\r"), answer("+CSQ: 99,99"));
    lte.control("registration 2");
    QCOMPARE(lte.feed("AT+CSQ\r"), answer("+CSQ: 20,99"));
    lte.control("registration 5");
    QCOMPARE(lte.control("csq 17,3"), std::optional<QByteArray>(""));
    QCOMPARE(lte.feed("AT+CSQ\r"), answer("+CSQ: 17,3"));
    for (const char *wrong : {"csq 32,0", "csq 5,8", "csq 5", "csq x,1"})
        QCOMPARE(lte.control(wrong), std::nullopt);
    QCOMPARE(ModemEngine::signalQuality("99,99"), std::optional<QByteArray>("99,99"));

    // A congested network: the answer to a message goes to the host, to be
    // written that much later; commands are answered meanwhile.
    ModemEngine slow({.echo = false, .cmgsDelayMs = 700});
    QSignalSpy late(&slow, &ModemEngine::answerLate);
    slow.feed("AT+CMGF=1\r");
    QCOMPARE(sendText(slow, "+15550001"), QByteArray());
    QCOMPARE(late.size(), 1);
    QCOMPARE(late[0][0].toByteArray(), acknowledged(1));
    QCOMPARE(late[0][1].toInt(), 700);
    QCOMPARE(slow.feed("AT\r"), Ok);
    slow.feed("AT+CMGF=0\r");
    QCOMPARE(sendPart(slow, SmsPdu::encode("+15550001", "hi", 1).parts[0]), QByteArray());
    QCOMPARE(late.size(), 2);
    QCOMPARE(late[1][0].toByteArray(), acknowledged(2));
    QCOMPARE(slow.control("cmgs-delay 0"), std::optional<QByteArray>(""));
    QCOMPARE(sendPart(slow, SmsPdu::encode("+15550001", "hi", 2).parts[0]), acknowledged(3));
    QCOMPARE(late.size(), 2);

    // One part of every long message refused, every time it comes.
    ModemEngine picky({.echo = false, .refusePart = 2});
    QSignalSpy whole(&picky, &ModemEngine::acceptedPdu);
    const SmsPdu::Message message = SmsPdu::encode("+15550001", QString(200, 'x'), 7);
    QCOMPARE(message.parts.size(), 2);
    for (int round = 0; round < 3; ++round) {
        QCOMPARE(sendPart(picky, message.parts[0]), acknowledged(round + 1));
        QCOMPARE(sendPart(picky, message.parts[1]), Refused);
    }
    QCOMPARE(whole.size(), 0);
    QCOMPARE(picky.control("refuse-part 0"), std::optional<QByteArray>(""));
    QCOMPARE(sendPart(picky, message.parts[1]), acknowledged(4));
    QCOMPARE(whole.size(), 1);
}

void tst_modemsim::engineReportSettings()
{
    ModemEngine modem({.echo = false});
    QCOMPARE(modem.feed("AT+CSMP?\r"), answer("+CSMP: 17,167,0,0"));
    QCOMPARE(modem.feed("AT+CSMP=49\r"), Ok);
    QCOMPARE(modem.feed("AT+CSMP=,169,,8\r"), Ok);
    QCOMPARE(modem.feed("AT+CSMP?\r"), answer("+CSMP: 49,169,0,8"));
    QCOMPARE(modem.feed("AT+CSMP=256\r"), QByteArray("\r\nERROR\r\n"));
    QCOMPARE(modem.feed("AT+CSMP=17,167,0,0,0\r"), QByteArray("\r\nERROR\r\n"));

    // Values left out keep what they were; bm 1 is no choice a modem offers.
    QCOMPARE(modem.feed("AT+CNMI?\r"), answer("+CNMI: 0,0,0,0,0"));
    QCOMPARE(modem.feed("AT+CNMI=2,1\r"), Ok);
    QCOMPARE(modem.feed("AT+CNMI=,,,2\r"), Ok);
    QCOMPARE(modem.feed("AT+CNMI?\r"), answer("+CNMI: 2,1,0,2,0"));
    for (const QByteArray wrong : {"4", "2,1,1", "2,1,0,3", "2,1,0,1,2", "2,1,0,1,0,0", "x"})
        QVERIFY2(modem.feed("AT+CNMI=" + wrong + "\r") == "\r\nERROR\r\n", wrong.constData());
    QCOMPARE(modem.feed("AT+CNMI?\r"), answer("+CNMI: 2,1,0,2,0"));

    // Neither is kept over a power cycle.
    modem.powerOn();
    QCOMPARE(modem.feed("AT+CSMP?\rAT+CNMI?\r"), answer("+CSMP: 17,167,0,0") + answer("+CNMI: 0,0,0,0,0"));
}

void tst_modemsim::engineReportsPassedOn()
{
    QDateTime now = at(10, 0, 0);
    ModemEngine modem({.echo = false,
                       .reportDelayMs = 300,
                       .reportLateMs = 50,
                       .reportStatus = {{"5550009", 70}},
                       .reportSilent = {"+15550008"},
                       .clock = [&now] { return now; }});
    QSignalSpy due(&modem, &ModemEngine::reportDue);
    const auto arrive = [&modem, &due](qsizetype i) { return modem.reportArrived(due[i][0].toInt()); };

    // Text mode, ds 1: +CDS with the reference and both times; a failure
    // carries its status. Only a message that asked gets one.
    modem.feed("AT+CMGF=1\rAT+CNMI=2,1,0,1,0\r");
    QCOMPARE(sendText(modem, "+15550001"), acknowledged(1));
    QCOMPARE(due.size(), 0);
    modem.feed("AT+CSMP=49,167,0,0\r");
    QCOMPARE(sendText(modem, "+15550001"), acknowledged(2));
    QCOMPARE(sendText(modem, "5550009"), acknowledged(3));
    QCOMPARE(due.size(), 2);
    QCOMPARE(due[0][1].toInt(), 350);
    now = at(10, 0, 7);
    QCOMPARE(arrive(0),
             QByteArray("\r\n+CDS: 6,2,\"+15550001\",145,\"24/03/05,10:00:00+08\",\"24/03/05,10:00:07+08\",0\r\n"));
    QCOMPARE(arrive(0), QByteArray());
    QCOMPARE(arrive(1),
             QByteArray("\r\n+CDS: 6,3,\"5550009\",129,\"24/03/05,10:00:00+08\",\"24/03/05,10:00:07+08\",70\r\n"));
    QCOMPARE(sendText(modem, "+15550008"), acknowledged(4));
    QCOMPARE(arrive(2), QByteArray());

    // PDU mode: each part of a long message asked for its own report, under
    // its own reference.
    modem.feed("AT+CMGF=0\r");
    now = at(10, 1, 0);
    const SmsPdu::Message message = SmsPdu::encode("+15550001", QString(200, 'a'), 5, true);
    QCOMPARE(sendPart(modem, message.parts[0]), acknowledged(5));
    QCOMPARE(sendPart(modem, message.parts[1]), acknowledged(6));
    QCOMPARE(sendPart(modem, SmsPdu::encode("+15550001", "no report", 6).parts[0]), acknowledged(7));
    QCOMPARE(due.size(), 5);
    now = at(10, 1, 5);
    // 00, then 06 05 08 91 51550010, 24/03/05 10:01:00 and 10:01:05 at +02:00, status 00.
    QCOMPARE(arrive(3), QByteArray("\r\n+CDS: 23\r\n000605089151550010423050011000804230500110508000\r\n"));
    const QByteArray second = arrive(4);
    QVERIFY(second.startsWith("\r\n+CDS: 23\r\n") && second.endsWith("\r\n"));
    QCOMPARE(SmsPdu::decodeStatusReport(second.mid(12, 48)).reference, 6);

    // The modem keeps reports while +CNMI mode is 0 and lets them out after
    // the OK that leaves it (bfr 0), or throws them away (bfr 1).
    modem.feed("AT+CMGF=1\rAT+CNMI=0\r");
    sendText(modem, "+15550001");
    QCOMPARE(arrive(5), QByteArray());
    QCOMPARE(modem.feed("AT+CNMI=1\r"),
             Ok + "\r\n+CDS: 6,8,\"+15550001\",145,\"24/03/05,10:01:05+08\",\"24/03/05,10:01:05+08\",0\r\n");
    modem.feed("AT+CNMI=0,,,,1\r");
    sendText(modem, "+15550001");
    QCOMPARE(arrive(6), QByteArray());
    QCOMPARE(modem.feed("AT+CNMI=2\r"), Ok);

    // With ds 0 nothing is passed on.
    modem.feed("AT+CNMI=2,1,0,0,0\r");
    sendText(modem, "+15550001");
    QCOMPARE(arrive(7), QByteArray());
    modem.feed("AT+CNMI=2,1,0,1,0\r");

    // A modem that cannot take a report now (no network, hung, off) has it
    // brought again later, as the network tries again.
    sendText(modem, "+15550001");
    QCOMPARE(due.size(), 9);
    for (const QByteArray away : {"registration 0", "silent on"}) {
        modem.control(away);
        QCOMPARE(arrive(8), QByteArray());
        QCOMPARE(due.last()[1].toInt(), ModemEngine::ReportRetryMs);
        modem.control(away == "silent on" ? "silent off" : "registration 1");
    }
    modem.powerOff();
    QCOMPARE(arrive(8), QByteArray());
    modem.powerOn();
    modem.feed("AT+CMGF=1\rAT+CNMI=2,1,0,1,0\rAT+CSMP=49\r");
    QVERIFY(arrive(8).startsWith("\r\n+CDS: 6,11,"));

    // "reports deliver" brings every report on its way at once, with what
    // "report-fail" set meanwhile.
    sendText(modem, "+15550001");
    sendText(modem, "+15550002");
    QVERIFY(modem.control("report-fail +15550002 65"));
    const QByteArray times = ",145,\"24/03/05,10:01:05+08\",\"24/03/05,10:01:05+08\",";
    QCOMPARE(modem.control("reports deliver"),
             std::optional<QByteArray>("\r\n+CDS: 6,12,\"+15550001\"" + times + "0\r\n\r\n+CDS: 6,13,\"+15550002\""
                                       + times + "65\r\n"));
    QCOMPARE(modem.control("reports deliver"), std::optional<QByteArray>(""));

    // Held for the next dialogue: the report follows the next prompt, so the
    // program meets it between "> " and its own +CMGS.
    ModemEngine interrupting({.echo = false, .reportMidDialogue = true, .clock = [&now] { return now; }});
    QSignalSpy interruptingDue(&interrupting, &ModemEngine::reportDue);
    interrupting.feed("AT+CMGF=1\rAT+CSMP=49,167,0,0\rAT+CNMI=2,1,0,1,0\r");
    sendText(interrupting, "+15550001");
    QCOMPARE(interrupting.reportArrived(interruptingDue[0][0].toInt()), QByteArray());
    QCOMPARE(interrupting.feed("AT+CMGS=\"+15550002\"\r"),
             "\r\n> \r\n+CDS: 6,1,\"+15550001\",145,\"24/03/05,10:01:05+08\",\"24/03/05,10:01:05+08\",0\r\n");
    QCOMPARE(interrupting.feed("next\x1a"), acknowledged(2));
}

void tst_modemsim::engineStoredReports()
{
    const QDateTime now = at(10, 0, 0);
    ModemEngine modem({.echo = false, .srCapacity = 2, .clock = [&now] { return now; }});
    QSignalSpy due(&modem, &ModemEngine::reportDue);
    QSignalSpy logged(&modem, &ModemEngine::logged);
    const auto arrive = [&modem, &due](qsizetype i) { return modem.reportArrived(due[i][0].toInt()); };
    const QByteArray fields = ",145,\"24/03/05,10:00:00+08\",\"24/03/05,10:00:00+08\",0";
    const QByteArray invalidIndex = "\r\n+CMS ERROR: 321\r\n";

    QCOMPARE(modem.feed("AT+CPMS?\r"), answer("+CPMS: \"SM\",0,30,\"SM\",0,30,\"SM\",0,30"));
    modem.feed("AT+CMGF=1\rAT+CSMP=49,167,0,0\rAT+CNMI=2,1,0,2,0\r");
    for (int i = 0; i < 3; ++i)
        sendText(modem, "+1555000" + QByteArray::number(i + 1));
    QCOMPARE(arrive(0), QByteArray("\r\n+CDSI: \"SR\",1\r\n"));
    QCOMPARE(arrive(1), QByteArray("\r\n+CDSI: \"SR\",2\r\n"));
    // A full SR memory loses the report, as a SIM does, and says so.
    QCOMPARE(arrive(2), QByteArray());
    QVERIFY(logged.last()[0].toString().endsWith("lost: SR memory full (2 reports)"));

    // Read from SM until AT+CPMS selects SR; SR is read from, never written to.
    QCOMPARE(modem.feed("AT+CMGR=1\r"), invalidIndex);
    QCOMPARE(modem.feed("AT+CPMS=\"SR\",\"SR\"\r"), QByteArray("\r\n+CMS ERROR: 302\r\n"));
    QCOMPARE(modem.feed("AT+CPMS=\"ME\"\r"), QByteArray("\r\n+CMS ERROR: 302\r\n"));
    QCOMPARE(modem.feed("AT+CPMS=\"SR\"\r"), answer("+CPMS: 2,2,0,30,0,30"));
    QCOMPARE(modem.feed("AT+CPMS=\"SR\",\"SM\",\"SM\"\r"), answer("+CPMS: 2,2,0,30,0,30"));
    QCOMPARE(modem.feed("AT+CPMS?\r"), answer("+CPMS: \"SR\",2,2,\"SM\",0,30,\"SM\",0,30"));
    QCOMPARE(modem.feed("AT+CMGR=1\r"), answer("+CMGR: \"REC UNREAD\",6,1,\"+15550001\"" + fields));
    QCOMPARE(modem.feed("AT+CMGR=1\r"), answer("+CMGR: \"REC READ\",6,1,\"+15550001\"" + fields));
    QCOMPARE(modem.feed("AT+CMGL\r"), answer("+CMGL: 2,\"REC UNREAD\",6,2,\"+15550002\"" + fields));
    QCOMPARE(modem.feed("AT+CMGL=\"REC UNREAD\"\r"), Ok);
    QCOMPARE(modem.feed("AT+CMGL=\"ALL\"\r"), "\r\n+CMGL: 1,\"REC READ\",6,1,\"+15550001\"" + fields
                                                  + "\r\n+CMGL: 2,\"REC READ\",6,2,\"+15550002\"" + fields + "\r\n"
                                                  + Ok);

    // PDU mode: the status as a number, the length, the PDU.
    modem.feed("AT+CMGF=0\r");
    const QByteArray first = "000601089151550010423050010000804230500100008000";
    const QByteArray second = "000602089151550020423050010000804230500100008000";
    QCOMPARE(modem.feed("AT+CMGR=2\r"), answer("+CMGR: 1,,23\r\n" + second));
    QCOMPARE(modem.feed("AT+CMGL=1\r"),
             "\r\n+CMGL: 1,1,,23\r\n" + first + "\r\n+CMGL: 2,1,,23\r\n" + second + "\r\n" + Ok);

    // Deleting frees the slot for the next report.
    QCOMPARE(modem.feed("AT+CMGD=1\r"), Ok);
    QCOMPARE(modem.feed("AT+CMGR=1\r"), invalidIndex);
    QCOMPARE(modem.feed("AT+CMGD=3\r"), invalidIndex);
    modem.feed("AT+CMGF=1\r");
    sendText(modem, "+15550004");
    QCOMPARE(arrive(3), QByteArray("\r\n+CDSI: \"SR\",1\r\n"));
    QCOMPARE(modem.feed("AT+CMGD=1,1\rAT+CPMS=\"SR\"\r"), Ok + answer("+CPMS: 1,2,0,30,0,30"));
    QCOMPARE(modem.feed("AT+CMGD=0,4\rAT+CPMS=\"SR\"\r"), Ok + answer("+CPMS: 0,2,0,30,0,30"));

    // Kept on the SIM over a power cycle; with keep-reports stored and never
    // announced, whatever AT+CNMI says (ds 0 after power-on).
    sendText(modem, "+15550005");
    QCOMPARE(arrive(4), QByteArray("\r\n+CDSI: \"SR\",1\r\n"));
    modem.powerOn();
    QVERIFY(modem.control("keep-reports on"));
    modem.feed("AT+CMGF=1\rAT+CSMP=49\r");
    sendText(modem, "+15550006");
    QCOMPARE(arrive(5), QByteArray());
    QCOMPARE(modem.feed("AT+CPMS=\"SR\"\r"), answer("+CPMS: 2,2,0,30,0,30"));
    QCOMPARE(modem.feed("AT+CMGR=2\r"), answer("+CMGR: \"REC UNREAD\",6,6,\"+15550006\"" + fields));

    // The SR memory is on the SIM: without it, nothing is read.
    modem.control("no-sim");
    QCOMPARE(modem.feed("AT+CPMS=\"SR\"\r"), QByteArray("\r\n+CMS ERROR: 310\r\n"));
    QCOMPARE(modem.feed("AT+CMGR=2\r"), QByteArray("\r\n+CMS ERROR: 310\r\n"));
}

void tst_modemsim::engineReferences()
{
    // The reference is one octet on the air: after 255 comes 1 again, in
    // the +CMGS answer and in the report. Each modem counts on its own.
    ModemEngine modem({.echo = false});
    ModemEngine other({.echo = false});
    QSignalSpy due(&modem, &ModemEngine::reportDue);
    modem.feed("AT+CMGF=1\rAT+CSMP=49,167,0,0\rAT+CNMI=2,1,0,1,0\r");
    other.feed("AT+CMGF=1\r");
    for (int reference = 1; reference <= 254; ++reference)
        QVERIFY(sendText(modem, "+15550001") == acknowledged(reference));
    QCOMPARE(sendText(other, "+15550001"), acknowledged(1));
    QCOMPARE(sendText(modem, "+15550001"), acknowledged(255));
    QCOMPARE(sendText(modem, "+15550001"), acknowledged(1));
    QVERIFY(modem.reportArrived(due[254][0].toInt()).startsWith("\r\n+CDS: 6,255,"));
    QVERIFY(modem.reportArrived(due[255][0].toInt()).startsWith("\r\n+CDS: 6,1,"));
}

void tst_modemsim::engineIncomingSms()
{
    const QDateTime now = at(10, 0, 0);
    ModemEngine modem(
        {.echo = false, .clock = [&now] { return now; }, .smCapacity = 2, .storedSms = {{"+15550100", "while away"}}});
    const QByteArray stamp = "\"24/03/05,10:00:00+08\"";
    // Stored before anyone listened: on the SIM, unread.
    QCOMPARE(modem.feed("AT+CPMS=\"SM\"\r"), answer("+CPMS: 1,2,1,2,1,2"));
    modem.feed("AT+CMGF=1\r");
    QCOMPARE(modem.feed("AT+CMGL=\"REC UNREAD\"\r"),
             answer("+CMGL: 1,\"REC UNREAD\",\"+15550100\",," + stamp + "\r\nwhile away"));
    QCOMPARE(modem.feed("AT+CMGR=1\r"), answer("+CMGR: \"REC READ\",\"+15550100\",," + stamp + "\r\nwhile away"));

    // <mt> 0: stored, not announced; 1: announced as +CMTI.
    QCOMPARE(said(modem, "sms +15550101 one"), QByteArray());
    modem.feed("AT+CNMI=2,1,0,0,0\r");
    // Full: refused, kept by the network, and delivered (announced) once a slot is free.
    QCOMPARE(said(modem, "sms 5550102 two"), QByteArray());
    QCOMPARE(modem.smsWaiting(), 1);
    QCOMPARE(modem.feed("AT+CMGD=1\r"), Ok + "\r\n+CMTI: \"SM\",1\r\n");
    QCOMPARE(modem.smsStored(), 2);

    // PDU mode: stat number, TPDU length, the SMS-DELIVER that decodes back.
    modem.feed("AT+CMGF=0\r");
    const QByteArray listed = modem.feed("AT+CMGL=4\r");
    const QList<QByteArray> lines = listed.split('\n');
    QVERIFY2(lines.size() > 5 && lines[1].startsWith("+CMGL: 1,0,,") && lines[3].startsWith("+CMGL: 2,0,,"),
             listed.constData());
    const SmsPdu::Deliver first = SmsPdu::decodeDeliver(lines[2].trimmed());
    QCOMPARE(first.number, QString("5550102"));
    QCOMPARE(first.text, QString("two"));
    QCOMPARE(first.serviceCentreTime, now);
    QCOMPARE(SmsPdu::decodeDeliver(lines[4].trimmed()).text, QString("one"));
    QCOMPARE(modem.feed("AT+CMGL=0\r"), Ok);
    QCOMPARE(modem.feed("AT+CMGD=1,4\r"), Ok);
    QCOMPARE(modem.smsStored(), 0);

    // A long UCS-2 SMS comes in parts that join again.
    QVERIFY(modem.control("sm-capacity 30"));
    const QString longText = QString::fromUtf8("Ответ: ") + QString(100, QChar(u'ж'));
    QCOMPARE(said(modem, ("sms +15550103 " + longText).toUtf8()),
             QByteArray("\r\n+CMTI: \"SM\",1\r\n\r\n+CMTI: \"SM\",2\r\n"));
    QString joined;
    for (const int index : {1, 2}) {
        const QList<QByteArray> read = modem.feed("AT+CMGR=" + QByteArray::number(index) + "\r").split('\n');
        const SmsPdu::Deliver part = SmsPdu::decodeDeliver(read.value(2).trimmed());
        QCOMPARE(part.encoding, SmsPdu::Encoding::Ucs2);
        QCOMPARE(part.partCount, 2);
        QCOMPARE(part.partNumber, index);
        joined += part.text;
    }
    QCOMPARE(joined, longText);

    // <mt> 2: passed on as +CMT, never stored; text mode shows the text.
    modem.feed("AT+CNMI=2,2,0,0,0\r");
    const QByteArray passed = said(modem, "sms +15550104 hello");
    QVERIFY2(passed.startsWith("\r\n+CMT: ,")
                 && SmsPdu::decodeDeliver(passed.split('\n').value(2).trimmed()).text == "hello",
             passed.constData());
    modem.feed("AT+CMGF=1\r");
    QCOMPARE(said(modem, "sms +15550104 hi"), "\r\n+CMT: \"+15550104\",," + stamp + "\r\nhi\r\n");
    QCOMPARE(modem.smsStored(), 2);

    // A modem that only passes them on refuses <mt> 1 and says so.
    ModemEngine passing({.echo = false, .cmtOnly = true});
    QCOMPARE(passing.feed("AT+CNMI=?\r"), answer("+CNMI: (0-3),(0,2),(0,2),(0-2),(0,1)"));
    QCOMPARE(passing.feed("AT+CNMI=2,1,0,0,0\r"), QByteArray("\r\nERROR\r\n"));
    QCOMPARE(passing.feed("AT+CNMI=2,2,0,0,0\r"), Ok);
}

void tst_modemsim::engineCalls()
{
    ModemEngine modem({.echo = false});
    QSignalSpy due(&modem, &ModemEngine::due);
    const auto fire = [&modem, &due](qsizetype i) { return modem.fire(due[i][0].toInt()); };

    // A call from a number: RING, and +CLIP once asked for; again every 2 s until hung up.
    QCOMPARE(said(modem, "ring +15550100"), QByteArray("\r\nRING\r\n"));
    QCOMPARE(due.size(), 1);
    QCOMPARE(due[0][1].toInt(), ModemEngine::RingEveryMs);
    QCOMPARE(modem.feed("AT+CLIP=1\r"), Ok);
    QCOMPARE(fire(0), QByteArray("\r\nRING\r\n\r\n+CLIP: \"+15550100\",145\r\n"));
    QCOMPARE(modem.feed("AT+CLCC\r"), answer("+CLCC: 1,1,4,0,0,\"+15550100\",145"));
    QCOMPARE(modem.feed("ATH\r"), Ok);
    QCOMPARE(fire(1), QByteArray());
    QCOMPARE(modem.feed("AT+CLCC\r"), Ok);

    // ATD: dialling, alerting, answered after the delay the FIFO set.
    QVERIFY(modem.control("dial answer 1.5"));
    QCOMPARE(modem.feed("ATD+15550200;\r"), Ok);
    QCOMPARE(modem.feed("AT+CLCC\r"), answer("+CLCC: 1,0,2,0,0,\"+15550200\",145"));
    QCOMPARE(fire(2), QByteArray());
    QCOMPARE(modem.feed("AT+CLCC\r"), answer("+CLCC: 1,0,3,0,0,\"+15550200\",145"));
    QCOMPARE(due[3][1].toInt(), 1500);
    QCOMPARE(fire(3), QByteArray());
    QCOMPARE(modem.feed("AT+CLCC\r"), answer("+CLCC: 1,0,0,0,0,\"+15550200\",145"));
    QCOMPARE(modem.feed("ATD5550201;\r"), QByteArray("\r\n+CME ERROR: 3\r\n"));
    QCOMPARE(modem.feed("AT+CHUP\r"), Ok);

    // Busy, no answer, and a modem without voice.
    QVERIFY(modem.control("dial busy"));
    modem.feed("ATD5550201;\r");
    QCOMPARE(fire(4), QByteArray("\r\nBUSY\r\n"));
    QVERIFY(modem.control("dial noanswer"));
    modem.feed("ATD5550201;\r");
    fire(5);
    QCOMPARE(due[6][1].toInt(), ModemEngine::NoAnswerMs);
    QCOMPARE(fire(6), QByteArray("\r\nNO ANSWER\r\n"));
    QCOMPARE(modem.feed("AT+CLCC\r"), Ok);
    QVERIFY(modem.control("dial novoice"));
    QCOMPARE(modem.feed("ATD5550201;\r"), QByteArray("\r\nNO CARRIER\r\n"));
    QVERIFY(modem.control("dial novoice error"));
    QCOMPARE(modem.feed("ATD5550201;\r"), QByteArray("\r\nERROR\r\n"));
    QVERIFY(!modem.control("dial sometimes"));

    // A modem that takes no ATH hangs up on AT+CHUP.
    ModemEngine noAth({.echo = false, .refuseAth = true});
    noAth.control("ring 5550300");
    QCOMPARE(noAth.feed("ATH\r"), QByteArray("\r\nERROR\r\n"));
    QCOMPARE(noAth.feed("AT+CHUP\r"), Ok);
    QCOMPARE(noAth.feed("AT+CLCC\r"), Ok);
}

void tst_modemsim::toolOverThePty()
{
    // The line drops after every second accepted message.
    SimulatedModem modem({"--hangup-after", "2", "--reopen-ms", "1000"});
    QVERIFY2(modem.isReady(), qPrintable(modem.log()));
    const QString oldLine = modem.slavePath();
    QCOMPARE(QFileInfo(modem.linkPath()).symLinkTarget(), oldLine);

    QSerialPort port;
    QVERIFY2(openPort(port, modem.linkPath()), qPrintable(port.errorString()));
    QCOMPARE(talk(port, "AT+CMGF=1\r", "OK\r\n"), QByteArray("AT+CMGF=1\r\r\nOK\r\n"));
    QCOMPARE(talk(port, "AT+CMGS=\"+15550001\"\r", "> "), QByteArray("AT+CMGS=\"+15550001\"\r\r\n> "));
    const QByteArray text = "Caf\xe9\tXAUUSD \\ 1905.20\nline two";
    const QByteArray reply = talk(port, text + "\x1a\r", "OK\r\n");
    QVERIFY2(reply.startsWith(text + "\r\n+CMGS: 1\r\n\r\nOK\r\n"), reply.constData());
    const QString logged = QStringLiteral("(message to +15550001, %1 bytes)  -> +CMGS: 1 OK").arg(text.size());
    QVERIFY2(modem.log().contains(logged), qPrintable(modem.log()));

    // The second message, a PDU: after its acknowledgement the line drops,
    // and the rest of the write is lost with it.
    const SmsPdu::Part part = SmsPdu::encode("+15550002", QString::fromUtf16(u"\u0417\u043e\t"), 1).parts[0];
    talk(port, "AT+CMGF=0\rAT+CMGS=" + QByteArray::number(part.tpduLength) + "\r", "> ");
    QCOMPARE(talk(port, part.hex + "\x1a\rAT\r", "OK\r\n"), part.hex + acknowledged(2));
    QTRY_VERIFY_WITH_TIMEOUT(port.error() == QSerialPort::ReadError || port.error() == QSerialPort::ResourceError,
                             3000);
    port.close();
    // Until the fresh line is there the link leads nowhere, not to the old
    // line's name, which the system may give to somebody else's line.
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(modem.linkPath()).symLinkTarget() != oldLine, 500);
    QVERIFY(!QFileInfo::exists(QFileInfo(modem.linkPath()).symLinkTarget()));

    // The fresh line meets a modem started over: echo on, PDU mode again.
    QVERIFY2(modem.waitForReady(3000), qPrintable(modem.log()));
    QCOMPARE(QFileInfo(modem.linkPath()).symLinkTarget(), modem.slavePath());
    QSerialPort fresh;
    QVERIFY2(openPort(fresh, modem.linkPath()), qPrintable(fresh.errorString()));
    QCOMPARE(talk(fresh, "AT\r", "OK\r\n"), QByteArray("AT\r\r\nOK\r\n"));
    QCOMPARE(talk(fresh, "AT+CMGS=\"1\"\r", "ERROR\r\n"), QByteArray("AT+CMGS=\"1\"\r\r\nERROR\r\n"));

    // A PDU's record line holds the decoded text in UTF-8, escaped alike.
    QFile record(modem.recordPath());
    QVERIFY(record.open(QIODevice::ReadOnly));
    QCOMPARE(record.readAll(), QByteArray("+15550001\tCaf\\xe9\\tXAUUSD \\\\ 1905.20\\nline two\n"
                                          "+15550002\t\\xd0\\x97\\xd0\\xbe\\t\tpdu/1\n"));

    fresh.close();
    QVERIFY(modem.stop());
    QVERIFY(!QFileInfo(modem.linkPath()).isSymLink());
}

void tst_modemsim::toolControl()
{
    SimulatedModem modem({"--report-mid-dialogue", "--report-delay", "0", "--reopen-ms", "100"});
    QVERIFY2(modem.isReady(), qPrintable(modem.log()));
    QSerialPort port;
    QVERIFY2(openPort(port, modem.linkPath()), qPrintable(port.errorString()));
    talk(port, "ATE0\r", "OK\r\n");
    QCOMPARE(talk(port, "AT+CSQ\r", "OK\r\n"), answer("+CSQ: 20,99"));
    QVERIFY(modem.control("signal 0"));
    QCOMPARE(talk(port, "AT+CSQ\r", "OK\r\n"), answer("+CSQ: 0,99"));
    QVERIFY(modem.control("csq 99,99"));
    QCOMPARE(talk(port, "AT+CSQ\r", "OK\r\n"), answer("+CSQ: 99,99"));

    // The first message's report waits for the second message's prompt.
    talk(port, "AT+CMGF=1\rAT+CSMP=49,167,0,0\rAT+CNMI=2,1,0,1,0\r", "OK\r\n\r\nOK\r\n\r\nOK\r\n");
    talk(port, "AT+CMGS=\"+15550001\"\r", "> ");
    QCOMPARE(talk(port, "first\x1a", "OK\r\n"), acknowledged(1));
    QTRY_VERIFY_WITH_TIMEOUT(modem.log().contains("held for the next prompt"), 3000);
    const QByteArray prompt = talk(port, "AT+CMGS=\"+15550002\"\r", ",0\r\n");
    QVERIFY2(prompt.startsWith("\r\n> \r\n+CDS: 6,1,\"+15550001\",145,\"") && prompt.endsWith("\",0\r\n"),
             prompt.constData());
    QCOMPARE(talk(port, "second\x1a", "OK\r\n"), acknowledged(2));

    // Unplugged, the device is gone: the line closes and the link leads nowhere.
    QVERIFY(modem.control("unplug"));
    QVERIFY(QFileInfo(modem.linkPath()).isSymLink() && !QFileInfo::exists(modem.linkPath()));
    QTRY_VERIFY_WITH_TIMEOUT(port.error() == QSerialPort::ReadError || port.error() == QSerialPort::ResourceError,
                             3000);
    port.close();
    QVERIFY2(modem.log().contains("unplugged"), qPrintable(modem.log()));

    // Plugged in again: a fresh line behind the link, a modem started over.
    QVERIFY(modem.control("plug"));
    QVERIFY2(modem.waitForReady(3000), qPrintable(modem.log()));
    QCOMPARE(QFileInfo(modem.linkPath()).symLinkTarget(), modem.slavePath());
    QSerialPort fresh;
    QVERIFY2(openPort(fresh, modem.linkPath()), qPrintable(fresh.errorString()));
    QCOMPARE(talk(fresh, "AT\r", "OK\r\n"), "AT\r" + Ok);

    // A reset drops the line as a hang-up does, and the link leads to a fresh one.
    QCOMPARE(talk(fresh, "AT+CFUN=1,1\r", "OK\r\n"), "AT+CFUN=1,1\r" + Ok);
    QTRY_VERIFY_WITH_TIMEOUT(fresh.error() == QSerialPort::ReadError || fresh.error() == QSerialPort::ResourceError,
                             3000);
    fresh.close();
    QVERIFY2(modem.waitForReady(3000), qPrintable(modem.log()));
    QCOMPARE(QFileInfo(modem.linkPath()).symLinkTarget(), modem.slavePath());
    QVERIFY(modem.stop());
    QVERIFY(!QFileInfo::exists(modem.controlPath()));
}

void tst_modemsim::toolIncomingSmsAndCalls()
{
    SimulatedModem modem({"--sms", "+15550100 came while away", "--sm-capacity", "3"});
    QVERIFY2(modem.isReady(), qPrintable(modem.log()));
    QSerialPort port;
    QVERIFY2(openPort(port, modem.linkPath()), qPrintable(port.errorString()));
    talk(port, "ATE0\r", "OK\r\n");
    QCOMPARE(talk(port, "AT+CPMS=\"SM\"\r", "OK\r\n"), answer("+CPMS: 1,3,1,3,1,3"));
    talk(port, "AT+CMGF=1\rAT+CNMI=2,1,0,0,0\rAT+CLIP=1\r", "OK\r\n\r\nOK\r\n\r\nOK\r\n");
    QVERIFY(modem.control("sms +15550101 OK 12"));
    QByteArray heard;
    QVERIFY(runUntil([&] { return (heard += port.readAll()).contains("\r\n+CMTI: \"SM\",2\r\n"); }, 3000));
    QVERIFY(talk(port, "AT+CMGR=2\r", "OK\r\n").contains("\"+15550101\",,\""));
    QVERIFY(modem.control("ring +15550102"));
    heard.clear();
    QVERIFY(runUntil([&] { return (heard += port.readAll()).contains("+CLIP: \"+15550102\",145"); }, 3000));
    QCOMPARE(talk(port, "ATH\r", "OK\r\n"), Ok);
    QVERIFY(modem.control("dial busy"));
    QCOMPARE(talk(port, "ATD+15550103;\r", "BUSY\r\n"), Ok + "\r\nBUSY\r\n");
    QVERIFY(modem.stop());
}

QTEST_GUILESS_MAIN(tst_modemsim)
#include "tst_modemsim.moc"
