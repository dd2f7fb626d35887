#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QString>

// What vantrel-check makes of a program folder's Status.json: a state as
// Nagios and its kin understand it, and the one line that says why, with the
// figures after a "|".
class StatusCheck
{
public:
    // The plugin's exit codes.
    enum State { Ok = 0, Warning = 1, Critical = 2, Unknown = 3 };

    // The relay writes its status at least once a minute: three minutes
    // without a write and it is gone.
    static constexpr qint64 StaleSecs = 180;
    static constexpr qint64 DefaultWaitingWarnSecs = 300;

    struct Result {
        State state = Unknown;
        QString line;
    };

    explicit StatusCheck(qint64 waitingWarnSecs = DefaultWaitingWarnSecs);

    // The status as parsed; `modified` is the file's time, which stands in
    // for a status that does not say when it was written.
    Result check(const QJsonObject &status, const QDateTime &modified, const QDateTime &now) const;

    // A line without figures, for what keeps the status from being read.
    static Result plain(State state, const QString &text);
    // "OK", "WARNING" ...
    static QString stateName(State state);

private:
    qint64 m_waitingWarnSecs;
};
