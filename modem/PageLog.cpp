#include "modem/PageLog.h"

void PageLog::append(const QString &text)
{
    m_text += text;
    emit appended(text);
}

void PageLog::report(const QString &line)
{
    append(line + QStringLiteral("\r\n"));
}
