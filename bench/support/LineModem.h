#pragma once

#include "support/PtyPair.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

// A GSM modem that answers at once, on a pseudo-terminal bound as
// <folder>/COM<port>, served by a thread of its own so that the moment a
// byte reaches the modem is taken on the modem's side of the line, not when
// the program's event loop gets round to it.
class LineModem
{
public:
    using Clock = std::chrono::steady_clock;

    struct Message {
        QByteArray number;
        QByteArray text;
        Clock::time_point textModeAt; // first byte of the AT+CMGF=1 of this send
    };

    LineModem(const QString &folder, int port);
    ~LineModem();
    LineModem(const LineModem &) = delete;
    LineModem &operator=(const LineModem &) = delete;

    std::vector<Message> messages() const;

private:
    void serve();
    void feed(const char *bytes, size_t size, Clock::time_point at);

    PtyPair m_pty;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;

    // Only the serving thread touches the dialogue state.
    QByteArray m_line;
    Clock::time_point m_lineStart;
    Clock::time_point m_textModeAt;
    bool m_inText = false;
    QByteArray m_number;
    QByteArray m_text;

    mutable std::mutex m_mutex;
    std::vector<Message> m_messages;
};
