// Alert files in real watched folders taken into a real outbox by the real
// polling cycle: the line rules, ten alerts a cycle with the rest waiting in
// the outbox, malformed lines, a taken file that the outbox already holds
// (the program stopped between the commit and the removal), a file that
// cannot be read, and an outbox that cannot be written.

#include "pickup/AlertFile.h"
#include "pickup/AlertLineReader.h"
#include "pickup/SplitText.h"
#include "store/Outbox.h"
#include "support/LockHolder.h"
#include "support/ProgramFolderFixture.h"
#include "support/RunAsNobody.h"
#include "support/ScriptedMessageBoxes.h"
#include "support/TestRelay.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QtTest>

namespace {

QByteArray lines(int from, int to, const char *tag)
{
    QByteArray bytes;
    for (int i = from; i <= to; ++i)
        bytes += QByteArray("L|") + QByteArray::number(i) + "|EA|" + tag + "|msg " + QByteArray::number(i) + "\r\n";
    return bytes;
}

QString takenFile(const QString &folder)
{
    const QStringList taken = QDir(folder).entryList({"Sms.csv.taken*"}, QDir::Files, QDir::Name);
    return taken.isEmpty() ? QString() : QDir(folder).filePath(taken.first());
}

} // namespace

class tst_intake : public QObject
{
    Q_OBJECT

private slots:
    void lineRules();
    void tenPerCycleTakenInTurn();
    void takenFileAlreadyInTheOutbox();
    void fileThatCannotBeRead();
    void outboxThatCannotBeWritten();
    void takenAsSoonAsTheyLand();
};

void tst_intake::lineRules()
{
    QCOMPARE(SplitText("", "|"), QStringList());
    QCOMPARE(SplitText("|a||b |", "|"), QStringList({"", "a", "", "b ", ""}));

    // A CR at the end of one piece and its LF at the start of the next are
    // one line end; what was read counts up to the last complete line.
    AlertLineReader reader{AlertEncoding()};
    reader.feed("L|1|EA|T|one\r");
    QCOMPARE(reader.consumed(), qint64(13));
    reader.feed("\nL|2|EA|T|tw");
    QCOMPARE(reader.consumed(), qint64(14));
    QCOMPARE(reader.takeRecords().size(), 1);
    reader.finish();
    QCOMPARE(reader.consumed(), qint64(25));
    QCOMPARE(reader.takeRecords().first().record.Message, QString("tw"));
    // Reading resumed right after a CR: a LF first still ends that line.
    AlertLineReader resumed(AlertEncoding(), true);
    resumed.feed("\nL|3|EA|T|three\r\n");
    QCOMPARE(resumed.takeRecords().first().record.Lead, QString("L"));

    ProgramFolderFixture folder;
    ScriptedMessageBoxes boxes;
    const QString mt4 = folder.addWatchedFolder("mt4");
    TestRelay relay(1500, 60, false);

    // Fields with spaces and an empty message; CR, CR LF, a LF inside a
    // field, a sixth field ignored, no final line end; nobody on duty, so
    // every record goes straight to its LOG row.
    writeFile(MT4Paths::alertFile(mt4), " lead | 10:00 |EA 1| T |\r"
                                        "L|10:01|EA2|T2|two\nlines\r\n"
                                        "L|10:02|EA3|T3|cut|here\r"
                                        "\r\n"
                                        "only|four|fields|here\r\n"
                                        "L|10:03|EA4|T4|\xe9t\xe9");
    relay.cycle();
    QCOMPARE(folder.rows("SELECT Time, EA_Name, Title, Message FROM LOG ORDER BY SMS_ID").first(),
             QVariantList({" 10:00 ", "EA 1", " T ", ""}));
    QCOMPARE(folder.loggedMessages(), QStringList({"", "two\nlines", "cut", QString::fromLatin1("\xe9t\xe9")}));
    // The four-field line is reported once, the empty line not at all.
    QCOMPARE(relay.pageLog().text().count("skipped"), 1);
    QVERIFY(relay.pageLog().text().contains("Alert line 5 of "));
    QVERIFY(relay.pageLog().text().contains("only|four|fields|here"));

    // A file of LF-ended lines is one line; an empty file yields nothing;
    // nothing is left in the folder.
    writeFile(MT4Paths::alertFile(mt4), "L|1|EA|T|a\nL|2|EA|T|b\n");
    relay.cycle();
    QCOMPARE(folder.loggedMessages().last(), QString("a\nL"));
    writeFile(MT4Paths::alertFile(mt4), "");
    relay.cycle();
    QCOMPARE(folder.loggedMessages().size(), 5);
    QCOMPARE(folderEntries(mt4), QStringList());

    // Robots under Wine write the name as their code spells it.
    writeFile(QDir(mt4).filePath("SMS.CSV"), lines(1, 1, "upper"));
    writeFile(QDir(mt4).filePath("sms.csv"), lines(2, 2, "lower"));
    relay.cycle();
    QStringList cased = folder.loggedMessages().mid(5);
    cased.sort();
    QCOMPARE(cased, QStringList({"msg 1", "msg 2"}));
    QCOMPARE(folderEntries(mt4), QStringList());
    QCOMPARE(relay.SmsCount(), short(0));
    QVERIFY(boxes.shown.isEmpty());
}

void tst_intake::tenPerCycleTakenInTurn()
{
    ProgramFolderFixture folder;
    const QString a = folder.addWatchedFolder("a");
    const QString b = folder.addWatchedFolder("b/");
    TestRelay relay(1500, 60, false);

    // Twelve lines in one file and six in another: all are in the outbox at
    // once and both files are gone; ten are dispatched now, taken in turn
    // from the two folders, eight wait.
    writeAlerts(a, 1, 12, "a");
    writeAlerts(b, 1, 6, "b");
    relay.cycle();
    QCOMPARE(folder.loggedMessages(),
             QStringList({"a 1", "b 1", "a 2", "b 2", "a 3", "b 3", "a 4", "b 4", "a 5", "b 5"}));
    QCOMPARE(folder.outboxRows("SELECT count(*) FROM alert WHERE logged = 0").first().first().toInt(), 8);
    QCOMPARE(folderEntries(a), QStringList());
    QCOMPARE(folderEntries(b), QStringList());

    // A new file queues behind its folder's waiting alerts; the next cycle
    // begins with the other folder.
    writeAlerts(a, 13, 14, "a");
    relay.cycle();
    QCOMPARE(folder.loggedMessages().mid(10),
             QStringList({"b 6", "a 6", "a 7", "a 8", "a 9", "a 10", "a 11", "a 12", "a 13", "a 14"}));

    // A backlog of thousands in one folder: all in the outbox at once, ten
    // dispatched this cycle, the rest waiting in their order, holding up no
    // other folder.
    writeAlerts(a, 1, 5000, "backlog");
    relay.cycle();
    QCOMPARE(folder.loggedMessages().size(), 30);
    const QList<QVariantList> waiting = folder.outboxRows("SELECT message FROM alert WHERE logged = 0 ORDER BY id");
    QCOMPARE(waiting.size(), 4990);
    QCOMPARE(waiting.first(), QVariantList({"backlog 11"}));
    QCOMPARE(waiting.last(), QVariantList({"backlog 5000"}));
    writeAlerts(b, 1, 1, "other");
    relay.cycle();
    QVERIFY(folder.loggedMessages().contains("other 1"));
    QCOMPARE(relay.SmsCount(), short(0));
}

void tst_intake::takenFileAlreadyInTheOutbox()
{
    ProgramFolderFixture folder;
    const QString mt4 = folder.addWatchedFolder("mt4");

    // The program stopped after committing the first line of a taken file
    // and before reading on, and after committing all of another one and
    // before removing it. A file taken by an older program ("Sms.csv.taken")
    // is read like any other, and first.
    const QString half = QDir(mt4).filePath("Sms.csv.taken-0000000000002");
    const QString whole = QDir(mt4).filePath("Sms.csv.taken-0000000000001");
    writeFile(half, lines(3, 4, "half"));
    writeFile(whole, lines(2, 2, "whole"));
    writeFile(QDir(mt4).filePath("Sms.csv.taken"), lines(1, 1, "old"));
    writeFile(MT4Paths::alertFile(mt4), lines(5, 5, "new"));
    QFile::setPermissions(MT4Paths::alertFile(mt4), QFileDevice::ReadOwner); // read-only is no obstacle
    {
        Outbox outbox;
        const auto commit = [&](const QString &file, qint64 bytes, const QString &message) {
            Outbox::FileId id;
            bool plain = false;
            QVERIFY(AlertFile::identify(file, id, plain));
            outbox.commitAlerts(mt4, file, id, bytes, {{{"L", "2", "EA", "T", message}, message.toLatin1()}});
        };
        commit(whole, QFileInfo(whole).size(), "msg 2");
        commit(half, lines(3, 3, "half").size(), "msg 3");
    }

    TestRelay relay(1500, 60, false);
    relay.cycle();
    QCOMPARE(folder.loggedMessages(), QStringList({"msg 2", "msg 3", "msg 1", "msg 4", "msg 5"}));
    QCOMPARE(folderEntries(mt4), QStringList());
    QVERIFY(folder.outboxRows("SELECT * FROM taken_file").isEmpty());
    relay.cycle();
    QCOMPARE(folder.loggedMessages().size(), 5);
}

void tst_intake::fileThatCannotBeRead()
{
    const RunAsNobody nobody;
    if (!nobody.ok())
        QSKIP("root may read every file, and cannot become somebody else here");
    ProgramFolderFixture folder;
    const QString mt4 = folder.addWatchedFolder("mt4");
    TestRelay relay(1500, 60, false);

    // Another owner's file, or one without read permission, is taken aside
    // but never removed unread: it is said once and read once it can be.
    writeFile(MT4Paths::alertFile(mt4), lines(1, 2, "locked"));
    QVERIFY(QFile::setPermissions(MT4Paths::alertFile(mt4), QFileDevice::WriteOwner));
    relay.cycle();
    relay.cycle();
    QVERIFY(folder.loggedMessages().isEmpty());
    const QString taken = takenFile(mt4);
    QVERIFY(!taken.isEmpty());
    QCOMPARE(relay.pageLog().text().count("cannot be read"), 1);

    QVERIFY(QFile::setPermissions(taken, QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    relay.cycle();
    QCOMPARE(folder.loggedMessages(), QStringList({"msg 1", "msg 2"}));
    QCOMPARE(folderEntries(mt4), QStringList());
}

void tst_intake::outboxThatCannotBeWritten()
{
    ProgramFolderFixture folder;
    const QString mt4 = folder.addWatchedFolder("mt4");

    // An outbox that cannot even be opened (something in the way): the
    // files stay where the robots put them, said once.
    QVERIFY(QDir(folder.path()).mkdir(Outbox::FileName));
    TestRelay relay(1500, 60, false);
    writeFile(MT4Paths::alertFile(mt4), lines(1, 1, "first"));
    relay.cycle();
    relay.cycle();
    QCOMPARE(folderEntries(mt4), QStringList({"Sms.csv"}));
    QCOMPARE(relay.pageLog().text().count("The outbox cannot be written"), 1);
    QVERIFY(QDir(folder.path()).rmdir(Outbox::FileName));
    relay.cycle();
    QCOMPARE(folder.loggedMessages(), QStringList({"msg 1"}));

    // An outbox another program holds locked: the taken file stays unread
    // until the lock lifts, and its alerts go in once.
    {
        LockHolder holder(folder.file(Outbox::FileName));
        QVERIFY(holder.locked());
        writeFile(MT4Paths::alertFile(mt4), lines(2, 3, "second"));
        relay.cycle();
        QVERIFY(!takenFile(mt4).isEmpty());
        QCOMPARE(folder.loggedMessages().size(), 1);
        QCOMPARE(relay.pageLog().text().count("The outbox cannot be written"), 2);
    }
    relay.cycle();
    relay.cycle();
    QCOMPARE(folder.loggedMessages(), QStringList({"msg 1", "msg 2", "msg 3"}));
    QCOMPARE(folderEntries(mt4), QStringList());
}

void tst_intake::takenAsSoonAsTheyLand()
{
    ProgramFolderFixture folder;
    QStringList folders;
    for (int i = 1; i <= 20; ++i)
        folders << folder.addWatchedFolder(QString("terminal-%1").arg(i));
    // The 21st folder does not exist yet: its notifications are missed.
    const QString late = folder.file("late");
    folder.exec("INSERT INTO Mt4Path (MT4_PATH) VALUES (?)", {late});
    TestRelay relay(1500, AlertRelay::TickIntervalMs);
    QTest::qWait(200);

    // With the real three-second tick, a file is taken on the folder's
    // notification, well within one tick.
    for (const QString &watched : {folders[4], folders[19]}) {
        QElapsedTimer clock;
        clock.start();
        writeAlerts(watched, 1, 1, watched.right(2));
        QTRY_VERIFY_WITH_TIMEOUT(folderEntries(watched).isEmpty(), 5000);
        QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
    }
    // A missed notification costs at most one tick.
    QVERIFY(QDir().mkpath(late));
    writeAlerts(late, 1, 1, "late");
    QTRY_VERIFY_WITH_TIMEOUT(folderEntries(late).isEmpty(), AlertRelay::TickIntervalMs + 1000);
    QTRY_COMPARE(folder.loggedMessages().size(), 3);
}

QTEST_GUILESS_MAIN(tst_intake)
#include "tst_intake.moc"
