#include "modem/TraceList.h"

void TraceList::Clear()
{
    setStringList({});
}

void TraceList::AddItem(const QString &line)
{
    // Where no dialogue clears the list (several lines share it), the
    // oldest lines go, a block at a time.
    if (rowCount() >= KeptLines)
        removeRows(0, KeptLines / 4);
    const int row = rowCount();
    insertRows(row, 1);
    setData(index(row), line);
}
