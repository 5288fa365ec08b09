#include "notification.h"

Notification::Notification(const QString &message, NotificationType type, const QString &sender)
    : m_message(message)
    , m_type(type)
    , m_sender(sender)
{
}
