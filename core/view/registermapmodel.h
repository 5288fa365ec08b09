#pragma once

#include "panelcore_global.h"
#include "view/registerfieldmodel.h"

#include <QAbstractListModel>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariantMap>

// The register map of the current device, as its register view shows it:
// the registers the device reports for a filter, the selected register with
// its fields, and the user's changes, kept pending per register until they
// are written to the chip as one script.
//
// The data comes from the device manager's tasks "getRegisterView",
// "getRegisterFieldView" and "getRegisterUpdateScript" on the current device;
// the script runs through doRunScript with the name "ViewRegister". While
// `active` (the view is on screen and the device connected), the model
// reloads by itself when it becomes active, when the current device changes,
// after its script has run and after a register file was imported.
class PANELCORE_EXPORT RegisterMapModel : public QAbstractListModel
{
    Q_OBJECT
    Q_PROPERTY(bool active READ active WRITE setActive NOTIFY activeChanged)
    Q_PROPERTY(QString filter READ filter WRITE setFilter NOTIFY filterChanged)
    // The width of a register whose entry gives no size.
    Q_PROPERTY(int registerBits READ registerBits WRITE setRegisterBits NOTIFY registerBitsChanged)
    // uid -> new value as "0x" + upper-case hex digits (one per 4 bits of the
    // register), the form the update script takes.
    Q_PROPERTY(QVariantMap pending READ pending NOTIFY pendingChanged)
    Q_PROPERTY(int pendingCount READ pendingCount NOTIFY pendingChanged)
    // From posting the script until its outcome: the changes are still
    // pending and must not be posted twice.
    Q_PROPERTY(bool writing READ writing NOTIFY writingChanged)

    // The selected register; an empty uid and row -1 when there is none.
    Q_PROPERTY(QString selectedUid READ selectedUid NOTIFY selectionChanged)
    Q_PROPERTY(int selectedRow READ selectedRow NOTIFY selectionChanged)
    Q_PROPERTY(QString selectedAddress READ selectedAddress NOTIFY selectionChanged)
    Q_PROPERTY(QString selectedName READ selectedName NOTIFY selectionChanged)
    Q_PROPERTY(int selectedSize READ selectedSize NOTIFY selectionChanged)
    // The bits the user may change: those of writable fields.
    Q_PROPERTY(qint64 selectedWritableMask READ selectedWritableMask NOTIFY selectionChanged)
    // What the chip holds, and what the view shows (with a pending change).
    Q_PROPERTY(qint64 selectedDeviceValue READ selectedDeviceValue NOTIFY selectedValueChanged)
    Q_PROPERTY(qint64 selectedValue READ selectedValue NOTIFY selectedValueChanged)
    Q_PROPERTY(RegisterFieldModel *fields READ fields CONSTANT)

public:
    enum Roles {
        UidRole = Qt::UserRole + 1,
        AddressRole,
        NameRole,
        GroupRole,
        SizeRole,
        DeviceValueRole,
        // The value shown: the pending one if there is one.
        ValueRole,
        ValueTextRole,
        PendingRole,
    };
    Q_ENUM(Roles)

    struct Register
    {
        QString uid;
        QString address;
        QString name;
        QString group;
        int size = 8;
        qint64 value = 0;
    };

    explicit RegisterMapModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QHash<int, QByteArray> roleNames() const override;

    bool active() const { return m_active; }
    void setActive(bool active);
    QString filter() const { return m_filter; }
    void setFilter(const QString &filter);
    int registerBits() const { return m_registerBits; }
    void setRegisterBits(int registerBits);
    QVariantMap pending() const { return m_pending; }
    int pendingCount() const { return int(m_pending.size()); }
    bool writing() const { return m_writing; }

    QString selectedUid() const { return m_selectedUid; }
    int selectedRow() const { return rowOf(m_selectedUid); }
    QString selectedAddress() const;
    QString selectedName() const;
    int selectedSize() const;
    qint64 selectedWritableMask() const;
    qint64 selectedDeviceValue() const;
    qint64 selectedValue() const;
    RegisterFieldModel *fields() { return &m_fields; }

    // Loads the registers of the current device for the filter. The rows are
    // updated in place when they are the same registers, so that a view keeps
    // its scroll position; otherwise the model is reset. A selection whose
    // register is gone is dropped.
    Q_INVOKABLE void refresh();
    // Replaces the registers with those of a register view, one JSON object
    // per entry ("uid", "address", "value", "name", optional "group" and
    // "size"); entries that are not JSON objects are skipped (and logged).
    void setRegisterView(const QStringList &entries);

    // Selects a register by uid and loads its fields; an unknown uid clears
    // the selection.
    Q_INVOKABLE void select(const QString &uid);
    Q_INVOKABLE int rowOf(const QString &uid) const;

    // Changes of the selected register. A value equal to what the chip holds
    // is no change: it drops the pending one.
    Q_INVOKABLE void setSelectedValue(qint64 value);
    // A typed value in hex, with or without "0x". Refused (false, nothing
    // changes) when it is not hex or changes a bit outside writable fields.
    Q_INVOKABLE bool setSelectedText(const QString &text);
    // Flips one bit; only bits of writable fields flip.
    Q_INVOKABLE void toggleSelectedBit(int bit);
    Q_INVOKABLE void discardSelected();
    Q_INVOKABLE void clearPending();

    // The script that writing the pending changes runs, as the device makes it.
    Q_INVOKABLE QStringList updateScript() const;
    // Posts the script; nothing while nothing is pending or a write is on.
    Q_INVOKABLE void writeChanges();

    // "0x" and upper-case hex digits, one per 4 bits of a register of `bits`.
    static QString hexText(qint64 value, int bits);

signals:
    void activeChanged(bool active);
    void filterChanged(const QString &filter);
    void registerBitsChanged(int registerBits);
    void pendingChanged();
    void writingChanged(bool writing);
    void selectionChanged();
    void selectedValueChanged();
    // The outcome of the script posted by writeChanges(); err is empty on
    // success. The user has been notified; the pending changes are cleared
    // right after.
    void written(const QString &err);

private:
    void setWriting(bool writing);
    void setPendingValue(const QString &uid, qint64 value);
    void setPendingMap(const QVariantMap &pending);
    qint64 shownValue(const Register &reg) const;
    const Register *selectedRegister() const;
    void loadFields();

    void onDoneRunScript(const QString &err, const QString &ctx, const QString &dat);
    void onCurrentDatChanged();
    void onDoneTask(const QString &err, const QString &ctx, const QString &dat);

    QList<Register> m_registers;
    QVariantMap m_pending;
    RegisterFieldModel m_fields;
    QString m_selectedUid;
    QString m_filter;
    int m_registerBits = 8;
    bool m_active = false;
    bool m_writing = false;
};
