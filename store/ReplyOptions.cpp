#include "store/ReplyOptions.h"

#include "store/Database.h"
#include "store/DbError.h"
#include "store/DeskOptions.h"
#include "store/Sql.h"
#include "store/UserTable.h"

#include <QSqlQuery>

namespace ReplyOptions {

namespace {

QSqlDatabase database(const Connection &cn)
{
    return QSqlDatabase::database(cn.name(), false);
}

void createTable(const QSqlDatabase &db)
{
    Sql::run(db,
             QStringLiteral("CREATE TABLE IF NOT EXISTS Escalation (Step INTEGER PRIMARY KEY, Name TEXT NOT NULL)"));
}

} // namespace

bool replies()
{
    return DeskOptions::value(QString::fromLatin1(DeskOptions::Replies)) == QLatin1String("on");
}

int escalateMinutes()
{
    if (!replies())
        return 0;
    return parseEscalate(DeskOptions::value(QString::fromLatin1(DeskOptions::Escalate), QStringLiteral("0")))
        .value_or(0);
}

QStringList escalation()
{
    QStringList names;
    try {
        Connection cn;
        cn.Open();
        const QSqlDatabase db = database(cn);
        if (!db.tables().contains(QStringLiteral("Escalation")))
            return names;
        QSqlQuery query = Sql::run(db, QStringLiteral("SELECT Name FROM Escalation ORDER BY Step"));
        while (query.next())
            names << query.value(0).toString();
    } catch (const DbError &) {
        // Read again at the next load; nobody is escalated to meanwhile.
    }
    return names;
}

void storeReplies(bool on)
{
    DeskOptions::setValue(QString::fromLatin1(DeskOptions::Replies), on ? QStringLiteral("on") : QStringLiteral("off"));
}

void storeEscalate(int minutes)
{
    DeskOptions::setValue(QString::fromLatin1(DeskOptions::Escalate),
                          QString::number(qBound(0, minutes, MaxEscalateMinutes)));
}

void storeEscalation(const QStringList &names)
{
    Connection cn;
    cn.Open();
    const QSqlDatabase db = database(cn);
    createTable(db);
    Sql::Transaction transaction(db);
    Sql::run(db, QStringLiteral("DELETE FROM Escalation"));
    for (int step = 0; step < names.size(); ++step)
        Sql::run(db, QStringLiteral("INSERT INTO Escalation (Step, Name) VALUES (?, ?)"), {step + 1, names[step]});
    transaction.commit();
}

std::optional<int> parseEscalate(const QString &text)
{
    bool ok = false;
    const int minutes = text.trimmed().toInt(&ok);
    if (!ok || minutes < 0 || minutes > MaxEscalateMinutes)
        return std::nullopt;
    return minutes;
}

QStringList parseNames(const QString &text)
{
    QStringList names;
    for (const QString &part : text.split(QLatin1Char(','))) {
        const QString name = part.trimmed();
        if (!name.isEmpty())
            names << name;
    }
    return names;
}

QStringList unknownUsers(const QStringList &names)
{
    QStringList known;
    for (const UserTable::User &user : UserTable::rows())
        known << user.name;
    QStringList unknown;
    for (const QString &name : names) {
        if (!known.contains(name))
            unknown << name;
    }
    return unknown;
}

} // namespace ReplyOptions
