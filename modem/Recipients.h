#pragma once

#include <QStringList>

// The on-duty users as name/number pairs: a name at an even index, that
// user's number at the next. Rebuilt from USERS at start-up and after every
// change to the users.
class Recipients
{
public:
    void GetPhoneNo();

    const QStringList &PhoneList() const { return m_phoneList; }
    short PhoneCount() const { return m_phoneCount; }
    // The pairs in use: the first PhoneCount entries.
    QStringList onDuty() const { return m_phoneList.mid(0, m_phoneCount); }

private:
    QStringList m_phoneList;
    short m_phoneCount = 0;
};
