#include "modem/ModemDialogue.h"

#include "modem/TraceList.h"
#include "store/EventWait.h"
#include "store/MSComm.h"

#include <QRegularExpression>

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
    m_expectedReply = ok;
    m_trace.AddItem(QStringLiteral("Sending..") + s);
    m_sent = s + QLatin1Char('\r');
    m_port.output(m_sent);
    const qint64 limit = qint64(TOut) * m_timeUnitMs;
    // No event runs between the write and here, so every byte of the answer
    // lands in the emptied buffer.
    m_replyDone = false;
    m_refused = false;
    m_failure.clear();
    m_replyBuffer.clear();

    const bool ended =
        EventWait::until([this] { return m_replyDone || !m_port.portOpen(); }, limit, EventWait::NoUserInput);
    if (ended && m_replyDone)
        return !m_refused;
    if (ended)
        throw CommError(CommError::ReadFailed);
    m_trace.AddItem(QStringLiteral("Timeout..."));
    m_replyDone = true;
    m_failure = QStringLiteral("no answer from the modem within %1 s").arg(double(limit) / 1000.0);
    return false;
}

void ModemDialogue::MSComm1_OnComm()
{
    m_trace.AddItem(QStringLiteral("In OnComm"));
    if (m_port.commEvent() != MSComm::comEvReceive || !m_port.portOpen())
        return;
    m_replyBuffer += m_port.input();

    switch (judge(afterEcho(m_replyBuffer, m_sent))) {
    case Outcome::Given:
        m_replyDone = true;
        m_trace.AddItem(QStringLiteral("--> ") + shownReply(m_replyBuffer));
        break;
    case Outcome::Refused:
        m_replyDone = true;
        m_refused = true;
        m_trace.AddItem(QStringLiteral("Err--->") + shownReply(m_replyBuffer));
        break;
    case Outcome::Pending:
        m_trace.AddItem(QStringLiteral("?---> ") + shownReply(m_replyBuffer));
        break;
    }
}

ModemDialogue::Outcome ModemDialogue::judge(const QString &reply)
{
    // What the modem said, line by line; a line counts once its end is in.
    static const QRegularExpression finalError(QStringLiteral(R"((?:^|[\r\n])(\+CM[ES] ERROR:[^\r\n]*|ERROR)[\r\n])"));
    const bool message = m_sent.endsWith(QStringLiteral("\x1a\r"));
    if (message) {
        static const QRegularExpression sent(QStringLiteral(R"(\+CMGS:[^\r\n]*[\r\n](.*[\r\n])?OK)"),
                                             QRegularExpression::DotMatchesEverythingOption);
        static const QRegularExpression okLine(QStringLiteral(R"((?:^|[\r\n])OK(?:[\r\n]|$))"));
        if (sent.match(reply).hasMatch())
            return Outcome::Given;
        if (okLine.match(reply).hasMatch()) {
            m_failure = QStringLiteral("the modem answered OK without a message reference: the message was not sent");
            return Outcome::Refused;
        }
    } else if (reply.contains(m_expectedReply)) {
        return Outcome::Given;
    }
    const QRegularExpressionMatch error = finalError.match(reply);
    if (error.hasMatch()) {
        m_failure = error.captured(1).trimmed();
        return Outcome::Refused;
    }
    return Outcome::Pending;
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
