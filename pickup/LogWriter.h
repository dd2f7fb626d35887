#pragma once

#include "store/Outbox.h"

#include <QElapsedTimer>

class PageLog;

// Writes the LOG rows that are due, in the order of their alerts: an
// alert's row once every one of its SMS has had its first try. A row the
// database refuses waits in the outbox, said once and tried again after
// RetryMs; a row that reached the table just before the program stopped is
// found there and not written twice.
class LogWriter
{
public:
    static constexpr int RetryMs = 10000;

    LogWriter(Outbox &outbox, PageLog &pageLog);

    // Writes the rows that are due; false when one was refused.
    bool writeDue();
    // The last call left rows due for the next.
    bool moreDue() const { return m_moreDue; }

private:
    bool write(const Outbox::Alert &alert);
    // Finds the LOG rows of alerts logged before the outbox kept them, a
    // few at each call until none is left.
    void linkEarlier();

    Outbox &m_outbox;
    PageLog &m_pageLog;
    QElapsedTimer m_pause; // running while the database refuses rows
    int m_waited = 0;
    bool m_linked = false;
    bool m_moreDue = false;
};
