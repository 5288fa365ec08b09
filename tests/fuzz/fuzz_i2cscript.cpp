// Fuzz target for the I2C script language: any bytes, taken as a script,
// must validate and run on a simulated slave without crash, hang or
// out-of-range access. Built two ways:
//  - with clang and -fsanitize=fuzzer as a libFuzzer target (scripts/fuzz.sh);
//  - with any compiler as a replayer that runs every file of a corpus folder
//    (the CTest "fuzz_i2cscript_corpus"), so the corpus guards the suite.

#include "i2c/i2cscript.h"
#include "i2c/i2cworker.h"
#include "i2c/vslave.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdio>
#include <memory>

namespace {

class FuzzSlave : public VSlave
{
public:
    using VSlave::VSlave;
    QString myType() const override { return QStringLiteral("fuzzchip"); }
};

struct Harness
{
    QTemporaryDir home;
    std::unique_ptr<QCoreApplication> app;
    std::unique_ptr<I2cWorker> worker;
    const QString dat = QStringLiteral(":0x70:fuzzchip");

    Harness()
    {
        // Never touch the user's settings store.
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.path()));
        qputenv("XDG_DATA_HOME", QFile::encodeName(home.path()));
        static int argc = 1;
        static char name[] = "fuzz_i2cscript";
        static char *argv[] = { name, nullptr };
        app = std::make_unique<QCoreApplication>(argc, argv);
        worker = std::make_unique<I2cWorker>();
        worker->setVSlaveFactory([](const QString &d) -> VSlave * { return new FuzzSlave(d); });
        worker->doVirtualSlave(QString(), dat, true);
    }
};

Harness &harness()
{
    static Harness h;
    return h;
}

void runOne(const uint8_t *data, size_t size)
{
    Harness &h = harness();
    const QString text =
        QString::fromLatin1(reinterpret_cast<const char *>(data), qsizetype(size));
    const QStringList lines = text.split(QLatin1Char('\n'));

    QString err;
    (void)I2cScript::canParseScript(err, lines);

    // Waits sleep for a second or more: keep the fuzzer fast by leaving them
    // out; everything else runs exactly as in the program.
    QStringList runnable;
    for (const QString &line : lines) {
        if (I2cScript::compileLine(line).kind != I2cScript::ScriptLine::WaitMs)
            runnable << line;
    }
    h.worker->doRunScript(QStringLiteral("fuzz"), h.dat, runnable);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    runOne(data, size);
    return 0;
}

#ifndef PANEL_LIBFUZZER
int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s CORPUS_DIR...\n", argv[0]);
        return 2;
    }
    int files = 0;
    for (int i = 1; i < argc; ++i) {
        QDir dir(QString::fromLocal8Bit(argv[i]));
        for (const QFileInfo &info : dir.entryInfoList(QDir::Files, QDir::Name)) {
            QFile file(info.filePath());
            if (!file.open(QIODevice::ReadOnly))
                return 1;
            const QByteArray bytes = file.readAll();
            runOne(reinterpret_cast<const uint8_t *>(bytes.constData()), size_t(bytes.size()));
            ++files;
        }
    }
    std::printf("%d corpus files ran\n", files);
    return files > 0 ? 0 : 1;
}
#endif
