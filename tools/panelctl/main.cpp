// panelctl: the bench panel without a window. It drives the same engine as
// panelapp (device manager, model, device scripts, I2C service,
// communication log) one command at a time, for scripts, production lines
// and rigs without a display.

#include "ctlcommands.h"
#include "ctloutput.h"
#include "ctlsession.h"

#include "services/commslog.h"
#include "services/signalquit.h"
#include "utils/utils.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace {

const QString defaultDat = QStringLiteral(":0x70:bvr60600");

bool s_verbose = false;

// The engine and Qt log for a developer; a command-line user gets the
// results and one error line of panelctl's own, unless --verbose.
void messageHandler(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (s_verbose || type == QtFatalMsg) {
        const QByteArray text = QStringLiteral("panelctl: [%1] %2\n")
                                    .arg(QLatin1String(type == QtDebugMsg      ? "debug"
                                                       : type == QtInfoMsg     ? "info"
                                                       : type == QtWarningMsg  ? "warning"
                                                       : type == QtCriticalMsg ? "critical"
                                                                               : "fatal"),
                                         message)
                                    .toUtf8();
        std::fwrite(text.constData(), 1, size_t(text.size()), stderr);
    }
    if (type == QtFatalMsg)
        std::abort();
}

QList<QCommandLineOption> globalOptions()
{
    return {
        { QStringLiteral("dat"), QStringLiteral("The chip: adapter:address:type (default %1).").arg(defaultDat), QStringLiteral("DAT") },
        { QStringLiteral("simulate"), QStringLiteral("Attach the simulated chip at the DAT's address.") },
        { QStringLiteral("speed"), QStringLiteral("I2C clock in kbit/s (1 to 3400, default 1000)."), QStringLiteral("KBPS") },
        { QStringLiteral("log"), QStringLiteral("Write the communication log to FILE (default: commslog.txt in panelctl's data folder)."), QStringLiteral("FILE") },
        { QStringLiteral("timeout"), QStringLiteral("Give up on one bus operation after this long (default 10; none for run)."), QStringLiteral("SECONDS") },
        { QStringLiteral("json"), QStringLiteral("Print one JSON object instead of text.") },
        { QStringLiteral("verbose"), QStringLiteral("Show the engine's log on stderr.") },
        { { QStringLiteral("h"), QStringLiteral("help") }, QStringLiteral("Show this help, or the command's.") },
        { QStringLiteral("version"), QStringLiteral("Show the version.") },
    };
}

QString optionsText(const QList<QCommandLineOption> &options)
{
    QString text;
    for (const QCommandLineOption &option : options) {
        QStringList names;
        for (const QString &name : option.names())
            names << (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
        QString left = names.join(QStringLiteral(", "));
        if (!option.valueName().isEmpty())
            left += QLatin1Char(' ') + option.valueName();
        text += QStringLiteral("  %1 %2\n").arg(left.leftJustified(20), option.description());
    }
    return text;
}

QString mainHelp()
{
    QString text = QStringLiteral(
        "Usage: panelctl [options] <command> [command options]\n\n"
        "Drives bvr60600 voltage regulators behind USB-to-I2C adapters through the same engine as panelapp.\n"
        "It never reads or changes panelapp's stored preferences.\n\n"
        "Commands:\n");
    for (const CtlCommand &command : ctlCommands())
        text += QStringLiteral("  %1 %2\n").arg(command.name.leftJustified(10), command.summary);
    text += QStringLiteral("\nOptions:\n") + optionsText(globalOptions());
    text += QStringLiteral(
        "\nExit codes: 0 success; 1 the bus or the chip failed, or a read-back differs; 2 bad command line or input;\n"
        "3 no adapter or no chip; 4 a file cannot be read or written; 130 interrupted.\n\n"
        "\"panelctl <command> --help\" shows a command's options. Try \"panelctl --simulate read\" without hardware.\n");
    return text;
}

QString commandHelp(const CtlCommand &command)
{
    QString text = QStringLiteral("Usage: panelctl [options] %1 %2\n\n%3\n")
                       .arg(command.name, command.synopsis, command.description);
    if (!command.options.isEmpty())
        text += QStringLiteral("\nCommand options:\n") + optionsText(command.options);
    text += QStringLiteral("\nOptions:\n") + optionsText(globalOptions());
    return text;
}

// Scans write addresses as "0x70" and types in lower case; a DAT typed
// another way would name a device the bus never reports.
QString normalizedDat(const QString &dat)
{
    const QStringList parts = Utils::exDat(dat);
    return Utils::mkDat(parts.at(0), parts.at(1).toLower(), parts.at(2).toLower());
}

void print(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

int usageError(const QString &text, bool json)
{
    CtlOutput out(json);
    return out.finish({ CtlSession::ExitUsage, text + QStringLiteral(" (see panelctl --help)") });
}

} // namespace

int main(int argc, char **argv)
{
    // Before anything takes descriptor 0 for itself.
    const bool stdinClosed = ::fcntl(STDIN_FILENO, F_GETFD) == -1;
    qInstallMessageHandler(messageHandler);
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("orvane"));
    QCoreApplication::setApplicationName(QStringLiteral("panelctl"));
    QCoreApplication::setApplicationVersion(QStringLiteral("1.00"));

    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addOptions(globalOptions());
    parser.addPositionalArgument(QStringLiteral("command"), QString());

    // First pass: find the command; its own options are added for the second.
    const QStringList arguments = QCoreApplication::arguments();
    (void)parser.parse(arguments);
    const bool json = parser.isSet(QStringLiteral("json"));
    const QStringList positional = parser.positionalArguments();
    const QString name = positional.value(0);
    const CtlCommand *command = findCtlCommand(name);

    if (name == QLatin1String("help")) {
        const QString topic = positional.value(1);
        const CtlCommand *about = findCtlCommand(topic);
        if (!topic.isEmpty() && topic != name && !about)
            return usageError(QStringLiteral("Unknown command \"%1\"").arg(topic), json);
        print(about ? commandHelp(*about) : mainHelp());
        return CtlSession::ExitOk;
    }
    // Help for a command that does not exist would hide the typo.
    if (!name.isEmpty() && !command)
        return usageError(QStringLiteral("Unknown command \"%1\"").arg(name), json);
    if (command)
        parser.addOptions(command->options);
    if (!parser.parse(arguments))
        return usageError(parser.errorText(), json);
    // The last of two values would win silently; a script that passes two
    // has a fault worth hearing about.
    for (const QString &option : parser.optionNames()) {
        if (parser.optionNames().count(option) > 1)
            return usageError(QStringLiteral("Option --%1 given more than once").arg(option), json);
    }
    if (parser.isSet(QStringLiteral("help"))) {
        print(command ? commandHelp(*command) : mainHelp());
        return CtlSession::ExitOk;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        print(QStringLiteral("panelctl %1\n").arg(QCoreApplication::applicationVersion()));
        return CtlSession::ExitOk;
    }
    if (!command)
        return usageError(QStringLiteral("No command given"), json);
    const QStringList args = parser.positionalArguments().mid(1);
    if (args.size() < command->minArgs || args.size() > command->maxArgs)
        return usageError(QStringLiteral("Usage: panelctl %1 %2").arg(command->name, command->synopsis).trimmed(), json);

    // Checked before the engine starts, so a typo costs no bus traffic.
    QString dat = parser.isSet(QStringLiteral("dat")) ? parser.value(QStringLiteral("dat")) : defaultDat;
    if (!Utils::goodDat(dat))
        return usageError(QStringLiteral("\"%1\" is not a DAT (adapter:address:type, e.g. %2)").arg(dat, defaultDat), json);
    dat = normalizedDat(dat);
    CtlSession::Options options;
    options.simulate = parser.isSet(QStringLiteral("simulate"));
    if (parser.isSet(QStringLiteral("speed"))) {
        bool ok = false;
        options.speedKbps = parser.value(QStringLiteral("speed")).toInt(&ok);
        if (!ok || options.speedKbps < 1 || options.speedKbps > 3400)
            return usageError(QStringLiteral("--speed wants kbit/s from 1 to 3400, not \"%1\"")
                                  .arg(parser.value(QStringLiteral("speed"))), json);
    }
    if (parser.isSet(QStringLiteral("timeout"))) {
        bool ok = false;
        const double seconds = parser.value(QStringLiteral("timeout")).toDouble(&ok);
        // Written so that NaN fails too.
        if (!ok || !(seconds >= 0.001 && seconds <= 86400))
            return usageError(QStringLiteral("--timeout wants seconds from 0.001 to 86400, not \"%1\"")
                                  .arg(parser.value(QStringLiteral("timeout"))), json);
        options.timeoutMs = int(seconds * 1000);
    } else if (command->name == QLatin1String("run")) {
        options.timeoutMs = -1;
    }
    if (parser.isSet(QStringLiteral("log"))) {
        const QString logFile = parser.value(QStringLiteral("log"));
        QFile probe(logFile);
        if (logFile.isEmpty() || !probe.open(QIODevice::WriteOnly | QIODevice::Append)) {
            CtlOutput out(json);
            return out.finish({ CtlSession::ExitFile, QStringLiteral("Cannot write the communication log to %1: %2")
                                                          .arg(logFile, probe.errorString()) });
        }
        CommsLog::setDumpFilePath(QFileInfo(logFile).absoluteFilePath());
    }
    s_verbose = parser.isSet(QStringLiteral("verbose"));

    // The window's preferences stay untouched: this run keeps its settings
    // in a store of its own that is gone when it ends.
    QTemporaryDir settingsHome;
    if (!settingsHome.isValid()) {
        CtlOutput out(json);
        return out.finish({ CtlSession::ExitFile, QStringLiteral("Cannot create a temporary folder for settings") });
    }
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsHome.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsHome.path());

    SignalQuit::install();
    CtlSession session(options);
    CtlOutput out(json);
    CtlContext context{ session, out, parser, dat, args, stdinClosed };
    int code = CtlSession::ExitOk;
    // Inside the event loop, so that SIGINT and SIGTERM end every wait.
    QTimer::singleShot(0, &app, [&] {
        CtlSession::Error err = command->run(context);
        // A log asked for and lost is a failure of its own.
        if (!err && parser.isSet(QStringLiteral("log")) && !CommsLog::getInstance()->dumpError().isEmpty())
            err = { CtlSession::ExitFile, CommsLog::getInstance()->dumpError() };
        code = out.finish(err);
        QCoreApplication::exit(code);
    });
    app.exec();
    return code;
}
