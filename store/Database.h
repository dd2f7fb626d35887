#pragma once

#include "store/DbError.h"

#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>

// Access to Config.mdb, a SQLite 3 file in the program folder.
//
// Every operation follows one pattern: a new Connection, a Recordset opened
// with the operation's statement, rows read or changed one by one, then both
// released. Nothing is kept open between operations.

namespace Database {

constexpr auto FileName = "Config.mdb";

// Full path of Config.mdb in the program folder.
QString path();

// The connection string the program has always shown for its database.
QString ConnectionString();

} // namespace Database

class Connection
{
public:
    Connection() = default;
    ~Connection();
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    // Opens Config.mdb. Never creates it: a missing file is an error.
    void Open();
    bool isOpen() const { return !m_name.isEmpty(); }
    QString name() const { return m_name; }

private:
    QString m_name;
};

// A client-side snapshot of the rows a statement returns. Rows are fetched
// when first needed, so an open that only appends a row costs nothing more
// than checking the statement. Changes are written back row by row by
// Update() and Delete().
class Recordset
{
public:
    Recordset() = default;
    Recordset(const Recordset &) = delete;
    Recordset &operator=(const Recordset &) = delete;

    // The statement is run as given; `params` bind its '?' placeholders.
    void Open(const QString &statement, Connection &cn, const QVariantList &params = {});
    void Close();

    bool Bof();
    bool Eof();
    void MoveFirst();
    void MoveLast();
    void MoveNext();
    int RecordCount();

    // Field of the current row, looked up without regard to letter case.
    // A field without value is a null QVariant.
    QVariant Field(const QString &name);
    void SetField(const QString &name, const QVariant &value);

    void AddNew();
    void Update();
    void Delete();

private:
    struct Row {
        qint64 rowid = 0;
        QVector<QVariant> values;
        bool deleted = false;
    };

    void fetch();
    Row &currentRow();
    int column(const QString &name) const;
    [[noreturn]] void fail(int number, const QString &description) const;

    QString m_connection;
    QString m_table;
    QString m_statement;
    QVariantList m_params;
    bool m_fetched = false;
    QStringList m_columns;
    QVector<Row> m_rows;
    int m_pos = 0;

    // Pending changes of the current row (or of the row being added).
    bool m_adding = false;
    QStringList m_changedNames;
    QVariantList m_changedValues;
};

// The pattern of every operation in one object: a connection of its own and
// a recordset opened on it with the operation's statement, released together
// (the recordset first) when the object goes.
struct Table {
    explicit Table(const char *statement, const QVariantList &params = {})
    {
        cn.Open();
        rs.Open(QString::fromLatin1(statement), cn, params);
    }

    Connection cn;
    Recordset rs;
};
