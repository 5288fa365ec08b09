#include "services/apisvc.h"

#include "devices/devicemgr.h"
#include "services/settings.h"

#include <QCoreApplication>
#include <QHostAddress>
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
        : responder(std::move(r)), socket(responder.socket())
    {
    }
    ~PendingScript() { QObject::disconnect(completion); }

    QHttpServerResponder responder;
    QPointer<QTcpSocket> socket;
    QMetaObject::Connection completion;
};

namespace {

// Browsers send Origin on every cross-site POST, and a simple POST needs no
// preflight, so any web page the engineer opens could otherwise run scripts
// on the chip. The programs this service is for send no Origin at all.
// A body of a size the service never needs is refused before anyone reads it.
bool refused(const QHttpServerRequest &request, QHttpServerResponder &responder)
{
    const auto headers = request.headers();
    for (const auto &header : headers) {
        if (header.first.compare("origin", Qt::CaseInsensitive) == 0) {
            responder.write(QByteArrayLiteral("Requests from web pages (with an Origin header) are "
                                              "refused; the API serves local programs only."),
                            QByteArrayLiteral("text/plain"), StatusCode::Forbidden);
            return true;
        }
    }
    if (request.body().size() > ApiSvc::maxBodySize) {
        responder.write(QByteArrayLiteral("Request body larger than 1 MiB refused."),
                        QByteArrayLiteral("text/plain"), StatusCode::PayloadTooLarge);
        return true;
    }
    return false;
}

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

    // Every route first turns away web pages and oversized bodies.
    const auto guarded = [](auto handler) {
        return [handler](const QHttpServerRequest &request, QHttpServerResponder &&responder) {
            if (!refused(request, responder))
                handler(request, std::move(responder));
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
    m_server->setMissingHandler([](const QHttpServerRequest &request, QHttpServerResponder &&responder) {
        if (!refused(request, responder))
            responder.write(StatusCode::NotFound);
    });

    const int port = Settings::getInstance()->apiServicePort();
    if (m_server->listen(QHostAddress::Any, quint16(port)) == 0)
        qWarning().noquote() << QStringLiteral("API service cannot listen on port %1").arg(port);
    else
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
}
