#pragma once

#include "store/Outbox.h"

#include <QElapsedTimer>
#include <QObject>

class PageLog;

// Names a robot that floods the desk: one that wrote more than Threshold
// alerts in the last WindowMs. Said in the page log and by alarm() when it
// begins, by notice() to the on-duty phones then and at most every
// NoticeEveryMs while it goes on; the robots flooding now are listed for
// Status.json.
class FloodWatch : public QObject
{
    Q_OBJECT

public:
    static constexpr int Threshold = 100;
    static constexpr qint64 WindowMs = 10 * 60 * 1000;
    static constexpr qint64 NoticeEveryMs = 60 * 60 * 1000;
    // However often cycles run in a flood, the outbox is asked this seldom.
    static constexpr qint64 LookEveryMs = 1000;

    FloodWatch(Outbox &outbox, PageLog &pageLog, QObject *parent = nullptr);

    // On where the desk bounds floods (collapse or pace); off, as an older
    // desk, it says nothing.
    void setOn(bool on, bool collapsing);
    void look();
    const QList<Outbox::Flooding> &current() const { return m_current; }

signals:
    void alarm(const QString &text);
    void notice(const QString &text);
    void changed();

private:
    QString words(const Outbox::Flooding &robot) const;

    Outbox &m_outbox;
    PageLog &m_pageLog;
    bool m_on = false;
    bool m_collapsing = false;
    QElapsedTimer m_sinceLook;
    QList<Outbox::Flooding> m_current;
};
