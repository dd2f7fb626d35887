// The modem simulator: its engine byte for byte, then the real tool on a real
// pseudo-terminal, talked to through its COM link with QSerialPort.

#include "ModemEngine.h"
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
    void toolDialogueOverThePty();
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
