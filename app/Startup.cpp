#include "app/Startup.h"

#include "admin/frmLogin.h"
#include "app/frmMain.h"
#include "store/Database.h"
#include "store/MessageBoxes.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace Startup {

QString failureText(const QString &error)
{
    return QStringLiteral("Vantrel cannot start.\n\n%1\n\nDatabase: %2")
        .arg(error, QFileInfo(Database::path()).absoluteFilePath());
}

frmMain *loadMainWindow()
{
    auto window = std::make_unique<frmMain>();
    try {
        window->Form_Load();
    } catch (const DbError &error) {
        window->hide();
        window->tray().remove();
        MsgBox(failureText(error.text()), MessageBoxes::OkOnly, QString(), MessageBoxes::Critical);
        return nullptr;
    }
    return window.release();
}

} // namespace Startup

ProgramStart::ProgramStart()
    : m_login(new frmLogin)
{
    // Once closed (a successful login, its close box) the login window is deleted.
    m_login->setAttribute(Qt::WA_DeleteOnClose);
    connect(m_login, &frmLogin::loggedIn, this, &ProgramStart::loggedIn);
}

ProgramStart::~ProgramStart()
{
    delete m_login;
}

void ProgramStart::begin()
{
    m_login->show();
}

frmLogin *ProgramStart::loginWindow() const
{
    return m_login;
}

void ProgramStart::endSession()
{
    if (m_main)
        m_main->endSession();
    else
        QCoreApplication::exit(0);
}

void ProgramStart::loggedIn()
{
    frmMain *window = Startup::loadMainWindow();
    if (!window) {
        // The error has been shown; without its main window the program
        // has nothing left to do.
        QCoreApplication::exit(1);
        return;
    }
    m_main.reset(window);
    // A confirmed Exit, or the end of the session, ends the program.
    connect(window, &frmMain::unloaded, this, [] { QCoreApplication::exit(0); });
    emit mainWindowLoaded(window);
}
