#include "support/ProgramFolderFixture.h"

#include "store/Database.h"
#include "store/Outbox.h"
#include "store/ProgramFolder.h"

#include <QDir>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QtTest>

namespace {

template <typename Work> void withDatabase(const QString &file, Work work)
{
    const QString name = QStringLiteral("fixture");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(file);
        if (!db.open())
            qFatal("fixture cannot open %s", qPrintable(file));
        QSqlQuery query(db);
        work(query);
        query.finish();
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
}

} // namespace

ProgramFolderFixture::ProgramFolderFixture(const Schema::ComRow &com, const QList<Schema::AccountRow> &accounts)
{
    ProgramFolder::set(m_dir.path());
    Schema::create(databasePath(), com, accounts);
}

ProgramFolderFixture::~ProgramFolderFixture() = default;

QString ProgramFolderFixture::file(const QString &name) const
{
    return QDir(m_dir.path()).filePath(name);
}

QString ProgramFolderFixture::databasePath() const
{
    return file(QStringLiteral("Config.mdb"));
}

void ProgramFolderFixture::exec(const QString &sql, const QVariantList &values) const
{
    execOn(databasePath(), sql, values);
}

void ProgramFolderFixture::execOutbox(const QString &sql) const
{
    execOn(file(QString::fromLatin1(Outbox::FileName)), sql, {});
}

void ProgramFolderFixture::execOn(const QString &file, const QString &sql, const QVariantList &values)
{
    withDatabase(file, [&](QSqlQuery &query) {
        query.prepare(sql);
        for (const QVariant &value : values)
            query.addBindValue(value);
        if (!query.exec())
            qFatal("fixture statement failed: %s: %s", qPrintable(sql), qPrintable(query.lastError().text()));
    });
}

QList<QVariantList> ProgramFolderFixture::rows(const QString &sql) const
{
    return queryRows(databasePath(), sql);
}

QList<QVariantList> ProgramFolderFixture::outboxRows(const QString &sql) const
{
    return queryRows(file(QString::fromLatin1(Outbox::FileName)), sql);
}

QStringList ProgramFolderFixture::values(const QString &sql) const
{
    QStringList list;
    for (const QVariantList &row : rows(sql))
        list << row[0].toString();
    return list;
}

QStringList ProgramFolderFixture::loggedMessages() const
{
    return values(QStringLiteral("SELECT Message FROM LOG ORDER BY SMS_ID"));
}

QList<QVariantList> ProgramFolderFixture::queryRows(const QString &file, const QString &sql)
{
    QList<QVariantList> result;
    withDatabase(file, [&](QSqlQuery &query) {
        if (!query.exec(sql))
            qFatal("fixture query failed: %s: %s", qPrintable(sql), qPrintable(query.lastError().text()));
        while (query.next()) {
            QVariantList row;
            for (int i = 0; i < query.record().count(); ++i)
                row << query.value(i);
            result << row;
        }
    });
    return result;
}

void ProgramFolderFixture::addUser(const QString &name, const QString &phone, const QVariant &onDuty) const
{
    exec(QStringLiteral("INSERT INTO USERS (name, Phone_No, On_Duty) VALUES (?, ?, ?)"), {name, phone, onDuty});
}

QString ProgramFolderFixture::addWatchedFolder(const QString &name) const
{
    const QString folder = file(name);
    QDir().mkpath(folder);
    exec(QStringLiteral("INSERT INTO Mt4Path (MT4_PATH) VALUES (?)"), {folder});
    return folder;
}
