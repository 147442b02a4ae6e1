#pragma once
// H264Feeder: an x264 stream of one window (zero-latency tuning, one slice
// per picture, a GOP of two seconds), handed to a WebrtcManager NAL unit by
// NAL unit with the kinds the window encoder gives them: SPS/PPS/SEI as they
// come (3), the cached SPS and PPS again before each IDR (1), IDR (2), other
// slices (0). Stands in for the windows' encoders in tests and benchmarks.
//
// Owner: the test or benchmark. Threads: GStreamer's streaming thread calls
// sendVideo; a stamped feeder also runs its own frame thread.
#include "webrtc/WebrtcManager.h"

#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>
#include <gst/gst.h>

#include <QString>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

namespace webrtctest {

class H264Feeder {
public:
    static constexpr int kStampBits = 32;
    static constexpr int kStampBlock = 32; // pixels per bit, square, top left

    // stamped: pictures are grey with the send time (wall clock, low 32 bits
    // of the milliseconds) written as a row of black and white blocks;
    // otherwise a moving test pattern. threads: x264 threads (0 = automatic).
    H264Feeder(WebrtcManager* manager, const QString& pro, const QString& win, int width, int height, int fps,
        bool stamped = false, int threads = 1)
        : m_manager(manager)
        , m_pro(pro)
        , m_win(win)
        , m_width(width)
        , m_height(height)
        , m_fps(fps)
    {
        gst_init(nullptr, nullptr);
        const QString source = stamped
            ? QString("appsrc name=src is-live=true format=time do-timestamp=true "
                      "caps=video/x-raw,format=I420,width=%1,height=%2,framerate=%3/1")
            : QString(
                "videotestsrc is-live=true pattern=ball ! video/x-raw,format=I420,width=%1,height=%2,framerate=%3/1");
        const QString description = (source
            + " ! x264enc tune=zerolatency threads=%4 sliced-threads=false speed-preset=ultrafast bitrate=%5 "
              "key-int-max=%6 ! video/x-h264,stream-format=byte-stream,alignment=au,profile=constrained-baseline ! "
              "appsink name=sink sync=false max-buffers=4 drop=true")
                                        .arg(width)
                                        .arg(height)
                                        .arg(fps)
                                        .arg(threads)
                                        .arg(width >= 1280 ? 2000 : 800)
                                        .arg(2 * fps);
        GError* error = nullptr;
        m_pipeline = gst_parse_launch(description.toUtf8().constData(), &error);
        if (error) {
            m_error = error->message;
            g_error_free(error);
            return;
        }
        GstElement* sink = gst_bin_get_by_name(GST_BIN(m_pipeline), "sink");
        GstAppSinkCallbacks callbacks {};
        callbacks.new_sample = &H264Feeder::onSample;
        gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, this, nullptr);
        gst_object_unref(sink);
        gst_element_set_state(m_pipeline, GST_STATE_PLAYING);
        if (stamped) {
            m_src = gst_bin_get_by_name(GST_BIN(m_pipeline), "src");
            m_frames = std::thread([this] { pushStampedFrames(); });
        }
    }
    ~H264Feeder()
    {
        m_run = false;
        if (m_frames.joinable())
            m_frames.join();
        if (m_src)
            gst_object_unref(m_src);
        if (m_pipeline) {
            gst_element_set_state(m_pipeline, GST_STATE_NULL);
            gst_object_unref(m_pipeline);
        }
    }
    H264Feeder(const H264Feeder&) = delete;
    H264Feeder& operator=(const H264Feeder&) = delete;

    const std::string& error() const { return m_error; }

private:
    void pushStampedFrames()
    {
        const size_t ySize = size_t(m_width) * size_t(m_height);
        const auto period = std::chrono::microseconds(1000000 / m_fps);
        auto next = std::chrono::steady_clock::now();
        while (m_run) {
            GstBuffer* buffer = gst_buffer_new_allocate(nullptr, ySize * 3 / 2, nullptr);
            GstMapInfo map;
            gst_buffer_map(buffer, &map, GST_MAP_WRITE);
            std::memset(map.data, 128, ySize * 3 / 2);
            const uint32_t stamp = uint32_t(std::chrono::duration_cast<std::chrono::milliseconds>(
                std::chrono::system_clock::now().time_since_epoch())
                                                .count());
            for (int bit = 0; bit < kStampBits; ++bit) {
                const uint8_t luma = (stamp >> (kStampBits - 1 - bit)) & 1 ? 235 : 16;
                for (int y = 0; y < kStampBlock; ++y)
                    std::memset(map.data + size_t(y) * size_t(m_width) + size_t(bit * kStampBlock), luma, kStampBlock);
            }
            gst_buffer_unmap(buffer, &map);
            gst_app_src_push_buffer(GST_APP_SRC(m_src), buffer);
            next += period;
            std::this_thread::sleep_until(next);
        }
    }
    static GstFlowReturn onSample(GstAppSink* sink, gpointer self)
    {
        GstSample* sample = gst_app_sink_pull_sample(sink);
        if (!sample)
            return GST_FLOW_OK;
        GstMapInfo map;
        GstBuffer* buffer = gst_sample_get_buffer(sample);
        if (gst_buffer_map(buffer, &map, GST_MAP_READ)) {
            static_cast<H264Feeder*>(self)->split(reinterpret_cast<const char*>(map.data), int(map.size));
            gst_buffer_unmap(buffer, &map);
        }
        gst_sample_unref(sample);
        return GST_FLOW_OK;
    }
    // Annex B: units start after 00 00 01 (or 00 00 00 01).
    void split(const char* data, int size)
    {
        int start = -1;
        for (int i = 0; i + 2 < size; ++i) {
            if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) {
                if (start >= 0) {
                    int end = i;
                    while (end > start && data[end - 1] == 0)
                        --end;
                    hand(data + start, end - start);
                }
                start = i + 3;
                i += 2;
            }
        }
        if (start >= 0 && start < size)
            hand(data + start, size - start);
    }
    void hand(const char* nal, int length)
    {
        const int type = nal[0] & 0x1F;
        if (type == 7)
            m_sps.assign(nal, nal + length);
        if (type == 8)
            m_pps.assign(nal, nal + length);
        if (type == 5) {
            if (!m_sps.empty())
                m_manager->sendVideo(m_pro, m_win, m_sps.data(), int(m_sps.size()), 0, 1, m_fps);
            if (!m_pps.empty())
                m_manager->sendVideo(m_pro, m_win, m_pps.data(), int(m_pps.size()), 0, 1, m_fps);
            m_manager->sendVideo(m_pro, m_win, nal, length, 0, 2, m_fps);
        } else {
            m_manager->sendVideo(m_pro, m_win, nal, length, 0, type == 1 ? 0 : 3, m_fps);
        }
    }

    WebrtcManager* m_manager;
    QString m_pro, m_win;
    int m_width, m_height, m_fps;
    GstElement* m_pipeline = nullptr;
    GstElement* m_src = nullptr;
    std::thread m_frames;
    std::atomic<bool> m_run { true };
    std::vector<char> m_sps, m_pps;
    std::string m_error;
};

} // namespace webrtctest
