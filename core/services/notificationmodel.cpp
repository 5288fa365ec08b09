#include "notificationmodel.h"

NotificationModel::NotificationModel(QObject *parent)
    : QAbstractListModel(parent)
{
}

int NotificationModel::rowCount(const QModelIndex &parent) const
{
    // A list model: only the invisible root has children.
    if (parent.isValid())
        return 0;
    return int(m_notifications.size());
}

QVariant NotificationModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() < 0 || index.row() >= m_notifications.size())
        return {};
    const Notification &notification = m_notifications.at(index.row());
    switch (role) {
    case TypeRole:
        return QVariant::fromValue(notification.type());
    case MessageRole:
        return notification.message();
    case SenderRole:
        return notification.sender();
    default:
        return {};
    }
}

QHash<int, QByteArray> NotificationModel::roleNames() const
{
    return {
        {TypeRole, QByteArrayLiteral("type")},
        {MessageRole, QByteArrayLiteral("message")},
        {SenderRole, QByteArrayLiteral("sender")},
    };
}

void NotificationModel::addNotification(const Notification &notification)
{
    const int row = int(m_notifications.size());
    beginInsertRows(QModelIndex(), row, row);
    m_notifications.append(notification);
    endInsertRows();
}

bool NotificationModel::removeNotification(int index)
{
    if (index < 0 || index >= m_notifications.size())
        return false;
    beginRemoveRows(QModelIndex(), index, index);
    m_notifications.removeAt(index);
    endRemoveRows();
    return true;
}
