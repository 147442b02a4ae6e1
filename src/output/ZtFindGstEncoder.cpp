#include "ZtFindGstEncoder.h"

#include <QDebug>

#include <gst/gst.h>

#include <cstdio>

namespace {

struct EncoderRow {
    const char* requested;
    const char* factory;
    const char* element;
    const char* logged; // the name the debug line gives
};

// The element names are what the encoder compares to choose its properties.
const EncoderRow kEncoders[] = {
    { "vtenc_h264", "vtenc_h264_hw", "vt264_enc", "vt264_enc" },
    { "x264enc", "x264enc", "x264_enc", "x264enc" },
    { "openh264enc", "openh264enc", "openh264_enc", "openh264enc" },
    { "omxh264enc", "omxh264enc", "omxh264_enc", "omxh264enc" },
    { "nvh264enc", "nvh264enc", "nvh264_enc", "nvh264enc" },
    { "vaapih264enc", "vaapih264enc", "vaapih264_enc", "vaapih264enc" },
};

} // namespace

ZtFindGstEncoder& ZtFindGstEncoder::getInstance()
{
    static ZtFindGstEncoder finder;
    return finder;
}

ZtFindGstEncoder::ZtFindGstEncoder()
{
    getGraphicsDevInfo();
}

GstElement* ZtFindGstEncoder::findGstEncoderByName(const std::string& name)
{
    const QString requested = QString::fromStdString(name);
    if (requested.compare(QLatin1String("auto"), Qt::CaseInsensitive) == 0)
        return createAutoGstEncoder();
    for (const EncoderRow& row : kEncoders) {
        if (requested.compare(QLatin1String(row.requested), Qt::CaseInsensitive) != 0)
            continue;
        GstElement* element = gst_element_factory_make(row.factory, row.element);
        if (element)
            qDebug() << QStringLiteral("gst element factory make %1.").arg(QLatin1String(row.logged));
        return element;
    }
    return nullptr;
}

bool ZtFindGstEncoder::probeNvidiaEncoder()
{
    GError* error = nullptr;
    GstElement* probe = gst_parse_launch("videotestsrc is-live=true ! "
                                         "video/x-raw,width=352,height=288,format=I420,framerate=2/1  ! nvh264enc ! "
                                         "mpegtsmux alignment=7 ! udpsink host=127.0.0.1 port=12345",
        &error);
    if (error) {
        fprintf(stderr, "[Info] from element %s: %s\n", "pipeline", error->message);
        g_error_free(error);
        if (probe)
            gst_object_unref(probe);
        return false;
    }
    if (!probe)
        return false;
    gst_element_set_state(probe, GST_STATE_PLAYING);
    GstBus* bus = gst_element_get_bus(probe);
    GstMessage* message = gst_bus_timed_pop_filtered(bus, 20 * GST_MSECOND, GST_MESSAGE_ERROR);
    bool works = true;
    if (message) {
        GError* err = nullptr;
        gst_message_parse_error(message, &err, nullptr);
        fprintf(stderr, "[Info] from element %s: %s\n", GST_OBJECT_NAME(message->src), err ? err->message : "");
        if (err)
            g_error_free(err);
        gst_message_unref(message);
        works = false;
    }
    gst_object_unref(bus);
    gst_element_set_state(probe, GST_STATE_NULL);
    gst_object_unref(probe);
    return works;
}

GstElement* ZtFindGstEncoder::createAutoGstEncoder()
{
    if (findGraphicsDevName("NVIDIA")) {
        if (GstElement* nvidia = findGstEncoderByName("nvh264enc")) {
            if (probeNvidiaEncoder())
                return nvidia;
            gst_object_unref(gst_object_ref_sink(nvidia));
        }
    }
    if (findGraphicsDevName("Intel")) {
        if (GstElement* intel = findGstEncoderByName("vaapih264enc"))
            return intel;
    }
    if (findGraphicsDevName("Apple")) {
        GstElement* apple = findGstEncoderByName("vtenc_h264");
        qDebug() << "find graphics device Apple and encoder vtenc_h264 is valid :" << (apple ? "true" : "false");
        if (apple)
            return apple;
    }
    for (const char* software : { "omxh264enc", "x264enc", "openh264enc" }) {
        if (GstElement* element = findGstEncoderByName(software))
            return element;
    }
    return nullptr;
}

bool ZtFindGstEncoder::findGraphicsDevName(const std::string& vendor)
{
    qDebug() << "m_GraphicsDevList :" << QString::fromStdString(m_GraphicsDevList);
    if (vendor.empty())
        return false;
    if (m_GraphicsDevList.empty()) {
        qDebug() << "raphics device list is null!";
        getGraphicsDevInfo();
    }
    return m_GraphicsDevList.find(vendor) != std::string::npos;
}

// The vendor text the encoder choice is made from. There is no graphics
// hardware query here: the list names the platform's own encoder family,
// which falls back to the software encoders where that is not installed.
void ZtFindGstEncoder::getGraphicsDevInfo()
{
    m_GraphicsDevList = "Apple";
}

QString ZtFindGstEncoder::GetGpuInfo() const
{
    return QString();
}

std::string ZtFindGstEncoder::WStringToString(const std::wstring& wide)
{
    std::string narrow(wide.size(), '\0');
    for (size_t i = 0; i < wide.size(); ++i)
        narrow[i] = static_cast<char>(wide[i]);
    return narrow;
}
