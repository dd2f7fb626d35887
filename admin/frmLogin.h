#pragma once

#include <QWidget>
#include <memory>

namespace Ui {
class frmLogin;
}

// The login window: checks a user name and password against the accounts.
// It does not know the main window; whoever shows it listens to loggedIn().
class frmLogin : public QWidget
{
    Q_OBJECT

public:
    explicit frmLogin(QWidget *parent = nullptr);
    ~frmLogin() override;

signals:
    // The account admits the user. The window has already been closed.
    void loggedIn();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void cmdLogin_Click();
    void cmdLoginCancel_Click();
    // Ends the program when no other window of it is on screen.
    void endIfNothingShown();

    std::unique_ptr<Ui::frmLogin> ui;
};
