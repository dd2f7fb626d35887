// What the relay keeps on disk in a real program folder. The ring of ALARM
// history files: first file, the size limit, the switch to the next file,
// rotation, gaps and files put there by hand (one that cannot be written:
// tst_faults). The page log's daily files: a file per day by the wall clock,
// midnight included, a file that cannot be written, and the bound on what is
// kept in memory.

#include "modem/AlarmHistory.h"
#include "store/ProgramFolder.h"
#include "support/ProgramFolderFixture.h"
#include "support/Readback.h"
#include "support/TestClock.h"
#include "support/TestSender.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace {

void makeFile(const QString &name, qint64 size, char fill = 'x')
{
    QFile file(ProgramFolder::file(name));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(size, fill));
}

QStringList present()
{
    QStringList names;
    for (int n = 1; n <= AlarmHistory::FileCount; ++n) {
        if (QFile::exists(ProgramFolder::file(AlarmHistory::fileName(n))))
            names << AlarmHistory::fileName(n);
    }
    return names;
}

QByteArray content(const QString &name)
{
    return fileBytes(ProgramFolder::file(name));
}

} // namespace

class tst_history : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void firstFileAndLimit();
    void rotationGapsAndHandPlacedFiles();
    void pageLogDailyFiles();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};

void tst_history::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    ProgramFolder::set(m_dir->path());
}

void tst_history::firstFileAndLimit()
{
    AlarmHistory history;
    history.AlarmLog("Desk1 (555)*** Gold, above \xe9");
    QCOMPARE(present(), QStringList({"ALARM1.csv"}));
    QCOMPARE(history.label3(), QString("ALARM1.csv"));

    // Exactly 1,024,000 bytes is not full yet.
    makeFile("ALARM1.csv", 1024000);
    history.AlarmLog("one more");
    QCOMPARE(present(), QStringList({"ALARM1.csv"}));
    QCOMPARE(QFileInfo(ProgramFolder::file("ALARM1.csv")).size(), 1024000 + 10);

    // Above it, the next line starts ALARM2.csv.
    QSignalSpy labels(&history, &AlarmHistory::labelsChanged);
    history.AlarmLog("one more");
    QCOMPARE(present(), QStringList({"ALARM1.csv", "ALARM2.csv"}));
    QCOMPARE(content("ALARM2.csv"), QByteArray("one more\r\n"));
    QCOMPARE(history.label3(), QString("ALARM2.csv"));
    QCOMPARE(history.label4(), QString("Deleting None."));
    QCOMPARE(labels.size(), 1);
}

void tst_history::rotationGapsAndHandPlacedFiles()
{
    // All ten files, the last full: each moves down by one, the first goes.
    for (int n = 1; n <= 10; ++n)
        makeFile(AlarmHistory::fileName(n), n == 10 ? 1024001 : 10, char('0' + n % 10));
    AlarmHistory history;
    history.AlarmLog("newest");
    QCOMPARE(present().size(), 10);
    QCOMPARE(content("ALARM1.csv"), QByteArray(10, '2'));
    QCOMPARE(content("ALARM8.csv"), QByteArray(10, '9'));
    QCOMPARE(QFileInfo(ProgramFolder::file("ALARM9.csv")).size(), 1024001);
    QCOMPARE(content("ALARM10.csv"), QByteArray("newest\r\n"));
    QCOMPARE(history.label3(), QString("ALARM10.csv"));
    QCOMPARE(history.label4(), QString("Deleting one."));
    for (const QString &name : present())
        QFile::remove(ProgramFolder::file(name));

    // Only ALARM3.csv: lines go there, nothing else is created.
    makeFile("ALARM3.csv", 5);
    history.AlarmLog("line");
    QCOMPARE(present(), QStringList({"ALARM3.csv"}));

    // Files 1, 2, 4 and a full 10: each moves down by one, gaps stay.
    QFile::remove(ProgramFolder::file("ALARM3.csv"));
    for (int n : {1, 2, 4})
        makeFile(AlarmHistory::fileName(n), 5, char('0' + n));
    makeFile("ALARM10.csv", 1024001);
    history.AlarmLog("line");
    QCOMPARE(present(), QStringList({"ALARM1.csv", "ALARM3.csv", "ALARM9.csv", "ALARM10.csv"}));
    QCOMPARE(content("ALARM1.csv"), QByteArray(5, '2'));
    QCOMPARE(content("ALARM3.csv"), QByteArray(5, '4'));

    // Without ALARM1.csv a rotation still works.
    for (const QString &name : present())
        QFile::remove(ProgramFolder::file(name));
    makeFile("ALARM5.csv", 5, '5');
    makeFile("ALARM6.csv", 5, '6');
    makeFile("ALARM10.csv", 1024001);
    history.AlarmLog("line");
    QCOMPARE(present(), QStringList({"ALARM4.csv", "ALARM5.csv", "ALARM9.csv", "ALARM10.csv"}));
    QCOMPARE(content("ALARM4.csv"), QByteArray(5, '5'));
    QCOMPARE(content("ALARM5.csv"), QByteArray(5, '6'));
}

void tst_history::pageLogDailyFiles()
{
    // A block dated by the wall clock: at exactly midnight the date alone,
    // and the day's own file.
    TestClock clock(QDateTime(QDate(2026, 12, 7), QTime(23, 59, 59)));
    ProgramFolderFixture folder({.port = 9}); // nothing there: a failure block, dated like a sent one
    TestSender s;
    s.SendAlarm("late", "Desk1", "555");
    clock.set(QDateTime(QDate(2026, 12, 8), QTime(0, 0)));
    s.SendAlarm("midnight", "Desk1", "555");
    const QLocale locale = QLocale::system();
    const QString day8 = locale.toString(QDate(2026, 12, 8), QLocale::ShortFormat);
    QVERIFY(s.pageLog.text().contains("\r\n" + day8 + "\r\nNot sent to Desk1 (555): "));
    QVERIFY(s.pageLog.text().startsWith(locale.toString(QDate(2026, 12, 7), QLocale::ShortFormat) + ' '));

    const auto daily = [](const char *date) {
        return QString::fromUtf8(fileBytes(ProgramFolder::file(QString("Logs/PageLog-%1.txt").arg(date))));
    };
    QVERIFY(daily("2026-12-07").contains("Message: late\r\n"));
    QVERIFY(!daily("2026-12-07").contains("midnight"));
    QVERIFY(daily("2026-12-08").contains("Message: midnight\r\n"));

    // A day's file that cannot be written is said once; the page log goes on.
    QVERIFY(QDir(ProgramFolder::path()).mkpath("Logs/PageLog-2026-12-09.txt"));
    clock.set(QDateTime(QDate(2026, 12, 9), QTime(8, 0)));
    s.pageLog.report("one");
    s.pageLog.report("two");
    QCOMPARE(s.pageLog.text().count("The page log cannot be written to"), 1);
    QVERIFY(s.pageLog.text().endsWith("two\r\n"));

    // In memory only the newest lines are kept; the day's file has them all.
    clock.set(QDateTime(QDate(2026, 12, 10), QTime(8, 0)));
    for (int i = 1; i <= PageLog::KeptLines + PageLog::KeptLines / 5; ++i)
        s.pageLog.report(QString("line %1").arg(i));
    QVERIFY(s.pageLog.text().count('\n') <= PageLog::KeptLines + PageLog::KeptLines / 10);
    QVERIFY(s.pageLog.text().endsWith(QString("line %1\r\n").arg(PageLog::KeptLines + PageLog::KeptLines / 5)));
    QVERIFY(!s.pageLog.text().contains("line 1\r\n"));
    QVERIFY(daily("2026-12-10").startsWith("line 1\r\n"));
}

QTEST_GUILESS_MAIN(tst_history)
#include "tst_history.moc"
