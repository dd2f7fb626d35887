#pragma once

#include "store/MessageBoxes.h"

// Message boxes as real modal QMessageBox windows.
class WidgetMessageBoxes : public MessageBoxes
{
public:
    Answer show(const QString &text, const QString &title, Buttons buttons, Icon icon,
                Answer defaultButton) override;
};
