#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <memory>

class frmLogin;
class frmMain;

namespace Startup {

// Creates and loads the main window. When start-up fails, the error is
// shown with the database's full path and nullptr is returned.
frmMain *loadMainWindow();

// The text shown when start-up fails.
QString failureText(const QString &error);

} // namespace Startup

// How the program starts: the login window first. The main window, and with
// it the polling, exists only once a login has succeeded; a main window that
// then fails to load ends the program with status 1.
class ProgramStart : public QObject
{
    Q_OBJECT

public:
    ProgramStart();
    ~ProgramStart() override;

    // Shows the login window.
    void begin();
    // Ends the main window's session, or the program while nobody logged in.
    void endSession();

    frmLogin *loginWindow() const;
    frmMain *mainWindow() const { return m_main.get(); }

signals:
    void mainWindowLoaded(frmMain *window);

private:
    void loggedIn();

    QPointer<frmLogin> m_login;
    std::unique_ptr<frmMain> m_main;
};
