#include "ModemEngine.h"

#include <algorithm>
#include <utility>

namespace {
constexpr char CtrlZ = 0x1A;
constexpr char Esc = 0x1B;
const QByteArray Prompt = "\r\n> ";

constexpr int ReportRequest = 0x20; // TP-SRR in the first octet AT+CSMP sets
// The first octet of the SMS-STATUS-REPORT SmsPdu writes, as text mode shows it.
constexpr int StatusReportFirstOctet = 6;
constexpr int NoNetworkCode = 331;
constexpr int InvalidIndexCode = 321;
constexpr int NotAllowedCode = 302;
constexpr int UnknownErrorCode = 500;
// The cell the modem is camped on, for AT+CREG=2.
const QByteArray CellLocation = ",\"1A2B\",\"3C4D\"";

// AT+CNMI's values by position.
constexpr int IndicationMode = 0;
constexpr int MessageRouting = 1;
constexpr int ReportRouting = 3;
constexpr int BufferFlush = 4;

// The values after a command's "=", split at the commas outside quotes.
QList<QByteArray> parameters(const QByteArray &argument)
{
    QList<QByteArray> out(1);
    bool quoted = false;
    for (const char c : argument) {
        if (c == '"')
            quoted = !quoted;
        if (c == ',' && !quoted)
            out.append(QByteArray());
        else
            out.last() += c;
    }
    for (QByteArray &value : out)
        value = value.trimmed();
    return out;
}

QByteArray unquoted(const QByteArray &value)
{
    return value.size() >= 2 && value.startsWith('"') && value.endsWith('"') ? value.mid(1, value.size() - 2) : value;
}

// A number from low to high; nothing for anything else.
std::optional<int> integer(const QByteArray &value, int low, int high)
{
    bool ok = false;
    const int number = value.toInt(&ok);
    if (!ok || number < low || number > high)
        return std::nullopt;
    return number;
}

// A time stamp as text mode shows it: "yy/MM/dd,hh:mm:ss+zz", the offset
// from UTC in quarters of an hour.
QByteArray textTime(const QDateTime &when)
{
    const int quarters = when.offsetFromUtc() / (15 * 60);
    const QDateTime local = when.toOffsetFromUtc(quarters * 15 * 60);
    return local.toString(QStringLiteral("yy/MM/dd,hh:mm:ss")).toLatin1() + (quarters < 0 ? '-' : '+')
           + QByteArray::number(qAbs(quarters)).rightJustified(2, '0');
}

QByteArray reportName(const SmsPdu::StatusReport &report, int index = 0)
{
    return "(status report " + QByteArray::number(report.status) + " on message " + QByteArray::number(report.reference)
           + " to " + report.number.toLatin1() + (index > 0 ? ", SR " + QByteArray::number(index) : QByteArray()) + ")";
}

const char *cmeText(int code)
{
    switch (code) {
    case 3:
        return "operation not allowed";
    case 10:
        return "SIM not inserted";
    case 16:
        return "incorrect password";
    default:
        return "unknown";
    }
}

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
    , m_silent(options.silent)
    , m_simInserted(options.simInserted)
    , m_pinNeeded(options.pinLock)
    , m_registration(options.registration)
    , m_signal(options.signal)
    , m_csq(options.csq)
    , m_cmgsDelayMs(options.cmgsDelayMs)
    , m_refusePart(options.refusePart)
    , m_reportStatus(options.reportStatus)
    , m_reportSilent(options.reportSilent)
    , m_keepReports(options.keepReports)
    , m_storedReportsOnly(options.storedReportsOnly)
    , m_srMemory(qMax(options.srCapacity, 0))
    , m_smMemory(qMax(options.smCapacity, 0))
{
    m_errorMode = options.errorMode;
    m_sinceStart.start();
    QByteArray ignored;
    if (!controlCalls({"dial", options.dial}, "dial " + options.dial, &ignored))
        m_dial = "ringing";
    // What came while nobody listened: stored, announced to nobody.
    for (const auto &[number, text] : options.storedSms)
        receiveSms(number, text, false);
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
    // A power cycle cures a hang and makes the SIM ask for its PIN again;
    // settings not stored in the modem are lost.
    m_silent = m_options.silent;
    m_pinNeeded = m_options.pinLock;
    m_functionality = 1;
    m_registrationMode = 0;
    m_errorMode = m_options.errorMode;
    m_smsParameters = {17, 167, 0, 0};
    m_indications = {};
    m_readFromSr = false;
    m_bufferedIndications.clear();
    m_heldForPrompt.clear();
    m_clip = false;
    // A modem that starts over has no call.
    m_call.reset();
}

QByteArray ModemEngine::feed(QByteArrayView input)
{
    QByteArray out;
    if (m_silent)
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
        const int before = registration();
        out += execute(line);
        out += registrationNews(before);
    }
}

QByteArray ModemEngine::execute(const QByteArray &line)
{
    const QByteArray upper = line.toUpper();
    const QByteArray body = upper.mid(2);

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
        reply = information(m_textMode ? "+CMGF: 1" : "+CMGF: 0");
    } else if (body == "+CMGF=?") {
        reply = information(m_options.refusePduMode ? "+CMGF: (1)" : "+CMGF: (0,1)");
    } else if (body == "+GSN" || body == "+CGSN") {
        reply = information(m_options.serial);
    } else if (body == "+CGMI" || body == "+GMI") {
        reply = information("Vantrel");
    } else if (body == "+CGMM" || body == "+GMM") {
        reply = information("Vantrel GSM modem simulator");
    } else if (body.startsWith("+CMGS=")) {
        reply = startMessage(line.mid(8));
    } else {
        bool known = true;
        reply = executeHealth(body, &known);
        if (!known) {
            known = true;
            reply = executeReports(body, &known);
        }
        if (!known) {
            known = true;
            reply = executeCalls(body, &known);
        }
        if (!known)
            reply = result("ERROR");
    }
    say(line, reply);
    return reply;
}

// SIM, network, signal and the radio: what a health round asks.
QByteArray ModemEngine::executeHealth(const QByteArray &body, bool *known)
{
    const auto after = [&body](const char *command) { return body.mid(qstrlen(command)); };
    if (body == "+CMEE?")
        return information("+CMEE: " + QByteArray::number(m_errorMode));
    if (body == "+CMEE=?")
        return information("+CMEE: (0-2)");
    if (body.startsWith("+CMEE=")) {
        const std::optional<int> mode = integer(after("+CMEE="), 0, 2);
        if (!mode)
            return result("ERROR");
        m_errorMode = *mode;
        return result("OK");
    }
    if (body == "+CPIN?") {
        switch (sim()) {
        case Sim::Ready:
            return information("+CPIN: READY");
        case Sim::Pin:
            return information("+CPIN: SIM PIN");
        case Sim::Puk:
            return information("+CPIN: SIM PUK");
        case Sim::Absent:
            break;
        }
        return cmeError(10);
    }
    if (body == "+CPIN=?")
        return result("OK");
    if (body.startsWith("+CPIN="))
        return enterPin(after("+CPIN="));
    if (body == "+CREG?") {
        const int stat = registration();
        return information("+CREG: " + QByteArray::number(m_registrationMode) + ',' + QByteArray::number(stat)
                           + (m_registrationMode == 2 && registered() ? CellLocation : QByteArray()));
    }
    if (body == "+CREG=?")
        return information("+CREG: (0-2)");
    if (body.startsWith("+CREG=")) {
        const std::optional<int> mode = integer(after("+CREG="), 0, 2);
        if (!mode)
            return result("ERROR");
        m_registrationMode = *mode;
        return result("OK");
    }
    if (body == "+CSQ")
        return information("+CSQ: "
                           + (registered() && !m_csq.isEmpty() ? m_csq : QByteArray::number(m_signal) + ",99"));
    if (body == "+CSQ=?")
        return information("+CSQ: (0-31,99),(0-7,99)");
    if (body == "+COPS?")
        return information(registered() ? "+COPS: 0,0,\"" + m_options.operatorName + '"' : QByteArray("+COPS: 0"));
    if (body == "+CFUN?")
        return information("+CFUN: " + QByteArray::number(m_functionality));
    if (body == "+CFUN=?")
        return information("+CFUN: (0,1,4),(0,1)");
    if (body.startsWith("+CFUN="))
        return setFunctionality(after("+CFUN="));
    *known = false;
    return {};
}

QByteArray ModemEngine::enterPin(const QByteArray &argument)
{
    switch (sim()) {
    case Sim::Absent:
        return cmeError(10);
    case Sim::Ready:
        return cmeError(3);
    case Sim::Puk: // no PUK is known here: every try is wrong
        return cmeError(16);
    case Sim::Pin:
        break;
    }
    if (unquoted(parameters(argument).value(0)) == m_options.pin) {
        m_pinNeeded = false;
        m_pinTriesLeft = PinTries;
        return result("OK");
    }
    if (--m_pinTriesLeft == 0)
        emit logged(QStringLiteral("wrong PIN %1 times: the SIM wants its PUK").arg(PinTries));
    return cmeError(16);
}

QByteArray ModemEngine::setFunctionality(const QByteArray &argument)
{
    const QList<QByteArray> values = parameters(argument);
    const std::optional<int> functionality = integer(values[0], 0, 4);
    const std::optional<int> reset = values.size() > 1 ? integer(values[1], 0, 1) : std::optional<int>(0);
    if (!functionality || *functionality == 2 || *functionality == 3 || !reset || values.size() > 2)
        return result("ERROR");
    if (*reset) {
        // OK first; then the modem starts over and the host offers a fresh line.
        m_dropped = true;
        emit logged(QStringLiteral("reset: the line drops and the modem starts over"));
    } else {
        m_functionality = *functionality;
    }
    return result("OK");
}

// Status reports: asking for them, where they go, reading them back.
QByteArray ModemEngine::executeReports(const QByteArray &body, bool *known)
{
    const auto after = [&body](const char *command) { return body.mid(qstrlen(command)); };
    const auto numbers = [](const auto &values) {
        QByteArray out;
        for (const int value : values)
            out += (out.isEmpty() ? "" : ",") + QByteArray::number(value);
        return out;
    };
    if (body == "+CSMP?")
        return information("+CSMP: " + numbers(m_smsParameters));
    if (body == "+CSMP=?")
        return result("OK");
    if (body.startsWith("+CSMP=")) {
        const QList<QByteArray> values = parameters(after("+CSMP="));
        std::array<int, 4> next = m_smsParameters;
        for (qsizetype i = 0; i < values.size(); ++i) {
            const std::optional<int> value = integer(values[i], 0, 255);
            if (i >= qsizetype(next.size()) || (!value && !values[i].isEmpty()))
                return result("ERROR");
            if (value)
                next[size_t(i)] = *value;
        }
        m_smsParameters = next;
        return result("OK");
    }
    if (body == "+CNMI?")
        return information("+CNMI: " + numbers(m_indications));
    if (body == "+CNMI=?")
        return information(QByteArray("+CNMI: (0-3),") + (m_options.cmtOnly ? "(0,2)" : "(0-3)") + ",(0,2),"
                           + (m_storedReportsOnly ? "(0,2)" : "(0-2)") + ",(0,1)");
    if (body.startsWith("+CNMI="))
        return setMessageIndications(after("+CNMI="));
    if (body == "+CPMS?") {
        if (const int code = simRefusalCode())
            return cmsError(code);
        const QByteArray sm = "\"SM\"," + QByteArray::number(smsStored()) + ',' + QByteArray::number(m_smMemory.size());
        return information(
            "+CPMS: "
            + (m_readFromSr ? "\"SR\"," + QByteArray::number(srUsed()) + ',' + QByteArray::number(m_srMemory.size())
                            : sm)
            + ',' + sm + ',' + sm);
    }
    if (body == "+CPMS=?")
        return information("+CPMS: (\"SM\",\"SR\"),(\"SM\"),(\"SM\")");
    if (body.startsWith("+CPMS="))
        return selectMemories(after("+CPMS="));
    if (body == "+CMGR=?" || body == "+CMGD=?")
        return result("OK");
    if (body.startsWith("+CMGR="))
        return readStored(after("+CMGR="));
    if (body.startsWith("+CMGD="))
        return deleteStored(after("+CMGD="));
    if (body == "+CMGL=?")
        return information(m_textMode ? "+CMGL: (\"REC UNREAD\",\"REC READ\",\"STO UNSENT\",\"STO SENT\",\"ALL\")"
                                      : "+CMGL: (0-4)");
    if (body == "+CMGL" || body.startsWith("+CMGL="))
        return listStored(after("+CMGL="));
    *known = false;
    return {};
}

QByteArray ModemEngine::setMessageIndications(const QByteArray &argument)
{
    // Values left out keep what they were.
    static constexpr int Highest[] = {3, 3, 2, 2, 1};
    const QList<QByteArray> values = parameters(argument);
    std::array<int, 5> next = m_indications;
    if (values.size() > qsizetype(next.size()))
        return result("ERROR");
    for (qsizetype i = 0; i < values.size(); ++i) {
        if (values[i].isEmpty())
            continue;
        const std::optional<int> value = integer(values[i], 0, Highest[i]);
        if (!value || (i == 2 && *value == 1) || (i == ReportRouting && *value == 1 && m_storedReportsOnly)
            || (i == MessageRouting && (*value == 1 || *value == 3) && m_options.cmtOnly))
            return result("ERROR");
        next[size_t(i)] = *value;
    }
    m_indications = next;

    // Leaving mode 0 lets out what the modem kept meanwhile, after the OK
    // (bfr 0), or throws it away (bfr 1).
    QByteArray reply = result("OK");
    if (m_indications[IndicationMode] != 0 && !m_bufferedIndications.isEmpty()) {
        const QList<Indication> kept = std::exchange(m_bufferedIndications, {});
        if (m_indications[BufferFlush] == 0) {
            for (const Indication &indication : kept)
                reply += unsolicited(indication);
        } else {
            emit logged(QStringLiteral("%1 kept status report indications thrown away (bfr 1)").arg(kept.size()));
        }
    }
    return reply;
}

QByteArray ModemEngine::selectMemories(const QByteArray &argument)
{
    if (const int code = simRefusalCode())
        return cmsError(code);
    const QList<QByteArray> memories = parameters(argument);
    if (memories.size() > 3)
        return result("ERROR");
    // Status reports are read from SR; nothing is written or received anywhere but SM.
    const QByteArray reading = unquoted(memories[0]);
    if (reading != "SM" && reading != "SR")
        return cmsError(NotAllowedCode);
    for (qsizetype i = 1; i < memories.size(); ++i)
        if (unquoted(memories[i]) != "SM")
            return cmsError(NotAllowedCode);
    m_readFromSr = reading == "SR";
    const QByteArray sm = QByteArray::number(smsStored()) + ',' + QByteArray::number(m_smMemory.size());
    return information(
        "+CPMS: " + (m_readFromSr ? QByteArray::number(srUsed()) + ',' + QByteArray::number(m_srMemory.size()) : sm)
        + ',' + sm + ',' + sm);
}

QByteArray ModemEngine::readStored(const QByteArray &argument)
{
    if (const int code = simRefusalCode())
        return cmsError(code);
    if (!m_readFromSr) {
        const std::optional<int> index = integer(argument, 1, int(m_smMemory.size()));
        return index ? readSms(*index) : cmsError(InvalidIndexCode);
    }
    const std::optional<int> index = integer(argument, 1, int(m_srMemory.size()));
    if (!m_readFromSr || !index || !m_srMemory[*index - 1])
        return cmsError(InvalidIndexCode);
    StoredReport &stored = *m_srMemory[*index - 1];
    const QByteArray text = reportLines(stored.report, stored.read ? "+CMGR: \"REC READ\"," : "+CMGR: \"REC UNREAD\",",
                                        stored.read ? "+CMGR: 1,," : "+CMGR: 0,,");
    if (text.isEmpty())
        return cmsError(UnknownErrorCode);
    stored.read = true;
    return information(text);
}

QByteArray ModemEngine::deleteStored(const QByteArray &argument)
{
    if (const int code = simRefusalCode())
        return cmsError(code);
    const QList<QByteArray> values = parameters(argument);
    const std::optional<int> flag = values.size() > 1 ? integer(values[1], 0, 4) : std::optional<int>(0);
    if (!flag || values.size() > 2)
        return result("ERROR");
    if (!m_readFromSr) {
        const std::optional<int> index = integer(values[0], 1, int(m_smMemory.size()));
        if (*flag == 0 && !index)
            return cmsError(InvalidIndexCode);
        return deleteSms(index.value_or(0), *flag);
    }
    if (*flag == 0) {
        const int capacity = int(m_srMemory.size());
        const std::optional<int> index = integer(values[0], 1, capacity);
        if (!index)
            return cmsError(InvalidIndexCode);
        if (m_readFromSr)
            m_srMemory[*index - 1].reset();
        return result("OK");
    }
    // 1 to 3 delete the read ones (and the sent and unsent ones SR never
    // holds), 4 all; the index does not matter then.
    if (m_readFromSr) {
        for (std::optional<StoredReport> &slot : m_srMemory)
            if (slot && (*flag == 4 || slot->read))
                slot.reset();
    }
    return result("OK");
}

QByteArray ModemEngine::listStored(const QByteArray &argument)
{
    if (const int code = simRefusalCode())
        return cmsError(code);
    // Text mode names the status, PDU mode numbers it; the unread ones when
    // none is given.
    static const QByteArray Names[] = {"REC UNREAD", "REC READ", "STO UNSENT", "STO SENT", "ALL"};
    const QByteArray wanted = unquoted(argument.trimmed());
    int which = 0;
    if (!wanted.isEmpty()) {
        which = -1;
        for (int i = 0; i < 5; ++i)
            if (m_textMode ? wanted == Names[i] : wanted == QByteArray::number(i))
                which = i;
    }
    if (which < 0)
        return result("ERROR");
    if (!m_readFromSr)
        return listSms(which);
    QByteArray lines;
    for (qsizetype i = 0; m_readFromSr && i < m_srMemory.size(); ++i) {
        std::optional<StoredReport> &slot = m_srMemory[i];
        if (!slot || !(which == 4 || (which == 0 && !slot->read) || (which == 1 && slot->read)))
            continue;
        const QByteArray index = QByteArray::number(i + 1);
        const QByteArray text = reportLines(slot->report, "+CMGL: " + index + ",\"" + Names[slot->read ? 1 : 0] + "\",",
                                            "+CMGL: " + index + (slot->read ? ",1,," : ",0,,"));
        if (text.isEmpty())
            continue;
        slot->read = true;
        lines += "\r\n" + text;
    }
    return lines.isEmpty() ? result("OK") : lines + "\r\n" + result("OK");
}

QByteArray ModemEngine::startMessage(const QByteArray &argument)
{
    if (const int code = simRefusalCode())
        return cmsError(code);
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
    return Prompt + releaseHeld();
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
    // A congested network: the modem takes further commands meanwhile.
    if (m_cmgsDelayMs > 0 && !reply.isEmpty()) {
        emit logged(QStringLiteral("  (the answer comes %1 ms late)").arg(m_cmgsDelayMs));
        emit answerLate(reply, m_cmgsDelayMs);
        return {};
    }
    return reply;
}

QByteArray ModemEngine::submitText()
{
    const QByteArray what = "(message to " + m_number + ", " + QByteArray::number(m_text.size()) + " bytes)";
    QByteArray reason;
    int code = m_options.cmsCode;
    if (m_textTooLong) {
        reason = "text longer than " + QByteArray::number(MaxTextLength) + " bytes";
    } else if (m_text.size() > MaxSmsLength) {
        reason = "text of " + QByteArray::number(m_text.size()) + " characters does not fit one SMS";
    } else if (!registered()) {
        reason = "no network service";
        code = NoNetworkCode;
    } else {
        reason = refusalFor(m_number);
    }
    if (!reason.isEmpty())
        return refuse(what, m_number, reason, code);
    if (m_options.bareOk)
        return answerBare(what);

    const int reference = nextReference();
    emit accepted(m_number, m_text, reference);
    const QByteArray reply = acknowledge(what, reference);
    if (m_smsParameters[0] & ReportRequest)
        expectReport(reference, m_number);
    return reply;
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
    if (!registered())
        return refuse(what, number, "no network service", NoNetworkCode);
    reason = refusalFor(number);
    if (reason.isEmpty() && concatenated && pdu.partNumber == m_options.rejectPart
        && !m_partsRefusedOnce.contains(message)) {
        m_partsRefusedOnce.insert(message);
        reason = "part " + QByteArray::number(pdu.partNumber) + " refused the first time";
    }
    if (!reason.isEmpty())
        return refuse(what, number, reason, m_options.cmsCode);
    if (concatenated && pdu.partNumber == m_refusePart)
        return refuse(what, number, "part " + QByteArray::number(pdu.partNumber) + " refused every time",
                      UnknownErrorCode);
    if (m_options.bareOk)
        return answerBare(what);

    const int reference = nextReference();
    if (const std::optional<QString> whole = m_parts.add(pdu)) {
        m_partsRefusedOnce.remove(message);
        emit acceptedPdu(number, *whole, pdu.partCount);
    }
    const QByteArray reply = acknowledge(what, reference);
    // Each part is a message of its own on the air, with its own report.
    if (pdu.statusReportRequested)
        expectReport(reference, number);
    return reply;
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

void ModemEngine::expectReport(int reference, const QByteArray &number)
{
    const int id = ++m_lastReportId;
    m_reports.insert(id, {reference, number, now()});
    const int jitter = m_options.reportJitterMs > 0 ? int(m_random.bounded(m_options.reportJitterMs + 1)) : 0;
    emit reportDue(id, m_options.reportDelayMs + m_options.reportLateMs + jitter);
}

QByteArray ModemEngine::reportArrived(int id)
{
    const auto found = m_reports.find(id);
    if (found == m_reports.end())
        return {};
    if (!reachable()) {
        emit reportDue(id, ReportRetryMs);
        return {};
    }
    const PendingReport pending = *found;
    m_reports.erase(found);
    const SmsPdu::StatusReport report{{},
                                      0,
                                      pending.reference,
                                      QString::fromLatin1(pending.number),
                                      pending.submitted,
                                      now(),
                                      m_reportStatus.value(pending.number, 0)};
    if (m_reportSilent.contains(pending.number)) {
        emit logged(QString::fromLatin1(escape(reportName(report)))
                    + QStringLiteral(" withheld: none comes for this number"));
        return {};
    }
    return routeReport(report);
}

QByteArray ModemEngine::routeReport(const SmsPdu::StatusReport &report)
{
    const QString name = QString::fromLatin1(escape(reportName(report)));
    const int routing = m_indications[ReportRouting];
    if (m_keepReports || routing == 2) {
        const int index = storeReport(report);
        if (index == 0) {
            // As a full SIM does: the report is gone.
            emit logged(name + QStringLiteral(" lost: SR memory full (%1 reports)").arg(m_srMemory.size()));
            return {};
        }
        if (m_keepReports) {
            emit logged(name + QStringLiteral(" stored as SR %1, announced to nobody").arg(index));
            return {};
        }
        return indicate({report, index});
    }
    if (routing == 0) {
        emit logged(name + QStringLiteral(" not passed on: AT+CNMI ds is 0"));
        return {};
    }
    return indicate({report, 0});
}

QByteArray ModemEngine::indicate(const Indication &indication)
{
    const QString name = QString::fromLatin1(escape(reportName(indication.report, indication.index)));
    if (m_indications[IndicationMode] == 0) {
        if (m_bufferedIndications.size() >= MaxBufferedIndications) {
            m_bufferedIndications.removeFirst();
            emit logged(QStringLiteral("the oldest kept status report indication is lost"));
        }
        m_bufferedIndications.append(indication);
        emit logged(name + QStringLiteral(" kept in the modem: AT+CNMI mode is 0"));
        return {};
    }
    if (m_options.reportMidDialogue) {
        m_heldForPrompt.append(indication);
        emit logged(name + QStringLiteral(" held for the next prompt"));
        return {};
    }
    return unsolicited(indication);
}

// +CDS or +CDSI as the modem writes it unasked, in the mode set now.
QByteArray ModemEngine::unsolicited(const Indication &indication)
{
    const QByteArray name = reportName(indication.report, indication.index);
    const QByteArray text = indication.index > 0 ? "+CDSI: \"SR\"," + QByteArray::number(indication.index)
                                                 : reportLines(indication.report, "+CDS: ", "+CDS: ");
    if (text.isEmpty()) {
        emit logged(QString::fromLatin1(escape(name)) + QStringLiteral(" lost: the number does not fit a PDU"));
        return {};
    }
    const QByteArray line = "\r\n" + text + "\r\n";
    say(name, line);
    return line;
}

QByteArray ModemEngine::releaseHeld()
{
    QByteArray out;
    for (const Indication &indication : std::exchange(m_heldForPrompt, {}))
        out += unsolicited(indication);
    return out;
}

// A report as the modem shows it: in text mode head, then its fields; in
// PDU mode head, the TPDU's length, CR LF and the PDU. Empty when the
// number does not fit a PDU.
QByteArray ModemEngine::reportLines(const SmsPdu::StatusReport &report, const QByteArray &textHead,
                                    const QByteArray &pduHead) const
{
    if (m_textMode) {
        const QByteArray number = report.number.toLatin1();
        return textHead + QByteArray::number(StatusReportFirstOctet) + ',' + QByteArray::number(report.reference)
               + ",\"" + number + "\"," + (number.startsWith('+') ? "145" : "129") + ",\""
               + textTime(report.serviceCentreTime) + "\",\"" + textTime(report.dischargeTime) + "\","
               + QByteArray::number(report.status);
    }
    const QByteArray hex = SmsPdu::encodeStatusReport(report);
    if (hex.isEmpty())
        return {};
    return pduHead + QByteArray::number(hex.size() / 2 - 1) + "\r\n" + hex;
}

// The SR index the report went to, from 1; 0 when the memory is full.
int ModemEngine::storeReport(const SmsPdu::StatusReport &report)
{
    for (qsizetype i = 0; i < m_srMemory.size(); ++i) {
        if (!m_srMemory[i]) {
            m_srMemory[i] = StoredReport{report, false};
            return int(i + 1);
        }
    }
    return 0;
}

int ModemEngine::srUsed() const
{
    return int(std::count_if(m_srMemory.cbegin(), m_srMemory.cend(),
                             [](const std::optional<StoredReport> &slot) { return slot.has_value(); }));
}

std::optional<QByteArray> ModemEngine::control(QByteArrayView line)
{
    const QByteArray command = line.toByteArray().simplified();
    const QList<QByteArray> words = command.split(' ');
    emit logged(QStringLiteral("control: ") + QString::fromLatin1(escape(command)));
    const auto onOff = [&words](bool *flag) {
        if (words.size() != 2 || (words[1] != "on" && words[1] != "off"))
            return false;
        *flag = words[1] == "on";
        return true;
    };
    const int before = registration();
    QByteArray out;
    bool understood = true;
    if (words[0] == "signal" && words.size() == 2) {
        const std::optional<int> rssi = integer(words[1], 0, 99);
        understood = rssi && (*rssi <= 31 || *rssi == 99);
        if (understood)
            m_signal = *rssi;
    } else if (words[0] == "registration" && words.size() == 2) {
        const std::optional<int> stat = integer(words[1], 0, 5);
        understood = stat && *stat != 4;
        if (understood)
            m_registration = *stat;
    } else if (words[0] == "csq" || words[0] == "cmgs-delay" || words[0] == "refuse-part") {
        understood = controlNetwork(words);
    } else if (words[0] == "cmee" && words.size() == 2) {
        // The modem's error reporting set back behind the program's back,
        // as a firmware that forgets AT+CMEE does.
        const std::optional<int> mode = integer(words[1], 0, 2);
        understood = mode.has_value();
        if (understood)
            m_errorMode = *mode;
    } else if (command == "pin-required") {
        m_pinNeeded = true;
    } else if (command == "no-sim") {
        m_simInserted = false;
    } else if (command == "sim") {
        // Another SIM, or the same one again: it asks for its PIN if it has a lock.
        if (!m_simInserted)
            m_pinNeeded = m_options.pinLock;
        m_simInserted = true;
    } else if (words[0] == "silent") {
        understood = onOff(&m_silent);
    } else if (words[0] == "keep-reports") {
        understood = onOff(&m_keepReports);
    } else if (command == "reports deliver") {
        for (const int id : m_reports.keys())
            out += reportArrived(id);
    } else if (words[0] == "report-fail" && words.size() == 3) {
        const std::optional<int> status = integer(words[2], 0, 255);
        understood = status.has_value();
        if (understood)
            m_reportStatus.insert(words[1], *status);
    } else if (words[0] == "report-silent" && words.size() == 2) {
        m_reportSilent.insert(words[1]);
    } else if (words[0] == "ring" || words[0] == "dial" || words[0] == "sms" || words[0] == "sm-capacity") {
        understood = controlCalls(words, command, &out);
    } else {
        understood = false;
    }
    if (!understood) {
        emit logged(QStringLiteral("  not a control command; --help lists them"));
        return std::nullopt;
    }
    return out + registrationNews(before);
}

// What the network does with messages and what AT+CSQ says of it.
bool ModemEngine::controlNetwork(const QList<QByteArray> &words)
{
    if (words.size() != 2)
        return false;
    if (words[0] == "csq") {
        const std::optional<QByteArray> csq = signalQuality(words[1]);
        if (csq)
            m_csq = *csq;
        return csq.has_value();
    }
    const std::optional<int> value = integer(words[1], 0, words[0] == "refuse-part" ? 255 : 3600000);
    if (value)
        (words[0] == "refuse-part" ? m_refusePart : m_cmgsDelayMs) = *value;
    return value.has_value();
}

std::optional<QByteArray> ModemEngine::signalQuality(QByteArrayView text)
{
    const QList<QByteArray> values = text.toByteArray().split(',');
    if (values.size() != 2)
        return std::nullopt;
    const std::optional<int> rssi = integer(values[0].trimmed(), 0, 99);
    const std::optional<int> ber = integer(values[1].trimmed(), 0, 99);
    if (!rssi || !ber || (*rssi > 31 && *rssi != 99) || (*ber > 7 && *ber != 99))
        return std::nullopt;
    return QByteArray::number(*rssi) + ',' + QByteArray::number(*ber);
}

// +CREG: <stat> when registration has changed and AT+CREG=1 or 2 asked to hear of it.
QByteArray ModemEngine::registrationNews(int before) const
{
    const int stat = registration();
    if (m_registrationMode == 0 || stat == before || m_dropped || m_silent)
        return {};
    return "\r\n+CREG: " + QByteArray::number(stat)
           + (m_registrationMode == 2 && registered() ? CellLocation : QByteArray()) + "\r\n";
}

ModemEngine::Sim ModemEngine::sim() const
{
    if (!m_simInserted)
        return Sim::Absent;
    if (m_pinTriesLeft == 0)
        return Sim::Puk;
    return m_pinNeeded ? Sim::Pin : Sim::Ready;
}

// The +CMS ERROR for a message command while the SIM is not ready; 0 when it is.
int ModemEngine::simRefusalCode() const
{
    switch (sim()) {
    case Sim::Absent:
        return 310;
    case Sim::Pin:
        return 311;
    case Sim::Puk:
        return 316;
    case Sim::Ready:
        break;
    }
    return 0;
}

// As +CREG reads: without a ready SIM or with the radio off, not registered.
int ModemEngine::registration() const
{
    return sim() == Sim::Ready && m_functionality == 1 ? m_registration : 0;
}

bool ModemEngine::registered() const
{
    const int stat = registration();
    return stat == 1 || stat == 5;
}

// Whether the network can hand the modem a report now.
bool ModemEngine::reachable() const
{
    return !m_dropped && !m_silent && registered();
}

QDateTime ModemEngine::now() const
{
    return m_options.clock ? m_options.clock() : QDateTime::currentDateTime();
}

QByteArray ModemEngine::entryName() const
{
    return m_pduLength < 0 ? m_number : "a PDU of " + QByteArray::number(m_pduLength) + " octets";
}

QByteArray ModemEngine::result(const QByteArray &code) const
{
    return "\r\n" + (m_options.lowercase ? code.toLower() : code) + "\r\n";
}

QByteArray ModemEngine::information(const QByteArray &text) const
{
    return "\r\n" + text + "\r\n" + result("OK");
}

// As AT+CMEE says: a bare ERROR, the code, or its words.
QByteArray ModemEngine::cmeError(int code) const
{
    if (m_errorMode == 0)
        return result("ERROR");
    return result("+CME ERROR: " + (m_errorMode == 2 ? QByteArray(cmeText(code)) : QByteArray::number(code)));
}

QByteArray ModemEngine::cmsError(int code) const
{
    return result("+CMS ERROR: " + QByteArray::number(code));
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
