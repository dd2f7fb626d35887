#include "route/SentToday.h"

#include "store/Clock.h"

void SentToday::add()
{
    const QDate today = Clock::now().date();
    m_count = m_on == today ? m_count + 1 : 1;
    m_on = today;
}

int SentToday::count() const
{
    return m_on == Clock::now().date() ? m_count : 0;
}
