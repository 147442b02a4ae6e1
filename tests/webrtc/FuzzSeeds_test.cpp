// Replays the fuzz target's seed corpus (RFC 5769 vectors and datagrams
// captured from Chromium) through the same entry point the fuzzer drives,
// in the sanitizer build: a crash or sanitizer report fails the test.
#include "../../fuzz/TransportFuzzTarget.cpp" // NOLINT(bugprone-suspicious-include): the fuzzer's own entry point, built in

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

TEST(FuzzSeeds, EverySeedRunsCleanlyThroughTheTransportTarget)
{
    const QDir dir(PANOPTRA_TEST_DATA_DIR "/fuzz/transport");
    const QStringList seeds = dir.entryList(QDir::Files);
    ASSERT_GE(seeds.size(), 5);
    for (int round = 0; round < 3; ++round) // the session keeps state between inputs
        for (const QString& name : seeds) {
            QFile f(dir.filePath(name));
            ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << name.toStdString();
            const QByteArray bytes = f.readAll();
            EXPECT_EQ(
                LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.constData()), size_t(bytes.size())), 0)
                << name.toStdString();
        }
}
