#include "admin/frmLogin.h"
#include "ui_frmLogin.h"

#include "store/DbError.h"
#include "store/MessageBoxes.h"
#include "store/UpdateCom.h"

#include <QCloseEvent>
#include <QSystemTrayIcon>

frmLogin::frmLogin(QWidget *parent)
    : QWidget(parent, Qt::Window)
    , ui(std::make_unique<Ui::frmLogin>())
{
    ui->setupUi(this);
    setFixedSize(size());
    connect(ui->cmdLogin, &QPushButton::clicked, this, &frmLogin::cmdLogin_Click);
    connect(ui->cmdLoginCancel, &QPushButton::clicked, this, &frmLogin::cmdLoginCancel_Click);
    // Enter in either box logs in, as a person typing a password expects.
    connect(ui->txtUserName, &QLineEdit::returnPressed, this, &frmLogin::cmdLogin_Click);
    connect(ui->txtPassword, &QLineEdit::returnPressed, this, &frmLogin::cmdLogin_Click);
}

frmLogin::~frmLogin() = default;

void frmLogin::cmdLogin_Click()
{
    short rank = 0;
    try {
        rank = UpdateCom::CheckLogin(ui->txtUserName->text(), ui->txtPassword->text());
    } catch (const DbError &error) {
        // The check ends here; the window stays as it was, ready for another try.
        MsgBox(error.text(), MessageBoxes::OkOnly, QString(), MessageBoxes::Critical);
        return;
    }

    switch (rank) {
    case 0:
        MsgBox(QStringLiteral("User Name or Password is incorrect. Try again!"));
        ui->txtUserName->clear();
        ui->txtPassword->clear();
        ui->txtUserName->setFocus();
        break;
    case 1:
    case 2:
        m_admitted = true;
        close();
        emit loggedIn();
        break;
    default:
        // Other ranks are refused without a word.
        break;
    }
}

void frmLogin::cmdLoginCancel_Click()
{
    putAway();
}

void frmLogin::closeEvent(QCloseEvent *event)
{
    // A successful login lets the window go; the close box only puts it
    // away, like "Cancel": the program lives on in the tray.
    if (m_admitted) {
        event->accept();
        return;
    }
    event->ignore();
    putAway();
}

void frmLogin::putAway()
{
    // Without a notification area nothing could bring a hidden window back.
    if (QSystemTrayIcon::isSystemTrayAvailable())
        hide();
    else
        showMinimized();
}
