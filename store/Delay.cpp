#include "store/UpdateCom.h"

#include <QTimer>

namespace UpdateCom {

void Delay(float ms, QObject *context, const std::function<void()> &then)
{
    // More than `ms`: a timer never fires early, and one more millisecond
    // covers the fraction.
    QTimer::singleShot(int(ms) + 1, Qt::PreciseTimer, context, then);
}

} // namespace UpdateCom
