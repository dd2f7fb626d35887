#pragma once

#include <QObject>
#include <QString>
#include <stdexcept>

// The ring of history files ALARM1.csv (oldest) to ALARM10.csv in the
// program folder: one line per acknowledged SMS, a new file after about a
// megabyte, the oldest dropped when the tenth is full.
class AlarmHistory : public QObject
{
    Q_OBJECT

public:
    static constexpr int FileCount = 10;
    static constexpr qint64 FullAbove = 1024000;

    // A history file that could not be written, renamed or deleted.
    class Failure : public std::runtime_error
    {
    public:
        using std::runtime_error::runtime_error;
    };

    using QObject::QObject;

    // Appends the history line of a send (no line end; the bytes it is
    // written as) to the newest file, rotating as needed.
    void AlarmLog(const QByteArray &AlarmRecord);
    void FirstInFirstOut();
    void WriteDATA(const QString &F, const QByteArray &AlarmRecord);

    static QString fileName(int n);

    // The texts of the main window's two history labels.
    QString label3() const { return m_label3; }
    QString label4() const { return m_label4; }

signals:
    void labelsChanged();

private:
    QString m_label3;
    QString m_label4;
};
