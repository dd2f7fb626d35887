// Page-log appends through the real txtPageLog of the main window, shown
// offscreen: each append is timed together with the event processing it
// causes (layout, scroll, paint), and the cost around the 100th append is
// compared with the cost around the 10,000th.

#include "app/frmMain.h"
#include "support/BenchReport.h"
#include "support/ProgramFolderFixture.h"
#include "support/ScriptedMessageBoxes.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>

#include <algorithm>

namespace {

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int appends = Bench::intOption(app.arguments(), QStringLiteral("--appends"), 10100);
    Bench::heading(
        QStringLiteral("page log"),
        QStringLiteral("%1 appends of the lines of a logged send (date, \"Sending to\", \"Message:\") through "
                       "PageLog into frmMain's txtPageLog, window shown offscreen; each append timed with "
                       "the processEvents() that follows it; medians of appends 50-150 and 9950-10050")
            .arg(appends));

    ProgramFolderFixture program;
    ScriptedMessageBoxes boxes;
    AlertRelay relay;
    frmMain window(relay);
    window.show();
    QApplication::processEvents();
    PageLog &pageLog = window.relay().pageLog();

    std::vector<double> cost;
    cost.reserve(size_t(appends));
    const QString lines[3] = {QStringLiteral("07/12/2025 15:42:01\r\n"),
                              QStringLiteral("Sending to Desk One (+15550001)\r\n"),
                              QStringLiteral("Message: XAUUSD crossed 1905.20 (alert %1)\r\n")};
    for (int i = 1; i <= appends; ++i) {
        const QString text = i % 3 == 0 ? lines[2].arg(i) : lines[i % 3];
        QElapsedTimer clock;
        clock.start();
        pageLog.append(text);
        QApplication::processEvents();
        cost.push_back(double(clock.nsecsElapsed()) / 1e6);
    }

    const auto window_ = [&](int from, int to) {
        return median(std::vector<double>(cost.begin() + from - 1, cost.begin() + std::min(to, appends)));
    };
    const double early = window_(50, 150);
    const double late = window_(9950, 10050);
    const auto *edit = window.findChild<QPlainTextEdit *>(QStringLiteral("txtPageLog"));
    Bench::note(QStringLiteral("page log"), QStringLiteral("append 100th / 10,000th (single)"),
                QStringLiteral("%1 / %2").arg(Bench::ms(cost[99]), Bench::ms(cost[std::min(9999, appends - 1)])));
    Bench::note(QStringLiteral("page log"), QStringLiteral("median around 100th / 10,000th"),
                QStringLiteral("%1 / %2").arg(Bench::ms(early), Bench::ms(late)));
    Bench::note(
        QStringLiteral("page log"), QStringLiteral("lines / paragraphs in txtPageLog"),
        QStringLiteral("%1 / %2").arg(pageLog.text().count(QLatin1String("\r\n"))).arg(edit ? edit->blockCount() : -1));
    const double ratio = early > 0 ? late / early : 0;
    Bench::result(QStringLiteral("page log"), QStringLiteral("10,000th append / 100th"),
                  QStringLiteral("%1 x").arg(ratio, 0, 'f', 2), QStringLiteral("<= 2 x"),
                  ratio <= 2.0 && appends >= 10050);
    return 0;
}
