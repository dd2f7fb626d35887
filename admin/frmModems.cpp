#include "admin/frmModems.h"
#include "ui_frmModems.h"

#include "admin/DbOperation.h"
#include "admin/ModemTestBoxes.h"
#include "admin/ModemsLink.h"
#include "admin/SettingsGrid.h"
#include "pickup/Heartbeat.h"
#include "route/GatewayRoute.h"
#include "route/RouteSet.h"
#include "store/MessageBoxes.h"
#include "store/ModemTable.h"
#include "store/UpdateCom.h"

#include <QHeaderView>
#include <QPointer>

namespace {

enum Column { PortColumn, SettingsColumn, StateColumn, SignalColumn, OperatorColumn, SentColumn, ErrorColumn };

// The signal in dBm and as bars, four for a strong one.
QString signalText(const ModemHealth &health)
{
    const std::optional<int> dbm = health.signalDbm();
    if (!dbm)
        return {};
    const int bars = health.rssi >= 20 ? 4 : health.rssi >= 15 ? 3 : health.rssi >= 10 ? 2 : health.rssi >= 5 ? 1 : 0;
    return QStringLiteral("%1 dBm ").arg(*dbm) + QString(bars, QChar(0x25AE)) + QString(4 - bars, QChar(0x25AF));
}

} // namespace

frmModems::frmModems(RouteSet &routes, ModemsLink &desk, QWidget *parent)
    : QDialog(parent)
    , ui(std::make_unique<Ui::frmModems>())
    , m_routes(routes)
    , m_desk(desk)
{
    ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint
                   | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(size());
    connect(ui->cmdAddModem, &QPushButton::clicked, this, &frmModems::cmdAddModem_Click);
    connect(ui->cmdRemoveModem, &QPushButton::clicked, this, &frmModems::cmdRemoveModem_Click);
    connect(ui->cmdModemService, &QPushButton::clicked, this, &frmModems::cmdModemService_Click);
    connect(ui->cmdTestOneModem, &QPushButton::clicked, this, &frmModems::cmdTestOneModem_Click);
    connect(ui->cmdCloseModems, &QPushButton::clicked, this, &QDialog::close);
    connect(ui->cmdSetModemPin, &QPushButton::clicked, this, &frmModems::cmdSetModemPin_Click);
    connect(ui->cmdSetResetCommand, &QPushButton::clicked, this, &frmModems::cmdSetResetCommand_Click);
    connect(ui->cmdSetHeartbeat, &QPushButton::clicked, this, &frmModems::cmdSetHeartbeat_Click);
    ui->txtHeartbeat->setText(m_desk.heartbeat().toString(QString::fromLatin1(Heartbeat::TimeFormat)));
    ui->chkDeliveryReports->setChecked(m_desk.deliveryReports());
    connect(ui->chkDeliveryReports, &QCheckBox::clicked, this, &frmModems::chkDeliveryReports_Click);
    connect(ui->cmdSetGateway, &QPushButton::clicked, this, &frmModems::cmdSetGateway_Click);
    connect(ui->chkGatewayOnly, &QCheckBox::clicked, this, &frmModems::chkGatewayOnly_Click);
    if (const std::optional<RouteStatus> gateway = m_routes.gatewayStatus())
        ui->txtGateway->setText(gateway->url.toString());
    connect(ui->ModemList, &QTableWidget::itemSelectionChanged, this, &frmModems::showSelection);
    m_desk.whenModemsChange(this, [this] {
        FillModemList();
        showGateway();
    });
    showGateway();
    FillModemList();
}

frmModems::~frmModems() = default;

void frmModems::FillModemList()
{
    QTableWidget &grid = *ui->ModemList;
    const short selected = selectedPort();
    const QList<RouteStatus> statuses = m_routes.modemStatuses();
    grid.clearContents();
    // A column for each cell below: a cell beyond the last column would be
    // neither shown nor owned by the grid.
    grid.setColumnCount(ErrorColumn + 1);
    SettingsGrid::dress(grid,
                        {QStringLiteral("Port"), QStringLiteral("Settings"), QStringLiteral("State"),
                         QStringLiteral("Signal"), QStringLiteral("Operator"), QStringLiteral("Sent today"),
                         QStringLiteral("Last error")},
                        300, {1500, 1400, 1800, 1350, 1500, SettingsGrid::FitHeader, SettingsGrid::FitHeader});
    grid.horizontalHeader()->setStretchLastSection(true);
    grid.setRowCount(int(statuses.size()));
    for (int row = 0; row < statuses.size(); ++row) {
        const RouteStatus &status = statuses[row];
        SettingsGrid::setText(grid, row, PortColumn,
                              status.settings.name() + (status.first ? QStringLiteral(" (COM page)") : QString()));
        SettingsGrid::setText(grid, row, SettingsColumn, status.settings.SettingsString());
        SettingsGrid::setText(grid, row, StateColumn, status.stateWithReason());
        SettingsGrid::setText(grid, row, SignalColumn, signalText(status.health));
        SettingsGrid::setText(grid, row, OperatorColumn, status.health.operatorName);
        SettingsGrid::setText(grid, row, SentColumn, QString::number(status.sentToday));
        SettingsGrid::setText(grid, row, ErrorColumn, status.lastError);
        if (status.settings.port == selected)
            grid.selectRow(row);
    }
    showSelection();
}

short frmModems::selectedPort() const
{
    const int row = ui->ModemList->currentRow();
    const QList<RouteStatus> statuses = m_routes.modemStatuses();
    if (row < 0 || row >= statuses.size() || !ui->ModemList->item(row, PortColumn))
        return 0;
    return statuses[row].settings.port;
}

void frmModems::showSelection()
{
    const short port = selectedPort();
    bool first = false;
    bool outOfService = false;
    for (const RouteStatus &status : m_routes.modemStatuses()) {
        if (status.settings.port == port) {
            first = status.first;
            outOfService = status.state == RouteState::OutOfService;
        }
    }
    ui->cmdRemoveModem->setEnabled(port != 0 && !first);
    ui->cmdModemService->setEnabled(port != 0);
    ui->cmdTestOneModem->setEnabled(port != 0);
    ui->cmdModemService->setText(outOfService ? QStringLiteral("Put in service")
                                              : QStringLiteral("Take out of service"));
}

void frmModems::cmdAddModem_Click()
{
    const short port = UpdateCom::PortNumber(ui->cboModemPort->currentText());
    bool isBaud = false;
    const int baud = ui->CboModemBaud->currentText().trimmed().toInt(&isBaud);
    if (port < 1 || !isBaud || baud <= 0) {
        MsgBox(QStringLiteral("Please choose a port and a baud rate."));
        return;
    }
    DbOperation([&] {
        if (!m_routes.addModem(port, QString::number(baud)))
            MsgBox(QStringLiteral("The desk has a modem on COM%1 already.").arg(port));
    });
}

void frmModems::cmdRemoveModem_Click()
{
    const short port = selectedPort();
    if (MsgBox(QStringLiteral("Remove the modem on COM%1?").arg(port), MessageBoxes::YesNo,
               QStringLiteral("Confirm Remove"))
        != MessageBoxes::Yes)
        return;
    DbOperation([&] { m_routes.removeModem(port); });
}

void frmModems::cmdModemService_Click()
{
    const short port = selectedPort();
    const bool putBack = ui->cmdModemService->text() == QLatin1String("Put in service");
    DbOperation([&] { m_routes.setModemInService(port, putBack); });
}

void frmModems::cmdTestOneModem_Click()
{
    ui->cmdTestOneModem->setEnabled(false);
    const QPointer<frmModems> window(this);
    m_desk.testModem(selectedPort(), [window](const ModemTestJob::Result &result) {
        showModemTestResult(result);
        if (window)
            window->showSelection();
    });
}

void frmModems::cmdSetModemPin_Click()
{
    const short port = selectedPort();
    const QString pin = ui->txtModemPin->text().trimmed();
    // None clears it.
    if (port == 0 || (!pin.isEmpty() && !ModemTable::isPin(pin))) {
        MsgBox(QStringLiteral("Please choose a modem and enter a PIN of 4 to 8 digits."));
        return;
    }
    DbOperation([&] { m_routes.setModemPin(port, pin); });
    ui->txtModemPin->clear();
}

void frmModems::cmdSetResetCommand_Click()
{
    const short port = selectedPort();
    const QString command = ui->txtResetCommand->text().trimmed();
    if (port == 0 || (!command.isEmpty() && !ModemTable::isResetCommand(command))) {
        MsgBox(QStringLiteral("Please choose a modem and enter one AT command, or nothing."));
        return;
    }
    DbOperation([&] { m_routes.setModemResetCommand(port, command); });
}

void frmModems::chkDeliveryReports_Click()
{
    const bool on = ui->chkDeliveryReports->isChecked();
    DbOperation([&] { m_desk.setDeliveryReports(on); });
    // A setting that could not be stored is shown as it still is.
    ui->chkDeliveryReports->setChecked(m_desk.deliveryReports());
}

void frmModems::cmdSetGateway_Click()
{
    const QString url = ui->txtGateway->text().trimmed();
    const QString problem = url.isEmpty() ? QString() : GatewayRoute::urlProblem(QUrl(url, QUrl::StrictMode));
    if (!problem.isEmpty()) {
        MsgBox(problem);
        return;
    }
    DbOperation([&] { m_routes.setGateway(url); });
    showGateway();
}

void frmModems::chkGatewayOnly_Click()
{
    const bool only = ui->chkGatewayOnly->isChecked();
    if (only && !m_routes.gatewayStatus()) {
        MsgBox(QStringLiteral("Please set the gateway first."));
    } else {
        DbOperation([&] { m_routes.setGatewayOnly(only); });
    }
    showGateway();
}

void frmModems::showGateway()
{
    const std::optional<RouteStatus> gateway = m_routes.gatewayStatus();
    ui->chkGatewayOnly->setChecked(m_routes.gatewayOnly());
    QString state = QStringLiteral("No gateway.");
    if (gateway) {
        state =
            QStringLiteral("Gateway %1").arg(gateway->up() ? QStringLiteral("in service") : gateway->stateWithReason());
        state += QStringLiteral(", %1 SMS today").arg(gateway->sentToday);
        if (!gateway->hearsReports)
            state += QStringLiteral(", no delivery reports");
        if (m_routes.gatewayOnly())
            state += QStringLiteral("; the modems are not used");
    }
    ui->lblGatewayState->setText(state);
}

void frmModems::cmdSetHeartbeat_Click()
{
    const QString text = ui->txtHeartbeat->text().trimmed();
    const QTime at = QTime::fromString(text, QString::fromLatin1(Heartbeat::TimeFormat));
    if (!text.isEmpty() && !at.isValid()) {
        MsgBox(QStringLiteral("Please enter the time as HH:MM, or nothing for no heartbeat."));
        return;
    }
    DbOperation([&] { m_desk.setHeartbeat(at); });
}
