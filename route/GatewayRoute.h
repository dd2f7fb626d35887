#pragma once

#include "modem/SmsRoute.h"

#include <QHash>
#include <QNetworkAccessManager>
#include <QObject>
#include <QString>
#include <QUrl>

#include <functional>

class QNetworkReply;

// SMS through a Kannel smsbox: one GET to its sendsms interface a message,
// whatever the length (Kannel cuts long texts into parts itself). Several
// can be under way at once; each ends on the gateway's answer, on a network
// error, or after the time-out, and its outcome comes by callback.
//
// A delivery report is asked for where the request has a token and a report
// URL is set: Kannel then calls <report URL>?token=T&type=%d&answer=%A
// (see ReportListener) for each state the SMS reaches.
class GatewayRoute : public QObject, public SmsRoute
{
    Q_OBJECT

public:
    static constexpr int DefaultMaxInFlight = 4;
    static constexpr int DefaultTimeoutMs = 30000;
    // How the page log and the outbox name this route.
    static constexpr const char *Name = "gateway";

    // `sendSmsUrl` as the administrator gives it:
    // http://HOST:PORT/cgi-bin/sendsms?username=U&password=P
    explicit GatewayRoute(const QUrl &sendSmsUrl, QObject *parent = nullptr);
    // Requests under way are aborted; their callbacks are not called.
    ~GatewayRoute() override;

    // Why `url` cannot serve as a sendsms URL, in words for the administrator;
    // empty when it can. A route made with such a URL fails every SMS with it.
    static QString urlProblem(const QUrl &url);

    QUrl url() const { return m_url; }
    // Another address, for the requests from now on.
    void setUrl(const QUrl &sendSmsUrl);

    // The sender Kannel puts on each SMS.
    void setSender(const QString &from) { m_sender = from; }
    QString sender() const { return m_sender; }

    // Where Kannel sends delivery reports, ReportListener::reportUrl(); empty:
    // none are asked for.
    void setReportUrl(const QUrl &base) { m_reportUrl = base; }
    QUrl reportUrl() const { return m_reportUrl; }

    void setMaxInFlight(int count) { m_maxInFlight = qMax(1, count); }
    int maxInFlight() const { return m_maxInFlight; }
    int inFlight() const { return int(m_pending.size()); }

    // How long a request may take, from start to the end of the answer.
    void setTimeoutMs(int ms) { m_timeoutMs = qMax(1, ms); }
    int timeoutMs() const { return m_timeoutMs; }

    QString routeName() const override { return QString::fromLatin1(Name); }
    bool free() const override { return inFlight() < m_maxInFlight; }
    // Takes the SMS even when not free; the dispatcher is expected to ask.
    // `done` must not delete the route; deleteLater() it.
    void send(const SmsRequest &request, std::function<void(const SendOutcome &)> done) override;
    bool reportsByToken() const override { return !m_reportUrl.isEmpty(); }

    // Whether the gateway answers at all: the sendsms URL without a
    // receiver, which Kannel refuses at once when it is there. `done` gets
    // true on any HTTP answer.
    void probe(const std::function<void(bool answered)> &done) override;

    // The SMS the gateway's sms-service hands over (GatewayIncoming) go to
    // what `incoming` keeps; the gateway makes no calls.
    void listenToPhones(const Incoming &incoming) override { m_incoming = incoming; }
    // Whether an SMS the gateway heard was committed; false too while
    // nothing listens.
    bool keep(const IncomingSms &sms) const { return m_incoming.on() && m_incoming.keep(routeName(), sms); }

    // The sendsms request send() makes for `request`; empty when its number
    // is none or the URL unusable.
    QUrl requestUrl(const SmsRequest &request) const;

signals:
    // The last request under way has ended.
    void idle();

private:
    struct Pending {
        std::function<void(const SendOutcome &)> done;
        quint32 partsSent = 0; // as the request had them: the gateway sends the whole text
        bool timedOut = false;
        bool tooLong = false;
    };

    void refuseLater(const SmsRequest &request, const QString &reason, SendOutcome::Failure failure,
                     std::function<void(const SendOutcome &)> done);
    void finished(QNetworkReply *reply);
    SendOutcome outcomeOf(QNetworkReply *reply, const Pending &pending) const;

    QUrl m_url;
    QString m_urlProblem;
    QString m_sender = QStringLiteral("Vantrel");
    QUrl m_reportUrl;
    int m_maxInFlight = DefaultMaxInFlight;
    int m_timeoutMs = DefaultTimeoutMs;
    QNetworkAccessManager m_network;
    QHash<QNetworkReply *, Pending> m_pending;
    Incoming m_incoming;
};
