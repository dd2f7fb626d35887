#include "modem/ModemReply.h"

#include <QRegularExpression>

namespace ModemReply {

namespace {

bool isLineEnd(QChar c)
{
    return c == QLatin1Char('\r') || c == QLatin1Char('\n');
}

bool isOwn(const QString &line, const QStringList &ownLines)
{
    if (line.startsWith(QLatin1String("+CMS ERROR")) || line.startsWith(QLatin1String("+CME ERROR")))
        return true;
    return std::any_of(ownLines.cbegin(), ownLines.cend(), [&](const QString &own) { return line.startsWith(own); });
}

bool isUnsolicited(const QString &line, const QStringList &ownLines)
{
    return line == QLatin1String("RING") || (line.startsWith(QLatin1String("+C")) && !isOwn(line, ownLines));
}

// A status report in PDU mode ("+CDS: <length>") and an SMS passed on as it
// arrives ("+CMT: ...") are followed by a line of their own.
bool hasDataLine(const QString &line)
{
    static const QRegularExpression pduReport(QStringLiteral(R"(^\+CDS:\s*\d+\s*$)"));
    return line.startsWith(QLatin1String("+CMT:")) || pduReport.match(line).hasMatch();
}

// Where the line starting at `from` ends (its first CR or LF), -1 while it
// has not ended yet.
qsizetype lineEnd(const QString &buffer, qsizetype from)
{
    for (qsizetype i = from; i < buffer.size(); ++i) {
        if (isLineEnd(buffer[i]))
            return i;
    }
    return -1;
}

// Takes the unsolicited line starting at `at` out of `buffer`, with its
// data line; false when there is none there, or it has not ended yet.
bool takeAt(QString &buffer, qsizetype at, const QStringList &ownLines, QList<Unsolicited> &found)
{
    const qsizetype end = lineEnd(buffer, at);
    if (end < 0)
        return false;
    Unsolicited taken{buffer.mid(at, end - at), {}};
    if (!isUnsolicited(taken.line, ownLines))
        return false;
    qsizetype next = end;
    while (next < buffer.size() && isLineEnd(buffer[next]))
        ++next;
    if (hasDataLine(taken.line)) {
        const qsizetype dataEnd = lineEnd(buffer, next);
        if (dataEnd < 0)
            return false;
        taken.data = buffer.mid(next, dataEnd - next);
        next = dataEnd;
        while (next < buffer.size() && isLineEnd(buffer[next]))
            ++next;
    }
    buffer.remove(at, next - at);
    found << taken;
    return true;
}

} // namespace

qsizetype echoEnd(const QString &buffer, const QString &sent)
{
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
        return buffer.size();
    return bestStart + bestLength;
}

QString afterEcho(const QString &buffer, const QString &sent)
{
    return buffer.mid(echoEnd(buffer, sent));
}

Verdict judge(const QString &buffer, const QString &arrival, const QString &sent, const ModemCommand &command)
{
    if (command.expect == ModemCommand::Expect::OkInOneArrival) {
        if (arrival.contains(QLatin1String("OK")))
            return {Verdict::Given, {}, buffer.size()};
        return {};
    }
    // What the modem said, line by line; a line counts once its end is in.
    static const QRegularExpression finalError(QStringLiteral(R"((?:^|[\r\n])(\+CM[ES] ERROR:[^\r\n]*|ERROR)[\r\n])"));
    const qsizetype start = echoEnd(buffer, sent);
    const QString reply = buffer.mid(start);
    if (command.expect == ModemCommand::Expect::MessageSent) {
        static const QRegularExpression sentLines(QStringLiteral(R"(\+CMGS:[^\r\n]*[\r\n](.*[\r\n])?OK)"),
                                                  QRegularExpression::DotMatchesEverythingOption);
        static const QRegularExpression okLine(QStringLiteral(R"((?:^|[\r\n])OK(?:[\r\n]|$))"));
        const QRegularExpressionMatch given = sentLines.match(reply);
        if (given.hasMatch())
            return {Verdict::Given, {}, start + given.capturedEnd()};
        const QRegularExpressionMatch bare = okLine.match(reply);
        if (bare.hasMatch())
            return {Verdict::Refused,
                    QStringLiteral("the modem answered OK without a message reference: the message was not sent"),
                    start + bare.capturedEnd()};
    } else if (command.expect != ModemCommand::Expect::Pause) {
        const qsizetype at = reply.indexOf(command.expected);
        if (at >= 0)
            return {Verdict::Given, {}, start + at + command.expected.size()};
    }
    for (const QString &line : command.finalLines) {
        const QRegularExpression ending(
            QStringLiteral("(?:^|[\\r\\n])(%1)[\\r\\n]").arg(QRegularExpression::escape(line)));
        const QRegularExpressionMatch ended = ending.match(reply);
        if (ended.hasMatch())
            return {Verdict::Refused, line, start + ended.capturedEnd()};
    }
    const QRegularExpressionMatch error = finalError.match(reply);
    if (error.hasMatch())
        return {Verdict::Refused, error.captured(1).trimmed(), start + error.capturedEnd()};
    return {};
}

QList<Unsolicited> takeUnsolicited(QString &buffer, qsizetype from, const QStringList &ownLines, qsizetype *resume)
{
    QList<Unsolicited> found;
    qsizetype open = -1; // the first line that has not ended yet
    qsizetype at = from;
    while (at < buffer.size()) {
        const bool lineStart = at == from || isLineEnd(buffer[at - 1]);
        if (lineStart && !isLineEnd(buffer[at])) {
            if (takeAt(buffer, at, ownLines, found))
                continue;
            const qsizetype end = lineEnd(buffer, at);
            // A line still open, or one of the modem's own waiting for its
            // data line.
            if (open < 0 && (end < 0 || (isUnsolicited(buffer.mid(at, end - at), ownLines))))
                open = at;
        }
        ++at;
    }
    if (resume)
        *resume = open < 0 ? buffer.size() : open;
    return found;
}

QList<Unsolicited> takeLeading(QString &buffer, const QString &sent, const QStringList &ownLines)
{
    // Before the echo: the line ends that closed earlier replies, and lines
    // that crossed the command on the line. A line that is the beginning of
    // what was sent is its echo, whatever it says.
    QList<Unsolicited> found;
    for (;;) {
        qsizetype at = 0;
        while (at < buffer.size()
               && (isLineEnd(buffer[at]) || buffer[at] == QLatin1Char(' ') || buffer[at] == QLatin1Char('\x1b')))
            ++at;
        const qsizetype end = lineEnd(buffer, at);
        if (end < 0 || sent.startsWith(buffer.mid(at, end - at)) || !takeAt(buffer, at, ownLines, found))
            return found;
    }
}

} // namespace ModemReply
