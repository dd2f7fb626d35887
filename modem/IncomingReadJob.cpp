#include "modem/IncomingReadJob.h"

#include "modem/SmsPdu.h"

#include <QMap>
#include <QRegularExpression>
#include <QTimeZone>

namespace {

// "yy/MM/dd,hh:mm:ss+zz" as text mode shows the service centre's time.
QDateTime textTime(const QString &text)
{
    static const QRegularExpression stamp(QStringLiteral(R"((\d\d)/(\d\d)/(\d\d),(\d\d):(\d\d):(\d\d)([+-])(\d\d))"));
    const QRegularExpressionMatch m = stamp.match(text);
    if (!m.hasMatch())
        return {};
    const int quarters = m.captured(8).toInt() * (m.captured(7) == QLatin1String("-") ? -1 : 1);
    const QDateTime when(QDate(2000 + m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt()),
                         QTime(m.captured(4).toInt(), m.captured(5).toInt(), m.captured(6).toInt()),
                         QTimeZone(quarters * 15 * 60));
    return when.isValid() ? when : QDateTime();
}

} // namespace

IncomingReadJob::IncomingReadJob(Hooks hooks, std::function<void(const Result &)> done)
    : m_hooks(std::move(hooks))
    , m_done(std::move(done))
{
    m_result.text = m_hooks.text;
}

QString IncomingReadJob::key(int index, const IncomingSms &sms)
{
    return QStringLiteral("%1|%2|%3|%4").arg(index).arg(sms.number, sms.sentAt.toString(Qt::ISODate), sms.text);
}

std::optional<ModemCommand> IncomingReadJob::next(const ModemAnswer *answer)
{
    switch (m_step) {
    case Step::Start:
        m_step = Step::Mode;
        return ModemCommand::reply(m_result.text ? QStringLiteral("AT+CMGF=1") : QStringLiteral("AT+CMGF=0"));
    case Step::Mode:
        if (!answer->given) {
            if (answer->timedOut || m_result.text)
                return restore();
            // No PDU mode: the modem shows its SMS as text.
            m_result.text = true;
            return ModemCommand::reply(QStringLiteral("AT+CMGF=1"));
        }
        // Selected also when it is already: its answer says how many SMS the listing must show.
        m_step = Step::Memory;
        return ModemCommand::query(QStringLiteral("AT+CPMS=\"SM\""), QStringLiteral("+CPMS:"));
    case Step::Memory: {
        if (!answer->given)
            return restore();
        static const QRegularExpression counts(QStringLiteral(R"(\+CPMS:\s*(\d+)\s*,\s*(\d+))"));
        const QRegularExpressionMatch match = counts.match(answer->reply);
        m_used = match.hasMatch() ? match.captured(1).toInt() : 0;
        m_result.full = match.hasMatch() && match.captured(2).toInt() > 0 && m_used >= match.captured(2).toInt();
        return list();
    }
    case Step::List:
        if (!answer->given)
            return restore();
        m_result.listed = true;
        parse(answer->reply);
        return nextFound();
    case Step::Delete:
        if (!answer->given) {
            m_deleteFailed = true;
            ++m_result.left;
        }
        if (!m_deletes.isEmpty())
            return ModemCommand::reply(QStringLiteral("AT+CMGD=%1").arg(m_deletes.takeFirst()));
        // Gone from the SIM: no longer remembered as kept.
        if (!m_deleteFailed)
            m_hooks.kept->remove(m_deleting);
        return nextFound();
    case Step::Restore:
    case Step::Done:
        m_step = Step::Done;
        break;
    }
    return std::nullopt;
}

std::optional<ModemCommand> IncomingReadJob::list()
{
    m_step = Step::List;
    return ModemCommand::query(m_result.text ? QStringLiteral("AT+CMGL=\"ALL\"") : QStringLiteral("AT+CMGL=4"),
                               QStringLiteral("+CMGL:"));
}

void IncomingReadJob::parse(const QString &reply)
{
    static const QRegularExpression lineBreak(QStringLiteral("\r\n|\r|\n"));
    static const QRegularExpression head(QStringLiteral(R"(^\+CMGL:\s*(\d+)\s*,(.*)$)"));
    QStringList lines = reply.split(lineBreak);
    // The final result is no part of the last SMS.
    while (!lines.isEmpty() && (lines.last().trimmed().isEmpty() || lines.last().trimmed() == QLatin1String("OK")))
        lines.removeLast();

    struct Part {
        int index;
        SmsPdu::Deliver deliver;
    };
    QMap<QString, QList<Part>> partsOf; // by sender, reference and count
    int listed = 0;
    QList<QString> order;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QRegularExpressionMatch match = head.match(lines[i].trimmed());
        if (!match.hasMatch())
            continue;
        const int index = match.captured(1).toInt();
        ++listed;
        // The lines up to the next head: the PDU, or the text.
        QStringList body;
        while (i + 1 < lines.size() && !head.match(lines[i + 1].trimmed()).hasMatch())
            body << lines[++i];
        if (m_result.text) {
            // <index>,<stat>,<oa>,[<alpha>],[<scts>]
            static const QRegularExpression fields(
                QStringLiteral(R"re(^"[^"]*"\s*,\s*"([^"]*)"\s*,[^,]*,?\s*"?([^"]*)"?)re"));
            const QRegularExpressionMatch f = fields.match(match.captured(2).trimmed());
            if (!f.hasMatch()) {
                ++m_result.left;
                continue;
            }
            m_found.append({{f.captured(1), body.join(QLatin1Char('\n')), textTime(f.captured(2))}, {index}});
            continue;
        }
        const SmsPdu::Deliver deliver = SmsPdu::decodeDeliver(body.value(0).trimmed().toLatin1());
        if (!deliver.error.isEmpty()) {
            // Not an SMS this desk can read (8-bit data, a broken PDU): left.
            ++m_result.left;
            continue;
        }
        if (deliver.reference < 0 || deliver.partCount < 2) {
            m_found.append({{deliver.number, deliver.text, deliver.serviceCentreTime}, {index}});
            continue;
        }
        const QString group =
            QStringLiteral("%1/%2/%3").arg(deliver.number).arg(deliver.reference).arg(deliver.partCount);
        if (!partsOf.contains(group))
            order << group;
        partsOf[group].append({index, deliver});
    }
    // A listing cut short (a late answer to an earlier command ended it early):
    // what it did not show is looked for again.
    if (listed < m_used)
        m_result.left += m_used - listed;
    for (const QString &group : order) {
        QList<Part> parts = partsOf.value(group);
        std::sort(parts.begin(), parts.end(),
                  [](const Part &a, const Part &b) { return a.deliver.partNumber < b.deliver.partNumber; });
        const int count = parts.first().deliver.partCount;
        bool whole = parts.size() == count;
        for (qsizetype i = 0; whole && i < parts.size(); ++i)
            whole = parts[i].deliver.partNumber == i + 1;
        if (whole) {
            Found found{{parts.first().deliver.number, {}, parts.first().deliver.serviceCentreTime}, {}};
            for (const Part &part : parts) {
                found.sms.text += part.deliver.text;
                found.indexes << part.index;
            }
            m_found.append(found);
        } else if (m_result.full) {
            // The others may never come, and the memory must make room.
            for (const Part &part : parts)
                m_found.append(
                    {{part.deliver.number, part.deliver.text, part.deliver.serviceCentreTime}, {part.index}});
        } else {
            m_result.left += int(parts.size());
        }
    }
}

std::optional<ModemCommand> IncomingReadJob::nextFound()
{
    while (!m_found.isEmpty()) {
        const Found found = m_found.takeFirst();
        const QString key = IncomingReadJob::key(found.indexes.first(), found.sms);
        // Kept before, its delete failed: only deleted now.
        const bool kept = m_hooks.kept->contains(key) || m_hooks.keep(found.sms);
        if (!kept) {
            m_result.left += int(found.indexes.size());
            continue;
        }
        m_hooks.kept->insert(key);
        m_deleting = key;
        m_deleteFailed = false;
        m_deletes = found.indexes;
        m_step = Step::Delete;
        return ModemCommand::reply(QStringLiteral("AT+CMGD=%1").arg(m_deletes.takeFirst()));
    }
    return restore();
}

std::optional<ModemCommand> IncomingReadJob::restore()
{
    m_step = Step::Restore;
    if (m_hooks.memory == QLatin1String("SR"))
        return ModemCommand::query(QStringLiteral("AT+CPMS=\"SR\""), QStringLiteral("+CPMS:"));
    m_step = Step::Done;
    return std::nullopt;
}

void IncomingReadJob::end(const End &end)
{
    if (!end.portError.isEmpty())
        m_result.listed = false;
    m_done(m_result);
}
