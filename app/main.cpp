#include "app/QuitSignals.h"
#include "app/Startup.h"
#include "app/WidgetMessageBoxes.h"
#include "app/frmMain.h"
#include "store/AppInfo.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(AppInfo::title());
    QApplication::setApplicationVersion(QStringLiteral("%1.%2").arg(AppInfo::major()).arg(AppInfo::minor()));
    // The program lives on in the tray when its window is hidden.
    QApplication::setQuitOnLastWindowClosed(false);

    WidgetMessageBoxes boxes;
    MessageBoxes::install(&boxes);

    frmMain *window = Startup::loadMainWindow();
    if (!window)
        return 1;
    std::unique_ptr<frmMain> owner(window);

    // What the page log shows also goes to the terminal the program was
    // started from, for whoever watches it there.
    QObject::connect(&window->relay().pageLog, &PageLog::appended, [](const QString &text) {
        std::fputs(text.toLocal8Bit().constData(), stdout);
        std::fflush(stdout);
    });

    QuitSignals quitSignals;
    QObject::connect(&quitSignals, &QuitSignals::received, window, &frmMain::endSession);

    const int status = app.exec();
    MessageBoxes::install(nullptr);
    return status;
}
