#include "store/Sql.h"

#include <QSqlError>

namespace Sql {

DbError error(const QSqlError &error)
{
    bool ok = false;
    int number = error.nativeErrorCode().toInt(&ok);
    if (!ok)
        number = -1;
    QString text = error.databaseText();
    if (text.isEmpty())
        text = error.text();
    return DbError(number, text);
}

QSqlQuery run(const QSqlDatabase &db, const QString &statement, const QVariantList &values)
{
    QSqlQuery query(db);
    if (!query.prepare(statement))
        throw error(query.lastError());
    for (const QVariant &value : values)
        query.addBindValue(value);
    if (!query.exec())
        throw error(query.lastError());
    return query;
}

QVariant value(const QSqlDatabase &db, const QString &statement, const QVariantList &values)
{
    QSqlQuery query = run(db, statement, values);
    QVariant first = query.next() ? query.value(0) : QVariant();
    query.finish();
    return first;
}

Transaction::Transaction(const QSqlDatabase &db)
    : m_db(db)
{
    run(m_db, QStringLiteral("BEGIN IMMEDIATE"));
    m_open = true;
}

Transaction::~Transaction()
{
    if (!m_open)
        return;
    QSqlQuery rollback(m_db);
    rollback.exec(QStringLiteral("ROLLBACK"));
}

void Transaction::commit()
{
    run(m_db, QStringLiteral("COMMIT"));
    m_open = false;
}

} // namespace Sql
