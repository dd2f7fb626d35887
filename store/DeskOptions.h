#pragma once

#include <QString>

// Settings of the desk that the program adds to Config.mdb, in a table of
// its own: DeskOptions, one row a setting (Name, Value). A Config.mdb
// without the table, or without a row, has the setting's default.
// Failures of a write are thrown as DbError; a read that fails gives the
// default.
namespace DeskOptions {

QString value(const QString &name, const QString &fallback = {});
void setValue(const QString &name, const QString &value);

// The names the program uses.
constexpr auto Heartbeat = "Heartbeat";             // "HH:MM": a daily SMS that all is well; off when empty
constexpr auto LastHeartbeat = "LastHeartbeat";     // when it last went, UTC ISO 8601
constexpr auto DeliveryReports = "DeliveryReports"; // "on": every SMS asks for a delivery report
constexpr auto Gateway = "Gateway";                 // a Kannel sendsms URL with its user; none when empty
constexpr auto GatewayOnly = "GatewayOnly";         // "on": SMS go through the gateway alone
constexpr auto GatewayReports = "GatewayReports";   // [HOST:]PORT its delivery reports come to
constexpr auto Metrics = "Metrics";                 // [HOST:]PORT the metrics page is served on; none when empty
constexpr auto Collapse = "Collapse";               // minutes an alert's repeats are counted, not sent; 0 or none: off
constexpr auto Pace = "Pace";                       // "N/MINUTES": SMS to one phone at most; 0 or none: off
constexpr auto Replies = "Replies";                 // "on": phones' SMS and calls are read, answered and acknowledge
constexpr auto Escalate = "Escalate";               // minutes an alert waits for its acknowledgement; 0 or none: off
constexpr auto GatewayIncoming = "GatewayIncoming"; // the secret the gateway's incoming SMS must carry; none: refused

} // namespace DeskOptions
