// panoptra_bench_ndi: what the network-video stand-in costs per picture.
//
// For each source count, that many senders in this process send 1080p UYVY
// pictures at the frame rate, each from its own thread (as the windows'
// render threads do), and as many receivers take them through frame
// synchronisers. One capture thread looks at every synchroniser once a
// millisecond and notes each new picture with the delay since its sender
// stamped it. Reported per received picture: the CPU time of the whole
// process, the part spent inside the send calls, and the part of the 1 kHz
// capture thread (far more captures than an application makes, so it is
// shown separately); and the send-to-capture latency.
#include "BenchFigures.h"
#include "NdiWrapper.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

int64_t now100ns()
{
    using namespace std::chrono;
    return duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count() / 100;
}

struct Result {
    int sources = 0;
    long sent = 0, received = 0;
    double processCpu = 0, sendCpu = 0, captureCpu = 0, wall = 0;
    std::vector<double> latencyMs;
};

Result run(int count, int width, int height, int fps, double seconds)
{
    Result result;
    result.sources = count;
    std::vector<NDIlib_send_instance_t> senders;
    std::vector<NDIlib_recv_instance_t> receivers;
    std::vector<NDIlib_framesync_instance_t> syncs;
    std::vector<std::string> names;
    names.reserve(size_t(count));
    for (int i = 0; i < count; ++i)
        names.push_back("Bench " + std::to_string(i + 1));
    for (int i = 0; i < count; ++i) {
        NDIlib_send_create_t send;
        send.p_ndi_name = names[size_t(i)].c_str();
        senders.push_back(NDIlib_send_create_v2(&send, nullptr));
        NDIlib_recv_create_t recv;
        recv.bandwidth = NDIlib_recv_bandwidth_highest;
        receivers.push_back(NDIlib_recv_create_v4(&recv, nullptr));
        NDIlib_source_t source;
        source.p_ndi_name = names[size_t(i)].c_str();
        NDIlib_recv_connect(receivers.back(), &source);
        syncs.push_back(NDIlib_framesync_create(receivers.back()));
    }

    std::atomic<bool> measuring { false }, stop { false };
    std::atomic<long> sent { 0 };
    std::vector<double> sendCpu(size_t(count), 0.0);
    std::vector<std::thread> threads;
    threads.reserve(size_t(count));
    const auto period = std::chrono::nanoseconds(1000000000LL / fps);
    for (int i = 0; i < count; ++i) {
        threads.emplace_back([&, i] {
            std::vector<uint8_t> pictures[2];
            for (auto& p : pictures)
                p.assign(size_t(width) * 2 * size_t(height), uint8_t(0x80));
            auto due = Clock::now();
            for (unsigned n = 0; !stop; ++n) {
                std::vector<uint8_t>& p = pictures[n % 2];
                p[0] = uint8_t(n);
                NDIlib_video_frame_v2_t frame;
                frame.xres = width;
                frame.yres = height;
                frame.frame_rate_N = fps;
                frame.frame_rate_D = 1;
                frame.p_data = p.data();
                frame.line_stride_in_bytes = width * 2;
                const double before = cpuSeconds(CLOCK_THREAD_CPUTIME_ID);
                NDIlib_send_send_video_async_v2(senders[size_t(i)], &frame);
                if (measuring) {
                    sendCpu[size_t(i)] += cpuSeconds(CLOCK_THREAD_CPUTIME_ID) - before;
                    ++sent;
                }
                due += period;
                std::this_thread::sleep_until(due);
            }
            NDIlib_send_send_video_async_v2(senders[size_t(i)], nullptr);
        });
    }

    // Warm up until every receiver shows pictures.
    const auto warmDeadline = Clock::now() + std::chrono::seconds(10);
    std::vector<int64_t> lastStamp(size_t(count), 0);
    for (bool all = false; !all && Clock::now() < warmDeadline;) {
        all = true;
        for (int i = 0; i < count; ++i) {
            NDIlib_video_frame_v2_t v;
            NDIlib_framesync_capture_video(syncs[size_t(i)], &v, NDIlib_frame_format_type_progressive);
            all = all && v.p_data;
            lastStamp[size_t(i)] = v.timestamp;
            NDIlib_framesync_free_video(syncs[size_t(i)], &v);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }

    measuring = true;
    const double cpu0 = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
    const double capture0 = cpuSeconds(CLOCK_THREAD_CPUTIME_ID);
    const auto start = Clock::now();
    auto due = start;
    while (Clock::now() - start < std::chrono::duration<double>(seconds)) {
        for (int i = 0; i < count; ++i) {
            NDIlib_video_frame_v2_t v;
            NDIlib_framesync_capture_video(syncs[size_t(i)], &v, NDIlib_frame_format_type_progressive);
            if (v.p_data && v.timestamp != lastStamp[size_t(i)]) {
                lastStamp[size_t(i)] = v.timestamp;
                result.latencyMs.push_back(double(now100ns() - v.timestamp) / 1e4);
                ++result.received;
            }
            NDIlib_framesync_free_video(syncs[size_t(i)], &v);
        }
        due += std::chrono::milliseconds(1);
        std::this_thread::sleep_until(due);
    }
    result.wall = std::chrono::duration<double>(Clock::now() - start).count();
    result.captureCpu = cpuSeconds(CLOCK_THREAD_CPUTIME_ID) - capture0;
    result.processCpu = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - cpu0;
    measuring = false;
    stop = true;
    for (auto& t : threads)
        t.join();
    result.sent = sent;
    for (double c : sendCpu)
        result.sendCpu += c;

    for (auto s : syncs)
        NDIlib_framesync_destroy(s);
    for (auto r : receivers)
        NDIlib_recv_destroy(r);
    for (auto s : senders)
        NDIlib_send_destroy(s);
    return result;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription("Measures the network-video stand-in.");
    parser.addHelpOption();
    parser.addOptions({
        { "sources", "Comma-separated source counts.", "list", "1,8" },
        { "seconds", "Measured seconds per count.", "s", "5" },
        { "width", "Picture width.", "pixels", "1920" },
        { "height", "Picture height.", "pixels", "1080" },
        { "fps", "Frames per second per source.", "rate", "30" },
    });
    parser.process(app);
    const int width = parser.value("width").toInt(), height = parser.value("height").toInt();
    const int fps = parser.value("fps").toInt();
    const double seconds = parser.value("seconds").toDouble();
    if (width < 16 || height < 16 || fps < 1 || seconds <= 0) {
        std::fprintf(stderr, "panoptra_bench_ndi: invalid arguments\n");
        return 2;
    }

    // A private registry, so nothing else on the machine joins in.
    QTemporaryDir dir;
    qputenv("PANOPTRA_NDI_DIR", dir.path().toLocal8Bit());

    std::printf("%dx%d UYVY at %d fps, %.0f s per run, %u hardware threads\n", width, height, fps, seconds,
        std::thread::hardware_concurrency());
    std::printf("%7s %7s %8s | %-30s | %-31s\n", "sources", "sent", "received", "CPU ms per received picture",
        "send->capture latency ms");
    std::printf("%7s %7s %8s | %9s %9s %10s | %7s %7s %7s %7s\n", "", "", "", "process", "in send", "capture", "mean",
        "p50", "p95", "max");
    for (const QString& item : parser.value("sources").split(',')) {
        const int count = item.toInt();
        if (count < 1)
            continue;
        const Result r = run(count, width, height, fps, seconds);
        const double perFrame = r.received ? 1000.0 / double(r.received) : 0;
        double mean = 0;
        for (double l : r.latencyMs)
            mean += l;
        mean = r.latencyMs.empty() ? 0 : mean / double(r.latencyMs.size());
        std::printf("%7d %7ld %8ld | %9.3f %9.3f %10.3f | %7.2f %7.2f %7.2f %7.2f\n", r.sources, r.sent, r.received,
            r.processCpu * perFrame, r.sendCpu * perFrame, r.captureCpu * perFrame, mean, percentile(r.latencyMs, 0.5),
            percentile(r.latencyMs, 0.95), percentile(r.latencyMs, 1.0));
        std::fflush(stdout);
    }
    return 0;
}
