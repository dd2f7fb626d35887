#pragma once

#include <QHash>
#include <QList>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <QVariantList>

// What can still be read from an outbox file that the database engine calls
// damaged: the alerts not yet finished with their SMS, and how far each taken
// alert file was read, so that nothing is lost and nothing is read twice.
// The damaged file itself is never written: it is read through a copy.
namespace OutboxSalvage {

struct Table {
    QStringList columns;
    QList<QVariantList> rows;
};

struct Rows {
    QHash<QString, Table> tables; // by table name
    int alerts = 0;               // alerts carried over
};

// Reads `file` (with its -wal beside it), row by row, past pages that no
// longer read. An unreadable file gives no rows.
Rows read(const QString &file);

// Writes the rows into a fresh outbox, ids kept, in one transaction.
void write(const QSqlDatabase &fresh, const Rows &rows);

} // namespace OutboxSalvage
