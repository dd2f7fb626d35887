#pragma once

#include <QList>
#include <QString>

// Creation of a new Config.mdb. The program itself never creates the file;
// vantrel-setup and the test fixtures do, through this one piece of code.
namespace Schema {

struct ComRow {
    int port = 1;
    QString baud = QStringLiteral("9600");
    QString dataBits = QStringLiteral("8");
    QString parity = QStringLiteral("N");
    QString stopBit = QStringLiteral("1");
    QString flowControl = QStringLiteral("None");
};

struct AccountRow {
    QString userName;
    QString password;
    int rank = 1;
};

// Creates `file` with the five tables, the single Com row and the given
// accounts. Refuses (DbError) when the file already exists.
void create(const QString &file, const ComRow &com, const QList<AccountRow> &accounts);

} // namespace Schema
