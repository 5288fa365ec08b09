#pragma once

#include "panelcore_global.h"
#include "services/notification.h"

#include <QAbstractListModel>
#include <QHash>
#include <QList>

// The posted notifications, oldest first, as a list model for the views.
class PANELCORE_EXPORT NotificationModel : public QAbstractListModel
{
    Q_OBJECT

public:
    enum Roles {
        TypeRole = Qt::UserRole + 1,
        MessageRole,
        SenderRole,
    };
    Q_ENUM(Roles)

    explicit NotificationModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QHash<int, QByteArray> roleNames() const override;

    void addNotification(const Notification &notification);
    // False, and nothing removed, for an index outside the list.
    bool removeNotification(int index);

private:
    QList<Notification> m_notifications;
};
