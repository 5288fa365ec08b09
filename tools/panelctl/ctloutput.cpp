#include "ctloutput.h"

#include <QJsonDocument>

#include <cstdio>

namespace {

void write(FILE *stream, const QByteArray &bytes)
{
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

} // namespace

void CtlOutput::line(const QString &text) const
{
    if (!m_json)
        write(stdout, text.toUtf8() + '\n');
}

void CtlOutput::append(const QString &key, const QJsonValue &value)
{
    if (m_json)
        m_arrays[key].append(value);
}

QString CtlOutput::printable(const QString &text, int maxChars)
{
    QString safe;
    safe.reserve(qMin(text.size(), qsizetype(maxChars) + 3));
    // The end of a long text often says what is wrong with it ("... is not
    // supported"), so a cut keeps both ends.
    const qsizetype head = text.size() > maxChars ? maxChars * 2 / 3 : text.size();
    const qsizetype tail = text.size() > maxChars ? maxChars - head : 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (i == head && tail > 0) {
            safe += QStringLiteral("...");
            i = text.size() - tail;
        }
        const QChar ch = text.at(i);
        const bool bad = (ch.category() == QChar::Other_Control && ch != QLatin1Char('\t'))
                         || ch == QChar::ReplacementCharacter || ch.isSurrogate();
        safe += bad ? QLatin1Char('?') : ch;
    }
    return safe;
}

void CtlOutput::errorLine(const QString &text)
{
    // One line, whatever the error text holds: callers grep for it. It may
    // quote the command line or a file, so it is cleaned and cut as well.
    write(stderr, QStringLiteral("panelctl: %1\n").arg(printable(text.simplified(), 400)).toUtf8());
}

int CtlOutput::finish(const CtlSession::Error &err)
{
    if (err)
        errorLine(err.text);
    if (m_json) {
        QJsonObject object = m_result;
        for (auto it = m_arrays.cbegin(); it != m_arrays.cend(); ++it)
            object.insert(it.key(), it.value());
        object.insert(QStringLiteral("ok"), !err);
        if (err) {
            object.insert(QStringLiteral("error"), err.text);
            object.insert(QStringLiteral("exitCode"), err.code);
        }
        write(stdout, QJsonDocument(object).toJson(QJsonDocument::Indented));
    }
    return err.code;
}
