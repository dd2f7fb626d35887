#pragma once

#include <QStringList>

// The on-duty users as name/number pairs: a name at an even index, that
// user's number at the next. Rebuilt from USERS at start-up and after every
// change to the users.
class Recipients
{
public:
    void GetPhoneNo();

    QStringList PhoneList;
    short PhoneCount = 0;
};
