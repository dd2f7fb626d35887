#pragma once

#include "modem/AlarmSender.h"
#include "modem/PageLog.h"
#include "modem/Recipients.h"
#include "modem/TraceList.h"
#include "pickup/MT4Paths.h"
#include "pickup/SmsIntake.h"

#include <QObject>
#include <QQueue>
#include <QSet>
#include <QTimer>

// The alert relay: every tick of Timer1 takes the alert files of the
// watched folders into the batch, then sends each record to every on-duty
// recipient and writes its LOG row.
class AlertRelay : public QObject
{
    Q_OBJECT

public:
    static constexpr int TickIntervalMs = 3000;

    explicit AlertRelay(QObject *parent = nullptr);

    void Timer1_Timer();
    void DispatchAlerts();
    void WriteLog(const QString &Time, const QString &EA_Name, const QString &Title, const QString &Message);

    // A polling cycle is taking files or sending right now.
    bool cycleRunning() const { return m_cycleRunning; }
    // Alerts sent whose LOG row waits for the database.
    qsizetype unloggedCount() const { return m_unlogged.size(); }
    // Writes the LOG rows that wait, oldest first; false when the database
    // refused one, which then waits on with those behind it.
    bool writeWaitingLogs();

    PageLog pageLog;
    TraceList trace;
    MT4Paths paths;
    Recipients recipients;
    SmsIntake intake;
    AlarmSender sender;
    QTimer Timer1;
    short TickCount = 0;

signals:
    void tickCounted(short TickCount);

private:
    void takeAlertFile(const QString &path);
    void reportOnce(const QString &key, const QString &line);

    bool m_cycleRunning = false;
    QSet<QString> m_reported;
    // Alerts sent whose LOG row the database has not taken yet.
    QQueue<SmsRecord> m_unlogged;
    bool m_logRefused = false;
};
