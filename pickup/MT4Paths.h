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
    // Rows the last load skipped, one line each for the page log: a path
    // that is empty, holds control bytes or is longer than any folder's.
    const QStringList &complaints() const { return m_complaints; }

private:
    QStringList m_pathList;
    short m_pathCount = 0;
    QStringList m_complaints;
};
