#pragma once

#include <QDate>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <limits>

// What the desk asks the morning after: the alerts newest first, and what
// became of each one's SMS. The alerts are the rows of LOG (Config.mdb),
// preceded by those the outbox holds whose LOG row is not written yet; each
// SMS's outcome is the outbox's, which keeps an alert a week after it is
// done. LOG itself has no date: the outbox keeps the range of SMS_ID of each
// day, which outlives the purge.
//
// Read a page at a time by keyset, never the table whole; each call opens
// the two files afresh and holds them only while it reads. Failures are
// thrown as DbError.
class AlertHistory
{
public:
    struct Filter {
        QDate day;      // null: every day
        QString robot;  // the robot's name, whole, in any letter case; empty: every robot
        QString user;   // a recipient's name, in any letter case; empty: everybody
        QString search; // a piece of the message, in any letter case; empty: any

        bool operator==(const Filter &) const = default;
    };

    struct Recipient {
        enum class State { Waiting, Retrying, Sent, Delivered, NotDelivered, GivenUp };

        qint64 smsId = 0;
        QString name;
        QString number;
        State state = State::Waiting;
        int tries = 0;
        QDateTime sentAt; // the network took it; local
        QString route;    // over which route: "COM1", "gateway"
        bool reportAsked = false;
        QDateTime deliveredAt; // the phone had it, by the network's clock; local
        QDateTime givenUpAt;
        QDateTime nextTry; // while retrying
        QString reason;    // why the last try failed, it was given up, or not delivered
        // Who acknowledged the alert from this phone, and when: empty until
        // the desk takes acknowledgements.
        QString acknowledgedBy;
        QDateTime acknowledgedAt;

        // "waiting", "retrying", "sent", "delivered", "not delivered", "given up".
        static QString words(State state);
    };

    struct Alert {
        qint64 logId = 0;   // LOG.SMS_ID; 0 while its row is not written yet
        qint64 alertId = 0; // in the outbox; 0 once the outbox no longer keeps it
        QDate day;          // the day it was taken, where known
        QDateTime takenAt;  // local, while the outbox keeps it
        QString time;       // as the robot wrote it
        QString folder;
        QString robot;
        QString title;
        QString message;
        QList<Recipient> recipients;

        // "2 delivered, 1 given up"; "not kept" for an alert whose SMS the
        // outbox no longer holds.
        QString outcome() const;
    };

    // Where the next page starts: first the alerts not in LOG yet, then LOG.
    struct Cursor {
        bool inLog = false;
        qint64 before = std::numeric_limits<qint64>::max();
        bool atEnd = false;
    };

    // The next page of at most `max` alerts, newest first, moving the cursor.
    QList<Alert> page(const Filter &filter, Cursor &cursor, int max);

    // The SMS of alerts already shown, afresh, with their LOG rows.
    struct Fresh {
        qint64 logId = 0;
        QList<Recipient> recipients;
    };
    QHash<qint64, Fresh> refresh(const QList<qint64> &alertIds);

    // The users' names, to filter by.
    QStringList users();
};
