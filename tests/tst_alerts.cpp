// The Alerts window driven offscreen as a desk uses it: alerts through the
// modem simulator on a real pseudo-terminal, then filtered by robot, user
// and day, searched, and followed while their SMS settle (delivered, retried,
// given up) with the window open; asked for from the tray before a login;
// a long history read a page at a time as the table scrolls.

#include "app/TahomaFont.h"
#include "app/frmAlerts.h"
#include "app/frmMain.h"
#include "modem/PageLog.h"
#include "pickup/MT4Paths.h"
#include "store/DeskOptions.h"
#include "store/Outbox.h"
#include "support/ProgramFolderFixture.h"
#include "support/ScriptedMessageBoxes.h"
#include "support/SimulatedModem.h"
#include "support/TestClock.h"
#include "support/TestRelay.h"
#include "support/WindowDriver.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QLabel>
#include <QTableView>
#include <QTreeWidget>
#include <QtTest>

class tst_alerts : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { TahomaFont::ensure(); }
    void filtersSearchAndSettling();
    void aLongHistoryIsReadAsItScrolls();
    void alertsLoggedBeforeTheUpgradeFindTheirRows();
};

namespace {

// One column of the alerts table, top to bottom.
QStringList tableColumn(const QWidget &window, int column)
{
    const QAbstractItemModel *model = find<QTableView>(window, "grdAlerts")->model();
    QStringList texts;
    for (int row = 0; row < model->rowCount(); ++row)
        texts << model->index(row, column).data().toString();
    return texts;
}

QStringList messages(const QWidget &window)
{
    return tableColumn(window, 5);
}

// The recipients of the selected alert, one "NAME STATE BY" each, and one
// more column of theirs.
QStringList recipients(const QWidget &window, int column = -1)
{
    auto *tree = find<QTreeWidget>(window, "tvwRecipients");
    QStringList lines;
    for (int i = 0; i < tree->topLevelItemCount(); ++i) {
        const QTreeWidgetItem *item = tree->topLevelItem(i);
        lines << (column < 0 ? QStringList{item->text(0), item->text(2), item->text(4)}.join(' ') : item->text(column));
    }
    return lines;
}

void selectRow(const QWidget &window, int row)
{
    find<QTableView>(window, "grdAlerts")->selectRow(row);
}

void writeLines(const QString &folder, const QStringList &lines)
{
    writeFile(MT4Paths::alertFile(folder), (lines.join("\r\n") + "\r\n").toUtf8(),
              QIODevice::WriteOnly | QIODevice::Append);
}

} // namespace

void tst_alerts::filtersSearchAndSettling()
{
    const QDate today = QDate::currentDate();
    TestClock clock(QDateTime(today.addDays(-1), QTime(9, 0)));
    ProgramFolderFixture folder;
    ScriptedMessageBoxes boxes;
    folder.addUser("Ann", "+111", true);
    folder.addUser("Bob", "+222", true);
    folder.addUser("Cy", "+333", false);
    const QString mt4 = folder.addWatchedFolder("mt4");
    DeskOptions::setValue(DeskOptions::DeliveryReports, "on");
    // Reports held until the test hands them in; Cy's number refused.
    SimulatedModem modem({"--report-delay", "600000", "--reject-for", "+333:600000"}, folder.path(), 1);
    QVERIFY(modem.isReady());
    TestRelay relay(300);
    relay.setRetryDelays({200, 200});
    frmMain window(relay);
    window.Form_Load();

    // Yesterday, one alert to Ann and Bob; today two more, the last to Ann only.
    writeLines(mt4, {"L|09:00:00|GoldScalper|Price alert|XAUUSD crossed 1900.00"});
    QVERIFY(relay.waitUntilIdle());
    clock.set(QDateTime(today, QTime(10, 15)));
    writeLines(mt4, {"L|10:15:02|GoldScalper|Price alert|XAUUSD crossed 1905.20"});
    QVERIFY(relay.waitUntilIdle());
    folder.exec("UPDATE USERS SET On_Duty = 0 WHERE name = 'Bob'");
    relay.GetPhoneNo();
    writeLines(mt4, {"L|10:16:00|EURBot|Signal|EURUSD buy 100% at 1.0850"});
    QVERIFY(relay.waitUntilIdle());
    QCOMPARE(folder.loggedMessages().size(), 3);

    // From the tray before anybody logged in: the login first, then the window.
    QSignalSpy loginWanted(&window, &frmMain::loginWanted);
    window.findChild<QAction *>("mPopAlerts")->trigger();
    QCOMPARE(loginWanted.size(), 1);
    QVERIFY(!window.findChild<frmAlerts *>());
    window.showMainWindow();
    auto *alerts = window.findChild<frmAlerts *>();
    QVERIFY(alerts);
    QVERIFY(alerts->isVisible());
    // Options > Alerts... brings the same window forward.
    window.findChild<QAction *>("mnuAlerts")->trigger();
    QCOMPARE(window.findChildren<frmAlerts *>().size(), 1);

    // Newest first, each with what became of its SMS; the newest selected.
    QCOMPARE(messages(*alerts),
             QStringList({"EURUSD buy 100% at 1.0850", "XAUUSD crossed 1905.20", "XAUUSD crossed 1900.00"}));
    QCOMPARE(tableColumn(*alerts, 3), QStringList({"EURBot", "GoldScalper", "GoldScalper"}));
    QCOMPARE(tableColumn(*alerts, 6), QStringList({"1 sent", "2 sent", "2 sent"}));
    QCOMPARE(tableColumn(*alerts, 2), QStringList(3, mt4));
    QVERIFY(tableColumn(*alerts, 0)[2].startsWith(today.addDays(-1).toString(Qt::ISODate) + " 09:00:"));
    QCOMPARE(recipients(*alerts), QStringList({"Ann sent COM1"}));
    QCOMPARE(recipients(*alerts, 7), QStringList({"no delivery report yet"}));
    QVERIFY(find<QLabel>(*alerts, "lblAlert")->text().contains("EURUSD buy 100% at 1.0850"));
    QCOMPARE(find<QLabel>(*alerts, "lblStatus")->text(), QString("3 alerts"));

    // By robot, in any letter case; the robots seen are offered.
    auto *robot = find<QComboBox>(*alerts, "cboRobot");
    QVERIFY(robot->findText("EURBot") >= 0);
    robot->setEditText("goldscalper");
    QTRY_COMPARE(messages(*alerts), QStringList({"XAUUSD crossed 1905.20", "XAUUSD crossed 1900.00"}));
    robot->setEditText("");
    // By user: the users are offered; Bob got the first two only.
    auto *user = find<QComboBox>(*alerts, "cboUser");
    QVERIFY(user->findText("Bob") >= 0);
    user->setEditText("Bob");
    QTRY_COMPARE(messages(*alerts), QStringList({"XAUUSD crossed 1905.20", "XAUUSD crossed 1900.00"}));
    user->setEditText("Ann");
    QTRY_COMPARE(messages(*alerts).size(), 3);
    user->setEditText("");
    // By day.
    find<QDateEdit>(*alerts, "dtpDay")->setDate(today.addDays(-1));
    find<QCheckBox>(*alerts, "chkDay")->setChecked(true);
    QTRY_COMPARE(messages(*alerts), QStringList({"XAUUSD crossed 1900.00"}));
    find<QDateEdit>(*alerts, "dtpDay")->setDate(today);
    QTRY_COMPARE(messages(*alerts), QStringList({"EURUSD buy 100% at 1.0850", "XAUUSD crossed 1905.20"}));
    find<QDateEdit>(*alerts, "dtpDay")->setDate(today.addDays(-2));
    QTRY_COMPARE(messages(*alerts), QStringList());
    find<QCheckBox>(*alerts, "chkDay")->setChecked(false);
    // A search over the message, its wildcards taken as they are.
    type(*alerts, "txtSearch", "1905");
    QTRY_COMPARE(messages(*alerts), QStringList({"XAUUSD crossed 1905.20"}));
    type(*alerts, "txtSearch", "100%");
    QTRY_COMPARE(messages(*alerts), QStringList({"EURUSD buy 100% at 1.0850"}));
    type(*alerts, "txtSearch", "1_0850");
    QTRY_COMPARE(messages(*alerts), QStringList());
    type(*alerts, "txtSearch", "CROSSED");
    QTRY_COMPARE(messages(*alerts).size(), 2);
    QTRY_COMPARE(find<QLabel>(*alerts, "lblStatus")->text(), QString("2 alerts"));

    // The phones confirm while the window is open: the rows in view follow.
    selectRow(*alerts, 0);
    QCOMPARE(recipients(*alerts), QStringList({"Ann sent COM1", "Bob sent COM1"}));
    QVERIFY(modem.control("reports deliver"));
    QTRY_COMPARE(tableColumn(*alerts, 6), QStringList({"2 delivered", "2 delivered"}));
    QTRY_COMPARE(recipients(*alerts), QStringList({"Ann delivered COM1", "Bob delivered COM1"}));
    QVERIFY(!recipients(*alerts, 5)[0].isEmpty());

    // A new alert comes in on top while the window is open; Cy's phone
    // refuses it until it is given up.
    type(*alerts, "txtSearch", "");
    QTRY_COMPARE(messages(*alerts).size(), 3);
    folder.exec("UPDATE USERS SET On_Duty = 1 WHERE name = 'Cy'");
    relay.GetPhoneNo();
    writeLines(mt4, {"L|10:30:00|EURBot|Signal|EURUSD sell 1.0900"});
    QTRY_COMPARE(messages(*alerts).value(0), QString("EURUSD sell 1.0900"));
    QCOMPARE(messages(*alerts).size(), 4);
    selectRow(*alerts, 0);
    QTRY_COMPARE(tableColumn(*alerts, 6).value(0), QString("1 sent, 1 retrying"));
    QTRY_COMPARE(recipients(*alerts), QStringList({"Ann sent COM1", "Cy retrying "}));
    QVERIFY(recipients(*alerts, 7)[1].contains("; next try at "));
    // Its retries come due as the clock moves on.
    for (int i = 0; i < 100 && tableColumn(*alerts, 6).value(0) != "1 sent, 1 given up"; ++i) {
        clock.set(clock.now().addSecs(60));
        QTest::qWait(50);
    }
    QCOMPARE(tableColumn(*alerts, 6).value(0), QString("1 sent, 1 given up"));
    QTRY_COMPARE(recipients(*alerts), QStringList({"Ann sent COM1", "Cy given up "}));
    QCOMPARE(recipients(*alerts, 6), QStringList({"1", "3"}));
    QVERIFY(recipients(*alerts, 7)[1].contains("given up at"));
    QVERIFY(relay.waitUntilIdle());
    // The history changed nothing.
    QCOMPARE(folder.loggedMessages().size(), 4);
}

void tst_alerts::aLongHistoryIsReadAsItScrolls()
{
    ProgramFolderFixture folder;
    // LOG rows from before the outbox's week: their SMS are no longer kept,
    // their day is.
    folder.exec("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 250) "
                "INSERT INTO LOG (Time, EA_Name, Title, Message) "
                "SELECT printf('09:%02d', i % 60), 'Old' || (i % 3), 'Title', 'old alert ' || i FROM n");
    {
        Outbox outbox;
        outbox.open();
    }
    folder.execOutbox("INSERT INTO log_day (day, first_id, last_id) VALUES ('2026-01-05', 1, 200), "
                      "('2026-01-06', 201, 250)");
    // The outbox still has the first 150, each sent to Ann, every third to Bob too.
    folder.execOutbox("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 150) "
                      "INSERT INTO alert (folder, lead, time, ea_name, title, message, message_bytes, taken_at, "
                      "dispatched, first_done, logged, log_id) SELECT 'mt4', 'L', printf('09:%02d', i % 60), "
                      "'Old' || (i % 3), 'Title', 'old alert ' || i, x'', '2026-01-05T12:00:00.000Z', 1, 1, 1, i "
                      "FROM n");
    folder.execOutbox("INSERT INTO sms (alert_id, name, number, state, tries, finished_at, sent_route) "
                      "SELECT id, 'Ann', '+111', 'sent', 1, 0, 'COM1' FROM alert");
    folder.execOutbox("INSERT INTO sms (alert_id, name, number, state, tries, finished_at, sent_route) "
                      "SELECT id, 'Bob', '+222', 'sent', 1, 0, 'COM1' FROM alert WHERE log_id % 3 = 0");
    PageLog pageLog;
    frmAlerts alerts(pageLog);
    alerts.resize(900, 600);
    alerts.show();
    auto *grid = find<QTableView>(alerts, "grdAlerts");

    // A page at first, the next ones as the table scrolls to its end.
    QCOMPARE(messages(alerts).size(), 100);
    QCOMPARE(messages(alerts).first(), QString("old alert 250"));
    QCOMPARE(find<QLabel>(alerts, "lblStatus")->text(), QString("100 alerts, more as you scroll"));
    QCOMPARE(tableColumn(alerts, 6).first(), QString("not kept"));
    QCOMPARE(tableColumn(alerts, 0).first(), QString("2026-01-06"));
    while (grid->model()->canFetchMore({})) {
        grid->scrollToBottom();
        QCoreApplication::processEvents();
    }
    QStringList all;
    for (int i = 250; i >= 1; --i)
        all << QString("old alert %1").arg(i);
    QTRY_COMPARE(messages(alerts), all);
    QCOMPARE(tableColumn(alerts, 0)[99], QString("2026-01-05"));
    QVERIFY(tableColumn(alerts, 0).last().startsWith("2026-01-05 "));
    QCOMPARE(tableColumn(alerts, 6)[99], QString("not kept"));
    QCOMPARE(tableColumn(alerts, 6)[100], QString("2 sent"));
    QCOMPARE(tableColumn(alerts, 6)[101], QString("1 sent"));
    QCOMPARE(find<QLabel>(alerts, "lblStatus")->text(), QString("250 alerts"));
    QVERIFY(find<QLabel>(alerts, "lblAlert")->text().contains("no longer kept"));

    // Pages of a filter follow each other without a gap or a repeat.
    find<QDateEdit>(alerts, "dtpDay")->setDate(QDate(2026, 1, 5));
    find<QCheckBox>(alerts, "chkDay")->setChecked(true);
    QTRY_COMPARE(messages(alerts).size(), 100);
    while (grid->model()->canFetchMore({})) {
        grid->scrollToBottom();
        QCoreApplication::processEvents();
    }
    QCOMPARE(messages(alerts), all.mid(50));
    find<QComboBox>(alerts, "cboRobot")->setEditText("Old1");
    QTRY_COMPARE(messages(alerts).size(), 67);
    QStringList expected;
    for (int i = 199; i >= 1; i -= 3)
        expected << QString("old alert %1").arg(i);
    QCOMPARE(messages(alerts), expected);

    // By user, read by the user's SMS: pages of them too.
    const auto scrollToEnd = [&] {
        while (grid->model()->canFetchMore({})) {
            grid->scrollToBottom();
            QCoreApplication::processEvents();
        }
    };
    find<QComboBox>(alerts, "cboRobot")->setEditText("");
    find<QComboBox>(alerts, "cboUser")->setEditText("ann");
    QTRY_COMPARE(messages(alerts).size(), 100);
    scrollToEnd();
    QCOMPARE(messages(alerts), all.mid(100));
    find<QComboBox>(alerts, "cboUser")->setEditText("Bob");
    QTRY_COMPARE(messages(alerts).size(), 50);
    QCOMPARE(messages(alerts).first(), QString("old alert 150"));
    QCOMPARE(messages(alerts).last(), QString("old alert 3"));
    find<QComboBox>(alerts, "cboRobot")->setEditText("Old0");
    QTRY_COMPARE(messages(alerts).size(), 50);
    find<QDateEdit>(alerts, "dtpDay")->setDate(QDate(2026, 1, 6));
    QTRY_COMPARE(messages(alerts).size(), 0);
}

void tst_alerts::alertsLoggedBeforeTheUpgradeFindTheirRows()
{
    ProgramFolderFixture folder;
    ScriptedMessageBoxes boxes;
    folder.addUser("Ann", "+111", true);
    // An outbox as the version before made it: an alert sent to Ann and
    // logged after LOG row 1, which is another's.
    const char *const earlier[] = {
        "CREATE TABLE alert (id INTEGER PRIMARY KEY AUTOINCREMENT, folder TEXT NOT NULL, lead TEXT NOT NULL, "
        "time TEXT NOT NULL, ea_name TEXT NOT NULL, title TEXT NOT NULL, message TEXT NOT NULL, message_bytes BLOB "
        "NOT NULL, taken_at TEXT NOT NULL, dispatched INTEGER NOT NULL DEFAULT 0, first_done INTEGER NOT NULL "
        "DEFAULT 0, log_after INTEGER, logged INTEGER NOT NULL DEFAULT 0)",
        "CREATE INDEX alert_first_tries ON alert(folder, id) WHERE first_done = 0",
        "CREATE INDEX alert_log_due ON alert(id) WHERE first_done = 1 AND logged = 0",
        "CREATE TABLE sms (id INTEGER PRIMARY KEY AUTOINCREMENT, alert_id INTEGER NOT NULL REFERENCES alert(id) ON "
        "DELETE CASCADE, name TEXT NOT NULL, number TEXT NOT NULL, state TEXT NOT NULL DEFAULT 'waiting' CHECK "
        "(state IN ('waiting', 'sent', 'failed')), tries INTEGER NOT NULL DEFAULT 0, parts_sent INTEGER NOT NULL "
        "DEFAULT 0, reason TEXT, next_try INTEGER, finished_at INTEGER, parts_route TEXT, parts_reference INTEGER)",
        "CREATE INDEX sms_of_alert ON sms(alert_id)",
        "CREATE INDEX sms_retries ON sms(next_try) WHERE state = 'waiting' AND tries > 0",
        "CREATE TABLE taken_file (path TEXT PRIMARY KEY, device INTEGER NOT NULL, inode INTEGER NOT NULL, bytes "
        "INTEGER NOT NULL)",
        "CREATE TABLE sms_part (id INTEGER PRIMARY KEY AUTOINCREMENT, sms_id INTEGER NOT NULL REFERENCES sms(id) ON "
        "DELETE CASCADE, route TEXT NOT NULL, reference TEXT NOT NULL, number TEXT NOT NULL, sent_at INTEGER NOT "
        "NULL, status INTEGER, reported_at INTEGER, superseded INTEGER NOT NULL DEFAULT 0)",
        "CREATE TABLE delivery (sms_id INTEGER PRIMARY KEY REFERENCES sms(id) ON DELETE CASCADE, state TEXT NOT NULL "
        "DEFAULT 'unconfirmed', sent_at INTEGER NOT NULL, reason TEXT, delivered_at INTEGER, reported_at INTEGER, "
        "warned INTEGER NOT NULL DEFAULT 0, avoid_route TEXT)",
        "PRAGMA user_version = 3",
    };
    for (const char *statement : earlier)
        folder.execOutbox(statement);
    const QString takenAt = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
    folder.execOutbox("INSERT INTO alert (folder, lead, time, ea_name, title, message, message_bytes, taken_at, "
                      "dispatched, first_done, log_after, logged) VALUES ('mt4', 'L', '10:15:02', 'GoldScalper', "
                      "'Price alert', 'XAUUSD crossed 1905.20', x'', '"
                      + takenAt + "', 1, 1, 1, 1)");
    folder.execOutbox("INSERT INTO sms (alert_id, name, number, state, tries, finished_at) VALUES (1, 'Ann', '+111', "
                      "'sent', 1, 0)");
    folder.exec("INSERT INTO LOG (Time, EA_Name, Title, Message) VALUES ('09:00:00', 'EURBot', 'Signal', 'older')");
    folder.exec("INSERT INTO LOG (Time, EA_Name, Title, Message) VALUES ('10:15:02', 'GoldScalper', 'Price alert', "
                "'XAUUSD crossed 1905.20')");

    // The relay's next start upgrades the outbox and finds the row.
    SimulatedModem modem({}, folder.path(), 1);
    QVERIFY(modem.isReady());
    {
        TestRelay relay(300);
        QTRY_COMPARE(folder.outboxRows("SELECT log_id FROM alert").value(0).value(0).toInt(), 2);
    }
    QCOMPARE(folder.outboxRows("PRAGMA user_version").value(0).value(0).toInt(), 7);
    QCOMPARE(folder.loggedMessages(), QStringList({"older", "XAUUSD crossed 1905.20"}));

    PageLog pageLog;
    frmAlerts alerts(pageLog);
    alerts.show();
    QCOMPARE(messages(alerts), QStringList({"XAUUSD crossed 1905.20", "older"}));
    QCOMPARE(tableColumn(alerts, 6), QStringList({"1 sent", "not kept"}));
    QCOMPARE(recipients(alerts), QStringList({"Ann sent "}));
    find<QComboBox>(alerts, "cboUser")->setEditText("Ann");
    QTRY_COMPARE(messages(alerts), QStringList({"XAUUSD crossed 1905.20"}));
    find<QDateEdit>(alerts, "dtpDay")->setDate(QDateTime::fromString(takenAt, Qt::ISODateWithMs).toLocalTime().date());
    find<QCheckBox>(alerts, "chkDay")->setChecked(true);
    find<QComboBox>(alerts, "cboUser")->setEditText("");
    QTRY_COMPARE(messages(alerts), QStringList({"XAUUSD crossed 1905.20"}));

    // Who acknowledged it from that phone, once someone has.
    QVERIFY(find<QTreeWidget>(alerts, "tvwRecipients")->isColumnHidden(8));
    folder.execOutbox("UPDATE sms SET acked_by = 'Ann', acked_at = "
                      + QString::number(QDateTime::currentMSecsSinceEpoch()));
    frmAlerts again(pageLog);
    again.show();
    QTRY_VERIFY(recipients(again, 8).value(0).startsWith("Ann at "));
    QVERIFY(!find<QTreeWidget>(again, "tvwRecipients")->isColumnHidden(8));
}

QTEST_MAIN(tst_alerts)
#include "tst_alerts.moc"
