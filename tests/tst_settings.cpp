// The Settings window driven offscreen against a real Config.mdb: its pages
// and how it goes away, the users, the watched folders, the port settings,
// database failures, and the modem test and test message against the modem
// simulator on a pseudo-terminal.

#include "admin/frmSettings.h"
#include "app/TahomaFont.h"
#include "app/frmMain.h"
#include "store/FloodOptions.h"
#include "store/ReplyOptions.h"
#include "support/ProgramFolderFixture.h"
#include "support/PtyPair.h"
#include "support/ScriptedMessageBoxes.h"
#include "support/SimulatedModem.h"
#include "support/TestRelay.h"
#include "support/WindowDriver.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPlainTextEdit>
#include <QSpinBox>
#include <QtTest>

namespace {

// The relay the main window shows, made before it.
struct RelayFirst {
    TestRelay testRelay{1500, 60, false};
};

// The program's main window, counting the times the Settings window puts
// it back into its normal state.
class TestMain : private RelayFirst, public frmMain
{
public:
    using frmMain::relay;
    TestMain()
        : frmMain(testRelay)
    {
    }

    void setNormalState() override
    {
        ++m_normalStates;
        frmMain::setNormalState();
    }
    int normalStates() const { return m_normalStates; }

private:
    int m_normalStates = 0;
};

void showPage(const QObject &window, int page)
{
    // Selecting a page again refills its grid.
    find<QTabWidget>(window, "SSTab1")->setCurrentIndex(0);
    find<QTabWidget>(window, "SSTab1")->setCurrentIndex(page);
}

// Selects a row of the grid (-1: none), answers the question that the
// button asks, and presses it.
void removeRow(ScriptedMessageBoxes &boxes, const QObject &window, const char *grid, int row, const char *button,
               MessageBoxes::Answer answer = MessageBoxes::Yes)
{
    find<QTableWidget>(window, grid)->setCurrentCell(row, 0);
    boxes.answer(answer);
    click(window, button);
}

} // namespace

class tst_settings : public QObject
{
    Q_OBJECT

private slots:
    // The program's fonts, as main() sets them up.
    void initTestCase() { TahomaFont::ensure(); }
    void users();
    void watchedFolders();
    void portSettings();
    void databaseFailuresAreShown();
    void modemTestAndTestMessage();
    void floodOptions();
    void replyOptions();
};

void tst_settings::users()
{
    ProgramFolderFixture folder;
    ScriptedMessageBoxes boxes;
    folder.addUser("Ann", "111", true);
    TestMain main;
    frmSettings window(main);
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    // The users are read when their page is first selected.
    QCOMPARE(column(window, "UserList", 1), QStringList({""}));
    showPage(window, 1);
    auto *grid = find<QTableWidget>(window, "UserList");
    auto *duty = find<QCheckBox>(window, "chkDuty");
    const auto recipients = [&] { return main.relay().recipients().PhoneList(); };
    const auto users = [&] { return folder.values("SELECT name FROM USERS ORDER BY rowid"); };

    // The name is checked first, the number only when there is a name.
    click(window, "cmdAddUser");
    QVERIFY(grid->isHidden() && !find(window, "cmdEditUser")->isEnabled());
    click(window, "cmdADD");
    QVERIFY(find(window, "txtAddUser")->hasFocus());
    type(window, "txtAddUser", "Bob");
    click(window, "cmdADD");
    QVERIFY(find(window, "txtAddPhone")->hasFocus());
    QCOMPARE(boxes.taken(),
             QStringList({"Vantrel: User Name must not be blank.", "Vantrel: Phone No. must not be blank."}));

    // A number the modem could not take is refused; one written with
    // spaces and brackets is stored as typed.
    type(window, "txtAddPhone", "+1555\"\r\nAT+CFUN=0");
    click(window, "cmdADD");
    QCOMPARE(boxes.taken(),
             QStringList({"Vantrel: Please enter a phone number: digits, with an optional + in front."}));
    QVERIFY(find(window, "txtAddPhone")->hasFocus());
    QCOMPARE(users(), QStringList({"Ann"}));

    // Names need not be unique, and quotes in them are ordinary letters.
    for (const char *name : {"Bob", "Bob", "O'Brien", "x' OR '1'='1"}) {
        type(window, "txtAddUser", name);
        type(window, "txtAddPhone", "222");
        click(window, "cmdADD");
    }
    QCOMPARE(boxes.taken(), QStringList(4, "Adding User: Already added new user."));
    QVERIFY(find<QLineEdit>(window, "txtAddUser")->text().isEmpty());
    QCOMPARE(users(), QStringList({"Ann", "Bob", "Bob", "O'Brien", "x' OR '1'='1"}));
    QCOMPARE(grid->rowCount(), 1);
    click(window, "cmdCancelAdd");
    QCOMPARE(column(window, "UserList", 0), QStringList({"1", "2", "3", "4", "5"}));
    QCOMPARE(column(window, "UserList", 3), QStringList({"ON", "OFF", "OFF", "OFF", "OFF"}));
    QCOMPARE(recipients(), QStringList({"Ann", "111"}));

    // Without a selection the first user is edited; a double click edits
    // the row clicked. An emptied number saves nothing and says nothing.
    click(window, "cmdEditUser");
    QCOMPARE(find<QLineEdit>(window, "txtEditUserName")->text(), QString("Ann"));
    QVERIFY(duty->isChecked());
    click(window, "Command3");
    const QPoint third = grid->visualRect(grid->model()->index(2, 1)).center();
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, third);
    QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, third);
    QVERIFY(!find(window, "framEditUsers")->isHidden());
    QCOMPARE(find<QLineEdit>(window, "txtEditUserName")->text(), QString("Bob"));
    type(window, "txtEditPhone", "");
    click(window, "cmdSaveUser");
    QVERIFY(boxes.taken().isEmpty());

    // Saving changes the first user of the name; the grid shows it after "Cancel".
    type(window, "txtEditPhone", "12");
    click(window, "cmdSaveUser");
    QCOMPARE(boxes.taken(),
             QStringList({"Vantrel: Please enter a phone number: digits, with an optional + in front."}));
    type(window, "txtEditPhone", "999");
    duty->setChecked(true);
    click(window, "cmdSaveUser");
    QCOMPARE(boxes.taken(), QStringList({"Vantrel: Updated User!"}));
    QCOMPARE(recipients(), QStringList({"Ann", "111", "Bob", "999"}));
    click(window, "Command3");
    QCOMPARE(column(window, "UserList", 2), QStringList({"111", "999", "222", "222", "222"}));
    QCOMPARE(column(window, "UserList", 3), QStringList({"ON", "ON", "OFF", "OFF", "OFF"}));

    // A user without an on-duty flag is off duty.
    folder.addUser("ann", "113", QVariant());
    showPage(window, 1);
    QCOMPARE(column(window, "UserList", 3).last(), QString("OFF"));

    // "Remove User" asks first, then removes every user of exactly that name.
    removeRow(boxes, window, "UserList", 1, "cmdRemoveUser", MessageBoxes::No);
    QCOMPARE(boxes.shown[0].defaultButton, MessageBoxes::Yes);
    QCOMPARE(boxes.taken(), QStringList({"Confirm Delete: Are you sure to delete user?"}));
    QCOMPARE(users().size(), 6);
    for (int row : {1, 2, 2})
        removeRow(boxes, window, "UserList", row, "cmdRemoveUser");
    QCOMPARE(users(), QStringList({"Ann", "O'Brien"}));
    QCOMPARE(recipients(), QStringList({"Ann", "111"}));

    // After the last users go, the grid keeps its rows, blank.
    folder.exec("UPDATE USERS SET name = 'Ann'");
    showPage(window, 1);
    removeRow(boxes, window, "UserList", 0, "cmdRemoveUser");
    QVERIFY(users().isEmpty());
    QCOMPARE(column(window, "UserList", 1), QStringList({"", ""}));
    QVERIFY(recipients().isEmpty());
}

void tst_settings::watchedFolders()
{
    ProgramFolderFixture folder;
    ScriptedMessageBoxes boxes;
    const QString kept = folder.addWatchedFolder("kept");
    QVERIFY(QDir(kept).mkdir("terminal"));
    TestMain main;
    frmSettings window(main);
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    auto *grid = find<QTableWidget>(window, "MT4PathList");
    auto *path = find<QLineEdit>(window, "txtMT4Path");
    const auto stored = [&] { return folder.values("SELECT MT4_PATH FROM Mt4Path ORDER BY ID"); };

    // The window opens on this page with the folders listed. Every page
    // places its controls relative to the whole tab control, strip included.
    auto *tabs = find<QTabWidget>(window, "SSTab1");
    QCOMPARE(tabs->currentIndex(), 2);
    QCOMPARE(column(window, "MT4PathList", 1), QStringList({kept}));
    QCOMPARE(window.frameGeometry().size(), QSize(663, 422));
    const QList<QPair<const char *, QPoint>> places = {{"frmCom", {24, 68}},      {"UserList", {24, 56}},
                                                       {"cmdAddUser", {456, 60}}, {"MT4PathList", {24, 48}},
                                                       {"cmdAddPath", {456, 56}}, {"Frame1", {24, 48}}};
    for (const auto &[name, place] : places)
        QCOMPARE(find(window, name)->mapTo(tabs, QPoint()), place);

    QVERIFY(!path->isEnabled());
    click(window, "cmdAddPath");
    QVERIFY(!grid->isEnabled() && path->isEnabled() && path->isReadOnly());
    click(window, "cmdSavePath");
    QCOMPARE(boxes.taken(), QStringList({"Vantrel: MT4 Path must not be blank."}));
    QVERIFY(path->hasFocus());

    // The system's picker opens on the selected row's folder with nothing
    // typed, and takes a folder selected in its list at once.
    QStringList seen;
    QTimer::singleShot(0, &window, [&] {
        auto *picker = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        if (!picker)
            return;
        QPushButton *choose = picker->findChild<QDialogButtonBox *>("buttonBox")->button(QDialogButtonBox::Open);
        seen << picker->directory().absolutePath() << picker->findChild<QLineEdit *>("fileNameEdit")->text()
             << (choose->isEnabled() ? "can choose" : "cannot choose");
        const char *shown = picker->viewMode() == QFileDialog::Detail ? "treeView" : "listView";
        auto *list = picker->findChild<QAbstractItemView *>(shown);
        // The list fills from a thread of its own.
        if (QTest::qWaitFor([list] { return list->model()->rowCount(list->rootIndex()) > 0; })) {
            const QModelIndexList terminal = list->model()->match(list->model()->index(0, 0, list->rootIndex()),
                                                                  Qt::DisplayRole, "terminal", 1, Qt::MatchExactly);
            if (!terminal.isEmpty())
                QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(terminal[0]).center());
        }
        choose->click();
        // Whatever went wrong, the test goes on.
        if (picker->isVisible())
            picker->reject();
    });
    click(window, "cmdBrowse");
    QCOMPARE(seen, QStringList({kept, "", "can choose"}));
    QCOMPARE(path->text(), QDir::toNativeSeparators(kept + "/terminal"));

    // A cancelled picker empties the box; the same folder is stored twice.
    QStringList picks = {"/mt4/one", "", "/mt4/one", "/mt4/one"};
    QStringList startedIn;
    QWidget *owner = nullptr;
    window.setFolderPicker([&](QWidget *asking, const QString &startIn) {
        owner = asking;
        startedIn << startIn;
        return picks.takeFirst();
    });
    click(window, "cmdBrowse");
    QCOMPARE(owner, &window);
    click(window, "cmdBrowse");
    QVERIFY(path->text().isEmpty());
    for (int i = 0; i < 2; ++i)
        click(window, "cmdBrowse", "cmdSavePath");
    QCOMPARE(boxes.taken(), QStringList(2, "Adding MT4 Path: Already added new path."));
    QCOMPARE(stored(), QStringList({kept, "/mt4/one", "/mt4/one"}));
    QCOMPARE(grid->rowCount(), 1);
    click(window, "cmdCancelPath");
    QVERIFY(grid->isEnabled() && !path->isEnabled() && !path->isReadOnly());
    QCOMPARE(column(window, "MT4PathList", 1), QStringList({kept, "/mt4/one", "/mt4/one"}));

    // A row whose folder is gone, or none, opens the picker at home.
    for (int row : {1, -1}) {
        grid->setCurrentCell(row, 0);
        picks << "";
        click(window, "cmdBrowse");
    }
    QCOMPARE(startedIn, QStringList({kept, kept, kept, kept, QDir::homePath(), QDir::homePath()}));

    // "No" keeps everything; "Yes" removes every row of the folder.
    removeRow(boxes, window, "MT4PathList", 1, "cmdRemovePath", MessageBoxes::No);
    QCOMPARE(boxes.taken(), QStringList({"Confirm Delete: Are you sure to delete path?"}));
    QCOMPARE(stored().size(), 3);
    removeRow(boxes, window, "MT4PathList", 1, "cmdRemovePath");
    QCOMPARE(stored(), QStringList({kept}));
    QCOMPARE(column(window, "MT4PathList", 0), QStringList({"1"}));

    // The relay follows at once: a folder saved has its alerts taken
    // without a restart; once removed, no more. Rows are numbered by
    // position, not by ID.
    const QString added = folder.file("added");
    QVERIFY(QDir().mkpath(added));
    picks << added;
    click(window, "cmdAddPath", "cmdBrowse", "cmdSavePath", "cmdCancelPath");
    QCOMPARE(column(window, "MT4PathList", 0), QStringList({"1", "2"}));
    writeAlerts(added, 1, 1);
    main.relay().Timer1_Timer();
    QCOMPARE(folder.loggedMessages(), QStringList({"Alert 1"}));
    removeRow(boxes, window, "MT4PathList", 1, "cmdRemovePath");
    writeAlerts(added, 2, 2);
    main.relay().Timer1_Timer();
    QCOMPARE(folder.loggedMessages(), QStringList({"Alert 1"}));
    QCOMPARE(folderEntries(added), QStringList({"Sms.csv"}));

    // Without a current row, as on the header, nothing goes; nor does a
    // folder stored in other letters than the grid shows.
    removeRow(boxes, window, "MT4PathList", -1, "cmdRemovePath");
    folder.exec("UPDATE Mt4Path SET MT4_PATH = upper(MT4_PATH)");
    removeRow(boxes, window, "MT4PathList", 0, "cmdRemovePath");
    QCOMPARE(stored(), QStringList({kept.toUpper()}));
}

void tst_settings::portSettings()
{
    ProgramFolderFixture folder(
        {.port = 3, .baud = "4800", .dataBits = " 7", .parity = "E", .stopBit = " 2", .flowControl = "Hardware"});
    ScriptedMessageBoxes boxes;
    // Port 2 is free, port 4 in use, and the others name no device.
    PtyPair free(folder.path(), 2);
    PtyPair inUse(folder.path(), 4);
    for (int n : {1, 3, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16})
        QFile::link(folder.file("no-such-device"), folder.file(QString("COM%1").arg(n)));
    MSComm other;
    other.setCommPort(4);
    other.setPortOpen(true);

    TestMain main;
    auto window = std::make_unique<frmSettings>(main);
    const auto combo = [&](const char *name) { return find<QComboBox>(*window, name); };
    const auto shown = [&] {
        QStringList texts;
        for (const char *name : {"cboCom", "CboBuadRate", "CboBits", "CboParity", "CboStopBits", "CboFlow"})
            texts << combo(name)->currentText();
        return texts;
    };
    QCOMPARE(combo("cboCom")->count(), 1);
    QCOMPARE(combo("cboCom")->itemText(0), QString("COM2"));
    QCOMPARE(shown(), QStringList({"COM 3", "4800", " 7", "Even", " 2", "None"}));

    // "Advanced..." shows the four line rows and hides them again.
    for (bool hidden : {true, false, true}) {
        for (const char *name : {"lblBits", "lblParity", "lblStopBits", "lblFlowControl", "CboBits", "CboParity",
                                 "CboStopBits", "CboFlow"})
            QCOMPARE(find(*window, name)->isHidden(), hidden);
        click(*window, "cmdAdvancedSetup");
    }

    // Changing only the baud keeps the stored stop bits.
    combo("CboBuadRate")->setEditText("19200");
    click(*window, "cmdComOK");
    QVERIFY(!find(*window, "cmdComOK")->isEnabled());
    QTRY_VERIFY(find(*window, "cmdComOK")->isEnabled());
    QCOMPARE(folder.rows("SELECT COM, Buad, DataBits, Parity, StopBit, FlowControl FROM Com")[0],
             QVariantList({3, "19200", " 7", "E", " 2", "Hardware"}));

    combo("cboCom")->setEditText("COM12");
    combo("CboParity")->setEditText("even");
    combo("CboBits")->setCurrentIndex(1);
    click(*window, "cmdComOK");
    QCOMPARE(main.comSettings().ComPort(), short(12));
    QCOMPARE(main.comSettings().SettingsString(), QString("19200,e, 8, 2"));
    QCOMPARE(main.relay().modem().port(), short(12));
    QVERIFY(boxes.taken().isEmpty());

    // A new window shows what was saved; a lower-case parity shows as "Odd".
    window = std::make_unique<frmSettings>(main);
    QCOMPARE(shown(), QStringList({"COM 12", "19200", " 8", "Odd", " 2", "None"}));
}

void tst_settings::databaseFailuresAreShown()
{
    ProgramFolderFixture folder;
    ScriptedMessageBoxes boxes;
    TestMain main;
    frmSettings window(main);
    window.setFolderPicker([](QWidget *, const QString &) { return QString("/mt4"); });
    QVERIFY(QFile::remove(folder.databasePath()));

    // Each operation says why it failed, and the window stays usable.
    showPage(window, 1);
    type(window, "txtAddUser", "Bob");
    type(window, "txtAddPhone", "222");
    click(window, "cmdAddUser", "cmdADD");
    QCOMPARE(find<QLineEdit>(window, "txtAddUser")->text(), QString("Bob"));
    click(window, "cmdCancelAdd");
    removeRow(boxes, window, "UserList", 0, "cmdRemoveUser");
    showPage(window, 0);
    click(window, "cmdComOK");
    QTRY_VERIFY(find(window, "cmdComOK")->isEnabled());
    showPage(window, 2);
    click(window, "cmdAddPath", "cmdBrowse", "cmdSavePath");

    // user grid, add, refill, the question and the remove, OK, path grid, save
    QCOMPARE(boxes.shown.size(), 8);
    QCOMPARE(boxes.texts().filter(QRegularExpression("^Error 3024: Could not find file")).size(), 7);
    QCOMPARE(boxes.shown.last().title, QString("Vantrel"));
    QCOMPARE(boxes.shown.last().icon, MessageBoxes::Critical);
}

void tst_settings::modemTestAndTestMessage()
{
    ProgramFolderFixture folder({.port = 3});
    ScriptedMessageBoxes boxes;
    // Every answer takes 100 ms, so a send lasts long enough to press into.
    SimulatedModem modem({"--delay", "100"}, folder.path(), 3);
    SimulatedModem silent({"--silent"}, folder.path(), 5);
    SimulatedModem late({"--delay", "400"}, folder.path(), 6);
    QVERIFY(modem.isReady() && silent.isReady() && late.isReady());
    const QString watched = folder.addWatchedFolder("mt4");
    folder.addUser("Ann", "111", true);
    TestMain main;
    main.relay().GetPathList();
    main.relay().GetPhoneNo();
    main.relay().modem().open();
    frmSettings window(main);
    auto *port = find<QComboBox>(window, "cboCom");
    auto *comm = find<MSComm>(window, "MSComm1");
    auto *test = find<QPushButton>(window, "cmdTestModem");
    auto *send = find<QPushButton>(window, "cmdSend");
    const auto stored = [&] { return folder.rows("SELECT COM, Buad FROM Com")[0]; };
    // A fresh opening asks for error codes first, which a silent modem
    // leaves unanswered for a unit.
    const auto pressTest = [&] {
        test->click();
        QVERIFY(!test->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(test->isEnabled(), 10000);
    };
    // The program's own port is offered though the window cannot open it.
    QVERIFY(port->findText("COM3") >= 0);

    // The modem test runs on the engine that holds the port, with the
    // current line settings, and when the modem answers the boxes are
    // stored. An alert that comes meanwhile goes out after the test.
    find<QComboBox>(window, "CboBuadRate")->setEditText("115200");
    writeAlerts(watched, 1, 1);
    QTimer::singleShot(50, &window, [&] { main.relay().Timer1_Timer(); });
    pressTest();
    QCOMPARE(boxes.taken(), QStringList({"Vantrel: Modem Test is OK"}));
    QCOMPARE(stored(), QVariantList({3, "115200"}));
    QTRY_COMPARE(modem.messages().size(), 1);
    QVERIFY(modem.log().indexOf("AT+GSN") < modem.log().indexOf("AT+CMGS"));
    QVERIFY(!comm->portOpen());

    // No answer, or one later than 300 ms, stores nothing; a port that does
    // not exist is named.
    find<QComboBox>(window, "CboBuadRate")->setEditText("1200");
    for (const char *number : {"COM5", "COM6"}) {
        port->setEditText(number);
        pressTest();
    }
    QCOMPARE(boxes.taken(), QStringList(2, "Vantrel: Modem No Response."));
    QCOMPARE(stored(), QVariantList({3, "115200"}));
    port->setEditText("COM9");
    pressTest();
    QCOMPARE(boxes.taken(), QStringList({"Vantrel: Invalid port number"}));

    // A test pressed during an alert's send goes out after it, on the same
    // engine; the window never opens the port itself.
    port->setEditText("COM3");
    bool alertDone = false;
    QTimer::singleShot(150, &window, [&] {
        QVERIFY(main.relay().modem().busy());
        test->click();
    });
    main.SendAlarm("Gold", "Ann", "111", [&] { alertDone = true; });
    QTRY_VERIFY(alertDone && test->isEnabled());
    QCOMPARE(boxes.taken(), QStringList({"Vantrel: Modem Test is OK"}));
    QVERIFY(modem.log().lastIndexOf("AT+GSN") > modem.log().lastIndexOf("AT+CMGS"));
    QCOMPARE(modem.messages().size(), 2);

    // A test message goes by the send that alerts use, traced in the
    // Response list; SEND is disabled while it runs.
    QList<bool> enabledWhileTracing;
    connect(&main.trace(), &QAbstractItemModel::rowsInserted, &window,
            [&] { enabledWhileTracing << send->isEnabled(); });
    type(window, "txtTestPhNo", "+15550100");
    find<QPlainTextEdit>(window, "txtMessage")->setPlainText("Gold up\nSilver down");
    send->click();
    QTRY_VERIFY(send->isEnabled());
    QVERIFY(!enabledWhileTracing.isEmpty() && !enabledWhileTracing.contains(true));
    QCOMPARE(modem.messages().size(), 3);
    QCOMPARE(modem.messages()[2].number, QString("+15550100"));
    QCOMPARE(modem.messages()[2].text, QString("Gold up\nSilver down"));
    QVERIFY(main.relay().pageLog().text().contains("Sending to TEST (+15550100)\r\n"));
    const QAbstractItemModel *response = find<QListView>(window, "lstResponse")->model();
    QCOMPARE(response->index(0, 0).data().toString(), QString("Starting..."));
    QCOMPARE(response->index(response->rowCount() - 1, 0).data().toString(), QString("Done..."));

    // Pressed during an alert's send, the test goes out after it, and SEND
    // comes back only then.
    bool enabledMeanwhile = true;
    QTimer::singleShot(50, &window, [&] {
        send->click();
        enabledMeanwhile = send->isEnabled();
    });
    main.SendAlarm("Alert", "Ann", "111", {});
    QTRY_VERIFY(!enabledMeanwhile && send->isEnabled() && modem.messages().size() == 5);
    QCOMPARE(modem.messages()[3].text, QString("Alert"));
    QCOMPARE(modem.messages()[4].number, QString("+15550100"));

    // "Cancel" and Esc end a showing and keep the window as it was left.
    QPointer<frmSettings> closing = new frmSettings(main);
    click(*closing, "cmdAdvancedSetup");
    QTimer::singleShot(0, closing, [&] { click(*closing, "cmdComCancel"); });
    closing->exec();
    closing->show();
    QTest::keyClick(closing, Qt::Key_Escape);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(closing && !closing->isVisible() && !find(*closing, "CboBits")->isHidden());
    QCOMPARE(main.normalStates(), 0);

    // The close box ends it at once, the trace with it, and restores the
    // main window; a send it started goes on without it.
    closing->show();
    type(*closing, "txtTestPhNo", "+15550199");
    click(*closing, "cmdSend");
    QTimer::singleShot(50, closing, [&] { closing->close(); });
    QTRY_VERIFY(!closing);
    QCOMPARE(main.normalStates(), 1);
    QTRY_COMPARE(modem.messages().size(), 6);
    QCOMPARE(modem.messages()[5].number, QString("+15550199"));
    QVERIFY(boxes.taken().isEmpty());
}

void tst_settings::floodOptions()
{
    // A desk without the settings shows both off; OK stores what the boxes
    // say and the relay uses it at once.
    ProgramFolderFixture folder;
    TestMain main;
    frmSettings window(main);
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    showPage(window, 4);
    auto *collapse = find<QSpinBox>(window, "spnCollapse");
    auto *count = find<QSpinBox>(window, "spnPaceCount");
    auto *minutes = find<QSpinBox>(window, "spnPaceMinutes");
    QCOMPARE(collapse->text(), QString("Off"));
    QCOMPARE(count->value(), 0);
    QCOMPARE(main.relay().repeats().windowMinutes(), 0);
    collapse->setValue(15);
    count->setValue(6);
    minutes->setValue(30);
    click(window, "cmdFloodOK");
    QCOMPARE(FloodOptions::collapseMinutes(), 15);
    QCOMPARE(FloodOptions::pace(), (FloodOptions::Pace{6, 30}));
    QCOMPARE(main.relay().repeats().windowMinutes(), 15);
    QVERIFY(main.relay().pace().on());
    // A pace with either box at 0 is off, and shown so.
    minutes->setValue(0);
    click(window, "cmdFloodOK");
    QVERIFY(!FloodOptions::pace().on());
    QVERIFY(!main.relay().pace().on());
    QCOMPARE(count->value(), 0);
    QCOMPARE(find(window, "fraFlood")->mapTo(find<QTabWidget>(window, "SSTab1"), QPoint()), QPoint(24, 48));
}

void tst_settings::replyOptions()
{
    // A desk without the settings shows replies off and escalation greyed;
    // OK stores the three, refuses a name that is no user's, and the routes
    // listen at once.
    ProgramFolderFixture folder;
    folder.addUser("Ann", "+111", true);
    folder.addUser("Bob", "+222", false);
    TestMain main;
    frmSettings window(main);
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    showPage(window, 5);
    auto *replies = find<QCheckBox>(window, "chkReplies");
    auto *escalate = find<QSpinBox>(window, "spnEscalate");
    auto *list = find<QLineEdit>(window, "txtEscalation");
    QVERIFY(!replies->isChecked());
    QVERIFY(!escalate->isEnabled());
    QVERIFY(!main.relay().replies().on());
    replies->setChecked(true);
    QVERIFY(escalate->isEnabled());
    escalate->setValue(20);
    list->setText("Bob, Nobody");
    click(window, "cmdRepliesOK");
    QVERIFY(find<QLabel>(window, "lblReplyProblem")->text().contains("Nobody"));
    QVERIFY(!ReplyOptions::replies());
    list->setText(" Bob , Ann");
    click(window, "cmdRepliesOK");
    QVERIFY(ReplyOptions::replies());
    QCOMPARE(ReplyOptions::escalateMinutes(), 20);
    QCOMPARE(ReplyOptions::escalation(), QStringList({"Bob", "Ann"}));
    QVERIFY(main.relay().replies().on());
    QCOMPARE(main.relay().escalation().minutes(), 20);
    QCOMPARE(list->text(), QString("Bob, Ann"));
    QCOMPARE(find(window, "fraReplies")->mapTo(find<QTabWidget>(window, "SSTab1"), QPoint()), QPoint(24, 48));
}

QTEST_MAIN(tst_settings)
#include "tst_settings.moc"
