#include "support/RunUntil.h"

#include <QEventLoop>
#include <QTimer>

bool runUntil(const std::function<bool()> &done, int ms)
{
    if (done())
        return true;
    // The moment it holds is what counts: by the time the loop has
    // returned, what follows may already have begun.
    bool held = false;
    QEventLoop loop;
    QTimer look;
    QObject::connect(&look, &QTimer::timeout, &loop, [&] {
        if (!held && done()) {
            held = true;
            loop.quit();
        }
    });
    look.start(5);
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
    return held || done();
}
