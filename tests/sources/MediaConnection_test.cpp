// A source connection driven directly, as the video items, the audio mixers
// and the PTZ requests drive it: streams that open with their consumers and
// close after them, tally and PTZ towards the source, the audio loop's
// meter and its delivery into the mixers' sinks, the pacing by the source's
// frame rate, and the fallback to the other stream.
#include "../ndi/NdiTestKit.h"

#include "audioMixer/RRingBuffer.h"
#include "media/AudioMixSink.h"
#include "media/GlobalData.h"
#include "sources/NDIConnection.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>

#include <algorithm>
#include <cstdlib>
#include <functional>

using namespace ndikit;
using BW = MediaConnection::BandWidth_t;

namespace {

// The URL under which a finder lists the named source.
QString urlOf(const std::string& name)
{
    Finder finder = makeFinder();
    QString url;
    testsupport::waitFor(
        [&] {
            for (const auto& [listed, address] : sources(finder)) {
                if (listed == name)
                    url = QString::fromStdString(address);
            }
            return !url.isEmpty();
        },
        10000);
    return url;
}

bool hasPicture(const VideoFramePtr& frame)
{
    return frame && frame->frame.p_data;
}

int pictureWidth(MediaConnection& connection, BW bw)
{
    const VideoFramePtr frame = connection.getVideoFrame(bw);
    return hasPicture(frame) ? frame->frame.xres : 0;
}

// Sends one picture of the given rate and scan to every connected receiver.
void sendPicture(const Sender& sender, int width, int height, int rateN, int rateD,
    NDIlib_frame_format_type_e format = NDIlib_frame_format_type_progressive, float aspect = 0.0f)
{
    Picture picture(width, height);
    NDIlib_video_frame_v2_t frame = picture.frame(rateN, rateD);
    frame.frame_format_type = format;
    frame.picture_aspect_ratio = aspect;
    NDIlib_send_send_video_async_v2(sender.get(), &frame);
    NDIlib_send_send_video_async_v2(sender.get(), nullptr);
}

// An in-process sender and a started connection of the given kind to it.
template <typename Connection> struct ConnectionToSender {
    explicit ConnectionToSender(const char* name)
        : sender(makeSender(name))
        , url(urlOf(name))
    {
        connection.setSource(MediaConnection::BandWidthBoth, name, url);
        connection.startPlay();
    }
    ScopedRegistry registry;
    Sender sender;
    QString url;
    Connection connection;
};

// One test-source program with one source, and a connection to it.
class ConnectionToTestSource : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(program.waitForLine("ready Cam 1"));
        url = urlOf("Cam 1");
        ASSERT_FALSE(url.isEmpty());
        connection->setSource(MediaConnection::BandWidthBoth, "Cam 1", url);
        connection->startPlay();
    }

    ScopedRegistry registry;
    TestSourceProcess program { 1, "Cam" };
    QString url;
    std::shared_ptr<MediaConnection> connection = std::make_shared<NDIConnection>();
    int consumerA = 0, consumerB = 0;
};

// A connection whose clock can be moved on, and whose low stream cannot be
// opened until the test allows it.
class ClockedConnection : public NDIConnection {
public:
    ~ClockedConnection() override { destroy(); }

    MediaInstancePtr createConnection(BandWidth_t bw, const QString& name, const QString& url) override
    {
        if (bw == BandWidthLow && lowFails)
            return nullptr;
        return NDIConnection::createConnection(bw, name, url);
    }

    std::atomic<int64_t> offsetMs { 0 };
    std::atomic<bool> lowFails { true };

protected:
    int64_t steadyMs() const override { return NDIConnection::steadyMs() + offsetMs; }
};

} // namespace

TEST_F(ConnectionToTestSource, StreamsOpenWithTheirConsumersAndCloseASecondAfterTheLast)
{
    EXPECT_FALSE(connection->isValid()); // started, but nobody asked yet
    connection->acquireVideoGetting(MediaConnection::BandWidthHigh, &consumerA);
    EXPECT_TRUE(connection->isValid());
    ASSERT_TRUE(testsupport::waitFor([&] { return pictureWidth(*connection, MediaConnection::BandWidthHigh) == 320; }));

    // The same source again keeps the open receiver and its picture.
    connection->setSource(MediaConnection::BandWidthBoth, "Cam 1", url);
    EXPECT_TRUE(hasPicture(connection->getVideoFrame(MediaConnection::BandWidthHigh)));
    auto capabilities = connection->getCapabilities(MediaConnection::BandWidthHigh);
    ASSERT_TRUE(capabilities);
    EXPECT_EQ(capabilities->type, "general-ndi");
    EXPECT_TRUE(capabilities->has_video && capabilities->has_audio && capabilities->has_metadata);
    // Only the stream asked for stays open.
    EXPECT_TRUE(testsupport::waitFor([&] { return !connection->getCapabilities(MediaConnection::BandWidthLow); }));

    // A consumer that never held the stream changes nothing.
    connection->releaseVideoGetting(MediaConnection::BandWidthHigh, &consumerB);
    QElapsedTimer sinceRelease;
    sinceRelease.start();
    connection->releaseVideoGetting(MediaConnection::BandWidthHigh, &consumerA);
    ASSERT_TRUE(testsupport::waitFor([&] { return !connection->isValid(); }, 5000));
    EXPECT_GE(sinceRelease.elapsed(), 950);
    EXPECT_FALSE(connection->getCapabilities(MediaConnection::BandWidthHigh));

    // The low stream carries the reduced picture.
    connection->acquireVideoGetting(MediaConnection::BandWidthLow, &consumerA);
    EXPECT_TRUE(testsupport::waitFor([&] { return pictureWidth(*connection, MediaConnection::BandWidthLow) == 160; }));
    connection->releaseVideoGetting(MediaConnection::BandWidthBoth, &consumerA);
    EXPECT_TRUE(testsupport::waitFor([&] { return !connection->isValid(); }, 5000));
}

TEST_F(ConnectionToTestSource, TallyReachesTheSourceWhileAnyConsumerHoldsIt)
{
    // Asked before the stream opens: it goes out with the first picture.
    connection->enableTally("pvw", true, &consumerA);
    connection->enableTally("pvw", true, &consumerB);
    connection->acquireVideoGetting(MediaConnection::BandWidthHigh, &consumerA);
    ASSERT_TRUE(program.waitForLine("tally Cam 1 program=0 preview=1"));

    connection->enableTally("pvw", false, &consumerA); // B still holds the preview
    connection->enableTally("pgm", true, &consumerA);
    ASSERT_TRUE(program.waitForLine("tally Cam 1 program=1 preview=1"));
    EXPECT_EQ(connection->getVideoTallyValue(), 3);

    connection->enableTally("pvw", false, &consumerB);
    ASSERT_TRUE(program.waitForLine("tally Cam 1 program=1 preview=0"));
    EXPECT_EQ(connection->getVideoTallyValue(), 2);
}

TEST_F(ConnectionToTestSource, PtzCommandsReachTheSource)
{
    connection->acquireVideoGetting(MediaConnection::BandWidthHigh, &consumerA);
    // Accepted once the source's offer of PTZ has arrived.
    ASSERT_TRUE(testsupport::waitFor([&] { return connection->setPtzAutoFocus(); }));
    // Support needs both streams.
    EXPECT_FALSE(connection->isSupportPtz());

    struct Case {
        std::function<bool(MediaConnection&)> command;
        const char* element;
    };
    const Case cases[] = {
        { [](MediaConnection& c) { return c.setPtzZoom(0.5f); }, "<ptz_zoom zoom_value=\"0.5\"/>" },
        { [](MediaConnection& c) { return c.setPtzZoomSpeed(-0.25f); }, "<ptz_zoom_speed zoom_speed=\"-0.25\"/>" },
        { [](MediaConnection& c) { return c.setPtzPanTilt(0.1f, -0.2f); },
            "<ptz_pan_tilt pan_value=\"0.1\" tilt_value=\"-0.2\"/>" },
        { [](MediaConnection& c) { return c.setPtzPanTiltSpeed(0.3f, 0.4f); },
            "<ptz_pan_tilt_speed pan_speed=\"0.3\" tilt_speed=\"0.4\"/>" },
        { [](MediaConnection& c) { return c.setPtzStorePreset(7); }, "<ptz_store_preset preset_no=\"7\"/>" },
        { [](MediaConnection& c) { return c.setPtzRecallPreset(3, 0.75f); },
            "<ptz_recall_preset preset_no=\"3\" speed=\"0.75\"/>" },
        { [](MediaConnection& c) { return c.setPtzFocus(0.6f); }, "<ptz_focus focus_value=\"0.6\"/>" },
        { [](MediaConnection& c) { return c.setPtzFocusSpeed(-1.0f); }, "<ptz_focus_speed focus_speed=\"-1\"/>" },
        { [](MediaConnection& c) { return c.setPtzWhiteBalanceAuto(); }, "<ptz_white_balance_auto/>" },
        { [](MediaConnection& c) { return c.setPtzWhiteBalanceIndoor(); }, "<ptz_white_balance_indoor/>" },
        { [](MediaConnection& c) { return c.setPtzWhiteBalanceOutdoor(); }, "<ptz_white_balance_outdoor/>" },
        { [](MediaConnection& c) { return c.setPtzWhiteBalanceOneshot(); }, "<ptz_white_balance_oneshot/>" },
        { [](MediaConnection& c) { return c.setPtzWhiteBalanceManual(0.2f, 0.8f); },
            "<ptz_white_balance_manual red=\"0.2\" blue=\"0.8\"/>" },
        { [](MediaConnection& c) { return c.setPtzExposureAuto(); }, "<ptz_exposure_auto/>" },
        { [](MediaConnection& c) { return c.setPtzExposureManual(0.9f); },
            "<ptz_exposure_manual exposure_level=\"0.9\"/>" },
    };
    for (const Case& c : cases) {
        EXPECT_TRUE(c.command(*connection)) << c.element;
        EXPECT_TRUE(program.waitForLine(QStringLiteral("ptz Cam 1 %1").arg(c.element))) << c.element;
    }

    connection->acquireVideoGetting(MediaConnection::BandWidthLow, &consumerA);
    EXPECT_TRUE(testsupport::waitFor([&] { return connection->isSupportPtz(); }));
}

TEST_F(ConnectionToTestSource, AudioIsMeteredAndWrittenIntoTheRegisteredSinksWhileSomebodyListens)
{
    const auto makeSink = [](int id) {
        auto sink = std::make_shared<AudioMixSink>(id);
        sink->SetMixSource(48000, 2, 16, 10);
        sink->Open();
        sink->setDetached(false);
        return sink;
    };
    auto preview = makeSink(1), program1 = makeSink(2), otherProgram = makeSink(3);
    GlobalData* registry = GlobalData::instance();
    ASSERT_TRUE(registry->setAudioSink("p1", "Cam 1", "pvw", preview));
    ASSERT_TRUE(registry->setAudioSink("p1", "Cam 1", "pgm", program1));
    ASSERT_TRUE(registry->setAudioSink("p2", "Cam 1", "pvw", otherProgram)); // its mixer never asked
    connection->setSink("p1", "pvw");
    connection->setSink("p1", "pgm");

    double vu[MediaConnection::kVuChannels];
    EXPECT_EQ(connection->getVUMeterValues(vu), 2);
    EXPECT_EQ(vu[0], -200.0);
    connection->acquireVideoGetting(MediaConnection::BandWidthHigh, &consumerA);
    // The tone peaks at a tenth of 16-bit full scale, sent at reference
    // level 20 dB: full scale in float terms.
    ASSERT_TRUE(testsupport::waitFor([&] {
        connection->getVUMeterValues(vu);
        return vu[0] > -3.0 && vu[1] > -3.0;
    }));
    EXPECT_LE(vu[0], 0.01);
    for (int c = 2; c < MediaConnection::kVuChannels; ++c)
        EXPECT_EQ(vu[c], -200.0) << c;
    EXPECT_EQ(preview->Buffered(), 0); // nobody listens yet

    connection->enableAudio(true, &consumerA);
    EXPECT_TRUE(connection->getUse());
    ASSERT_TRUE(
        testsupport::waitFor([&] { return preview->Buffered() >= 3 * 3840 && program1->Buffered() >= 3 * 3840; }));
    std::vector<int16_t> block(2 * 960);
    ASSERT_TRUE(preview->ring()->popData(block.data(), 3840, 3840));
    ASSERT_TRUE(preview->ring()->popData(block.data(), 3840, 3840));
    int peak = 0;
    for (int16_t sample : block)
        peak = std::max(peak, std::abs(int(sample)));
    EXPECT_NEAR(peak, 3277, 40); // the samples as the source sent them
    EXPECT_EQ(otherProgram->Buffered(), 0);

    connection->enableAudio(false, &consumerA);
    EXPECT_FALSE(connection->getUse());
    connection->removeSink("p1", "pvw");
    connection->removeSink("p1", "pgm");
    for (const char* program : { "p1", "p2" }) {
        registry->removeAudioSink(program, "Cam 1", "pvw");
        registry->removeAudioSink(program, "Cam 1", "pgm");
    }
}

TEST(MediaConnection, TimerFollowsTheSourceRateAndIgnoresUnusableRates)
{
    ConnectionToSender<NDIConnection> fixture("Rate");
    ASSERT_FALSE(fixture.url.isEmpty());
    const Sender& sender = fixture.sender;
    NDIConnection& connection = fixture.connection;
    int consumer = 0;
    connection.acquireVideoGetting(MediaConnection::BandWidthHigh, &consumer);
    ASSERT_TRUE(testsupport::waitFor([&] { return connection.isValid(); }));
    // The receiver gets pictures sent after it connected; wait until one came.
    ASSERT_TRUE(testsupport::waitFor([&] {
        sendPicture(sender, 32, 18, 60, 1);
        return pictureWidth(connection, MediaConnection::BandWidthHigh) == 32;
    }));

    struct Step {
        int width;
        int rateN, rateD;
        NDIlib_frame_format_type_e format;
        bool squarePixels; // aspect ratio 0 rather than width / height
        float fps; // as getVideoFrameInfo reports it
        int interval;
    };
    const auto progressive = NDIlib_frame_format_type_progressive, field = NDIlib_frame_format_type_field_0;
    const Step steps[] = {
        { 64, 60, 1, progressive, true, 60.0f, 16 },
        { 66, 0, 1, progressive, true, 0.0f, 16 }, // no rate yet: keep pacing
        { 68, 25, 0, progressive, true, 0.0f, 16 }, { 70, 0, 0, progressive, true, 0.0f, 16 },
        { 72, -30, 1, progressive, true, -30.0f, 16 }, { 74, 30000, 1001, progressive, true, 29.97f, 33 },
        { 76, 25, 1, field, true, 50.0f, 20 }, // fields of a 25 fps source come at 50 per second
        { 78, 25, 1, field, false, 25.0f, 40 }, // picture shape as stated: not a field of a taller frame
    };
    for (const Step& step : steps) {
        const int height = 18;
        const float aspect = step.squarePixels ? 0.0f : float(step.width) / height;
        int width = 0, h = 0;
        float fps = -1.0f;
        ASSERT_TRUE(testsupport::waitFor([&] {
            sendPicture(sender, step.width, height, step.rateN, step.rateD, step.format, aspect);
            return connection.getVideoFrameInfo(MediaConnection::BandWidthHigh, width, h, fps) && width == step.width;
        })) << step.width;
        EXPECT_NEAR(fps, step.fps, 0.01) << step.width;
        EXPECT_TRUE(testsupport::waitFor(
            [&] { return connection.getVideoInterval(MediaConnection::BandWidthHigh) == step.interval; }, 2000))
            << step.width << " interval " << connection.getVideoInterval(MediaConnection::BandWidthHigh);
    }
}

TEST(MediaConnection, FallbackStreamDeliversOnAConnectionOlderThanTheIdleLimit)
{
    ConnectionToSender<ClockedConnection> fixture("Fallback");
    ASSERT_FALSE(fixture.url.isEmpty());
    const Sender& sender = fixture.sender;
    ClockedConnection& connection = fixture.connection;
    connection.offsetMs = MediaConnection::kIdleRequestMs + 1000; // made eleven seconds ago
    int consumer = 0;
    connection.acquireVideoGetting(MediaConnection::BandWidthLow, &consumer);
    EXPECT_FALSE(hasPicture(connection.getVideoFrame(MediaConnection::BandWidthLow)));

    // A second without a low picture: the next request starts the high stream.
    connection.offsetMs += MediaConnection::kFallbackAfterMs + 100;
    connection.getVideoFrame(MediaConnection::BandWidthLow);
    ASSERT_TRUE(testsupport::waitFor([&] {
        sendPicture(sender, 64, 36, 30, 1);
        return pictureWidth(connection, MediaConnection::BandWidthLow) == 64; // full size: the high stream's
    }));
    EXPECT_TRUE(connection.getCapabilities(MediaConnection::BandWidthHigh));

    // Once the low stream delivers, the high one, which nobody holds, closes.
    connection.lowFails = false;
    connection.acquireVideoGetting(MediaConnection::BandWidthLow, &consumer);
    ASSERT_TRUE(testsupport::waitFor([&] {
        sendPicture(sender, 64, 36, 30, 1);
        return pictureWidth(connection, MediaConnection::BandWidthLow) == 32;
    }));
    EXPECT_TRUE(testsupport::waitFor([&] { return !connection.getCapabilities(MediaConnection::BandWidthHigh); }));
}
