#pragma once

#include <QString>
#include <QStringList>

// Splits at every occurrence of the separator; an empty text gives no piece.
QStringList SplitText(const QString &text, const QString &separator);
