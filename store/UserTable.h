#pragma once

#include <QList>
#include <QString>

// The USERS table as the Settings window keeps it: the people who may
// receive alerts, told apart by name alone, since names need not be unique
// and the table has no key. Each call opens and releases a connection of
// its own; a failure is thrown as DbError.
namespace UserTable {

struct User {
    QString name;
    QString phoneNo;
    bool onDuty = false;
};

// Every user, in the order the table returns them.
QList<User> rows();

// Appends a user. On_Duty is left to the table's default: a new user is off
// duty until edited.
void add(const QString &name, const QString &phoneNo);

bool isEmpty();

// Puts the user of this name and stored number on or off duty.
void setOnDuty(const QString &name, const QString &phoneNo, bool onDuty);

// Removes every user whose name is exactly `name`, letter case counted.
void removeNamed(const QString &name);

} // namespace UserTable
