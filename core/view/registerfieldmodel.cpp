#include "registerfieldmodel.h"

#include <QDebug>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

RegisterFieldModel::RegisterFieldModel(QObject *parent)
    : QAbstractListModel(parent)
{
}

int RegisterFieldModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_fields.size());
}

QVariant RegisterFieldModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() < 0 || index.row() >= m_fields.size())
        return {};
    const Field &field = m_fields.at(index.row());
    switch (role) {
    case NameRole:
        return field.name;
    case BitsRole:
        return bitsText(field.start, field.size);
    case AccessRole:
        return field.access;
    case ResetRole:
        return field.reset;
    case DescriptionRole:
        return field.description;
    case StartRole:
        return field.start;
    case SizeRole:
        return field.size;
    case WritableRole:
        return field.access.contains(QLatin1Char('w'), Qt::CaseInsensitive);
    default:
        return {};
    }
}

QHash<int, QByteArray> RegisterFieldModel::roleNames() const
{
    return {
        {NameRole, QByteArrayLiteral("name")},
        {BitsRole, QByteArrayLiteral("bits")},
        {AccessRole, QByteArrayLiteral("access")},
        {ResetRole, QByteArrayLiteral("reset")},
        {DescriptionRole, QByteArrayLiteral("description")},
        {StartRole, QByteArrayLiteral("start")},
        {SizeRole, QByteArrayLiteral("size")},
        {WritableRole, QByteArrayLiteral("writable")},
    };
}

int RegisterFieldModel::leadingInt(const QJsonValue &value, bool *ok)
{
    if (value.isDouble()) {
        if (ok)
            *ok = true;
        return value.toInt();
    }
    static const QRegularExpression digits(QStringLiteral("^\\s*([+-]?\\d+)"));
    const QRegularExpressionMatch match = digits.match(value.toString());
    if (match.hasMatch())
        return match.captured(1).toInt(ok);
    if (ok)
        *ok = false;
    return 0;
}

QString RegisterFieldModel::bitsText(int start, int size)
{
    const int msb = start + size - 1;
    return QStringLiteral("[%1:%2]").arg(msb, 2, 10, QLatin1Char('0')).arg(start, 2, 10, QLatin1Char('0'));
}

void RegisterFieldModel::setFieldView(const QStringList &entries)
{
    QList<Field> fields;
    for (const QString &text : entries) {
        const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8());
        if (!document.isObject()) {
            qDebug().noquote() << QStringLiteral("ViewRegister: skipping a field entry that is not JSON: ") + text;
            continue;
        }
        const QJsonObject entry = document.object();
        Field field;
        field.name = entry.value(QLatin1String("name")).toVariant().toString();
        field.start = leadingInt(entry.value(QLatin1String("start")));
        field.size = leadingInt(entry.value(QLatin1String("size")));
        field.access = entry.value(QLatin1String("access")).toVariant().toString();
        field.reset = entry.value(QLatin1String("reset")).toVariant().toString();
        field.description = entry.value(QLatin1String("description")).toVariant().toString();
        fields.append(field);
    }
    beginResetModel();
    m_fields = fields;
    endResetModel();
}

void RegisterFieldModel::clear()
{
    if (m_fields.isEmpty())
        return;
    beginResetModel();
    m_fields.clear();
    endResetModel();
}

quint64 RegisterFieldModel::writableMask(int width) const
{
    quint64 mask = 0;
    for (const Field &field : m_fields) {
        if (!field.access.contains(QLatin1Char('w'), Qt::CaseInsensitive))
            continue;
        for (int bit = qMax(0, field.start); bit < field.start + field.size && bit < width && bit < 64; ++bit)
            mask |= quint64(1) << bit;
    }
    return mask;
}
