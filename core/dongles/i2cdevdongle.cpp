#include "i2cdevdongle.h"

#include "services/settings.h"
#include "utils/utils.h"

#include <QDebug>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>

#include <dirent.h>
#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace Dongles {

const char *const I2cDevDongle::ClassDir = "/sys/class/i2c-dev";

namespace {

// A register read is one write and one read: far below the kernel's limit
// of messages in one combined transfer.
static_assert(2 <= I2C_RDWR_IOCTL_MAX_MSGS, "a combined transfer takes two messages");

// Notes that must reach the user once per bus, not at every scan of the
// second: a bus without access, the bus clock the speed setting cannot set.
bool firstTime(const QString &what, const QString &busId)
{
    static std::mutex lock;
    static QSet<QString> said;
    std::lock_guard<std::mutex> locker(lock);
    const QString key = what + QLatin1Char('/') + busId;
    if (said.contains(key))
        return false;
    said.insert(key);
    return true;
}

QString errnoText(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

QByteArray readAttribute(const QByteArray &path)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return QByteArray();
    char text[128];
    const ssize_t size = ::read(fd, text, sizeof(text));
    ::close(fd);
    return size > 0 ? QByteArray(text, int(size)).trimmed() : QByteArray();
}

// The bus numbers the kernel lists, ascending: the first becomes the
// default adapter when no other adapter is found, and "i2c-10" must not
// come before "i2c-2".
QList<int> listedBuses()
{
    QList<int> numbers;
    DIR *dir = ::opendir(I2cDevDongle::ClassDir);
    if (!dir)
        return numbers;
    static const QRegularExpression busName(QStringLiteral("^i2c-(\\d{1,7})$"));
    while (const dirent *entry = ::readdir(dir)) {
        const QRegularExpressionMatch match = busName.match(QString::fromLatin1(entry->d_name));
        if (match.hasMatch())
            numbers << match.captured(1).toInt();
    }
    ::closedir(dir);
    std::sort(numbers.begin(), numbers.end());
    return numbers;
}

QString accessHint(const QString &node, const QString &name, int code)
{
    return QStringLiteral("Cannot open %1 (%2): %3. Kernel I2C buses need membership of the "
                          "i2c group (sudo usermod -aG i2c $USER, then log in again) or the "
                          "udev rules in tools/udev (see \"Kernel I2C buses\" in the README).")
        .arg(node, name, errnoText(code));
}

std::shared_ptr<I2cDevDongle> openBus(int number)
{
    const QString id = QStringLiteral("i2c-%1").arg(number);
    const QByteArray node = "/dev/" + id.toLatin1();
    QByteArray name = readAttribute(QByteArray(I2cDevDongle::ClassDir) + '/' + id.toLatin1() + "/name");
    if (name.isEmpty())
        name = id.toLatin1();

    int fd = -1;
    do {
        fd = ::open(node.constData(), O_RDWR | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        const int code = errno;
        if (code == EACCES || code == EPERM) {
            if (firstTime(QStringLiteral("access"), id))
                qWarning().noquote() << accessHint(QString::fromLatin1(node), QString::fromLatin1(name), code);
        } else if (firstTime(QStringLiteral("open"), id)) {
            qWarning().noquote() << QStringLiteral("Cannot open %1 (%2): %3")
                                        .arg(QString::fromLatin1(node), QString::fromLatin1(name), errnoText(code));
        }
        return nullptr;
    }

    unsigned long functionality = 0;
    if (::ioctl(fd, I2C_FUNCS, &functionality) < 0) {
        const int code = errno;
        ::close(fd);
        if (firstTime(QStringLiteral("funcs"), id))
            qWarning().noquote() << QStringLiteral("%1 (%2) does not tell what it can do: %3")
                                        .arg(id, QString::fromLatin1(name), errnoText(code));
        return nullptr;
    }

    if (firstTime(QStringLiteral("clock"), id)) {
        qInfo().noquote() << QStringLiteral("%1 (%2): the clock of a kernel I2C bus is set by its "
                                            "driver or the device tree; the speed setting "
                                            "(%3 kbit/s) does not change it")
                                 .arg(id, QString::fromLatin1(name))
                                 .arg(Settings::getInstance()->i2cSpeed());
        if (!(functionality & I2C_FUNC_I2C))
            qWarning().noquote() << QStringLiteral("%1 (%2) offers no plain I2C transfers "
                                                   "(I2C_FUNC_I2C): its transfers will be refused")
                                        .arg(id, QString::fromLatin1(name));
    }

    SDongle record;
    SDongle::copyText(record.id, sizeof(record.id), id.toLatin1().constData());
    SDongle::copyText(record.description, sizeof(record.description), name.constData());
    return std::make_shared<I2cDevDongle>(record, fd, functionality);
}

} // namespace

DongleList I2cDevDongle::Scan(const DongleMgr &mgr)
{
    Q_UNUSED(mgr);
    DongleList found;
    // Keeps the program off the kernel's buses altogether; the tests run so,
    // on a developer's computer too.
    if (qEnvironmentVariable("PANEL_KERNEL_I2C") == QLatin1String("0"))
        return found;
    for (int number : listedBuses()) {
        if (std::shared_ptr<I2cDevDongle> bus = openBus(number))
            found.append(bus);
    }
    return found;
}

I2cDevDongle::I2cDevDongle(const SDongle &identity, int fd, unsigned long functionality)
    : DongleBase(identity)
    , m_fd(fd)
    , m_functionality(functionality)
{
}

I2cDevDongle::~I2cDevDongle()
{
    I2cDevDongle::close();
}

void I2cDevDongle::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

bool I2cDevDongle::allowsOpenScan() const
{
    return Settings::getInstance()->i2cOpenScanBuses().contains(idText());
}

bool I2cDevDongle::isDisconnected(QString &err, bool ok) const
{
    if (ok || !m_gone)
        return false;
    if (err.isEmpty())
        err = m_goneText;
    return true;
}

bool I2cDevDongle::listedByKernel() const
{
    const QByteArray entry = QByteArray(ClassDir) + '/' + QByteArray(id);
    return ::access(entry.constData(), F_OK) == 0;
}

QString I2cDevDongle::failureText(int code, unsigned short address, const QByteArray &out,
                                  const QByteArray *in) const
{
    const QString bus = idText();
    const QString slave = QStringLiteral("0x%1").arg(address, 2, 16, QLatin1Char('0'));
    switch (code) {
    case ENXIO:
    case EREMOTEIO:
        return QStringLiteral("%1: NACK from %2 (%3)").arg(bus, slave, errnoText(code));
    case EOPNOTSUPP:
        return QStringLiteral("%1: its driver cannot do this transfer to %2 (write %3 bytes, "
                              "read %4 bytes): %5")
            .arg(bus, slave)
            .arg(out.size())
            .arg(in ? in->size() : 0)
            .arg(errnoText(code));
    default:
        return QStringLiteral("%1: transfer to %2 failed (%3)").arg(bus, slave, errnoText(code));
    }
}

bool I2cDevDongle::transfer(QString &err, unsigned short address, const QByteArray &out,
                            QByteArray *in)
{
    m_gone = false;
    if (m_fd < 0) {
        m_gone = true;
        m_goneText = QStringLiteral("%1 is closed").arg(idText());
        return false;
    }
    if (!(m_functionality & I2C_FUNC_I2C)) {
        err = QStringLiteral("%1 (%2) cannot do combined I2C transfers (the kernel reports no "
                             "I2C_FUNC_I2C for it): use a bus with plain I2C")
                  .arg(idText(), descriptionText());
        return false;
    }
    if (address > 0x7F) {
        err = QStringLiteral("%1: 0x%2 is not a 7-bit address").arg(idText()).arg(address, 0, 16);
        return false;
    }
    const qsizetype longest = std::max(out.size(), in ? in->size() : 0);
    if (longest > MaxMessageSize) {
        err = QStringLiteral("%1: a message of %2 bytes is longer than the kernel takes (%3)")
                  .arg(idText())
                  .arg(longest)
                  .arg(MaxMessageSize);
        return false;
    }

    i2c_msg messages[2] = {};
    quint32 count = 0;
    // A write that is followed by a read still goes out when empty only if
    // nothing is read: an address-only transfer.
    if (!out.isEmpty() || !in || in->isEmpty()) {
        // The kernel copies a write message and never writes it back.
        messages[count++] = { address, 0, quint16(out.size()),
                              reinterpret_cast<__u8 *>(const_cast<char *>(out.constData())) };
    }
    if (in && !in->isEmpty())
        messages[count++] = { address, I2C_M_RD, quint16(in->size()),
                              reinterpret_cast<__u8 *>(in->data()) };
    i2c_rdwr_ioctl_data request = { messages, count };

    int done = -1;
    do {
        done = ::ioctl(m_fd, I2C_RDWR, &request);
    } while (done < 0 && errno == EINTR);
    if (done == int(count))
        return true;

    const int code = done < 0 ? errno : EIO;
    // An unplugged USB bridge answers with one of these, or with any other
    // error once the kernel no longer lists the bus.
    if (code == ENODEV || code == ESHUTDOWN || !listedByKernel()) {
        m_gone = true;
        m_goneText = QStringLiteral("%1 is gone (%2)").arg(idText(), errnoText(code));
        return false;
    }
    err = failureText(code, address, out, in);
    return false;
}

bool I2cDevDongle::hwReadRegister(QString &err, unsigned short address, const QByteArray &regAddr,
                                  QByteArray &regValue, QByteArray &buffer, unsigned char flags)
{
    Q_UNUSED(regValue);
    Q_UNUSED(flags);
    return transfer(err, address, regAddr, &buffer);
}

bool I2cDevDongle::hwWriteRegister(QString &err, unsigned short address, const QByteArray &regAddr,
                                   const QByteArray &regValue, const QByteArray &buffer,
                                   unsigned char flags)
{
    Q_UNUSED(regValue);
    Q_UNUSED(flags);
    return transfer(err, address, regAddr + buffer, nullptr);
}

bool I2cDevDongle::hwReadPacket(QString &err, unsigned short address, const QByteArray &regAddr,
                                QByteArray &data)
{
    const QByteArray request = regAddr + Utils::uintToHexBA(unsigned(data.size()), 4) + data;
    // The chip answers a full packet, whatever was asked for.
    data = QByteArray(PacketReplySize, '\0');
    return transfer(err, address, request, &data);
}

bool I2cDevDongle::hwWritePacket(QString &err, unsigned short address, const QByteArray &regAddr,
                                 const QByteArray &command, const QByteArray &data)
{
    QByteArray message = regAddr + command;
    if (!data.isEmpty())
        message += Utils::uintToHexBA(unsigned(data.size()), 4) + data;
    return transfer(err, address, message, nullptr);
}

} // namespace Dongles
