#include "route/GatewayIncoming.h"

#include <QCryptographicHash>
#include <QStringDecoder>

namespace {

// Kannel's codings of a message: 0 GSM 7-bit, 1 8-bit, 2 UCS-2.
constexpr int Ucs2 = 2;

QString decodedText(const QByteArray &data, int coding, const QByteArray &charset)
{
    if (!charset.isEmpty()) {
        QStringDecoder decoder(charset.constData());
        if (decoder.isValid()) {
            QString text = decoder(data);
            if (!decoder.hasError())
                return text;
        }
    }
    if (coding == Ucs2) {
        QStringDecoder utf16(QStringConverter::Utf16BE);
        return utf16(data);
    }
    QStringDecoder utf8(QStringConverter::Utf8);
    QString text = utf8(data);
    // smsbox gives 7-bit text as Latin-1 where it was not told otherwise.
    return utf8.hasError() ? QString::fromLatin1(data) : text;
}

} // namespace

GatewayIncoming::GatewayIncoming(QObject *parent)
    : QObject(parent)
{
}

bool GatewayIncoming::rightSecret(const QByteArray &given) const
{
    if (m_secret.isEmpty())
        return false;
    // Digests of equal length compared byte by byte to the end: the time
    // taken tells nothing of how much of the secret a guess had right.
    const QByteArray want = QCryptographicHash::hash(m_secret, QCryptographicHash::Sha256);
    const QByteArray got = QCryptographicHash::hash(given, QCryptographicHash::Sha256);
    unsigned difference = 0;
    for (qsizetype i = 0; i < want.size(); ++i)
        difference |= unsigned(uchar(want[i]) ^ uchar(got[i]));
    return difference == 0;
}

HttpListener::Answer GatewayIncoming::answer(const QByteArray &query)
{
    const QHash<QString, QByteArray> items = HttpListener::queryItems(query);
    if (!rightSecret(items.value(QStringLiteral("secret")))) {
        if (!m_lastNote.isValid() || m_lastNote.hasExpired(RefusalNoteMs)) {
            m_lastNote.start();
            emit refused(QStringLiteral("Gateway: an incoming SMS without the right secret refused"));
        }
        return HttpListener::Answer(403);
    }
    IncomingSms sms;
    sms.number = QString::fromUtf8(items.value(QStringLiteral("from"))).trimmed();
    if (sms.number.isEmpty())
        return HttpListener::Answer(400);
    sms.text = decodedText(items.value(QStringLiteral("text")), items.value(QStringLiteral("coding")).toInt(),
                           items.value(QStringLiteral("charset")));
    bool isTime = false;
    const qint64 seconds = items.value(QStringLiteral("time")).toLongLong(&isTime);
    if (isTime && seconds > 0)
        sms.sentAt = QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC);
    // Refused unless committed: smsbox then tries again.
    if (!m_keeper || !m_keeper(sms))
        return HttpListener::Answer(503);
    // An empty body: nothing for smsbox to send back.
    return HttpListener::Answer::bare(200);
}

QString GatewayIncoming::queryTemplate(const QUrl &listener, const QString &secret)
{
    QUrl base = listener.adjusted(QUrl::RemoveQuery | QUrl::RemoveFragment);
    base.setPath(QString::fromLatin1(Path));
    QByteArray encoded = QUrl::toPercentEncoding(secret);
    encoded.replace('%', "%%");
    return QString::fromLatin1(base.toEncoded() + "?secret=" + encoded
                               + "&from=%p&text=%b&coding=%c&charset=%C&time=%T");
}
