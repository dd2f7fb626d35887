#pragma once

#include <QWidget>
#include <memory>

namespace Ui {
class ReplyPage;
}
class MainLink;

// The "Replies" page of the Settings window: whether the users' phones are
// heard, how long an alert waits for its acknowledgement before it is
// escalated, and the escalation list. "OK" stores them and the relay uses
// them at once; "Cancel" hides the window.
class ReplyPage : public QWidget
{
    Q_OBJECT

public:
    explicit ReplyPage(QWidget *parent = nullptr);
    ~ReplyPage() override;

    void attach(MainLink &main);
    // The stored settings into the boxes.
    void showReplyOptions();

private:
    void cmdRepliesOK_Click();
    void enableEscalation();

    std::unique_ptr<Ui::ReplyPage> ui;
    MainLink *m_main = nullptr;
};
