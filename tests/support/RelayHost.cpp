#include "support/RelayHost.h"

#include <QCoreApplication>

#include <csignal>
#include <sys/prctl.h>

bool startRelayHost(QProcess &host, const QString &folder)
{
    host.setProgram(QCoreApplication::applicationDirPath() + QStringLiteral("/vantrel-relayhost"));
    host.setArguments({QStringLiteral("--folder"), folder, QStringLiteral("--tick"), QStringLiteral("20"),
                       QStringLiteral("--unit"), QStringLiteral("300")});
    host.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    host.start();
    return host.waitForStarted();
}
