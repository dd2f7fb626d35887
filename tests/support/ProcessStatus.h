#pragma once

#include <QtGlobal>

// A figure of this process from /proc/self/status, in kB: "VmRSS:" for the
// resident size, "VmHWM:" for its peak. -1 where the system has no such file.
qint64 processStatusKb(const char *field);
