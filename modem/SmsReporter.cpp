#include "modem/SmsReporter.h"

#include "modem/PageLog.h"
#include "modem/Recipients.h"
#include "modem/SmsPdu.h"
#include "store/Clock.h"
#include "store/CommError.h"
#include "store/DbError.h"
#include "store/FieldValues.h"
#include "store/Outbox.h"
#include "store/PhoneNumber.h"

#include <QDateTime>
#include <QLocale>

namespace {

// The system's general date-and-time form: short date, a blank, long time;
// midnight shows the date alone.
QString generalDateTime(const QDateTime &now)
{
    const QLocale locale = QLocale::system();
    QString date = locale.toString(now.date(), QLocale::ShortFormat);
    if (now.time() == QTime(0, 0))
        return date;
    QString timeFormat = locale.timeFormat(QLocale::LongFormat);
    timeFormat.remove(QLatin1Char('t'));
    return date + QLatin1Char(' ') + locale.toString(now.time(), timeFormat.trimmed());
}

// The history keeps the alert's own bytes; a text typed in the Settings
// window goes in Latin-1 where it can be, else in UTF-8.
QByteArray historyBytes(const SmsRequest &request)
{
    if (!request.messageBytes.isEmpty())
        return request.messageBytes;
    const QByteArray latin1 = request.text.toLatin1();
    return QString::fromLatin1(latin1) == request.text ? latin1 : request.text.toUtf8();
}

} // namespace

SmsReporter::SmsReporter(PageLog &pageLog, Outbox &outbox, QObject *parent)
    : QObject(parent)
    , m_pageLog(pageLog)
    , m_outbox(outbox)
    , m_history(this)
{
}

void SmsReporter::alterations(const QString &text)
{
    const QString sendable = SmsSendJob::sendableText(text);
    if (sendable != text)
        m_pageLog.report(
            QStringLiteral("The text \"%1\" held Ctrl-Z, ESC or NUL, which would end or cancel the message "
                           "at the modem; they are sent as spaces.")
                .arg(sendable.left(80)));
    if (SmsPdu::needsPduMode(sendable) && SmsPdu::encode(QStringLiteral("0"), sendable, 0).cut)
        m_pageLog.report(QStringLiteral("The text \"%1...\" is longer than %2 SMS; it is cut at the end of the last "
                                        "with \"...\".")
                             .arg(sendable.left(80))
                             .arg(SmsPdu::MaxParts));
}

void SmsReporter::sent(const SmsRequest &request, const SendOutcome &outcome)
{
    const QString number = PhoneNumber::normalized(request.number);
    m_pageLog.append(generalDateTime(Clock::now()) + QStringLiteral("\r\n"));
    QString line = QStringLiteral("Sending to ") + request.name + QStringLiteral(" (") + number + QLatin1Char(')');
    if (m_nameRoutes && !outcome.route.isEmpty())
        line += QStringLiteral(" via ") + outcome.route;
    m_pageLog.append(line + QStringLiteral("\r\n"));
    m_pageLog.append(QStringLiteral("Message: ") + request.text + QStringLiteral("\r\n"));
    emit smsSent(request.id, outcome.route);
    const QByteArray record = request.name.toLatin1() + " (" + number.toLatin1() + ")*** " + historyBytes(request);
    // A history that cannot be written is said once, until it can again.
    try {
        m_history.AlarmLog(record);
    } catch (const AlarmHistory::Failure &failure) {
        m_pageLog.reportOnce(QStringLiteral("history"),
                             QStringLiteral("History not written: %1").arg(QString::fromStdString(failure.what())));
        return;
    }
    m_pageLog.clearReport(QStringLiteral("history"));
}

void SmsReporter::notSent(const QString &text, const QString &name, const QString &number, const QString &reason)
{
    m_pageLog.append(generalDateTime(Clock::now()) + QStringLiteral("\r\n"));
    m_pageLog.append(QStringLiteral("Not sent to %1 (%2): %3\r\n")
                         .arg(FieldValues::shown(name, Recipients::LongestName),
                              FieldValues::shown(number, PhoneNumber::MaxDigits * 2), reason));
    m_pageLog.append(QStringLiteral("Message: ") + SmsSendJob::sendableText(text) + QStringLiteral("\r\n"));
}

void SmsReporter::givenUp(const QString &name, const QString &number, int tries, const QString &reason)
{
    m_pageLog.report(
        QStringLiteral("Given up sending to %1 (%2) after %3 tries: %4").arg(name, number).arg(tries).arg(reason));
    emit gaveUp(name, number, reason);
}

void SmsReporter::delivered(const QString &name, const QString &number, const QDateTime &at)
{
    // The phone's time of delivery where the report gives one.
    const QDateTime when = at.isValid() ? at.toLocalTime() : Clock::now();
    m_pageLog.report(QStringLiteral("Delivered to %1 (%2) at %3").arg(name, number, generalDateTime(when)));
}

void SmsReporter::notDelivered(const QString &name, const QString &number, const QString &reason, bool sentAgain)
{
    QString line = QStringLiteral("Not delivered to %1 (%2): %3").arg(name, number, reason);
    if (sentAgain)
        line += QStringLiteral("; sent once more by another modem");
    m_pageLog.report(line);
}

void SmsReporter::noReport(const QString &name, const QString &number, qint64 minutes)
{
    m_pageLog.report(
        QStringLiteral("No delivery report from %1 (%2) within %3 minutes").arg(name, number).arg(minutes));
}

void SmsReporter::tried(const SendOutcome &outcome)
{
    // Shown without waiting for a click: the relay goes on meanwhile.
    if (outcome.portError != 0)
        CommError(outcome.portError, outcome.reason).notify();
    emit smsTried(outcome.sent, outcome.route);
}

void SmsReporter::updateCounts()
{
    Outbox::Counts counts;
    try {
        counts = m_outbox.counts(Clock::nowUtc().addSecs(-GivenUpShownSecs));
    } catch (const DbError &) {
        return; // said where the outbox failed
    }
    if (counts == m_counts)
        return;
    m_counts = counts;
    emit deliveryChanged(m_counts.retrying, m_counts.givenUp);
}
