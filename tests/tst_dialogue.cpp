// One command and its reply over a real pseudo-terminal, with the test
// playing the modem byte by byte: echo, replies in pieces, ERROR before OK,
// a lowercase "ok", a stray ">", an alert text holding "OK", and silence
// for the full 8.64 seconds.

#include "modem/ModemDialogue.h"
#include "modem/TraceList.h"
#include "store/MSComm.h"
#include "store/ProgramFolder.h"
#include "support/PtyPair.h"

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
    void echoThenReply();
    void replyInPieces();
    void errorThenOk();
    void lowercaseOkIsNoReply();
    void strayPromptEndsAnyExchange();
    void echoedTextIsNotTheAnswer();
    void silenceTimesOutAfterTheFullLimit();
    void afterEcho();

private:
    // The modem answers every command with these pieces, `gap` ms apart.
    void answer(const QList<QByteArray> &pieces, int gap = 20);

    QTemporaryDir m_dir;
    std::unique_ptr<PtyPair> m_pty;
    std::unique_ptr<MSComm> m_port;
    std::unique_ptr<TraceList> m_trace;
    std::unique_ptr<ModemDialogue> m_dialogue;
};

void tst_dialogue::init()
{
    ProgramFolder::set(m_dir.path());
    m_pty = std::make_unique<PtyPair>(m_dir.path(), 1);
    m_pty->listen();
    m_port = std::make_unique<MSComm>();
    m_trace = std::make_unique<TraceList>();
    m_dialogue = std::make_unique<ModemDialogue>(*m_port, *m_trace);
    m_dialogue->setTimeUnitMs(600);
    m_port->setCommPort(1);
    m_port->setRThreshold(1);
    m_port->setPortOpen(true);
}

void tst_dialogue::cleanup()
{
    m_dialogue.reset();
    m_port.reset();
    m_pty.reset();
}

void tst_dialogue::answer(const QList<QByteArray> &pieces, int gap)
{
    connect(m_pty.get(), &PtyPair::received, this, [this, pieces, gap](const QByteArray &) {
        int delay = 0;
        for (const QByteArray &piece : pieces)
            m_pty->writeLater(piece, delay += gap);
    });
}

void tst_dialogue::echoThenReply()
{
    answer({"AT+CMGF=1\r", "\r\nOK\r\n"});
    QVERIFY(m_dialogue->sendIt("AT+CMGF=1", "OK", "ERROR", 1));
    QCOMPARE(m_trace->lines(), QStringList({"Sending..AT+CMGF=1", "In OnComm", "?---> AT+CMGF=1\r", "In OnComm",
                                            "--> AT+CMGF=1\r\r\nOK\r\n"}));
    QVERIFY(m_dialogue->ReplyDone);
}

void tst_dialogue::replyInPieces()
{
    answer({"\r\nO", "K\r\n"});
    QVERIFY(m_dialogue->sendIt("AT", "OK", "ERROR", 1));
    QCOMPARE(m_trace->lines().mid(1), QStringList({"In OnComm", "?---> \r\nO", "In OnComm", "--> \r\nOK\r\n"}));
}

void tst_dialogue::errorThenOk()
{
    answer({"\r\nERROR\r\n", "\r\nOK\r\n"}, 100);
    QVERIFY(m_dialogue->sendIt("AT", "OK", "ERROR", 1));
    QCOMPARE(m_trace->lines().mid(1),
             QStringList({"In OnComm", "Err--->\r\nERROR\r\n", "In OnComm", "--> \r\nERROR\r\n\r\nOK\r\n"}));

    // ERROR alone waits for the time-out and fails; +CMS ERROR too.
    m_pty->disconnect(this);
    answer({"\r\n+CMS ERROR: 500\r\n"});
    QVERIFY(!m_dialogue->sendIt("text\x1a", "OK", "ERROR", 1));
    QCOMPARE(m_trace->lines().last(), QString("Timeout..."));
    QVERIFY(m_trace->lines().contains("Err--->\r\n+CMS ERROR: 500\r\n"));
}

void tst_dialogue::lowercaseOkIsNoReply()
{
    answer({"\r\nok\r\n"});
    QVERIFY(!m_dialogue->sendIt("AT", "OK", "ERROR", 1));
    QCOMPARE(m_trace->lines().last(), QString("Timeout..."));
}

void tst_dialogue::strayPromptEndsAnyExchange()
{
    answer({"\r\n> "});
    QVERIFY(m_dialogue->sendIt("AT+CMGF=1", "OK", "ERROR", 1));
    QCOMPARE(m_trace->lines().last(), QString(">>---> \r\n> "));
}

void tst_dialogue::echoedTextIsNotTheAnswer()
{
    // The modem echoes the text, in pieces, and then says nothing.
    const QByteArray text = "Gold OK > 1900\x1a";
    answer({"Gold O", "K > 1", "900"});
    QVERIFY(!m_dialogue->sendIt(QString::fromLatin1(text), "OK", "ERROR", 1));
    QCOMPARE(m_trace->lines().last(), QString("Timeout..."));
    QVERIFY(m_trace->lines().contains("?---> Gold OK > 1900"));

    // With its own answer after the echo the step succeeds; the tail of the
    // previous reply in front of the echo changes nothing.
    m_pty->disconnect(this);
    answer({"\r\n", "Gold OK > 1900", "\r\n+CMGS: 7\r\n\r\nOK\r\n"});
    QVERIFY(m_dialogue->sendIt(QString::fromLatin1(text), "OK", "ERROR", 1));
    QVERIFY(m_trace->lines().last().startsWith("--> \r\nGold OK > 1900\r\n+CMGS: 7"));
}

void tst_dialogue::silenceTimesOutAfterTheFullLimit()
{
    m_dialogue->setTimeUnitMs(ModemDialogue::DefaultTimeUnitMs);
    QElapsedTimer clock;
    clock.start();
    const double cpuBefore = cpuSeconds();
    QVERIFY(!m_dialogue->sendIt("AT+CMGF=1", "OK", "ERROR", 1));
    const qint64 elapsed = clock.elapsed();
    const double cpu = cpuSeconds() - cpuBefore;
    QVERIFY2(elapsed >= 8000 && elapsed <= 9000, qPrintable(QString::number(elapsed)));
    QCOMPARE(m_trace->lines(), QStringList({"Sending..AT+CMGF=1", "Timeout..."}));
    // The wait sleeps in the event loop: a busy loop would burn the core.
    QVERIFY2(cpu < 0.5, qPrintable(QString::number(cpu)));
}

void tst_dialogue::afterEcho()
{
    QCOMPARE(ModemDialogue::afterEcho("AT\r\r\nOK\r\n", "AT\r"), QString("\r\nOK\r\n"));
    QCOMPARE(ModemDialogue::afterEcho("\r\nOK\r\n", "AT\r"), QString("\r\nOK\r\n"));
    QCOMPARE(ModemDialogue::afterEcho("A", "AT\r"), QString());
    QCOMPARE(ModemDialogue::afterEcho(" OK", " OK\x1a\r"), QString());
    QCOMPARE(ModemDialogue::afterEcho("\r\n OK\r\nOK", " OK\x1a\r"), QString("\r\nOK"));
}

QTEST_GUILESS_MAIN(tst_dialogue)
#include "tst_dialogue.moc"
