// The login window driven offscreen against a real Config.mdb: its layout,
// what each kind of account leads to, database failures, Cancel and the
// close box; and the start of the program, which relays before anybody logs
// in and shows the main window only after a login.

#include "admin/frmLogin.h"
#include "app/Startup.h"
#include "app/TahomaFont.h"
#include "app/frmMain.h"
#include "store/DbError.h"
#include "store/UpdateCom.h"
#include "support/ProgramFolderFixture.h"
#include "support/ScriptedMessageBoxes.h"
#include "support/SimulatedModem.h"
#include "support/TestRelay.h"
#include "support/WindowDriver.h"

#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QSystemTrayIcon>
#include <QWindow>
#include <QtTest>

namespace {

enum Outcome { Admitted, Refused, Silent };

const QString Refusal = QStringLiteral("User Name or Password is incorrect. Try again!");

void typeIn(QWidget &login, const QString &userName, const QString &password)
{
    type(login, "txtUserName", userName);
    type(login, "txtPassword", password);
}

// With the mouse, which gives the button the focus as a person's click does.
void press(QWidget &login, const char *name)
{
    QTest::mouseClick(find<QPushButton>(login, name), Qt::LeftButton);
}

// Runs the application's event loop, as the program does, while `action`
// happens in it; returns the status the loop was ended with, or -1 when
// nothing ended it within `ms`. The application's loop, not a local one:
// only it starts afresh after QCoreApplication::exit.
int exitStatusOf(const std::function<void()> &action, int ms = 2000)
{
    QTimer::singleShot(0, qApp, action);
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(-1); });
    guard.start(ms);
    return QApplication::exec();
}

bool mainWindowExists()
{
    const QWidgetList windows = QApplication::topLevelWidgets();
    return std::any_of(windows.cbegin(), windows.cend(), [](QWidget *w) { return w->inherits("frmMain"); });
}

} // namespace

class tst_login : public QObject
{
    Q_OBJECT

private slots:
    // As in the program: its fonts, and a life in the tray with no window shown.
    void initTestCase()
    {
        TahomaFont::ensure();
        QApplication::setQuitOnLastWindowClosed(false);
    }
    void layout();
    void accounts_data();
    void accounts();
    void databaseFailures_data();
    void databaseFailures();
    void startRelaysBeforeLogin();
    void startThatCannotGoOnTouchesNothing();
};

void tst_login::layout()
{
    frmLogin login;
    login.show();
    QCOMPARE(login.windowTitle(), QString("Log In"));
    QCOMPARE(login.size(), QSize(224, 175));
    QCOMPARE(login.font().family(), QString("Tahoma"));

    auto *frame = find<QGroupBox>(login, "Frame1");
    QCOMPARE(frame->geometry(), QRect(8, 0, 209, 169));
    QVERIFY(frame->title().isEmpty());

    // Twips divided by 15, relative to the frame.
    const struct {
        const char *name;
        QString text;
        QRect geometry;
    } controls[] = {
        {"Label1", "User Name", {8, 24, 57, 25}},  {"Label2", "Password", {8, 64, 65, 17}},
        {"txtUserName", "", {96, 24, 97, 25}},     {"txtPassword", "", {96, 56, 97, 25}},
        {"cmdLogin", "Log In", {16, 120, 81, 25}}, {"cmdLoginCancel", "Cancel", {112, 120, 81, 25}},
    };
    for (const auto &control : controls) {
        QWidget *widget = find(login, control.name);
        QCOMPARE(widget->parentWidget(), frame);
        QCOMPARE(widget->geometry(), control.geometry);
        QCOMPARE(widget->property("text").toString(), control.text);
    }

    auto *password = find<QLineEdit>(login, "txtPassword");
    QCOMPARE(password->echoMode(), QLineEdit::Password);
    password->setText("abc");
    QCOMPARE(password->displayText(), QString("***"));

    // The focus starts in the user name and goes round in the table's order.
    QWidget *next = find<QLineEdit>(login, "txtUserName");
    for (const char *name : {"txtPassword", "cmdLogin", "cmdLoginCancel", "txtUserName"}) {
        do
            next = next->nextInFocusChain();
        while (next->focusPolicy() == Qt::NoFocus);
        QCOMPARE(next->objectName(), QString(name));
    }
}

void tst_login::accounts_data()
{
    // Account rows in table order, what is typed, and what follows.
    QTest::addColumn<QStringList>("rows");
    QTest::addColumn<QString>("userName");
    QTest::addColumn<QString>("password");
    QTest::addColumn<int>("outcome");
    const auto row = [](const char *name, const QStringList &rows, const QString &userName, const QString &password,
                        Outcome outcome) { QTest::newRow(name) << rows << userName << password << int(outcome); };

    const QStringList several = {"('Ann', 'pw1', 1)", "('Bob', 'pw2', 2)", "('Cid', 'pw3', 0)", "('Dan', 'pw4', 3)",
                                 "('Eve', 'pw5', -1)"};
    row("rank 1", several, "Ann", "pw1", Admitted);
    row("rank 2", several, "Bob", "pw2", Admitted);
    row("rank 0 is like no match", several, "Cid", "pw3", Refused);
    row("rank 3 is silent", several, "Dan", "pw4", Silent);
    row("negative rank is silent", several, "Eve", "pw5", Silent);
    row("no such user", several, "Zed", "pw1", Refused);
    row("wrong password", several, "Ann", "pw2", Refused);
    row("name in other case", several, "ann", "pw1", Refused);
    row("password in other case", several, "Ann", "PW1", Refused);
    row("blanks are not trimmed", several, "Ann ", "pw1", Refused);
    row("empty fields, no such account", several, "", "", Refused);
    row("empty table", {}, "Ann", "pw1", Refused);

    row("first duplicate refuses silently", {"('Ann', 'pw', 3)", "('Ann', 'pw', 1)"}, "Ann", "pw", Silent);
    row("first duplicate admits", {"('Ann', 'pw', 2)", "('Ann', 'pw', 0)"}, "Ann", "pw", Admitted);
    row("first duplicate has rank 0", {"('Ann', 'pw', 0)", "('Ann', 'pw', 1)"}, "Ann", "pw", Refused);

    row("empty text account admits empty fields", {"(NULL, NULL, 3)", "('', '', 1)"}, "", "", Admitted);
    row("fields without value never match", {"(NULL, NULL, 1)", "('', NULL, 1)", "(NULL, '', 1)"}, "", "", Refused);
    row("rank without value on another row is not read", {"('Ann', 'other', NULL)", "('Ann', 'pw', 1)"}, "Ann", "pw",
        Admitted);
}

void tst_login::accounts()
{
    QFETCH(QStringList, rows);
    QFETCH(QString, userName);
    QFETCH(QString, password);
    QFETCH(int, outcome);

    ProgramFolderFixture folder({}, {});
    for (const QString &row : rows)
        folder.exec("INSERT INTO Account (UserName, Password, Rank) VALUES " + row);
    ScriptedMessageBoxes boxes;

    frmLogin login;
    QSignalSpy loggedIn(&login, &frmLogin::loggedIn);
    login.show();
    typeIn(login, userName, password);
    press(login, "cmdLogin");

    switch (outcome) {
    case Admitted:
        QCOMPARE(loggedIn.size(), 1);
        QVERIFY(boxes.shown.isEmpty());
        QVERIFY(!login.isVisible());
        break;
    case Refused:
        QVERIFY(loggedIn.isEmpty());
        QCOMPARE(boxes.shown.value(0).buttons, MessageBoxes::OkOnly);
        QCOMPARE(boxes.shown.value(0).icon, MessageBoxes::NoIcon);
        QCOMPARE(boxes.taken(), QStringList{"Vantrel: " + Refusal});
        QVERIFY(login.isVisible());
        QVERIFY(find<QLineEdit>(login, "txtUserName")->text().isEmpty());
        QVERIFY(find<QLineEdit>(login, "txtPassword")->text().isEmpty());
        QCOMPARE(login.focusWidget(), find<QLineEdit>(login, "txtUserName"));
        break;
    case Silent:
        QVERIFY(loggedIn.isEmpty());
        QVERIFY(boxes.shown.isEmpty());
        QVERIFY(login.isVisible());
        QCOMPARE(find<QLineEdit>(login, "txtUserName")->text(), userName);
        QCOMPARE(find<QLineEdit>(login, "txtPassword")->text(), password);
        break;
    }
}

void tst_login::databaseFailures_data()
{
    QTest::addColumn<QString>("damage");
    QTest::addColumn<QString>("repair");
    QTest::newRow("missing Config.mdb") << ""
                                        << "";
    QTest::newRow("matching row's Rank without value") << "UPDATE Account SET Rank = NULL"
                                                       << "UPDATE Account SET Rank = 1";
}

void tst_login::databaseFailures()
{
    QFETCH(QString, damage);
    QFETCH(QString, repair);

    ProgramFolderFixture folder({}, {{"Ann", "pw", 1}});
    const QString saved = folder.file("Config.saved");
    if (damage.isEmpty())
        QVERIFY(QFile::rename(folder.databasePath(), saved));
    else
        folder.exec(damage);

    QString expected;
    try {
        UpdateCom::CheckLogin("Ann", "pw");
        QFAIL("the damaged database was read without error");
    } catch (const DbError &error) {
        expected = error.text();
    }
    if (damage.isEmpty())
        QCOMPARE(expected, "Error 3024: Could not find file '" + folder.databasePath() + "'.");

    ScriptedMessageBoxes boxes;
    frmLogin login;
    QSignalSpy loggedIn(&login, &frmLogin::loggedIn);
    login.show();
    typeIn(login, "Ann", "pw");
    press(login, "cmdLogin");

    QCOMPARE(boxes.taken(), QStringList{"Vantrel: " + expected});
    QVERIFY(loggedIn.isEmpty());
    QVERIFY(login.isVisible());
    QCOMPARE(find<QLineEdit>(login, "txtUserName")->text(), QString("Ann"));
    QCOMPARE(find<QLineEdit>(login, "txtPassword")->text(), QString("pw"));

    // Once the database is whole again the same window logs in.
    if (repair.isEmpty())
        QVERIFY(QFile::rename(saved, folder.databasePath()));
    else
        folder.exec(repair);
    press(login, "cmdLogin");
    QCOMPARE(loggedIn.size(), 1);
    QVERIFY(boxes.shown.isEmpty());
}

void tst_login::startRelaysBeforeLogin()
{
    ProgramFolderFixture folder({}, {{"Ann", "pw", 1}});
    folder.addUser("Desk", "+15550001", true);
    const QString mt4 = folder.addWatchedFolder("mt4");
    SimulatedModem modem({"--quiet"}, folder.path(), 1);
    ScriptedMessageBoxes boxes;

    // Straight after start the relay runs and the login window guards the
    // main window, which exists but is not shown.
    ProgramStart start;
    QVERIFY(start.begin());
    frmMain *window = start.mainWindow();
    QVERIFY(window && !window->isVisible());
    QVERIFY(window->relay().Timer1().isActive());
    QPointer<frmLogin> login = start.loginWindow();
    QVERIFY(login && login->isVisible());

    // Nobody logs in, and the alert goes out all the same.
    window->relay().Timer1().setInterval(50);
    writeAlerts(mt4, 1, 1);
    QTRY_COMPARE_WITH_TIMEOUT(folder.loggedMessages(), QStringList({"Alert 1"}), 10000);
    QCOMPARE(modem.messages().size(), 1);

    // Cancel and the close box only put the window away, still loaded with
    // its texts: the program goes on relaying in the tray. (Without a
    // notification area, as here offscreen, it is minimised instead.) The
    // tray brings back the login window, not the main window.
    const auto putAway = [&] {
        return login && (QSystemTrayIcon::isSystemTrayAvailable() ? !login->isVisible() : login->isMinimized());
    };
    const auto backFromTray = [&] {
        window->tray().mouseMessage(TrayIcon::LeftDoubleClick);
        return login && login->isVisible() && !login->isMinimized() && !window->isVisible()
               && QTest::qWaitForWindowExposed(login);
    };
    QVERIFY(QTest::qWaitForWindowExposed(login));
    typeIn(*login, "admin", "typed");
    QCOMPARE(exitStatusOf([&] { press(*login, "cmdLoginCancel"); }, 300), -1);
    QVERIFY(putAway());
    QCOMPARE(find<QLineEdit>(*login, "txtPassword")->text(), QString("typed"));
    QVERIFY(backFromTray());
    QCOMPARE(exitStatusOf([&] { login->windowHandle()->close(); }, 300), -1);
    QVERIFY(putAway());
    QCOMPARE(find<QLineEdit>(*login, "txtUserName")->text(), QString("admin"));
    QVERIFY(boxes.shown.isEmpty());
    QVERIFY(backFromTray());

    typeIn(*login, "Ann", "wrong");
    press(*login, "cmdLogin");
    QCOMPARE(boxes.texts(), QStringList{Refusal});
    QVERIFY(!window->isVisible());
    typeIn(*login, "Ann", "pw");
    QCOMPARE(exitStatusOf([&] { press(*login, "cmdLogin"); }, 300), -1);
    QVERIFY(window->isVisible());
    // The login window is gone, not just hidden; the tray now restores the
    // main window.
    QTRY_VERIFY(login.isNull());
    window->hide();
    window->tray().mouseMessage(TrayIcon::LeftDoubleClick);
    QVERIFY(window->isVisible());
    QCOMPARE(boxes.shown.size(), 1);
}

void tst_login::startThatCannotGoOnTouchesNothing()
{
    ScriptedMessageBoxes boxes;
    ProgramFolderFixture folder({}, {{"Ann", "pw", 2}});
    const QString mt4 = folder.addWatchedFolder("mt4");
    writeAlerts(mt4, 1, 1);
    const auto untouched = [&] {
        QTest::qWait(100);
        return folderEntries(mt4) == QStringList({"Sms.csv"}) && !QFile::exists(folder.file("Outbox.db"))
               && !mainWindowExists();
    };

    // A second copy from the same folder says so and ends.
    {
        InstanceLock running;
        QVERIFY(running.tryLock());
        ProgramStart second;
        QVERIFY(!second.begin());
        QCOMPARE(boxes.texts(),
                 QStringList({"Vantrel is already running from " + QDir::toNativeSeparators(folder.path()) + "."}));
        QVERIFY(!second.loginWindow());
        QVERIFY(untouched());
    }

    // A broken Config.mdb: the error is shown, no timer ever started.
    folder.exec("DELETE FROM Com");
    ProgramStart start;
    QVERIFY(!start.begin());
    QCOMPARE(boxes.shown.size(), 2);
    QVERIFY(boxes.shown[1].text.startsWith("Vantrel cannot start."));
    QVERIFY(boxes.shown[1].text.contains("Error 3021"));
    QVERIFY(boxes.shown[1].text.contains(folder.databasePath()));
    QVERIFY(!start.mainWindow() && !start.loginWindow());
    QVERIFY(untouched());
}

QTEST_MAIN(tst_login)
#include "tst_login.moc"
