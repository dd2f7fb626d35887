#pragma once

#include <QString>

#include <atomic>
#include <chrono>
#include <thread>

// Another program holding a SQLite file under a write lock (BEGIN
// EXCLUSIVE), from its own thread and connection, until released or for the
// time given. The relay waits for a lock with its event loop stopped, so
// only the holder's own thread can let go in the middle of that wait.
class LockHolder
{
public:
    explicit LockHolder(const QString &file, std::chrono::milliseconds holdFor = std::chrono::hours(1));
    ~LockHolder();
    LockHolder(const LockHolder &) = delete;
    LockHolder &operator=(const LockHolder &) = delete;

    bool locked() const { return m_locked; }
    void release();

private:
    std::atomic<bool> m_release{false};
    bool m_locked = false;
    std::thread m_thread;
};
