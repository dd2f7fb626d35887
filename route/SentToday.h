#pragma once

#include <QDate>

// How many SMS a route has sent today, by the desk's clock: the count
// starts again with the first SMS of a new day, and reads 0 on a day
// without any.
class SentToday
{
public:
    void add();
    int count() const;

private:
    int m_count = 0;
    QDate m_on;
};
