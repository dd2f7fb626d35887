#pragma once

#include "store/SmsRecord.h"

#include <QString>

// The LOG table of Config.mdb: one row per dispatched alert, appended and
// never read back by the relay, except to learn whether a row it was
// writing when the program stopped did reach the table.
namespace LogTable {

// Appends one row. A failure (the file locked or missing) is thrown as DbError.
void WriteLog(const QString &Time, const QString &EA_Name, const QString &Title, const QString &Message);

// The highest SMS_ID in the table, 0 when it is empty.
qint64 lastId();

// The SMS_ID of the first row with the alert's four texts appended after
// `afterId`, 0 for none.
qint64 idWrittenAfter(qint64 afterId, const SmsRecord &record);

} // namespace LogTable
