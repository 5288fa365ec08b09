// Projects and production files through the device manager: open, save,
// reopen, list and load, their notifications and their failures, and the
// whole road on the simulated chip from scan to saved project.

#include "devicemgrtest.h"
#include "testenv.h"

#include "bvr60600/dmodel.h"
#include "bvr60600/dregisters.h"
#include "devices/device.h"
#include "devices/devicemgr.h"
#include "devices/production.h"
#include "devices/project.h"
#include "i2c/i2csvc.h"
#include "models/modelmgr.h"
#include "services/notificationsvc.h"
#include "services/settings.h"
#include "utils/utils.h"

#include <QFile>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>

namespace {
const QString dat70 = QStringLiteral(":0x70:bvr60600");
const QString dat71 = QStringLiteral(":0x71:bvr60600");

void writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(content), content.size());
}

QByteArray fileContent(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
} // namespace

class TestProjectFiles : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void saveAndOpenRoundTrip();
    void saveEmptyProject();
    void savedOnNamedAdapterReopensAdapterless();
    void openOfflineReplacesDevices();
    void openKeepsConnectedDeviceAndWritesIt();
    void openBadFile_data();
    void openBadFile();
    void openSkipsBadDevicesLoudly();
    void saveIntoReadOnlyFolderKeepsOldFile();
    void saveOverFolderIsReported();
    void noProjectObject();
    void namesAndLoadDevice();
    void saveProduction();
    void saveProductionFailures();
    void openLastProjectAfterStart();
    void endToEndOnSimulatedChip();

private:
    DeviceMgr *mgr() const { return DeviceMgr::getInstance(); }
    QString path(const QString &name) const { return m_dir.filePath(name); }
    QString lastNotification() const;
    // Type and message of a notification counted from the newest (-1).
    QString notification(int fromEnd) const;

    QTemporaryDir m_dir;
    Bvr60600::DModel *m_model = nullptr;
};

void TestProjectFiles::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_model = DeviceMgrTest::quietStart();
}

void TestProjectFiles::init()
{
    QCOMPARE(mgr()->deviceCount(), 0);
}

void TestProjectFiles::cleanup()
{
    delete DeviceMgr::getInstance();
    Settings::getInstance()->setImmediateMode(false);
    Settings::getInstance()->setOpenLastProject(false);
}

void TestProjectFiles::cleanupTestCase()
{
    delete m_model;
}

QString TestProjectFiles::lastNotification() const
{
    return notification(-1);
}

QString TestProjectFiles::notification(int fromEnd) const
{
    NotificationModel *model = NotificationSvc::getInstance()->notifications();
    const int row = model->rowCount() + fromEnd;
    if (row < 0)
        return {};
    const QModelIndex index = model->index(row, 0);
    return QString::number(model->data(index, NotificationModel::TypeRole).toInt()) + QLatin1Char('|')
           + model->data(index, NotificationModel::MessageRole).toString();
}

void TestProjectFiles::saveAndOpenRoundTrip()
{
    const QString file = path(QStringLiteral("round.cfg"));
    const QVariantList list{1, QStringLiteral("two")};
    QCOMPARE(mgr()->addDeviceToProject(dat70, {{QStringLiteral("alias"), QStringLiteral("Board A")},
                                                {QStringLiteral("voutControl"), 60},
                                                {QStringLiteral("custom/list"), list}}),
             QString());
    QCOMPARE(mgr()->addDeviceToProject(dat71), QString());
    // The current device's unsaved edit is what gets saved.
    m_model->setVoutControl(64);
    QCOMPARE(mgr()->saveProject(file), QString());
    QCOMPARE(lastNotification(), QStringLiteral("0|Saved project file to round.cfg"));
    QCOMPARE(Settings::getInstance()->lastProject(), file);

    // Read back by a store that has never seen the file.
    const QByteArray text = fileContent(file);
    QVERIFY(text.contains("[_0x70_bvr60600]"));
    QVERIFY(text.contains("[_0x71_bvr60600]"));
    QVERIFY(text.contains("alias=Board A"));
    QVERIFY(text.contains("voutControl=64"));

    delete DeviceMgr::getInstance();
    QCOMPARE(mgr()->openProject(file), QString());
    QCOMPARE(lastNotification(), QStringLiteral("0|Opened project file round.cfg"));
    QCOMPARE(mgr()->projectDats(), (QStringList{dat70, dat71}));
    const DeviceState state = mgr()->deviceStates().value(dat70);
    QCOMPARE(state.value(QStringLiteral("alias")).toString(), QStringLiteral("Board A"));
    QCOMPARE(state.value(QStringLiteral("voutControl")).toInt(), 64);
    QCOMPARE(state.value(QStringLiteral("custom/list")).toList(), list);
    QCOMPARE(m_model->voutControl(), 64);
}

void TestProjectFiles::saveEmptyProject()
{
    const QString file = path(QStringLiteral("empty.cfg"));
    writeFile(file, "[_0x70_bvr60600]\nalias=old\n");
    QCOMPARE(mgr()->saveProject(file), QString());
    QCOMPARE(fileContent(file), QByteArray());
}

void TestProjectFiles::savedOnNamedAdapterReopensAdapterless()
{
    const QString file = path(QStringLiteral("named.cfg"));
    QCOMPARE(mgr()->addDeviceToProject(QStringLiteral("A1:0x70:bvr60600")), QString());
    QCOMPARE(mgr()->saveProject(file), QString());
    QCOMPARE(mgr()->openProject(file), QString());
    QCOMPARE(mgr()->projectDats(), QStringList{dat70});
}

void TestProjectFiles::openOfflineReplacesDevices()
{
    const QString file = path(QStringLiteral("offline.cfg"));
    writeFile(file, "[_0x71_bvr60600]\nalias=B\n");
    QCOMPARE(mgr()->addDeviceToProject(dat70), QString());
    QSignalSpy removed(mgr(), &DeviceMgr::eventDeviceRemoved);
    QCOMPARE(mgr()->openProject(file), QString());
    QCOMPARE(removed.size(), 1);
    QCOMPARE(mgr()->projectDats(), QStringList{dat71});
    QCOMPARE(mgr()->currentDat(), dat71);
    QString err;
    QVERIFY2(mgr()->checkIntegrity(err), qPrintable(err));
}

void TestProjectFiles::openKeepsConnectedDeviceAndWritesIt()
{
    // The chip appears under the default adapter's own id; the file's
    // adapter-less device is that same chip.
    const QString connectedDat = QStringLiteral("A1:0x70:bvr60600");
    const QString file = path(QStringLiteral("connected.cfg"));
    writeFile(file, "[_0x70_bvr60600]\nalias=From file\nvoutControl=66\n");
    Settings::getInstance()->setImmediateMode(true);
    QCOMPARE(mgr()->addDeviceToProject(connectedDat, {{QStringLiteral("alias"), QStringLiteral("kept")}}), QString());
    mgr()->setOnlineMode(true);
    emit I2cSvc::getInstance()->eventSlaveAdded(connectedDat);
    QPointer<Device> device = mgr()->device(connectedDat);
    QSignalSpy added(mgr(), &DeviceMgr::eventDeviceAdded);
    QSignalSpy requests(I2cSvc::getInstance(), &I2cSvc::doRunScript);
    QCOMPARE(mgr()->openProject(file), QString());
    QCOMPARE(added.size(), 0);
    QCOMPARE(mgr()->projectDats(), QStringList{connectedDat});
    QCOMPARE(mgr()->device(connectedDat), device);
    QCOMPARE(mgr()->deviceStates().value(connectedDat).value(QStringLiteral("alias")).toString(),
             QStringLiteral("From file"));
    QCOMPARE(m_model->voutControl(), 66);
    // No image was ever read from this chip, so nothing differs yet and no
    // write is sent; the device has taken the file's state as its target.
    QCOMPARE(requests.size(), 0);
    mgr()->setOnlineMode(false);
}

void TestProjectFiles::openBadFile_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("exists");
    QTest::addRow("missing") << QByteArray() << false;
    QTest::addRow("binary") << QByteArray("\x00\x01\x02[x]\xff", 7) << true;
    QTest::addRow("huge") << QByteArray() << true;
    // Fault: a stored list claiming 2^31 elements made QSettings reserve
    // tens of gigabytes while reading (ASan aborted, elsewhere bad_alloc).
    QTest::addRow("list claiming 2^31 elements")
        << QByteArray("[_0x70_bvr60600]\nalias=evil\nrails=@Variant(\\0\\0\\0\\t\\x7f\\xff\\xff\\xff)\n") << true;
    QTest::addRow("text list in a list claiming 2^31 texts")
        << QByteArray("[_0x71_bvr60600]\nrails=@Variant(\\0\\0\\0\\t\\0\\0\\0\\x1\\0\\0\\0\\v\\x80\\0\\0\\0)\n")
        << true;
    // Fault: opening took time quadratic in the entries of a device (a 4 MB
    // file 36 s); a device with more than any project holds is refused.
    QByteArray crowded("[_0x71_bvr60600]\n");
    for (int i = 0; i <= Project::maxEntriesPerDevice; ++i)
        crowded += "note" + QByteArray::number(i) + "=x\n";
    QTest::addRow("more entries than a device may have") << crowded << true;
}

void TestProjectFiles::openBadFile()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, exists);
    const QString file = path(QStringLiteral("bad_%1.cfg").arg(QTest::currentDataTag()));
    if (exists) {
        if (QByteArray(QTest::currentDataTag()) == "huge") {
            QFile big(file);
            QVERIFY(big.open(QIODevice::WriteOnly));
            QVERIFY(big.resize(Project::maxFileSize + 1));
        } else {
            writeFile(file, content);
        }
    }
    QCOMPARE(mgr()->addDeviceToProject(dat70, {{QStringLiteral("alias"), QStringLiteral("safe")}}), QString());
    const QString lastProject = Settings::getInstance()->lastProject();
    const QString err = mgr()->openProject(file);
    QVERIFY(!err.isEmpty());
    QCOMPARE(lastNotification(), QStringLiteral("2|Failed to open project file %1 (error: %2)")
                                     .arg(QFileInfo(file).fileName(), err));
    // Nothing of the open project changed.
    QCOMPARE(mgr()->projectDats(), QStringList{dat70});
    QCOMPARE(mgr()->deviceStates().value(dat70).value(QStringLiteral("alias")).toString(), QStringLiteral("safe"));
    QCOMPARE(Settings::getInstance()->lastProject(), lastProject);
}

void TestProjectFiles::openSkipsBadDevicesLoudly()
{
    const QString file = path(QStringLiteral("mixed.cfg"));
    writeFile(file, "stray=1\n"
                    "[_0x70_bvr60600]\nalias=good\nvoutControl=not a number\n"
                    "[_0x01_bvr60600]\nalias=reserved address\n"
                    "[_0x72_bvr60100]\nalias=unknown type\n"
                    "[general]\nsize=1\n"
                    "[_0x73_bvr60600]\n");
    QCOMPARE(mgr()->openProject(file), QString());
    QCOMPARE(mgr()->projectDats(), QStringList{dat70});
    const DeviceState state = mgr()->deviceStates().value(dat70);
    QCOMPARE(state.value(QStringLiteral("alias")).toString(), QStringLiteral("good"));
    QCOMPARE(state.value(QStringLiteral("voutControl")).toInt(), Bvr60600::DModel().voutControl());
    // The user learns which devices were left out, then that the file opened.
    QCOMPARE(lastNotification(), QStringLiteral("0|Opened project file mixed.cfg"));
    const QString skipped = notification(-2);
    QVERIFY2(skipped.startsWith(QStringLiteral("2|Skipped devices of project file mixed.cfg: "))
                 && skipped.contains(QStringLiteral(":0x01:bvr60600"))
                 && skipped.contains(QStringLiteral(":0x72:bvr60100")),
             qPrintable(skipped));
}

void TestProjectFiles::saveIntoReadOnlyFolderKeepsOldFile()
{
    QTemporaryDir folder;
    const QString file = folder.filePath(QStringLiteral("locked.cfg"));
    writeFile(file, "[_0x70_bvr60600]\nalias=old\n");
    QVERIFY(QFile::setPermissions(folder.path(), QFile::ReadOwner | QFile::ExeOwner));
    QFile::setPermissions(file, QFile::ReadOwner);
    if (QFileInfo(folder.path()).isWritable())
        QSKIP("running with privileges that ignore folder permissions");
    QCOMPARE(mgr()->addDeviceToProject(dat70, {{QStringLiteral("alias"), QStringLiteral("new")}}), QString());
    const QString err = mgr()->saveProject(file);
    QVERIFY(!err.isEmpty());
    QCOMPARE(lastNotification(), QStringLiteral("2|Failed saving project file to locked.cfg (error: %1)").arg(err));
    QCOMPARE(fileContent(file), QByteArray("[_0x70_bvr60600]\nalias=old\n"));
    QVERIFY(Settings::getInstance()->lastProject() != file);

    const QString prodErr = mgr()->saveProduction(file);
    QCOMPARE(prodErr, QStringLiteral("failed to write"));
    QCOMPARE(lastNotification(), QStringLiteral("2|Failed saving production file to locked.cfg (error: failed to write)"));
    QCOMPARE(fileContent(file), QByteArray("[_0x70_bvr60600]\nalias=old\n"));
    QFile::setPermissions(folder.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

void TestProjectFiles::saveOverFolderIsReported()
{
    // Fails for every user, unlike permissions: the target is a folder.
    const QString folder = path(QStringLiteral("folder.cfg"));
    QVERIFY(QDir().mkpath(folder + QStringLiteral("/inside")));
    QCOMPARE(mgr()->addDeviceToProject(dat70), QString());
    const QString err = mgr()->saveProject(folder);
    QVERIFY(!err.isEmpty());
    QCOMPARE(lastNotification(), QStringLiteral("2|Failed saving project file to folder.cfg (error: %1)").arg(err));
    QVERIFY(QFileInfo(folder + QStringLiteral("/inside")).isDir());
    QCOMPARE(mgr()->saveProduction(folder), QStringLiteral("failed to write"));
    QVERIFY(QFileInfo(folder + QStringLiteral("/inside")).isDir());
}

void TestProjectFiles::noProjectObject()
{
    mgr()->setProject(nullptr);
    mgr()->setProduction(nullptr);
    QCOMPARE(mgr()->openProject(path(QStringLiteral("x.cfg"))), QStringLiteral("project has not been initialized"));
    QCOMPARE(mgr()->saveProject(path(QStringLiteral("x.cfg"))), QStringLiteral("project has not been initialized"));
    QCOMPARE(mgr()->saveProduction(path(QStringLiteral("x.prd"))),
             QStringLiteral("production has not been initialized"));
    QVERIFY(!QFile::exists(path(QStringLiteral("x.cfg"))));
}

void TestProjectFiles::namesAndLoadDevice()
{
    const QString file = path(QStringLiteral("other.cfg"));
    writeFile(file, "[_0x70_bvr60600]\nalias=Other\nvoutControl=70\n[_0x71_bvr60600]\nalias=Second\n");
    QCOMPARE(mgr()->addDeviceToProject(dat70, {{QStringLiteral("alias"), QStringLiteral("Mine")},
                                                {QStringLiteral("voutControl"), 50}}),
             QString());
    QCOMPARE(mgr()->namesOfDevicesInProject(dat70, file), (QStringList{dat70, dat71}));
    QVERIFY(mgr()->namesOfDevicesInProject(dat71, file).isEmpty());
    QVERIFY(mgr()->namesOfDevicesInProject(dat70, path(QStringLiteral("none.cfg"))).isEmpty());

    QCOMPARE(mgr()->loadDeviceInProject(dat71, file, dat70), QStringLiteral("Device :0x71:bvr60600 does not exist"));
    QCOMPARE(mgr()->loadDeviceInProject(QStringLiteral("x"), file, dat70),
             QStringLiteral("Device x is incorrectly formatted"));
    QVERIFY(!mgr()->loadDeviceInProject(dat70, path(QStringLiteral("none.cfg")), dat70).isEmpty());
    // A section the file does not have changes nothing.
    QCOMPARE(mgr()->loadDeviceInProject(dat70, file, QStringLiteral(":0x75:bvr60600")), QString());
    QCOMPARE(m_model->voutControl(), 50);

    m_model->setVoutControl(52);
    QCOMPARE(mgr()->loadDeviceInProject(dat70, file, dat71), QString());
    // The file's entries win; the model's other edits are kept.
    QCOMPARE(mgr()->deviceStates().value(dat70).value(QStringLiteral("alias")).toString(), QStringLiteral("Second"));
    QCOMPARE(m_model->voutControl(), 52);
    QCOMPARE(mgr()->loadDeviceInProject(dat70, file, dat70), QString());
    QCOMPARE(m_model->voutControl(), 70);
}

void TestProjectFiles::saveProduction()
{
    const QString file = path(QStringLiteral("line.prd"));
    QCOMPARE(mgr()->addDeviceToProject(QStringLiteral("A1:0x70:bvr60600"),
                                       {{QStringLiteral("alias"), QStringLiteral("Board")},
                                        {QStringLiteral("header/serial"), QStringLiteral("S-1")},
                                        {QStringLiteral("fw/crc32"), QStringLiteral("FFFFFFFF")}}),
             QString());
    m_model->setVoutControl(77);
    QCOMPARE(mgr()->saveProduction(file), QString());
    QCOMPARE(lastNotification(), QStringLiteral("0|Saved production file to line.prd"));
    QCOMPARE(Settings::getInstance()->lastProduction(), file);

    QMap<QString, QVariantMap> sections;
    Production reader;
    QVERIFY(reader.read(file, sections));
    QCOMPARE(sections.keys(), QStringList{dat70});
    QCOMPARE(sections.value(dat70),
             (QVariantMap{{QStringLiteral("header/serial"), QStringLiteral("S-1")},
                          {QStringLiteral("fw/crc32"), QStringLiteral("FFFFFFFF")}}));
    QVERIFY(!fileContent(file).contains("alias"));
}

void TestProjectFiles::saveProductionFailures()
{
    const QString file = path(QStringLiteral("none.prd"));
    QCOMPARE(mgr()->saveProduction(file), QStringLiteral("no devices present"));
    QCOMPARE(lastNotification(), QStringLiteral("2|Failed saving production file to none.prd (error: no devices present)"));
    QVERIFY(!QFile::exists(file));
    QCOMPARE(mgr()->addDeviceToProject(dat70), QString());
    QCOMPARE(mgr()->saveProduction(QStringLiteral("file:") + file), QStringLiteral("failed to write"));
}

void TestProjectFiles::openLastProjectAfterStart()
{
    const QString file = path(QStringLiteral("last.cfg"));
    writeFile(file, "[_0x71_bvr60600]\nalias=last\n");
    Settings::getInstance()->setLastProject(file);
    Settings::getInstance()->setOpenLastProject(true);
    delete DeviceMgr::getInstance();
    QCOMPARE(mgr()->deviceCount(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(mgr()->projectDats(), QStringList{dat71}, 2000);
    QCOMPARE(lastNotification(), QStringLiteral("0|Opened project file last.cfg"));
}

void TestProjectFiles::endToEndOnSimulatedChip()
{
    Settings *settings = Settings::getInstance();
    settings->setImmediateMode(true);
    const QString file = path(QStringLiteral("chip.cfg"));
    QCOMPARE(mgr()->addDeviceToProject(dat70, {{QStringLiteral("alias"), QStringLiteral("Bench")}}), QString());
    mgr()->setMonitorAllowed(false);
    mgr()->setOnlineMode(true);

    QSignalSpy reads(mgr(), &DeviceMgr::doneReadConfiguration);
    QSignalSpy writes(mgr(), &DeviceMgr::doneWriteConfiguration);
    QSignalSpy slave(I2cSvc::getInstance(), &I2cSvc::doneVirtualSlave);
    emit I2cSvc::getInstance()->doVirtualSlave(QString(), dat70, true);
    QTRY_COMPARE_WITH_TIMEOUT(slave.size(), 1, 3000);
    QCOMPARE(slave.first().first().toString(), QString());

    // Connected by the slave's announcement, then read into the model.
    QTRY_VERIFY_WITH_TIMEOUT(mgr()->currentConnected(), 3000);
    QTRY_COMPARE_WITH_TIMEOUT(reads.size(), 1, 3000);
    QCOMPARE(reads.first().first().toString(), QString());
    // The simulated chip powers up with the reserved code 0, and says so.
    QCOMPARE(m_model->voutControl(), 0);
    QCOMPARE(m_model->voutControl_dirty(), QStringLiteral("Reserved value read from device."));
    QCOMPARE(mgr()->deviceStates().value(dat70).value(QStringLiteral("alias")).toString(), QStringLiteral("Bench"));

    // An edit reaches the chip within two activity ticks and reads back.
    const int edited = 60;
    m_model->setVoutControl(edited);
    QTRY_VERIFY_WITH_TIMEOUT(!writes.isEmpty(), 2500);
    QCOMPARE(writes.first().first().toString(), QString());
    reads.clear();
    mgr()->scheduleReadOnActivity();
    QTRY_COMPARE_WITH_TIMEOUT(reads.size(), 1, 3000);
    QCOMPARE(reads.first().first().toString(), QString());
    QCOMPARE(m_model->voutControl(), edited);
    // And the chip itself holds it.
    QByteArray vout;
    QString err;
    I2cSvc::getInstance()->waitReadRegister(dat70, Bvr60600::R_VOUT_REF, 1, vout, err);
    QCOMPARE(err, QString());
    QCOMPARE(int(Utils::uintFromHexBA(vout) & 0x7F), edited);

    QCOMPARE(mgr()->saveProject(file), QString());
    delete DeviceMgr::getInstance();
    settings->setImmediateMode(false);
    QCOMPARE(mgr()->openProject(file), QString());
    QCOMPARE(mgr()->projectDats(), QStringList{dat70});
    QCOMPARE(mgr()->deviceStates().value(dat70).value(QStringLiteral("voutControl")).toInt(), edited);
    QCOMPARE(mgr()->deviceStates().value(dat70).value(QStringLiteral("alias")).toString(), QStringLiteral("Bench"));
    QCOMPARE(m_model->voutControl(), edited);

    QSignalSpy off(I2cSvc::getInstance(), &I2cSvc::doneVirtualSlave);
    emit I2cSvc::getInstance()->doVirtualSlave(QString(), dat70, false);
    QTRY_COMPARE_WITH_TIMEOUT(off.size(), 1, 3000);
}

PANEL_TEST_MAIN(TestProjectFiles)
#include "tst_projectfiles.moc"
