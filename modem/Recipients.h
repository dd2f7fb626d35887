#pragma once

#include <QList>
#include <QStringList>

// The on-duty users, rebuilt from USERS at start-up and after every change
// to the users. Every on-duty row is a recipient, whatever it holds: a row
// without a name is sent under its number, and a row whose number is no
// phone number is kept too, so that each alert can say that this person gets
// nothing. No row can stop the others being served.
class Recipients
{
public:
    struct Recipient {
        QString name;   // as the page log and the history show it: the number where there is no name
        QString number; // as it goes to the modem; null when the stored text is not a phone number
        QString stored; // the number as stored, control bytes as "?", for the page log
        bool sendable() const { return !number.isNull(); }
    };

    // Names longer than this are shown by their beginning.
    static constexpr qsizetype LongestName = 100;

    void GetPhoneNo();

    // Name/number pairs of the on-duty users: a name at an even index, that
    // user's number at the next (the stored text where it is no number).
    const QStringList &PhoneList() const { return m_phoneList; }
    short PhoneCount() const { return m_phoneCount; }
    const QList<Recipient> &onDuty() const { return m_onDuty; }

    // What the last load found wrong with a row, one line each for the page
    // log; the row is still taken as well as it can be.
    const QStringList &complaints() const { return m_complaints; }

private:
    QList<Recipient> m_onDuty;
    QStringList m_phoneList;
    short m_phoneCount = 0;
    QStringList m_complaints;
};
