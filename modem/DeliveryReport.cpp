#include "modem/DeliveryReport.h"

#include "modem/SmsPdu.h"

#include <QRegularExpression>
#include <QStringList>

namespace {

// TP-ST, TS 23.040 9.2.3.15, each value with the standard's words; the
// ranges' reserved values take their range's meaning.
struct Status {
    int value;
    const char *words;
    bool anotherNetwork;
};

const Status Known[] = {
    {0x00, "short message received by the SME", false},
    {0x01, "short message forwarded by the SC to the SME but the SC is unable to confirm delivery", false},
    {0x02, "short message replaced by the SC", false},
    {0x20, "congestion", false},
    {0x21, "SME busy", false},
    {0x22, "no response from SME", false},
    {0x23, "service rejected", false},
    {0x24, "quality of service not available", false},
    {0x25, "error in SME", false},
    {0x40, "remote procedure error", true},
    {0x41, "incompatible destination", false},
    {0x42, "connection rejected by SME", false},
    {0x43, "not obtainable", false},
    {0x44, "quality of service not available", true},
    {0x45, "no interworking available", true},
    {0x46, "SM validity period expired", false},
    {0x47, "SM deleted by originating SME", false},
    {0x48, "SM deleted by SC administration", false},
    {0x49, "SM does not exist", false},
    {0x60, "congestion", true},
    {0x61, "SME busy", false},
    {0x62, "no response from SME", false},
    {0x63, "service rejected", true},
    {0x64, "quality of service not available", true},
    {0x65, "error in SME", false},
};

// "yy/MM/dd,hh:mm:ss+zz", the offset in quarters of an hour.
QDateTime textTime(const QString &text)
{
    static const QRegularExpression time(QStringLiteral(R"(^(\d\d)/(\d\d)/(\d\d),(\d\d):(\d\d):(\d\d)([+-]\d\d)$)"));
    const QRegularExpressionMatch match = time.match(text);
    if (!match.hasMatch())
        return {};
    const QDate date(2000 + match.captured(1).toInt(), match.captured(2).toInt(), match.captured(3).toInt());
    const QTime clock(match.captured(4).toInt(), match.captured(5).toInt(), match.captured(6).toInt());
    return QDateTime(date, clock, Qt::OffsetFromUTC, match.captured(7).toInt() * 15 * 60);
}

// The fields of a text-mode line, quoted ones unquoted; commas inside quotes
// stay.
QStringList fields(const QString &text)
{
    QStringList out;
    QString field;
    bool quoted = false;
    for (const QChar c : text) {
        if (c == QLatin1Char('"'))
            quoted = !quoted;
        else if (c == QLatin1Char(',') && !quoted)
            out << std::exchange(field, {});
        else
            field += c;
    }
    out << field;
    return out;
}

std::optional<DeliveryReport> fromPdu(const QString &hex)
{
    const SmsPdu::StatusReport pdu = SmsPdu::decodeStatusReport(hex.trimmed().toLatin1());
    if (!pdu.error.isEmpty())
        return std::nullopt;
    return DeliveryReport{pdu.reference, pdu.number, pdu.serviceCentreTime, pdu.dischargeTime, pdu.status};
}

// <fo>,<mr>,<ra>,<tora>,<scts>,<dt>,<st> from `at` on.
std::optional<DeliveryReport> fromText(const QStringList &values, qsizetype at)
{
    if (values.size() < at + 7)
        return std::nullopt;
    bool mrOk = false;
    bool stOk = false;
    DeliveryReport report;
    report.reference = values[at + 1].trimmed().toInt(&mrOk);
    report.number = values[at + 2].trimmed();
    report.serviceCentreTime = textTime(values[at + 4].trimmed());
    report.dischargeTime = textTime(values[at + 5].trimmed());
    report.status = values[at + 6].trimmed().toInt(&stOk);
    if (!mrOk || !stOk || report.reference < 0 || report.reference > 255)
        return std::nullopt;
    return report;
}

} // namespace

DeliveryReport::Meaning DeliveryReport::meaning(int status)
{
    for (const Status &known : Known) {
        if (known.value == status)
            return {status < 0x20   ? Outcome::Delivered
                    : status < 0x40 ? Outcome::Pending
                                    : Outcome::Failed,
                    QString::fromLatin1(known.words), known.anotherNetwork};
    }
    if (status < 0x20)
        return {Outcome::Delivered, QStringLiteral("SM transaction completed"), false};
    if (status < 0x40)
        return {Outcome::Pending, QStringLiteral("temporary error, SC still trying to transfer SM"), false};
    if (status < 0x60)
        return {Outcome::Failed, QStringLiteral("permanent error, SC is not making any more transfer attempts"), false};
    return {Outcome::Failed, QStringLiteral("temporary error, SC is not making any more transfer attempts"), true};
}

std::optional<DeliveryReport> DeliveryReport::fromLine(const QString &line, const QString &data)
{
    // "+CDS: <length>" then the PDU; "+CDS: <fo>,<mr>,..." in text mode.
    if (line.startsWith(QLatin1String("+CDS:"))) {
        const QString rest = line.mid(5).trimmed();
        const QStringList values = fields(rest);
        if (values.size() == 1 && !data.isEmpty())
            return fromPdu(data);
        return fromText(values, 0);
    }
    // "+CMGR: <stat>,,<length>" then the PDU; "+CMGR: <stat>,<fo>,<mr>,..." in text mode.
    if (line.startsWith(QLatin1String("+CMGR:"))) {
        const QStringList values = fields(line.mid(6).trimmed());
        if (values.size() == 3 && !data.isEmpty())
            return fromPdu(data);
        return fromText(values, 1);
    }
    return std::nullopt;
}
