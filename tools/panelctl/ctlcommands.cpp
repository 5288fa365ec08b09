#include "ctlcommands.h"

#include "bvr60600/voutcode.h"
#include "devices/project.h"
#include "i2c/i2cscript.h"
#include "services/apisvc.h"
#include "services/commslog.h"
#include "services/settings.h"
#include "utils/utils.h"

#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QRegularExpression>

#include <algorithm>
#include <cstdio>

using Error = CtlSession::Error;
using ChipState = CtlSession::ChipState;
using Bvr60600::VoutCode;

namespace {

// A script or a project larger than this is not something a person wrote.
constexpr qint64 maxInputFileSize = 16 * 1024 * 1024;

Error usage(const QString &text)
{
    return { CtlSession::ExitUsage, text };
}

// The mode as the chip's control register holds it: pass-through wins over
// forced PWM, and automatic is neither.
QString modeOf(const ChipState &state)
{
    if (state.passThrough)
        return QStringLiteral("passthrough");
    if (state.forcedPwm)
        return QStringLiteral("forced");
    return QStringLiteral("auto");
}

QString modeText(const QString &mode)
{
    if (mode == QLatin1String("passthrough"))
        return QStringLiteral("pass-through");
    if (mode == QLatin1String("forced"))
        return QStringLiteral("forced PWM");
    return QStringLiteral("auto PWM");
}

void setMode(ChipState &state, const QString &mode)
{
    state.autoPwm = mode == QLatin1String("auto");
    state.forcedPwm = mode == QLatin1String("forced");
    state.passThrough = mode == QLatin1String("passthrough");
}

QString codeHex(int code)
{
    return Utils::toHexAddress(unsigned(code), 2);
}

QString voutText(int code)
{
    return VoutCode::voltsText(code) + QStringLiteral(" V");
}

QJsonObject stateJson(const ChipState &state)
{
    const QString mode = modeOf(state);
    return {
        { QStringLiteral("code"), state.code },
        { QStringLiteral("codeHex"), codeHex(state.code) },
        { QStringLiteral("vout"), VoutCode::volts(state.code) },
        { QStringLiteral("voutText"), VoutCode::voltsText(state.code) },
        { QStringLiteral("mode"), mode },
        { QStringLiteral("modeText"), modeText(mode) },
        { QStringLiteral("reserved"), VoutCode::isReserved(state.code) },
        { QStringLiteral("note"), state.note },
    };
}

void printState(CtlOutput &out, const QString &dat, const ChipState &state)
{
    out.line(QStringLiteral("device  %1").arg(dat));
    out.line(QStringLiteral("code    %1 (%2)").arg(codeHex(state.code)).arg(state.code));
    out.line(QStringLiteral("vout    %1").arg(voutText(state.code)));
    out.line(QStringLiteral("mode    %1").arg(modeText(modeOf(state))));
    if (!state.note.isEmpty())
        out.line(QStringLiteral("note    %1").arg(state.note));
}

// Decimal, or hexadecimal with "0x".
bool parseNumber(const QString &text, int &value)
{
    bool ok = false;
    const QString trimmed = text.trimmed();
    if (trimmed.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        value = trimmed.mid(2).toInt(&ok, 16);
    else
        value = trimmed.toInt(&ok, 10);
    return ok;
}

Error readInputFile(const QString &name, bool stdinClosed, QByteArray &content)
{
    const QString shown = name == QLatin1String("-") ? QStringLiteral("standard input") : name;
    QFile file;
    if (name == QLatin1String("-")) {
        // A closed standard input is not an empty script.
        if (stdinClosed || !file.open(stdin, QIODevice::ReadOnly))
            return { CtlSession::ExitFile, QStringLiteral("Cannot read standard input: it is closed") };
    } else {
        const QFileInfo info(name);
        if (!info.exists())
            return { CtlSession::ExitFile, QStringLiteral("Cannot read %1: no such file").arg(name) };
        if (!info.isFile())
            return { CtlSession::ExitFile, QStringLiteral("Cannot read %1: not a regular file").arg(name) };
        file.setFileName(name);
        if (!file.open(QIODevice::ReadOnly))
            return { CtlSession::ExitFile, QStringLiteral("Cannot read %1: %2").arg(name, file.errorString()) };
    }
    // A pipe delivers in pieces: read to its end, not one buffer's worth.
    content.clear();
    while (content.size() <= maxInputFileSize) {
        const QByteArray chunk = file.read(1024 * 1024);
        if (chunk.isEmpty())
            break;
        content += chunk;
    }
    if (file.error() != QFileDevice::NoError)
        return { CtlSession::ExitFile, QStringLiteral("Cannot read %1: %2").arg(shown, file.errorString()) };
    if (content.size() > maxInputFileSize)
        return { CtlSession::ExitFile, QStringLiteral("Cannot read %1: larger than %2 bytes").arg(shown).arg(maxInputFileSize) };
    return {};
}

Error reservedCode(int code, const QString &source = QString())
{
    return usage(source + QStringLiteral("Code %1 (%2) is reserved; the chip takes %3 to %4 (%5 to %6)")
                              .arg(codeHex(code))
                              .arg(code)
                              .arg(codeHex(VoutCode::minCode), codeHex(VoutCode::maxCode),
                                   voutText(VoutCode::minCode), voutText(VoutCode::maxCode)));
}

// Before and after a write, as "what changed" lines and JSON.
void reportChanges(CtlOutput &out, const ChipState &before, const ChipState &target, const ChipState &after)
{
    QJsonArray changes;
    if (before.code != after.code) {
        out.line(QStringLiteral("vout    %1 (%2) -> %3 (%4)")
                     .arg(voutText(before.code), codeHex(before.code), voutText(after.code), codeHex(after.code)));
        changes.append(QJsonObject{ { QStringLiteral("property"), QStringLiteral("vout") },
                                    { QStringLiteral("before"), codeHex(before.code) },
                                    { QStringLiteral("after"), codeHex(after.code) } });
    }
    if (modeOf(before) != modeOf(after)) {
        out.line(QStringLiteral("mode    %1 -> %2").arg(modeText(modeOf(before)), modeText(modeOf(after))));
        changes.append(QJsonObject{ { QStringLiteral("property"), QStringLiteral("mode") },
                                    { QStringLiteral("before"), modeOf(before) },
                                    { QStringLiteral("after"), modeOf(after) } });
    }
    if (changes.isEmpty() && target.code == before.code && modeOf(target) == modeOf(before))
        out.line(QStringLiteral("unchanged: the chip already holds this configuration"));
    out.set(QStringLiteral("changes"), changes);
    out.set(QStringLiteral("before"), stateJson(before));
    out.set(QStringLiteral("after"), stateJson(after));
}

// Writes target through the model, reads back and compares: the common end
// of "set" and "apply".
Error writeAndVerify(CtlContext &c, const ChipState &before, const ChipState &target, const QString &source = QString())
{
    if (target.code != before.code && VoutCode::isReserved(target.code))
        return reservedCode(target.code, source);
    if (Error err = c.session.writeConfiguration(c.dat, target))
        return err;
    if (Error err = c.session.readConfiguration(c.dat))
        return err;
    const ChipState after = c.session.modelState();
    c.out.set(QStringLiteral("dat"), c.dat);
    reportChanges(c.out, before, target, after);
    if (after.code != target.code || modeOf(after) != modeOf(target)) {
        return { CtlSession::ExitFailed,
                 QStringLiteral("Read-back differs: wrote %1 %2, the chip holds %3 %4")
                     .arg(codeHex(target.code), modeOf(target), codeHex(after.code), modeOf(after)) };
    }
    return {};
}

// Every command on the chip starts the same way: it must answer, and the
// model must hold what it has now.
Error readChip(CtlContext &c, ChipState *state = nullptr)
{
    if (Error err = c.session.attach(c.dat))
        return err;
    if (Error err = c.session.readConfiguration(c.dat))
        return err;
    if (state)
        *state = c.session.modelState();
    return {};
}

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

// A project value as the file writes it: QSettings gives text for what it
// wrote as text and a typed value for what it wrote typed.
bool fileCode(const QVariant &value, int &code)
{
    bool ok = false;
    code = value.toString().trimmed().toInt(&ok, 10);
    return ok && code >= 0 && code <= 0x7F;
}

bool fileFlag(const QVariant &value, bool &flag)
{
    if (value.typeId() == QMetaType::Bool) {
        flag = value.toBool();
        return true;
    }
    const QString text = value.toString().trimmed().toLower();
    flag = text == QLatin1String("true") || text == QLatin1String("1");
    return flag || text == QLatin1String("false") || text == QLatin1String("0");
}

// The file's devices the manager took: those it kept under their own DAT
// and those it merged into a device of the same type at the same address.
QStringList usableDevices(const QStringList &fileDats, const QStringList &projectDats)
{
    QStringList usable;
    for (const QString &dat : fileDats) {
        const bool taken = std::any_of(projectDats.cbegin(), projectDats.cend(), [&dat](const QString &kept) {
            return kept == dat
                   || (Utils::datAddress(kept) == Utils::datAddress(dat) && Utils::datType(kept) == Utils::datType(dat));
        });
        if (taken)
            usable << dat;
    }
    return usable;
}

Error runApply(CtlContext &c)
{
    const QString filename = c.args.value(0);
    QByteArray probe;
    // The same checks as for a script: a clear word for a missing file
    // before the project reader has its say.
    if (Error err = readInputFile(filename, c.stdinClosed, probe))
        return err;
    QStringList skipped;
    if (Error err = c.session.openProject(filename, skipped))
        return err;
    for (const QString &message : std::as_const(skipped)) {
        c.out.line(QStringLiteral("warning: %1").arg(CtlOutput::printable(message, 400)));
        c.out.append(QStringLiteral("warnings"), message);
    }

    // The file's own values: the model drops what it cannot convert and
    // fills in its defaults, and neither may reach the chip unnoticed.
    QMap<QString, QVariantMap> sections;
    if (const QString err = Project::readSections(filename, {}, sections); !err.isEmpty())
        return { CtlSession::ExitFile, QStringLiteral("Cannot read project %1: %2").arg(filename, err) };
    // The choice is among the file's devices, not the manager's: the manager
    // files devices at one address behind different adapters as one.
    const QStringList dats = usableDevices(sections.keys(), c.session.projectDats());
    QString section;
    if (c.parser.isSet(QStringLiteral("section"))) {
        section = c.parser.value(QStringLiteral("section"));
        if (!dats.contains(section))
            return usage(QStringLiteral("Project %1 has no device %2 (devices: %3)")
                             .arg(filename, section, dats.isEmpty() ? QStringLiteral("none") : dats.join(QStringLiteral(", "))));
    } else if (dats.size() == 1) {
        section = dats.constFirst();
    } else if (dats.isEmpty()) {
        if (!skipped.isEmpty())
            return usage(QStringLiteral("Project %1 holds no usable device: skipped %2")
                             .arg(filename, skipped.constFirst().section(QStringLiteral(": "), 1)));
        // Sections that do not even name a device are left out without a word.
        QStringList groups;
        (void)Project::readSectionNames(filename, groups);
        if (!groups.isEmpty())
            return usage(QStringLiteral("Project %1 holds no device: its sections (%2) name none")
                             .arg(filename, groups.join(QStringLiteral(", "))));
        return { CtlSession::ExitFile, QStringLiteral("Project %1 holds no device").arg(filename) };
    } else {
        return usage(QStringLiteral("Project %1 holds %2 devices; choose one with --section (%3)")
                         .arg(filename)
                         .arg(dats.size())
                         .arg(dats.join(QStringLiteral(", "))));
    }

    const QVariantMap saved = sections.value(section);
    const QString where = QStringLiteral("Project %1, %2: ").arg(filename, section);
    int code = -1;
    if (saved.contains(QStringLiteral("voutControl")) && !fileCode(saved.value(QStringLiteral("voutControl")), code))
        return usage(where + QStringLiteral("voutControl \"%1\" is not a code from 0 to 127")
                                 .arg(saved.value(QStringLiteral("voutControl")).toString()));
    QMap<QString, bool> flags;
    for (const QString &key : { QStringLiteral("autoPwm"), QStringLiteral("forcedPwm"), QStringLiteral("passThrough") }) {
        bool flag = false;
        if (!saved.contains(key))
            continue;
        if (!fileFlag(saved.value(key), flag))
            return usage(where + QStringLiteral("%1 \"%2\" is not true or false").arg(key, saved.value(key).toString()));
        flags.insert(key, flag);
    }

    c.dat = section;
    // Only the chosen device stays in the project, so that it can be
    // attached even where the manager filed another one at its address.
    c.session.keepOnlyProjectDevice(section);
    // What the file does not say stays as the chip has it.
    ChipState before;
    if (Error err = readChip(c, &before))
        return err;
    ChipState target = before;
    if (code >= 0)
        target.code = code;
    if (!flags.isEmpty()) {
        target.autoPwm = flags.value(QStringLiteral("autoPwm"), before.autoPwm);
        target.forcedPwm = flags.value(QStringLiteral("forcedPwm"), before.forcedPwm);
        target.passThrough = flags.value(QStringLiteral("passThrough"), before.passThrough);
    }
    c.out.line(QStringLiteral("applying %1 [%2]").arg(filename, section));
    c.out.set(QStringLiteral("project"), filename);
    return writeAndVerify(c, before, target, where);
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
