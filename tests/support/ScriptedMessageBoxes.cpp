#include "support/ScriptedMessageBoxes.h"

ScriptedMessageBoxes::ScriptedMessageBoxes()
{
    MessageBoxes::install(this);
}

ScriptedMessageBoxes::~ScriptedMessageBoxes()
{
    MessageBoxes::install(nullptr);
}

MessageBoxes::Answer ScriptedMessageBoxes::show(const QString &text, const QString &title, Buttons buttons, Icon icon,
                                                Answer defaultButton)
{
    shown.append({text, title, buttons, icon, defaultButton});
    if (buttons == OkOnly)
        return Ok;
    return m_answers.isEmpty() ? No : m_answers.dequeue();
}

bool ScriptedMessageBoxes::notify(const QString &text, const QString &title)
{
    if (m_noticeUp)
        return false;
    m_noticeUp = true;
    shown.append({text, title, OkOnly, NoIcon, Ok, true});
    return true;
}

QStringList ScriptedMessageBoxes::texts() const
{
    QStringList list;
    for (const Shown &box : shown)
        list << box.text;
    return list;
}

QStringList ScriptedMessageBoxes::taken()
{
    QStringList list;
    for (const Shown &box : std::as_const(shown))
        list << box.title + QStringLiteral(": ") + box.text;
    shown.clear();
    return list;
}
