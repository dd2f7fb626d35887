#include "store/Outbox.h"

#include "store/Clock.h"
#include "store/OutboxSalvage.h"
#include "store/ProgramFolder.h"
#include "store/Sql.h"

#include <QAtomicInteger>
#include <QFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace {

constexpr int SchemaVersion = 1;

// A journal that another process holds locked is waited for this long
// before the operation is given up and tried again on a later tick.
constexpr int BusyTimeoutMs = 1000;

const char *const Tables[] = {
    // One row per alert, in the order the robots wrote them.
    "CREATE TABLE alert ("
    " id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " folder TEXT NOT NULL,"
    " lead TEXT NOT NULL, time TEXT NOT NULL, ea_name TEXT NOT NULL, title TEXT NOT NULL, message TEXT NOT NULL,"
    " message_bytes BLOB NOT NULL,"           // the message as the robot wrote it, for the history files
    " taken_at TEXT NOT NULL,"                // UTC, ISO 8601
    " dispatched INTEGER NOT NULL DEFAULT 0," // its SMS rows exist: the recipients are fixed
    " first_done INTEGER NOT NULL DEFAULT 0," // every SMS of it has had its first try
    " log_after INTEGER,"                     // LOG.SMS_ID last seen before its LOG row was written
    " logged INTEGER NOT NULL DEFAULT 0)",
    "CREATE INDEX alert_first_tries ON alert(folder, id) WHERE first_done = 0",
    "CREATE INDEX alert_log_due ON alert(id) WHERE first_done = 1 AND logged = 0",
    // One row per SMS: an alert to one recipient.
    "CREATE TABLE sms ("
    " id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " alert_id INTEGER NOT NULL REFERENCES alert(id) ON DELETE CASCADE,"
    " name TEXT NOT NULL, number TEXT NOT NULL,"
    " state TEXT NOT NULL DEFAULT 'waiting' CHECK (state IN ('waiting', 'sent', 'failed')),"
    " tries INTEGER NOT NULL DEFAULT 0,"
    " parts_sent INTEGER NOT NULL DEFAULT 0," // of a long message: the parts acknowledged, one bit each
    " reason TEXT,"                           // why the last try failed
    " next_try INTEGER,"                      // after a failed try: when the next is due, ms since 1970 UTC
    " finished_at INTEGER)",                  // when it was sent or given up, ms since 1970 UTC
    "CREATE INDEX sms_of_alert ON sms(alert_id)",
    "CREATE INDEX sms_retries ON sms(next_try) WHERE state = 'waiting' AND tries > 0",
    // How far each taken alert file has been read into the journal.
    "CREATE TABLE taken_file ("
    " path TEXT PRIMARY KEY, device INTEGER NOT NULL, inode INTEGER NOT NULL, bytes INTEGER NOT NULL)",
};

QString uniqueConnectionName()
{
    static QAtomicInteger<quint64> counter;
    return QStringLiteral("vantrel-outbox-%1").arg(++counter);
}

QString utcNow()
{
    return Clock::nowUtc().toString(Qt::ISODateWithMs);
}

// The columns of the journal hold text, never null.
QString notNull(const QString &text)
{
    return text.isNull() ? QStringLiteral("") : text;
}

// SQLITE_CORRUPT and SQLITE_NOTADB, whatever their extended form: the file
// no longer holds a database that can be trusted.
bool isDamage(const DbError &error)
{
    const int primary = error.number() & 0xFF;
    return error.number() > 0 && (primary == 11 || primary == 26);
}

// A name beside the outbox that nothing has taken yet.
QString setAsideName()
{
    const QString stem = QString::fromLatin1(Outbox::FileName) + QStringLiteral(".damaged-")
                         + Clock::now().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString name = stem;
    for (int n = 2; QFile::exists(ProgramFolder::file(name)); ++n)
        name = stem + QStringLiteral("-%1").arg(n);
    return name;
}

} // namespace

Outbox::Outbox() = default;

Outbox::~Outbox()
{
    close();
}

void Outbox::close()
{
    if (m_connection.isEmpty())
        return;
    QSqlDatabase::database(m_connection, false).close();
    QSqlDatabase::removeDatabase(m_connection);
    m_connection.clear();
}

template <typename Operation> auto Outbox::guarded(Operation operation)
{
    try {
        return operation();
    } catch (const DbError &error) {
        if (!isDamage(error))
            throw;
    }
    setAside();
    return operation();
}

void Outbox::setAside()
{
    close();
    const QString file = ProgramFolder::file(QString::fromLatin1(FileName));
    const QString name = setAsideName();
    const QString target = ProgramFolder::file(name);
    // Nothing is deleted: the file and its companions keep their bytes under
    // the new name, where SQLite itself finds them together.
    if (!QFile::rename(file, target))
        throw DbError(-1, QStringLiteral("%1 is damaged and cannot be set aside as %2").arg(file, name));
    for (const QString &companion : {QStringLiteral("-wal"), QStringLiteral("-shm")}) {
        if (QFile::exists(file + companion))
            QFile::rename(file + companion, target + companion);
    }
    const OutboxSalvage::Rows rows = OutboxSalvage::read(target);
    OutboxSalvage::write(db(), rows);
    if (m_setAside)
        m_setAside(name, rows.alerts);
}

void Outbox::open()
{
    guarded([this] { db(); });
}

QSqlDatabase Outbox::db()
{
    if (!m_connection.isEmpty())
        return QSqlDatabase::database(m_connection, false);

    const QString name = uniqueConnectionName();
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(BusyTimeoutMs));
    db.setDatabaseName(ProgramFolder::file(QString::fromLatin1(FileName)));
    try {
        if (!db.open())
            throw Sql::error(db.lastError());
        // Each commit reaches the disk before the program goes on: an SMS
        // recorded as sent stays sent after a power cut.
        if (Sql::value(db, QStringLiteral("PRAGMA journal_mode=WAL")).toString() != QLatin1String("wal"))
            throw DbError(-1, QStringLiteral("%1 cannot be put in WAL mode").arg(db.databaseName()));
        Sql::run(db, QStringLiteral("PRAGMA synchronous=FULL"));
        Sql::run(db, QStringLiteral("PRAGMA foreign_keys=ON"));
        createTables(db);
    } catch (...) {
        db.close();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(name);
        throw;
    }
    m_connection = name;
    return db;
}

void Outbox::createTables(const QSqlDatabase &db)
{
    if (Sql::value(db, QStringLiteral("PRAGMA user_version")).toInt() >= SchemaVersion)
        return;
    Sql::Transaction transaction(db);
    for (const char *statement : Tables)
        Sql::run(db, QString::fromLatin1(statement));
    Sql::run(db, QStringLiteral("PRAGMA user_version=%1").arg(SchemaVersion));
    transaction.commit();
}

qint64 Outbox::committedBytes(const QString &takenFile, const FileId &id)
{
    return guarded([&]() -> qint64 {
        QSqlQuery query =
            Sql::run(db(), QStringLiteral("SELECT device, inode, bytes FROM taken_file WHERE path = ?"), {takenFile});
        if (!query.next())
            return 0;
        // Another file under the same name starts from its beginning.
        if (FileId{query.value(0).toLongLong(), query.value(1).toLongLong()} != id)
            return 0;
        return query.value(2).toLongLong();
    });
}

void Outbox::commitAlerts(const QString &folder, const QString &takenFile, const FileId &id, qint64 bytes,
                          const QList<TakenAlert> &alerts)
{
    return guarded([&] {
        const QSqlDatabase database = db();
        Sql::Transaction transaction(database);
        QSqlQuery insert(database);
        if (!insert.prepare(
                QStringLiteral("INSERT INTO alert (folder, lead, time, ea_name, title, message, message_bytes, "
                               "taken_at) VALUES (?, ?, ?, ?, ?, ?, ?, ?)")))
            throw Sql::error(insert.lastError());
        const QString takenAt = utcNow();
        for (const TakenAlert &alert : alerts) {
            const SmsRecord &record = alert.record;
            for (const QVariant &value :
                 {QVariant(folder), QVariant(record.Lead), QVariant(record.Time), QVariant(record.EA_Name),
                  QVariant(record.Title), QVariant(record.Message), QVariant(alert.messageBytes), QVariant(takenAt)})
                insert.addBindValue(value);
            if (!insert.exec())
                throw Sql::error(insert.lastError());
        }
        Sql::run(database,
                 QStringLiteral("INSERT OR REPLACE INTO taken_file (path, device, inode, bytes) VALUES (?, ?, ?, ?)"),
                 {takenFile, id.device, id.inode, bytes});
        transaction.commit();
    });
}

void Outbox::forgetFile(const QString &takenFile)
{
    return guarded([&] { Sql::run(db(), QStringLiteral("DELETE FROM taken_file WHERE path = ?"), {takenFile}); });
}

QList<Outbox::Alert> Outbox::alerts(const QString &where, const QVariantList &values)
{
    QSqlQuery query = Sql::run(db(),
                               QStringLiteral("SELECT id, folder, lead, time, ea_name, title, message, dispatched, "
                                              "log_after, message_bytes FROM alert WHERE ")
                                   + where,
                               values);
    QList<Alert> list;
    while (query.next()) {
        Alert alert;
        alert.id = query.value(0).toLongLong();
        alert.folder = query.value(1).toString();
        alert.record = {query.value(2).toString(), query.value(3).toString(), query.value(4).toString(),
                        query.value(5).toString(), query.value(6).toString()};
        alert.dispatched = query.value(7).toBool();
        alert.logAfter = query.value(8).isNull() ? -1 : query.value(8).toLongLong();
        alert.messageBytes = query.value(9).toByteArray();
        list << alert;
    }
    return list;
}

QStringList Outbox::foldersWaiting()
{
    return guarded([&] {
        // One index step per folder however many alerts wait in each.
        QSqlQuery query = Sql::run(
            db(), QStringLiteral("WITH RECURSIVE f(folder) AS ("
                                 " SELECT (SELECT min(folder) FROM alert WHERE first_done = 0)"
                                 " UNION ALL"
                                 " SELECT (SELECT min(folder) FROM alert WHERE first_done = 0 AND folder > f.folder)"
                                 " FROM f WHERE f.folder IS NOT NULL)"
                                 " SELECT folder FROM f WHERE folder IS NOT NULL"));
        QStringList folders;
        while (query.next())
            folders << query.value(0).toString();
        return folders;
    });
}

QList<Outbox::Alert> Outbox::firstTries(const QString &folder, int max)
{
    return guarded([&] {
        return alerts(QStringLiteral("first_done = 0 AND folder = ? ORDER BY id LIMIT ?"), {folder, max});
    });
}

void Outbox::beginDispatch(qint64 alertId, const QList<NewSms> &recipients)
{
    return guarded([&] {
        const QSqlDatabase database = db();
        Sql::Transaction transaction(database);
        const qint64 now = Clock::nowUtc().toMSecsSinceEpoch();
        bool anyToTry = false;
        // A recipient with nothing to send to is given up at once: it is
        // never tried, and it counts with the SMS given up.
        for (const NewSms &sms : recipients) {
            const bool refused = !sms.refusal.isEmpty();
            anyToTry = anyToTry || !refused;
            Sql::run(database,
                     QStringLiteral("INSERT INTO sms (alert_id, name, number, state, reason, finished_at) "
                                    "VALUES (?, ?, ?, ?, ?, ?)"),
                     {alertId, notNull(sms.name), notNull(sms.number),
                      refused ? QStringLiteral("failed") : QStringLiteral("waiting"),
                      refused ? QVariant(sms.refusal) : QVariant(), refused ? QVariant(now) : QVariant()});
        }
        // Nobody to try: the LOG row is due.
        Sql::run(database, QStringLiteral("UPDATE alert SET dispatched = 1, first_done = ? WHERE id = ?"),
                 {!anyToTry, alertId});
        transaction.commit();
    });
}

QList<Outbox::Alert> Outbox::retriesDue(const QDateTime &now, int max)
{
    return guarded([&] {
        return alerts(
            QStringLiteral("id IN (SELECT alert_id FROM sms WHERE state = 'waiting' AND tries > 0 AND next_try <= ? "
                           "GROUP BY alert_id ORDER BY min(next_try) LIMIT ?) ORDER BY id"),
            {now.toMSecsSinceEpoch(), max});
    });
}

QList<Outbox::Sms> Outbox::dueSms(qint64 alertId, const QDateTime &now)
{
    return guarded([&] {
        QSqlQuery query =
            Sql::run(db(),
                     QStringLiteral("SELECT id, name, number, tries, parts_sent FROM sms WHERE alert_id = ? AND "
                                    "state = 'waiting' AND (tries = 0 OR next_try <= ?) ORDER BY id"),
                     {alertId, now.toMSecsSinceEpoch()});
        QList<Sms> list;
        while (query.next())
            list << Sms{query.value(0).toLongLong(), query.value(1).toString(), query.value(2).toString(),
                        query.value(3).toInt(), quint32(query.value(4).toLongLong())};
        return list;
    });
}

void Outbox::recordSent(qint64 smsId)
{
    recordTry(smsId, QStringLiteral("sent"), QString(), QDateTime(), 0);
}

void Outbox::recordFailed(qint64 smsId, const QString &reason, const QDateTime &nextTry, quint32 partsSent)
{
    recordTry(smsId, QStringLiteral("waiting"), reason, nextTry, partsSent);
}

void Outbox::giveUp(qint64 smsId, const QString &reason, quint32 partsSent)
{
    recordTry(smsId, QStringLiteral("failed"), reason, QDateTime(), partsSent);
}

void Outbox::recordTry(qint64 smsId, const QString &state, const QString &reason, const QDateTime &nextTry,
                       quint32 partsSent)
{
    return guarded([&] {
        const QSqlDatabase database = db();
        Sql::Transaction transaction(database);
        const bool finished = state != QLatin1String("waiting");
        Sql::run(
            database,
            QStringLiteral("UPDATE sms SET state = ?, tries = tries + 1, reason = ?, next_try = ?, finished_at = ?, "
                           "parts_sent = ? WHERE id = ?"),
            {state, reason.isNull() ? QVariant() : QVariant(reason),
             nextTry.isValid() ? QVariant(nextTry.toMSecsSinceEpoch()) : QVariant(),
             finished ? QVariant(Clock::nowUtc().toMSecsSinceEpoch()) : QVariant(), qint64(partsSent), smsId});
        // The alert's LOG row is due once every SMS of it has had a first try.
        Sql::run(
            database,
            QStringLiteral(
                "UPDATE alert SET first_done = 1 WHERE id = (SELECT alert_id FROM sms WHERE id = ?) "
                "AND NOT EXISTS (SELECT 1 FROM sms WHERE alert_id = alert.id AND tries = 0 AND state = 'waiting')"),
            {smsId});
        transaction.commit();
    });
}

Outbox::Counts Outbox::counts(const QDateTime &givenUpSince)
{
    return guarded([&] {
        QSqlQuery query =
            Sql::run(db(),
                     QStringLiteral("SELECT count(*) FILTER (WHERE state = 'waiting' AND tries > 0), "
                                    "count(*) FILTER (WHERE state = 'failed' AND finished_at >= ?) FROM sms"),
                     {givenUpSince.toMSecsSinceEpoch()});
        Counts counts;
        if (query.next())
            counts = {query.value(0).toInt(), query.value(1).toInt()};
        return counts;
    });
}

Outbox::Standing Outbox::standing(const QDateTime &givenUpSince)
{
    return guarded([&] {
        QSqlQuery query = Sql::run(db(),
                                   QStringLiteral("SELECT count(*) FILTER (WHERE state = 'waiting' AND tries = 0), "
                                                  "count(*) FILTER (WHERE state = 'waiting' AND tries > 0), "
                                                  "count(*) FILTER (WHERE state = 'failed' AND finished_at >= ?), "
                                                  "(SELECT max(taken_at) FROM alert) FROM sms"),
                                   {givenUpSince.toMSecsSinceEpoch()});
        Standing standing;
        if (query.next()) {
            standing = {query.value(0).toInt(), query.value(1).toInt(), query.value(2).toInt(),
                        QDateTime::fromString(query.value(3).toString(), Qt::ISODateWithMs)};
        }
        return standing;
    });
}

Outbox::Activity Outbox::activity(const QDateTime &since)
{
    return guarded([&] {
        const qint64 ms = since.toMSecsSinceEpoch();
        QSqlQuery query =
            Sql::run(db(),
                     QStringLiteral("SELECT (SELECT count(*) FROM alert WHERE taken_at >= ?), "
                                    "count(*) FILTER (WHERE state = 'sent' AND finished_at >= ?), "
                                    "count(*) FILTER (WHERE state = 'failed' AND finished_at >= ?) FROM sms"),
                     {since.toUTC().toString(Qt::ISODateWithMs), ms, ms});
        Activity activity;
        if (query.next())
            activity = {query.value(0).toInt(), query.value(1).toInt(), query.value(2).toInt()};
        return activity;
    });
}

QList<Outbox::Alert> Outbox::logDue(int max)
{
    return guarded([&] { return alerts(QStringLiteral("first_done = 1 AND logged = 0 ORDER BY id LIMIT ?"), {max}); });
}

void Outbox::setLogAfter(qint64 alertId, qint64 lastLogId)
{
    return guarded([&] {
        Sql::run(db(), QStringLiteral("UPDATE alert SET log_after = ? WHERE id = ?"), {lastLogId, alertId});
    });
}

void Outbox::setLogged(qint64 alertId)
{
    return guarded([&] { Sql::run(db(), QStringLiteral("UPDATE alert SET logged = 1 WHERE id = ?"), {alertId}); });
}

void Outbox::purgeDone(const QDateTime &before)
{
    return guarded([&] {
        Sql::run(db(),
                 QStringLiteral("DELETE FROM alert WHERE logged = 1 AND taken_at < ? "
                                "AND NOT EXISTS (SELECT 1 FROM sms WHERE alert_id = alert.id AND state = 'waiting')"),
                 {before.toUTC().toString(Qt::ISODateWithMs)});
    });
}
