// The port settings: the Com row loaded and stored, and a port configured
// and opened from them.

#include "store/PortSettings.h"

#include "store/Database.h"
#include "store/FieldValues.h"
#include "store/MSComm.h"
#include "store/Statements.h"
#include "store/UpdateCom.h"

#include <functional>

QString PortSettings::SettingsString() const
{
    return baud + QLatin1Char(',') + parity + QLatin1Char(',') + dataBits + QLatin1Char(',') + stopBit;
}

PortSettings PortSettings::fromBoxes(const QString &portText, const QString &baudText, const QString &dataBitsText,
                                     const QString &parityText, const QString &stopBitsText, const QString &flowControl)
{
    return {UpdateCom::PortNumber(portText), baudText, dataBitsText, parityText.left(1), stopBitsText, flowControl};
}

namespace UpdateCom {

PortSettings readPortSettings(Recordset &rs, QStringList *complaints)
{
    // Fields are read in this order. A value that cannot serve falls back
    // to the one the COM page starts with, and is said.
    const auto field = [&](const char *name, const QString &fallback,
                           const std::function<bool(const QString &)> &good) {
        const QVariant value = rs.Field(QString::fromLatin1(name));
        const QString text = value.toString();
        if (!value.isNull() && good(text))
            return text;
        if (complaints)
            *complaints << QStringLiteral("The port setting %1 \"%2\" cannot be used; %3 is used instead.")
                               .arg(QLatin1String(name),
                                    value.isNull() ? QStringLiteral("(no value)") : FieldValues::shown(text), fallback);
        return fallback;
    };
    const auto number = [](const QString &text, int low, int high) {
        bool ok = false;
        const int value = text.trimmed().toInt(&ok);
        return ok && value >= low && value <= high;
    };
    const auto oneOf = [](const QStringList &allowed) {
        return [allowed](const QString &text) { return allowed.contains(text.trimmed()); };
    };
    PortSettings settings;
    settings.port = short(field("COM", QStringLiteral("1"), [&](const QString &text) { return number(text, 1, 32767); })
                              .trimmed()
                              .toInt());
    settings.baud =
        field("Buad", QStringLiteral("19200"), [&](const QString &text) { return number(text, 1, 4000000); });
    settings.dataBits = field("DataBits", QStringLiteral("8"), oneOf({"5", "6", "7", "8"}));
    settings.parity = field("Parity", QStringLiteral("N"), [](const QString &text) {
        return text.trimmed().size() == 1 && QStringLiteral("NEOMS").contains(text.trimmed().toUpper());
    });
    // Loaded and kept, but applied nowhere: any text will do.
    settings.flowControl = rs.Field(QStringLiteral("FlowControl")).toString();
    settings.stopBit = field("StopBit", QStringLiteral("1"), oneOf({"1", "1.5", "2"}));
    return settings;
}

PortSettings LoadComSettings(QStringList *complaints)
{
    // A missing row ends start-up with the error.
    Table table(Statements::Com);
    return readPortSettings(table.rs, complaints);
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

PortSettings SaveComSettings(const QString &portText, const QString &baudText, const QString &dataBitsText,
                             const QString &parityText, const QString &stopBitsText)
{
    Table table(Statements::Com);
    // FlowControl is neither stored nor changed.
    const PortSettings settings = PortSettings::fromBoxes(portText, baudText, dataBitsText, parityText, stopBitsText,
                                                          table.rs.Field(QStringLiteral("FlowControl")).toString());
    table.rs.SetField(QStringLiteral("COM"), QString::number(settings.port));
    table.rs.SetField(QStringLiteral("Buad"), settings.baud);
    table.rs.SetField(QStringLiteral("DataBits"), settings.dataBits);
    table.rs.SetField(QStringLiteral("Parity"), settings.parity);
    table.rs.SetField(QStringLiteral("StopBit"), settings.stopBit);
    table.rs.Update();
    return settings;
}

void OpenModemPort(MSComm &port, const PortSettings &settings, short portNumber)
{
    port.setRThreshold(1);
    port.setInputLen(0);
    port.setSettings(settings.SettingsString());
    port.setDTREnable(true);
    port.setInBufferSize(32);
    port.setOutBufferSize(0);
    port.setCommPort(portNumber);
    port.setRTSEnable(true);
    port.setPortOpen(true);
}

} // namespace UpdateCom
