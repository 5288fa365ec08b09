#include "model.h"

#include "rules.h"

#include <QDebug>
#include <QMetaType>

namespace {

const QString helpSuffix = QStringLiteral("_help");
const QString tipSuffix = QStringLiteral("_tip");
const QString stateSuffix = QStringLiteral("_state");
const QString dirtySuffix = QStringLiteral("_dirty");
const QString valuesSuffix = QStringLiteral("_values");
const QString keysSuffix = QStringLiteral("_keys");

QString nameOf(const QMetaProperty &property)
{
    return QString::fromLatin1(property.name());
}

bool isObjectName(const QMetaProperty &property)
{
    return qstrcmp(property.name(), "objectName") == 0;
}

} // namespace

Model::Model(QObject *parent)
    : QObject(parent)
{
    initializePropertyListCount();
    initializePropertyHelpers();
}

Model::~Model()
{
    delete m_rules;
}

QString Model::myType() const
{
    return QStringLiteral("Model");
}

QString Model::basePropertyName(const QString &name)
{
    QString base = name;
    for (const QString &suffix : {tipSuffix, helpSuffix, stateSuffix, valuesSuffix, dirtySuffix})
        base.remove(suffix);
    return base;
}

QList<QMetaProperty> Model::metaProperties() const
{
    const QMetaObject *meta = metaObject();
    QList<QMetaProperty> properties;
    properties.reserve(meta->propertyCount());
    for (int i = 0; i < meta->propertyCount(); ++i)
        properties.append(meta->property(i));
    return properties;
}

QList<QMetaProperty> Model::projectMetaProperties() const
{
    QList<QMetaProperty> properties;
    for (const QMetaProperty &property : metaProperties()) {
        if (property.isStored() && !isObjectName(property))
            properties.append(property);
    }
    return properties;
}

void Model::logMetaProperties() const
{
    QString stored;
    QString other;
    for (const QMetaProperty &property : metaProperties()) {
        const QString line = QStringLiteral("      name=%1, type=%2\n")
                                 .arg(nameOf(property), -20)
                                 .arg(QString::fromLatin1(property.typeName()));
        (property.isStored() ? stored : other) += line;
    }
    qDebug().noquote() << QStringLiteral("Properties defined for our model are as follows:\n   STORED:\n%1\n   OTHER:\n%2\n")
                              .arg(stored, other);
}

void Model::initializePropertyListCount()
{
    m_propertyListCount.clear();
    for (const QMetaProperty &property : metaProperties()) {
        const QString name = nameOf(property);
        if (isObjectName(property) || name != basePropertyName(name))
            continue;
        m_propertyListCount.insert(name, int(property.read(this).toList().size()));
    }
}

QVariant Model::initialHelperValue(const QMetaProperty &property) const
{
    const QString name = nameOf(property);
    // Going by the helper's declared type keeps a list helper a list even
    // when its setting has no elements yet.
    const QMetaType type = property.metaType();
    if (name.endsWith(tipSuffix) || name.endsWith(helpSuffix) || name.endsWith(dirtySuffix)) {
        if (type == QMetaType::fromType<QStringList>())
            return emptyStringListFor(name);
        return QString();
    }
    if (name.endsWith(stateSuffix)) {
        if (type == QMetaType::fromType<QList<int>>())
            return QVariant::fromValue(emptyIntListFor(name));
        return StateOk;
    }
    if (name.endsWith(valuesSuffix)) {
        QString keys = name;
        keys.replace(name.size() - valuesSuffix.size(), valuesSuffix.size(), keysSuffix);
        return range(0, sizePropertyListFor(keys), 1);
    }
    return {};
}

void Model::initializePropertyHelpers()
{
    for (const QMetaProperty &property : metaProperties()) {
        const QString name = nameOf(property);
        if (name == basePropertyName(name))
            continue;
        const QVariant initial = initialHelperValue(property);
        if (initial.isValid())
            property.write(this, initial);
    }
}

int Model::sizePropertyListFor(const QString &name) const
{
    return m_propertyListCount.value(name, 0);
}

QStringList Model::emptyStringListFor(const QString &name) const
{
    return emptyStringListOfSize(sizePropertyListFor(basePropertyName(name)));
}

QStringList Model::emptyStringListOfSize(int n)
{
    return QStringList(qMax(0, n), QString());
}

QList<int> Model::emptyIntListFor(const QString &name) const
{
    return QList<int>(qMax(0, sizePropertyListFor(basePropertyName(name))), 0);
}

QVariantList Model::range(int start, int count, int step)
{
    QVariantList list;
    for (int i = 0; i < count; ++i)
        list.append(start + i * step);
    return list;
}

void Model::clearPropertyStates()
{
    for (const QMetaProperty &property : metaProperties()) {
        if (nameOf(property).endsWith(stateSuffix))
            property.write(this, initialHelperValue(property));
    }
}

void Model::setRules(Rules *rules)
{
    if (rules == m_rules)
        return;
    delete m_rules;
    m_rules = rules;
}

void Model::validate()
{
    if (m_rules)
        m_rules->doValidation();
}

QVariantMap Model::getState()
{
    validate();
    QVariantMap state;
    for (const QMetaProperty &property : projectMetaProperties())
        state.insert(nameOf(property), property.read(this));
    for (const QByteArray &name : dynamicPropertyNames())
        state.insert(QString::fromLatin1(name), property(name.constData()));
    return state;
}

void Model::setState(const QVariantMap &state)
{
    // A dynamic property left over from an earlier state would otherwise be
    // saved again with the new one.
    const QList<QByteArray> previous = dynamicPropertyNames();
    for (const QByteArray &name : previous)
        setProperty(name.constData(), QVariant());

    for (auto it = state.cbegin(); it != state.cend(); ++it)
        setProperty(it.key().toLatin1().constData(), it.value());
    validate();
}
