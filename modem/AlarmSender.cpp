#include "modem/AlarmSender.h"

#include "modem/PageLog.h"
#include "modem/TraceList.h"
#include "store/Clock.h"
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
    const QString date = locale.toString(now.date(), QLocale::ShortFormat);
    if (now.time() == QTime(0, 0))
        return date;
    QString timeFormat = locale.timeFormat(QLocale::LongFormat);
    timeFormat.remove(QLatin1Char('t'));
    return date + QLatin1Char(' ') + locale.toString(now.time(), timeFormat.trimmed());
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

SendOutcome AlarmSender::send(const QString &AlarmMsg, const QString &UserName, const QString &Ph_No)
{
    runWaiting();
    return runOne(AlarmMsg, UserName, Ph_No);
}

void AlarmSender::SendAlarm(const QString &AlarmMsg, const QString &UserName, const QString &Ph_No,
                            const std::function<void()> &whenDone)
{
    m_waiting.enqueue({AlarmMsg, UserName, Ph_No, whenDone});
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
        if (sendableText(next.message) != next.message)
            reportTextChanged(next.message);
        const SendOutcome outcome = runOne(next.message, next.userName, next.number);
        if (!outcome.sent)
            reportNotSent(next.message, next.userName, next.number, outcome.reason);
        if (next.whenDone)
            next.whenDone();
    }
}

SendOutcome AlarmSender::runOne(const QString &AlarmMsg, const QString &UserName, const QString &Ph_No)
{
    SendOutcome outcome;
    {
        const QScopedValueRollback<bool> sending(m_sending, true);
        outcome = runSend(sendableText(AlarmMsg), UserName, Ph_No);
    }
    emit sent(outcome.sent);
    // Requests that came in during this dialogue's waits.
    if (!m_waiting.isEmpty())
        QTimer::singleShot(0, this, &AlarmSender::runWaiting);
    return outcome;
}

SendOutcome AlarmSender::runSend(const QString &AlarmMsg, const QString &UserName, const QString &Ph_No)
{
    m_trace.Clear();
    m_trace.AddItem(QStringLiteral("Starting..."));
    try {
        UpdateCom::OpenModemPort(MSComm1, UpdateCom::ComPort);
    } catch (const CommError &error) {
        if (error.number() == CommError::InvalidOnOpenPort && MSComm1.portOpen())
            MSComm1.setPortOpen(false);
        // Shown without waiting for a click: the relay goes on meanwhile.
        error.notify();
        return {false, error.description()};
    }
    m_trace.AddItem(QStringLiteral("Port Opened"));

    bool r = false;
    QString reason;
    try {
        // A dialogue cut short (the program killed while the modem waited
        // for a message text) may have left the modem at its prompt: ESC
        // cancels that message, so that nothing of this dialogue becomes its
        // text. A modem in command state ignores it.
        MSComm1.output(QString(QChar(27)));
        r = m_dialogue.sendIt(QStringLiteral("AT+CMGF=1"), QStringLiteral("OK"), QStringLiteral("ERROR"), 1);
        if (r)
            r = m_dialogue.sendIt(QStringLiteral("AT+CMGS=\"") + Ph_No + QLatin1Char('"'), QStringLiteral(">"),
                                QStringLiteral("ERROR"), 1);
        if (r)
            r = m_dialogue.sendIt(AlarmMsg + QChar(26), QStringLiteral("OK"), QStringLiteral("ERROR"), 1);
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
        return {false, reason};
    logSend(AlarmMsg, UserName, Ph_No);
    return {true, QString()};
}

void AlarmSender::logSend(const QString &AlarmMsg, const QString &UserName, const QString &Ph_No)
{
    m_pageLog.append(generalDateTime(Clock::now()) + QStringLiteral("\r\n"));
    m_pageLog.append(QStringLiteral("Sending to ") + UserName + QStringLiteral(" (") + Ph_No + QStringLiteral(")\r\n"));
    m_pageLog.append(QStringLiteral("Message: ") + AlarmMsg + QStringLiteral("\r\n"));
    UpdateCom::AlarmRecord = UserName + QStringLiteral(" (") + Ph_No + QStringLiteral(")") + QStringLiteral("*** ") + AlarmMsg;
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
    m_pageLog.append(QStringLiteral("Not sent to %1 (%2): %3\r\n").arg(UserName, Ph_No, reason));
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

void AlarmSender::reportTextChanged(const QString &text)
{
    m_pageLog.report(QStringLiteral("The text \"%1\" held Ctrl-Z, ESC or NUL, which would end or cancel the message at "
                                    "the modem; they are sent as spaces.")
                         .arg(sendableText(text).left(80)));
}
