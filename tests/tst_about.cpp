// The About box: its texts and layout, and OK on Enter and on Esc. Its
// modal showing from the Help menu is in tst_mainwindow.

#include "admin/frmAbout.h"
#include "app/TahomaFont.h"
#include "store/AppInfo.h"
#include "support/WindowDriver.h"

#include <QFrame>
#include <QtTest>

class tst_about : public QObject
{
    Q_OBJECT

private slots:
    // The program's fonts, as main() sets them up.
    void initTestCase() { TahomaFont::ensure(); }
    void textsAndLayout();
    void okOnEnterAndEsc();
};

void tst_about::textsAndLayout()
{
    frmAbout about;
    QCOMPARE(about.windowTitle(), QString("About Vantrel"));
    // Twips divided by 15.
    QCOMPARE(about.size(), QSize(382, 151));
    QCOMPARE(about.minimumSize(), about.maximumSize());
    QCOMPARE(about.font().family(), QString("Tahoma"));
    QCOMPARE(about.font().pointSizeF(), 8.25);

    const struct {
        const char *name;
        QString text;
        QRect geometry;
        bool bold;
    } controls[] = {
        {"lblTitle", "Vantrel", {24, 16, 259, 24}, true},
        {"lblVersion", "Version 1.1", {24, 40, 259, 15}, false},
        {"lblDescription",
         "Vantrel is designed to interface with Metatrader 4 for SMS add-on feature",
         {24, 104, 259, 38},
         false},
        {"cmdOK", "OK", {296, 120, 76, 23}, false},
    };
    for (const auto &control : controls) {
        QWidget *widget = find(about, control.name);
        QCOMPARE(widget->property("text").toString(), control.text);
        QCOMPARE(widget->geometry(), control.geometry);
        QCOMPARE(widget->font().bold(), control.bold);
        QCOMPARE(widget->font().family(), QString("Tahoma"));
        QCOMPARE(widget->font().pointSizeF(), 8.25);
    }
    // The version is the program's own, major and minor only.
    QCOMPARE(find(about, "lblVersion")->property("text").toString(),
             QString("Version %1.%2").arg(AppInfo::major()).arg(AppInfo::minor()));
    auto *line = find<QFrame>(about, "Line1");
    QCOMPARE(line->frameShape(), QFrame::HLine);
    QCOMPARE(line->geometry(), QRect(16, 88, 352, 2));
}

void tst_about::okOnEnterAndEsc()
{
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
        frmAbout about;
        about.show();
        QVERIFY(QTest::qWaitForWindowExposed(&about));
        QSignalSpy pressed(find<QPushButton>(about, "cmdOK"), &QPushButton::clicked);
        QTest::keyClick(&about, key);
        QCOMPARE(pressed.size(), 1);
        QVERIFY(!about.isVisible());
        QCOMPARE(about.result(), int(QDialog::Accepted));
    }
}

QTEST_MAIN(tst_about)
#include "tst_about.moc"
