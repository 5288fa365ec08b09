#include "testenv.h"

#include "devicemgrtest.h"

#include "devices/devicemgr.h"
#include "devices/project.h"
#include "services/notificationsvc.h"
#include "view/registermapmodel.h"

#include <QApplication>
#include <QSignalSpy>

#include <memory>

// The register view's model on an offline chip: the device's own register
// and field views and update script, with register lists of our own where a
// case needs values the chip never reported.
class TestRegisterMapModel : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void parsesRegisterView_data();
    void parsesRegisterView();
    void refreshKeepsSameRows_data();
    void refreshKeepsSameRows();
    void pendingIsTheDifference_data();
    void pendingIsTheDifference();
    void editsTouchOnlyWritableBits_data();
    void editsTouchOnlyWritableBits();
    void updateScriptWritesPending();
    void scriptOutcome_data();
    void scriptOutcome();
    void otherDeviceDropsEdits();
    void cleanupTestCase();

private:
    static QString entry(const QString &uid, const QString &value, const QString &size = QString());
    QVariant role(int row, const char *name) const;

    static inline const QString chipDat = QStringLiteral(":0x70:bvr60600");
    Bvr60600::DModel *m_model = nullptr;
    std::unique_ptr<RegisterMapModel> m_registers;
};

QString TestRegisterMapModel::entry(const QString &uid, const QString &value, const QString &size)
{
    const QString sizePart = size.isEmpty() ? QString() : QStringLiteral(",\"size\":\"%1\"").arg(size);
    return QStringLiteral("{\"uid\":\"%1\",\"group\":\"common\",\"address\":\"0x02\",\"value\":\"%2\",\"name\":\"%1\"%3}")
        .arg(uid, value, sizePart);
}

QVariant TestRegisterMapModel::role(int row, const char *name) const
{
    return m_registers->data(m_registers->index(row), m_registers->roleNames().key(name));
}

void TestRegisterMapModel::initTestCase()
{
    m_model = DeviceMgrTest::quietStart();
    DeviceMgr *mgr = DeviceMgr::getInstance();
    mgr->setProject(new Project);
    QCOMPARE(mgr->addDeviceToProject(chipDat), QString());
    QCOMPARE(mgr->currentDat(), chipDat);
}

void TestRegisterMapModel::init()
{
    m_registers = std::make_unique<RegisterMapModel>();
}

void TestRegisterMapModel::parsesRegisterView_data()
{
    QTest::addColumn<QStringList>("entries"); // empty: the chip's own view, loaded by becoming active
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("size");
    QTest::addColumn<qint64>("value");
    QTest::addColumn<QString>("valueText");

    // The parser and the device must agree on the keys; the view fills
    // itself when it comes on screen.
    QTest::addRow("chip's own view") << QStringList() << 5 << 8 << qint64(0) << "0x00";
    // One broken entry must not cost the others.
    QTest::addRow("entry that is not JSON is skipped")
        << QStringList({QStringLiteral("{\"uid\":"), entry("a", "0x5A")}) << 1 << 8 << qint64(0x5A) << "0x5A";
    // A wider register shows all its digits.
    QTest::addRow("size as text, value without prefix")
        << QStringList({entry("w", "1234", "16")}) << 1 << 16 << qint64(0x1234) << "0x1234";
    QTest::addRow("zero size takes the configured width")
        << QStringList({entry("z", "0x7", "0")}) << 1 << 8 << qint64(7) << "0x07";
    QTest::addRow("value that is not hex reads 0")
        << QStringList({entry("n", "n/a")}) << 1 << 8 << qint64(0) << "0x00";
}

void TestRegisterMapModel::parsesRegisterView()
{
    QFETCH(QStringList, entries);
    QFETCH(int, rows);
    QFETCH(int, size);
    QFETCH(qint64, value);
    QFETCH(QString, valueText);
    if (entries.isEmpty())
        m_registers->setActive(true);
    else
        m_registers->setRegisterView(entries);
    QCOMPARE(m_registers->rowCount(), rows);
    QCOMPARE(role(0, "size").toInt(), size);
    QCOMPARE(role(0, "deviceValue").toLongLong(), value);
    QCOMPARE(role(0, "valueText").toString(), valueText);
    QCOMPARE(role(0, "pending").toBool(), false);
}

void TestRegisterMapModel::refreshKeepsSameRows_data()
{
    QTest::addColumn<QStringList>("next");
    QTest::addColumn<int>("resets");
    QTest::addColumn<QString>("selected");

    // New values for the same registers: a reset would throw the view back
    // to the top and lose its selection.
    QTest::addRow("same registers, new values")
        << QStringList({entry("a", "0x01"), entry("b", "0x22")}) << 0 << "b";
    // A filter that hides the selected register drops the selection.
    QTest::addRow("other registers") << QStringList({entry("a", "0x01")}) << 1 << "";
}

void TestRegisterMapModel::refreshKeepsSameRows()
{
    QFETCH(QStringList, next);
    QFETCH(int, resets);
    QFETCH(QString, selected);
    m_registers->setRegisterView({entry("a", "0x01"), entry("b", "0x02")});
    m_registers->select(QStringLiteral("b"));
    QSignalSpy reset(m_registers.get(), &QAbstractItemModel::modelReset);
    m_registers->setRegisterView(next);
    QCOMPARE(reset.count(), resets);
    QCOMPARE(m_registers->selectedUid(), selected);
    QCOMPARE(m_registers->selectedRow(), m_registers->rowOf(selected));
    QCOMPARE(role(m_registers->rowCount() - 1, "valueText").toString(), resets ? "0x01" : "0x22");
}

void TestRegisterMapModel::pendingIsTheDifference_data()
{
    QTest::addColumn<QString>("size");
    QTest::addColumn<QList<qint64>>("edits");
    QTest::addColumn<QString>("pending"); // empty: nothing pending

    QTest::addRow("a change is pending") << "" << QList<qint64>({0x0C}) << "0x0C";
    // Setting a register back to what the chip holds is no change to write.
    QTest::addRow("back to the chip's value") << "" << QList<qint64>({0x0C, 0x08}) << "";
    // The update script takes every digit of a wide register.
    QTest::addRow("16-bit register keeps four digits") << "16" << QList<qint64>({0x0100}) << "0x0100";
}

void TestRegisterMapModel::pendingIsTheDifference()
{
    QFETCH(QString, size);
    QFETCH(QList<qint64>, edits);
    QFETCH(QString, pending);
    m_registers->setRegisterView({entry("cr_control", "0x08", size)});
    m_registers->select(QStringLiteral("cr_control"));
    QSignalSpy changed(m_registers.get(), &RegisterMapModel::pendingChanged);
    for (const qint64 value : edits)
        m_registers->setSelectedValue(value);
    QCOMPARE(changed.count(), int(edits.size()));
    QCOMPARE(m_registers->pendingCount(), pending.isEmpty() ? 0 : 1);
    QCOMPARE(m_registers->pending().value(QStringLiteral("cr_control")).toString(), pending);
    QCOMPARE(role(0, "pending").toBool(), !pending.isEmpty());
    QCOMPARE(role(0, "valueText").toString(), pending.isEmpty() ? RegisterMapModel::hexText(0x08, 8) : pending);
    QCOMPARE(m_registers->selectedValue(), edits.last());
}

void TestRegisterMapModel::editsTouchOnlyWritableBits_data()
{
    QTest::addColumn<QString>("typed"); // empty: flip `bit` instead
    QTest::addColumn<int>("bit");
    QTest::addColumn<QString>("pending");

    // cr_control: bits 2 and 3 are writable, the others reserved.
    QTest::addRow("typed, writable bits only") << "0C" << -1 << "0x0C";
    QTest::addRow("typed with prefix") << "0x04" << -1 << "0x04";
    QTest::addRow("typed, a reserved bit") << "0x8C" << -1 << "";
    QTest::addRow("typed, not hex") << "0xZZ" << -1 << "";
    QTest::addRow("writable bit flipped") << "" << 3 << "0x08";
    QTest::addRow("reserved bit flipped") << "" << 0 << "";
}

void TestRegisterMapModel::editsTouchOnlyWritableBits()
{
    QFETCH(QString, typed);
    QFETCH(int, bit);
    QFETCH(QString, pending);
    m_registers->setActive(true);
    m_registers->select(QStringLiteral("cr_control"));
    QCOMPARE(m_registers->selectedWritableMask(), qint64(0x0C));
    if (typed.isEmpty())
        m_registers->toggleSelectedBit(bit);
    else
        QCOMPARE(m_registers->setSelectedText(typed), !pending.isEmpty());
    QCOMPARE(m_registers->pending().value(QStringLiteral("cr_control")).toString(), pending);
}

void TestRegisterMapModel::updateScriptWritesPending()
{
    // The device takes the pending values as "0x" texts by register name.
    m_registers->setActive(true);
    m_registers->select(QStringLiteral("cr_control"));
    m_registers->setSelectedValue(0x04);
    QCOMPARE(m_registers->updateScript(),
             QStringList({QStringLiteral("# $CTX$ start for $DAT$"), QStringLiteral("write_register cr_control 04"),
                          QStringLiteral("read_register cr_control 1"), QStringLiteral("# $CTX$ end for $DAT$")}));
}

void TestRegisterMapModel::scriptOutcome_data()
{
    QTest::addColumn<QString>("ctx");
    QTest::addColumn<QString>("dat");
    QTest::addColumn<QString>("err");
    QTest::addColumn<QString>("notified"); // empty: the outcome is not ours
    QTest::addColumn<int>("type");

    QTest::addRow("success") << "doRunScript,ViewRegister" << chipDat << "" << "The script executed successfully."
                             << int(Notification::Information);
    QTest::addRow("failure") << "doRunScript,ViewRegister" << chipDat << "nack"
                             << "Error while executing script: nack" << int(Notification::Error);
    // Other scripts' outcomes must leave the user's edits alone.
    QTest::addRow("another script") << "doRunScript,MainPaneTest" << chipDat << "" << "" << 0;
    QTest::addRow("another device") << "doRunScript,ViewRegister" << ":0x71:bvr60600" << "" << "" << 0;
}

void TestRegisterMapModel::scriptOutcome()
{
    QFETCH(QString, ctx);
    QFETCH(QString, dat);
    QFETCH(QString, err);
    QFETCH(QString, notified);
    QFETCH(int, type);
    m_registers->setActive(true);
    m_registers->select(QStringLiteral("cr_control"));
    m_registers->setSelectedValue(0x04);
    NotificationModel *notifications = NotificationSvc::getInstance()->notifications();
    const int before = notifications->rowCount();
    QSignalSpy written(m_registers.get(), &RegisterMapModel::written);
    emit DeviceMgr::getInstance()->doneRunScript(err, ctx, dat);
    const bool ours = !notified.isEmpty();
    QCOMPARE(written.count(), ours ? 1 : 0);
    QCOMPARE(notifications->rowCount(), before + (ours ? 1 : 0));
    if (ours) {
        QCOMPARE(written.at(0).at(0).toString(), err);
        const QModelIndex last = notifications->index(notifications->rowCount() - 1);
        QCOMPARE(last.data(NotificationModel::MessageRole).toString(), notified);
        QCOMPARE(last.data(NotificationModel::TypeRole).toInt(), type);
    }
    // Written or failed, the edits are done with; otherwise they stay.
    QCOMPARE(m_registers->pendingCount(), ours ? 0 : 1);
}

void TestRegisterMapModel::otherDeviceDropsEdits()
{
    // Edits made for one chip must never be written to another.
    DeviceMgr *mgr = DeviceMgr::getInstance();
    m_registers->setActive(true);
    m_registers->select(QStringLiteral("cr_control"));
    m_registers->setSelectedValue(0x04);
    mgr->setCurrentDat(QString());
    QCOMPARE(m_registers->pendingCount(), 0);
    QCOMPARE(m_registers->selectedUid(), QString());
    mgr->setCurrentDat(chipDat);
}

void TestRegisterMapModel::cleanupTestCase()
{
    m_registers.reset();
    delete DeviceMgr::getInstance();
    delete m_model;
}

PANEL_TEST_MAIN(TestRegisterMapModel)
#include "tst_registermapmodel.moc"
