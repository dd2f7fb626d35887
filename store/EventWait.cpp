#include "store/EventWait.h"
#include "store/UpdateCom.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <limits>

namespace EventWait {

bool until(const std::function<bool()> &done, qint64 ms, Events events)
{
    QElapsedTimer clock;
    clock.start();
    // Wakes the loop when the time is up, should nothing else happen.
    QTimer wake;
    wake.setSingleShot(true);
    wake.setTimerType(Qt::PreciseTimer);
    QEventLoop::ProcessEventsFlags flags = QEventLoop::WaitForMoreEvents;
    if (events == NoUserInput)
        flags |= QEventLoop::ExcludeUserInputEvents;
    for (;;) {
        if (done())
            return true;
        const qint64 left = ms - clock.elapsed();
        if (left <= 0)
            return false;
        wake.start(int(qMin<qint64>(left, std::numeric_limits<int>::max())));
        QCoreApplication::processEvents(flags);
    }
}

} // namespace EventWait

namespace UpdateCom {

void Delay(float ms)
{
    // More than `ms` must have passed; the user started this wait, so every
    // event runs meanwhile.
    EventWait::until([] { return false; }, qint64(ms) + 1, EventWait::EveryEvent);
}

} // namespace UpdateCom
