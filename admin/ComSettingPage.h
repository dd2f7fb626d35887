#pragma once

#include "store/MSComm.h"

#include <QWidget>
#include <memory>

namespace Ui {
class ComSettingPage;
}
class MainLink;

// The "COM Setting" page of the Settings window: the ports that can be
// opened, the stored line settings, and the modem test, which runs on the
// engine of the port when the program holds it. "Cancel" hides the whole
// window, which comes back as it was left. Nothing here waits: a test or a
// save ends in a handler of its own.
class ComSettingPage : public QWidget
{
    Q_OBJECT

public:
    explicit ComSettingPage(QWidget *parent = nullptr);
    ~ComSettingPage() override;

    // The window's main window; given once, right after the window has set
    // up its form.
    void attach(MainLink &main);

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
    // Only for finding the ports that can be opened.
    MSComm MSComm1;
    MainLink *m_main = nullptr;
};
