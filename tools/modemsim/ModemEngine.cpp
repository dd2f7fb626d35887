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
        const QByteArray reply = result("ERROR");
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

    QByteArray reply = result("OK");
    if (!upper.startsWith("AT")) {
        reply = result("ERROR");
    } else if (body.isEmpty()) {
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
        m_textMode = false;
    } else if (body == "+CMGF?") {
        reply = info(m_textMode ? "+CMGF: 1" : "+CMGF: 0");
    } else if (body == "+CMGF=?") {
        reply = info("+CMGF: (0,1)");
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
    if (!m_textMode)
        return result("ERROR");
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
                        .arg(QString::fromLatin1(escape(m_number))));
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
        const QByteArray reply = result("OK");
        say("(message to " + m_number + " cancelled)", reply);
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
    const QByteArray what = "(message to " + m_number + ", " + QByteArray::number(m_text.size()) + " bytes)";
    QByteArray reason;
    if (m_textTooLong)
        reason = "text longer than " + QByteArray::number(MaxTextLength) + " bytes";
    else if (m_options.rejected.contains(m_number))
        reason = "number on the reject list";
    else if (chance(m_options.rejectRate))
        reason = "refused at random";

    QByteArray reply;
    if (!reason.isEmpty()) {
        reply = result("+CMS ERROR: " + QByteArray::number(m_options.cmsCode));
        emit refused(m_number, reason);
    } else {
        // The message reference is one byte on the air: 1..255, then round again.
        m_reference = m_reference % 255 + 1;
        emit accepted(m_number, m_text, m_reference);
        reply = "\r\n+CMGS: " + QByteArray::number(m_reference) + "\r\n" + result("OK");
        if (m_options.hangupAfter > 0 && ++m_acceptedCount % m_options.hangupAfter == 0) {
            m_dropped = true;
            emit logged(QStringLiteral("line dropped after %1 accepted messages").arg(m_acceptedCount));
        }
    }
    m_text.clear();
    say(what, reply);
    return reply;
}

QByteArray ModemEngine::result(QByteArray code) const
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
