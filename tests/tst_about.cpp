// The About box: its texts and layout, OK on Enter and on Esc, and its
// modal showing from the main window's Help menu.

#include "admin/frmAbout.h"
#include "app/TahomaFont.h"
#include "app/frmMain.h"
#include "store/AppInfo.h"
#include "support/ProgramFolderFixture.h"
#include "support/ScriptedMessageBoxes.h"

#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QtTest>

class tst_about : public QObject
{
    Q_OBJECT

private slots:
    // The program's fonts, as main() sets them up.
    void initTestCase() { TahomaFont::ensure(); }
    void textsAndLayout();
    void okOnEnterAndEsc();
    void shownModallyFromHelpMenu();
};

void tst_about::textsAndLayout()
{
    frmAbout about;
    QCOMPARE(about.windowTitle(), QString("About Vantrel"));

    auto *title = about.findChild<QLabel *>("lblTitle");
    auto *version = about.findChild<QLabel *>("lblVersion");
    auto *description = about.findChild<QLabel *>("lblDescription");
    auto *ok = about.findChild<QPushButton *>("cmdOK");
    auto *line = about.findChild<QFrame *>("Line1");
    QVERIFY(title && version && description && ok && line);

    QCOMPARE(title->text(), QString("Vantrel"));
    QVERIFY(title->font().bold());
    QVERIFY(!version->font().bold());
    QCOMPARE(version->text(), QString("Version 1.1"));
    // Two numbers only, taken from the program's version, not from a literal.
    QVERIFY(QRegularExpression("^Version \\d+\\.\\d+$").match(version->text()).hasMatch());
    QCOMPARE(version->text(), QString("Version %1.%2").arg(AppInfo::major()).arg(AppInfo::minor()));
    QCOMPARE(description->text(), QString("Vantrel is designed to interface with Metatrader 4 for SMS add-on feature"));
    QCOMPARE(ok->text(), QString("OK"));
    QCOMPARE(line->frameShape(), QFrame::HLine);

    // Twips divided by 15.
    QCOMPARE(about.size(), QSize(382, 151));
    QCOMPARE(about.minimumSize(), about.maximumSize());
    QCOMPARE(title->geometry(), QRect(24, 16, 259, 24));
    QCOMPARE(version->geometry(), QRect(24, 40, 259, 15));
    QCOMPARE(line->geometry(), QRect(16, 88, 352, 2));
    QCOMPARE(description->geometry(), QRect(24, 104, 259, 38));
    QCOMPARE(ok->geometry(), QRect(296, 120, 76, 23));
    for (QWidget *widget : std::initializer_list<QWidget *>{&about, title, version, description, ok}) {
        QCOMPARE(widget->font().family(), QString("Tahoma"));
        QCOMPARE(widget->font().pointSizeF(), 8.25);
    }
}

void tst_about::okOnEnterAndEsc()
{
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
        frmAbout about;
        about.show();
        QVERIFY(QTest::qWaitForWindowExposed(&about));
        QSignalSpy pressed(about.findChild<QPushButton *>("cmdOK"), &QPushButton::clicked);
        QTest::keyClick(&about, key);
        QCOMPARE(pressed.size(), 1);
        QVERIFY(!about.isVisible());
        QCOMPARE(about.result(), int(QDialog::Accepted));
    }
}

void tst_about::shownModallyFromHelpMenu()
{
    ProgramFolderFixture folder;
    ScriptedMessageBoxes boxes;
    frmMain window;
    window.Form_Load();

    QString seen;
    bool modal = false;
    QTimer::singleShot(0, [&] {
        QWidget *box = QApplication::activeModalWidget();
        if (!box)
            return;
        seen = box->windowTitle();
        modal = box->isModal();
        QTest::keyClick(box, Qt::Key_Return);
    });
    // Should OK not close it, the test ends anyway.
    QTimer guard;
    guard.setSingleShot(true);
    connect(&guard, &QTimer::timeout, [] {
        if (QWidget *box = QApplication::activeModalWidget())
            box->close();
    });
    guard.start(5000);

    window.findChild<QAction *>("mnuAbout")->trigger();
    QCOMPARE(seen, QString("About Vantrel"));
    QVERIFY(modal);
    QVERIFY(guard.isActive());
}

QTEST_MAIN(tst_about)
#include "tst_about.moc"
