#include "store/Schema.h"

#include "store/Sql.h"

#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

namespace {

// NOCASE makes the statements' name comparisons ignore letter case, the way
// the program has always found its users. On_Duty is a yes/no value whose
// default for a new user is No.
const char *const Tables[] = {
    "CREATE TABLE USERS (name TEXT COLLATE NOCASE, Phone_No TEXT, "
    "On_Duty BOOLEAN DEFAULT 0)",
    "CREATE TABLE Mt4Path (ID INTEGER PRIMARY KEY AUTOINCREMENT, MT4_PATH TEXT)",
    "CREATE TABLE Com (COM INTEGER, Buad TEXT, DataBits TEXT, Parity TEXT, StopBit TEXT, "
    "FlowControl TEXT)",
    "CREATE TABLE Account (UserName TEXT, Password TEXT, Rank INTEGER)",
    "CREATE TABLE LOG (SMS_ID INTEGER PRIMARY KEY AUTOINCREMENT, Time TEXT, EA_Name TEXT, "
    "Title TEXT, Message TEXT)",
};

} // namespace

namespace Schema {

void create(const QString &file, const ComRow &com, const QList<AccountRow> &accounts)
{
    if (QFileInfo::exists(file))
        throw DbError(-1, QStringLiteral("%1 already exists; it is left as it is.").arg(file));

    const QString name = QStringLiteral("vantrel-schema");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(file);
        if (!db.open()) {
            const QString error = db.lastError().text();
            db = QSqlDatabase();
            QSqlDatabase::removeDatabase(name);
            throw DbError(-1, error);
        }
        try {
            db.transaction();
            for (const char *table : Tables)
                Sql::run(db, QString::fromLatin1(table));
            Sql::run(db,
                     QStringLiteral("INSERT INTO Com (COM, Buad, DataBits, Parity, StopBit, FlowControl) "
                                    "VALUES (?, ?, ?, ?, ?, ?)"),
                     {com.port, com.baud, com.dataBits, com.parity, com.stopBit, com.flowControl});
            for (const AccountRow &account : accounts)
                Sql::run(db, QStringLiteral("INSERT INTO Account (UserName, Password, Rank) VALUES (?, ?, ?)"),
                         {account.userName, account.password, account.rank});
            db.commit();
        } catch (...) {
            db.close();
            db = QSqlDatabase();
            QSqlDatabase::removeDatabase(name);
            QFile::remove(file);
            throw;
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
}

} // namespace Schema
