#include "store/FieldValues.h"

#include "store/DbError.h"

namespace {

constexpr int Overflow = 6;
constexpr int TypeMismatch = 13;
constexpr int InvalidUseOfNull = 94;

void requireValue(const QVariant &value, const char *field)
{
    if (value.isNull())
        throw DbError(InvalidUseOfNull, QStringLiteral("Invalid use of Null (field %1)").arg(QLatin1String(field)));
}

} // namespace

namespace FieldValues {

short toShort(const QVariant &value, const char *field)
{
    requireValue(value, field);
    bool ok = false;
    const qlonglong number = value.toLongLong(&ok);
    if (!ok)
        throw DbError(TypeMismatch, QStringLiteral("Type mismatch (field %1)").arg(QLatin1String(field)));
    if (number < -32768 || number > 32767)
        throw DbError(Overflow, QStringLiteral("Overflow (field %1)").arg(QLatin1String(field)));
    return short(number);
}

QString toText(const QVariant &value, const char *field)
{
    requireValue(value, field);
    return value.toString();
}

} // namespace FieldValues

QString FieldValues::shown(const QString &text, qsizetype longest)
{
    QString out = text.size() > longest ? text.left(longest) + QStringLiteral("...") : text;
    for (QChar &c : out) {
        if (c.category() == QChar::Other_Control)
            c = QLatin1Char('?');
    }
    return out;
}
