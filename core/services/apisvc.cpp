#include "services/apisvc.h"

#include "devices/devicemgr.h"
#include "services/apilistener.h"
#include "services/settings.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QHostInfo>
#include <QHttpServer>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>

using StatusCode = QHttpServerResponder::StatusCode;
using Method = QHttpServerRequest::Method;

ApiSvc *ApiSvc::m_instance = nullptr;

// A script request waiting for its completion. The responder outlives the
// route handler, so the request is answered without a nested event loop; its
// socket can go away meanwhile (client gone, service switched off), and the
// responder must then never be written to.
struct ApiSvc::PendingScript
{
    explicit PendingScript(QHttpServerResponder &&r)
        : responder(std::move(r)), socket(responder.socket()), connection(ApiConnection::of(socket))
    {
    }
    ~PendingScript() { QObject::disconnect(completion); }

    QHttpServerResponder responder;
    QPointer<QTcpSocket> socket;
    QPointer<ApiConnection> connection;
    QMetaObject::Connection completion;
};

namespace {

void writeText(QHttpServerResponder &responder, const QString &text)
{
    responder.write(text.toLatin1(), QByteArrayLiteral("text/plain"));
}

} // namespace

ApiSvc *ApiSvc::getInstance()
{
    if (!m_instance) {
        m_instance = new ApiSvc;
        qAddPostRoutine([] { delete m_instance; });
    }
    return m_instance;
}

ApiSvc::ApiSvc()
{
    Settings *settings = Settings::getInstance();
    connect(settings, &Settings::apiServiceEnabledChanged, this, &ApiSvc::enableChanged);
    enableChanged();
}

// Browsers send Origin on every cross-site POST, and a simple POST needs no
// preflight, so any web page the engineer opens could otherwise run scripts
// on the chip. The programs this service is for send no Origin at all.
// A page whose domain is re-pointed to this machine sends no Origin with its
// GETs, but it still names its own domain as Host.
// A body of a size the service never needs is refused before anyone reads it
// (a chunked one can only be measured here).
bool ApiSvc::refused(const QHttpServerRequest &request, QHttpServerResponder &responder) const
{
    const auto headers = request.headers();
    for (const auto &header : headers) {
        if (header.first.compare("origin", Qt::CaseInsensitive) == 0) {
            responder.write(QByteArrayLiteral("Requests from web pages (with an Origin header) are "
                                              "refused; the API serves local programs only."),
                            QByteArrayLiteral("text/plain"), StatusCode::Forbidden);
            return true;
        }
        if (header.first.compare("host", Qt::CaseInsensitive) == 0 && !hostAllowed(header.second)) {
            responder.write(QByteArrayLiteral("Requests addressed to another host name are refused (DNS "
                                              "rebinding protection): address this machine by its IP "
                                              "address, its own name or localhost."),
                            QByteArrayLiteral("text/plain"), StatusCode::Forbidden);
            return true;
        }
    }
    if (request.body().size() > maxBodySize) {
        responder.write(QByteArrayLiteral("Request body larger than 1 MiB refused."),
                        QByteArrayLiteral("text/plain"), StatusCode::PayloadTooLarge);
        return true;
    }
    return false;
}

// An IP address literal, localhost or one of this machine's names, with or
// without a port.
bool ApiSvc::hostAllowed(const QByteArray &host) const
{
    if (host == m_allowedHost)
        return true;
    QString name = QString::fromLatin1(host.trimmed());
    if (name.startsWith(QLatin1Char('['))) {
        const qsizetype end = name.indexOf(QLatin1Char(']'));
        if (end < 0)
            return false;
        name = name.mid(1, end - 1);
    } else if (const qsizetype colon = name.lastIndexOf(QLatin1Char(':')); colon >= 0) {
        name.truncate(colon);
    }
    if (name.endsWith(QLatin1Char('.')))
        name.chop(1);
    const bool allowed = !QHostAddress(name).isNull()
            || name.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0
            || m_ownNames.contains(name, Qt::CaseInsensitive);
    if (allowed)
        m_allowedHost = host;
    return allowed;
}

ApiSvc::~ApiSvc()
{
    // Waiting requests first: their responders must not outlive the sockets.
    m_pending.clear();
    delete m_server;
    if (m_instance == this)
        m_instance = nullptr;
}

void ApiSvc::enableChanged()
{
    if (Settings::getInstance()->apiServiceEnabled())
        start();
    else
        stop();
}

void ApiSvc::start()
{
    if (m_server)
        return;
    m_server = new QHttpServer(this);
    const QString hostName = QHostInfo::localHostName();
    const QString domain = QHostInfo::localDomainName();
    m_ownNames = QStringList{ hostName };
    if (!hostName.isEmpty() && !domain.isEmpty())
        m_ownNames.append(hostName + QLatin1Char('.') + domain);

    // Every request passes here: its connection learns that a request is
    // being answered (and when it has been), and web pages, foreign host
    // names and oversized bodies are turned away before any route.
    const auto guarded = [this](auto handler) {
        return [this, handler](const QHttpServerRequest &request, QHttpServerResponder &&responder) {
            ApiConnection *connection = ApiConnection::of(responder.socket());
            if (connection)
                connection->requestStarted();
            if (!refused(request, responder))
                handler(request, std::move(responder));
            if (connection && !connection->isAnswerPostponed())
                connection->requestFinished();
        };
    };

    m_server->route(QStringLiteral("/api"), Method::Get,
                    guarded([this](const QHttpServerRequest &, QHttpServerResponder &&responder) {
                        writeText(responder, QStringLiteral("The GUI API service is listening on port %1")
                                                     .arg(m_server->serverPorts().value(0, 0)));
                    }));
    m_server->route(QStringLiteral("/api/current"), Method::Get,
                    guarded([](const QHttpServerRequest &, QHttpServerResponder &&responder) {
                        writeText(responder, QStringLiteral("The current device is %1")
                                                     .arg(DeviceMgr::getInstance()->currentDat()));
                    }));
    m_server->route(QStringLiteral("/api/current/task/getRegisterView"), Method::Get,
                    guarded([](const QHttpServerRequest &, QHttpServerResponder &&responder) {
                        const QVariantMap view = DeviceMgr::getInstance()->task(
                                QString(), QStringLiteral("getRegisterView"), QVariantMap());
                        responder.write(QJsonDocument(QJsonObject::fromVariantMap(view)));
                    }));
    m_server->route(QStringLiteral("/api/current/doRunScript"), Method::Post,
                    guarded([this](const QHttpServerRequest &request, QHttpServerResponder &&responder) {
                        runScript(request, std::move(responder));
                    }));
    m_server->setMissingHandler(guarded([](const QHttpServerRequest &, QHttpServerResponder &&responder) {
        responder.write(StatusCode::NotFound);
    }));

    // Our own listener, so that every connection is kept within bounds
    // before the server parses anything of it.
    const int port = Settings::getInstance()->apiServicePort();
    auto *listener = new ApiListener(m_server);
    if (!listener->start(QHostAddress::Any, quint16(port))) {
        delete listener;
        qWarning().noquote() << QStringLiteral("API service cannot listen on port %1").arg(port);
        return;
    }
    m_server->bind(listener);
    qDebug().noquote() << QStringLiteral("API service started listening on port %1").arg(serverPort());
}

int ApiSvc::serverPort() const
{
    return m_server ? int(m_server->serverPorts().value(0, 0)) : 0;
}

void ApiSvc::stop()
{
    if (!m_server)
        return;
    // Waiting script requests lose their sockets with the server; drop them
    // first so that a later completion finds nothing to answer.
    m_pending.clear();
    delete m_server;
    qDebug("API service stopped");
}

void ApiSvc::runScript(const QHttpServerRequest &request, QHttpServerResponder &&responder)
{
    // The context keeps the request path, and the serial in brackets makes it
    // unique: "[1]" is not contained in "[12]", so a completion that carries
    // one request's context never answers another.
    const QString name = QStringLiteral("%1[%2]").arg(request.url().path()).arg(++m_scriptSerial);
    const QStringList lines = QString::fromUtf8(request.body()).split(QLatin1Char('\n'));

    auto pending = std::make_unique<PendingScript>(std::move(responder));
    // Later requests on the connection wait for this answer.
    if (pending->connection)
        pending->connection->answerPostponed();
    pending->completion = connect(DeviceMgr::getInstance(), &DeviceMgr::doneRunScript, this,
                                  [this, name](const QString &err, const QString &ctx, const QString &) {
                                      if (ctx.contains(name))
                                          finishScript(name, err);
                                  });
    m_pending.emplace(name, std::move(pending));

    // A script refused before it runs completes inside this call.
    DeviceMgr::getInstance()->doRunScript(QString(), name, lines);
}

void ApiSvc::finishScript(const QString &name, const QString &err)
{
    const auto it = m_pending.find(name);
    if (it == m_pending.end())
        return;
    const std::unique_ptr<PendingScript> pending = std::move(it->second);
    m_pending.erase(it);
    if (!pending->socket)
        return;
    if (err.isEmpty())
        pending->responder.write(QByteArray(), QByteArrayLiteral("text/plain"), StatusCode::Ok);
    else
        pending->responder.write(err.toUtf8(), QByteArrayLiteral("text/plain"), StatusCode::BadRequest);
    if (pending->connection)
        pending->connection->requestFinished();
}
