#include "route/AlarmThrottle.h"

#include "store/Clock.h"

#include <QTimer>

#include <algorithm>
#include <limits>

namespace {

QString downText(const QString &name, const QString &reason)
{
    return QStringLiteral("Vantrel: modem %1 is down: %2").arg(name, reason);
}

QString upText(const QString &name)
{
    return QStringLiteral("Vantrel: modem %1 is up again").arg(name);
}

} // namespace

AlarmThrottle::AlarmThrottle(QObject *parent)
    : QObject(parent)
{
}

void AlarmThrottle::setQuietMs(qint64 ms)
{
    m_quietMs = std::clamp<qint64>(ms, 0, std::numeric_limits<int>::max());
}

void AlarmThrottle::down(const QString &name, const QString &reason)
{
    changed(name, true, reason);
}

void AlarmThrottle::up(const QString &name)
{
    changed(name, false, QString());
}

AlarmThrottle::Modem &AlarmThrottle::modem(const QString &name)
{
    auto found = m_modems.find(name);
    if (found != m_modems.end())
        return *found;
    Modem &added = m_modems[name];
    added.quiet = new QTimer(this);
    added.quiet->setSingleShot(true);
    // A coarse timer may end up to 5% early, which is minutes here.
    added.quiet->setTimerType(Qt::PreciseTimer);
    connect(added.quiet, &QTimer::timeout, this, [this, name] { quietEnded(name); });
    return added;
}

void AlarmThrottle::changed(const QString &name, bool down, const QString &reason)
{
    Modem &it = modem(name);
    // A modem is up until it is said to be down; a second word of the
    // same state is no change.
    if (it.down == down) {
        if (down)
            it.reason = reason;
        return;
    }
    it.down = down;
    it.reason = reason;
    if (!it.quiet->isActive()) {
        tell(it, down ? downText(name, reason) : upText(name));
        return;
    }
    if (it.held++ == 0)
        it.firstHeld = Clock::nowUtc();
    if (down)
        ++it.downs;
}

void AlarmThrottle::quietEnded(const QString &name)
{
    Modem &it = m_modems[name];
    if (it.held == 0)
        return;
    QString text;
    if (it.downs == 0) {
        // Only its coming back was held: that is all there is to say.
        text = upText(name);
    } else {
        const QString times = it.downs == 1 ? QStringLiteral("once") : QStringLiteral("%1 times").arg(it.downs);
        const QString now = it.down ? QStringLiteral("now down: %1").arg(it.reason) : QStringLiteral("now up");
        text = QStringLiteral("Vantrel: modem %1 went down %2 since %3, %4")
                   .arg(name, times, it.firstHeld.toLocalTime().toString(QStringLiteral("HH:mm")), now);
    }
    tell(it, text);
}

void AlarmThrottle::tell(Modem &modem, const QString &text)
{
    modem.held = 0;
    modem.downs = 0;
    modem.firstHeld = QDateTime();
    modem.quiet->start(int(m_quietMs));
    emit alarm(text);
}
