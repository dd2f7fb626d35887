#pragma once

#include <QString>

// Every message box of the program goes through this interface: the program
// puts real modal boxes behind it, the tests a scripted one that answers.
class MessageBoxes
{
public:
    enum Buttons { OkOnly, YesNo };
    enum Icon { NoIcon, Question, Warning, Critical };
    enum Answer { Ok, Yes, No };

    virtual ~MessageBoxes() = default;

    // Shows the box and returns the button pressed.
    virtual Answer show(const QString &text, const QString &title, Buttons buttons, Icon icon,
                        Answer defaultButton) = 0;

    // Shows a box with an OK button and returns at once, without waiting for
    // anybody: for what goes wrong while nobody may be at the desk. While one
    // such box is on screen no other is shown; false then.
    virtual bool notify(const QString &text, const QString &title) = 0;

    // The boxes in use; until one is installed, boxes go to the error stream.
    static MessageBoxes &current();
    static void install(MessageBoxes *boxes);
};

// A box with the application's title unless another title is given.
MessageBoxes::Answer MsgBox(const QString &text, MessageBoxes::Buttons buttons = MessageBoxes::OkOnly,
                            const QString &title = QString(), MessageBoxes::Icon icon = MessageBoxes::NoIcon,
                            MessageBoxes::Answer defaultButton = MessageBoxes::Ok);
