// The H.264 encoder end to end: UYVY frames in, NAL units out through the
// encoder's sink seam, decoded again by a separate GStreamer pipeline; and
// the pieces a live preview depends on: the NAL splitter and its caches, the
// timestamps, the encoder settings and the failure paths.
#include "LogCapture.h"
#include "TestSupport.h"
#include "media/VideoFrame.h"
#include "output/GSTEAMER.h"
#include "output/ZtFindGstEncoder.h"
#include "output/ZtGstEncoder.h"

#include <gtest/gtest.h>

#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>

#include <QByteArray>
#include <QMutex>
#include <QMutexLocker>

#include <cmath>
#include <memory>
#include <vector>

namespace {

struct Unit {
    int kind;
    uint32_t timestamp;
    int fps;
    QByteArray bytes;
    int type() const { return bytes.isEmpty() ? -1 : (uint8_t(bytes[0]) & 0x1F); }
};

// Stands in for the WebRTC sessions: keeps every unit the encoder hands on.
class NaluRecorder {
public:
    ZtGstEncoder::NaluSink sink()
    {
        return [this](const QString& pro, const QString& win, const char* data, int length, uint32_t ts, int kind,
                   int fps) {
            QMutexLocker lock(&m_mutex);
            m_ids = pro + "/" + win;
            m_units.push_back({ kind, ts, fps, QByteArray(data, length) });
        };
    }
    std::vector<Unit> units()
    {
        QMutexLocker lock(&m_mutex);
        return m_units;
    }
    int slices()
    {
        int n = 0;
        for (const Unit& u : units())
            n += u.kind == 0 || u.kind == 2;
        return n;
    }
    QString ids()
    {
        QMutexLocker lock(&m_mutex);
        return m_ids;
    }
    // The stream as a decoder reads it: every unit behind a 4-byte start
    // code, the parameter sets resent before an IDR left out.
    QByteArray annexB()
    {
        QByteArray stream;
        for (const Unit& u : units())
            if (u.kind != 1)
                stream += QByteArray("\x00\x00\x00\x01", 4) + u.bytes;
        return stream;
    }

private:
    QMutex m_mutex;
    QString m_ids;
    std::vector<Unit> m_units;
};

// Runs a launch line ending in "appsink name=sink" and collects its pictures.
std::vector<QByteArray> pullPictures(const char* launch, const QByteArray& input = QByteArray())
{
    GError* error = nullptr;
    GstElement* pipeline = gst_parse_launch(launch, &error);
    if (error) {
        ADD_FAILURE() << error->message;
        g_error_free(error);
        return {};
    }
    GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "sink");
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    if (GstElement* src = gst_bin_get_by_name(GST_BIN(pipeline), "src")) {
        GstBuffer* buffer = gst_buffer_new_allocate(nullptr, size_t(input.size()), nullptr);
        gst_buffer_fill(buffer, 0, input.constData(), size_t(input.size()));
        gst_app_src_push_buffer(GST_APP_SRC(src), buffer);
        gst_app_src_end_of_stream(GST_APP_SRC(src));
        gst_object_unref(src);
    }
    std::vector<QByteArray> pictures;
    while (GstSample* sample = gst_app_sink_try_pull_sample(GST_APP_SINK(sink), 10 * GST_SECOND)) {
        GstBuffer* buffer = gst_sample_get_buffer(sample);
        GstMapInfo map;
        if (gst_buffer_map(buffer, &map, GST_MAP_READ)) {
            pictures.emplace_back(reinterpret_cast<const char*>(map.data), int(map.size));
            gst_buffer_unmap(buffer, &map);
        }
        gst_sample_unref(sample);
    }
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(sink);
    gst_object_unref(pipeline);
    return pictures;
}

// Moving colour bars, as the test source sends them, in UYVY.
std::vector<QByteArray> testPictures(int width, int height, int count)
{
    const QByteArray launch = QStringLiteral("videotestsrc pattern=smpte horizontal-speed=4 num-buffers=%1 ! "
                                             "video/x-raw,format=UYVY,width=%2,height=%3,framerate=30/1 ! "
                                             "appsink name=sink sync=false")
                                  .arg(count)
                                  .arg(width)
                                  .arg(height)
                                  .toUtf8();
    return pullPictures(launch.constData());
}

std::vector<QByteArray> decode(const QByteArray& stream)
{
    return pullPictures("appsrc name=src caps=video/x-h264,stream-format=byte-stream ! h264parse ! avdec_h264 ! "
                        "videoconvert ! video/x-raw,format=UYVY ! appsink name=sink sync=false",
        stream);
}

// PSNR of the luma bytes of two UYVY pictures.
double lumaPsnr(const QByteArray& a, const QByteArray& b)
{
    double sum = 0;
    int n = 0;
    for (int i = 1; i < std::min(a.size(), b.size()); i += 2, ++n) {
        const double d = double(uint8_t(a[i])) - double(uint8_t(b[i]));
        sum += d * d;
    }
    if (n == 0 || a.size() != b.size())
        return 0;
    return sum == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / (sum / n));
}

std::shared_ptr<VideoFrame> frameOver(QByteArray& picture, int width, int height)
{
    return std::make_shared<VideoFrame>(reinterpret_cast<unsigned char*>(picture.data()), uint32_t(width),
        uint32_t(height), uint32_t(picture.size()), uint32_t(width * 2));
}

class EncoderTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { GSTEAMER::Init(nullptr, nullptr); }

    // Configured as the window pipeline does: UYVY, GOP of twice the rate,
    // 2000 kbit/s, rate control 2.
    std::unique_ptr<ZtGstEncoder> makeEncoder(int width, int height, int fps, int encoder = 0)
    {
        auto e = std::make_unique<ZtGstEncoder>();
        e->setId("7", "pvw");
        EXPECT_TRUE(e->setSrcImagePara(width, height, fps, 9));
        e->setEncodePara(width, height, fps, fps * 2, 2000, 2, encoder);
        e->setNaluSink(recorder.sink());
        return e;
    }

    // Feeds the pictures one by one, each only after the previous one came
    // out: every picture must leave the encoder before the next goes in.
    void feedInLockstep(ZtGstEncoder& encoder, std::vector<QByteArray>& pictures, int width, int height)
    {
        const int before = recorder.slices();
        for (size_t i = 0; i < pictures.size(); ++i) {
            encoder.addNewFrame(frameOver(pictures[i], width, height));
            ASSERT_TRUE(testsupport::waitFor([&] { return recorder.slices() == before + int(i) + 1; }, 10000))
                << "picture " << i << " did not come out";
        }
    }

    NaluRecorder recorder;
};

} // namespace

TEST_F(EncoderTest, AutoEncoderTurnsUyvyFramesIntoDecodableUnitsWithOneSliceAndStepPerPicture)
{
    const int w = 640, h = 360, fps = 30;
    std::vector<QByteArray> pictures = testPictures(w, h, 60);
    ASSERT_EQ(pictures.size(), 60u);
    auto encoder = makeEncoder(w, h, fps);
    ASSERT_TRUE(encoder->createEncoderElement());
    GstElement* x264 = encoder->element("x264_enc");
    ASSERT_TRUE(x264) << "auto resolves to the software encoder here";
    gst_object_unref(x264);
    encoder->start();
    feedInLockstep(*encoder, pictures, w, h);
    encoder->stop();

    const std::vector<Unit> units = recorder.units();
    EXPECT_EQ(recorder.ids(), "7/pvw");
    // Only the kinds the sessions know, each for its unit types; parameter
    // sets come first, and every IDR is preceded by the cached SPS and PPS.
    ASSERT_GE(units.size(), 63u);
    EXPECT_EQ(units[0].type(), 7);
    EXPECT_EQ(units[0].kind, 3);
    uint32_t expected = 1000;
    int idrs = 0;
    for (size_t i = 0; i < units.size(); ++i) {
        const Unit& u = units[i];
        EXPECT_EQ(u.fps, fps);
        switch (u.kind) {
        case 0:
        case 2:
            EXPECT_EQ(u.type(), u.kind == 0 ? 1 : 5);
            EXPECT_EQ(u.timestamp, expected) << "one timestamp step per picture, unit " << i;
            expected += 90000 / fps;
            if (u.kind == 2) {
                ++idrs;
                ASSERT_GE(i, 2u);
                EXPECT_EQ(units[i - 2].type(), 7);
                EXPECT_EQ(units[i - 2].kind, 1);
                EXPECT_EQ(units[i - 1].type(), 8);
                EXPECT_EQ(units[i - 1].kind, 1);
            }
            break;
        case 1:
            break;
        case 3:
            EXPECT_TRUE(u.type() == 6 || u.type() == 7 || u.type() == 8) << u.type();
            EXPECT_EQ(u.timestamp, expected);
            break;
        default:
            ADD_FAILURE() << "unknown kind " << u.kind;
        }
    }
    EXPECT_EQ(recorder.slices(), 60) << "one slice per picture";
    EXPECT_GE(idrs, 1);

    const std::vector<QByteArray> decoded = decode(recorder.annexB());
    ASSERT_EQ(decoded.size(), 60u);
    double worst = 99;
    for (size_t i = 0; i < decoded.size(); ++i)
        worst = std::min(worst, lumaPsnr(decoded[i], pictures[i]));
    EXPECT_GT(worst, 30.0);
}

TEST_F(EncoderTest, PlaysAgainAfterPauseStopAndEndOfStreamAndSurvivesFramesItCannotTake)
{
    const int w = 320, h = 180;
    std::vector<QByteArray> pictures = testPictures(w, h, 4);
    ASSERT_EQ(pictures.size(), 4u);
    auto encoder = makeEncoder(w, h, 30);
    ASSERT_TRUE(encoder->createEncoderElement());
    ASSERT_TRUE(encoder->createEncoderElement()) << "a second build replaces the first";
    encoder->start();

    // Bad frames are dropped: no data, size 0, another size than the source's.
    encoder->addNewFrame(nullptr);
    encoder->addNewFrame(std::make_shared<VideoFrame>());
    encoder->addNewFrame(std::make_shared<VideoFrame>(
        reinterpret_cast<unsigned char*>(pictures[0].data()), uint32_t(w), uint32_t(h), 0, uint32_t(w * 2)));
    QByteArray small(64 * 36 * 2, '\x10');
    encoder->addNewFrame(frameOver(small, 64, 36));
    ASSERT_TRUE(testsupport::waitFor([&] { return encoder->queuedFrames() == 0 && encoder->droppedFrames() == 2; }));
    std::vector<QByteArray> first(pictures.begin(), pictures.begin() + 1);
    feedInLockstep(*encoder, first, w, h);

    // Paused, then started again; stopped, then started again.
    encoder->pause();
    encoder->start();
    std::vector<QByteArray> paused(pictures.begin() + 3, pictures.begin() + 4);
    feedInLockstep(*encoder, paused, w, h);
    encoder->stop();
    EXPECT_TRUE(encoder->isStopped());
    encoder->start();
    std::vector<QByteArray> second(pictures.begin() + 1, pictures.begin() + 2);
    feedInLockstep(*encoder, second, w, h);

    // The source refuses pictures after an end of stream: the refused one is
    // dropped and logged, the end of stream stops the pipeline through the
    // bus, and start plays again.
    GstElement* source = encoder->element("app_source");
    ASSERT_TRUE(source);
    testsupport::LogCapture log;
    gst_app_src_end_of_stream(GST_APP_SRC(source));
    gst_object_unref(source);
    encoder->addNewFrame(frameOver(pictures[2], w, h));
    EXPECT_TRUE(testsupport::waitFor([&] { return log.contains("g_signal_emit_by_name error"); }));
    ASSERT_TRUE(testsupport::waitFor([&] { return encoder->isStopped(); }));
    encoder->start();
    std::vector<QByteArray> third(pictures.begin() + 2, pictures.begin() + 3);
    feedInLockstep(*encoder, third, w, h);
}

TEST_F(EncoderTest, EncodingSettingsFollowTheSource)
{
    struct Case {
        int width, height, fps;
        int wantWidth, wantHeight;
        float wantFps;
    } cases[] = {
        { 640, 360, 25, 640, 360, 25 },
        { 320, 180, 12, 320, 180, 12 },
        { 0, 0, 25, 1280, 720, 25 }, // 0 would never negotiate
        { -1, -5, 25, 1280, 720, 25 },
        { 4000, 3000, 30, 1280, 720, 25 }, // larger and faster than the source
        { 640, 360, -5, 640, 360, 0 },
    };
    for (const Case& c : cases) {
        ZtGstEncoder e;
        ASSERT_TRUE(e.setSrcImagePara(1280, 720, 25, 9));
        e.setEncodePara(c.width, c.height, c.fps, 50, 2000, 2, 0);
        EXPECT_EQ(e.encodingConfig().width, c.wantWidth) << c.width;
        EXPECT_EQ(e.encodingConfig().height, c.wantHeight) << c.height;
        EXPECT_FLOAT_EQ(e.encodingConfig().fps, c.wantFps) << c.fps;
    }
    ZtGstEncoder e;
    EXPECT_FALSE(e.setSrcImagePara(0, 720, 25, 9));
    EXPECT_FALSE(e.setSrcImagePara(1280, 720, -1, 9));
    EXPECT_EQ(e.imageConfig().width, 1280);
}

TEST_F(EncoderTest, EncoderPropertiesAndTheRateElement)
{
    // The software encoder runs live: no look-ahead, one thread (one slice).
    auto x264 = makeEncoder(320, 180, 25, 5);
    ASSERT_TRUE(x264->createEncoderElement());
    GstElement* enc = x264->element("x264_enc");
    ASSERT_TRUE(enc);
    guint threads = 99, bitrate = 0, keyint = 0, bframes = 9;
    gint preset = 0, tune = 0;
    g_object_get(enc, "threads", &threads, "bitrate", &bitrate, "key-int-max", &keyint, "bframes", &bframes,
        "speed-preset", &preset, "tune", &tune, nullptr);
    EXPECT_EQ(threads, 1u);
    EXPECT_EQ(bitrate, 2000u);
    EXPECT_EQ(keyint, 50u);
    EXPECT_EQ(bframes, 0u);
    EXPECT_EQ(preset, 2) << "superfast";
    EXPECT_EQ(tune, 4) << "zerolatency";
    gst_object_unref(enc);
    GstElement* rate = x264->element("video_rate");
    EXPECT_FALSE(rate) << "same rate as the source: no rate element";

    // The other software encoder counts bits per second.
    auto openh264 = makeEncoder(320, 180, 25, 4);
    ASSERT_TRUE(openh264->createEncoderElement());
    GstElement* o = openh264->element("openh264_enc");
    ASSERT_TRUE(o);
    guint obitrate = 0, gop = 0;
    g_object_get(o, "bitrate", &obitrate, "gop-size", &gop, nullptr);
    EXPECT_EQ(obitrate, 2000000u);
    EXPECT_EQ(gop, 50u);
    gst_object_unref(o);

    // A lower rate than the source's puts the rate element in.
    auto slower = makeEncoder(320, 180, 25, 5);
    slower->setEncodePara(320, 180, 12, 24, 2000, 2, 5);
    ASSERT_TRUE(slower->createEncoderElement());
    rate = slower->element("video_rate");
    ASSERT_TRUE(rate);
    gint maxRate = 0;
    g_object_get(rate, "max-rate", &maxRate, nullptr);
    EXPECT_EQ(maxRate, 12);
    gst_object_unref(rate);
}

// Enumerated properties are given by their names; a name an element does
// not know would leave its default (bytes, not leaky) without a word.
TEST_F(EncoderTest, SourceAndQueuesTakeTheirEnumeratedSettings)
{
    auto encoder = makeEncoder(320, 180, 25, 5);
    ASSERT_TRUE(encoder->createEncoderElement());
    GstElement* source = encoder->element("app_source");
    ASSERT_TRUE(source);
    gint format = 0, streamType = -1;
    g_object_get(source, "format", &format, "stream-type", &streamType, nullptr);
    EXPECT_EQ(format, GST_FORMAT_TIME);
    EXPECT_EQ(streamType, GST_APP_STREAM_TYPE_STREAM);
    gst_object_unref(source);
    for (const char* name : { "img_queue", "meida_queue" }) {
        GstElement* queue = encoder->element(name);
        ASSERT_TRUE(queue) << name;
        gint leaky = 0;
        g_object_get(queue, "leaky", &leaky, nullptr);
        EXPECT_EQ(leaky, 2) << name << ": leaks downstream, the oldest buffers go";
        gst_object_unref(queue);
    }
}

TEST_F(EncoderTest, UnknownEncodersAndFormatsBuildNothingAndSayWhy)
{
    struct Case {
        int encoder, format;
        const char* line;
    } cases[] = {
        { 2, 9, "ERROR: No encoder was created!  2" }, // "vaapienc" names no encoder
        { 7, 9, "ERROR: No encoder was created!  7" }, // beyond the table
        { 1, 9, "ERROR: No encoder was created!  1" }, // not installed here
        { 5, 10, "ERROR: Some gstreamer elements were created fail!" }, // no such format
    };
    for (const Case& c : cases) {
        testsupport::LogCapture log;
        ZtGstEncoder e;
        ASSERT_TRUE(e.setSrcImagePara(320, 180, 25, c.format));
        e.setEncodePara(320, 180, 25, 50, 2000, 2, c.encoder);
        EXPECT_FALSE(e.createEncoderElement()) << c.encoder;
        EXPECT_TRUE(log.contains(c.line)) << c.line;
        // Frames only fill the bounded queue; start and stop do no harm.
        e.start();
        QByteArray picture(320 * 180 * 2, '\x80');
        for (int i = 0; i < 5; ++i)
            e.addNewFrame(frameOver(picture, 320, 180));
        EXPECT_EQ(e.queuedFrames(), 3u);
        e.stop();
    }

    ZtFindGstEncoder& finder = ZtFindGstEncoder::getInstance();
    for (const char* name : { "X264ENC", "OpenH264Enc", "auto" }) {
        GstElement* element = finder.findGstEncoderByName(name);
        ASSERT_TRUE(element) << name;
        EXPECT_TRUE(QByteArray(GST_OBJECT_NAME(element)).endsWith("264_enc")) << GST_OBJECT_NAME(element);
        gst_object_unref(gst_object_ref_sink(element));
    }
    for (const char* name : { "vaapienc", "", "h265" })
        EXPECT_EQ(finder.findGstEncoderByName(name), nullptr) << name;
    EXPECT_TRUE(finder.findGraphicsDevName("Apple"));
    EXPECT_FALSE(finder.findGraphicsDevName(""));
    EXPECT_EQ(ZtFindGstEncoder::WStringToString(L"x264"), "x264");
}

TEST_F(EncoderTest, SplitterAndCachesHandUnitsOnInTheirKinds)
{
    ZtGstEncoder e;
    e.setId("1", "2");
    e.setSrcImagePara(1280, 720, 25, 9);
    e.setEncodePara(1280, 720, 25, 50, 2000, 2, 0);
    e.setNaluSink(recorder.sink());
    const auto feed = [&e](const QByteArray& sample) {
        ZtGstEncoder::splitNalUnits(reinterpret_cast<const uint8_t*>(sample.constData()), size_t(sample.size()),
            [&e](const uint8_t* unit, int length) { ZtGstEncoder::putH26xNalu(&e, unit, length); });
    };

    // An IDR before any parameter set goes alone.
    feed(QByteArray("\x00\x00\x01\x65\x88", 5));
    // Leading garbage is dropped; SPS and PPS behind 4-byte codes, IDR behind a 3-byte code.
    feed(QByteArray("\xAA\x00\x00\x00\x01\x67\x42\x00\x00\x00\x01\x68\xCE\x00\x00\x01\x65\x88\x80", 19));
    // A non-IDR slice; an SEI; a type that is not handed on (9, access unit delimiter).
    feed(QByteArray("\x00\x00\x00\x01\x06\x05\x00\x00\x00\x01\x09\xF0\x00\x00\x01\x41\x9A", 17));
    // A parameter set too long for its cache is sent but not resent.
    feed(QByteArray("\x00\x00\x00\x01\x67", 5) + QByteArray(600, '\x11') + QByteArray("\x00\x00\x01\x65\x88", 5));

    struct Want {
        int type, kind;
        uint32_t timestamp;
    } want[] = {
        { 5, 2, 1000 },
        { 7, 3, 4600 },
        { 8, 3, 4600 },
        { 7, 1, 4600 },
        { 8, 1, 4600 },
        { 5, 2, 4600 },
        { 6, 3, 8200 },
        { 1, 0, 8200 },
        { 7, 3, 11800 },
        { 8, 1, 11800 },
        { 5, 2, 11800 },
    };
    const std::vector<Unit> units = recorder.units();
    ASSERT_EQ(units.size(), std::size(want));
    for (size_t i = 0; i < units.size(); ++i) {
        EXPECT_EQ(units[i].type(), want[i].type) << i;
        EXPECT_EQ(units[i].kind, want[i].kind) << i;
        EXPECT_EQ(units[i].timestamp, want[i].timestamp) << i;
        EXPECT_EQ(units[i].fps, 25);
    }
    EXPECT_EQ(units[1].bytes, QByteArray("\x67\x42", 2)) << "the zeros of the next start code are not part of it";
    EXPECT_EQ(units[8].bytes.size(), 601);
}

TEST_F(EncoderTest, EncodersMadeAndDestroyedWhileRunningLeaveNothingBehind)
{
    const int w = 160, h = 90;
    std::vector<QByteArray> pictures = testPictures(w, h, 2);
    ASSERT_EQ(pictures.size(), 2u);
    for (int cycle = 0; cycle < 30; ++cycle) {
        auto encoder = makeEncoder(w, h, 30);
        ASSERT_TRUE(encoder->createEncoderElement());
        encoder->start();
        const int before = recorder.slices();
        encoder->addNewFrame(frameOver(pictures[0], w, h));
        if (cycle % 2 == 0) { // half of them mid-stream, half waiting for a picture
            ASSERT_TRUE(testsupport::waitFor([&] { return recorder.slices() > before; }));
        }
        encoder->addNewFrame(frameOver(pictures[1], w, h));
    }
}
