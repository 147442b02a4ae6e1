#include "media/GlobalData.h"

#include "TestSupport.h"
#include "base/JsonFile.h"
#include "media/AudioMixSink.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QJsonArray>

namespace {

class GlobalDataTest : public ::testing::Test {
protected:
    void SetUp() override { registry->load(); } // no file in the fresh home: starts empty

    QString file() const { return home.savePath() + "/source_contents.json"; }
    QJsonObject stored() const { return JsonFile::load(file()); }

    testsupport::TempHome home;
    GlobalData* registry = GlobalData::instance();
};

QJsonObject source(const char* name, const char* mix, const char* label)
{
    return { { "source", name }, { "mix_type", mix }, { "pattern_name", label } };
}

} // namespace

TEST_F(GlobalDataTest, LoadKeepsOnlyCompleteRecordsAndSaveWritesThemBack)
{
    ASSERT_TRUE(QFile::copy(PANOPTRA_TEST_DATA_DIR "/model/source_contents.json", file()));
    registry->load();

    EXPECT_EQ(registry->getAudioMixType("1", "CAM-A (cam1)"), "follow");
    EXPECT_EQ(registry->getPatternName("1", "CAM-A (cam1)"), "Camera_3");
    EXPECT_EQ(registry->getPatternName("1", "CAM-B (cam2)"), ""); // no "pattern_name": skipped
    EXPECT_EQ(registry->getAudioMixType("1", "CAM-C (cam3)"), ""); // a number reads as empty
    EXPECT_EQ(registry->getPatternName("1", "CAM-C (cam3)"), "Host");
    EXPECT_EQ(registry->getPatternName("3", "OLD"), ""); // a later record of a program replaces it
    EXPECT_EQ(registry->getPatternName("3", "NEW"), "new");

    ASSERT_TRUE(registry->setAudioMixType("1", "CAM-A (cam1)", "always"));
    const QJsonObject expected { { "data",
        QJsonArray {
            QJsonObject { { "pro_id", "1" },
                { "sources",
                    QJsonArray { source("CAM-A (cam1)", "always", "Camera_3"), source("CAM-C (cam3)", "", "Host") } } },
            QJsonObject { { "pro_id", "3" }, { "sources", QJsonArray { source("NEW", "close", "new") } } },
        } } };
    EXPECT_EQ(stored(), expected);
}

TEST_F(GlobalDataTest, MixTypeSurvivesReloadButUsersDoNot)
{
    ASSERT_TRUE(registry->setSrcId("1", "CAM", "pos3"));
    ASSERT_TRUE(registry->setAudioMixType("1", "CAM", "follow"));
    registry->load();
    EXPECT_EQ(registry->getAudioMixType("1", "CAM"), "follow");
    EXPECT_EQ(registry->getSrcCount("1", "CAM"), 0);
}

TEST_F(GlobalDataTest, UserIdsAreASetAndRemovingCreatesAnEmptyEntry)
{
    EXPECT_TRUE(registry->setSrcId("1", "CAM", "a"));
    EXPECT_TRUE(registry->setSrcId("1", "CAM", "a"));
    EXPECT_EQ(registry->getSrcCount("1", "CAM"), 1);
    EXPECT_TRUE(registry->removeSrcId("1", "CAM", "b"));
    EXPECT_EQ(registry->getSrcCount("1", "CAM"), 1);

    EXPECT_TRUE(registry->removeSrcId("2", "OTHER", "a"));
    ASSERT_TRUE(registry->setPatternName("1", "CAM", "Camera_1"));
    const QJsonArray programs = stored().value("data").toArray();
    ASSERT_EQ(programs.size(), 2);
    EXPECT_EQ(programs.at(1).toObject(),
        (QJsonObject { { "pro_id", "2" }, { "sources", QJsonArray { source("OTHER", "", "") } } }));
}

TEST_F(GlobalDataTest, SinksAreKeptPerBusAndReleasedByDestroy)
{
    auto sink = std::make_shared<AudioMixSink>(1);
    std::weak_ptr<AudioMixSink> watch = sink;

    EXPECT_TRUE(registry->setAudioSink("1", "CAM", "PVW", sink)); // bus names are exact
    EXPECT_EQ(registry->getAudioSink("1", "CAM", "PVW"), nullptr);
    EXPECT_EQ(registry->getAudioSink("1", "CAM", "pvw"), nullptr);

    EXPECT_TRUE(registry->setAudioSink("1", "CAM", "pvw", sink));
    EXPECT_EQ(registry->getAudioSink("1", "CAM", "pvw"), sink);
    EXPECT_EQ(registry->getAudioSink("1", "CAM", "pgm"), nullptr);
    EXPECT_TRUE(registry->setAudioMixType("1", "CAM", "always"));
    sink.reset();

    registry->destroy();
    EXPECT_TRUE(watch.expired());
    EXPECT_EQ(registry->getAudioMixType("1", "CAM"), "always");

    EXPECT_TRUE(registry->removeAudioSink("9", "NONE", "pvw")); // creates no entry
    EXPECT_EQ(registry->getSrcCount("9", "NONE"), 0);
    ASSERT_TRUE(registry->setPatternName("1", "CAM", "x"));
    EXPECT_EQ(stored().value("data").toArray().size(), 1);
}

TEST_F(GlobalDataTest, EmptyKeysAreRefusedWithoutWriting)
{
    auto sink = std::make_shared<AudioMixSink>(1);
    EXPECT_FALSE(registry->setPatternName("", "CAM", "x"));
    EXPECT_FALSE(registry->setAudioMixType("1", "", "always"));
    EXPECT_FALSE(registry->setAudioSink("1", "CAM", "", sink));
    EXPECT_FALSE(registry->removeAudioSink("", "CAM", "pvw"));
    EXPECT_FALSE(registry->setSrcId("1", "CAM", ""));
    EXPECT_FALSE(registry->removeSrcId("1", "", "a"));
    EXPECT_FALSE(QFile::exists(file()));
    EXPECT_EQ(registry->getSrcCount("1", "CAM"), 0);
    EXPECT_EQ(registry->getAudioSink("", "CAM", "pvw"), nullptr);
}
