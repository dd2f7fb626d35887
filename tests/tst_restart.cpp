// Nothing lost, nothing doubled, whatever happens to the program: the relay
// killed at random moments of a long run and started again each time, and
// the real program ended with SIGTERM in the middle of a batch.

#include "pickup/MT4Paths.h"
#include "store/ModemTable.h"
#include "support/ProgramFolderFixture.h"
#include "support/Readback.h"
#include "support/RunUntil.h"
#include "support/SimulatedModem.h"
#include "support/TestRelay.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QSet>
#include <QtTest>

#include <atomic>
#include <csignal>
#include <thread>

namespace {

using Sms = QPair<QString, QString>; // number, text

QString killText(int n)
{
    return QStringLiteral("Kill alert %1").arg(n);
}

// Robots appending bursts of alert lines to the files of random folders.
void robots(const QStringList &folders, int alerts, std::atomic<bool> &done)
{
    QRandomGenerator random(5);
    for (int n = 0; n < alerts;) {
        QFile file(MT4Paths::alertFile(folders[random.bounded(int(folders.size()))]));
        if (file.open(QIODevice::WriteOnly | QIODevice::Append)) {
            QByteArray lines;
            for (int i = random.bounded(1, 9); i > 0 && n < alerts; --i, ++n)
                lines += "L|" + QByteArray::number(n) + "|EA|T|" + killText(n).toLatin1() + "\r\n";
            file.write(lines);
        }
        file.close();
        std::this_thread::sleep_for(std::chrono::milliseconds(random.bounded(200)));
    }
    done = true;
}

QHash<Sms, int> accepted(const QList<const SimulatedModem *> &modems)
{
    QHash<Sms, int> count;
    for (const SimulatedModem *modem : modems) {
        for (const SimulatedModem::Sms &sms : modem->messages())
            ++count[{sms.number, sms.text}];
    }
    return count;
}

// Waits until a file has not grown for a while: on a loaded machine the
// modem may take longer than usual to answer what reached it.
void waitUntilStill(const QString &path)
{
    for (qint64 size = -1; size != QFileInfo(path).size();) {
        size = QFileInfo(path).size();
        QTest::qWait(250);
    }
}

// A program as a child process that can be killed: vantrel-relayhost, the
// relay without its windows, or the program itself.
class Child
{
public:
    explicit Child(const QString &program, const QStringList &arguments = {})
    {
        m_process.setProgram(program);
        m_process.setArguments(arguments);
        m_process.setStandardOutputFile(QProcess::nullDevice());
        m_process.setStandardErrorFile(QProcess::nullDevice());
    }
    ~Child() { kill(SIGKILL); }

    bool start()
    {
        m_process.start();
        return m_process.waitForStarted(5000);
    }
    // False if the program had already ended.
    bool kill(int signal)
    {
        if (m_process.state() == QProcess::NotRunning)
            return false;
        ::kill(pid_t(m_process.processId()), signal);
        return m_process.waitForFinished(10000);
    }
    QProcess &process() { return m_process; }

private:
    QProcess m_process;
};

} // namespace

class tst_restart : public QObject
{
    Q_OBJECT

private slots:
    void killedAtRandomMoments();
    void sigtermInTheMiddleOfABatch();
};

void tst_restart::killedAtRandomMoments()
{
    constexpr int Alerts = 300;
    ProgramFolderFixture folder;
    folder.addUser("Ann", "+111", true);
    folder.addUser("Cid", "+333", true);
    const QStringList folders = {folder.addWatchedFolder("t1"), folder.addWatchedFolder("t2"),
                                 folder.addWatchedFolder("t3")};
    // Two modems sharing the load, each answer a few milliseconds late, as
    // a modem's would be, so that kills fall in the middle of dialogues.
    ModemTable::add(2, "9600");
    SimulatedModem modem({"--quiet", "--delay", "4"}, folder.path(), 1);
    SimulatedModem second({"--quiet", "--delay", "4"}, folder.path(), 2);
    QVERIFY(modem.isReady() && second.isReady());
    const QList<const SimulatedModem *> modems = {&modem, &second};

    std::atomic<bool> written{false};
    std::thread robot(robots, folders, Alerts, std::ref(written));
    Child host(QCoreApplication::applicationDirPath() + "/vantrel-relayhost",
               {"--folder", folder.path(), "--tick", "20", "--unit", "400"});
    QRandomGenerator random(17);
    // How often each SMS reached a modem while the outbox still had it
    // waiting at a kill: each such time an answer was lost (between AT+CMGS
    // and its answer, or its commit). A slow start (a loaded machine, the
    // sanitizers) can find one SMS so at two kills running.
    QHash<Sms, int> lost;
    int kills = 0;
    QElapsedTimer clock;
    clock.start();
    const auto idle = [&] {
        if (!written)
            return false;
        for (const QString &f : folders) {
            if (!folderEntries(f).isEmpty())
                return false;
        }
        // Done only when every SMS went out: one refused waits for its retry.
        return folder.outboxRows("SELECT id FROM alert WHERE first_done = 0 OR logged = 0").isEmpty()
               && folder.outboxRows("SELECT id FROM sms WHERE state <> 'sent'").isEmpty();
    };
    // The outbox exists once the first start has opened it; a slow build
    // (the sanitizers) may not have got that far by the first kill.
    const auto outboxOpen = [&] {
        return !folder.outboxRows("SELECT 1 FROM sqlite_master WHERE name = 'sms'").isEmpty();
    };
    while (clock.elapsed() < 120000) {
        QVERIFY(host.start());
        QVERIFY(runUntil(outboxOpen, 30000));
        // Past the first dialogue after a start, so that no SMS is in flight
        // at two kills running.
        QTest::qWait(random.bounded(150, 500));
        if (idle())
            break;
        QVERIFY(host.kill(SIGKILL));
        ++kills;
        // The modems finish what reached them before the kill.
        waitUntilStill(modem.recordPath());
        waitUntilStill(second.recordPath());
        const QHash<Sms, int> seen = accepted(modems);
        int thisKill = 0;
        for (const QVariantList &row : folder.outboxRows("SELECT sms.number, alert.message FROM sms JOIN alert ON "
                                                         "alert.id = sms.alert_id WHERE state = 'waiting'")) {
            const Sms sms{row[0].toString(), row[1].toString()};
            if (seen.value(sms) > lost.value(sms)) {
                lost[sms] = seen.value(sms);
                ++thisKill;
            }
        }
        QVERIFY2(thisKill <= int(modems.size()), "more than one SMS a modem was in flight at a kill");
    }
    robot.join();
    // The time for kills may run out with the host killed last.
    if (host.process().state() == QProcess::NotRunning)
        QVERIFY(host.start());
    QTRY_VERIFY_WITH_TIMEOUT(idle(), 120000);
    QVERIFY(host.kill(SIGTERM));
    QCOMPARE(host.process().exitCode(), 0);
    QVERIFY2(kills >= 10, qPrintable(QStringLiteral("only %1 kills").arg(kills)));

    // Every SMS reached a modem; more than once only for each answer lost
    // at a kill.
    const QHash<Sms, int> seen = accepted(modems);
    QVERIFY(!modem.messages().isEmpty() && !second.messages().isEmpty());
    for (int n = 0; n < Alerts; ++n) {
        for (const QString &number : {QStringLiteral("+111"), QStringLiteral("+333")}) {
            const Sms sms{number, killText(n)};
            QVERIFY2(seen.value(sms) >= 1, qPrintable(sms.second + " never reached " + number));
            QVERIFY2(seen.value(sms) <= lost.value(sms) + 1, qPrintable(sms.second + " sent too often"));
        }
    }
    QCOMPARE(seen.size(), 2 * Alerts);
    // One LOG row per alert.
    QStringList logged = folder.loggedMessages();
    QCOMPARE(logged.size(), Alerts);
    logged.removeDuplicates();
    QCOMPARE(logged.size(), Alerts);
    qInfo("%d kills, %lld SMS in flight at a kill", kills, qlonglong(lost.size()));
}

void tst_restart::sigtermInTheMiddleOfABatch()
{
    ProgramFolderFixture folder;
    folder.addUser("Ann", "+111", true);
    const QString mt4 = folder.addWatchedFolder("mt4");
    // Each answer takes a while, so that a dialogue is under way when the
    // signal comes.
    SimulatedModem modem({"--quiet", "--delay", "300"}, folder.path(), 1);
    QVERIFY(modem.isReady());
    const QString program = folder.file("vantrel");
    QVERIFY(QFile::copy(QCoreApplication::applicationDirPath() + "/vantrel", program));
    writeAlerts(mt4, 1, 6);

    Child first(program);
    QVERIFY(first.start());
    // The real tick: the first alert goes out some three seconds after start.
    QTRY_VERIFY_WITH_TIMEOUT(!modem.messages().isEmpty(), 60000);
    QElapsedTimer clock;
    clock.start();
    // It ends after the dialogue under way: three steps of 300 ms, and far
    // from the whole batch of six (some 6 s).
    QVERIFY(first.kill(SIGTERM));
    QVERIFY2(clock.elapsed() < 4000, qPrintable(QStringLiteral("%1 ms to end").arg(clock.elapsed())));
    QCOMPARE(first.process().exitStatus(), QProcess::NormalExit);
    QCOMPARE(first.process().exitCode(), 0);
    const qsizetype before = modem.messages().size();
    QVERIFY(before < 6);

    // Started again, it sends the rest, once.
    Child second(program);
    QVERIFY(second.start());
    // A send that fails by chance is tried again after 30 s, so the wait
    // allows for one retry.
    const QStringList all = {"Alert 1", "Alert 2", "Alert 3", "Alert 4", "Alert 5", "Alert 6"};
    QTRY_COMPARE_WITH_TIMEOUT(sentTexts(modem), all, 90000);
    QTRY_COMPARE(folder.loggedMessages().size(), 6);
    QCOMPARE(sentTexts(modem), all);
    QVERIFY(second.kill(SIGTERM));
}

QTEST_GUILESS_MAIN(tst_restart)
#include "tst_restart.moc"
