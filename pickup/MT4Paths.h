#pragma once

#include <QStringList>

// The watched MT4 folders, loaded from Mt4Path in ID order at start-up and
// again whenever the Settings window changed them.
class MT4Paths
{
public:
    void GetPathList();

    // The alert file of a watched folder.
    static QString alertFile(const QString &path);

    const QStringList &PathList() const { return m_pathList; }
    short PathCount() const { return m_pathCount; }

private:
    QStringList m_pathList;
    short m_pathCount = 0;
};
