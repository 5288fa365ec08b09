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
    QJsonArray array = m_result.value(key).toArray();
    array.append(value);
    m_result.insert(key, array);
}

QString CtlOutput::printable(const QString &text, int maxChars)
{
    QString safe;
    safe.reserve(qMin(text.size(), qsizetype(maxChars) + 3));
    for (const QChar ch : text) {
        if (safe.size() >= maxChars) {
            safe += QStringLiteral("...");
            break;
        }
        const bool bad = (ch.category() == QChar::Other_Control && ch != QLatin1Char('\t'))
                         || ch == QChar::ReplacementCharacter || ch.isSurrogate();
        safe += bad ? QLatin1Char('?') : ch;
    }
    return safe;
}

void CtlOutput::errorLine(const QString &text)
{
    // One line, whatever the error text holds: callers grep for it.
    QString flat = text.simplified();
    write(stderr, QStringLiteral("panelctl: %1\n").arg(flat).toUtf8());
}

int CtlOutput::finish(const CtlSession::Error &err)
{
    if (err)
        errorLine(err.text);
    if (m_json) {
        QJsonObject object = m_result;
        object.insert(QStringLiteral("ok"), !err);
        if (err) {
            object.insert(QStringLiteral("error"), err.text);
            object.insert(QStringLiteral("exitCode"), err.code);
        }
        write(stdout, QJsonDocument(object).toJson(QJsonDocument::Indented));
    }
    return err.code;
}
