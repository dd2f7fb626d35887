#include "app/frmMain.h"
#include "ui_frmMain.h"

#include "admin/frmAbout.h"
#include "admin/frmModems.h"
#include "admin/frmSettings.h"
#include "app/AppIcon.h"
#include "app/CentreOnScreen.h"
#include "app/PageLogView.h"
#include "app/frmAlerts.h"
#include "store/AppInfo.h"
#include "store/MessageBoxes.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCursor>

#include <utility>

frmMain::frmMain(AlertRelay &relay, QWidget *parent)
    : QMainWindow(parent)
    , ui(std::make_unique<Ui::frmMain>())
    , m_relay(relay)
    , m_tray(appIcon(), this)
{
    ui->setupUi(this);
    setWindowIcon(appIcon());
    // Fixed single border: no minimise or maximise button, no resizing.
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint
                   | Qt::MSWindowsFixedSizeDialogHint);
    // The pop-up menu lives in the menu bar but is never shown there.
    ui->mPopupSys->menuAction()->setVisible(false);
    ui->mPopupSys->setDefaultAction(ui->mPopRestore);
    // The labels lie under the page log, which covers them.
    ui->txtPageLog->raise();
    // Centred when it first appears, whichever code shows it.
    centreWhenFirstShown(*this);

    connect(ui->mnuExit, &QAction::triggered, this, &frmMain::mnuExit_Click);
    connect(ui->mnuSettings, &QAction::triggered, this, &frmMain::mnuSettings_Click);
    connect(ui->mnuModems, &QAction::triggered, this, &frmMain::mnuModems_Click);
    connect(ui->mnuAlerts, &QAction::triggered, this, &frmMain::mnuAlerts_Click);
    connect(ui->mPopAlerts, &QAction::triggered, this, &frmMain::mPopAlerts_Click);
    connect(ui->mnuAcknowledgeAll, &QAction::triggered, this, &frmMain::mnuAcknowledgeAll_Click);
    connect(ui->mPopAcknowledgeAll, &QAction::triggered, this, &frmMain::mnuAcknowledgeAll_Click);
    connect(ui->mnuAbout, &QAction::triggered, this, &frmMain::mnuAbout_Click);
    connect(ui->mPopRestore, &QAction::triggered, this, &frmMain::mPopRestore_Click);
    connect(ui->mPopExit, &QAction::triggered, this, &frmMain::mPopExit_Click);
    connect(&m_tray, &TrayIcon::restoreRequested, this, &frmMain::restoreFromTray);
    connect(&m_tray, &TrayIcon::menuRequested, this, &frmMain::showTrayMenu);

    connect(&m_relay, &AlertRelay::tickCounted, this,
            [this](short count) { ui->Label1->setText(QString::number(count)); });
    const AlarmHistory &history = m_relay.history();
    connect(&history, &AlarmHistory::labelsChanged, this, [this, &history] {
        ui->Label3->setText(history.label3());
        ui->Label4->setText(history.label4());
    });
    new PageLogView(m_relay.pageLog(), *ui->txtPageLog); // owned by the text box
    // The tray tells at a glance whether every SMS went out.
    connect(&m_relay, &AlertRelay::deliveryChanged, this, &frmMain::showTip);
    connect(&m_relay, &AlertRelay::modemsChanged, this, &frmMain::showTip);
    connect(&m_relay, &AlertRelay::outageBegan, this,
            [this](const QString &text) { m_tray.showBalloon(AppInfo::title(), text); });
    connect(&m_relay, &AlertRelay::routeSetAside, this,
            [this](const QString &text) { m_tray.showBalloon(AppInfo::title(), text); });
    connect(&m_relay, &AlertRelay::gaveUp, this,
            [this](const QString &name, const QString &number, const QString &reason) {
                m_tray.showBalloon(AppInfo::title(),
                                   QStringLiteral("Given up sending to %1 (%2): %3").arg(name, number, reason));
            });
    connect(&m_relay, &AlertRelay::notDelivered, this,
            [this](const QString &name, const QString &number, const QString &reason) {
                m_tray.showBalloon(AppInfo::title(),
                                   QStringLiteral("Not delivered to %1 (%2): %3").arg(name, number, reason));
            });
    connect(&m_relay, &AlertRelay::outboxSetAside, this,
            [this](const QString &text) { m_tray.showBalloon(AppInfo::title(), text); });
    connect(&m_relay, &AlertRelay::floodingRobot, this,
            [this](const QString &text) { m_tray.showBalloon(AppInfo::title(), text); });

    connect(qApp, &QGuiApplication::commitDataRequest, this, [this] { endSession(); });
}

frmMain::~frmMain() = default;

void frmMain::Form_Load()
{
    m_tray.add(AppInfo::title());
    showTip();
}

void frmMain::showTip()
{
    const Outbox::Counts counts = m_relay.deliveryCounts();
    QStringList modems;
    bool anyDown = false;
    for (const RouteStatus &status : m_relay.routes().statuses()) {
        if (status.state == RouteState::Down || status.state == RouteState::SetAside)
            modems << status.name + QLatin1Char(' ') + status.stateWords();
        anyDown = anyDown || status.state == RouteState::Down;
    }
    m_tray.setTip(trayTip(counts, modems));
    // The alarm look while a modem is down or nothing can send.
    m_tray.setAlarm(anyDown || !m_relay.anyRouteUp());
}

QString frmMain::trayTip(const Outbox::Counts &counts, const QStringList &modems)
{
    // "SMS" once, with the first count.
    QStringList troubles;
    const auto count = [&troubles](int n, const QString &what) {
        if (n > 0)
            troubles << QStringLiteral("%1 %2%3").arg(n).arg(troubles.isEmpty() ? QStringLiteral("SMS ") : QString(),
                                                             what);
    };
    count(counts.retrying, QStringLiteral("waiting to be retried"));
    count(counts.givenUp, QStringLiteral("given up"));
    count(counts.notDelivered, QStringLiteral("not delivered"));
    troubles += modems;
    if (troubles.isEmpty())
        return AppInfo::title();
    return AppInfo::title() + QStringLiteral(": ") + troubles.join(QStringLiteral(", "));
}

void frmMain::showMainWindow()
{
    if (!m_everShown) {
        m_everShown = true;
        adjustSize();
        setFixedSize(size());
    }
    restoreFromTray();
    // Asked for from the tray before the login.
    if (std::exchange(m_alertsAfterLogin, false))
        mnuAlerts_Click();
}

void frmMain::GetPathList()
{
    m_relay.GetPathList();
}

void frmMain::floodOptionsChanged()
{
    m_relay.loadFloodOptions();
}

void frmMain::replyOptionsChanged()
{
    m_relay.loadReplyOptions();
}

void frmMain::GetPhoneNo()
{
    m_relay.GetPhoneNo();
}

void frmMain::SendAlarm(const QString &AlarmMsg, const QString &UserName, const QString &Ph_No,
                        const std::function<void()> &whenDone)
{
    m_relay.SendAlarm(AlarmMsg, UserName, Ph_No, whenDone);
}

void frmMain::SaveComSettings(const QString &portText, const QString &baudText, const QString &dataBitsText,
                              const QString &parityText, const QString &stopBitsText)
{
    m_relay.SaveComSettings(portText, baudText, dataBitsText, parityText, stopBitsText);
}

void frmMain::testModem(short port, const std::function<void(const ModemTestJob::Result &)> &done)
{
    m_relay.testModem(port, done);
}

void frmMain::setNormalState()
{
    setWindowState(windowState() & ~Qt::WindowMinimized);
}

frmSettings &frmMain::settingsWindow()
{
    if (!m_settings)
        m_settings = new frmSettings(*this, this);
    return *m_settings;
}

bool frmMain::Form_QueryUnload(UnloadMode mode)
{
    switch (mode) {
    case vbFormControlMenu:
        hideToTray();
        return true;
    case vbFormCode:
        return MsgBox(QStringLiteral("Exit Application?"), MessageBoxes::YesNo, QString(), MessageBoxes::Question)
               != MessageBoxes::Yes;
    default:
        return false;
    }
}

void frmMain::Form_Unload()
{
    if (m_unloading)
        return;
    m_unloading = true;
    m_tray.remove();
    // The dialogue under way, if any, ends; nothing more is sent. What is
    // left waits in the outbox for the next start.
    m_relay.stop();
    // Any other window of the program goes with it, shown or not.
    for (QWidget *window : QApplication::topLevelWidgets()) {
        if (window != this)
            window->close();
    }
    close();
    // Whoever started the program ends it on this.
    emit unloaded();
}

void frmMain::Unload()
{
    if (!Form_QueryUnload(vbFormCode))
        Form_Unload();
}

void frmMain::endSession()
{
    if (!Form_QueryUnload(vbAppWindows))
        Form_Unload();
}

void frmMain::closeEvent(QCloseEvent *event)
{
    if (m_unloading) {
        event->accept();
        return;
    }
    event->ignore();
    Form_QueryUnload(vbFormControlMenu);
}

void frmMain::hideToTray()
{
    if (TrayIcon::desktopHasTray()) {
        m_tray.ShowTrayIcon();
        hide();
        return;
    }
    // Without a notification area a hidden window could never come back:
    // minimise it instead.
    if (!m_saidNoTray) {
        m_saidNoTray = true;
        m_relay.pageLog().report(QStringLiteral(
            "This desktop has no notification area: the window is minimised instead of hidden to the tray."));
    }
    showMinimized();
}

void frmMain::restoreFromTray()
{
    // Before a login the window stays behind the login window.
    if (!m_everShown) {
        emit loginWanted();
        return;
    }
    setNormalState();
    raise();
    activateWindow();
    show();
}

void frmMain::showTrayMenu()
{
    if (m_everShown)
        activateWindow();
    ui->mPopupSys->popup(QCursor::pos());
}

void frmMain::mnuExit_Click()
{
    Unload();
}

void frmMain::mPopExit_Click()
{
    Unload();
}

void frmMain::mPopRestore_Click()
{
    restoreFromTray();
}

void frmMain::mnuSettings_Click()
{
    frmSettings &settings = settingsWindow();
    settings.exec();
}

void frmMain::mnuModems_Click()
{
    frmModems modems(m_relay.routes(), *this, this);
    modems.exec();
}

void frmMain::mnuAlerts_Click()
{
    // One window, modeless: it stays open beside the page log and follows
    // the SMS as they settle.
    if (!m_alerts) {
        m_alerts = new frmAlerts(m_relay.pageLog(), this);
        centreWhenFirstShown(*m_alerts);
    }
    m_alerts->showNormal();
    m_alerts->raise();
    m_alerts->activateWindow();
}

void frmMain::mnuAcknowledgeAll_Click()
{
    // Whoever sits at the desk, by the name the desk's session runs under;
    // the chains of every alert end.
    m_relay.acknowledgeAll(qEnvironmentVariable("USER", QStringLiteral("the desk")));
}

void frmMain::mPopAlerts_Click()
{
    // The history names the traders and their numbers: like the main window,
    // it is shown only after a login.
    if (!m_everShown) {
        m_alertsAfterLogin = true;
        emit loginWanted();
        return;
    }
    mnuAlerts_Click();
}

QMetaObject::Connection frmMain::whenModemsChange(QObject *context, const std::function<void()> &changed)
{
    return connect(&m_relay, &AlertRelay::modemsChanged, context, changed);
}

void frmMain::mnuAbout_Click()
{
    frmAbout about(this);
    about.exec();
}
