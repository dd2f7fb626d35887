#pragma once

#include "store/InstanceLock.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <memory>

class AlertRelay;
class frmLogin;
class frmMain;

// How the program starts. One copy per program folder; then the relay is
// made and loads the configuration, the main window is made as a view of it
// with the tray icon, and the relay starts at once, so that alerts flow with
// nobody at the desk; the login window guards only the main window, which is
// first shown after a successful login. The program ends when the relay has
// finished the dialogue under way after a confirmed Exit or the session's
// end.
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
    AlertRelay *relay() const { return m_relay.get(); }

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
    std::unique_ptr<AlertRelay> m_relay;
    std::unique_ptr<frmMain> m_main;
};
