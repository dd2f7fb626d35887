#pragma once

#include "store/InstanceLock.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <memory>

class frmLogin;
class frmMain;

// How the program starts. One copy per program folder; then the start-up
// sequence loads the configuration and starts the relay at once, so that
// alerts flow with nobody at the desk; the login window guards only the
// main window, which is first shown after a successful login.
class ProgramStart : public QObject
{
    Q_OBJECT

public:
    ProgramStart();
    ~ProgramStart() override;

    // Runs the start-up. False when the program must end at once (another
    // copy runs from this folder, or the start-up failed): the reason has
    // been shown and nothing was touched.
    bool begin();
    // Ends the program without a question: a shutdown, a session's end.
    void endSession();

    frmLogin *loginWindow() const;
    frmMain *mainWindow() const { return m_main.get(); }

    // The text shown when start-up fails.
    static QString failureText(const QString &error);

signals:
    // The main window exists and the relay runs; it is not shown yet.
    void mainWindowLoaded(frmMain *window);

private:
    void showLogin();
    void loggedIn();

    InstanceLock m_lock;
    QPointer<frmLogin> m_login;
    std::unique_ptr<frmMain> m_main;
};
