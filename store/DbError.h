#pragma once

#include <QString>
#include <stdexcept>

// A failure of a database operation: the operation ends at the step that
// failed and the error travels to whoever reports it to the user.
class DbError : public std::runtime_error
{
public:
    DbError(int number, const QString &description);

    int number() const { return m_number; }
    QString description() const { return m_description; }

    // "Error 3024: Could not find file ..." - the form used in message boxes.
    QString text() const;

private:
    int m_number;
    QString m_description;
};
