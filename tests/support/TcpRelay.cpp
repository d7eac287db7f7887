#include "TcpRelay.h"

#include <QNetworkProxy>
#include <QTcpSocket>

bool TcpRelay::start(quint16 targetPort)
{
    m_targetPort = targetPort;
    m_server.setProxy(QNetworkProxy::NoProxy);
    QObject::connect(&m_server, &QTcpServer::newConnection, &m_server, [this] { relay(); });
    return m_server.listen(QHostAddress::LocalHost);
}

void TcpRelay::relay()
{
    while (QTcpSocket *client = m_server.nextPendingConnection()) {
        ++m_connections;
        // The upstream socket is the client's child: both go together.
        auto *upstream = new QTcpSocket(client);
        upstream->setProxy(QNetworkProxy::NoProxy);
        // What the client sends before the upstream connection stands is
        // buffered by the upstream socket.
        QObject::connect(client, &QTcpSocket::readyRead, upstream, [client, upstream] { upstream->write(client->readAll()); });
        QObject::connect(upstream, &QTcpSocket::readyRead, client, [client, upstream] { client->write(upstream->readAll()); });
        QObject::connect(upstream, &QTcpSocket::disconnected, client, [client] { client->disconnectFromHost(); });
        QObject::connect(upstream, &QTcpSocket::errorOccurred, client, [client] { client->disconnectFromHost(); });
        QObject::connect(client, &QTcpSocket::disconnected, client, [client, upstream] {
            upstream->disconnectFromHost();
            client->deleteLater();
        });
        upstream->connectToHost(QHostAddress::LocalHost, m_targetPort);
        if (client->bytesAvailable() > 0)
            upstream->write(client->readAll());
    }
}
