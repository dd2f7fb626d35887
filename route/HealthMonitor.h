#pragma once

#include "modem/HealthRound.h"

#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <map>
#include <memory>

class ModemLine;
class RouteSet;
class PageLog;

// Knows before the next alert does whether each modem can send. A health
// round runs on every modem at start and every RoundMs while it has
// nothing else to do, and at once when an SMS failed as if the modem were
// gone or its line went away or came back. A modem is down when it does
// not answer at all, its device is missing, its SIM wants its PIN or
// refused it or is missing, it is not registered on the network (denied,
// or searching for longer than 2 minutes), or it has had no signal for 3
// rounds. Going down and coming up again are said in the page log once.
//
// A modem that does not answer is opened afresh; after 3 rounds without an
// answer it is sent its reset command, where one is set.
class HealthMonitor : public QObject
{
    Q_OBJECT

public:
    static constexpr int DefaultRoundMs = 60000;
    static constexpr qint64 SearchingMs = 2 * 60 * 1000;
    static constexpr int NoSignalRounds = 3;
    static constexpr int SilentRoundsBeforeReset = 3;

    HealthMonitor(RouteSet &routes, PageLog &pageLog, QObject *parent = nullptr);
    ~HealthMonitor() override;

    // Rounds from now on: one on every modem at once.
    void start();
    void setRoundMs(int ms) { m_timer.setInterval(ms); }
    bool started() const { return m_timer.isActive(); }
    // A round on `line` as soon as it is free.
    void checkSoon(ModemLine *line);

signals:
    void modemDown(const QString &name, const QString &reason);
    void modemUp(const QString &name);
    // No modem can send any more, and one can again.
    void outageBegan(const QDateTime &since);
    void outageEnded(const QDateTime &from, const QDateTime &to);
    // A round on `line` has ended with the modem answering.
    void roundDone(ModemLine *line);

private:
    struct Watch {
        std::unique_ptr<HealthRound> round;
        bool wanted = false; // a round is due as soon as the line is free
        QString down;        // why it is down; empty while up
        int silentRounds = 0;
        int noSignalRounds = 0;
        QDateTime searchingSince;
    };

    void roundDue();
    void attach(ModemLine *line);
    void run(ModemLine *line);
    void judged(ModemLine *line, const ModemHealth &health);
    QString verdict(ModemLine *line, Watch &watch, const ModemHealth &health);
    void recover(ModemLine *line, Watch &watch);
    void followOutage();

    RouteSet &m_routes;
    PageLog &m_pageLog;
    std::map<ModemLine *, Watch> m_watches;
    QTimer m_timer;
    QDateTime m_outageSince;
};
