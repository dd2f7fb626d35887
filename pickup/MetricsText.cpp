#include "pickup/MetricsText.h"

#include <QLocale>

#include <algorithm>
#include <cmath>

namespace {

QByteArray escaped(const QString &text, bool quotes)
{
    QByteArray out;
    for (const char c : text.toUtf8()) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else if (c == '"' && quotes)
            out += "\\\"";
        else
            out += c;
    }
    return out;
}

} // namespace

Histogram::Histogram(QList<double> bounds)
    : m_bounds(std::move(bounds))
    , m_inBucket(m_bounds.size() + 1, 0)
{
}

void Histogram::observe(double value)
{
    // The first bound at or above the value; past the last: +Inf's alone.
    const auto bound = std::lower_bound(m_bounds.cbegin(), m_bounds.cend(), value);
    ++m_inBucket[bound - m_bounds.cbegin()];
    m_sum += value;
    ++m_count;
}

quint64 Histogram::atOrUnder(qsizetype i) const
{
    quint64 total = 0;
    for (qsizetype j = 0; j <= i; ++j)
        total += m_inBucket[j];
    return total;
}

void MetricsText::family(const QByteArray &name, const QByteArray &type, const QString &help)
{
    m_name = name;
    m_head = "# HELP " + name + ' ' + escaped(help, false) + "\n# TYPE " + name + ' ' + type + '\n';
}

void MetricsText::sample(const Labels &labels, double value)
{
    line(m_name, labels, value);
}

void MetricsText::histogram(const Labels &labels, const Histogram &histogram)
{
    for (qsizetype i = 0; i < histogram.bounds().size(); ++i) {
        Labels bucket = labels;
        bucket.append({"le", QString::fromLatin1(number(histogram.bounds()[i]))});
        line(m_name + "_bucket", bucket, double(histogram.atOrUnder(i)));
    }
    Labels all = labels;
    all.append({"le", QStringLiteral("+Inf")});
    line(m_name + "_bucket", all, double(histogram.count()));
    line(m_name + "_sum", labels, histogram.sum());
    line(m_name + "_count", labels, double(histogram.count()));
}

void MetricsText::line(const QByteArray &name, const Labels &labels, double value)
{
    m_text += std::exchange(m_head, {});
    m_text += name;
    if (!labels.isEmpty()) {
        m_text += '{';
        for (qsizetype i = 0; i < labels.size(); ++i) {
            if (i > 0)
                m_text += ',';
            m_text += labels[i].first + "=\"" + escaped(labels[i].second, true) + '"';
        }
        m_text += '}';
    }
    m_text += ' ' + number(value) + '\n';
}

QByteArray MetricsText::number(double value)
{
    if (std::isnan(value))
        return "NaN";
    if (std::isinf(value))
        return value > 0 ? "+Inf" : "-Inf";
    // Counts as whole numbers; anything else as short as reads back the same.
    if (value == std::floor(value) && std::fabs(value) < 9007199254740992.0)
        return QByteArray::number(qint64(value));
    return QByteArray::number(value, 'g', QLocale::FloatingPointShortest);
}
