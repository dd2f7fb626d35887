#pragma once

#include <QFile>
#include <QObject>
#include <QSet>
#include <QString>

// The page log of the main window: every SMS sent or not sent and every
// report that an administrator should see. Each line also goes to a daily
// file, Logs/PageLog-YYYY-MM-DD.txt in the program folder, so that what
// happened overnight can be read in the morning, also after a restart; in
// memory only the newest KeptLines lines are kept, and the window shows as
// many.
class PageLog : public QObject
{
    Q_OBJECT

public:
    static constexpr int KeptLines = 50000;

    using QObject::QObject;

    void append(const QString &text);
    // A report of our own, one line with its own line end.
    void report(const QString &line);
    // A report of a lasting condition, said once until clearReport(key)
    // says the condition is over; clearReport tells whether it had been said.
    void reportOnce(const QString &key, const QString &line);
    bool clearReport(const QString &key);

    // The newest lines, oldest first.
    const QString &text() const { return m_text; }
    // The daily file that a line appended now goes to.
    static QString dailyFile();

signals:
    void appended(const QString &text);

private:
    void keep(const QString &text);
    void writeDaily(const QString &text);

    QString m_text;
    int m_lines = 0;
    QSet<QString> m_reported;
    QFile m_daily;
};
