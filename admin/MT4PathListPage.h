#pragma once

#include <QWidget>
#include <functional>
#include <memory>

namespace Ui {
class MT4PathListPage;
}
class MainLink;

// The "MT4 Path List" page of the Settings window: the folders in which MT4
// terminals leave their alert files. The relay follows every change at
// once: a folder saved here is watched from that moment, one removed is no
// longer.
class MT4PathListPage : public QWidget
{
    Q_OBJECT

public:
    // Asks for a folder on behalf of `owner`, opening in `startIn`; empty
    // text when cancelled.
    using FolderPicker = std::function<QString(QWidget *owner, const QString &startIn)>;

    explicit MT4PathListPage(QWidget *parent = nullptr);
    ~MT4PathListPage() override;

    // The window's main window; given once, right after the window has set
    // up its form.
    void attach(MainLink &main);
    // Replaces the system's folder picker behind "...".
    void setFolderPicker(FolderPicker picker);

    // Reads the table afresh into the grid.
    void FillMT4PathList();

signals:
    // The grid no longer shows the table: the window refills the grid of
    // its current page, as selecting a page does.
    void refillWanted();

private:
    void showPathAdding(bool adding);
    void cmdAddPath_Click();
    void cmdBrowse_Click();
    void cmdSavePath_Click();
    void cmdCancelPath_Click();
    void cmdRemovePath_Click();
    // The folder of the grid's selected row when it exists, else home.
    QString browseStartFolder() const;
    static QString BrowseForFolder(QWidget *owner, const QString &startIn);

    std::unique_ptr<Ui::MT4PathListPage> ui;
    MainLink *m_main = nullptr;
    FolderPicker m_pickFolder;
};
