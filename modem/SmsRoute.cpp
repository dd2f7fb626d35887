#include "modem/SmsRoute.h"

#include <QTimer>

void SmsRoute::call(const QString &number, std::function<void(const CallOutcome &)> done)
{
    Q_UNUSED(number);
    QTimer::singleShot(0, [done = std::move(done), name = routeName()] {
        done({CallOutcome::Result::CannotCall, QStringLiteral("%1 makes no calls").arg(name)});
    });
}
