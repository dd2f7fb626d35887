#include "route/HttpListener.h"

#include <QHash>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>

namespace {

QByteArray phrase(int status)
{
    static const QHash<int, QByteArray> Phrases{{200, "OK"},
                                                {400, "Bad Request"},
                                                {403, "Forbidden"},
                                                {404, "Not Found"},
                                                {405, "Method Not Allowed"},
                                                {408, "Request Timeout"},
                                                {414, "URI Too Long"},
                                                {431, "Request Header Fields Too Large"},
                                                {503, "Service Unavailable"}};
    return Phrases.value(status, "Error");
}

QByteArray response(const HttpListener::Answer &answer)
{
    const QByteArray body = answer.body.isEmpty() && answer.withPhrase ? phrase(answer.status) + "\r\n" : answer.body;
    QByteArray head = "HTTP/1.1 " + QByteArray::number(answer.status) + ' ' + phrase(answer.status)
                      + "\r\nContent-Type: " + answer.contentType
                      + "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n";
    if (answer.status == 405)
        head += "Allow: GET\r\n";
    return head + "Connection: close\r\n\r\n" + body;
}

// Where the head ends, past its blank line; -1 while it has not.
qsizetype headEnd(const QByteArray &received)
{
    const qsizetype crlf = received.indexOf("\r\n\r\n");
    const qsizetype lf = received.indexOf("\n\n");
    if (crlf >= 0 && (lf < 0 || crlf < lf))
        return crlf + 4;
    return lf < 0 ? -1 : lf + 2;
}

} // namespace

struct HttpListener::Exchange {
    QByteArray received;
    bool answered = false;
};

HttpListener::HttpListener(const QByteArray &path, Handler handler, QObject *parent)
    : QObject(parent)
{
    m_handlers.insert(path, std::move(handler));
    connect(&m_server, &QTcpServer::newConnection, this, &HttpListener::accept);
    m_retry.setInterval(DefaultRetryMs);
    connect(&m_retry, &QTimer::timeout, this, &HttpListener::retry);
}

void HttpListener::serve(const QByteArray &path, Handler handler)
{
    m_handlers.insert(path, std::move(handler));
}

QHash<QString, QByteArray> HttpListener::queryItems(const QByteArray &query)
{
    const auto decoded = [](QByteArray encoded) { return QByteArray::fromPercentEncoding(encoded.replace('+', ' ')); };
    QHash<QString, QByteArray> items;
    for (const QByteArray &item : query.split('&')) {
        const qsizetype equals = item.indexOf('=');
        const QString key = QString::fromUtf8(decoded(equals < 0 ? item : item.left(equals)));
        if (!key.isEmpty() && !items.contains(key))
            items.insert(key, equals < 0 ? QByteArray() : decoded(item.mid(equals + 1)));
    }
    return items;
}

bool HttpListener::parseAddress(const QString &text, QHostAddress *host, quint16 *port)
{
    const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
    bool ok = false;
    const uint number = text.mid(colon + 1).toUInt(&ok);
    if (!ok || number == 0 || number > 65535)
        return false;
    QHostAddress address = QHostAddress::LocalHost;
    if (colon >= 0 && !address.setAddress(text.left(colon)))
        return false;
    *host = address;
    *port = quint16(number);
    return true;
}

bool HttpListener::listen(const QHostAddress &address, quint16 port)
{
    m_retry.stop();
    return bind(address, port);
}

void HttpListener::keepListening(const QHostAddress &address, quint16 port)
{
    // Asked again for what it has or already tries: nothing new to say.
    if (address == m_address && port == m_port && (m_retry.isActive() || m_server.isListening()))
        return;
    m_retry.stop();
    if (bind(address, port))
        return;
    emit cannotListen(m_server.errorString());
    m_retry.start();
}

void HttpListener::retry()
{
    if (bind(m_address, m_port))
        m_retry.stop();
}

bool HttpListener::bind(const QHostAddress &address, quint16 port)
{
    m_address = address;
    m_port = port;
    if (m_server.isListening())
        m_server.close();
    if (!m_server.listen(address, port))
        return false;
    emit listening();
    return true;
}

void HttpListener::close()
{
    m_retry.stop();
    m_server.close();
}

void HttpListener::accept()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        if (m_open.size() >= MostConnections)
            makeRoom();
        auto exchange = std::make_shared<Exchange>();
        m_open.append(Connection{socket, exchange});
        connect(socket, &QObject::destroyed, this, [this, socket] {
            m_open.removeIf([socket](const Connection &open) { return open.socket == socket; });
        });

        const auto reply = [socket, exchange](const Answer &answer) {
            exchange->answered = true;
            exchange->received.clear();
            socket->write(response(answer));
            socket->disconnectFromHost();
        };
        // A client that never finishes its request gives its place up, and
        // one that does not take its answer is not waited for either.
        const int idleMs = m_idleMs;
        QTimer::singleShot(idleMs, socket, [socket, exchange, reply, idleMs] {
            if (!exchange->answered)
                reply(Answer(408));
            QTimer::singleShot(idleMs, socket, [socket] { socket->abort(); });
        });
        connect(socket, &QTcpSocket::readyRead, this, [this, socket, exchange, reply] {
            if (exchange->answered) {
                socket->readAll();
                return;
            }
            exchange->received += socket->read(LongestRequest + 1 - exchange->received.size());
            const qsizetype end = headEnd(exchange->received);
            if (end < 0) {
                // Without its line end so far, the request line alone is too long.
                if (exchange->received.size() > LongestRequest)
                    reply(Answer(exchange->received.contains('\n') ? 431 : 414));
                return;
            }
            reply(answerFor(exchange->received.left(end)));
        });
    }
}

void HttpListener::makeRoom()
{
    const auto idle =
        std::find_if(m_open.cbegin(), m_open.cend(), [](const Connection &open) { return !open.exchange->answered; });
    const qsizetype index = idle == m_open.cend() ? 0 : idle - m_open.cbegin();
    QTcpSocket *const socket = m_open.takeAt(index).socket;
    socket->abort();
    socket->deleteLater();
}

HttpListener::Answer HttpListener::answerFor(const QByteArray &head) const
{
    // "GET /metrics HTTP/1.1"
    const QList<QByteArray> words = head.left(head.indexOf('\n')).trimmed().split(' ');
    if (words.size() != 3 || !words[2].startsWith("HTTP/") || !words[1].startsWith('/'))
        return Answer(400);
    if (words[0] != "GET")
        return Answer(405);
    const QByteArray &target = words[1];
    const qsizetype question = target.indexOf('?');
    const auto handler = m_handlers.constFind(question < 0 ? target : target.left(question));
    if (handler == m_handlers.cend())
        return Answer(404);
    return (*handler)(question < 0 ? QByteArray() : target.mid(question + 1));
}
