#pragma once

#include <QString>
#include <QVariant>

// Field values of Config.mdb as the program reads them: a value that is not
// there, not a number or too big for a 16-bit number ends the operation with
// the error numbers the program has always reported for those cases.
namespace FieldValues {

short toShort(const QVariant &value, const char *field);
QString toText(const QVariant &value, const char *field);

// A stored text as the page log may show it: control bytes (a line end that
// would forge a line of its own) as "?", and a text longer than `longest`
// cut there with "...".
QString shown(const QString &text, qsizetype longest = 80);

} // namespace FieldValues
