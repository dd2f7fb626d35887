#pragma once

#include "modem/AlarmHistory.h"
#include "modem/SmsSendJob.h"
#include "store/Outbox.h"

#include <QDateTime>
#include <QObject>
#include <QString>

class PageLog;

// What becomes of each SMS, said in one place: the page log block of a send,
// of a failure and of a text altered on its way, the history line of a send,
// the line of an SMS given up, the box of a port that would not open, and
// what delivery reports said, and the counts the tray shows.
class SmsReporter : public QObject
{
    Q_OBJECT

public:
    // An SMS given up is counted, for the tray's tip, this long.
    static constexpr qint64 GivenUpShownSecs = qint64(24) * 3600;

    SmsReporter(PageLog &pageLog, Outbox &outbox, QObject *parent = nullptr);

    // Says what a text loses on its way: control bytes sent as spaces, the
    // end of a text longer than eight SMS.
    void alterations(const QString &text);
    // An SMS the modem took: the page log block and the history line.
    void sent(const SmsRequest &request, const SendOutcome &outcome);
    // An SMS that did not go out.
    void notSent(const QString &text, const QString &name, const QString &number, const QString &reason);
    // Tried for the last time: said, and a balloon from the tray.
    void givenUp(const QString &name, const QString &number, int tries, const QString &reason);
    // Any outcome of a try: a port that would not open is shown in a box
    // that waits for nobody.
    void tried(const SendOutcome &outcome);

    // What a delivery report said, or that none came in time.
    void delivered(const QString &name, const QString &number, const QDateTime &at);
    void notDelivered(const QString &name, const QString &number, const QString &reason, bool sentAgain);
    void noReport(const QString &name, const QString &number, qint64 minutes);

    // With more than one line, each send says which one it went over.
    void setNameRoutes(bool on) { m_nameRoutes = on; }

    // The counts of the outbox anew; deliveryChanged when they changed.
    void updateCounts();
    const Outbox::Counts &counts() const { return m_counts; }

    AlarmHistory &history() { return m_history; }

signals:
    // How many SMS wait to be tried again, and how many were given up.
    void deliveryChanged(int retrying, int givenUp);
    // An SMS was tried for the last time and did not go out.
    void gaveUp(const QString &name, const QString &number, const QString &reason);
    // A try of an SMS has ended on `route` ("COM1", "gateway"), the route
    // having taken it or not; the trace still shows its dialogue.
    void smsTried(bool sent, const QString &route);
    // A route took an SMS, also one whose answer came late: `id` is its
    // row in the outbox, 0 for a notice of the relay's own or a test message.
    void smsSent(qint64 id, const QString &route);

private:
    PageLog &m_pageLog;
    Outbox &m_outbox;
    AlarmHistory m_history;
    bool m_nameRoutes = false;
    Outbox::Counts m_counts;
};
