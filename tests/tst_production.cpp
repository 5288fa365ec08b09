#include "testenv.h"

#include "devices/production.h"

#include <QFile>
#include <QTemporaryDir>

using Sections = QMap<QString, QVariantMap>;

namespace {

const QString dat = QStringLiteral(":0x70:bvr60600");

QByteArray fileContent(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

bool writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size();
}

const QString parseFailed = QStringLiteral("Production::fwImageParse, failed parsing");

} // namespace

class TestProduction : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    Production m_production;

    QString path(const QString &name) const { return m_dir.filePath(name); }

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    // The groups may sit anywhere in the key, but their case must match.
    void keepsOnlyProductionEntries_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<bool>("kept");
        QTest::addRow("alias") << "alias" << false;
        QTest::addRow("header") << "header/serial" << true;
        QTest::addRow("data") << "data/trim" << true;
        QTest::addRow("fw") << "fw/crc32" << true;
        QTest::addRow("group inside the key") << "myfw/x" << true;
        QTest::addRow("group name without slash") << "header" << false;
        QTest::addRow("other case") << "Header/serial" << false;
    }

    void keepsOnlyProductionEntries()
    {
        QFETCH(QString, key);
        QFETCH(bool, kept);
        const QString file = path(QStringLiteral("keys.prd"));
        const QVariantMap fw{{QStringLiteral("fw/image"), QByteArray("\x78\x56\x34\x12")}};
        QVariantMap state = fw;
        state.insert(key, QStringLiteral("v"));
        QVERIFY(m_production.write(file, {{QStringLiteral("FT01:0x70:bvr60600"), state}}));

        QVariantMap expected = fw;
        if (kept)
            expected.insert(key, QStringLiteral("v"));
        Sections read;
        QVERIFY(m_production.read(file, read));
        QCOMPARE(read, Sections({{dat, expected}}));
    }

    void fileText()
    {
        const QString file = path(QStringLiteral("text.prd"));
        QVERIFY(m_production.write(file, {{dat, {{QStringLiteral("alias"), QStringLiteral("A")},
                                                  {QStringLiteral("header/serial"), QStringLiteral("S1")},
                                                  {QStringLiteral("fw/crc32"), QStringLiteral("FFFFFFFF")}}},
                                           {QStringLiteral(":0x71:bvr60600"), {{QStringLiteral("alias"), QStringLiteral("B")}}}}));
        // A device with nothing for production has no section.
        QCOMPARE(fileContent(file),
                 QByteArray("[_0x70_bvr60600]\nfw\\crc32=FFFFFFFF\nheader\\serial=S1\n"));
    }

    // Entries a production file should not hold are not read from one.
    void readSkipsOtherEntries()
    {
        const QString file = path(QStringLiteral("hand.prd"));
        QVERIFY(writeFile(file, "[_0x70_bvr60600]\nalias=A\n[_0x70_bvr60600/data]\ntrim=3\n[Board]\nfw\\x=1\n"));
        Sections read{{QStringLiteral(":0x71:bvr60600"), {{QStringLiteral("alias"), QStringLiteral("kept")}}}};
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("section Board does not name a device")));
        QVERIFY(m_production.read(file, read));
        QCOMPARE(read, Sections({{dat, {{QStringLiteral("data/trim"), QStringLiteral("3")}}},
                                 {QStringLiteral(":0x71:bvr60600"), {{QStringLiteral("alias"), QStringLiteral("kept")}}}}));
    }

    void refusedFiles()
    {
        const QString url = QUrl::fromLocalFile(path(QStringLiteral("u.prd"))).toString();
        QTest::ignoreMessage(QtWarningMsg, qPrintable(QStringLiteral("Production::write, failed writing to ") + url));
        QVERIFY(!m_production.write(url, {{dat, {{QStringLiteral("fw/a"), 1}}}}));
        Sections read;
        QTest::ignoreMessage(QtWarningMsg, qPrintable(QStringLiteral("Production::read, failed reading from ") + url));
        QVERIFY(!m_production.read(url, read));
        const QString missing = path(QStringLiteral("missing.prd"));
        QTest::ignoreMessage(QtWarningMsg, qPrintable(QStringLiteral("Production::read, failed reading from ") + missing));
        QVERIFY(!m_production.read(missing, read));
        QVERIFY(read.isEmpty());
    }

    // A failed save leaves the previous production file as it was.
    void failedSaveKeepsOldFile()
    {
        const QString file = path(QStringLiteral("old.prd"));
        QVERIFY(m_production.write(file, {{dat, {{QStringLiteral("fw/a"), QStringLiteral("old")}}}}));
        const QByteArray old = fileContent(file);
        const QString under = file + QStringLiteral("/new.prd");
        QTest::ignoreMessage(QtWarningMsg, qPrintable(QStringLiteral("Production::write, failed writing to ") + under));
        QVERIFY(!m_production.write(under, {{dat, {{QStringLiteral("fw/a"), QStringLiteral("new")}}}}));
        QCOMPARE(fileContent(file), old);
    }

    void fwImageParse_data()
    {
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<int>("entries");
        QTest::addColumn<QByteArray>("image");
        QTest::addColumn<QString>("crc");
        const auto image = [](const QStringList &words, const QString &length, const QString &crc) {
            return QStringList{QStringLiteral("MAGIC"), QStringLiteral("v1.2")} << length << words << crc
                                                                               << QString();
        };
        QTest::addRow("four lines")
            << QStringList{QStringLiteral("MAGIC"), QStringLiteral("v1"), QStringLiteral("1"), QStringLiteral("FFFFFFFF")}
            << false << 0 << QByteArray() << QString();
        QTest::addRow("no image, CRC of nothing")
            << image({}, QStringLiteral("1"), QStringLiteral("FFFFFFFF")) << true << 5 << QByteArray() << "FFFFFFFF";
        QTest::addRow("no image, wrong CRC")
            << image({}, QStringLiteral("1"), QStringLiteral("0")) << false << 5 << QByteArray() << "0";
        QTest::addRow("length 0 is no image")
            << image({}, QStringLiteral("0"), QStringLiteral("ffffffff")) << true << 5 << QByteArray() << "ffffffff";
        QTest::addRow("length not hexadecimal")
            << image({}, QStringLiteral("zz"), QStringLiteral("FFFFFFFF")) << true << 5 << QByteArray() << "FFFFFFFF";
        QTest::addRow("one word")
            << image({QStringLiteral("12345678")}, QStringLiteral("2"), QStringLiteral("DF8A8A2B")) << true << 5
            << QByteArray("\x78\x56\x34\x12") << "DF8A8A2B";
        QTest::addRow("two words, prefixed CRC")
            << image({QStringLiteral("12345678"), QStringLiteral("deadbeef")}, QStringLiteral("3"),
                     QStringLiteral("0xD92B271B"))
            << true << 5 << QByteArray("\x78\x56\x34\x12\xef\xbe\xad\xde") << "0xD92B271B";
        QTest::addRow("two words, mismatched CRC")
            << image({QStringLiteral("12345678"), QStringLiteral("deadbeef")}, QStringLiteral("3"),
                     QStringLiteral("DF8A8A2B"))
            << false << 5 << QByteArray("\x78\x56\x34\x12\xef\xbe\xad\xde") << "DF8A8A2B";
        // The length comes from the file: it must not lead past the lines.
        QTest::addRow("length one past the lines")
            << image({QStringLiteral("12345678")}, QStringLiteral("4"), QStringLiteral("DF8A8A2B")) << false << 3
            << QByteArray() << QString();
        QTest::addRow("huge length")
            << image({QStringLiteral("12345678")}, QStringLiteral("FFFFFFFF"), QStringLiteral("DF8A8A2B")) << false << 3
            << QByteArray() << QString();
    }

    void fwImageParse()
    {
        QFETCH(QStringList, lines);
        QFETCH(bool, ok);
        QFETCH(int, entries);
        QFETCH(QByteArray, image);
        QFETCH(QString, crc);
        if (!ok)
            QTest::ignoreMessage(QtWarningMsg, qPrintable(parseFailed));
        QVariantMap fw;
        QCOMPARE(m_production.fwImageParse(lines, fw), ok);
        QCOMPARE(fw.size(), entries);
        if (entries == 0)
            return;
        QCOMPARE(fw.value(QStringLiteral("fw/magicNumber")).toString(), lines.at(0));
        QCOMPARE(fw.value(QStringLiteral("fw/internalVersion")).toString(), lines.at(1));
        QCOMPARE(fw.value(QStringLiteral("fw/length")).toString(), lines.at(2));
        if (entries == 5) {
            QCOMPARE(fw.value(QStringLiteral("fw/image")).toByteArray(), image);
            QCOMPARE(fw.value(QStringLiteral("fw/crc32")).toString(), crc);
        }
    }

    void mismatchIsExplained()
    {
        const QStringList lines{QStringLiteral("M"), QStringLiteral("V"), QStringLiteral("2"),
                                QStringLiteral("12345678"), QStringLiteral("1")};
        QTest::ignoreMessage(QtDebugMsg, "Production::fwImageParse mismatched crc, imageOnlySizeInBytes=0x00000004, "
                                         "imageOnlySizeWord32=0x00000001, storedCrc=0x00000001, "
                                         "calculatedCrc=0xdf8a8a2b");
        QTest::ignoreMessage(QtWarningMsg, qPrintable(parseFailed));
        QVariantMap fw;
        QVERIFY(!m_production.fwImageParse(lines, fw));
    }

    void loadedImageParses()
    {
        const QString file = path(QStringLiteral("image.txt"));
        QVERIFY(writeFile(file, "MAGIC\nv1\n3\n12345678\nDEADBEEF\nD92B271B\n"));
        const QStringList lines = m_production.fwImageLoad(file);
        QCOMPARE(lines.size(), 7);
        QVariantMap fw;
        QVERIFY(m_production.fwImageParse(lines, fw));

        const QString missing = path(QStringLiteral("missing.txt"));
        QTest::ignoreMessage(QtWarningMsg,
                             qPrintable(QStringLiteral("Production::fwImageLoad, failed reading from ") + missing));
        QVERIFY(m_production.fwImageLoad(missing).isEmpty());
    }
};

PANEL_TEST_MAIN(TestProduction)
#include "tst_production.moc"
