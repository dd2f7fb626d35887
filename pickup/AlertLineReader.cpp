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

AlertLineReader::AlertLineReader(const AlertEncoding &encoding, bool afterCr)
    : m_encoding(encoding)
    , m_afterCr(afterCr)
{
}

qsizetype AlertLineReader::nextCr(QByteArrayView units, qsizetype from) const
{
    const int unit = m_encoding.unitSize();
    if (unit == 1)
        return units.indexOf('\r', from);
    for (qsizetype at = from; at + unit <= units.size(); at += unit) {
        if (m_encoding.isCr(units.data() + at))
            return at;
    }
    return -1;
}

void AlertLineReader::feed(QByteArrayView bytes)
{
    // Whole units only; a unit split between two pieces waits for its rest.
    QByteArray joined;
    if (!m_carry.isEmpty()) {
        joined = m_carry + bytes.toByteArray();
        bytes = joined;
    }
    const int unit = m_encoding.unitSize();
    const qsizetype whole = bytes.size() / unit * unit;
    m_carry = bytes.sliced(whole).toByteArray();
    const QByteArrayView units = bytes.first(whole);

    qsizetype start = 0;
    if (m_afterCr && units.size() >= unit) {
        if (m_encoding.isLf(units.data())) {
            start = unit;
            m_consumed = m_fed + unit;
        }
        m_afterCr = false;
    }
    const qsizetype longest = LongestLine * unit;
    while (start < units.size()) {
        const qsizetype end = nextCr(units, start);
        const qsizetype stop = end < 0 ? units.size() : end;
        const qsizetype room = qMax<qsizetype>(0, longest - m_line.size());
        m_line.append(units.data() + start, qMin(room, stop - start));
        m_overflow += qMax<qsizetype>(0, stop - start - room) / unit;
        if (end < 0)
            break;
        endLine();
        start = end + unit;
        if (start == units.size())
            m_afterCr = true;
        else if (m_encoding.isLf(units.data() + start))
            start += unit;
        m_consumed = m_fed + start;
    }
    m_fed += whole;
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
    const QString line = m_encoding.decode(m_line);
    QString why;
    QStringList pieces;
    if (m_overflow > 0) {
        why = QStringLiteral("it is longer than %1 characters").arg(LongestLine);
    } else {
        pieces = SplitText(line, QStringLiteral("|"));
        if (pieces.size() < 5)
            why = QStringLiteral("it has fewer than five fields");
    }
    if (why.isEmpty())
        m_records.append({{pieces[0], pieces[1], pieces[2], pieces[3], pieces[4]}, m_encoding.encode(pieces[4])});
    else
        m_skipped.append({m_lineNumber, why, shown(line, m_overflow > 0)});
    m_line.clear();
    m_overflow = 0;
}

QList<TakenAlert> AlertLineReader::takeRecords()
{
    return std::exchange(m_records, {});
}

QList<AlertLineReader::Skipped> AlertLineReader::takeSkipped()
{
    return std::exchange(m_skipped, {});
}
