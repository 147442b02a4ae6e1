// Which sources a mix takes by their mix type, "follow" tracking the mix's
// video source, and the labels the mixer stores for its program.
#include "AudioOutputMixer.h"

#include "GlobalData.h"
#include "Globals.h"
#include "JsonFile.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QSignalSpy>

namespace {

TEST(AudioOutputMixer, SourcesEnterTheMixByTheirMixType)
{
    testsupport::TempHome home;
    GlobalData* registry = GlobalData::instance();
    AudioOutputMixer mixer("pgm", 48000, 2, 16, 10);
    mixer.setProId("41");
    registry->setAudioMixType("41", "Always", "always");
    registry->setAudioMixType("41", "Follow", "follow");
    registry->setAudioMixType("41", "Closed", "close");
    for (const char* source : { "Always", "Follow", "Closed" }) {
        registry->setSrcId("41", source, "1");
        mixer.addInputSource(source);
    }
    EXPECT_TRUE(mixer.isMixed("Always"));
    EXPECT_FALSE(mixer.isMixed("Follow"));
    EXPECT_FALSE(mixer.isMixed("Closed"));

    // "follow" audio comes and goes with the picture.
    mixer.setVideoSource("Follow", "1", 2);
    EXPECT_TRUE(mixer.isMixed("Follow"));
    mixer.setVideoSource("Always", "1", 1);
    EXPECT_FALSE(mixer.isMixed("Follow"));
    EXPECT_TRUE(mixer.isMixed("Always"));

    // A source no window of the program shows is left as it is.
    registry->setAudioMixType("41", "Unused", "follow");
    mixer.setVideoSource("Unused", "1", 3);
    EXPECT_FALSE(mixer.isMixed("Unused"));

    registry->setAudioMixType("41", "Always", "close");
    mixer.addInputSource("Always");
    EXPECT_FALSE(mixer.isMixed("Always"));
}

TEST(AudioOutputMixer, AChangedLabelIsStoredAndAnnounced)
{
    testsupport::TempHome home;
    AudioOutputMixer mixer("pvw", 48000, 2, 16, 10);
    mixer.setProId("42");
    QSignalSpy announced(&mixer, &AudioOutputMixer::sourceNameChanged);

    mixer.setPatternName("CamA", "Stage");
    mixer.setPatternName("CamA", "Stage");
    ASSERT_EQ(announced.count(), 1);
    EXPECT_EQ(announced.at(0), QVariantList({ "CamA", "Stage" }));
    EXPECT_EQ(GlobalData::instance()->getPatternName("42", "CamA"), "Stage");
    EXPECT_TRUE(JsonFile::load(g_savePath + "/source_contents.json").value("data").toArray().size() >= 1);
}

} // namespace
