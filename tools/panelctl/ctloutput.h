#pragma once

#include "ctlsession.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QString>

// What a command tells its caller: plain lines as they come, or, with
// --json, one JSON object at the end carrying "ok" and the results. Errors
// are one line on stderr in both modes.
class CtlOutput
{
public:
    explicit CtlOutput(bool json) : m_json(json) {}

    bool json() const { return m_json; }
    // A plain-text line, written at once; dropped in JSON mode.
    void line(const QString &text) const;
    void set(const QString &key, const QJsonValue &value) { m_result.insert(key, value); }
    // Adds to the array under key; nothing is kept in plain-text mode.
    void append(const QString &key, const QJsonValue &value);
    // Ends the command: the error line (if any) and the JSON object.
    int finish(const CtlSession::Error &err);

    // One line on stderr, made printable and cut to a readable length.
    static void errorLine(const QString &text);
    // Text from a file, safe to echo: control characters and undecodable
    // bytes become "?", and more than maxChars characters end in "...".
    static QString printable(const QString &text, int maxChars = 120);

private:
    bool m_json;
    QJsonObject m_result;
    // Arrays grow here, not in m_result, whose values are copied on access.
    QHash<QString, QJsonArray> m_arrays;
};
