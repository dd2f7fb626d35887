#include "admin/MT4PathListPage.h"
#include "ui_MT4PathListPage.h"

#include "admin/DbOperation.h"
#include "admin/MainLink.h"
#include "admin/SettingsGrid.h"
#include "store/MessageBoxes.h"
#include "store/PathTable.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

namespace {

constexpr int PathColumn = 1;

} // namespace

MT4PathListPage::MT4PathListPage(QWidget *parent)
    : QWidget(parent)
    , ui(std::make_unique<Ui::MT4PathListPage>())
    , m_pickFolder(&MT4PathListPage::BrowseForFolder)
{
    ui->setupUi(this);
    connect(ui->cmdAddPath, &QPushButton::clicked, this, &MT4PathListPage::cmdAddPath_Click);
    connect(ui->cmdBrowse, &QPushButton::clicked, this, &MT4PathListPage::cmdBrowse_Click);
    connect(ui->cmdSavePath, &QPushButton::clicked, this, &MT4PathListPage::cmdSavePath_Click);
    connect(ui->cmdCancelPath, &QPushButton::clicked, this, &MT4PathListPage::cmdCancelPath_Click);
    connect(ui->cmdRemovePath, &QPushButton::clicked, this, &MT4PathListPage::cmdRemovePath_Click);
}

MT4PathListPage::~MT4PathListPage() = default;

void MT4PathListPage::attach(MainLink &main)
{
    m_main = &main;
}

void MT4PathListPage::setFolderPicker(FolderPicker picker)
{
    m_pickFolder = std::move(picker);
}

void MT4PathListPage::FillMT4PathList()
{
    QTableWidget &grid = *ui->MT4PathList;
    grid.clearContents();
    SettingsGrid::dress(grid, {QStringLiteral("ID"), QStringLiteral("Monitor MT4 Path")}, 450, {1000, 5000});
    const QStringList folders = PathTable::rows();
    if (folders.isEmpty())
        return;
    grid.setRowCount(int(folders.size()));
    // The row's position, not the record's ID: IDs have gaps after removals.
    for (int row = 0; row < folders.size(); ++row) {
        SettingsGrid::setText(grid, row, 0, QString::number(row + 1));
        SettingsGrid::setText(grid, row, PathColumn, folders[row]);
    }
    SettingsGrid::keepCurrentRow(grid);
}

QString MT4PathListPage::BrowseForFolder(QWidget *owner, const QString &startIn)
{
    // Opened on an existing folder, the picker's name box stays empty and
    // "Choose" takes the folder selected in the list, or else the one shown.
    QFileDialog picker(owner, QStringLiteral("C:\\"), startIn);
    picker.setFileMode(QFileDialog::Directory);
    picker.setOption(QFileDialog::ShowDirsOnly);
    if (picker.exec() != QDialog::Accepted)
        return QString();
    return QDir::toNativeSeparators(picker.selectedFiles().value(0));
}

QString MT4PathListPage::browseStartFolder() const
{
    // A new MT4 folder usually lies near the ones already watched.
    const QTableWidget &grid = *ui->MT4PathList;
    QString selected = QDir::fromNativeSeparators(SettingsGrid::text(grid, grid.currentRow(), PathColumn));
    if (!selected.isEmpty() && QFileInfo(selected).isDir())
        return selected;
    return QDir::homePath();
}

void MT4PathListPage::showPathAdding(bool adding)
{
    // The frame lies over the grid. While it is open, the path box takes a
    // folder only from the picker.
    ui->txtMT4Path->setEnabled(adding);
    ui->txtMT4Path->setReadOnly(adding);
    ui->MT4PathList->setEnabled(!adding);
    ui->framAddPath->setVisible(adding);
}

void MT4PathListPage::cmdAddPath_Click()
{
    showPathAdding(true);
}

void MT4PathListPage::cmdBrowse_Click()
{
    // The picker belongs to the Settings window. A cancelled picker empties
    // the box.
    ui->txtMT4Path->setText(m_pickFolder(window(), browseStartFolder()));
}

void MT4PathListPage::cmdSavePath_Click()
{
    if (ui->txtMT4Path->text().isEmpty()) {
        MsgBox(QStringLiteral("MT4 Path must not be blank."));
        ui->txtMT4Path->setFocus();
        return;
    }
    DbOperation([this] {
        PathTable::add(ui->txtMT4Path->text());
        m_main->GetPathList();
        MsgBox(QStringLiteral("Already added new path."), MessageBoxes::OkOnly, QStringLiteral("Adding MT4 Path"));
        // The frame stays open for the next folder.
        ui->txtMT4Path->clear();
        ui->txtMT4Path->setFocus();
    });
}

void MT4PathListPage::cmdCancelPath_Click()
{
    showPathAdding(false);
    emit refillWanted();
}

void MT4PathListPage::cmdRemovePath_Click()
{
    if (MsgBox(QStringLiteral("Are you sure to delete path?"), MessageBoxes::YesNo, QStringLiteral("Confirm Delete"))
        != MessageBoxes::Yes)
        return;
    DbOperation([this] {
        if (PathTable::isEmpty())
            return;
        // Every row of that folder goes, spelled exactly as the grid shows it.
        const QTableWidget &grid = *ui->MT4PathList;
        const int row = grid.currentRow();
        if (row >= 0)
            PathTable::removeFolder(SettingsGrid::text(grid, row, PathColumn));
        m_main->GetPathList();
        emit refillWanted();
    });
}
