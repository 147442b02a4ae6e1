#include "GstReference.h"

#include "NdiWrapper.h"

#include <gst/app/gstappsrc.h>

#include <algorithm>
#include <chrono>

int gridColumns(int n)
{
    int columns = 1;
    while (columns * columns < n)
        ++columns;
    return columns;
}

namespace {

// A received picture lent to GStreamer until its buffer is freed.
struct Lent {
    NDIlib_framesync_instance_t sync;
    NDIlib_video_frame_v2_t frame;
};

void giveBack(gpointer data)
{
    auto* lent = static_cast<Lent*>(data);
    NDIlib_framesync_free_video(lent->sync, &lent->frame);
    delete lent;
}

} // namespace

GstReference::GstReference(QStringList sources)
    : m_sources(std::move(sources))
    , m_columns(gridColumns(int(m_sources.size())))
    , m_network(QRectF(0, 0, 1.0 / m_columns, 1.0 / m_columns))
    , m_h264(QRectF(0, 0, 1.0 / m_columns, 1.0 / m_columns))
{
}

GstReference::~GstReference()
{
    // The pipeline lets go of its pictures before their receivers go.
    if (m_pipeline)
        gst_element_set_state(m_pipeline, GST_STATE_NULL);
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
    if (m_pipeline) {
        for (GstElement* input : m_inputs)
            gst_object_unref(input);
        gst_object_unref(m_pipeline);
    }
}

bool GstReference::start()
{
    const int tw = 1920 / m_columns, th = 1080 / m_columns;
    QString description = "compositor name=mix";
    QString inputs;
    for (int i = 0; i < m_sources.size(); ++i) {
        description += QStringLiteral(" sink_%1::xpos=%2 sink_%1::ypos=%3 sink_%1::width=%4 sink_%1::height=%5")
                           .arg(i)
                           .arg((i % m_columns) * tw)
                           .arg(i / m_columns * th)
                           .arg(tw)
                           .arg(th);
        inputs += QStringLiteral(" appsrc name=in%1 format=time caps=video/x-raw,format=UYVY,width=1920,"
                                 "height=1080,framerate=30/1 ! mix.sink_%1")
                      .arg(i);
    }
    description += " ! video/x-raw,width=1920,height=1080 ! videoconvert ! video/x-raw,format=UYVY ! tee name=t"
                   " t. ! queue ! appsink name=net"
                   " t. ! queue ! videoscale ! video/x-raw,width=1280,height=720 ! videoconvert"
                   " ! x264enc tune=zerolatency speed-preset=ultrafast bitrate=2000 key-int-max=60"
                   " ! h264parse ! avdec_h264 max-threads=1 ! videoconvert ! video/x-raw,format=I420"
                   " ! appsink name=h264"
        + inputs;
    GError* error = nullptr;
    m_pipeline = gst_parse_launch(description.toUtf8().constData(), &error);
    if (!m_pipeline) {
        g_clear_error(&error);
        return false;
    }
    for (int i = 0; i < m_sources.size(); ++i)
        m_inputs.push_back(
            gst_bin_get_by_name(GST_BIN(m_pipeline), QStringLiteral("in%1").arg(i).toUtf8().constData()));
    for (auto [name, watch] : { std::pair { "net", &m_network }, std::pair { "h264", &m_h264 } }) {
        GstElement* sink = gst_bin_get_by_name(GST_BIN(m_pipeline), name);
        watch->attach(sink);
        gst_object_unref(sink);
    }
    if (gst_element_set_state(m_pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE)
        return false;
    m_thread = std::thread(&GstReference::feed, this);
    return true;
}

// Every 2 ms each source's newest picture is taken; when the composed
// picture of the last set has come out and the first source has a new picture, every input
// gets its newest picture with the same time, as a window's tick draws every
// tile's newest picture. A pipeline still busy skips pictures as a window
// skips ticks, rather than falling behind.
void GstReference::feed()
{
    struct Input {
        NDIlib_recv_instance_t receiver;
        NDIlib_framesync_instance_t sync;
        int64_t last = 0;
        GstBuffer* newest = nullptr;
    };
    std::vector<Input> inputs;
    std::vector<QByteArray> names;
    for (const QString& source : m_sources) {
        names.push_back(source.toUtf8());
        NDIlib_recv_create_t settings;
        settings.source_to_connect_to.p_ndi_name = names.back().constData();
        settings.bandwidth = NDIlib_recv_bandwidth_highest;
        settings.p_ndi_recv_name = "panoptra_bench_render reference";
        NDIlib_recv_instance_t receiver = NDIlib_recv_create_v4(&settings, nullptr);
        inputs.push_back({ receiver, NDIlib_framesync_create(receiver) });
    }
    int polls = 0;
    int64_t sets = 0;
    bool firstIsNew = false;
    while (!m_stop) {
        const bool askConnections = ++polls % 50 == 0;
        for (Input& input : inputs) {
            if (askConnections)
                NDIlib_recv_get_no_connections(input.receiver);
            auto* lent = new Lent { input.sync, {} };
            NDIlib_framesync_capture_video(input.sync, &lent->frame, NDIlib_frame_format_type_progressive);
            const NDIlib_video_frame_v2_t& f = lent->frame;
            const int stride = f.line_stride_in_bytes > 0 ? f.line_stride_in_bytes : f.xres * 2;
            if (!f.p_data || f.timestamp == input.last || f.xres != 1920 || f.yres != 1080 || stride != 3840) {
                giveBack(lent);
                continue;
            }
            input.last = f.timestamp;
            firstIsNew = firstIsNew || &input == &inputs.front();
            const gsize size = gsize(stride) * gsize(f.yres);
            if (input.newest)
                gst_buffer_unref(input.newest);
            input.newest
                = gst_buffer_new_wrapped_full(GST_MEMORY_FLAG_READONLY, f.p_data, size, 0, size, lent, giveBack);
        }
        // The compositor's picture of the last set has come out.
        const bool taken = m_network.pictures() >= sets;
        const bool complete
            = std::all_of(inputs.begin(), inputs.end(), [](const Input& input) { return input.newest != nullptr; });
        if (firstIsNew && taken && complete) {
            firstIsNew = false;
            for (size_t i = 0; i < inputs.size(); ++i) {
                // Shares the picture's memory; only the time is the set's own.
                GstBuffer* buffer = gst_buffer_copy_region(inputs[i].newest, GST_BUFFER_COPY_MEMORY, 0, -1);
                GST_BUFFER_PTS(buffer) = GstClockTime(sets) * GST_SECOND / 30;
                GST_BUFFER_DURATION(buffer) = GST_SECOND / 30;
                gst_app_src_push_buffer(GST_APP_SRC(m_inputs[i]), buffer);
            }
            ++sets;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    for (Input& input : inputs) {
        if (input.newest)
            gst_buffer_unref(input.newest);
        NDIlib_framesync_destroy(input.sync);
        NDIlib_recv_destroy(input.receiver);
    }
}
