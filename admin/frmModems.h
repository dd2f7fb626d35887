#pragma once

#include <QDialog>
#include <memory>

namespace Ui {
class frmModems;
}
class ModemsLink;
class RouteSet;

// The Modems window: every modem of the desk with its state, and an
// administrator's changes to them: a modem added or removed, taken out of
// service or put back, and the modem test on one of them. The Com row's
// modem is the COM page's; it can be taken out of service here, not removed.
class frmModems : public QDialog
{
    Q_OBJECT

public:
    frmModems(RouteSet &routes, ModemsLink &desk, QWidget *parent = nullptr);
    ~frmModems() override;

    // Reads the modems afresh into the list.
    void FillModemList();

private:
    short selectedPort() const;
    void cmdAddModem_Click();
    void cmdRemoveModem_Click();
    void cmdModemService_Click();
    void cmdTestOneModem_Click();
    void cmdSetModemPin_Click();
    void cmdSetResetCommand_Click();
    void cmdSetHeartbeat_Click();
    void chkDeliveryReports_Click();
    void cmdSetGateway_Click();
    void chkGatewayOnly_Click();
    void showGateway();
    void showSelection();

    std::unique_ptr<Ui::frmModems> ui;
    RouteSet &m_routes;
    ModemsLink &m_desk;
};
