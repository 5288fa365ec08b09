#include "testenv.h"

#include "devices/project.h"
#include "utils/utils.h"

#include <QDir>
#include <QFile>
#include <QDeadlineTimer>
#include <QFileInfo>
#include <QProcess>
#include <QScopeGuard>
#include <QSettings>
#include <QTemporaryDir>

#include <algorithm>

#include <unistd.h>

using Sections = QMap<QString, QVariantMap>;
Q_DECLARE_METATYPE(Sections)

namespace {

const QString dat = QStringLiteral(":0x70:bvr60600");
const QString otherDat = QStringLiteral(":0x71:bvr60600");

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

} // namespace

class TestProject : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    Project m_project;

    QString path(const QString &name) const { return m_dir.filePath(name); }

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    // Values come back as the INI notation gives them: scalars as text,
    // everything else, lists included, exactly as saved. Project::read parses
    // a private copy, so nothing here can come from the store's in-process
    // cache of what was just written.
    void valueRoundTrip_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<QVariant>("expected");
        const QVariant text(QStringLiteral("Board A"));
        QTest::addRow("text") << "alias" << text << text;
        const QVariant comma(QStringLiteral("a, b"));
        QTest::addRow("text with a comma") << "alias" << comma << comma;
        const QVariant at(QStringLiteral("@Variant(x)"));
        QTest::addRow("text starting with @") << "alias" << at << at;
        const QVariant comment(QStringLiteral("; not a comment = \"quoted\""));
        QTest::addRow("text with INI syntax") << "alias" << comment << comment;
        QTest::addRow("bool as text") << "autoPwm" << QVariant(true) << QVariant(QStringLiteral("true"));
        QTest::addRow("int as text") << "voutControl" << QVariant(60) << QVariant(QStringLiteral("60"));
        QTest::addRow("double as text") << "vout" << QVariant(0.1) << QVariant(QStringLiteral("0.1"));
        const QVariant ints(QVariantList{1, 2, 3});
        QTest::addRow("int list") << "rails" << ints << ints;
        const QVariant mixed(QVariantList{1, QStringLiteral("x"), true, 2.5});
        QTest::addRow("mixed list") << "rails" << mixed << mixed;
        const QVariant empty{QVariantList{}};
        QTest::addRow("empty list") << "rails" << empty << empty;
        const QVariant one(QVariantList{5});
        QTest::addRow("list of one") << "rails" << one << one;
        const QVariant nested(QVariantList{QVariantList{1, 2}});
        QTest::addRow("list holding a list") << "rails" << nested << nested;
        const QVariant texts(QStringList{QStringLiteral("a"), QStringLiteral("b,c")});
        QTest::addRow("text list") << "notes_dirty" << texts << texts;
        const QVariant oneText(QStringList{QString()});
        QTest::addRow("text list of one empty text") << "notes_dirty" << oneText << oneText;
        const QVariant map(QVariantMap{{QStringLiteral("a"), 1}, {QStringLiteral("b"), QVariantList{1, 2}}});
        QTest::addRow("map") << "limits" << map << map;
        const QVariant bytes(QByteArray("\x00\xff\n", 3));
        QTest::addRow("bytes") << "blob" << bytes << bytes;
        QTest::addRow("key in a group") << "header/serial" << text << text;
    }

    void valueRoundTrip()
    {
        QFETCH(QString, key);
        QFETCH(QVariant, value);
        QFETCH(QVariant, expected);
        const QString file = path(QStringLiteral("roundtrip.cfg"));
        QString err;
        QVERIFY(m_project.write(file, {{dat, {{key, value}}}}, err));
        QVERIFY(err.isEmpty());

        Sections read;
        QVERIFY2(m_project.read(file, read, err), qPrintable(err));
        QCOMPARE(read.keys(), QStringList{dat});
        const QVariant got = read.value(dat).value(key);
        QCOMPARE(QByteArray(got.typeName()), QByteArray(expected.typeName()));
        QCOMPARE(got, expected);
    }

    void fileText()
    {
        const QString file = path(QStringLiteral("text.cfg"));
        QString err;
        QVERIFY(m_project.write(file,
                                {{dat, {{QStringLiteral("alias"), QStringLiteral("Board A")},
                                        {QStringLiteral("autoPwm"), true}}},
                                 {otherDat, {}}},
                                err));
        // A device without entries has no section.
        QCOMPARE(fileContent(file), QByteArray("[_0x70_bvr60600]\nalias=Board A\nautoPwm=true\n"));
    }

    void namedAdapterComesBackWithout()
    {
        const QString file = path(QStringLiteral("adapter.cfg"));
        QString err;
        QVERIFY(m_project.write(file, {{QStringLiteral("FT01:0x70:bvr60600"), {{QStringLiteral("alias"), QStringLiteral("A")}}}},
                                err));
        Sections read;
        QVERIFY(m_project.read(file, read, err));
        QCOMPARE(read, Sections({{dat, {{QStringLiteral("alias"), QStringLiteral("A")}}}}));
    }

    // Reading replaces the states of the file's devices and keeps the others.
    void readMergesByDevice()
    {
        const QString file = path(QStringLiteral("merge.cfg"));
        QString err;
        QVERIFY(m_project.write(file, {{dat, {{QStringLiteral("alias"), QStringLiteral("new")}}}}, err));
        Sections sections{{dat, {{QStringLiteral("alias"), QStringLiteral("old")}, {QStringLiteral("stale"), 1}}},
                          {otherDat, {{QStringLiteral("alias"), QStringLiteral("kept")}}}};
        QVERIFY(m_project.read(file, sections, err));
        QCOMPARE(sections, Sections({{dat, {{QStringLiteral("alias"), QStringLiteral("new")}}},
                                     {otherDat, {{QStringLiteral("alias"), QStringLiteral("kept")}}}}));
    }

    // Saving replaces the whole file: nothing of the old content survives,
    // even content the settings store itself cannot parse.
    void writeReplacesEverything_data()
    {
        QTest::addColumn<QByteArray>("old");
        QTest::addRow("other devices") << QByteArray("[_0x71_bvr60600]\nalias=B\n[_0x70_bvr60600]\nx=1\n");
        QTest::addRow("malformed INI") << QByteArray("[_0x70_bvr60600\nx=1\n");
        QTest::addRow("binary") << QByteArray("\x00\x01\xfe[\xff]\n=\x80", 9);
    }

    void writeReplacesEverything()
    {
        QFETCH(QByteArray, old);
        const QString file = path(QStringLiteral("replace.cfg"));
        QVERIFY(writeFile(file, old));
        QString err;
        QVERIFY2(m_project.write(file, {{dat, {{QStringLiteral("alias"), QStringLiteral("A")}}}}, err), qPrintable(err));
        QCOMPARE(fileContent(file), QByteArray("[_0x70_bvr60600]\nalias=A\n"));

        QVERIFY(m_project.write(file, {}, err));
        QCOMPARE(fileContent(file), QByteArray());
        QVERIFY(QFileInfo::exists(file));
    }

    // The store caches files by name within the process and re-reads one only
    // when its size or time stamp changes.
    void readSeesReplacedFileOfSameSizeAndTime()
    {
        const QString file = path(QStringLiteral("same.cfg"));
        QVERIFY(writeFile(file, "[_0x70_bvr60600]\nalias=A\n"));
        const QDateTime stamp = QFileInfo(file).lastModified();
        Sections first;
        QString err;
        QVERIFY(m_project.read(file, first, err));
        QVERIFY(writeFile(file, "[_0x70_bvr60600]\nalias=B\n"));
        QFile touched(file);
        QVERIFY(touched.open(QIODevice::ReadWrite));
        QVERIFY(touched.setFileTime(stamp, QFileDevice::FileModificationTime));
        touched.close();
        Sections second;
        QVERIFY(m_project.read(file, second, err));
        QCOMPARE(second.value(dat).value(QStringLiteral("alias")).toString(), QStringLiteral("B"));
    }

    void fileUrlRefused()
    {
        const QString file = QUrl::fromLocalFile(path(QStringLiteral("url.cfg"))).toString();
        QString err;
        QTest::ignoreMessage(QtWarningMsg, qPrintable(QStringLiteral("Project::write, failed writing to ") + file));
        QVERIFY(!m_project.write(file, {{dat, {{QStringLiteral("alias"), QStringLiteral("A")}}}}, err));
        QVERIFY(!err.isEmpty());
        QVERIFY(!QFileInfo::exists(path(QStringLiteral("url.cfg"))));

        QVERIFY(writeFile(path(QStringLiteral("url.cfg")), "[_0x70_bvr60600]\nalias=A\n"));
        err.clear();
        Sections sections;
        QTest::ignoreMessage(QtWarningMsg, qPrintable(QStringLiteral("Project::read, failed reading from ") + file));
        QVERIFY(!m_project.read(file, sections, err));
        QVERIFY(!err.isEmpty());
        QVERIFY(sections.isEmpty());
    }

    // A failed save reports why and leaves whatever was there untouched.
    void failedSaveKeepsOldFile_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("kept");
        QTest::addColumn<bool>("needsPermissions");
        QTest::addRow("folder does not exist") << "missing/p.cfg" << "old.cfg" << false;
        QTest::addRow("target is a folder") << "folder" << "folder/inside.cfg" << false;
        QTest::addRow("path under a file") << "old.cfg/p.cfg" << "old.cfg" << false;
        QTest::addRow("read-only file") << "old.cfg" << "old.cfg" << true;
        QTest::addRow("read-only folder") << "old.cfg" << "old.cfg" << true;
    }

    void failedSaveKeepsOldFile()
    {
        QFETCH(QString, target);
        QFETCH(QString, kept);
        QFETCH(bool, needsPermissions);
        if (needsPermissions && ::geteuid() == 0)
            QSKIP("root ignores file permissions");

        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("folder")));
        const QByteArray old("[_0x70_bvr60600]\nalias=old\n");
        QVERIFY(writeFile(dir.filePath(QStringLiteral("old.cfg")), old));
        QVERIFY(writeFile(dir.filePath(QStringLiteral("folder/inside.cfg")), old));
        const QString tag = QString::fromLatin1(QTest::currentDataTag());
        if (tag == QStringLiteral("read-only file"))
            QVERIFY(QFile::setPermissions(dir.filePath(kept), QFileDevice::ReadOwner));
        const QFileDevice::Permissions folderPermissions = QFile::permissions(dir.path());
        if (tag == QStringLiteral("read-only folder"))
            QVERIFY(QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        const QStringList before = QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);

        const QString file = dir.filePath(target);
        QString err;
        QTest::ignoreMessage(QtWarningMsg, qPrintable(QStringLiteral("Project::write, failed writing to ") + file));
        const bool written = m_project.write(file, {{dat, {{QStringLiteral("alias"), QStringLiteral("new")}}}}, err);
        const QStringList after = QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
        QFile::setPermissions(dir.path(), folderPermissions);
        QFile::setPermissions(dir.filePath(kept), QFileDevice::ReadOwner | QFileDevice::WriteOwner);

        QVERIFY(!written);
        QVERIFY2(err.contains(file), qPrintable(err));
        QCOMPARE(fileContent(dir.filePath(kept)), old);
        // No folder was created and no temporary file was left behind.
        QCOMPARE(after, before);
    }

    // Project files are user files: reading must neither crash nor hand the
    // device manager anything but well-formed DATs.
    void readUserFiles_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<Sections>("expected");
        QTest::addColumn<QString>("warning");
        const QVariantMap stateA{{QStringLiteral("alias"), QStringLiteral("A")}};
        QTest::addRow("empty") << QByteArray() << true << Sections() << QString();
        // The store would silently read nothing after the first NUL.
        QTest::addRow("binary") << QByteArray("[_0x70_bvr60600]\nalias=A\n\0\x01\x02[x]", 31) << false
                                << Sections() << QString();
        QTest::addRow("unterminated section name")
            << QByteArray("[_0x70_bvr60600\nalias=A\n") << false << Sections() << QString();
        QTest::addRow("section that is no DAT")
            << QByteArray("[Board]\nx=1\n[_0x70_bvr60600]\nalias=A\n") << true << Sections({{dat, stateA}})
            << QStringLiteral("section Board does not name a device");
        QTest::addRow("section with too many parts")
            << QByteArray("[_0x70_bvr60600_x]\nalias=A\n") << true << Sections()
            << QStringLiteral("section _0x70_bvr60600_x does not name a device");
        QTest::addRow("entries outside a section")
            << QByteArray("alias=B\n[_0x70_bvr60600]\nalias=A\n") << true << Sections({{dat, stateA}})
            << QStringLiteral("entries outside a device section are ignored: alias");
        QTest::addRow("sub-sections")
            << QByteArray("[_0x70_bvr60600]\nalias=A\n[_0x70_bvr60600/header]\nserial=7\n") << true
            << Sections({{dat, {{QStringLiteral("alias"), QStringLiteral("A")},
                                {QStringLiteral("header/serial"), QStringLiteral("7")}}}})
            << QString();
        // Stored variants of a type nobody knows, cut short, or a text
        // claiming a length far beyond the file.
        QTest::addRow("broken stored values")
            << QByteArray("[_0x70_bvr60600]\nalias=A\nx=@Variant(\\0\\0\\xff\\xf0)\ny=@Variant(\\0\\0\\0\\n)\n"
                          "z=@Variant(\\0\\0\\0\\n\\xff\\xff\\xff\\xf0)\nv=@ByteArray(\n")
            << true
            << Sections({{dat, {{QStringLiteral("alias"), QStringLiteral("A")}, {QStringLiteral("v"), {}},
                                {QStringLiteral("x"), {}}, {QStringLiteral("y"), {}}, {QStringLiteral("z"), {}}}}})
            << QString();
    }

    void readUserFiles()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, ok);
        QFETCH(Sections, expected);
        QFETCH(QString, warning);
        const QString file = path(QStringLiteral("user.cfg"));
        QVERIFY(writeFile(file, content));
        if (!warning.isEmpty())
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QRegularExpression::escape(warning)));
        if (!ok)
            QTest::ignoreMessage(QtWarningMsg, qPrintable(QStringLiteral("Project::read, failed reading from ") + file));

        Sections sections;
        QString err;
        QCOMPARE(m_project.read(file, sections, err), ok);
        QCOMPARE(err.isEmpty(), ok);
        QCOMPARE(sections.keys(), expected.keys());
        for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
            const QVariantMap got = sections.value(it.key());
            QCOMPARE(got.keys(), it.value().keys());
            QCOMPARE(got.value(QStringLiteral("alias")), it.value().value(QStringLiteral("alias")));
        }
    }

    // Whatever text a file holds, only well-formed DATs come out.
    void readTextGarbage()
    {
        QByteArray garbage("[_0x70_bvr60600]\nalias=A\n[a_b]\nx=1\n");
        for (int i = 0; i < 4096; ++i)
            garbage += char(std::max((i * 7919 + i / 13) & 0xff, 1));
        const QString file = path(QStringLiteral("garbage.cfg"));
        QVERIFY(writeFile(file, garbage));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("section a_b does not name a device")));
        Sections sections;
        QString err;
        QVERIFY2(m_project.read(file, sections, err), qPrintable(err));
        QCOMPARE(sections.value(dat).value(QStringLiteral("alias")).toString(), QStringLiteral("A"));
        for (auto it = sections.cbegin(); it != sections.cend(); ++it)
            QVERIFY2(Utils::goodDat(it.key()), qPrintable(it.key()));
    }

    // The limits that keep opening fast leave room for any real project:
    // the largest file accepted, with a device of the most entries accepted,
    // comes back whole.
    void largestAcceptedProjectReadsWhole()
    {
        QByteArray content;
        Sections expected;
        const QByteArray line("note0000=a note the user kept\n");
        const int others = int((Project::maxFileSize * 7 / 8 / line.size() - Project::maxEntriesPerDevice) / 111);
        for (int address = 0x08; address < 0x78; ++address) {
            const QString device = QStringLiteral(":0x%1:bvr60600").arg(address, 2, 16, QLatin1Char('0'));
            content += '[' + Utils::datToKey(device).toLatin1() + "]\n";
            const int entries = address == 0x08 ? Project::maxEntriesPerDevice : others;
            for (int i = 0; i < entries; ++i) {
                const QString key = QStringLiteral("note%1").arg(i);
                content += key.toLatin1() + "=a note the user kept\n";
                expected[device].insert(key, QStringLiteral("a note the user kept"));
            }
        }
        QVERIFY(content.size() <= Project::maxFileSize);
        QVERIFY(content.size() > Project::maxFileSize * 3 / 4);
        const QString file = path(QStringLiteral("largest.cfg"));
        QVERIFY(writeFile(file, content));
        Sections read;
        QString err;
        QVERIFY2(m_project.read(file, read, err), qPrintable(err));
        QCOMPARE(read, expected);
    }

    // Fault: a save killed mid-way left its staging folder in the temporary
    // folder (70 of 200 kills). Saves are killed in another process while
    // staging; the next save leaves the temporary folder as it found it, and
    // the target is a whole file throughout.
    void killedSaveLeavesNothingBehind()
    {
        const QString temp = path(QStringLiteral("temp"));
        const QString folder = path(QStringLiteral("killed"));
        QVERIFY(QDir().mkpath(temp) && QDir().mkpath(folder));
        const QString target = QDir(folder).filePath(QStringLiteral("p.cfg"));
        constexpr int entries = 400;
        const QByteArray previousTemp = qgetenv("TMPDIR");
        qputenv("TMPDIR", QFile::encodeName(temp));
        const auto restoreTemp = qScopeGuard([&previousTemp] { qputenv("TMPDIR", previousTemp); });
        const auto tempEntries = [&temp] {
            return QDir(temp).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
        };
        // Whatever the moment, the target holds every entry, all of one save.
        const auto checkTarget = [&] {
            Sections read;
            QVERIFY2(Project::readSections(target, {}, read).isEmpty(), qPrintable(target));
            const QVariantMap state = read.value(dat);
            QCOMPARE(state.size(), entries);
            const QVariant first = state.first();
            QVERIFY(std::all_of(state.cbegin(), state.cend(), [&first](const QVariant &v) { return v == first; }));
        };

        int killedWhileStaging = 0;
        for (int attempt = 0; attempt < 20 && killedWhileStaging < 3; ++attempt) {
            const QStringList before = tempEntries();
            QProcess saver;
            saver.start(QStringLiteral(PANEL_PROBE), {QStringLiteral("save"), target, QString::number(entries)});
            QVERIFY(saver.waitForReadyRead(30000)); // one whole save done
            QDeadlineTimer deadline(10000);
            QStringList now;
            while (!deadline.hasExpired()) {
                now = tempEntries();
                if (std::any_of(now.cbegin(), now.cend(), [&before](const QString &e) { return !before.contains(e); }))
                    break;
            }
            saver.kill();
            QVERIFY(saver.waitForFinished(10000));
            if (!deadline.hasExpired())
                ++killedWhileStaging;
            checkTarget();
        }
        QCOMPARE(killedWhileStaging, 3);

        QString err;
        QVERIFY2(m_project.write(target, {{dat, {{QStringLiteral("alias"), QStringLiteral("after")}}}}, err), qPrintable(err));
        QVERIFY2(tempEntries().isEmpty(), qPrintable(tempEntries().join(QLatin1Char(' '))));
        QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList{QStringLiteral("p.cfg")});
    }

    void readRefusesWhatIsNoProjectFile_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addRow("does not exist") << "nothing.cfg";
        QTest::addRow("a folder") << "afolder";
        QTest::addRow("too large") << "huge.cfg";
    }

    void readRefusesWhatIsNoProjectFile()
    {
        QFETCH(QString, name);
        QVERIFY(QDir(m_dir.path()).mkpath(QStringLiteral("afolder")));
        {
            // Sparse: no disk space is used and, refused by its size, it is never read.
            QFile huge(path(QStringLiteral("huge.cfg")));
            QVERIFY(huge.open(QIODevice::WriteOnly));
            QVERIFY(huge.resize(Project::maxFileSize + 1));
        }
        const QString file = path(name);
        Sections sections{{dat, {{QStringLiteral("alias"), QStringLiteral("kept")}}}};
        const Sections before = sections;
        QString err;
        QTest::ignoreMessage(QtWarningMsg, qPrintable(QStringLiteral("Project::read, failed reading from ") + file));
        QVERIFY(!m_project.read(file, sections, err));
        QVERIFY2(err.contains(file), qPrintable(err));
        QCOMPARE(sections, before);
    }
};

PANEL_TEST_MAIN(TestProject)
#include "tst_project.moc"
