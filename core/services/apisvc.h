#pragma once

#include "panelcore_global.h"
#include "services/apiconnection.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <map>
#include <memory>

class QHttpServer;
class QHttpServerRequest;
class QHttpServerResponder;
class QHttpServerResponse;

// Lets another program ask which device is current, read its register view
// and run I2C scripts on it over plain HTTP. Every answer comes from
// DeviceMgr; the service does no bus work of its own. Main thread only.
class PANELCORE_EXPORT ApiSvc : public QObject
{
    Q_OBJECT

public:
    // A script body beyond this size is refused before it is parsed.
    static constexpr qsizetype maxBodySize = ApiConnection::maxBodySize;

    static ApiSvc *getInstance();
    ~ApiSvc() override;

    // The port the service listens on; 0 while it is stopped or when it
    // could not listen (the port was taken).
    int serverPort() const;

    // Script requests still waiting for their completion.
    int pendingScripts() const { return int(m_pending.size()); }

public slots:
    void start();
    void stop();
    void enableChanged();

private:
    struct PendingScript;

    ApiSvc();

    bool refused(const QHttpServerRequest &request, QHttpServerResponder &responder) const;
    bool hostAllowed(const QByteArray &host) const;
    void runScript(const QHttpServerRequest &request, QHttpServerResponder &&responder);
    void finishScript(const QString &name, const QString &err);

    static ApiSvc *m_instance;

    QPointer<QHttpServer> m_server;
    // This machine's own names, as a Host header may give them.
    QStringList m_ownNames;
    // The Host most recently found acceptable: clients send the same one
    // with every request.
    mutable QByteArray m_allowedHost;
    // Keyed by the context name given to DeviceMgr, unique per request.
    std::map<QString, std::unique_ptr<PendingScript>> m_pending;
    quint64 m_scriptSerial = 0;
};
