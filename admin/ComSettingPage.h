#pragma once

#include "modem/ModemTest.h"
#include "store/MSComm.h"

#include <QWidget>
#include <memory>

namespace Ui {
class ComSettingPage;
}
class MainLink;
class WaitingHandlers;

// The "COM Setting" page of the Settings window: the ports that can be
// opened, the stored line settings, and the modem test on the window's own
// port. "Cancel" hides the whole window, which comes back as it was left.
class ComSettingPage : public QWidget
{
    Q_OBJECT

public:
    explicit ComSettingPage(QWidget *parent = nullptr);
    ~ComSettingPage() override;

    // The window's main window and its count of waiting handlers; given
    // once, right after the window has set up its form.
    void attach(MainLink &main, WaitingHandlers &waits);

    // Lists the ports among 1 to 16 that can be opened.
    void EnumeratePorts();
    // The current settings, as the window's load shows them.
    void showComSettings();

private:
    void TryPort(short n);
    void saveComBoxes();
    void cmdAdvancedSetup_Click();
    void cmdComOK_Click();
    void cmdComCancel_Click();
    void cmdTestModem_Click();
    void ReadModemSerial();

    std::unique_ptr<Ui::ComSettingPage> ui;
    MSComm MSComm1;
    ModemTest m_modemTest;
    MainLink *m_main = nullptr;
    WaitingHandlers *m_waits = nullptr;
};
