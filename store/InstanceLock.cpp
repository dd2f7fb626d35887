#include "store/InstanceLock.h"

#include "store/ProgramFolder.h"

#include <QDir>

InstanceLock::InstanceLock()
    : m_file(ProgramFolder::file(QStringLiteral("Vantrel.lock")))
{
    // A copy that runs for weeks keeps its lock however old the file gets;
    // only a lock whose process is gone is stale.
    m_file.setStaleLockTime(0);
}

bool InstanceLock::tryLock()
{
    return m_file.tryLock(0);
}

QString InstanceLock::refusalText()
{
    return QStringLiteral("Vantrel is already running from %1.").arg(QDir::toNativeSeparators(ProgramFolder::path()));
}
