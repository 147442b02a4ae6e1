// A writer process saving the registry and a preset file in a tight loop is
// killed at random moments; every state file it leaves must still parse.
// The writer is this same executable, started with a filter that runs only
// the (otherwise disabled) writer case.
#include "TestSupport.h"
#include "base/Globals.h"
#include "base/JsonFile.h"
#include "media/GlobalData.h"
#include "model/LayoutTemplate.h"
#include "model/Preset.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <cstdio>
#include <limits>

namespace {

const char* const kWriterDirVar = "PANOPTRA_STATE_WRITER_DIR";

QString presetPath(const QString& savePath)
{
    return savePath + "/programs/program_1/presets/preset_1.json";
}

} // namespace

TEST(StateFileWriter, DISABLED_SavesUntilKilled)
{
    const QString dir = qEnvironmentVariable(kWriterDirVar);
    if (dir.isEmpty())
        GTEST_SKIP() << "runs only as the child of the kill test";
    g_savePath = dir;
    GlobalData* registry = GlobalData::instance();
    registry->load();
    const LayoutTemplate templates;
    // Bounded; the parent kills it long before the end.
    for (int i = 0; i < 100000; ++i) {
        // The texts change length from save to save, so a torn write would
        // leave a truncated or mixed file behind.
        registry->setPatternName("1", QString("CAM-%1").arg(i % 40), QString("Camera_%1").arg(i * 7919));
        QJsonObject layout = templates.getSelecctTemplate(QString::number(i % 11 + 1));
        layout.insert("layout_id", "1");
        Preset preset;
        preset.setLayoutJson("1", layout);
        ASSERT_TRUE(JsonFile::save(presetPath(dir), preset.writePresetFile()));
        std::printf("saved %d\n", i);
        std::fflush(stdout);
    }
}

TEST(StateFileKill, KilledWriterNeverLeavesABrokenFile)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const quint32 seed = QRandomGenerator::global()->generate();
    SCOPED_TRACE(testing::Message() << "seed " << seed);
    QRandomGenerator random(seed);

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(kWriterDirVar, dir.path());
    const QStringList args { "--gtest_also_run_disabled_tests", "--gtest_filter=StateFileWriter.*" };
    const QStringList files { dir.path() + "/source_contents.json", presetPath(dir.path()) };

    constexpr int kRounds = 8;
    int kills = 0;
    for (int round = 0; round < kRounds; ++round) {
        QProcess writer;
        writer.setProcessEnvironment(env);
        writer.start(QCoreApplication::applicationFilePath(), args);
        ASSERT_TRUE(writer.waitForStarted());

        // Kill after a random number of completed saves, at whatever point
        // of the next save the writer happens to be. No deadline: the writer
        // either gets there or ends.
        const int target = random.bounded(1, 40);
        QByteArray output;
        const bool reached = testsupport::waitFor(
            [&] {
                output += writer.readAllStandardOutput();
                return output.count("saved ") >= target || writer.state() == QProcess::NotRunning;
            },
            std::numeric_limits<int>::max());
        writer.kill();
        writer.waitForFinished(testsupport::budgetMs(10000));
        ASSERT_TRUE(reached && output.count("saved ") >= target) << output.toStdString();
        ++kills;

        for (const QString& path : files) {
            bool ok = false;
            const QJsonObject obj = JsonFile::load(path, &ok);
            ASSERT_TRUE(ok) << "round " << round << ": " << path.toStdString();
            EXPECT_TRUE(obj.contains("data") || obj.contains("videos")) << path.toStdString();
        }
    }
    EXPECT_EQ(kills, kRounds);
}
