// Latency of the HTTP API over the loopback, seen by a client in another
// process: the server program runs the service on the simulated chip, this
// program sends sequential requests on one kept-alive connection and times
// each from sending to the complete answer:
//  1. GET "/api/current";
//  2. POST "/api/current/doRunScript" of a five-line read script (the five
//     registers of the chip), which crosses to the I2C worker and back.
//
//   bench_api [gets] [posts]

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QProcess>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

struct Figures
{
    std::vector<qint64> samples; // nanoseconds
    int failures = 0;
    QByteArray firstFailure;
};

// One request, waited for; the answer must be 200 with the expected body.
void timeRequest(QNetworkAccessManager &nam, const QNetworkRequest &request, const QByteArray &body,
                 const QByteArray &expected, Figures &figures)
{
    QEventLoop loop;
    QElapsedTimer clock;
    clock.start();
    QNetworkReply *reply = body.isNull() ? nam.get(request) : nam.post(request, body);
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    const qint64 elapsed = clock.nsecsElapsed();
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QByteArray answer = reply->readAll();
    figures.samples.push_back(elapsed);
    if (status != 200 || answer != expected) {
        if (figures.failures++ == 0)
            figures.firstFailure = QByteArray::number(status) + ' ' + answer.left(200) + ' '
                    + reply->errorString().toUtf8();
    }
    reply->deleteLater();
}

double percentileUs(std::vector<qint64> samples, double p)
{
    std::sort(samples.begin(), samples.end());
    const std::size_t index = std::min(samples.size() - 1, std::size_t(p * double(samples.size())));
    return double(samples[index]) / 1000.0;
}

bool measure(const char *title, QNetworkAccessManager &nam, const QNetworkRequest &request,
             const QByteArray &body, const QByteArray &expected, int count)
{
    // The first requests open the connection and warm both sides up.
    Figures warmUp;
    for (int i = 0; i < 20; ++i)
        timeRequest(nam, request, body, expected, warmUp);
    Figures figures;
    figures.samples.reserve(std::size_t(count));
    QElapsedTimer wall;
    wall.start();
    for (int i = 0; i < count; ++i)
        timeRequest(nam, request, body, expected, figures);
    const double seconds = double(wall.nsecsElapsed()) / 1e9;

    std::printf("%s, %d sequential requests (%d failed)\n", title, count, figures.failures + warmUp.failures);
    std::printf("  median %.1f us, p99 %.1f us, worst %.1f us, %.0f requests/s\n",
                percentileUs(figures.samples, 0.5), percentileUs(figures.samples, 0.99),
                percentileUs(figures.samples, 1.0), count / seconds);
    if (figures.failures + warmUp.failures > 0)
        std::printf("  first failure: %s\n",
                    (figures.failures ? figures.firstFailure : warmUp.firstFailure).constData());
    return figures.failures + warmUp.failures == 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int gets = argc > 1 ? qMax(1, QByteArray(argv[1]).toInt()) : 2000;
    const int posts = argc > 2 ? qMax(1, QByteArray(argv[2]).toInt()) : 500;

    // The server's log would only disturb the figures' output.
    QProcess server;
    server.setProcessChannelMode(QProcess::SeparateChannels);
    server.setStandardErrorFile(QProcess::nullDevice());
    server.start(QStringLiteral(PANEL_APISERVER), { QStringLiteral("0") });
    QByteArray line;
    QElapsedTimer waited;
    waited.start();
    while (!line.endsWith('\n') && waited.elapsed() < 30000 && server.waitForReadyRead(1000))
        line += server.readLine();
    if (!line.startsWith("port ")) {
        std::fprintf(stderr, "the API server did not start (%s)\n", qPrintable(server.errorString()));
        server.kill();
        server.waitForFinished();
        return 1;
    }
    const int port = line.mid(5).trimmed().toInt();
    std::printf("HTTP API on the simulated chip, server process on 127.0.0.1:%d, one kept-alive "
                "connection\n",
                port);

    QNetworkAccessManager nam;
    nam.setProxy(QNetworkProxy::NoProxy);
    const auto request = [port](const char *path) {
        QNetworkRequest r(QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(port).arg(QLatin1String(path))));
        r.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("text/plain"));
        return r;
    };

    bool ok = measure("GET /api/current", nam, request("/api/current"), QByteArray(),
                      "The current device is :0x70:bvr60600", gets);
    const QByteArray script("read_register 00 1\nread_register 01 1\nread_register 02 1\n"
                            "read_register 40 1\nread_register 41 1");
    ok = measure("POST /api/current/doRunScript, five read_register lines", nam,
                 request("/api/current/doRunScript"), script, QByteArray(""), posts)
            && ok;

    server.terminate();
    if (!server.waitForFinished(10000) || server.exitStatus() != QProcess::NormalExit
        || server.exitCode() != 0) {
        std::fprintf(stderr, "the API server did not end cleanly\n");
        server.kill();
        server.waitForFinished();
        ok = false;
    }
    return ok ? 0 : 1;
}
