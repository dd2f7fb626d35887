#include "modem/AlarmSender.h"

#include "modem/PageLog.h"
#include "modem/Recipients.h"
#include "modem/SmsPdu.h"
#include "modem/TraceList.h"
#include "store/Clock.h"
#include "store/FieldValues.h"
#include "store/PhoneNumber.h"
#include "store/UpdateCom.h"

#include <QDateTime>
#include <QLocale>
#include <QScopedValueRollback>
#include <QTimer>

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
QByteArray historyBytes(const SmsJob &job)
{
    if (!job.messageBytes.isEmpty())
        return job.messageBytes;
    const QByteArray latin1 = job.text.toLatin1();
    return QString::fromLatin1(latin1) == job.text ? latin1 : job.text.toUtf8();
}

} // namespace

AlarmSender::AlarmSender(TraceList &trace, PageLog &pageLog, QObject *parent)
    : QObject(parent)
    , MSComm1(this)
    , m_dialogue(MSComm1, trace, this)
    , m_history(this)
    , m_trace(trace)
    , m_pageLog(pageLog)
{
}

SendOutcome AlarmSender::send(const SmsJob &job)
{
    runWaiting();
    return runOne(job);
}

void AlarmSender::SendAlarm(const QString &AlarmMsg, const QString &UserName, const QString &Ph_No,
                            const std::function<void()> &whenDone)
{
    SmsJob job{AlarmMsg, UserName, Ph_No, {}, ++m_nextReference, 0};
    m_waiting.enqueue({job, whenDone});
    runWaiting();
}

void AlarmSender::releaseLine()
{
    if (--m_holds > 0)
        return;
    // Sends asked for while the line was held go out once it is free.
    if (!m_waiting.isEmpty())
        QTimer::singleShot(0, this, &AlarmSender::runWaiting);
    emit lineFree();
}

void AlarmSender::runWaiting()
{
    // Inside a dialogue's wait, or while a modem test holds the line, the
    // requests wait; they go out as soon as the line is free.
    while (!m_waiting.isEmpty() && !busy()) {
        const Request next = m_waiting.dequeue();
        reportAlterations(next.job.text);
        const SendOutcome outcome = runOne(next.job);
        if (!outcome.sent)
            reportNotSent(next.job.text, next.job.name, next.job.number, outcome.reason);
        if (next.whenDone)
            next.whenDone();
    }
}

SendOutcome AlarmSender::runOne(const SmsJob &job)
{
    SmsJob sendable = job;
    sendable.text = sendableText(job.text);
    // Nothing but digits and one leading "+" ever reaches the modem from a
    // number: a quote or a line end in it would end the command and make
    // the rest a command of its own.
    sendable.number = PhoneNumber::normalized(job.number);
    if (sendable.number.isNull())
        return {false, QStringLiteral("not a phone number"), job.partsSent};
    SendOutcome outcome;
    {
        const QScopedValueRollback<bool> sending(m_sending, true);
        outcome = runSend(sendable);
    }
    emit sent(outcome.sent);
    // Requests that came in during this dialogue's waits.
    if (!m_waiting.isEmpty())
        QTimer::singleShot(0, this, &AlarmSender::runWaiting);
    return outcome;
}

SendOutcome AlarmSender::runSend(const SmsJob &job)
{
    m_trace.Clear();
    m_trace.AddItem(QStringLiteral("Starting..."));
    const bool pdu = SmsPdu::needsPduMode(job.text);
    QList<QByteArray> parts;
    QList<int> lengths;
    if (pdu) {
        const SmsPdu::Message message = SmsPdu::encode(job.number, job.text, job.reference);
        if (!message.error.isEmpty())
            return {false, message.error, job.partsSent};
        for (const SmsPdu::Part &part : message.parts) {
            parts << part.hex;
            lengths << part.tpduLength;
        }
    }
    try {
        UpdateCom::OpenModemPort(MSComm1, UpdateCom::ComPort);
    } catch (const CommError &error) {
        if (error.number() == CommError::InvalidOnOpenPort && MSComm1.portOpen())
            MSComm1.setPortOpen(false);
        // Shown without waiting for a click: the relay goes on meanwhile.
        error.notify();
        return {false, error.description(), job.partsSent};
    }
    m_trace.AddItem(QStringLiteral("Port Opened"));

    bool r = false;
    QString reason;
    quint32 partsSent = job.partsSent;
    try {
        // A dialogue cut short (the program killed while the modem waited
        // for a message text) may have left the modem at its prompt: ESC
        // cancels that message, so that nothing of this dialogue becomes its
        // text. A modem in command state ignores it.
        MSComm1.output(QString(QChar(27)));
        r = pdu ? pduSteps(parts, lengths, partsSent) : textSteps(job);
        if (!r)
            reason = m_dialogue.failure();
    } catch (const CommError &error) {
        // A step cut short by the port was not acknowledged, whatever the
        // steps before it said.
        r = false;
        reason = QStringLiteral("the line to the modem was lost (%1)").arg(error.description());
    }

    if (MSComm1.portOpen())
        MSComm1.setPortOpen(false);
    m_trace.AddItem(QStringLiteral("Done..."));

    if (!r)
        return {false, reason, partsSent};
    logSend(job);
    return {true, QString(), partsSent};
}

bool AlarmSender::textSteps(const SmsJob &job)
{
    return m_dialogue.sendIt(QStringLiteral("AT+CMGF=1"), QStringLiteral("OK"), QStringLiteral("ERROR"), 1)
           && m_dialogue.sendIt(QStringLiteral("AT+CMGS=\"") + job.number + QLatin1Char('"'), QStringLiteral(">"),
                                QStringLiteral("ERROR"), 1)
           && m_dialogue.sendIt(job.text + QChar(26), QStringLiteral("OK"), QStringLiteral("ERROR"), 1);
}

bool AlarmSender::pduSteps(const QList<QByteArray> &parts, const QList<int> &lengths, quint32 &partsSent)
{
    if (!m_dialogue.sendIt(QStringLiteral("AT+CMGF=0"), QStringLiteral("OK"), QStringLiteral("ERROR"), 1))
        return false;
    // Each part its own step with its own acknowledgement; a part that went
    // out on an earlier try is not sent again.
    for (qsizetype i = 0; i < parts.size(); ++i) {
        const quint32 bit = 1u << i;
        if (partsSent & bit)
            continue;
        if (!m_dialogue.sendIt(QStringLiteral("AT+CMGS=%1").arg(lengths[i]), QStringLiteral(">"),
                               QStringLiteral("ERROR"), 1)
            || !m_dialogue.sendIt(QString::fromLatin1(parts[i]) + QChar(26), QStringLiteral("OK"),
                                  QStringLiteral("ERROR"), 1))
            return false;
        partsSent |= bit;
    }
    return true;
}

void AlarmSender::logSend(const SmsJob &job)
{
    m_pageLog.append(generalDateTime(Clock::now()) + QStringLiteral("\r\n"));
    m_pageLog.append(QStringLiteral("Sending to ") + job.name + QStringLiteral(" (") + job.number
                     + QStringLiteral(")\r\n"));
    m_pageLog.append(QStringLiteral("Message: ") + job.text + QStringLiteral("\r\n"));
    UpdateCom::AlarmRecord = job.name.toLatin1() + " (" + job.number.toLatin1() + ")*** " + historyBytes(job);
    // A history that cannot be written is said once, until it can again.
    try {
        m_history.AlarmLog();
    } catch (const AlarmHistory::Failure &failure) {
        m_pageLog.reportOnce(QStringLiteral("history"),
                             QStringLiteral("History not written: %1").arg(QString::fromStdString(failure.what())));
        return;
    }
    m_pageLog.clearReport(QStringLiteral("history"));
}

void AlarmSender::reportNotSent(const QString &AlarmMsg, const QString &UserName, const QString &Ph_No,
                                const QString &reason)
{
    m_pageLog.append(generalDateTime(Clock::now()) + QStringLiteral("\r\n"));
    m_pageLog.append(QStringLiteral("Not sent to %1 (%2): %3\r\n")
                         .arg(FieldValues::shown(UserName, Recipients::LongestName),
                              FieldValues::shown(Ph_No, PhoneNumber::MaxDigits * 2), reason));
    m_pageLog.append(QStringLiteral("Message: ") + sendableText(AlarmMsg) + QStringLiteral("\r\n"));
}

QString AlarmSender::sendableText(const QString &text)
{
    QString sendable = text;
    for (QChar &c : sendable) {
        if (c == QChar(0x1A) || c == QChar(0x1B) || c == QChar(0))
            c = QLatin1Char(' ');
    }
    return sendable;
}

void AlarmSender::reportAlterations(const QString &text)
{
    const QString sendable = sendableText(text);
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
