#pragma once

#include <unistd.h>

// Permission tests mean nothing to root, who may read any file: while this
// lives a root test process acts as the unprivileged user "nobody" (its
// effective user only, so it can come back). Other users stay who they are.
class RunAsNobody
{
public:
    RunAsNobody()
        : m_was(::geteuid())
    {
        if (m_was == 0 && ::seteuid(Nobody) != 0)
            m_was = Nobody;
    }
    ~RunAsNobody()
    {
        if (m_was == 0) {
            [[maybe_unused]] const int back = ::seteuid(0);
        }
    }
    RunAsNobody(const RunAsNobody &) = delete;
    RunAsNobody &operator=(const RunAsNobody &) = delete;

    // False when the process is root and could not give that up.
    bool ok() const { return ::geteuid() != 0; }

private:
    static constexpr uid_t Nobody = 65534;
    uid_t m_was;
};
