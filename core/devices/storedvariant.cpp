#include "storedvariant.h"

#include <QDataStream>
#include <QIODevice>
#include <QMetaType>

#include <functional>

namespace {

// Walks the data of a stored variant the way QVariant's stream operator
// reads it, without keeping anything, and refuses what would make that
// operator reserve memory the data does not justify: a list or map claiming
// more elements than its bytes can hold, nesting too deep for the stack, or
// a type a project never stores (the wider world of registered types, each
// with its own notion of a length).
class StoredVariantCheck
{
public:
    StoredVariantCheck(const QByteArray &data, QDataStream::Version version)
        : m_stream(data)
    {
        m_stream.setVersion(version);
    }

    // Empty when the operator may read the data: all of it, or up to where
    // it is cut short (where the operator stops too). Else why not.
    QString refusal()
    {
        (void)variant(0);
        return m_refusal;
    }

private:
    enum Outcome { Whole, CutShort, Refused };
    static constexpr int maxDepth = 32;

    qint64 left() const { return m_stream.device()->bytesAvailable(); }

    Outcome refuse(const QString &why)
    {
        m_refusal = why;
        return Refused;
    }

    Outcome skip(qint64 bytes)
    {
        if (left() < bytes)
            return CutShort;
        m_stream.skipRawData(int(bytes));
        return Whole;
    }

    bool count(quint32 &n)
    {
        m_stream >> n;
        return m_stream.status() == QDataStream::Ok;
    }

    Outcome bytes(QByteArray *content = nullptr, bool text = false)
    {
        quint32 size = 0;
        if (!count(size))
            return CutShort;
        if (size == 0xffffffff)
            return Whole; // null
        if ((text && size % 2) || size > left())
            return CutShort;
        if (!content)
            return skip(size);
        content->resize(size);
        m_stream.readRawData(content->data(), int(size));
        return Whole;
    }

    Outcome string() { return bytes(nullptr, true); }

    Outcome elements(qint64 smallest, const std::function<Outcome()> &element)
    {
        quint32 n = 0;
        if (!count(n))
            return CutShort;
        if (n > left() / smallest)
            return refuse(QStringLiteral("a stored list claims %1 elements in %2 bytes").arg(n).arg(left()));
        for (quint32 i = 0; i < n; ++i) {
            if (const Outcome outcome = element(); outcome != Whole)
                return outcome;
        }
        return Whole;
    }

    // The type id a stream of an older version means in this Qt.
    int currentTypeId(quint32 id) const
    {
        constexpr quint32 qt4UserType = 127;
        constexpr quint32 qt5UserType = 1024;
        constexpr quint32 qt5SizePolicy = 121;
        constexpr quint32 qt5RegExp = 27;
        constexpr quint32 qt5FirstGuiType = 64;
        constexpr quint32 qt5LastGuiType = 87;
        const int version = m_stream.version();
        if (version < QDataStream::Qt_5_0) {
            if (id == qt4UserType)
                id = qt5UserType;
            else if (id >= 128 && id != qt5UserType)
                id -= 97;
            else if (id == 75)
                id = qt5SizePolicy;
            else if (id > 75 && id <= 86)
                id -= 1;
        }
        if (version < QDataStream::Qt_6_0) {
            if (id == qt5UserType)
                id = QMetaType::User;
            else if (id >= qt5FirstGuiType && id <= qt5LastGuiType)
                id += QMetaType::FirstGuiType - qt5FirstGuiType;
            else if (id == qt5SizePolicy)
                id = QMetaType::QSizePolicy;
            else if (id == qt5RegExp)
                id = QMetaType::fromName("QRegExp").id();
        }
        return int(id);
    }

    Outcome variant(int depth)
    {
        if (depth > maxDepth)
            return refuse(QStringLiteral("a stored value is nested deeper than %1 levels").arg(maxDepth));
        quint32 raw = 0;
        if (!count(raw))
            return CutShort;
        int id = currentTypeId(raw);
        if (m_stream.version() >= QDataStream::Qt_4_2 && skip(1) != Whole)
            return CutShort;
        if (id == QMetaType::User) {
            QByteArray name;
            if (const Outcome outcome = bytes(&name); outcome != Whole)
                return outcome;
            id = QMetaType::fromName(name).id();
            // The operator stops at a type it does not know by name.
            if (id == QMetaType::UnknownType)
                return CutShort;
        }
        if (!QMetaType(id).isValid()) {
            // An unknown type reads as nothing, where Qt 4 wrote an empty text.
            return m_stream.version() < QDataStream::Qt_5_0 ? string() : Whole;
        }
        return value(id, depth);
    }

    Outcome dateTime()
    {
        const bool qt4 = m_stream.version() < QDataStream::Qt_5_0;
        if (skip(qt4 ? 4 + 4 : 8 + 4) != Whole)
            return CutShort;
        qint8 spec = 0;
        m_stream >> spec;
        if (m_stream.status() != QDataStream::Ok)
            return CutShort;
        if (!qt4 && spec == Qt::OffsetFromUTC)
            return skip(4);
        if (!qt4 && spec == Qt::TimeZone)
            return refuse(QStringLiteral("a stored date carries a time zone"));
        return Whole;
    }

    Outcome value(int id, int depth)
    {
        const bool qt4 = m_stream.version() < QDataStream::Qt_5_0;
        switch (id) {
        case QMetaType::Bool:
        case QMetaType::Char:
        case QMetaType::SChar:
        case QMetaType::UChar:
            return skip(1);
        case QMetaType::Short:
        case QMetaType::UShort:
        case QMetaType::QChar:
            return skip(2);
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::QTime:
            return skip(4);
        case QMetaType::LongLong:
        case QMetaType::ULongLong:
        case QMetaType::Double:
        case QMetaType::QSize:
        case QMetaType::QPoint:
            return skip(8);
        case QMetaType::Float:
            // Floats travel as doubles from Qt 4.6 on.
            return skip(m_stream.version() < QDataStream::Qt_4_6 ? 4 : 8);
        case QMetaType::QDate:
            return skip(qt4 ? 4 : 8);
        case QMetaType::QRect:
        case QMetaType::QLine:
        case QMetaType::QSizeF:
        case QMetaType::QPointF:
            return skip(16);
        case QMetaType::QRectF:
        case QMetaType::QLineF:
            return skip(32);
        case QMetaType::QDateTime:
            return dateTime();
        case QMetaType::QString:
            return string();
        case QMetaType::QByteArray:
            return bytes();
        case QMetaType::QStringList:
            return elements(4, [this] { return string(); });
        case QMetaType::QVariantList:
            return elements(4, [this, depth] { return variant(depth + 1); });
        case QMetaType::QVariantMap:
        case QMetaType::QVariantHash:
            return elements(4 + 4, [this, depth] {
                const Outcome key = string();
                return key == Whole ? variant(depth + 1) : key;
            });
        default:
            return refuse(QStringLiteral("a stored value is of type %1, which no project holds")
                              .arg(QString::fromLatin1(QMetaType(id).name())));
        }
    }

    QDataStream m_stream;
    QString m_refusal;
};

} // namespace

QVariant StoredVariant::decode(const QByteArray &data, QDataStream::Version version, QString &err)
{
    err = StoredVariantCheck(data, version).refusal();
    if (!err.isEmpty())
        return {};
    QDataStream stream(data);
    stream.setVersion(version);
    QVariant result;
    stream >> result;
    return result;
}
