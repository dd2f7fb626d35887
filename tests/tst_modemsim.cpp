// The modem simulator: its engine byte for byte, then the real tool on a real
// pseudo-terminal, talked to through its COM link with QSerialPort.

#include "ModemEngine.h"
#include "modem/SmsPdu.h"
#include "support/SimulatedModem.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSerialPort>
#include <QtTest>

class tst_modemsim : public QObject
{
    Q_OBJECT

private slots:
    void engineCommands();
    void engineMessages();
    void engineRefusalsAndHangUps();
    void engineSurvivesGarbage();
    void enginePduMode();
    void engineRefusalOptions();
    void toolDialogueOverThePty();
    void toolPduMessagesAndOptions();
    void toolSplitSlowAndSilentModems();
    void toolHangUpThenFreshLine();
};

namespace {

ModemEngine::Options quietEcho(ModemEngine::Options options = {})
{
    options.echo = false;
    return options;
}

bool openPort(QSerialPort &port, const QString &path)
{
    port.setPortName(path);
    return port.open(QIODevice::ReadWrite);
}

// Writes `send` and collects what comes back until `until` shows up or three
// seconds pass; `reads` counts the separate arrivals.
QByteArray talk(QSerialPort &port, const QByteArray &send, const QByteArray &until, int *reads = nullptr)
{
    port.write(send);
    port.flush();
    QByteArray got;
    const QDeadlineTimer deadline(3000);
    while (!got.contains(until) && !deadline.hasExpired()) {
        if (port.waitForReadyRead(int(qMax<qint64>(deadline.remainingTime(), 1)))) {
            got += port.readAll();
            if (reads)
                ++*reads;
        } else if (port.error() != QSerialPort::TimeoutError) {
            break;
        }
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
    QCOMPARE(modem.feed("AT+CSCA?\r"), QByteArray("\r\nERROR\r\n"));
    QCOMPARE(modem.feed("hello\r"), QByteArray("\r\nERROR\r\n"));
    QCOMPARE(modem.feed("ATZ\r"), QByteArray("\r\nOK\r\n"));
    QCOMPARE(modem.feed("AT+CMGF=0\r"), QByteArray("AT+CMGF=0\r\r\nOK\r\n"));
    QCOMPARE(modem.feed("AT+CMGS=\"1\"\r"), QByteArray("AT+CMGS=\"1\"\r\r\nERROR\r\n"));

    // A serial line delivers a byte at a time: the same answer results.
    ModemEngine slow;
    QByteArray answer;
    for (const char c : QByteArray("AT+CMGF=1\r"))
        answer += slow.feed(QByteArrayView(&c, 1));
    QCOMPARE(answer, QByteArray("AT+CMGF=1\r\r\nOK\r\n"));

    ModemEngine::Options broken = quietEcho();
    broken.refuseTextMode = true;
    broken.lowercase = true;
    ModemEngine brokenModem(broken);
    QCOMPARE(brokenModem.feed("AT+CMGF=1\r"), QByteArray("\r\nerror\r\n"));
    QCOMPARE(brokenModem.feed("AT\r"), QByteArray("\r\nok\r\n"));

    ModemEngine::Options dead;
    dead.silent = true;
    QCOMPARE(ModemEngine(dead).feed("AT\r"), QByteArray());
}

void tst_modemsim::engineMessages()
{
    ModemEngine modem;
    QSignalSpy accepted(&modem, &ModemEngine::accepted);
    // A modem wakes up in PDU mode: text mode must be asked for.
    QCOMPARE(modem.feed("AT+CMGS=\"+15550001\"\r"), QByteArray("AT+CMGS=\"+15550001\"\r\r\nERROR\r\n"));
    modem.feed("AT+CMGF=1\r");

    QCOMPARE(modem.feed("AT+CMGS=\"+15550001\"\r"), QByteArray("AT+CMGS=\"+15550001\"\r\r\n> "));
    const QByteArray text = "Caf\xe9 \\ 1905.20\nline two";
    QCOMPARE(modem.feed(text), text);
    // What follows Ctrl-Z is a command again: the bare CR is only echoed.
    QCOMPARE(modem.feed("\x1a\r"), QByteArray("\r\n+CMGS: 1\r\n\r\nOK\r\n\r"));
    QCOMPARE(accepted.size(), 1);
    QCOMPARE(accepted[0][0].toByteArray(), QByteArray("+15550001"));
    QCOMPARE(accepted[0][1].toByteArray(), text);
    QCOMPARE(accepted[0][2].toInt(), 1);

    // A CR inside the text prompts again and stays in the text.
    QCOMPARE(modem.feed("AT+CMGS=5550002,129\r"), QByteArray("AT+CMGS=5550002,129\r\r\n> "));
    QCOMPARE(modem.feed("one\rtwo\x1a"), QByteArray("one\r\n> two\r\n+CMGS: 2\r\n\r\nOK\r\n"));
    QCOMPARE(accepted[1][0].toByteArray(), QByteArray("5550002"));
    QCOMPARE(accepted[1][1].toByteArray(), QByteArray("one\rtwo"));

    // ESC cancels: OK, and nothing is sent.
    modem.feed("AT+CMGS=\"3\"\r");
    QCOMPARE(modem.feed("never\x1b"), QByteArray("never\r\nOK\r\n"));
    QVERIFY(modem.feed("AT+CMGS=\"\"\r").endsWith("\r\nERROR\r\n"));
    QCOMPARE(accepted.size(), 2);
}

void tst_modemsim::engineRefusalsAndHangUps()
{
    ModemEngine::Options options = quietEcho();
    options.rejected = {"+15550009"};
    ModemEngine modem(options);
    QSignalSpy accepted(&modem, &ModemEngine::accepted);
    QSignalSpy refused(&modem, &ModemEngine::refused);
    modem.feed("AT+CMGF=1\rAT+CMGS=\"+15550009\"\r");
    QCOMPARE(modem.feed("hi\x1a"), QByteArray("\r\n+CMS ERROR: 500\r\n"));
    QCOMPARE(refused.size(), 1);
    QCOMPARE(refused[0][0].toByteArray(), QByteArray("+15550009"));
    // Refusals use up no message reference.
    modem.feed("AT+CMGS=\"+15550001\"\r");
    QCOMPARE(modem.feed("hi\x1a"), QByteArray("\r\n+CMGS: 1\r\n\r\nOK\r\n"));
    QCOMPARE(accepted.size(), 1);

    ModemEngine::Options choosy = quietEcho();
    choosy.rejectRate = 1;
    choosy.cmsCode = 321;
    ModemEngine choosyModem(choosy);
    choosyModem.feed("AT+CMGF=1\rAT+CMGS=\"1\"\r");
    QCOMPARE(choosyModem.feed("hi\x1a"), QByteArray("\r\n+CMS ERROR: 321\r\n"));

    // After the accepted message the line drops; the rest of the write is
    // lost with it until a fresh line, where the modem starts over.
    ModemEngine::Options dropping = quietEcho();
    dropping.hangupAfter = 1;
    ModemEngine droppingModem(dropping);
    droppingModem.feed("AT+CMGF=1\rAT+CMGS=\"1\"\r");
    QCOMPARE(droppingModem.feed("x\x1a\rAT\r"), QByteArray("\r\n+CMGS: 1\r\n\r\nOK\r\n"));
    QVERIFY(droppingModem.lineDropped());
    QCOMPARE(droppingModem.feed("AT\r"), QByteArray());
    droppingModem.powerOn();
    QCOMPARE(droppingModem.feed("AT\r"), QByteArray("\r\nOK\r\n"));
    QCOMPARE(droppingModem.feed("AT+CMGS=\"1\"\r"), QByteArray("\r\nERROR\r\n"));

    ModemEngine::Options flaky = quietEcho();
    flaky.hangupRate = 1;
    ModemEngine flakyModem(flaky);
    QSignalSpy flakyAccepted(&flakyModem, &ModemEngine::accepted);
    flakyModem.feed("AT+CMGF=1\rAT+CMGS=\"1\"\r");
    flakyModem.feed("a longer text than any break-off point\x1a");
    QVERIFY(flakyModem.lineDropped());
    QCOMPARE(flakyAccepted.size(), 0);
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
    ModemEngine modem(quietEcho());
    QSignalSpy accepted(&modem, &ModemEngine::acceptedPdu);
    QSignalSpy refused(&modem, &ModemEngine::refused);
    QCOMPARE(modem.feed("AT+CMGF=0\r"), QByteArray("\r\nOK\r\n"));

    const QString cafe = QString::fromUtf16(u"Caf\u00e9 \u2713 \U0001F600");
    QCOMPARE(sendPart(modem, SmsPdu::encode("+15550001", cafe, 1).parts[0]), acknowledged(1));
    QCOMPARE(accepted.size(), 1);
    QCOMPARE(accepted[0][0].toByteArray(), QByteArray("+15550001"));
    QCOMPARE(accepted[0][1].toString(), cafe);
    QCOMPARE(accepted[0][2].toInt(), 1);

    // A wrong length, a malformed PDU, an SMS-DELIVER: 304, and no reference used.
    const SmsPdu::Part part = SmsPdu::encode("5550002", "hi", 2).parts[0];
    QCOMPARE(sendPart(modem, part, part.tpduLength + 1), QByteArray("\r\n+CMS ERROR: 304\r\n"));
    QCOMPARE(sendPart(modem, {3, "00ZZ11"}), QByteArray("\r\n+CMS ERROR: 304\r\n"));
    QCOMPARE(sendPart(modem, {13, "0010000891515500100000A700"}), QByteArray("\r\n+CMS ERROR: 304\r\n"));
    QCOMPARE(refused.size(), 3);
    QCOMPARE(modem.feed("AT+CMGS=x\r"), QByteArray("\r\nERROR\r\n"));
    // ESC cancels as in text mode; line ends inside the hex do not count.
    modem.feed("AT+CMGS=" + QByteArray::number(part.tpduLength) + "\r");
    QCOMPARE(modem.feed(part.hex.left(10) + "\x1b"), QByteArray("\r\nOK\r\n"));
    modem.feed("AT+CMGS=" + QByteArray::number(part.tpduLength) + "\r");
    QCOMPARE(modem.feed(part.hex.left(10) + "\r\n" + part.hex.mid(10) + "\x1a"), "\r\n> " + acknowledged(2));

    // Three parts, out of order: each acknowledged, the message kept once, whole.
    const QString text = QString(150, 'a') + QString(150, 'b') + QString(100, 'c');
    const SmsPdu::Message message = SmsPdu::encode("+15550003", text, 77);
    QCOMPARE(sendPart(modem, message.parts[2]), acknowledged(3));
    QCOMPARE(sendPart(modem, message.parts[0]), acknowledged(4));
    QCOMPARE(accepted.size(), 2);
    QCOMPARE(sendPart(modem, message.parts[1]), acknowledged(5));
    QCOMPARE(accepted.size(), 3);
    QCOMPARE(accepted[2][1].toString(), text);
    QCOMPARE(accepted[2][2].toInt(), 3);

    // Text mode takes one SMS at most, as real modems do.
    modem.feed("AT+CMGF=1\r");
    QSignalSpy acceptedText(&modem, &ModemEngine::accepted);
    modem.feed("AT+CMGS=\"1\"\r");
    QCOMPARE(modem.feed(QByteArray(161, 'x') + "\x1a"), Refused);
    modem.feed("AT+CMGS=\"1\"\r");
    QCOMPARE(modem.feed(QByteArray(160, 'x') + "\x1a"), acknowledged(6));
    QCOMPARE(acceptedText.size(), 1);
    QCOMPARE(refused.size(), 4);
    QCOMPARE(refused[3][1].toByteArray(), QByteArray("text of 161 characters does not fit one SMS"));

    ModemEngine::Options textOnly = quietEcho();
    textOnly.refusePduMode = true;
    ModemEngine textOnlyModem(textOnly);
    QCOMPARE(textOnlyModem.feed("AT+CMGF=0\r"), QByteArray("\r\nERROR\r\n"));
    QCOMPARE(sendPart(textOnlyModem, part), QByteArray("no prompt"));
}

void tst_modemsim::engineRefusalOptions()
{
    const SmsPdu::Message message = SmsPdu::encode("+15550001", QString(400, 'z'), 9);

    // A bare OK, in either mode: nothing counts as sent.
    ModemEngine::Options bare = quietEcho();
    bare.bareOk = true;
    ModemEngine bareModem(bare);
    QSignalSpy bareText(&bareModem, &ModemEngine::accepted);
    QSignalSpy barePdu(&bareModem, &ModemEngine::acceptedPdu);
    for (const SmsPdu::Part &part : message.parts)
        QCOMPARE(sendPart(bareModem, part), QByteArray("\r\nOK\r\n"));
    bareModem.feed("AT+CMGF=1\rAT+CMGS=\"1\"\r");
    QCOMPARE(bareModem.feed("hi\x1a"), QByteArray("\r\nOK\r\n"));
    QCOMPARE(bareText.size() + barePdu.size(), 0);

    // Part 2 is refused when first offered, taken when offered again; the
    // next message with the same reference meets the same refusal once.
    ModemEngine::Options choosy = quietEcho();
    choosy.rejectPart = 2;
    ModemEngine choosyModem(choosy);
    QSignalSpy accepted(&choosyModem, &ModemEngine::acceptedPdu);
    for (int round = 0; round < 2; ++round) {
        const int reference = round * 3;
        QCOMPARE(sendPart(choosyModem, message.parts[0]), acknowledged(reference + 1));
        QCOMPARE(sendPart(choosyModem, message.parts[1]), Refused);
        QCOMPARE(sendPart(choosyModem, message.parts[1]), acknowledged(reference + 2));
        QCOMPARE(sendPart(choosyModem, message.parts[2]), acknowledged(reference + 3));
        QCOMPARE(accepted.size(), round + 1);
    }

    // Refused for a while after start, then taken; other numbers meanwhile too.
    ModemEngine::Options waiting = quietEcho();
    waiting.rejectedFor = {{"+15550009", 1000}};
    ModemEngine waitingModem(waiting);
    waitingModem.feed("AT+CMGF=1\r");
    const auto send = [&waitingModem](const QByteArray &number) {
        waitingModem.feed("AT+CMGS=\"" + number + "\"\r");
        return waitingModem.feed("hi\x1a");
    };
    QCOMPARE(send("+15550009"), Refused);
    QCOMPARE(send("+15550001"), acknowledged(1));
    QTRY_VERIFY_WITH_TIMEOUT(send("+15550009").contains("+CMGS:"), 10000);
    QCOMPARE(sendPart(waitingModem, SmsPdu::encode("+15550009", "hi", 0).parts[0]), QByteArray("no prompt"));
}

void tst_modemsim::toolDialogueOverThePty()
{
    SimulatedModem modem;
    QVERIFY2(modem.isReady(), qPrintable(modem.log()));
    QCOMPARE(QFileInfo(modem.linkPath()).symLinkTarget(), modem.slavePath());

    QSerialPort port;
    QVERIFY2(openPort(port, modem.linkPath()), qPrintable(port.errorString()));
    QCOMPARE(talk(port, "AT+CMGF=1\r", "OK\r\n"), QByteArray("AT+CMGF=1\r\r\nOK\r\n"));
    QCOMPARE(talk(port, "AT+CMGS=\"+15550001\"\r", "> "), QByteArray("AT+CMGS=\"+15550001\"\r\r\n> "));
    const QByteArray text = "Caf\xe9\tXAUUSD \\ 1905.20\nline two";
    const QByteArray reply = talk(port, text + "\x1a\r", "OK\r\n");
    QVERIFY2(reply.startsWith(text + "\r\n+CMGS: 1\r\n\r\nOK\r\n"), reply.constData());

    const QList<SimulatedModem::Sms> messages = modem.messages();
    QCOMPARE(messages.size(), 1);
    QCOMPARE(messages[0].number, QString("+15550001"));
    QCOMPARE(messages[0].text, QString::fromLatin1(text));
    QFile record(modem.recordPath());
    QVERIFY(record.open(QIODevice::ReadOnly));
    QCOMPARE(record.readAll(), QByteArray("+15550001\tCaf\\xe9\\tXAUUSD \\\\ 1905.20\\nline two\n"));
    const QString logged = QStringLiteral("(message to +15550001, %1 bytes)  -> +CMGS: 1 OK").arg(text.size());
    QVERIFY2(modem.log().contains(logged), qPrintable(modem.log()));

    port.close();
    QVERIFY(modem.stop());
    QVERIFY(!QFileInfo(modem.linkPath()).isSymLink());
}

void tst_modemsim::toolPduMessagesAndOptions()
{
    SimulatedModem modem({"--no-echo", "--reject-part", "2", "--reject-for", "+15550009:600000"});
    QVERIFY2(modem.isReady(), qPrintable(modem.log()));
    QSerialPort port;
    QVERIFY(openPort(port, modem.linkPath()));
    const auto send = [&port](const SmsPdu::Part &part) {
        talk(port, "AT+CMGS=" + QByteArray::number(part.tpduLength) + "\r", "> ");
        QByteArray reply = talk(port, part.hex + "\x1a", "\r\n");
        for (int more = 0; more < 10 && !reply.endsWith("OK\r\n") && !reply.endsWith("500\r\n"); ++more)
            reply += talk(port, {}, "\r\n");
        return reply;
    };

    const QString text = QString::fromUtf16(u"\u0417\u043e\u043b\u043e\u0442\u043e \u2191\t") + QString(70, 'x');
    const SmsPdu::Message message = SmsPdu::encode("+15550001", text, 200);
    QCOMPARE(message.parts.size(), 2);
    QCOMPARE(send(message.parts[0]), QByteArray("\r\n+CMGS: 1\r\n\r\nOK\r\n"));
    QCOMPARE(send(message.parts[1]), QByteArray("\r\n+CMS ERROR: 500\r\n"));
    QCOMPARE(send(message.parts[1]), QByteArray("\r\n+CMGS: 2\r\n\r\nOK\r\n"));
    QCOMPARE(send(SmsPdu::encode("+15550009", "no", 1).parts[0]), QByteArray("\r\n+CMS ERROR: 500\r\n"));
    QCOMPARE(talk(port, "AT+CMGF=1\rAT+CMGS=\"555\"\r", "> "), QByteArray("\r\nOK\r\n\r\n> "));
    QVERIFY(talk(port, "plain\x1a", "OK\r\n").startsWith("\r\n+CMGS: 3"));

    const QList<SimulatedModem::Sms> messages = modem.messages();
    QCOMPARE(messages.size(), 2);
    QCOMPARE(messages[0].number, QString("+15550001"));
    QCOMPARE(messages[0].text, text);
    QCOMPARE(messages[0].parts, 2);
    QVERIFY(messages[0].pdu);
    QCOMPARE(messages[1].text, QString("plain"));
    QVERIFY(!messages[1].pdu);
    QFile record(modem.recordPath());
    QVERIFY(record.open(QIODevice::ReadOnly));
    QVERIFY(record.readAll().startsWith("+15550001\t\\xd0\\x97\\xd0\\xbe"));
    QVERIFY2(modem.log().contains("refused a message to +15550009: number refused for the first 600000 ms"),
             qPrintable(modem.log()));
}

void tst_modemsim::toolSplitSlowAndSilentModems()
{
    {
        SimulatedModem modem({"--split", "1", "--no-echo"});
        QVERIFY2(modem.isReady(), qPrintable(modem.log()));
        QSerialPort port;
        QVERIFY(openPort(port, modem.linkPath()));
        int reads = 0;
        QCOMPARE(talk(port, "AT+CGMI\r", "OK\r\n", &reads), QByteArray("\r\nVantrel\r\n\r\nOK\r\n"));
        QVERIFY2(reads >= 3, qPrintable(QString::number(reads)));
    }
    {
        SimulatedModem modem({"--delay", "250"});
        QVERIFY2(modem.isReady(), qPrintable(modem.log()));
        QSerialPort port;
        QVERIFY(openPort(port, modem.linkPath()));
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(talk(port, "AT\r", "OK\r\n"), QByteArray("AT\r\r\nOK\r\n"));
        QVERIFY2(clock.elapsed() >= 200, qPrintable(QString::number(clock.elapsed())));
    }
    {
        SimulatedModem modem({"--silent"});
        QVERIFY2(modem.isReady(), qPrintable(modem.log()));
        QSerialPort port;
        QVERIFY(openPort(port, modem.linkPath()));
        port.write("AT\r");
        QVERIFY(!port.waitForReadyRead(300));
        QCOMPARE(port.bytesAvailable(), 0);
    }
}

void tst_modemsim::toolHangUpThenFreshLine()
{
    SimulatedModem modem({"--hangup-after", "1", "--reopen-ms", "1000", "--no-echo"});
    QVERIFY2(modem.isReady(), qPrintable(modem.log()));
    const QString oldLine = modem.slavePath();
    QSerialPort port;
    QVERIFY(openPort(port, modem.linkPath()));
    QCOMPARE(talk(port, "AT+CMGF=1\rAT+CMGS=\"+15550001\"\r", "> "), QByteArray("\r\nOK\r\n\r\n> "));
    QCOMPARE(talk(port, "bye\x1a", "OK\r\n"), QByteArray("\r\n+CMGS: 1\r\n\r\nOK\r\n"));
    // The line goes away under the open port.
    QTRY_VERIFY_WITH_TIMEOUT(port.error() == QSerialPort::ReadError || port.error() == QSerialPort::ResourceError,
                             3000);
    port.close();
    // Until the fresh line is there the link leads nowhere, not to the old
    // line's name, which the system may give to somebody else's line.
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(modem.linkPath()).symLinkTarget() != oldLine, 500);
    QVERIFY(!QFileInfo::exists(QFileInfo(modem.linkPath()).symLinkTarget()));

    QVERIFY2(modem.waitForReady(3000), qPrintable(modem.log()));
    QCOMPARE(QFileInfo(modem.linkPath()).symLinkTarget(), modem.slavePath());
    QSerialPort fresh;
    QVERIFY2(openPort(fresh, modem.linkPath()), qPrintable(fresh.errorString()));
    QCOMPARE(talk(fresh, "AT\r", "OK\r\n"), QByteArray("\r\nOK\r\n"));
    QCOMPARE(modem.messages().size(), 1);
}

QTEST_GUILESS_MAIN(tst_modemsim)
#include "tst_modemsim.moc"
