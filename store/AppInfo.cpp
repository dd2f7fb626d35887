#include "store/AppInfo.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace AppInfo {

QString title()
{
    return QStringLiteral("Vantrel");
}

int major()
{
    return VANTREL_VERSION_MAJOR;
}

int minor()
{
    return VANTREL_VERSION_MINOR;
}

QString exeName()
{
    const QString exe = QCoreApplication::applicationFilePath();
    return exe.isEmpty() ? title() : QFileInfo(exe).completeBaseName();
}

} // namespace AppInfo
