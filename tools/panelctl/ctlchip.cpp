// The chip-state helpers that the panelctl commands share.
#include "ctlchip.h"

#include "ctlcommands.h"

#include "bvr60600/voutcode.h"
#include "utils/utils.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>

using Error = CtlSession::Error;
using ChipState = CtlSession::ChipState;
using Bvr60600::VoutCode;

namespace {

// A script or a project larger than this is not something a person wrote.
constexpr qint64 maxInputFileSize = 16 * 1024 * 1024;

} // namespace

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

Error reservedCode(int code, const QString &source)
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
Error writeAndVerify(CtlContext &c, const ChipState &before, const ChipState &target, const QString &source)
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
Error readChip(CtlContext &c, ChipState *state)
{
    if (Error err = c.session.attach(c.dat))
        return err;
    if (Error err = c.session.readConfiguration(c.dat))
        return err;
    if (state)
        *state = c.session.modelState();
    return {};
}
