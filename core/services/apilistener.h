#pragma once

#include <QList>
#include <QTcpServer>
#include <QTimer>

class ApiConnection;

// The listening socket of the HTTP API, bound to the HTTP server. Every
// connection it hands over carries an ApiConnection that keeps it within
// bounds; beyond maxConnections at a time, new ones are closed at once, and
// connections idle for ApiConnection::idleTimeout are closed.
class ApiListener : public QTcpServer
{
    Q_OBJECT

public:
    static constexpr int maxConnections = 64;

    explicit ApiListener(QObject *parent = nullptr);

    // listen(), and the watch on accepting that keeps a listener with no
    // descriptors left from spinning.
    bool start(const QHostAddress &address, quint16 port);

protected:
    void incomingConnection(qintptr descriptor) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void closeIdle();
    // Accepting again after acceptRetry, once it has paused.
    void resumeLater();

    QList<ApiConnection *> m_connections;
    QTimer m_idleCheck;
    int m_wakeupsWithoutAccept = 0;
};
