#include "store/MessageBoxes.h"

#include "store/AppInfo.h"

#include <QDebug>

namespace {

class StderrBoxes : public MessageBoxes
{
public:
    Answer show(const QString &text, const QString &title, Buttons buttons, Icon, Answer defaultButton) override
    {
        qWarning().noquote() << title + QStringLiteral(": ") + text;
        return buttons == OkOnly ? Ok : defaultButton;
    }
    bool notify(const QString &text, const QString &title) override
    {
        qWarning().noquote() << title + QStringLiteral(": ") + text;
        return true;
    }
};

MessageBoxes *&installed()
{
    static MessageBoxes *boxes = nullptr;
    return boxes;
}

} // namespace

MessageBoxes &MessageBoxes::current()
{
    static StderrBoxes fallback;
    MessageBoxes *boxes = installed();
    return boxes ? *boxes : fallback;
}

void MessageBoxes::install(MessageBoxes *boxes)
{
    installed() = boxes;
}

MessageBoxes::Answer MsgBox(const QString &text, MessageBoxes::Buttons buttons, const QString &title,
                            MessageBoxes::Icon icon, MessageBoxes::Answer defaultButton)
{
    if (buttons == MessageBoxes::YesNo && defaultButton == MessageBoxes::Ok)
        defaultButton = MessageBoxes::Yes;
    return MessageBoxes::current().show(text, title.isEmpty() ? AppInfo::title() : title, buttons, icon, defaultButton);
}
