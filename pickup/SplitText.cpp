#include "pickup/SplitText.h"

QStringList SplitText(const QString &text, const QString &separator)
{
    if (text.isEmpty())
        return {};
    return text.split(separator, Qt::KeepEmptyParts, Qt::CaseSensitive);
}
