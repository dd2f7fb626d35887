// The main window driven offscreen: start-up from a real Config.mdb, its
// layout and place on the screen, the tray's mouse messages after a login
// (before one: tst_login), the About box from the Help menu, the close box,
// Exit with No and with Yes, a session that ends, and Exit in the middle of
// a batch.

#include "app/TahomaFont.h"
#include "app/WidgetMessageBoxes.h"
#include "app/frmMain.h"
#include "support/ProgramFolderFixture.h"
#include "support/ScriptedMessageBoxes.h"
#include "support/SimulatedModem.h"
#include "support/StartedProgram.h"
#include "support/TestRelay.h"
#include "support/WindowDriver.h"

#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QScreen>
#include <QtTest>

class tst_mainwindow : public QObject
{
    Q_OBJECT

private slots:
    // The program's fonts, as main() sets them up.
    void initTestCase() { TahomaFont::ensure(); }
    void startUpLayoutAndTray();
    void closeBoxAndExit();
    void exitInTheMiddleOfABatch();
    void noBoxHoldsUpTheRelay();
};

void tst_mainwindow::startUpLayoutAndTray()
{
    Schema::ComRow com;
    com.port = 6;
    com.baud = "19200";
    ProgramFolderFixture folder(com);
    ScriptedMessageBoxes boxes;
    folder.addUser("Ann", "111", true);
    folder.addWatchedFolder("mt4");

    StartedProgram program;
    frmMain &window = program.window;
    window.showMainWindow();
    QVERIFY(window.isVisible());
    // It opens centred on its screen.
    const QRect screen = window.screen()->availableGeometry();
    const QRect frame = window.frameGeometry();
    QVERIFY2(screen.contains(frame), "the screen is large enough for the window");
    QVERIFY(qAbs((frame.left() - screen.left()) - (screen.right() - frame.right())) <= 1);
    QVERIFY(qAbs((frame.top() - screen.top()) - (screen.bottom() - frame.bottom())) <= 1);
    QCOMPARE(window.windowTitle(), QString("Vantrel"));
    QCOMPARE(window.relay().comSettings().ComPort(), short(6));
    QCOMPARE(window.relay().paths().PathCount(), short(1));
    QCOMPARE(window.relay().recipients().PhoneList(), QStringList({"Ann", "111"}));
    QCOMPARE(window.relay().Timer1().interval(), 3000);
    QVERIFY(window.tray().isRegistered());
    QCOMPARE(window.tray().tip(), QString("Vantrel"));

    QCOMPARE(window.centralWidget()->size(), QSize(720, 634));
    auto *log = find<QPlainTextEdit>(window, "txtPageLog");
    QCOMPARE(log->geometry(), QRect(16, 48, 687, 569));
    for (const char *name : {"Label1", "Label3", "Label4"})
        QVERIFY(window.findChild<QLabel *>(name));
    for (const char *name : {"mnuFile", "mnuOption", "mnuhelpfile", "mPopupSys"})
        QVERIFY(window.findChild<QMenu *>(name));
    QVERIFY(!window.findChild<QMenu *>("mPopupSys")->menuAction()->isVisible());

    // The tick count shows in Label1.
    window.relay().Timer1_Timer();
    QCOMPARE(window.findChild<QLabel *>("Label1")->text(), QString("1"));

    // The page log gets what the relay appends, piece by piece.
    window.relay().pageLog().append("one\r\n");
    window.relay().pageLog().append("two\r\n");
    QCOMPARE(log->toPlainText(), QString("one\ntwo\n"));

    // A long log reads line for line as it was written, every kind of line
    // end a line of its own, while the box holds few paragraphs.
    QString expected = log->toPlainText();
    for (int i = 0; i < 100; ++i) {
        window.relay().pageLog().append(QString("Message: alert %1\r\n").arg(i));
        expected += QString("Message: alert %1\n").arg(i);
    }
    window.relay().pageLog().append("lf\nalone\rcr\r\n");
    expected += "lf\nalone\ncr\n";
    QCOMPARE(log->toPlainText(), expected);
    QVERIFY(log->blockCount() <= 10);
    log->selectAll();
    log->copy();
    QCOMPARE(QGuiApplication::clipboard()->text(), expected);

    // After a login the tray's double click restores the window where it
    // was put; a single left click does nothing.
    window.move(window.pos() + QPoint(10, 10));
    window.hide();
    window.tray().mouseMessage(514);
    QVERIFY(!window.isVisible());
    window.tray().mouseMessage(TrayIcon::LeftDoubleClick);
    QVERIFY(window.isVisible());
    QVERIFY(!window.isMinimized());
    QCOMPARE(window.frameGeometry(), frame.translated(10, 10));

    auto *menu = window.findChild<QMenu *>("mPopupSys");
    window.tray().mouseMessage(TrayIcon::RightButtonUp);
    QTRY_VERIFY(menu->isVisible());
    QCOMPARE(menu->defaultAction(), window.findChild<QAction *>("mPopRestore"));
    QCOMPARE(menu->actions().size(), 5);
    QCOMPARE(menu->actions()[0]->text(), QString("&Main Window"));
    QCOMPARE(menu->actions()[1]->text(), QString("&Alerts..."));
    QCOMPARE(menu->actions()[2]->text(), QString("Ac&knowledge All"));
    QVERIFY(menu->actions()[3]->isSeparator());
    QCOMPARE(menu->actions()[4]->text(), QString("&Exit"));
    menu->hide();
    // From the desk, by the session's user: said in the page log.
    menu->actions()[2]->trigger();
    QVERIFY(window.relay().pageLog().text().contains("0 alerts acknowledged from the desk by"));

    window.hide();
    window.findChild<QAction *>("mPopRestore")->trigger();
    QVERIFY(window.isVisible());

    // Help's About box is modal and closes on OK. Should OK not close it,
    // it is closed a while later and the test ends anyway.
    QStringList seen;
    QTimer::singleShot(0, &window, [&] {
        if (QWidget *about = QApplication::activeModalWidget()) {
            seen << about->windowTitle() << (about->isModal() ? "modal" : "modeless");
            QTest::keyClick(about, Qt::Key_Return);
        }
    });
    QTimer::singleShot(5000, &window, [&] {
        if (QWidget *about = QApplication::activeModalWidget()) {
            seen << "still open";
            about->close();
        }
    });
    window.findChild<QAction *>("mnuAbout")->trigger();
    QCOMPARE(seen, QStringList({"About Vantrel", "modal"}));

    // The end of the session ends the program without asking.
    QSignalSpy unloaded(&window, &frmMain::unloaded);
    window.endSession();
    QCOMPARE(unloaded.size(), 1);
    QVERIFY(boxes.shown.isEmpty());
}

void tst_mainwindow::closeBoxAndExit()
{
    ProgramFolderFixture folder;
    ScriptedMessageBoxes boxes;
    StartedProgram program;
    frmMain &window = program.window;
    window.showMainWindow();
    QSignalSpy unloaded(&window, &frmMain::unloaded);

    // The close box never ends the program, nor asks.
    QVERIFY(!window.close());
    QVERIFY(unloaded.isEmpty());
    QVERIFY(boxes.shown.isEmpty());
    QVERIFY(window.tray().isRegistered());
    QCOMPARE(window.tray().tip(), QString("Vantrel"));
    if (TrayIcon::desktopHasTray()) {
        QVERIFY(!window.isVisible());
    } else {
        // Without a tray the window is minimised, and that is said once.
        QVERIFY(window.isMinimized());
        window.showNormal();
        QVERIFY(!window.close());
        QCOMPARE(window.relay().pageLog().text().count("no notification area"), 1);
    }
    QVERIFY(window.relay().Timer1().isActive());

    // Exit asks first: No keeps everything, Yes ends the program.
    window.showMainWindow();
    boxes.answer(MessageBoxes::No);
    window.findChild<QAction *>("mnuExit")->trigger();
    QCOMPARE(boxes.shown.value(0).buttons, MessageBoxes::YesNo);
    QCOMPARE(boxes.shown.value(0).icon, MessageBoxes::Question);
    QCOMPARE(boxes.taken(), QStringList({"Vantrel: Exit Application?"}));
    QVERIFY(unloaded.isEmpty());
    QVERIFY(window.isVisible());
    QVERIFY(window.tray().isRegistered());

    boxes.answer(MessageBoxes::Yes);
    window.findChild<QAction *>("mPopExit")->trigger();
    QCOMPARE(boxes.shown.size(), 1);
    QCOMPARE(unloaded.size(), 1);
    QVERIFY(!window.tray().isRegistered());
    QVERIFY(!window.relay().Timer1().isActive());
    QVERIFY(!window.isVisible());
}

void tst_mainwindow::exitInTheMiddleOfABatch()
{
    ProgramFolderFixture folder;
    ScriptedMessageBoxes boxes;
    folder.addUser("Ann", "+111", true);
    const QString mt4 = folder.addWatchedFolder("mt4");
    SimulatedModem modem({"--quiet", "--delay", "100"}, folder.path(), 1);
    writeAlerts(mt4, 1, 5);

    // Exit confirmed while the first alert's dialogue waits for the modem:
    // that dialogue ends and nothing more is sent. (The rest waits for the
    // next start: tst_restart, which ends the program the same way.)
    StartedProgram program;
    frmMain &window = program.window;
    window.showMainWindow();
    window.relay().Timer1().setInterval(50);
    QSignalSpy unloaded(&window, &frmMain::unloaded);
    connect(&window.relay().trace(), &QAbstractItemModel::rowsInserted, &window, [&] {
        if (unloaded.isEmpty() && window.relay().trace().lines().contains("Sending..AT+CMGF=1")) {
            boxes.answer(MessageBoxes::Yes);
            window.findChild<QAction *>("mnuExit")->trigger();
        }
    });
    QTRY_COMPARE_WITH_TIMEOUT(unloaded.size(), 1, 10000);
    QTRY_VERIFY(!window.relay().cycleRunning() && !window.relay().sending());
    QCOMPARE(modem.messages().size(), 1);
    QTest::qWait(300);
    QCOMPARE(modem.messages().size(), 1);
    QCOMPARE(folder.loggedMessages(), QStringList({"Alert 1"}));
}

void tst_mainwindow::noBoxHoldsUpTheRelay()
{
    Schema::ComRow com;
    com.port = 9; // COM9 names a device that is not there
    ProgramFolderFixture folder(com);
    const WidgetMessageBoxes boxes; // the program's own, real boxes
    folder.addUser("Ann", "+111", true);
    const QString mt4 = folder.addWatchedFolder("mt4");
    StartedProgram program(false);
    frmMain &window = program.window;
    window.showMainWindow();
    window.relay().Timer1().setInterval(50);
    window.relay().setRetryDelays({300, 300, 300, 300});
    const auto portBoxes = [] {
        const QWidgetList windows = QApplication::topLevelWidgets();
        return std::count_if(windows.cbegin(), windows.cend(), [](QWidget *w) {
            auto *box = qobject_cast<QMessageBox *>(w);
            return box && box->isVisible() && box->text() == "Invalid port number";
        });
    };

    // No modem on COM9, and no health round to find it out first: one box,
    // which waits for nobody; the next alert is taken and tried all the
    // same, and said in the page log.
    writeAlerts(mt4, 1, 1);
    QTRY_COMPARE_WITH_TIMEOUT(portBoxes(), 1, 10000);
    writeAlerts(mt4, 2, 2);
    QTRY_COMPARE_WITH_TIMEOUT(window.relay().pageLog().text().count("Not sent to Ann (+111): Invalid port number"), 2,
                              10000);
    QCOMPARE(portBoxes(), 1);
    QTRY_COMPARE(window.tray().tip(), QString("Vantrel: 2 SMS waiting to be retried"));
    // Their LOG rows are written all the same, after their first tries.
    QCOMPARE(folder.loggedMessages(), QStringList({"Alert 1", "Alert 2"}));

    // The modem comes: both go out on their next try, the box still up.
    SimulatedModem modem({"--quiet"}, folder.path(), 9);
    QTRY_COMPARE_WITH_TIMEOUT(modem.messages().size(), 2, 10000);
    QCOMPARE(portBoxes(), 1);
    QTRY_COMPARE(window.tray().tip(), QString("Vantrel"));
    QCOMPARE(frmMain::trayTip({0, 3, 0}), QString("Vantrel: 3 SMS given up"));
    QCOMPARE(frmMain::trayTip({2, 1, 0}), QString("Vantrel: 2 SMS waiting to be retried, 1 given up"));
    QCOMPARE(frmMain::trayTip({0, 0, 2}), QString("Vantrel: 2 SMS not delivered"));
    QCOMPARE(frmMain::trayTip({0, 0, 0}, {"COM2 down"}), QString("Vantrel: COM2 down"));
}

QTEST_MAIN(tst_mainwindow)
#include "tst_mainwindow.moc"
