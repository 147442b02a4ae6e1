// The element chain of the encoder: source, converters and encoder, sink,
// and the links and buffer pool between them. Every element is named, so
// tests and logs find it by name.
#include "ZtGstEncoder.h"

#include "ZtFindGstEncoder.h"
#include "base/Globals.h"

#include <QDebug>
#include <QString>

#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>

#include <algorithm>
#include <vector>

namespace {

// Sets a property from its text form when the element has it; elements of
// other versions or vendors may lack one, which is logged instead of
// tripping a GLib critical.
void setGstProperty(GstElement* element, const char* name, const QString& value)
{
    if (!element)
        return;
    if (!g_object_class_find_property(G_OBJECT_GET_CLASS(element), name)) {
        qDebug() << "element" << GST_OBJECT_NAME(element) << "has no property" << name;
        return;
    }
    gst_util_set_object_arg(G_OBJECT(element), name, value.toUtf8().constData());
}

void setGstProperty(GstElement* element, const char* name, qint64 value)
{
    setGstProperty(element, name, QString::number(value));
}

void setGstProperty(GstElement* element, const char* name, bool value)
{
    setGstProperty(element, name, QString(value ? "true" : "false"));
}

// A new element, owned by the pipeline; null when it cannot be made or
// added (the pipeline then disposes of it).
GstElement* make(GstElement* pipeline, const char* factory, const char* name)
{
    GstElement* element = gst_element_factory_make(factory, name);
    if (element && !gst_bin_add(GST_BIN(pipeline), element))
        return nullptr;
    return element;
}

void configureQueue(GstElement* queue, int buffers)
{
    setGstProperty(queue, "max-size-buffers", qint64(buffers));
    setGstProperty(queue, "max-size-bytes", qint64(52428800));
    setGstProperty(queue, "max-size-time", qint64(0));
    setGstProperty(queue, "leaky", QStringLiteral("downstream"));
}

// The element names of the encoders found, compared without case.
bool sameElement(const QString& element, const char* name)
{
    return element.compare(QLatin1String(name), Qt::CaseInsensitive) == 0;
}

// One property an encoder is given: a fixed value in its text form, or a
// number of the encoding settings.
struct EncoderProperty {
    enum From { Text, Gop, RcMode };
    const char* name;
    From from;
    const char* text;
};

// What each known encoder is given besides its bitrate, which it takes in
// kilobits per second times bitrateScale.
struct EncoderProfile {
    const char* element;
    std::vector<EncoderProperty> properties;
    qint64 bitrateScale;
};

const std::vector<EncoderProfile>& encoderProfiles()
{
    static const std::vector<EncoderProfile> profiles {
        { "nvh264_enc", { { "gop-size", EncoderProperty::Text, "5" }, { "rc-mode", EncoderProperty::RcMode, nullptr } },
            1 },
        { "vt264_enc",
            { { "max-keyframe-interval", EncoderProperty::Gop, nullptr },
                { "allow-frame-reordering", EncoderProperty::Text, "false" },
                { "realtime", EncoderProperty::Text, "true" } },
            1 },
        // Live preview: no look-ahead, one slice per picture (each slice
        // advances the sessions' RTP clock), and a preset a core keeps up with.
        { "x264_enc",
            { { "key-int-max", EncoderProperty::Gop, nullptr }, { "b-adapt", EncoderProperty::Text, "false" },
                { "b-pyramid", EncoderProperty::Text, "false" }, { "bframes", EncoderProperty::Text, "0" },
                { "tune", EncoderProperty::Text, "zerolatency" }, { "threads", EncoderProperty::Text, "1" },
                { "speed-preset", EncoderProperty::Text, "superfast" } },
            1 },
        // This encoder counts bits per second, the setting kilobits.
        { "openh264_enc", { { "gop-size", EncoderProperty::Gop, nullptr } }, 1000 },
    };
    return profiles;
}

const EncoderProfile* encoderProfile(const QString& element)
{
    for (const EncoderProfile& profile : encoderProfiles()) {
        if (sameElement(element, profile.element))
            return &profile;
    }
    return nullptr;
}

SinkType sinkTypeOf(int type)
{
    switch (type) {
    case int(SinkType::Udp):
    case int(SinkType::Srt):
    case int(SinkType::File):
        return SinkType(type);
    default:
        return SinkType::App;
    }
}

// The network sinks carry MPEG-TS.
bool needsMuxer(SinkType type)
{
    return type == SinkType::Udp || type == SinkType::Srt;
}

} // namespace

bool ZtGstEncoder::createEncoderElement()
{
    if (!m_pipeline)
        return false;
    // Built again: the previous chain goes first, names are unique in a bin.
    if (m_source || m_encoder || m_sink || m_pool) {
        stop();
        releaseElement();
    }
    const char* format = formatName(m_image.format);
    createSource(format);
    if (!createEncoder())
        return false;
    createConverters();
    const SinkType sink = sinkTypeOf(m_sinkConfig.type);
    createSink(sink);

    if (!m_source || !format || !m_imageQueue || !m_convert || !m_rate || !m_encoder || !m_filter || !m_mediaQueue
        || !m_sink || (needsMuxer(sink) && !m_muxer)) {
        releaseElement();
        qWarning() << "ERROR: Some gstreamer elements were created fail!";
        return false;
    }
    if (!linkElements()) {
        releaseElement();
        qWarning() << "pipeline link error.";
        return false;
    }
    logElements();
    createBufferPool();
    g_signal_connect(m_source, "need-data", G_CALLBACK(gstAppSrcDataCb), this);
    return true;
}

void ZtGstEncoder::createSource(const char* format)
{
    m_source = make(m_pipeline, "appsrc", "app_source");
    if (!m_source) {
        qWarning() << "WARNING: Failed create element 'appsrc' (app_source)!";
        return;
    }
    if (!format) {
        qWarning() << "WARNING: no source format of index" << m_image.format;
        return;
    }
    const qint64 pixels = qint64(m_image.width) * m_image.height;
    setGstProperty(m_source, "is-live", true);
    setGstProperty(m_source, "blocksize", pixels * 4);
    setGstProperty(m_source, "max-bytes", pixels * 20);
    setGstProperty(m_source, "max-buffers", qint64(3));
    setGstProperty(m_source, "do-timestamp", true);
    setGstProperty(m_source, "block", false);
    setGstProperty(m_source, "max-time", qint64(1000000000));
    setGstProperty(m_source, "max-latency", qint64(500000000));
    setGstProperty(m_source, "stream-type", QStringLiteral("stream"));
    setGstProperty(m_source, "format", QStringLiteral("time"));
    setGstProperty(m_source, "min-percent", qint64(0));
    GstCaps* caps = gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, format, "width", G_TYPE_INT,
        m_image.width, "height", G_TYPE_INT, m_image.height, "framerate", GST_TYPE_FRACTION, m_image.fpsNumerator,
        std::max(m_image.fpsDenominator, 1), nullptr);
    g_object_set(m_source, "caps", caps, nullptr);
    m_described = gst_video_info_from_caps(&m_info, caps);
    gst_caps_unref(caps);
}

bool ZtGstEncoder::createEncoder()
{
    const char* name = encoderName(m_encoding.encoder);
    qDebug() << "encode mode is :" << (name ? name : "");
    GstElement* encoder = name ? ZtFindGstEncoder::getInstance().findGstEncoderByName(name) : nullptr;
    if (!encoder || !gst_bin_add(GST_BIN(m_pipeline), encoder)) {
        releaseElement();
        qWarning() << "ERROR: No encoder was created! " << m_encoding.encoder;
        return false;
    }
    m_encoder = encoder;
    const QString element = QString::fromUtf8(GST_OBJECT_NAME(m_encoder));
    qDebug() << "encode name:" << element;
    const EncoderProfile* profile = encoderProfile(element);
    qint64 bitrate = m_encoding.bitrate;
    if (profile) {
        qDebug() << "use" << profile->element;
        for (const EncoderProperty& property : profile->properties) {
            if (property.from == EncoderProperty::Gop)
                setGstProperty(m_encoder, property.name, qint64(m_encoding.gop));
            else if (property.from == EncoderProperty::RcMode)
                setGstProperty(m_encoder, property.name, qint64(m_encoding.rcMode));
            else
                setGstProperty(m_encoder, property.name, QString::fromLatin1(property.text));
        }
        bitrate *= profile->bitrateScale;
    }
    setGstProperty(m_encoder, "bitrate", bitrate);
    return true;
}

void ZtGstEncoder::createConverters()
{
    m_imageQueue = make(m_pipeline, "queue", "img_queue");
    if (m_imageQueue) {
        configureQueue(m_imageQueue, 3);
        qDebug() << "Info: create element 'queue' (img_queue) success!";
    } else {
        qWarning() << "WARNING: Failed create element 'queue' (img_queue)!";
    }
    m_convert = make(m_pipeline, "videoconvert", "video_convert");
    if (!m_convert)
        qWarning() << "WARNING: Failed create element 'videoconvert' (video_convert)!";
    m_rate = make(m_pipeline, "videorate", "video_rate");
    if (m_rate)
        setGstProperty(m_rate, "max-rate", qint64(encodingFps()));
    else
        qWarning() << "WARNING: Failed create element 'videorate' (video_rate)!";
    m_filter = make(m_pipeline, "capsfilter", "H264_filter");
    if (!m_filter)
        qWarning() << "WARNING: Failed create element 'capsfilter' (H264_filter)!";

    const QString element = QString::fromUtf8(GST_OBJECT_NAME(m_encoder));
    guint major = 0, minor = 0, micro = 0, nano = 0;
    gst_version(&major, &minor, &micro, &nano);
    GstCaps* h264 = nullptr;
    if (sameElement(element, "openh264_enc") && major <= 1 && minor <= 18) {
        h264 = gst_caps_new_simple("video/x-h264", "profile", G_TYPE_STRING, "baseline", "stream-format", G_TYPE_STRING,
            "byte-stream", nullptr);
    } else {
        const char* profile = profileName(m_encoding.profile);
        h264 = gst_caps_new_simple("video/x-h264", "profile", G_TYPE_STRING, profile ? profile : "main", "width",
            G_TYPE_INT, m_encoding.width, "height", G_TYPE_INT, m_encoding.height, "framerate", GST_TYPE_FRACTION,
            encodingFps(), 1, "stream-format", G_TYPE_STRING, "byte-stream", nullptr);
    }
    if (sameElement(element, "vt264_enc")) {
        m_parser = make(m_pipeline, "h264parse", "avc_to_bs_parser");
        if (!m_parser)
            qWarning() << "WARNING: Failed create element 'h264parse' (avc_to_bs_parser)!";
    }
    if (m_filter && h264)
        g_object_set(m_filter, "caps", h264, nullptr);
    if (h264)
        gst_caps_unref(h264);
}

void ZtGstEncoder::createSink(SinkType type)
{
    if (needsMuxer(type)) {
        m_muxer = make(m_pipeline, "mpegtsmux", "_mpegtsmux");
        if (m_muxer)
            setGstProperty(m_muxer, "alignment", qint64(7));
        else
            qWarning() << "WARNING: Failed create element 'mpegtsmux' (_mpegtsmux)!";
    }
    switch (type) {
    case SinkType::Udp:
        m_sink = make(m_pipeline, "udpsink", "udp_sink");
        if (m_sink) {
            setGstProperty(m_sink, "host", QString::fromStdString(m_sinkConfig.host));
            setGstProperty(m_sink, "port", qint64(m_sinkConfig.port));
            setGstProperty(m_sink, "sync", false);
            setGstProperty(m_sink, "async", false);
        }
        break;
    case SinkType::Srt:
        m_sink = make(m_pipeline, "srtsink", "srt_sink");
        if (m_sink)
            setGstProperty(m_sink, "uri", QString::fromStdString(m_sinkConfig.uri));
        break;
    case SinkType::File:
        m_sink = make(m_pipeline, "filesink", "file_sink");
        if (m_sink) {
            const QString file = QStringLiteral("%1/encoder_%2_%3.h264").arg(g_savePath, m_programId, m_windowId);
            setGstProperty(m_sink, "location", file);
            qDebug() << "save file h264";
        } else {
            qWarning() << "WARNING: Failed create element 'filesink' (file_sink)!";
        }
        break;
    case SinkType::App:
        m_sink = make(m_pipeline, "appsink", "app_sink");
        if (m_sink) {
            setGstProperty(m_sink, "emit-signals", true);
            setGstProperty(m_sink, "sync", false);
            setGstProperty(m_sink, "drop", true);
            setGstProperty(m_sink, "max-buffers", qint64(5));
            g_signal_connect(m_sink, "new-sample", G_CALLBACK(gstAppSinkSampleCb), this);
        } else {
            qWarning() << "WARNING: Failed create element 'appsink' (app_sink)!";
        }
        break;
    }
    m_mediaQueue = make(m_pipeline, "queue", "meida_queue");
    if (m_mediaQueue) {
        configureQueue(m_mediaQueue, 10);
        qDebug() << "INFO: Create element 'queue' (media_queue) success!";
    } else {
        qWarning() << "WARNING: Failed create element 'queue' (media_queue)!";
    }
}

bool ZtGstEncoder::linkElements()
{
    const int sourceFps = m_image.fpsDenominator >= 1 ? m_image.fpsNumerator / m_image.fpsDenominator : 0;
    const bool useRate = encodingFps() != sourceFps;
    if (!useRate) {
        gst_bin_remove(GST_BIN(m_pipeline), m_rate);
        m_rate = nullptr;
    }
    bool linked = gst_element_link_many(m_source, m_imageQueue, m_convert, nullptr);
    GstElement* previous = m_convert;
    for (GstElement* next : { m_rate, m_encoder, m_parser, m_filter, m_mediaQueue, m_muxer, m_sink }) {
        if (!next || !linked)
            continue;
        linked = gst_element_link(previous, next);
        previous = next;
    }
    return linked;
}

void ZtGstEncoder::logElements() const
{
    GstIterator* it = gst_bin_iterate_elements(GST_BIN(m_pipeline));
    GValue item = G_VALUE_INIT;
    while (gst_iterator_next(it, &item) == GST_ITERATOR_OK) {
        GstElement* e = GST_ELEMENT(g_value_get_object(&item));
        GstElementFactory* factory = gst_element_get_factory(e);
        const char* klass = factory ? gst_element_factory_get_metadata(factory, GST_ELEMENT_METADATA_KLASS) : nullptr;
        qDebug() << "Element name:" << GST_OBJECT_NAME(e) << " element_type:" << (klass ? klass : "Unknown")
                 << " this:" << this;
        g_value_reset(&item);
    }
    g_value_unset(&item);
    gst_iterator_free(it);
}

void ZtGstEncoder::createBufferPool()
{
    // Pictures are copied into pooled buffers: a fresh multi-megabyte
    // allocation per frame costs the kernel a page fault per page.
    if (!m_described)
        return;
    m_pool = gst_buffer_pool_new();
    GstStructure* config = gst_buffer_pool_get_config(m_pool);
    gst_buffer_pool_config_set_params(config, nullptr, guint(GST_VIDEO_INFO_SIZE(&m_info)), 0, 0);
    if (!gst_buffer_pool_set_config(m_pool, config) || !gst_buffer_pool_set_active(m_pool, TRUE)) {
        gst_object_unref(m_pool);
        m_pool = nullptr;
    }
}
