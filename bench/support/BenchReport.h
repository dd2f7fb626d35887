#pragma once

#include <QString>
#include <QStringList>

// What every benchmark prints: the machine, the build, how it measured, and
// its figures. A figure line starts with "RESULT" and has tab-separated
// fields (benchmark, figure, value, target, verdict) so that
// scripts/bench.sh can gather all of them into one table.
namespace Bench {

// Prints the heading: benchmark name, CPU model, core count, build type.
void heading(const QString &name, const QString &method);

// Prints one figure. `met` decides the verdict column.
void result(const QString &benchmark, const QString &figure, const QString &value, const QString &target, bool met);
// A figure without a target, printed for context.
void note(const QString &benchmark, const QString &figure, const QString &value);

// CPU time (user + system) this process has used, in milliseconds.
double cpuMs();
// Resident and peak resident size of this process, in kilobytes.
qint64 rssKb();
qint64 peakRssKb();

QString cpuModel();
QString buildType();

// Milliseconds with two decimals, "12.34 ms".
QString ms(double value);

// The value of "--name N" on the command line, or `fallback`.
int intOption(const QStringList &arguments, const QString &name, int fallback);

} // namespace Bench
