#include "store/Database.h"

#include "store/ProgramFolder.h"
#include "store/Sql.h"

#include <QAtomicInteger>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QUrl>

namespace {

// The hidden column through which a snapshot row finds its way back.
constexpr auto RowidColumn = "vantrel_rowid";

// Error numbers the program has always reported for these situations.
constexpr int FileNotFound = 3024;
constexpr int NoCurrentRecord = 3021;
constexpr int NoSuchField = 3265;
constexpr int ClosedRecordset = 3704;

QString uniqueConnectionName()
{
    static QAtomicInteger<quint64> counter;
    return QStringLiteral("vantrel-%1").arg(++counter);
}

} // namespace

namespace Database {

QString path()
{
    return ProgramFolder::file(QString::fromLatin1(FileName));
}

QString ConnectionString()
{
    return QStringLiteral("Provider = Microsoft.Jet.OLEDB.4.0; Persist Security info = false; "
                          "Data source = ")
           + ProgramFolder::path() + QStringLiteral("\\") + QString::fromLatin1(FileName);
}

} // namespace Database

Connection::~Connection()
{
    if (m_name.isEmpty())
        return;
    {
        QSqlDatabase db = QSqlDatabase::database(m_name, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(m_name);
}

void Connection::Open()
{
    const QString file = Database::path();
    if (!QFileInfo(file).isFile())
        throw DbError(FileNotFound, QStringLiteral("Could not find file '%1'.").arg(file));

    const QString name = uniqueConnectionName();
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        // mode=rw: opening must never create the file.
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=3000"));
        db.setDatabaseName(QUrl::fromLocalFile(file).toString(QUrl::FullyEncoded) + QStringLiteral("?mode=rw"));
        if (!db.open()) {
            const DbError error = Sql::error(db.lastError());
            db = QSqlDatabase();
            QSqlDatabase::removeDatabase(name);
            throw error;
        }
    }
    m_name = name;
}

void Recordset::Open(const QString &statement, Connection &cn, const QVariantList &params)
{
    Close();
    if (!cn.isOpen())
        fail(ClosedRecordset, QStringLiteral("Operation is not allowed when the object is closed."));

    static const QRegularExpression fromTable(QStringLiteral("\\bfrom\\s+([A-Za-z_][A-Za-z0-9_]*)"),
                                              QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression select(QStringLiteral("^\\s*select\\s*"),
                                           QRegularExpression::CaseInsensitiveOption);
    const auto match = fromTable.match(statement);
    m_table = match.hasMatch() ? match.captured(1) : QString();

    // The statement runs as written; only the row identity is added in front
    // of its columns so that changed rows can be written back.
    m_statement = statement;
    if (!m_table.isEmpty())
        m_statement.replace(select, QStringLiteral("SELECT rowid AS %1, ").arg(QLatin1String(RowidColumn)));
    m_connection = cn.name();
    m_params = params;

    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    if (!query.prepare(m_statement))
        throw Sql::error(query.lastError());
}

void Recordset::Close()
{
    m_connection.clear();
    m_table.clear();
    m_statement.clear();
    m_params.clear();
    m_fetched = false;
    m_columns.clear();
    m_rows.clear();
    m_pos = 0;
    m_adding = false;
    m_changedNames.clear();
    m_changedValues.clear();
}

void Recordset::fetch()
{
    if (m_fetched)
        return;
    if (m_connection.isEmpty())
        fail(ClosedRecordset, QStringLiteral("Operation is not allowed when the object is closed."));

    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    query.setForwardOnly(true);
    if (!query.prepare(m_statement))
        throw Sql::error(query.lastError());
    for (const QVariant &param : std::as_const(m_params))
        query.addBindValue(param);
    if (!query.exec())
        throw Sql::error(query.lastError());

    const QSqlRecord record = query.record();
    const bool hasRowid = !m_table.isEmpty();
    const int first = hasRowid ? 1 : 0;
    for (int i = first; i < record.count(); ++i)
        m_columns << record.fieldName(i);
    while (query.next()) {
        Row row;
        if (hasRowid)
            row.rowid = query.value(0).toLongLong();
        row.values.reserve(record.count() - first);
        for (int i = first; i < record.count(); ++i)
            row.values << query.value(i);
        m_rows << row;
    }
    if (query.lastError().isValid())
        throw Sql::error(query.lastError());
    m_fetched = true;
    m_pos = 0;
}

bool Recordset::Bof()
{
    fetch();
    return m_rows.isEmpty() || m_pos < 0;
}

bool Recordset::Eof()
{
    fetch();
    return m_rows.isEmpty() || m_pos >= m_rows.size();
}

void Recordset::MoveFirst()
{
    fetch();
    m_pos = 0;
}

void Recordset::MoveLast()
{
    fetch();
    m_pos = qMax(0, int(m_rows.size()) - 1);
}

void Recordset::MoveNext()
{
    fetch();
    if (m_pos >= m_rows.size())
        fail(NoCurrentRecord, QStringLiteral("Either BOF or EOF is True, or the current record has "
                                             "been deleted. Requested operation requires a current record."));
    ++m_pos;
}

int Recordset::RecordCount()
{
    fetch();
    return int(m_rows.size());
}

Recordset::Row &Recordset::currentRow()
{
    fetch();
    if (m_pos < 0 || m_pos >= m_rows.size() || m_rows[m_pos].deleted)
        fail(NoCurrentRecord, QStringLiteral("Either BOF or EOF is True, or the current record has "
                                             "been deleted. Requested operation requires a current record."));
    return m_rows[m_pos];
}

int Recordset::column(const QString &name) const
{
    for (int i = 0; i < m_columns.size(); ++i) {
        if (m_columns[i].compare(name, Qt::CaseInsensitive) == 0)
            return i;
    }
    fail(NoSuchField, QStringLiteral("Item cannot be found in the collection corresponding to the "
                                     "requested name or ordinal (%1).")
                          .arg(name));
}

QVariant Recordset::Field(const QString &name)
{
    if (m_adding) {
        for (int i = int(m_changedNames.size()) - 1; i >= 0; --i) {
            if (m_changedNames[i].compare(name, Qt::CaseInsensitive) == 0)
                return m_changedValues[i];
        }
        return QVariant();
    }
    Row &row = currentRow();
    return row.values[column(name)];
}

void Recordset::SetField(const QString &name, const QVariant &value)
{
    if (!m_adding) {
        Row &row = currentRow();
        row.values[column(name)] = value;
    }
    m_changedNames << name;
    m_changedValues << value;
}

void Recordset::AddNew()
{
    if (m_connection.isEmpty())
        fail(ClosedRecordset, QStringLiteral("Operation is not allowed when the object is closed."));
    m_adding = true;
    m_changedNames.clear();
    m_changedValues.clear();
}

void Recordset::Update()
{
    if (m_changedNames.isEmpty() && !m_adding)
        return;
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    QString sql;
    if (m_adding) {
        QStringList marks;
        for (int i = 0; i < m_changedNames.size(); ++i)
            marks << QStringLiteral("?");
        sql = m_changedNames.isEmpty()
                  ? QStringLiteral("INSERT INTO \"%1\" DEFAULT VALUES").arg(m_table)
                  : QStringLiteral("INSERT INTO \"%1\" (\"%2\") VALUES (%3)")
                        .arg(m_table, m_changedNames.join(QStringLiteral("\", \"")), marks.join(QStringLiteral(", ")));
    } else {
        QStringList sets;
        for (const QString &name : std::as_const(m_changedNames))
            sets << QStringLiteral("\"%1\" = ?").arg(name);
        sql = QStringLiteral("UPDATE \"%1\" SET %2 WHERE rowid = ?").arg(m_table, sets.join(QStringLiteral(", ")));
    }
    if (!query.prepare(sql))
        throw Sql::error(query.lastError());
    for (const QVariant &value : std::as_const(m_changedValues))
        query.addBindValue(value);
    if (!m_adding)
        query.addBindValue(currentRow().rowid);
    if (!query.exec())
        throw Sql::error(query.lastError());
    m_adding = false;
    m_changedNames.clear();
    m_changedValues.clear();
}

void Recordset::Delete()
{
    Row &row = currentRow();
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    if (!query.prepare(QStringLiteral("DELETE FROM \"%1\" WHERE rowid = ?").arg(m_table)))
        throw Sql::error(query.lastError());
    query.addBindValue(row.rowid);
    if (!query.exec())
        throw Sql::error(query.lastError());
    row.deleted = true;
}

void Recordset::fail(int number, const QString &description) const
{
    throw DbError(number, description);
}
