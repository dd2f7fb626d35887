#pragma once

#include <QByteArray>
#include <QString>

// One alert as a robot wrote it: the five fields of its line, in order.
struct SmsRecord {
    QString Lead;
    QString Time;
    QString EA_Name;
    QString Title;
    QString Message;
};

// An alert as taken from its file: its record, and its message in the bytes
// the robot wrote, which the history files keep.
struct TakenAlert {
    SmsRecord record;
    QByteArray messageBytes;
};
