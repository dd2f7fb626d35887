#include "store/ModemTable.h"

#include "store/Database.h"
#include "store/DeleteMatching.h"
#include "store/FieldValues.h"
#include "store/Sql.h"
#include "store/Statements.h"
#include "store/UpdateCom.h"

#include <QRegularExpression>
#include <QSet>
#include <QSqlQuery>

namespace {

const char *const CreateModems =
    "CREATE TABLE IF NOT EXISTS Modems (COM INTEGER, Buad TEXT, DataBits TEXT, Parity TEXT, StopBit TEXT, "
    "FlowControl TEXT)";
const char *const CreateOptions =
    "CREATE TABLE IF NOT EXISTS ModemOptions (COM INTEGER PRIMARY KEY, InService INTEGER NOT NULL DEFAULT 1, "
    "Pin TEXT, RefusedPin TEXT, ResetCommand TEXT)";

bool hasTable(const QSqlDatabase &db, const QString &name)
{
    return !Sql::value(db,
                       QStringLiteral("SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ? COLLATE "
                                      "NOCASE"),
                       {name})
                .isNull();
}

// What the program keeps for the modem on `port`, from a ModemOptions
// table: in service unless said otherwise, no PIN, no reset command. A PIN
// or reset command the Modems window would not have stored (written there
// by hand) goes to no modem: a CR or a quote in it would end the command
// and make the rest one of its own.
void readOptions(const QSqlDatabase &db, ModemTable::Modem &modem, QStringList *complaints)
{
    QSqlQuery query = Sql::run(db,
                               QStringLiteral("SELECT InService, Pin, RefusedPin, ResetCommand FROM ModemOptions "
                                              "WHERE COM = ?"),
                               {modem.settings.port});
    if (!query.next())
        return;
    modem.inService = query.value(0).isNull() || query.value(0).toInt() != 0;
    modem.pin = query.value(1).toString();
    modem.refusedPin = query.value(2).toString();
    modem.resetCommand = query.value(3).toString();
    const QString port = modem.settings.name();
    if (!modem.pin.isEmpty() && !ModemTable::isPin(modem.pin)) {
        modem.pin.clear();
        if (complaints)
            *complaints << QStringLiteral("The PIN stored for the modem on %1 is not 4 to 8 digits; it is not entered.")
                               .arg(port);
    }
    if (!modem.resetCommand.isEmpty() && !ModemTable::isResetCommand(modem.resetCommand)) {
        if (complaints)
            *complaints << QStringLiteral("The reset command \"%1\" stored for the modem on %2 is not one AT command; "
                                          "it is not sent.")
                               .arg(FieldValues::shown(modem.resetCommand), port);
        modem.resetCommand.clear();
    }
}

// One option of the modem on `port`, its row made where it is missing.
void setOption(short port, const char *column, const QVariant &value)
{
    Connection cn;
    cn.Open();
    const QSqlDatabase db = QSqlDatabase::database(cn.name(), false);
    Sql::run(db, QString::fromLatin1(CreateOptions));
    Sql::run(db, QStringLiteral("INSERT OR IGNORE INTO ModemOptions (COM) VALUES (?)"), {port});
    Sql::run(db, QStringLiteral("UPDATE ModemOptions SET %1 = ? WHERE COM = ?").arg(QLatin1String(column)),
             {value, port});
}

} // namespace

namespace ModemTable {

QList<Modem> modems(QStringList *complaints)
{
    QList<Modem> list;
    Modem first;
    first.settings = UpdateCom::LoadComSettings(complaints);
    first.first = true;
    list << first;

    Connection cn;
    cn.Open();
    const QSqlDatabase db = QSqlDatabase::database(cn.name(), false);
    QSet<short> ports{first.settings.port};
    if (hasTable(db, QStringLiteral("Modems"))) {
        Recordset rs;
        rs.Open(QString::fromLatin1(Statements::Modems), cn);
        for (; !rs.Eof(); rs.MoveNext()) {
            bool isNumber = false;
            const int port = rs.Field(QStringLiteral("COM")).toString().trimmed().toInt(&isNumber);
            if (!isNumber || port < 1 || port > 32767 || ports.contains(short(port))) {
                if (complaints)
                    *complaints << QStringLiteral("The modem row with COM \"%1\" is skipped: %2.")
                                       .arg(FieldValues::shown(rs.Field(QStringLiteral("COM")).toString()),
                                            isNumber && ports.contains(short(port))
                                                ? QStringLiteral("another modem has that port")
                                                : QStringLiteral("it names no port"));
                continue;
            }
            Modem modem;
            modem.settings = UpdateCom::readPortSettings(rs, complaints);
            ports.insert(modem.settings.port);
            list << modem;
        }
    }
    if (hasTable(db, QStringLiteral("ModemOptions"))) {
        for (Modem &modem : list)
            readOptions(db, modem, complaints);
    }
    return list;
}

bool add(short port, const QString &baud)
{
    for (const Modem &modem : modems())
        if (modem.settings.port == port)
            return false;
    Connection cn;
    cn.Open();
    const QSqlDatabase db = QSqlDatabase::database(cn.name(), false);
    Sql::run(db, QString::fromLatin1(CreateModems));
    Recordset rs;
    rs.Open(QString::fromLatin1(Statements::Modems), cn);
    rs.AddNew();
    rs.SetField(QStringLiteral("COM"), QString::number(port));
    rs.SetField(QStringLiteral("Buad"), baud);
    rs.SetField(QStringLiteral("DataBits"), QStringLiteral("8"));
    rs.SetField(QStringLiteral("Parity"), QStringLiteral("N"));
    rs.SetField(QStringLiteral("StopBit"), QStringLiteral("1"));
    rs.SetField(QStringLiteral("FlowControl"), QStringLiteral("None"));
    rs.Update();
    return true;
}

void remove(short port)
{
    Connection cn;
    cn.Open();
    if (!hasTable(QSqlDatabase::database(cn.name(), false), QStringLiteral("Modems")))
        return;
    Recordset rs;
    rs.Open(QString::fromLatin1(Statements::Modems), cn);
    DeleteMatching(rs, QStringLiteral("COM"), QString::number(port));
}

void setInService(short port, bool on)
{
    setOption(port, "InService", on ? 1 : 0);
}

void setPin(short port, const QString &pin)
{
    setOption(port, "Pin", pin);
    // A new PIN is entered again, even where an earlier one was refused.
    setOption(port, "RefusedPin", QVariant());
}

void setRefusedPin(short port, const QString &pin)
{
    setOption(port, "RefusedPin", pin);
}

void setResetCommand(short port, const QString &command)
{
    setOption(port, "ResetCommand", command.isEmpty() ? QVariant() : QVariant(command));
}

bool isPin(const QString &text)
{
    static const QRegularExpression digits(QStringLiteral("^[0-9]{4,8}$"));
    return digits.match(text).hasMatch();
}

bool isResetCommand(const QString &text)
{
    static const QRegularExpression command(QStringLiteral(R"(^AT[A-Za-z0-9+&=,?"]*$)"));
    return command.match(text).hasMatch();
}

} // namespace ModemTable
