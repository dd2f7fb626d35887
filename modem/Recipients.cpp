#include "modem/Recipients.h"

#include "store/Database.h"
#include "store/FieldValues.h"
#include "store/PhoneNumber.h"
#include "store/Statements.h"

namespace {

// On_Duty is a yes/no value; another tool may have written it as text. A
// null counts as off duty, as does anything that says neither yes nor no,
// which is said.
bool isOnDuty(const QVariant &value, bool *understood)
{
    *understood = true;
    if (value.isNull())
        return false;
    const QString text = value.toString().trimmed().toLower();
    bool isNumber = false;
    const double number = text.toDouble(&isNumber);
    if (isNumber && qIsFinite(number))
        return number != 0;
    static const QStringList yes = {QStringLiteral("true"), QStringLiteral("yes"), QStringLiteral("on")};
    static const QStringList no = {QStringLiteral("false"), QStringLiteral("no"), QStringLiteral("off"), QString()};
    if (yes.contains(text))
        return true;
    *understood = no.contains(text);
    return false;
}

} // namespace

void Recipients::GetPhoneNo()
{
    // Built aside so that a failing read leaves the old list in use rather
    // than half of a new one.
    QList<Recipient> list;
    QStringList complaints;
    Table table(Statements::Recipients);
    for (; !table.rs.Eof(); table.rs.MoveNext()) {
        const QString name = table.rs.Field(QStringLiteral("name")).toString();
        const QString number = table.rs.Field(QStringLiteral("Phone_No")).toString();
        const QString who = name.isEmpty() ? FieldValues::shown(number) : FieldValues::shown(name);
        bool understood = true;
        const bool on = isOnDuty(table.rs.Field(QStringLiteral("On_Duty")), &understood);
        if (!understood)
            complaints << QStringLiteral("The user %1 has \"%2\" for On_Duty, which is neither yes nor no; taken as "
                                         "off duty.")
                              .arg(who, FieldValues::shown(table.rs.Field(QStringLiteral("On_Duty")).toString()));
        if (!on)
            continue;
        Recipient recipient;
        recipient.stored = FieldValues::shown(number, PhoneNumber::MaxDigits * 2);
        recipient.number = PhoneNumber::normalized(number);
        recipient.name = FieldValues::shown(name.isEmpty() ? number : name, LongestName);
        if (recipient.name.isEmpty())
            recipient.name = QStringLiteral("(no name)");
        if (name.size() > LongestName)
            complaints << QStringLiteral("The user %1 has a name of %2 characters; it is shown by its first %3.")
                              .arg(FieldValues::shown(name))
                              .arg(name.size())
                              .arg(LongestName);
        list << recipient;
    }
    QStringList pairs;
    for (const Recipient &recipient : std::as_const(list))
        pairs << recipient.name << (recipient.sendable() ? recipient.number : recipient.stored);
    m_onDuty = list;
    m_phoneList = pairs;
    m_phoneCount = short(qMin<qsizetype>(pairs.size(), 32766));
    m_complaints = complaints;
}
