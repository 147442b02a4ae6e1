// panoptra_bench_encoder: what the window encoder costs and how long it
// holds a picture, beside gst-launch-1.0 running the same elements with the
// same properties.
//
// Ours: a ZtGstEncoder configured as a window configures it (UYVY source,
// GOP of twice the rate, 2000 kbit/s, "auto" encoder), fed at the frame rate
// from pre-made moving colour bars, its NAL units counted by a recording
// sink. Latency in frames: when a picture's slice comes out, how many later
// pictures had already gone in (0: out before the next one arrived). CPU:
// the process's CPU time over the run per encoded picture.
//
// Reference: gst-launch-1.0 with a live test source of the same size and
// rate through the same queue, converter, encoder (same properties) and
// caps; its latency from the latency tracer, its CPU from the child's
// resource usage less that of the test source alone (which our run does not
// pay: its pictures are made beforehand).
#include "BenchFigures.h"
#include "media/VideoFrame.h"
#include "output/GSTEAMER.h"
#include "output/ZtGstEncoder.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QMutex>
#include <QMutexLocker>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gst/app/gstappsink.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

void printLoad(const char* when)
{
    double load[3] = { 0, 0, 0 };
    getloadavg(load, 3);
    printf("load average %s: %.2f %.2f %.2f\n", when, load[0], load[1], load[2]);
    fflush(stdout);
}

struct Figures {
    long frames = 0, out = 0;
    double cpuMsPerFrame = 0;
    double latencyFramesMedian = 0, latencyFramesMax = 0;
    double latencyMsMedian = 0, latencyMsMax = 0;
};

QString caps(int w, int h, int fps)
{
    return QStringLiteral("video/x-raw,format=UYVY,width=%1,height=%2,framerate=%3/1").arg(w).arg(h).arg(fps);
}

// Moving colour bars, made before any measurement.
std::vector<QByteArray> makePictures(int w, int h, int fps, int count)
{
    const QByteArray launch = QStringLiteral("videotestsrc pattern=smpte horizontal-speed=8 num-buffers=%1 ! %2 ! "
                                             "appsink name=sink sync=false")
                                  .arg(count)
                                  .arg(caps(w, h, fps))
                                  .toUtf8();
    GstElement* pipeline = gst_parse_launch(launch.constData(), nullptr);
    GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "sink");
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    std::vector<QByteArray> pictures;
    while (GstSample* sample = gst_app_sink_pull_sample(GST_APP_SINK(sink))) {
        GstMapInfo map;
        GstBuffer* buffer = gst_sample_get_buffer(sample);
        if (gst_buffer_map(buffer, &map, GST_MAP_READ)) {
            pictures.emplace_back(reinterpret_cast<const char*>(map.data), int(map.size));
            gst_buffer_unmap(buffer, &map);
        }
        gst_sample_unref(sample);
    }
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(sink);
    gst_object_unref(pipeline);
    return pictures;
}

Figures runOurs(std::vector<QByteArray>& pictures, int w, int h, int fps, int frames)
{
    QMutex mutex;
    std::vector<Clock::time_point> outAt;
    ZtGstEncoder encoder;
    encoder.setId("bench", "1");
    encoder.setSrcImagePara(w, h, fps, 9);
    encoder.setEncodePara(w, h, fps, fps * 2, 2000, 2, 0);
    encoder.setNaluSink([&](const QString&, const QString&, const char*, int, uint32_t, int kind, int) {
        if (kind == 0 || kind == 2) {
            QMutexLocker lock(&mutex);
            outAt.push_back(Clock::now());
        }
    });
    if (!encoder.createEncoderElement()) {
        fprintf(stderr, "the encoder could not be built\n");
        return {};
    }
    encoder.start();
    // Warm-up: the first picture pays for negotiation and encoder set-up.
    encoder.addNewFrame(std::make_shared<VideoFrame>(reinterpret_cast<unsigned char*>(pictures[0].data()), uint32_t(w),
        uint32_t(h), uint32_t(pictures[0].size()), uint32_t(w * 2)));
    const Clock::time_point warm = Clock::now() + std::chrono::seconds(5);
    while (Clock::now() < warm) {
        {
            QMutexLocker lock(&mutex);
            if (!outAt.empty())
                break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    {
        QMutexLocker lock(&mutex);
        outAt.clear();
    }

    std::vector<Clock::time_point> inAt;
    const auto period = std::chrono::nanoseconds(1000000000LL / fps);
    const double cpu0 = cpuSeconds();
    const Clock::time_point start = Clock::now();
    for (int i = 0; i < frames; ++i) {
        QByteArray& p = pictures[size_t(i) % pictures.size()];
        auto frame = std::make_shared<VideoFrame>(
            reinterpret_cast<unsigned char*>(p.data()), uint32_t(w), uint32_t(h), uint32_t(p.size()), uint32_t(w * 2));
        inAt.push_back(Clock::now());
        encoder.addNewFrame(frame);
        std::this_thread::sleep_until(start + period * (i + 1));
    }
    // Whatever is still inside gets a second to come out.
    const Clock::time_point drain = Clock::now() + std::chrono::seconds(1);
    while (Clock::now() < drain) {
        {
            QMutexLocker lock(&mutex);
            if (long(outAt.size()) >= frames)
                break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const double cpu = cpuSeconds() - cpu0;
    encoder.stop();

    Figures f;
    f.frames = frames;
    QMutexLocker lock(&mutex);
    f.out = long(outAt.size());
    f.cpuMsPerFrame = f.out ? cpu * 1000.0 / double(f.out) : 0;
    std::vector<double> held, ms;
    for (size_t k = 0; k < outAt.size(); ++k) {
        const long in = long(std::upper_bound(inAt.begin(), inAt.end(), outAt[k]) - inAt.begin());
        held.push_back(double(std::max(0L, in - long(k) - 1)));
        if (f.out == frames)
            ms.push_back(std::chrono::duration<double, std::milli>(outAt[k] - inAt[k]).count());
    }
    f.latencyFramesMedian = percentile(held, 0.5);
    f.latencyFramesMax = percentile(held, 1.0);
    f.latencyMsMedian = percentile(ms, 0.5);
    f.latencyMsMax = percentile(ms, 1.0);
    return f;
}

// Runs gst-launch-1.0 with the pipeline; the child's CPU seconds, and the
// tracer's latencies (ms) when asked for.
double runLaunch(const QString& pipeline, const QString& traceFile, std::vector<double>* latencies)
{
    std::vector<std::string> args { "gst-launch-1.0", "-q" };
    for (const QString& part : pipeline.split(' ', Qt::SkipEmptyParts))
        args.push_back(part.toStdString());
    std::vector<char*> argv;
    argv.reserve(args.size() + 1);
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string v = *e;
        if (v.rfind("GST_DEBUG", 0) != 0 && v.rfind("GST_TRACERS", 0) != 0)
            env.push_back(v);
    }
    if (latencies) {
        env.push_back("GST_TRACERS=latency");
        env.push_back("GST_DEBUG=GST_TRACER:7");
        env.push_back("GST_DEBUG_NO_COLOR=1");
        env.push_back("GST_DEBUG_FILE=" + traceFile.toStdString());
    }
    std::vector<char*> envp;
    envp.reserve(env.size() + 1);
    for (std::string& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    pid_t pid = 0;
    if (posix_spawnp(&pid, "gst-launch-1.0", nullptr, nullptr, argv.data(), envp.data()) != 0) {
        fprintf(stderr, "gst-launch-1.0 could not start\n");
        return 0;
    }
    int status = 0;
    rusage usage {};
    wait4(pid, &status, 0, &usage);
    const double cpu = double(usage.ru_utime.tv_sec) + double(usage.ru_utime.tv_usec) / 1e6
        + double(usage.ru_stime.tv_sec) + double(usage.ru_stime.tv_usec) / 1e6;
    if (latencies) {
        QFile file(traceFile);
        if (file.open(QIODevice::ReadOnly)) {
            static const QRegularExpression time(
                QStringLiteral("sink-element=\\(string\\)fakesink0.*time=\\(guint64\\)(\\d+)"));
            while (!file.atEnd()) {
                const QRegularExpressionMatch m = time.match(QString::fromUtf8(file.readLine()));
                if (m.hasMatch())
                    latencies->push_back(m.captured(1).toDouble() / 1e6);
            }
        }
    }
    return cpu;
}

Figures runReference(int w, int h, int fps, int frames, const QString& traceFile)
{
    const QString source
        = QStringLiteral("videotestsrc pattern=smpte horizontal-speed=8 is-live=true num-buffers=%1 ! %2")
              .arg(frames + 1)
              .arg(caps(w, h, fps));
    const QString encode
        = QStringLiteral(" ! queue max-size-buffers=3 max-size-bytes=52428800 max-size-time=0 leaky=2 ! videoconvert ! "
                         "x264enc key-int-max=%1 b-adapt=false b-pyramid=false bframes=0 tune=zerolatency threads=1 "
                         "speed-preset=superfast bitrate=2000 ! "
                         "video/x-h264,profile=main,width=%2,height=%3,framerate=%4/1,stream-format=byte-stream ! "
                         "queue max-size-buffers=10 max-size-bytes=52428800 max-size-time=0 leaky=2 ! "
                         "fakesink sync=false")
              .arg(fps * 2)
              .arg(w)
              .arg(h)
              .arg(fps);
    std::vector<double> latencies;
    const double all = runLaunch(source + encode, traceFile, &latencies);
    const double sourceOnly = runLaunch(source + " ! fakesink sync=false", QString(), nullptr);
    Figures f;
    f.frames = frames + 1;
    f.out = long(latencies.size());
    f.cpuMsPerFrame = f.out ? (all - sourceOnly) * 1000.0 / double(f.out) : 0;
    const double periodMs = 1000.0 / fps;
    f.latencyMsMedian = percentile(latencies, 0.5);
    f.latencyMsMax = percentile(latencies, 1.0);
    // A picture held across n later arrivals spends at least n periods inside.
    f.latencyFramesMedian = double(int(f.latencyMsMedian / periodMs));
    f.latencyFramesMax = double(int(f.latencyMsMax / periodMs));
    return f;
}

// Latency in ms needs every picture matched to its slice: shown only
// without drops.
void print(const char* who, const Figures& f)
{
    char ms[64] = "latency ms       n/a (drops)";
    if (f.latencyMsMax > 0)
        snprintf(ms, sizeof ms, "latency ms median %6.1f max %6.1f", f.latencyMsMedian, f.latencyMsMax);
    printf("  %-10s in %4ld out %4ld drops %3ld | latency frames median %.0f max %.0f | %s | CPU %6.2f ms/frame\n", who,
        f.frames, f.out, f.frames - f.out, f.latencyFramesMedian, f.latencyFramesMax, ms, f.cpuMsPerFrame);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription("H.264 window encoder beside gst-launch-1.0 with the same elements.");
    parser.addHelpOption();
    parser.addOption({ "seconds", "Seconds per run (default 10).", "s", "10" });
    parser.addOption({ "repeat", "Runs per size (default 2).", "n", "2" });
    parser.addOption({ "fps", "Frame rate (default 30).", "fps", "30" });
    parser.process(app);
    const int fps = std::max(1, parser.value("fps").toInt());
    const int frames = std::max(1, parser.value("seconds").toInt() * fps);
    const int repeat = std::max(1, parser.value("repeat").toInt());

    GSTEAMER::Init(&argc, &argv);
    QTemporaryDir dir;
    printLoad("at start");
    struct Size {
        int w, h;
    } sizes[] = { { 1920, 1080 }, { 1280, 720 } };
    for (const Size& s : sizes) {
        std::vector<QByteArray> pictures = makePictures(s.w, s.h, fps, 60);
        if (pictures.empty()) {
            fprintf(stderr, "no test pictures\n");
            return 1;
        }
        for (int r = 1; r <= repeat; ++r) {
            printf("%dx%d @ %d fps, %d frames, run %d of %d\n", s.w, s.h, fps, frames, r, repeat);
            const Figures ours = runOurs(pictures, s.w, s.h, fps, frames);
            print("encoder", ours);
            const Figures ref = runReference(s.w, s.h, fps, frames, dir.filePath("trace.log"));
            print("gst-launch", ref);
            printf("  ratio encoder / gst-launch: CPU %.2f",
                ref.cpuMsPerFrame > 0 ? ours.cpuMsPerFrame / ref.cpuMsPerFrame : 0);
            if (ours.latencyMsMax > 0 && ref.latencyMsMedian > 0)
                printf(", median latency %.2f", ours.latencyMsMedian / ref.latencyMsMedian);
            printf("\n");
            printLoad("after run");
        }
    }
    GSTEAMER::Cleanup();
    return 0;
}
