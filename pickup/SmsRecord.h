#pragma once

#include <QString>
#include <QStringList>

// One alert line of an alert file: five fields separated by "|".
struct SmsRecord {
    QString Lead;
    QString Time;
    QString EA_Name;
    QString Title;
    QString Message;
};

// Splits at every occurrence of the separator; an empty text gives no piece.
QStringList SplitText(const QString &text, const QString &separator);
