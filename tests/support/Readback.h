#pragma once

#include "support/SimulatedModem.h"

#include <QFile>
#include <QStringList>

// The bytes of a file, empty when it cannot be read.
inline QByteArray fileBytes(const QString &name)
{
    QFile file(name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The texts the modem accepted, in the order it accepted them.
inline QStringList sentTexts(const SimulatedModem &modem)
{
    QStringList texts;
    for (const SimulatedModem::Sms &sms : modem.messages())
        texts << sms.text;
    return texts;
}
