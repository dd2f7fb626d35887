#pragma once

#include <QString>
#include <QStringList>

class MSComm;

// The settings of one modem's port, as the Com row holds them (and a row of
// the Modems table, which has the same columns): every value the text the
// COM page stored, the port number read as a number.
struct PortSettings {
    short port = 1;
    QString baud = QStringLiteral("19200");
    QString dataBits = QStringLiteral("8");
    QString parity = QStringLiteral("N");
    QString stopBit = QStringLiteral("1");
    QString flowControl = QStringLiteral("None"); // kept, applied nowhere

    bool operator==(const PortSettings &) const = default;

    // The names the program has always used for the current settings.
    short ComPort() const { return port; }
    QString Baud() const { return baud; }
    QString DataBits() const { return dataBits; }
    QString Parity() const { return parity; }
    QString FlowControl() const { return flowControl; }
    QString StopBit() const { return stopBit; }

    // Baud, parity, data bits and stop bits joined by commas, nothing
    // trimmed: "19200,N,8,1", or "19200,N, 8, 1" for values with a blank.
    QString SettingsString() const;
    // "COM1".
    QString name() const { return QStringLiteral("COM%1").arg(port); }

    // The five box texts of the COM page as they are stored: the port by
    // the number after "COM", the parity by its first letter.
    static PortSettings fromBoxes(const QString &portText, const QString &baudText, const QString &dataBitsText,
                                  const QString &parityText, const QString &stopBitsText,
                                  const QString &flowControl = QStringLiteral("None"));
};
