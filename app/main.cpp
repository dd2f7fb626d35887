#include "app/AppIcon.h"
#include "app/QuitSignals.h"
#include "app/Startup.h"
#include "app/TahomaFont.h"
#include "app/WidgetMessageBoxes.h"
#include "app/frmMain.h"
#include "store/AppInfo.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    // Before any window: the forms are laid out for Tahoma's widths.
    TahomaFont::ensure();
    QApplication::setApplicationName(AppInfo::title());
    QApplication::setApplicationVersion(QStringLiteral("%1.%2").arg(AppInfo::major()).arg(AppInfo::minor()));
    // Every window without an icon of its own (the login window, the About
    // box) carries the program's.
    QApplication::setWindowIcon(appIcon());
    // The program lives on in the tray when its window is hidden.
    QApplication::setQuitOnLastWindowClosed(false);

    const WidgetMessageBoxes boxes;

    ProgramStart start;
    // What the page log shows also goes to the terminal the program was
    // started from, for whoever watches it there.
    QObject::connect(&start, &ProgramStart::mainWindowLoaded, [](frmMain *window) {
        QObject::connect(&window->relay().pageLog(), &PageLog::appended, [](const QString &text) {
            std::fputs(text.toLocal8Bit().constData(), stdout);
            std::fflush(stdout);
        });
    });

    QuitSignals quitSignals;
    QObject::connect(&quitSignals, &QuitSignals::received, &start, &ProgramStart::endSession);

    if (!start.begin())
        return 1;
    return app.exec();
}
