// The "COM Setting" page: the ports that can be opened, the stored line
// settings, and the modem test on the window's own port.

#include "admin/frmSettings.h"
#include "ui_frmSettings.h"

#include "admin/MainLink.h"
#include "pickup/AlertRelay.h"
#include "store/CommError.h"
#include "store/MessageBoxes.h"
#include "store/UpdateCom.h"

namespace {

constexpr short HighestPort = 16;

// A known port error shows its fixed text under the application's title,
// any other its own description under its number.
// Anything but N and E, a lower-case letter too, shows as "Odd".
QString parityText(const QString &parity)
{
    if (parity == QLatin1String("N"))
        return QStringLiteral("None");
    if (parity == QLatin1String("E"))
        return QStringLiteral("Even");
    return QStringLiteral("Odd");
}

} // namespace

void frmSettings::EnumeratePorts()
{
    for (short n = 1; n <= HighestPort; ++n)
        TryPort(n);
    if (ui->cboCom->count() > 0)
        ui->cboCom->setCurrentIndex(0);
}

void frmSettings::TryPort(short n)
{
    // Only a port that opens is offered. Its line settings are left alone:
    // opening is the whole test.
    try {
        MSComm1.setCommPort(n);
        MSComm1.setPortOpen(true);
        ui->cboCom->addItem(QStringLiteral("COM%1").arg(n));
        MSComm1.setPortOpen(false);
    } catch (const CommError &) {
        // Missing, in use or unusable: not listed.
    }
}

void frmSettings::showComSettings()
{
    // The port box shows the stored number even when that port is not in
    // the list.
    ui->cboCom->setEditText(QStringLiteral("COM ") + QString::number(UpdateCom::ComPort));
    ui->CboBuadRate->setEditText(UpdateCom::Baud);
    ui->CboBits->setEditText(UpdateCom::DataBits);
    ui->CboParity->setEditText(parityText(UpdateCom::Parity));
    // The stored stop bits as well: "OK" after a change elsewhere on the
    // page must not put "1" over a stored " 2".
    ui->CboStopBits->setEditText(UpdateCom::StopBit);
}

void frmSettings::saveComBoxes()
{
    // The flow-control box is offered but never stored.
    UpdateCom::SaveComSettings(ui->cboCom->currentText(), ui->CboBuadRate->currentText(),
                               ui->CboBits->currentText(), ui->CboParity->currentText(),
                               ui->CboStopBits->currentText());
}

void frmSettings::cmdAdvancedSetup_Click()
{
    const QList<QWidget *> advanced = {ui->lblBits,        ui->lblParity, ui->lblStopBits, ui->lblFlowControl,
                                       ui->CboBits,        ui->CboParity, ui->CboStopBits, ui->CboFlow};
    const bool show = ui->CboBits->isHidden();
    for (QWidget *control : advanced)
        control->setVisible(show);
}

void frmSettings::cmdComOK_Click()
{
    const Waiting waiting(*this);
    ui->cmdComOK->setEnabled(false);
    DbOperation([this] { saveComBoxes(); });
    UpdateCom::Delay(100);
    ui->cmdComOK->setEnabled(true);
}

void frmSettings::cmdComCancel_Click()
{
    // Nothing is stored or undone; the window comes back as it is.
    hide();
}

void frmSettings::cmdTestModem_Click()
{
    const Waiting waiting(*this);
    ui->cmdTestModem->setEnabled(false);
    ReadModemSerial();
    ui->cmdTestModem->setEnabled(true);
}

void frmSettings::ReadModemSerial()
{
    try {
        AskModem();
    } catch (const CommError &error) {
        // 8000: the port was still open, and closing it was all there was to do.
        if (error.number() != CommError::InvalidOnOpenPort)
            error.report();
        return;
    }
    // The boxes are stored only when the modem answered.
    if (!ModemReplied) {
        MsgBox(QStringLiteral("Modem No Response."));
        return;
    }
    MsgBox(QStringLiteral("Modem Test is OK"));
    DbOperation([this] { saveComBoxes(); });
}

void frmSettings::AskModem()
{
    // No alert send may start on the port while the test has it. A send
    // already under way keeps the port, and opening it here reports that.
    AlarmSender &sender = m_main.relay().sender();
    sender.holdLine();
    struct Release {
        AlarmSender &sender;
        ~Release() { sender.releaseLine(); }
    } release{sender};
    // The port never stays open after a test, whatever its outcome: the
    // main window's next send would find it taken.
    struct Close {
        MSComm &port;
        ~Close()
        {
            if (port.portOpen())
                port.setPortOpen(false);
        }
    } close{MSComm1};

    // The number comes from the port box, the line settings are the
    // current ones.
    UpdateCom::OpenModemPort(MSComm1, UpdateCom::PortNumber(ui->cboCom->currentText()));
    ModemReplied = false;
    MSComm1.output(QStringLiteral("AT+GSN") + QChar(13));
    UpdateCom::Delay(300);
}

void frmSettings::MSComm1_OnComm()
{
    if (MSComm1.commEvent() != MSComm::comEvReceive)
        return;
    // Each arrival is searched on its own; an answer later than the test's
    // wait finds the port closed and counts for nothing.
    if (MSComm1.input().contains(QLatin1String("OK"))) {
        ModemReplied = true;
        if (MSComm1.portOpen())
            MSComm1.setPortOpen(false);
    }
}
