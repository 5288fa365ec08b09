#include "ctlcommands.h"

#include "ctlapply.h"
#include "ctlchip.h"

#include "bvr60600/voutcode.h"
#include "i2c/i2cscript.h"
#include "services/apisvc.h"
#include "services/commslog.h"
#include "services/settings.h"
#include "utils/utils.h"

#include <QEventLoop>
#include <QJsonDocument>
#include <QRegularExpression>

#include <algorithm>
#include <cstdio>

using Error = CtlSession::Error;
using ChipState = CtlSession::ChipState;
using Bvr60600::VoutCode;

namespace {

// ---- commands

Error runAdapters(CtlContext &c)
{
    if (Error err = c.session.scanAdapters())
        return err;
    const QStringList ids = c.session.adapterIds();
    const QStringList descriptions = c.session.adapterDescriptions();
    QJsonArray adapters;
    for (qsizetype i = 0; i < ids.size(); ++i) {
        const QString description = descriptions.value(i);
        // The default adapter is also known under the empty id.
        c.out.line(QStringLiteral("%1\t%2").arg(ids.at(i).isEmpty() ? QStringLiteral("\"\"") : ids.at(i), description));
        adapters.append(QJsonObject{ { QStringLiteral("id"), ids.at(i) },
                                     { QStringLiteral("description"), description } });
    }
    if (ids.isEmpty())
        c.out.line(QStringLiteral("no adapters found"));
    c.out.set(QStringLiteral("adapters"), adapters);
    return {};
}

Error runScan(CtlContext &c)
{
    const bool open = c.parser.isSet(QStringLiteral("open"));
    if (c.parser.isSet(QStringLiteral("allow-bus"))) {
        if (!open)
            return usage(QStringLiteral("--allow-bus goes with --open"));
        const QStringList buses = c.parser.value(QStringLiteral("allow-bus")).split(QLatin1Char(','), Qt::SkipEmptyParts);
        static const QRegularExpression busId(QStringLiteral("^i2c-\\d+$"));
        for (const QString &bus : buses) {
            if (!busId.match(bus.trimmed()).hasMatch())
                return usage(QStringLiteral("--allow-bus wants kernel bus ids such as i2c-1, not \"%1\"").arg(bus));
        }
        Settings::getInstance()->setI2cOpenScanBuses(buses);
    }
    // A kernel bus whose open scan is not allowed is probed at --dat's
    // address only: that address must be the project's.
    if (open && !c.parser.isSet(QStringLiteral("simulate"))) {
        if (Error err = c.session.addToProject(c.dat))
            return err;
    }
    // A closed scan asks for the --dat chip only; the simulated chip is
    // switched on the same way as for any other command.
    if (!open || c.parser.isSet(QStringLiteral("simulate"))) {
        Error err = c.session.attach(c.dat);
        if (err && err.code != CtlSession::ExitNoDevice)
            return err;
    }
    QStringList found;
    if (Error err = c.session.scanChips(open, found))
        return err;
    QJsonArray chips;
    for (const QString &dat : std::as_const(found)) {
        c.out.line(QStringLiteral("%1\t%2").arg(dat, Utils::datType(dat)));
        chips.append(QJsonObject{ { QStringLiteral("dat"), dat }, { QStringLiteral("type"), Utils::datType(dat) } });
    }
    c.out.set(QStringLiteral("chips"), chips);
    if (found.isEmpty()) {
        if (c.session.adapterIds().isEmpty())
            return CtlSession::noAdapter();
        return { CtlSession::ExitNoDevice, QStringLiteral("No chip found") };
    }
    return {};
}

Error runRead(CtlContext &c)
{
    ChipState state;
    if (Error err = readChip(c, &state))
        return err;
    printState(c.out, c.dat, state);
    c.out.set(QStringLiteral("dat"), c.dat);
    const QJsonObject json = stateJson(state);
    for (auto it = json.begin(); it != json.end(); ++it)
        c.out.set(it.key(), it.value());
    return {};
}

Error runSet(CtlContext &c)
{
    const bool byVolts = c.parser.isSet(QStringLiteral("vout"));
    const bool byCode = c.parser.isSet(QStringLiteral("code"));
    const bool byMode = c.parser.isSet(QStringLiteral("mode"));
    if (byVolts && byCode)
        return usage(QStringLiteral("--vout and --code exclude each other"));
    if (!byVolts && !byCode && !byMode)
        return usage(QStringLiteral("set needs --vout, --code or --mode"));

    int code = -1;
    if (byVolts) {
        bool ok = false;
        const QString text = c.parser.value(QStringLiteral("vout"));
        const double volts = text.trimmed().toDouble(&ok);
        if (!ok)
            return usage(QStringLiteral("--vout wants a voltage in volts, not \"%1\"").arg(text));
        QString err;
        code = VoutCode::fromVolts(volts, err);
        if (code < 0)
            return usage(err);
    } else if (byCode) {
        const QString text = c.parser.value(QStringLiteral("code"));
        if (!parseNumber(text, code) || code < 0 || code > 0x7F)
            return usage(QStringLiteral("--code wants a number from 0 to 127 (or 0x00 to 0x7f), not \"%1\"").arg(text));
        if (VoutCode::isReserved(code))
            return reservedCode(code);
    }
    QString mode;
    if (byMode) {
        mode = c.parser.value(QStringLiteral("mode")).trimmed().toLower();
        if (mode == QLatin1String("pass-through"))
            mode = QStringLiteral("passthrough");
        if (mode != QLatin1String("auto") && mode != QLatin1String("forced") && mode != QLatin1String("passthrough"))
            return usage(QStringLiteral("--mode is auto, forced or passthrough, not \"%1\"")
                             .arg(c.parser.value(QStringLiteral("mode"))));
    }

    ChipState before;
    if (Error err = readChip(c, &before))
        return err;
    ChipState target = before;
    if (code >= 0)
        target.code = code;
    if (!mode.isEmpty())
        setMode(target, mode);
    return writeAndVerify(c, before, target);
}

Error runRegisters(CtlContext &c)
{
    const QString filter = c.parser.value(QStringLiteral("filter"));
    if (const QRegularExpression expression(filter); !expression.isValid())
        return usage(QStringLiteral("--filter \"%1\" is not a regular expression: %2")
                         .arg(filter, expression.errorString()));
    QString fieldsOf;
    if (c.parser.isSet(QStringLiteral("fields"))) {
        if (c.parser.isSet(QStringLiteral("filter")))
            return usage(QStringLiteral("--filter and --fields exclude each other"));
        const QString text = c.parser.value(QStringLiteral("fields"));
        // Register addresses are hexadecimal everywhere else, with or without "0x".
        static const QRegularExpression hexAddress(QStringLiteral("^(0[xX])?([0-9a-fA-F]{1,2})$"));
        const QRegularExpressionMatch match = hexAddress.match(text.trimmed());
        if (!match.hasMatch())
            return usage(QStringLiteral("--fields wants a register address such as 0x00, not \"%1\"").arg(text));
        fieldsOf = Utils::toHexAddress(match.captured(2).toUInt(nullptr, 16), 2);
    }

    if (Error err = readChip(c))
        return err;

    struct Register
    {
        QString address, name, value;
    };
    QList<Register> registers;
    const QStringList view = c.session.task(c.dat, QStringLiteral("getRegisterView"),
                                            { { QStringLiteral("filter"), fieldsOf.isEmpty() ? filter : QString() } })
                                 .value(QStringLiteral("data"))
                                 .toStringList();
    for (const QString &entry : view) {
        const QJsonObject object = QJsonDocument::fromJson(entry.toUtf8()).object();
        registers.append({ object.value(QStringLiteral("address")).toString(),
                           object.value(QStringLiteral("name")).toString(),
                           object.value(QStringLiteral("value")).toString() });
    }
    c.out.set(QStringLiteral("dat"), c.dat);

    if (fieldsOf.isEmpty()) {
        QJsonArray array;
        for (const Register &r : std::as_const(registers)) {
            c.out.line(QStringLiteral("%1  %2  %3").arg(r.address, r.name.leftJustified(20), r.value));
            array.append(QJsonObject{ { QStringLiteral("address"), r.address },
                                      { QStringLiteral("name"), r.name },
                                      { QStringLiteral("value"), r.value } });
        }
        c.out.set(QStringLiteral("registers"), array);
        return {};
    }

    const auto it = std::find_if(registers.cbegin(), registers.cend(),
                                 [&fieldsOf](const Register &r) { return r.address.compare(fieldsOf, Qt::CaseInsensitive) == 0; });
    if (it == registers.cend()) {
        QStringList known;
        for (const Register &r : std::as_const(registers))
            known << r.address;
        return usage(QStringLiteral("No register at address %1 (registers: %2)").arg(fieldsOf, known.join(QStringLiteral(", "))));
    }
    const unsigned value = Utils::fromHexString(it->value);
    c.out.line(QStringLiteral("%1  %2  %3").arg(it->address, it->name, it->value));
    c.out.set(QStringLiteral("register"), QJsonObject{ { QStringLiteral("address"), it->address },
                                                        { QStringLiteral("name"), it->name },
                                                        { QStringLiteral("value"), it->value } });
    QJsonArray fields;
    const QStringList fieldView = c.session.task(c.dat, QStringLiteral("getRegisterFieldView"),
                                                 { { QStringLiteral("address"), it->address } })
                                      .value(QStringLiteral("data"))
                                      .toStringList();
    for (const QString &entry : fieldView) {
        const QJsonObject object = QJsonDocument::fromJson(entry.toUtf8()).object();
        const int start = object.value(QStringLiteral("start")).toString().toInt();
        const int size = object.value(QStringLiteral("size")).toString().toInt();
        QString bits = size > 1 ? QStringLiteral("%1:%2").arg(start + size - 1).arg(start) : QString::number(start);
        QJsonObject field = object;
        field.remove(QStringLiteral("reset"));
        if (start >= 0 && size > 0 && start + size <= 32) {
            const unsigned mask = size >= 32 ? 0xFFFFFFFFu : ((1u << size) - 1u);
            const unsigned fieldValue = (value >> start) & mask;
            field.insert(QStringLiteral("value"), Utils::toHexAddress(fieldValue, 2));
        }
        c.out.line(QStringLiteral("  %1  %2  %3  %4  %5")
                       .arg(bits.leftJustified(5), object.value(QStringLiteral("name")).toString().leftJustified(16),
                            object.value(QStringLiteral("access")).toString().leftJustified(4),
                            field.value(QStringLiteral("value")).toString().leftJustified(6),
                            object.value(QStringLiteral("description")).toString()));
        fields.append(field);
    }
    c.out.set(QStringLiteral("fields"), fields);
    return {};
}

Error runScript(CtlContext &c)
{
    const QString name = c.args.value(0);
    QByteArray content;
    if (Error err = readInputFile(name, c.stdinClosed, content))
        return err;
    QStringList lines = QString::fromUtf8(content).split(QLatin1Char('\n'));
    for (QString &line : lines) {
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
    }
    // A file ending in a newline has no line after it.
    if (lines.size() > 1 && lines.constLast().isEmpty())
        lines.removeLast();

    if (Error err = c.session.attach(c.dat))
        return err;
    QStringList expanded = lines;
    if (Error err = c.session.verifyScript(c.dat, expanded)) {
        QStringList messages;
        const QStringList parts = QString(err.text)
                                      .remove(QRegularExpression(QStringLiteral("^Failed parsing script: ")))
                                      .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        for (const QString &part : parts)
            messages << CtlOutput::printable(part);
        // A binary file has a fault on every line; the first ones tell enough.
        constexpr qsizetype shownMessages = 100;
        for (const QString &message : messages.mid(0, shownMessages)) {
            c.out.line(QStringLiteral("invalid: %1").arg(message));
            c.out.append(QStringLiteral("invalid"), message);
        }
        if (messages.size() > shownMessages)
            c.out.line(QStringLiteral("invalid: ... and %1 more").arg(messages.size() - shownMessages));
        c.out.set(QStringLiteral("invalidCount"), int(messages.size()));
        return usage(QStringLiteral("%1 is not a valid script: %2%3")
                         .arg(name == QLatin1String("-") ? QStringLiteral("Standard input") : name,
                              messages.value(0),
                              messages.size() > 1 ? QStringLiteral(" (and %1 more)").arg(messages.size() - 1) : QString()));
    }

    // Which lines move data on the bus: each of them completes once, in order.
    QList<int> transferLines;
    for (int i = 0; i < expanded.size(); ++i) {
        switch (I2cScript::compileLine(expanded.at(i)).kind) {
        case I2cScript::ScriptLine::ReadBulk:
        case I2cScript::ScriptLine::WriteBulk:
        case I2cScript::ScriptLine::ReadRegister:
        case I2cScript::ScriptLine::WriteRegister:
        case I2cScript::ScriptLine::Pmbus:
            transferLines.append(i);
            break;
        default:
            break;
        }
    }

    const QMetaObject::Connection logging =
        QObject::connect(CommsLog::getInstance(), &CommsLog::eventLog, &c.session, [&c](const QString &event, bool) {
            c.out.line(QStringLiteral("log: %1").arg(event));
            c.out.append(QStringLiteral("log"), event);
        });
    int next = 0;
    int failed = 0;
    QString firstFailure;
    const Error err = c.session.runScript(c.dat, lines, [&](const QString &lineErr, const QString &value) {
        const int index = transferLines.value(next, -1);
        ++next;
        const QString text = index >= 0 ? CtlOutput::printable(lines.at(index).trimmed()) : QString();
        const int number = index + 1;
        if (lineErr.isEmpty()) {
            c.out.line(QStringLiteral("line %1: ok: %2%3").arg(number).arg(text, value.isEmpty() ? QString() : QStringLiteral(" = ") + value));
        } else {
            ++failed;
            if (firstFailure.isEmpty())
                firstFailure = QStringLiteral("line %1: %2").arg(number).arg(lineErr.simplified());
            c.out.line(QStringLiteral("line %1: FAIL: %2: %3").arg(number).arg(text, lineErr.simplified()));
        }
        c.out.append(QStringLiteral("lines"), QJsonObject{ { QStringLiteral("line"), number },
                                                           { QStringLiteral("text"), text },
                                                           { QStringLiteral("ok"), lineErr.isEmpty() },
                                                           { QStringLiteral("err"), lineErr },
                                                           { QStringLiteral("value"), value } });
    });
    QObject::disconnect(logging);
    c.out.set(QStringLiteral("dat"), c.dat);
    c.out.set(QStringLiteral("transfers"), next);
    c.out.set(QStringLiteral("failed"), failed);
    if (err && failed > 0)
        return { CtlSession::ExitFailed, QStringLiteral("%1 of %2 transfer lines failed; first %3").arg(failed).arg(next).arg(firstFailure) };
    if (err)
        return err;
    c.out.line(QStringLiteral("script ok: %1 transfer lines").arg(next));
    return {};
}

Error runServe(CtlContext &c)
{
    Settings *settings = Settings::getInstance();
    if (c.parser.isSet(QStringLiteral("port"))) {
        const QString text = c.parser.value(QStringLiteral("port"));
        int port = -1;
        if (!parseNumber(text, port) || port < 0 || port > 65535)
            return usage(QStringLiteral("--port wants a number from 0 to 65535, not \"%1\"").arg(text));
        settings->setApiServicePort(port);
    }
    if (Error err = c.session.attach(c.dat)) {
        if (err.code != CtlSession::ExitNoDevice)
            return err;
        // The device manager keeps scanning: a chip plugged in later is found.
        CtlOutput::errorLine(QStringLiteral("%1; serving anyway").arg(err.text));
    }

    ApiSvc *api = ApiSvc::getInstance();
    settings->setApiServiceEnabled(true);
    const int port = api->serverPort();
    if (port == 0) {
        settings->setApiServiceEnabled(false);
        return { CtlSession::ExitFailed, QStringLiteral("Cannot listen on port %1").arg(settings->apiServicePort()) };
    }
    c.out.set(QStringLiteral("dat"), c.dat);
    c.out.set(QStringLiteral("port"), port);
    c.out.line(QStringLiteral("serving the HTTP API on port %1 for %2 until SIGINT or SIGTERM").arg(port).arg(c.dat));
    if (c.out.json()) {
        // The port must be known while serving, not at the end.
        const QByteArray started = QJsonDocument(QJsonObject{ { QStringLiteral("serving"), true },
                                                             { QStringLiteral("port"), port },
                                                             { QStringLiteral("dat"), c.dat } })
                                       .toJson(QJsonDocument::Compact);
        std::fwrite(started.constData(), 1, size_t(started.size()), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
    }

    // Ends when SIGINT or SIGTERM quits the application.
    QEventLoop loop;
    loop.exec();
    settings->setApiServiceEnabled(false);
    return {};
}

} // namespace

const QList<CtlCommand> &ctlCommands()
{
    static const QList<CtlCommand> commands = [] {
        QList<CtlCommand> list;
        list.append({ QStringLiteral("adapters"), QString(), QStringLiteral("List the I2C adapters found (id, description)"),
                      QStringLiteral("Scans the USB adapters and the kernel's I2C buses (i2c-N) once. The default adapter is "
                                     "listed twice: under its own id and under \"\"."),
                      {}, 0, 0, false, &runAdapters });
        list.append({ QStringLiteral("scan"), QStringLiteral("[--open [--allow-bus i2c-N,...]]"), QStringLiteral("List the chips found (DAT, type)"),
                      QStringLiteral("Without --open, probes the address of --dat on every adapter; with --open, every legal 7-bit address. "
                                     "A kernel I2C bus may carry the computer's own chips: --open probes it at every address only "
                                     "when --allow-bus names it, and otherwise at --dat's address only."),
                      { QCommandLineOption(QStringLiteral("open"), QStringLiteral("Probe every legal address.")),
                        QCommandLineOption(QStringLiteral("allow-bus"), QStringLiteral("Kernel buses that --open may probe at every address."), QStringLiteral("BUSES")) },
                      0, 0, false, &runScan });
        list.append({ QStringLiteral("read"), QString(), QStringLiteral("Show the chip's output voltage, code and mode"),
                      QStringLiteral("Reads the chip's configuration into the model and shows the output-voltage code, its voltage, "
                                     "the mode (auto PWM, forced PWM, pass-through) and any note on a reserved value."),
                      {}, 0, 0, false, &runRead });
        list.append({ QStringLiteral("set"), QStringLiteral("[--vout VOLTS | --code N] [--mode auto|forced|passthrough]"),
                      QStringLiteral("Write the output voltage and/or mode, then verify"),
                      QStringLiteral("Writes through the model and the chip's write configuration script, reads the chip back "
                                     "and fails when it does not hold what was written. Voltages must be on the chip's grid "
                                     "(2.500 V to 2.800 V in 50 mV steps, 2.825 V to 4.000 V in 25 mV steps); reserved codes "
                                     "are refused."),
                      { QCommandLineOption(QStringLiteral("vout"), QStringLiteral("Output voltage in volts, e.g. 3.3."), QStringLiteral("VOLTS")),
                        QCommandLineOption(QStringLiteral("code"), QStringLiteral("Output-voltage code, 41 to 95 (0x29 to 0x5f)."), QStringLiteral("N")),
                        QCommandLineOption(QStringLiteral("mode"), QStringLiteral("auto, forced or passthrough."), QStringLiteral("MODE")) },
                      0, 0, false, &runSet });
        list.append({ QStringLiteral("registers"), QStringLiteral("[--filter RE] [--fields ADDR]"),
                      QStringLiteral("Show the register view, or one register's fields"),
                      QStringLiteral("Reads the chip and lists every register (address, name, value), those matching --filter "
                                     "(a case-insensitive regular expression on name, address or group), or with --fields the "
                                     "bit fields of one register with their values."),
                      { QCommandLineOption(QStringLiteral("filter"), QStringLiteral("Only registers matching RE."), QStringLiteral("RE")),
                        QCommandLineOption(QStringLiteral("fields"), QStringLiteral("Show the fields of the register at ADDR."), QStringLiteral("ADDR")) },
                      0, 0, false, &runRegisters });
        list.append({ QStringLiteral("run"), QStringLiteral("FILE|-"), QStringLiteral("Validate and run an I2C script"),
                      QStringLiteral("Validates the script (register names allowed), runs it on the chip and prints each transfer "
                                     "line's outcome and the communication-log lines. Exit code 2 when the script is not valid, "
                                     "1 when a line fails. \"-\" reads the script from standard input. No time limit unless "
                                     "--timeout is given."),
                      {}, 1, 1, false, &runScript });
        list.append({ QStringLiteral("apply"), QStringLiteral("PROJECT.cfg [--section DAT]"),
                      QStringLiteral("Write a project's saved configuration to the chip"),
                      QStringLiteral("Opens the project file, takes the saved configuration of one device (the only one, or "
                                     "--section), writes it to the connected chip at that device's address, reads back and "
                                     "reports what changed."),
                      { QCommandLineOption(QStringLiteral("section"), QStringLiteral("The project device (DAT) to apply."), QStringLiteral("DAT")) },
                      1, 1, false, &runApply });
        list.append({ QStringLiteral("serve"), QStringLiteral("[--port N]"), QStringLiteral("Serve the HTTP API until interrupted"),
                      QStringLiteral("Runs the HTTP API for the --dat chip, headless, until SIGINT or SIGTERM, then ends with "
                                     "exit code 0. Port 0 picks a free one; the port is printed (with --json, as a first JSON line)."),
                      { QCommandLineOption(QStringLiteral("port"), QStringLiteral("TCP port, default 8888."), QStringLiteral("N")) },
                      0, 0, true, &runServe });
        return list;
    }();
    return commands;
}

const CtlCommand *findCtlCommand(const QString &name)
{
    for (const CtlCommand &command : ctlCommands()) {
        if (command.name == name)
            return &command;
    }
    return nullptr;
}
