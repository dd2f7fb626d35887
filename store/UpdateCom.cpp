#include "store/UpdateCom.h"

#include "store/Database.h"
#include "store/EventWait.h"
#include "store/MSComm.h"
#include "store/Statements.h"


namespace {

// The numbers the program has always reported for failed conversions.
constexpr int Overflow = 6;
constexpr int TypeMismatch = 13;
constexpr int InvalidUseOfNull = 94;

void requireValue(const QVariant &value, const char *field)
{
    if (value.isNull())
        throw DbError(InvalidUseOfNull, QStringLiteral("Invalid use of Null (field %1)").arg(QLatin1String(field)));
}

short toShort(const QVariant &value, const char *field)
{
    requireValue(value, field);
    bool ok = false;
    const qlonglong number = value.toLongLong(&ok);
    if (!ok)
        throw DbError(TypeMismatch, QStringLiteral("Type mismatch (field %1)").arg(QLatin1String(field)));
    if (number < -32768 || number > 32767)
        throw DbError(Overflow, QStringLiteral("Overflow (field %1)").arg(QLatin1String(field)));
    return short(number);
}

QString toText(const QVariant &value, const char *field)
{
    requireValue(value, field);
    return value.toString();
}

} // namespace

namespace UpdateCom {

QString SettingsString()
{
    return Baud + QLatin1Char(',') + Parity + QLatin1Char(',') + DataBits + QLatin1Char(',') + StopBit;
}

void LoadComSettings()
{
    Connection cn;
    cn.Open();
    Recordset rs;
    rs.Open(QString::fromLatin1(Statements::Com), cn);
    // Fields are read in this order; a missing row or a COM or StopBit
    // without value ends start-up with the error.
    const short port = toShort(rs.Field(QStringLiteral("COM")), "COM");
    const QString baud = rs.Field(QStringLiteral("Buad")).toString();
    const QString dataBits = rs.Field(QStringLiteral("DataBits")).toString();
    const QString parity = rs.Field(QStringLiteral("Parity")).toString();
    const QString flow = rs.Field(QStringLiteral("FlowControl")).toString();
    const QString stop = toText(rs.Field(QStringLiteral("StopBit")), "StopBit");
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
    const int at = text.indexOf(QLatin1String("COM"), 0, Qt::CaseInsensitive);
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
        Connection cn;
        cn.Open();
        Recordset rs;
        rs.Open(QString::fromLatin1(Statements::Com), cn);
        rs.SetField(QStringLiteral("COM"), QString::number(port));
        rs.SetField(QStringLiteral("Buad"), baudText);
        rs.SetField(QStringLiteral("DataBits"), dataBitsText);
        rs.SetField(QStringLiteral("Parity"), parity);
        rs.SetField(QStringLiteral("StopBit"), stopBitsText);
        rs.Update();
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

short CheckLogin(const QString &userName, const QString &password)
{
    Connection cn;
    cn.Open();
    Recordset rs;
    rs.Open(QString::fromLatin1(Statements::Accounts), cn);
    short rank = 0;
    while (!rs.Eof()) {
        const QVariant name = rs.Field(QStringLiteral("UserName"));
        const QVariant pass = rs.Field(QStringLiteral("Password"));
        // A field without value never matches.
        if (!name.isNull() && !pass.isNull() && name.toString() == userName && pass.toString() == password) {
            rank = toShort(rs.Field(QStringLiteral("Rank")), "Rank");
            break;
        }
        rs.MoveNext();
    }
    return rank;
}

bool UpdateUser(const QString &userName, const QString &phoneNo, bool onDuty)
{
    Connection cn;
    cn.Open();
    Recordset rs;
    // The name is bound, never pasted into the statement: an apostrophe in a
    // name is an ordinary character and typed text cannot widen the lookup.
    rs.Open(QString::fromLatin1(Statements::UserByName), cn, {userName});
    if (rs.Eof())
        return false;
    rs.SetField(QStringLiteral("name"), userName);
    rs.SetField(QStringLiteral("Phone_No"), phoneNo);
    rs.SetField(QStringLiteral("On_Duty"), onDuty);
    rs.Update();
    return true;
}

void Delay(float ms)
{
    // More than `ms` must have passed; the user started this wait, so every
    // event runs meanwhile.
    EventWait::until([] { return false; }, qint64(ms) + 1, EventWait::EveryEvent);
}

} // namespace UpdateCom
