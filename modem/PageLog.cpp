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

void PageLog::reportOnce(const QString &key, const QString &line)
{
    if (m_reported.contains(key))
        return;
    m_reported.insert(key);
    report(line);
}

void PageLog::clearReport(const QString &key)
{
    m_reported.remove(key);
}
