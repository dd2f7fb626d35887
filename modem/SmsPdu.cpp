#include "modem/SmsPdu.h"

#include <QHash>
#include <QTimeZone>

#include <cctype>
#include <iterator>

namespace SmsPdu {

namespace {

// The GSM 7-bit default alphabet in septet order. Septet 0x1B is the escape
// to the extension table and stands for no character of its own.
constexpr char16_t Basic[] = u"@£$¥èéùìòÇ\nØø\rÅåΔ_ΦΓΛΩΠΨΣΘΞ\x1b"
                             u"ÆæßÉ !\"#¤%&'()*+,-./0123456789:;<=>?"
                             u"¡ABCDEFGHIJKLMNOPQRSTUVWXYZÄÖÑÜ§"
                             u"¿abcdefghijklmnopqrstuvwxyzäöñüà";
static_assert(std::size(Basic) == 128 + 1);

constexpr char Escape = 0x1B;

struct Extension {
    char septet;
    char16_t character;
};
constexpr Extension Extensions[] = {
    {0x0A, u'\f'}, {0x14, u'^'}, {0x28, u'{'}, {0x29, u'}'}, {0x2F, u'\\'},
    {0x3C, u'['},  {0x3D, u'~'}, {0x3E, u']'}, {0x40, u'|'}, {0x65, u'€'},
};

constexpr quint8 FirstOctetDeliver = 0x00;        // TP-MTI: SMS-DELIVER
constexpr quint8 FirstOctetSubmit = 0x01;         // TP-MTI: SMS-SUBMIT
constexpr quint8 FirstOctetRelativeVp = 0x10;     // TP-VPF: one octet of validity
constexpr quint8 FirstOctetHeader = 0x40;         // TP-UDHI: user data starts with a header
constexpr quint8 FirstOctetReportRequest = 0x20;  // TP-SRR in a submit
constexpr quint8 FirstOctetStatusReport = 0x02;   // TP-MTI: SMS-STATUS-REPORT
constexpr quint8 FirstOctetNoMoreMessages = 0x04; // TP-MMS: nothing else waits at the service centre
constexpr quint8 DcsGsm7 = 0x00;
constexpr quint8 DcsUcs2 = 0x08;
// A day: an alert that could not be delivered by then is no longer news.
constexpr quint8 ValidityOneDay = 0xA7;
constexpr quint8 International = 0x91;
constexpr quint8 Unknown = 0x81;
constexpr int MaxDigits = 20; // TP-DA holds ten octets of semi-octets
constexpr int MaxUserDataOctets = 140;
// IEI 0x00 with its three octets, preceded by the header length.
constexpr int ConcatHeaderOctets = 6;
constexpr int ConcatHeaderSeptets = (ConcatHeaderOctets * 8 + 6) / 7;
constexpr int TimeStampOctets = 7;
constexpr int QuarterSeconds = 15 * 60;

// GSM 7-bit code of a character: the septet, or 0x100 plus the septet for
// the extension table; -1 when the alphabet lacks it.
int gsmCode(char16_t c)
{
    static const QHash<char16_t, int> codes = [] {
        QHash<char16_t, int> table;
        for (int septet = 0; septet < 128; ++septet)
            if (septet != Escape)
                table.insert(Basic[septet], septet);
        for (const Extension &e : Extensions)
            table.insert(e.character, 0x100 | e.septet);
        return table;
    }();
    return codes.value(c, -1);
}

QChar extensionCharacter(int septet)
{
    for (const Extension &e : Extensions)
        if (e.septet == septet)
            return QChar(e.character);
    // An unknown extension shows as the default alphabet's character.
    return QChar(Basic[septet]);
}

// A character that no part boundary may cut: one or two septets (escape and
// extension), or one or two UTF-16 code units (a surrogate pair).
struct Unit {
    char16_t codes[2] = {};
    int width = 1;
};

QList<Unit> gsmUnits(const QString &text)
{
    QList<Unit> units;
    units.reserve(text.size());
    for (const QChar c : text) {
        const int code = gsmCode(c.unicode());
        if (code < 0)
            return {};
        if (code & 0x100)
            units.append({{char16_t(Escape), char16_t(code & 0x7F)}, 2});
        else
            units.append({{char16_t(code), 0}, 1});
    }
    return units;
}

QList<Unit> ucs2Units(const QString &text)
{
    QList<Unit> units;
    units.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            units.append({{c, text[++i].unicode()}, 2});
        else
            units.append({{c, 0}, 1});
    }
    return units;
}

// Cuts the units into parts of at most partWidth, unless all fit one SMS of
// singleWidth. Past MaxParts the last part is filled up to room for "..." and
// ends with it.
QList<QList<Unit>> splitUnits(const QList<Unit> &units, int singleWidth, int partWidth, const Unit &dot, bool *cut)
{
    int total = 0;
    for (const Unit &u : units)
        total += u.width;
    *cut = false;
    if (total <= singleWidth)
        return {units};

    QList<QList<Unit>> parts(1);
    int width = 0;
    for (qsizetype i = 0; i < units.size(); ++i) {
        const Unit &u = units[i];
        if (width + u.width > partWidth) {
            if (parts.size() == MaxParts) {
                *cut = true;
                QList<Unit> &last = parts.last();
                const int room = partWidth - 3 * dot.width;
                while (width > room) {
                    width -= last.last().width;
                    last.removeLast();
                }
                last << dot << dot << dot;
                break;
            }
            parts.append(QList<Unit>());
            width = 0;
        }
        parts.last().append(u);
        width += u.width;
    }
    return parts;
}

QByteArray concatHeader(quint8 reference, int count, int number)
{
    const char header[] = {ConcatHeaderOctets - 1, 0x00, 0x03, char(reference), char(count), char(number)};
    return QByteArray(header, sizeof header);
}

// Septet `index` of the user data lands at bit index * 7, low bits first.
void putSeptet(QByteArray &data, int index, int septet)
{
    const int bit = index * 7;
    const int octet = bit / 8;
    const int shift = bit % 8;
    data[octet] = char(uchar(data[octet]) | (septet << shift));
    if (shift > 1)
        data[octet + 1] = char(uchar(data[octet + 1]) | (septet >> (8 - shift)));
}

int septetAt(QByteArrayView data, int index)
{
    const int bit = index * 7;
    const int octet = bit / 8;
    const int shift = bit % 8;
    int value = uchar(data[octet]) >> shift;
    if (shift > 1 && octet + 1 < data.size())
        value |= uchar(data[octet + 1]) << (8 - shift);
    return value & 0x7F;
}

// TP-UDL and TP-UD of one part: the header, then the text. 7-bit text starts
// on the septet after the header and its fill bits.
QByteArray userData(const QList<Unit> &part, Encoding encoding, const QByteArray &header)
{
    QByteArray data = header;
    int length = 0;
    if (encoding == Encoding::Gsm7) {
        int septet = header.isEmpty() ? 0 : ConcatHeaderSeptets;
        for (const Unit &u : part)
            septet += u.width;
        length = septet;
        data.resize((septet * 7 + 7) / 8, '\0');
        septet = header.isEmpty() ? 0 : ConcatHeaderSeptets;
        for (const Unit &u : part)
            for (int i = 0; i < u.width; ++i)
                putSeptet(data, septet++, u.codes[i]);
    } else {
        for (const Unit &u : part)
            for (int i = 0; i < u.width; ++i) {
                data += char(u.codes[i] >> 8);
                data += char(u.codes[i] & 0xFF);
            }
        length = int(data.size());
    }
    return char(length) + data;
}

// TP-DA: digit count, type of address, digits as swapped semi-octets.
QByteArray address(const QString &number, QString *error)
{
    const bool international = number.startsWith(QLatin1Char('+'));
    const QString digits = international ? number.mid(1) : number;
    if (digits.isEmpty()) {
        *error = QStringLiteral("the number is empty");
        return {};
    }
    for (const QChar c : digits) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9')) {
            *error =
                QStringLiteral("the number \"%1\" holds \"%2\": only digits can follow the optional +").arg(number, c);
            return {};
        }
    }
    if (digits.size() > MaxDigits) {
        *error = QStringLiteral("the number \"%1\" has more than %2 digits").arg(number).arg(MaxDigits);
        return {};
    }
    QByteArray out;
    out += char(digits.size());
    out += char(international ? International : Unknown);
    for (qsizetype i = 0; i < digits.size(); i += 2) {
        const int low = digits[i].unicode() - '0';
        const int high = i + 1 < digits.size() ? digits[i + 1].unicode() - '0' : 0xF;
        out += char(high << 4 | low);
    }
    return out;
}

// The octets of a PDU in hex, or why there are none.
QByteArray fromHex(QByteArrayView hex, QString *error)
{
    if (hex.size() % 2 != 0) {
        *error = QStringLiteral("odd number of hex digits");
        return {};
    }
    for (const char c : hex) {
        if (!std::isxdigit(uchar(c))) {
            *error = QStringLiteral("not a hex digit: 0x%1").arg(uchar(c), 2, 16, QLatin1Char('0'));
            return {};
        }
    }
    return QByteArray::fromHex(hex.toByteArray());
}

// Reads an address field at `at` (digit count, type of address, swapped
// semi-octets) and moves past it; the reason, naming the field, when it does
// not fit.
QString readAddress(const QByteArray &pdu, qsizetype &at, const QString &field, QString *number)
{
    if (at + 2 > pdu.size())
        return QStringLiteral("%1 address cut short").arg(field);
    const int digits = uchar(pdu[at++]);
    const int type = uchar(pdu[at++]);
    if (digits > MaxDigits || at + (digits + 1) / 2 > pdu.size())
        return QStringLiteral("%1 address of %2 digits does not fit").arg(field).arg(digits);
    number->clear();
    if ((type & 0x70) == 0x10)
        *number = QStringLiteral("+");
    static constexpr char Semi[] = "0123456789*#abc?";
    for (int i = 0; i < digits; ++i) {
        const int pair = uchar(pdu[at + i / 2]);
        *number += QLatin1Char(Semi[i % 2 ? pair >> 4 : pair & 0x0F]);
    }
    at += (digits + 1) / 2;
    return {};
}

// A semi-octet pair is written low digit first: 42 on the air is 24.
int swappedDecimal(int octet)
{
    const int tens = octet & 0x0F;
    const int units = octet >> 4;
    return tens > 9 || units > 9 ? -1 : tens * 10 + units;
}

char swappedOctet(int value)
{
    return char((value % 10) << 4 | value / 10);
}

// TP-SCTS and TP-DT: year, month, day, hour, minute, second, then the
// offset from UTC in quarters of an hour with its sign in bit 3. Invalid
// when any of it is no date.
QDateTime timeStamp(QByteArrayView octets)
{
    int fields[TimeStampOctets - 1];
    for (int i = 0; i < TimeStampOctets - 1; ++i)
        if ((fields[i] = swappedDecimal(uchar(octets[i]))) < 0)
            return {};
    const int zone = uchar(octets[TimeStampOctets - 1]);
    const int quarters = swappedDecimal(zone & ~0x08);
    const QDate date(2000 + fields[0], fields[1], fields[2]);
    const QTime time(fields[3], fields[4], fields[5]);
    const QTimeZone offset((zone & 0x08 ? -quarters : quarters) * QuarterSeconds);
    if (quarters < 0 || !date.isValid() || !time.isValid() || !offset.isValid())
        return {};
    return QDateTime(date, time, offset);
}

// Seconds are kept, milliseconds dropped, the offset cut to whole quarters.
QByteArray timeStampOctets(const QDateTime &when)
{
    if (!when.isValid())
        return {};
    const int quarters = when.offsetFromUtc() / QuarterSeconds;
    const QDateTime local = when.toOffsetFromUtc(quarters * QuarterSeconds);
    const QDate date = local.date();
    const QTime time = local.time();
    if (date.year() < 2000 || date.year() > 2099)
        return {};
    QByteArray out;
    for (const int value : {date.year() - 2000, date.month(), date.day(), time.hour(), time.minute(), time.second()})
        out += swappedOctet(value);
    const int size = quarters < 0 ? -quarters : quarters;
    out += char(swappedOctet(size) | (quarters < 0 ? 0x08 : 0));
    return out;
}

// What TP-DCS, TP-UDL and TP-UD say, read from `at` (TP-UDL) to the end.
struct UserData {
    QString error;
    Encoding encoding = Encoding::Gsm7;
    int reference = -1;
    int partCount = 1;
    int partNumber = 1;
    QString text;
};

UserData readUserData(const QByteArray &pdu, qsizetype at, int dcs, bool hasHeader)
{
    UserData out;
    const auto fail = [](const QString &why) {
        UserData rejected;
        rejected.error = why;
        return rejected;
    };
    const int group = dcs >> 4;
    int alphabet = -1; // 0: 7-bit, 1: 8-bit, 2: UCS-2, as in the general coding groups
    if (group <= 0x7)
        alphabet = dcs & 0x20 ? -1 : (dcs >> 2) & 0x03;
    else if (group == 0xC || group == 0xD)
        alphabet = 0;
    else if (group == 0xE)
        alphabet = 2;
    else if (group == 0xF)
        alphabet = dcs & 0x04 ? 1 : 0;
    if (alphabet < 0 || alphabet == 3)
        return fail(QStringLiteral("data coding 0x%1 is compressed or reserved").arg(dcs, 2, 16, QLatin1Char('0')));
    if (alphabet == 1)
        return fail(QStringLiteral("8-bit data is not supported"));
    out.encoding = alphabet == 0 ? Encoding::Gsm7 : Encoding::Ucs2;

    if (at + 1 > pdu.size())
        return fail(QStringLiteral("TPDU ends before its user data length"));
    const int dataLength = uchar(pdu[at++]);
    const bool gsm = out.encoding == Encoding::Gsm7;
    const int dataOctets = gsm ? (dataLength * 7 + 7) / 8 : dataLength;
    if (dataOctets > MaxUserDataOctets)
        return fail(QStringLiteral("user data length %1 is too long").arg(dataLength));
    if (pdu.size() - at != dataOctets)
        return fail(QStringLiteral("user data length %1 wants %2 octets, %3 follow")
                        .arg(dataLength)
                        .arg(dataOctets)
                        .arg(pdu.size() - at));
    const QByteArrayView data = QByteArrayView(pdu).sliced(at);

    int headerOctets = 0;
    if (hasHeader) {
        if (data.isEmpty() || uchar(data[0]) + 1 > data.size())
            return fail(QStringLiteral("user data header does not fit"));
        headerOctets = uchar(data[0]) + 1;
        // Information elements: identifier, length, content; only the
        // concatenation ones matter here, the others are stepped over.
        for (int i = 1; i < headerOctets;) {
            if (i + 2 > headerOctets || i + 2 + uchar(data[i + 1]) > headerOctets)
                return fail(QStringLiteral("user data header element does not fit"));
            const int id = uchar(data[i]);
            const int size = uchar(data[i + 1]);
            const QByteArrayView content = data.sliced(i + 2, size);
            if ((id == 0x00 && size == 3) || (id == 0x08 && size == 4)) {
                const int tail = size - 2;
                out.reference = id == 0x00 ? uchar(content[0]) : uchar(content[0]) << 8 | uchar(content[1]);
                out.partCount = uchar(content[tail]);
                out.partNumber = uchar(content[tail + 1]);
                if (out.partCount == 0 || out.partNumber == 0 || out.partNumber > out.partCount)
                    return fail(QStringLiteral("part %1 of %2 makes no sense").arg(out.partNumber).arg(out.partCount));
            }
            i += 2 + size;
        }
    }

    if (gsm) {
        const int headerSeptets = (headerOctets * 8 + 6) / 7;
        if (headerSeptets > dataLength)
            return fail(QStringLiteral("user data header is longer than the user data"));
        for (int i = headerSeptets; i < dataLength; ++i) {
            const int septet = septetAt(data, i);
            if (septet != Escape) {
                out.text += QChar(Basic[septet]);
            } else if (i + 1 == dataLength) {
                out.text += QLatin1Char(' '); // an escape to nothing
            } else {
                // Escape twice leads to a table not defined yet: a space until it is.
                const int next = septetAt(data, ++i);
                out.text += next == Escape ? QChar(u' ') : extensionCharacter(next);
            }
        }
    } else {
        if (headerOctets > dataLength || (dataLength - headerOctets) % 2 != 0)
            return fail(
                QStringLiteral("UCS-2 text of %1 octets is not whole code units").arg(dataLength - headerOctets));
        for (int i = headerOctets; i < dataLength; i += 2)
            out.text += QChar(char16_t(uchar(data[i]) << 8 | uchar(data[i + 1])));
    }
    return out;
}

// The octets of a PDU as a modem lists it, and where its TPDU begins,
// past the service centre's address; why not where they do not read.
QString openTpdu(QByteArrayView hex, QByteArray *pdu, qsizetype *at)
{
    QString error;
    *pdu = fromHex(hex, &error);
    if (!error.isEmpty())
        return error;
    if (pdu->isEmpty())
        return QStringLiteral("empty PDU");
    const int smscLength = uchar(pdu->at(0));
    if (smscLength > 11 || 1 + smscLength > pdu->size())
        return QStringLiteral("SMSC part of %1 octets does not fit").arg(smscLength);
    *at = 1 + smscLength;
    return {};
}

} // namespace

bool needsPduMode(const QString &text)
{
    int septets = 0;
    for (const QChar c : text) {
        if (c != QLatin1Char('\n') && (c < QLatin1Char(' ') || c > QLatin1Char('~')))
            return true;
        // ` is not in the GSM alphabet; the modem puts one character in its place.
        const int code = gsmCode(c.unicode());
        septets += code >= 0 && (code & 0x100) ? 2 : 1;
    }
    return septets > SingleSeptets;
}

Message encode(const QString &number, const QString &text, quint8 reference, bool statusReport)
{
    Message message;
    const QByteArray destination = address(number, &message.error);
    if (destination.isEmpty())
        return message;

    QList<Unit> units = gsmUnits(text);
    if (units.isEmpty() && !text.isEmpty()) {
        message.encoding = Encoding::Ucs2;
        units = ucs2Units(text);
    }
    const bool gsm = message.encoding == Encoding::Gsm7;
    const QList<QList<Unit>> parts = splitUnits(units, gsm ? SingleSeptets : SingleUnits, gsm ? PartSeptets : PartUnits,
                                                Unit{{char16_t(gsm ? gsmCode(u'.') : u'.'), 0}, 1}, &message.cut);

    for (qsizetype i = 0; i < parts.size(); ++i) {
        const bool concatenated = parts.size() > 1;
        QByteArray tpdu;
        tpdu += char(FirstOctetSubmit | FirstOctetRelativeVp | (concatenated ? FirstOctetHeader : 0)
                     | (statusReport ? FirstOctetReportRequest : 0));
        tpdu += char(0); // TP-MR: the modem numbers the message itself
        tpdu += destination;
        tpdu += char(0); // TP-PID: plain SMS
        tpdu += char(gsm ? DcsGsm7 : DcsUcs2);
        tpdu += char(ValidityOneDay);
        tpdu += userData(parts[i], message.encoding,
                         concatenated ? concatHeader(reference, int(parts.size()), int(i + 1)) : QByteArray());
        message.parts.append({int(tpdu.size()), "00" + tpdu.toHex().toUpper()});
    }
    return message;
}

Submit decode(QByteArrayView hex)
{
    Submit submit;
    const auto fail = [](const QString &why) {
        Submit rejected;
        rejected.error = why;
        return rejected;
    };
    QString error;
    const QByteArray pdu = fromHex(hex, &error);
    if (!error.isEmpty())
        return fail(error);

    qsizetype at = 0;
    // Whether n more octets are there; every read below is guarded by it.
    const auto has = [&](qsizetype n) { return at + n <= pdu.size(); };
    const auto octet = [&]() { return int(uchar(pdu[at++])); };

    if (!has(1))
        return fail(QStringLiteral("empty PDU"));
    const int smscLength = octet();
    if (smscLength > 11 || !has(smscLength))
        return fail(QStringLiteral("SMSC part of %1 octets does not fit").arg(smscLength));
    at += smscLength;
    submit.tpduLength = int(pdu.size() - at);

    if (!has(2))
        return fail(QStringLiteral("TPDU too short"));
    const int first = octet();
    if ((first & 0x03) != FirstOctetSubmit)
        return fail(QStringLiteral("not an SMS-SUBMIT (first octet %1)").arg(first, 2, 16, QLatin1Char('0')));
    const int validityFormat = (first >> 3) & 0x03;
    const bool hasHeader = first & FirstOctetHeader;
    submit.statusReportRequested = first & FirstOctetReportRequest;
    ++at; // TP-MR

    error = readAddress(pdu, at, QStringLiteral("destination"), &submit.number);
    if (!error.isEmpty())
        return fail(error);

    if (!has(2))
        return fail(QStringLiteral("TPDU ends before its data coding"));
    ++at; // TP-PID
    const int dcs = octet();
    at += validityFormat == 0 ? 0 : validityFormat == 2 ? 1 : 7;
    const UserData data = readUserData(pdu, at, dcs, hasHeader);
    if (!data.error.isEmpty())
        return fail(data.error);
    submit.encoding = data.encoding;
    submit.reference = data.reference;
    submit.partCount = data.partCount;
    submit.partNumber = data.partNumber;
    submit.text = data.text;
    return submit;
}

Message encodeDeliver(const QString &number, const QString &text, const QDateTime &sentAt, quint8 reference)
{
    Message message;
    const QByteArray origin = address(number, &message.error);
    const QByteArray stamp = timeStampOctets(sentAt);
    if (origin.isEmpty())
        return message;
    if (stamp.isEmpty()) {
        message.error = QStringLiteral("the time stamp is not between 2000 and 2099");
        return message;
    }
    QList<Unit> units = gsmUnits(text);
    if (units.isEmpty() && !text.isEmpty()) {
        message.encoding = Encoding::Ucs2;
        units = ucs2Units(text);
    }
    const bool gsm = message.encoding == Encoding::Gsm7;
    const QList<QList<Unit>> parts = splitUnits(units, gsm ? SingleSeptets : SingleUnits, gsm ? PartSeptets : PartUnits,
                                                Unit{{char16_t(gsm ? gsmCode(u'.') : u'.'), 0}, 1}, &message.cut);
    for (qsizetype i = 0; i < parts.size(); ++i) {
        const bool concatenated = parts.size() > 1;
        QByteArray tpdu;
        tpdu += char(FirstOctetDeliver | FirstOctetNoMoreMessages | (concatenated ? FirstOctetHeader : 0));
        tpdu += origin;
        tpdu += char(0); // TP-PID: plain SMS
        tpdu += char(gsm ? DcsGsm7 : DcsUcs2);
        tpdu += stamp;
        tpdu += userData(parts[i], message.encoding,
                         concatenated ? concatHeader(reference, int(parts.size()), int(i + 1)) : QByteArray());
        message.parts.append({int(tpdu.size()), "00" + tpdu.toHex().toUpper()});
    }
    return message;
}

Deliver decodeDeliver(QByteArrayView hex)
{
    Deliver deliver;
    const auto fail = [](const QString &why) {
        Deliver rejected;
        rejected.error = why;
        return rejected;
    };
    QByteArray pdu;
    qsizetype at = 0;
    QString error = openTpdu(hex, &pdu, &at);
    if (!error.isEmpty())
        return fail(error);
    deliver.tpduLength = int(pdu.size() - at);
    if (at + 1 > pdu.size())
        return fail(QStringLiteral("TPDU too short"));
    const int first = uchar(pdu[at++]);
    if ((first & 0x03) != FirstOctetDeliver)
        return fail(QStringLiteral("not an SMS-DELIVER (first octet %1)").arg(first, 2, 16, QLatin1Char('0')));
    error = readAddress(pdu, at, QStringLiteral("originating"), &deliver.number);
    if (!error.isEmpty())
        return fail(error);
    if (at + 2 + TimeStampOctets > pdu.size())
        return fail(QStringLiteral("TPDU ends before its time stamp"));
    ++at; // TP-PID
    const int dcs = uchar(pdu[at++]);
    // A time stamp that is no time leaves the SMS readable.
    deliver.serviceCentreTime = timeStamp(QByteArrayView(pdu).sliced(at, TimeStampOctets));
    at += TimeStampOctets;
    const UserData data = readUserData(pdu, at, dcs, first & FirstOctetHeader);
    if (!data.error.isEmpty())
        return fail(data.error);
    deliver.encoding = data.encoding;
    deliver.reference = data.reference;
    deliver.partCount = data.partCount;
    deliver.partNumber = data.partNumber;
    deliver.text = data.text;
    return deliver;
}

StatusReport decodeStatusReport(QByteArrayView hex)
{
    StatusReport report;
    const auto fail = [](const QString &why) {
        StatusReport rejected;
        rejected.error = why;
        return rejected;
    };
    QByteArray pdu;
    qsizetype at = 0;
    QString error = openTpdu(hex, &pdu, &at);
    if (!error.isEmpty())
        return fail(error);
    report.tpduLength = int(pdu.size() - at);

    if (at + 2 > pdu.size())
        return fail(QStringLiteral("TPDU too short"));
    const int first = uchar(pdu[at++]);
    if ((first & 0x03) != FirstOctetStatusReport)
        return fail(QStringLiteral("not an SMS-STATUS-REPORT (first octet %1)").arg(first, 2, 16, QLatin1Char('0')));
    report.reference = uchar(pdu[at++]);

    error = readAddress(pdu, at, QStringLiteral("recipient"), &report.number);
    if (!error.isEmpty())
        return fail(error);

    if (at + 2 * TimeStampOctets + 1 > pdu.size())
        return fail(QStringLiteral("TPDU ends before its status"));
    const QByteArrayView times = QByteArrayView(pdu).sliced(at, 2 * TimeStampOctets);
    report.serviceCentreTime = timeStamp(times.first(TimeStampOctets));
    report.dischargeTime = timeStamp(times.sliced(TimeStampOctets));
    if (!report.serviceCentreTime.isValid())
        return fail(QStringLiteral("service centre time stamp %1 is no time")
                        .arg(QString::fromLatin1(times.first(TimeStampOctets).toByteArray().toHex())));
    if (!report.dischargeTime.isValid())
        return fail(QStringLiteral("discharge time %1 is no time")
                        .arg(QString::fromLatin1(times.sliced(TimeStampOctets).toByteArray().toHex())));
    at += 2 * TimeStampOctets;
    report.status = uchar(pdu[at]);
    return report;
}

QByteArray encodeStatusReport(const StatusReport &report)
{
    QString error;
    const QByteArray recipient = address(report.number, &error);
    const QByteArray serviceCentreTime = timeStampOctets(report.serviceCentreTime);
    const QByteArray dischargeTime = timeStampOctets(report.dischargeTime);
    if (recipient.isEmpty() || serviceCentreTime.isEmpty() || dischargeTime.isEmpty() || report.reference < 0
        || report.reference > 255 || report.status < 0 || report.status > 255)
        return {};
    QByteArray tpdu;
    tpdu += char(FirstOctetStatusReport | FirstOctetNoMoreMessages);
    tpdu += char(report.reference);
    tpdu += recipient;
    tpdu += serviceCentreTime;
    tpdu += dischargeTime;
    tpdu += char(report.status);
    return "00" + tpdu.toHex().toUpper();
}

} // namespace SmsPdu
