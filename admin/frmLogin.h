#pragma once

#include <QWidget>
#include <memory>

namespace Ui {
class frmLogin;
}

// The login window: checks a user name and password against the accounts.
// It guards the main window only: the relay runs whether or not anybody has
// logged in. It does not know the main window; whoever shows it listens to
// loggedIn().
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
    // Out of the way until it is asked for again from the tray.
    void putAway();

    std::unique_ptr<Ui::frmLogin> ui;
    bool m_admitted = false;
};
