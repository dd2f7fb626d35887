#pragma once

#include "modem/GatewayRoute.h"
#include "modem/ReportListener.h"

#include "pickup/SentToday.h"

#include <QHostAddress>
#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>

class PageLog;
class TraceList;

// The desk's SMS gateway (a Kannel smsbox), where Config.mdb names one:
// its route, the listener for its delivery reports, and what the relay
// thinks of it. Like a modem it is set aside after 3 failures in a row, or
// at once when it cannot be reached at all, asked every ProbeMs whether it
// answers again, and back in service once it has taken an SMS. Set aside
// while no other route can send, it holds the alerts in the outbox instead
// of spending their tries.
//
// DeskOptions keep its settings: "Gateway" (the sendsms URL), "GatewayOnly"
// ("on": the modems are not used) and "GatewayReports" ([HOST:]PORT the
// listener takes reports on; 127.0.0.1:13080 by default).
class Gateway : public QObject
{
    Q_OBJECT

public:
    static constexpr int FailuresToSetAside = 3;
    static constexpr int DefaultProbeMs = 60000;
    static constexpr quint16 DefaultReportPort = 13080;

    enum class State { InService, SetAside, OnTrial };

    struct Status {
        bool configured = false;
        bool only = false;
        QUrl url;
        State state = State::InService;
        QString reason;    // why set aside
        QString lastError; // of the latest SMS that failed on it
        int sentToday = 0;
        bool hearsReports = false;
    };

    Gateway(PageLog &pageLog, TraceList &trace, QObject *parent = nullptr);
    ~Gateway() override;

    // The settings from Config.mdb (failures thrown as DbError).
    void load();
    // The report listener from now on; `tokenKnown` tells the tokens of SMS
    // that wait for their reports.
    void start(std::function<bool(const QString &)> tokenKnown);

    bool configured() const { return m_route != nullptr; }
    // The desk sends through the gateway alone.
    bool only() const { return configured() && m_only; }
    // Takes SMS now: configured and in service or on trial.
    bool usable() const;
    GatewayRoute *route() const { return m_route.get(); }
    Status status() const;

    // What became of a try through it.
    void tried(const SendOutcome &outcome);

    // Administration, stored in Config.mdb: an empty URL removes the gateway.
    void setUrl(const QString &url);
    void setOnly(bool only);

    void setProbeMs(int ms) { m_probe.setInterval(ms); }
    void setTimeoutMs(int ms);

    // Parses "[HOST:]PORT"; false where it does not read.
    static bool parseReportAddress(const QString &text, QHostAddress *host, quint16 *port);

signals:
    void changed();
    void setAside(const QString &reason);
    // Able to take another SMS: the SMS waiting go on.
    void routeFreed();
    // It answers again after it was set aside, or was set anew.
    void back();
    // A delivery report Kannel sent for a token the outbox knows.
    void reported(const QString &token, int type, const QString &answer);

private:
    void makeRoute(const QString &url);
    void listen();
    void putAside(const QString &reason);
    void probe();

    PageLog &m_pageLog;
    TraceList &m_trace;
    std::unique_ptr<GatewayRoute> m_route;
    ReportListener m_listener;
    QHostAddress m_reportHost = QHostAddress::LocalHost;
    quint16 m_reportPort = DefaultReportPort;
    std::function<bool(const QString &)> m_tokenKnown;
    bool m_started = false;
    bool m_only = false;
    int m_timeoutMs = GatewayRoute::DefaultTimeoutMs;
    State m_state = State::InService;
    QString m_reason;
    QString m_lastError;
    int m_failuresInARow = 0;
    SentToday m_sentToday;
    QTimer m_probe;
};
