#pragma once

#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QTcpServer>
#include <QTimer>
#include <QUrl>

#include <functional>
#include <memory>

class QTcpSocket;

// Takes the delivery reports a Kannel smsbox sends back: one GET a report,
// /dlr?token=T&type=N&answer=A, as GatewayRoute asks for them. Only a token
// the check knows counts, so that nobody else on the network can mark an SMS
// delivered; any other request is answered with an error and forgotten.
//
// One request a connection, its head at most a few kilobytes and complete
// within a few seconds; the connection is closed after the answer. Open
// connections are bounded: at the bound the oldest one still without a
// whole request makes room, so that clients who connect and say nothing
// cannot keep the gateway's reports out.
class ReportListener : public QObject
{
    Q_OBJECT

public:
    static constexpr qsizetype LongestRequest = 8192;
    static constexpr int RequestTimeoutMs = 10000;
    static constexpr int MostConnections = 64;
    static constexpr int DefaultRetryMs = 60000;

    explicit ReportListener(QObject *parent = nullptr);

    // Port 0: any free one; port() tells which. Tries once, and ends the
    // trying of a keepListening().
    bool listen(const QHostAddress &address = QHostAddress::LocalHost, quint16 port = 0);
    // Binds now or, while the port cannot be had (another program holds
    // it, say), tries again every retry time until it can: cannotListen()
    // once, listening() when bound. Never gives up; close() ends it.
    void keepListening(const QHostAddress &address, quint16 port);
    void close();
    bool isListening() const { return m_server.isListening(); }
    quint16 port() const { return m_server.serverPort(); }
    QString errorString() const { return m_server.errorString(); }

    // The host the gateway reaches this listener by, where that is not the
    // address it listens on (all of a machine's addresses, say).
    void setReportHost(const QString &host) { m_reportHost = host; }
    // What to give GatewayRoute::setReportUrl(): http://127.0.0.1:PORT/dlr
    QUrl reportUrl() const;

    // Whether a token names an SMS that waits for its report. Without a
    // check no token is known.
    void setTokenCheck(std::function<bool(const QString &token)> check) { m_check = std::move(check); }

    // Shorter times for tests.
    void setRetryMs(int ms) { m_retry.setInterval(ms); }
    // How long a connection has for its whole request.
    void setIdleMs(int ms) { m_idleMs = ms; }

signals:
    // Bound, by keepListening() or listen().
    void listening();
    // keepListening() could not bind and goes on trying.
    void cannotListen(const QString &why);

    // Kannel's delivery report type (1 delivered, 2 failed, 4 buffered, 8 at
    // the SMSC, 16 refused by the SMSC) and the SMSC's words.
    void reported(const QString &token, int type, const QString &answer);

private:
    struct Exchange;
    struct Connection {
        QTcpSocket *socket = nullptr;
        std::shared_ptr<Exchange> exchange;
    };

    bool bind(const QHostAddress &address, quint16 port);
    void retry();
    void accept();
    // Closes the oldest connection still without a whole request, or the
    // oldest of all when every one has been answered.
    void makeRoom();
    // 0: the head is not complete yet.
    int answerFor(const QByteArray &head, QString *token, int *type, QString *answer) const;

    QString m_reportHost;
    std::function<bool(const QString &)> m_check;
    QHostAddress m_address;
    quint16 m_port = 0;
    QTimer m_retry;
    int m_idleMs = RequestTimeoutMs;
    // Oldest first.
    QList<Connection> m_open;
    // Last, so that its sockets go before what they use.
    QTcpServer m_server;
};
