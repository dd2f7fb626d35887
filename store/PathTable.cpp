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
    Table table(Statements::Mt4Paths);
    QStringList folders;
    for (; !table.rs.Eof(); table.rs.MoveNext())
        folders << table.rs.Field(PathField).toString();
    return folders;
}

void add(const QString &folder)
{
    Table table(Statements::Mt4Paths);
    table.rs.AddNew();
    table.rs.SetField(PathField, folder);
    table.rs.Update();
}

bool isEmpty()
{
    Table table(Statements::Mt4Paths);
    return table.rs.Eof();
}

void removeFolder(const QString &folder)
{
    Table table(Statements::Mt4Paths);
    DeleteMatching(table.rs, PathField, folder);
}

} // namespace PathTable
