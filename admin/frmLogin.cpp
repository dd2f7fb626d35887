#include "admin/frmLogin.h"
#include "ui_frmLogin.h"

#include "store/DbError.h"
#include "store/MessageBoxes.h"
#include "store/UpdateCom.h"

#include <QApplication>
#include <QCloseEvent>

#include <algorithm>

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
    hide();
    endIfNothingShown();
}

void frmLogin::closeEvent(QCloseEvent *event)
{
    event->accept();
    // The close box: with nothing else on screen the program is done. A
    // close from code (a successful login) hands over to the main window.
    if (event->spontaneous())
        endIfNothingShown();
}

void frmLogin::endIfNothingShown()
{
    const QWidgetList windows = QApplication::topLevelWidgets();
    const bool otherShown = std::any_of(windows.cbegin(), windows.cend(), [this](QWidget *window) {
        return window != this && window->isVisible()
               && (window->windowType() == Qt::Window || window->windowType() == Qt::Dialog);
    });
    // The program keeps running when its last window closes (it lives in
    // the tray), so a hidden login window would leave nothing to reach it.
    if (!otherShown)
        QCoreApplication::exit(0);
}
