#pragma once

#include <QList>
#include <QObject>
#include <QTcpServer>
#include <QUrl>

class QTcpSocket;

// A TCP server on loopback that takes connections and gives each request
// `answer`, or, without one, never says a word: a gateway that hangs, or a
// web server that is no gateway.
class HttpServer : public QObject
{
public:
    explicit HttpServer(const QByteArray &answer = {});

    // A sendsms URL on this server, with a user.
    QUrl url() const;
    qsizetype connections() const { return m_sockets.size(); }
    // Whether every connection it took has been closed by the other side.
    bool allClosed() const;

private:
    QTcpServer m_server;
    QList<QTcpSocket *> m_sockets;
};

// A loopback port nobody listens on just now.
quint16 freePort();
