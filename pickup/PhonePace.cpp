#include "pickup/PhonePace.h"

#include "modem/OutboxReport.h"
#include "modem/PageLog.h"
#include "store/Clock.h"
#include "store/DbError.h"
#include "store/FloodOptions.h"

#include <algorithm>

namespace {

// Characters of one part of a long SMS: 7-bit where plain ASCII, UCS-2
// otherwise.
constexpr int AsciiPart = 153;
constexpr int WidePart = 67;

bool plainAscii(const QString &text)
{
    return std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() >= 0x20 && c.unicode() < 0x7f; });
}

} // namespace

PhonePace::PhonePace(Outbox &outbox, PageLog &pageLog)
    : m_outbox(outbox)
    , m_pageLog(pageLog)
{
}

void PhonePace::load()
{
    const FloodOptions::Pace pace = FloodOptions::pace();
    setPace(pace.count, pace.minutes);
}

void PhonePace::setPace(int count, int minutes)
{
    m_count = qMax(0, count);
    m_minutes = qMax(0, minutes);
    m_outbox.setPace(on() ? m_count : 0, qint64(m_minutes) * 60 * 1000);
}

QString PhonePace::digestText(const Outbox::Digest &digest)
{
    const qsizetype total = digest.alerts.size();
    QString text = QStringLiteral("%1 more alerts: ").arg(total);
    for (qsizetype i = 0; i < total; ++i) {
        const QString item = (i > 0 ? QStringLiteral("; ") : QString()) + digest.alerts[i].first + QLatin1Char(' ')
                             + digest.alerts[i].second;
        const qsizetype left = total - i - 1;
        // Room kept for the count of those that do not fit.
        const QString rest = left > 0 ? QStringLiteral("; and %1 more, see the desk").arg(left) : QString();
        const QString longer = text + item;
        const int limit = MaxParts * (plainAscii(longer + rest) ? AsciiPart : WidePart);
        if (longer.size() + rest.size() > limit) {
            if (i == 0)
                return QStringLiteral("%1 more alerts, see the desk").arg(total);
            return text + QStringLiteral("; and %1 more, see the desk").arg(total - i);
        }
        text = longer;
    }
    return text;
}

void PhonePace::digestDue()
{
    QList<Outbox::Digest> made;
    try {
        made = m_outbox.makeDigests(Clock::nowUtc(), DigestEveryMs, &PhonePace::digestText);
    } catch (const DbError &error) {
        OutboxReport::failed(m_pageLog, error.text());
        return;
    }
    for (const Outbox::Digest &digest : std::as_const(made))
        m_pageLog.report(QStringLiteral("Digest of %1 alerts held by the pace for %2 (%3).")
                             .arg(digest.alerts.size())
                             .arg(digest.name, digest.number));
}
