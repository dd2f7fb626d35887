#pragma once

#include "pickup/SmsRecord.h"

#include <QQueue>
#include <QVector>

class PageLog;
class QFile;

// Reads alert files into the batch of one polling cycle: at most ten
// records a cycle; records beyond those wait, in file order, for the next
// cycles.
class SmsIntake
{
public:
    static constexpr int BatchSize = 10;

    explicit SmsIntake(PageLog &pageLog);

    // Moves waiting records into the (empty) batch at the start of a cycle.
    void beginCycle();

    // Reads the taken alert file of the watched folder `path`.
    void ProcessSmsFile(const QString &path);

    // Adds one record: to the batch while it has room and nothing waits.
    void add(const SmsRecord &record);

    // Slots 1 to SmsCount hold the records of this cycle; slot 0 is unused.
    QVector<SmsRecord> SmsBatch = QVector<SmsRecord>(BatchSize + 1);
    short SmsCount = 0;
    QQueue<SmsRecord> SmsQueue;

private:
    void readLines(const QString &name, QFile &file);

    PageLog &m_pageLog;
};
