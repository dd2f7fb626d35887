#include "tools/setup/Autostart.h"

#include <QDir>
#include <QSaveFile>
#include <QStandardPaths>

namespace {

// A desktop entry's Exec key quotes an argument in double quotes, with ",
// `, $ and \ escaped by a backslash.
QString quoted(const QString &argument)
{
    QString escaped;
    for (const QChar c : argument) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            escaped += u'\\';
        escaped += c;
    }
    return u'"' + escaped + u'"';
}

} // namespace

namespace Autostart {

QString entry(const QString &folder)
{
    const QString absolute = QDir(folder).absolutePath();
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=Vantrel\n"
                          "Comment=Relays the alerts of trading robots as SMS\n"
                          "Exec=%1\n"
                          "Path=%2\n"
                          "Terminal=false\n"
                          "X-GNOME-Autostart-enabled=true\n")
        .arg(quoted(QDir(absolute).filePath(QStringLiteral("vantrel"))), absolute);
}

QString install(const QString &folder, QString *error)
{
    const QString dir =
        QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QStringLiteral("/autostart");
    QString path = dir + QStringLiteral("/vantrel.desktop");
    QSaveFile file(path);
    if (!QDir().mkpath(dir) || !file.open(QIODevice::WriteOnly) || file.write(entry(folder).toUtf8()) < 0
        || !file.commit()) {
        if (error)
            *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return QString();
    }
    return path;
}

} // namespace Autostart
