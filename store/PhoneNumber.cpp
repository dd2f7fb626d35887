#include "store/PhoneNumber.h"

namespace PhoneNumber {

QString normalized(const QString &typed)
{
    const QString text = typed.trimmed();
    QString number;
    number.reserve(text.size());
    int digits = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        // Only ASCII digits: a modem knows no other.
        if (c >= QLatin1Char('0') && c <= QLatin1Char('9')) {
            number += c;
            ++digits;
        } else if (c == QLatin1Char('+') && number.isEmpty()) {
            number += c;
        } else if (c != QLatin1Char(' ') && c != QLatin1Char('-') && c != QLatin1Char('.') && c != QLatin1Char('(')
                   && c != QLatin1Char(')')) {
            return {};
        }
        if (digits > MaxDigits)
            return {};
    }
    if (digits < MinDigits)
        return {};
    return number;
}

namespace {

QString digitsOf(const QString &number)
{
    QString digits;
    for (const QChar c : number) {
        if (c.isDigit())
            digits += c;
    }
    return digits;
}

} // namespace

bool sameNumber(const QString &a, const QString &b)
{
    const QString x = digitsOf(a);
    const QString y = digitsOf(b);
    const qsizetype shorter = qMin(x.size(), y.size());
    if (shorter < 6)
        return x == y;
    return x.right(shorter) == y.right(shorter);
}

} // namespace PhoneNumber
