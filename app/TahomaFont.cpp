#include "app/TahomaFont.h"

#include <QDir>
#include <QFileInfo>
#include <QFontDatabase>
#include <QStringList>

namespace {

const QString Family = QStringLiteral("Tahoma");

// Where Debian's fonts-wine puts them.
const QString WineFonts = QStringLiteral("/usr/share/wine/fonts");

bool hasTahoma()
{
    // The family list, not hasFamily(): fontconfig resolves an unknown
    // family to its fallback, and hasFamily() would then say yes.
    return QFontDatabase::families().contains(Family, Qt::CaseInsensitive);
}

} // namespace

namespace TahomaFont {

bool ensure()
{
    if (hasTahoma())
        return true;
    const QDir folder(WineFonts);
    // The bold face is a file of its own; without it Qt would fake bold
    // from the regular face, with other widths than Tahoma Bold's.
    for (const QString &file : {QStringLiteral("tahoma.ttf"), QStringLiteral("tahomabd.ttf")}) {
        const QString path = folder.filePath(file);
        if (QFileInfo::exists(path))
            QFontDatabase::addApplicationFont(path);
    }
    return hasTahoma();
}

} // namespace TahomaFont
