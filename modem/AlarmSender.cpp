#include "modem/AlarmSender.h"

#include "modem/PageLog.h"
#include "modem/TraceList.h"
#include "store/UpdateCom.h"

#include <QDateTime>
#include <QLocale>
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
    , dialogue(MSComm1, trace, this)
    , history(this)
    , m_trace(trace)
    , m_pageLog(pageLog)
{
}

void AlarmSender::SendAlarm(const QString &AlarmMsg, const QString &UserName, const QString &Ph_No,
                            const std::function<void()> &whenDone)
{
    m_waiting.enqueue({AlarmMsg, UserName, Ph_No, whenDone});
    runWaiting();
}

void AlarmSender::releaseLine()
{
    // Sends asked for while the line was held go out once it is free.
    if (--m_holds == 0 && !m_waiting.isEmpty())
        QTimer::singleShot(0, this, &AlarmSender::runWaiting);
}

void AlarmSender::runWaiting()
{
    // Inside a dialogue's wait, or while a modem test holds the line, the
    // request waits; the dialogue under way sends it when it has ended.
    if (m_sending)
        return;
    m_sending = true;
    struct Idle {
        bool &sending;
        ~Idle() { sending = false; }
    } idle{m_sending};
    while (!m_waiting.isEmpty() && m_holds == 0) {
        const Request next = m_waiting.dequeue();
        emit sent(runSend(next.message, next.userName, next.number));
        if (next.whenDone)
            next.whenDone();
    }
}

bool AlarmSender::runSend(const QString &AlarmMsg, const QString &UserName, const QString &Ph_No)
{
    m_trace.Clear();
    m_trace.AddItem(QStringLiteral("Starting..."));
    try {
        UpdateCom::OpenModemPort(MSComm1, UpdateCom::ComPort);
    } catch (const CommError &error) {
        if (error.number() == CommError::InvalidOnOpenPort && MSComm1.portOpen())
            MSComm1.setPortOpen(false);
        error.report();
        return false;
    }
    m_trace.AddItem(QStringLiteral("Port Opened"));

    bool r = false;
    try {
        r = dialogue.sendIt(QStringLiteral("AT+CMGF=1"), QStringLiteral("OK"), QStringLiteral("ERROR"), 1);
        if (r)
            r = dialogue.sendIt(QStringLiteral("AT+CMGS=\"") + Ph_No + QLatin1Char('"'), QStringLiteral(">"),
                                QStringLiteral("ERROR"), 1);
        if (r)
            r = dialogue.sendIt(AlarmMsg + QChar(26), QStringLiteral("OK"), QStringLiteral("ERROR"), 1);
    } catch (const CommError &error) {
        // A step cut short by the port was not acknowledged, whatever the
        // steps before it said.
        r = false;
        m_pageLog.report(QStringLiteral("Send to %1 (%2) broken off: %3").arg(UserName, Ph_No, error.description()));
    }

    if (MSComm1.portOpen())
        MSComm1.setPortOpen(false);
    m_trace.AddItem(QStringLiteral("Done..."));

    if (r)
        logSend(AlarmMsg, UserName, Ph_No);
    return r;
}

void AlarmSender::logSend(const QString &AlarmMsg, const QString &UserName, const QString &Ph_No)
{
    m_pageLog.append(generalDateTime(QDateTime::currentDateTime()) + QStringLiteral("\r\n"));
    m_pageLog.append(QStringLiteral("Sending to ") + UserName + QStringLiteral(" (") + Ph_No + QStringLiteral(")\r\n"));
    m_pageLog.append(QStringLiteral("Message: ") + AlarmMsg + QStringLiteral("\r\n"));
    UpdateCom::AlarmRecord = UserName + QStringLiteral(" (") + Ph_No + QStringLiteral(")") + QStringLiteral("*** ") + AlarmMsg;
    try {
        history.AlarmLog();
    } catch (const AlarmHistory::Failure &failure) {
        m_pageLog.report(QStringLiteral("History not written: %1").arg(QString::fromStdString(failure.what())));
    }
}
