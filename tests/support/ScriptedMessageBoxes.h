#pragma once

#include "store/MessageBoxes.h"

#include <QList>
#include <QQueue>
#include <QString>

// Message boxes for tests: records every box shown and answers Yes/No boxes
// from a script (No when the script is empty). Installed while it lives.
class ScriptedMessageBoxes : public MessageBoxes
{
public:
    struct Shown {
        QString text;
        QString title;
        Buttons buttons;
        Icon icon;
        Answer defaultButton;
        bool notice = false; // shown without waiting (notify)
    };

    ScriptedMessageBoxes();
    ~ScriptedMessageBoxes() override;

    Answer show(const QString &text, const QString &title, Buttons buttons, Icon icon, Answer defaultButton) override;
    // A notice stays "on screen" until dismissNotice().
    bool notify(const QString &text, const QString &title) override;
    void dismissNotice() { m_noticeUp = false; }

    void answer(Answer next) { m_answers.enqueue(next); }
    QList<Shown> shown;
    QStringList texts() const;
    // The boxes shown since the last look, as "title: text"; forgets them.
    QStringList taken();

private:
    QQueue<Answer> m_answers;
    bool m_noticeUp = false;
};
