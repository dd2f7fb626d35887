#include "store/Outbox.h"

#include "store/Clock.h"
#include "store/OutboxSalvage.h"
#include "store/PhoneNumber.h"
#include "store/ProgramFolder.h"
#include "store/Sql.h"

#include <QAtomicInteger>
#include <QFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>
#include <limits>

namespace {

constexpr int SchemaVersion = 7;

// A journal that another process holds locked is waited for this long
// before the operation is given up and tried again on a later tick.

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

// Version 2: delivery reports, in tables of their own.
const char *const DeliveryTables[] = {
    // One row per part sent that asked for a report: what the network
    // numbered it, over which line, to whom, and what its report said.
    "CREATE TABLE sms_part ("
    " id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " sms_id INTEGER NOT NULL REFERENCES sms(id) ON DELETE CASCADE,"
    " route TEXT NOT NULL,"     // "COM1", "gateway"
    " reference TEXT NOT NULL," // the message reference, or a gateway's token
    " number TEXT NOT NULL,"
    " sent_at INTEGER NOT NULL," // ms since 1970 UTC
    " status INTEGER,"           // TP-ST of its final report; null while none came
    " reported_at INTEGER,"
    " superseded INTEGER NOT NULL DEFAULT 0)", // of an earlier try: a later one stands for the SMS
    "CREATE INDEX sms_part_unreported ON sms_part(route, reference) WHERE status IS NULL",
    "CREATE INDEX sms_part_of_sms ON sms_part(sms_id)",
    // One row per SMS sent that asked for a report: where its delivery stands.
    "CREATE TABLE delivery ("
    " sms_id INTEGER PRIMARY KEY REFERENCES sms(id) ON DELETE CASCADE,"
    " state TEXT NOT NULL DEFAULT 'unconfirmed' CHECK (state IN ('unconfirmed', 'delivered', 'not delivered')),"
    " sent_at INTEGER NOT NULL,"
    " reason TEXT,"                       // the status in words, for one not delivered
    " delivered_at INTEGER,"              // the discharge time of the last part's report
    " reported_at INTEGER,"               // when the report that settled it came
    " warned INTEGER NOT NULL DEFAULT 0," // the late report has been said
    " avoid_route TEXT)",                 // sent again, not over this line
    "CREATE INDEX delivery_unconfirmed ON delivery(sent_at) WHERE state = 'unconfirmed'",
};

// Version 4: what the Alerts window reads. Each alert knows its LOG row and
// each SMS the route that sent it; the LOG rows of each day are kept as a
// range of SMS_ID, which outlives the alerts purged after a week, since LOG
// itself has no date.
const char *const HistoryStatements[] = {
    "ALTER TABLE alert ADD COLUMN log_id INTEGER", // LOG.SMS_ID of its row once written
    "ALTER TABLE sms ADD COLUMN sent_route TEXT",
    "CREATE INDEX alert_of_log ON alert(log_id)",
    "CREATE INDEX alert_unlogged ON alert(id) WHERE logged = 0",
    "CREATE INDEX alert_unlinked ON alert(id) WHERE logged = 1 AND log_id IS NULL",
    "CREATE INDEX sms_of_user ON sms(name COLLATE NOCASE, alert_id)",
    "CREATE TABLE log_day ("
    " day TEXT PRIMARY KEY," // yyyy-MM-dd, the desk's local day the alerts were taken
    " first_id INTEGER NOT NULL, last_id INTEGER NOT NULL)",
};

// Version 5: repeats of an alert counted rather than sent. A run is the
// first alert (sent as any) and the identical ones taken within its window;
// when the window closes, one alert of the relay's own tells those who got
// the first how often it came. Its SMS go as any alert's; it has no LOG row.
const char *const RepeatTables[] = {
    "CREATE TABLE repeat_run ("
    " id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " folder TEXT NOT NULL, ea_name TEXT NOT NULL, title TEXT NOT NULL, message TEXT NOT NULL,"
    " first_alert INTEGER NOT NULL," // alert.id of the one sent
    " opened_at INTEGER NOT NULL,"   // ms since 1970 UTC
    " closes_at INTEGER NOT NULL,"
    " repeats INTEGER NOT NULL DEFAULT 0,"
    " closed INTEGER NOT NULL DEFAULT 0)",
    "CREATE INDEX repeat_run_open ON repeat_run(folder, ea_name, title, message) WHERE closed = 0",
    "CREATE INDEX repeat_run_closing ON repeat_run(closes_at) WHERE closed = 0",
    // Each alert counted in a run: its LOG row follows the first's.
    "CREATE TABLE repeat_alert ("
    " alert_id INTEGER PRIMARY KEY REFERENCES alert(id) ON DELETE CASCADE,"
    " run_id INTEGER NOT NULL)",
    // The alert that carries a run's count to its recipients.
    "CREATE TABLE repeat_notice ("
    " alert_id INTEGER PRIMARY KEY REFERENCES alert(id) ON DELETE CASCADE,"
    " run_id INTEGER NOT NULL UNIQUE)",
};

// Version 6: a pace per phone. Each SMS let through to a number is counted
// for the pace's window; an alert's SMS beyond it is held, with no sms row,
// until the next digest to that number carries it.
const char *const PaceTables[] = {
    "CREATE TABLE pace_sent ("
    " number TEXT NOT NULL,"
    " at INTEGER NOT NULL)", // ms since 1970 UTC
    "CREATE INDEX pace_sent_of_number ON pace_sent(number, at)",
    "CREATE TABLE held_sms ("
    " id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " alert_id INTEGER NOT NULL REFERENCES alert(id) ON DELETE CASCADE,"
    " name TEXT NOT NULL, number TEXT NOT NULL,"
    " held_at INTEGER NOT NULL,"
    " digest INTEGER)", // alert.id of the digest that carries it; null while it waits
    "CREATE INDEX held_sms_waiting ON held_sms(number, id) WHERE digest IS NULL",
    // The alert that carries a digest to one number, and when it was made.
    "CREATE TABLE digest_notice ("
    " alert_id INTEGER PRIMARY KEY REFERENCES alert(id) ON DELETE CASCADE,"
    " number TEXT NOT NULL,"
    " made_at INTEGER NOT NULL)",
    "CREATE INDEX digest_notice_of_number ON digest_notice(number, made_at)",
    // Robots that write too much are found among the alerts of the last
    // minutes without reading the week the outbox keeps.
    "CREATE INDEX alert_taken ON alert(taken_at)",
    // When the on-duty phones were last told of each flooding robot.
    "CREATE TABLE flood_notice ("
    " folder TEXT NOT NULL, ea_name TEXT NOT NULL, told_at INTEGER NOT NULL,"
    " PRIMARY KEY (folder, ea_name))",
};

// Version 7: what the phones say back. Each SMS a phone sent is committed
// before the route lets go of it, and handled once; who acknowledged an
// alert from which phone is kept with its SMS; the answers the relay sent
// each phone are counted, so that two automatic responders cannot loop.
const char *const ReplyStatements[] = {
    "CREATE TABLE incoming_sms ("
    " id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " number TEXT NOT NULL, text TEXT NOT NULL, route TEXT NOT NULL,"
    " received_at INTEGER NOT NULL," // ms since 1970 UTC
    " sent_at INTEGER,"              // the service centre's time stamp, ms since 1970 UTC; null: none came
    " user_name TEXT,"               // the user whose number sent it; null: an unknown number
    " handled INTEGER NOT NULL DEFAULT 0)",
    // A modem's SMS whose delete failed after it was kept is offered again
    // (after a restart too): kept once.
    "CREATE UNIQUE INDEX incoming_sms_once ON incoming_sms(number, sent_at, text) WHERE sent_at IS NOT NULL",
    "CREATE INDEX incoming_sms_unhandled ON incoming_sms(id) WHERE handled = 0",
    "CREATE INDEX incoming_sms_received ON incoming_sms(received_at)",
    "ALTER TABLE sms ADD COLUMN acked_by TEXT",
    "ALTER TABLE sms ADD COLUMN acked_at INTEGER",
    "ALTER TABLE alert ADD COLUMN acked INTEGER NOT NULL DEFAULT 0",
    "ALTER TABLE alert ADD COLUMN code INTEGER", // " #N" its SMS end with, where alerts are escalated
    "CREATE INDEX alert_unacked ON alert(id) WHERE acked = 0",
    "CREATE TABLE answer_sent ("
    " number TEXT NOT NULL, kind TEXT NOT NULL,"
    " at INTEGER NOT NULL)", // ms since 1970 UTC
    "CREATE INDEX answer_sent_of_number ON answer_sent(number, at)",
    // An alert's escalation: the step due next and when. Step 0 of a round
    // calls the recipients on duty, step K the escalation list's K-th name;
    // step -1 ends it, nobody having acknowledged.
    "CREATE TABLE escalation ("
    " alert_id INTEGER PRIMARY KEY REFERENCES alert(id) ON DELETE CASCADE,"
    " round INTEGER NOT NULL, step INTEGER NOT NULL,"
    " due_at INTEGER NOT NULL,"           // ms since 1970 UTC
    " ended INTEGER NOT NULL DEFAULT 0)", // 1: acknowledged, 2: nobody acknowledged
    "CREATE INDEX escalation_due ON escalation(due_at) WHERE ended = 0",
    // Each step taken, once: a step is committed here before it is taken.
    "CREATE TABLE escalation_step ("
    " alert_id INTEGER NOT NULL REFERENCES alert(id) ON DELETE CASCADE,"
    " round INTEGER NOT NULL, step INTEGER NOT NULL, taken_at INTEGER NOT NULL,"
    " PRIMARY KEY (alert_id, round, step))",
    // Whoever was called or escalated to for an alert, told when it is
    // acknowledged.
    "CREATE TABLE escalation_contact ("
    " alert_id INTEGER NOT NULL REFERENCES alert(id) ON DELETE CASCADE,"
    " name TEXT NOT NULL, number TEXT NOT NULL,"
    " PRIMARY KEY (alert_id, number))",
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

// One row a part sent this time, and where the SMS's delivery stands.
void recordParts(const QSqlDatabase &database, qint64 smsId, const QString &route, const QStringList &references)
{
    const qint64 now = Clock::nowUtc().toMSecsSinceEpoch();
    // A token kept before the send has its row already.
    for (const QString &reference : references)
        Sql::run(database,
                 QStringLiteral("INSERT INTO sms_part (sms_id, route, reference, number, sent_at) "
                                "SELECT id, ?, ?, number, ? FROM sms WHERE id = ? AND NOT EXISTS "
                                "(SELECT 1 FROM sms_part WHERE sms_id = ? AND route = ? AND reference = ?)"),
                 {route, reference, now, smsId, smsId, route, reference});
    // The parts of earlier tries (a copy whose answer was lost, one not
    // delivered) no longer say whether this one arrived.
    QVariantList current{smsId, route};
    for (const QString &reference : references)
        current << reference;
    const QString placeholders = QStringList(references.size(), QStringLiteral("?")).join(QLatin1Char(','));
    Sql::run(database,
             QStringLiteral("UPDATE sms_part SET superseded = 1 WHERE sms_id = ? AND NOT (route = ? AND "
                            "reference IN (%1))")
                 .arg(placeholders),
             current);
    Sql::run(database,
             QStringLiteral("INSERT INTO delivery (sms_id, sent_at) VALUES (?, ?) ON CONFLICT(sms_id) DO NOTHING"),
             {smsId, now});
    // Unconfirmed from this send on (also one sent once more after it was
    // not delivered), unless a gateway's report for it came before its
    // answer did and settled it already.
    QVariantList values{now, smsId, smsId, route};
    for (const QString &reference : references)
        values << reference;
    Sql::run(database,
             QStringLiteral("UPDATE delivery SET state = 'unconfirmed', reason = NULL, sent_at = ?, warned = 0 "
                            "WHERE sms_id = ? AND EXISTS (SELECT 1 FROM sms_part WHERE sms_id = ? AND route = ? "
                            "AND status IS NULL AND reference IN (%1))")
                 .arg(placeholders),
             values);
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

void Outbox::setBusyTimeoutMs(int ms)
{
    m_busyTimeoutMs = ms;
    if (!m_connection.isEmpty())
        guarded([this] { Sql::run(db(), QStringLiteral("PRAGMA busy_timeout=%1").arg(m_busyTimeoutMs)); });
}

QSqlDatabase Outbox::db()
{
    if (!m_connection.isEmpty())
        return QSqlDatabase::database(m_connection, false);

    const QString name = uniqueConnectionName();
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(m_busyTimeoutMs));
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
    const int version = Sql::value(db, QStringLiteral("PRAGMA user_version")).toInt();
    if (version >= SchemaVersion)
        return;
    // An outbox of an earlier version keeps its rows and gains the rest.
    Sql::Transaction transaction(db);
    if (version < 1) {
        for (const char *statement : Tables)
            Sql::run(db, QString::fromLatin1(statement));
    }
    if (version < 2) {
        for (const char *statement : DeliveryTables)
            Sql::run(db, QString::fromLatin1(statement));
    }
    // Version 3: the parts of a long message go by one route, so the route
    // and reference of the parts already sent are kept with them.
    if (version < 3) {
        Sql::run(db, QStringLiteral("ALTER TABLE sms ADD COLUMN parts_route TEXT"));
        Sql::run(db, QStringLiteral("ALTER TABLE sms ADD COLUMN parts_reference INTEGER"));
    }
    if (version < 4) {
        for (const char *statement : HistoryStatements)
            Sql::run(db, QString::fromLatin1(statement));
    }
    if (version < 5) {
        for (const char *statement : RepeatTables)
            Sql::run(db, QString::fromLatin1(statement));
    }
    if (version < 6) {
        for (const char *statement : PaceTables)
            Sql::run(db, QString::fromLatin1(statement));
    }
    for (const char *statement : ReplyStatements)
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
                               "taken_at, dispatched, first_done) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)")))
            throw Sql::error(insert.lastError());
        const QString takenAt = utcNow();
        const qint64 now = Clock::nowUtc().toMSecsSinceEpoch();
        for (const TakenAlert &alert : alerts) {
            const SmsRecord &record = alert.record;
            // A repeat within its run's window is counted, with no SMS of
            // its own: it never takes a place in the queue.
            qint64 run = 0;
            if (m_collapseMs > 0)
                run = Sql::value(database,
                                 QStringLiteral("SELECT id FROM repeat_run WHERE closed = 0 AND folder = ? AND "
                                                "ea_name = ? AND title = ? AND message = ? AND closes_at > ?"),
                                 {folder, record.EA_Name, record.Title, record.Message, now})
                          .toLongLong();
            const bool repeat = run > 0;
            for (const QVariant &value :
                 {QVariant(folder), QVariant(record.Lead), QVariant(record.Time), QVariant(record.EA_Name),
                  QVariant(record.Title), QVariant(record.Message), QVariant(alert.messageBytes), QVariant(takenAt),
                  QVariant(repeat), QVariant(repeat)})
                insert.addBindValue(value);
            if (!insert.exec())
                throw Sql::error(insert.lastError());
            const qint64 alertId = insert.lastInsertId().toLongLong();
            if (repeat) {
                Sql::run(database, QStringLiteral("UPDATE repeat_run SET repeats = repeats + 1 WHERE id = ?"), {run});
                Sql::run(database, QStringLiteral("INSERT INTO repeat_alert (alert_id, run_id) VALUES (?, ?)"),
                         {alertId, run});
            } else if (m_collapseMs > 0) {
                Sql::run(database,
                         QStringLiteral("INSERT INTO repeat_run (folder, ea_name, title, message, first_alert, "
                                        "opened_at, closes_at) VALUES (?, ?, ?, ?, ?, ?, ?)"),
                         {folder, record.EA_Name, record.Title, record.Message, alertId, now, now + m_collapseMs});
            }
        }
        Sql::run(database,
                 QStringLiteral("INSERT OR REPLACE INTO taken_file (path, device, inode, bytes) VALUES (?, ?, ?, ?)"),
                 {takenFile, id.device, id.inode, bytes});
        transaction.commit();
    });
}

QList<Outbox::ClosedRun> Outbox::closeRuns(const QDateTime &now,
                                           const std::function<QString(const ClosedRun &)> &noticeText)
{
    return guarded([&] {
        const QSqlDatabase database = db();
        if (Sql::value(database, QStringLiteral("SELECT count(*) FROM repeat_run WHERE closed = 0 AND closes_at <= ?"),
                       {now.toMSecsSinceEpoch()})
                .toInt()
            == 0)
            return QList<ClosedRun>();
        Sql::Transaction transaction(database);
        QSqlQuery query = Sql::run(database,
                                   QStringLiteral("SELECT id, folder, ea_name, title, message, first_alert, "
                                                  "opened_at, repeats FROM repeat_run WHERE closed = 0 AND "
                                                  "closes_at <= ? ORDER BY closes_at, id"),
                                   {now.toMSecsSinceEpoch()});
        QList<ClosedRun> closed;
        QList<std::pair<qint64, qint64>> runs; // run, first alert
        while (query.next()) {
            ClosedRun run;
            run.folder = query.value(1).toString();
            run.robot = query.value(2).toString();
            run.title = query.value(3).toString();
            run.message = query.value(4).toString();
            run.openedAt = QDateTime::fromMSecsSinceEpoch(query.value(6).toLongLong(), Qt::UTC);
            run.repeats = query.value(7).toInt();
            closed << run;
            runs.append({query.value(0).toLongLong(), query.value(5).toLongLong()});
        }
        query.finish();
        const QString takenAt = utcNow();
        for (qsizetype i = 0; i < closed.size(); ++i) {
            const auto [run, first] = runs[i];
            Sql::run(database, QStringLiteral("UPDATE repeat_run SET closed = 1 WHERE id = ?"), {run});
            if (closed[i].repeats == 0)
                continue;
            // Those who got the first (or will: it may still wait for a
            // modem), in its recipients' order.
            const QString text = noticeText(closed[i]);
            Sql::run(database,
                     QStringLiteral("INSERT INTO alert (folder, lead, time, ea_name, title, message, message_bytes, "
                                    "taken_at, dispatched, logged) SELECT folder, lead, time, ea_name, title, ?, ?, "
                                    "?, 1, 1 FROM alert WHERE id = ?"),
                     {text, text.toUtf8(), takenAt, first});
            const qint64 notice = Sql::value(database, QStringLiteral("SELECT last_insert_rowid()")).toLongLong();
            Sql::run(database, QStringLiteral("INSERT INTO repeat_notice (alert_id, run_id) VALUES (?, ?)"),
                     {notice, run});
            Sql::run(database,
                     QStringLiteral("INSERT INTO sms (alert_id, name, number) SELECT ?, name, number FROM sms "
                                    "WHERE alert_id = ? AND state != 'failed' ORDER BY id"),
                     {notice, first});
            // Nobody got the first (or the alert was purged): nothing to tell.
            Sql::run(database,
                     QStringLiteral("UPDATE alert SET first_done = 1 WHERE id = ? AND NOT EXISTS "
                                    "(SELECT 1 FROM sms WHERE alert_id = ?)"),
                     {notice, notice});
        }
        transaction.commit();
        return closed;
    });
}

void Outbox::forgetFile(const QString &takenFile)
{
    return guarded([&] { Sql::run(db(), QStringLiteral("DELETE FROM taken_file WHERE path = ?"), {takenFile}); });
}

QList<Outbox::Digest> Outbox::makeDigests(const QDateTime &now, qint64 everyMs,
                                          const std::function<QString(const Digest &)> &text)
{
    return guarded([&] {
        const QSqlDatabase database = db();
        // Nothing held: nothing written, so a cycle never waits for a lock
        // another program holds on the outbox.
        if (Sql::value(database, QStringLiteral("SELECT count(*) FROM held_sms WHERE digest IS NULL")).toInt() == 0)
            return QList<Digest>();
        Sql::Transaction transaction(database);
        const qint64 at = now.toMSecsSinceEpoch();
        // A number's digest is due once the last one to it (else its oldest
        // held SMS) is `everyMs` old.
        QSqlQuery due = Sql::run(
            database,
            QStringLiteral("SELECT h.number, min(h.name), coalesce((SELECT max(made_at) FROM digest_notice d WHERE "
                           "d.number = h.number), min(h.held_at)) AS since FROM held_sms h WHERE h.digest IS NULL "
                           "GROUP BY h.number HAVING since <= ? ORDER BY min(h.id)"),
            {at - everyMs});
        QList<Digest> digests;
        while (due.next()) {
            Digest digest;
            digest.number = due.value(0).toString();
            digest.name = due.value(1).toString();
            digests << digest;
        }
        due.finish();
        for (Digest &digest : digests) {
            QSqlQuery held = Sql::run(database,
                                      QStringLiteral("SELECT a.ea_name, a.title FROM held_sms h JOIN alert a ON a.id = "
                                                     "h.alert_id WHERE h.number = ? AND h.digest IS NULL ORDER BY "
                                                     "h.id"),
                                      {digest.number});
            while (held.next())
                digest.alerts.append({held.value(0).toString(), held.value(1).toString()});
            held.finish();
            const QString message = text(digest);
            const QString time = now.toLocalTime().toString(QStringLiteral("HH:mm:ss"));
            Sql::run(database,
                     QStringLiteral("INSERT INTO alert (folder, lead, time, ea_name, title, message, message_bytes, "
                                    "taken_at, dispatched, logged) VALUES ('', 'DIGEST', ?, 'Vantrel', 'Digest', ?, "
                                    "?, ?, 1, 1)"),
                     {time, message, message.toUtf8(), utcNow()});
            const qint64 notice = Sql::value(database, QStringLiteral("SELECT last_insert_rowid()")).toLongLong();
            Sql::run(database, QStringLiteral("INSERT INTO sms (alert_id, name, number) VALUES (?, ?, ?)"),
                     {notice, digest.name, digest.number});
            Sql::run(database, QStringLiteral("INSERT INTO digest_notice (alert_id, number, made_at) VALUES (?, ?, ?)"),
                     {notice, digest.number, at});
            Sql::run(database, QStringLiteral("UPDATE held_sms SET digest = ? WHERE number = ? AND digest IS NULL"),
                     {notice, digest.number});
        }
        // What no pace looks back to any more.
        if (!digests.isEmpty())
            Sql::run(database, QStringLiteral("DELETE FROM pace_sent WHERE at < ?"), {at - qint64(24) * 3600 * 1000});
        transaction.commit();
        return digests;
    });
}

QList<Outbox::Flooding> Outbox::flooding(const QDateTime &since, int moreThan)
{
    return guarded([&] {
        // A robot's own alerts: not the counts and digests told for it.
        QSqlQuery query = Sql::run(db(),
                                   QStringLiteral("SELECT folder, ea_name, count(*) FROM alert WHERE taken_at >= ? AND "
                                                  "folder != '' AND NOT EXISTS (SELECT 1 FROM repeat_notice n WHERE "
                                                  "n.alert_id = alert.id) GROUP BY folder, ea_name HAVING count(*) > "
                                                  "? ORDER BY folder, ea_name"),
                                   {since.toUTC().toString(Qt::ISODateWithMs), moreThan});
        QList<Flooding> list;
        while (query.next())
            list << Flooding{query.value(0).toString(), query.value(1).toString(), query.value(2).toInt()};
        return list;
    });
}

bool Outbox::floodNoticeDue(const Flooding &robot, const QDateTime &now, qint64 everyMs)
{
    return guarded([&] {
        const QSqlDatabase database = db();
        Sql::Transaction transaction(database);
        const QVariant told =
            Sql::value(database, QStringLiteral("SELECT told_at FROM flood_notice WHERE folder = ? AND ea_name = ?"),
                       {robot.folder, robot.robot});
        const qint64 at = now.toMSecsSinceEpoch();
        if (!told.isNull() && at - told.toLongLong() < everyMs)
            return false;
        Sql::run(database,
                 QStringLiteral("INSERT OR REPLACE INTO flood_notice (folder, ea_name, told_at) VALUES (?, ?, ?)"),
                 {robot.folder, robot.robot, at});
        transaction.commit();
        return true;
    });
}

int Outbox::heldCount()
{
    return guarded(
        [&] { return Sql::value(db(), QStringLiteral("SELECT count(*) FROM held_sms WHERE digest IS NULL")).toInt(); });
}

QList<Outbox::Alert> Outbox::alerts(const QString &where, const QVariantList &values)
{
    QSqlQuery query = Sql::run(db(),
                               QStringLiteral("SELECT id, folder, lead, time, ea_name, title, message, dispatched, "
                                              "log_after, message_bytes, code FROM alert WHERE ")
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
        alert.code = query.value(10).isNull() ? -1 : query.value(10).toInt();
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

int Outbox::beginDispatch(qint64 alertId, const QList<NewSms> &recipients)
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
            if (!refused && m_pace.count > 0 && m_pace.windowMs > 0) {
                // Beyond its number's pace, the SMS waits for a digest.
                const int recent = Sql::value(database,
                                              QStringLiteral("SELECT count(*) FROM pace_sent WHERE number = ? AND "
                                                             "at > ?"),
                                              {notNull(sms.number), now - m_pace.windowMs})
                                       .toInt();
                if (recent >= m_pace.count) {
                    Sql::run(database,
                             QStringLiteral("INSERT INTO held_sms (alert_id, name, number, held_at) VALUES (?, ?, ?, "
                                            "?)"),
                             {alertId, notNull(sms.name), notNull(sms.number), now});
                    continue;
                }
                Sql::run(database, QStringLiteral("INSERT INTO pace_sent (number, at) VALUES (?, ?)"),
                         {notNull(sms.number), now});
            }
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
        int code = -1;
        if (anyToTry && m_escalateMs > 0) {
            // The smallest code no alert waiting for its acknowledgement holds.
            QSqlQuery used = Sql::run(database, QStringLiteral("SELECT code FROM alert WHERE acked = 0 AND code IS NOT "
                                                               "NULL ORDER BY code"));
            int next = 1;
            while (used.next() && used.value(0).toInt() <= next)
                next = qMax(next, used.value(0).toInt() + 1);
            used.finish();
            if (next <= MaxCode) {
                code = next;
                Sql::run(database, QStringLiteral("UPDATE alert SET code = ? WHERE id = ?"), {code, alertId});
                Sql::run(database,
                         QStringLiteral("INSERT OR IGNORE INTO escalation (alert_id, round, step, due_at) VALUES (?, "
                                        "1, 0, ?)"),
                         {alertId, now + m_escalateMs});
            }
        }
        transaction.commit();
        return code;
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
        QSqlQuery query = Sql::run(
            db(),
            QStringLiteral("SELECT s.id, s.name, s.number, s.tries, s.parts_sent, d.avoid_route, s.parts_route, "
                           "s.parts_reference FROM sms s "
                           "LEFT JOIN delivery d ON d.sms_id = s.id WHERE s.alert_id = ? AND "
                           "s.state = 'waiting' AND (s.tries = 0 OR s.next_try <= ?) ORDER BY s.id"),
            {alertId, now.toMSecsSinceEpoch()});
        QList<Sms> list;
        while (query.next())
            list << Sms{query.value(0).toLongLong(),
                        query.value(1).toString(),
                        query.value(2).toString(),
                        query.value(3).toInt(),
                        quint32(query.value(4).toLongLong()),
                        query.value(5).toString(),
                        query.value(6).toString(),
                        query.value(7).isNull() ? -1 : query.value(7).toInt()};
        return list;
    });
}

void Outbox::recordSent(qint64 smsId, const QString &route, const QStringList &references)
{
    recordTry(smsId, QStringLiteral("sent"), QString(), QDateTime(), 0, route, references);
}

void Outbox::recordFailed(qint64 smsId, const QString &reason, const QDateTime &nextTry, quint32 partsSent,
                          const QString &partsRoute, int partsReference)
{
    recordTry(smsId, QStringLiteral("waiting"), reason, nextTry, partsSent, {}, {});
    guarded([&] {
        Sql::run(db(), QStringLiteral("UPDATE sms SET parts_route = ?, parts_reference = ? WHERE id = ?"),
                 {partsSent != 0 && !partsRoute.isEmpty() ? QVariant(partsRoute) : QVariant(),
                  partsSent != 0 && partsReference >= 0 ? QVariant(partsReference) : QVariant(), smsId});
    });
}

void Outbox::giveUp(qint64 smsId, const QString &reason, quint32 partsSent)
{
    recordTry(smsId, QStringLiteral("failed"), reason, QDateTime(), partsSent, {}, {});
}

void Outbox::recordTry(qint64 smsId, const QString &state, const QString &reason, const QDateTime &nextTry,
                       quint32 partsSent, const QString &route, const QStringList &references)
{
    return guarded([&] {
        const QSqlDatabase database = db();
        Sql::Transaction transaction(database);
        const bool finished = state != QLatin1String("waiting");
        Sql::run(
            database,
            QStringLiteral("UPDATE sms SET state = ?, tries = tries + 1, reason = ?, next_try = ?, finished_at = ?, "
                           "parts_sent = ?, sent_route = coalesce(?, sent_route) WHERE id = ?"),
            {state, reason.isNull() ? QVariant() : QVariant(reason),
             nextTry.isValid() ? QVariant(nextTry.toMSecsSinceEpoch()) : QVariant(),
             finished ? QVariant(Clock::nowUtc().toMSecsSinceEpoch()) : QVariant(), qint64(partsSent),
             route.isEmpty() ? QVariant() : QVariant(route), smsId});
        // Reports asked for: committed with the send, so that a report after
        // a restart still finds its SMS.
        if (!references.isEmpty())
            recordParts(database, smsId, route, references);
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

void Outbox::recordToken(qint64 smsId, const QString &route, const QString &token)
{
    return guarded([&] {
        // With where its delivery stands, so that a report that comes before
        // the gateway's answer has something to settle.
        const QSqlDatabase database = db();
        Sql::Transaction transaction(database);
        const qint64 now = Clock::nowUtc().toMSecsSinceEpoch();
        // This try stands for the SMS from now on, whatever earlier ones did.
        Sql::run(database, QStringLiteral("UPDATE sms_part SET superseded = 1 WHERE sms_id = ?"), {smsId});
        Sql::run(database,
                 QStringLiteral("INSERT INTO sms_part (sms_id, route, reference, number, sent_at) "
                                "SELECT id, ?, ?, number, ? FROM sms WHERE id = ?"),
                 {route, token, now, smsId});
        Sql::run(database,
                 QStringLiteral("INSERT INTO delivery (sms_id, sent_at) VALUES (?, ?) ON CONFLICT(sms_id) DO NOTHING"),
                 {smsId, now});
        transaction.commit();
    });
}

bool Outbox::tokenKnown(const QString &route, const QString &token)
{
    return guarded([&] {
        return Sql::value(db(), QStringLiteral("SELECT count(*) FROM sms_part WHERE route = ? AND reference = ?"),
                          {route, token})
                   .toInt()
               > 0;
    });
}

Outbox::Counts Outbox::counts(const QDateTime &givenUpSince)
{
    return guarded([&] {
        QSqlQuery query = Sql::run(
            db(),
            QStringLiteral("SELECT count(*) FILTER (WHERE state = 'waiting' AND tries > 0), "
                           "count(*) FILTER (WHERE state = 'failed' AND finished_at >= ?), "
                           "(SELECT count(*) FROM delivery WHERE state = 'not delivered' AND reported_at >= ?) "
                           "FROM sms"),
            {givenUpSince.toMSecsSinceEpoch(), givenUpSince.toMSecsSinceEpoch()});
        Counts counts;
        if (query.next())
            counts = {query.value(0).toInt(), query.value(1).toInt(), query.value(2).toInt()};
        return counts;
    });
}

std::optional<Outbox::Reported> Outbox::pairReport(const QString &route, const QString &reference,
                                                   const QString &number, const QDateTime &serviceCentreTime,
                                                   const QDateTime &notBefore)
{
    return guarded([&]() -> std::optional<Reported> {
        const QSqlDatabase database = db();
        // The unreported parts with that reference on that line, sent
        // within the time allowed; the one sent nearest the time the service
        // centre says it took the SMS, else the latest.
        QSqlQuery query = Sql::run(
            database,
            QStringLiteral("SELECT p.id, p.sms_id, p.number, p.sent_at FROM sms_part p WHERE p.route = ? "
                           "AND p.reference = ? AND p.status IS NULL AND p.sent_at >= ? ORDER BY p.sent_at DESC"),
            {route, reference, notBefore.toMSecsSinceEpoch()});
        qint64 best = -1;
        qint64 bestSms = -1;
        qint64 bestDistance = std::numeric_limits<qint64>::max();
        while (query.next()) {
            if (!number.isEmpty() && !PhoneNumber::sameNumber(number, query.value(2).toString()))
                continue;
            const qint64 distance = serviceCentreTime.isValid()
                                        ? qAbs(serviceCentreTime.toMSecsSinceEpoch() - query.value(3).toLongLong())
                                        : 0;
            if (best < 0 || distance < bestDistance) {
                best = query.value(0).toLongLong();
                bestSms = query.value(1).toLongLong();
                bestDistance = distance;
            }
            if (!serviceCentreTime.isValid())
                break;
        }
        if (best < 0)
            return std::nullopt;
        return Reported{best, bestSms};
    });
}

Outbox::Delivery Outbox::settlePart(qint64 partId, int status, const QString &reason, const QDateTime &dischargeTime)
{
    return guarded([&] {
        const QSqlDatabase database = db();
        Sql::Transaction transaction(database);
        const qint64 now = Clock::nowUtc().toMSecsSinceEpoch();
        QSqlQuery part =
            Sql::run(database, QStringLiteral("SELECT sms_id, superseded FROM sms_part WHERE id = ?"), {partId});
        const qint64 smsId = part.next() ? part.value(0).toLongLong() : 0;
        // A report for a copy a later try stands for says nothing of it.
        const bool superseded = part.value(1).toInt() != 0;
        Sql::run(database, QStringLiteral("UPDATE sms_part SET status = ?, reported_at = ? WHERE id = ?"),
                 {status, now, partId});
        Delivery delivery = deliveryOf(database, smsId);
        if (delivery.state == QLatin1String("unconfirmed") && !superseded) {
            const bool failed = !reason.isEmpty();
            const bool allIn = Sql::value(database,
                                          QStringLiteral("SELECT count(*) FROM sms_part WHERE sms_id = ? AND "
                                                         "status IS NULL AND superseded = 0"),
                                          {smsId})
                                   .toInt()
                               == 0;
            if (failed || allIn) {
                Sql::run(database,
                         QStringLiteral("UPDATE delivery SET state = ?, reason = ?, delivered_at = ?, reported_at = ? "
                                        "WHERE sms_id = ?"),
                         {failed ? QStringLiteral("not delivered") : QStringLiteral("delivered"),
                          failed ? QVariant(reason) : QVariant(),
                          dischargeTime.isValid() ? QVariant(dischargeTime.toMSecsSinceEpoch()) : QVariant(), now,
                          smsId});
                delivery = deliveryOf(database, smsId);
                delivery.changed = true;
            }
        }
        transaction.commit();
        return delivery;
    });
}

Outbox::Delivery Outbox::deliveryOf(const QSqlDatabase &database, qint64 smsId)
{
    QSqlQuery query = Sql::run(database,
                               QStringLiteral("SELECT d.state, d.reason, d.delivered_at, s.name, s.number, "
                                              "d.avoid_route FROM delivery d JOIN sms s ON s.id = d.sms_id "
                                              "WHERE d.sms_id = ?"),
                               {smsId});
    Delivery delivery;
    delivery.smsId = smsId;
    if (query.next()) {
        delivery.state = query.value(0).toString();
        delivery.reason = query.value(1).toString();
        if (!query.value(2).isNull())
            delivery.deliveredAt = QDateTime::fromMSecsSinceEpoch(query.value(2).toLongLong(), Qt::UTC);
        delivery.name = query.value(3).toString();
        delivery.number = query.value(4).toString();
        delivery.avoidRoute = query.value(5).toString();
    }
    return delivery;
}

QList<Outbox::Delivery> Outbox::lateReports(const QDateTime &sentBefore)
{
    return guarded([&] {
        const QSqlDatabase database = db();
        Sql::Transaction transaction(database);
        QSqlQuery query = Sql::run(database,
                                   QStringLiteral("SELECT sms_id FROM delivery WHERE state = 'unconfirmed' AND "
                                                  "warned = 0 AND sent_at < ? AND sms_id IN "
                                                  "(SELECT id FROM sms WHERE state = 'sent')"),
                                   {sentBefore.toMSecsSinceEpoch()});
        QList<qint64> ids;
        while (query.next())
            ids << query.value(0).toLongLong();
        QList<Delivery> late;
        for (const qint64 id : std::as_const(ids)) {
            Sql::run(database, QStringLiteral("UPDATE delivery SET warned = 1 WHERE sms_id = ?"), {id});
            late << deliveryOf(database, id);
        }
        transaction.commit();
        return late;
    });
}

void Outbox::sendAgainAvoiding(qint64 smsId, const QString &route)
{
    return guarded([&] {
        const QSqlDatabase database = db();
        Sql::Transaction transaction(database);
        // Due at once, and not counted as a try of its own: the network
        // took it, another network may deliver it.
        Sql::run(database,
                 QStringLiteral("UPDATE sms SET state = 'waiting', next_try = ?, finished_at = NULL, parts_sent = 0 "
                                "WHERE id = ?"),
                 {Clock::nowUtc().toMSecsSinceEpoch(), smsId});
        Sql::run(database, QStringLiteral("UPDATE delivery SET avoid_route = ? WHERE sms_id = ?"), {route, smsId});
        transaction.commit();
    });
}

Outbox::Standing Outbox::standing(const QDateTime &givenUpSince)
{
    return guarded([&] {
        QSqlQuery query = Sql::run(db(),
                                   QStringLiteral("SELECT count(*) FILTER (WHERE state = 'waiting' AND tries = 0), "
                                                  "count(*) FILTER (WHERE state = 'waiting' AND tries > 0), "
                                                  "count(*) FILTER (WHERE state = 'failed' AND finished_at >= ?), "
                                                  "(SELECT max(taken_at) FROM alert), "
                                                  "(SELECT count(*) FROM delivery d JOIN sms s ON s.id = d.sms_id "
                                                  "WHERE d.state = 'unconfirmed' AND s.state = 'sent'), "
                                                  "(SELECT count(*) FROM delivery WHERE state = 'not delivered' "
                                                  "AND reported_at >= ?), "
                                                  // Both through partial indexes that hold only
                                                  // what waits, however long the outbox.
                                                  "(SELECT min(taken) FROM ("
                                                  "SELECT min(taken_at) AS taken FROM alert WHERE first_done = 0 "
                                                  "UNION ALL SELECT min(a.taken_at) FROM sms r JOIN alert a "
                                                  "ON a.id = r.alert_id WHERE r.state = 'waiting' AND r.tries > 0)) "
                                                  "FROM sms"),
                                   {givenUpSince.toMSecsSinceEpoch(), givenUpSince.toMSecsSinceEpoch()});
        Standing standing;
        if (query.next()) {
            standing = {query.value(0).toInt(),
                        query.value(1).toInt(),
                        query.value(2).toInt(),
                        QDateTime::fromString(query.value(3).toString(), Qt::ISODateWithMs),
                        query.value(4).toInt(),
                        query.value(5).toInt(),
                        QDateTime::fromString(query.value(6).toString(), Qt::ISODateWithMs)};
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

QDateTime Outbox::takenAt(qint64 smsId)
{
    return guarded([&] {
        const QVariant taken = Sql::value(
            db(), QStringLiteral("SELECT a.taken_at FROM sms s JOIN alert a ON a.id = s.alert_id WHERE s.id = ?"),
            {smsId});
        return taken.isNull() ? QDateTime() : QDateTime::fromString(taken.toString(), Qt::ISODateWithMs);
    });
}

QList<Outbox::Alert> Outbox::logDue(int max)
{
    return guarded([&] {
        // A repeat's row follows the row of its run's first alert.
        return alerts(QStringLiteral("first_done = 1 AND logged = 0 AND NOT EXISTS (SELECT 1 FROM repeat_alert r "
                                     "JOIN repeat_run u ON u.id = r.run_id JOIN alert f ON f.id = u.first_alert "
                                     "WHERE r.alert_id = alert.id AND f.logged = 0) ORDER BY id LIMIT ?"),
                      {max});
    });
}

void Outbox::setLogAfter(qint64 alertId, qint64 lastLogId)
{
    return guarded([&] {
        Sql::run(db(), QStringLiteral("UPDATE alert SET log_after = ? WHERE id = ?"), {lastLogId, alertId});
    });
}

void Outbox::setLogged(qint64 alertId, qint64 logId)
{
    return guarded([&] {
        const QSqlDatabase database = db();
        Sql::Transaction transaction(database);
        Sql::run(database, QStringLiteral("UPDATE alert SET logged = 1 WHERE id = ?"), {alertId});
        if (logId > 0)
            link(database, alertId, logId);
        transaction.commit();
    });
}

QList<Outbox::Alert> Outbox::unlinked(int max)
{
    return guarded([&] {
        return alerts(QStringLiteral("logged = 1 AND log_id IS NULL AND log_after IS NOT NULL ORDER BY id LIMIT ?"),
                      {max});
    });
}

void Outbox::setLogId(qint64 alertId, qint64 logId)
{
    return guarded([&] {
        const QSqlDatabase database = db();
        Sql::Transaction transaction(database);
        link(database, alertId, logId);
        transaction.commit();
    });
}

void Outbox::link(const QSqlDatabase &database, qint64 alertId, qint64 logId)
{
    Sql::run(database, QStringLiteral("UPDATE alert SET log_id = ? WHERE id = ?"), {logId, alertId});
    if (logId <= 0)
        return;
    const QDateTime takenAt = QDateTime::fromString(
        Sql::value(database, QStringLiteral("SELECT taken_at FROM alert WHERE id = ?"), {alertId}).toString(),
        Qt::ISODateWithMs);
    if (takenAt.isValid())
        Sql::run(database,
                 QStringLiteral("INSERT INTO log_day (day, first_id, last_id) VALUES (?, ?, ?) "
                                "ON CONFLICT(day) DO UPDATE SET first_id = min(first_id, excluded.first_id), "
                                "last_id = max(last_id, excluded.last_id)"),
                 {takenAt.toLocalTime().date().toString(Qt::ISODate), logId, logId});
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

qint64 Outbox::keepIncoming(const IncomingSms &sms)
{
    return guarded([&]() -> qint64 {
        const QSqlQuery query =
            Sql::run(db(),
                     QStringLiteral("INSERT OR IGNORE INTO incoming_sms (number, text, route, received_at, sent_at, "
                                    "user_name) VALUES (?, ?, ?, ?, ?, ?)"),
                     {sms.number, sms.text, sms.route, sms.receivedAt.toMSecsSinceEpoch(),
                      sms.sentAt.isValid() ? QVariant(sms.sentAt.toMSecsSinceEpoch()) : QVariant(),
                      sms.userName.isNull() ? QVariant() : QVariant(sms.userName)});
        return query.numRowsAffected() > 0 ? query.lastInsertId().toLongLong() : 0;
    });
}

QList<Outbox::IncomingSms> Outbox::unhandledIncoming()
{
    return guarded([&] {
        QSqlQuery query = Sql::run(db(), QStringLiteral("SELECT id, number, text, route, received_at, user_name FROM "
                                                        "incoming_sms WHERE handled = 0 ORDER BY id"));
        QList<IncomingSms> list;
        while (query.next()) {
            IncomingSms sms;
            sms.id = query.value(0).toLongLong();
            sms.number = query.value(1).toString();
            sms.text = query.value(2).toString();
            sms.route = query.value(3).toString();
            sms.receivedAt = QDateTime::fromMSecsSinceEpoch(query.value(4).toLongLong(), Qt::UTC);
            sms.userName = query.value(5).isNull() ? QString() : query.value(5).toString();
            list << sms;
        }
        return list;
    });
}

void Outbox::setHandled(qint64 incomingId)
{
    guarded([&] { Sql::run(db(), QStringLiteral("UPDATE incoming_sms SET handled = 1 WHERE id = ?"), {incomingId}); });
}

int Outbox::incomingSince(const QDateTime &since)
{
    return guarded([&] {
        return Sql::value(db(), QStringLiteral("SELECT count(*) FROM incoming_sms WHERE received_at >= ?"),
                          {since.toMSecsSinceEpoch()})
            .toInt();
    });
}

QList<Outbox::Acknowledged> Outbox::acknowledge(const QString &number, const QString &by, const QDateTime &at,
                                                std::optional<int> code)
{
    return guarded([&] {
        const QSqlDatabase database = db();
        Sql::Transaction transaction(database);
        // The phone's SMS of alerts nobody acknowledged yet; its number is
        // matched by its digits, as the user's number may be written
        // otherwise than the network gives it.
        QSqlQuery query =
            Sql::run(database, QStringLiteral("SELECT sms.id, sms.number, alert.id, alert.message, alert.code "
                                              "FROM alert JOIN sms ON sms.alert_id = alert.id "
                                              "WHERE alert.acked = 0 AND sms.state = 'sent' ORDER BY alert.id"));
        QList<Acknowledged> acknowledged;
        QList<qint64> smsIds;
        while (query.next()) {
            const qint64 alertId = query.value(2).toLongLong();
            if (!PhoneNumber::sameNumber(number, query.value(1).toString()))
                continue;
            if (code && (query.value(4).isNull() || query.value(4).toInt() != *code))
                continue;
            smsIds << query.value(0).toLongLong();
            if (acknowledged.isEmpty() || acknowledged.constLast().alertId != alertId)
                acknowledged << Acknowledged{
                    alertId, query.value(3).toString(), query.value(4).isNull() ? -1 : query.value(4).toInt(), {}};
        }
        query.finish();
        for (Acknowledged &alert : acknowledged)
            alert.contacts = endEscalation(database, alert.alertId);
        for (const qint64 smsId : std::as_const(smsIds))
            Sql::run(database, QStringLiteral("UPDATE sms SET acked_by = ?, acked_at = ? WHERE id = ?"),
                     {by, at.toMSecsSinceEpoch(), smsId});
        for (const Acknowledged &alert : std::as_const(acknowledged))
            Sql::run(database, QStringLiteral("UPDATE alert SET acked = 1 WHERE id = ?"), {alert.alertId});
        transaction.commit();
        return acknowledged;
    });
}

QList<Outbox::Acknowledged> Outbox::acknowledgeAll(const QString &by, const QDateTime &at)
{
    return guarded([&] {
        const QSqlDatabase database = db();
        Sql::Transaction transaction(database);
        QList<Acknowledged> ended;
        QSqlQuery open = Sql::run(database, QStringLiteral("SELECT id, message, code FROM alert WHERE acked = 0 AND "
                                                           "dispatched = 1"));
        while (open.next())
            ended << Acknowledged{open.value(0).toLongLong(),
                                  open.value(1).toString(),
                                  open.value(2).isNull() ? -1 : open.value(2).toInt(),
                                  {}};
        open.finish();
        for (Acknowledged &alert : ended)
            alert.contacts = endEscalation(database, alert.alertId);
        Sql::run(database,
                 QStringLiteral("UPDATE sms SET acked_by = ?, acked_at = ? WHERE state = 'sent' AND alert_id IN "
                                "(SELECT id FROM alert WHERE acked = 0)"),
                 {by, at.toMSecsSinceEpoch()});
        Sql::run(database, QStringLiteral("UPDATE alert SET acked = 1 WHERE acked = 0 AND dispatched = 1"));
        transaction.commit();
        return ended;
    });
}

int Outbox::answersSince(const QString &number, const QDateTime &since, const QString &kind)
{
    return guarded([&] {
        QString where = QStringLiteral("number = ? AND at >= ?");
        QVariantList values{number, since.toMSecsSinceEpoch()};
        if (!kind.isEmpty()) {
            where += QStringLiteral(" AND kind = ?");
            values << kind;
        }
        return Sql::value(db(), QStringLiteral("SELECT count(*) FROM answer_sent WHERE ") + where, values).toInt();
    });
}

void Outbox::countAnswer(const QString &number, const QString &kind, const QDateTime &at)
{
    guarded([&] {
        Sql::run(db(), QStringLiteral("INSERT INTO answer_sent (number, kind, at) VALUES (?, ?, ?)"),
                 {number, kind, at.toMSecsSinceEpoch()});
    });
}

QList<std::pair<QString, QString>> Outbox::endEscalation(const QSqlDatabase &database, qint64 alertId)
{
    // Also a chain that ran out: the alert was acknowledged after all.
    Sql::run(database, QStringLiteral("UPDATE escalation SET ended = 1 WHERE alert_id = ?"), {alertId});
    QSqlQuery query = Sql::run(
        database, QStringLiteral("SELECT name, number FROM escalation_contact WHERE alert_id = ? ORDER BY rowid"),
        {alertId});
    QList<std::pair<QString, QString>> contacts;
    while (query.next())
        contacts << std::pair{query.value(0).toString(), query.value(1).toString()};
    return contacts;
}

QList<Outbox::EscalationStep> Outbox::takeDueSteps(const QDateTime &now, int listSize, int rounds)
{
    return guarded([&] {
        const QSqlDatabase database = db();
        Sql::Transaction transaction(database);
        const qint64 at = now.toMSecsSinceEpoch();
        QSqlQuery query = Sql::run(database,
                                   QStringLiteral("SELECT e.alert_id, e.round, e.step, a.code, a.message FROM "
                                                  "escalation e JOIN alert a ON a.id = e.alert_id WHERE e.ended = 0 "
                                                  "AND e.due_at <= ? ORDER BY e.due_at, e.alert_id"),
                                   {at});
        QList<EscalationStep> steps;
        while (query.next())
            steps << EscalationStep{query.value(0).toLongLong(), query.value(1).toInt(), query.value(2).toInt(),
                                    query.value(3).isNull() ? -1 : query.value(3).toInt(), query.value(4).toString()};
        query.finish();
        QList<EscalationStep> taken;
        for (const EscalationStep &step : std::as_const(steps)) {
            // The step after this one, and whether this one was taken before.
            int round = step.round;
            int next = step.step + 1;
            if (step.step < 0) {
                Sql::run(database, QStringLiteral("UPDATE escalation SET ended = 2 WHERE alert_id = ?"),
                         {step.alertId});
            } else {
                if (next > listSize) {
                    ++round;
                    next = 0;
                }
                if (round > rounds) {
                    round = rounds;
                    next = -1;
                }
                Sql::run(database,
                         QStringLiteral("UPDATE escalation SET round = ?, step = ?, due_at = ? WHERE alert_id = ?"),
                         {round, next, at + m_escalateMs, step.alertId});
            }
            const QSqlQuery insert = Sql::run(database,
                                              QStringLiteral("INSERT OR IGNORE INTO escalation_step (alert_id, round, "
                                                             "step, taken_at) VALUES (?, ?, ?, ?)"),
                                              {step.alertId, step.round, step.step, at});
            if (insert.numRowsAffected() > 0)
                taken << step;
        }
        transaction.commit();
        return taken;
    });
}

void Outbox::addContact(qint64 alertId, const QString &name, const QString &number)
{
    guarded([&] {
        Sql::run(db(),
                 QStringLiteral("INSERT OR IGNORE INTO escalation_contact (alert_id, name, number) VALUES (?, ?, ?)"),
                 {alertId, name, number});
    });
}

void Outbox::hurryEscalation(const QString &number, const QDateTime &now)
{
    guarded([&] {
        Sql::run(db(),
                 QStringLiteral("UPDATE escalation SET due_at = ? WHERE ended = 0 AND step >= 0 AND due_at > ? AND "
                                "alert_id IN (SELECT alert_id FROM sms WHERE number = ? AND state = 'sent')"),
                 {now.toMSecsSinceEpoch(), now.toMSecsSinceEpoch(), number});
    });
}

std::optional<QDateTime> Outbox::nextEscalationDue()
{
    return guarded([&]() -> std::optional<QDateTime> {
        const QVariant due = Sql::value(db(), QStringLiteral("SELECT min(due_at) FROM escalation WHERE ended = 0"));
        if (due.isNull())
            return std::nullopt;
        return QDateTime::fromMSecsSinceEpoch(due.toLongLong(), Qt::UTC);
    });
}

Outbox::Unacknowledged Outbox::unacknowledgedStanding()
{
    return guarded([&] {
        Unacknowledged standing;
        const QSqlDatabase database = db();
        standing.count =
            Sql::value(database, QStringLiteral("SELECT count(DISTINCT alert.id) FROM alert JOIN sms ON sms.alert_id = "
                                                "alert.id WHERE alert.acked = 0 AND sms.state = 'sent'"))
                .toInt();
        QSqlQuery oldest = Sql::run(database, QStringLiteral("SELECT a.code, a.taken_at FROM alert a WHERE a.acked = 0 "
                                                             "AND a.code IS NOT NULL ORDER BY a.id LIMIT 1"));
        if (oldest.next()) {
            standing.oldestCode = oldest.value(0).toInt();
            standing.oldestTakenAt = QDateTime::fromString(oldest.value(1).toString(), Qt::ISODateWithMs);
        }
        oldest.finish();
        standing.nobody =
            Sql::value(database, QStringLiteral("SELECT count(*) FROM escalation e JOIN alert a ON a.id = e.alert_id "
                                                "WHERE e.ended = 2 AND a.acked = 0"))
                .toInt();
        return standing;
    });
}
