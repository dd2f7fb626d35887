#include "store/DbError.h"

DbError::DbError(int number, const QString &description)
    : std::runtime_error(description.toStdString())
    , m_number(number)
    , m_description(description)
{
}

QString DbError::text() const
{
    return QStringLiteral("Error %1: %2").arg(m_number).arg(m_description);
}
