#include "BenchReport.h"

#include "support/ProcessStatus.h"

#include <QFile>
#include <QThread>

#include <cstdio>
#include <sys/resource.h>

namespace {

void printLine(const QString &line)
{
    std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
}

} // namespace

namespace Bench {

QString cpuModel()
{
    QFile info(QStringLiteral("/proc/cpuinfo"));
    if (info.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : info.readAll().split('\n')) {
            if (line.startsWith("model name"))
                return QString::fromLatin1(line.mid(line.indexOf(':') + 1).trimmed());
        }
    }
    return QStringLiteral("unknown CPU");
}

QString buildType()
{
    QString type = QStringLiteral(VANTREL_BUILD_TYPE);
    if (type.isEmpty())
        type = QStringLiteral("(no build type)");
#ifdef VANTREL_SANITIZED
    type += QStringLiteral(" with sanitizers");
#endif
    return type;
}

void heading(const QString &name, const QString &method)
{
    printLine(QStringLiteral("== %1").arg(name));
    printLine(QStringLiteral("machine: %1, %2 cores; build: %3")
                  .arg(cpuModel())
                  .arg(QThread::idealThreadCount())
                  .arg(buildType()));
    printLine(QStringLiteral("method: %1").arg(method));
}

void result(const QString &benchmark, const QString &figure, const QString &value, const QString &target, bool met)
{
    printLine(QStringLiteral("RESULT\t%1\t%2\t%3\t%4\t%5")
                  .arg(benchmark, figure, value, target, met ? QStringLiteral("met") : QStringLiteral("MISSED")));
}

void note(const QString &benchmark, const QString &figure, const QString &value)
{
    printLine(QStringLiteral("RESULT\t%1\t%2\t%3\t-\t-").arg(benchmark, figure, value));
}

double cpuMs()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto toMs = [](const timeval &t) { return double(t.tv_sec) * 1000.0 + double(t.tv_usec) / 1000.0; };
    return toMs(usage.ru_utime) + toMs(usage.ru_stime);
}

qint64 rssKb()
{
    return processStatusKb("VmRSS:");
}

qint64 peakRssKb()
{
    return processStatusKb("VmHWM:");
}

QString ms(double value)
{
    return QStringLiteral("%1 ms").arg(value, 0, 'f', 2);
}

int intOption(const QStringList &arguments, const QString &name, int fallback)
{
    const qsizetype at = arguments.indexOf(name);
    if (at < 0 || at + 1 >= arguments.size())
        return fallback;
    bool ok = false;
    const int value = arguments[at + 1].toInt(&ok);
    return ok ? value : fallback;
}

} // namespace Bench
