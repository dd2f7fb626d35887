#include "store/AlertHistory.h"

#include "store/Database.h"
#include "store/Outbox.h"
#include "store/ProgramFolder.h"
#include "store/Sql.h"

#include <QFileInfo>
#include <QSqlQuery>
#include <QVariant>

#include <algorithm>

namespace {

constexpr int OutboxVersion = 4;
// The outbox keeps who acknowledged each SMS from this version on.
constexpr int AcksVersion = 7;

// Stands in for an outbox that does not exist yet or is of an older
// version: the same statements then find nothing in it.
const char *const EmptyOutbox[] = {
    "ATTACH DATABASE ':memory:' AS outbox",
    "CREATE TABLE outbox.alert (id INTEGER PRIMARY KEY, folder TEXT, time TEXT, ea_name TEXT, title TEXT, "
    "message TEXT, taken_at TEXT, logged INTEGER, log_id INTEGER)",
    "CREATE TABLE outbox.sms (id INTEGER PRIMARY KEY, alert_id INTEGER, name TEXT, number TEXT, state TEXT, "
    "tries INTEGER, reason TEXT, next_try INTEGER, finished_at INTEGER, sent_route TEXT)",
    "CREATE TABLE outbox.delivery (sms_id INTEGER PRIMARY KEY, state TEXT, reason TEXT, delivered_at INTEGER)",
    "CREATE TABLE outbox.sms_part (id INTEGER PRIMARY KEY, sms_id INTEGER, route TEXT, superseded INTEGER)",
    "CREATE TABLE outbox.log_day (day TEXT PRIMARY KEY, first_id INTEGER, last_id INTEGER)",
};

// Config.mdb with the outbox beside it as "outbox", for one read.
class Reader
{
public:
    Reader()
    {
        m_cn.Open();
        m_db = QSqlDatabase::database(m_cn.name(), false);
        const QString outbox = ProgramFolder::file(QString::fromLatin1(Outbox::FileName));
        if (QFileInfo(outbox).isFile()) {
            Sql::run(m_db, QStringLiteral("ATTACH DATABASE ? AS outbox"), {outbox});
            if (Sql::value(m_db, QStringLiteral("PRAGMA outbox.user_version")).toInt() >= OutboxVersion)
                return;
            Sql::run(m_db, QStringLiteral("DETACH DATABASE outbox"));
        }
        for (const char *statement : EmptyOutbox)
            Sql::run(m_db, QString::fromLatin1(statement));
    }

    const QSqlDatabase &db() const { return m_db; }

private:
    Connection m_cn;
    QSqlDatabase m_db; // released before the connection
};

QDateTime localFromMs(const QVariant &ms)
{
    return ms.isNull() ? QDateTime() : QDateTime::fromMSecsSinceEpoch(ms.toLongLong(), Qt::UTC).toLocalTime();
}

QDateTime localFromIso(const QVariant &iso)
{
    return iso.isNull() ? QDateTime() : QDateTime::fromString(iso.toString(), Qt::ISODateWithMs).toLocalTime();
}

// A piece of text for LIKE, its wildcards taken as they are.
QString likePattern(const QString &text)
{
    QString escaped = text;
    escaped.replace(QLatin1Char('\\'), QStringLiteral("\\\\"))
        .replace(QLatin1Char('%'), QStringLiteral("\\%"))
        .replace(QLatin1Char('_'), QStringLiteral("\\_"));
    return QLatin1Char('%') + escaped + QLatin1Char('%');
}

// The conditions of a filter on an alert's robot, message and recipients,
// for the table alias `text` (robot and message) and the outbox alert `alert`.
void addConditions(const AlertHistory::Filter &filter, const QString &robot, const QString &message,
                   const QString &alert, QStringList &where, QVariantList &values)
{
    if (!filter.robot.isEmpty()) {
        where << robot + QStringLiteral(" = ? COLLATE NOCASE");
        values << filter.robot;
    }
    if (!filter.search.isEmpty()) {
        where << message + QStringLiteral(" LIKE ? ESCAPE '\\'");
        values << likePattern(filter.search);
    }
    if (!filter.user.isEmpty()) {
        where << QStringLiteral("EXISTS (SELECT 1 FROM outbox.sms s WHERE s.alert_id = %1 AND s.name = ? "
                                "COLLATE NOCASE)")
                     .arg(alert);
        values << filter.user;
    }
}

// The alerts the outbox holds whose LOG row is not written yet.
QList<AlertHistory::Alert> unlogged(const QSqlDatabase &db, const AlertHistory::Filter &filter, qint64 before, int max)
{
    QStringList where{QStringLiteral("a.logged = 0"), QStringLiteral("a.id < ?")};
    QVariantList values{before};
    if (filter.day.isValid()) {
        where << QStringLiteral("a.taken_at >= ?") << QStringLiteral("a.taken_at < ?");
        values << filter.day.startOfDay().toUTC().toString(Qt::ISODateWithMs)
               << filter.day.addDays(1).startOfDay().toUTC().toString(Qt::ISODateWithMs);
    }
    addConditions(filter, QStringLiteral("a.ea_name"), QStringLiteral("a.message"), QStringLiteral("a.id"), where,
                  values);
    values << max;
    QSqlQuery query = Sql::run(db,
                               QStringLiteral("SELECT a.id, a.taken_at, a.time, a.folder, a.ea_name, a.title, "
                                              "a.message FROM outbox.alert a WHERE %1 ORDER BY a.id DESC LIMIT ?")
                                   .arg(where.join(QStringLiteral(" AND "))),
                               values);
    QList<AlertHistory::Alert> alerts;
    while (query.next()) {
        AlertHistory::Alert alert;
        alert.alertId = query.value(0).toLongLong();
        alert.takenAt = localFromIso(query.value(1));
        alert.day = alert.takenAt.date();
        alert.time = query.value(2).toString();
        alert.folder = query.value(3).toString();
        alert.robot = query.value(4).toString();
        alert.title = query.value(5).toString();
        alert.message = query.value(6).toString();
        alerts << alert;
    }
    return alerts;
}

struct DayRange {
    QDate day;
    qint64 first = 0;
    qint64 last = 0;
};

QList<DayRange> dayRanges(const QSqlDatabase &db)
{
    QSqlQuery query =
        Sql::run(db, QStringLiteral("SELECT day, first_id, last_id FROM outbox.log_day ORDER BY first_id"));
    QList<DayRange> days;
    while (query.next())
        days << DayRange{QDate::fromString(query.value(0).toString(), Qt::ISODate), query.value(1).toLongLong(),
                         query.value(2).toLongLong()};
    return days;
}

QDate dayOf(const QList<DayRange> &days, qint64 logId)
{
    auto after = std::upper_bound(days.cbegin(), days.cend(), logId,
                                  [](qint64 id, const DayRange &range) { return id < range.first; });
    if (after == days.cbegin())
        return {};
    --after;
    return logId <= after->last ? after->day : QDate();
}

AlertHistory::Alert alertOf(const QSqlQuery &query)
{
    AlertHistory::Alert alert;
    alert.logId = query.value(0).toLongLong();
    alert.time = query.value(1).toString();
    alert.robot = query.value(2).toString();
    alert.title = query.value(3).toString();
    alert.message = query.value(4).toString();
    alert.alertId = query.value(5).toLongLong();
    alert.takenAt = localFromIso(query.value(6));
    alert.day = alert.takenAt.date();
    alert.folder = query.value(7).toString();
    return alert;
}

// The rows of LOG, with the outbox's alert where it still has it, before
// `before`: an SMS_ID, or with a user an alert's id, as those are read by
// the user's SMS, which is quick however few they got.
QList<AlertHistory::Alert> logged(const QSqlDatabase &db, const AlertHistory::Filter &filter, qint64 before, int max)
{
    const bool byUser = !filter.user.isEmpty();
    QStringList where;
    QVariantList values;
    if (byUser) {
        where << QStringLiteral("s.name = ? COLLATE NOCASE") << QStringLiteral("s.alert_id < ?");
        values << filter.user << before;
    } else {
        where << QStringLiteral("l.SMS_ID < ?");
        values << before;
    }
    if (filter.day.isValid()) {
        QSqlQuery range = Sql::run(db, QStringLiteral("SELECT first_id, last_id FROM outbox.log_day WHERE day = ?"),
                                   {filter.day.toString(Qt::ISODate)});
        // No row of that day in LOG.
        if (!range.next())
            return {};
        const QVariant first = range.value(0);
        const QVariant last = range.value(1);
        range.finish();
        where << QStringLiteral("l.SMS_ID BETWEEN ? AND ?");
        values << first << last;
        if (byUser) {
            QSqlQuery ids =
                Sql::run(db, QStringLiteral("SELECT min(id), max(id) FROM outbox.alert WHERE log_id BETWEEN ? AND ?"),
                         {first, last});
            if (!ids.next() || ids.value(0).isNull())
                return {};
            where << QStringLiteral("s.alert_id BETWEEN ? AND ?");
            values << ids.value(0) << ids.value(1);
        }
    }
    AlertHistory::Filter rest = filter;
    rest.user.clear();
    addConditions(rest, QStringLiteral("l.EA_Name"), QStringLiteral("l.Message"), QStringLiteral("a.id"), where,
                  values);
    values << max;
    const QString columns = QStringLiteral("l.SMS_ID, l.Time, l.EA_Name, l.Title, l.Message, a.id, a.taken_at, "
                                           "a.folder");
    const QString statement =
        byUser ? QStringLiteral("SELECT %1 FROM outbox.sms s JOIN outbox.alert a ON a.id = s.alert_id "
                                "JOIN LOG l ON l.SMS_ID = a.log_id WHERE %2 GROUP BY s.alert_id "
                                "ORDER BY s.alert_id DESC LIMIT ?")
               : QStringLiteral("SELECT %1 FROM LOG l LEFT JOIN outbox.alert a ON a.log_id = l.SMS_ID "
                                "WHERE %2 ORDER BY l.SMS_ID DESC LIMIT ?");
    QSqlQuery query = Sql::run(db, statement.arg(columns, where.join(QStringLiteral(" AND "))), values);
    QList<AlertHistory::Alert> alerts;
    bool undated = false;
    while (query.next()) {
        alerts << alertOf(query);
        undated = undated || !alerts.last().day.isValid();
    }
    query.finish();
    // Purged from the outbox: the day from its range of LOG.
    if (undated) {
        const QList<DayRange> days = dayRanges(db);
        for (AlertHistory::Alert &alert : alerts) {
            if (!alert.day.isValid())
                alert.day = dayOf(days, alert.logId);
        }
    }
    return alerts;
}

QHash<qint64, QList<AlertHistory::Recipient>> recipientsOf(const QSqlDatabase &db, const QList<qint64> &alertIds)
{
    QHash<qint64, QList<AlertHistory::Recipient>> recipients;
    if (alertIds.isEmpty())
        return recipients;
    QVariantList values;
    for (const qint64 id : alertIds)
        values << id;
    // An outbox from before acknowledgements has nobody's.
    const bool acks = Sql::value(db, QStringLiteral("PRAGMA outbox.user_version")).toInt() >= AcksVersion;
    QSqlQuery query =
        Sql::run(db,
                 QStringLiteral("SELECT s.alert_id, s.id, s.name, s.number, s.state, s.tries, s.reason, s.next_try, "
                                "s.finished_at, coalesce(s.sent_route, (SELECT p.route FROM outbox.sms_part p WHERE "
                                "p.sms_id = s.id AND p.superseded = 0 ORDER BY p.id DESC LIMIT 1)), d.state, d.reason, "
                                "d.delivered_at, %2 FROM outbox.sms s LEFT JOIN outbox.delivery d ON d.sms_id = s.id "
                                "WHERE s.alert_id IN (%1) ORDER BY s.alert_id, s.id")
                     .arg(QStringList(values.size(), QStringLiteral("?")).join(QLatin1Char(',')),
                          acks ? QStringLiteral("s.acked_by, s.acked_at") : QStringLiteral("NULL, NULL")),
                 values);
    using State = AlertHistory::Recipient::State;
    while (query.next()) {
        AlertHistory::Recipient sms;
        sms.smsId = query.value(1).toLongLong();
        sms.name = query.value(2).toString();
        sms.number = query.value(3).toString();
        const QString state = query.value(4).toString();
        sms.tries = query.value(5).toInt();
        sms.reason = query.value(6).toString();
        const QDateTime finished = localFromMs(query.value(8));
        sms.route = query.value(9).toString();
        const QString delivery = query.value(10).toString();
        sms.reportAsked = !query.value(10).isNull();
        if (state == QLatin1String("failed")) {
            sms.state = State::GivenUp;
            sms.givenUpAt = finished;
        } else if (state == QLatin1String("waiting")) {
            sms.state = sms.tries == 0 ? State::Waiting : State::Retrying;
            sms.nextTry = localFromMs(query.value(7));
            // Not delivered, and on its way once more by another route.
            if (sms.reason.isEmpty() && delivery == QLatin1String("not delivered"))
                sms.reason = QStringLiteral("not delivered: ") + query.value(11).toString();
        } else {
            sms.sentAt = finished;
            sms.state = State::Sent;
            if (delivery == QLatin1String("delivered")) {
                sms.state = State::Delivered;
                sms.deliveredAt = localFromMs(query.value(12));
            } else if (delivery == QLatin1String("not delivered")) {
                sms.state = State::NotDelivered;
                sms.reason = query.value(11).toString();
            }
        }
        sms.acknowledgedBy = query.value(13).toString();
        sms.acknowledgedAt = localFromMs(query.value(14));
        recipients[query.value(0).toLongLong()] << sms;
    }
    return recipients;
}

void attachRecipients(const QSqlDatabase &db, QList<AlertHistory::Alert> &alerts)
{
    QList<qint64> ids;
    for (const AlertHistory::Alert &alert : std::as_const(alerts)) {
        if (alert.alertId != 0)
            ids << alert.alertId;
    }
    const auto recipients = recipientsOf(db, ids);
    for (AlertHistory::Alert &alert : alerts)
        alert.recipients = recipients.value(alert.alertId);
}

} // namespace

QString AlertHistory::Recipient::words(State state)
{
    switch (state) {
    case State::Waiting:
        return QStringLiteral("waiting");
    case State::Retrying:
        return QStringLiteral("retrying");
    case State::Sent:
        return QStringLiteral("sent");
    case State::Delivered:
        return QStringLiteral("delivered");
    case State::NotDelivered:
        return QStringLiteral("not delivered");
    case State::GivenUp:
        return QStringLiteral("given up");
    }
    return {};
}

QString AlertHistory::Alert::outcome() const
{
    if (alertId == 0)
        return QStringLiteral("not kept");
    if (recipients.isEmpty())
        return QStringLiteral("waiting");
    QStringList counts;
    for (const Recipient::State state :
         {Recipient::State::Delivered, Recipient::State::Sent, Recipient::State::Waiting, Recipient::State::Retrying,
          Recipient::State::NotDelivered, Recipient::State::GivenUp}) {
        const auto n = std::count_if(recipients.cbegin(), recipients.cend(),
                                     [state](const Recipient &sms) { return sms.state == state; });
        if (n > 0)
            counts << QStringLiteral("%1 %2").arg(n).arg(Recipient::words(state));
    }
    return counts.join(QStringLiteral(", "));
}

QList<AlertHistory::Alert> AlertHistory::page(const Filter &filter, Cursor &cursor, int max)
{
    QList<Alert> alerts;
    if (cursor.atEnd || max <= 0)
        return alerts;
    const Reader reader;
    if (!cursor.inLog) {
        alerts = unlogged(reader.db(), filter, cursor.before, max);
        if (alerts.size() == max) {
            cursor.before = alerts.last().alertId;
            attachRecipients(reader.db(), alerts);
            return alerts;
        }
        cursor.inLog = true;
        cursor.before = std::numeric_limits<qint64>::max();
    }
    const qsizetype wanted = max - alerts.size();
    const QList<Alert> rows = logged(reader.db(), filter, cursor.before, int(wanted));
    if (rows.size() < wanted)
        cursor.atEnd = true;
    else
        cursor.before = filter.user.isEmpty() ? rows.last().logId : rows.last().alertId;
    alerts += rows;
    attachRecipients(reader.db(), alerts);
    return alerts;
}

QHash<qint64, AlertHistory::Fresh> AlertHistory::refresh(const QList<qint64> &alertIds)
{
    QHash<qint64, Fresh> fresh;
    if (alertIds.isEmpty())
        return fresh;
    const Reader reader;
    QVariantList values;
    for (const qint64 id : alertIds)
        values << id;
    QSqlQuery query = Sql::run(reader.db(),
                               QStringLiteral("SELECT id, log_id FROM outbox.alert WHERE id IN (%1)")
                                   .arg(QStringList(values.size(), QStringLiteral("?")).join(QLatin1Char(','))),
                               values);
    while (query.next())
        fresh[query.value(0).toLongLong()].logId = query.value(1).toLongLong();
    query.finish();
    const auto recipients = recipientsOf(reader.db(), alertIds);
    for (auto it = recipients.cbegin(); it != recipients.cend(); ++it)
        fresh[it.key()].recipients = it.value();
    return fresh;
}

QStringList AlertHistory::users()
{
    Connection cn;
    cn.Open();
    QSqlQuery query = Sql::run(QSqlDatabase::database(cn.name(), false),
                               QStringLiteral("SELECT DISTINCT name FROM USERS WHERE name IS NOT NULL AND name <> '' "
                                              "ORDER BY name"));
    QStringList names;
    while (query.next())
        names << query.value(0).toString();
    return names;
}
