#include "notificationsvc.h"

#include <QCoreApplication>

NotificationSvc *NotificationSvc::m_instance = nullptr;

NotificationSvc *NotificationSvc::getInstance()
{
    if (!m_instance) {
        m_instance = new NotificationSvc;
        qAddPostRoutine([] { delete m_instance; });
    }
    return m_instance;
}

NotificationSvc::NotificationSvc(QObject *parent)
    : QObject(parent)
    // Parented so that QML never takes ownership of the model it is handed.
    , m_notifications(this)
{
}

NotificationSvc::~NotificationSvc()
{
    m_instance = nullptr;
}

void NotificationSvc::createNotification(const QString &mainMessage, Notification::NotificationType type,
                                         const QString &sender)
{
    m_notifications.addNotification(Notification(mainMessage, type, sender));
    emit notificationCreated(mainMessage);
}

void NotificationSvc::deleteNotification(int index)
{
    if (m_notifications.removeNotification(index))
        emit notificationsChanged();
}
