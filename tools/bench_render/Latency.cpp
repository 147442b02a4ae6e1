#include "Latency.h"

#include "NdiWrapper.h"
#include "TimeStamp.h"

#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>
#include <gst/video/video.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>

namespace {

// Codes remembered to count each once: a second of pictures and more.
constexpr size_t kRecentCodes = 120;

} // namespace

void LatencyLog::seen(uint32_t stampMs, uint32_t nowMs)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (std::find(m_recent.begin(), m_recent.end(), stampMs) != m_recent.end())
        return;
    m_recent.push_back(stampMs);
    if (m_recent.size() > kRecentCodes)
        m_recent.pop_front();
    // Both clocks are the same steady clock, cut to 32 bits.
    m_ms.push_back(double(int32_t(nowMs - stampMs)));
}

void LatencyLog::restart()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_ms.clear();
}

size_t LatencyLog::count() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_ms.size();
}

double LatencyLog::quantileMs(double p) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_ms.empty())
        return 0;
    std::vector<double> sorted = m_ms;
    std::sort(sorted.begin(), sorted.end());
    return sorted[std::min(sorted.size() - 1, size_t(std::lround(p * double(sorted.size() - 1))))];
}

// --- Network output ------------------------------------------------------------

NetworkWatch::NetworkWatch(QString sourceName, QRectF area)
    : m_name(std::move(sourceName))
    , m_area(area)
{
}

NetworkWatch::~NetworkWatch()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
}

void NetworkWatch::start()
{
    m_thread = std::thread(&NetworkWatch::run, this);
}

void NetworkWatch::run()
{
    NDIlib_recv_create_t settings;
    const QByteArray name = m_name.toUtf8();
    settings.source_to_connect_to.p_ndi_name = name.constData();
    settings.bandwidth = NDIlib_recv_bandwidth_highest;
    settings.p_ndi_recv_name = "panoptra_bench_render";
    NDIlib_recv_instance_t receiver = NDIlib_recv_create_v4(&settings, nullptr);
    NDIlib_framesync_instance_t sync = NDIlib_framesync_create(receiver);
    int64_t last = 0;
    int polls = 0;
    while (!m_stop) {
        // The receiver connects again while asked for its connections.
        if (++polls % 50 == 0)
            NDIlib_recv_get_no_connections(receiver);
        NDIlib_video_frame_v2_t frame;
        NDIlib_framesync_capture_video(sync, &frame, NDIlib_frame_format_type_progressive);
        const uint32_t now = timestamp::nowMs();
        if (frame.p_data && frame.timestamp != last && frame.FourCC == NDIlib_FourCC_video_type_UYVY) {
            last = frame.timestamp;
            ++m_pictures;
            const int stride = frame.line_stride_in_bytes > 0 ? frame.line_stride_in_bytes : frame.xres * 2;
            const int w = frame.xres, h = frame.yres;
            const uint8_t* data = frame.p_data;
            const auto luma = [&](int x, int y) {
                return int(
                    data[size_t(std::clamp(y, 0, h - 1)) * size_t(stride) + size_t(std::clamp(x, 0, w - 1)) * 2 + 1]);
            };
            if (const auto stamp
                = timestamp::read(m_area.x() * w, m_area.y() * h, m_area.width() * w, m_area.height() * h, luma))
                m_log.seen(*stamp, now);
        }
        NDIlib_framesync_free_video(sync, &frame);
        // Looked at every 2 ms: a picture is seen at most that late.
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    NDIlib_framesync_destroy(sync);
    NDIlib_recv_destroy(receiver);
}

// --- Pictures of a GStreamer pipeline ---------------------------------------------

SampleWatch::SampleWatch(QRectF area)
    : m_area(area)
{
}

void SampleWatch::attach(GstElement* appsink)
{
    g_object_set(appsink, "emit-signals", TRUE, "sync", FALSE, "max-buffers", 2, "drop", TRUE, nullptr);
    g_signal_connect(appsink, "new-sample", G_CALLBACK(&SampleWatch::onSample), this);
}

GstFlowReturn SampleWatch::onSample(GstElement* sink, gpointer data)
{
    auto* self = static_cast<SampleWatch*>(data);
    GstSample* sample = gst_app_sink_pull_sample(GST_APP_SINK(sink));
    if (!sample)
        return GST_FLOW_OK;
    const uint32_t now = timestamp::nowMs();
    GstVideoInfo info;
    GstVideoFrame frame;
    if (gst_video_info_from_caps(&info, gst_sample_get_caps(sample))
        && gst_video_frame_map(&frame, &info, gst_sample_get_buffer(sample), GST_MAP_READ)) {
        ++self->m_pictures;
        const auto* y0 = static_cast<const uint8_t*>(GST_VIDEO_FRAME_COMP_DATA(&frame, 0));
        const int stride = GST_VIDEO_FRAME_COMP_STRIDE(&frame, 0), step = GST_VIDEO_FRAME_COMP_PSTRIDE(&frame, 0);
        const int w = GST_VIDEO_FRAME_WIDTH(&frame), h = GST_VIDEO_FRAME_HEIGHT(&frame);
        const auto luma = [&](int x, int y) {
            return int(y0[size_t(std::clamp(y, 0, h - 1)) * size_t(stride) + size_t(std::clamp(x, 0, w - 1) * step)]);
        };
        const QRectF& a = self->m_area;
        if (const auto stamp = timestamp::read(a.x() * w, a.y() * h, a.width() * w, a.height() * h, luma))
            self->m_log.seen(*stamp, now);
        gst_video_frame_unmap(&frame);
    }
    gst_sample_unref(sample);
    return GST_FLOW_OK;
}

// --- H.264 output --------------------------------------------------------------

H264Watch::H264Watch(QRectF area)
    : m_watch(area)
{
}

H264Watch::~H264Watch()
{
    if (m_pipeline) {
        gst_element_set_state(m_pipeline, GST_STATE_NULL);
        gst_object_unref(m_source);
        gst_object_unref(m_pipeline);
    }
}

bool H264Watch::start()
{
    GError* error = nullptr;
    m_pipeline = gst_parse_launch("appsrc name=units is-live=true format=time do-timestamp=true "
                                  "caps=video/x-h264,stream-format=byte-stream,alignment=au "
                                  "! h264parse ! avdec_h264 max-threads=1 ! videoconvert ! video/x-raw,format=I420 "
                                  "! appsink name=pictures",
        &error);
    if (!m_pipeline) {
        g_clear_error(&error);
        return false;
    }
    m_source = gst_bin_get_by_name(GST_BIN(m_pipeline), "units");
    GstElement* sink = gst_bin_get_by_name(GST_BIN(m_pipeline), "pictures");
    m_watch.attach(sink);
    gst_object_unref(sink);
    return gst_element_set_state(m_pipeline, GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE;
}

void H264Watch::push(const char* unit, int length, int kind)
{
    if (!m_source || length < 1)
        return;
    static const char kStartCode[4] = { 0, 0, 0, 1 };
    m_picture.insert(m_picture.end(), kStartCode, kStartCode + 4);
    m_picture.insert(m_picture.end(), unit, unit + length);
    if (kind != 0 && kind != 2)
        return;
    GstBuffer* buffer = gst_buffer_new_allocate(nullptr, m_picture.size(), nullptr);
    gst_buffer_fill(buffer, 0, m_picture.data(), m_picture.size());
    m_picture.clear();
    gst_app_src_push_buffer(GST_APP_SRC(m_source), buffer);
}
