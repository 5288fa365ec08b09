#include "services/apiconnection.h"

#include <QTcpSocket>

#include <algorithm>
#include <utility>

using namespace std::chrono_literals;

namespace {

// After a refusal the client may still be sending (a body it was told not
// to send). Its bytes are read and dropped until it pauses, for at most
// lingerMax: closing with unread data would reset the connection, and a
// client still writing might lose the refusal with it.
constexpr auto lingerQuiet = 100ms;
constexpr auto lingerMax = 2s;

// The server skips these before a request line.
bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v';
}

// Just past the blank line that ends a head, or -1. CRLF and LF line ends
// are taken alike, as the server takes them.
qsizetype headEnd(QByteArrayView head, qsizetype from)
{
    for (qsizetype i = head.indexOf('\n', from); i >= 0; i = head.indexOf('\n', i + 1)) {
        if (i + 1 < head.size() && head[i + 1] == '\n')
            return i + 2;
        if (i + 2 < head.size() && head[i + 1] == '\r' && head[i + 2] == '\n')
            return i + 3;
    }
    return -1;
}

constexpr QByteArrayView contentLength("content-length");
constexpr QByteArrayView transferEncoding("transfer-encoding");

bool isDecimal(QByteArrayView text)
{
    return !text.isEmpty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

} // namespace

ApiConnection::ApiConnection(QTcpSocket *socket) : QObject(socket), m_socket(socket), m_idleDeadline(idleTimeout)
{
    socket->setReadBufferSize(readBufferSize);
    connect(socket, &QTcpSocket::readyRead, this, &ApiConnection::beforeServer);
    m_linger.setInterval(lingerQuiet);
    connect(&m_linger, &QTimer::timeout, this, [this] {
        if (m_heardWhileLingering && !m_lingerDeadline.hasExpired()) {
            m_heardWhileLingering = false;
            return;
        }
        m_linger.stop();
        m_socket->disconnectFromHost();
    });
}

void ApiConnection::serverAttached()
{
    connect(m_socket, &QTcpSocket::readyRead, this, &ApiConnection::afterServer);
}

ApiConnection *ApiConnection::of(QTcpSocket *socket)
{
    return socket ? socket->findChild<ApiConnection *>(QString(), Qt::FindDirectChildrenOnly) : nullptr;
}

void ApiConnection::requestStarted()
{
    m_inRequest = true;
    m_requestComplete = false;
    m_idleDeadline = QDeadlineTimer(QDeadlineTimer::Forever);
    if (m_phase == Phase::ChunkedBody) {
        // The server found where the chunked body ends: the bytes after it,
        // counted as body so far, start the next request.
        m_phase = Phase::Head;
        m_rescan = true;
    }
}

void ApiConnection::answerPostponed()
{
    m_answerPostponed = true;
}

void ApiConnection::requestFinished()
{
    if (!m_inRequest)
        return;
    m_inRequest = false;
    m_answerPostponed = false;
    m_idleDeadline.setRemainingTime(idleTimeout);
    if (!m_refusal.isEmpty()) {
        sendRefusal();
        return;
    }
    if (m_phase == Phase::Refused)
        return;
    if (m_socket->bytesToWrite() > maxUnsentAnswers && !m_waitingForClient) {
        m_waitingForClient = true;
        // Only then: bytesWritten comes with every answer.
        m_answersTaken = connect(m_socket, &QTcpSocket::bytesWritten, this, &ApiConnection::answersTaken);
    }
    release();
}

void ApiConnection::closeIfIdle()
{
    if (m_phase != Phase::Refused && m_idleDeadline.hasExpired())
        m_socket->disconnectFromHost();
}

// Connected to readyRead ahead of the server: the bytes are framed here
// first, and held back or dropped before the server reads them.
void ApiConnection::beforeServer()
{
    scanAhead();
    if (m_phase == Phase::Refused)
        discardInput();
    else if (holding())
        hold();
    m_unreadBefore = m_socket->bytesAvailable();
}

// Connected to readyRead after the server: what it read is no longer ahead.
void ApiConnection::afterServer()
{
    const qint64 consumed = m_unreadBefore - m_socket->bytesAvailable();
    m_scanned = m_rescan ? 0 : std::max<qint64>(0, m_scanned - consumed);
    m_rescan = false;
}

// Scans up to the end of the next request the server has yet to take, no
// further: a refusal is then always for the request the server would read
// next, and the answers to those before it have been written or are owed.
void ApiConnection::scanAhead()
{
    while (!m_requestComplete && m_phase != Phase::Refused) {
        // While holding, the scanner never stopped inside the held bytes.
        const qint64 from = m_scanned - m_held;
        const qint64 available = m_socket->bytesAvailable();
        if (from < 0 || available <= from)
            return;
        if (m_phase != Phase::Head) {
            m_scanned += countBody(available - from);
            continue;
        }
        // No more than the rest of a head: one byte beyond says it is too long.
        const qint64 room = std::max<qint64>(0, maxHeadSize - m_headBytes);
        const qint64 wanted = std::min(available, from + room + 1);
        // Most requests fit the stack.
        char small[1024];
        QByteArray large;
        char *buffer = small;
        if (wanted > qint64(sizeof small)) {
            large.resize(wanted);
            buffer = large.data();
        }
        const qint64 peeked = m_socket->peek(buffer, wanted);
        if (peeked <= from)
            return;
        m_scanned += scanHead(QByteArrayView(buffer, peeked).sliced(from));
    }
}

// Of the available body bytes, the ones that belong to the body.
qint64 ApiConnection::countBody(qint64 available)
{
    if (m_phase == Phase::ChunkedBody) {
        // Where it ends is the server's to find (requestStarted()).
        m_bodyLeft -= available;
        if (m_bodyLeft < 0)
            refuse(413, "Payload Too Large", "Request body larger than 1 MiB refused.");
        return available;
    }
    const qint64 taken = std::min(m_bodyLeft, available);
    m_bodyLeft -= taken;
    if (m_bodyLeft == 0) {
        m_phase = Phase::Head;
        m_requestComplete = true;
    }
    return taken;
}

// Takes the bytes of a head from data, up to its blank line; returns how
// many it took.
qsizetype ApiConnection::scanHead(QByteArrayView data)
{
    qsizetype blank = 0;
    if (m_head.isEmpty()) {
        while (blank < data.size() && isBlank(data[blank]))
            ++blank;
        m_headBytes += blank;
    }
    const qsizetype room = std::max<qsizetype>(0, maxHeadSize - m_headBytes);
    const QByteArrayView fits = data.sliced(blank).first(std::min(room, data.size() - blank));
    qsizetype end = -1;
    QByteArray pieces;
    if (m_head.isEmpty() && (end = headEnd(fits, 0)) >= 0) {
        // Most heads arrive in one piece: no copy then.
    } else {
        const qsizetype from = std::max<qsizetype>(0, m_head.size() - 2);
        m_head.append(fits);
        if ((end = headEnd(m_head, from)) >= 0) {
            end = fits.size() - (m_head.size() - end);
            m_head.truncate(m_head.size() - fits.size() + end);
            pieces = std::exchange(m_head, QByteArray());
        }
    }
    if (end < 0) {
        m_headBytes += fits.size();
        if (m_headBytes > maxHeadSize || fits.size() < data.size() - blank)
            refuse(431, "Request Header Fields Too Large", "Request line and headers larger than 64 KiB refused.");
        return data.size();
    }
    m_headBytes = 0;
    headComplete(pieces.isNull() ? fits.first(end) : QByteArrayView(pieces));
    return blank + end;
}

// Reads the two headers that say how long the body is, strictly: a request
// this code and the server's parser could frame differently is refused.
void ApiConnection::headComplete(QByteArrayView head)
{
    bool hasLength = false;
    quint64 length = 0;
    bool chunked = false;
    // The request line is the server's to judge.
    for (qsizetype at = head.indexOf('\n') + 1; at < head.size();) {
        const qsizetype eol = head.indexOf('\n', at);
        QByteArrayView line = head.sliced(at, eol - at);
        at = eol + 1;
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.isEmpty())
            break;
        const qsizetype colon = line.indexOf(':');
        if (colon < 1 || line.startsWith(' ') || line.startsWith('\t')) {
            refuse(400, "Bad Request", "Malformed header line refused.");
            return;
        }
        const QByteArrayView name = line.first(colon).trimmed();
        if (name.size() != contentLength.size() && name.size() != transferEncoding.size())
            continue;
        const QByteArrayView value = line.sliced(colon + 1).trimmed();
        if (name.compare(contentLength, Qt::CaseInsensitive) == 0) {
            bool ok = isDecimal(value);
            const quint64 declared = ok ? value.toULongLong(&ok) : 0;
            if (!ok || (hasLength && declared != length)) {
                refuse(400, "Bad Request", "Malformed Content-Length refused.");
                return;
            }
            hasLength = true;
            length = declared;
        } else if (name.compare(transferEncoding, Qt::CaseInsensitive) == 0) {
            // The server reads a body as chunked whenever this says "chunked".
            chunked = chunked || value.toByteArray().toLower().contains("chunked");
        }
    }
    if (chunked) {
        m_phase = Phase::ChunkedBody;
        m_bodyLeft = maxBodySize + maxChunkFraming;
    } else if (length > quint64(maxBodySize)) {
        refuse(413, "Payload Too Large", "Request body larger than 1 MiB refused.");
    } else if (length > 0) {
        m_phase = Phase::Body;
        m_bodyLeft = qint64(length);
    } else {
        m_requestComplete = true;
    }
}

// The refusal is written here rather than by the server, which never sees
// the request: a fixed answer, and the connection closes after it.
void ApiConnection::refuse(int status, const char *reason, const char *text)
{
    m_phase = Phase::Refused;
    const QByteArray body(text);
    m_refusal = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reason
            + "\r\nContent-Type: text/plain\r\nContent-Length: " + QByteArray::number(body.size())
            + "\r\nConnection: close\r\n\r\n" + body;
    // Answers leave in order: a script still running answers first.
    if (!m_answerPostponed)
        sendRefusal();
}

void ApiConnection::sendRefusal()
{
    m_socket->write(std::exchange(m_refusal, QByteArray()));
    m_heardWhileLingering = false;
    m_lingerDeadline.setRemainingTime(lingerMax);
    m_linger.start();
}

void ApiConnection::discardInput()
{
    // Whether the transaction is ours or the server's (inside the refused
    // request), what it kept is dropped; the server finds nothing to read.
    if (m_socket->isTransactionStarted())
        m_socket->commitTransaction();
    m_holding = false;
    m_held = 0;
    m_socket->skip(m_socket->bytesAvailable());
    m_scanned = 0;
    m_heardWhileLingering = true;
}

// Later requests are read past inside a transaction of ours, so the server
// finds nothing; release() rolls back and the server reads them in order.
void ApiConnection::hold()
{
    if (!m_holding) {
        // The server is never inside a request while an answer is
        // outstanding; a transaction now would be its, and not ours to use.
        if (m_socket->isTransactionStarted())
            return;
        m_socket->startTransaction();
        m_holding = true;
    }
    m_held += m_socket->skip(m_socket->bytesAvailable());
}

void ApiConnection::release()
{
    if (holding() || !m_holding)
        return;
    m_holding = false;
    m_held = 0;
    m_socket->rollbackTransaction();
    if (m_socket->bytesAvailable() > 0)
        QMetaObject::invokeMethod(m_socket, &QIODevice::readyRead, Qt::QueuedConnection);
}

void ApiConnection::answersTaken()
{
    // The client reads: it is not idle.
    m_idleDeadline.setRemainingTime(idleTimeout);
    if (m_socket->bytesToWrite() > maxUnsentAnswers / 2)
        return;
    disconnect(m_answersTaken);
    m_waitingForClient = false;
    release();
}
