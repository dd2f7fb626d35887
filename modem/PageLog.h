#pragma once

#include <QObject>
#include <QSet>
#include <QString>

// The page log of the main window: every acknowledged SMS and every report
// that an administrator should see. The window shows it as it grows.
class PageLog : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    void append(const QString &text);
    // A report of our own, one line with its own line end.
    void report(const QString &line);
    // A report of a lasting condition, said once until clearReport(key)
    // says the condition is over.
    void reportOnce(const QString &key, const QString &line);
    void clearReport(const QString &key);

    const QString &text() const { return m_text; }

signals:
    void appended(const QString &text);

private:
    QString m_text;
    QSet<QString> m_reported;
};
