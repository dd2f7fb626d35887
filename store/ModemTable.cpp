#include "store/ModemTable.h"

#include "store/Database.h"
#include "store/DeleteMatching.h"
#include "store/FieldValues.h"
#include "store/Sql.h"
#include "store/Statements.h"
#include "store/UpdateCom.h"

#include <QSet>

namespace {

const char *const CreateModems =
    "CREATE TABLE IF NOT EXISTS Modems (COM INTEGER, Buad TEXT, DataBits TEXT, Parity TEXT, StopBit TEXT, "
    "FlowControl TEXT)";
const char *const CreateOptions =
    "CREATE TABLE IF NOT EXISTS ModemOptions (COM INTEGER PRIMARY KEY, InService INTEGER NOT NULL DEFAULT 1)";

bool hasTable(const QSqlDatabase &db, const QString &name)
{
    return !Sql::value(db,
                       QStringLiteral("SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ? COLLATE "
                                      "NOCASE"),
                       {name})
                .isNull();
}

// Whether the program keeps the modem on `port` in service: yes unless said
// otherwise.
bool inService(const QSqlDatabase &db, short port)
{
    if (!hasTable(db, QStringLiteral("ModemOptions")))
        return true;
    const QVariant value = Sql::value(db, QStringLiteral("SELECT InService FROM ModemOptions WHERE COM = ?"), {port});
    return value.isNull() || value.toInt() != 0;
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
    for (Modem &modem : list)
        modem.inService = inService(db, modem.settings.port);
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
    Connection cn;
    cn.Open();
    const QSqlDatabase db = QSqlDatabase::database(cn.name(), false);
    Sql::run(db, QString::fromLatin1(CreateOptions));
    Sql::run(db,
             QStringLiteral("INSERT INTO ModemOptions (COM, InService) VALUES (?, ?) "
                            "ON CONFLICT(COM) DO UPDATE SET InService = excluded.InService"),
             {port, on ? 1 : 0});
}

} // namespace ModemTable
