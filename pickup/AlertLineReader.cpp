#include "pickup/AlertLineReader.h"

#include "pickup/SplitText.h"

namespace {

constexpr int ShownLineLength = 200;

QString shown(const QString &line, bool cut)
{
    QString text = line.left(ShownLineLength);
    if (cut || line.size() > ShownLineLength)
        text += QStringLiteral("...");
    return text;
}

} // namespace

AlertLineReader::AlertLineReader(bool afterCr)
    : m_afterCr(afterCr)
{
}

void AlertLineReader::feed(QByteArrayView bytes)
{
    qsizetype start = 0;
    if (m_afterCr && bytes.startsWith('\n')) {
        start = 1;
        m_consumed = m_fed + 1;
    }
    if (!bytes.isEmpty())
        m_afterCr = false;
    while (start < bytes.size()) {
        const qsizetype end = bytes.indexOf('\r', start);
        const qsizetype stop = end < 0 ? bytes.size() : end;
        const qsizetype room = qMax<qsizetype>(0, LongestLine - m_line.size());
        m_line += QString::fromLatin1(bytes.data() + start, qMin(room, stop - start));
        m_overflow += qMax<qsizetype>(0, stop - start - room);
        if (end < 0)
            break;
        endLine();
        start = end + 1;
        if (start == bytes.size())
            m_afterCr = true;
        else if (bytes[start] == '\n')
            ++start;
        m_consumed = m_fed + start;
    }
    m_fed += bytes.size();
}

void AlertLineReader::finish()
{
    if (!m_line.isEmpty() || m_overflow > 0)
        endLine();
    m_consumed = m_fed;
}

void AlertLineReader::endLine()
{
    ++m_lineNumber;
    if (m_line.isEmpty() && m_overflow == 0)
        return;
    QString why;
    QStringList pieces;
    if (m_overflow > 0) {
        why = QStringLiteral("it is longer than %1 characters").arg(LongestLine);
    } else {
        pieces = SplitText(m_line, QStringLiteral("|"));
        if (pieces.size() < 5)
            why = QStringLiteral("it has fewer than five fields");
    }
    if (why.isEmpty())
        m_records.append({pieces[0], pieces[1], pieces[2], pieces[3], pieces[4]});
    else
        m_skipped.append({m_lineNumber, why, shown(m_line, m_overflow > 0)});
    m_line.clear();
    m_overflow = 0;
}

QList<SmsRecord> AlertLineReader::takeRecords()
{
    return std::exchange(m_records, {});
}

QList<AlertLineReader::Skipped> AlertLineReader::takeSkipped()
{
    return std::exchange(m_skipped, {});
}
