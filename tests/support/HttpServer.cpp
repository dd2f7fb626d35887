#include "support/HttpServer.h"

#include <QTcpSocket>

#include <algorithm>

HttpServer::HttpServer(const QByteArray &answer)
{
    m_server.listen(QHostAddress::LocalHost);
    connect(&m_server, &QTcpServer::newConnection, this, [this, answer] {
        while (QTcpSocket *socket = m_server.nextPendingConnection()) {
            m_sockets << socket;
            if (!answer.isEmpty()) {
                connect(socket, &QTcpSocket::readyRead, socket, [socket, answer] {
                    socket->readAll();
                    socket->write(answer);
                });
            }
        }
    });
}

QUrl HttpServer::url() const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1/cgi-bin/sendsms?username=u&password=p").arg(m_server.serverPort()));
}

bool HttpServer::allClosed() const
{
    return std::all_of(m_sockets.begin(), m_sockets.end(),
                       [](const QTcpSocket *socket) { return socket->state() == QAbstractSocket::UnconnectedState; });
}

quint16 freePort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost);
    return server.serverPort();
}
