#pragma once
// Glass-to-glass measures of the render benchmark: the time from a stamped
// source picture's send (tools/testsource/TimeStamp.h) to its first sight in
// an output. Two watchers read an output's pictures and note each code the
// first time they see it in the rectangle where the source is shown:
// NetworkWatch receives a network-video source (a window's network output)
// with a receiver of the stand-in, as a consumer on this machine would;
// H264Watch decodes an H.264 byte stream with GStreamer (avdec_h264, one
// thread, so no frame is held back), fed picture by picture as the encoder
// hands the units out, and reads the decoded picture; SampleWatch reads the
// pictures of any GStreamer pipeline's appsink.
//
// Each watcher owns its thread (or its GStreamer pipeline) from start() until
// its destructor; the figures are read once it has stopped or while it runs
// (the log is locked).
#include <gst/gst.h>

#include <QRectF>
#include <QString>

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

// Latencies of the codes seen, each counted once: at its first sight.
class LatencyLog {
public:
    void seen(uint32_t stampMs, uint32_t nowMs);
    // Starts the measured part: what was seen before is dropped.
    void restart();
    size_t count() const;
    // The p-quantile (0..1) in milliseconds; 0 without samples.
    double quantileMs(double p) const;

private:
    mutable std::mutex m_mutex;
    std::deque<uint32_t> m_recent; // codes seen lately, to count each once
    std::vector<double> m_ms;
};

class NetworkWatch {
public:
    // area: where the stamped picture lies in the received picture, as
    // fractions of its width and height.
    NetworkWatch(QString sourceName, QRectF area);
    ~NetworkWatch();
    void start();
    LatencyLog& log() { return m_log; }
    int64_t pictures() const { return m_pictures; }

private:
    void run();

    const QString m_name;
    const QRectF m_area;
    LatencyLog m_log;
    std::atomic<bool> m_stop { false };
    std::atomic<int64_t> m_pictures { 0 };
    std::thread m_thread;
};

// Reads the code of every picture an appsink of a GStreamer pipeline gets
// (any raw format with a luma component), on the pipeline's thread.
class SampleWatch {
public:
    explicit SampleWatch(QRectF area);
    // Connects to appsink's "new-sample" (it must outlive the pipeline).
    void attach(GstElement* appsink);
    LatencyLog& log() { return m_log; }
    int64_t pictures() const { return m_pictures; }

private:
    static GstFlowReturn onSample(GstElement* sink, gpointer self);

    const QRectF m_area;
    LatencyLog m_log;
    std::atomic<int64_t> m_pictures { 0 };
};

class H264Watch {
public:
    explicit H264Watch(QRectF area);
    ~H264Watch();
    bool start();
    // One NAL unit without its start code, as the encoder hands it to the
    // preview sessions (kinds as there), on the encoder's thread. The
    // encoder makes one slice per picture, so a slice ends a picture: the
    // units gathered until then go to the decoder together.
    void push(const char* unit, int length, int kind);
    LatencyLog& log() { return m_watch.log(); }
    int64_t pictures() const { return m_watch.pictures(); }

private:
    SampleWatch m_watch;
    GstElement* m_pipeline = nullptr;
    GstElement* m_source = nullptr;
    std::vector<char> m_picture;
};
