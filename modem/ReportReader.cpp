#include "modem/ReportReader.h"

#include "modem/ModemLine.h"

#include <QPointer>
#include <QRegularExpression>

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

QString ReportReader::indicationsCommand(const QString &ranges)
{
    // +CNMI: (<mode>s),(<mt>s),(<bm>s),(<ds>s),(<bfr>s)
    static const QRegularExpression group(QStringLiteral(R"(\(([^)]*)\))"));
    QStringList groups;
    for (QRegularExpressionMatchIterator it = group.globalMatch(ranges); it.hasNext();)
        groups << it.next().captured(1);
    if (groups.size() < 4)
        return QStringLiteral("AT+CNMI=2,0,0,1,0");
    // Mode 2: held while the line is busy and given after, else mode 1.
    // No word of incoming SMS and broadcasts, which nobody reads here.
    const int mode = allows(groups[0], 2) ? 2 : 1;
    const int ds = allows(groups[3], 1) ? 1 : 2;
    QString command = QStringLiteral("AT+CNMI=%1,0,0,%2").arg(mode).arg(ds);
    if (groups.size() > 4)
        command += QStringLiteral(",0");
    return command;
}

void ReportReader::setUp()
{
    if (!m_indications.isEmpty()) {
        tell();
        return;
    }
    const QPointer<ReportReader> reader(this);
    m_line.ask(ModemCommand::query(QStringLiteral("AT+CNMI=?"), QStringLiteral("+CNMI:")),
               [reader](const ModemAnswer &answer) {
                   // A modem that did not answer is asked again on the next round.
                   if (!reader || answer.timedOut || answer.portError != 0)
                       return;
                   reader->m_indications = indicationsCommand(answer.given ? answer.reply : QString());
                   reader->tell();
               });
}

void ReportReader::tell()
{
    m_line.ask(ModemCommand::reply(m_indications), [](const ModemAnswer &) {});
}

ReportReader::ReportReader(ModemLine &line, std::function<void(const DeliveryReport &)> found, QObject *parent)
    : QObject(parent)
    , m_line(line)
    , m_found(std::move(found))
{
}

void ReportReader::readAll()
{
    m_roundWanted = true;
    next();
}

void ReportReader::read(int index)
{
    if (!m_queued.contains(index))
        m_indexes.push_back(index);
    m_queued[index] = true;
    next();
}

void ReportReader::next()
{
    if (m_busy)
        return;
    const QPointer<ReportReader> reader(this);
    // The memory read from is chosen at the start of each run of reads;
    // a round learns from the answer how many reports the memory holds.
    if (!m_selected || m_roundWanted) {
        m_busy = true;
        m_line.ask(ModemCommand::query(QStringLiteral("AT+CPMS=\"SR\""), QStringLiteral("+CPMS:")),
                   [reader](const ModemAnswer &answer) {
                       if (reader)
                           reader->selected(answer);
                   });
        return;
    }
    while (!m_indexes.empty()) {
        const int index = m_indexes.front();
        m_indexes.pop_front();
        const bool announced = m_queued.take(index);
        // A round stops looking once it has found what the memory held.
        if (announced || m_roundLeft > 0) {
            readIndex(index);
            return;
        }
    }
    m_selected = false;
}

void ReportReader::selected(const ModemAnswer &answer)
{
    m_busy = false;
    m_selected = answer.given;
    if (m_roundWanted) {
        m_roundWanted = false;
        // "+CPMS: <used>,<total>,...": every index looked at until all
        // those used have been found.
        static const QRegularExpression counts(QStringLiteral(R"(\+CPMS:\s*(\d+)\s*,\s*(\d+))"));
        const QRegularExpressionMatch match = counts.match(answer.reply);
        m_roundLeft = match.hasMatch() ? match.captured(1).toInt() : 0;
        const int total = match.hasMatch() ? qMin(match.captured(2).toInt(), 255) : 0;
        for (int index = 1; m_roundLeft > 0 && index <= total; ++index) {
            if (!m_queued.contains(index)) {
                m_indexes.push_back(index);
                m_queued[index] = false;
            }
        }
    }
    if (!m_selected) {
        // Nothing can be read now; what was announced is looked for again
        // on the next round.
        m_indexes.clear();
        m_queued.clear();
        return;
    }
    next();
}

void ReportReader::readIndex(int index)
{
    m_busy = true;
    const QPointer<ReportReader> reader(this);
    m_line.ask(ModemCommand::query(QStringLiteral("AT+CMGR=%1").arg(index), QStringLiteral("+CMGR:")),
               [reader, index](const ModemAnswer &answer) {
                   if (reader)
                       reader->readBack(index, answer);
               });
}

void ReportReader::readBack(int index, const ModemAnswer &answer)
{
    // "+CMGR: ..." and, in PDU mode, the PDU on the next line.
    const QStringList lines = answer.reply.split(QRegularExpression(QStringLiteral("[\r\n]+")), Qt::SkipEmptyParts);
    const qsizetype at = lines.indexOf(QRegularExpression(QStringLiteral("^\\+CMGR:.*")));
    const std::optional<DeliveryReport> report =
        answer.given && at >= 0 ? DeliveryReport::fromLine(lines[at], lines.value(at + 1)) : std::nullopt;
    if (!report) {
        m_busy = false;
        next();
        return;
    }
    --m_roundLeft;
    m_found(*report);
    const QPointer<ReportReader> reader(this);
    m_line.ask(ModemCommand::reply(QStringLiteral("AT+CMGD=%1").arg(index)), [reader](const ModemAnswer &) {
        if (!reader)
            return;
        reader->m_busy = false;
        reader->next();
    });
}
