#include "testenv.h"

#include "shellstart.h"

#include "devices/devicemgr.h"
#include "i2c/i2csvc.h"
#include "services/brand.h"
#include "services/commslog.h"
#include "services/logger.h"
#include "services/notificationsvc.h"
#include "services/settings.h"
#include "view/viewtop.h"

#include <QApplication>
#include <QPointer>
#include <QQuickItem>
#include <QQuickWindow>
#include <QRegularExpression>
#include <QtQuickTest>

// The main window as the program starts it, driven through its panes and
// windows with the simulated chip. Every case starts on a window of its own
// over an empty project with the chip off, and adds what it needs, so that
// it passes alone and in any order.
class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void startsOnWelcomeView();
    void welcomeDialogAddsDevice();
    void chipConnectionShowsInSidePane();
    void writeButtonOnlyWithoutImmediateMode();
    void demoMenuSwitchesChip();
    void commsLogWindowFills();
    void commsLogKeepsNewestLines();
    void commsLogFilterReachesService();
    void notificationPopupAndTray();
    void testPaneGroups();
    void settingBoxFollowsSetting();
    void demonstrationWindowCombinesStates();
    void brandWindowsOpen();
    void themes_data();
    void themes();
    void aboutBoxShowsVersion();
    void secondDeviceInProjectIsRemoved();
    void cleanupTestCase();

private:
    static QQuickItem *item(const char *name);
    static QObject *object(QObject *parent, const char *name);
    static QList<QQuickItem *> itemsNamed(QQuickItem *root, const QString &name);
    // The chip's device in the project, shown in the device view, and with
    // `on` the simulated chip found behind its adapter.
    [[nodiscard]] static bool addChip(bool on);
    static void click(QQuickItem *item);
    static QString text(QQuickItem *item) { return item ? item->property("text").toString() : QString(); }

    std::unique_ptr<Startup> m_startup;
};

// Anything the QML engine reports: binding loops, undefined references,
// type errors, failed assignments.
static const QRegularExpression qmlProblem(QStringLiteral(
    "^(qrc:|file:|<Unknown File>|QQml|QML)|Binding loop|TypeError|ReferenceError|Unable to assign"));

void TestMainWindow::initTestCase()
{
    QTest::failOnWarning(qmlProblem);
    QApplication::setQuitOnLastWindowClosed(false);
    Startup::nameApplication();
    Settings::getInstance()->setLogOnStartup(false);
    m_startup = std::make_unique<Startup>(ShellStart::options(QStringLiteral(PANEL_SOURCE_DIR)));
}

void TestMainWindow::init()
{
    QTest::failOnWarning(qmlProblem);
    // Shown as at start, whatever the previous case changed.
    ShellStart::storePreferences();
    m_startup->forceSettings();
    m_startup->showWindow();
    ViewTop *view = ViewTop::getInstance();
    QCOMPARE(view->status(), QQuickView::Ready);
    QVERIFY(QTest::qWaitForWindowExposed(view));
}

// Back to the program's start. The chip goes first, or an open scan would
// find it and file it again; and the window goes before the devices, or it
// would add its default device to the empty project.
void TestMainWindow::cleanup()
{
    DeviceMgr *deviceMgr = DeviceMgr::getInstance();
    emit I2cSvc::getInstance()->doVirtualSlave(QString(), ShellStart::chipDat(), false);
    QTRY_VERIFY(!deviceMgr->currentConnected());
    QTRY_COMPARE(deviceMgr->dongleCount(), 0);
    delete ViewTop::existingInstance();
    const QStringList dats = deviceMgr->projectDats();
    for (const QString &dat : dats)
        QCOMPARE(deviceMgr->removeDeviceFromProject(dat), QString());
    QCOMPARE(deviceMgr->currentDat(), QString());
}

bool TestMainWindow::addChip(bool on)
{
    DeviceMgr *deviceMgr = DeviceMgr::getInstance();
    if (!deviceMgr->addDeviceToProject(ShellStart::chipDat()).isEmpty()
        || !QTest::qWaitFor([] { return item("deviceArea")->property("view").toString() == QLatin1String("viewMain"); }))
        return false;
    return !on
        || (ShellStart::switchChip(true) && QTest::qWaitFor([deviceMgr] { return deviceMgr->dongleCount() > 0; }));
}

QQuickItem *TestMainWindow::item(const char *name)
{
    return ShellStart::item(name);
}

QObject *TestMainWindow::object(QObject *parent, const char *name)
{
    return parent ? parent->findChild<QObject *>(QString::fromLatin1(name)) : nullptr;
}

// Delegates of views have no object parent; only the item tree finds them.
QList<QQuickItem *> TestMainWindow::itemsNamed(QQuickItem *root, const QString &name)
{
    QList<QQuickItem *> found;
    if (!root)
        return found;
    if (root->objectName() == name)
        found << root;
    for (QQuickItem *child : root->childItems())
        found << itemsNamed(child, name);
    return found;
}

// A real mouse click in the middle of the item, wherever it sits once its
// layout has placed it: before that, the click lands on whatever sat there.
void TestMainWindow::click(QQuickItem *item)
{
    QVERIFY(item);
    QTRY_VERIFY(item->isVisible());
    QVERIFY(QQuickTest::qWaitForPolish(item->window()));
    const QPointF centre = item->mapToScene(QPointF(item->width() / 2, item->height() / 2));
    QTest::mouseClick(item->window(), Qt::LeftButton, Qt::NoModifier, centre.toPoint());
}

void TestMainWindow::startsOnWelcomeView()
{
    QCOMPARE(DeviceMgr::getInstance()->currentDat(), QString());
    QTRY_COMPARE(item("deviceArea")->property("view").toString(), QStringLiteral("welcomeView"));
    QQuickItem *banner = item("adapterBanner");
    QVERIFY(banner);
    // No adapter without the simulated chip: the banner says so.
    QCOMPARE(banner->property("text").toString(), QStringLiteral("No POD Connection"));
    QVERIFY(!item("deviceBox")->isVisible());

    // The welcome view asks the window for its project dialog.
    QObject *dialog = ViewTop::getInstance()->rootObject()->property("projectOpenDialog").value<QObject *>();
    QVERIFY(dialog);
    click(item("openConfiguration"));
    QTRY_VERIFY(dialog->property("visible").toBool());
    QCOMPARE(dialog->property("title").toString(), QStringLiteral("Open project"));
    QCOMPARE(dialog->property("nameFilters").toStringList(),
             QStringList({QStringLiteral("Project files (*.cfg)"), QStringLiteral("All files (*)")}));
    QMetaObject::invokeMethod(dialog, "reject");
    QTRY_VERIFY(!dialog->property("visible").toBool());
}

void TestMainWindow::welcomeDialogAddsDevice()
{
    click(item("createOffline"));
    // The welcome view, and the dialog with it, go once the device exists.
    QPointer<QObject> dialog = item("welcomeView")->property("addDeviceDialog").value<QObject *>();
    QVERIFY(dialog);
    QTRY_VERIFY(dialog->property("opened").toBool());
    QQuickItem *addressBox = qobject_cast<QQuickItem *>(object(dialog, "addressBox"));
    QVERIFY(addressBox);
    QCOMPARE(addressBox->property("count").toInt(), 2);
    QCOMPARE(addressBox->property("currentText").toString(), QStringLiteral("0x70"));
    // Return accepts the dialog like the button does.
    QTest::keyClick(ViewTop::getInstance(), Qt::Key_Return);
    QTRY_COMPARE(DeviceMgr::getInstance()->currentDat(), ShellStart::chipDat());
    QTRY_VERIFY(!dialog || !dialog->property("visible").toBool());
    QTRY_COMPARE(item("deviceArea")->property("view").toString(), QStringLiteral("viewMain"));
    QQuickItem *box = item("deviceBox");
    QVERIFY(box->isVisible());
    QCOMPARE(box->property("title").toString(), QStringLiteral("Device Disconnected"));
    QVERIFY(text(item("deviceType")).contains(QStringLiteral("<b>BVR60600</b>")));
    QVERIFY(text(item("deviceAddress")).contains(QStringLiteral("<b>0x70</b>")));
    QVERIFY(text(item("deviceStatus")).contains(QStringLiteral("<b>Disconnected</b>")));
    QVERIFY(!item("readAll")->isVisible());
}

void TestMainWindow::chipConnectionShowsInSidePane()
{
    QVERIFY(addChip(false));
    Settings::getInstance()->setScanOpen(true);
    QVERIFY(ShellStart::switchChip(true));
    QQuickItem *box = item("deviceBox");
    QTRY_COMPARE(box->property("title").toString(), QStringLiteral("Device Connected"));
    QVERIFY(text(item("deviceStatus")).contains(QStringLiteral("<b>Connected</b>")));
    QTRY_COMPARE(item("adapterBanner")->property("text").toString(), QStringLiteral("POD Connected"));
    // Found: the scan narrows to the project's addresses.
    QVERIFY(!Settings::getInstance()->scanOpen());
    QVERIFY(item("readAll")->isVisible());
    QVERIFY(item("autoPolling")->property("checked").toBool());
    QCOMPARE(item("pollingPeriod")->property("value").toInt(), 1000);
    QVERIFY(item("adapters")->isVisible());
}

void TestMainWindow::writeButtonOnlyWithoutImmediateMode()
{
    QVERIFY(addChip(true));
    Settings *settings = Settings::getInstance();
    QQuickItem *write = item("writeConfiguration");
    QVERIFY(settings->immediateMode());
    QVERIFY(!write->isVisible());
    settings->setImmediateMode(false);
    QTRY_VERIFY(write->isVisible());
    settings->setImmediateMode(true);
    QTRY_VERIFY(!write->isVisible());
}

void TestMainWindow::demoMenuSwitchesChip()
{
    if (!Settings::getInstance()->debugBuild())
        QSKIP("the D&emo menu exists only in a development build");
    QVERIFY(addChip(true));
    QObject *action = object(ViewTop::getInstance()->rootObject(), "currentDemoAction");
    QVERIFY(action);
    QVERIFY(action->property("checked").toBool());
    QMetaObject::invokeMethod(action, "trigger");
    QTRY_VERIFY(!DeviceMgr::getInstance()->currentConnected());
    QTRY_VERIFY(!action->property("checked").toBool());
    QMetaObject::invokeMethod(action, "trigger");
    QTRY_VERIFY_WITH_TIMEOUT(DeviceMgr::getInstance()->currentConnected(), 10000);
    QVERIFY(action->property("checked").toBool());
}

void TestMainWindow::commsLogWindowFills()
{
    QVERIFY(addChip(true));
    QObject *root = ViewTop::getInstance()->rootObject();
    auto *window = qobject_cast<QQuickWindow *>(root->property("commsLogWindow").value<QObject *>());
    QVERIFY(window);
    QVERIFY(!window->isVisible());
    QMetaObject::invokeMethod(root, "showCommsLog");
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QCOMPARE(window->title(), QStringLiteral("Comms Log"));
    QCOMPARE(window->minimumSize(), QSize(500, 300));
    QObject *view = object(window, "commsLogView");
    QVERIFY(view);
    QObject *lines = view->property("lines").value<QObject *>();
    QVERIFY(lines);
    const int before = lines->property("count").toInt();
    DeviceMgr::getInstance()->doReadConfiguration();
    QTRY_VERIFY(lines->property("count").toInt() > before);

    // An error line is counted; Clear empties the list and the counter.
    emit CommsLog::getInstance()->eventLog(QStringLiteral("nack at 0x70"), true);
    QCOMPARE(view->property("errorCount").toInt(), 1);
    QQuickItem *counter = qobject_cast<QQuickItem *>(object(view, "errorCount"));
    QVERIFY(counter->isVisible());
    QCOMPARE(counter->property("text").toString(), QStringLiteral("(1)"));
    const int beforeClear = lines->property("count").toInt();
    click(qobject_cast<QQuickItem *>(object(view, "clear")));
    // The chip's polling may log again at once; nothing from before stays.
    for (int i = 0; i < lines->property("count").toInt(); ++i) {
        QJSValue row;
        QVERIFY(QMetaObject::invokeMethod(lines, "get", Q_RETURN_ARG(QJSValue, row), Q_ARG(int, i)));
        QVERIFY(!row.property(QStringLiteral("line")).toString().contains(QStringLiteral("nack at 0x70")));
    }
    QVERIFY(lines->property("count").toInt() < beforeClear);
    QCOMPARE(view->property("errorCount").toInt(), 0);
    QVERIFY(!counter->isVisible());
}

void TestMainWindow::commsLogKeepsNewestLines()
{
    QObject *root = ViewTop::getInstance()->rootObject();
    auto *window = qobject_cast<QQuickWindow *>(root->property("commsLogWindow").value<QObject *>());
    QObject *view = object(window, "commsLogView");
    QMetaObject::invokeMethod(view, "clear");
    // The chip's polling adds lines too; only ours are counted by name.
    for (int i = 0; i < 650; ++i)
        emit CommsLog::getInstance()->eventLog(QStringLiteral("line %1").arg(i), false);
    QObject *lines = view->property("lines").value<QObject *>();
    QCOMPARE(lines->property("count").toInt(), 600);
    QJSValue newest;
    QVERIFY(QMetaObject::invokeMethod(lines, "get", Q_RETURN_ARG(QJSValue, newest), Q_ARG(int, 599)));
    QVERIFY(newest.property(QStringLiteral("line")).toString().endsWith(QStringLiteral(" line 649")));
    QVERIFY(QRegularExpression(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d line 649$"))
                .match(newest.property(QStringLiteral("line")).toString()).hasMatch());
    QJSValue oldest;
    QVERIFY(QMetaObject::invokeMethod(lines, "get", Q_RETURN_ARG(QJSValue, oldest), Q_ARG(int, 0)));
    QVERIFY(oldest.property(QStringLiteral("line")).toString().endsWith(QStringLiteral(" line 50")));
    window->close();
}

void TestMainWindow::commsLogFilterReachesService()
{
    QObject *root = ViewTop::getInstance()->rootObject();
    auto *window = qobject_cast<QQuickWindow *>(root->property("commsLogWindow").value<QObject *>());
    QObject *filter = object(window, "filter");
    QVERIFY(filter);
    QCOMPARE(filter->property("maximumLength").toInt(), 10);
    filter->setProperty("text", QStringLiteral("0x70"));
    QMetaObject::invokeMethod(filter, "editingFinished");
    QCOMPARE(CommsLog::getInstance()->filter(), QStringLiteral("0x70"));
    filter->setProperty("text", QString());
    QMetaObject::invokeMethod(filter, "editingFinished");
    QCOMPARE(CommsLog::getInstance()->filter(), QString());
}

void TestMainWindow::notificationPopupAndTray()
{
    NotificationSvc *notifications = NotificationSvc::getInstance();
    QQuickItem *footer = item("footer");
    QObject *popup = footer->property("popup").value<QObject *>();
    QObject *tray = footer->property("tray").value<QObject *>();
    const int rows = notifications->notifications()->rowCount();
    notifications->createNotification(QStringLiteral("first"), Notification::Information, QStringLiteral("test"));
    notifications->createNotification(QStringLiteral("second"), Notification::Error, QStringLiteral("test"));
    QCOMPARE(footer->property("unread").toInt(), 2);
    QTRY_VERIFY(popup->property("opened").toBool());
    QCOMPARE(popup->property("message").toString(), QStringLiteral("second"));

    // The bell opens the tray and marks everything read.
    click(qobject_cast<QQuickItem *>(object(footer, "bell")));
    QCOMPARE(footer->property("unread").toInt(), 0);
    QTRY_VERIFY(tray->property("opened").toBool());
    QTRY_COMPARE(tray->property("count").toInt(), rows + 2);
    // The list makes its rows when it is laid out, after it opened.
    const auto deletes = [tray] {
        return itemsNamed(tray->property("contentItem").value<QQuickItem *>(), QStringLiteral("deleteNotification"));
    };
    QTRY_COMPARE(deletes().size(), rows + 2);
    click(deletes().first());
    QTRY_COMPARE(notifications->notifications()->rowCount(), rows + 1);
    click(qobject_cast<QQuickItem *>(object(footer, "bell")));
    QTRY_VERIFY(!tray->property("opened").toBool());

    // The popup goes by itself after five seconds.
    QTRY_VERIFY_WITH_TIMEOUT(!popup->property("opened").toBool(), 7000);
}

void TestMainWindow::testPaneGroups()
{
    // The device manager's group shows only with an adapter.
    QVERIFY(addChip(true));
    Settings *settings = Settings::getInstance();
    QQuickItem *pane = item("testPane");
    settings->setTestPane(false);
    QTRY_VERIFY(!pane->isVisible());
    const qreal fullWidth = item("deviceArea")->width();
    settings->setTestPane(true);
    QTRY_VERIFY(pane->isVisible());
    QTRY_COMPARE(pane->width(), 210.0);
    QTRY_COMPARE(item("deviceArea")->width(), fullWidth - 210);
    for (const char *group : {"groupDeviceManager", "groupBranding", "groupSettings", "groupDebug", "groupValidation"}) {
        QQuickItem *box = qobject_cast<QQuickItem *>(object(pane, group));
        QVERIFY2(box && box->isVisible(), group);
    }
    // The monitor switch writes the manager's flag.
    QQuickItem *monitor = qobject_cast<QQuickItem *>(object(pane, "monitor"));
    QCOMPARE(text(monitor), QStringLiteral("Monitor OFF"));
    click(monitor);
    QTRY_VERIFY(DeviceMgr::getInstance()->monitorAllowed());
    QCOMPARE(text(monitor), QStringLiteral("Monitor ON"));
    click(monitor);
    QTRY_VERIFY(!DeviceMgr::getInstance()->monitorAllowed());
}

void TestMainWindow::settingBoxFollowsSetting()
{
    Settings *settings = Settings::getInstance();
    settings->setTestPane(true);
    QQuickItem *box = qobject_cast<QQuickItem *>(object(item("testPane"), "deepRead"));
    QVERIFY(box);
    settings->setDeepRead(false);
    QVERIFY(!box->property("checked").toBool());
    click(box);
    QTRY_VERIFY(settings->deepRead());
    // After a click the box must still follow changes made elsewhere.
    settings->setDeepRead(false);
    QVERIFY(!box->property("checked").toBool());
    settings->setDeepRead(true);
    QVERIFY(box->property("checked").toBool());
    settings->setDeepRead(false);
}

void TestMainWindow::demonstrationWindowCombinesStates()
{
    // The pane's content is made when the pane first shows.
    Settings::getInstance()->setTestPane(true);
    QQuickItem *pane = item("testPane");
    // The button may sit below the pane's fold; its signal is what counts.
    QMetaObject::invokeMethod(object(pane, "fieldStates"), "clicked");
    auto *window = qobject_cast<QQuickWindow *>(pane->property("demoWindow").value<QObject *>());
    QVERIFY(window);
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QCOMPARE(window->title(), QStringLiteral("Demonstration of error reporting"));
    QCOMPARE(window->size(), QSize(1300, 500));
    // Warning, error and changed columns: the frame reports all three bits.
    QObject *parent = object(window, "demoParent");
    QVERIFY(parent);
    QCOMPARE(parent->property("validationState").toInt() & 0x13, 0x13);
    window->close();
}

void TestMainWindow::brandWindowsOpen()
{
    Settings::getInstance()->setTestPane(true);
    QQuickItem *pane = item("testPane");
    for (const char *name : {"summaryWindow", "iconsWindow"}) {
        auto *window = qobject_cast<QQuickWindow *>(pane->property(name).value<QObject *>());
        QVERIFY2(window, name);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        window->close();
    }
    // The style combo switches and remembers the style.
    QObject *style = object(pane, "style");
    QMetaObject::invokeMethod(style, "activated", Q_ARG(int, 0));
    QCOMPARE(Brand::getInstance()->style(), Brand::STYLE_LIGHT);
    QCOMPARE(style->property("currentText").toString(), Brand::STYLE_LIGHT);
    Settings::getInstance()->setTestPane(false);
}

void TestMainWindow::themes_data()
{
    QTest::addColumn<QString>("style");
    QTest::addRow("dark") << Brand::STYLE_DARK;
    QTest::addRow("light") << Brand::STYLE_LIGHT;
}

void TestMainWindow::themes()
{
    QFETCH(QString, style);
    QVERIFY(addChip(true));
    Brand *brand = Brand::getInstance();
    brand->setStyle(style);
    QQuickItem *root = ViewTop::getInstance()->rootObject();
    QCOMPARE(root->property("color").value<QColor>(), brand->border());
    QCOMPARE(item("sidePane")->property("color").value<QColor>(), brand->secondaryWindow());
    QCOMPARE(item("adapterBanner")->property("color").value<QColor>(), brand->online());
    QObject *logo = object(root, "logo");
    QVERIFY(logo->property("source").toUrl().toString().endsWith(brand->logo()));
    QTRY_COMPARE(logo->property("status").toInt(), 1); // Image.Ready: the logo exists
    QVERIFY(!ViewTop::getInstance()->grabWindow().isNull());
}

void TestMainWindow::aboutBoxShowsVersion()
{
    // Opened as Help > About does: the box is loaded after the first frame,
    // so under load it may not exist yet when the case starts.
    QQuickItem *root = ViewTop::getInstance()->rootObject();
    QVERIFY(QMetaObject::invokeMethod(root, "openAboutBox"));
    QObject *about = root->property("aboutBox").value<QObject *>();
    QVERIFY(about);
    QTRY_VERIFY(about->property("opened").toBool());
    QCOMPARE(about->property("title").toString(), QStringLiteral("About GUI"));
    QCOMPARE(about->property("versionText").toString(), QStringLiteral("GUI version: 1.00"));
    click(qobject_cast<QQuickItem *>(object(about, "close")));
    QTRY_VERIFY(!about->property("visible").toBool());
}

void TestMainWindow::secondDeviceInProjectIsRemoved()
{
    // The window handles one device: a second one pushes the current one out.
    QVERIFY(addChip(false));
    DeviceMgr *deviceMgr = DeviceMgr::getInstance();
    QCOMPARE(deviceMgr->addDeviceToProject(QStringLiteral(":0x71:bvr60600")), QString());
    QTRY_COMPARE(deviceMgr->deviceCount(), 1);
    QTRY_COMPARE(deviceMgr->currentDat(), QStringLiteral(":0x71:bvr60600"));
}

void TestMainWindow::cleanupTestCase()
{
    delete ViewTop::existingInstance();
    m_startup.reset();
    delete Logger::getInstance();
}

PANEL_TEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
