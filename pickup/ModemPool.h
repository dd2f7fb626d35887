#pragma once

#include "modem/ModemLine.h"
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
// service, set aside after it failed (it gets no SMS then, and is asked
// every ProbeMs whether it answers again), or taken out of service by an
// administrator. A modem that fails 3 SMS in a row, or stops answering, or
// whose port goes, is set aside while another modem is in service to cover
// for it; a refusal that is about the number only counts against nobody.
class ModemPool : public QObject
{
    Q_OBJECT

public:
    static constexpr int FailuresToSetAside = 3;
    static constexpr int DefaultProbeMs = 60000;

    enum class State { InService, SetAside, OnTrial, OutOfService };

    struct Status {
        PortSettings settings;
        bool first = false;
        State state = State::InService;
        QString reason; // why set aside, or the last failure
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

private:
    struct Modem {
        std::unique_ptr<ModemLine> line;
        bool first = false;
        State state = State::InService;
        int failuresInARow = 0;
        QString reason;
    };

    Modem *find(const SmsRoute *route);
    void attach(Modem &modem);
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
