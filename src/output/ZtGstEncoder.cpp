#include "ZtGstEncoder.h"

#include "base/Clock.h"

#include "media/VideoFrame.h"

#include <QDebug>
#include <QMutexLocker>
#include <QString>

#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

namespace {

const char* const g_encoder_name[]
    = { "auto", "nvh264enc", "vaapienc", "vtenc_h264", "openh264enc", "x264enc", "omxh264enc" };
const char* const g_format_name[]
    = { "RGBA", "I420", "YUV422P", "YUV444P", "YV12", "YUV420SP", "YUV422SP", "YUV444SP", "NV12", "UYVY" };
const char* const g_profile_name[] = { "baseline", "main", "high" };

template <size_t N> const char* row(const char* const (&table)[N], int index)
{
    return index >= 0 && size_t(index) < N ? table[index] : nullptr;
}

int currentLevel(GstElement* queue)
{
    if (!queue)
        return 0;
    guint level = 0;
    g_object_get(queue, "current-level-buffers", &level, nullptr);
    return int(level);
}

} // namespace

const char* ZtGstEncoder::encoderName(int index)
{
    return row(g_encoder_name, index);
}

const char* ZtGstEncoder::formatName(int index)
{
    return row(g_format_name, index);
}

const char* ZtGstEncoder::profileName(int index)
{
    return row(g_profile_name, index);
}

ZtGstEncoder::ZtGstEncoder()
{
    // A pipeline without an initialised framework would abort inside GLib;
    // without one the encoder stays inert and only queues frames.
    if (gst_is_initialized())
        m_pipeline = gst_pipeline_new(nullptr);
    if (!m_pipeline) {
        qWarning() << "Error in: new pipeline";
        return;
    }
    m_bus = gst_pipeline_get_bus(GST_PIPELINE(m_pipeline));
    gst_bus_add_signal_watch(m_bus);
    m_busHandler = g_signal_connect(m_bus, "message", G_CALLBACK(gstBusMessageCb), this);
}

ZtGstEncoder::~ZtGstEncoder()
{
    stop();
    {
        QMutexLocker lock(&m_freeMutex);
        freePipeline();
    }
    clearData();
    qDebug() << "ZtGstEncoder::~ZtGstEncoder() done";
}

bool ZtGstEncoder::setSrcImagePara(int width, int height, int fps, int format)
{
    if (width < 1 || height < 1 || fps < 0 || format < 0)
        return false;
    m_image.format = format;
    m_image.width = width;
    m_image.height = height;
    m_image.fpsNumerator = fps;
    m_image.fpsDenominator = 1;
    return true;
}

bool ZtGstEncoder::setEncodePara(int width, int height, int fps, int gop, int bitrate, int rcMode, int encoder)
{
    m_encoding.encoder = std::max(encoder, 0);
    // 0 cannot be negotiated: the encoder would never output a picture.
    m_encoding.width = width >= 1 && width <= m_image.width ? width : m_image.width;
    m_encoding.height = height >= 1 && height <= m_image.height ? height : m_image.height;
    const float sourceFps
        = m_image.fpsDenominator >= 1 ? float(m_image.fpsNumerator) / float(m_image.fpsDenominator) : float(fps);
    // A negative rate cannot be negotiated; 0 stands for "as it comes".
    m_encoding.fps = std::max(0.0f, std::min(float(fps), sourceFps));
    if (gop >= 1)
        m_encoding.gop = gop;
    if (bitrate >= 1)
        m_encoding.bitrate = bitrate;
    if (rcMode >= 0)
        m_encoding.rcMode = rcMode;
    m_encoding.reserved1 = 0;
    m_encoding.reserved2 = 0;
    return true;
}

void ZtGstEncoder::setImageConfig(const _ImageConfig& config)
{
    m_image = config;
}

bool ZtGstEncoder::setEncodingConfig(const _EncodingConfig& config)
{
    const int profile = m_encoding.profile;
    setEncodePara(
        config.width, config.height, int(config.fps), config.gop, config.bitrate, config.rcMode, config.encoder);
    m_encoding.profile = profile;
    return true;
}

bool ZtGstEncoder::setMediaSinkPara(
    int type, const char* uri, const char* host, int port, const std::map<std::string, std::string>* options)
{
    m_sinkConfig.type = std::max(type, 0);
    if (uri)
        m_sinkConfig.uri = uri;
    if (host)
        m_sinkConfig.host = host;
    if (port >= 1)
        m_sinkConfig.port = port;
    if (options)
        m_sinkConfig.options = *options;
    return true;
}

void ZtGstEncoder::setMediaSinkConfig(const _MediaSinkConfig& config)
{
    m_sinkConfig = config;
}

bool ZtGstEncoder::resetGSTEncoderFps(float fps)
{
    m_encoding.fps = fps;
    return true;
}

void ZtGstEncoder::setId(const QString& pro_id, const QString& win_id)
{
    m_programId = pro_id;
    m_windowId = win_id;
}

void ZtGstEncoder::setNaluSink(NaluSink sink)
{
    m_naluSink = std::move(sink);
}

int ZtGstEncoder::encodingFps() const
{
    return int(m_encoding.fps);
}

GstElement* ZtGstEncoder::element(const char* name) const
{
    return m_pipeline ? gst_bin_get_by_name(GST_BIN(m_pipeline), name) : nullptr;
}

void ZtGstEncoder::releaseElement()
{
    for (GstElement** e : { &m_source, &m_encoder, &m_filter, &m_convert, &m_rate, &m_parser, &m_muxer, &m_imageQueue,
             &m_mediaQueue, &m_sink }) {
        if (*e && m_pipeline)
            gst_bin_remove(GST_BIN(m_pipeline), *e);
        *e = nullptr;
    }
    releasePool();
}

void ZtGstEncoder::releasePool()
{
    if (m_pool) {
        // Buffers still out go back to the heap when their last user lets go.
        gst_buffer_pool_set_active(m_pool, FALSE);
        gst_object_unref(m_pool);
        m_pool = nullptr;
    }
    m_described = false;
}

void ZtGstEncoder::freePipeline()
{
    if (!m_pipeline)
        return;
    gst_element_set_state(m_pipeline, GST_STATE_NULL);
    gst_object_unref(m_pipeline);
    m_pipeline = nullptr;
    releasePool();
    for (GstElement** e : { &m_source, &m_encoder, &m_filter, &m_convert, &m_rate, &m_parser, &m_muxer, &m_imageQueue,
             &m_mediaQueue, &m_sink })
        *e = nullptr;
    if (m_bus) {
        gst_bus_remove_signal_watch(m_bus);
        g_signal_handler_disconnect(m_bus, m_busHandler);
        gst_object_unref(m_bus);
        m_bus = nullptr;
    }
    qDebug() << "ZtGstEncoder::freePipeline() ";
}

void ZtGstEncoder::start()
{
    // A paused encoder plays on too; a playing one is left alone.
    const bool wasPaused = m_paused.exchange(false);
    if (m_pipeline && (m_stopped.exchange(false) || wasPaused))
        gst_element_set_state(m_pipeline, GST_STATE_PLAYING);
    qDebug() << "ZtGstEncoder::start" << this;
}

void ZtGstEncoder::pause()
{
    if (m_pipeline) {
        m_paused = true;
        gst_element_set_state(m_pipeline, GST_STATE_PAUSED);
    }
    qDebug() << "ZtGstEncoder::pause";
}

void ZtGstEncoder::stop()
{
    if (m_pipeline) {
        {
            // Under the queue lock, so a waiting need-data callback sees the
            // flag and leaves before the state change joins its thread.
            std::lock_guard<std::mutex> lock(m_queueMutex);
            m_stopped = true;
        }
        m_queueWake.notify_all();
        gst_element_set_state(m_pipeline, GST_STATE_NULL);
    }
    qDebug() << "ZtGstEncoder::stop";
}

void ZtGstEncoder::addNewFrame(std::shared_ptr<VideoFrame> frame)
{
    if (!frame || !frame->data()) {
        qDebug() << "addNewFrame is null.";
        return;
    }
    logStatistics();
    {
        std::lock_guard<std::mutex> lock(m_queueMutex);
        m_frames.push_back(std::move(frame));
        while (m_frames.size() > m_queueLimit)
            m_frames.pop_front();
    }
    m_queueWake.notify_all();
}

void ZtGstEncoder::logStatistics()
{
    const int64_t now = monotonicMs();
    if (m_statisticsTime == 0) {
        m_statisticsTime = now;
        return;
    }
    if (now - m_statisticsTime < 60000)
        return;
    m_statisticsTime = now;
    guint64 sourceLevel = 0;
    if (m_source)
        sourceLevel = gst_app_src_get_current_level_buffers(GST_APP_SRC(m_source));
    qDebug() << QStringLiteral(
        "GstEncoder statistics. send:%1 free:%2 fetch:%3 gst buffer:[appsrc:%4 image_queue:%5, media_queue:%6] "
        "queue:%7 key:%8_%9")
                    .arg(m_sendCount.load())
                    .arg(m_freeCount.load())
                    .arg(m_fetchCount.load())
                    .arg(sourceLevel)
                    .arg(currentLevel(m_imageQueue))
                    .arg(currentLevel(m_mediaQueue))
                    .arg(queuedFrames())
                    .arg(m_programId, m_windowId)
             << this;
    if (const uint64_t dropped = m_dropped.load())
        qDebug() << "GstEncoder dropped frames:" << dropped << m_programId << m_windowId;
}

void ZtGstEncoder::clearData()
{
    std::lock_guard<std::mutex> lock(m_queueMutex);
    m_frames.clear();
}

size_t ZtGstEncoder::queuedFrames()
{
    std::lock_guard<std::mutex> lock(m_queueMutex);
    return m_frames.size();
}

gboolean ZtGstEncoder::gstAppSrcDataCb(GstElement* source, guint, gpointer user)
{
    auto* self = static_cast<ZtGstEncoder*>(user);
    if (!source || !self) {
        qWarning() << "Error: Invaild para!";
        return FALSE;
    }
    // The source waits for a buffer once this returns, and only this
    // callback pushes: so it returns without one only when stopping, and a
    // frame it cannot use makes it take the next one.
    for (;;) {
        std::shared_ptr<VideoFrame> frame;
        {
            std::unique_lock<std::mutex> lock(self->m_queueMutex);
            // Sleeps until a frame comes or stop() wakes it: an encoder
            // without pictures keeps no thread awake.
            while (self->m_frames.empty() && !self->m_stopped)
                self->m_queueWake.wait(lock);
            if (self->m_frames.empty())
                break;
            frame = std::move(self->m_frames.front());
            self->m_frames.pop_front();
        }
        if (frame->size() != 0 && self->pushFrame(source, *frame))
            break;
        ++self->m_dropped;
    }
    ++self->m_sendCount;
    return TRUE;
}

// Copies the picture into a buffer the source's caps describe and pushes it;
// false when the frame was not pushed. A frame of another size than the
// source was configured for cannot be encoded by this pipeline: it is
// dropped rather than handed to the converter, which would stop the stream
// with an error.
bool ZtGstEncoder::pushFrame(GstElement* source, const VideoFrame& frame)
{
    const GstVideoInfo& info = m_info;
    GstBuffer* buffer = nullptr;
    if (!m_described) {
        buffer = gst_buffer_new_allocate(nullptr, frame.size(), nullptr);
        gst_buffer_fill(buffer, 0, frame.data(), frame.size());
    } else {
        const size_t rowBytes = size_t(GST_VIDEO_INFO_COMP_STRIDE(&info, 0));
        const bool packed = GST_VIDEO_INFO_N_PLANES(&info) == 1;
        const size_t stride = frame.stride() ? frame.stride() : rowBytes;
        const bool fits = int(frame.width()) == GST_VIDEO_INFO_WIDTH(&info)
            && int(frame.height()) == GST_VIDEO_INFO_HEIGHT(&info)
            && (packed ? stride >= rowBytes && size_t(frame.size()) >= stride * (frame.height() - 1) + rowBytes
                       : size_t(frame.size()) >= GST_VIDEO_INFO_SIZE(&info));
        if (!fits) {
            if (m_dropped == 0)
                qWarning() << "GstEncoder drops a frame of" << frame.width() << "x" << frame.height() << "size"
                           << frame.size() << "that does not fit the source" << m_programId << m_windowId;
            return false;
        }
        if (!m_pool || gst_buffer_pool_acquire_buffer(m_pool, &buffer, nullptr) != GST_FLOW_OK)
            buffer = gst_buffer_new_allocate(nullptr, GST_VIDEO_INFO_SIZE(&info), nullptr);
        GstMapInfo map;
        if (!buffer || !gst_buffer_map(buffer, &map, GST_MAP_WRITE)) {
            if (buffer)
                gst_buffer_unref(buffer);
            return false;
        }
        if (!packed || stride == rowBytes) {
            memcpy(map.data, frame.data(), GST_VIDEO_INFO_SIZE(&info));
        } else {
            for (uint32_t y = 0; y < frame.height(); ++y)
                memcpy(map.data + y * rowBytes, frame.data() + y * stride, rowBytes);
        }
        gst_buffer_unmap(buffer, &map);
    }
    // The source takes the buffer. A refusal (flushing while stopping, or a
    // pipeline that has not negotiated) costs this frame only.
    const GstFlowReturn ret = gst_app_src_push_buffer(GST_APP_SRC(source), buffer);
    if (ret != GST_FLOW_OK) {
        ++m_dropped;
        qWarning() << "g_signal_emit_by_name error" << gst_flow_get_name(ret) << m_programId << m_windowId;
    }
    return true;
}

GstFlowReturn ZtGstEncoder::gstAppSinkSampleCb(GstElement* sink, gpointer user)
{
    auto* self = static_cast<ZtGstEncoder*>(user);
    if (!sink || !self) {
        qWarning() << "appsink is nullptr.";
        return GST_FLOW_CUSTOM_ERROR;
    }
    GstSample* sample = gst_app_sink_pull_sample(GST_APP_SINK(sink));
    if (!sample) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        qWarning() << "appsink is nullptr.";
        return GST_FLOW_CUSTOM_ERROR;
    }
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    GstMapInfo map;
    if (!buffer || !gst_buffer_map(buffer, &map, GST_MAP_READ)) {
        qWarning() << "gst_buffer_map error";
        gst_sample_unref(sample);
        return GST_FLOW_OK;
    }
    ++self->m_fetchCount;
    splitNalUnits(map.data, map.size, [self](const uint8_t* unit, int length) { putH26xNalu(self, unit, length); });
    gst_buffer_unmap(buffer, &map);
    gst_sample_unref(sample);
    return GST_FLOW_OK;
}

void ZtGstEncoder::splitNalUnits(const uint8_t* data, size_t size, const std::function<void(const uint8_t*, int)>& unit)
{
    const uint8_t* begin = nullptr;
    size_t i = 0;
    while (i < size) {
        size_t code = 0;
        if (data[i] == 0) {
            const size_t left = size - i;
            if (left >= 4 && data[i + 1] == 0 && data[i + 2] == 0 && data[i + 3] == 1)
                code = 4;
            else if (left >= 3 && data[i + 1] == 0 && data[i + 2] == 1)
                code = 3;
        }
        if (code == 0) {
            ++i;
            continue;
        }
        if (begin && data + i > begin)
            unit(begin, int(data + i - begin));
        i += code;
        begin = data + i;
    }
    if (begin && data + size > begin)
        unit(begin, int(data + size - begin));
}

void ZtGstEncoder::putH26xNalu(ZtGstEncoder* self, const uint8_t* nal, int length)
{
    if (!self || !nal || length < 1)
        return;
    const int fps = self->encodingFps();
    // A rate below 1 would divide by zero; the sessions count it as 25 too.
    const uint32_t step = uint32_t(90000 / (fps >= 1 ? fps : 25));
    const auto send = [self, fps](const uint8_t* data, int size, int kind) {
        const char* bytes = reinterpret_cast<const char*>(data);
        if (self->m_naluSink)
            self->m_naluSink(self->m_programId, self->m_windowId, bytes, size, self->m_timestamp, kind, fps);
    };
    // A unit too long for its cache is still sent, but never resent in place
    // of a newer one: the cache is emptied instead.
    const auto cache = [](uint8_t* store, int capacity, int& stored, const uint8_t* data, int size) {
        if (size <= capacity) {
            memcpy(store, data, size_t(size));
            stored = size;
        } else {
            stored = 0;
        }
    };
    switch (nal[0] & 0x1F) {
    case 1:
        send(nal, length, 0);
        self->m_timestamp += step;
        break;
    case 5:
        if (self->m_spsLength != 0)
            send(self->m_sps, self->m_spsLength, 1);
        if (self->m_ppsLength != 0)
            send(self->m_pps, self->m_ppsLength, 1);
        send(nal, length, 2);
        self->m_timestamp += step;
        break;
    case 6:
        cache(self->m_sei, kSeiCache, self->m_seiLength, nal, length);
        send(nal, length, 3);
        break;
    case 7:
        cache(self->m_sps, kParameterSetCache, self->m_spsLength, nal, length);
        send(nal, length, 3);
        break;
    case 8:
        cache(self->m_pps, kParameterSetCache, self->m_ppsLength, nal, length);
        send(nal, length, 3);
        break;
    default:
        break;
    }
}

gboolean ZtGstEncoder::gstBusMessageCb(GstBus*, GstMessage* message, gpointer user)
{
    auto* self = static_cast<ZtGstEncoder*>(user);
    switch (GST_MESSAGE_TYPE(message)) {
    case GST_MESSAGE_EOS:
        qDebug() << "msg bus GST_MESSAGE_EOS End of stream";
        // Stopped like stop() does, so that start() plays again.
        if (self && self->m_pipeline) {
            {
                std::lock_guard<std::mutex> lock(self->m_queueMutex);
                self->m_stopped = true;
            }
            self->m_queueWake.notify_all();
            gst_element_set_state(self->m_pipeline, GST_STATE_NULL);
        }
        break;
    case GST_MESSAGE_ERROR:
    case GST_MESSAGE_WARNING: {
        const bool error = GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR;
        GError* err = nullptr;
        gchar* debug = nullptr;
        if (error)
            gst_message_parse_error(message, &err, &debug);
        else
            gst_message_parse_warning(message, &err, &debug);
        qWarning() << (error ? "GStreamer error:" : "GStreamer Warning:") << (err ? err->message : "");
        if (debug)
            qWarning() << (error ? "Error Details:" : "Debug Details:") << debug;
        if (error)
            qWarning() << "msg bus GST_MESSAGE_ERROR";
        if (err)
            g_error_free(err);
        g_free(debug);
        break;
    }
    case GST_MESSAGE_STATE_CHANGED:
        qDebug() << "msg bus GST_MESSAGE_STATE_CHANGED";
        break;
    case GST_MESSAGE_ASYNC_DONE:
        qDebug() << "msg bus GST_MESSAGE_ASYNC_DONE";
        break;
    default:
        break;
    }
    return TRUE;
}
