#include "DelayRelay.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <climits>

DelayRelay::DelayRelay(quint16 target)
    : m_target(target)
{
    moveToThread(&m_thread);
    m_thread.start();
    QMetaObject::invokeMethod(this, [this] { listen(); }, Qt::BlockingQueuedConnection);
}

DelayRelay::~DelayRelay()
{
    QMetaObject::invokeMethod(this, [this] {
        m_server.reset();
        for (auto &pair : m_pairs)
            pair.reset();
        m_pairs.clear();
    }, Qt::BlockingQueuedConnection);
    m_thread.quit();
    m_thread.wait();
}

void DelayRelay::listen()
{
    m_server.reset(new QTcpServer);
    m_server->listen(QHostAddress::LocalHost, 0);
    m_port = m_server->serverPort();
    m_clock.start();
    QObject::connect(m_server.get(), &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *client = m_server->nextPendingConnection()) {
            auto pair = std::make_shared<Pair>();
            pair->client.reset(client);
            client->setParent(nullptr);
            client->setSocketOption(QAbstractSocket::LowDelayOption, 1);
            pair->server.reset(new QTcpSocket);
            pair->server->setSocketOption(QAbstractSocket::LowDelayOption, 1);
            pair->server->connectToHost(QHostAddress::LocalHost, m_target);
            pair->timer.reset(new QTimer);
            pair->timer->setTimerType(Qt::PreciseTimer);
            pair->timer->setSingleShot(true);
            Pair *p = pair.get();
            auto flush = [this, p] {
                const qint64 now = m_clock.elapsed();
                while (!p->toServer.empty() && p->toServer.front().due <= now) {
                    p->server->write(p->toServer.front().bytes);
                    p->toServer.pop_front();
                }
                while (!p->toClient.empty() && p->toClient.front().due <= now) {
                    p->client->write(p->toClient.front().bytes);
                    p->toClient.pop_front();
                }
                qint64 nextDue = LLONG_MAX;
                if (!p->toServer.empty())
                    nextDue = p->toServer.front().due;
                if (!p->toClient.empty())
                    nextDue = qMin(nextDue, p->toClient.front().due);
                if (nextDue != LLONG_MAX)
                    p->timer->start(int(qMax<qint64>(0, nextDue - now)));
            };
            QObject::connect(p->timer.get(), &QTimer::timeout, this, flush);
            QObject::connect(p->client.get(), &QTcpSocket::readyRead, this, [this, p, flush] {
                p->toServer.push_back({m_clock.elapsed() + DelayMs, p->client->readAll()});
                if (!p->timer->isActive())
                    flush();
            });
            QObject::connect(p->server.get(), &QTcpSocket::readyRead, this, [this, p, flush] {
                p->toClient.push_back({m_clock.elapsed() + DelayMs, p->server->readAll()});
                if (!p->timer->isActive())
                    flush();
            });
            QObject::connect(p->client.get(), &QTcpSocket::disconnected, this, [p] { p->server->disconnectFromHost(); });
            QObject::connect(p->server.get(), &QTcpSocket::disconnected, this, [p] { p->client->disconnectFromHost(); });
            m_pairs.push_back(pair);
        }
    });
}
