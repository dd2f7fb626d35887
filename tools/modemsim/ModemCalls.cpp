// The modem's voice calls and the SMS it receives: what a phone does to the
// desk, and the calls the desk makes.

#include "ModemEngine.h"

#include <utility>

namespace {

constexpr int InvalidIndexCode = 321;
constexpr int NotAllowedCode = 3;

// As text mode shows a time stamp: "yy/MM/dd,hh:mm:ss+zz".
QByteArray stampText(const QDateTime &when)
{
    if (!when.isValid())
        return {};
    const int quarters = when.offsetFromUtc() / (15 * 60);
    const QDateTime local = when.toOffsetFromUtc(quarters * 15 * 60);
    return local.toString(QStringLiteral("yy/MM/dd,hh:mm:ss")).toLatin1() + (quarters < 0 ? '-' : '+')
           + QByteArray::number(qAbs(quarters)).rightJustified(2, '0');
}

QByteArray numberType(const QByteArray &number)
{
    return number.startsWith('+') ? "145" : "129";
}

} // namespace

int ModemEngine::later(int delayMs, std::function<QByteArray()> action)
{
    const int token = ++m_lastToken;
    m_timers.insert(token, std::move(action));
    emit due(token, delayMs);
    return token;
}

QByteArray ModemEngine::fire(int token)
{
    const std::function<QByteArray()> action = m_timers.take(token);
    if (!action)
        return {};
    // A modem that is off or hung says nothing; its calls are gone.
    if (m_dropped || m_silent) {
        m_call.reset();
        return {};
    }
    return action();
}

QByteArray ModemEngine::executeCalls(const QByteArray &body, bool *known)
{
    if (body.startsWith('D'))
        return dial(body.mid(1));
    if (body == "H" || body == "H0")
        return m_options.refuseAth ? result("ERROR") : hangUp("ATH");
    if (body == "+CHUP")
        return hangUp("AT+CHUP");
    if (body == "+CLCC")
        return callList();
    if (body == "+CLCC=?" || body == "+CHUP=?")
        return result("OK");
    if (body == "+CLIP?")
        return information("+CLIP: " + QByteArray::number(int(m_clip)) + ",1");
    if (body == "+CLIP=?")
        return information("+CLIP: (0,1)");
    if (body.startsWith("+CLIP=")) {
        const QByteArray value = body.mid(6);
        if (value != "0" && value != "1")
            return result("ERROR");
        m_clip = value == "1";
        return result("OK");
    }
    *known = false;
    return {};
}

QByteArray ModemEngine::dial(const QByteArray &body)
{
    // Only a voice call ("ATD<number>;") is made here; a data call finds no carrier.
    const bool voice = body.endsWith(';');
    const QByteArray number = voice ? body.chopped(1).trimmed() : body.trimmed();
    if (number.isEmpty())
        return result("ERROR");
    if (m_dial == "novoice-error")
        return result("ERROR");
    if (!voice || m_dial == "novoice")
        return result("NO CARRIER");
    if (const int code = simRefusalCode())
        return cmeError(code == 310 ? 10 : code == 311 ? 11 : 12);
    if (!registered())
        return result("NO CARRIER");
    if (m_call)
        return cmeError(NotAllowedCode);
    const int id = ++m_lastCallId;
    m_call = Call{id, number, 2, {}};
    m_call->since.start();
    later(DiallingMs, [this, id] { return callProgress(id, 3); });
    emit logged(
        QStringLiteral("calling %1 (%2)").arg(QString::fromLatin1(escape(number)), QString::fromLatin1(m_dial)));
    return result("OK");
}

QByteArray ModemEngine::callProgress(int id, int state)
{
    if (!m_call || m_call->id != id)
        return {};
    m_call->state = state;
    if (state == 3) {
        emit logged(QStringLiteral("the call to %1 rings").arg(QString::fromLatin1(escape(m_call->number))));
        if (m_dial == "answer")
            later(m_answerAfterMs, [this, id] { return callProgress(id, 0); });
        else if (m_dial == "noanswer")
            later(NoAnswerMs, [this, id] { return callEnds(id, "NO ANSWER"); });
        else if (m_dial == "busy")
            return callEnds(id, "BUSY");
    } else if (state == 0) {
        emit logged(QStringLiteral("the call to %1 is answered").arg(QString::fromLatin1(escape(m_call->number))));
    }
    return {};
}

QByteArray ModemEngine::callEnds(int id, const QByteArray &code)
{
    if (!m_call || m_call->id != id)
        return {};
    emit logged(QStringLiteral("the call to %1 ends: %2")
                    .arg(QString::fromLatin1(escape(m_call->number)), QString::fromLatin1(code)));
    m_call.reset();
    return result(code);
}

QByteArray ModemEngine::hangUp(const char *how)
{
    if (m_call) {
        emit logged(QStringLiteral("%1 hangs up the call %2 %3")
                        .arg(QString::fromLatin1(how),
                             m_call->state == 4 ? QStringLiteral("from") : QStringLiteral("to"),
                             QString::fromLatin1(escape(m_call->number))));
        m_call.reset();
    }
    return result("OK");
}

QByteArray ModemEngine::callList() const
{
    if (!m_call)
        return result("OK");
    // +CLCC: <id>,<dir>,<stat>,<mode>,<mpty>,<number>,<type>; mode 0: voice.
    return information("+CLCC: 1," + QByteArray(m_call->state == 4 ? "1" : "0") + ','
                       + QByteArray::number(m_call->state) + ",0,0,\"" + m_call->number + "\","
                       + numberType(m_call->number));
}

QByteArray ModemEngine::ringLines() const
{
    QByteArray out = "\r\nRING\r\n";
    if (m_clip)
        out += "\r\n+CLIP: \"" + m_call->number + "\"," + numberType(m_call->number) + "\r\n";
    return out;
}

QByteArray ModemEngine::ringAgain(int id)
{
    if (!m_call || m_call->id != id)
        return {};
    if (m_call->since.elapsed() >= RingForMs) {
        emit logged(QStringLiteral("the caller %1 gives up").arg(QString::fromLatin1(escape(m_call->number))));
        m_call.reset();
        return {};
    }
    later(RingEveryMs, [this, id] { return ringAgain(id); });
    return ringLines();
}

bool ModemEngine::controlCalls(const QList<QByteArray> &words, const QByteArray &command, QByteArray *out)
{
    if (words[0] == "ring" && words.size() == 2) {
        if (m_call || m_dropped) {
            emit logged(QStringLiteral("  the line is busy: the caller hears a busy tone"));
            return true;
        }
        const int id = ++m_lastCallId;
        m_call = Call{id, words[1], 4, {}};
        m_call->since.start();
        later(RingEveryMs, [this, id] { return ringAgain(id); });
        *out += ringLines();
        return true;
    }
    if (words[0] == "dial" && words.size() >= 2) {
        static const QList<QByteArray> Modes = {"ringing", "answer", "noanswer", "busy", "novoice"};
        if (words[1] == "answer") {
            bool ok = false;
            const double seconds = words.value(2, "0").toDouble(&ok);
            if (!ok || seconds < 0 || seconds > 3600 || words.size() > 3)
                return false;
            m_answerAfterMs = int(seconds * 1000);
        } else if (words[1] == "novoice" && words.size() == 3 && words[2] == "error") {
            m_dial = "novoice-error";
            return true;
        } else if (!Modes.contains(words[1]) || words.size() != 2) {
            return false;
        }
        m_dial = words[1];
        return true;
    }
    if (words[0] == "sms" && words.size() >= 3) {
        // The text as written, after "sms NUMBER ".
        const QByteArray text = command.mid(words[0].size() + words[1].size() + 2);
        *out += receiveSms(words[1], QString::fromUtf8(text), true);
        return true;
    }
    if (words[0] == "sm-capacity" && words.size() == 2) {
        const std::optional<int> capacity = [&]() -> std::optional<int> {
            bool ok = false;
            const int value = words[1].toInt(&ok);
            return ok && value >= 0 && value <= 1000 ? std::optional<int>(value) : std::nullopt;
        }();
        if (!capacity)
            return false;
        // What is stored beyond the new end stays until it is deleted.
        while (m_smMemory.size() > *capacity && !m_smMemory.last())
            m_smMemory.removeLast();
        while (m_smMemory.size() < *capacity)
            m_smMemory.append(std::nullopt);
        return true;
    }
    return false;
}

int ModemEngine::smsStored() const
{
    return int(std::count_if(m_smMemory.cbegin(), m_smMemory.cend(),
                             [](const std::optional<StoredSms> &slot) { return slot.has_value(); }));
}

QByteArray ModemEngine::receiveSms(const QByteArray &number, const QString &text, bool announce)
{
    const SmsPdu::Message message = SmsPdu::encodeDeliver(QString::fromLatin1(number), text, now(), ++m_smsReference);
    if (!message.error.isEmpty()) {
        emit logged(QStringLiteral("  no SMS: %1").arg(message.error));
        return {};
    }
    QByteArray out;
    for (const SmsPdu::Part &part : message.parts) {
        // <mt> 2: passed on as it comes, never stored.
        if (announce && m_indications[1] == 2 && m_indications[0] != 0) {
            const SmsPdu::Deliver deliver = SmsPdu::decodeDeliver(part.hex);
            const QByteArray line = m_textMode ? "+CMT: \"" + number + "\",,\"" + stampText(deliver.serviceCentreTime)
                                                     + "\"\r\n" + deliver.text.toUtf8()
                                               : "+CMT: ," + QByteArray::number(part.tpduLength) + "\r\n" + part.hex;
            say("(SMS from " + number + ", passed on)", line);
            out += "\r\n" + line + "\r\n";
            continue;
        }
        out += storeSms(part.hex, announce);
    }
    return out;
}

QByteArray ModemEngine::storeSms(const QByteArray &pdu, bool announce)
{
    const SmsPdu::Deliver deliver = SmsPdu::decodeDeliver(pdu);
    const QByteArray name = "(SMS from " + deliver.number.toLatin1() + ")";
    for (qsizetype i = 0; i < m_smMemory.size(); ++i) {
        if (m_smMemory[i])
            continue;
        m_smMemory[i] = StoredSms{pdu, deliver, false};
        const QByteArray index = QByteArray::number(i + 1);
        // <mt> 1 and 3 announce it; 0 keeps it to itself.
        if (!announce || m_indications[0] == 0 || (m_indications[1] != 1 && m_indications[1] != 3)) {
            emit logged(QString::fromLatin1(escape(name)) + QStringLiteral(" stored as SM %1").arg(i + 1));
            return {};
        }
        const QByteArray line = "\r\n+CMTI: \"SM\"," + index + "\r\n";
        say(name, line);
        return line;
    }
    // A full SIM refuses it; the network keeps it and tries again once there is room.
    m_networkHeld.append(pdu);
    emit logged(QString::fromLatin1(escape(name))
                + QStringLiteral(" refused: SM memory full (%1); the network keeps it").arg(m_smMemory.size()));
    return {};
}

QByteArray ModemEngine::smsLines(const StoredSms &sms, const QByteArray &prefix) const
{
    const QByteArray status = sms.read ? "REC READ" : "REC UNREAD";
    if (m_textMode)
        return prefix + '"' + status + "\",\"" + sms.deliver.number.toLatin1() + "\",,\""
               + stampText(sms.deliver.serviceCentreTime) + "\"\r\n" + sms.deliver.text.toUtf8();
    return prefix + QByteArray::number(sms.read ? 1 : 0) + ",," + QByteArray::number(sms.deliver.tpduLength) + "\r\n"
           + sms.pdu;
}

QByteArray ModemEngine::readSms(int index)
{
    std::optional<StoredSms> &slot = m_smMemory[index - 1];
    if (!slot)
        return cmsError(InvalidIndexCode);
    const QByteArray text = smsLines(*slot, "+CMGR: ");
    slot->read = true;
    return information(text);
}

QByteArray ModemEngine::listSms(int which)
{
    QByteArray lines;
    for (qsizetype i = 0; i < m_smMemory.size(); ++i) {
        std::optional<StoredSms> &slot = m_smMemory[i];
        if (!slot || !(which == 4 || (which == 0 && !slot->read) || (which == 1 && slot->read)))
            continue;
        const QByteArray index = QByteArray::number(i + 1);
        lines += "\r\n" + smsLines(*slot, "+CMGL: " + index + ',');
        slot->read = true;
    }
    return lines.isEmpty() ? result("OK") : lines + "\r\n" + result("OK");
}

QByteArray ModemEngine::deleteSms(int index, int flag)
{
    if (flag == 0) {
        m_smMemory[index - 1].reset();
    } else {
        // 1 to 3 delete the read ones (and the sent and unsent ones SM does
        // not hold here), 4 all.
        for (std::optional<StoredSms> &slot : m_smMemory)
            if (slot && (flag == 4 || slot->read))
                slot.reset();
    }
    QByteArray out = result("OK");
    // Room again: what the network kept comes now, after the OK.
    while (!m_networkHeld.isEmpty() && smsStored() < m_smMemory.size())
        out += storeSms(m_networkHeld.takeFirst(), true);
    return out;
}
