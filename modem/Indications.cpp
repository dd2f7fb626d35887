#include "modem/Indications.h"

#include <QRegularExpression>
#include <QStringList>

namespace {

// Whether a value is among those of one "(0-3)" or "(0,2)" group.
bool allows(const QString &group, int value)
{
    for (const QString &item : group.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QStringList ends = item.split(QLatin1Char('-'));
        bool lowOk = false;
        bool highOk = false;
        const int low = ends.first().trimmed().toInt(&lowOk);
        const int high = ends.last().trimmed().toInt(&highOk);
        if (lowOk && highOk && value >= low && value <= high)
            return true;
    }
    return false;
}

} // namespace

namespace Indications {

QString command(const QString &ranges, bool reports, bool incoming)
{
    // +CNMI: (<mode>s),(<mt>s),(<bm>s),(<ds>s),(<bfr>s)
    static const QRegularExpression group(QStringLiteral(R"(\(([^)]*)\))"));
    QStringList groups;
    for (QRegularExpressionMatchIterator it = group.globalMatch(ranges); it.hasNext();)
        groups << it.next().captured(1);
    const int mt = !incoming ? 0 : groups.size() < 2 || allows(groups[1], 1) ? 1 : allows(groups[1], 2) ? 2 : 0;
    if (groups.size() < 4)
        return QStringLiteral("AT+CNMI=2,%1,0,%2,0").arg(mt).arg(reports ? 1 : 0);
    // No word of broadcasts, which nobody reads here.
    const int mode = allows(groups[0], 2) ? 2 : 1;
    const int ds = !reports ? 0 : allows(groups[3], 1) ? 1 : 2;
    QString text = QStringLiteral("AT+CNMI=%1,%2,0,%3").arg(mode).arg(mt).arg(ds);
    if (groups.size() > 4)
        text += QStringLiteral(",0");
    return text;
}

int messageRouting(const QString &command)
{
    static const QRegularExpression mt(QStringLiteral(R"(^AT\+CNMI=\d+,(\d+))"));
    const QRegularExpressionMatch match = mt.match(command);
    return match.hasMatch() ? match.captured(1).toInt() : 0;
}

} // namespace Indications
