// Replays a fuzz target's seed corpus and every input that once broke it, compiled with the normal toolchain,
// so the whole suite (and its sanitizer run) keeps those inputs honest without libFuzzer.
#include "support/scratchapp.h"

#include <QDir>
#include <QFile>
#include <QtTest>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);
extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) __attribute__((weak));

class TestFuzzReplay : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        if (LLVMFuzzerInitialize) {
            int argc = 0;
            char **argv = nullptr;
            LLVMFuzzerInitialize(&argc, &argv);
        }
    }

    void replay_data()
    {
        QTest::addColumn<QString>("file");
        int rows = 0;
        for (const char *kind : {"corpus", "regress"}) {
            const QDir dir(sourceDir() + QStringLiteral("/fuzz/") + QLatin1String(kind) + QLatin1Char('/')
                + QLatin1String(FUZZ_TARGET_NAME));
            for (const QString &name : dir.entryList(QDir::Files, QDir::Name)) {
                QTest::newRow(qPrintable(QLatin1String(kind) + QLatin1Char('/') + name)) << dir.filePath(name);
                ++rows;
            }
        }
        QVERIFY2(rows > 0, "no seed inputs found for " FUZZ_TARGET_NAME);
    }

    void replay()
    {
        QFETCH(QString, file);
        QFile f(file);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        // A failing input aborts inside the target with its own message.
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(bytes.constData()), size_t(bytes.size()));
    }
};

QTEST_GUILESS_MAIN(TestFuzzReplay)
#include "fuzzreplay.moc"
