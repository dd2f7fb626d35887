#pragma once

#include <QLockFile>
#include <QString>

// One copy of the program per program folder: a lock file beside
// Config.mdb, held while the program runs. A lock left behind by a copy that
// crashed or was killed is found stale (its process is gone) and taken over.
class InstanceLock
{
public:
    InstanceLock();

    // Takes the lock unless a running copy holds it.
    bool tryLock();

    // What a second copy says before it ends.
    static QString refusalText();

private:
    QLockFile m_file;
};
