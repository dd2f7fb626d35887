#pragma once

#include <QString>

// One alert as a robot wrote it: the five fields of its line, in order.
struct SmsRecord {
    QString Lead;
    QString Time;
    QString EA_Name;
    QString Title;
    QString Message;
};
