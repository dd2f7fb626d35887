#pragma once

#include "admin/MainLink.h"
#include "admin/ModemsLink.h"
#include "app/TrayIcon.h"
#include "pickup/AlertRelay.h"

#include <QMainWindow>
#include <QPointer>
#include <memory>

namespace Ui {
class frmMain;
}
class frmAlerts;
class frmSettings;

// The main window: a view of the alert relay, which runs without it. It
// shows the page log, hides to the tray on its close box and ends the
// program only on a confirmed Exit. The names the windows have always used
// for the relay's work (SendAlarm, GetPhoneNo, GetPathList) are thin entry
// points to it.
class frmMain : public QMainWindow, public MainLink, public ModemsLink
{
    Q_OBJECT

public:
    // Why the window is asked to close.
    enum UnloadMode { vbFormControlMenu = 0, vbFormCode = 1, vbAppWindows = 2, vbAppTaskManager = 3 };

    explicit frmMain(AlertRelay &relay, QWidget *parent = nullptr);
    ~frmMain() override;

    // The window's part of the start-up sequence, once the relay has
    // loaded: the tray icon added with what has not gone out. The window
    // itself is shown only after a login (showMainWindow).
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
    void floodOptionsChanged() override;
    void replyOptionsChanged() override;
    void SendAlarm(const QString &AlarmMsg, const QString &UserName, const QString &Ph_No,
                   const std::function<void()> &whenDone = {}) override;
    TraceList &trace() override { return m_relay.trace(); }
    PortSettings comSettings() const override { return m_relay.comSettings(); }
    void SaveComSettings(const QString &portText, const QString &baudText, const QString &dataBitsText,
                         const QString &parityText, const QString &stopBitsText) override;
    bool holdsPort(short port) const override { return m_relay.holdsPort(port); }
    void testModem(short port, const std::function<void(const ModemTestJob::Result &)> &done) override;
    void setNormalState() override;

    QMetaObject::Connection whenModemsChange(QObject *context, const std::function<void()> &changed) override;
    QTime heartbeat() const override { return m_relay.heartbeatTime(); }
    void setHeartbeat(const QTime &at) override { m_relay.setHeartbeat(at); }
    bool deliveryReports() const override { return m_relay.deliveryReports(); }
    void setDeliveryReports(bool on) override { m_relay.setDeliveryReports(on); }

    AlertRelay &relay() { return m_relay; }

    TrayIcon &tray() { return m_tray; }
    // "Vantrel", or what has not gone out and which modems are down or set
    // aside: "Vantrel: 2 SMS waiting to be retried, 1 given up, COM2 down".
    static QString trayTip(const Outbox::Counts &counts, const QStringList &modems = {});
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
    void mnuModems_Click();
    void mnuAlerts_Click();
    void mPopAlerts_Click();
    void mnuAcknowledgeAll_Click();
    void showTip();
    void mnuAbout_Click();
    void mPopRestore_Click();
    void mPopExit_Click();
    void restoreFromTray();
    void showTrayMenu();
    void hideToTray();

    std::unique_ptr<Ui::frmMain> ui;
    AlertRelay &m_relay;
    TrayIcon m_tray;
    QPointer<frmSettings> m_settings;
    QPointer<frmAlerts> m_alerts;
    bool m_alertsAfterLogin = false;
    bool m_unloading = false;
    bool m_saidNoTray = false;
    bool m_everShown = false;
};
