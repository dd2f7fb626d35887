#include "store/PathTable.h"

#include "store/Database.h"
#include "store/DeleteMatching.h"
#include "store/Statements.h"

namespace PathTable {

namespace {

const QString PathField = QStringLiteral("MT4_PATH");

} // namespace

QStringList rows()
{
    Connection cn;
    cn.Open();
    Recordset rs;
    rs.Open(QString::fromLatin1(Statements::Mt4Paths), cn);
    QStringList folders;
    for (; !rs.Eof(); rs.MoveNext())
        folders << rs.Field(PathField).toString();
    return folders;
}

void add(const QString &folder)
{
    Connection cn;
    cn.Open();
    Recordset rs;
    rs.Open(QString::fromLatin1(Statements::Mt4Paths), cn);
    rs.AddNew();
    rs.SetField(PathField, folder);
    rs.Update();
}

bool isEmpty()
{
    Connection cn;
    cn.Open();
    Recordset rs;
    rs.Open(QString::fromLatin1(Statements::Mt4Paths), cn);
    return rs.Eof();
}

void removeFolder(const QString &folder)
{
    Connection cn;
    cn.Open();
    Recordset rs;
    rs.Open(QString::fromLatin1(Statements::Mt4Paths), cn);
    DeleteMatching(rs, PathField, folder);
}

} // namespace PathTable
