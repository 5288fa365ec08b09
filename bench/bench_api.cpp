// Latency of the HTTP API over the loopback, seen by a client in another
// process: the server program runs the service on the simulated chip, this
// program sends requests and times each from sending to the complete answer:
//  1. GET "/api/current", sequential on one kept-alive connection;
//  2. POST "/api/current/doRunScript" of a five-line read script (the five
//     registers of the chip), which crosses to the I2C worker and back;
//  3. GET "/api/current" from many kept-alive clients at once for a few
//     seconds: the throughput of the server under load, and its p99.
//
//   bench_api [gets] [posts] [clients] [seconds]
//
// BENCH_API_SERVER names another server program to measure (an older build,
// to compare before and after a change under the same load).

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QProcess>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include <unistd.h>

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

// One kept-alive client of the concurrent run: it sends the next request as
// soon as the complete answer to the previous one has arrived. The answers
// are read just far enough to know where each ends (the server always sends
// Content-Length).
class LoadClient : public QObject
{
public:
    LoadClient(quint16 port, const QByteArray &request, const QByteArray &expected, Figures &figures,
               const bool &counting)
        : m_request(request), m_expected(expected), m_figures(figures), m_counting(counting)
    {
        connect(&m_socket, &QTcpSocket::connected, this, &LoadClient::send);
        connect(&m_socket, &QTcpSocket::readyRead, this, &LoadClient::receive);
        connect(&m_socket, &QTcpSocket::errorOccurred, this,
                [this] { fail("socket: " + m_socket.errorString().toUtf8()); });
        m_socket.connectToHost(QHostAddress::LocalHost, port);
    }

    void stop() { m_stopped = true; }

private:
    void send()
    {
        if (m_stopped)
            return;
        m_clock.start();
        m_socket.write(m_request);
    }

    void receive()
    {
        m_answer += m_socket.readAll();
        for (;;) {
            const qsizetype headEnd = m_answer.indexOf("\r\n\r\n");
            if (headEnd < 0)
                return;
            const QByteArray head = m_answer.left(headEnd).toLower();
            const qsizetype at = head.indexOf("content-length:");
            const qsizetype lineEnd = head.indexOf('\r', at);
            const qsizetype length = at < 0 ? 0 : head.mid(at + 15, lineEnd - at - 15).trimmed().toLongLong();
            if (m_answer.size() < headEnd + 4 + length)
                return;
            const QByteArray body = m_answer.mid(headEnd + 4, length);
            if (m_counting) {
                m_figures.samples.push_back(m_clock.nsecsElapsed());
                if (!head.startsWith("http/1.1 200") || body != m_expected)
                    fail(head.left(40) + ' ' + body.left(80));
            }
            m_answer.remove(0, headEnd + 4 + length);
            send();
        }
    }

    void fail(const QByteArray &what)
    {
        if (m_figures.failures++ == 0)
            m_figures.firstFailure = what;
    }

    QTcpSocket m_socket;
    QByteArray m_request;
    QByteArray m_expected;
    QByteArray m_answer;
    Figures &m_figures;
    const bool &m_counting;
    QElapsedTimer m_clock;
    bool m_stopped = false;
};

// CPU seconds (user and system) a process has used so far, from Linux's
// /proc; -1 where that is not available. Unlike requests/s, the server's CPU
// time per request hardly depends on what else the machine is doing.
double cpuSeconds(qint64 pid)
{
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return -1.0;
    const QByteArray stat = file.readAll();
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    const long ticks = sysconf(_SC_CLK_TCK);
    return fields.size() > 12 && ticks > 0 ? double(fields[11].toLongLong() + fields[12].toLongLong()) / double(ticks)
                                           : -1.0;
}

bool measureConcurrent(quint16 port, qint64 serverPid, int clients, int seconds)
{
    const QByteArray request = "GET /api/current HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    const QByteArray expected = "The current device is :0x70:bvr60600";
    Figures figures;
    bool counting = false;
    std::vector<std::unique_ptr<LoadClient>> load;
    for (int i = 0; i < clients; ++i)
        load.push_back(std::make_unique<LoadClient>(port, request, expected, figures, counting));

    // Half a second to connect everybody and warm up, then the counted run.
    QEventLoop loop;
    QElapsedTimer wall;
    double serverCpu = 0;
    QTimer::singleShot(500, &loop, [&] {
        counting = true;
        wall.start();
        serverCpu = cpuSeconds(serverPid);
        QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
    });
    loop.exec();
    counting = false;
    serverCpu = cpuSeconds(serverPid) - serverCpu;
    const double elapsed = double(wall.nsecsElapsed()) / 1e9;
    for (auto &client : load)
        client->stop();

    const std::size_t count = figures.samples.size();
    std::printf("GET /api/current, %d kept-alive clients at once for %d s (%d failed)\n", clients, seconds,
                figures.failures);
    if (count == 0) {
        std::printf("  no answers\n");
        return false;
    }
    std::printf("  median %.1f us, p99 %.1f us, worst %.1f us, %.0f requests/s\n",
                percentileUs(figures.samples, 0.5), percentileUs(figures.samples, 0.99),
                percentileUs(figures.samples, 1.0), double(count) / elapsed);
    if (serverCpu >= 0)
        std::printf("  server CPU %.1f us per request\n", serverCpu * 1e6 / double(count));
    if (figures.failures > 0)
        std::printf("  first failure: %s\n", figures.firstFailure.constData());
    return figures.failures == 0;
}

double loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    return file.open(QIODevice::ReadOnly) ? file.readAll().split(' ').value(0).toDouble() : -1.0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int gets = argc > 1 ? qMax(1, QByteArray(argv[1]).toInt()) : 2000;
    const int posts = argc > 2 ? qMax(1, QByteArray(argv[2]).toInt()) : 500;
    const int clients = argc > 3 ? qMax(1, QByteArray(argv[3]).toInt()) : 50;
    const int seconds = argc > 4 ? qMax(1, QByteArray(argv[4]).toInt()) : 3;

    // The server's log would only disturb the figures' output.
    QProcess server;
    server.setProcessChannelMode(QProcess::SeparateChannels);
    server.setStandardErrorFile(QProcess::nullDevice());
    server.start(qEnvironmentVariable("BENCH_API_SERVER", QStringLiteral(PANEL_APISERVER)),
                 { QStringLiteral("0") });
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
    ok = measureConcurrent(quint16(port), server.processId(), clients, seconds) && ok;
    // The machine may be shared: the figures mean little without its load.
    std::printf("load average (1 min) at the end: %.2f\n", loadAverage());

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
