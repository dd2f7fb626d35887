#pragma once

#include <QObject>
#include <QString>

// The page log of the main window: every acknowledged SMS and every report
// that an administrator should see, kept whole for the life of the program.
// Appending is cheap however long it grows: the window adds each piece at
// the end instead of replacing its whole text.
class PageLog : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    void append(const QString &text);
    // A report of our own, one line with its own line end.
    void report(const QString &line);

    const QString &text() const { return m_text; }

signals:
    void appended(const QString &text);

private:
    QString m_text;
};
