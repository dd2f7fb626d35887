// The windows at 96 dpi with the Tahoma-metric font, as a person sees them:
// every caption fits its control, every control of the Modems window has a
// place of its own, and the grids show their headers whole. Where the main
// window opens is in tst_mainwindow.

#include "admin/frmAbout.h"
#include "admin/frmLogin.h"
#include "admin/frmModems.h"
#include "admin/frmSettings.h"
#include "app/TahomaFont.h"
#include "app/frmMain.h"
#include "support/ProgramFolderFixture.h"
#include "support/ScriptedMessageBoxes.h"
#include "support/StartedProgram.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QStyle>
#include <QTableWidget>
#include <QtTest>

namespace {

// The caption as drawn: a single '&' marks the mnemonic, "&&" is one '&'.
QString drawn(QString text)
{
    text.replace(QLatin1String("&&"), QLatin1String("\x01"));
    text.remove(QLatin1Char('&'));
    return text.replace(QLatin1Char('\x01'), QLatin1Char('&'));
}

// What the caption needs beside what the control leaves for it; empty when
// it fits or the control has no caption.
QString misfit(const QWidget &control)
{
    const QFontMetrics metrics(control.font());
    const QStyle &style = *control.style();
    QString text;
    QSize needed;
    QSize room;
    if (const auto *label = qobject_cast<const QLabel *>(&control)) {
        text = drawn(label->text());
        room = label->contentsRect().size();
        // A wrapped label fits when all its lines do.
        const QRect column(0, 0, room.width(), 1000);
        needed = label->wordWrap() ? metrics.boundingRect(column, Qt::TextWordWrap, text).size()
                                   : QSize(metrics.horizontalAdvance(text), metrics.height());
    } else if (const auto *button = qobject_cast<const QAbstractButton *>(&control)) {
        text = drawn(button->text());
        // What the style draws around the caption: the check box's box, or
        // the push button's bevel and margin.
        const int around = qobject_cast<const QCheckBox *>(button)
                               ? style.pixelMetric(QStyle::PM_IndicatorWidth, nullptr, button)
                                     + style.pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, button)
                               : style.pixelMetric(QStyle::PM_ButtonMargin, nullptr, button)
                                     + 2 * style.pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, button);
        room = QSize(button->width() - around, button->height());
        needed = QSize(metrics.horizontalAdvance(text), metrics.height());
    } else if (const auto *frame = qobject_cast<const QGroupBox *>(&control)) {
        text = drawn(frame->title());
        room = frame->contentsRect().size();
        needed = QSize(metrics.horizontalAdvance(text), 0);
    }
    if (text.isEmpty() || (needed.width() <= room.width() && needed.height() <= room.height()))
        return QString();
    return QStringLiteral("%1 \"%2\" needs %3x%4, has %5x%6")
        .arg(control.objectName(), text)
        .arg(needed.width())
        .arg(needed.height())
        .arg(room.width())
        .arg(room.height());
}

// The pairs of a window's own controls that cover each other, and those
// that reach beyond it.
QStringList overlaps(const QWidget &window)
{
    QStringList found;
    const QList<QWidget *> controls = window.findChildren<QWidget *>(Qt::FindDirectChildrenOnly);
    for (qsizetype i = 0; i < controls.size(); ++i) {
        if (!window.rect().contains(controls[i]->geometry()))
            found << controls[i]->objectName() + QStringLiteral(" beyond the window");
        for (qsizetype j = i + 1; j < controls.size(); ++j) {
            if (controls[i]->geometry().intersects(controls[j]->geometry()))
                found << controls[i]->objectName() + QStringLiteral(" over ") + controls[j]->objectName();
        }
    }
    return found;
}

} // namespace

class tst_layout : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void captionsFit();
};

void tst_layout::initTestCase()
{
    if (!TahomaFont::ensure())
        QSKIP("No Tahoma here, and no metric-compatible copy (Debian's fonts-wine, /usr/share/wine/fonts): "
              "the captions fit only in Tahoma's widths. scripts/setup-machine.sh installs it.");
    QCOMPARE(QGuiApplication::primaryScreen()->logicalDotsPerInch(), 96.0);
}

void tst_layout::captionsFit()
{
    ProgramFolderFixture folder;
    ScriptedMessageBoxes boxes;
    for (int user = 1; user <= 20; ++user)
        folder.addUser(QString("User %1").arg(user), "111", true);
    folder.addWatchedFolder("mt4");
    StartedProgram program;
    frmMain &main = program.window;
    QCOMPARE(QFontInfo(main.font()).family(), QString("Tahoma"));
    frmLogin login;
    login.show();
    frmAbout about;
    about.show();
    frmSettings &settings = main.settingsWindow();
    settings.show();
    frmModems modems(program.relay.routes(), main);
    modems.show();
    // The user page fills its grid when selected.
    settings.findChild<QTabWidget *>("SSTab1")->setCurrentIndex(1);

    // The Settings window is the main window's child.
    QStringList found;
    for (const QWidget *window : std::initializer_list<const QWidget *>{&main, &login, &about, &modems}) {
        for (const QWidget *control : window->findChildren<QWidget *>()) {
            const QString why = misfit(*control);
            if (!why.isEmpty())
                found << why;
        }
    }
    found << overlaps(modems);
    QVERIFY2(found.isEmpty(), qPrintable(found.join("; ")));

    // Every header fits its column. The user grid is narrower than its
    // columns; the last header still shows whole in what is left of it,
    // also beside the scroll bar of a long list.
    auto *users = settings.findChild<QTableWidget *>("UserList");
    QTRY_VERIFY(users->verticalScrollBar()->isVisible());
    for (const auto *grid :
         {users, settings.findChild<QTableWidget *>("MT4PathList"), modems.findChild<QTableWidget *>("ModemList")}) {
        const QHeaderView &header = *grid->horizontalHeader();
        QCOMPARE(header.font(), grid->font());
        const int margin = header.style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, &header);
        for (int column = 0; column < header.count(); ++column) {
            const QString text = grid->horizontalHeaderItem(column)->text();
            const int start = header.sectionViewportPosition(column);
            const int textEnd = start + margin + header.fontMetrics().horizontalAdvance(text);
            QVERIFY2(textEnd + margin <= start + header.sectionSize(column), qPrintable(text));
            if (grid == users)
                QVERIFY2(textEnd <= grid->viewport()->width(), qPrintable(text));
        }
    }
}

QTEST_MAIN(tst_layout)
#include "tst_layout.moc"
