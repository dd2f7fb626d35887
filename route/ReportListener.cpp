#include "route/ReportListener.h"

#include <QHash>
#include <QHostInfo>

namespace {

const QByteArray ReportPath = "/dlr";

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
    // smsbox writes a space in %A as '+', as a form would.
    const QHash<QString, QByteArray> items = HttpListener::queryItems(query);
    const QString token = QString::fromUtf8(items.value(QStringLiteral("token")));
    if (token.isEmpty() || !m_check || !m_check(token))
        return HttpListener::Answer(403);
    bool number = false;
    const int type = items.value(QStringLiteral("type")).toInt(&number);
    if (!number)
        return HttpListener::Answer(400);
    emit reported(token, type, QString::fromUtf8(items.value(QStringLiteral("answer"))));
    return HttpListener::Answer(200);
}
