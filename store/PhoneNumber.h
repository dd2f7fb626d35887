#pragma once

#include <QString>

// A phone number as the modem must get it: an optional leading "+" and 3 to
// 20 digits, nothing else. People write numbers with spaces, dashes, dots and
// round brackets between the digits; those are dropped. Anything else (a
// quote, a line end, a letter) makes the text no phone number at all, so that
// no typed or stored text can ever become part of an AT command.
namespace PhoneNumber {

constexpr int MinDigits = 3;
constexpr int MaxDigits = 20;

// The number as it goes to the modem, or a null QString when `typed` is not
// a phone number.
QString normalized(const QString &typed);

inline bool isValid(const QString &typed)
{
    return !normalized(typed).isNull();
}

// Whether two numbers are one phone's, by their digits: the shorter may
// lack the country code; a short number only matches as a whole.
bool sameNumber(const QString &a, const QString &b);

// What the Settings window says when a typed number is not one.
inline QString refusalText()
{
    return QStringLiteral("Please enter a phone number: digits, with an optional + in front.");
}

} // namespace PhoneNumber
