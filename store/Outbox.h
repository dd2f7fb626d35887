#pragma once

#include "store/SmsRecord.h"

#include <QDateTime>
#include <QList>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

// The outbox journal, Outbox.db beside the program: every alert from the
// moment its file is read until its last SMS has gone out and its LOG row is
// written. A SQLite file of its own, in WAL mode with synchronous commits,
// so that what it holds survives Exit, a crash and a power cut, and so that
// another program holding Config.mdb locked never stops alerts going out.
//
// The file is opened on first use and stays open. Every failure is thrown
// as DbError; the caller leaves things as they are and tries again later.
// A file the database engine calls damaged (not a database, a malformed
// image) is not obeyed: it is set aside under a name of its own, what can
// still be read from it is carried over into a fresh outbox, and the
// operation goes on there. A full disk or a folder that cannot be written is
// no damage and is thrown as any failure.
class Outbox
{
public:
    static constexpr auto FileName = "Outbox.db";
    static constexpr int DefaultBusyTimeoutMs = 1000;
    // Codes " #N" of alerts waiting for their acknowledgement: 1 to 999.
    static constexpr int MaxCode = 999;

    // Which file on disk: a taken alert file keeps it while it is renamed,
    // written to and read.
    struct FileId {
        qint64 device = 0;
        qint64 inode = 0;
        bool operator==(const FileId &) const = default;
    };

    struct Alert {
        qint64 id = 0;
        QString folder;
        SmsRecord record;
        QByteArray messageBytes; // the message as the robot wrote it
        bool dispatched = false; // its recipients are fixed
        qint64 logAfter = -1;    // the LOG row was being written after this SMS_ID
        int code = -1;           // " #N" its SMS end with; -1: none
    };

    // One SMS of an alert whose dispatch begins: to `number`, or, where
    // `refusal` says why there is none to send to, failed from the start.
    struct NewSms {
        QString name;
        QString number;
        QString refusal;
    };

    struct Sms {
        qint64 id = 0;
        QString name;
        QString number;
        int tries = 0;
        quint32 partsSent = 0;   // of a long message: the parts acknowledged, one bit each
        QString avoidRoute;      // not delivered over this route: sent once more by another
        QString partsRoute;      // the route that sent the parts of partsSent
        int partsReference = -1; // the reference those parts carry
    };

    Outbox();
    ~Outbox();
    Outbox(const Outbox &) = delete;
    Outbox &operator=(const Outbox &) = delete;

    // Opens the journal now, creating it on first use.
    void open();
    // How long a query waits for another program that holds the file
    // (a second by default); tests shorten it.
    void setBusyTimeoutMs(int ms);

    // Called when a damaged file has been set aside: its new name and the
    // alerts carried over from it.
    void onSetAside(std::function<void(const QString &name, int alerts)> said) { m_setAside = std::move(said); }

    // Taking files. A taken file's bytes up to committedBytes() are in the
    // journal already; 0 for a file the journal does not know.
    qint64 committedBytes(const QString &takenFile, const FileId &id);
    // In one transaction: the alerts read from a taken file and how far the
    // file has been read.
    void commitAlerts(const QString &folder, const QString &takenFile, const FileId &id, qint64 bytes,
                      const QList<TakenAlert> &alerts);
    // Repeats: an alert identical (folder, robot, title, message) to one
    // taken less than `ms` before is counted in that one's run instead of
    // being sent. 0: off.
    void setCollapseMs(qint64 ms) { m_collapseMs = ms; }
    struct ClosedRun {
        QString folder;
        QString robot;
        QString title;
        QString message;
        QDateTime openedAt;
        int repeats = 0;
    };
    // Closes the runs whose window has ended by `now`; of each with
    // repeats, an alert of the text given goes to the first's recipients.
    // In one transaction.
    QList<ClosedRun> closeRuns(const QDateTime &now, const std::function<QString(const ClosedRun &)> &noticeText);
    // The pace per phone: at most `count` SMS of alerts to one number in
    // any `windowMs`; beyond it an alert's SMS to that number is held for a
    // digest. 0: off.
    void setPace(int count, qint64 windowMs) { m_pace = {count, windowMs}; }
    struct Digest {
        QString number;
        QString name;
        QList<std::pair<QString, QString>> alerts; // robot, title; in their order
    };
    // Makes the digests that are due by `now` (a number's last digest, else
    // its oldest held SMS, at least `everyMs` before): of each, one alert
    // of the text given with one SMS to that number, and its held SMS
    // marked as carried. In one transaction.
    QList<Digest> makeDigests(const QDateTime &now, qint64 everyMs, const std::function<QString(const Digest &)> &text);
    // Robots that wrote more than `moreThan` alerts taken since `since`.
    struct Flooding {
        QString folder;
        QString robot;
        int alerts = 0;
        bool operator==(const Flooding &) const = default;
    };
    QList<Flooding> flooding(const QDateTime &since, int moreThan);
    // Whether the phones are to be told of a flooding robot now: not told
    // within `everyMs`. Counts as told from now on.
    bool floodNoticeDue(const Flooding &robot, const QDateTime &now, qint64 everyMs);
    // SMS held for a digest still to come.
    int heldCount();
    // The taken file has been removed.
    void forgetFile(const QString &takenFile);

    // Dispatch. The folders with alerts whose first sends are still to be
    // tried, and those alerts of one folder, oldest first.
    QStringList foldersWaiting();
    QList<Alert> firstTries(const QString &folder, int max);
    // Alerts with an SMS whose next try after a failure is due, the longest
    // due first.
    QList<Alert> retriesDue(const QDateTime &now, int max);
    // Fixes an alert's recipients when its dispatch begins: one SMS each,
    // waiting, or failed where it has a refusal.
    // Where alerts are escalated, the alert gets its code, the smallest
    // that no alert waiting for its acknowledgement holds, and its
    // escalation is due after the wait; its code (-1: none).
    int beginDispatch(qint64 alertId, const QList<NewSms> &recipients);
    // How long an alert waits for its acknowledgement; 0: not escalated.
    void setEscalateMs(qint64 ms) { m_escalateMs = ms; }
    // The SMS of an alert whose try is due: the first, or the next after a
    // failure. In recipient order.
    QList<Sms> dueSms(qint64 alertId, const QDateTime &now);
    // The outcome of one try, committed as soon as the modem has answered:
    // sent; failed, to be tried again at `nextTry`; or failed for the last
    // time. A long message keeps the parts that went out, so that a retry
    // sends only the others.
    // A sent SMS that asked for delivery reports has the references the
    // network gave its parts (or a gateway's token) recorded with it, over
    // which route; its delivery is unconfirmed until a report comes.
    void recordSent(qint64 smsId, const QString &route = {}, const QStringList &references = {});
    // A route whose reports name each SMS by a token of its own: the token
    // is kept before the SMS goes, and known to tokenKnown() from then on.
    void recordToken(qint64 smsId, const QString &route, const QString &token);
    bool tokenKnown(const QString &route, const QString &token);
    // The parts sent so far went by `partsRoute` with `partsReference`: only
    // that route sends the rest with them.
    void recordFailed(qint64 smsId, const QString &reason, const QDateTime &nextTry, quint32 partsSent,
                      const QString &partsRoute = {}, int partsReference = -1);
    void giveUp(qint64 smsId, const QString &reason, quint32 partsSent);

    struct Counts {
        int retrying = 0;     // failed, waiting for their next try
        int givenUp = 0;      // failed for the last time since the time given
        int notDelivered = 0; // reported not delivered since the time given

        bool operator==(const Counts &) const = default;
    };
    Counts counts(const QDateTime &givenUpSince);

    // What the desk's monitoring is told: SMS not yet tried, waiting for
    // their next try, given up since the time given, and when the newest
    // alert was taken (null for none).
    struct Standing {
        int waiting = 0;
        int retrying = 0;
        int givenUp = 0;
        QDateTime lastAlert;
        int unconfirmed = 0;  // sent, no delivery report yet
        int notDelivered = 0; // reported not delivered since the time given
        // When the oldest alert with an SMS still to go out was taken: one
        // not yet dispatched, with a first try to come, or with a retry to
        // come. Null for none.
        QDateTime oldestWaiting;
    };
    Standing standing(const QDateTime &givenUpSince);
    // What happened since a moment: alerts taken, SMS sent, SMS given up.
    struct Activity {
        int alerts = 0;
        int sent = 0;
        int failed = 0;
    };
    Activity activity(const QDateTime &since);
    // When the alert of an SMS was taken from its file; null for an SMS the
    // outbox does not hold.
    QDateTime takenAt(qint64 smsId);

    // Delivery reports. The part a report is about: the unreported one with
    // that reference on that route (and the number, where the report names
    // it) sent since `notBefore`, the one sent nearest the service centre's
    // time of the report, else the latest.
    struct Reported {
        qint64 partId = 0;
        qint64 smsId = 0;
    };
    std::optional<Reported> pairReport(const QString &route, const QString &reference, const QString &number,
                                       const QDateTime &serviceCentreTime, const QDateTime &notBefore);
    // Where an SMS's delivery stands.
    struct Delivery {
        qint64 smsId = 0;
        QString state; // "unconfirmed", "delivered", "not delivered"
        QString reason;
        QDateTime deliveredAt;
        QString name;
        QString number;
        QString avoidRoute;   // sent again once, not over this route
        bool changed = false; // this report settled it
    };
    // A part's final report (a status in words where it failed); the SMS
    // is delivered once all its parts are, not delivered as soon as one is not.
    Delivery settlePart(qint64 partId, int status, const QString &reason, const QDateTime &dischargeTime);
    // SMS sent before the time given and still unconfirmed, not said yet;
    // from now on they count as said.
    QList<Delivery> lateReports(const QDateTime &sentBefore);
    // Sends a not delivered SMS once more, not over `route`.
    void sendAgainAvoiding(qint64 smsId, const QString &route);

    // The LOG table. Alerts whose first sends have all been tried and whose
    // LOG row is not written yet, oldest first.
    QList<Alert> logDue(int max);
    // Marks the moment before an alert's LOG row is written: the last
    // SMS_ID of LOG, so that after a crash the row can be found again.
    void setLogAfter(qint64 alertId, qint64 lastLogId);
    // The row is in LOG, as SMS_ID `logId` where it was found (0: unknown).
    void setLogged(qint64 alertId, qint64 logId = 0);
    // Alerts logged before the outbox kept their LOG row's SMS_ID, oldest
    // first, and that row once looked for: 0 where it is not to be found.
    QList<Alert> unlinked(int max);
    void setLogId(qint64 alertId, qint64 logId);

    // What the phones say back. An SMS a phone sent, as committed: from a
    // user's number (`userName`) or another (null).
    struct IncomingSms {
        qint64 id = 0;
        QString number;
        QString text;
        QString route;
        QDateTime receivedAt;
        QDateTime sentAt; // the service centre's time stamp; invalid where none came
        QString userName;
    };
    // Commits one; its id, or 0 where the same SMS (number, time stamp and
    // text) was kept before.
    qint64 keepIncoming(const IncomingSms &sms);
    // Those committed and not handled yet, oldest first; one handled.
    QList<IncomingSms> unhandledIncoming();
    void setHandled(qint64 incomingId);
    int incomingSince(const QDateTime &since);
    // An alert acknowledged now, with its code (-1: none).
    struct Acknowledged {
        qint64 alertId = 0;
        QString message;
        int code = -1;
        QList<std::pair<QString, QString>> contacts; // called or escalated to: name, number
    };
    // Acknowledges, by `by`, every alert sent to `number` that nobody
    // acknowledged yet, or only the one of `code`. In one transaction.
    QList<Acknowledged> acknowledge(const QString &number, const QString &by, const QDateTime &at,
                                    std::optional<int> code = std::nullopt);
    // Every alert nobody acknowledged yet, from the desk.
    QList<Acknowledged> acknowledgeAll(const QString &by, const QDateTime &at);
    // Alerts sent and acknowledged by nobody yet; the oldest with a code;
    // the escalations that ended with nobody acknowledging.
    struct Unacknowledged {
        int count = 0;
        int oldestCode = -1;
        QDateTime oldestTakenAt;
        int nobody = 0;
    };
    Unacknowledged unacknowledgedStanding();

    // Escalation. One step of an alert's chain: step 0 of a round calls
    // the recipients on duty, step K is the escalation list's K-th name,
    // step -1 ends the chain with nobody having acknowledged.
    struct EscalationStep {
        qint64 alertId = 0;
        int round = 1;
        int step = 0;
        int code = -1;
        QString message;
    };
    // The steps due by `now`, each committed as taken (a step is never
    // taken twice) and the next of its chain set due after the wait. In one
    // transaction.
    QList<EscalationStep> takeDueSteps(const QDateTime &now, int listSize, int rounds);
    // Someone called or escalated to for an alert.
    void addContact(qint64 alertId, const QString &name, const QString &number);
    // The next step of the chains of alerts sent to `number` is due now.
    void hurryEscalation(const QString &number, const QDateTime &now);
    std::optional<QDateTime> nextEscalationDue();
    // The relay's answers to a phone since a moment (of one kind, or all),
    // and one more counted.
    int answersSince(const QString &number, const QDateTime &since, const QString &kind = {});
    void countAnswer(const QString &number, const QString &kind, const QDateTime &at);

    // Forgets alerts taken before `before` that are done: logged, and no SMS
    // waiting for a try.
    void purgeDone(const QDateTime &before);

private:
    QSqlDatabase db();
    void close();
    // Runs an operation; on damage, sets the file aside and runs it again on
    // the fresh outbox.
    template <typename Operation> auto guarded(Operation operation);
    void setAside();
    void createTables(const QSqlDatabase &db);
    void recordTry(qint64 smsId, const QString &state, const QString &reason, const QDateTime &nextTry,
                   quint32 partsSent, const QString &route, const QStringList &references);
    static Delivery deliveryOf(const QSqlDatabase &database, qint64 smsId);
    // The alert's LOG row, and its day's range of LOG rows.
    static void link(const QSqlDatabase &database, qint64 alertId, qint64 logId);
    QList<Alert> alerts(const QString &where, const QVariantList &values);
    // Ends an alert's chain; whoever it reached.
    static QList<std::pair<QString, QString>> endEscalation(const QSqlDatabase &database, qint64 alertId);

    QString m_connection;
    int m_busyTimeoutMs = DefaultBusyTimeoutMs;
    qint64 m_collapseMs = 0;
    struct Pace {
        int count = 0;
        qint64 windowMs = 0;
    } m_pace;
    qint64 m_escalateMs = 0;
    std::function<void(const QString &, int)> m_setAside;
};
