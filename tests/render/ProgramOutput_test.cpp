// A program's windows end to end with four live test sources (another
// process): window 1's network output, grabbed by panoptra_grab, shows each
// source's colour in its tile with black letterbox bars and the tally
// corners of the bus sources; bus tiles show the bus windows' pictures; a
// cut swaps the bus windows' pictures and the next timed take is accepted.
#include "ProgramOutputKit.h"

#include <gtest/gtest.h>

namespace {

using namespace programout;

::testing::Environment* const sourceTable = ::testing::AddGlobalTestEnvironment(new live::SourceTableEnvironment);

bool cornerShows(const Picture& p, int tileX, int tileY, int tileH, rendertest::Rgb colour)
{
    const int y = tileY + int(0.009 * tileH);
    for (int dy = -1; dy <= 1; ++dy) {
        const rendertest::Rgb c = p.rgbAt(tileX + 5, y + dy);
        if (std::abs(c.r - colour.r) <= 40 && std::abs(c.g - colour.g) <= 40 && std::abs(c.b - colour.b) <= 40)
            return true;
    }
    return false;
}

TEST_F(ProgramOutput, TilesBarsTallyBusesAndTakeReachTheGrabbedOutput)
{
    rendertest::Yuv colour[5];
    for (int i = 1; i <= 4; ++i) {
        colour[i] = sourceColour(i);
        ASSERT_GE(colour[i].y, 0) << i;
    }
    ASSERT_TRUE(assignBus("pvw", "Output Source 1"));
    ASSERT_TRUE(assignBus("pgm", "Output Source 2"));
    fixture.win("1").setLayoutJson(proId(),
        quarters({ "", "", "", "" }, { "Output Source 1", "Output Source 2", "Output Source 3", "Output Source 4" }));

    // Tiles of 320 x 240 hold 320 x 180 pictures: 30-line bars above and below.
    Picture wall;
    const bool tiles = outputShows(
        "1",
        [&](const Picture& p) {
            for (int i = 0; i < 4; ++i) {
                const int x = 320 * (i % 2), y = 240 * (i / 2);
                if (!rendertest::near(p.dominant(x + 40, y + 60, 240, 120), colour[i + 1])
                    || !rendertest::near(p.at(x + 160, y + 10), rendertest::toYuv(0, 0, 0))
                    || !rendertest::near(p.at(x + 160, y + 230), rendertest::toYuv(0, 0, 0)))
                    return false;
            }
            // Source 1 is on preview (green corner), source 2 on program (red);
            // the corners sit at the tile's own top, in the bar.
            return cornerShows(p, 0, 0, 240, { 0, 255, 0 }) && cornerShows(p, 320, 0, 240, { 255, 0, 0 })
                && !cornerShows(p, 0, 240, 240, { 0, 255, 0 }) && !cornerShows(p, 0, 240, 240, { 255, 0, 0 });
        },
        &wall);
    EXPECT_TRUE(tiles);
    if (!tiles && wall.valid()) {
        for (int i = 0; i < 4; ++i)
            ADD_FAILURE() << "tile " << i + 1 << ": "
                          << describe(wall.dominant(320 * (i % 2) + 40, 240 * (i / 2) + 60, 240, 120)) << " want "
                          << describe(colour[i + 1]) << ", bar "
                          << describe(wall.at(320 * (i % 2) + 160, 240 * (i / 2) + 10)) << " "
                          << describe(wall.at(320 * (i % 2) + 160, 240 * (i / 2) + 230));
    }

    // Bus tiles show the bus windows' pictures.
    fixture.win("1").setLayoutJson(
        proId(), quarters({ "pvw", "pgm", "", "" }, { "", "", "Output Source 3", "Output Source 4" }));
    EXPECT_TRUE(outputShows("1", [&](const Picture& p) {
        return rendertest::near(p.dominant(40, 60, 240, 120), colour[1])
            && rendertest::near(p.dominant(360, 60, 240, 120), colour[2]);
    }));

    // A cut swaps the bus windows' pictures; the next timed take is accepted.
    const auto busesShow = [&](int preview, int program) {
        return outputShows("pvw", [&](const Picture& p) {
            return rendertest::near(p.dominant(0, p.height / 4, p.width, p.height / 2), colour[preview]);
        }) && outputShows("pgm", [&](const Picture& p) {
            return rendertest::near(p.dominant(0, p.height / 4, p.width, p.height / 2), colour[program]);
        });
    };
    EXPECT_TRUE(busesShow(1, 2));
    QString msg;
    ASSERT_TRUE(fixture.program.doTake({ { "time", 0 } }, msg)) << msg.toStdString();
    EXPECT_TRUE(busesShow(2, 1));
    EXPECT_TRUE(testsupport::waitFor([&] { return !fixture.taking(); }, 10000));
    EXPECT_TRUE(fixture.program.doTake({ { "time", 2 } }, msg)) << msg.toStdString();
    EXPECT_TRUE(testsupport::waitFor([&] { return !fixture.taking(); }, 10000));
    EXPECT_TRUE(assignBus("pvw", "Output Source 3"));
}

// Window 1 made and destroyed a hundred times while it renders live sources
// and both bus pictures and sends its output: nothing leaks or dangles (the
// sanitizers watch), and memory stays flat. The sanitizer keeps freed blocks
// in quarantine, so the live heap is compared rather than the resident size.
TEST_F(ProgramOutput, AHundredWindowCyclesWithLiveSourcesOutputAndBusReaders)
{
    ASSERT_TRUE(assignBus("pvw", "Output Source 1"));
    ASSERT_TRUE(assignBus("pgm", "Output Source 2"));
    fixture.win("1").setLayoutJson(
        proId(), quarters({ "pvw", "pgm", "", "" }, { "", "", "Output Source 3", "Output Source 4" }));
    size_t afterFirst = 0;
    for (int cycle = 0; cycle < 100; ++cycle) {
        fixture.win("1").createWindow();
        fixture.win("1").setOutputType(cycle % 2 ? "ndi" : "NDI");
        QSharedPointer<WindowMultiThreaded> window = fixture.win("1").getRenderer();
        ASSERT_TRUE(window);
        ASSERT_TRUE(testsupport::waitFor([&] { return window->renderer()->stats().passes >= 2; }, 10000)) << cycle;
        window.reset();
        if (cycle == 0)
            afterFirst = testsupport::liveHeapBytes();
    }
    fixture.win("1").destroy();
    const size_t afterLast = testsupport::liveHeapBytes();
    EXPECT_LT(double(afterLast), double(afterFirst) * 1.10)
        << "after first " << afterFirst << ", after last " << afterLast;
}

} // namespace
