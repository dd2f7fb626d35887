// Alerts end to end: robots' files in real watched folders, a real
// Config.mdb with three users of whom two are on duty, the real polling
// timer, and the modem simulator on a pseudo-terminal.

#include "pickup/AlertRelay.h"
#include "store/UpdateCom.h"
#include "support/ProgramFolderFixture.h"
#include "support/ScriptedMessageBoxes.h"
#include "support/SimulatedModem.h"

#include <QFile>
#include <QtTest>

namespace {

void writeAlerts(const QString &folder, int from, int to)
{
    QFile file(MT4Paths::alertFile(folder));
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Append));
    for (int i = from; i <= to; ++i)
        file.write(QStringLiteral("L|10:%1|EA%2|Title %2|Alert %2\r\n")
                       .arg(i, 2, 10, QLatin1Char('0'))
                       .arg(i)
                       .toLatin1());
}

int logRows(const ProgramFolderFixture &folder)
{
    return int(folder.rows("SELECT SMS_ID FROM LOG").size());
}

// The relay as the main window holds it, with its clock and time-out
// shortened.
struct Relay {
    AlertRelay relay;
    Relay()
    {
        relay.paths.GetPathList();
        relay.recipients.GetPhoneNo();
        relay.sender.dialogue.setTimeUnitMs(1500);
        relay.Timer1.setInterval(60);
        relay.Timer1.start();
    }
};

} // namespace

class tst_relay : public QObject
{
    Q_OBJECT

private slots:
    void alertsReachEveryOnDutyPhoneOnce();
    void portThatCannotOpenStillLogs();
    void logRowWaitsForTheDatabase();
};

void tst_relay::alertsReachEveryOnDutyPhoneOnce()
{
    ProgramFolderFixture folder;
    folder.addUser("Ann", "+111", true);
    folder.addUser("Bob", "+222", false);
    folder.addUser("Cid", "+333", true);
    const QString a = folder.addWatchedFolder("terminal-a");
    const QString b = folder.addWatchedFolder("terminal-b");
    SimulatedModem modem({"--quiet", "--split-rate", "0.5", "--seed", "9"}, folder.path(), 1);
    QVERIFY(modem.isReady());
    writeAlerts(a, 1, 7);
    writeAlerts(b, 8, 12);

    Relay r;
    QTRY_VERIFY_WITH_TIMEOUT(logRows(folder) == 12 && !r.relay.cycleRunning(), 60000);
    QTest::qWait(300); // further ticks find nothing and send nothing

    // Record by record, every on-duty recipient in table order.
    const QList<SimulatedModem::Sms> sent = modem.messages();
    QCOMPARE(sent.size(), 24);
    for (int i = 0; i < 12; ++i) {
        const QString text = QStringLiteral("Alert %1").arg(i + 1);
        QCOMPARE(sent[2 * i].number, QString("+111"));
        QCOMPARE(sent[2 * i].text, text);
        QCOMPARE(sent[2 * i + 1].number, QString("+333"));
        QCOMPARE(sent[2 * i + 1].text, text);
    }
    const QList<QVariantList> rows = folder.rows("SELECT Time, EA_Name, Title, Message FROM LOG ORDER BY SMS_ID");
    QCOMPARE(rows.size(), 12);
    QCOMPARE(rows[0], QVariantList({"10:01", "EA1", "Title 1", "Alert 1"}));
    QCOMPARE(rows[11], QVariantList({"10:12", "EA12", "Title 12", "Alert 12"}));
    QCOMPARE(r.relay.pageLog.text().count("Sending to Ann (+111)"), 12);
    QCOMPARE(r.relay.pageLog.text().count("Sending to Cid (+333)"), 12);
    QVERIFY(!r.relay.pageLog.text().contains("Bob"));
    QFile history(folder.file("ALARM1.csv"));
    QVERIFY(history.open(QIODevice::ReadOnly));
    QCOMPARE(history.readAll().count("\r\n"), 24);
    QVERIFY(!QFile::exists(MT4Paths::alertFile(a)) && !QFile::exists(MT4Paths::alertFile(b)));
    QCOMPARE(r.relay.intake.SmsCount, short(0));
    QVERIFY(r.relay.intake.SmsQueue.isEmpty());

    // Users changed while the relay runs: the next alert follows the new list.
    folder.exec("UPDATE USERS SET On_Duty = 0 WHERE name = 'Ann'");
    r.relay.recipients.GetPhoneNo();
    writeAlerts(a, 13, 13);
    QTRY_VERIFY_WITH_TIMEOUT(logRows(folder) == 13 && !r.relay.cycleRunning(), 20000);
    QCOMPARE(modem.messages().size(), 25);
    QCOMPARE(modem.messages().last().number, QString("+333"));
}

void tst_relay::portThatCannotOpenStillLogs()
{
    ProgramFolderFixture folder;
    ScriptedMessageBoxes boxes;
    folder.addUser("Ann", "+111", true);
    folder.addUser("Cid", "+333", true);
    const QString a = folder.addWatchedFolder("terminal-a");
    UpdateCom::ComPort = 8; // nothing is bound as COM8
    writeAlerts(a, 1, 1);

    Relay r;
    QTRY_VERIFY_WITH_TIMEOUT(logRows(folder) == 1, 10000);
    QTest::qWait(200);
    QCOMPARE(boxes.texts(), QStringList({"Invalid port number", "Invalid port number"}));
    QVERIFY(!r.relay.pageLog.text().contains("Sending to"));
}

void tst_relay::logRowWaitsForTheDatabase()
{
    ProgramFolderFixture folder;
    folder.addUser("Ann", "+111", true);
    const QString a = folder.addWatchedFolder("terminal-a");
    SimulatedModem modem({"--quiet"}, folder.path(), 1);
    folder.exec("ALTER TABLE LOG RENAME TO LOG_OLD");
    writeAlerts(a, 1, 3);

    Relay r;
    QTRY_VERIFY_WITH_TIMEOUT(modem.messages().size() == 3 && !r.relay.cycleRunning(), 20000);
    QTest::qWait(300);
    // Every record was still sent; the refusal is reported once and the
    // rows wait for the table to come back.
    QCOMPARE(modem.messages().size(), 3);
    QCOMPARE(r.relay.pageLog.text().count("LOG row not written"), 1);
    QCOMPARE(r.relay.unloggedCount(), 3);
    QCOMPARE(r.relay.intake.SmsCount, short(0));

    folder.exec("ALTER TABLE LOG_OLD RENAME TO LOG");
    QTRY_COMPARE_WITH_TIMEOUT(logRows(folder), 3, 10000);
    QCOMPARE(r.relay.unloggedCount(), 0);
    QVERIFY(r.relay.pageLog.text().contains("3 LOG rows that had waited for the database are written."));
    QCOMPARE(modem.messages().size(), 3);
}

QTEST_GUILESS_MAIN(tst_relay)
#include "tst_relay.moc"
