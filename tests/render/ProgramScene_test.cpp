// What the window scene adds to a program's network outputs, heard and seen
// through panoptra_grab (another process) with live test sources (another
// process, a 1 kHz tone at -20 dBFS each, -23 dBFS RMS):
// - programme sound follows the picture: a "follow" source is heard on the
//   preview's output only until a cut takes it to programme; a source taken
//   off its last tile leaves the mix; a position's "audio_enable" mutes and
//   restores it; a step of the window's "audio_gain" moves it by the step's
//   amount; a stored "always" source is heard after a restart unasked;
// - tiles show their name in the window's font and a level meter that a
//   tone fills and silence empties; a source that stops is dimmed with
//   "No signal" until it returns; tiles whose sources were cleared are black.
#include "ProgramOutputKit.h"

#include "media/GlobalData.h"
#include "output/AudioOutputMixer.h"

#include <gtest/gtest.h>

namespace {

using namespace programout;

::testing::Environment* const sourceTable = ::testing::AddGlobalTestEnvironment(new live::SourceTableEnvironment);

const QString kOne = QStringLiteral("Output Source 1");
const QString kTwo = QStringLiteral("Output Source 2");
const QString kThree = QStringLiteral("Output Source 3");
// A tone at -20 dBFS peak: -23 dBFS RMS.
constexpr double kTone = -23.0;
constexpr double kSilent = -60.0;

// Window 1's positions 1 and 2 show the buses, 3 and 4 are empty.
QJsonObject busesAndTwoEmpty()
{
    return quarters({ "pvw", "pgm", "", "" }, { "", "", "", "" });
}

bool audible(double level)
{
    return std::abs(level - kTone) < 2.0;
}

class ProgramScene : public ProgramOutput {
protected:
    bool setSource(const char* win_id, int pos_id, const QString& source)
    {
        return fixture.program.setVideoRectSource("", 0, "", 0, win_id, pos_id, source);
    }
    bool setMixType(const char* win_id, int pos_id, const char* type)
    {
        return fixture.program.setVideoRectAudioType(win_id, { { "pos_id", pos_id }, { "mix_type", type } });
    }
    bool setPositionOption(int pos_id, const char* type, bool enable)
    {
        return fixture.program.setVideoRectShowOptions(
            "1", { { "pos_id", pos_id }, { "type", type }, { "config", QJsonObject { { "enable", enable } } } });
    }
    bool setWindowOption(const char* type, const QJsonObject& config)
    {
        return fixture.program.setControlState("1", { { "type", type }, { "config", config } });
    }
};

TEST_F(ProgramScene, ProgrammeSoundFollowsTheCutLeavesWithItsTileAndObeysMuteAndGain)
{
    ASSERT_TRUE(assignBus("pvw", kOne));
    ASSERT_TRUE(assignBus("pgm", kTwo));
    fixture.win("1").setLayoutJson(proId(), busesAndTwoEmpty());
    // Source 2 has no mix type ("close"): programme is silent.
    ASSERT_TRUE(setMixType("pvw", 1, "follow"));

    // On preview a "follow" source is heard in the preview mix only.
    double level = 0;
    EXPECT_TRUE(outputSounds("pvw", kTone - 2, kTone + 2, &level)) << level;
    EXPECT_TRUE(outputSounds("1", -300, kSilent, &level)) << level;

    // A cut takes it to programme, and its sound with it.
    QString msg;
    ASSERT_TRUE(fixture.program.doTake({ { "time", 0 } }, msg)) << msg.toStdString();
    EXPECT_TRUE(outputSounds("1", kTone - 2, kTone + 2, &level)) << level;
    EXPECT_TRUE(outputSounds("pvw", -300, kSilent, &level)) << level;

    // Closed again; source 3 is heard from window 1's tile alone.
    ASSERT_TRUE(setMixType("pgm", 1, "close"));
    EXPECT_TRUE(outputSounds("1", -300, kSilent, &level)) << level;
    ASSERT_TRUE(setSource("1", 3, kThree));
    ASSERT_TRUE(setMixType("1", 3, "always"));
    ASSERT_TRUE(outputSounds("1", kTone - 2, kTone + 2, &level)) << level;

    // The position's sound off and on again.
    ASSERT_TRUE(setPositionOption(3, "audio_enable", false));
    EXPECT_TRUE(outputSounds("1", -300, kSilent, &level)) << level;
    ASSERT_TRUE(setPositionOption(3, "audio_enable", true));
    EXPECT_TRUE(outputSounds("1", kTone - 2, kTone + 2, &level)) << level;

    // Gain 6 receives the source at reference level 10 instead of 20: +10 dB.
    ASSERT_TRUE(setWindowOption("audio_gain", { { "value", 6 } }));
    EXPECT_TRUE(outputSounds("1", kTone + 10 - 1.5, kTone + 10 + 1.5, &level)) << level;
    ASSERT_TRUE(setWindowOption("audio_gain", { { "value", 0 } }));
    EXPECT_TRUE(outputSounds("1", kTone - 1.5, kTone + 1.5, &level)) << level;

    // Taken off its only tile, the source leaves the mix.
    ASSERT_TRUE(fixture.program.removeSource("1", 3));
    EXPECT_TRUE(outputSounds("1", -300, kSilent, &level)) << level;
    EXPECT_FALSE(fixture.program.getPvwMixer()->isMixed(kThree));
    EXPECT_FALSE(fixture.program.getPgmMixer()->isMixed(kThree));
}

TEST_F(ProgramScene, AStoredAlwaysSourceIsHeardAfterARestartUnasked)
{
    fixture.win("1").setLayoutJson(proId(), busesAndTwoEmpty());
    ASSERT_TRUE(setSource("1", 3, kThree));
    ASSERT_TRUE(setMixType("1", 3, "always"));
    double level = 0;
    ASSERT_TRUE(outputSounds("1", kTone - 2, kTone + 2, &level)) << level;
    ASSERT_TRUE(fixture.program.save());

    // Down in the order of a shutdown; the registry is read back from its file.
    for (const char* id : { "pvw", "pgm", "1" })
        fixture.win(id).destroy();
    fixture.program.destroy();
    GlobalData::instance()->load();
    ASSERT_EQ(GlobalData::instance()->getAudioMixType(proId(), kThree), "always");
    ASSERT_EQ(GlobalData::instance()->getSrcCount(proId(), kThree), 0);

    ProjectObject restarted;
    restarted.setPath(fixture.program.getPath());
    restarted.setParams(proId(), "Show", 1280, 720, 25.0);
    ASSERT_TRUE(restarted.load());
    restarted.createAudioMixers();
    restarted.createWindows();
    for (const char* id : { "pvw", "pgm", "1" })
        restarted.getWindow(id)->start();
    const QString output = restarted.getWindow("1")->getRenderer()->name();
    EXPECT_TRUE(testsupport::waitFor(
        [&] {
            level = grabLevel(output, dir.filePath("restarted.wav"), 1);
            return audible(level);
        },
        30000))
        << level;
    for (const char* id : { "pvw", "pgm", "1" })
        restarted.getWindow(id)->destroy();
    restarted.destroy();
}

// Pixels of one colour within a rectangle of a picture.
int count(const Picture& p, QRect area, rendertest::Rgb colour, int tolerance = 60)
{
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            const rendertest::Rgb c = p.rgbAt(x, y);
            n += std::abs(c.r - colour.r) <= tolerance && std::abs(c.g - colour.g) <= tolerance
                && std::abs(c.b - colour.b) <= tolerance;
        }
    }
    return n;
}

TEST_F(ProgramScene, NamesMetersNoSignalAndClearedTilesReachTheOutput)
{
    // Window 1 is 640 x 480: position 3 is the tile at (0, 240), 320 x 240,
    // its 320 x 180 picture between lines 270 and 449.
    const QRect tile(0, 240, 320, 240);
    const QRect nameBand(tile.left() + 40, tile.top() + 180, 240, 60);
    const QRect meterStrip(tile.right() - 20, tile.top() + 40, 20, 160);
    const QRect centre(tile.left() + 100, tile.top() + 100, 120, 40);
    const rendertest::Rgb yellow { 255, 255, 0 }, meterGreen { 0, 224, 0 };

    auto lone = std::make_unique<ndikit::TestSourceProcess>(1, "Lone");
    ASSERT_TRUE(lone->waitForLine("ready Lone 1"));
    ASSERT_TRUE(listed("Lone 1"));
    fixture.win("1").setLayoutJson(proId(), busesAndTwoEmpty());
    ASSERT_TRUE(setSource("1", 3, "Lone 1"));
    ASSERT_TRUE(setSource("1", 4, kThree));
    // The source's own colour, then the tile showing it undimmed.
    const Picture own = grab("Lone 1", dir.filePath("lone"));
    ASSERT_TRUE(own.valid());
    const rendertest::Yuv colour = own.dominant(0, 0, own.width, own.height);
    const rendertest::Yuv black = rendertest::toYuv(0, 0, 0);
    Picture plain;
    ASSERT_TRUE(outputShows(
        "1",
        [&](const Picture& p) {
            return rendertest::near(p.dominant(tile.left() + 40, tile.top() + 60, 240, 120), colour)
                && !rendertest::near(p.dominant(360, 300, 240, 120), black, 8);
        },
        &plain));
    EXPECT_LT(count(plain, nameBand, yellow), 5);
    EXPECT_LT(count(plain, meterStrip, meterGreen), 5);

    // The name in the window's font (yellow, 24 px) at the bottom centre; the
    // meter at the right edge, filled by the tone.
    ASSERT_TRUE(setWindowOption("font", { { "color", "#ffff00" }, { "size", 24 } }));
    ASSERT_TRUE(setWindowOption("name_enable", { { "enable", true } }));
    ASSERT_TRUE(setWindowOption("vu_meter", { { "enable", true } }));
    Picture p;
    EXPECT_TRUE(outputShows(
        "1",
        [&](const Picture& p) { return count(p, nameBand, yellow) > 30 && count(p, meterStrip, meterGreen) > 100; },
        &p))
        << count(p, nameBand, yellow) << " " << count(p, meterStrip, meterGreen);

    // The source stops: its last picture dimmed, "No signal" in white, the
    // meter empty. Then it comes back, and so do picture and meter. The tile
    // counts 31 passes without a picture, which a loaded machine renders
    // slowly: these waits get a longer budget.
    const int passesBudgetMs = 120000;
    lone.reset();
    EXPECT_TRUE(outputShows(
        "1",
        [&](const Picture& p) {
            const rendertest::Yuv now = p.dominant(tile.left() + 40, tile.top() + 60, 240, 120);
            return now.y - 16 < (colour.y - 16) / 2 && count(p, centre, { 255, 255, 255 }, 30) > 10
                && count(p, meterStrip, meterGreen) < 5;
        },
        &p, passesBudgetMs))
        << describe(p.dominant(tile.left() + 40, tile.top() + 60, 240, 120)) << " was " << describe(colour);
    lone = std::make_unique<ndikit::TestSourceProcess>(1, "Lone");
    ASSERT_TRUE(lone->waitForLine("ready Lone 1"));
    EXPECT_TRUE(outputShows(
        "1",
        [&](const Picture& p) {
            return rendertest::near(p.dominant(tile.left() + 40, tile.top() + 60, 240, 120), colour)
                && count(p, meterStrip, meterGreen) > 100;
        },
        nullptr, passesBudgetMs));

    // Cleared, both tiles go black: no frozen picture, name or veil.
    ASSERT_TRUE(fixture.program.clearSources("1"));
    EXPECT_TRUE(outputShows("1", [&](const Picture& p) {
        return rendertest::near(p.dominant(40, 300, 240, 120), black)
            && rendertest::near(p.dominant(360, 300, 240, 120), black) && count(p, nameBand, yellow) < 5;
    }));
}

} // namespace
