#include "modem/PageLog.h"

#include "store/Clock.h"
#include "store/ProgramFolder.h"

#include <QDir>

namespace {

const QLatin1String DailyFileKey("daily file");

} // namespace

QString PageLog::dailyFile()
{
    return ProgramFolder::file(QStringLiteral("Logs/PageLog-%1.txt").arg(Clock::now().date().toString(Qt::ISODate)));
}

void PageLog::append(const QString &text)
{
    keep(text);
    emit appended(text);
    writeDaily(text);
}

void PageLog::keep(const QString &text)
{
    m_text += text;
    m_lines += int(text.count(QLatin1Char('\n')));
    if (m_lines <= KeptLines + KeptLines / 10)
        return;
    // A tenth at a time, so that trimming costs little per line.
    qsizetype cut = 0;
    for (int dropped = 0; dropped < m_lines - KeptLines; ++dropped)
        cut = m_text.indexOf(QLatin1Char('\n'), cut) + 1;
    m_text.remove(0, cut);
    m_lines = KeptLines;
}

void PageLog::writeDaily(const QString &text)
{
    const QString name = dailyFile();
    if (m_daily.fileName() != name || !m_daily.isOpen()) {
        m_daily.close();
        m_daily.setFileName(name);
        QDir().mkpath(QFileInfo(name).path());
        m_daily.open(QIODevice::WriteOnly | QIODevice::Append);
    }
    const QByteArray bytes = text.toUtf8();
    if (m_daily.isOpen() && m_daily.write(bytes) == bytes.size() && m_daily.flush()) {
        m_reported.remove(DailyFileKey);
        return;
    }
    const QString error = m_daily.errorString();
    m_daily.close();
    // Said once until a line reaches the file again; the relay goes on.
    reportOnce(DailyFileKey, QStringLiteral("The page log cannot be written to %1 (%2); it is kept in the window.")
                                 .arg(QDir::toNativeSeparators(name), error));
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

bool PageLog::clearReport(const QString &key)
{
    return m_reported.remove(key);
}
