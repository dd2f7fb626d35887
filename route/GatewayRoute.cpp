#include "route/GatewayRoute.h"

#include "modem/SmsPdu.h"
#include "store/PhoneNumber.h"

#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

namespace {

// Kannel answers with a line; anything much longer is not a gateway.
constexpr qint64 LongestAnswer = 4096;
// What of the gateway's words goes into the page log.
constexpr qsizetype LongestReason = 200;

// The parameters this route sets; the administrator's own (username,
// password, smsc, ...) are kept as given.
bool setByRoute(const QByteArray &key)
{
    static const QByteArrayList Keys{"from", "to", "text", "charset", "coding", "dlr-mask", "dlr-url"};
    return Keys.contains(key);
}

bool hasItem(const QUrl &url, const QStringList &names)
{
    for (const QString &item : url.query(QUrl::FullyDecoded).split(QLatin1Char('&'))) {
        if (names.contains(item.section(QLatin1Char('='), 0, 0)))
            return true;
    }
    return false;
}

QString seconds(int ms)
{
    return QString::number(ms / 1000.0, 'g', 3) + QStringLiteral(" s");
}

QString words(const QByteArray &body)
{
    QString text = QString::fromUtf8(body).simplified();
    if (text.size() > LongestReason)
        text = text.left(LongestReason) + QStringLiteral("...");
    return text;
}

QString hostAndPort(const QUrl &url)
{
    const int port = url.port(url.scheme() == QLatin1String("https") ? 443 : 80);
    return QStringLiteral("%1:%2").arg(url.host()).arg(port);
}

} // namespace

GatewayRoute::GatewayRoute(const QUrl &sendSmsUrl, QObject *parent)
    : QObject(parent)
    , m_url(sendSmsUrl)
    , m_urlProblem(urlProblem(sendSmsUrl))
{
    // The gateway stands on the desk's own network; a proxy set up for the
    // web would only come between.
    m_network.setProxy(QNetworkProxy::NoProxy);
}

GatewayRoute::~GatewayRoute()
{
    // Whoever would hear of these outcomes is going away with the route.
    const QList<QNetworkReply *> replies = m_pending.keys();
    m_pending.clear();
    for (QNetworkReply *reply : replies) {
        reply->disconnect(this);
        reply->abort();
        delete reply;
    }
}

void GatewayRoute::setUrl(const QUrl &sendSmsUrl)
{
    m_url = sendSmsUrl;
    m_urlProblem = urlProblem(sendSmsUrl);
}

void GatewayRoute::probe(const std::function<void(bool answered)> &done)
{
    if (!m_urlProblem.isEmpty()) {
        QTimer::singleShot(0, this, [done] { done(false); });
        return;
    }
    QNetworkReply *reply = m_network.get(QNetworkRequest(m_url));
    auto *timer = new QTimer(reply);
    timer->setSingleShot(true);
    connect(timer, &QTimer::timeout, reply, &QNetworkReply::abort);
    timer->start(m_timeoutMs);
    connect(reply, &QNetworkReply::finished, this, [reply, done] {
        reply->deleteLater();
        done(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() != 0);
    });
}

QString GatewayRoute::urlProblem(const QUrl &url)
{
    if (url.isEmpty())
        return QStringLiteral("No gateway address is given.");
    if (!url.isValid())
        return QStringLiteral("The gateway address is not a valid URL: %1").arg(url.errorString());
    const QString scheme = url.scheme().toLower();
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https"))
        return QStringLiteral("The gateway address must start with http:// or https://.");
    if (url.host().isEmpty())
        return QStringLiteral("The gateway address names no host.");
    if (!hasItem(url, {QStringLiteral("username"), QStringLiteral("user")})
        || !hasItem(url, {QStringLiteral("password"), QStringLiteral("pass")}))
        return QStringLiteral("The gateway address lacks the sendsms user: ...?username=U&password=P");
    return {};
}

QUrl GatewayRoute::requestUrl(const SmsRequest &request) const
{
    const QString number = PhoneNumber::normalized(request.number);
    if (number.isNull() || !m_urlProblem.isEmpty())
        return {};
    QByteArrayList items;
    for (const QByteArray &item : m_url.query(QUrl::FullyEncoded).toLatin1().split('&')) {
        const qsizetype equals = item.indexOf('=');
        if (!item.isEmpty() && !setByRoute(QByteArray::fromPercentEncoding(equals < 0 ? item : item.left(equals))))
            items << item;
    }
    // Every value percent-encoded in full: to sendsms a '+' is a space.
    const auto add = [&items](const char *key, const QByteArray &value) {
        items << QByteArray(key) + '=' + QUrl::toPercentEncoding(value);
    };
    add("from", m_sender.toUtf8());
    add("to", number.toUtf8());
    add("text", request.text.toUtf8());
    add("charset", "UTF-8");
    // Without it Kannel keeps to 7-bit text and turns what does not fit into '?'.
    if (SmsPdu::encode(number, request.text, 0).encoding == SmsPdu::Encoding::Ucs2)
        add("coding", "2");
    if (!request.token.isEmpty() && !m_reportUrl.isEmpty()) {
        const QUrl base = m_reportUrl.adjusted(QUrl::RemoveFragment);
        QByteArray report = base.toEncoded() + (base.hasQuery() ? '&' : '?')
                            + "token=" + QUrl::toPercentEncoding(request.token.toUtf8());
        // Kannel takes every '%' in the dlr-url for one of its escapes, and
        // "%%" for a '%'.
        report.replace('%', "%%");
        add("dlr-mask", "31");
        add("dlr-url", report + "&type=%d&answer=%A");
    }
    QUrl url = m_url.adjusted(QUrl::RemoveFragment);
    url.setQuery(QString::fromLatin1(items.join('&')), QUrl::StrictMode);
    return url;
}

void GatewayRoute::send(const SmsRequest &request, std::function<void(const SendOutcome &)> done)
{
    if (!m_urlProblem.isEmpty()) {
        refuseLater(request, m_urlProblem, SendOutcome::Failure::Port, std::move(done));
        return;
    }
    const QUrl url = requestUrl(request);
    if (url.isEmpty()) {
        refuseLater(request, QStringLiteral("not a phone number"), SendOutcome::Failure::Destination, std::move(done));
        return;
    }

    QNetworkReply *reply = m_network.get(QNetworkRequest(url));
    m_pending.insert(reply, Pending{std::move(done), request.partsSent, false, false});

    connect(reply, &QNetworkReply::finished, this, [this, reply] { finished(reply); });
    connect(reply, &QNetworkReply::readyRead, this, [this, reply] {
        if (reply->bytesAvailable() <= LongestAnswer)
            return;
        const auto found = m_pending.find(reply);
        if (found != m_pending.end()) {
            found->tooLong = true;
            reply->abort();
        }
    });
    // A whole time for the request, not the transfer time-out's pause
    // between bytes: a gateway that trickles still has its end.
    auto *timer = new QTimer(reply);
    timer->setSingleShot(true);
    // A coarse timer may end it early, before the time the reason tells.
    timer->setTimerType(Qt::PreciseTimer);
    connect(timer, &QTimer::timeout, this, [this, reply] {
        const auto found = m_pending.find(reply);
        if (found != m_pending.end()) {
            found->timedOut = true;
            reply->abort();
        }
    });
    timer->start(m_timeoutMs);
}

void GatewayRoute::refuseLater(const SmsRequest &request, const QString &reason, SendOutcome::Failure failure,
                               std::function<void(const SendOutcome &)> done)
{
    SendOutcome outcome;
    outcome.partsSent = request.partsSent;
    outcome.failure = failure;
    outcome.reason = reason;
    outcome.route = routeName();
    QTimer::singleShot(0, this, [done = std::move(done), outcome] { done(outcome); });
}

void GatewayRoute::finished(QNetworkReply *reply)
{
    const auto found = m_pending.find(reply);
    if (found == m_pending.end())
        return;
    const Pending pending = *found;
    m_pending.erase(found);
    reply->deleteLater();
    // Counted out before the callback, so that it finds the route free.
    pending.done(outcomeOf(reply, pending));
    if (m_pending.isEmpty())
        emit idle();
}

SendOutcome GatewayRoute::outcomeOf(QNetworkReply *reply, const Pending &pending) const
{
    SendOutcome outcome;
    outcome.route = routeName();
    outcome.partsSent = pending.partsSent;
    outcome.failure = SendOutcome::Failure::Port;
    if (pending.timedOut) {
        outcome.reason = QStringLiteral("the gateway did not answer within %1").arg(seconds(m_timeoutMs));
        return outcome;
    }
    if (pending.tooLong) {
        outcome.reason = QStringLiteral("the gateway's answer is longer than %1 bytes: %2 is no sendsms interface")
                             .arg(LongestAnswer)
                             .arg(hostAndPort(m_url));
        return outcome;
    }

    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status == 0) {
        switch (reply->error()) {
        case QNetworkReply::ConnectionRefusedError:
            outcome.reason = QStringLiteral("the gateway refused the connection (%1)").arg(hostAndPort(m_url));
            break;
        case QNetworkReply::HostNotFoundError:
            outcome.reason = QStringLiteral("the gateway's host %1 was not found").arg(m_url.host());
            break;
        default:
            outcome.reason = QStringLiteral("the gateway could not be reached (%1: %2)")
                                 .arg(hostAndPort(m_url), reply->errorString());
            break;
        }
        return outcome;
    }

    const QByteArray body = reply->readAll().trimmed();
    // "0: Accepted for delivery", or "3: Queued for later delivery" while
    // its SMSC is away: either way the gateway has it now.
    if (status / 100 == 2 && (body.startsWith("0:") || body.startsWith("3:"))) {
        outcome.sent = true;
        outcome.failure = SendOutcome::Failure::None;
        return outcome;
    }
    QString said = words(body);
    if (said.isEmpty())
        said = reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString();
    outcome.reason = QStringLiteral("HTTP %1: %2").arg(status).arg(said);
    // No SMSC of the gateway takes this number.
    outcome.failure =
        body.startsWith("Not routable") ? SendOutcome::Failure::Destination : SendOutcome::Failure::Refused;
    return outcome;
}
