#include "admin/ComSettingPage.h"
#include "ui_ComSettingPage.h"

#include "admin/DbOperation.h"
#include "admin/MainLink.h"
#include "admin/ModemTestBoxes.h"
#include "store/CommError.h"
#include "store/MessageBoxes.h"
#include "store/UpdateCom.h"

#include <QPointer>

namespace {

constexpr short HighestPort = 16;

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

ComSettingPage::ComSettingPage(QWidget *parent)
    : QWidget(parent)
    , ui(std::make_unique<Ui::ComSettingPage>())
    , MSComm1(this)
{
    ui->setupUi(this);
    MSComm1.setObjectName(QStringLiteral("MSComm1"));
    connect(ui->cmdAdvancedSetup, &QPushButton::clicked, this, &ComSettingPage::cmdAdvancedSetup_Click);
    connect(ui->cmdComOK, &QPushButton::clicked, this, &ComSettingPage::cmdComOK_Click);
    connect(ui->cmdComCancel, &QPushButton::clicked, this, &ComSettingPage::cmdComCancel_Click);
    connect(ui->cmdTestModem, &QPushButton::clicked, this, &ComSettingPage::cmdTestModem_Click);
}

ComSettingPage::~ComSettingPage() = default;

void ComSettingPage::attach(MainLink &main)
{
    m_main = &main;
}

void ComSettingPage::EnumeratePorts()
{
    for (short n = 1; n <= HighestPort; ++n)
        TryPort(n);
    if (ui->cboCom->count() > 0)
        ui->cboCom->setCurrentIndex(0);
}

void ComSettingPage::TryPort(short n)
{
    // The program's own modem port is in use by the program: offered
    // without being opened here.
    if (m_main && m_main->holdsPort(n)) {
        ui->cboCom->addItem(QStringLiteral("COM%1").arg(n));
        return;
    }
    // Any other port is offered when it opens. Its line settings are left
    // alone: opening is the whole test.
    try {
        MSComm1.setCommPort(n);
        MSComm1.setPortOpen(true);
        ui->cboCom->addItem(QStringLiteral("COM%1").arg(n));
        MSComm1.setPortOpen(false);
    } catch (const CommError &) {
        // Missing, in use or unusable: not listed.
    }
}

void ComSettingPage::showComSettings()
{
    // The port box shows the stored number even when that port is not in
    // the list.
    const PortSettings current = m_main->comSettings();
    ui->cboCom->setEditText(QStringLiteral("COM ") + QString::number(current.ComPort()));
    ui->CboBuadRate->setEditText(current.Baud());
    ui->CboBits->setEditText(current.DataBits());
    ui->CboParity->setEditText(parityText(current.Parity()));
    // The stored stop bits as well: "OK" after a change elsewhere on the
    // page must not put "1" over a stored " 2".
    ui->CboStopBits->setEditText(current.StopBit());
}

void ComSettingPage::saveComBoxes()
{
    // The flow-control box is offered but never stored.
    m_main->SaveComSettings(ui->cboCom->currentText(), ui->CboBuadRate->currentText(), ui->CboBits->currentText(),
                            ui->CboParity->currentText(), ui->CboStopBits->currentText());
}

void ComSettingPage::cmdAdvancedSetup_Click()
{
    const QList<QWidget *> advanced = {ui->lblBits, ui->lblParity, ui->lblStopBits, ui->lblFlowControl,
                                       ui->CboBits, ui->CboParity, ui->CboStopBits, ui->CboFlow};
    const bool show = ui->CboBits->isHidden();
    for (QWidget *control : advanced)
        control->setVisible(show);
}

void ComSettingPage::cmdComOK_Click()
{
    ui->cmdComOK->setEnabled(false);
    DbOperation([this] { saveComBoxes(); });
    UpdateCom::Delay(100, ui->cmdComOK, [this] { ui->cmdComOK->setEnabled(true); });
}

void ComSettingPage::cmdComCancel_Click()
{
    // Nothing is stored or undone; the window comes back as it is.
    window()->hide();
}

void ComSettingPage::cmdTestModem_Click()
{
    ui->cmdTestModem->setEnabled(false);
    ReadModemSerial();
}

void ComSettingPage::ReadModemSerial()
{
    // The number comes from the port box, the line settings are the current
    // ones. The page may be gone when the answer comes.
    const QPointer<ComSettingPage> page(this);
    m_main->testModem(UpdateCom::PortNumber(ui->cboCom->currentText()), [page](const ModemTestJob::Result &result) {
        if (!page)
            return;
        // The boxes are stored only when the modem answered.
        if (showModemTestResult(result) && page)
            DbOperation([page] { page->saveComBoxes(); });
        if (page)
            page->ui->cmdTestModem->setEnabled(true);
    });
}
