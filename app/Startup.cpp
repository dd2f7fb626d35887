#include "app/Startup.h"

#include "admin/frmLogin.h"
#include "app/frmMain.h"
#include "store/Database.h"
#include "store/MessageBoxes.h"

#include <QCoreApplication>
#include <QFileInfo>

ProgramStart::ProgramStart() = default;

ProgramStart::~ProgramStart()
{
    delete m_login;
}

QString ProgramStart::failureText(const QString &error)
{
    return QStringLiteral("Vantrel cannot start.\n\n%1\n\nDatabase: %2")
        .arg(error, QFileInfo(Database::path()).absoluteFilePath());
}

bool ProgramStart::begin()
{
    // A second copy would fight the first over the port and its files.
    if (!m_lock.tryLock()) {
        MsgBox(InstanceLock::refusalText(), MessageBoxes::OkOnly, QString(), MessageBoxes::Critical);
        return false;
    }
    auto window = std::make_unique<frmMain>();
    try {
        window->Form_Load();
    } catch (const DbError &error) {
        MsgBox(failureText(error.text()), MessageBoxes::OkOnly, QString(), MessageBoxes::Critical);
        return false;
    }
    m_main = std::move(window);
    // A confirmed Exit, or the end of the session, ends the program.
    connect(m_main.get(), &frmMain::unloaded, this, [] { QCoreApplication::exit(0); });
    connect(m_main.get(), &frmMain::loginWanted, this, &ProgramStart::showLogin);
    emit mainWindowLoaded(m_main.get());
    showLogin();
    return true;
}

frmLogin *ProgramStart::loginWindow() const
{
    return m_login;
}

void ProgramStart::showLogin()
{
    if (!m_login) {
        m_login = new frmLogin;
        // Closed by a successful login, the window goes; the next showing
        // makes a new one.
        m_login->setAttribute(Qt::WA_DeleteOnClose);
        connect(m_login, &frmLogin::loggedIn, this, &ProgramStart::loggedIn);
    }
    m_login->showNormal();
    m_login->raise();
    m_login->activateWindow();
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
    if (m_main)
        m_main->showMainWindow();
}
