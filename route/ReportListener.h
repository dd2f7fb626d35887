#pragma once

#include "route/HttpListener.h"

#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QUrl>

#include <functional>

// Takes the delivery reports a Kannel smsbox sends back: one GET a report,
// /dlr?token=T&type=N&answer=A, as GatewayRoute asks for them. Only a token
// the check knows counts, so that nobody else on the network can mark an SMS
// delivered; any other request is answered with an error and forgotten.
// What it answers and how long it waits is HttpListener's.
class ReportListener : public QObject
{
    Q_OBJECT

public:
    static constexpr qsizetype LongestRequest = HttpListener::LongestRequest;
    static constexpr int MostConnections = HttpListener::MostConnections;

    explicit ReportListener(QObject *parent = nullptr);

    // As HttpListener's.
    bool listen(const QHostAddress &address = QHostAddress::LocalHost, quint16 port = 0)
    {
        return m_http.listen(address, port);
    }
    void keepListening(const QHostAddress &address, quint16 port) { m_http.keepListening(address, port); }
    void close() { m_http.close(); }
    bool isListening() const { return m_http.isListening(); }
    quint16 port() const { return m_http.port(); }
    QString errorString() const { return m_http.errorString(); }

    // The host the gateway reaches this listener by, where that is not the
    // address it listens on (all of a machine's addresses, say).
    void setReportHost(const QString &host) { m_reportHost = host; }
    // What to give GatewayRoute::setReportUrl(): http://127.0.0.1:PORT/dlr
    QUrl reportUrl() const;

    // Whether a token names an SMS that waits for its report. Without a
    // check no token is known.
    void setTokenCheck(std::function<bool(const QString &token)> check) { m_check = std::move(check); }

    // Another path on the same address, for another of the gateway's
    // requests (GatewayIncoming's).
    void serve(const QByteArray &path, HttpListener::Handler handler) { m_http.serve(path, std::move(handler)); }

    // Shorter times for tests.
    void setRetryMs(int ms) { m_http.setRetryMs(ms); }
    void setIdleMs(int ms) { m_http.setIdleMs(ms); }

signals:
    // Bound, by keepListening() or listen().
    void listening();
    // keepListening() could not bind and goes on trying.
    void cannotListen(const QString &why);

    // Kannel's delivery report type (1 delivered, 2 failed, 4 buffered, 8 at
    // the SMSC, 16 refused by the SMSC) and the SMSC's words.
    void reported(const QString &token, int type, const QString &answer);

private:
    HttpListener::Answer answer(const QByteArray &query);

    QString m_reportHost;
    std::function<bool(const QString &)> m_check;
    HttpListener m_http;
};
