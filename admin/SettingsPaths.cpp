// The "MT4 Path List" page: the folders in which MT4 terminals leave their
// alert files. The relay follows every change at once: a folder saved here
// is watched from that moment, one removed is no longer.

#include "admin/frmSettings.h"
#include "ui_frmSettings.h"

#include "admin/MainLink.h"
#include "admin/SettingsGrid.h"
#include "store/Database.h"
#include "store/MessageBoxes.h"
#include "store/Statements.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

namespace {

constexpr int PathColumn = 1;

} // namespace

QString frmSettings::BrowseForFolder(QWidget *owner, const QString &startIn)
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

QString frmSettings::browseStartFolder() const
{
    // A new MT4 folder usually lies near the ones already watched.
    const QTableWidget &grid = *ui->MT4PathList;
    const QString selected = QDir::fromNativeSeparators(SettingsGrid::text(grid, grid.currentRow(), PathColumn));
    if (!selected.isEmpty() && QFileInfo(selected).isDir())
        return selected;
    return QDir::homePath();
}

void frmSettings::showPathAdding(bool adding)
{
    // The frame lies over the grid. While it is open, the path box takes a
    // folder only from the picker.
    ui->txtMT4Path->setEnabled(adding);
    ui->txtMT4Path->setReadOnly(adding);
    ui->MT4PathList->setEnabled(!adding);
    ui->framAddPath->setVisible(adding);
}

void frmSettings::cmdAddPath_Click()
{
    showPathAdding(true);
}

void frmSettings::cmdBrowse_Click()
{
    // A cancelled picker empties the box.
    ui->txtMT4Path->setText(m_pickFolder(this, browseStartFolder()));
}

void frmSettings::cmdSavePath_Click()
{
    if (ui->txtMT4Path->text().isEmpty()) {
        MsgBox(QStringLiteral("MT4 Path must not be blank."));
        ui->txtMT4Path->setFocus();
        return;
    }
    DbOperation([this] {
        // A folder stored already is stored again.
        Recordset &rs = OpenRecordset(QString::fromLatin1(Statements::Mt4Paths));
        rs.AddNew();
        rs.SetField(QStringLiteral("MT4_PATH"), ui->txtMT4Path->text());
        rs.Update();
        ReleaseRecordset();

        m_main.GetPathList();
        MsgBox(QStringLiteral("Already added new path."), MessageBoxes::OkOnly, QStringLiteral("Adding MT4 Path"));
        // The frame stays open for the next folder.
        ui->txtMT4Path->clear();
        ui->txtMT4Path->setFocus();
    });
}

void frmSettings::cmdCancelPath_Click()
{
    showPathAdding(false);
    SSTab1_Click();
}

void frmSettings::cmdRemovePath_Click()
{
    if (MsgBox(QStringLiteral("Are you sure to delete path?"), MessageBoxes::YesNo, QStringLiteral("Confirm Delete"))
        != MessageBoxes::Yes)
        return;
    DbOperation([this] {
        Recordset &rs = OpenRecordset(QString::fromLatin1(Statements::Mt4Paths));
        if (rs.Eof())
            return;
        // Every row of that folder goes, spelled exactly as the grid shows it.
        const QTableWidget &grid = *ui->MT4PathList;
        const int row = grid.currentRow();
        if (row >= 0)
            DeleteMatching(rs, QStringLiteral("MT4_PATH"), SettingsGrid::text(grid, row, PathColumn));
        ReleaseRecordset();
        m_main.GetPathList();
        SSTab1_Click();
    });
}
