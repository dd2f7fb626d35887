// The Settings window driven offscreen against a real Config.mdb: its pages
// and how it goes away, the users, the watched folders, the port settings,
// database failures, and the modem test and test message against the modem
// simulator on a pseudo-terminal.

#include "admin/MainLink.h"
#include "admin/frmSettings.h"
#include "app/TahomaFont.h"
#include "pickup/AlertRelay.h"
#include "store/UpdateCom.h"
#include "support/ProgramFolderFixture.h"
#include "support/PtyPair.h"
#include "support/ScriptedMessageBoxes.h"
#include "support/SimulatedModem.h"
#include "support/TestRelay.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFile>
#include <QGroupBox>
#include <QLineEdit>
#include <QListView>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QtTest>

namespace {

// The main window as the Settings window sees it, with a real relay.
class TestMain : public MainLink
{
public:
    TraceList &trace() override { return m_relay.trace(); }
    void holdLine() override { m_relay.sender().holdLine(); }
    void releaseLine() override { m_relay.sender().releaseLine(); }
    void GetPhoneNo() override { m_relay.recipients().GetPhoneNo(); }
    void GetPathList() override { m_relay.reloadPaths(); }
    void SendAlarm(const QString &AlarmMsg, const QString &UserName, const QString &Ph_No,
                   const std::function<void()> &whenDone) override
    {
        m_relay.sender().SendAlarm(AlarmMsg, UserName, Ph_No, whenDone);
    }
    void setNormalState() override { ++normalStates; }
    AlertRelay &relay() { return m_relay; }

    AlertRelay m_relay;
    int normalStates = 0;
};

template <typename T = QWidget>
T *find(const QObject &window, const char *name)
{
    T *child = window.findChild<T *>(QString::fromLatin1(name));
    if (!child)
        qFatal("no %s in the window", name);
    return child;
}

void click(const QObject &window, const char *name)
{
    find<QPushButton>(window, name)->click();
}

void type(const QObject &window, const char *name, const QString &text)
{
    find<QLineEdit>(window, name)->setText(text);
}

void showPage(const QObject &window, int page)
{
    // Selecting a page again refills its grid.
    find<QTabWidget>(window, "SSTab1")->setCurrentIndex(0);
    find<QTabWidget>(window, "SSTab1")->setCurrentIndex(page);
}

QStringList column(const QObject &window, const char *grid, int column)
{
    auto *table = find<QTableWidget>(window, grid);
    QStringList texts;
    for (int row = 0; row < table->rowCount(); ++row)
        texts << (table->item(row, column) ? table->item(row, column)->text() : QString());
    return texts;
}

QStringList values(const ProgramFolderFixture &folder, const QString &sql)
{
    QStringList list;
    for (const QVariantList &row : folder.rows(sql))
        list << row[0].toString();
    return list;
}

} // namespace

class tst_settings : public QObject
{
    Q_OBJECT

private slots:
    // The program's fonts, as main() sets them up.
    void initTestCase() { TahomaFont::ensure(); }
    void opensOnThePaths();
    void hiddenKeptClosedGone();
    void users();
    void watchedFolders();
    void folderPicker();
    void portSettings();
    void databaseFailuresAreShown();
    void modemTest();
    void testMessage();
};

void tst_settings::opensOnThePaths()
{
    ProgramFolderFixture folder;
    ScriptedMessageBoxes boxes;
    for (const char *name : {"first", "gone", "third"})
        folder.addWatchedFolder(name);
    folder.exec("DELETE FROM Mt4Path WHERE ID = 2");
    folder.addUser("Ann", "111", true);
    folder.addUser("Bob", "222", QVariant());
    TestMain main;
    frmSettings window(main);
    window.show();
    QCOMPARE(window.frameGeometry().size(), QSize(663, 422));
    // Page controls are placed relative to the whole tab control, strip included.
    auto *tabs = find<QTabWidget>(window, "SSTab1");
    QCOMPARE(find(window, "MT4PathList")->mapTo(tabs, QPoint()), QPoint(24, 48));
    QCOMPARE(find(window, "frmCom")->mapTo(tabs, QPoint()), QPoint(24, 68));

    // The folders are numbered by position, not by ID; the users are read
    // when their page is first selected.
    QCOMPARE(tabs->currentIndex(), 2);
    QCOMPARE(column(window, "MT4PathList", 0), QStringList({"1", "2"}));
    QCOMPARE(column(window, "MT4PathList", 1), QStringList({folder.file("first"), folder.file("third")}));
    QCOMPARE(column(window, "UserList", 1), QStringList({""}));
    tabs->setCurrentIndex(1);
    QCOMPARE(column(window, "UserList", 0), QStringList({"1", "2"}));
    QCOMPARE(column(window, "UserList", 1), QStringList({"Ann", "Bob"}));
    QCOMPARE(column(window, "UserList", 3), QStringList({"ON", "OFF"}));
    QVERIFY(boxes.shown.isEmpty());
}

void tst_settings::hiddenKeptClosedGone()
{
    ProgramFolderFixture folder;
    TestMain main;
    main.relay().trace().AddItem("Starting...");
    QPointer<frmSettings> window = new frmSettings(main);
    QCOMPARE(find<QListView>(*window, "lstResponse")->model(), &main.relay().trace());

    // "Cancel" and Esc end the showing and keep the window as it was left.
    click(*window, "cmdAdvancedSetup");
    QTimer::singleShot(0, window, [&] { click(*window, "cmdComCancel"); });
    window->exec();
    window->show();
    QTest::keyClick(window, Qt::Key_Escape);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(window);
    QVERIFY(!window->isVisible());
    QVERIFY(!find(*window, "CboBits")->isHidden());
    QCOMPARE(main.normalStates, 0);

    // The close box ends it, the trace with it, and restores the main window.
    QTimer::singleShot(0, window, [&] { window->close(); });
    window->exec();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(!window);
    QCOMPARE(main.normalStates, 1);
    QCOMPARE(main.relay().trace().rowCount(), 0);
}

void tst_settings::users()
{
    ProgramFolderFixture folder;
    ScriptedMessageBoxes boxes;
    folder.addUser("Ann", "111", true);
    TestMain main;
    frmSettings window(main);
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    showPage(window, 1);
    auto *grid = find<QTableWidget>(window, "UserList");
    const auto recipients = [&] { return main.relay().recipients().PhoneList; };
    const auto users = [&] { return values(folder, "SELECT name FROM USERS ORDER BY rowid"); };

    // The name is checked first, the number only when there is a name.
    click(window, "cmdAddUser");
    QVERIFY(grid->isHidden());
    QVERIFY(!find<QPushButton>(window, "cmdEditUser")->isEnabled());
    click(window, "cmdADD");
    QVERIFY(find(window, "txtAddUser")->hasFocus());
    type(window, "txtAddUser", "Bob");
    click(window, "cmdADD");
    QVERIFY(find(window, "txtAddPhone")->hasFocus());
    QCOMPARE(boxes.texts(), QStringList({"User Name must not be blank.", "Phone No. must not be blank."}));

    // Names need not be unique, and quotes in them are ordinary letters.
    boxes.clear();
    for (const char *name : {"Bob", "Bob", "O'Brien", "x' OR '1'='1"}) {
        type(window, "txtAddUser", name);
        type(window, "txtAddPhone", "222");
        click(window, "cmdADD");
    }
    QCOMPARE(boxes.shown.size(), 4);
    QCOMPARE(boxes.shown[0].text, QString("Already added new user."));
    QCOMPARE(boxes.shown[0].title, QString("Adding User"));
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
    QVERIFY(find<QCheckBox>(window, "chkDuty")->isChecked());
    click(window, "Command3");
    const QPoint third = grid->visualRect(grid->model()->index(2, 1)).center();
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, third);
    QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, third);
    QVERIFY(!find(window, "framEditUsers")->isHidden());
    QCOMPARE(find<QLineEdit>(window, "txtEditUserName")->text(), QString("Bob"));
    boxes.clear();
    type(window, "txtEditPhone", "");
    click(window, "cmdSaveUser");
    QVERIFY(boxes.shown.isEmpty());

    // Saving changes the first user of the name; the grid shows it after "Cancel".
    type(window, "txtEditPhone", "999");
    find<QCheckBox>(window, "chkDuty")->setChecked(true);
    click(window, "cmdSaveUser");
    QCOMPARE(boxes.texts(), QStringList({"Updated User!"}));
    QCOMPARE(recipients(), QStringList({"Ann", "111", "Bob", "999"}));
    click(window, "Command3");
    QCOMPARE(column(window, "UserList", 2), QStringList({"111", "999", "222", "222", "222"}));
    for (int row : {3, 4}) {
        grid->setCurrentCell(row, 0);
        click(window, "cmdEditUser");
        find<QCheckBox>(window, "chkDuty")->setChecked(true);
        click(window, "cmdSaveUser");
        click(window, "Command3");
    }
    QCOMPARE(column(window, "UserList", 3), QStringList({"ON", "ON", "OFF", "ON", "ON"}));

    // The lookup ignores letter case: a user renamed meanwhile is found.
    folder.exec("UPDATE USERS SET name = 'ANN' WHERE name = 'Ann'");
    grid->setCurrentCell(0, 0);
    click(window, "cmdEditUser");
    type(window, "txtEditPhone", "112");
    click(window, "cmdSaveUser");
    QCOMPARE(values(folder, "SELECT name FROM USERS WHERE Phone_No = '112'"), QStringList({"Ann"}));
    click(window, "Command3");

    // "Remove User" asks first, then removes every user of exactly that name.
    folder.addUser("ann", "113", true);
    showPage(window, 1);
    grid->setCurrentCell(1, 0);
    boxes.clear();
    click(window, "cmdRemoveUser");
    QCOMPARE(boxes.shown[0].text, QString("Are you sure to delete user?"));
    QCOMPARE(boxes.shown[0].title, QString("Confirm Delete"));
    QCOMPARE(boxes.shown[0].defaultButton, MessageBoxes::Yes);
    QCOMPARE(users().size(), 6);
    for (int row : {1, 2, 2}) {
        grid->setCurrentCell(row, 0);
        boxes.answer(MessageBoxes::Yes);
        click(window, "cmdRemoveUser");
    }
    QCOMPARE(users(), QStringList({"Ann", "O'Brien"}));
    QCOMPARE(recipients(), QStringList({"Ann", "112", "O'Brien", "222"}));

    // After the last users go, the grid keeps its rows, blank.
    folder.exec("UPDATE USERS SET name = 'Ann'");
    showPage(window, 1);
    boxes.answer(MessageBoxes::Yes);
    click(window, "cmdRemoveUser");
    QVERIFY(users().isEmpty());
    QCOMPARE(column(window, "UserList", 1), QStringList({"", ""}));
    QVERIFY(recipients().isEmpty());
}

void tst_settings::watchedFolders()
{
    ProgramFolderFixture folder;
    ScriptedMessageBoxes boxes;
    const QString kept = folder.addWatchedFolder("kept");
    TestMain main;
    frmSettings window(main);
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QStringList picks;
    QWidget *owner = nullptr;
    window.setFolderPicker([&](QWidget *asking, const QString &) {
        owner = asking;
        return picks.takeFirst();
    });
    auto *grid = find<QTableWidget>(window, "MT4PathList");
    auto *path = find<QLineEdit>(window, "txtMT4Path");
    const auto stored = [&] { return values(folder, "SELECT MT4_PATH FROM Mt4Path ORDER BY ID"); };

    QVERIFY(!path->isEnabled());
    click(window, "cmdAddPath");
    QVERIFY(!grid->isEnabled());
    QVERIFY(path->isEnabled() && path->isReadOnly());
    click(window, "cmdSavePath");
    QCOMPARE(boxes.texts(), QStringList({"MT4 Path must not be blank."}));
    QVERIFY(path->hasFocus());

    // A cancelled picker empties the box; the same folder is stored twice.
    boxes.clear();
    picks << "/mt4/one" << "" << "/mt4/one" << "/mt4/one";
    click(window, "cmdBrowse");
    QCOMPARE(owner, &window);
    click(window, "cmdBrowse");
    QVERIFY(path->text().isEmpty());
    for (int i = 0; i < 2; ++i) {
        click(window, "cmdBrowse");
        click(window, "cmdSavePath");
    }
    QCOMPARE(boxes.shown.size(), 2);
    QCOMPARE(boxes.shown[1].text, QString("Already added new path."));
    QCOMPARE(boxes.shown[1].title, QString("Adding MT4 Path"));
    QCOMPARE(stored(), QStringList({kept, "/mt4/one", "/mt4/one"}));
    QCOMPARE(main.relay().paths().PathList, stored()); // watched at once
    QCOMPARE(grid->rowCount(), 1);
    click(window, "cmdCancelPath");
    QVERIFY(grid->isEnabled() && !path->isEnabled() && !path->isReadOnly());
    QCOMPARE(column(window, "MT4PathList", 1), QStringList({kept, "/mt4/one", "/mt4/one"}));

    // "No" keeps everything; "Yes" removes every row of the folder.
    grid->setCurrentCell(1, 0);
    click(window, "cmdRemovePath");
    QCOMPARE(boxes.shown.last().text, QString("Are you sure to delete path?"));
    QCOMPARE(stored().size(), 3);
    boxes.answer(MessageBoxes::Yes);
    click(window, "cmdRemovePath");
    QCOMPARE(stored(), QStringList({kept}));
    QCOMPARE(main.relay().paths().PathList, stored());
    QCOMPARE(column(window, "MT4PathList", 0), QStringList({"1"}));

    // A folder saved while the relay runs has its alerts taken without a
    // restart; once removed, no more.
    const QString added = folder.file("added");
    QVERIFY(QDir().mkpath(added));
    picks << added;
    click(window, "cmdAddPath");
    click(window, "cmdBrowse");
    click(window, "cmdSavePath");
    click(window, "cmdCancelPath");
    writeAlerts(added, 1, 1);
    main.relay().Timer1_Timer();
    QCOMPARE(folder.loggedMessages(), QStringList({"Alert 1"}));
    grid->setCurrentCell(1, 0);
    boxes.answer(MessageBoxes::Yes);
    click(window, "cmdRemovePath");
    writeAlerts(added, 2, 2);
    main.relay().Timer1_Timer();
    QCOMPARE(folder.loggedMessages(), QStringList({"Alert 1"}));
    QCOMPARE(folderEntries(added), QStringList({"Sms.csv"}));

    // Without a current row, as on the header, nothing goes; nor does a
    // folder stored in other letters than the grid shows.
    grid->setCurrentIndex(QModelIndex());
    boxes.answer(MessageBoxes::Yes);
    click(window, "cmdRemovePath");
    folder.exec("UPDATE Mt4Path SET MT4_PATH = upper(MT4_PATH)");
    grid->setCurrentCell(0, 0);
    boxes.answer(MessageBoxes::Yes);
    click(window, "cmdRemovePath");
    QCOMPARE(stored(), QStringList({kept.toUpper()}));
}

void tst_settings::folderPicker()
{
    ProgramFolderFixture folder;
    ScriptedMessageBoxes boxes;
    const QString kept = folder.addWatchedFolder("kept");
    QVERIFY(QDir(kept).mkdir("terminal"));
    folder.exec("INSERT INTO Mt4Path (MT4_PATH) VALUES ('/no/such/folder')");
    TestMain main;
    frmSettings window(main);
    window.show();
    auto *grid = find<QTableWidget>(window, "MT4PathList");
    grid->setCurrentCell(0, 0);
    click(window, "cmdAddPath");

    // The system's picker opens on the selected row's folder with nothing
    // typed, and takes a folder selected in its list at once.
    QString shownIn = "not shown";
    QString typed;
    bool canChoose = false;
    QTimer::singleShot(0, &window, [&] {
        auto *picker = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        if (!picker)
            return;
        shownIn = picker->directory().absolutePath();
        typed = picker->findChild<QLineEdit *>("fileNameEdit")->text();
        QPushButton *choose = picker->findChild<QDialogButtonBox *>("buttonBox")->button(QDialogButtonBox::Open);
        canChoose = choose->isEnabled();
        for (QAbstractItemView *list : picker->findChildren<QAbstractItemView *>()) {
            // The list fills from a thread of its own.
            if (!list->isVisible() || (list->objectName() != "treeView" && list->objectName() != "listView")
                || !QTest::qWaitFor([list] { return list->model()->rowCount(list->rootIndex()) > 0; }))
                continue;
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
    QCOMPARE(shownIn, kept);
    QVERIFY(typed.isEmpty());
    QVERIFY(canChoose);
    QCOMPARE(find<QLineEdit>(window, "txtMT4Path")->text(), QDir::toNativeSeparators(kept + "/terminal"));

    // A row whose folder is gone, or none, opens it at home.
    QStringList startedIn;
    window.setFolderPicker([&](QWidget *, const QString &startIn) {
        startedIn << startIn;
        return QString();
    });
    for (int row : {0, 1, -1}) {
        grid->setCurrentCell(row, 0);
        click(window, "cmdBrowse");
    }
    QCOMPARE(startedIn, QStringList({kept, QDir::homePath(), QDir::homePath()}));
}

void tst_settings::portSettings()
{
    Schema::ComRow com;
    com.port = 3;
    com.baud = "4800";
    com.dataBits = " 7";
    com.parity = "E";
    com.stopBit = " 2";
    com.flowControl = "Hardware";
    ProgramFolderFixture folder(com);
    ScriptedMessageBoxes boxes;
    // Port 2 is free, port 4 in use, and the others name no device.
    PtyPair free(folder.path(), 2);
    PtyPair taken(folder.path(), 4);
    for (int n = 1; n <= 16; ++n) {
        if (n != 2 && n != 4)
            QFile::link(folder.file("no-such-device"), folder.file(QString("COM%1").arg(n)));
    }
    MSComm other;
    other.setCommPort(4);
    other.setPortOpen(true);

    TestMain main;
    auto window = std::make_unique<frmSettings>(main);
    const auto combo = [&](const char *name) { return find<QComboBox>(*window, name); };
    QCOMPARE(combo("cboCom")->count(), 1);
    QCOMPARE(combo("cboCom")->itemText(0), QString("COM2"));
    QCOMPARE(combo("cboCom")->currentText(), QString("COM 3"));
    QCOMPARE(combo("CboBuadRate")->currentText(), QString("4800"));
    QCOMPARE(combo("CboParity")->currentText(), QString("Even"));
    QCOMPARE(combo("CboStopBits")->currentText(), QString(" 2"));
    QCOMPARE(combo("CboFlow")->currentText(), QString("None"));

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
    QVERIFY(find(*window, "cmdComOK")->isEnabled());
    QCOMPARE(folder.rows("SELECT COM, Buad, DataBits, Parity, StopBit, FlowControl FROM Com")[0],
             QVariantList({3, "19200", " 7", "E", " 2", "Hardware"}));

    combo("cboCom")->setEditText("COM12");
    combo("CboParity")->setEditText("even");
    combo("CboBits")->setCurrentIndex(1);
    click(*window, "cmdComOK");
    QCOMPARE(UpdateCom::ComPort, short(12));
    QCOMPARE(UpdateCom::SettingsString(), QString("19200,e, 8, 2"));
    QVERIFY(boxes.shown.isEmpty());

    // A new window shows what was saved; a lower-case parity shows as "Odd".
    window = std::make_unique<frmSettings>(main);
    QCOMPARE(combo("cboCom")->currentText(), QString("COM 12"));
    QCOMPARE(combo("CboParity")->currentText(), QString("Odd"));
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
    click(window, "cmdAddUser");
    type(window, "txtAddUser", "Bob");
    type(window, "txtAddPhone", "222");
    click(window, "cmdADD");
    QCOMPARE(find<QLineEdit>(window, "txtAddUser")->text(), QString("Bob"));
    click(window, "cmdCancelAdd");
    boxes.answer(MessageBoxes::Yes);
    click(window, "cmdRemoveUser");
    showPage(window, 0);
    click(window, "cmdComOK");
    QVERIFY(find(window, "cmdComOK")->isEnabled());
    showPage(window, 2);
    click(window, "cmdAddPath");
    click(window, "cmdBrowse");
    click(window, "cmdSavePath");

    // user grid, add, refill, the question and the remove, OK, path grid, save
    QCOMPARE(boxes.shown.size(), 8);
    const QStringList errors = boxes.texts().filter(QRegularExpression("^Error 3024: Could not find file"));
    QCOMPARE(errors.size(), 7);
    QCOMPARE(boxes.shown.last().title, QString("Vantrel"));
    QCOMPARE(boxes.shown.last().icon, MessageBoxes::Critical);
}

void tst_settings::modemTest()
{
    Schema::ComRow com;
    com.port = 3;
    ProgramFolderFixture folder(com);
    ScriptedMessageBoxes boxes;
    SimulatedModem modem({}, folder.path(), 3);
    SimulatedModem silent({"--silent"}, folder.path(), 5);
    SimulatedModem late({"--delay", "400"}, folder.path(), 6);
    SimulatedModem slow({"--delay", "100"}, folder.path(), 7);
    QVERIFY(modem.isReady() && silent.isReady() && late.isReady() && slow.isReady());
    const QString watched = folder.addWatchedFolder("mt4");
    TestMain main;
    main.relay().paths().GetPathList();
    frmSettings window(main);
    auto *port = find<QComboBox>(window, "cboCom");
    auto *comm = find<MSComm>(window, "MSComm1");
    QVERIFY(port->findText("COM3") >= 0);
    const auto stored = [&] { return folder.rows("SELECT COM, Buad FROM Com")[0]; };

    // The test uses the current line settings and, when the modem answers,
    // stores what the boxes say. Meanwhile no polling cycle starts a send.
    find<QComboBox>(window, "CboBuadRate")->setEditText("115200");
    QFile alert(MT4Paths::alertFile(watched));
    QVERIFY(alert.open(QIODevice::WriteOnly));
    alert.write("L|10:15|EA|T|Gold\r\n");
    alert.close();
    bool held = false;
    QTimer::singleShot(100, &window, [&] {
        held = main.relay().sender().busy();
        main.relay().Timer1_Timer();
    });
    click(window, "cmdTestModem");
    QCOMPARE(boxes.texts(), QStringList({"Modem Test is OK"}));
    QVERIFY(held && alert.exists() && !main.relay().sender().busy());
    QCOMPARE(stored(), QVariantList({3, "115200"}));
    QVERIFY(!comm->portOpen());
    QVERIFY(find(window, "cmdTestModem")->isEnabled());

    // No answer, or one later than 300 ms, stores nothing.
    boxes.clear();
    find<QComboBox>(window, "CboBuadRate")->setEditText("1200");
    for (const char *number : {"COM5", "COM6"}) {
        port->setEditText(number);
        click(window, "cmdTestModem");
    }
    QCOMPARE(boxes.texts(), QStringList({"Modem No Response.", "Modem No Response."}));
    QCOMPARE(stored(), QVariantList({3, "115200"}));

    // A port left open is closed without a word; a port that does not
    // exist is named.
    boxes.clear();
    comm->setCommPort(3);
    comm->setPortOpen(true);
    port->setEditText("COM 3");
    click(window, "cmdTestModem");
    QVERIFY(boxes.shown.isEmpty());
    QVERIFY(!comm->portOpen());
    port->setEditText("COM9");
    click(window, "cmdTestModem");
    QCOMPARE(boxes.texts(), QStringList({"Invalid port number"}));

    // A test pressed during an alert's send finds the port taken, says so
    // and leaves its own port closed; the send and the next one go through.
    boxes.clear();
    UpdateCom::ComPort = 7;
    main.relay().sender().dialogue().setTimeUnitMs(1500);
    port->setEditText("COM7");
    bool portOpenAfter = true;
    QTimer::singleShot(150, &window, [&] {
        QVERIFY(main.relay().sender().busy());
        click(window, "cmdTestModem");
        portOpenAfter = comm->portOpen();
    });
    main.SendAlarm("Gold", "Ann", "111", {});
    QCOMPARE(boxes.texts(), QStringList({"Port already open"}));
    QVERIFY(!portOpenAfter);
    main.SendAlarm("Silver", "Ann", "111", {});
    QCOMPARE(slow.messages().size(), 2);
    QCOMPARE(boxes.shown.size(), 1);
}

void tst_settings::testMessage()
{
    Schema::ComRow com;
    com.port = 3;
    ProgramFolderFixture folder(com);
    ScriptedMessageBoxes boxes;
    // Every answer takes 100 ms, so a send lasts long enough to press into.
    SimulatedModem modem({"--delay", "100"}, folder.path(), 3);
    QVERIFY(modem.isReady());
    TestMain main;
    main.relay().sender().dialogue().setTimeUnitMs(1500);
    frmSettings window(main);
    auto *send = find<QPushButton>(window, "cmdSend");
    QList<bool> enabledWhileTracing;
    connect(&main.relay().trace(), &QAbstractItemModel::rowsInserted, &window,
            [&] { enabledWhileTracing << send->isEnabled(); });

    type(window, "txtTestPhNo", "+15550100");
    find<QPlainTextEdit>(window, "txtMessage")->setPlainText("Gold up\nSilver down");
    send->click();
    QVERIFY(!enabledWhileTracing.isEmpty() && !enabledWhileTracing.contains(true));
    QVERIFY(send->isEnabled());
    QCOMPARE(modem.messages().size(), 1);
    QCOMPARE(modem.messages()[0].number, QString("+15550100"));
    QCOMPARE(modem.messages()[0].text, QString("Gold up\nSilver down"));
    QVERIFY(main.relay().pageLog().text().contains("Sending to TEST (+15550100)\r\n"));
    const QStringList trace = main.relay().trace().lines();
    QCOMPARE(trace.first(), QString("Starting..."));
    QCOMPARE(trace.last(), QString("Done..."));
    QCOMPARE(find<QListView>(window, "lstResponse")->model()->rowCount(), trace.size());

    // A Cyrillic test goes by the alerts' rules: in PDU mode, arriving as typed.
    const QString russian = QString::fromUtf8("Курс рубля");
    find<QPlainTextEdit>(window, "txtMessage")->setPlainText(russian);
    send->click();
    QCOMPARE(modem.messages().size(), 2);
    QCOMPARE(modem.messages()[1].text, russian);
    QVERIFY(modem.messages()[1].pdu);

    // Pressed during an alert's send, the test goes out after it, and SEND
    // comes back only then.
    bool enabledMeanwhile = true;
    QTimer::singleShot(50, &window, [&] {
        send->click();
        enabledMeanwhile = send->isEnabled();
    });
    main.SendAlarm("Alert", "Ann", "111", {});
    QVERIFY(!enabledMeanwhile && send->isEnabled());
    QCOMPARE(modem.messages().size(), 4);
    QCOMPARE(modem.messages()[3].number, QString("+15550100"));

    // Closed in the middle of its send, a window lasts until the send is over.
    QPointer<frmSettings> closing = new frmSettings(main);
    type(*closing, "txtTestPhNo", "+15550199");
    QTimer::singleShot(50, closing, [&] { closing->close(); });
    click(*closing, "cmdSend");
    QCOMPARE(modem.messages().size(), 5);
    QVERIFY(closing);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(!closing);
    QVERIFY(boxes.shown.isEmpty());
}

QTEST_MAIN(tst_settings)
#include "tst_settings.moc"
