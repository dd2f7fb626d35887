#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <utility>

// Counts of observations at or under each bound, the sum of them all and
// their number: a Prometheus histogram.
class Histogram
{
public:
    explicit Histogram(QList<double> bounds);

    void observe(double value);

    const QList<double> &bounds() const { return m_bounds; }
    // Observations at or under bounds()[i], cumulative.
    quint64 atOrUnder(qsizetype i) const;
    double sum() const { return m_sum; }
    quint64 count() const { return m_count; }

private:
    QList<double> m_bounds;    // ascending
    QList<quint64> m_inBucket; // above the bound before, at or under its own
    double m_sum = 0;
    quint64 m_count = 0;
};

// A page in the Prometheus text format, version 0.0.4: each family its
// "# HELP" and "# TYPE" lines, then its samples, one a line, as
//   vantrel_sms_sent_total{route="COM1"} 12
// A family without samples is left out. Label values are escaped as the
// format asks (backslash, double quote, line feed), so that a folder's
// name cannot break the page.
class MetricsText
{
public:
    static constexpr auto ContentType = "text/plain; version=0.0.4; charset=utf-8";

    using Labels = QList<std::pair<QByteArray, QString>>;

    // Starts a family: type "counter", "gauge" or "histogram".
    void family(const QByteArray &name, const QByteArray &type, const QString &help);
    // A sample of the family started last.
    void sample(const Labels &labels, double value);
    // The _bucket, _sum and _count samples of a histogram family.
    void histogram(const Labels &labels, const Histogram &histogram);

    const QByteArray &text() const { return m_text; }

    // A value as the format writes it: "12", "0.25", "+Inf", "NaN".
    static QByteArray number(double value);

private:
    void line(const QByteArray &name, const Labels &labels, double value);

    QByteArray m_text;
    QByteArray m_name;
    QByteArray m_head; // the family's HELP and TYPE, written before its first sample
};
