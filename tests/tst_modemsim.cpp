// The modem simulator: its engine byte for byte, then the real tool on a real
// pseudo-terminal, talked to through its COM link with QSerialPort. What the
// relay tests already meet through the tool (refusals of a number, for a
// while or of a part, split and slow replies, silence, a bare OK to a text,
// PDU messages in parts) is left to them.

#include "ModemEngine.h"
#include "modem/SmsPdu.h"
#include "support/SimulatedModem.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QSerialPort>
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
    void toolOverThePty();
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

QTEST_GUILESS_MAIN(tst_modemsim)
#include "tst_modemsim.moc"
