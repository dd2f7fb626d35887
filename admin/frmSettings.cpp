#include "admin/frmSettings.h"
#include "ui_frmSettings.h"

#include "admin/MainLink.h"
#include "admin/SettingsGrid.h"
#include "pickup/AlertRelay.h"
#include "store/Database.h"
#include "store/MessageBoxes.h"
#include "store/Statements.h"

#include <QCloseEvent>

namespace {

// 9945 by 6330 twips, border and caption included.
constexpr QSize OuterSize(663, 422);

} // namespace

frmSettings::frmSettings(MainLink &main, QWidget *parent)
    : QDialog(parent)
    , ui(std::make_unique<Ui::frmSettings>())
    , m_main(main)
    , MSComm1(this)
    , m_pickFolder(&frmSettings::BrowseForFolder)
{
    ui->setupUi(this);
    // Fixed dialog border: no minimise or maximise button, no resizing.
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint
                   | Qt::MSWindowsFixedSizeDialogHint);
    MSComm1.setObjectName(QStringLiteral("MSComm1"));
    // The trace belongs to the relay, which writes it whether or not this
    // window exists; the list only shows it.
    ui->lstResponse->setModel(&m_main.relay().trace());
    // The newest line of the dialogue is the one to see.
    connect(&m_main.relay().trace(), &QAbstractItemModel::rowsInserted, ui->lstResponse, &QListView::scrollToBottom);

    connect(ui->SSTab1, &QTabWidget::currentChanged, this, &frmSettings::SSTab1_Click);

    connect(ui->cmdAdvancedSetup, &QPushButton::clicked, this, &frmSettings::cmdAdvancedSetup_Click);
    connect(ui->cmdComOK, &QPushButton::clicked, this, &frmSettings::cmdComOK_Click);
    connect(ui->cmdComCancel, &QPushButton::clicked, this, &frmSettings::cmdComCancel_Click);
    connect(ui->cmdTestModem, &QPushButton::clicked, this, &frmSettings::cmdTestModem_Click);
    connect(&MSComm1, &MSComm::OnComm, this, &frmSettings::MSComm1_OnComm);

    connect(ui->cmdAddUser, &QPushButton::clicked, this, &frmSettings::cmdAddUser_Click);
    connect(ui->cmdEditUser, &QPushButton::clicked, this, &frmSettings::cmdEditUser_Click);
    connect(ui->UserList, &QTableWidget::cellDoubleClicked, this, &frmSettings::UserList_DblClick);
    connect(ui->cmdRemoveUser, &QPushButton::clicked, this, &frmSettings::cmdRemoveUser_Click);
    connect(ui->cmdADD, &QPushButton::clicked, this, &frmSettings::cmdADD_Click);
    connect(ui->cmdCancelAdd, &QPushButton::clicked, this, &frmSettings::cmdCancelAdd_Click);
    connect(ui->cmdSaveUser, &QPushButton::clicked, this, &frmSettings::cmdSaveUser_Click);
    connect(ui->Command3, &QPushButton::clicked, this, &frmSettings::Command3_Click);

    connect(ui->cmdAddPath, &QPushButton::clicked, this, &frmSettings::cmdAddPath_Click);
    connect(ui->cmdBrowse, &QPushButton::clicked, this, &frmSettings::cmdBrowse_Click);
    connect(ui->cmdSavePath, &QPushButton::clicked, this, &frmSettings::cmdSavePath_Click);
    connect(ui->cmdCancelPath, &QPushButton::clicked, this, &frmSettings::cmdCancelPath_Click);
    connect(ui->cmdRemovePath, &QPushButton::clicked, this, &frmSettings::cmdRemovePath_Click);

    connect(ui->cmdSend, &QPushButton::clicked, this, &frmSettings::cmdSend_Click);

    Form_Load();
}

frmSettings::~frmSettings() = default;

void frmSettings::setFolderPicker(FolderPicker picker)
{
    m_pickFolder = std::move(picker);
}

void frmSettings::Form_Load()
{
    setOuterSize();
    EnumeratePorts();
    showComSettings();
    SSTab1_Click();
}

void frmSettings::Form_Unload()
{
    // The next Settings window starts with an empty Response list, and the
    // main window comes back from the taskbar.
    m_main.relay().trace().Clear();
    m_main.setNormalState();
}

void frmSettings::SSTab1_Click()
{
    // Every selection reads the page's table afresh; the tables are small.
    switch (ui->SSTab1->currentIndex()) {
    case UserPage:
        DbOperation([this] { FillUserList(); });
        break;
    case PathPage:
        DbOperation([this] { FillMT4PathList(); });
        break;
    default:
        break;
    }
}

void frmSettings::FillUserList()
{
    QTableWidget &grid = *ui->UserList;
    // Only the cells are blanked: an empty table leaves the old number of
    // rows, all of them blank.
    grid.clearContents();
    SettingsGrid::dress(grid, {QStringLiteral("SR NO."), QStringLiteral("NAME"), QStringLiteral("Phone No."),
                               QStringLiteral("SMS ENABLE")},
                        450, {SettingsGrid::FitHeader, 2000, 2000, 2000});
    Recordset &rs = OpenRecordset(QString::fromLatin1(Statements::Users));
    if (rs.Bof() && rs.Eof())
        return;
    grid.setRowCount(rs.RecordCount());
    // The first column numbers the rows; the users have no key of their own.
    for (int row = 0; !rs.Eof(); ++row, rs.MoveNext()) {
        SettingsGrid::setText(grid, row, 0, QString::number(row + 1));
        SettingsGrid::setText(grid, row, 1, rs.Field(QStringLiteral("name")).toString());
        SettingsGrid::setText(grid, row, 2, rs.Field(QStringLiteral("Phone_No")).toString());
        // A user without a flag is off duty.
        const bool onDuty = rs.Field(QStringLiteral("On_Duty")).toBool();
        SettingsGrid::setText(grid, row, 3, onDuty ? QStringLiteral("ON") : QStringLiteral("OFF"));
    }
    SettingsGrid::keepCurrentRow(grid);
}

void frmSettings::FillMT4PathList()
{
    QTableWidget &grid = *ui->MT4PathList;
    grid.clearContents();
    SettingsGrid::dress(grid, {QStringLiteral("ID"), QStringLiteral("Monitor MT4 Path")}, 450, {1000, 5000});
    Recordset &rs = OpenRecordset(QString::fromLatin1(Statements::Mt4Paths));
    if (rs.Bof() && rs.Eof())
        return;
    grid.setRowCount(rs.RecordCount());
    // The row's position, not the record's ID: IDs have gaps after removals.
    for (int row = 0; !rs.Eof(); ++row, rs.MoveNext()) {
        SettingsGrid::setText(grid, row, 0, QString::number(row + 1));
        SettingsGrid::setText(grid, row, 1, rs.Field(QStringLiteral("MT4_PATH")).toString());
    }
    SettingsGrid::keepCurrentRow(grid);
}

void frmSettings::DbOperation(const std::function<void()> &operation)
{
    try {
        operation();
    } catch (const DbError &error) {
        ReleaseRecordset();
        MsgBox(error.text(), MessageBoxes::OkOnly, QString(), MessageBoxes::Critical);
        return;
    }
    ReleaseRecordset();
}

Recordset &frmSettings::OpenRecordset(const QString &statement)
{
    ReleaseRecordset();
    Cn = std::make_unique<Connection>();
    Cn->Open();
    rsRecordSet = std::make_unique<Recordset>();
    rsRecordSet->Open(statement, *Cn);
    return *rsRecordSet;
}

void frmSettings::ReleaseRecordset()
{
    rsRecordSet.reset();
    Cn.reset();
}

void frmSettings::DeleteMatching(Recordset &rs, const QString &field, const QString &value)
{
    for (; !rs.Eof(); rs.MoveNext()) {
        const QVariant stored = rs.Field(field);
        if (!stored.isNull() && stored.toString() == value)
            rs.Delete();
    }
}

frmSettings::Waiting::Waiting(frmSettings &window)
    : window(window)
{
    ++window.m_waiting;
}

frmSettings::Waiting::~Waiting()
{
    if (--window.m_waiting == 0 && window.m_unloaded)
        window.deleteLater();
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
    m_unloaded = true;
    // Only the close box ends the window; "Cancel" and Esc merely hide it.
    if (m_waiting == 0)
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
    // The layout places each page's controls relative to the whole tab
    // control, tab strip included; the pages begin below the strip.
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
