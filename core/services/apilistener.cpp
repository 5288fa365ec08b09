#include "services/apilistener.h"

#include "services/apiconnection.h"

#include <QEvent>
#include <QSocketNotifier>
#include <QTcpSocket>

using namespace std::chrono_literals;

namespace {

// With no descriptor left, accepting fails while the listening socket stays
// readable. After this many wake-ups in a row that accepted nothing,
// accepting pauses for a while instead of failing again at once.
constexpr int maxWakeupsWithoutAccept = 3;
constexpr auto acceptRetry = 200ms;

} // namespace

ApiListener::ApiListener(QObject *parent) : QTcpServer(parent)
{
    m_idleCheck.setInterval(1s);
    connect(&m_idleCheck, &QTimer::timeout, this, &ApiListener::closeIdle);
    // An accept that fails for want of descriptors (or memory) makes
    // QTcpServer pause accepting for good: it would never serve again, even
    // once the descriptors are free.
    connect(this, &QTcpServer::acceptError, this, &ApiListener::resumeLater);
}

bool ApiListener::start(const QHostAddress &address, quint16 port)
{
    if (!listen(address, port))
        return false;
    // QTcpServer reports a failed accept nowhere: it simply tries again at
    // the next wake-up of its notifier, which comes at once. The wake-ups
    // themselves are watched instead.
    const auto notifiers = findChildren<QSocketNotifier *>();
    for (QSocketNotifier *notifier : notifiers) {
        if (notifier->type() == QSocketNotifier::Read && notifier->socket() == socketDescriptor())
            notifier->installEventFilter(this);
    }
    return true;
}

void ApiListener::incomingConnection(qintptr descriptor)
{
    m_wakeupsWithoutAccept = 0;
    auto *socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        return;
    }
    // Closed at once rather than left to use up descriptors.
    if (m_connections.size() >= maxConnections) {
        socket->abort();
        delete socket;
        return;
    }
    auto *connection = new ApiConnection(socket);
    m_connections.append(connection);
    connect(connection, &QObject::destroyed, this, [this, connection] {
        m_connections.removeOne(connection);
        if (m_connections.isEmpty())
            m_idleCheck.stop();
    });
    // The HTTP server takes the socket (and connects to it) right here.
    addPendingConnection(socket);
    connection->serverAttached();
    if (!m_idleCheck.isActive())
        m_idleCheck.start();
}

bool ApiListener::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::SockAct && ++m_wakeupsWithoutAccept > maxWakeupsWithoutAccept) {
        pauseAccepting();
        resumeLater();
        return true;
    }
    return QTcpServer::eventFilter(watched, event);
}

void ApiListener::resumeLater()
{
    QTimer::singleShot(acceptRetry, this, [this] {
        m_wakeupsWithoutAccept = 0;
        resumeAccepting();
    });
}

void ApiListener::closeIdle()
{
    const QList<ApiConnection *> connections = m_connections;
    for (ApiConnection *connection : connections)
        connection->closeIfIdle();
}
