#include "modem/ModemDialogue.h"

#include "modem/TraceList.h"
#include "store/MSComm.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

namespace {

// A trace line shows the whole reply so far. A device that pours out bytes
// (a wrong speed, something other than a modem on the port) would make each
// line longer than the last; past this length only the end is shown.
constexpr qsizetype LongestShownReply = 1024;

QString shownReply(const QString &buffer)
{
    if (buffer.size() <= LongestShownReply)
        return buffer;
    return QStringLiteral("...") + buffer.right(LongestShownReply);
}

} // namespace

ModemDialogue::ModemDialogue(MSComm &port, TraceList &trace, QObject *parent)
    : QObject(parent)
    , m_port(port)
    , m_trace(trace)
{
    connect(&m_port, &MSComm::OnComm, this, &ModemDialogue::MSComm1_OnComm);
}

bool ModemDialogue::sendIt(const QString &s, const QString &ok, const QString & /*eror*/, int TOut)
{
    ExpectedReply = ok;
    m_trace.AddItem(QStringLiteral("Sending..") + s);
    m_sent = s + QLatin1Char('\r');
    m_port.output(m_sent);
    const qint64 limit = qint64(TOut) * m_timeUnitMs;
    // No event runs between the write and here, so every byte of the answer
    // lands in the emptied buffer.
    ReplyDone = false;
    ReplyBuffer.clear();

    QElapsedTimer clock;
    clock.start();
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);
    deadline.start(int(qMax<qint64>(limit, 0)));
    for (;;) {
        if (ReplyDone)
            return true;
        if (clock.elapsed() >= limit) {
            m_trace.AddItem(QStringLiteral("Timeout..."));
            ReplyDone = true;
            return false;
        }
        if (!m_port.portOpen())
            throw CommError(CommError::ReadFailed);
        // Sleeps until the modem, the deadline or anything else has news.
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
}

void ModemDialogue::MSComm1_OnComm()
{
    m_trace.AddItem(QStringLiteral("In OnComm"));
    if (m_port.commEvent() != MSComm::comEvReceive || !m_port.portOpen())
        return;
    ReplyBuffer += m_port.input();

    // Only what the modem says after its echo counts: an alert text holding
    // "OK" or ">" must not pass for the modem's answer.
    const QString reply = afterEcho(ReplyBuffer, m_sent);
    if (reply.contains(ExpectedReply)) {
        ReplyDone = true;
        m_trace.AddItem(QStringLiteral("--> ") + shownReply(ReplyBuffer));
    } else if (reply.contains(QLatin1String("ERROR"))) {
        ReplyDone = false;
        m_trace.AddItem(QStringLiteral("Err--->") + shownReply(ReplyBuffer));
    } else if (reply.contains(QLatin1Char('>'))) {
        ReplyDone = true;
        m_trace.AddItem(QStringLiteral(">>---> ") + shownReply(ReplyBuffer));
    } else {
        m_trace.AddItem(QStringLiteral("?---> ") + shownReply(ReplyBuffer));
    }
}

QString ModemDialogue::afterEcho(const QString &buffer, const QString &sent)
{
    // The buffer may start with the line end that closed the previous reply,
    // or the echo of the ESC that opens a dialogue; the echo of the command,
    // when the modem echoes, follows.
    qsizetype lead = 0;
    static const QString Leading = QStringLiteral("\r\n \x1b");
    while (lead < buffer.size() && Leading.contains(buffer[lead]))
        ++lead;

    qsizetype bestStart = 0;
    qsizetype bestLength = 0;
    for (qsizetype start = 0; start <= lead; ++start) {
        qsizetype length = 0;
        while (start + length < buffer.size() && length < sent.size() && buffer[start + length] == sent[length])
            ++length;
        if (length > bestLength) {
            bestStart = start;
            bestLength = length;
        }
    }
    // All that came so far is the beginning of the echo: the modem has not
    // answered yet.
    if (bestLength > 0 && bestStart + bestLength == buffer.size() && bestLength < sent.size())
        return QString();
    return buffer.mid(bestStart + bestLength);
}
