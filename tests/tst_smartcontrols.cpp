// Qt Quick Test runner for the smart controls: the QML test files in qml/
// import the modules compiled into panelcore, with the brand and settings
// singletons published as the program publishes them.

#include "testenv.h"

#include "services/brand.h"
#include "services/settings.h"
#include "view/viewtop.h"

#include <QQmlEngine>
#include <QtQuickTest>

class Setup : public QObject
{
    Q_OBJECT

public slots:
    void applicationAvailable()
    {
        ViewTop::publishSingleton("orvane.gui.brand", "ObjBrand", Brand::getInstance());
        ViewTop::publishSingleton("orvane.gui.settings", "ObjSettings", Settings::getInstance());
    }

    void qmlEngineAvailable(QQmlEngine *engine)
    {
        engine->addImportPath(QStringLiteral("qrc:/view/common_qml"));
    }
};

int main(int argc, char **argv)
{
    TestEnv::isolate();
    QTEST_SET_MAIN_SOURCE_PATH
    Setup setup;
    return quick_test_main_with_setup(argc, argv, "tst_smartcontrols", PANEL_QML_TEST_DIR, &setup);
}

#include "tst_smartcontrols.moc"
