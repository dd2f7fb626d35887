// The SMS PDU codec: PDUs worked out by hand, round trips through the
// splitting rules, a decoder fed garbage, and libgammu reading what we write;
// the same for the status reports that come back.

#include "modem/SmsPdu.h"

#include <QRandomGenerator>
#include <QTimeZone>
#include <QtTest>

#ifdef VANTREL_HAVE_GAMMU
#include <gammu.h>
#endif

using SmsPdu::Encoding;

class tst_pdu : public QObject
{
    Q_OBJECT

private slots:
    void knownPdus_data();
    void knownPdus();
    void splitting_data();
    void splitting();
    void needsPduMode();
    void decoderRefusesGarbage();
    void libgammuReadsWhatWeWrite_data() { splitting_data(); }
    void libgammuReadsWhatWeWrite();
    void statusReportByHand();
    void statusReports_data();
    void statusReports();
    void statusReportRefusesGarbage();
    void libgammuReadsOurStatusReports_data() { statusReports_data(); }
    void libgammuReadsOurStatusReports();
};

namespace {

const QString Smile = QString::fromUtf16(u"\U0001F600");

QDateTime at(int year, int month, int day, int hour, int minute, int second, int offsetMinutes)
{
    return QDateTime(QDate(year, month, day), QTime(hour, minute, second), QTimeZone(offsetMinutes * 60));
}

} // namespace

void tst_pdu::knownPdus_data()
{
    QTest::addColumn<QString>("number");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("hex"); // empty: the number cannot be encoded
    const auto row = [](const char *name, const QString &number, const QString &text, const QByteArray &hex) {
        QTest::newRow(name) << number << text << hex;
    };
    // SMSC "00", first octet 11 (submit, relative validity), TP-MR 00, TP-DA,
    // TP-PID 00, TP-DCS, TP-VP A7 (a day), TP-UDL, TP-UD.
    row("hellohello", "+15550001", "hellohello", "0011000891515500100000A70AE8329BFD4697D9EC37");
    row("national", "5550002", "Hello", "0011000781550500F20000A705C8329BFD06");
    row("escape", "+15550001", "{", "0011000891515500100000A7021B14");
    row("cyrillic", "+15550001", QString::fromUtf16(u"Привет"), "0011000891515500100008A70C041F04400438043204350442");
    row("backtick is no GSM character", "+15550001", "`", "0011000891515500100008A7020060");
    row("empty text", "+15550001", "", "0011000891515500100000A700");
    row("20 digits", "+12345678901234567890", "a", "0011001491214365870921436587090000A70161");
    row("21 digits", "+123456789012345678901", "a", {});
    row("empty number", "", "a", {});
    row("plus alone", "+", "a", {});
    row("dash", "555-0001", "a", {});
    row("inner plus", "1+555", "a", {});
    row("arabic digits", QString::fromUtf16(u"١٢٣"), "a", {});
}

void tst_pdu::knownPdus()
{
    QFETCH(QString, number);
    QFETCH(QString, text);
    QFETCH(QByteArray, hex);

    const SmsPdu::Message message = SmsPdu::encode(number, text, 0x42);
    if (hex.isEmpty()) {
        QVERIFY(message.parts.isEmpty());
        QVERIFY(!message.error.isEmpty());
        return;
    }
    QVERIFY2(message.error.isEmpty(), qPrintable(message.error));
    QCOMPARE(message.parts.size(), 1);
    QCOMPARE(message.parts[0].hex, hex);
    QCOMPARE(message.parts[0].tpduLength, hex.size() / 2 - 1);

    // The decoder reads it back, in upper or lower case, with or without an
    // SMSC number in front.
    for (const QByteArray &written : {hex, hex.toLower(), "07919761989901F0" + hex.mid(2)}) {
        const SmsPdu::Submit submit = SmsPdu::decode(written);
        QVERIFY2(submit.error.isEmpty(), qPrintable(submit.error));
        QCOMPARE(submit.number, number);
        QCOMPARE(submit.text, text);
        QCOMPARE(submit.reference, -1);
        QCOMPARE(submit.tpduLength, message.parts[0].tpduLength);
    }
}

void tst_pdu::splitting_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("encoding");
    QTest::addColumn<QList<int>>("lengths"); // TP-UDL of each part
    QTest::addColumn<QString>("received");   // what the handset shows
    // A text that fits whole is received as written.
    const auto row = [](const char *name, const QString &text, Encoding encoding, const QList<int> &lengths,
                        const QString &cutTo = {}) {
        QTest::newRow(name) << text << int(encoding) << lengths << (cutTo.isEmpty() ? text : cutTo);
    };

    const QChar ya(u'я');
    const Encoding gsm = Encoding::Gsm7;
    const Encoding ucs2 = Encoding::Ucs2;
    row("escapes", QString::fromUtf16(u"{€} [^~|\\]"), gsm, {19});
    row("latin", QString::fromUtf16(u"Café £5 @ Δ\n¿Ñ?"), gsm, {15});
    row("cyrillic and emoji", QString::fromUtf16(u"Привет ") + Smile, ucs2, {18});
    // A 7-bit part's length counts the header as 7 septets: 6 octets and a fill bit.
    row("160 septets", QString(160, 'a'), gsm, {160});
    row("161 septets", QString(161, 'a'), gsm, {160, 15});
    row("escape at boundary", QString(152, 'a') + "{" + QString(10, 'b'), gsm, {159, 19});
    row("70 units", QString(70, ya), ucs2, {140});
    row("71 units", QString(71, ya), ucs2, {140, 14});
    row("pair at boundary", QString(66, ya) + Smile + QString(10, ya), ucs2, {138, 30});
    row("one accent makes it UCS-2", QString(100, 'a') + QChar(0x0107), ucs2, {140, 74});
    row("exactly 8 parts", QString(8 * 153, 'x'), gsm, QList<int>(8, 160));
    row("7-bit cut", QString(2000, 'x'), gsm, QList<int>(8, 160), QString(7 * 153 + 150, 'x') + "...");
    // The escape would straddle the room left for "...": it goes whole.
    row("escape at the cut", QString(7 * 153 + 149, 'x') + "{" + QString(100, 'x'), gsm, QList<int>(7, 160) << 159,
        QString(7 * 153 + 149, 'x') + "...");
    row("ucs-2 cut", QString(600, ya), ucs2, QList<int>(8, 140), QString(7 * 67 + 64, ya) + "...");
    row("pair at the cut", QString(7 * 67 + 63, ya) + Smile + QString(100, ya), ucs2, QList<int>(7, 140) << 138,
        QString(7 * 67 + 63, ya) + "...");
}

void tst_pdu::splitting()
{
    QFETCH(QString, text);
    QFETCH(int, encoding);
    QFETCH(QList<int>, lengths);
    QFETCH(QString, received);

    const quint8 reference = 0xC5;
    const SmsPdu::Message message = SmsPdu::encode("+15550001", text, reference);
    QCOMPARE(int(message.encoding), encoding);
    QCOMPARE(message.cut, received != text);
    QCOMPARE(message.parts.size(), lengths.size());
    const bool concatenated = lengths.size() > 1;
    QString joined;
    for (qsizetype i = 0; i < message.parts.size(); ++i) {
        const QByteArray &hex = message.parts[i].hex;
        QCOMPARE(message.parts[i].tpduLength, hex.size() / 2 - 1);
        // TP-UDHI in the first octet; TP-UDL after "00 xx 00 08 91 51550010 00 xx A7".
        QCOMPARE(hex.mid(2, 2), QByteArray(concatenated ? "51" : "11"));
        QCOMPARE(hex.mid(24, 2).toInt(nullptr, 16), lengths[i]);
        const SmsPdu::Submit submit = SmsPdu::decode(hex);
        QVERIFY2(submit.error.isEmpty(), qPrintable(submit.error));
        QCOMPARE(submit.reference, concatenated ? int(reference) : -1);
        QCOMPARE(submit.partCount, int(lengths.size()));
        QCOMPARE(submit.partNumber, int(i + 1));
        // Neither half of a pair nor an escape is left dangling at a part's end.
        QVERIFY(!submit.text.isEmpty() && !submit.text.back().isHighSurrogate());
        QVERIFY(i == 0 || !submit.text.front().isLowSurrogate());
        joined += submit.text;
    }
    QCOMPARE(joined, received);
    if (concatenated && encoding == int(Encoding::Gsm7)) {
        // The header, one fill bit, then the first septet shifted past it.
        const QByteArray &first = message.parts[0].hex;
        QCOMPARE(first.mid(26, 12), "050003C5" + QByteArray::number(lengths.size(), 16).rightJustified(2, '0') + "01");
        QCOMPARE(first.mid(38, 2).toInt(nullptr, 16), text[0].unicode() << 1 & 0xFF);
    }
}

void tst_pdu::needsPduMode()
{
    const QString latin = QString::fromUtf16(u"é");
    const QList<std::pair<QString, bool>> cases = {
        {"", false},
        {"XAUUSD above 1905.20\nsell", false},
        {"~all of ASCII: !\"#$%&'()*+,-./:;<=>?@[\\]^_`{|}~", false},
        {QString(160, 'a'), false},
        {QString(161, 'a'), true},
        {QString(159, 'a') + "`", false},
        {QString(156, 'a') + "{{", false},
        {QString(157, 'a') + "{{", true},
        {QString(150, 'a') + "[]^~|\\", true},
        {latin, true},
        {"tab\there", true},
        {"cr\r\n", true},
        {"Gold " + Smile, true},
    };
    for (const auto &[text, expected] : cases)
        QVERIFY2(SmsPdu::needsPduMode(text) == expected, qPrintable(text.left(40)));
}

void tst_pdu::decoderRefusesGarbage()
{
    const QByteArray valid = SmsPdu::encode("+15550001", QString(400, 'a'), 7).parts[1].hex;
    QList<QByteArray> garbage = {
        "",
        "0",
        "0G11000891515500100000A700",
        "00 11000891515500100000A700",
        "0011000891515500100000A70000",               // one octet too many
        "0010000891515500100000A700",                 // SMS-DELIVER's type
        "0011000891515500100004A70161",               // 8-bit data
        "0011000891515500100020A70161",               // compressed
        "0011000891515500100008A703004100",           // UCS-2 of an odd length
        "0051000891515500100000A7020600",             // header longer than the data
        "0051000891515500100000A70705000307020300",   // part 3 of 2
        "0051000891515500100008A7080500040701020041", // element longer than the header
        "0C11000891515500100000A700",                 // SMSC part past the end
        "00110016915155001000",                       // 22 digits
    };
    // Every shorter cut of a valid PDU lacks octets its lengths announce.
    for (qsizetype size = 2; size < valid.size(); size += 2)
        garbage << valid.left(size);
    for (const QByteArray &hex : garbage)
        QVERIFY2(!SmsPdu::decode(hex).error.isEmpty(), hex.constData());

    // A header may hold other elements; the 16-bit concatenation one counts too.
    const SmsPdu::Submit other = SmsPdu::decode("0051000891515500100008A7100B0A030002000804BEEF030200620063");
    QVERIFY2(other.error.isEmpty(), qPrintable(other.error));
    QCOMPARE(other.reference, 0xBEEF);
    QCOMPARE(other.partCount, 3);
    QCOMPARE(other.partNumber, 2);
    QCOMPARE(other.text, QString("bc"));

    // Random bytes and valid PDUs with random octets changed: a reason or a
    // message within the limits, never a crash or a read past the end (the
    // sanitizer build watches that).
    QRandomGenerator random(11);
    for (int round = 0; round < 20000; ++round) {
        QByteArray bytes = QByteArray::fromHex(valid);
        if (round % 2) {
            bytes.resize(random.bounded(0, 180));
            for (char &c : bytes)
                c = char(random.bounded(256));
        } else {
            for (int changes = random.bounded(1, 4); changes > 0; --changes)
                bytes[random.bounded(bytes.size())] = char(random.bounded(256));
        }
        const SmsPdu::Submit submit = SmsPdu::decode(bytes.toHex());
        if (submit.error.isEmpty())
            QVERIFY(submit.text.size() <= SmsPdu::SingleSeptets && submit.partNumber <= submit.partCount);
        else
            QVERIFY(submit.text.isEmpty() && submit.number.isEmpty());
    }
}

void tst_pdu::libgammuReadsWhatWeWrite()
{
#ifndef VANTREL_HAVE_GAMMU
    QSKIP("libgammu not found when this test was built (install libgammu-dev): no independent decoder");
#else
    QFETCH(QString, text);
    QFETCH(QString, received);
    const auto fromGammu = [](const unsigned char *unicode) {
        QString out;
        for (; unicode[0] || unicode[1]; unicode += 2)
            out += QChar(char16_t(unicode[0] << 8 | unicode[1]));
        return out;
    };
    const SmsPdu::Message message = SmsPdu::encode("+15550001", text, 0x9E);
    const qsizetype count = message.parts.size();
    QString joined;
    for (qsizetype i = 0; i < count; ++i) {
        const QByteArray pdu = QByteArray::fromHex(message.parts[i].hex);
        GSM_SMSMessage sms{};
        size_t end = 0;
        QCOMPARE(GSM_DecodePDUFrame(GSM_GetGlobalDebug(), &sms,
                                    reinterpret_cast<const unsigned char *>(pdu.constData()), size_t(pdu.size()), &end,
                                    1),
                 ERR_NONE);
        QCOMPARE(end, size_t(pdu.size()));
        QCOMPARE(sms.PDU, SMS_Submit);
        QCOMPARE(fromGammu(sms.Number), QString("+15550001"));
        QCOMPARE(sms.Coding, message.encoding == Encoding::Gsm7 ? SMS_Coding_Default_No_Compression
                                                                : SMS_Coding_Unicode_No_Compression);
        QCOMPARE(sms.UDH.Type, count > 1 ? UDH_ConcatenatedMessages : UDH_NoUDH);
        if (count > 1) {
            QCOMPARE(sms.UDH.ID8bit, 0x9E);
            QCOMPARE(sms.UDH.AllParts, int(count));
            QCOMPARE(sms.UDH.PartNumber, int(i + 1));
        }
        joined += fromGammu(sms.Text);
    }
    QCOMPARE(joined, received);
#endif
}

void tst_pdu::statusReportByHand()
{
    // SMSC 00; first octet 06 (status report, no more messages); TP-MR 2A;
    // TP-RA 08 91 51550010; TP-SCTS and TP-DT 24/03/05 10:00:00 and 10:00:07
    // at +02:00 (8 quarters, written 80); TP-ST 00.
    const QByteArray hex = "00062A089151550010423050010000804230500100708000";
    SmsPdu::StatusReport report;
    report.reference = 42;
    report.number = "+15550001";
    report.serviceCentreTime = at(2024, 3, 5, 10, 0, 0, 120);
    report.dischargeTime = at(2024, 3, 5, 10, 0, 7, 120);
    QCOMPARE(SmsPdu::encodeStatusReport(report), hex);

    // With an SMSC number in front (07 91 97619899 01F0), TP-MR FF, a
    // national recipient (07 81 550500F2), an offset west of UTC (-03:30: 14
    // quarters, written 49 with the sign bit), TP-ST 41, then a TP-PI (03)
    // with TP-PID and TP-DCS, which say nothing about the delivery.
    const SmsPdu::StatusReport decoded =
        SmsPdu::decodeStatusReport("07919761989901F006FF0781550500F2422131911555494201011000004941030000");
    QVERIFY2(decoded.error.isEmpty(), qPrintable(decoded.error));
    QCOMPARE(decoded.tpduLength, 26);
    QCOMPARE(decoded.reference, 255);
    QCOMPARE(decoded.number, QString("5550002"));
    QCOMPARE(decoded.serviceCentreTime, at(2024, 12, 13, 19, 51, 55, -210));
    QCOMPARE(decoded.serviceCentreTime.offsetFromUtc(), -210 * 60);
    QCOMPARE(decoded.dischargeTime, at(2024, 10, 10, 1, 0, 0, -210));
    QCOMPARE(decoded.status, 0x41);

    // A submit asks for its report in TP-SRR; without asking the bytes are today's.
    const SmsPdu::Message asking = SmsPdu::encode("+15550001", "hellohello", 0x42, true);
    QCOMPARE(asking.parts[0].hex, QByteArray("0031000891515500100000A70AE8329BFD4697D9EC37"));
    QVERIFY(SmsPdu::decode(asking.parts[0].hex).statusReportRequested);
    QVERIFY(!SmsPdu::decode(SmsPdu::encode("+15550001", "hellohello", 0x42).parts[0].hex).statusReportRequested);
    for (const SmsPdu::Part &part : SmsPdu::encode("+15550001", QString(200, 'a'), 1, true).parts)
        QCOMPARE(part.hex.mid(2, 2), QByteArray("71"));
}

void tst_pdu::statusReports_data()
{
    QTest::addColumn<QString>("number");
    QTest::addColumn<int>("reference");
    QTest::addColumn<int>("status");
    QTest::addColumn<QDateTime>("serviceCentreTime");
    QTest::addColumn<QDateTime>("dischargeTime");
    QTest::newRow("delivered") << "+15550001" << 1 << 0 << at(2024, 3, 5, 10, 0, 0, 0) << at(2024, 3, 5, 10, 0, 1, 0);
    QTest::newRow("national, failed") << "5550002" << 255 << 0x41 << at(2031, 1, 31, 23, 59, 59, -300)
                                      << at(2031, 2, 1, 0, 0, 3, -300);
    QTest::newRow("expired, Nepal") << "+9779800000000" << 0 << 0x46 << at(2024, 2, 29, 5, 45, 0, 345)
                                    << at(2024, 3, 1, 5, 45, 0, 345);
    QTest::newRow("congestion, +14:00") << "+12345678901234567890" << 128 << 0x30 << at(2089, 12, 31, 12, 0, 0, 840)
                                        << at(2089, 12, 31, 12, 30, 0, 840);
    QTest::newRow("reserved status, -12:00")
        << "1" << 7 << 0xFF << at(2000, 1, 1, 0, 0, 0, -720) << at(2000, 1, 1, 0, 0, 0, -720);
}

void tst_pdu::statusReports()
{
    QFETCH(QString, number);
    QFETCH(int, reference);
    QFETCH(int, status);
    QFETCH(QDateTime, serviceCentreTime);
    QFETCH(QDateTime, dischargeTime);

    const SmsPdu::StatusReport report{{}, 0, reference, number, serviceCentreTime, dischargeTime, status};
    const QByteArray hex = SmsPdu::encodeStatusReport(report);
    QVERIFY(!hex.isEmpty());
    for (const QByteArray &written : {hex, hex.toLower(), "07919761989901F0" + hex.mid(2)}) {
        const SmsPdu::StatusReport decoded = SmsPdu::decodeStatusReport(written);
        QVERIFY2(decoded.error.isEmpty(), qPrintable(decoded.error));
        QCOMPARE(decoded.tpduLength, hex.size() / 2 - 1);
        QCOMPARE(decoded.reference, reference);
        QCOMPARE(decoded.number, number);
        QCOMPARE(decoded.status, status);
        QCOMPARE(decoded.serviceCentreTime, serviceCentreTime);
        QCOMPARE(decoded.serviceCentreTime.offsetFromUtc(), serviceCentreTime.offsetFromUtc());
        QCOMPARE(decoded.dischargeTime, dischargeTime);
        QCOMPARE(decoded.dischargeTime.offsetFromUtc(), dischargeTime.offsetFromUtc());
    }

    // Milliseconds are dropped and an offset is cut to whole quarters; the
    // moment stays.
    SmsPdu::StatusReport odd = report;
    odd.dischargeTime = dischargeTime.addMSecs(999).toOffsetFromUtc(dischargeTime.offsetFromUtc() + 7 * 60);
    const SmsPdu::StatusReport cut = SmsPdu::decodeStatusReport(SmsPdu::encodeStatusReport(odd));
    QCOMPARE(cut.dischargeTime, dischargeTime);
    QCOMPARE(cut.dischargeTime.offsetFromUtc() % (15 * 60), 0);

    // What cannot go on the air is refused rather than written wrong.
    const auto refused = [&report](auto change) {
        SmsPdu::StatusReport wrong = report;
        change(wrong);
        return SmsPdu::encodeStatusReport(wrong).isEmpty();
    };
    QVERIFY(refused([](SmsPdu::StatusReport &r) { r.number = "555-0001"; }));
    QVERIFY(refused([](SmsPdu::StatusReport &r) { r.reference = 256; }));
    QVERIFY(refused([](SmsPdu::StatusReport &r) { r.status = -1; }));
    QVERIFY(refused([](SmsPdu::StatusReport &r) { r.serviceCentreTime = at(1999, 12, 31, 23, 0, 0, 0); }));
    QVERIFY(refused([](SmsPdu::StatusReport &r) { r.serviceCentreTime = at(2100, 1, 1, 0, 0, 0, 0); }));
    QVERIFY(refused([](SmsPdu::StatusReport &r) { r.dischargeTime = {}; }));
}

void tst_pdu::statusReportRefusesGarbage()
{
    const QByteArray valid = "00062A089151550010423050010000804230500100708000";
    QList<QByteArray> garbage = {
        "",
        "0",
        "00",
        "0G062A089151550010423050010000804230500100708000",
        "00112A089151550010423050010000804230500100708000", // an SMS-SUBMIT's type
        "00042A089151550010423050010000804230500100708000", // an SMS-DELIVER's type
        "00062A0891515500104230500100008042305001007080",   // no status
        "00062A089151550010423A50010000804230500100708000", // month 3A
        "00062A089151550010423150010000804230500100708000", // month 13
        "00062A089151550010422003000000804230500100708000", // 30 February
        "00062A089151550010423050010000F04230500100708000", // offset digit F
        "00062A089151550010423050010000804230500100709700", // discharge offset of 79 quarters
        "00062A169151550010",                               // 22 digits
        "0C062A089151550010423050010000804230500100708000", // SMSC part past the end
    };
    // Every shorter cut lacks a field.
    for (qsizetype size = 2; size < valid.size(); size += 2)
        garbage << valid.left(size);
    for (const QByteArray &hex : garbage)
        QVERIFY2(!SmsPdu::decodeStatusReport(hex).error.isEmpty(), hex.constData());

    // Random bytes and a valid report with random octets changed: a reason or
    // fields within their limits, never a crash or a read past the end.
    QRandomGenerator random(13);
    for (int round = 0; round < 20000; ++round) {
        QByteArray bytes = QByteArray::fromHex(valid);
        if (round % 2) {
            bytes.resize(random.bounded(0, 48));
            for (char &c : bytes)
                c = char(random.bounded(256));
        } else {
            for (int changes = random.bounded(1, 4); changes > 0; --changes)
                bytes[random.bounded(bytes.size())] = char(random.bounded(256));
        }
        const SmsPdu::StatusReport report = SmsPdu::decodeStatusReport(bytes.toHex());
        if (report.error.isEmpty())
            QVERIFY(report.serviceCentreTime.isValid() && report.dischargeTime.isValid() && report.status <= 255
                    && report.reference <= 255);
        else
            QVERIFY(report.number.isEmpty() && !report.dischargeTime.isValid());
    }
}

void tst_pdu::libgammuReadsOurStatusReports()
{
#ifndef VANTREL_HAVE_GAMMU
    QSKIP("libgammu not found when this test was built (install libgammu-dev): no independent decoder");
#else
    QFETCH(QString, number);
    QFETCH(int, reference);
    QFETCH(int, status);
    QFETCH(QDateTime, serviceCentreTime);
    QFETCH(QDateTime, dischargeTime);
    const auto fromGammu = [](const GSM_DateTime &t) {
        return QDateTime(QDate(t.Year, t.Month, t.Day), QTime(t.Hour, t.Minute, t.Second), QTimeZone(t.Timezone));
    };
    const QByteArray hex =
        SmsPdu::encodeStatusReport({{}, 0, reference, number, serviceCentreTime, dischargeTime, status});
    // libgammu wants an octet after TP-ST: a TP-PI that announces nothing,
    // which our decoder reads past alike.
    const QByteArray pdu = QByteArray::fromHex(hex + "00");
    QCOMPARE(SmsPdu::decodeStatusReport(pdu.toHex()).dischargeTime, dischargeTime);
    GSM_SMSMessage sms{};
    size_t end = 0;
    QCOMPARE(GSM_DecodePDUFrame(GSM_GetGlobalDebug(), &sms, reinterpret_cast<const unsigned char *>(pdu.constData()),
                                size_t(pdu.size()), &end, 1),
             ERR_NONE);
    QCOMPARE(sms.PDU, SMS_Status_Report);
    QCOMPARE(int(sms.MessageReference), reference);
    QCOMPARE(int(sms.DeliveryStatus), status);
    QString gammuNumber;
    for (const unsigned char *unicode = sms.Number; unicode[0] || unicode[1]; unicode += 2)
        gammuNumber += QChar(char16_t(unicode[0] << 8 | unicode[1]));
    QCOMPARE(gammuNumber, number);
    // libgammu keeps the service centre's time in DateTime, the discharge
    // time in SMSCTime; it reads years from 90 on as 1990 and later.
    QCOMPARE(fromGammu(sms.DateTime), serviceCentreTime);
    QCOMPARE(sms.DateTime.Timezone, serviceCentreTime.offsetFromUtc());
    QCOMPARE(fromGammu(sms.SMSCTime), dischargeTime);
    QCOMPARE(sms.SMSCTime.Timezone, dischargeTime.offsetFromUtc());
#endif
}

QTEST_GUILESS_MAIN(tst_pdu)
#include "tst_pdu.moc"
