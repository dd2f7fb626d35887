#pragma once

#include "store/DbError.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QVariantList>

class QSqlError;

// The few SQL chores every database file of the program shares.
namespace Sql {

// A failure as the program reports it: the engine's own number and text.
DbError error(const QSqlError &error);

// Prepares and runs one statement with `values` bound in order. A failure
// is thrown as DbError; the query is returned for reading its rows.
QSqlQuery run(const QSqlDatabase &db, const QString &statement, const QVariantList &values = {});

// The first column of the first row a statement returns, null for none.
// The statement is finished on return, so it holds no lock.
QVariant value(const QSqlDatabase &db, const QString &statement, const QVariantList &values = {});

// BEGIN IMMEDIATE ... COMMIT: the write lock is taken at the start, so a
// transaction never fails half-way for want of it. Rolled back unless
// committed.
class Transaction
{
public:
    explicit Transaction(const QSqlDatabase &db);
    ~Transaction();
    Transaction(const Transaction &) = delete;
    Transaction &operator=(const Transaction &) = delete;

    void commit();

private:
    QSqlDatabase m_db;
    bool m_open = false;
};

} // namespace Sql
