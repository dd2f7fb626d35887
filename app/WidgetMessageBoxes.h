#pragma once

#include "store/MessageBoxes.h"

#include <QMessageBox>
#include <QPointer>

// Message boxes as real modal QMessageBox windows, in use while this
// object lives.
class WidgetMessageBoxes : public MessageBoxes
{
public:
    WidgetMessageBoxes();
    ~WidgetMessageBoxes() override;
    WidgetMessageBoxes(const WidgetMessageBoxes &) = delete;
    WidgetMessageBoxes &operator=(const WidgetMessageBoxes &) = delete;

    Answer show(const QString &text, const QString &title, Buttons buttons, Icon icon, Answer defaultButton) override;
    bool notify(const QString &text, const QString &title) override;

private:
    QPointer<QMessageBox> m_notice;
};
