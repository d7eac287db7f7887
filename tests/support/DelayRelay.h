#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QThread>

#include <deque>
#include <memory>
#include <vector>

class QTcpServer;
class QTcpSocket;
class QTimer;

// Where no network namespace with netem can be made: a TCP relay on loopback
// that holds every chunk 15 ms in each direction (a 30 ms round trip), on a
// thread of its own. It delays the TLS handshake and every request and
// answer like the link would, but not TCP's own connection set-up (one round
// trip less per new connection than the real link).
class DelayRelay : public QObject
{
public:
    explicit DelayRelay(quint16 target);
    ~DelayRelay() override;
    quint16 port() const { return m_port; }

private:
    struct Chunk
    {
        qint64 due;
        QByteArray bytes;
    };
    struct Pair
    {
        std::unique_ptr<QTcpSocket> client, server;
        std::deque<Chunk> toServer, toClient;
        std::unique_ptr<QTimer> timer;
    };
    void listen();

    static constexpr qint64 DelayMs = 15;
    quint16 m_target;
    quint16 m_port = 0;
    QThread m_thread;
    QElapsedTimer m_clock;
    std::unique_ptr<QTcpServer> m_server;
    std::vector<std::shared_ptr<Pair>> m_pairs;
};
