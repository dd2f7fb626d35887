#pragma once

#include "admin/MT4PathListPage.h"

#include <QDialog>
#include <memory>

namespace Ui {
class frmSettings;
}
class MainLink;

// The administrator's Settings window: a tab control whose four pages each
// have a class of their own (ComSettingPage, UserListPage, MT4PathListPage,
// TestMessagePage). The window loads them, refills the grid of the page
// selected, and decides how it goes away.
//
// The close box destroys the window; "Cancel" on the COM page and Esc only
// hide it, and it comes back as it was left.
class frmSettings : public QDialog
{
    Q_OBJECT

public:
    using FolderPicker = MT4PathListPage::FolderPicker;

    frmSettings(MainLink &main, QWidget *parent = nullptr);
    ~frmSettings() override;

    // Replaces the system's folder picker behind "...".
    void setFolderPicker(FolderPicker picker);

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    enum Page { ComPage = 0, UserPage = 1, PathPage = 2, TestPage = 3, FloodsPage = 4, RepliesPage = 5 };

    void Form_Load();
    void Form_Unload();
    void SSTab1_Click();
    void placePages();
    void setOuterSize();

    std::unique_ptr<Ui::frmSettings> ui;
    MainLink &m_main;
    bool m_pagesPlaced = false;
};
