#include "app/Startup.h"

#include "admin/frmLogin.h"
#include "app/frmMain.h"
#include "pickup/AlertRelay.h"
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
    auto relay = std::make_unique<AlertRelay>();
    try {
        relay->load();
    } catch (const DbError &error) {
        MsgBox(failureText(error.text()), MessageBoxes::OkOnly, QString(), MessageBoxes::Critical);
        return false;
    }
    m_relay = std::move(relay);
    m_main = std::make_unique<frmMain>(*m_relay);
    m_main->Form_Load();
    // A confirmed Exit, or the end of the session, stops the relay; the
    // program ends once the dialogue under way has.
    connect(m_relay.get(), &AlertRelay::finished, this, [] { QCoreApplication::exit(0); });
    connect(m_main.get(), &frmMain::loginWanted, this, &ProgramStart::showLogin);
    emit mainWindowLoaded(m_main.get());
    // Polling starts only once everything it needs has loaded: a start-up
    // that fails takes no alert file.
    m_relay->start();
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
