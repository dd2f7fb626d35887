#pragma once

#include "store/Schema.h"

#include <QTemporaryDir>
#include <QVariantList>

// A temporary program folder with a real Config.mdb made by the same code
// as vantrel-setup. The program folder points here while the fixture lives.
class ProgramFolderFixture
{
public:
    explicit ProgramFolderFixture(const Schema::ComRow &com = {},
                                  const QList<Schema::AccountRow> &accounts = {{"admin", "secret", 1}});
    ~ProgramFolderFixture();

    QString path() const { return m_dir.path(); }
    QString file(const QString &name) const;
    QString databasePath() const;

    // Direct SQL on Config.mdb, for preparing and checking rows.
    void exec(const QString &sql, const QVariantList &values = {}) const;
    QList<QVariantList> rows(const QString &sql) const;
    // The first field of every row.
    QStringList values(const QString &sql) const;
    // The Message of every LOG row, in order.
    QStringList loggedMessages() const;
    // Rows of a query on the outbox journal, Outbox.db, and a change to it.
    QList<QVariantList> outboxRows(const QString &sql) const;
    void execOutbox(const QString &sql) const;

    void addUser(const QString &name, const QString &phone, const QVariant &onDuty) const;
    // Makes a watched folder inside the fixture and stores it in Mt4Path.
    QString addWatchedFolder(const QString &name) const;

private:
    static QList<QVariantList> queryRows(const QString &file, const QString &sql);
    static void execOn(const QString &file, const QString &sql, const QVariantList &values);

    QTemporaryDir m_dir;
};
