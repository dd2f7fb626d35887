#include "modem/ReportReader.h"

#include "modem/Indications.h"
#include "modem/ModemLine.h"

#include <QPointer>
#include <QRegularExpression>

QString ReportReader::indicationsCommand(const QString &ranges)
{
    return Indications::command(ranges, true, false);
}

void ReportReader::setUp()
{
    m_line.wantReports();
    if (m_line.indicationRangesKnown()) {
        tell();
        return;
    }
    const QPointer<ReportReader> reader(this);
    m_line.ask(ModemCommand::query(QStringLiteral("AT+CNMI=?"), QStringLiteral("+CNMI:")),
               [reader](const ModemAnswer &answer) {
                   // A modem that did not answer is asked again on the next round.
                   if (!reader || answer.timedOut || answer.portError != 0)
                       return;
                   reader->m_line.setIndicationRanges(answer.given ? answer.reply : QString());
                   reader->tell();
               });
}

void ReportReader::tell()
{
    // The line's one command: it also asks for word of incoming SMS where the line listens.
    m_line.ask(ModemCommand::reply(m_line.indicationsCommand()), [](const ModemAnswer &) {});
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
