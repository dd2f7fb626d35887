// Faults a desk meets over weeks, each made real: the modem line going away
// in the middle of a dialogue, another program holding Config.mdb locked,
// history files that cannot be written, a watched folder removed, a robot
// still writing its file, alert files of garbage and a modem talking noise.

#include "modem/AlarmSender.h"
#include "modem/PageLog.h"
#include "modem/TraceList.h"
#include "pickup/AlertFile.h"
#include "pickup/AlertRelay.h"
#include "store/UpdateCom.h"
#include "support/ProcessStatus.h"
#include "support/ProgramFolderFixture.h"
#include "support/PtyPair.h"
#include "support/ScriptedMessageBoxes.h"
#include "support/SimulatedModem.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <thread>

namespace {

void writeAlert(const QString &folder, const QString &message)
{
    QFile file(MT4Paths::alertFile(folder));
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Append));
    file.write("L|10:15|EA|Title|" + message.toLatin1() + "\r\n");
}

QStringList loggedMessages(const ProgramFolderFixture &folder)
{
    QStringList messages;
    for (const QVariantList &row : folder.rows("SELECT Message FROM LOG ORDER BY SMS_ID"))
        messages << row[0].toString();
    return messages;
}

// The relay as the main window holds it, with a short tick and time-out.
struct Relay {
    AlertRelay relay;
    explicit Relay(int timeUnitMs = 400)
    {
        relay.paths.GetPathList();
        relay.recipients.GetPhoneNo();
        relay.sender.dialogue.setTimeUnitMs(timeUnitMs);
        relay.Timer1.setInterval(60);
        relay.Timer1.start();
    }
};

// Another program holding Config.mdb under an exclusive lock, from its own
// thread and connection, until released or for the time given. (The relay
// waits for the lock with its event loop stopped, so only the holder's own
// thread can let go in the middle of that wait.)
class LockHolder
{
public:
    explicit LockHolder(const QString &file, std::chrono::milliseconds holdFor = std::chrono::hours(1))
    {
        std::promise<bool> locked;
        std::future<bool> isLocked = locked.get_future();
        m_thread = std::thread([this, file, holdFor, &locked] {
            {
                QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("holder"));
                db.setDatabaseName(file);
                QSqlQuery query(db);
                const bool ok = db.open() && query.exec(QStringLiteral("BEGIN EXCLUSIVE"));
                locked.set_value(ok);
                const auto until = std::chrono::steady_clock::now() + holdFor;
                while (!m_release && std::chrono::steady_clock::now() < until)
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                query.exec(QStringLiteral("COMMIT"));
                query.finish();
                db.close();
            }
            QSqlDatabase::removeDatabase(QStringLiteral("holder"));
        });
        m_locked = isLocked.get();
    }
    ~LockHolder() { release(); }

    bool locked() const { return m_locked; }
    void release()
    {
        m_release = true;
        if (m_thread.joinable())
            m_thread.join();
    }

private:
    std::atomic<bool> m_release{false};
    bool m_locked = false;
    std::thread m_thread;
};

} // namespace

class tst_faults : public QObject
{
    Q_OBJECT

private slots:
    void modemVanishesMidDialogue();
    void databaseLockedByAnotherWriter();
    void historyCannotBeWritten();
    void watchedFolderRemoved();
    void alertFileStillOpenForWriting();
    void hostileAlertFiles();
    void modemTalkingNoise();
};

void tst_faults::modemVanishesMidDialogue()
{
    ProgramFolderFixture folder;
    ScriptedMessageBoxes boxes;
    folder.addUser("Ann", "+111", true);
    const QString a = folder.addWatchedFolder("terminal-a");

    // The device answers the first step, then goes away while the number
    // is being sent.
    auto device = std::make_unique<PtyPair>(folder.path(), 1);
    device->listen();
    QByteArray heard;
    connect(device.get(), &PtyPair::received, this, [&](const QByteArray &bytes) {
        heard += bytes;
        if (bytes.contains("AT+CMGF=1\r"))
            device->write("AT+CMGF=1\r\r\nOK\r\n");
        else if (bytes.contains("AT+CMGS"))
            QTimer::singleShot(0, this, [&] { device->hangUp(); });
    });
    writeAlert(a, "first");

    Relay r;
    QTRY_COMPARE_WITH_TIMEOUT(loggedMessages(folder), QStringList({"first"}), 10000);
    QVERIFY(heard.contains("AT+CMGS=\"+111\""));
    QVERIFY(r.relay.pageLog.text().contains("Send to Ann (+111) broken off"));
    QVERIFY(!r.relay.pageLog.text().contains("Sending to"));
    QVERIFY(!r.relay.sender.MSComm1.portOpen());
    QVERIFY(!QFile::exists(MT4Paths::alertFile(a)) && !QFile::exists(AlertFile::takenName(a)));

    // The modem comes back: the next alert goes out as usual.
    device.reset();
    SimulatedModem modem({"--quiet"}, folder.path(), 1);
    writeAlert(a, "second");
    QTRY_COMPARE_WITH_TIMEOUT(modem.messages().size(), 1, 10000);
    QCOMPARE(modem.messages()[0].text, QString("second"));
    QTRY_COMPARE(loggedMessages(folder), QStringList({"first", "second"}));
    QVERIFY(r.relay.pageLog.text().contains("Sending to Ann (+111)"));
}

void tst_faults::databaseLockedByAnotherWriter()
{
    ProgramFolderFixture folder;
    folder.addUser("Ann", "+111", true);
    const QString a = folder.addWatchedFolder("terminal-a");
    SimulatedModem modem({"--quiet"}, folder.path(), 1);
    Relay r;

    // A lock shorter than the busy wait is waited out.
    {
        LockHolder holder(folder.databasePath(), std::chrono::milliseconds(1000));
        QVERIFY(holder.locked());
        writeAlert(a, "short lock");
        QTRY_COMPARE_WITH_TIMEOUT(loggedMessages(folder), QStringList({"short lock"}), 10000);
    }
    QVERIFY(!r.relay.pageLog.text().contains("LOG row not written"));

    // A lock that outlasts it: the alerts go out, their rows wait, and are
    // written once the other program lets go.
    LockHolder holder(folder.databasePath());
    QVERIFY(holder.locked());
    writeAlert(a, "long lock 1");
    QTRY_COMPARE_WITH_TIMEOUT(r.relay.unloggedCount(), 1, 15000);
    writeAlert(a, "long lock 2");
    QTRY_COMPARE_WITH_TIMEOUT(r.relay.unloggedCount(), 2, 15000);
    QCOMPARE(modem.messages().size(), 3);
    QCOMPARE(r.relay.pageLog.text().count("LOG row not written"), 1);
    QVERIFY(r.relay.pageLog.text().contains("database is locked"));

    holder.release();
    QTRY_COMPARE_WITH_TIMEOUT(r.relay.unloggedCount(), 0, 15000);
    QCOMPARE(loggedMessages(folder), QStringList({"short lock", "long lock 1", "long lock 2"}));
    QVERIFY(r.relay.pageLog.text().contains("2 LOG rows that had waited for the database are written."));
    QCOMPARE(modem.messages().size(), 3);
}

void tst_faults::historyCannotBeWritten()
{
    if (!QFileInfo::exists("/dev/full"))
        QSKIP("no /dev/full here");
    ProgramFolderFixture folder;
    folder.addUser("Ann", "+111", true);
    const QString a = folder.addWatchedFolder("terminal-a");
    SimulatedModem modem({"--quiet"}, folder.path(), 1);
    const QString history = folder.file("ALARM1.csv");

    // A full disk: the history line is lost and said so; the send, its page
    // log lines and its LOG row are all there.
    QVERIFY(QFile::link("/dev/full", history));
    Relay r;
    writeAlert(a, "disk full");
    QTRY_COMPARE_WITH_TIMEOUT(loggedMessages(folder), QStringList({"disk full"}), 10000);
    QTRY_VERIFY(r.relay.pageLog.text().contains("History not written: cannot write"));
    QVERIFY(r.relay.pageLog.text().contains("Message: disk full"));

    // Something in the way of the file.
    QVERIFY(QFile::remove(history));
    QVERIFY(QDir(folder.path()).mkdir("ALARM1.csv"));
    writeAlert(a, "in the way");
    QTRY_COMPARE_WITH_TIMEOUT(loggedMessages(folder).size(), 2, 10000);
    QTRY_VERIFY(r.relay.pageLog.text().contains("History not written: cannot open"));

    // Once the way is clear the history goes on.
    QVERIFY(QDir(folder.path()).rmdir("ALARM1.csv"));
    writeAlert(a, "clear again");
    QTRY_COMPARE_WITH_TIMEOUT(loggedMessages(folder).size(), 3, 10000);
    QFile file(history);
    QTRY_VERIFY(file.exists());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("Ann (+111)*** clear again\r\n"));
    QCOMPARE(modem.messages().size(), 3);
}

void tst_faults::watchedFolderRemoved()
{
    ProgramFolderFixture folder;
    ScriptedMessageBoxes boxes;
    folder.addUser("Ann", "+111", true);
    const QString a = folder.addWatchedFolder("terminal-a");
    const QString b = folder.addWatchedFolder("terminal-b");
    SimulatedModem modem({"--quiet"}, folder.path(), 1);
    writeAlert(a, "from a");
    writeAlert(b, "from b");
    QVERIFY(QDir(a).removeRecursively());

    // A folder gone with its file before the tick is simply empty.
    Relay r;
    QTRY_COMPARE_WITH_TIMEOUT(loggedMessages(folder), QStringList({"from b"}), 10000);
    QTest::qWait(200);
    QVERIFY(boxes.shown.isEmpty());

    // Gone between seeing the file and opening it: the box says which.
    r.relay.intake.ProcessSmsFile(a);
    QCOMPARE(boxes.texts(), QStringList({"File path (" + a + ") not found."}));
    QCOMPARE(boxes.shown[0].title, QString("File Error"));

    // The folder made again is watched as before.
    QVERIFY(QDir().mkpath(a));
    writeAlert(a, "a is back");
    QTRY_COMPARE_WITH_TIMEOUT(loggedMessages(folder), QStringList({"from b", "a is back"}), 10000);
    QCOMPARE(modem.messages().size(), 2);
}

void tst_faults::alertFileStillOpenForWriting()
{
    ProgramFolderFixture folder;
    folder.addUser("Ann", "+111", true);
    const QString a = folder.addWatchedFolder("terminal-a");
    SimulatedModem modem({"--quiet"}, folder.path(), 1);

    // The robot has written one line and half of the next.
    QFile robot(MT4Paths::alertFile(a));
    QVERIFY(robot.open(QIODevice::WriteOnly));
    robot.write("L|10:15|EA|Title|one\r\nL|10:16|EA|Title|tw");
    robot.flush();
    if (!AlertFile::openForWriting(robot.fileName()))
        QSKIP("this file system cannot tell whether a file is open for writing");

    Relay r;
    QTRY_VERIFY_WITH_TIMEOUT(r.relay.pageLog.text().contains("is still open for writing"), 5000);
    QTest::qWait(300);
    QVERIFY(loggedMessages(folder).isEmpty());
    QVERIFY(QFile::exists(AlertFile::takenName(a)));

    // It finishes the line, into the file it holds, and closes it.
    robot.write("o\r\n");
    robot.close();
    QTRY_COMPARE_WITH_TIMEOUT(loggedMessages(folder), QStringList({"one", "two"}), 10000);
    QCOMPARE(modem.messages().size(), 2);
    QVERIFY(!QFile::exists(AlertFile::takenName(a)));
    QCOMPARE(r.relay.pageLog.text().count("is still open for writing"), 1);
    QVERIFY(!r.relay.pageLog.text().contains("skipped"));
}

void tst_faults::hostileAlertFiles()
{
    ProgramFolderFixture folder;
    ScriptedMessageBoxes boxes;
    const QString a = folder.addWatchedFolder("terminal-a");
    PageLog pageLog;
    SmsIntake intake(pageLog);
    const auto take = [&](const QByteArray &bytes, int times = 1) {
        QFile file(AlertFile::takenName(a));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        for (int i = 0; i < times; ++i)
            QCOMPARE(file.write(bytes), bytes.size());
        file.close();
        intake.ProcessSmsFile(a);
        QVERIFY(QFile::remove(file.fileName()));
    };

    // One line of 40 MB with no line end: read in pieces, skipped whole.
    const QByteArray megabyte(1024 * 1024, 'x');
    const qint64 peakBefore = processStatusKb("VmHWM:");
    take(megabyte, 40);
    QVERIFY2(processStatusKb("VmHWM:") - peakBefore < 16 * 1024, "a huge line is held in memory");
    QVERIFY(pageLog.text().contains("Alert line 1 of " + MT4Paths::alertFile(a)
                                    + " skipped, it is longer than 65536 characters: " + QString(200, 'x') + "..."));
    QCOMPARE(intake.SmsCount, short(0));

    // A line end falling between two pieces of the read, and a line just
    // over the limit.
    QByteArray edge = "L|1|EA|T|";
    edge += QByteArray(65535 - edge.size(), 'y');
    edge += "\r\nL|2|EA|T|second\r\n";
    edge += "L|3|EA|T|" + QByteArray(65537, 'z') + "\r\n";
    pageLog.report("--");
    take(edge);
    QCOMPARE(intake.SmsCount, short(2));
    QCOMPARE(intake.SmsBatch[1].Message.size(), qsizetype(65535 - 9));
    QCOMPARE(intake.SmsBatch[2].Message, QString("second"));
    QVERIFY(pageLog.text().endsWith("Alert line 3 of " + MT4Paths::alertFile(a)
                                    + " skipped, it is longer than 65536 characters: L|3|EA|T|" + QString(191, 'z')
                                    + "...\r\n"));
    intake.SmsCount = 0;

    // NUL bytes and bytes that are no valid text in any encoding travel as
    // they are, one character per byte.
    static const char oddLine[] = "L|10:00|E\0A|T\xff\xfe|Mes\0sage \xc3\x28 \x80\r\n";
    const QByteArray odd(oddLine, sizeof oddLine - 1);
    take(odd);
    QCOMPARE(intake.SmsCount, short(1));
    QCOMPARE(intake.SmsBatch[1].EA_Name, QString::fromLatin1("E\0A", 3));
    QCOMPARE(intake.SmsBatch[1].Title, QString::fromLatin1("T\xff\xfe"));
    QCOMPARE(intake.SmsBatch[1].Message, QString::fromLatin1("Mes\0sage \xc3\x28 \x80", 13));
    intake.SmsCount = 0;

    // Two megabytes of random bytes: whatever has five fields is a record,
    // the rest is skipped, and the page log gets a bounded report.
    QRandomGenerator random(7);
    QByteArray noise(2 * 1024 * 1024, Qt::Uninitialized);
    for (char &c : noise)
        c = char(random.bounded(256));
    const qsizetype logBefore = pageLog.text().size();
    take(noise);
    const QString reports = pageLog.text().mid(logBefore);
    QCOMPARE(reports.count(" skipped, it has fewer than five fields: "), 20);
    QVERIFY(QRegularExpression("\\d+ more alert lines of .* skipped\\.\\r\\n$").match(reports).hasMatch());
    QVERIFY(reports.size() < 20 * 300);
    intake.SmsCount = 0;
    intake.SmsQueue.clear();

    // Thousands of lines: ten for this cycle, the rest wait in order.
    QByteArray many;
    for (int i = 1; i <= 5000; ++i)
        many += "L|10:00|EA|T|alert " + QByteArray::number(i) + "\r\n";
    take(many);
    QCOMPARE(intake.SmsCount, short(10));
    QCOMPARE(intake.SmsQueue.size(), 4990);
    QCOMPARE(intake.SmsQueue.first().Message, QString("alert 11"));
    QCOMPARE(intake.SmsQueue.last().Message, QString("alert 5000"));
    QVERIFY(boxes.shown.isEmpty());
}

void tst_faults::modemTalkingNoise()
{
    ProgramFolderFixture folder;
    ScriptedMessageBoxes boxes;
    PtyPair device(folder.path(), 1);
    device.listen();
    QRandomGenerator random(11);
    const auto noise = [&](int size) {
        QByteArray bytes(size, Qt::Uninitialized);
        for (char &c : bytes)
            c = char(random.bounded(256));
        return bytes;
    };
    // Noise for whatever the program says, and noise in between.
    connect(&device, &PtyPair::received, this, [&](const QByteArray &) { device.write(noise(2048)); });
    QTimer babble;
    connect(&babble, &QTimer::timeout, this, [&] { device.write(noise(4096)); });
    babble.start(5);

    PageLog pageLog;
    TraceList trace;
    AlarmSender sender(trace, pageLog);
    sender.dialogue.setTimeUnitMs(200);
    for (int i = 0; i < 5; ++i) {
        QElapsedTimer clock;
        clock.start();
        sender.SendAlarm("noise test", "Desk1", "555");
        // Three steps at most, each ending by its time-out or a reply.
        QVERIFY(clock.elapsed() < 3 * 200 + 1000);
        QCOMPARE(trace.lines().last(), QString("Done..."));
        for (const QString &line : trace.lines())
            QVERIFY2(line.size() <= 1024 + 16, "a trace line grows with the noise");
    }
    QVERIFY(!sender.MSComm1.portOpen());
    QVERIFY(boxes.shown.isEmpty());
}

QTEST_GUILESS_MAIN(tst_faults)
#include "tst_faults.moc"
