#pragma once

#include <QWidget>
#include <memory>

namespace Ui {
class UserListPage;
}
class MainLink;

// The "User List" page of the Settings window: the users who receive
// alerts, added, edited and removed by name. After every change the main
// window reloads its on-duty recipients, so the next alert goes to the new
// set of numbers.
class UserListPage : public QWidget
{
    Q_OBJECT

public:
    explicit UserListPage(QWidget *parent = nullptr);
    ~UserListPage() override;

    // The window's main window; given once, right after the window has set
    // up its form.
    void attach(MainLink &main);

    // Reads the table afresh into the grid.
    void FillUserList();

signals:
    // The grid no longer shows the table: the window refills the grid of
    // its current page, as selecting a page does.
    void refillWanted();

private:
    enum class UserState { Browsing, Adding, Editing };

    void showUserState(UserState state);
    void cmdAddUser_Click();
    void cmdEditUser_Click();
    void UserList_DblClick();
    void cmdRemoveUser_Click();
    void cmdADD_Click();
    void cmdCancelAdd_Click();
    void cmdSaveUser_Click();
    void Command3_Click();

    std::unique_ptr<Ui::UserListPage> ui;
    MainLink *m_main = nullptr;
};
