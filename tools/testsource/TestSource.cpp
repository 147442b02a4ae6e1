#include "TestSource.h"

#include "TimeStamp.h"

#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

// HSV with fixed saturation and value, so every source is clearly coloured.
Yuv colourOf(int index, int count)
{
    const double h = 6.0 * index / (count > 0 ? count : 1);
    const double s = 0.7, v = 0.75;
    const int sector = int(h) % 6;
    const double f = h - std::floor(h);
    const double p = v * (1 - s), q = v * (1 - s * f), t = v * (1 - s * (1 - f));
    const double rgb[6][3] = { { v, t, p }, { q, v, p }, { p, v, t }, { p, q, v }, { t, p, v }, { v, p, q } };
    return Yuv::fromRgb(rgb[sector][0], rgb[sector][1], rgb[sector][2]);
}

void logLine(const char* kind, const std::string& name, const std::string& text)
{
    if (text.empty())
        std::printf("%s %s\n", kind, name.c_str());
    else
        std::printf("%s %s %s\n", kind, name.c_str(), text.c_str());
    std::fflush(stdout);
}

} // namespace

TestSource::TestSource(std::string name, int index, int count, int width, int height, int fpsN, int fpsD)
    : m_name(std::move(name))
    , m_fpsN(fpsN)
    , m_fpsD(fpsD)
    , m_colour(colourOf(index, count))
    , m_pictures { TestPicture(width, height), TestPicture(width, height) }
{
}

TestSource::~TestSource()
{
    if (m_sender) {
        NDIlib_send_send_video_async_v2(m_sender, nullptr);
        NDIlib_send_destroy(m_sender);
    }
}

bool TestSource::start()
{
    NDIlib_send_create_t settings;
    settings.p_ndi_name = m_name.c_str();
    m_sender = NDIlib_send_create_v2(&settings, nullptr);
    if (!m_sender)
        return false;
    const char* capabilities = "<ndi_capabilities ptz=\"true\"/>";
    NDIlib_metadata_frame_t metadata;
    metadata.p_data = const_cast<char*>(capabilities);
    NDIlib_send_add_connection_metadata(m_sender, &metadata);
    logLine("ready", m_name, "");
    return true;
}

void TestSource::sendVideo()
{
    TestPicture& picture = m_pictures[m_frame % 2];
    const int w = picture.width(), h = picture.height();
    picture.fill(m_colour);
    // The bar crosses the picture once every two seconds.
    const int bar = std::max(2, w / 16);
    const double framesPerCrossing = 2.0 * m_fpsN / (m_fpsD > 0 ? m_fpsD : 1);
    const int x = int(std::fmod(m_frame, framesPerCrossing) / framesPerCrossing * (w - bar));
    picture.rect(x, 0, bar, h, Yuv { 235, 128, 128 });
    picture.number(w / 40, h / 20, m_frame, std::max(2, h / 60));
    if (m_stamped) {
        const Yuv black { 16, 128, 128 }, white { 235, 128, 128 };
        timestamp::draw(w, h, timestamp::nowMs(), [&picture, &black, &white](int x, int y, int bw, int bh, bool on) {
            picture.rect(x, y, bw, bh, on ? white : black);
        });
    }

    NDIlib_video_frame_v2_t frame;
    frame.xres = w;
    frame.yres = h;
    frame.FourCC = NDIlib_FourCC_video_type_UYVY;
    frame.frame_rate_N = m_fpsN;
    frame.frame_rate_D = m_fpsD;
    frame.picture_aspect_ratio = float(w) / float(h);
    frame.p_data = picture.data();
    frame.line_stride_in_bytes = picture.stride();
    NDIlib_send_send_video_async_v2(m_sender, &frame);
    ++m_frame;
}

void TestSource::sendAudio(int samples)
{
    m_audio.resize(size_t(samples) * kChannels);
    const double amplitude = kTonePeak * 32768.0;
    for (int i = 0; i < samples; ++i) {
        const double t = double(m_toneSample + i) / kSampleRate;
        const auto value = int16_t(std::lround(amplitude * std::sin(2.0 * M_PI * m_toneHz * t)));
        for (int c = 0; c < kChannels; ++c)
            m_audio[size_t(i) * kChannels + size_t(c)] = value;
    }
    m_toneSample = (m_toneSample + samples) % kSampleRate;

    NDIlib_audio_frame_interleaved_16s_t audio;
    audio.sample_rate = kSampleRate;
    audio.no_channels = kChannels;
    audio.no_samples = samples;
    audio.reference_level = kReferenceLevel;
    audio.p_data = m_audio.data();
    NDIlib_util_send_send_audio_interleaved_16s(m_sender, &audio);
}

void TestSource::poll()
{
    NDIlib_tally_t tally;
    if (NDIlib_send_get_tally(m_sender, &tally, 0)) {
        logLine("tally", m_name,
            std::string("program=") + (tally.on_program ? "1" : "0") + " preview=" + (tally.on_preview ? "1" : "0"));
    }
    NDIlib_metadata_frame_t metadata;
    while (NDIlib_send_capture(m_sender, &metadata, 0) == NDIlib_frame_type_metadata) {
        const std::string text = metadata.p_data ? metadata.p_data : "";
        NDIlib_send_free_metadata(m_sender, &metadata);
        logLine(text.rfind("<ptz_", 0) == 0 ? "ptz" : "metadata", m_name, text);
    }
}
