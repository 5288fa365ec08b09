#pragma once

#include "panelcore_global.h"

#include <QMetaType>
#include <QObject>
#include <QString>

// One message for the user: what happened, who said it and how serious it is.
class PANELCORE_EXPORT Notification
{
    Q_GADGET

public:
    // Posters may use values of their own; only these two have a meaning to
    // the views.
    enum NotificationType : int {
        Information = 0,
        Error = 2,
    };
    Q_ENUM(NotificationType)

    Notification(const QString &message, NotificationType type, const QString &sender);

    QString message() const { return m_message; }
    NotificationType type() const { return m_type; }
    QString sender() const { return m_sender; }

private:
    QString m_message;
    NotificationType m_type;
    QString m_sender;
};
