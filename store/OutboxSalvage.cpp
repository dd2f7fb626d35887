#include "store/OutboxSalvage.h"

#include "store/Sql.h"

#include <QFile>
#include <QSet>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>

namespace {

constexpr int RowsAtOnce = 500;
// Past a page that no longer reads, the next readable row is looked for this
// far ahead, doubling the step each time.
constexpr int LongestJumpBits = 40;

// Every row of `table` that still reads, by rowid, so that a broken page
// costs its own rows and not those behind it.
OutboxSalvage::Table readTable(const QSqlDatabase &db, const QString &table)
{
    OutboxSalvage::Table out;
    qint64 after = -1; // the last rowid read
    int misses = 0;    // reads that failed in a row at this point
    while (misses <= LongestJumpBits) {
        const qint64 from = misses == 0 ? after : after + (qint64(1) << (misses - 1));
        QSqlQuery query(db);
        query.setForwardOnly(true);
        const bool ran = query.exec(
            QStringLiteral("SELECT rowid, * FROM \"%1\" NOT INDEXED WHERE rowid > %2 ORDER BY rowid LIMIT %3")
                .arg(table)
                .arg(from)
                .arg(RowsAtOnce));
        int read = 0;
        if (ran && out.columns.isEmpty()) {
            const QSqlRecord record = query.record();
            for (int i = 1; i < record.count(); ++i)
                out.columns << record.fieldName(i);
        }
        while (ran && query.next()) {
            QVariantList row;
            for (int i = 1; i <= out.columns.size(); ++i)
                row << query.value(i);
            out.rows << row;
            after = query.value(0).toLongLong();
            ++read;
        }
        if (ran && !query.lastError().isValid()) {
            if (read < RowsAtOnce)
                break; // the end of the table
            misses = 0;
        } else {
            misses = read > 0 ? 0 : misses + 1;
        }
    }
    return out;
}

int column(const OutboxSalvage::Table &table, const char *name)
{
    return int(table.columns.indexOf(QLatin1String(name)));
}

// Keeps the alerts that still have something to do (an SMS waiting, or the
// LOG row not written) and the SMS of those alerts.
void keepUnfinished(OutboxSalvage::Rows &rows)
{
    OutboxSalvage::Table &alerts = rows.tables[QStringLiteral("alert")];
    OutboxSalvage::Table &sms = rows.tables[QStringLiteral("sms")];
    const int smsAlert = column(sms, "alert_id");
    const int smsState = column(sms, "state");
    QSet<qint64> waiting;
    for (const QVariantList &row : std::as_const(sms.rows)) {
        if (row.value(smsState).toString() == QLatin1String("waiting"))
            waiting.insert(row.value(smsAlert).toLongLong());
    }
    const int alertId = column(alerts, "id");
    const int logged = column(alerts, "logged");
    QSet<qint64> kept;
    QList<QVariantList> keptAlerts;
    for (const QVariantList &row : std::as_const(alerts.rows)) {
        const qint64 id = row.value(alertId).toLongLong();
        if (!row.value(logged).toBool() || waiting.contains(id)) {
            kept.insert(id);
            keptAlerts << row;
        }
    }
    alerts.rows = keptAlerts;
    QList<QVariantList> keptSms;
    for (const QVariantList &row : std::as_const(sms.rows)) {
        if (kept.contains(row.value(smsAlert).toLongLong()))
            keptSms << row;
    }
    sms.rows = keptSms;
    rows.alerts = int(kept.size());
}

} // namespace

namespace OutboxSalvage {

Rows read(const QString &file)
{
    Rows rows;
    // Opening a database may write to it (a WAL is checkpointed and removed
    // when the last connection closes); the damaged file must stay exactly as
    // it was found, so a copy is read.
    QTemporaryDir work;
    const QString copy = work.filePath(QStringLiteral("salvage.db"));
    if (!work.isValid() || !QFile::copy(file, copy))
        return rows;
    QFile::copy(file + QStringLiteral("-wal"), copy + QStringLiteral("-wal"));

    const QString name = QStringLiteral("vantrel-outbox-salvage");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(copy);
        if (db.open()) {
            // A file shorter than its header says is read as far as it goes
            // instead of refused outright.
            QSqlQuery(db).exec(QStringLiteral("PRAGMA writable_schema=ON"));
            for (const QString &table : {QStringLiteral("alert"), QStringLiteral("sms"), QStringLiteral("taken_file")})
                rows.tables.insert(table, readTable(db, table));
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(name);
    keepUnfinished(rows);
    return rows;
}

void write(const QSqlDatabase &fresh, const Rows &rows)
{
    Sql::Transaction transaction(fresh);
    // Parents first: an SMS refers to its alert.
    for (const QString &name : {QStringLiteral("alert"), QStringLiteral("sms"), QStringLiteral("taken_file")}) {
        const Table table = rows.tables.value(name);
        if (table.rows.isEmpty())
            continue;
        // Only the columns the fresh outbox has.
        QSet<QString> known;
        QSqlQuery info = Sql::run(fresh, QStringLiteral("PRAGMA table_info(\"%1\")").arg(name));
        while (info.next())
            known.insert(info.value(1).toString());
        QList<int> taken;
        QStringList quoted;
        QStringList marks;
        for (int i = 0; i < table.columns.size(); ++i) {
            if (!known.contains(table.columns[i]))
                continue;
            taken << i;
            quoted << QLatin1Char('"') + table.columns[i] + QLatin1Char('"');
            marks << QStringLiteral("?");
        }
        const QString insert = QStringLiteral("INSERT OR IGNORE INTO \"%1\" (%2) VALUES (%3)")
                                   .arg(name, quoted.join(QLatin1Char(',')), marks.join(QLatin1Char(',')));
        for (const QVariantList &row : table.rows) {
            QVariantList values;
            for (const int i : std::as_const(taken))
                values << row.value(i);
            Sql::run(fresh, insert, values);
        }
    }
    // An alert whose SMS were all lost with their pages is dispatched anew,
    // to those on duty then: sent twice beats lost. One whose SMS left have
    // all had their first try has its LOG row due.
    Sql::run(fresh, QStringLiteral("UPDATE alert SET dispatched = 0, first_done = 0 WHERE dispatched = 1 "
                                   "AND NOT EXISTS (SELECT 1 FROM sms WHERE alert_id = alert.id)"));
    Sql::run(fresh, QStringLiteral("UPDATE alert SET first_done = 1 WHERE dispatched = 1 AND first_done = 0 "
                                   "AND NOT EXISTS (SELECT 1 FROM sms WHERE alert_id = alert.id AND tries = 0 "
                                   "AND state = 'waiting')"));
    transaction.commit();
}

} // namespace OutboxSalvage
