#include "support/ScriptedMessageBoxes.h"

ScriptedMessageBoxes::ScriptedMessageBoxes()
{
    MessageBoxes::install(this);
}

ScriptedMessageBoxes::~ScriptedMessageBoxes()
{
    MessageBoxes::install(nullptr);
}

MessageBoxes::Answer ScriptedMessageBoxes::show(const QString &text, const QString &title, Buttons buttons,
                                                Icon icon, Answer defaultButton)
{
    shown.append({text, title, buttons, icon, defaultButton});
    if (buttons == OkOnly)
        return Ok;
    return m_answers.isEmpty() ? No : m_answers.dequeue();
}

QStringList ScriptedMessageBoxes::texts() const
{
    QStringList list;
    for (const Shown &box : shown)
        list << box.text;
    return list;
}
