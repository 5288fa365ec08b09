#pragma once

#include "ctlsession.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>

class CtlOutput;
struct CtlContext;

// The chip-state helpers that the panelctl commands share: the chip's mode
// and output-voltage code as text and JSON, reading input files, and the
// read-write-verify steps every command on the chip goes through.

CtlSession::Error usage(const QString &text);

QString modeOf(const CtlSession::ChipState &state);
QString modeText(const QString &mode);
void setMode(CtlSession::ChipState &state, const QString &mode);
QString codeHex(int code);
QString voutText(int code);
QJsonObject stateJson(const CtlSession::ChipState &state);
void printState(CtlOutput &out, const QString &dat, const CtlSession::ChipState &state);

bool parseNumber(const QString &text, int &value);
CtlSession::Error readInputFile(const QString &name, bool stdinClosed, QByteArray &content);

CtlSession::Error reservedCode(int code, const QString &source = QString());
void reportChanges(CtlOutput &out, const CtlSession::ChipState &before,
                   const CtlSession::ChipState &target, const CtlSession::ChipState &after);
CtlSession::Error writeAndVerify(CtlContext &c, const CtlSession::ChipState &before,
                                 const CtlSession::ChipState &target,
                                 const QString &source = QString());
CtlSession::Error readChip(CtlContext &c, CtlSession::ChipState *state = nullptr);
