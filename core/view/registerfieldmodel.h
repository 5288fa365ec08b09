#pragma once

#include "panelcore_global.h"

#include <QAbstractListModel>
#include <QHash>
#include <QJsonValue>
#include <QList>
#include <QString>
#include <QStringList>

// The bit fields of one register, highest first, as the device's field view
// reports them: one JSON object per field with "name", "start", "size",
// "access" and optionally "reset" and "description".
class PANELCORE_EXPORT RegisterFieldModel : public QAbstractListModel
{
    Q_OBJECT

public:
    enum Roles {
        NameRole = Qt::UserRole + 1,
        BitsRole,
        AccessRole,
        ResetRole,
        DescriptionRole,
        StartRole,
        SizeRole,
        WritableRole,
    };
    Q_ENUM(Roles)

    struct Field
    {
        QString name;
        int start = 0;
        int size = 0;
        QString access;
        QString reset;
        QString description;
    };

    explicit RegisterFieldModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QHash<int, QByteArray> roleNames() const override;

    // Replaces the fields with those of a field view; entries that are not
    // JSON objects are skipped (and logged).
    void setFieldView(const QStringList &entries);
    void clear();

    // The bits of a register `width` bits wide that belong to writable
    // fields (access containing "w", in any case).
    quint64 writableMask(int width) const;

    // "[msb:lsb]", two digits each.
    static QString bitsText(int start, int size);

    // A number in a view entry: a JSON number, or the decimal digits that a
    // text starts with ("8", " 8 bits"). Anything else is not a number.
    static int leadingInt(const QJsonValue &value, bool *ok = nullptr);

private:
    QList<Field> m_fields;
};
