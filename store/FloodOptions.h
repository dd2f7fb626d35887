#pragma once

#include <QString>

#include <optional>

// How the desk bounds a robot that floods it, kept in DeskOptions: the
// window within which an alert identical to one sent is counted rather than
// sent, and the pace of SMS per phone. A Config.mdb without them has both
// off, so a desk that never chose them sends every alert as it always did.
namespace FloodOptions {

// What vantrel-setup gives a Config.mdb it makes.
constexpr int NewDeskCollapseMinutes = 10;
constexpr int NewDeskPaceCount = 10;
constexpr int NewDeskPaceMinutes = 10;

struct Pace {
    int count = 0;   // SMS to one phone ...
    int minutes = 0; // ... in any this many minutes
    bool on() const { return count > 0 && minutes > 0; }
    bool operator==(const Pace &) const = default;
};

// 0: off.
int collapseMinutes();
Pace pace();
// Failures are thrown as DbError.
void storeCollapse(int minutes);
void storePace(const Pace &pace);

// "MINUTES" (0 = off), and "N/MINUTES" (0 = off); nothing for text that
// does not read.
std::optional<int> parseCollapse(const QString &text);
std::optional<Pace> parsePace(const QString &text);
QString paceText(const Pace &pace);

} // namespace FloodOptions
