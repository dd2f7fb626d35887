// The port settings of UpdateCom: the Com row loaded into the current
// settings and stored from the COM page, and a port configured and opened
// from them.

#include "store/UpdateCom.h"

#include "store/Database.h"
#include "store/FieldValues.h"
#include "store/MSComm.h"
#include "store/Statements.h"

#include <functional>

namespace UpdateCom {

QString SettingsString()
{
    return Baud + QLatin1Char(',') + Parity + QLatin1Char(',') + DataBits + QLatin1Char(',') + StopBit;
}

QStringList LoadComSettings()
{
    Table table(Statements::Com);
    // Fields are read in this order. A missing row ends start-up with the
    // error; a value that cannot serve falls back to the one the COM page
    // starts with, and is said.
    QStringList complaints;
    const auto field = [&](const char *name, const QString &fallback, const std::function<bool(const QString &)> &good) {
        const QVariant value = table.rs.Field(QString::fromLatin1(name));
        const QString text = value.toString();
        if (!value.isNull() && good(text))
            return text;
        complaints << QStringLiteral("The port setting %1 \"%2\" cannot be used; %3 is used instead.")
                          .arg(QLatin1String(name), value.isNull() ? QStringLiteral("(no value)") : FieldValues::shown(text),
                               fallback);
        return fallback;
    };
    const QString port = field("COM", QStringLiteral("1"), [](const QString &text) {
        bool ok = false;
        const int number = text.trimmed().toInt(&ok);
        return ok && number >= 1 && number <= 32767;
    });
    const QString baud = field("Buad", QStringLiteral("19200"), [](const QString &text) {
        bool ok = false;
        const int rate = text.trimmed().toInt(&ok);
        return ok && rate > 0 && rate <= 4000000;
    });
    const QString dataBits = field("DataBits", QStringLiteral("8"), [](const QString &text) {
        const QString bits = text.trimmed();
        return bits == QLatin1String("5") || bits == QLatin1String("6") || bits == QLatin1String("7")
               || bits == QLatin1String("8");
    });
    const QString parity = field("Parity", QStringLiteral("N"), [](const QString &text) {
        return text.trimmed().size() == 1 && QStringLiteral("NEOMS").contains(text.trimmed().toUpper());
    });
    // Loaded and kept, but applied nowhere: any text will do.
    const QString flow = table.rs.Field(QStringLiteral("FlowControl")).toString();
    const QString stop = field("StopBit", QStringLiteral("1"), [](const QString &text) {
        const QString bits = text.trimmed();
        return bits == QLatin1String("1") || bits == QLatin1String("1.5") || bits == QLatin1String("2");
    });
    ComPort = short(port.trimmed().toInt());
    Baud = baud;
    DataBits = dataBits;
    Parity = parity;
    FlowControl = flow;
    StopBit = stop;
    return complaints;
}

short PortNumber(const QString &portText)
{
    QString text = portText;
    text.remove(QLatin1Char(' '));
    const qsizetype at = text.indexOf(QLatin1String("COM"), 0, Qt::CaseInsensitive);
    if (at >= 0)
        text = text.mid(at + 3);
    // The leading digits count, like a conversion that stops at the first
    // character that is not part of the number.
    int end = 0;
    while (end < text.size() && text[end].isDigit())
        ++end;
    const int number = text.left(qMin(end, 5)).toInt();
    return short(qMin(number, 32767));
}

void SaveComSettings(const QString &portText, const QString &baudText, const QString &dataBitsText,
                     const QString &parityText, const QString &stopBitsText)
{
    const short port = PortNumber(portText);
    const QString parity = parityText.left(1);
    {
        Table table(Statements::Com);
        table.rs.SetField(QStringLiteral("COM"), QString::number(port));
        table.rs.SetField(QStringLiteral("Buad"), baudText);
        table.rs.SetField(QStringLiteral("DataBits"), dataBitsText);
        table.rs.SetField(QStringLiteral("Parity"), parity);
        table.rs.SetField(QStringLiteral("StopBit"), stopBitsText);
        table.rs.Update();
    }
    Baud = baudText;
    DataBits = dataBitsText;
    Parity = parity;
    StopBit = stopBitsText;
    ComPort = port;
}

void OpenModemPort(MSComm &port, short portNumber)
{
    port.setRThreshold(1);
    port.setInputLen(0);
    port.setSettings(SettingsString());
    port.setDTREnable(true);
    port.setInBufferSize(32);
    port.setOutBufferSize(0);
    port.setCommPort(portNumber);
    port.setRTSEnable(true);
    port.setPortOpen(true);
}

} // namespace UpdateCom
