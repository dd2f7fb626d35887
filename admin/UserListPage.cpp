#include "admin/UserListPage.h"
#include "ui_UserListPage.h"

#include "admin/DbOperation.h"
#include "admin/MainLink.h"
#include "admin/SettingsGrid.h"
#include "store/MessageBoxes.h"
#include "store/PhoneNumber.h"
#include "store/UpdateCom.h"
#include "store/UserTable.h"

namespace {

// Grid columns of a user.
constexpr int NameColumn = 1;
constexpr int PhoneColumn = 2;
constexpr int DutyColumn = 3;

// A number the modem could not take is refused before it is stored; the
// number is stored as typed otherwise. False when refused.
bool acceptedNumber(QLineEdit &box)
{
    if (PhoneNumber::isValid(box.text()))
        return true;
    MsgBox(PhoneNumber::refusalText());
    box.setFocus();
    return false;
}

} // namespace

UserListPage::UserListPage(QWidget *parent)
    : QWidget(parent)
    , ui(std::make_unique<Ui::UserListPage>())
{
    ui->setupUi(this);
    connect(ui->cmdAddUser, &QPushButton::clicked, this, &UserListPage::cmdAddUser_Click);
    connect(ui->cmdEditUser, &QPushButton::clicked, this, &UserListPage::cmdEditUser_Click);
    connect(ui->UserList, &QTableWidget::cellDoubleClicked, this, &UserListPage::UserList_DblClick);
    connect(ui->cmdRemoveUser, &QPushButton::clicked, this, &UserListPage::cmdRemoveUser_Click);
    connect(ui->cmdADD, &QPushButton::clicked, this, &UserListPage::cmdADD_Click);
    connect(ui->cmdCancelAdd, &QPushButton::clicked, this, &UserListPage::cmdCancelAdd_Click);
    connect(ui->cmdSaveUser, &QPushButton::clicked, this, &UserListPage::cmdSaveUser_Click);
    connect(ui->Command3, &QPushButton::clicked, this, &UserListPage::Command3_Click);
}

UserListPage::~UserListPage() = default;

void UserListPage::attach(MainLink &main)
{
    m_main = &main;
}

void UserListPage::FillUserList()
{
    QTableWidget &grid = *ui->UserList;
    // Only the cells are blanked: an empty table leaves the old number of
    // rows, all of them blank.
    grid.clearContents();
    SettingsGrid::dress(
        grid,
        {QStringLiteral("SR NO."), QStringLiteral("NAME"), QStringLiteral("Phone No."), QStringLiteral("SMS ENABLE")},
        450, {SettingsGrid::FitHeader, 2000, 2000, 2000});
    const QList<UserTable::User> users = UserTable::rows();
    if (users.isEmpty())
        return;
    grid.setRowCount(int(users.size()));
    // The first column numbers the rows; the users have no key of their own.
    for (int row = 0; row < users.size(); ++row) {
        const UserTable::User &user = users[row];
        SettingsGrid::setText(grid, row, 0, QString::number(row + 1));
        SettingsGrid::setText(grid, row, NameColumn, user.name);
        SettingsGrid::setText(grid, row, PhoneColumn, user.phoneNo);
        SettingsGrid::setText(grid, row, DutyColumn, user.onDuty ? QStringLiteral("ON") : QStringLiteral("OFF"));
    }
    SettingsGrid::keepCurrentRow(grid);
}

void UserListPage::showUserState(UserState state)
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

void UserListPage::cmdAddUser_Click()
{
    // The add boxes keep what was typed last time.
    showUserState(UserState::Adding);
}

void UserListPage::cmdADD_Click()
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
    if (!acceptedNumber(*ui->txtAddPhone))
        return;
    DbOperation([this] {
        // Names need not be unique.
        UserTable::add(ui->txtAddUser->text(), ui->txtAddPhone->text());
        MsgBox(QStringLiteral("Already added new user."), MessageBoxes::OkOnly, QStringLiteral("Adding User"));
        // The frame stays open for the next user.
        ui->txtAddUser->clear();
        ui->txtAddPhone->clear();
        ui->txtAddUser->setFocus();
        m_main->GetPhoneNo();
    });
}

void UserListPage::cmdCancelAdd_Click()
{
    showUserState(UserState::Browsing);
    emit refillWanted();
}

void UserListPage::Command3_Click()
{
    cmdCancelAdd_Click();
}

void UserListPage::UserList_DblClick()
{
    cmdEditUser_Click();
}

void UserListPage::cmdEditUser_Click()
{
    showUserState(UserState::Editing);
    DbOperation([this] {
        // The table is asked only whether it holds anyone; the values come
        // from the grid as it was last filled.
        if (UserTable::isEmpty())
            return;
        const QTableWidget &grid = *ui->UserList;
        const int row = grid.currentRow();
        ui->txtEditUserName->setText(SettingsGrid::text(grid, row, NameColumn));
        ui->txtEditPhone->setText(SettingsGrid::text(grid, row, PhoneColumn));
        ui->chkDuty->setChecked(SettingsGrid::text(grid, row, DutyColumn) == QLatin1String("ON"));
    });
}

void UserListPage::cmdSaveUser_Click()
{
    if (ui->txtEditPhone->text().isEmpty() || !acceptedNumber(*ui->txtEditPhone))
        return;
    DbOperation([this] {
        // A name that is no longer there is passed over without a word.
        if (UpdateCom::UpdateUser(ui->txtEditUserName->text(), ui->txtEditPhone->text(), ui->chkDuty->isChecked()))
            MsgBox(QStringLiteral("Updated User!"));
        m_main->GetPhoneNo();
    });
}

void UserListPage::cmdRemoveUser_Click()
{
    if (MsgBox(QStringLiteral("Are you sure to delete user?"), MessageBoxes::YesNo, QStringLiteral("Confirm Delete"),
               MessageBoxes::NoIcon, MessageBoxes::Yes)
        != MessageBoxes::Yes)
        return;
    DbOperation([this] {
        if (UserTable::isEmpty())
            return;
        // Every user of that name goes, the name compared letter for letter.
        // Without a current row there is no name, and nobody goes.
        const QTableWidget &grid = *ui->UserList;
        const int row = grid.currentRow();
        if (row >= 0)
            UserTable::removeNamed(SettingsGrid::text(grid, row, NameColumn));
        m_main->GetPhoneNo();
        emit refillWanted();
    });
}
