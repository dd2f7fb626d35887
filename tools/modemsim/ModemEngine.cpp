#include "ModemEngine.h"

#include <utility>

namespace {
constexpr char CtrlZ = 0x1A;
constexpr char Esc = 0x1B;
const QByteArray Prompt = "\r\n> ";
} // namespace

ModemEngine::ModemEngine()
    : ModemEngine(Options())
{
}

ModemEngine::ModemEngine(const Options &options, QObject *parent)
    : QObject(parent)
    , m_options(options)
    , m_random(options.seed)
    , m_echo(options.echo)
{
    m_sinceStart.start();
}

void ModemEngine::powerOn()
{
    m_state = State::Command;
    m_echo = m_options.echo;
    m_textMode = false;
    m_dropped = false;
    m_line.clear();
    m_lineTooLong = false;
    m_text.clear();
    m_textTooLong = false;
    m_dropAt = -1;
}

QByteArray ModemEngine::feed(QByteArrayView input)
{
    QByteArray out;
    if (m_options.silent)
        return out;
    for (const char c : input) {
        // Once the line is down the rest of what was written is lost with it.
        if (m_dropped)
            break;
        if (m_state == State::Text)
            textByte(c, out);
        else
            commandByte(c, out);
    }
    return out;
}

void ModemEngine::commandByte(char c, QByteArray &out)
{
    if (m_state == State::Ignoring) {
        if (c == '\r')
            m_state = State::Command;
        return;
    }
    // ESC cancels a message being typed; in command state it means nothing.
    if (c == Esc)
        return;
    // Whether a command is heard at all is settled by its first byte, so an
    // ignored command leaves no echo either.
    if (m_line.isEmpty() && !m_lineTooLong && c != '\r' && c != '\n' && chance(m_options.silentRate)) {
        m_state = State::Ignoring;
        emit logged(QStringLiteral("(ignoring a command)"));
        return;
    }
    if (m_echo)
        out += c;
    if (c == '\n') // the LF of CR LF: a command ends at CR alone
        return;
    if (c != '\r') {
        if (m_line.size() < MaxCommandLength)
            m_line += c;
        else
            m_lineTooLong = true;
        return;
    }
    const QByteArray line = std::exchange(m_line, {}).trimmed();
    if (std::exchange(m_lineTooLong, false)) {
        QByteArray reply = result("ERROR");
        say("(command line too long)", reply);
        out += reply;
    } else if (!line.isEmpty()) {
        out += execute(line);
    }
}

QByteArray ModemEngine::execute(const QByteArray &line)
{
    const QByteArray upper = line.toUpper();
    const QByteArray body = upper.mid(2);
    const auto info = [this](const QByteArray &text) { return "\r\n" + text + "\r\n" + result("OK"); };

    if (!upper.startsWith("AT")) {
        QByteArray refusal = result("ERROR");
        say(line, refusal);
        return refusal;
    }
    QByteArray reply = result("OK");
    if (body.isEmpty()) {
        // "AT" alone, the modem's "are you there": OK.
    } else if (body == "E0" || body == "E") {
        m_echo = false;
    } else if (body == "E1") {
        m_echo = true;
    } else if (body == "Z") {
        m_echo = m_options.echo;
    } else if (body == "+CMGF=1") {
        if (m_options.refuseTextMode)
            reply = result("ERROR");
        else
            m_textMode = true;
    } else if (body == "+CMGF=0") {
        if (m_options.refusePduMode)
            reply = result("ERROR");
        else
            m_textMode = false;
    } else if (body == "+CMGF?") {
        reply = info(m_textMode ? "+CMGF: 1" : "+CMGF: 0");
    } else if (body == "+CMGF=?") {
        reply = info(m_options.refusePduMode ? "+CMGF: (1)" : "+CMGF: (0,1)");
    } else if (body == "+GSN" || body == "+CGSN") {
        reply = info(m_options.serial);
    } else if (body == "+CGMI" || body == "+GMI") {
        reply = info("Vantrel");
    } else if (body == "+CGMM" || body == "+GMM") {
        reply = info("Vantrel GSM modem simulator");
    } else if (body.startsWith("+CMGS=")) {
        reply = startMessage(line.mid(8));
    } else {
        reply = result("ERROR");
    }
    say(line, reply);
    return reply;
}

QByteArray ModemEngine::startMessage(const QByteArray &argument)
{
    if (m_textMode) {
        // The number may be quoted and may be followed by its type: "+15550001",145
        QByteArray number = argument.trimmed();
        if (number.startsWith('"')) {
            const qsizetype end = number.indexOf('"', 1);
            number = end < 0 ? QByteArray() : number.mid(1, end - 1);
        } else {
            number = number.left(number.indexOf(','));
        }
        if (number.trimmed().isEmpty())
            return result("ERROR");
        m_number = number;
        m_pduLength = -1;
    } else {
        // In PDU mode the argument is the TPDU's length in octets; the
        // number is inside the PDU.
        bool isNumber = false;
        const int length = argument.trimmed().toInt(&isNumber);
        if (m_options.refusePduMode || !isNumber || length < 1 || length > 255)
            return result("ERROR");
        m_number.clear();
        m_pduLength = length;
    }

    m_text.clear();
    m_textTooLong = false;
    m_dropAt = chance(m_options.hangupRate) ? m_random.bounded(0, 9) : -1;
    m_state = State::Text;
    return Prompt;
}

void ModemEngine::textByte(char c, QByteArray &out)
{
    if (m_dropAt >= 0 && (m_text.size() >= m_dropAt || c == CtrlZ)) {
        m_dropped = true;
        emit logged(QStringLiteral("line dropped while a message to %1 was being typed")
                        .arg(QString::fromLatin1(escape(entryName()))));
        return;
    }
    if (c == CtrlZ) {
        m_state = State::Command;
        out += submit();
        return;
    }
    if (c == Esc) {
        m_state = State::Command;
        m_text.clear();
        QByteArray reply = result("OK");
        say("(message to " + entryName() + " cancelled)", reply);
        out += reply;
        return;
    }
    // A CR starts the next line of the same message: the modem prompts again
    // instead of echoing it.
    if (c == '\r')
        out += Prompt;
    else if (m_echo)
        out += c;
    if (m_text.size() < MaxTextLength)
        m_text += c;
    else
        m_textTooLong = true;
}

QByteArray ModemEngine::submit()
{
    const QByteArray reply = m_pduLength < 0 ? submitText() : submitPdu();
    m_text.clear();
    return reply;
}

QByteArray ModemEngine::submitText()
{
    const QByteArray what = "(message to " + m_number + ", " + QByteArray::number(m_text.size()) + " bytes)";
    QByteArray reason;
    if (m_textTooLong)
        reason = "text longer than " + QByteArray::number(MaxTextLength) + " bytes";
    else if (m_text.size() > MaxSmsLength)
        reason = "text of " + QByteArray::number(m_text.size()) + " characters does not fit one SMS";
    else
        reason = refusalFor(m_number);
    if (!reason.isEmpty())
        return refuse(what, m_number, reason, m_options.cmsCode);
    if (m_options.bareOk)
        return answerBare(what);

    const int reference = nextReference();
    emit accepted(m_number, m_text, reference);
    return acknowledge(what, reference);
}

QByteArray ModemEngine::submitPdu()
{
    const QByteArray octets = QByteArray::number(m_pduLength) + " octets";
    QByteArray hex = m_text;
    // Line ends between the hex digits are the program's, not the PDU's.
    hex.removeIf([](char c) { return c == '\r' || c == '\n'; });
    const SmsPdu::Submit pdu = m_textTooLong ? SmsPdu::Submit() : SmsPdu::decode(hex);
    QByteArray reason;
    if (m_textTooLong)
        reason = "PDU longer than " + QByteArray::number(MaxTextLength) + " hex digits";
    else if (!pdu.error.isEmpty())
        reason = "malformed PDU: " + pdu.error.toUtf8();
    else if (pdu.tpduLength != m_pduLength)
        reason = "PDU of " + QByteArray::number(pdu.tpduLength) + " octets announced as " + octets;
    if (!reason.isEmpty())
        return refuse("(PDU of " + octets + ")", pdu.error.isEmpty() ? pdu.number.toLatin1() : "?", reason,
                      InvalidPduCode);

    const QByteArray number = pdu.number.toLatin1();
    const bool concatenated = pdu.reference >= 0;
    const QByteArray part =
        concatenated ? ", part " + QByteArray::number(pdu.partNumber) + " of " + QByteArray::number(pdu.partCount)
                     : QByteArray();
    const QByteArray what = "(PDU to " + number + part + ", " + octets + ")";
    // Refused once per message, keyed as the handset tells messages apart.
    const QString message = pdu.number + QLatin1Char('/') + QString::number(pdu.reference);
    reason = refusalFor(number);
    if (reason.isEmpty() && concatenated && pdu.partNumber == m_options.rejectPart
        && !m_partsRefusedOnce.contains(message)) {
        m_partsRefusedOnce.insert(message);
        reason = "part " + QByteArray::number(pdu.partNumber) + " refused the first time";
    }
    if (!reason.isEmpty())
        return refuse(what, number, reason, m_options.cmsCode);
    if (m_options.bareOk)
        return answerBare(what);

    const int reference = nextReference();
    if (const std::optional<QString> whole = m_parts.add(pdu)) {
        m_partsRefusedOnce.remove(message);
        emit acceptedPdu(number, *whole, pdu.partCount);
    }
    return acknowledge(what, reference);
}

// Why the network refuses a message to number; empty when it takes it.
QByteArray ModemEngine::refusalFor(const QByteArray &number)
{
    if (m_options.rejected.contains(number))
        return "number on the reject list";
    const auto window = m_options.rejectedFor.constFind(number);
    if (window != m_options.rejectedFor.cend() && m_sinceStart.elapsed() < *window)
        return "number refused for the first " + QByteArray::number(*window) + " ms";
    if (chance(m_options.rejectRate))
        return "refused at random";
    return {};
}

QByteArray ModemEngine::refuse(const QByteArray &what, const QByteArray &number, const QByteArray &reason, int code)
{
    const QByteArray reply = result("+CMS ERROR: " + QByteArray::number(code));
    emit refused(number, reason);
    say(what, reply);
    return reply;
}

// A bare OK is what a modem says to a cancelled message: nothing went out.
QByteArray ModemEngine::answerBare(const QByteArray &what)
{
    QByteArray reply = result("OK");
    say(what + " not sent", reply);
    return reply;
}

int ModemEngine::nextReference()
{
    // The message reference is one byte on the air: 1..255, then round again.
    m_reference = m_reference % 255 + 1;
    return m_reference;
}

QByteArray ModemEngine::acknowledge(const QByteArray &what, int reference)
{
    const QByteArray reply = "\r\n+CMGS: " + QByteArray::number(reference) + "\r\n" + result("OK");
    if (m_options.hangupAfter > 0 && ++m_acceptedCount % m_options.hangupAfter == 0) {
        m_dropped = true;
        emit logged(QStringLiteral("line dropped after %1 accepted messages").arg(m_acceptedCount));
    }
    say(what, reply);
    return reply;
}

QByteArray ModemEngine::entryName() const
{
    return m_pduLength < 0 ? m_number : "a PDU of " + QByteArray::number(m_pduLength) + " octets";
}

QByteArray ModemEngine::result(const QByteArray &code) const
{
    return "\r\n" + (m_options.lowercase ? code.toLower() : code) + "\r\n";
}

void ModemEngine::say(const QByteArray &command, const QByteArray &reply)
{
    const QByteArray shown = command.size() > 80 ? command.left(80) + "..." : command;
    emit logged(QString::fromLatin1(escape(shown) + "  -> " + reply.simplified()));
}

bool ModemEngine::chance(double p)
{
    return p >= 1 || (p > 0 && m_random.generateDouble() < p);
}

QByteArray ModemEngine::escape(QByteArrayView bytes)
{
    static constexpr char Hex[] = "0123456789abcdef";
    QByteArray out;
    out.reserve(bytes.size());
    for (const char c : bytes) {
        const auto u = uchar(c);
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else if (c == '\t')
            out += "\\t";
        else if (u < 0x20 || u >= 0x7F)
            out += QByteArray("\\x") + Hex[u >> 4] + Hex[u & 15];
        else
            out += c;
    }
    return out;
}
