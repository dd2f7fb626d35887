#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// Whether the traders' phones are heard (their SMS and missed calls read,
// answered and taken as acknowledgements), how long an alert waits for its
// acknowledgement before it is escalated, and to whom, in order. Replies and
// the wait are kept in DeskOptions; the escalation list in a table of its
// own, Escalation (Step, Name). A Config.mdb without them has all of it off,
// and the desk talks to its modems exactly as before.
namespace ReplyOptions {

constexpr int MaxEscalateMinutes = 24 * 60;

bool replies();
// 0: off; always 0 while replies are off.
int escalateMinutes();
// USERS names, in the order they are escalated to.
QStringList escalation();

// Failures are thrown as DbError.
void storeReplies(bool on);
void storeEscalate(int minutes);
void storeEscalation(const QStringList &names);

// "MINUTES" (0 = off); nothing for text that does not read.
std::optional<int> parseEscalate(const QString &text);
// "NAME[,NAME...]", spaces around each trimmed; empty for none.
QStringList parseNames(const QString &text);
// Of `names`, those that are no USERS name (letter case counted).
QStringList unknownUsers(const QStringList &names);

} // namespace ReplyOptions
