#pragma once

#include <QObject>
#include <QString>
#include <QTime>
#include <QTimer>

class RouteSet;
class Outbox;

// A daily SMS to the on-duty users that all is well, at the time the desk
// sets (DeskOptions "Heartbeat", off unless set): "Vantrel OK: A alerts and S
// SMS since the last report, F failed; modems: COM1 up -71 dBm, COM2 down
// (no answer)." Its absence tells a trader that the relay itself is gone,
// which nothing else can.
class Heartbeat : public QObject
{
    Q_OBJECT

public:
    // How often the time is looked at.
    static constexpr int LookMs = 20000;
    // How the time is written, in DeskOptions and where it is typed.
    static constexpr const char *TimeFormat = "HH:mm";

    Heartbeat(Outbox &outbox, RouteSet &routes, QObject *parent = nullptr);

    // From DeskOptions; an invalid time is off.
    void load();
    // Into DeskOptions; an invalid time is off. Failures are thrown as DbError.
    static void store(const QTime &at);
    void setTime(const QTime &at) { m_at = at; }
    QTime time() const { return m_at; }
    void start() { m_look.start(); }
    void setLookMs(int ms) { m_look.setInterval(ms); }

    // Sends the report when it is due; the timer calls it.
    void look();
    // The words of the report for what happened since `since`.
    QString text(const QDateTime &since) const;

signals:
    void due(const QString &text);

private:
    Outbox &m_outbox;
    RouteSet &m_routes;
    QTime m_at;
    QTimer m_look;
};
