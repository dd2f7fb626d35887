#pragma once

#include "store/Clock.h"

// A wall clock a test sets; in use while it lives.
class TestClock : public Clock
{
public:
    explicit TestClock(const QDateTime &now)
        : m_now(now)
    {
        install(this);
    }
    ~TestClock() override { install(nullptr); }
    TestClock(const TestClock &) = delete;
    TestClock &operator=(const TestClock &) = delete;

    void set(const QDateTime &now) { m_now = now; }

protected:
    QDateTime currentDateTime() const override { return m_now; }

private:
    QDateTime m_now;
};
