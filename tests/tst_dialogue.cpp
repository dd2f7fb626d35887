// The engine of one modem line over a real pseudo-terminal, with the test
// playing the modem byte by byte: echo, replies in pieces, final error
// results that end a step at once, a lowercase "ok", a stray ">", silence
// for the full 8.64 seconds, lines the modem sends on its own before,
// between and inside the steps of a send, and a pulled cable while idle and
// while sending; AT+CMEE=1 first on every opening; the answer to a message
// waited for far longer than a command's, and heard when it comes later
// still. (A text echoed with "OK" in it, and a bare "OK" to a text:
// tst_send.)

#include "modem/ModemLine.h"
#include "modem/SmsSendJob.h"
#include "modem/TraceList.h"
#include "store/ProgramFolder.h"
#include "support/ProgramFolderFixture.h"
#include "support/PtyPair.h"
#include "support/Readback.h"
#include "support/SimulatedModem.h"
#include "support/TestRelay.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/resource.h>

namespace {

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
           + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

} // namespace

class tst_dialogue : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void replyAfterTheEchoInPieces();
    void finalErrorsEndTheStepAtOnce();
    void lowercaseOkAndStrayPromptAreNoReply();
    void silenceTimesOutAfterTheFullLimit();
    void linesOfTheModemsOwnNeverAnswer();
    void pulledCable();
    void everyOpeningAsksForErrorCodes();
    void aMessageAnsweredLate();
    void afterEcho();

private:
    // From now on the modem answers every command with these pieces, 20 ms apart.
    void answer(const QList<QByteArray> &pieces);
    // sendIt, waited for.
    ModemAnswer sendIt(const QString &s, const QString &ok);

    QTemporaryDir m_dir;
    std::unique_ptr<PtyPair> m_pty;
    std::unique_ptr<TraceList> m_trace;
    std::unique_ptr<ModemLine> m_line;
};

void tst_dialogue::init()
{
    ProgramFolder::set(m_dir.path());
    m_pty = std::make_unique<PtyPair>(m_dir.path(), 1);
    m_pty->listen();
    m_trace = std::make_unique<TraceList>();
    m_line = std::make_unique<ModemLine>(PortSettings(), *m_trace);
    m_line->setTimeUnitMs(600);
    // The opening's own first command, answered; each case starts after it.
    QByteArray first;
    connect(m_pty.get(), &PtyPair::received, this, [&](const QByteArray &bytes) {
        first += bytes;
        if (first == "\033AT+CMEE=1\r")
            m_pty->write("AT+CMEE=1\r\r\nOK\r\n");
    });
    m_line->open();
    QVERIFY(m_line->portOpen());
    QTRY_VERIFY(!m_line->busy());
    QCOMPARE(first, QByteArray("\033AT+CMEE=1\r"));
    QCOMPARE(m_trace->lines().first(), QString("Sending..AT+CMEE=1"));
    QVERIFY(m_trace->lines().last().startsWith("--> "));
    m_pty->disconnect(this);
    m_trace->Clear();
}

void tst_dialogue::cleanup()
{
    m_line.reset();
    m_pty.reset();
}

void tst_dialogue::answer(const QList<QByteArray> &pieces)
{
    m_pty->disconnect(this);
    connect(m_pty.get(), &PtyPair::received, this, [this, pieces](const QByteArray &) {
        int delay = 0;
        for (const QByteArray &piece : pieces)
            m_pty->writeLater(piece, delay += 20);
    });
}

ModemAnswer tst_dialogue::sendIt(const QString &s, const QString &ok)
{
    std::optional<ModemAnswer> answer;
    m_line->sendIt(s, ok, "ERROR", 1, [&](const ModemAnswer &given) { answer = given; });
    [&] { QTRY_VERIFY_WITH_TIMEOUT(answer.has_value(), 20000); }();
    return answer.value_or(ModemAnswer{});
}

void tst_dialogue::replyAfterTheEchoInPieces()
{
    answer({"AT+CMGF=1\r", "\r\nO", "K\r\n"});
    QVERIFY(sendIt("AT+CMGF=1", "OK").given);
    QCOMPARE(m_trace->lines(), QStringList({"Sending..AT+CMGF=1", "In OnComm", "?---> AT+CMGF=1\r", "In OnComm",
                                            "?---> AT+CMGF=1\r\r\nO", "In OnComm", "--> AT+CMGF=1\r\r\nOK\r\n"}));

    // "+CMGS: n" and "OK" after the echo of a message, in pieces: sent. The
    // tail of the previous reply in front of the echo changes nothing.
    answer({"\r\n", "Gold OK > 1900", "\r\n+CMGS: 7\r\n", "\r\nOK\r\n"});
    std::optional<ModemAnswer> answer;
    m_line->ask(ModemCommand::message("Gold OK > 1900"), [&](const ModemAnswer &given) { answer = given; });
    QTRY_VERIFY(answer.has_value());
    QVERIFY(answer->given);
    QCOMPARE(answer->reply, QString("\r\n+CMGS: 7\r\n\r\nOK"));
    QVERIFY(m_trace->lines().last().startsWith("--> \r\nGold OK > 1900\r\n+CMGS: 7"));
    QVERIFY(m_trace->lines().contains("?---> \r\nGold OK > 1900\r\n+CMGS: 7\r\n"));
}

void tst_dialogue::finalErrorsEndTheStepAtOnce()
{
    // With the full 8.64 s limit, each final error ends its step at once,
    // in the modem's own words; a line counts once its end has come.
    m_line->setTimeUnitMs(ModemLine::DefaultTimeUnitMs);
    const QList<QPair<QByteArray, QString>> errors = {{"\r\nERROR\r\n", "ERROR"},
                                                      {"\r\n+CMS ERROR: 500\r\n", "+CMS ERROR: 500"},
                                                      {"\r\n+CME ERROR: 10\r\n", "+CME ERROR: 10"}};
    for (const auto &[reply, reason] : errors) {
        answer({reply.left(5), reply.mid(5)});
        QElapsedTimer clock;
        clock.start();
        const ModemAnswer refused = sendIt("AT+CMGS=\"555\"", ">");
        QVERIFY(!refused.given);
        QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(refused.failure, reason);
        QCOMPARE(m_trace->lines().last(), "Err--->" + QString::fromLatin1(reply));
        m_trace->Clear();
    }
    // Its expected reply counts before an error in the same reply.
    answer({"\r\nERROR\r\n\r\nOK\r\n"});
    QVERIFY(sendIt("AT", "OK").given);
}

void tst_dialogue::lowercaseOkAndStrayPromptAreNoReply()
{
    answer({"\r\nok\r\n"});
    const ModemAnswer lowercase = sendIt("AT", "OK");
    QVERIFY(!lowercase.given && lowercase.timedOut);
    QCOMPARE(m_trace->lines().last(), QString("Timeout..."));
    QCOMPARE(lowercase.failure, QString("no answer from the modem within 0.6 s"));

    // A ">" ends only the step that waits for the prompt.
    answer({"\r\n> "});
    QVERIFY(!sendIt("AT+CMGF=1", "OK").given);
    QCOMPARE(m_trace->lines().last(), QString("Timeout..."));
    QVERIFY(sendIt("AT+CMGS=\"555\"", ">").given);
    QCOMPARE(m_trace->lines().last(), QString("--> \r\n> "));
}

void tst_dialogue::silenceTimesOutAfterTheFullLimit()
{
    m_line->setTimeUnitMs(ModemLine::DefaultTimeUnitMs);
    QElapsedTimer clock;
    clock.start();
    const double cpuBefore = cpuSeconds();
    const ModemAnswer silence = sendIt("AT+CMGF=1", "OK");
    const qint64 elapsed = clock.elapsed();
    const double cpu = cpuSeconds() - cpuBefore;
    QVERIFY(!silence.given);
    QVERIFY2(elapsed >= 8000 && elapsed <= 9000, qPrintable(QString::number(elapsed)));
    QCOMPARE(m_trace->lines(), QStringList({"Sending..AT+CMGF=1", "Timeout..."}));
    QCOMPARE(silence.failure, QString("no answer from the modem within 8.64 s"));
    // The wait sleeps in the event loop: a busy loop would burn the core.
    QVERIFY2(cpu < 0.5, qPrintable(QString::number(cpu)));
}

void tst_dialogue::linesOfTheModemsOwnNeverAnswer()
{
    // The modem says things on its own account before, between and inside
    // the steps of a send, in pieces; the send goes as if it had not, and
    // each of those lines is handed on once. Noise is no such line.
    const QByteArray report = "+CDS: 6,7,\"+555\",145,\"26/12/09,10:00:00+04\",\"26/12/09,10:00:05+04\",0";
    QByteArray heard;
    connect(m_pty.get(), &PtyPair::received, this, [&](const QByteArray &bytes) {
        heard += bytes;
        if (heard.endsWith("AT+CMGF=1\r")) {
            m_pty->writeLater("\r\nRING\r\nAT+CMGF=1\r", 10);
            m_pty->writeLater("\r\nOK\r\n\r\n" + report + "\r\n", 30);
        } else if (heard.endsWith("\"555\"\r")) {
            m_pty->writeLater("AT+CMGS=\"555\"\r\r\n+CMT", 10);
            m_pty->writeLater("I: \"SM\",4\r\n\r\n> ", 30);
        } else if (heard.endsWith("\x1a\r")) {
            m_pty->writeLater("+CMTI: \"SM\",5 is mine", 10);
            m_pty->writeLater("\r\n#%&noise\r\n\r\n+CMGS: 12\r\n\r\n+CDS: 25\r\n07911", 30);
            m_pty->writeLater("326\r\n\r\nOK\r\n", 50);
        }
    });
    QSignalSpy unsolicited(m_line.get(), &ModemLine::unsolicited);
    std::optional<SendOutcome> outcome;
    m_line->run(std::make_unique<SmsSendJob>(SmsRequest{"+CMTI: \"SM\",5 is mine", "Desk1", "555", {}, 0, 0, {}},
                                             [&](const SendOutcome &given) { outcome = given; }));
    QTRY_VERIFY(outcome.has_value());
    QVERIFY2(outcome->sent, qPrintable(outcome->reason));
    QCOMPARE(outcome->references, QList<int>({12}));
    QCOMPARE(heard, QByteArray("\033AT+CMGF=1\rAT+CMGS=\"555\"\r+CMTI: \"SM\",5 is mine\x1a\r"));
    QTRY_COMPARE(unsolicited.size(), 4);
    QCOMPARE(unsolicited[0], QVariantList({"RING", ""}));
    QCOMPARE(unsolicited[1], QVariantList({QString::fromLatin1(report), ""}));
    QCOMPARE(unsolicited[2], QVariantList({"+CMTI: \"SM\",4", ""}));
    QCOMPARE(unsolicited[3], QVariantList({"+CDS: 25", "07911326"}));
    QVERIFY(m_trace->lines().contains("Unsolicited: RING"));
    QCOMPARE(m_trace->lines().last(), QString("Done..."));

    // While nothing is asked, a line of the modem's own still comes through.
    m_pty->write("\r\n+CMTI: \"SM\",6\r\n");
    QTRY_COMPARE(unsolicited.size(), 5);
    QCOMPARE(unsolicited[4], QVariantList({"+CMTI: \"SM\",6", ""}));
}

void tst_dialogue::pulledCable()
{
    // The simulated modem's device goes away while the line is idle: the
    // engine says so at once, and opens the line again once it is back.
    ProgramFolderFixture folder;
    folder.addUser("Ann", "+111", true);
    const QString mt4 = folder.addWatchedFolder("mt4");
    SimulatedModem modem({"--quiet", "--delay", "300"}, folder.path(), 1);
    QVERIFY(modem.isReady());
    TestRelay relay;
    relay.setRetryDelays({300, 300, 300, 300});
    QSignalSpy lost(&relay.modem(), &ModemLine::lineLost);
    QSignalSpy back(&relay.modem(), &ModemLine::lineBack);
    QVERIFY(relay.modem().portOpen());
    QVERIFY(modem.control("unplug"));
    QTRY_COMPARE_WITH_TIMEOUT(lost.size(), 1, 2000);
    QTRY_VERIFY_WITH_TIMEOUT(relay.pageLog().text().contains("Modem COM1 is down: no such device"), 2000);
    QVERIFY(modem.control("plug") && modem.waitForReady());
    QTRY_COMPARE_WITH_TIMEOUT(back.size(), 1, 3 * ModemLine::ReopenMs);
    QTRY_VERIFY(relay.pageLog().text().contains("Modem COM1 is up again"));

    // Pulled in the middle of a send: the SMS in flight is failed, said and
    // tried again once the modem is back; meanwhile nothing is tried.
    writeAlerts(mt4, 1, 1);
    QTRY_VERIFY(relay.trace().lines().contains("Sending..AT+CMGS=\"+111\""));
    QVERIFY(modem.control("unplug"));
    QTRY_VERIFY(relay.pageLog().text().contains(
        "Not sent to Ann (+111): the line to the modem was lost (Error reading Comm device)"));
    QCOMPARE(lost.size(), 2);
    QTRY_VERIFY(relay.pageLog().text().count("Modem COM1 is down: no such device") == 2);
    QVERIFY(modem.control("plug") && modem.waitForReady());
    QVERIFY(relay.waitUntilIdle(20000));
    QCOMPARE(sentTexts(modem), QStringList({"Alert 1"}));
    QCOMPARE(relay.pageLog().text().count("Sending to Ann (+111)"), 1);
}

void tst_dialogue::everyOpeningAsksForErrorCodes()
{
    // A modem that says a bare ERROR after each power-on, as many do: each
    // opening of the line sets codes before anything else goes to it.
    SimulatedModem modem({"--cmee", "0", "--reopen-ms", "50"}, m_dir.path(), 2);
    QVERIFY(modem.isReady());
    PortSettings settings;
    settings.port = 2;
    ModemLine line(settings, *m_trace);
    line.setTimeUnitMs(600);
    std::optional<ModemAnswer> mode;
    const auto askMode = [&] {
        mode.reset();
        line.ask(ModemCommand::query("AT+CMEE?", "+CMEE:"), [&](const ModemAnswer &given) { mode = given; });
    };
    // A job queued before the line opens comes after the opening's command.
    askMode();
    line.open();
    QTRY_VERIFY(mode.has_value());
    QVERIFY2(mode->reply.contains("+CMEE: 1"), qPrintable(mode->reply));
    QVERIFY(m_trace->lines().contains("Sending..AT+CMEE=1"));

    // Pulled and plugged in again: the modem has started over.
    QSignalSpy back(&line, &ModemLine::lineBack);
    QVERIFY(modem.control("unplug"));
    QTRY_VERIFY(!line.portOpen());
    QVERIFY(modem.control("plug") && modem.waitForReady());
    QTRY_COMPARE_WITH_TIMEOUT(back.size(), 1, 3 * ModemLine::ReopenMs);
    askMode();
    QTRY_VERIFY(mode.has_value());
    QVERIFY2(mode->reply.contains("+CMEE: 1"), qPrintable(mode->reply));

    // Opened afresh as for a modem that locked up.
    QTRY_VERIFY(!line.busy());
    QVERIFY(modem.control("cmee 0"));
    line.reopen();
    askMode();
    QTRY_VERIFY(mode.has_value());
    QVERIFY2(mode->reply.contains("+CMEE: 1"), qPrintable(mode->reply));
    QCOMPARE(modem.log().count("AT+CMEE=1"), 3);
}

void tst_dialogue::aMessageAnsweredLate()
{
    // A congested network answers a message after the line stopped
    // waiting: the SMS ends Unanswered, and the answer is still heard.
    SimulatedModem modem({"--cmgs-delay", "3500"}, m_dir.path(), 2);
    QVERIFY(modem.isReady());
    PortSettings settings;
    settings.port = 2;
    ModemLine line(settings, *m_trace);
    line.setTimeUnitMs(288); // a message's answer is waited for 2 s
    line.open();
    QSignalSpy late(&line, &ModemLine::lateAccepted);
    const auto send = [&](const QString &text, qint64 id, qint64 *elapsed) {
        std::optional<SendOutcome> outcome;
        SmsRequest request;
        request.text = text;
        request.name = "Ann";
        request.number = "+111";
        request.id = id;
        QElapsedTimer clock;
        clock.start();
        line.send(request, [&](const SendOutcome &given) { outcome = given; });
        [&] { QTRY_VERIFY_WITH_TIMEOUT(outcome.has_value(), 10000); }();
        *elapsed = clock.elapsed();
        return outcome.value_or(SendOutcome{});
    };

    qint64 elapsed = 0;
    const SendOutcome text = send("Gold at 1900", 42, &elapsed);
    QVERIFY(!text.sent);
    QCOMPARE(text.failure, SendOutcome::Failure::Unanswered);
    QCOMPARE(text.part, 0);
    QCOMPARE(text.partCount, 1);
    QCOMPARE(text.reason, QString("no answer from the modem within 2 s"));
    QVERIFY2(elapsed >= 2000 && elapsed < 3500, qPrintable(QString::number(elapsed)));
    QTRY_COMPARE_WITH_TIMEOUT(late.size(), 1, 5000);
    QCOMPARE(late[0], QVariantList({qint64(42), 0, 1}));
    QCOMPARE(sentTexts(modem), QStringList({"Gold at 1900"}));

    // Silence at any other step keeps its one unit, and is no answer at all.
    QVERIFY(modem.control("silent on"));
    const SendOutcome silent = send("Gold at 1901", 43, &elapsed);
    QCOMPARE(silent.failure, SendOutcome::Failure::NoAnswer);
    QCOMPARE(silent.part, -1);
    QVERIFY2(elapsed < 1000, qPrintable(QString::number(elapsed)));
    QVERIFY(modem.control("silent off"));

    // A long message: the part whose answer did not come.
    const SendOutcome parts = send(QString(200, 'x'), 44, &elapsed);
    QCOMPARE(parts.failure, SendOutcome::Failure::Unanswered);
    QCOMPARE(parts.part, 0);
    QCOMPARE(parts.partCount, 2);
    QTRY_COMPARE_WITH_TIMEOUT(late.size(), 2, 5000);
    QCOMPARE(late[1], QVariantList({qint64(44), 0, 2}));
}

void tst_dialogue::afterEcho()
{
    QCOMPARE(ModemReply::afterEcho("AT\r\r\nOK\r\n", "AT\r"), QString("\r\nOK\r\n"));
    QCOMPARE(ModemReply::afterEcho("\r\nOK\r\n", "AT\r"), QString("\r\nOK\r\n"));
    QCOMPARE(ModemReply::afterEcho("A", "AT\r"), QString());
    QCOMPARE(ModemReply::afterEcho(" OK", " OK\x1a\r"), QString());
    QCOMPARE(ModemReply::afterEcho("\r\n OK\r\nOK", " OK\x1a\r"), QString("\r\nOK"));
    QCOMPARE(ModemReply::afterEcho("\033AT\r\r\nOK", "AT\r"), QString("\r\nOK"));
}

QTEST_GUILESS_MAIN(tst_dialogue)
#include "tst_dialogue.moc"
