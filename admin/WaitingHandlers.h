#pragma once

#include <QScopeGuard>
#include <functional>

// The handlers of a window that wait in the event loop (a delay, the modem
// test, a send). A click handled meanwhile may close the window; it must
// not be deleted under them, so the window learns when the last has
// returned.
class WaitingHandlers
{
public:
    explicit WaitingHandlers(std::function<void()> lastReturned)
        : m_lastReturned(std::move(lastReturned))
    {
    }

    // Held by a handler for as long as it runs.
    [[nodiscard]] auto enter()
    {
        ++m_count;
        return qScopeGuard([this] {
            if (--m_count == 0)
                m_lastReturned();
        });
    }

    bool any() const { return m_count > 0; }

private:
    int m_count = 0;
    std::function<void()> m_lastReturned;
};
