#pragma once

#include "panelcore_global.h"

#include <QJSEngine>
#include <QPointer>
#include <QQuickView>
#include <QString>
#include <QUrl>
#include <QtQml/qqml.h>

// The one top-level window. Creating it creates the services and publishes
// them to QML; showTop() then loads the root document and shows it.
class PANELCORE_EXPORT ViewTop : public QQuickView
{
    Q_OBJECT

public:
    static ViewTop *getInstance();
    // The view if it exists, without creating it: services that only
    // cooperate with the view must not bring it into being.
    static ViewTop *existingInstance() { return m_instance; }
    ~ViewTop() override;

    // Loads the compiled-in root document, or in a development build with
    // reloadableOnStartup the hot-reload root under `path`, and shows it.
    void showTop(const QString &path);

    // The root document showTop() picks for this build and settings.
    static QUrl rootSource(const QString &path);

    // Publishes `instance` to QML as the singleton `name` of module `uri`
    // at 1.0. The registration keeps only a guarded pointer: the engine
    // never owns the object, and once it is gone QML gets null instead of
    // a dangling pointer.
    template <typename T>
    static int publishSingleton(const char *uri, const char *name, T *instance)
    {
        const QPointer<T> guard(instance);
        return qmlRegisterSingletonType<T>(uri, 1, 0, name,
                                           [guard](QQmlEngine *, QJSEngine *) -> QObject * {
                                               T *object = guard.data();
                                               if (object)
                                                   QJSEngine::setObjectOwnership(object, QJSEngine::CppOwnership);
                                               return object;
                                           });
    }

private:
    ViewTop();

    static ViewTop *m_instance;
};
