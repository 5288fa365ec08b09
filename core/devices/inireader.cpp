#include "inireader.h"

#include "storedvariant.h"

#include <QPoint>
#include <QRect>
#include <QSize>
#include <QStringDecoder>
#include <QStringList>


using namespace Qt::StringLiterals;

namespace {

// ---- Lines

bool isSpace(char ch)
{
    return ch == ' ' || ch == '\t' || ch == '\n' || ch == '\r';
}

bool isSpecial(char ch)
{
    return ch == '\n' || ch == '\r' || ch == '"' || ch == ';' || ch == '=' || ch == '\\';
}

struct Line
{
    qsizetype start = 0;
    qsizetype length = 0;
    qsizetype equals = -1; // the first "=" outside quotes, -1 for none
};

// The next logical line from pos on, split as QSettings splits a file: a
// line goes on past its end inside quotes or after a backslash, and a line
// that starts with ";" is a comment. False at the end of the data.
bool nextLine(QByteArrayView data, qsizetype &pos, Line &line)
{
    const qsizetype size = data.size();
    bool inQuotes = false;
    line.equals = -1;
    line.start = pos;
    while (line.start < size && isSpace(data.at(line.start)))
        ++line.start;
    qsizetype i = line.start;
    while (i < size) {
        const char ch = data.at(i++);
        if (!isSpecial(ch))
            continue;
        if (ch == '=') {
            if (!inQuotes && line.equals < 0)
                line.equals = i - 1;
        } else if (ch == '\n' || ch == '\r') {
            if (i == line.start + 1) {
                ++line.start;
            } else if (!inQuotes) {
                --i;
                break;
            }
        } else if (ch == '\\') {
            if (i < size) {
                const char escaped = data.at(i++);
                if (i < size) {
                    const char next = data.at(i);
                    if ((escaped == '\n' && next == '\r') || (escaped == '\r' && next == '\n'))
                        ++i;
                }
            }
        } else if (ch == '"') {
            inQuotes = !inQuotes;
        } else if (i == line.start + 1) { // ";" opening a comment line
            while (i < size && data.at(i) != '\n' && data.at(i) != '\r')
                ++i;
            while (i < size && isSpace(data.at(i)))
                ++i;
            line.start = i;
        } else if (!inQuotes) { // ";" ends the line, the rest is a comment
            --i;
            break;
        }
    }
    pos = i;
    line.length = i - line.start;
    return line.length > 0;
}

// ---- Keys

// "\" stands for "/", "%XX" and "%UXXXX" for a character.
QString unescapedKey(QByteArrayView key)
{
    const QString decoded = QString::fromUtf8(key);
    const qsizetype size = decoded.size();
    QString result;
    result.reserve(size);
    qsizetype i = 0;
    while (i < size) {
        const QChar ch = decoded.at(i);
        if (ch == u'\\') {
            result += u'/';
            ++i;
            continue;
        }
        if (ch != u'%' || i == size - 1) {
            result += ch;
            ++i;
            continue;
        }
        qsizetype first = i + 1;
        qsizetype digits = 2;
        if (decoded.at(first) == u'U') {
            ++first;
            digits = 4;
        }
        bool ok = false;
        const ushort code = first + digits <= size ? QStringView(decoded).sliced(first, digits).toUShort(&ok, 16) : 0;
        if (!ok) {
            result += u'%';
            ++i;
            continue;
        }
        result += QChar(code);
        i = first + digits;
    }
    return result;
}

// Without empty parts, as QSettings keeps its keys.
QString normalizedKey(const QString &key)
{
    if (!key.startsWith(u'/') && !key.endsWith(u'/') && !key.contains(QLatin1String("//")))
        return key;
    return key.split(u'/', Qt::SkipEmptyParts).join(u'/');
}

// ---- Values

void chopTrailingSpaces(QString &text, qsizetype limit)
{
    qsizetype n = text.size() - 1;
    while (n >= limit && (text.at(n) == u' ' || text.at(n) == u'\t'))
        text.truncate(n--);
}

char plainEscape(char code)
{
    switch (code) {
    case 'a': return '\a';
    case 'b': return '\b';
    case 'f': return '\f';
    case 'n': return '\n';
    case 'r': return '\r';
    case 't': return '\t';
    case 'v': return '\v';
    case '"': case '?': case '\'': case '\\': return code;
    default: return 0;
    }
}

int hexValue(char ch)
{
    if (ch >= '0' && ch <= '9')
        return ch - '0';
    if (ch >= 'a' && ch <= 'f')
        return ch - 'a' + 10;
    if (ch >= 'A' && ch <= 'F')
        return ch - 'A' + 10;
    return -1;
}

int octValue(char ch)
{
    return ch >= '0' && ch <= '7' ? ch - '0' : -1;
}

// The text right of "=" unescaped: true with the elements in list when a
// comma outside quotes makes it a list, else false with the text in text.
// Spaces around elements go unless quoted; escapes follow C.
bool unescapedValue(QByteArrayView str, QString &text, QStringList &list)
{
    const qsizetype size = str.size();
    QStringDecoder utf8(QStringDecoder::Utf8);
    bool isList = false;
    bool inQuotes = false;
    bool quoted = false;
    bool cutShort = false; // the data ended inside an escape: nothing is chopped
    qsizetype i = 0;
    const auto skipSpaces = [&] {
        while (i < size && (str.at(i) == ' ' || str.at(i) == '\t'))
            ++i;
    };
    skipSpaces();
    qsizetype chopLimit = text.size();
    while (i < size && !cutShort) {
        const char ch = str.at(i);
        if (ch == '\\') {
            if (++i >= size) {
                cutShort = true;
                break;
            }
            const char code = str.at(i++);
            if (const char plain = plainEscape(code)) {
                text += QLatin1Char(plain);
            } else if ((code == 'x' && i < size && hexValue(str.at(i)) >= 0) || octValue(code) >= 0) {
                const bool hex = code == 'x';
                char16_t value = hex ? 0 : char16_t(octValue(code));
                while (i < size && (hex ? hexValue(str.at(i)) : octValue(str.at(i))) >= 0)
                    value = char16_t((value << (hex ? 4 : 3)) + (hex ? hexValue(str.at(i++)) : octValue(str.at(i++))));
                text += QChar(value);
                cutShort = i >= size;
            } else if (code == 'x' && i >= size) {
                cutShort = true;
            } else if ((code == '\n' || code == '\r') && i < size) {
                // A backslash joins the next line, whatever its line end.
                const char next = str.at(i);
                if ((next == '\n' || next == '\r') && next != code)
                    ++i;
            }
            chopLimit = text.size();
        } else if (ch == '"') {
            ++i;
            quoted = true;
            inQuotes = !inQuotes;
            if (!inQuotes) {
                skipSpaces();
                chopLimit = text.size();
            }
        } else if (ch == ',' && !inQuotes) {
            if (!quoted)
                chopTrailingSpaces(text, chopLimit);
            isList = true;
            list.append(text);
            text.clear();
            quoted = false;
            ++i;
            skipSpaces();
            chopLimit = 0;
        } else {
            qsizetype j = i + 1;
            while (j < size && str.at(j) != '\\' && str.at(j) != '"' && str.at(j) != ',')
                ++j;
            text += utf8(str.sliced(i, j - i));
            i = j;
        }
    }
    if (!cutShort && !quoted)
        chopTrailingSpaces(text, chopLimit);
    if (isList)
        list.append(text);
    return isList;
}

// The arguments of "@Size(w h)" and its kind, separated by spaces.
QStringList splitArguments(const QString &text, qsizetype open)
{
    QStringList arguments;
    QString item;
    for (qsizetype i = open + 1; i < text.size(); ++i) {
        const QChar ch = text.at(i);
        if (ch == u')') {
            arguments.append(item);
        } else if (ch == u' ') {
            arguments.append(item);
            item.clear();
        } else {
            item.append(ch);
        }
    }
    return arguments;
}

// One element as QSettings decodes it: "@"-forms for the types it writes
// that way, "@@" for a text that starts with "@", anything else as text.
QVariant decodedElement(const QString &text, QString &err)
{
    if (text.startsWith(u'@')) {
        if (text.endsWith(u')')) {
            if (text.startsWith("@ByteArray("_L1))
                return QStringView(text).sliced(11).chopped(1).toLatin1();
            if (text.startsWith("@String("_L1))
                return QStringView(text).sliced(8).chopped(1).toString();
            if (text.startsWith("@Variant("_L1))
                return StoredVariant::decode(QStringView(text).sliced(9).toLatin1(), QDataStream::Qt_4_0, err);
            if (text.startsWith("@DateTime("_L1))
                return StoredVariant::decode(QStringView(text).sliced(10).toLatin1(), QDataStream::Qt_5_6, err);
            if (text.startsWith("@Rect("_L1)) {
                const QStringList a = splitArguments(text, 5);
                if (a.size() == 4)
                    return QRect(a.at(0).toInt(), a.at(1).toInt(), a.at(2).toInt(), a.at(3).toInt());
            } else if (text.startsWith("@Size("_L1)) {
                const QStringList a = splitArguments(text, 5);
                if (a.size() == 2)
                    return QSize(a.at(0).toInt(), a.at(1).toInt());
            } else if (text.startsWith("@Point("_L1)) {
                const QStringList a = splitArguments(text, 6);
                if (a.size() == 2)
                    return QPoint(a.at(0).toInt(), a.at(1).toInt());
            } else if (text == "@Invalid()"_L1) {
                return {};
            }
        }
        if (text.startsWith("@@"_L1))
            return text.sliced(1);
    }
    return text;
}

// A list stays a list of texts unless an element is in an "@"-form.
QVariant decodedList(const QStringList &elements, QString &err)
{
    QStringList texts = elements;
    for (QString &text : texts) {
        if (!text.startsWith(u'@'))
            continue;
        if (text.startsWith("@@"_L1)) {
            text.remove(0, 1);
            continue;
        }
        QVariantList values;
        values.reserve(elements.size());
        for (const QString &element : elements) {
            values.append(decodedElement(element, err));
            if (!err.isEmpty())
                return {};
        }
        return values;
    }
    return texts;
}

} // namespace

QString IniReader::read(const QByteArray &content, Entries &entries)
{
    QByteArrayView data(content);
    if (data.startsWith("\xef\xbb\xbf"))
        data = data.sliced(3);

    bool wellFormed = true;
    QString section; // "" at the top level, else "name/"
    qsizetype pos = 0;
    Line line;
    while (nextLine(data, pos, line)) {
        const QByteArrayView text = data.sliced(line.start, line.length);
        if (text.startsWith('[')) {
            qsizetype end = text.indexOf(']');
            if (end < 0) {
                wellFormed = false;
                end = text.size();
            }
            const QByteArrayView name = text.first(end).sliced(1).trimmed();
            if (name.compare("general", Qt::CaseInsensitive) == 0)
                section.clear();
            else if (name.compare("%general", Qt::CaseInsensitive) == 0)
                section = QString::fromLatin1(name.sliced(1)) + u'/';
            else
                section = unescapedKey(name) + u'/';
            continue;
        }
        // A line without "=" says nothing; only a section name left open
        // makes a file that is not INI.
        if (line.equals < 0)
            continue;
        const qsizetype equals = line.equals - line.start;
        const QString own = normalizedKey(unescapedKey(text.first(equals).trimmed()));
        if (own.isEmpty())
            continue;
        const QString key = normalizedKey(section + own);
        QString single;
        QStringList list;
        QString err;
        const QVariant value = unescapedValue(text.sliced(equals + 1), single, list) ? decodedList(list, err)
                                                                                      : decodedElement(single, err);
        if (!err.isEmpty())
            return QStringLiteral("entry %1: %2").arg(key, err);
        entries.append({key, value});
    }
    if (!wellFormed)
        return QStringLiteral("the file is not in INI format");
    return {};
}
