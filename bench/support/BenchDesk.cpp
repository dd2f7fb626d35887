#include "support/BenchDesk.h"

#include "support/ProgramFolderFixture.h"

namespace Bench {

QStringList setUpDesk(ProgramFolderFixture &program, int onDuty, int folders)
{
    for (int i = 0; i < onDuty; ++i)
        program.addUser(QStringLiteral("Desk %1").arg(i + 1), QStringLiteral("+1555000%1").arg(i + 1), true);
    QStringList watched;
    for (int i = 0; i < folders; ++i)
        watched << program.addWatchedFolder(QStringLiteral("terminal-%1").arg(i + 1));
    return watched;
}

} // namespace Bench
