#include "testenv.h"

#include "bvr60600/dmodel.h"
#include "devices/devicemgr.h"
#include "i2c/i2csvc.h"
#include "models/modelmgr.h"
#include "services/apisvc.h"
#include "services/settings.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTcpServer>
#include <QTcpSocket>

// The service's own log lines, captured in order.
static QStringList serviceLog;
static QtMessageHandler previousHandler = nullptr;
static void captureServiceLog(QtMsgType type, const QMessageLogContext &context, const QString &msg)
{
    if (msg.startsWith(QLatin1String("API service")))
        serviceLog.append(msg);
    previousHandler(type, context, msg);
}

// Every case talks real HTTP over the loopback to the service, which runs
// scripts on the simulated chip through the device manager.
class TestApiSvc : public QObject
{
    Q_OBJECT

    struct Answer
    {
        int status = 0;
        QByteArray body;
        QByteArray contentType;
        QNetworkReply::NetworkError error = QNetworkReply::NoError;
    };

    const QString chipDat = QStringLiteral(":0x70:bvr60600");
    QNetworkAccessManager *nam = nullptr;
    int port = 0;

    static int freePort()
    {
        QTcpServer probe;
        if (!probe.listen(QHostAddress::Any, 0))
            return 0;
        return probe.serverPort();
    }

    QUrl url(const QString &path) const
    {
        return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(port).arg(path));
    }

    QNetworkReply *send(const QByteArray &method, const QString &path, const QByteArray &body = QByteArray(),
                        const QByteArray &origin = QByteArray())
    {
        QNetworkRequest request(url(path));
        request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("text/plain"));
        if (!origin.isEmpty())
            request.setRawHeader("Origin", origin);
        return nam->sendCustomRequest(request, method, body);
    }

    static Answer answerOf(QNetworkReply *reply)
    {
        Answer answer;
        if (!reply->isFinished())
            QSignalSpy(reply, &QNetworkReply::finished).wait(15000);
        answer.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        answer.body = reply->readAll();
        answer.contentType = reply->header(QNetworkRequest::ContentTypeHeader).toByteArray();
        answer.error = reply->isFinished() ? reply->error() : QNetworkReply::TimeoutError;
        reply->deleteLater();
        return answer;
    }

    Answer request(const QByteArray &method, const QString &path, const QByteArray &body = QByteArray(),
                   const QByteArray &origin = QByteArray())
    {
        return answerOf(send(method, path, body, origin));
    }

    QByteArray chipRegister(const QByteArray &addr)
    {
        QByteArray value;
        QString err;
        I2cSvc::getInstance()->waitReadRegister(chipDat, addr, 1, value, err);
        return err.isEmpty() ? value : QByteArray("failed: ") + err.toLatin1();
    }

    static bool portAccepts(int port)
    {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, quint16(port));
        return socket.waitForConnected(3000);
    }

private slots:
    void initTestCase()
    {
        previousHandler = qInstallMessageHandler(captureServiceLog);
        nam = new QNetworkAccessManager(this);
        nam->setProxy(QNetworkProxy::NoProxy);

        Settings *settings = Settings::getInstance();
        settings->setImmediateMode(false);
        port = freePort();
        QVERIFY(port > 0);
        settings->setApiServicePort(port);

        // The chip's model is filed the way the program does at start-up.
        auto *model = new Bvr60600::DModel(this);
        ModelMgr::getInstance()->insertModel(model->myType(), model);

        DeviceMgr *mgr = DeviceMgr::getInstance();
        mgr->setMonitorAllowed(false);
        QCOMPARE(mgr->addDeviceToProject(chipDat, {}), QString());
        mgr->setCurrentDat(chipDat);
        QCOMPARE(mgr->currentDat(), chipDat);

        QSignalSpy plugged(I2cSvc::getInstance(), &I2cSvc::doneVirtualSlave);
        emit I2cSvc::getInstance()->doVirtualSlave(QString(), chipDat, true);
        QTRY_COMPARE(plugged.count(), 1);
        QCOMPARE(plugged.first().at(0).toString(), QString());
        mgr->setOnlineMode(true);
        QTRY_VERIFY_WITH_TIMEOUT(mgr->isConnected(chipDat), 10000);

        // Off until the setting says otherwise.
        ApiSvc::getInstance();
        QVERIFY(!portAccepts(port));
        QCOMPARE(serviceLog, QStringList());
        settings->setApiServiceEnabled(true);
        QVERIFY(portAccepts(port));
        QCOMPARE(serviceLog, QStringList{ QStringLiteral("API service started listening on port %1").arg(port) });
    }

    void routes_data()
    {
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("origin");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body"); // checked only when not empty

        const QByteArray none;
        QTest::addRow("GET /api/current") << QByteArray("GET") << "/api/current" << none << 200 << QByteArray("The current device is :0x70:bvr60600");
        QTest::addRow("PUT /api") << QByteArray("PUT") << "/api" << none << 404 << none;
        QTest::addRow("DELETE /api/current") << QByteArray("DELETE") << "/api/current" << none << 404 << none;
        QTest::addRow("PUT script") << QByteArray("PUT") << "/api/current/doRunScript" << none << 404 << none;
        QTest::addRow("DELETE register view") << QByteArray("DELETE") << "/api/current/task/getRegisterView" << none << 404 << none;
        QTest::addRow("GET script") << QByteArray("GET") << "/api/current/doRunScript" << none << 404 << none;
        QTest::addRow("POST /api") << QByteArray("POST") << "/api" << none << 404 << none;
        QTest::addRow("path prefix only") << QByteArray("GET") << "/api/cur" << none << 404 << none;
        QTest::addRow("path extended") << QByteArray("GET") << "/api/current/other" << none << 404 << none;
        QTest::addRow("unknown path") << QByteArray("GET") << "/index.html" << none << 404 << none;
        QTest::addRow("web page GET") << QByteArray("GET") << "/api/current" << QByteArray("http://example.org") << 403 << QByteArray("Origin");
        QTest::addRow("web page unknown path") << QByteArray("GET") << "/x" << QByteArray("null") << 403 << QByteArray("Origin");
    }
    void routes()
    {
        QFETCH(QByteArray, method);
        QFETCH(QString, path);
        QFETCH(QByteArray, origin);
        QFETCH(int, status);
        QFETCH(QByteArray, body);

        const Answer answer = request(method, path, QByteArray(), origin);
        QCOMPARE(answer.status, status);
        if (!body.isEmpty())
            QVERIFY2(answer.body.contains(body), answer.body.constData());
    }

    void apiReportsListeningPort()
    {
        const Answer answer = request("GET", "/api");
        QCOMPARE(answer.body, QStringLiteral("The GUI API service is listening on port %1").arg(port).toLatin1());
        QVERIFY(answer.contentType.startsWith("text/plain"));
    }

    void twoLineScriptThenRegisterView()
    {
        const Answer answer = request("POST", "/api/current/doRunScript",
                                      "write_register 01 3c\nread_register 01 1");
        QCOMPARE(answer.status, 200);
        QCOMPARE(answer.body, QByteArray());
        QCOMPARE(chipRegister("\x01"), QByteArray("\x3c"));

        // The read-back line left the value in the device's register image,
        // which the register view shows.
        const Answer view = request("GET", "/api/current/task/getRegisterView");
        QCOMPARE(view.status, 200);
        QVERIFY(view.contentType.startsWith("application/json"));
        QJsonParseError parseError;
        const QJsonObject object = QJsonDocument::fromJson(view.body, &parseError).object();
        QCOMPARE(parseError.error, QJsonParseError::NoError);
        QCOMPARE(object.value("err").toString(), QString());
        const QJsonArray data = object.value("data").toArray();
        QCOMPARE(data.size(), 5);
        const QJsonObject vout = QJsonDocument::fromJson(data.at(1).toString().toUtf8()).object();
        QCOMPARE(vout.value("name").toString(), QString("cr_vout_ref"));
        QCOMPARE(vout.value("value").toString(), QString("0x3c"));
    }

    void failingScripts_data()
    {
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<QByteArray>("error");
        // Refused by the parser, answered before anything runs.
        QTest::addRow("unknown command") << QByteArray("no_such_command 1") << QByteArray("Failed parsing script");
        // Runs on the chip and fails there.
        QTest::addRow("register the chip lacks") << QByteArray("read_register 55 1") << QByteArray("VSlave read failed");
        QTest::addRow("failing line among good ones")
                << QByteArray("read_register 01 1\nread_register 55 1\nread_register 02 1") << QByteArray("VSlave read failed");
    }
    void failingScripts()
    {
        QFETCH(QByteArray, script);
        QFETCH(QByteArray, error);
        const Answer answer = request("POST", "/api/current/doRunScript", script);
        QCOMPARE(answer.status, 400);
        QVERIFY2(answer.body.contains(error), answer.body.constData());
        QCOMPARE(ApiSvc::getInstance()->pendingScripts(), 0);
    }

    // With one shared context, the first completion answered every waiting
    // request, so the fast failing script was reported as the slow good one's
    // success (or the other way round).
    void overlappingScriptsGetTheirOwnAnswers()
    {
        ApiSvc *svc = ApiSvc::getInstance();
        QNetworkReply *slow = send("POST", "/api/current/doRunScript", "wait_ms 1000\nwrite_register 01 41");
        QTRY_COMPARE(svc->pendingScripts(), 1);
        QNetworkReply *failing = send("POST", "/api/current/doRunScript", "read_register 55 1");
        QTRY_COMPARE(svc->pendingScripts(), 2);
        QVERIFY(!slow->isFinished());

        const Answer failed = answerOf(failing);
        const Answer succeeded = answerOf(slow);
        QCOMPARE(succeeded.status, 200);
        QCOMPARE(succeeded.body, QByteArray());
        QCOMPARE(failed.status, 400);
        QVERIFY2(failed.body.contains("VSlave read failed"), failed.body.constData());
        QCOMPARE(chipRegister("\x01"), QByteArray("\x41"));
        QCOMPARE(svc->pendingScripts(), 0);
    }

    void refusedBeforeTheScriptEngine_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QByteArray>("origin");
        QTest::addColumn<int>("status");
        const QByteArray script("write_register 01 50");
        QTest::addRow("web page") << script << QByteArray("http://example.org") << 403;
        QTest::addRow("opaque origin") << script << QByteArray("null") << 403;
        QByteArray oversize = script + '\n' + QByteArray(ApiSvc::maxBodySize, '#');
        QTest::addRow("body over 1 MiB") << oversize << QByteArray() << 413;
    }
    void refusedBeforeTheScriptEngine()
    {
        QFETCH(QByteArray, body);
        QFETCH(QByteArray, origin);
        QFETCH(int, status);
        QCOMPARE(request("POST", "/api/current/doRunScript", "write_register 01 3c").status, 200);

        QSignalSpy scripts(DeviceMgr::getInstance(), &DeviceMgr::doneRunScript);
        const Answer answer = request("POST", "/api/current/doRunScript", body, origin);
        QCOMPARE(answer.status, status);
        QVERIFY(!answer.body.isEmpty());
        QCOMPARE(scripts.count(), 0);
        QCOMPARE(chipRegister("\x01"), QByteArray("\x3c"));
    }

    // A body of exactly the limit still reaches the script engine.
    void bodyAtTheLimitRuns()
    {
        const QByteArray script("write_register 01 52\n#");
        const QByteArray body = script + QByteArray(ApiSvc::maxBodySize - script.size(), 'x');
        QCOMPARE(body.size(), ApiSvc::maxBodySize);
        const Answer answer = request("POST", "/api/current/doRunScript", body);
        QCOMPARE(answer.status, 200);
        QCOMPARE(chipRegister("\x01"), QByteArray("\x52"));
    }

    // The server used to be destroyed under a handler still spinning its own
    // event loop; now the waiting request just loses its connection.
    void switchingOffWhileAScriptWaits()
    {
        Settings *settings = Settings::getInstance();
        ApiSvc *svc = ApiSvc::getInstance();
        QSignalSpy scripts(DeviceMgr::getInstance(), &DeviceMgr::doneRunScript);
        QNetworkReply *waiting = send("POST", "/api/current/doRunScript", "wait_ms 1000\nwrite_register 01 44");
        QTRY_COMPARE(svc->pendingScripts(), 1);

        settings->setApiServiceEnabled(false);
        const Answer answer = answerOf(waiting);
        QVERIFY(answer.error != QNetworkReply::NoError);
        QCOMPARE(answer.status, 0);
        QVERIFY(!portAccepts(port));

        // The script itself still runs to its end; its completion must find
        // nothing left to answer.
        QTRY_COMPARE_WITH_TIMEOUT(scripts.count(), 1, 10000);
        QCOMPARE(chipRegister("\x01"), QByteArray("\x44"));
        QCOMPARE(svc->pendingScripts(), 0);

        settings->setApiServiceEnabled(true);
        QCOMPARE(request("GET", "/api/current").status, 200);
    }

    void switchingOffAndOnUsesTheCurrentPort()
    {
        Settings *settings = Settings::getInstance();
        const int oldPort = port;
        const int newPort = freePort();
        QVERIFY(newPort > 0 && newPort != oldPort);

        // A new port alone changes nothing while the service runs.
        settings->setApiServicePort(newPort);
        QVERIFY(portAccepts(oldPort));
        QVERIFY(!portAccepts(newPort));

        serviceLog.clear();
        settings->setApiServiceEnabled(false);
        QVERIFY(!portAccepts(oldPort));
        // Stopping or starting twice changes nothing and logs nothing.
        ApiSvc::getInstance()->stop();
        settings->setApiServiceEnabled(true);
        ApiSvc::getInstance()->start();
        QCOMPARE(serviceLog, QStringList({ QStringLiteral("API service stopped"),
                                           QStringLiteral("API service started listening on port %1").arg(newPort) }));
        port = newPort;
        QCOMPARE(request("GET", "/api").body,
                 QStringLiteral("The GUI API service is listening on port %1").arg(newPort).toLatin1());
        QVERIFY(!portAccepts(oldPort));
    }

    // A port another program holds: the service says so instead of
    // claiming to listen, and reports no port, so that a caller can tell.
    void portInUseIsReported()
    {
        Settings *settings = Settings::getInstance();
        ApiSvc *api = ApiSvc::getInstance();
        QCOMPARE(api->serverPort(), port);
        QTcpServer holder;
        QVERIFY(holder.listen(QHostAddress::Any, 0));
        const int busy = holder.serverPort();

        settings->setApiServiceEnabled(false);
        QCOMPARE(api->serverPort(), 0);
        settings->setApiServicePort(busy);
        serviceLog.clear();
        settings->setApiServiceEnabled(true);
        QCOMPARE(api->serverPort(), 0);
        QCOMPARE(serviceLog, QStringList{ QStringLiteral("API service cannot listen on port %1").arg(busy) });

        settings->setApiServiceEnabled(false);
        settings->setApiServicePort(port);
        settings->setApiServiceEnabled(true);
        QCOMPARE(api->serverPort(), port);
        QVERIFY(portAccepts(port));
    }

    void noCurrentDevice()
    {
        DeviceMgr *mgr = DeviceMgr::getInstance();
        mgr->setCurrentDat(QString());
        const Answer current = request("GET", "/api/current");
        QCOMPARE(current.status, 200);
        QCOMPARE(current.body, QByteArray("The current device is "));
        const Answer script = request("POST", "/api/current/doRunScript", "read_register 01 1");
        QCOMPARE(script.status, 400);
        QVERIFY(!script.body.isEmpty());
        mgr->setCurrentDat(chipDat);
    }

    void cleanupTestCase()
    {
        delete ApiSvc::getInstance();
    }
};

PANEL_TEST_MAIN(TestApiSvc)
#include "tst_apisvc.moc"
