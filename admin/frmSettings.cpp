#include "admin/frmSettings.h"
#include "ui_frmSettings.h"

#include "admin/DbOperation.h"
#include "admin/MainLink.h"
#include "modem/TraceList.h"

#include <QCloseEvent>

namespace {

// 9945 by 6330 twips, border and caption included.
constexpr QSize OuterSize(663, 422);

} // namespace

frmSettings::frmSettings(MainLink &main, QWidget *parent)
    : QDialog(parent)
    , ui(std::make_unique<Ui::frmSettings>())
    , m_main(main)
{
    ui->setupUi(this);
    // Fixed dialog border: no minimise or maximise button, no resizing.
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint
                   | Qt::MSWindowsFixedSizeDialogHint);
    ui->tabCom->attach(m_main);
    ui->tabUsers->attach(m_main);
    ui->tabPaths->attach(m_main);
    ui->tabTest->attach(m_main);
    ui->tabFlood->attach(m_main);
    ui->tabReplies->attach(m_main);

    connect(ui->SSTab1, &QTabWidget::currentChanged, this, &frmSettings::SSTab1_Click);
    connect(ui->tabUsers, &UserListPage::refillWanted, this, &frmSettings::SSTab1_Click);
    connect(ui->tabPaths, &MT4PathListPage::refillWanted, this, &frmSettings::SSTab1_Click);

    Form_Load();
}

frmSettings::~frmSettings() = default;

void frmSettings::setFolderPicker(FolderPicker picker)
{
    ui->tabPaths->setFolderPicker(std::move(picker));
}

void frmSettings::Form_Load()
{
    setOuterSize();
    ui->tabCom->EnumeratePorts();
    ui->tabCom->showComSettings();
    SSTab1_Click();
}

void frmSettings::Form_Unload()
{
    // The next Settings window starts with an empty Response list, and the
    // main window comes back from the taskbar.
    m_main.trace().Clear();
    m_main.setNormalState();
}

void frmSettings::SSTab1_Click()
{
    // Every selection reads the page's table afresh; the tables are small.
    switch (ui->SSTab1->currentIndex()) {
    case UserPage:
        DbOperation([this] { ui->tabUsers->FillUserList(); });
        break;
    case PathPage:
        DbOperation([this] { ui->tabPaths->FillMT4PathList(); });
        break;
    case FloodsPage:
        ui->tabFlood->showFloodOptions();
        break;
    case RepliesPage:
        ui->tabReplies->showReplyOptions();
        break;
    default:
        break;
    }
}

void frmSettings::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    placePages();
    // Now that the window is on screen its border is known.
    setOuterSize();
}

void frmSettings::closeEvent(QCloseEvent *event)
{
    Form_Unload();
    // Only the close box ends the window; "Cancel" and Esc merely hide it.
    // Nothing of it waits: a test or a send under way tells a page that is
    // gone nothing.
    setAttribute(Qt::WA_DeleteOnClose);
    event->accept();
}

void frmSettings::setOuterSize()
{
    const QSize border = frameGeometry().size() - geometry().size();
    setFixedSize(OuterSize - border);
}

void frmSettings::placePages()
{
    // Each page's form places its controls relative to the whole tab
    // control, tab strip included, as the window's layout is given; the
    // pages begin below the strip, whose height is the style's.
    if (m_pagesPlaced)
        return;
    m_pagesPlaced = true;
    for (int i = 0; i < ui->SSTab1->count(); ++i) {
        QWidget *page = ui->SSTab1->widget(i);
        const QPoint offset = page->mapTo(ui->SSTab1, QPoint(0, 0));
        for (QWidget *control : page->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
            control->move(control->pos() - offset);
    }
}
