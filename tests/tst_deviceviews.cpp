#include "testenv.h"

#include "bvr60600/dmodel.h"
#include "devices/devicemgr.h"
#include "i2c/i2csvc.h"
#include "services/logger.h"
#include "services/notificationsvc.h"
#include "services/settings.h"
#include "view/startup.h"
#include "view/viewtop.h"

#include <QApplication>
#include <QQuickItem>
#include <QQuickWindow>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QtQuickTest>

// The device view as the program shows it: the real top-level window with
// the simulated chip, driven through its controls, checked on the chip.
// Every case gets a window of its own on the connected chip, so that no case
// depends on the tab, dialog or pending change another one left behind.
class TestDeviceViews : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void tabsFollowAdapterAndConnection();
    void spinBoxShowsModelCode_data();
    void spinBoxShowsModelCode();
    void sliderMoveReachesChip();
    void typedVoltageReachesChip();
    void spinBoxArrowsStepTheSlider();
    void undockedViewKeepsWorking();
    void modeButtonsAreOneChoice();
    void rawReadModifyWrite_data();
    void rawReadModifyWrite();
    void rawReadShowsField();
    void registerMapEditWritesScript();
    void registerMapRefusesReadOnlyBits();
    void registerMapReportsFailedScript();
    void cleanupTestCase();

private:
    static QRegularExpression qmlWarning();
    QQuickItem *item(const QString &name, QQuickItem *from = nullptr) const;
    QQuickItem *control() const { return item(QStringLiteral("viewConfiguration")); }
    QQuickItem *controlPart(const char *alias) const;
    static QQuickWindow *window(const QString &name);
    // Shows the register map and opens the editor on one register.
    QQuickItem *openRegisterEditor(const QString &uid) const;
    QQuickItem *rawRow(int index) const;
    void click(QQuickItem *target) const;
    void selectTab(const QString &key) const;
    void typeInto(QQuickItem *target, const QString &text) const;
    static int chipRegister(char address);
    static void setChipRegister(char address, char value);

    static inline const QString chipDat = QStringLiteral(":0x70:bvr60600");
    std::unique_ptr<Startup> m_startup;
    Bvr60600::DModel *m_model = nullptr;
};

// Whatever the QML engine reports: errors and warnings located in a
// document, binding loops, script errors, and the smart controls' own
// configuration errors.
QRegularExpression TestDeviceViews::qmlWarning()
{
    return QRegularExpression(QStringLiteral("^(qrc|file):|QML|Binding loop|TypeError|ReferenceError|config error"));
}

QQuickItem *TestDeviceViews::item(const QString &name, QQuickItem *from) const
{
    QQuickItem *root = from ? from : ViewTop::getInstance()->contentItem();
    const QList<QQuickItem *> children = root->childItems();
    for (QQuickItem *child : children) {
        if (child->objectName() == name)
            return child;
    }
    for (QQuickItem *child : children) {
        if (QQuickItem *found = item(name, child))
            return found;
    }
    return nullptr;
}

QQuickWindow *TestDeviceViews::window(const QString &name)
{
    const QWindowList windows = QGuiApplication::allWindows();
    for (QWindow *window : windows) {
        if (window->objectName() == name)
            return qobject_cast<QQuickWindow *>(window);
    }
    return nullptr;
}

QQuickItem *TestDeviceViews::openRegisterEditor(const QString &uid) const
{
    selectTab(QStringLiteral("registerMap"));
    QQuickItem *view = item(QStringLiteral("viewRegister"));
    if (!view || !QTest::qWaitFor([&] { return item(QStringLiteral("value_") + uid) != nullptr; }))
        return nullptr;
    if (!QMetaObject::invokeMethod(view, "selectRegister", Q_ARG(QVariant, uid))
        || !QMetaObject::invokeMethod(view, "openEditor"))
        return nullptr;
    return view;
}

QQuickItem *TestDeviceViews::controlPart(const char *alias) const
{
    return control() ? control()->property(alias).value<QQuickItem *>() : nullptr;
}

QQuickItem *TestDeviceViews::rawRow(int index) const
{
    return item(QStringLiteral("i2cRow%1").arg(index));
}

// A control that has just appeared has its place only once its layout has
// run; a click before that lands on whatever sat there.
void TestDeviceViews::click(QQuickItem *target) const
{
    QVERIFY(target);
    QVERIFY(target->isVisible());
    QVERIFY(QQuickTest::qWaitForPolish(target->window()));
    const QPoint centre = target->mapToScene(QPointF(target->width() / 2, target->height() / 2)).toPoint();
    QTest::mouseClick(target->window(), Qt::LeftButton, Qt::NoModifier, centre);
}

void TestDeviceViews::selectTab(const QString &key) const
{
    QQuickItem *tab = item(QStringLiteral("tab_") + key);
    QVERIFY2(tab, qPrintable(key));
    click(tab);
}

// Replaces the text of an editable control as a user would, and confirms it.
void TestDeviceViews::typeInto(QQuickItem *target, const QString &text) const
{
    QVERIFY(target);
    target->forceActiveFocus();
    QTRY_VERIFY(target->hasActiveFocus());
    QTest::keyClick(ViewTop::getInstance(), Qt::Key_A, Qt::ControlModifier);
    for (const QChar character : text)
        QTest::keyClick(ViewTop::getInstance(), character.toLatin1());
    QTest::keyClick(ViewTop::getInstance(), Qt::Key_Return);
}

int TestDeviceViews::chipRegister(char address)
{
    QByteArray value;
    QString err;
    I2cSvc::getInstance()->waitReadRegister(chipDat, QByteArray(1, address), 1, value, err);
    return err.isEmpty() && value.size() == 1 ? quint8(value.at(0)) : -1;
}

void TestDeviceViews::setChipRegister(char address, char value)
{
    QString err;
    I2cSvc::getInstance()->waitWriteRegister(chipDat, QByteArray(1, address), QByteArray(1, value), err);
    QCOMPARE(err, QString());
}

void TestDeviceViews::initTestCase()
{
    QTest::failOnWarning(qmlWarning());
    QApplication::setQuitOnLastWindowClosed(false);
    Startup::nameApplication();
    Settings *settings = Settings::getInstance();
    settings->setLogOnStartup(false);
    settings->setSize(QSize(1280, 860));

    // As the program starts, the chip in the project; each case shows the
    // window once the chip answers.
    Startup::Options options;
    options.openLastProject = false;
    options.sourceDir = QStringLiteral(PANEL_SOURCE_DIR);
    m_startup = std::make_unique<Startup>(options);
    m_model = m_startup->model();
    QCOMPARE(DeviceMgr::getInstance()->projectDats(), QStringList{chipDat});
}

void TestDeviceViews::init()
{
    QTest::failOnWarning(qmlWarning());
    DeviceMgr *mgr = DeviceMgr::getInstance();
    // A case may have taken the chip away; switching it on again is harmless.
    emit I2cSvc::getInstance()->doVirtualSlave(QString(), chipDat, true);
    QTRY_VERIFY_WITH_TIMEOUT(mgr->currentConnected(), 15000);
    QTRY_VERIFY_WITH_TIMEOUT(mgr->dongleCount() > 0, 15000);
    m_startup->showWindow();
    QVERIFY(QTest::qWaitForWindowExposed(ViewTop::getInstance()));
    QTRY_VERIFY(control() && control()->isVisible());
    // The chip's configuration has reached the model.
    QTRY_COMPARE(chipRegister(0x01), m_model->voutControl());
}

void TestDeviceViews::cleanup()
{
    delete ViewTop::existingInstance();
}

void TestDeviceViews::tabsFollowAdapterAndConnection()
{
    // With the simulated chip found, all three tabs are there.
    QTRY_VERIFY(item(QStringLiteral("tab_control")));
    QTRY_VERIFY(item(QStringLiteral("tab_rawI2c")));
    QTRY_VERIFY(item(QStringLiteral("tab_registerMap")));

    selectTab(QStringLiteral("registerMap"));
    QTRY_VERIFY(item(QStringLiteral("viewRegister"))->isVisible());
    // Losing the device takes its tab away and falls back to Control.
    DeviceMgr::getInstance()->setCurrentConnected(false);
    QTRY_VERIFY(!item(QStringLiteral("tab_registerMap")));
    QTRY_VERIFY(control()->isVisible());
    QTRY_VERIFY(item(QStringLiteral("tab_control"))->property("checked").toBool());
    // The other tabs keep the selection when one comes back.
    selectTab(QStringLiteral("rawI2c"));
    DeviceMgr::getInstance()->setCurrentConnected(true);
    QTRY_VERIFY(item(QStringLiteral("tab_registerMap")));
    QTRY_VERIFY(item(QStringLiteral("tab_rawI2c"))->property("checked").toBool());
    QVERIFY(item(QStringLiteral("viewDirectI2cTool"))->isVisible());
    QVERIFY(!control()->isVisible());
}

void TestDeviceViews::spinBoxShowsModelCode_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("sliderPosition");
    QTest::addColumn<QString>("hexText");
    QTest::addRow("power-up default") << 0 << "3.4" << 0x47 << "0x00";
    QTest::addRow("reserved code") << 12 << "2.5" << 41 << "0x0C";
    QTest::addRow("lowest code") << 41 << "2.500" << 41 << "0x29";
    QTest::addRow("top of the first segment") << 47 << "2.800" << 47 << "0x2F";
    QTest::addRow("bottom of the second segment") << 48 << "2.825" << 48 << "0x30";
    QTest::addRow("highest code") << 95 << "4.000" << 95 << "0x5F";
    QTest::addRow("beyond the range") << 100 << "4.0" << 95 << "0x64";
}

void TestDeviceViews::spinBoxShowsModelCode()
{
    QFETCH(int, code);
    QFETCH(QString, text);
    QFETCH(int, sliderPosition);
    QFETCH(QString, hexText);
    m_model->setVoutControl(code);
    QCOMPARE(controlPart("voutSpinBox")->property("displayText").toString(), text);
    QCOMPARE(controlPart("voutSlider")->property("value").toInt(), sliderPosition);
    QCOMPARE(item(QStringLiteral("voutCodeText"))->property("text").toString(), hexText);
}

void TestDeviceViews::sliderMoveReachesChip()
{
    m_model->setVoutControl(60);
    QTRY_COMPARE(chipRegister(0x01), 60);
    QQuickItem *slider = controlPart("voutSlider");
    slider->forceActiveFocus();
    QTRY_VERIFY(slider->hasActiveFocus());
    QTest::keyClick(ViewTop::getInstance(), Qt::Key_Right);
    QCOMPARE(m_model->voutControl(), 61);
    QTRY_COMPARE(chipRegister(0x01), 61);
    QCOMPARE(controlPart("voutSpinBox")->property("displayText").toString(), QStringLiteral("3.150"));

    // From the default code the slider moves on from the code of the same
    // voltage. (The device does not write code 0 to the chip: it is reserved.)
    m_model->setVoutControl(0);
    QCOMPARE(slider->property("value").toInt(), 0x47);
    QTest::keyClick(ViewTop::getInstance(), Qt::Key_Left);
    QCOMPARE(m_model->voutControl(), 0x46);
    QTRY_COMPARE(chipRegister(0x01), 0x46);
}

void TestDeviceViews::typedVoltageReachesChip()
{
    m_model->setVoutControl(41);
    QTRY_COMPARE(chipRegister(0x01), 41);
    QQuickItem *spinBox = controlPart("voutSpinBox");
    typeInto(spinBox, QStringLiteral("3.000"));
    QCOMPARE(m_model->voutControl(), 55);
    QTRY_COMPARE(chipRegister(0x01), 55);
    // "3.4" names the default code; the same voltage typed as code 0x47 shows it keeps 0x47.
    typeInto(spinBox, QStringLiteral("3.4"));
    QCOMPARE(m_model->voutControl(), 0);
    typeInto(spinBox, QStringLiteral("3.400"));
    QCOMPARE(m_model->voutControl(), 0x47);
    QTRY_COMPARE(chipRegister(0x01), 0x47);
}

void TestDeviceViews::spinBoxArrowsStepTheSlider()
{
    m_model->setVoutControl(0);
    QQuickItem *spinBox = controlPart("voutSpinBox");
    spinBox->forceActiveFocus();
    QTRY_VERIFY(spinBox->hasActiveFocus());
    // The spin box's own step would go to the reserved code 1.
    QTest::keyClick(ViewTop::getInstance(), Qt::Key_Up);
    QCOMPARE(m_model->voutControl(), 0x48);
    QTest::keyClick(ViewTop::getInstance(), Qt::Key_Down);
    QTest::keyClick(ViewTop::getInstance(), Qt::Key_Down);
    QCOMPARE(m_model->voutControl(), 0x46);
    QTRY_COMPARE(chipRegister(0x01), 0x46);

    // The arrow buttons take the same road.
    auto indicator = [spinBox](const char *name) {
        return spinBox->property(name).value<QObject *>()->property("indicator").value<QQuickItem *>();
    };
    click(indicator("up"));
    QCOMPARE(m_model->voutControl(), 0x47);
    click(indicator("down"));
    click(indicator("down"));
    QCOMPARE(m_model->voutControl(), 0x45);
    QTRY_COMPARE(chipRegister(0x01), 0x45);
}

void TestDeviceViews::undockedViewKeepsWorking()
{
    QQuickItem *undock = item(QStringLiteral("undock"));
    QVERIFY(undock);
    QVERIFY(!undock->isVisible());
    Settings::getInstance()->setDocking(true);
    selectTab(QStringLiteral("rawI2c"));
    QTRY_VERIFY(undock->isVisible());
    QQuickItem *regId = item(QStringLiteral("regId"), rawRow(0));
    regId->setProperty("value", 0x41);
    click(undock);
    QQuickWindow *dockWindow = window(QStringLiteral("window_rawI2c"));
    QVERIFY(dockWindow);
    QTRY_VERIFY(dockWindow->isVisible());
    QQuickItem *raw = item(QStringLiteral("viewDirectI2cTool"), dockWindow->contentItem());
    QVERIFY(raw);
    QVERIFY(!undock->isVisible());
    // The rows were moved, not made again: what was typed is still there.
    QCOMPARE(item(QStringLiteral("regId"), item(QStringLiteral("i2cRow0"), dockWindow->contentItem())), regId);
    dockWindow->close();
    QTRY_VERIFY(!dockWindow->isVisible());
    QVERIFY(!item(QStringLiteral("viewDirectI2cTool"), dockWindow->contentItem()));
    selectTab(QStringLiteral("rawI2c"));
    QTRY_VERIFY(raw->isVisible());
    QCOMPARE(regId->property("value").toInt(), 0x41);
    QVERIFY(undock->isVisible());
    Settings::getInstance()->setDocking(false);
    QVERIFY(!undock->isVisible());
}

void TestDeviceViews::modeButtonsAreOneChoice()
{
    struct Step { const char *button; int control; };
    // Auto after forced is the case that a button writing only its own
    // flag got wrong: the forced flag stayed set and the chip kept 0x04.
    const Step steps[] = { { "forcedPwm", 0x04 }, { "autoPwm", 0x00 }, { "passThrough", 0x08 },
                           { "forcedPwm", 0x04 }, { "passThrough", 0x08 }, { "autoPwm", 0x00 } };
    for (const Step &step : steps) {
        click(item(QString::fromLatin1(step.button)));
        const QString chosen = QString::fromLatin1(step.button);
        QCOMPARE(m_model->autoPwm(), chosen == QLatin1String("autoPwm"));
        QCOMPARE(m_model->forcedPwm(), chosen == QLatin1String("forcedPwm"));
        QCOMPARE(m_model->passThrough(), chosen == QLatin1String("passThrough"));
        QTRY_COMPARE(chipRegister(0x02), step.control);
        for (const char *name : { "autoPwm", "forcedPwm", "passThrough" })
            QCOMPARE(item(QString::fromLatin1(name))->property("checked").toBool(),
                     chosen == QLatin1String(name));
    }
    // A click on the chosen mode keeps it chosen.
    click(item(QStringLiteral("autoPwm")));
    QVERIFY(m_model->autoPwm());
    QVERIFY(item(QStringLiteral("autoPwm"))->property("checked").toBool());
}

void TestDeviceViews::rawReadModifyWrite_data()
{
    QTest::addColumn<int>("before");
    QTest::addColumn<int>("lsb");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("data");
    QTest::addColumn<int>("after");
    QTest::addColumn<QString>("outcome");
    QTest::addRow("whole register") << 0x00 << 0 << 8 << 0x5A << 0x5A << "WRITE SUCCESS!";
    QTest::addRow("one bit set") << 0x00 << 2 << 1 << 1 << 0x04 << "WRITE SUCCESS!";
    QTest::addRow("one bit cleared, others kept") << 0xFF << 3 << 1 << 0 << 0xF7 << "WRITE SUCCESS!";
    QTest::addRow("data wider than the field") << 0x00 << 4 << 2 << 0xFF << 0x30 << "WRITE SUCCESS!";
    QTest::addRow("top bit") << 0x01 << 7 << 1 << 1 << 0x81 << "WRITE SUCCESS!";
    // These would make a value wider than the register and a two-byte write.
    QTest::addRow("width 8 at LSB 7") << 0x12 << 7 << 8 << 0xFF << 0x12
                                       << "WRITE FAILED... LSB + Width is 15, beyond the 8-bit register.";
    QTest::addRow("width 2 at LSB 7") << 0x12 << 7 << 2 << 0x03 << 0x12
                                       << "WRITE FAILED... LSB + Width is 9, beyond the 8-bit register.";
}

void TestDeviceViews::rawReadModifyWrite()
{
    QFETCH(int, before);
    QFETCH(int, lsb);
    QFETCH(int, width);
    QFETCH(int, data);
    QFETCH(int, after);
    QFETCH(QString, outcome);
    // The manufacturer id register: the model does not write it back.
    setChipRegister(0x40, char(before));
    selectTab(QStringLiteral("rawI2c"));
    QQuickItem *row = rawRow(0);
    QVERIFY(row);
    item(QStringLiteral("regId"), row)->setProperty("value", 0x40);
    item(QStringLiteral("lsb"), row)->setProperty("value", lsb);
    item(QStringLiteral("width"), row)->setProperty("value", width);
    item(QStringLiteral("data"), row)->setProperty("value", data);
    click(item(QStringLiteral("run"), row));
    QCOMPARE(item(QStringLiteral("outcome"), row)->property("text").toString(), outcome);
    QCOMPARE(chipRegister(0x40), after);
    // The byte after it is untouched: nothing wider than one byte went out.
    QCOMPARE(chipRegister(0x41), 0xFF);
}

void TestDeviceViews::rawReadShowsField()
{
    setChipRegister(0x40, char(0xB6));
    selectTab(QStringLiteral("rawI2c"));
    QQuickItem *row = rawRow(1);
    QVERIFY(row);
    item(QStringLiteral("regId"), row)->setProperty("value", 0x40);
    item(QStringLiteral("lsb"), row)->setProperty("value", 2);
    item(QStringLiteral("width"), row)->setProperty("value", 3);
    click(item(QStringLiteral("run"), row));
    QCOMPARE(item(QStringLiteral("outcome"), row)->property("text").toString(), QStringLiteral("READ SUCCESS!"));
    // 0xB6 = 1011 0110: bits 4..2 are 101.
    QCOMPARE(item(QStringLiteral("readData"), row)->property("text").toString(), QStringLiteral("0x05"));

    // A read from an address where nothing answers reports the error.
    item(QStringLiteral("slaveAddress"))->setProperty("value", 0x33);
    click(item(QStringLiteral("run"), row));
    QVERIFY(item(QStringLiteral("outcome"), row)->property("text").toString().startsWith(QStringLiteral("READ FAILED... ")));
    item(QStringLiteral("slaveAddress"))->setProperty("value", 0x70);
}

void TestDeviceViews::registerMapEditWritesScript()
{
    click(item(QStringLiteral("autoPwm")));
    QTRY_COMPARE(chipRegister(0x02), 0x00);
    selectTab(QStringLiteral("registerMap"));
    QQuickItem *view = item(QStringLiteral("viewRegister"));
    QVERIFY(view);
    QTRY_VERIFY(item(QStringLiteral("value_cr_control")));
    QVERIFY(QMetaObject::invokeMethod(view, "selectRegister", Q_ARG(QVariant, QStringLiteral("cr_control"))));
    click(item(QStringLiteral("openEdit")));
    QQuickItem *editor = item(QStringLiteral("bits"));
    QTRY_VERIFY(editor && editor->isVisible());
    // Bit 2 selects forced PWM; bit 0 is reserved and cannot be toggled.
    click(item(QStringLiteral("bit0"), editor));
    QCOMPARE(view->property("pendingCount").toInt(), 0);
    click(item(QStringLiteral("bit2"), editor));
    QCOMPARE(view->property("pendingCount").toInt(), 1);
    QCOMPARE(view->property("pending").toMap().value(QStringLiteral("cr_control")).toString(), QStringLiteral("0x04"));
    QTest::keyClick(ViewTop::getInstance(), Qt::Key_Escape);
    QTRY_VERIFY(!editor->isVisible());

    QQuickItem *value = item(QStringLiteral("value_cr_control"));
    QCOMPARE(value->property("text").toString(), QStringLiteral("0x04"));
    QVERIFY(value->property("font").value<QFont>().bold());
    QCOMPARE(item(QStringLiteral("writeChanges"))->property("text").toString(), QStringLiteral("Write 1 change"));
    QCOMPARE(item(QStringLiteral("viewChanges"))->property("text").toString(), QStringLiteral("View 1 change"));

    // The script shown is the one that will run.
    click(item(QStringLiteral("viewChanges")));
    auto *scriptWindow = window(QStringLiteral("registerScriptWindow"));
    QVERIFY(scriptWindow);
    QTRY_VERIFY(scriptWindow->isVisible());
    QQuickItem *scriptText = item(QStringLiteral("scriptText"), scriptWindow->contentItem());
    QVERIFY(scriptText);
    const QStringList script = scriptText->property("text").toString().split(QLatin1Char('\n'));
    QVERIFY2(script.contains(QStringLiteral("write_register cr_control 04")), qPrintable(script.join(QLatin1Char('|'))));
    QVERIFY(script.contains(QStringLiteral("read_register cr_control 1")));

    QSignalSpy done(DeviceMgr::getInstance(), &DeviceMgr::doneRunScript);
    QSignalSpy notified(NotificationSvc::getInstance(), &NotificationSvc::notificationCreated);
    click(item(QStringLiteral("writeAll"), scriptWindow->contentItem()));
    QTRY_COMPARE(done.count(), 1);
    QCOMPARE(done.at(0).at(0).toString(), QString());
    QCOMPARE(done.at(0).at(1).toString(), QStringLiteral("doRunScript,ViewRegister"));
    QCOMPARE(chipRegister(0x02), 0x04);
    QTRY_VERIFY(!notified.isEmpty());
    QCOMPARE(notified.last().at(0).toString(), QStringLiteral("The script executed successfully."));
    QCOMPARE(view->property("pendingCount").toInt(), 0);
    QVERIFY(!scriptWindow->isVisible());
    // The list shows what the chip read back, and the model follows it.
    QTRY_COMPARE(item(QStringLiteral("value_cr_control"))->property("text").toString(), QStringLiteral("0x04"));
    QVERIFY(!item(QStringLiteral("value_cr_control"))->property("font").value<QFont>().bold());
    QTRY_VERIFY(m_model->forcedPwm());
}

void TestDeviceViews::registerMapRefusesReadOnlyBits()
{
    QQuickItem *view = openRegisterEditor(QStringLiteral("cr_control"));
    QVERIFY(view);
    QQuickItem *hexField = item(QStringLiteral("hexField"));
    QTRY_VERIFY(hexField && hexField->isVisible());
    const QString before = hexField->property("text").toString();
    // Bit 7 belongs to a read-only field: the whole value is refused.
    typeInto(hexField, QStringLiteral("0x8C"));
    QCOMPARE(hexField->property("text").toString(), before);
    QCOMPARE(view->property("pendingCount").toInt(), 0);
    // Writable bits only: taken as a pending change.
    typeInto(hexField, QStringLiteral("0C"));
    QCOMPARE(hexField->property("text").toString(), QStringLiteral("0x0C"));
    QCOMPARE(view->property("pendingCount").toInt(), 1);
    click(item(QStringLiteral("discard")));
    QCOMPARE(view->property("pendingCount").toInt(), 0);
    QTest::keyClick(ViewTop::getInstance(), Qt::Key_Escape);
}

void TestDeviceViews::registerMapReportsFailedScript()
{
    QQuickItem *view = openRegisterEditor(QStringLiteral("cr_control"));
    QVERIFY(view);
    QQuickItem *bit3 = item(QStringLiteral("bit3"));
    QTRY_VERIFY(bit3 && bit3->isVisible());
    click(bit3);
    QTest::keyClick(ViewTop::getInstance(), Qt::Key_Escape);
    QCOMPARE(view->property("pendingCount").toInt(), 1);

    // The chip goes away after the script was made but before it runs: its
    // removal reaches the bus thread ahead of the script. Taken away before
    // the click, it would take the tab and the button with it.
    QSignalSpy notified(NotificationSvc::getInstance(), &NotificationSvc::notificationCreated);
    QSignalSpy done(DeviceMgr::getInstance(), &DeviceMgr::doneRunScript);
    const QMetaObject::Connection removal = connect(
        DeviceMgr::getInstance(), &DeviceMgr::doneTask, this, [](const QString &, const QString &ctx) {
            if (ctx.endsWith(QLatin1String("getRegisterUpdateScript")))
                emit I2cSvc::getInstance()->doVirtualSlave(QString(), chipDat, false);
        });
    click(item(QStringLiteral("writeChanges")));
    disconnect(removal);
    QTRY_COMPARE(done.count(), 1);
    const QString err = done.at(0).at(0).toString();
    QVERIFY(!err.isEmpty());
    QTRY_VERIFY(!notified.isEmpty());
    QCOMPARE(notified.last().at(0).toString(), QStringLiteral("Error while executing script: ") + err);
    QQuickItem *failure = item(QStringLiteral("scriptFailureText"));
    QTRY_VERIFY(failure && failure->isVisible());
    QCOMPARE(failure->property("text").toString(),
             QStringLiteral("The script execution failed with error(s):\n") + err);
    QCOMPARE(view->property("pendingCount").toInt(), 0);
    QTest::keyClick(ViewTop::getInstance(), Qt::Key_Escape);
    QTRY_VERIFY(!failure->isVisible());
}

void TestDeviceViews::cleanupTestCase()
{
    emit I2cSvc::getInstance()->doVirtualSlave(QString(), chipDat, false);
    delete ViewTop::existingInstance();
    delete Logger::getInstance();
    m_startup.reset();
}

PANEL_TEST_MAIN(TestDeviceViews)
#include "tst_deviceviews.moc"
