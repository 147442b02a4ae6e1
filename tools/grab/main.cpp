// panoptra_grab: finds a network-video source by name, waits for a picture,
// writes it as raw UYVY (<out>.uyvy, lines packed) and as a PPM (<out>.ppm,
// BT.709 limited range to RGB), and prints what it got as one JSON line:
//   {"name": ..., "width": ..., "height": ..., "stride": ..., "frame_rate_N": ...,
//    "frame_rate_D": ..., "aspect": ..., "uyvy": path, "ppm": path}
// --wav <path> records --seconds of the source's sound as a 16-bit stereo
// 48 kHz WAV file as well, or alone when --out is not given; the line then
// also holds "wav", "seconds" and "rms_dbfs" (the whole recording's level).
// Sound is read in 10 ms blocks at 16-bit reference level 20 dB, the level
// the outputs send at; a block in which nothing arrived is recorded as
// silence, so a silent source gives a silent file of full length.
// --rate counts, after the picture, the distinct pictures that arrive over
// --seconds; the line then also holds "pictures" and "fps".
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
#include <vector>

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

constexpr int kRate = 48000;
constexpr int kChannels = 2;
constexpr int kBlock = kRate / 100;
// 16-bit full scale of the outputs and the test sources.
constexpr int kReferenceLevel = 20;

void appendLe(QByteArray& out, uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.append(char((value >> (8 * i)) & 0xff));
}

// A canonical 44-byte header and the samples, little-endian.
QByteArray toWav(const std::vector<int16_t>& samples)
{
    const uint32_t dataBytes = uint32_t(samples.size() * sizeof(int16_t));
    QByteArray out("RIFF");
    appendLe(out, 36 + dataBytes, 4);
    out.append("WAVEfmt ");
    appendLe(out, 16, 4);
    appendLe(out, 1, 2); // PCM
    appendLe(out, kChannels, 2);
    appendLe(out, kRate, 4);
    appendLe(out, kRate * kChannels * 2, 4);
    appendLe(out, kChannels * 2, 2);
    appendLe(out, 16, 2);
    out.append("data");
    appendLe(out, dataBytes, 4);
    for (const int16_t s : samples)
        appendLe(out, uint16_t(s), 2);
    return out;
}

double rmsDbfs(const std::vector<int16_t>& samples)
{
    double sum = 0.0;
    for (const int16_t s : samples)
        sum += double(s) * double(s);
    const double rms = samples.empty() ? 0.0 : std::sqrt(sum / double(samples.size())) / 32768.0;
    return rms > 0.0 ? 20.0 * std::log10(rms) : -200.0;
}

// seconds of sound, one 10 ms block per round. Read a little slower than
// real time: the receiver pads a block it cannot fill with silence, so a
// read that runs ahead of the sender would record gaps that are not there.
std::vector<int16_t> recordSound(NDIlib_framesync_instance_t sync, int seconds)
{
    const int blocks = seconds * 100;
    std::vector<int16_t> samples;
    samples.reserve(size_t(blocks) * kBlock * kChannels);
    std::vector<int16_t> block(size_t(kBlock) * kChannels);
    for (int i = 0; i < blocks; ++i) {
        QThread::msleep(12);
        NDIlib_audio_frame_v2_t frame;
        NDIlib_framesync_capture_audio(sync, &frame, kRate, kChannels, kBlock);
        std::fill(block.begin(), block.end(), int16_t(0));
        if (frame.p_data && frame.no_samples == kBlock && frame.no_channels == kChannels) {
            NDIlib_audio_frame_interleaved_16s_t pcm;
            pcm.reference_level = kReferenceLevel;
            pcm.p_data = block.data();
            NDIlib_util_audio_to_interleaved_16s_v2(&frame, &pcm);
        }
        NDIlib_framesync_free_audio(sync, &frame);
        samples.insert(samples.end(), block.begin(), block.end());
    }
    return samples;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription("Grabs one picture, or a stretch of sound, of a network-video source.");
    parser.addHelpOption();
    parser.addPositionalArgument("name", "The source's full name.");
    parser.addOptions({
        { "list", "List the sources found and stop." },
        { "bandwidth", "Stream to receive: high or low.", "which", "high" },
        { "timeout-ms", "How long to wait for the source and its picture.", "ms", "5000" },
        { "out", "Output path of the picture, without extension.", "path", "grab" },
        { "wav", "Records the source's sound as a 16-bit WAV file; with --out, beside the picture.", "path" },
        { "seconds", "Length of the sound recording, or of the count of --rate.", "N", "2" },
        { "rate", "After the picture, count the pictures that arrive over --seconds." },
    });
    parser.process(app);
    bool ok = false;
    const int timeoutMs = parser.value("timeout-ms").toInt(&ok);
    const QString bandwidth = parser.value("bandwidth");
    const QString name = parser.positionalArguments().value(0);
    bool secondsOk = false;
    const int seconds = parser.value("seconds").toInt(&secondsOk);
    const QString wavPath = parser.value("wav");
    const bool wantSound = parser.isSet("wav");
    const bool wantPicture = !wantSound || parser.isSet("out");
    if (!ok || timeoutMs < 0 || (bandwidth != "high" && bandwidth != "low") || (!parser.isSet("list") && name.isEmpty())
        || !secondsOk || seconds < 1 || seconds > 3600 || (wantSound && wavPath.isEmpty())) {
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

    QJsonObject report { { "name", name } };
    bool done = true;
    while (wantPicture) {
        NDIlib_video_frame_v2_t frame;
        NDIlib_framesync_capture_video(sync, &frame, NDIlib_frame_format_type_progressive);
        if (frame.p_data && frame.xres > 0 && frame.yres > 0) {
            const int stride = frame.line_stride_in_bytes > 0 ? frame.line_stride_in_bytes : frame.xres * 2;
            QByteArray packed;
            packed.reserve(frame.xres * 2 * frame.yres);
            for (int y = 0; y < frame.yres; ++y)
                packed.append(reinterpret_cast<const char*>(frame.p_data + size_t(y) * stride), frame.xres * 2);
            const QString out = parser.value("out");
            done = writeFile(out + ".uyvy", packed)
                && writeFile(out + ".ppm", toPpm(frame.p_data, frame.xres, frame.yres, stride));
            const float aspect
                = frame.picture_aspect_ratio > 0 ? frame.picture_aspect_ratio : float(frame.xres) / float(frame.yres);
            report.insert("width", frame.xres);
            report.insert("height", frame.yres);
            report.insert("stride", stride);
            report.insert("frame_rate_N", frame.frame_rate_N);
            report.insert("frame_rate_D", frame.frame_rate_D);
            report.insert("aspect", double(aspect));
            report.insert("uyvy", out + ".uyvy");
            report.insert("ppm", out + ".ppm");
            NDIlib_framesync_free_video(sync, &frame);
            if (!done)
                std::fprintf(stderr, "panoptra_grab: cannot write %s\n", qPrintable(out));
            break;
        }
        NDIlib_framesync_free_video(sync, &frame);
        if (clock.elapsed() >= timeoutMs) {
            std::fprintf(stderr, "panoptra_grab: no picture from \"%s\" in time\n", qPrintable(name));
            done = false;
            break;
        }
        QThread::msleep(10);
    }
    if (done && wantPicture && parser.isSet("rate")) {
        // A picture is new when its send time is; looked at every 2 ms.
        QElapsedTimer counting;
        counting.start();
        int64_t last = 0, pictures = -1;
        while (counting.elapsed() < seconds * 1000) {
            NDIlib_video_frame_v2_t frame;
            NDIlib_framesync_capture_video(sync, &frame, NDIlib_frame_format_type_progressive);
            if (frame.p_data && frame.timestamp != last) {
                last = frame.timestamp;
                ++pictures;
            }
            NDIlib_framesync_free_video(sync, &frame);
            QThread::msleep(2);
        }
        report.insert("pictures", double(std::max<int64_t>(pictures, 0)));
        report.insert("fps", std::max<int64_t>(pictures, 0) * 1000.0 / double(counting.elapsed()));
    }
    if (done && wantSound) {
        while (NDIlib_recv_get_no_connections(receiver) == 0 && clock.elapsed() < timeoutMs)
            QThread::msleep(10);
        if (NDIlib_recv_get_no_connections(receiver) == 0) {
            std::fprintf(stderr, "panoptra_grab: cannot connect to \"%s\" in time\n", qPrintable(name));
            done = false;
        } else {
            const std::vector<int16_t> samples = recordSound(sync, seconds);
            done = writeFile(wavPath, toWav(samples));
            if (!done)
                std::fprintf(stderr, "panoptra_grab: cannot write %s\n", qPrintable(wavPath));
            report.insert("wav", wavPath);
            report.insert("seconds", seconds);
            report.insert("rms_dbfs", rmsDbfs(samples));
        }
    }
    const int status = done ? 0 : 1;
    if (done)
        std::printf("%s\n", QJsonDocument(report).toJson(QJsonDocument::Compact).constData());
    NDIlib_framesync_destroy(sync);
    NDIlib_recv_destroy(receiver);
    return status;
}
