#pragma once

#include "admin/MainLink.h"
#include "app/TrayIcon.h"
#include "pickup/AlertRelay.h"

#include <QMainWindow>
#include <QPointer>
#include <memory>

namespace Ui {
class frmMain;
}
class frmSettings;

// The main window: owns the alert relay, shows the page log, hides to the
// tray on its close box and ends only on a confirmed Exit.
class frmMain : public QMainWindow, public MainLink
{
    Q_OBJECT

public:
    // Why the window is asked to close.
    enum UnloadMode { vbFormControlMenu = 0, vbFormCode = 1, vbAppWindows = 2, vbAppTaskManager = 3 };

    explicit frmMain(QWidget *parent = nullptr);
    ~frmMain() override;

    // The start-up sequence: the relay loaded and started, the tray icon
    // added. The window itself is shown only after a login
    // (showMainWindow). Database failures are thrown as DbError, and then
    // nothing has started.
    void Form_Load();
    // Shows the window: the first time after a successful login, centred.
    void showMainWindow();
    bool everShown() const { return m_everShown; }
    // Returns true when the close is cancelled.
    bool Form_QueryUnload(UnloadMode mode);
    void Form_Unload();
    // Asks the window to unload itself, as Exit does: with the confirmation.
    void Unload();
    // The session is ending: unload without asking.
    void endSession();

    void GetPathList() override;
    void GetPhoneNo() override;
    void SendAlarm(const QString &AlarmMsg, const QString &UserName, const QString &Ph_No,
                   const std::function<void()> &whenDone = {}) override;
    TraceList &trace() override { return m_relay.trace(); }
    void holdLine() override { m_relay.sender().holdLine(); }
    void releaseLine() override { m_relay.sender().releaseLine(); }
    void setNormalState() override;

    AlertRelay &relay() { return m_relay; }

    TrayIcon &tray() { return m_tray; }
    // "Vantrel", or what has not gone out: "Vantrel: 2 SMS waiting to be
    // retried, 1 given up".
    static QString trayTip(int retrying, int givenUp);
    // The Settings window, created hidden when it does not exist yet.
    frmSettings &settingsWindow();

signals:
    // The window has unloaded; the program ends on it.
    void unloaded();
    // The tray asks for the window before anybody has logged in.
    void loginWanted();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void mnuExit_Click();
    void mnuSettings_Click();
    void mnuAbout_Click();
    void mPopRestore_Click();
    void mPopExit_Click();
    void restoreFromTray();
    void showTrayMenu();
    void hideToTray();

    std::unique_ptr<Ui::frmMain> ui;
    AlertRelay m_relay;
    TrayIcon m_tray;
    QPointer<frmSettings> m_settings;
    bool m_unloading = false;
    bool m_saidNoTray = false;
    bool m_everShown = false;
};
