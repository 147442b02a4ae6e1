// Receiving through frame synchronisers: pictures (newest repeated, reduced
// for low bandwidth) and sound resampled to what the caller asks for.
#include "NdiTestKit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

using namespace ndikit;

namespace {

constexpr float kToneRms = 0.70710678f; // 1 kHz at -20 dBFS, 16-bit at reference level 20: peak 1.0

struct Captured {
    NDIlib_video_frame_v2_t frame;
    std::vector<uint8_t> pixels; // packed lines
};

// Sends the picture again and again until the synchroniser shows it (a
// receiver takes pictures only once its hello has reached the sender).
bool sendUntilSeen(const Sender& sender, const FrameSync& sync, Picture& picture, int timeoutMs = 5000)
{
    const uint8_t marker = picture.bytes[0];
    return testsupport::waitFor(
        [&] {
            auto frame = picture.frame();
            NDIlib_send_send_video_async_v2(sender.get(), &frame);
            return waitForPicture(sync, marker, 20);
        },
        timeoutMs);
}

Captured capture(const FrameSync& sync)
{
    Captured out;
    NDIlib_framesync_capture_video(sync.get(), &out.frame, NDIlib_frame_format_type_progressive);
    if (out.frame.p_data) {
        for (int y = 0; y < out.frame.yres; ++y) {
            const uint8_t* line = out.frame.p_data + size_t(y) * size_t(out.frame.line_stride_in_bytes);
            out.pixels.insert(out.pixels.end(), line, line + out.frame.xres * 2);
        }
    }
    NDIlib_framesync_free_video(sync.get(), &out.frame);
    return out;
}

void sendTone(const Sender& sender, int blocks, long long& sampleIndex)
{
    const int samples = 480;
    std::vector<int16_t> data(size_t(samples) * 2);
    for (int b = 0; b < blocks; ++b) {
        for (int i = 0; i < samples; ++i) {
            const double t = double(sampleIndex++) / 48000.0;
            const auto v = int16_t(std::lround(3276.8 * std::sin(2 * M_PI * 1000.0 * t)));
            data[size_t(i) * 2] = data[size_t(i) * 2 + 1] = v;
        }
        NDIlib_audio_frame_interleaved_16s_t audio;
        audio.sample_rate = 48000;
        audio.no_channels = 2;
        audio.no_samples = samples;
        audio.reference_level = 20;
        audio.p_data = data.data();
        NDIlib_util_send_send_audio_interleaved_16s(sender.get(), &audio);
    }
}

double rms(const float* x, int n)
{
    double sum = 0;
    for (int i = 0; i < n; ++i)
        sum += double(x[i]) * x[i];
    return std::sqrt(sum / n);
}

int zeroCrossings(const float* x, int n)
{
    int count = 0;
    for (int i = 1; i < n; ++i)
        count += (x[i - 1] < 0) != (x[i] < 0);
    return count;
}

} // namespace

TEST(NdiReceive, NothingWhileUnconnectedThenPicturesOnceTheSourceAppears)
{
    ScopedRegistry registry;
    Receiver receiver = makeReceiver("Late Cam");
    ASSERT_TRUE(receiver);
    FrameSync sync(NDIlib_framesync_create(receiver.get()));
    EXPECT_EQ(NDIlib_recv_get_no_connections(receiver.get()), 0);

    NDIlib_video_frame_v2_t video;
    NDIlib_framesync_capture_video(sync.get(), &video, NDIlib_frame_format_type_progressive);
    EXPECT_EQ(video.p_data, nullptr);
    EXPECT_EQ(video.xres, 0);
    NDIlib_framesync_free_video(sync.get(), &video);
    NDIlib_audio_frame_v2_t audio;
    NDIlib_framesync_capture_audio(sync.get(), &audio, 48000, 2, 960);
    EXPECT_EQ(audio.p_data, nullptr);
    NDIlib_framesync_free_audio(sync.get(), &audio);

    // The receiver keeps its target and connects once the sender is there.
    Sender sender = makeSender("Late Cam");
    ASSERT_TRUE(connected(receiver));
    Picture picture(64, 36);
    std::fill(picture.bytes.begin(), picture.bytes.end(), 0x51);
    EXPECT_TRUE(sendUntilSeen(sender, sync, picture));
}

TEST(NdiReceive, SynchroniserRepeatsTheNewestPictureUntilANewerOneArrives)
{
    ScopedRegistry registry;
    Sender sender = makeSender("Repeat");
    Receiver receiver = makeReceiver("Repeat");
    FrameSync sync(NDIlib_framesync_create(receiver.get()));

    Picture first(48, 20, /*padding*/ 16);
    for (int y = 0; y < first.height; ++y)
        std::fill_n(first.bytes.begin() + y * first.stride, first.width * 2, uint8_t(y + 1));
    ASSERT_TRUE(sendUntilSeen(sender, sync, first));

    // Repeated, not consumed: two captures at once both hold the same picture.
    NDIlib_video_frame_v2_t a, b;
    NDIlib_framesync_capture_video(sync.get(), &a, NDIlib_frame_format_type_progressive);
    NDIlib_framesync_capture_video(sync.get(), &b, NDIlib_frame_format_type_progressive);
    ASSERT_NE(a.p_data, nullptr);
    EXPECT_EQ(a.p_data, b.p_data);
    EXPECT_EQ(a.xres, 48);
    EXPECT_EQ(a.yres, 20);
    EXPECT_EQ(a.FourCC, NDIlib_FourCC_video_type_UYVY);
    EXPECT_EQ(a.frame_rate_N, 30);
    EXPECT_EQ(a.frame_rate_D, 1);
    EXPECT_EQ(a.frame_format_type, NDIlib_frame_format_type_progressive);
    EXPECT_EQ(a.line_stride_in_bytes, 96) << "lines arrive packed";
    EXPECT_GT(a.timestamp, 0);
    for (int y = 0; y < a.yres; ++y) {
        const uint8_t* line = a.p_data + y * a.line_stride_in_bytes;
        EXPECT_EQ(std::count(line, line + 96, uint8_t(y + 1)), 96) << "line " << y;
    }
    NDIlib_framesync_free_video(sync.get(), &a);
    NDIlib_framesync_free_video(sync.get(), &b);
    EXPECT_EQ(a.p_data, nullptr);

    Picture second(48, 20);
    std::fill(second.bytes.begin(), second.bytes.end(), 0xA0);
    auto frame = second.frame();
    NDIlib_send_send_video_async_v2(sender.get(), &frame);
    ASSERT_TRUE(waitForPicture(sync, 0xA0));
    const Captured again = capture(sync);
    EXPECT_EQ(std::count(again.pixels.begin(), again.pixels.end(), 0xA0), 48 * 20 * 2);
}

TEST(NdiReceive, BandwidthDecidesWhatAReceiverGets)
{
    ScopedRegistry registry;
    Sender sender = makeSender("Bandwidth");
    struct Case {
        NDIlib_recv_bandwidth_e bandwidth;
        int width, height; // 0: no pictures
        bool audio;
    };
    const Case cases[] = {
        { NDIlib_recv_bandwidth_highest, 64, 36, true },
        { NDIlib_recv_bandwidth_lowest, 32, 18, true },
        { NDIlib_recv_bandwidth_audio_only, 0, 0, true },
        { NDIlib_recv_bandwidth_metadata_only, 0, 0, false },
    };
    std::vector<std::pair<Receiver, FrameSync>> receivers;
    for (const Case& c : cases) {
        Receiver r = makeReceiver("Bandwidth", c.bandwidth);
        FrameSync s(NDIlib_framesync_create(r.get()));
        receivers.emplace_back(std::move(r), std::move(s));
    }
    std::mt19937 random(7);
    Picture picture(64, 36);
    for (auto& byte : picture.bytes)
        byte = uint8_t(16 + random() % 224);
    picture.bytes[0] = 0x42; // marker; still random enough for the averages
    long long toneIndex = 0;

    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.bandwidth);
        const FrameSync& sync = receivers[i].second;
        ASSERT_TRUE(connected(receivers[i].first));
        if (c.width) {
            ASSERT_TRUE(testsupport::waitFor(
                [&] {
                    auto frame = picture.frame();
                    NDIlib_send_send_video_async_v2(sender.get(), &frame);
                    return capture(sync).frame.xres == c.width;
                },
                5000));
            const Captured got = capture(sync);
            EXPECT_EQ(got.frame.yres, c.height);
            if (c.width == picture.width) {
                EXPECT_EQ(got.pixels, picture.bytes);
            } else {
                // Each reduced pixel is the mean of the 2 x 2 pixels it covers;
                // each reduced macropixel's chroma the mean of the two it covers.
                auto in
                    = [&](int x, int y, int offset) { return int(picture.bytes[size_t(y * 128 + x * 2 + offset)]); };
                int worst = 0;
                for (int y = 0; y < c.height; ++y) {
                    for (int x = 0; x < c.width; ++x) {
                        const int luma = (in(2 * x, 2 * y, 1) + in(2 * x + 1, 2 * y, 1) + in(2 * x, 2 * y + 1, 1)
                                             + in(2 * x + 1, 2 * y + 1, 1) + 2)
                            / 4;
                        // Chroma bytes sit at even pixel offsets: U at 4m, V at 4m + 2.
                        const int m = x / 2, chromaOffset = (x % 2) ? 2 : 0;
                        const int chroma
                            = (in(4 * m, 2 * y, chromaOffset) + in(4 * m + 2, 2 * y, chromaOffset)
                                  + in(4 * m, 2 * y + 1, chromaOffset) + in(4 * m + 2, 2 * y + 1, chromaOffset) + 2)
                            / 4;
                        worst = std::max(worst, std::abs(got.pixels[size_t(y * c.width * 2 + x * 2 + 1)] - luma));
                        worst = std::max(worst, std::abs(got.pixels[size_t(y * c.width * 2 + x * 2)] - chroma));
                    }
                }
                EXPECT_EQ(worst, 0);
            }
        }
        if (c.audio) {
            ASSERT_TRUE(testsupport::waitFor(
                [&] {
                    sendTone(sender, 1, toneIndex);
                    NDIlib_audio_frame_v2_t audio;
                    NDIlib_framesync_capture_audio(sync.get(), &audio, 48000, 2, 48);
                    const bool got = audio.p_data != nullptr;
                    NDIlib_framesync_free_audio(sync.get(), &audio);
                    return got;
                },
                5000));
        }
    }
    // What a receiver did not ask for never arrives, while the others got theirs.
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].bandwidth);
        if (!cases[i].width) {
            EXPECT_EQ(capture(receivers[i].second).frame.xres, 0);
        }
        if (!cases[i].audio) {
            NDIlib_audio_frame_v2_t audio;
            NDIlib_framesync_capture_audio(receivers[i].second.get(), &audio, 48000, 2, 48);
            EXPECT_EQ(audio.p_data, nullptr);
        }
    }
}

TEST(NdiReceive, SoundComesInTheRequestedRateChannelsAndCountWithItsLevel)
{
    ScopedRegistry registry;
    Sender sender = makeSender("Tone");
    Receiver receiver = makeReceiver("Tone");
    FrameSync sync(NDIlib_framesync_create(receiver.get()));
    Picture marker(16, 16);
    marker.bytes[0] = 1;
    ASSERT_TRUE(sendUntilSeen(sender, sync, marker));

    struct Case {
        int rate, channels;
    };
    const Case cases[] = { { 48000, 2 }, { 44100, 1 }, { 32000, 2 }, { 96000, 4 } };
    long long toneIndex = 0;
    uint8_t markerValue = 1;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.rate << " Hz, " << c.channels << " channels");
        // 50 ms of tone, then a picture: once the picture shows, the sound
        // queued before it has arrived too.
        sendTone(sender, 5, toneIndex);
        marker.bytes[0] = ++markerValue;
        ASSERT_TRUE(sendUntilSeen(sender, sync, marker));

        const int samples = c.rate / 50; // 20 ms
        std::vector<std::vector<float>> joined(size_t(c.channels));
        for (int block = 0; block < 2; ++block) {
            NDIlib_audio_frame_v2_t audio;
            NDIlib_framesync_capture_audio(sync.get(), &audio, c.rate, c.channels, samples);
            ASSERT_NE(audio.p_data, nullptr);
            EXPECT_EQ(audio.sample_rate, c.rate);
            EXPECT_EQ(audio.no_channels, c.channels);
            EXPECT_EQ(audio.no_samples, samples);
            EXPECT_EQ(audio.channel_stride_in_bytes, samples * int(sizeof(float)));
            for (int ch = 0; ch < c.channels; ++ch) {
                const float* data = audio.p_data + size_t(ch) * size_t(samples);
                joined[size_t(ch)].insert(joined[size_t(ch)].end(), data, data + samples);
            }
            if (block == 0) {
                // The 16-bit form at the sender's reference level is the sender's samples.
                std::vector<int16_t> pcm(size_t(samples) * size_t(c.channels));
                NDIlib_audio_frame_interleaved_16s_t out;
                out.reference_level = 20;
                out.p_data = pcm.data();
                NDIlib_util_audio_to_interleaved_16s_v2(&audio, &out);
                EXPECT_EQ(out.no_samples, samples);
                double sum = 0;
                for (int i = 0; i < samples; ++i)
                    sum += double(pcm[size_t(i * c.channels)]) * pcm[size_t(i * c.channels)];
                EXPECT_NEAR(std::sqrt(sum / samples), 3276.8 * kToneRms, 3276.8 * kToneRms * 0.03);
            }
            NDIlib_framesync_free_audio(sync.get(), &audio);
        }
        for (int ch = 0; ch < c.channels; ++ch) {
            SCOPED_TRACE(ch);
            const std::vector<float>& x = joined[size_t(ch)];
            const int n = int(x.size());
            if (ch >= 2) {
                EXPECT_EQ(rms(x.data(), n), 0.0) << "a stereo source leaves extra channels silent";
                continue;
            }
            EXPECT_NEAR(rms(x.data(), n), kToneRms, kToneRms * 0.03);
            EXPECT_NEAR(zeroCrossings(x.data(), n), 80, 2) << "still 1 kHz over 40 ms";
            // The second block continues the first without a jump.
            const double maxStep = 2 * M_PI * 1000.0 / c.rate * 1.2;
            EXPECT_LE(std::abs(x[size_t(samples)] - x[size_t(samples - 1)]), maxStep);
        }
    }

    // Whatever is left goes out (padded with silence); then nothing is queued.
    NDIlib_audio_frame_v2_t audio;
    NDIlib_framesync_capture_audio(sync.get(), &audio, 48000, 2, 48000);
    EXPECT_NE(audio.p_data, nullptr);
    NDIlib_framesync_free_audio(sync.get(), &audio);
    NDIlib_framesync_capture_audio(sync.get(), &audio, 48000, 2, 960);
    EXPECT_EQ(audio.p_data, nullptr);
}

TEST(NdiReceive, InterleavingHelpersKeepChannelOrderAndClipTo16Bits)
{
    // Two channels of three samples, planar with a padded channel stride.
    float planar[2][4] = { { 0.5f, -0.25f, 20.0f, 9.f }, { -1.0f, 0.0f, -20.0f, 9.f } };
    NDIlib_audio_frame_v2_t src;
    src.sample_rate = 48000;
    src.no_channels = 2;
    src.no_samples = 3;
    src.p_data = &planar[0][0];
    src.channel_stride_in_bytes = 4 * sizeof(float);

    float interleaved[6];
    NDIlib_audio_frame_interleaved_32f_t f32;
    f32.p_data = interleaved;
    NDIlib_util_audio_to_interleaved_32f_v2(&src, &f32);
    EXPECT_EQ(std::vector<float>(interleaved, interleaved + 6),
        (std::vector<float> { 0.5f, -1.0f, -0.25f, 0.0f, 20.0f, -20.0f }));

    int16_t pcm[6];
    NDIlib_audio_frame_interleaved_16s_t s16;
    s16.reference_level = 0; // full scale is 1.0
    s16.p_data = pcm;
    NDIlib_util_audio_to_interleaved_16s_v2(&src, &s16);
    EXPECT_EQ(std::vector<int16_t>(pcm, pcm + 6), (std::vector<int16_t> { 16384, -32768, -8192, 0, 32767, -32768 }));
    s16.reference_level = 20; // full scale is 10.0
    NDIlib_util_audio_to_interleaved_16s_v2(&src, &s16);
    EXPECT_EQ(pcm[0], 1638);
    EXPECT_EQ(pcm[4], 32767) << "20.0 is beyond full scale even at +20 dB";
}
