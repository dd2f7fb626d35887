#pragma once

#include "modem/HealthRound.h"
#include "route/RouteStanding.h"
#include "store/PortSettings.h"

#include <QString>
#include <QUrl>

// How one route stands, as the tray, the heartbeat, Status.json and the
// Modems window show it.
struct RouteStatus {
    QString name;          // "COM1", "gateway"
    bool gateway = false;  // else a modem
    PortSettings settings; // of a modem
    bool first = false;    // the Com row's modem
    RouteState state = RouteState::InService;
    QString reason;     // why down or set aside
    QString lastError;  // of the latest SMS that failed on it
    ModemHealth health; // what a modem's latest health round found
    int sentToday = 0;
    QUrl url;                  // of the gateway
    bool hearsReports = false; // the gateway's reports are taken

    bool up() const { return state == RouteState::InService || state == RouteState::OnTrial; }
    // The state in the words every view uses: "up", "down", "set aside",
    // "out of service".
    QString stateWords() const { return words(state); }
    // The same with the reason where there is one: "down (no answer)".
    QString stateWithReason() const
    {
        return reason.isEmpty() || up() ? stateWords() : QStringLiteral("%1 (%2)").arg(stateWords(), reason);
    }

    static QString words(RouteState state)
    {
        switch (state) {
        case RouteState::InService:
        case RouteState::OnTrial:
            return QStringLiteral("up");
        case RouteState::SetAside:
            return QStringLiteral("set aside");
        case RouteState::Down:
            return QStringLiteral("down");
        case RouteState::OutOfService:
            return QStringLiteral("out of service");
        }
        return {};
    }
};
