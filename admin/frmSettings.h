#pragma once

#include "store/MSComm.h"

#include <QDialog>
#include <functional>
#include <memory>

namespace Ui {
class frmSettings;
}
class Connection;
class MainLink;
class Recordset;

// The administrator's Settings window: port settings and the modem test,
// the users, the watched MT4 folders, and the test message beside the modem
// trace. The window itself lives in frmSettings.cpp; each page's handlers
// have a file of their own (SettingsCom, SettingsUsers, SettingsPaths,
// SettingsTestMessage).
//
// The close box destroys the window; "Cancel" on the COM page and Esc only
// hide it, and it comes back as it was left.
class frmSettings : public QDialog
{
    Q_OBJECT

public:
    // Asks for a folder on behalf of `owner`, opening in `startIn`; empty
    // text when cancelled.
    using FolderPicker = std::function<QString(QWidget *owner, const QString &startIn)>;

    frmSettings(MainLink &main, QWidget *parent = nullptr);
    ~frmSettings() override;

    // Replaces the system's folder picker behind "...".
    void setFolderPicker(FolderPicker picker);

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    enum Page { ComPage = 0, UserPage = 1, PathPage = 2, TestPage = 3 };
    enum class UserState { Browsing, Adding, Editing };

    // The window (frmSettings.cpp).
    void Form_Load();
    void Form_Unload();
    void SSTab1_Click();
    void FillUserList();
    void FillMT4PathList();
    void placePages();
    void setOuterSize();

    // "COM Setting" (SettingsCom.cpp).
    void EnumeratePorts();
    void TryPort(short n);
    void showComSettings();
    void saveComBoxes();
    void cmdAdvancedSetup_Click();
    void cmdComOK_Click();
    void cmdComCancel_Click();
    void cmdTestModem_Click();
    void ReadModemSerial();
    // Writes AT+GSN and gives the modem 300 ms to say "OK". Port errors are
    // thrown; either way the port is closed and the line free again after.
    void AskModem();
    void MSComm1_OnComm();

    // "User List" (SettingsUsers.cpp).
    void showUserState(UserState state);
    void cmdAddUser_Click();
    void cmdEditUser_Click();
    void UserList_DblClick();
    void cmdRemoveUser_Click();
    void cmdADD_Click();
    void cmdCancelAdd_Click();
    void cmdSaveUser_Click();
    void Command3_Click();

    // "MT4 Path List" (SettingsPaths.cpp).
    void showPathAdding(bool adding);
    void cmdAddPath_Click();
    void cmdBrowse_Click();
    void cmdSavePath_Click();
    void cmdCancelPath_Click();
    void cmdRemovePath_Click();
    // The folder of the grid's selected row when it exists, else home.
    QString browseStartFolder() const;
    static QString BrowseForFolder(QWidget *owner, const QString &startIn);

    // "Test Message" (SettingsTestMessage.cpp).
    void cmdSend_Click();

    // Runs one database operation and releases Cn and rsRecordSet at its
    // end. A failure is shown in a message box, ends the operation and
    // leaves the window usable.
    void DbOperation(const std::function<void()> &operation);
    // Opens the statement on a new connection; both replace the last
    // operation's pair in Cn and rsRecordSet.
    Recordset &OpenRecordset(const QString &statement);
    void ReleaseRecordset();
    // Deletes every record from the current one on whose `field` is exactly
    // `value`, letter case included; a field without value matches nothing.
    static void DeleteMatching(Recordset &rs, const QString &field, const QString &value);

    // Held by a handler while it waits in the event loop: a close box
    // pressed meanwhile unloads the window at once, but it is destroyed only
    // when the last waiting handler has returned.
    struct Waiting {
        explicit Waiting(frmSettings &window);
        ~Waiting();
        Waiting(const Waiting &) = delete;
        Waiting &operator=(const Waiting &) = delete;
        frmSettings &window;
    };

    std::unique_ptr<Ui::frmSettings> ui;
    MainLink &m_main;
    MSComm MSComm1;
    // Set by the receive handler when the modem's answer held "OK".
    bool ModemReplied = false;
    std::unique_ptr<Connection> Cn;
    std::unique_ptr<Recordset> rsRecordSet;
    FolderPicker m_pickFolder;
    int m_waiting = 0;
    bool m_unloaded = false;
    bool m_pagesPlaced = false;
};
