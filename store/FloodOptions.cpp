#include "store/FloodOptions.h"

#include "store/DeskOptions.h"

#include <QStringList>

namespace FloodOptions {

namespace {

// A day is the longest window that still means something to a desk.
constexpr int MaxMinutes = 24 * 60;
constexpr int MaxCount = 1000;

} // namespace

std::optional<int> parseCollapse(const QString &text)
{
    bool ok = false;
    const int minutes = text.trimmed().toInt(&ok);
    if (!ok || minutes < 0 || minutes > MaxMinutes)
        return std::nullopt;
    return minutes;
}

std::optional<Pace> parsePace(const QString &text)
{
    const QString trimmed = text.trimmed();
    if (trimmed == QLatin1String("0") || trimmed == QLatin1String("off"))
        return Pace{};
    const QStringList parts = trimmed.split(QLatin1Char('/'));
    if (parts.size() != 2)
        return std::nullopt;
    bool countOk = false;
    bool minutesOk = false;
    const int count = parts[0].toInt(&countOk);
    const int minutes = parts[1].toInt(&minutesOk);
    if (!countOk || !minutesOk || count < 0 || count > MaxCount || minutes < 0 || minutes > MaxMinutes)
        return std::nullopt;
    if (count == 0 || minutes == 0)
        return Pace{};
    return Pace{count, minutes};
}

QString paceText(const Pace &pace)
{
    return pace.on() ? QStringLiteral("%1/%2").arg(pace.count).arg(pace.minutes) : QStringLiteral("0");
}

int collapseMinutes()
{
    // A value that does not read is off, as no value is.
    return parseCollapse(DeskOptions::value(QString::fromLatin1(DeskOptions::Collapse), QStringLiteral("0")))
        .value_or(0);
}

Pace pace()
{
    return parsePace(DeskOptions::value(QString::fromLatin1(DeskOptions::Pace), QStringLiteral("0"))).value_or(Pace{});
}

void storeCollapse(int minutes)
{
    DeskOptions::setValue(QString::fromLatin1(DeskOptions::Collapse), QString::number(qMax(0, minutes)));
}

void storePace(const Pace &pace)
{
    DeskOptions::setValue(QString::fromLatin1(DeskOptions::Pace), paceText(pace));
}

} // namespace FloodOptions
