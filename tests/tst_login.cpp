// The login window driven offscreen against a real Config.mdb: its layout,
// what each kind of account leads to, database failures, Cancel and the
// close box, and the start of the program through it.

#include "admin/frmLogin.h"
#include "app/Startup.h"
#include "app/TahomaFont.h"
#include "app/frmMain.h"
#include "store/DbError.h"
#include "store/UpdateCom.h"
#include "support/ProgramFolderFixture.h"
#include "support/ScriptedMessageBoxes.h"

#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QWindow>
#include <QtTest>

namespace {

enum Outcome { Admitted, Refused, Silent };

const QString Refusal = QStringLiteral("User Name or Password is incorrect. Try again!");

QLineEdit *box(QWidget &login, const char *name)
{
    return login.findChild<QLineEdit *>(name);
}

QPushButton *button(QWidget &login, const char *name)
{
    return login.findChild<QPushButton *>(name);
}

void typeIn(QWidget &login, const QString &userName, const QString &password)
{
    box(login, "txtUserName")->setText(userName);
    box(login, "txtPassword")->setText(password);
}

void click(QWidget &login, const char *name)
{
    QTest::mouseClick(button(login, name), Qt::LeftButton);
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
    // The program's fonts, as main() sets them up.
    void initTestCase() { TahomaFont::ensure(); }
    void layout();
    void accounts_data();
    void accounts();
    void databaseFailures_data();
    void databaseFailures();
    void cancelAndCloseBox();
    void startShowsMainWindowOnlyAfterLogin();
    void startEndsWhenMainWindowFails();
};

void tst_login::layout()
{
    frmLogin login;
    login.show();
    QCOMPARE(login.windowTitle(), QString("Log In"));
    QCOMPARE(login.size(), QSize(224, 175));
    QCOMPARE(login.font().family(), QString("Tahoma"));

    auto *frame = login.findChild<QGroupBox *>("Frame1");
    QVERIFY(frame);
    QCOMPARE(frame->geometry(), QRect(8, 0, 209, 169));
    QVERIFY(frame->title().isEmpty());

    // Twips divided by 15, relative to the frame.
    const struct {
        const char *name;
        QString text;
        QRect geometry;
    } controls[] = {
        {"Label1", "User Name", {8, 24, 57, 25}},     {"Label2", "Password", {8, 64, 65, 17}},
        {"txtUserName", "", {96, 24, 97, 25}},        {"txtPassword", "", {96, 56, 97, 25}},
        {"cmdLogin", "Log In", {16, 120, 81, 25}},    {"cmdLoginCancel", "Cancel", {112, 120, 81, 25}},
    };
    for (const auto &control : controls) {
        QWidget *widget = login.findChild<QWidget *>(control.name);
        QVERIFY2(widget, control.name);
        QCOMPARE(widget->parentWidget(), frame);
        QCOMPARE(widget->geometry(), control.geometry);
        QCOMPARE(widget->property("text").toString(), control.text);
    }

    auto *password = box(login, "txtPassword");
    QCOMPARE(password->echoMode(), QLineEdit::Password);
    password->setText("abc");
    QCOMPARE(password->displayText(), QString("***"));

    // The focus starts in the user name and goes round in the table's order.
    QWidget *next = box(login, "txtUserName");
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

    const QStringList several = {"('Ann', 'pw1', 1)", "('Bob', 'pw2', 2)", "('Cid', 'pw3', 0)",
                                 "('Dan', 'pw4', 3)", "('Eve', 'pw5', -1)"};
    QTest::newRow("rank 1") << several << "Ann" << "pw1" << int(Admitted);
    QTest::newRow("rank 2") << several << "Bob" << "pw2" << int(Admitted);
    QTest::newRow("rank 0 is like no match") << several << "Cid" << "pw3" << int(Refused);
    QTest::newRow("rank 3 is silent") << several << "Dan" << "pw4" << int(Silent);
    QTest::newRow("negative rank is silent") << several << "Eve" << "pw5" << int(Silent);
    QTest::newRow("no such user") << several << "Zed" << "pw1" << int(Refused);
    QTest::newRow("wrong password") << several << "Ann" << "pw2" << int(Refused);
    QTest::newRow("name in other case") << several << "ann" << "pw1" << int(Refused);
    QTest::newRow("password in other case") << several << "Ann" << "PW1" << int(Refused);
    QTest::newRow("blanks are not trimmed") << several << "Ann " << "pw1" << int(Refused);
    QTest::newRow("empty fields, no such account") << several << "" << "" << int(Refused);
    QTest::newRow("empty table") << QStringList() << "Ann" << "pw1" << int(Refused);

    QTest::newRow("first duplicate refuses silently")
        << QStringList{"('Ann', 'pw', 3)", "('Ann', 'pw', 1)"} << "Ann" << "pw" << int(Silent);
    QTest::newRow("first duplicate admits")
        << QStringList{"('Ann', 'pw', 2)", "('Ann', 'pw', 0)"} << "Ann" << "pw" << int(Admitted);
    QTest::newRow("first duplicate has rank 0")
        << QStringList{"('Ann', 'pw', 0)", "('Ann', 'pw', 1)"} << "Ann" << "pw" << int(Refused);

    QTest::newRow("empty text account admits empty fields")
        << QStringList{"(NULL, NULL, 3)", "('', '', 1)"} << "" << "" << int(Admitted);
    QTest::newRow("fields without value never match")
        << QStringList{"(NULL, NULL, 1)", "('', NULL, 1)", "(NULL, '', 1)"} << "" << "" << int(Refused);
    QTest::newRow("rank without value on another row is not read")
        << QStringList{"('Ann', 'other', NULL)", "('Ann', 'pw', 1)"} << "Ann" << "pw" << int(Admitted);
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
    click(login, "cmdLogin");

    switch (outcome) {
    case Admitted:
        QCOMPARE(loggedIn.size(), 1);
        QVERIFY(boxes.shown.isEmpty());
        QVERIFY(!login.isVisible());
        break;
    case Refused:
        QVERIFY(loggedIn.isEmpty());
        QCOMPARE(boxes.shown.size(), 1);
        QCOMPARE(boxes.shown[0].text, Refusal);
        QCOMPARE(boxes.shown[0].title, QString("Vantrel"));
        QCOMPARE(boxes.shown[0].buttons, MessageBoxes::OkOnly);
        QCOMPARE(boxes.shown[0].icon, MessageBoxes::NoIcon);
        QVERIFY(login.isVisible());
        QVERIFY(box(login, "txtUserName")->text().isEmpty());
        QVERIFY(box(login, "txtPassword")->text().isEmpty());
        QCOMPARE(login.focusWidget(), box(login, "txtUserName"));
        break;
    case Silent:
        QVERIFY(loggedIn.isEmpty());
        QVERIFY(boxes.shown.isEmpty());
        QVERIFY(login.isVisible());
        QCOMPARE(box(login, "txtUserName")->text(), userName);
        QCOMPARE(box(login, "txtPassword")->text(), password);
        break;
    }
}

void tst_login::databaseFailures_data()
{
    QTest::addColumn<QString>("damage");
    QTest::addColumn<QString>("repair");
    QTest::newRow("missing Config.mdb") << "" << "";
    QTest::newRow("missing Account table") << "DROP TABLE Account"
                                           << "CREATE TABLE Account (UserName TEXT, Password TEXT, Rank INTEGER)";
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
    click(login, "cmdLogin");

    QCOMPARE(boxes.texts(), QStringList{expected});
    QCOMPARE(boxes.shown[0].title, QString("Vantrel"));
    QVERIFY(loggedIn.isEmpty());
    QVERIFY(login.isVisible());
    QCOMPARE(box(login, "txtUserName")->text(), QString("Ann"));
    QCOMPARE(box(login, "txtPassword")->text(), QString("pw"));

    // Once the database is whole again the same window logs in.
    if (repair.isEmpty()) {
        QVERIFY(QFile::rename(saved, folder.databasePath()));
    } else {
        folder.exec(repair);
        if (damage.startsWith("DROP"))
            folder.exec("INSERT INTO Account VALUES ('Ann', 'pw', 1)");
    }
    click(login, "cmdLogin");
    QCOMPARE(loggedIn.size(), 1);
    QCOMPARE(boxes.shown.size(), 1);
}

void tst_login::cancelAndCloseBox()
{
    ProgramFolderFixture folder;
    ScriptedMessageBoxes boxes;

    // Alone on screen, Cancel ends the program, and ends it well.
    {
        frmLogin login;
        login.show();
        typeIn(login, "admin", "typed");
        QCOMPARE(exitStatusOf([&] { click(login, "cmdLoginCancel"); }), 0);
        QVERIFY(!login.isVisible());
        QCOMPARE(box(login, "txtUserName")->text(), QString("admin"));
    }
    // Beside another shown window it only hides, still loaded with its texts.
    {
        QWidget other;
        other.show();
        frmLogin login;
        login.show();
        typeIn(login, "admin", "typed");
        QCOMPARE(exitStatusOf([&] { click(login, "cmdLoginCancel"); }, 300), -1);
        QVERIFY(!login.isVisible());
        QCOMPARE(box(login, "txtPassword")->text(), QString("typed"));
    }
    // The close box, alone on screen, ends the program as well; beside
    // another window it only closes the login window.
    {
        frmLogin login;
        login.show();
        QVERIFY(QTest::qWaitForWindowExposed(&login));
        QCOMPARE(exitStatusOf([&] { login.windowHandle()->close(); }), 0);
        QVERIFY(!login.isVisible());
    }
    {
        QWidget other;
        other.show();
        frmLogin login;
        login.show();
        QVERIFY(QTest::qWaitForWindowExposed(&login));
        QCOMPARE(exitStatusOf([&] { login.windowHandle()->close(); }, 300), -1);
        QVERIFY(!login.isVisible());
    }
    QVERIFY(boxes.shown.isEmpty());
}

void tst_login::startShowsMainWindowOnlyAfterLogin()
{
    ProgramFolderFixture folder({}, {{"Ann", "pw", 1}});
    folder.addUser("Desk", "+15550001", true);
    ScriptedMessageBoxes boxes;

    ProgramStart start;
    QList<frmMain *> loaded;
    connect(&start, &ProgramStart::mainWindowLoaded, [&](frmMain *window) { loaded << window; });
    start.begin();
    QPointer<frmLogin> login = start.loginWindow();
    QVERIFY(login && login->isVisible());
    QVERIFY(!mainWindowExists());

    typeIn(*login, "Ann", "wrong");
    click(*login, "cmdLogin");
    QCOMPARE(boxes.texts(), QStringList{Refusal});
    QVERIFY(!mainWindowExists());
    QVERIFY(!start.mainWindow());

    // The program runs on after the hand-over.
    typeIn(*login, "Ann", "pw");
    QCOMPARE(exitStatusOf([&] { click(*login, "cmdLogin"); }, 300), -1);
    frmMain *window = start.mainWindow();
    QVERIFY(window);
    QCOMPARE(loaded, QList<frmMain *>{window});
    QVERIFY(window->isVisible());
    QVERIFY(mainWindowExists());
    // The main window's start-up ran: recipients loaded, tray icon there.
    QCOMPARE(window->relay().recipients.PhoneCount, short(2));
    QVERIFY(window->tray().isRegistered());
    QVERIFY(window->relay().Timer1.isActive());
    // The login window is gone, not just hidden.
    QTRY_VERIFY(login.isNull());
    QCOMPARE(boxes.shown.size(), 1);
}

void tst_login::startEndsWhenMainWindowFails()
{
    ProgramFolderFixture folder({}, {{"Ann", "pw", 2}});
    folder.exec("DELETE FROM Com");
    ScriptedMessageBoxes boxes;

    ProgramStart start;
    start.begin();
    frmLogin *login = start.loginWindow();
    typeIn(*login, "Ann", "pw");
    QCOMPARE(exitStatusOf([&] { click(*login, "cmdLogin"); }), 1);

    QCOMPARE(boxes.shown.size(), 1);
    QVERIFY(boxes.shown[0].text.startsWith("Vantrel cannot start."));
    QVERIFY(boxes.shown[0].text.contains("Error 3021"));
    QVERIFY(boxes.shown[0].text.contains(folder.databasePath()));
    QVERIFY(!start.mainWindow());
    QVERIFY(!mainWindowExists());
}

QTEST_MAIN(tst_login)
#include "tst_login.moc"
