#pragma once

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>
#include <QTcpServer>
#include <QTimer>

#include <functional>
#include <memory>

class QTcpSocket;

// A small HTTP server for what others on the network may ask of the relay
// (the gateway's delivery reports and incoming SMS, the metrics page): a GET
// of the paths it serves, one request a connection, answered and closed.
// Anything else is refused without reaching a handler: another method (405),
// another path (404), a request line or head longer than a few kilobytes
// (414, 431), a request not whole within the idle time (408).
//
// Open connections are bounded: at the bound the oldest one still without a
// whole request makes room, so that clients who connect and say nothing
// cannot keep the others out.
class HttpListener : public QObject
{
    Q_OBJECT

public:
    static constexpr qsizetype LongestRequest = 8192;
    static constexpr int RequestTimeoutMs = 10000;
    static constexpr int MostConnections = 64;
    static constexpr int DefaultRetryMs = 60000;

    struct Answer {
        Answer(int code = 200, const QByteArray &type = "text/plain", const QByteArray &text = {})
            : status(code)
            , contentType(type)
            , body(text)
        {
        }

        // No body at all, not even the phrase: an answer whose words would
        // be taken for something to do (an SMS to send back).
        static Answer bare(int code)
        {
            Answer answer(code);
            answer.withPhrase = false;
            return answer;
        }

        int status;
        QByteArray contentType;
        QByteArray body; // empty: the status's phrase
        bool withPhrase = true;
    };
    // The answer to a GET of the path, given its query as sent (what
    // follows the "?", still percent-encoded).
    using Handler = std::function<Answer(const QByteArray &query)>;

    HttpListener(const QByteArray &path, Handler handler, QObject *parent = nullptr);

    // Another path on the same address ("/incoming"); a path served already
    // gets the new handler.
    void serve(const QByteArray &path, Handler handler);

    // Port 0: any free one; port() tells which. Tries once, and ends the
    // trying of a keepListening().
    bool listen(const QHostAddress &address = QHostAddress::LocalHost, quint16 port = 0);
    // Binds now or, while the port cannot be had (another program holds
    // it, say), tries again every retry time until it can: cannotListen()
    // once, listening() when bound. Never gives up; close() ends it.
    void keepListening(const QHostAddress &address, quint16 port);
    void close();
    bool isListening() const { return m_server.isListening(); }
    QHostAddress address() const { return m_server.serverAddress(); }
    quint16 port() const { return m_server.serverPort(); }
    QString errorString() const { return m_server.errorString(); }

    // Shorter times for tests.
    void setRetryMs(int ms) { m_retry.setInterval(ms); }
    // How long a connection has for its whole request.
    void setIdleMs(int ms) { m_idleMs = ms; }

    // A query's items as a form sends them ('+' for a space, %XX for a
    // byte), decoded; of a name given twice the first counts.
    static QHash<QString, QByteArray> queryItems(const QByteArray &query);

    // "[HOST:]PORT", on 127.0.0.1 where no host is named; false where it
    // does not read.
    static bool parseAddress(const QString &text, QHostAddress *host, quint16 *port);

signals:
    // Bound, by keepListening() or listen().
    void listening();
    // keepListening() could not bind and goes on trying.
    void cannotListen(const QString &why);

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
    Answer answerFor(const QByteArray &head) const;

    QHash<QByteArray, Handler> m_handlers; // by path
    QHostAddress m_address;
    quint16 m_port = 0;
    QTimer m_retry;
    int m_idleMs = RequestTimeoutMs;
    // Oldest first.
    QList<Connection> m_open;
    // Last, so that its sockets go before what they use.
    QTcpServer m_server;
};
