// Alert files in real watched folders taken by the real polling cycle: the
// line rules, the ten-a-cycle limit with its carry-over, malformed lines,
// and files that cannot be taken or removed.

#include "pickup/AlertFile.h"
#include "pickup/AlertRelay.h"
#include "support/ProgramFolderFixture.h"
#include "support/ScriptedMessageBoxes.h"

#include <QDir>
#include <QFile>
#include <QtTest>

#include <unistd.h>

namespace {

void writeFile(const QString &name, const QByteArray &bytes, QIODevice::OpenMode mode = QIODevice::WriteOnly)
{
    QFile file(name);
    QVERIFY(file.open(mode));
    file.write(bytes);
}

QByteArray lines(int from, int to, const char *tag)
{
    QByteArray bytes;
    for (int i = from; i <= to; ++i)
        bytes += QByteArray("L|") + QByteArray::number(i) + "|EA|" + tag + "|msg " + QByteArray::number(i) + "\r\n";
    return bytes;
}

QStringList loggedMessages(const ProgramFolderFixture &folder)
{
    QStringList messages;
    for (const QVariantList &row : folder.rows("SELECT Message FROM LOG ORDER BY SMS_ID"))
        messages << row[0].toString();
    return messages;
}

} // namespace

class tst_intake : public QObject
{
    Q_OBJECT

private slots:
    void splitText();
    void lineRules();
    void tenPerCycleAndCarryOver();
    void malformedLinesAreSkipped();
    void filesThatCannotBeTakenAreNotReadTwice();
    void tickCountWraps();
};

void tst_intake::splitText()
{
    QCOMPARE(SplitText("", "|"), QStringList());
    QCOMPARE(SplitText("a", "|"), QStringList({"a"}));
    QCOMPARE(SplitText("|a||b |", "|"), QStringList({"", "a", "", "b ", ""}));
}

void tst_intake::lineRules()
{
    ProgramFolderFixture folder;
    const QString mt4 = folder.addWatchedFolder("mt4");
    AlertRelay relay;
    relay.paths.GetPathList();

    // Fields with spaces and an empty message; CR, CR LF, a LF inside a
    // field, a sixth field ignored, no final line end.
    writeFile(MT4Paths::alertFile(mt4), " lead | 10:00 |EA 1| T |\r"
                                        "L|10:01|EA2|T2|two\nlines\r\n"
                                        "L|10:02|EA3|T3|cut|here\r"
                                        "L|10:03|EA4|T4|\xe9t\xe9");
    relay.intake.beginCycle();
    relay.intake.ProcessSmsFile(mt4); // nothing taken yet: no file, no record
    QCOMPARE(relay.intake.SmsCount, short(0));

    QString reason;
    QCOMPARE(AlertFile::take(mt4, &reason), AlertFile::Take::Taken);
    relay.intake.ProcessSmsFile(mt4);
    QCOMPARE(relay.intake.SmsCount, short(4));
    const SmsRecord first = relay.intake.SmsBatch[1];
    QCOMPARE(first.Lead, QString(" lead "));
    QCOMPARE(first.Time, QString(" 10:00 "));
    QCOMPARE(first.EA_Name, QString("EA 1"));
    QCOMPARE(first.Title, QString(" T "));
    QCOMPARE(first.Message, QString());
    QCOMPARE(relay.intake.SmsBatch[2].Message, QString("two\nlines"));
    QCOMPARE(relay.intake.SmsBatch[3].Message, QString("cut"));
    QCOMPARE(relay.intake.SmsBatch[4].Message, QString::fromLatin1("\xe9t\xe9"));

    // Dispatch with nobody on duty: every record still gets its LOG row,
    // and the batch is empty afterwards.
    relay.DispatchAlerts();
    QCOMPARE(relay.intake.SmsCount, short(0));
    QCOMPARE(folder.rows("SELECT Time, EA_Name, Title, Message FROM LOG ORDER BY SMS_ID").first(),
             QVariantList({" 10:00 ", "EA 1", " T ", ""}));
    QCOMPARE(loggedMessages(folder).last(), QString::fromLatin1("\xe9t\xe9"));

    // A file of LF-ended lines is one line; an empty file yields nothing.
    QFile::remove(AlertFile::takenName(mt4));
    writeFile(MT4Paths::alertFile(mt4), "L|1|EA|T|a\nL|2|EA|T|b\n");
    relay.Timer1_Timer();
    QCOMPARE(loggedMessages(folder).last(), QString("a\nL"));
    writeFile(MT4Paths::alertFile(mt4), "");
    relay.Timer1_Timer();
    QCOMPARE(loggedMessages(folder).size(), 5);
    QVERIFY(QDir(mt4).entryList(QDir::Files).isEmpty());
}

void tst_intake::tenPerCycleAndCarryOver()
{
    ProgramFolderFixture folder;
    const QString a = folder.addWatchedFolder("a");
    const QString b = folder.addWatchedFolder("b/");
    AlertRelay relay;
    relay.paths.GetPathList();

    // Twelve lines in one file and six in another: ten go now, eight wait.
    writeFile(MT4Paths::alertFile(a), lines(1, 12, "a"));
    writeFile(MT4Paths::alertFile(b), lines(1, 6, "b"));
    relay.Timer1_Timer();
    QCOMPARE(loggedMessages(folder).size(), 10);
    QCOMPARE(relay.intake.SmsQueue.size(), 8);
    QVERIFY(!QFile::exists(MT4Paths::alertFile(a)));
    QVERIFY(!QFile::exists(MT4Paths::alertFile(b)));

    // A new file arrives: it queues behind the waiting records.
    writeFile(MT4Paths::alertFile(a), lines(13, 14, "a"));
    relay.Timer1_Timer();
    QCOMPARE(loggedMessages(folder).size(), 20);
    relay.Timer1_Timer();
    QStringList expected;
    for (int i = 1; i <= 12; ++i)
        expected << QStringLiteral("msg %1").arg(i);
    for (int i = 1; i <= 6; ++i)
        expected << QStringLiteral("msg %1").arg(i);
    expected << "msg 13" << "msg 14";
    QCOMPARE(loggedMessages(folder), expected);
    QCOMPARE(folder.rows("SELECT Title FROM LOG WHERE SMS_ID = 13").first().first().toString(), QString("b"));
    QCOMPARE(relay.intake.SmsQueue.size(), 0);
    QCOMPARE(relay.intake.SmsCount, short(0));
}

void tst_intake::malformedLinesAreSkipped()
{
    ProgramFolderFixture folder;
    const QString mt4 = folder.addWatchedFolder("mt4");
    AlertRelay relay;
    relay.paths.GetPathList();

    writeFile(MT4Paths::alertFile(mt4), "L|1|EA|T|first\r\n"
                                        "\r\n"
                                        "only|four|fields|here\r\n"
                                        "L|2|EA|T|after\r\n");
    relay.Timer1_Timer();
    QCOMPARE(loggedMessages(folder), QStringList({"first", "after"}));
    // The four-field line is reported once, the empty line not at all.
    QCOMPARE(relay.pageLog.text().count("skipped"), 1);
    QVERIFY(relay.pageLog.text().contains("only|four|fields|here"));
    QVERIFY(relay.pageLog.text().contains("line 3"));
}

void tst_intake::filesThatCannotBeTakenAreNotReadTwice()
{
    ProgramFolderFixture folder;
    const QString mt4 = folder.addWatchedFolder("mt4");
    const QString gone = folder.addWatchedFolder("gone");
    AlertRelay relay;
    relay.paths.GetPathList();
    ScriptedMessageBoxes boxes;

    // A read-only file is taken like any other and not read again.
    writeFile(MT4Paths::alertFile(mt4), lines(1, 1, "ro"));
    QFile::setPermissions(MT4Paths::alertFile(mt4), QFileDevice::ReadOwner);
    relay.Timer1_Timer();
    relay.Timer1_Timer();
    QCOMPARE(loggedMessages(folder), QStringList({"msg 1"}));

    // A file taken earlier but never read (the program stopped in between)
    // is read on the next tick, before a new Sms.csv.
    writeFile(AlertFile::takenName(mt4), lines(2, 2, "left"));
    writeFile(MT4Paths::alertFile(mt4), lines(3, 3, "new"));
    relay.Timer1_Timer();
    relay.Timer1_Timer();
    QCOMPARE(loggedMessages(folder), QStringList({"msg 1", "msg 2", "msg 3"}));

    // A folder that lost write permission: the file cannot be taken, so it is
    // neither read nor sent, and that is said once.
    if (::geteuid() != 0) {
        writeFile(MT4Paths::alertFile(mt4), lines(4, 4, "stuck"));
        QFile::setPermissions(mt4, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        relay.Timer1_Timer();
        relay.Timer1_Timer();
        QCOMPARE(loggedMessages(folder).size(), 3);
        QCOMPARE(relay.pageLog.text().count("cannot be taken"), 1);
        QFile::setPermissions(mt4, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        relay.Timer1_Timer();
        QCOMPARE(loggedMessages(folder).size(), 4);
    }

    // A watched folder that does not exist gives no message; one that goes
    // away between the test and the open gives "File Error".
    QDir(gone).removeRecursively();
    relay.Timer1_Timer();
    QVERIFY(boxes.shown.isEmpty());
    relay.intake.ProcessSmsFile(gone);
    QCOMPARE(boxes.shown.size(), 1);
    QCOMPARE(boxes.shown[0].text, "File path (" + gone + ") not found.");
    QCOMPARE(boxes.shown[0].title, QString("File Error"));
}

void tst_intake::tickCountWraps()
{
    ProgramFolderFixture folder;
    const QString mt4 = folder.addWatchedFolder("mt4");
    AlertRelay relay;
    relay.paths.GetPathList();
    QSignalSpy ticks(&relay, &AlertRelay::tickCounted);
    relay.TickCount = 32766;
    relay.Timer1_Timer();
    relay.Timer1_Timer();
    writeFile(MT4Paths::alertFile(mt4), lines(1, 1, "late"));
    relay.Timer1_Timer();
    QCOMPARE(ticks.size(), 3);
    QCOMPARE(ticks[0][0].value<short>(), short(32767));
    QCOMPARE(ticks[1][0].value<short>(), short(0));
    QCOMPARE(loggedMessages(folder), QStringList({"msg 1"}));
}

QTEST_GUILESS_MAIN(tst_intake)
#include "tst_intake.moc"
