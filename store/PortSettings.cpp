// The port settings of UpdateCom: the Com row loaded into the current
// settings and stored from the COM page, and a port configured and opened
// from them.

#include "store/UpdateCom.h"

#include "store/Database.h"
#include "store/FieldValues.h"
#include "store/MSComm.h"
#include "store/Statements.h"

namespace UpdateCom {

QString SettingsString()
{
    return Baud + QLatin1Char(',') + Parity + QLatin1Char(',') + DataBits + QLatin1Char(',') + StopBit;
}

void LoadComSettings()
{
    Table table(Statements::Com);
    // Fields are read in this order; a missing row or a COM or StopBit
    // without value ends start-up with the error.
    const short port = FieldValues::toShort(table.rs.Field(QStringLiteral("COM")), "COM");
    const QString baud = table.rs.Field(QStringLiteral("Buad")).toString();
    const QString dataBits = table.rs.Field(QStringLiteral("DataBits")).toString();
    const QString parity = table.rs.Field(QStringLiteral("Parity")).toString();
    const QString flow = table.rs.Field(QStringLiteral("FlowControl")).toString();
    const QString stop = FieldValues::toText(table.rs.Field(QStringLiteral("StopBit")), "StopBit");
    ComPort = port;
    Baud = baud;
    DataBits = dataBits;
    Parity = parity;
    FlowControl = flow;
    StopBit = stop;
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
