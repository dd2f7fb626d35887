#pragma once

#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QString>

class QTimer;

// Decides when a modem's down and up alarms go out by SMS, so that a modem
// that comes and goes cannot flood the phones on duty: at most one alarm a
// modem per quiet time. The first change after a quiet spell is told at
// once; the changes that follow within the quiet time are held back and
// told as one summary when it ends, so that none is lost and none repeats.
class AlarmThrottle : public QObject
{
    Q_OBJECT

public:
    static constexpr qint64 DefaultQuietMs = 30LL * 60 * 1000;

    explicit AlarmThrottle(QObject *parent = nullptr);

    // Shorter for tests; the quiet times already running keep theirs.
    void setQuietMs(qint64 ms);

    void down(const QString &name, const QString &reason);
    void up(const QString &name);

signals:
    // An SMS text for the users on duty.
    void alarm(const QString &text);

private:
    struct Modem {
        bool down = false;
        QString reason; // while down
        int held = 0;   // changes held back since the last alarm
        int downs = 0;  // of them, the times it went down
        QDateTime firstHeld;
        QTimer *quiet = nullptr; // runs from the last alarm
    };

    Modem &modem(const QString &name);
    void changed(const QString &name, bool down, const QString &reason);
    void quietEnded(const QString &name);
    void tell(Modem &modem, const QString &text);

    qint64 m_quietMs = DefaultQuietMs;
    QHash<QString, Modem> m_modems;
};
