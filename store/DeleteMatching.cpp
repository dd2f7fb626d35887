#include "store/DeleteMatching.h"

#include "store/Database.h"

void DeleteMatching(Recordset &rs, const QString &field, const QString &value)
{
    for (; !rs.Eof(); rs.MoveNext()) {
        const QVariant stored = rs.Field(field);
        if (!stored.isNull() && stored.toString() == value)
            rs.Delete();
    }
}
