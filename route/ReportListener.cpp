#include "route/ReportListener.h"

#include <QHash>
#include <QHostInfo>

namespace {

const QByteArray ReportPath = "/dlr";

// smsbox writes a space in %A as '+', as a form would.
QString formValue(QByteArray encoded)
{
    return QString::fromUtf8(QByteArray::fromPercentEncoding(encoded.replace('+', ' ')));
}

QHash<QString, QString> queryItems(const QByteArray &query)
{
    QHash<QString, QString> items;
    for (const QByteArray &item : query.split('&')) {
        const qsizetype equals = item.indexOf('=');
        const QString key = formValue(equals < 0 ? item : item.left(equals));
        // A name given twice: the first counts.
        if (!key.isEmpty() && !items.contains(key))
            items.insert(key, equals < 0 ? QString() : formValue(item.mid(equals + 1)));
    }
    return items;
}

} // namespace

ReportListener::ReportListener(QObject *parent)
    : QObject(parent)
    , m_http(ReportPath, [this](const QByteArray &query) { return answer(query); })
{
    connect(&m_http, &HttpListener::listening, this, &ReportListener::listening);
    connect(&m_http, &HttpListener::cannotListen, this, &ReportListener::cannotListen);
}

QUrl ReportListener::reportUrl() const
{
    QUrl url;
    url.setScheme(QStringLiteral("http"));
    QString host = m_reportHost;
    if (host.isEmpty()) {
        const QHostAddress address = m_http.address();
        const bool anyAddress =
            address == QHostAddress::Any || address == QHostAddress::AnyIPv4 || address == QHostAddress::AnyIPv6;
        host = anyAddress ? QHostInfo::localHostName() : address.toString();
    }
    url.setHost(host);
    url.setPort(port());
    url.setPath(QString::fromLatin1(ReportPath));
    return url;
}

HttpListener::Answer ReportListener::answer(const QByteArray &query)
{
    // "/dlr?token=T&type=8&answer=ACK%2F"
    const QHash<QString, QString> items = queryItems(query);
    const QString token = items.value(QStringLiteral("token"));
    if (token.isEmpty() || !m_check || !m_check(token))
        return HttpListener::Answer(403);
    bool number = false;
    const int type = items.value(QStringLiteral("type")).toInt(&number);
    if (!number)
        return HttpListener::Answer(400);
    emit reported(token, type, items.value(QStringLiteral("answer")));
    return HttpListener::Answer(200);
}
