#include "testenv.h"

#include "services/notification.h"
#include "services/notificationmodel.h"
#include "services/notificationsvc.h"

#include <QJSEngine>
#include <QSignalSpy>

class TestNotification : public QObject
{
    Q_OBJECT

private:
    static NotificationModel *model() { return NotificationSvc::getInstance()->notifications(); }

    static QStringList messages()
    {
        QStringList texts;
        for (int row = 0; row < model()->rowCount(); ++row)
            texts << model()->data(model()->index(row), NotificationModel::MessageRole).toString();
        return texts;
    }

    static void post(int count)
    {
        for (int i = 0; i < count; ++i)
            NotificationSvc::getInstance()->createNotification(QStringLiteral("m%1").arg(i));
    }

private slots:
    // Every case starts from an empty list.
    void init() { delete NotificationSvc::getInstance(); }

    void deleteMiddleKeepsOrder()
    {
        QSignalSpy inserted(model(), &QAbstractItemModel::rowsInserted);
        QSignalSpy created(NotificationSvc::getInstance(), &NotificationSvc::notificationCreated);
        QSignalSpy changed(NotificationSvc::getInstance(), &NotificationSvc::notificationsChanged);
        post(3);
        QCOMPARE(inserted.count(), 3);
        for (int row = 0; row < 3; ++row) {
            QCOMPARE(inserted.at(row).at(1).toInt(), row);
            QCOMPARE(inserted.at(row).at(2).toInt(), row);
        }
        QCOMPARE(created.count(), 3);
        QCOMPARE(created.at(2).at(0).toString(), QStringLiteral("m2"));
        // Views follow the inserted rows; a change of the whole list would rebind them.
        QCOMPARE(changed.count(), 0);

        QSignalSpy removed(model(), &QAbstractItemModel::rowsRemoved);
        NotificationSvc::getInstance()->deleteNotification(1);
        QCOMPARE(removed.count(), 1);
        QCOMPARE(removed.at(0).at(1).toInt(), 1);
        QCOMPARE(removed.at(0).at(2).toInt(), 1);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(messages(), QStringList({QStringLiteral("m0"), QStringLiteral("m2")}));
    }

    void deleteOutOfRange_data()
    {
        QTest::addColumn<int>("index");
        QTest::addRow("negative") << -1;
        QTest::addRow("one past the end") << 2;
        QTest::addRow("far past the end") << 1000000;
    }

    void deleteOutOfRange()
    {
        QFETCH(int, index);
        post(2);
        QSignalSpy removed(model(), &QAbstractItemModel::rowsRemoved);
        QSignalSpy changed(NotificationSvc::getInstance(), &NotificationSvc::notificationsChanged);
        NotificationSvc::getInstance()->deleteNotification(index);
        QCOMPARE(removed.count(), 0);
        QCOMPARE(changed.count(), 0);
        QCOMPARE(messages(), QStringList({QStringLiteral("m0"), QStringLiteral("m1")}));
    }

    void roles_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("role");
        QTest::addColumn<QVariant>("expected");
        QTest::addRow("type") << 1 << 257 << QVariant(2);
        QTest::addRow("message") << 0 << 258 << QVariant(QStringLiteral("first"));
        QTest::addRow("sender") << 1 << 259 << QVariant(QStringLiteral("devMgr"));
        QTest::addRow("role past the last") << 0 << 260 << QVariant();
        QTest::addRow("display role") << 0 << int(Qt::DisplayRole) << QVariant();
    }

    void roles()
    {
        QFETCH(int, row);
        QFETCH(int, role);
        QFETCH(QVariant, expected);
        NotificationSvc::getInstance()->createNotification(QStringLiteral("first"));
        NotificationSvc::getInstance()->createNotification(QStringLiteral("second"), Notification::Error,
                                                           QStringLiteral("devMgr"));
        const QVariant value = model()->data(model()->index(row), role);
        QCOMPARE(value.isValid(), expected.isValid());
        if (role == NotificationModel::TypeRole)
            QCOMPARE(value.toInt(), expected.toInt());
        else if (expected.isValid())
            QCOMPARE(value, expected);
    }

    // A view may still hold an index of a row that has just gone.
    void staleIndexGivesInvalid()
    {
        post(2);
        const QModelIndex last = model()->index(1);
        NotificationSvc::getInstance()->deleteNotification(1);
        QVERIFY(!model()->data(last, NotificationModel::MessageRole).isValid());
    }

    void roleNamesForViews()
    {
        const QHash<int, QByteArray> names = model()->roleNames();
        QCOMPARE(names.size(), 3);
        QCOMPARE(names.value(257), QByteArray("type"));
        QCOMPARE(names.value(258), QByteArray("message"));
        QCOMPARE(names.value(259), QByteArray("sender"));
    }

    void oneArgumentUsesDefaults()
    {
        NotificationSvc::getInstance()->createNotification(QStringLiteral("only"));
        const QModelIndex first = model()->index(0);
        QCOMPARE(model()->data(first, NotificationModel::TypeRole).value<Notification::NotificationType>(),
                 Notification::Information);
        QCOMPARE(model()->data(first, NotificationModel::SenderRole).toString(), QString());
    }

    // The type travels in variants (model data, queued calls) and QML posts
    // plain numbers, including values the enumeration does not name.
    void typeIsAnIntSizedMetaType()
    {
        const QMetaType type = QMetaType::fromType<Notification::NotificationType>();
        QVERIFY(type.isValid());
        QCOMPARE(type.sizeOf(), qsizetype(sizeof(int)));
        QVERIFY(type.flags().testFlag(QMetaType::IsEnumeration));
        QCOMPARE(QVariant(7).value<Notification::NotificationType>(), Notification::NotificationType(7));
    }

    void invokableFromScriptWithOneTwoOrThreeArguments()
    {
        NotificationSvc *svc = NotificationSvc::getInstance();
        QJSEngine engine;
        QJSEngine::setObjectOwnership(svc, QJSEngine::CppOwnership);
        engine.globalObject().setProperty(QStringLiteral("svc"), engine.newQObject(svc));
        const QJSValue result = engine.evaluate(QStringLiteral(
            "svc.createNotification('one');"
            "svc.createNotification('two', 2);"
            "svc.createNotification('three', 5, 'qml');"
            "svc.notifications.rowCount()"));
        QVERIFY2(!result.isError(), qPrintable(result.toString()));
        QCOMPARE(result.toInt(), 3);
        QCOMPARE(messages(), QStringList({QStringLiteral("one"), QStringLiteral("two"), QStringLiteral("three")}));
        const auto typeOf = [](int row) {
            return model()->data(model()->index(row), NotificationModel::TypeRole).toInt();
        };
        QCOMPARE(typeOf(0), 0);
        QCOMPARE(typeOf(1), 2);
        QCOMPARE(typeOf(2), 5);
        QCOMPARE(model()->data(model()->index(2), NotificationModel::SenderRole).toString(), QStringLiteral("qml"));
    }

    void deletedInstanceIsReplaced()
    {
        post(1);
        delete NotificationSvc::getInstance();
        QCOMPARE(model()->rowCount(), 0);
    }
};

PANEL_TEST_MAIN(TestNotification)
#include "tst_notification.moc"
