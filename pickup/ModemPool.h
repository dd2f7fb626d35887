#pragma once

#include "modem/HealthRound.h"
#include "modem/ModemLine.h"
#include "pickup/SentToday.h"
#include "store/ModemTable.h"

#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>

#include <memory>

class PageLog;
class TraceList;

// The desk's modems, one engine each, and what the relay thinks of each: in
// service, down (its health round says it cannot send: no answer, no SIM,
// no network ...), set aside after it failed (it gets no SMS then, and is
// asked every ProbeMs whether it answers again), or taken out of service by
// an administrator. A modem that fails 3 SMS in a row, or stops answering, or
// whose port goes, is set aside while another modem is in service to cover
// for it; a refusal that is about the number only counts against nobody.
class ModemPool : public QObject
{
    Q_OBJECT

public:
    static constexpr int FailuresToSetAside = 3;
    static constexpr int DefaultProbeMs = 60000;

    enum class State { InService, Down, SetAside, OnTrial, OutOfService };
    // A modem that may take SMS: in service, or answering again after it
    // was set aside.
    static bool isUp(State state) { return state == State::InService || state == State::OnTrial; }

    struct Status {
        PortSettings settings;
        bool first = false;
        State state = State::InService;
        QString reason;     // why down or set aside
        QString lastError;  // of the latest SMS that failed on it
        ModemHealth health; // what its latest health round found
        int sentToday = 0;
    };

    ModemPool(TraceList &trace, PageLog &pageLog, QObject *parent = nullptr);
    ~ModemPool() override;

    // The modems as Config.mdb lists them; the first is the Com row's.
    void load(const QList<ModemTable::Modem> &modems);
    // Every modem in service takes its line into service.
    void open();

    ModemLine &first() { return *m_modems.front().line; }
    const ModemLine &first() const { return *m_modems.front().line; }
    int count() const { return int(m_modems.size()); }
    ModemLine *line(short port) const;
    // The route the page log names so ("COM2"); null for none.
    SmsRoute *route(const QString &name) const;
    QList<ModemLine *> lines() const;
    QList<Status> statuses() const;
    // The names of the modems set aside, for the tray.
    QStringList setAsideNames() const;
    // All engines idle.
    bool idle() const;

    // A route that may take an SMS now, other than those of `excluded`.
    SmsRoute *freeRoute(const QSet<SmsRoute *> &excluded) const;
    // Whether any route in service is left that is not in `excluded`, free
    // or not: an SMS that failed on those may still go another way.
    bool anyOtherInService(const QSet<SmsRoute *> &excluded) const;
    // What became of a try on `route`; keeps count of the failures.
    void tried(SmsRoute *route, const SendOutcome &outcome);
    // Some modem may take SMS: one is in service.
    bool anyUp() const;
    // The first modem that may take SMS; null for none.
    ModemLine *firstUp() const;

    // What a health round found, and its verdict: down for `reason`, or up.
    void setHealth(const ModemLine *line, const ModemHealth &health);
    void setDown(const ModemLine *line, const QString &reason);
    void setUp(const ModemLine *line);
    // The options Config.mdb keeps for a modem (PIN, reset command).
    ModemTable::Modem options(const ModemLine *line) const;
    void setRefusedPin(const ModemLine *line, const QString &pin);
    // The options anew from Config.mdb (a PIN or reset command changed).
    void reloadOptions(const QList<ModemTable::Modem> &modems);

    // The Com row's settings changed (the COM page).
    void setFirstSettings(const PortSettings &settings);
    // Administration: a modem more, one less, out of service or back.
    void add(const ModemTable::Modem &modem);
    void remove(short port);
    void setInService(short port, bool inService);

    void setTimeUnitMs(int ms);
    void setProbeMs(int ms) { m_probe.setInterval(ms); }

signals:
    // A line has nothing more to do: an SMS may go there.
    void routeFreed();
    // Something changed in what the modems are; the tray and the Modems
    // window show it anew.
    void changed();
    void setAside(const QString &name, const QString &reason);
    // An SMS failed on `line` as if the modem were gone: no answer, or its port.
    void lineFailed(ModemLine *line);
    // A line the modem on `line` sent on its own, with its data line.
    void heard(ModemLine *line, const QString &text, const QString &data);

private:
    struct Modem {
        std::unique_ptr<ModemLine> line;
        ModemTable::Modem options;
        State state = State::InService;
        int failuresInARow = 0;
        QString reason;
        QString lastError;
        ModemHealth health;
        SentToday sentToday;
    };

    Modem *find(const SmsRoute *route);
    const Modem *find(const SmsRoute *route) const;
    // A modem more at the end, its engine wired to the pool.
    ModemLine &append(const ModemTable::Modem &options);
    int inServiceCount() const;
    void putAside(Modem &modem, const QString &reason);
    void probe();
    void nameLines();

    TraceList &m_trace;
    PageLog &m_pageLog;
    std::vector<Modem> m_modems;
    int m_timeUnitMs = ModemLine::DefaultTimeUnitMs;
    bool m_opened = false;
    QTimer m_probe;
};
