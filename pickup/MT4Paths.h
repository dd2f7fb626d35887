#pragma once

#include <QStringList>

// The watched MT4 folders, loaded once at start-up from Mt4Path in ID order.
class MT4Paths
{
public:
    void GetPathList();

    // The alert file of a watched folder.
    static QString alertFile(const QString &path);

    QStringList PathList;
    short PathCount = 0;
};
