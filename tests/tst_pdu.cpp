// The SMS PDU codec: PDUs worked out by hand, round trips through the
// splitting rules, a decoder fed garbage, and libgammu reading what we write.

#include "modem/SmsPdu.h"

#include <QRandomGenerator>
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
};

namespace {

const QString Smile = QString::fromUtf16(u"\U0001F600");

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

QTEST_GUILESS_MAIN(tst_pdu)
#include "tst_pdu.moc"
