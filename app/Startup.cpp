#include "app/Startup.h"

#include "app/frmMain.h"
#include "store/Database.h"
#include "store/MessageBoxes.h"

#include <QFileInfo>

namespace Startup {

QString failureText(const QString &error)
{
    return QStringLiteral("Vantrel cannot start.\n\n%1\n\nDatabase: %2")
        .arg(error, QFileInfo(Database::path()).absoluteFilePath());
}

frmMain *loadMainWindow()
{
    auto window = std::make_unique<frmMain>();
    try {
        window->Form_Load();
    } catch (const DbError &error) {
        window->hide();
        window->tray().remove();
        MsgBox(failureText(error.text()), MessageBoxes::OkOnly, QString(), MessageBoxes::Critical);
        return nullptr;
    }
    return window.release();
}

} // namespace Startup
