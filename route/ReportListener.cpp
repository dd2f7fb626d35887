#include "route/ReportListener.h"

#include <QHash>
#include <QHostInfo>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>

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

QByteArray response(int status)
{
    static const QHash<int, QByteArray> Phrases{{200, "OK"},
                                                {400, "Bad Request"},
                                                {403, "Forbidden"},
                                                {404, "Not Found"},
                                                {405, "Method Not Allowed"},
                                                {408, "Request Timeout"},
                                                {431, "Request Header Fields Too Large"}};
    const QByteArray phrase = Phrases.value(status, "Error");
    const QByteArray body = phrase + "\r\n";
    return "HTTP/1.1 " + QByteArray::number(status) + ' ' + phrase + "\r\nContent-Type: text/plain\r\nContent-Length: "
           + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
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

struct ReportListener::Exchange {
    QByteArray received;
    bool answered = false;
};

ReportListener::ReportListener(QObject *parent)
    : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, &ReportListener::accept);
    m_retry.setInterval(DefaultRetryMs);
    connect(&m_retry, &QTimer::timeout, this, &ReportListener::retry);
}

bool ReportListener::listen(const QHostAddress &address, quint16 port)
{
    m_retry.stop();
    return bind(address, port);
}

void ReportListener::keepListening(const QHostAddress &address, quint16 port)
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

void ReportListener::retry()
{
    if (bind(m_address, m_port))
        m_retry.stop();
}

bool ReportListener::bind(const QHostAddress &address, quint16 port)
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

void ReportListener::close()
{
    m_retry.stop();
    m_server.close();
}

QUrl ReportListener::reportUrl() const
{
    QUrl url;
    url.setScheme(QStringLiteral("http"));
    QString host = m_reportHost;
    if (host.isEmpty()) {
        const QHostAddress address = m_server.serverAddress();
        const bool anyAddress =
            address == QHostAddress::Any || address == QHostAddress::AnyIPv4 || address == QHostAddress::AnyIPv6;
        host = anyAddress ? QHostInfo::localHostName() : address.toString();
    }
    url.setHost(host);
    url.setPort(port());
    url.setPath(QString::fromLatin1(ReportPath));
    return url;
}

void ReportListener::accept()
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

        const auto answer = [socket, exchange](int status) {
            exchange->answered = true;
            exchange->received.clear();
            socket->write(response(status));
            socket->disconnectFromHost();
        };
        // A client that never finishes its request gives its place up, and
        // one that does not take its answer is not waited for either.
        const int idleMs = m_idleMs;
        QTimer::singleShot(idleMs, socket, [socket, exchange, answer, idleMs] {
            if (!exchange->answered)
                answer(408);
            QTimer::singleShot(idleMs, socket, [socket] { socket->abort(); });
        });
        connect(socket, &QTcpSocket::readyRead, this, [this, socket, exchange, answer] {
            if (exchange->answered) {
                socket->readAll();
                return;
            }
            exchange->received += socket->read(LongestRequest + 1 - exchange->received.size());
            const qsizetype end = headEnd(exchange->received);
            if (end < 0) {
                if (exchange->received.size() > LongestRequest)
                    answer(431);
                return;
            }
            QString token;
            QString said;
            int type = 0;
            const int status = answerFor(exchange->received.left(end), &token, &type, &said);
            answer(status);
            if (status == 200)
                emit reported(token, type, said);
        });
    }
}

void ReportListener::makeRoom()
{
    const auto idle =
        std::find_if(m_open.cbegin(), m_open.cend(), [](const Connection &open) { return !open.exchange->answered; });
    const qsizetype index = idle == m_open.cend() ? 0 : idle - m_open.cbegin();
    QTcpSocket *const socket = m_open.takeAt(index).socket;
    socket->abort();
    socket->deleteLater();
}

int ReportListener::answerFor(const QByteArray &head, QString *token, int *type, QString *answer) const
{
    // "GET /dlr?token=T&type=8&answer=ACK%2F HTTP/1.1"
    const QList<QByteArray> words = head.left(head.indexOf('\n')).trimmed().split(' ');
    if (words.size() != 3 || !words[2].startsWith("HTTP/") || !words[1].startsWith('/'))
        return 400;
    if (words[0] != "GET")
        return 405;
    const QByteArray &target = words[1];
    const qsizetype question = target.indexOf('?');
    if ((question < 0 ? target : target.left(question)) != ReportPath)
        return 404;
    const QHash<QString, QString> items = queryItems(question < 0 ? QByteArray() : target.mid(question + 1));
    *token = items.value(QStringLiteral("token"));
    if (token->isEmpty() || !m_check || !m_check(*token))
        return 403;
    bool number = false;
    *type = items.value(QStringLiteral("type")).toInt(&number);
    if (!number)
        return 400;
    *answer = items.value(QStringLiteral("answer"));
    return 200;
}
