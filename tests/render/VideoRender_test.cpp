// A tile with a live source, rendered off screen: it opens the source's low
// stream and shows its colour, reports what it shows, closes the stream
// about a second after its source is cleared, shows a missing source black
// as "failed" and picks it up once it appears; a bus tile shows its holder's
// frame. Items and nodes go in either order without a pass on a dead item.
// The connections run on a clock that stands still until a test moves it, so
// the release delay and the fallback to the high stream come exactly when
// the test says, however busy the machine.
#include "LiveSources.h"
#include "media/FrameQueue.h"
#include "media/VideoFrame.h"
#include "render/PreviewFrame.h"
#include "sources/MediaConnection.h"

#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QThread>

#include <atomic>

using scene::OffscreenScene;

namespace {

const QColor kRed(255, 0, 0), kBlue(0, 0, 255), kBlack(0, 0, 0), kYellow(255, 255, 0);

// The connections' clock. Reads made on one watched thread are counted: they
// tell a test that a stream's timer has looked at the clock since it moved.
class ConnectionClock : public ::testing::Environment {
public:
    void SetUp() override { MediaConnection::setSteadyClock(&now); }
    void TearDown() override { MediaConnection::setSteadyClock(nullptr); }

    static void advance(int64_t ms) { nowMs += ms; }
    // Waits until the thread has read the clock `reads` more times.
    static bool readBy(QThread* thread, int reads)
    {
        watched = thread;
        const int start = watchedReads;
        const bool seen = testsupport::waitFor([&] { return watchedReads >= start + reads; });
        watched = nullptr;
        return seen;
    }

private:
    static int64_t now()
    {
        if (QThread::currentThread() == watched.load())
            ++watchedReads;
        return nowMs;
    }
    static inline std::atomic<int64_t> nowMs { 1000000 };
    static inline std::atomic<QThread*> watched { nullptr };
    static inline std::atomic<int> watchedReads { 0 };
};

// Set before the source table starts and restored after it has stopped.
::testing::Environment* const connectionClock = ::testing::AddGlobalTestEnvironment(new ConnectionClock);
::testing::Environment* const sourceTable = ::testing::AddGlobalTestEnvironment(new live::SourceTableEnvironment);

class TileTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(scene.valid()); }

    // Renders (sending a frame first) until the centre shows the colour.
    bool shows(VideoRender* tile, QColor colour, int timeoutMs = 10000)
    {
        const QPoint centre = tile->mapToScene(QPointF(tile->width() / 2, tile->height() / 2)).toPoint();
        return testsupport::waitFor(
            [&] {
                senders.pump();
                return scene::near(scene.render().pixel(centre), colour);
            },
            timeoutMs);
    }
    bool reaches(VideoRender* tile, const QString& state, int timeoutMs = 10000)
    {
        return testsupport::waitFor(
            [&] {
                senders.pump();
                scene.render();
                return tile->loadingState() == state;
            },
            timeoutMs);
    }

    OffscreenScene scene { 320, 180 };
    live::Senders senders;
};

} // namespace

TEST_F(TileTest, ShowsItsSourceOnTheLowStreamAndClosesItASecondAfterTheSourceIsCleared)
{
    senders.add("Tile A", kRed);
    ASSERT_TRUE(live::listed("Tile A"));
    auto* tile = scene.add<VideoRender>(0, 0, 320, 180);
    tile->setOutput("1");
    QSignalSpy rates(tile, &VideoRender::frameRateChanged);
    QSignalSpy sizes(tile, &VideoRender::resolutionChanged);
    tile->startLiving();
    EXPECT_TRUE(tile->changeSource("Tile A", "low", false));
    EXPECT_TRUE(tile->changeSource("Tile A", "low", false)); // queued once

    ASSERT_TRUE(shows(tile, kRed));
    EXPECT_EQ(tile->loadingState(), "play");
    EXPECT_EQ(tile->bandwidth(), 2);
    EXPECT_FLOAT_EQ(tile->frameRate(), 30.0f);
    ASSERT_GE(rates.count(), 1);
    ASSERT_GE(sizes.count(), 1);
    EXPECT_GT(sizes.last().at(0).toInt(), 0);

    const std::shared_ptr<MediaConnection> connection = SourceManager::instance()->getConnection("Tile A");
    ASSERT_TRUE(connection);
    EXPECT_TRUE(connection->getCapabilities(MediaConnection::BandWidthLow));
    EXPECT_FALSE(connection->getCapabilities(MediaConnection::BandWidthHigh));

    // Cleared, the tile draws black rather than the source's last picture;
    // the stream stays open until a second has passed since, then closes.
    tile->changeSource("", "", false);
    EXPECT_TRUE(shows(tile, kBlack));
    EXPECT_EQ(tile->loadingState(), "idle");
    QThread* const lowStream = connection->findChild<QThread*>("source video low");
    ASSERT_TRUE(lowStream);
    ConnectionClock::advance(MediaConnection::kReleaseDelayMs - 1);
    // Three reads span at least one whole tick of the stream's timer (two
    // reads each) made at the new time.
    EXPECT_TRUE(ConnectionClock::readBy(lowStream, 3));
    EXPECT_TRUE(connection->isValid());
    ConnectionClock::advance(1);
    EXPECT_TRUE(testsupport::waitFor([&] { return !connection->isValid(); }));
}

TEST_F(TileTest, MissingSourceIsBlackAndFailedAndIsPickedUpOnceItAppears)
{
    senders.add("Tile B", kBlue);
    ASSERT_TRUE(live::listed("Tile B"));
    auto* tile = scene.add<VideoRender>(0, 0, 320, 180);
    tile->startLiving();
    tile->changeSource("Tile B", "", false);
    ASSERT_TRUE(shows(tile, kBlue));

    tile->changeSource("Tile Late", "", false);
    scene.render();
    EXPECT_EQ(tile->loadingState(), "failed");
    EXPECT_TRUE(shows(tile, kBlack, 1000));
    // The passes go on while it is retried, black and without announcing
    // the failure again.
    QSignalSpy announced(tile, &VideoRender::notifyLoading);
    for (int i = 0; i < 10; ++i)
        EXPECT_TRUE(scene::near(scene.render().pixel(160, 90), kBlack)) << i;
    QCoreApplication::processEvents();
    EXPECT_EQ(announced.count(), 0);
    EXPECT_EQ(tile->loadingState(), "failed");

    senders.add("Tile Late", kYellow);
    ASSERT_TRUE(live::listed("Tile Late"));
    EXPECT_TRUE(shows(tile, kYellow));
    EXPECT_EQ(tile->loadingState(), "play");
}

TEST_F(TileTest, BusTileShowsItsHoldersFrame)
{
    auto* tile = scene.add<VideoRender>(0, 0, 320, 180);
    tile->setProId("bus-tile");
    tile->updateTally("pvw");
    scene.render(); // the first read: from now on the holder keeps frames
    std::vector<unsigned char> pixels(64 * 36 * 2);
    scene::fillFlat(pixels, kYellow);
    auto frame = std::make_shared<VideoFrame>(pixels.data(), 64, 36, uint32_t(pixels.size()), 128);
    frame->setFrameRate(25000, 1000);
    PreviewFrame::instance()->getFrame("bus-tile")->addNewFrame(frame);
    frame.reset();
    EXPECT_TRUE(shows(tile, kYellow, 2000));
    EXPECT_EQ(tile->loadingState(), "play");
    EXPECT_FLOAT_EQ(tile->frameRate(), 25.0f);
    PreviewFrame::instance()->getFrame("bus-tile")->destroy();
    scene.remove(tile);
    PreviewFrame::instance()->removeItem("bus-tile");
}

// The item goes while its node is still in the scene graph, and the next
// frames run without it; in the other order the scene graph is invalidated
// first (the harness's teardown), and the item goes later.
TEST_F(TileTest, ItemAndNodeGoInEitherOrder)
{
    senders.add("Tile C", kRed);
    ASSERT_TRUE(live::listed("Tile C"));
    auto* first = scene.add<VideoRender>(0, 0, 160, 180);
    auto* second = scene.add<VideoRender>(160, 0, 160, 180);
    for (VideoRender* tile : { first, second }) {
        tile->startLiving();
        tile->changeSource("Tile C", "", false);
    }
    ASSERT_TRUE(shows(second, kRed));
    scene.remove(first);
    senders.pump();
    const QImage image = scene.render();
    EXPECT_TRUE(scene::near(image.pixel(240, 90), kRed));
    EXPECT_TRUE(scene::near(image.pixel(80, 90), kBlack));
}

// A source that stops sending keeps its last picture; 31 passes later the
// tile reports "loading" and forgets the rate and size.
TEST_F(TileTest, StoppedSourceKeepsItsPictureAndIsLoadingFromPass31)
{
    senders.add("Tile D", kBlue);
    ASSERT_TRUE(live::listed("Tile D"));
    auto* tile = scene.add<VideoRender>(0, 0, 320, 180);
    tile->startLiving();
    tile->changeSource("Tile D", "", false);
    ASSERT_TRUE(shows(tile, kBlue));
    QSignalSpy sizes(tile, &VideoRender::resolutionChanged);
    senders.stop("Tile D");
    int passes = 0;
    ASSERT_TRUE(testsupport::waitFor(
        [&] {
            ++passes;
            const QImage image = scene.render();
            EXPECT_TRUE(scene::near(image.pixel(160, 90), kBlue));
            return tile->loadingState() == "loading";
        },
        10000));
    EXPECT_GE(passes, 31);
    ASSERT_GE(sizes.count(), 1);
    EXPECT_EQ(sizes.last().at(0).toInt(), 0);
}
