#include "store/LogTable.h"

#include "store/Database.h"
#include "store/Sql.h"
#include "store/Statements.h"

#include <QSqlQuery>
#include <QVariant>

namespace LogTable {

void WriteLog(const QString &Time, const QString &EA_Name, const QString &Title, const QString &Message)
{
    Table table(Statements::Log);
    table.rs.AddNew();
    table.rs.SetField(QStringLiteral("Time"), Time);
    table.rs.SetField(QStringLiteral("EA_Name"), EA_Name);
    table.rs.SetField(QStringLiteral("Title"), Title);
    table.rs.SetField(QStringLiteral("Message"), Message);
    table.rs.Update();
    table.rs.Close();
}

qint64 lastId()
{
    Connection cn;
    cn.Open();
    return Sql::value(QSqlDatabase::database(cn.name(), false),
                      QStringLiteral("SELECT coalesce(max(SMS_ID), 0) FROM LOG"))
        .toLongLong();
}

qint64 idWrittenAfter(qint64 afterId, const SmsRecord &record)
{
    Connection cn;
    cn.Open();
    return Sql::value(QSqlDatabase::database(cn.name(), false),
                      QStringLiteral("SELECT SMS_ID FROM LOG WHERE SMS_ID > ? AND Time = ? AND EA_Name = ? "
                                     "AND Title = ? AND Message = ? ORDER BY SMS_ID LIMIT 1"),
                      {afterId, record.Time, record.EA_Name, record.Title, record.Message})
        .toLongLong();
}

} // namespace LogTable
