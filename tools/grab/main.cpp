// panoptra_grab: finds a network-video source by name, waits for a picture,
// writes it as raw UYVY (<out>.uyvy, lines packed) and as a PPM (<out>.ppm,
// BT.709 limited range to RGB), and prints what it got as one JSON line:
//   {"name": ..., "width": ..., "height": ..., "stride": ..., "frame_rate_N": ...,
//    "frame_rate_D": ..., "aspect": ..., "uyvy": path, "ppm": path}
// --list prints the sources found within the timeout as a JSON array instead.
// Exit status: 0 done, 1 source or picture not found in time, 2 bad arguments.
#include "NdiWrapper.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

struct Finder {
    NDIlib_find_instance_t handle = NDIlib_find_create_v3(nullptr, nullptr);
    ~Finder() { NDIlib_find_destroy(handle); }
};

// The sources the finder knows once it has had up to timeoutMs to look; with
// a name, returns as soon as that one is listed.
QJsonArray findSources(Finder& finder, const QString& name, int timeoutMs, bool& found)
{
    QElapsedTimer clock;
    clock.start();
    QJsonArray list;
    found = false;
    for (;;) {
        uint32_t count = 0;
        const NDIlib_source_t* sources = NDIlib_find_get_current_sources(finder.handle, &count);
        list = QJsonArray();
        for (uint32_t i = 0; i < count; ++i) {
            const QString sourceName = QString::fromUtf8(sources[i].p_ndi_name);
            list.append(QJsonObject { { "name", sourceName },
                { "url", QString::fromUtf8(sources[i].p_url_address ? sources[i].p_url_address : "") } });
            if (!name.isEmpty() && sourceName == name)
                found = true;
        }
        const qint64 left = timeoutMs - clock.elapsed();
        if (found || left <= 0)
            return list;
        NDIlib_find_wait_for_sources(finder.handle, uint32_t(std::min<qint64>(left, 100)));
    }
}

uint8_t toByte(double v)
{
    return uint8_t(std::lround(std::clamp(v, 0.0, 255.0)));
}

// Packed UYVY (lines of stride bytes) to binary PPM, BT.709 limited range.
QByteArray toPpm(const uint8_t* data, int width, int height, int stride)
{
    QByteArray out = QStringLiteral("P6\n%1 %2\n255\n").arg(width).arg(height).toLatin1();
    const int header = out.size();
    out.resize(header + width * height * 3);
    uint8_t* rgb = reinterpret_cast<uint8_t*>(out.data()) + header;
    for (int y = 0; y < height; ++y) {
        const uint8_t* line = data + size_t(y) * stride;
        for (int x = 0; x < width; ++x) {
            const uint8_t* pair = line + (x & ~1) * 2;
            const double Y = (pair[(x & 1) ? 3 : 1] - 16) * 255.0 / 219.0;
            const double U = (pair[0] - 128) * 255.0 / 224.0;
            const double V = (pair[2] - 128) * 255.0 / 224.0;
            *rgb++ = toByte(Y + 1.5748 * V);
            *rgb++ = toByte(Y - 0.1873 * U - 0.4681 * V);
            *rgb++ = toByte(Y + 1.8556 * U);
        }
    }
    return out;
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription("Grabs one picture of a network-video source.");
    parser.addHelpOption();
    parser.addPositionalArgument("name", "The source's full name.");
    parser.addOptions({
        { "list", "List the sources found and stop." },
        { "bandwidth", "Stream to receive: high or low.", "which", "high" },
        { "timeout-ms", "How long to wait for the source and its picture.", "ms", "5000" },
        { "out", "Output path without extension.", "path", "grab" },
    });
    parser.process(app);
    bool ok = false;
    const int timeoutMs = parser.value("timeout-ms").toInt(&ok);
    const QString bandwidth = parser.value("bandwidth");
    const QString name = parser.positionalArguments().value(0);
    if (!ok || timeoutMs < 0 || (bandwidth != "high" && bandwidth != "low")
        || (!parser.isSet("list") && name.isEmpty())) {
        std::fprintf(stderr, "panoptra_grab: invalid arguments (see --help)\n");
        return 2;
    }
    if (!NDIlib_initialize()) {
        std::fprintf(stderr, "panoptra_grab: the network-video library cannot run\n");
        return 1;
    }

    QElapsedTimer clock;
    clock.start();
    Finder finder;
    bool found = false;
    const QJsonArray sources = findSources(finder, name, timeoutMs, found);
    if (parser.isSet("list")) {
        std::printf("%s\n", QJsonDocument(sources).toJson(QJsonDocument::Compact).constData());
        return 0;
    }
    if (!found) {
        std::fprintf(stderr, "panoptra_grab: source \"%s\" not found\n", qPrintable(name));
        return 1;
    }

    NDIlib_recv_create_t settings;
    const QByteArray nameUtf8 = name.toUtf8();
    settings.source_to_connect_to.p_ndi_name = nameUtf8.constData();
    settings.bandwidth = bandwidth == "low" ? NDIlib_recv_bandwidth_lowest : NDIlib_recv_bandwidth_highest;
    settings.p_ndi_recv_name = "panoptra_grab";
    NDIlib_recv_instance_t receiver = NDIlib_recv_create_v4(&settings, nullptr);
    NDIlib_framesync_instance_t sync = NDIlib_framesync_create(receiver);

    int status = 1;
    for (;;) {
        NDIlib_video_frame_v2_t frame;
        NDIlib_framesync_capture_video(sync, &frame, NDIlib_frame_format_type_progressive);
        if (frame.p_data && frame.xres > 0 && frame.yres > 0) {
            const int stride = frame.line_stride_in_bytes > 0 ? frame.line_stride_in_bytes : frame.xres * 2;
            QByteArray packed;
            packed.reserve(frame.xres * 2 * frame.yres);
            for (int y = 0; y < frame.yres; ++y)
                packed.append(reinterpret_cast<const char*>(frame.p_data + size_t(y) * stride), frame.xres * 2);
            const QString out = parser.value("out");
            const bool written = writeFile(out + ".uyvy", packed)
                && writeFile(out + ".ppm", toPpm(frame.p_data, frame.xres, frame.yres, stride));
            const float aspect = frame.picture_aspect_ratio > 0 ? frame.picture_aspect_ratio
                                                                 : float(frame.xres) / float(frame.yres);
            const QJsonObject report { { "name", name }, { "width", frame.xres }, { "height", frame.yres },
                { "stride", stride }, { "frame_rate_N", frame.frame_rate_N }, { "frame_rate_D", frame.frame_rate_D },
                { "aspect", double(aspect) }, { "uyvy", out + ".uyvy" }, { "ppm", out + ".ppm" } };
            NDIlib_framesync_free_video(sync, &frame);
            if (written) {
                std::printf("%s\n", QJsonDocument(report).toJson(QJsonDocument::Compact).constData());
                status = 0;
            } else {
                std::fprintf(stderr, "panoptra_grab: cannot write %s\n", qPrintable(out));
            }
            break;
        }
        NDIlib_framesync_free_video(sync, &frame);
        if (clock.elapsed() >= timeoutMs) {
            std::fprintf(stderr, "panoptra_grab: no picture from \"%s\" in time\n", qPrintable(name));
            break;
        }
        QThread::msleep(10);
    }
    NDIlib_framesync_destroy(sync);
    NDIlib_recv_destroy(receiver);
    return status;
}
