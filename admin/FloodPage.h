#pragma once

#include <QWidget>
#include <memory>

namespace Ui {
class FloodPage;
}
class MainLink;

// The "Floods" page of the Settings window: how long an alert's repeats are
// counted rather than sent, and the pace per phone. "OK" stores both and the
// relay uses them at once; "Cancel" hides the window.
class FloodPage : public QWidget
{
    Q_OBJECT

public:
    explicit FloodPage(QWidget *parent = nullptr);
    ~FloodPage() override;

    void attach(MainLink &main);
    // The stored settings into the boxes.
    void showFloodOptions();

private:
    void cmdFloodOK_Click();

    std::unique_ptr<Ui::FloodPage> ui;
    MainLink *m_main = nullptr;
};
