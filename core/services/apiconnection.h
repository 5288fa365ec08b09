#pragma once

#include <QByteArray>
#include <QDeadlineTimer>
#include <QObject>
#include <QTimer>

#include <chrono>

class QTcpSocket;

// Keeps one client connection of the HTTP API within bounds, beside the
// HTTP server that parses its requests. It sees the bytes of every request
// before the server does but only frames and counts them: the request line
// and headers up to their blank line, the Content-Length they declare and
// the bytes of the body. A request that breaks a limit, or whose length
// cannot be told for certain (a malformed Content-Length or header line),
// gets its refusal, and the connection is closed, before the server acts on
// any of it.
//
// While an answer is outstanding (a script still running, or a client that
// does not read what it was sent), later requests stay unread in the socket,
// so answers leave in the order of the requests and each request sees what
// the ones before it did. The socket buffers no more than one request of the
// largest size, so memory stays bounded whatever a client sends.
//
// Lives as a child of its socket; the service reports to it when a request
// starts and when its answer has been written.
class ApiConnection : public QObject
{
    Q_OBJECT

public:
    // Request line and headers, blank line included.
    static constexpr qsizetype maxHeadSize = 64 * 1024;
    static constexpr qsizetype maxBodySize = 1024 * 1024;
    // A chunked body is only counted, not decoded: its payload may come with
    // this much chunk framing on top.
    static constexpr qsizetype maxChunkFraming = 64 * 1024;
    // One request of the largest size, and the one byte that tells it is
    // larger still.
    static constexpr qsizetype readBufferSize = maxHeadSize + maxBodySize + maxChunkFraming + 1;
    // Answers the client has not taken yet, beyond which its next requests wait.
    static constexpr qint64 maxUnsentAnswers = 1024 * 1024;
    // The client has this long after connecting, or after its last answer,
    // to send a complete request.
    static constexpr std::chrono::seconds idleTimeout{ 10 };

    // Call before the HTTP server takes the socket: the connection must see
    // the socket's data first.
    explicit ApiConnection(QTcpSocket *socket);

    // Call once the HTTP server has taken the socket.
    void serverAttached();

    // The guard of a socket the API listener accepted, or null.
    static ApiConnection *of(QTcpSocket *socket);

    // The server has a complete request and hands it to the service.
    void requestStarted();
    // Its answer will be written later, outside the handler.
    void answerPostponed();
    bool isAnswerPostponed() const { return m_answerPostponed; }
    // Its answer has been written.
    void requestFinished();

    // Closes the connection if the client let the idle time pass without
    // sending a complete request.
    void closeIfIdle();

private:
    enum class Phase { Head, Body, ChunkedBody, Refused };

    void beforeServer();
    void afterServer();
    void scanAhead();
    qsizetype scanHead(QByteArrayView data);
    qint64 countBody(qint64 available);
    void headComplete(QByteArrayView head);
    void refuse(int status, const char *reason, const char *text);
    void sendRefusal();
    void discardInput();
    void hold();
    void release();
    bool holding() const { return m_answerPostponed || m_waitingForClient; }
    void answersTaken();

    QTcpSocket *m_socket;
    Phase m_phase = Phase::Head;
    QByteArray m_head;          // the part of a head that arrived so far, when it came in pieces
    qsizetype m_headBytes = 0;  // with the blank lines the server skips before a request
    qint64 m_bodyLeft = 0;      // Body: bytes still to come; ChunkedBody: bytes still allowed
    // Bytes scanned, counted from where the server reads next (while holding,
    // from the start of the held bytes).
    qint64 m_scanned = 0;
    qint64 m_held = 0;          // bytes read past in the holding transaction
    qint64 m_unreadBefore = 0;  // unread bytes when the server's slot was called
    bool m_requestComplete = false; // scanned to its end, not yet taken by the server
    bool m_rescan = false;      // the unread bytes start a new request: scan them again
    bool m_inRequest = false;
    bool m_answerPostponed = false;
    bool m_waitingForClient = false; // to take its answers
    QMetaObject::Connection m_answersTaken;
    bool m_holding = false;     // later requests held in a transaction of ours
    QByteArray m_refusal;       // to be sent once the outstanding answer is out
    bool m_heardWhileLingering = false;
    QDeadlineTimer m_idleDeadline;
    QDeadlineTimer m_lingerDeadline;
    QTimer m_linger;
};
