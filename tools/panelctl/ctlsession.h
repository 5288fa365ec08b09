#pragma once

#include <QEventLoop>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QVariantMap>

#include <functional>
#include <memory>

namespace Bvr60600 {
class DModel;
}
class Startup;

// The engine behind every panelctl command: the same model, device manager,
// I2C service and communication log the window runs, driven one operation
// at a time. Each call waits (in a local event loop) for its completion and
// returns an error text, empty on success.
class CtlSession : public QObject
{
    Q_OBJECT

public:
    // Exit codes, also used to classify errors.
    enum Exit {
        ExitOk = 0,
        ExitFailed = 1,      // the bus or the chip failed, or a read-back differs
        ExitUsage = 2,       // bad command line or bad value
        ExitNoDevice = 3,    // no adapter or no chip where one was expected
        ExitFile = 4,        // a file could not be read or written
        ExitInterrupted = 130,
    };

    struct Error
    {
        int code = ExitOk;
        QString text;
        explicit operator bool() const { return code != ExitOk; }
    };

    struct Options
    {
        bool simulate = false;
        int speedKbps = 0;      // 0 keeps the default
        int timeoutMs = 10000;  // per bus operation; -1 waits for ever
    };

    // The chip's configuration as the model holds it.
    struct ChipState
    {
        int code = 0;
        bool autoPwm = true;
        bool forcedPwm = false;
        bool passThrough = false;
        QString note; // e.g. a reserved value read from the chip
    };

    explicit CtlSession(const Options &options);

    static Error noAdapter();
    ~CtlSession() override;

    // Adapters as the device manager knows them after one adapter scan.
    Error scanAdapters();
    QStringList adapterIds() const;
    QStringList adapterDescriptions() const;

    // Scans every adapter for chips: open scans every legal address, else
    // the address of each project device only. Returns the DATs connected.
    Error scanChips(bool open, QStringList &found);

    // Puts dat in the project when it is not there.
    Error addToProject(const QString &dat);

    // Puts dat in the project (when it is not there), makes it current,
    // switches the simulated chip on when asked, and scans until it answers.
    Error attach(const QString &dat);

    // Project files, through the device manager. skipped receives what the
    // manager had to leave out of the file, with its reasons.
    Error openProject(const QString &filename, QStringList &skipped);
    QStringList projectDats() const;
    // Removes every project device but dat.
    void keepOnlyProjectDevice(const QString &dat);

    Error readConfiguration(const QString &dat);
    ChipState modelState() const;
    // Sets the model, writes through the device's configuration script and
    // waits for it; nothing is written when the chip already holds it.
    Error writeConfiguration(const QString &dat, const ChipState &target);

    // Verifies a script for the device (placeholders expanded into script)
    // without running it.
    Error verifyScript(const QString &dat, QStringList &script);
    // Runs a verified script; lineDone is called once for every transfer
    // line, in order.
    using LineDone = std::function<void(const QString &err, const QString &value)>;
    Error runScript(const QString &dat, const QStringList &script, const LineDone &lineDone);

    QVariantMap task(const QString &dat, const QString &name, const QVariantMap &params);

    // Whether a SIGINT or SIGTERM asked the program to end.
    bool interrupted() const { return m_interrupted; }

    // Sends a request and waits until accept() takes one emission of the
    // signal. False on timeout or interruption (then interrupted() is true).
    template <typename Sender, typename... Args, typename Accept>
    bool waitFor(Sender *sender, void (Sender::*signal)(Args...), Accept accept,
                 const std::function<void()> &send, int timeoutMs)
    {
        QEventLoop loop;
        bool accepted = false;
        bool timedOut = false;
        const QMetaObject::Connection connection =
            connect(sender, signal, &loop, [&](Args... args) {
                if (!accepted && accept(args...)) {
                    accepted = true;
                    loop.quit();
                }
            });
        if (send)
            send();
        if (!accepted) {
            QTimer timer;
            timer.setSingleShot(true);
            connect(&timer, &QTimer::timeout, &loop, [&] {
                timedOut = true;
                loop.quit();
            });
            if (timeoutMs >= 0)
                timer.start(timeoutMs);
            loop.exec();
        }
        disconnect(connection);
        // Only the application's quit ends the loop without either.
        if (!accepted && !timedOut)
            m_interrupted = true;
        return accepted;
    }

private:
    // Waits until everything posted to the I2C worker so far has been done
    // and its results delivered here.
    bool barrier(int timeoutMs);
    Error timeoutOrInterrupt(const QString &what) const;

    Bvr60600::DModel *model() const;

    Options m_options;
    std::unique_ptr<Startup> m_startup;
    bool m_interrupted = false;
    quint64 m_serial = 0;
};
