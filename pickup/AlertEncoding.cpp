#include "pickup/AlertEncoding.h"

#include <QIODevice>
#include <QStringDecoder>
#include <QStringEncoder>

namespace {

constexpr qint64 ScanChunk = 65536;

} // namespace

AlertEncoding AlertEncoding::detect(QIODevice &file, const QString &codePage)
{
    AlertEncoding encoding;
    encoding.m_codePage = codePage;
    file.seek(0);
    const QByteArray start = file.peek(3);
    if (start.startsWith("\xEF\xBB\xBF")) {
        encoding.m_markSize = 3;
    } else if (start.startsWith("\xFF\xFE")) {
        encoding.m_kind = Kind::Utf16LE;
        encoding.m_markSize = 2;
    } else if (start.startsWith("\xFE\xFF")) {
        encoding.m_kind = Kind::Utf16BE;
        encoding.m_markSize = 2;
    } else {
        // Valid UTF-8 throughout, or else the code page. Plain ASCII is both.
        // (The decoder decodes when its result is taken as text.)
        QStringDecoder utf8(QStringDecoder::Utf8);
        for (QByteArray chunk = file.read(ScanChunk); !chunk.isEmpty() && !utf8.hasError();
             chunk = file.read(ScanChunk))
            const QString text = utf8.decode(chunk);
        // A sequence the file leaves open at its end is broken too.
        const QString end = utf8.decode(QByteArrayView("\n"));
        if (utf8.hasError())
            encoding.m_kind = Kind::CodePage;
    }
    file.seek(0);
    return encoding;
}

QString AlertEncoding::name() const
{
    switch (m_kind) {
    case Kind::Utf8:
        return QStringLiteral("UTF-8");
    case Kind::Utf16LE:
        return QStringLiteral("UTF-16LE");
    case Kind::Utf16BE:
        return QStringLiteral("UTF-16BE");
    case Kind::CodePage:
        return m_codePage;
    }
    return QString();
}

bool AlertEncoding::isUnit(const char *bytes, char c) const
{
    switch (m_kind) {
    case Kind::Utf16LE:
        return bytes[0] == c && bytes[1] == 0;
    case Kind::Utf16BE:
        return bytes[0] == 0 && bytes[1] == c;
    default:
        return bytes[0] == c;
    }
}

QString AlertEncoding::decode(QByteArrayView bytes) const
{
    switch (m_kind) {
    case Kind::Utf8:
        return QString::fromUtf8(bytes);
    case Kind::Utf16LE:
        return QStringDecoder(QStringDecoder::Utf16LE).decode(bytes);
    case Kind::Utf16BE:
        return QStringDecoder(QStringDecoder::Utf16BE).decode(bytes);
    case Kind::CodePage:
        break;
    }
    QStringDecoder decoder(m_codePage.toLatin1().constData());
    return decoder.isValid() ? decoder.decode(bytes) : QString::fromLatin1(bytes);
}

QByteArray AlertEncoding::encode(const QString &text) const
{
    if (m_kind != Kind::CodePage)
        return text.toUtf8();
    QStringEncoder encoder(m_codePage.toLatin1().constData());
    return encoder.isValid() ? QByteArray(encoder.encode(text)) : text.toLatin1();
}
