#pragma once

#include "panelcore_global.h"
#include "services/notification.h"
#include "services/notificationmodel.h"

#include <QObject>
#include <QString>

// Collects messages for the user (files opened or saved, scripts finished)
// until the user dismisses them. Main thread only; nothing is persisted.
class PANELCORE_EXPORT NotificationSvc : public QObject
{
    Q_OBJECT
    Q_PROPERTY(NotificationModel *notifications READ notifications NOTIFY notificationsChanged)

public:
    static NotificationSvc *getInstance();
    ~NotificationSvc() override;

    NotificationModel *notifications() { return &m_notifications; }

    // The model announces the new row itself; notificationsChanged stays
    // quiet so that views do not rebind to the whole list for every post.
    Q_INVOKABLE void createNotification(const QString &mainMessage,
                                        Notification::NotificationType type = Notification::Information,
                                        const QString &sender = QString());
    // An index outside the list removes nothing and emits nothing.
    Q_INVOKABLE void deleteNotification(int index);

signals:
    void notificationsChanged();
    void notificationCreated(const QString &mainMessage);

private:
    explicit NotificationSvc(QObject *parent = nullptr);

    static NotificationSvc *m_instance;
    NotificationModel m_notifications;
};
