#pragma once

#include <QTcpServer>

// Passes every TCP connection made to port() through to a loopback port,
// byte for byte (TLS included), and counts the connections. A test learns
// from it that a client has reached the server, which no server log says
// before the answer is complete. Runs on the thread that owns it, through its
// event loop.
class TcpRelay
{
public:
    TcpRelay() = default;
    Q_DISABLE_COPY(TcpRelay)

    bool start(quint16 targetPort);
    quint16 port() const { return m_server.serverPort(); }
    // Connections accepted so far.
    int connections() const { return m_connections; }

private:
    void relay();

    QTcpServer m_server;
    quint16 m_targetPort = 0;
    int m_connections = 0;
};
