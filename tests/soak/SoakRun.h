#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// A soak of the whole relay: robots in a thread of their own append alerts
// to the files of many watched folders while the relay takes them, and a
// modem simulator that refuses, stays silent, splits its replies and hangs
// up at random serves several on-duty users. Failed SMS are tried again.
// Afterwards every alert, every SMS and every refusal is accounted for. The
// soak test runs it small; the soak benchmark runs it long.
struct SoakPlan {
    int alerts = 1500;
    int folders = 12;
    int onDuty = 3;
    int tickMs = 20;
    int timeUnitMs = 250;
    // The waits before a failed SMS is tried again.
    QList<qint64> retryDelaysMs = {100, 200, 300, 400};
    quint32 seed = 11;
    int timeLimitMs = 120000;
    QStringList modemOptions;
};

struct SoakOutcome {
    int alerts = 0;
    int logRows = 0;
    int sends = 0;
    int acknowledged = 0;
    int accepted = 0;
    int refusedByModem = 0;
    int refusalsInTrace = 0;
    int timeouts = 0;
    int brokenOff = 0;
    int hangUps = 0;
    int ignoredCommands = 0;
    int acceptedNotAcknowledged = 0;
    int acceptedTwice = 0; // after a send whose answer was lost
    int givenUp = 0;
    int notDelivered = 0;
    int messageBoxes = 0;
    qint64 rssStartKb = 0;
    qint64 rssEndKb = 0;
    double seconds = 0;
    // Everything that breaks a promise; empty when the soak passed.
    QStringList problems;

    QString summary() const;
};

SoakOutcome runSoak(const SoakPlan &plan);
