#include "modem/TraceList.h"

void TraceList::Clear()
{
    setStringList({});
}

void TraceList::AddItem(const QString &line)
{
    const int row = rowCount();
    insertRows(row, 1);
    setData(index(row), line);
}
