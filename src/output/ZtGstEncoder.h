#pragma once
// ZtGstEncoder: turns one window's rendered UYVY frames into H.264 and hands
// the NAL units, with a 90 kHz timestamp, to the sink set with setNaluSink
// (the window's browser preview sessions, as the window's builder sets it).
//
// Pipeline: appsrc (fed from a 3-frame queue) ! queue ! videoconvert
// [! videorate] ! encoder [! h264parse] ! capsfilter ! queue ! appsink,
// or a network / file sink for the other sink types. Every queue is bounded
// and drops the oldest data, so encoding stays live.
//
// Owner: the window's renderer. Threads: constructed, configured, started,
// stopped and destroyed on one thread (the window pipeline's), whose GLib
// main context (Qt's event dispatcher) delivers the bus messages;
// addNewFrame comes from the window's render thread; the source's streaming
// thread takes frames (gstAppSrcDataCb); the sink's streaming thread splits
// samples and hands units on (gstAppSinkSampleCb, putH26xNalu), so the NAL
// sink runs there. The caches and the timestamp are touched only on that
// last thread.
#include <QMutex>
#include <QObject>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include <gst/gst.h>
#include <gst/video/video-info.h>

class VideoFrame;

struct _ImageConfig {
    int32_t format = 0; // index into the format table
    int32_t width = 1280;
    int32_t height = 720;
    int32_t fpsNumerator = 25;
    int32_t fpsDenominator = 1;
};

struct _EncodingConfig {
    int32_t encoder = -1; // index into the encoder table
    int32_t profile = 1; // index into the profile table ("main")
    int32_t width = 1280;
    int32_t height = 720;
    float fps = 25.0f;
    int32_t gop = 25;
    int32_t rcMode = 2;
    int32_t bitrate = 4000; // kbit/s
    int32_t reserved1 = 0;
    int32_t reserved2 = 0;
};

// The sinks a _MediaSinkConfig type number stands for; any other number
// is the application sink.
enum class SinkType { App = 0, Udp = 1, Srt = 5, File = 7 };

struct _MediaSinkConfig {
    int type = 0; // a SinkType: 0 appsink, 1 MPEG-TS over UDP, 5 MPEG-TS over SRT, 7 file
    std::string uri; // SRT
    std::string host; // UDP
    int port = 0;
    std::map<std::string, std::string> options;
};

class ZtGstEncoder : public QObject {
    Q_OBJECT
public:
    // Where the NAL units go: (pro_id, win_id, unit without start code,
    // length, timestamp, kind, fps). Kind 0 = non-IDR slice, 1 = parameter set
    // resent before an IDR, 2 = IDR slice, 3 = SPS, PPS or SEI as it arrives.
    using NaluSink = std::function<void(const QString&, const QString&, const char*, int, uint32_t, int, int)>;

    ZtGstEncoder();
    ~ZtGstEncoder() override;

    // False, and nothing changes, unless width >= 1, height >= 1, fps >= 0, format >= 0.
    bool setSrcImagePara(int width, int height, int fps, int format);
    // Sizes of 0, below 0 or above the source's become the source's; the rate
    // is at most the source's.
    bool setEncodePara(int width, int height, int fps, int gop, int bitrate, int rcMode, int encoder);
    void setImageConfig(const _ImageConfig& config);
    bool setEncodingConfig(const _EncodingConfig& config);
    bool setMediaSinkPara(
        int type, const char* uri, const char* host, int port, const std::map<std::string, std::string>* options);
    void setMediaSinkConfig(const _MediaSinkConfig& config);
    bool resetGSTEncoderFps(float fps);
    void setId(const QString& pro_id, const QString& win_id);
    // Set before start(); without a sink the units are dropped.
    void setNaluSink(NaluSink sink);

    bool createEncoderElement();
    void start();
    void pause();
    void stop();
    // Queues one frame for the encoder; called on the window's render thread.
    void addNewFrame(std::shared_ptr<VideoFrame> frame);
    void clearData();
    void releaseElement();
    void freePipeline();

    _ImageConfig imageConfig() const { return m_image; }
    _EncodingConfig encodingConfig() const { return m_encoding; }
    bool isStopped() const { return m_stopped; }
    size_t queuedFrames();
    // Frames dropped because they could not be pushed or did not fit the source caps.
    uint64_t droppedFrames() const { return m_dropped; }
    // A new reference to the element of the chain with that name
    // (app_source, H264_filter, ...), or null.
    GstElement* element(const char* name) const;

    static gboolean gstAppSrcDataCb(GstElement* source, guint length, gpointer encoder);
    static GstFlowReturn gstAppSinkSampleCb(GstElement* sink, gpointer encoder);
    static gboolean gstBusMessageCb(GstBus* bus, GstMessage* message, gpointer encoder);
    static void putH26xNalu(ZtGstEncoder* encoder, const uint8_t* nal, int length);
    // Calls unit(begin, length) for every unit between Annex B start codes;
    // bytes before the first start code are dropped.
    static void splitNalUnits(const uint8_t* data, size_t size, const std::function<void(const uint8_t*, int)>& unit);

    static const char* encoderName(int index);
    static const char* formatName(int index);
    static const char* profileName(int index);

private:
    // The steps of createEncoderElement, in the order of the chain.
    void createSource(const char* format);
    bool createEncoder();
    void createConverters();
    void createSink(SinkType type);
    bool linkElements();
    void logElements() const;
    void createBufferPool();
    bool pushFrame(GstElement* source, const VideoFrame& frame);
    void logStatistics();
    void releasePool();
    int encodingFps() const;

    GstBus* m_bus = nullptr;
    GstElement* m_pipeline = nullptr;
    GstElement* m_source = nullptr;
    GstElement* m_imageQueue = nullptr;
    GstElement* m_rate = nullptr;
    GstElement* m_encoder = nullptr;
    GstElement* m_filter = nullptr;
    GstElement* m_parser = nullptr;
    GstElement* m_muxer = nullptr;
    GstElement* m_mediaQueue = nullptr;
    GstElement* m_sink = nullptr;
    GstElement* m_convert = nullptr;
    gulong m_busHandler = 0;
    // The source's picture layout, known once it is built, and the pool the
    // pushed copies come from.
    GstVideoInfo m_info;
    bool m_described = false;
    GstBufferPool* m_pool = nullptr;

    _ImageConfig m_image;
    _EncodingConfig m_encoding;
    _MediaSinkConfig m_sinkConfig;
    const size_t m_queueLimit = 3;
    QString m_programId;
    QString m_windowId;
    NaluSink m_naluSink;

    std::mutex m_queueMutex;
    std::condition_variable m_queueWake;
    std::deque<std::shared_ptr<VideoFrame>> m_frames;

    uint32_t m_timestamp = 1000;
    static constexpr int kParameterSetCache = 512;
    static constexpr int kSeiCache = 1024;
    uint8_t m_sps[kParameterSetCache];
    int m_spsLength = 0;
    uint8_t m_pps[kParameterSetCache];
    int m_ppsLength = 0;
    uint8_t m_sei[kSeiCache];
    int m_seiLength = 0;

    std::atomic<bool> m_stopped { true };
    std::atomic<bool> m_paused { false };
    std::atomic<uint64_t> m_sendCount { 0 };
    std::atomic<uint64_t> m_fetchCount { 0 };
    std::atomic<uint64_t> m_freeCount { 0 };
    std::atomic<uint64_t> m_dropped { 0 };
    int64_t m_statisticsTime = 0;
    QMutex m_freeMutex;
};
