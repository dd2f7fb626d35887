// The send procedure against the bundled modem simulator on a real
// pseudo-terminal: the exact bytes, the page log, the history line, the
// trace, failures said with their reason (among them an alert text that the
// echo must not acknowledge), a modem left at its prompt, control bytes in a
// text, port set-up errors, and one dialogue at a time. (A line that goes
// away in the middle of a dialogue: tst_faults.)

#include "store/UpdateCom.h"
#include "support/ProgramFolderFixture.h"
#include "support/PtyPair.h"
#include "support/Readback.h"
#include "support/ScriptedMessageBoxes.h"
#include "support/SimulatedModem.h"
#include "support/TestSender.h"

#include <QFile>
#include <QTimer>
#include <QtTest>

class tst_send : public QObject
{
    Q_OBJECT

private slots:
    void acknowledgedSend();
    void textModeBytesAsEver();
    void failedSendsSayWhy();
    void whatTheModemMustNotMisread();
    void portSetUpErrors();
    void oneDialogueAtATime();
};

void tst_send::acknowledgedSend()
{
    ProgramFolderFixture folder;
    SimulatedModem modem({"--quiet"}, folder.path(), 1);
    QVERIFY(modem.isReady());
    TestSender s;

    // A short text of plain ASCII: text mode.
    const QString text = QStringLiteral("Gold above 1900, {OK}");
    s.SendAlarm(text, "Desk1", "555");
    const QStringList lines = s.pageLog.text().split("\r\n");
    QVERIFY(!lines[0].isEmpty());
    QCOMPARE(lines.mid(1), QStringList({"Sending to Desk1 (555)", "Message: " + text, ""}));
    QCOMPARE(fileBytes(folder.file("ALARM1.csv")), "Desk1 (555)*** " + text.toLatin1() + "\r\n");

    QVERIFY(s.trace.lines().contains("Sending..AT+CMGS=\"555\""));
    QVERIFY(s.trace.lines().contains("Sending.." + text + QChar(26)));

    // A letter outside ASCII, or a text longer than one SMS: PDU mode, the
    // long one in parts; each arrives whole, as it was written.
    const QString cafe = QStringLiteral("caf") + QChar(0xE9);
    const QString longText = QString(400, 'x');
    s.SendAlarm(cafe, "Desk1", "+555");
    s.SendAlarm(longText, "Desk1", "+555");
    QCOMPARE(modem.messages().size(), 3);
    QCOMPARE(modem.messages()[1].text, cafe);
    QVERIFY(modem.messages()[1].pdu);
    QCOMPARE(modem.messages()[2].text, longText);
    QCOMPARE(modem.messages()[2].parts, 3);
    QCOMPARE(s.trace.lines().count("Sending..AT+CMGF=0"), 1);
    QCOMPARE(s.trace.lines().filter("Sending..AT+CMGS=").size(), 3);
    QVERIFY(fileBytes(folder.file("ALARM1.csv")).contains("Desk1 (+555)*** caf\xe9\r\n"));
}

void tst_send::textModeBytesAsEver()
{
    // Short ASCII texts reach the modem byte for byte as they always did,
    // after the ESC that clears a prompt left open; the fresh opening asks
    // for error codes first.
    ProgramFolderFixture folder;
    PtyPair device(folder.path(), 1);
    device.listen();
    QByteArray heard;
    connect(&device, &PtyPair::received, this, [&](const QByteArray &bytes) {
        heard += bytes;
        if (heard.endsWith("AT+CMGF=1\r") || heard.endsWith("AT+CMEE=1\r"))
            device.write("\r\nOK\r\n");
        else if (heard.endsWith("\"\r"))
            device.write("\r\n> ");
        else if (heard.endsWith("\x1a\r"))
            device.write("\r\n+CMGS: 4\r\n\r\nOK\r\n");
    });
    TestSender s;
    s.SendAlarm("Gold above 1900", "Desk1", "555");
    QCOMPARE(heard, QByteArray("\033AT+CMEE=1\r\033AT+CMGF=1\rAT+CMGS=\"555\"\rGold above 1900\x1a\r"));
    QVERIFY(s.pageLog.text().contains("Sending to Desk1 (555)"));
}

void tst_send::failedSendsSayWhy()
{
    ProgramFolderFixture folder;
    // The echo arrives byte by byte: "OK" and ">" of the text come long
    // before the modem's own answer, which here is a refusal.
    SimulatedModem modem({"--quiet", "--split", "1", "--reject", "666"}, folder.path(), 1);
    TestSender s;
    const auto said = [&](const QString &block) { return s.pageLog.text().contains(block); };

    // "+CMS ERROR" for the text: not sent, no history line, and said in the
    // page log in the modem's own words; the step ends on the refusal.
    s.SendAlarm("Buy OK > now", "Desk1", "666");
    QVERIFY(modem.messages().isEmpty());
    QVERIFY(!QFile::exists(folder.file("ALARM1.csv")));
    QVERIFY(said("Not sent to Desk1 (666): +CMS ERROR: 500\r\nMessage: Buy OK > now\r\n"));
    const QStringList trace = s.trace.lines();
    QVERIFY(trace.count("In OnComm") > 10);
    QVERIFY(trace[trace.size() - 2].startsWith("Err--->") && trace[trace.size() - 2].contains("+CMS ERROR: 500"));
    QCOMPARE(trace.last(), QString("Done..."));

    // A modem that refuses text mode: AT+CMGS is never written.
    SimulatedModem noText({"--quiet", "--error-cmgf"}, folder.path(), 2);
    s.usePort(2);
    s.SendAlarm("x", "Desk2", "555");
    QVERIFY(!s.trace.lines().contains("Sending..AT+CMGS=\"555\""));
    QVERIFY(said("Not sent to Desk2 (555): ERROR\r\n"));

    // A bare "OK" to the text: the modem did not send it.
    SimulatedModem bare({"--quiet", "--bare-ok"}, folder.path(), 3);
    s.usePort(3);
    s.SendAlarm("x", "Desk3", "555");
    QVERIFY(said("Not sent to Desk3 (555): the modem answered OK without a message reference"));

    // Silence: one time-out.
    SimulatedModem silent({"--quiet", "--silent"}, folder.path(), 4);
    s.usePort(4);
    s.SendAlarm("x", "Desk4", "555");
    QCOMPARE(s.trace.lines(),
             QStringList({"Starting...", "Port Opened", "Sending..AT+CMGF=1", "Timeout...", "Done..."}));
    QVERIFY(said("Not sent to Desk4 (555): no answer from the modem within 1.2 s\r\n"));

    // The same text to a number the network takes is the only one logged as
    // sent, once.
    s.usePort(1);
    s.SendAlarm("Buy OK > now", "Desk1", "555");
    QCOMPARE(modem.messages().size(), 1);
    QCOMPARE(s.pageLog.text().count("Sending to Desk1 (555)"), 1);
    QCOMPARE(s.pageLog.text().count("Sending to"), 1);
}

void tst_send::whatTheModemMustNotMisread()
{
    ProgramFolderFixture folder;
    SimulatedModem modem({"--quiet"}, folder.path(), 1);
    TestSender s;

    // A dialogue killed at the prompt leaves the modem waiting for a text;
    // the next dialogue clears it first, so nothing of it becomes that text.
    {
        MSComm killed;
        UpdateCom::OpenModemPort(killed, PortSettings(), 1);
        for (const char *step : {"AT+CMGF=1\r", "AT+CMGS=\"999\"\r", "half a text"}) {
            killed.output(step);
            QTest::qWait(100);
        }
    }
    s.SendAlarm("the real alert", "Desk1", "555");
    QCOMPARE(modem.messages().size(), 1);
    QCOMPARE(modem.messages()[0].number, QString("555"));
    QCOMPARE(modem.messages()[0].text, QString("the real alert"));

    // ESC, Ctrl-Z and NUL in a text would cancel or cut the message at the
    // modem: they go as spaces, and the page log says so once.
    s.SendAlarm(QString("Stop hit") + QChar(0x1b) + "ATH, then" + QChar(0x1a) + "ATD+4470000; and" + QChar(0) + ".",
                "Desk1", "555");
    QCOMPARE(modem.messages().size(), 2);
    QCOMPARE(modem.messages()[1].text, QString("Stop hit ATH, then ATD+4470000; and ."));
    QCOMPARE(s.pageLog.text().count("held Ctrl-Z, ESC or NUL"), 1);
    QVERIFY(s.pageLog.text().contains("Message: Stop hit ATH, then ATD+4470000; and .\r\n"));
}

void tst_send::portSetUpErrors()
{
    ProgramFolderFixture folder;
    ScriptedMessageBoxes boxes;
    TestSender s;

    // The box waits for nobody; while it is up, further port errors go to
    // the page log only.
    s.usePort(9); // no such port
    s.SendAlarm("x", "Desk1", "555");
    QCOMPARE(boxes.texts(), QStringList({"Invalid port number"}));
    QCOMPARE(boxes.shown[0].title, QString("Vantrel"));
    QVERIFY(boxes.shown[0].notice);
    QCOMPARE(s.trace.lines(), QStringList({"Starting..."}));
    QVERIFY(s.pageLog.text().contains("Not sent to Desk1 (555): Invalid port number\r\n"));

    SimulatedModem modem({"--quiet"}, folder.path(), 1);
    s.usePort(1);
    MSComm other;
    other.setCommPort(1);
    other.setPortOpen(true);
    s.SendAlarm("x", "Desk1", "555");
    QCOMPARE(boxes.shown.size(), 1);
    QVERIFY(s.pageLog.text().contains("Not sent to Desk1 (555): Port already open\r\n"));
    other.setPortOpen(false);

    boxes.dismissNotice();
    PortSettings fast = s.relay.modem().settings();
    fast.baud = "fast";
    s.relay.modem().setSettings(fast);
    s.SendAlarm("x", "Desk1", "555");
    QCOMPARE(boxes.texts().last(), QString("Error in default parameters"));
    QCOMPARE(boxes.shown.size(), 2);
    QVERIFY(modem.messages().isEmpty());
}

void tst_send::oneDialogueAtATime()
{
    ProgramFolderFixture folder;
    SimulatedModem modem({"--quiet", "--delay", "150"}, folder.path(), 1);
    TestSender s;

    // A second send asked for in the middle of the first one's dialogue
    // runs after it, never inside it; so does one asked for while a modem
    // test has the line, after the test.
    bool secondDone = false;
    QTimer::singleShot(200, &s.relay, [&] {
        QVERIFY(s.relay.modem().busy());
        s.relay.SendAlarm("second", "TEST", "777", [&] { secondDone = true; });
    });
    s.SendAlarm("first", "Desk1", "555");
    QVERIFY(!secondDone);
    QTRY_VERIFY(secondDone);
    QCOMPARE(sentTexts(modem), QStringList({"first", "second"}));
    QCOMPARE(s.trace.lines().count("Starting..."), 1);
    QCOMPARE(s.pageLog.text().count("Sending to"), 2);
    QVERIFY(s.pageLog.text().indexOf("Desk1") < s.pageLog.text().indexOf("TEST"));

    QStringList order;
    s.relay.testModem(1, [&](const ModemTestJob::Result &result) { order << (result.answered ? "test" : "no test"); });
    s.relay.SendAlarm("third", "TEST", "777", [&] { order << "send"; });
    QTRY_COMPARE(order, QStringList({"test", "send"}));
    QCOMPARE(sentTexts(modem).last(), QString("third"));
}

QTEST_GUILESS_MAIN(tst_send)
#include "tst_send.moc"
