#include "LineModem.h"

#include <poll.h>
#include <unistd.h>

LineModem::LineModem(const QString &folder, int port)
    : m_pty(folder, port)
{
    m_thread = std::thread([this] { serve(); });
}

LineModem::~LineModem()
{
    m_stop = true;
    m_thread.join();
}

std::vector<LineModem::Message> LineModem::messages() const
{
    std::lock_guard lock(m_mutex);
    return m_messages;
}

void LineModem::serve()
{
    while (!m_stop) {
        pollfd fd{m_pty.masterFd(), POLLIN, 0};
        if (::poll(&fd, 1, 50) <= 0 || !(fd.revents & POLLIN))
            continue;
        const Clock::time_point at = Clock::now();
        char buffer[4096];
        const ssize_t n = ::read(m_pty.masterFd(), buffer, sizeof buffer);
        if (n > 0)
            feed(buffer, size_t(n), at);
    }
}

void LineModem::feed(const char *bytes, size_t size, Clock::time_point at)
{
    QByteArray answer;
    for (size_t i = 0; i < size; ++i) {
        const char c = bytes[i];
        if (m_inText) {
            if (c != 0x1A) {
                m_text += c;
                answer += c;
                continue;
            }
            m_inText = false;
            {
                std::lock_guard lock(m_mutex);
                m_messages.push_back({m_number, m_text, m_textModeAt});
            }
            answer += "\r\n+CMGS: 1\r\n\r\nOK\r\n";
            continue;
        }
        if (c == 0x1B) // cancels a message being typed; nothing in command state
            continue;
        answer += c; // echo, as modems do by default
        if (c == '\n')
            continue;
        if (c != '\r') {
            if (m_line.isEmpty())
                m_lineStart = at;
            m_line += c;
            continue;
        }
        const QByteArray line = std::exchange(m_line, {}).trimmed();
        if (line.isEmpty())
            continue;
        if (line == "AT+CMGF=1") {
            m_textModeAt = m_lineStart;
        } else if (line.startsWith("AT+CMGS=")) {
            m_number = line.mid(8);
            m_number.replace('"', "");
            m_text.clear();
            m_inText = true;
            answer += "\r\n> ";
            continue;
        }
        answer += "\r\nOK\r\n";
    }
    m_pty.write(answer);
}
