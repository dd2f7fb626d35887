// The "User List" page: the users who receive alerts, added, edited and
// removed by name. After every change the main window reloads its on-duty
// recipients, so the next alert goes to the new set of numbers.

#include "admin/frmSettings.h"
#include "ui_frmSettings.h"

#include "admin/MainLink.h"
#include "admin/SettingsGrid.h"
#include "store/Database.h"
#include "store/MessageBoxes.h"
#include "store/UpdateCom.h"
#include "store/Statements.h"

namespace {

// Grid columns of a user.
constexpr int NameColumn = 1;
constexpr int PhoneColumn = 2;
constexpr int DutyColumn = 3;

} // namespace

void frmSettings::showUserState(UserState state)
{
    // The grid and the two frames share one place: one of them is shown.
    ui->UserList->setVisible(state == UserState::Browsing);
    ui->frameUsers->setVisible(state == UserState::Adding);
    ui->framEditUsers->setVisible(state == UserState::Editing);
    const bool browsing = state == UserState::Browsing;
    ui->cmdAddUser->setEnabled(browsing);
    ui->cmdRemoveUser->setEnabled(browsing);
    ui->cmdEditUser->setEnabled(browsing);
}

void frmSettings::cmdAddUser_Click()
{
    // The add boxes keep what was typed last time.
    showUserState(UserState::Adding);
}

void frmSettings::cmdADD_Click()
{
    // Only empty text is blank: a name of spaces is a name.
    if (ui->txtAddUser->text().isEmpty()) {
        MsgBox(QStringLiteral("User Name must not be blank."));
        ui->txtAddUser->setFocus();
        return;
    }
    if (ui->txtAddPhone->text().isEmpty()) {
        MsgBox(QStringLiteral("Phone No. must not be blank."));
        ui->txtAddPhone->setFocus();
        return;
    }
    DbOperation([this] {
        // Names need not be unique. On_Duty takes the table's default: a
        // new user is off duty until edited.
        Recordset &rs = OpenRecordset(QString::fromLatin1(Statements::Users));
        rs.AddNew();
        rs.SetField(QStringLiteral("name"), ui->txtAddUser->text());
        rs.SetField(QStringLiteral("Phone_No"), ui->txtAddPhone->text());
        rs.Update();
        ReleaseRecordset();

        MsgBox(QStringLiteral("Already added new user."), MessageBoxes::OkOnly, QStringLiteral("Adding User"));
        // The frame stays open for the next user.
        ui->txtAddUser->clear();
        ui->txtAddPhone->clear();
        ui->txtAddUser->setFocus();
        m_main.GetPhoneNo();
    });
}

void frmSettings::cmdCancelAdd_Click()
{
    showUserState(UserState::Browsing);
    SSTab1_Click();
}

void frmSettings::Command3_Click()
{
    cmdCancelAdd_Click();
}

void frmSettings::UserList_DblClick()
{
    cmdEditUser_Click();
}

void frmSettings::cmdEditUser_Click()
{
    showUserState(UserState::Editing);
    DbOperation([this] {
        // The table is asked only whether it holds anyone; the values come
        // from the grid as it was last filled.
        if (OpenRecordset(QString::fromLatin1(Statements::Users)).Eof())
            return;
        const QTableWidget &grid = *ui->UserList;
        const int row = grid.currentRow();
        ui->txtEditUserName->setText(SettingsGrid::text(grid, row, NameColumn));
        ui->txtEditPhone->setText(SettingsGrid::text(grid, row, PhoneColumn));
        ui->chkDuty->setChecked(SettingsGrid::text(grid, row, DutyColumn) == QLatin1String("ON"));
    });
}

void frmSettings::cmdSaveUser_Click()
{
    if (ui->txtEditPhone->text().isEmpty())
        return;
    DbOperation([this] {
        // A name that is no longer there is passed over without a word.
        if (UpdateCom::UpdateUser(ui->txtEditUserName->text(), ui->txtEditPhone->text(), ui->chkDuty->isChecked()))
            MsgBox(QStringLiteral("Updated User!"));
        m_main.GetPhoneNo();
    });
}

void frmSettings::cmdRemoveUser_Click()
{
    if (MsgBox(QStringLiteral("Are you sure to delete user?"), MessageBoxes::YesNo, QStringLiteral("Confirm Delete"),
               MessageBoxes::NoIcon, MessageBoxes::Yes)
        != MessageBoxes::Yes)
        return;
    DbOperation([this] {
        Recordset &rs = OpenRecordset(QString::fromLatin1(Statements::Users));
        if (rs.Eof())
            return;
        // Every user of that name goes, the name compared letter for letter.
        // Without a current row there is no name, and nobody goes.
        const QTableWidget &grid = *ui->UserList;
        const int row = grid.currentRow();
        if (row >= 0)
            DeleteMatching(rs, QStringLiteral("name"), SettingsGrid::text(grid, row, NameColumn));
        ReleaseRecordset();
        m_main.GetPhoneNo();
        SSTab1_Click();
    });
}
