#pragma once

#include <QWidget>
#include <memory>

namespace Ui {
class TestMessagePage;
}
class MainLink;

// The "Test Message" page of the Settings window: one SMS to any number
// through the very send that alerts use, beside the trace of the latest
// modem dialogue, the test's or an alert's.
class TestMessagePage : public QWidget
{
    Q_OBJECT

public:
    explicit TestMessagePage(QWidget *parent = nullptr);
    ~TestMessagePage() override;

    // The window's main window, whose trace the Response list shows; given
    // once, right after the window has set up its form.
    void attach(MainLink &main);

private:
    void cmdSend_Click();

    std::unique_ptr<Ui::TestMessagePage> ui;
    MainLink *m_main = nullptr;
};
