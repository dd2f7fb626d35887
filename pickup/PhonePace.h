#pragma once

#include "store/Outbox.h"

#include <QString>

class PageLog;

// A pace per phone: at most so many SMS of alerts to one number in any so
// many minutes. What goes beyond waits in the outbox and goes as one digest
// every DigestEveryMs, in at most MaxParts SMS; what does not fit is
// counted in it, never dropped. The relay's own notices never go through
// the pace.
class PhonePace
{
public:
    static constexpr qint64 DigestEveryMs = 5 * 60 * 1000;
    static constexpr int MaxParts = 4;

    PhonePace(Outbox &outbox, PageLog &pageLog);

    // The pace from Config.mdb; off without one.
    void load();
    void setPace(int count, int minutes);
    bool on() const { return m_count > 0 && m_minutes > 0; }
    // Makes the digests that are due; each goes as an alert of its own.
    void digestDue();

    // "N more alerts: ROBOT TITLE; ...", cut to what MaxParts SMS carry.
    static QString digestText(const Outbox::Digest &digest);

private:
    Outbox &m_outbox;
    PageLog &m_pageLog;
    int m_count = 0;
    int m_minutes = 0;
};
