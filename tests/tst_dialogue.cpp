// One command and its reply over a real pseudo-terminal, with the test
// playing the modem byte by byte: echo, replies in pieces, final error
// results that end a step at once, a lowercase "ok", a stray ">", a message
// reference behind the echo, and silence for the full 8.64 seconds. (A text
// echoed with "OK" in it, and a bare "OK" to a text: tst_send.)

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
    void replyAfterTheEchoInPieces();
    void finalErrorsEndTheStepAtOnce();
    void lowercaseOkAndStrayPromptAreNoReply();
    void silenceTimesOutAfterTheFullLimit();
    void afterEcho();

private:
    // From now on the modem answers every command with these pieces, 20 ms apart.
    void answer(const QList<QByteArray> &pieces);

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

void tst_dialogue::answer(const QList<QByteArray> &pieces)
{
    m_pty->disconnect(this);
    connect(m_pty.get(), &PtyPair::received, this, [this, pieces](const QByteArray &) {
        int delay = 0;
        for (const QByteArray &piece : pieces)
            m_pty->writeLater(piece, delay += 20);
    });
}

void tst_dialogue::replyAfterTheEchoInPieces()
{
    answer({"AT+CMGF=1\r", "\r\nO", "K\r\n"});
    QVERIFY(m_dialogue->sendIt("AT+CMGF=1", "OK", "ERROR", 1));
    QCOMPARE(m_trace->lines(), QStringList({"Sending..AT+CMGF=1", "In OnComm", "?---> AT+CMGF=1\r", "In OnComm",
                                            "?---> AT+CMGF=1\r\r\nO", "In OnComm", "--> AT+CMGF=1\r\r\nOK\r\n"}));
    QVERIFY(m_dialogue->ReplyDone());

    // "+CMGS: n" and "OK" after the echo of a message, in pieces: sent. The
    // tail of the previous reply in front of the echo changes nothing.
    answer({"\r\n", "Gold OK > 1900", "\r\n+CMGS: 7\r\n", "\r\nOK\r\n"});
    QVERIFY(m_dialogue->sendIt("Gold OK > 1900\x1a", "OK", "ERROR", 1));
    QVERIFY(m_trace->lines().last().startsWith("--> \r\nGold OK > 1900\r\n+CMGS: 7"));
    QVERIFY(m_trace->lines().contains("?---> \r\nGold OK > 1900\r\n+CMGS: 7\r\n"));
}

void tst_dialogue::finalErrorsEndTheStepAtOnce()
{
    // With the full 8.64 s limit, each final error ends its step at once,
    // in the modem's own words; a line counts once its end has come.
    m_dialogue->setTimeUnitMs(ModemDialogue::DefaultTimeUnitMs);
    const QList<QPair<QByteArray, QString>> errors = {{"\r\nERROR\r\n", "ERROR"},
                                                      {"\r\n+CMS ERROR: 500\r\n", "+CMS ERROR: 500"},
                                                      {"\r\n+CME ERROR: 10\r\n", "+CME ERROR: 10"}};
    for (const auto &[reply, reason] : errors) {
        answer({reply.left(5), reply.mid(5)});
        QElapsedTimer clock;
        clock.start();
        QVERIFY(!m_dialogue->sendIt("AT+CMGS=\"555\"", ">", "ERROR", 1));
        QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(m_dialogue->failure(), reason);
        QCOMPARE(m_trace->lines().last(), "Err--->" + QString::fromLatin1(reply));
        m_trace->Clear();
    }
    // Its expected reply counts before an error in the same reply.
    answer({"\r\nERROR\r\n\r\nOK\r\n"});
    QVERIFY(m_dialogue->sendIt("AT", "OK", "ERROR", 1));
}

void tst_dialogue::lowercaseOkAndStrayPromptAreNoReply()
{
    answer({"\r\nok\r\n"});
    QVERIFY(!m_dialogue->sendIt("AT", "OK", "ERROR", 1));
    QCOMPARE(m_trace->lines().last(), QString("Timeout..."));
    QCOMPARE(m_dialogue->failure(), QString("no answer from the modem within 0.6 s"));

    // A ">" ends only the step that waits for the prompt.
    answer({"\r\n> "});
    QVERIFY(!m_dialogue->sendIt("AT+CMGF=1", "OK", "ERROR", 1));
    QCOMPARE(m_trace->lines().last(), QString("Timeout..."));
    QVERIFY(m_dialogue->sendIt("AT+CMGS=\"555\"", ">", "ERROR", 1));
    QCOMPARE(m_trace->lines().last(), QString("--> \r\n> "));
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
    QCOMPARE(m_dialogue->failure(), QString("no answer from the modem within 8.64 s"));
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
    QCOMPARE(ModemDialogue::afterEcho("\033AT\r\r\nOK", "AT\r"), QString("\r\nOK"));
}

QTEST_GUILESS_MAIN(tst_dialogue)
#include "tst_dialogue.moc"
