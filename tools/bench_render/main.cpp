// panoptra_bench_render: output windows rendered at their frame rate with
// their network output on and one viewer of their H.264 stream (so the
// conversion and the encoder run), each ticked by its own tick thread as in
// the application. Optionally starts panoptra_testsource (another process)
// with live 1080p sources for the scene's tiles; every window shows them all.
// After a warm-up it measures for a while and prints one JSON line: passes
// (pictures sent) and drawn passes per second, dropped ticks, pass and
// conversion times (median, p99), RSS at start and end, and CPU
// milliseconds per output frame (all windows' frames) of the render side (the
// render threads plus the llvmpipe-* threads, from /proc/self/task/*/stat) and
// of the process.
//
// --stamp: the sources carry their send time (TimeStamp.h) and the first
// window's first tile is read back from the window's network output and from
// its H.264 output (Latency.h); the line then also holds the glass-to-glass
// p50 and p90 of both. --reference runs, instead of the windows, the
// GStreamer pipeline of bench/render_pipeline.sh fed with the same stamped
// sources (GstReference.h) and prints the same figures for it.
#include "BenchFigures.h"
#include "GstReference.h"
#include "Latency.h"
#include "model/MyTimer.h"
#include "output/GSTEAMER.h"
#include "output/MediaOutputManager.h"
#include "output/ZtGstEncoder.h"
#include "render/QuickRenderer.h"
#include "render/SurfaceSetup.h"
#include "render/VideoRender.h"
#include "render/WindowMultiThreaded.h"
#include "sources/SourceManager.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QQmlContext>
#include <QQmlEngine>
#include <QTimer>
#include <QtQml>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <unistd.h>
#include <vector>

namespace {

struct CpuSample {
    double renderMs = 0; // render thread + llvmpipe threads
    double processMs = 0;
};

// utime + stime of a /proc stat line, in milliseconds; the thread's name in comm.
double statCpuMs(const QByteArray& stat, QByteArray* comm = nullptr)
{
    const int open = stat.indexOf('('), close = stat.lastIndexOf(')');
    if (open < 0 || close < 0)
        return 0;
    if (comm)
        *comm = stat.mid(open + 1, close - open - 1);
    const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
    // Fields after the name start at state (3rd); utime and stime are the 14th and 15th.
    if (fields.size() < 13)
        return 0;
    const double tick = 1000.0 / sysconf(_SC_CLK_TCK);
    return (fields.at(11).toDouble() + fields.at(12).toDouble()) * tick;
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

CpuSample sampleCpu()
{
    CpuSample sample;
    sample.processMs = statCpuMs(readAll("/proc/self/stat"));
    for (const QString& task : QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QByteArray comm;
        const double ms = statCpuMs(readAll("/proc/self/task/" + task + "/stat"), &comm);
        if (comm == "panoptra-render" || comm.startsWith("llvmpipe-"))
            sample.renderMs += ms;
    }
    return sample;
}

double rssMiB()
{
    const QList<QByteArray> fields = readAll("/proc/self/statm").split(' ');
    return fields.size() > 1 ? fields.at(1).toDouble() * sysconf(_SC_PAGESIZE) / (1024.0 * 1024.0) : 0;
}

std::vector<double> lastN(const std::vector<double>& values, size_t n)
{
    return std::vector<double>(values.end() - std::ptrdiff_t(std::min(n, values.size())), values.end());
}

} // namespace

int main(int argc, char** argv)
{
    SurfaceSetup::applyBeforeApplication();
    QApplication app(argc, argv);

    QCommandLineParser parser;
    parser.setApplicationDescription("Benchmark of one window's render pipeline.");
    parser.addHelpOption();
    parser.addOptions({
        { "scene", "QML scene of the window.", "path" },
        { "width", "Window width.", "pixels", "1920" },
        { "height", "Window height.", "pixels", "1080" },
        { "fps", "Window frame rate.", "rate", "30" },
        { "warmup", "Seconds before measuring.", "s", "10" },
        { "seconds", "Seconds measured.", "s", "60" },
        { "sources", "Live test sources to start (another process).", "n", "4" },
        { "prefix", "Name prefix of the test sources.", "text", "Bench" },
        { "windows", "Windows rendered at once.", "n", "1" },
        { "no-ndi", "Leave the network output off." },
        { "no-h264", "Leave the H.264 conversion off." },
        { "no-viewer", "Nobody watches the H.264 stream (no conversion or encoding for it)." },
        { "stamp", "Stamped sources; measure glass-to-glass to the first window's outputs." },
        { "reference", "Measure glass-to-glass through the GStreamer reference pipeline instead (implies --stamp)." },
    });
    parser.process(app);
    const int width = parser.value("width").toInt();
    const int height = parser.value("height").toInt();
    const double fps = parser.value("fps").toDouble();
    const int warmupMs = int(parser.value("warmup").toDouble() * 1000);
    const int measureMs = int(parser.value("seconds").toDouble() * 1000);
    const int sourceCount = parser.value("sources").toInt();
    const QString prefix = parser.value("prefix");
    const bool reference = parser.isSet("reference");
    const bool stamp = reference || parser.isSet("stamp");
    const int windowCount = reference ? 0 : parser.value("windows").toInt();
    if (!parser.isSet("scene") || width < 2 || height < 2 || fps <= 0 || measureMs <= 0
        || (windowCount < 1 && !reference) || (stamp && parser.isSet("no-viewer")) || (reference && sourceCount < 1)) {
        std::fprintf(stderr, "panoptra_bench_render: invalid arguments (see --help)\n");
        return 2;
    }

    // As the application's start-up does: the tile type, and the source table
    // the tiles take their connections from.
    qmlRegisterType<VideoRender>("SceneGraphRendering", 1, 0, "Renderer");
    GSTEAMER::Init(&argc, &argv);
    QProcess sources;
    QStringList sourceNames;
    if (sourceCount > 0) {
        sources.setProgram(QCoreApplication::applicationDirPath() + "/panoptra_testsource");
        QStringList arguments { "--count", QString::number(sourceCount), "--prefix", prefix, "--width", "1920",
            "--height", "1080", "--fps", "30" };
        if (stamp)
            arguments << "--stamp";
        sources.setArguments(arguments);
        sources.start();
        if (!sources.waitForStarted(5000)) {
            std::fprintf(stderr, "panoptra_bench_render: cannot start panoptra_testsource\n");
            return 1;
        }
        for (int i = 1; i <= sourceCount; ++i)
            sourceNames << QStringLiteral("%1 %2").arg(prefix).arg(i);
        SourceManager::instance()->startDiscover();
    }

    const double rssStart = rssMiB();
    // Where the first source shows: the first tile of the grid.
    const int columns = gridColumns(sourceCount);
    const QRectF firstTile(0, 0, 1.0 / columns, 1.0 / columns);
    std::unique_ptr<NetworkWatch> networkWatch;
    std::unique_ptr<H264Watch> h264Watch;
    std::unique_ptr<GstReference> gstReference;
    if (reference) {
        gstReference = std::make_unique<GstReference>(sourceNames);
        if (!gstReference->start()) {
            std::fprintf(stderr, "panoptra_bench_render: the reference pipeline did not start\n");
            return 1;
        }
    }
    std::vector<std::unique_ptr<WindowMultiThreaded>> windows;
    for (int i = 0; i < windowCount; ++i) {
        auto window = std::make_unique<WindowMultiThreaded>();
        window->setId("1", QStringLiteral("bench%1").arg(i));
        window->setName(QStringLiteral("Bench_Window_%1").arg(i));
        window->resize(width, height);
        window->setFrameRate(fps);
        window->getQmlEngine()->rootContext()->setContextProperty("benchSources", sourceNames);
        window->loadQmlFile(parser.value("scene"));
        window->createZtEncoder();
        if (stamp && i == 0) {
            h264Watch = std::make_unique<H264Watch>(firstTile);
            if (!h264Watch->start()) {
                std::fprintf(stderr, "panoptra_bench_render: the H.264 decoder did not start\n");
                return 1;
            }
            H264Watch* watch = h264Watch.get();
            window->encoder()->setNaluSink([watch](const QString&, const QString&, const char* unit, int length,
                                               uint32_t, int kind, int) { watch->push(unit, length, kind); });
            // The network output goes out under the window's name.
            networkWatch = std::make_unique<NetworkWatch>(QStringLiteral("Bench_Window_%1").arg(i), firstTile);
            networkWatch->start();
        }
        // The window's network output, made as the window object makes it:
        // without it the pictures would be converted and sent nowhere.
        MediaOutputManager::instance().setWebControl("1", window->winId(), QString());
        window->onProcessLive(parser.isSet("no-ndi") ? "" : "ndi");
        if (parser.isSet("no-h264"))
            window->setH264Enable(false);
        else if (!parser.isSet("no-viewer"))
            window->setH264Viewers(1);
        if (!window->isSceneLoaded()) {
            std::fprintf(stderr, "panoptra_bench_render: the scene did not load\n");
            return 1;
        }
        windows.push_back(std::move(window));
    }
    const auto totalPasses = [&windows] {
        int64_t n = 0;
        for (const auto& window : windows)
            n += window->renderer()->stats().passes;
        return n;
    };

    // One tick thread per window, as the application has.
    std::atomic<int64_t> ticks { 0 };
    std::vector<std::unique_ptr<MyTimer>> timers;
    for (const auto& window : windows) {
        auto tick = std::make_unique<MyTimer>();
        tick->setFrameRate(fps);
        WindowMultiThreaded* target = window.get();
        QObject::connect(
            tick.get(), &MyTimer::requestUpdate, tick.get(),
            [&ticks, target] {
                ++ticks;
                target->refreshUI();
            },
            Qt::DirectConnection);
        tick->startTimer();
        timers.push_back(std::move(tick));
    }

    int64_t ticks0 = 0, passes0 = 0;
    std::vector<int64_t> windowPasses0(windows.size(), 0), windowDrawn0(windows.size(), 0);
    CpuSample cpu0;
    double rssWarm = 0;
    QElapsedTimer clock;
    QTimer::singleShot(warmupMs, [&] {
        ticks0 = ticks;
        passes0 = totalPasses();
        for (size_t i = 0; i < windows.size(); ++i) {
            const QuickRenderer::Stats stats = windows[i]->renderer()->stats();
            windowPasses0[i] = stats.passes;
            windowDrawn0[i] = stats.drawn;
        }
        cpu0 = sampleCpu();
        rssWarm = rssMiB();
        for (LatencyLog* log : { networkWatch ? &networkWatch->log() : nullptr, h264Watch ? &h264Watch->log() : nullptr,
                 gstReference ? &gstReference->network().log() : nullptr,
                 gstReference ? &gstReference->h264().log() : nullptr }) {
            if (log)
                log->restart();
        }
        clock.start();
    });
    QTimer::singleShot(warmupMs + measureMs, [&] { app.quit(); });
    app.exec();

    const double elapsedS = clock.elapsed() / 1000.0;
    // Glass-to-glass figures as they stand when the measuring ends.
    QJsonObject latency;
    const auto addLatency = [&latency, fps](const QString& what, const LatencyLog& log, int64_t pictures) {
        latency.insert(what + "_pictures", double(pictures));
        latency.insert(what + "_stamps", double(log.count()));
        for (const auto& [name, q] : { std::pair { "p50", 0.5 }, std::pair { "p90", 0.9 } }) {
            const double ms = log.quantileMs(q);
            latency.insert(what + "_" + name + "_ms", ms);
            latency.insert(what + "_" + name + "_frames", ms * fps / 1000.0);
        }
    };
    if (networkWatch)
        addLatency("g2g_network", networkWatch->log(), networkWatch->pictures());
    if (h264Watch)
        addLatency("g2g_h264", h264Watch->log(), h264Watch->pictures());
    if (gstReference) {
        addLatency("g2g_network", gstReference->network().log(), gstReference->network().pictures());
        addLatency("g2g_h264", gstReference->h264().log(), gstReference->h264().pictures());
    }
    const CpuSample cpu1 = sampleCpu();
    std::vector<double> passMs, convertMs;
    int64_t passes = 0, drawn = 0;
    for (size_t i = 0; i < windows.size(); ++i) {
        const QuickRenderer::Stats stats = windows[i]->renderer()->stats();
        passes += stats.passes;
        drawn += stats.drawn - windowDrawn0[i];
        // The measured passes of this window are its last ones.
        const size_t measured = size_t(std::max<int64_t>(stats.passes - windowPasses0[i], 0));
        for (double ms : lastN(stats.pass_ms, measured))
            passMs.push_back(ms);
        for (double ms : lastN(stats.convert_ms, measured))
            convertMs.push_back(ms);
    }
    passes -= passes0;
    const int64_t tickCount = ticks - ticks0;
    const double rssEnd = rssMiB();
    for (const auto& tick : timers)
        tick->stopTimer();
    windows.clear();
    if (sourceCount > 0)
        SourceManager::instance()->stopDiscover();
    if (sources.state() != QProcess::NotRunning) {
        sources.terminate();
        sources.waitForFinished(5000);
    }

    const double frames = std::max<int64_t>(passes, 1);
    double load[3] = { 0, 0, 0 };
    getloadavg(load, 3);
    QJsonObject report {
        { "windows", windowCount },
        { "seconds", elapsedS },
        { "ticks", double(tickCount) },
        { "passes", double(passes) },
        { "passes_per_s", passes / elapsedS },
        { "fps_per_window", passes / elapsedS / windowCount },
        // Passes that drew the scene; the others sent the last picture again.
        { "drawn_per_s_per_window", drawn / elapsedS / windowCount },
        { "dropped_ticks", double(std::max<int64_t>(tickCount - passes, 0)) },
        { "dropped_pct", tickCount > 0 ? 100.0 * std::max<int64_t>(tickCount - passes, 0) / tickCount : 0.0 },
        { "pass_ms_median", percentile(passMs, 0.5) },
        { "pass_ms_p99", percentile(passMs, 0.99) },
        { "convert_ms_median", percentile(convertMs, 0.5) },
        { "convert_ms_p99", percentile(convertMs, 0.99) },
        { "rss_start_mib", rssStart },
        { "rss_after_warmup_mib", rssWarm },
        { "rss_end_mib", rssEnd },
        { "render_cpu_ms_per_frame", (cpu1.renderMs - cpu0.renderMs) / frames },
        { "process_cpu_ms_per_frame", (cpu1.processMs - cpu0.processMs) / frames },
        { "loadavg", QJsonArray { load[0], load[1], load[2] } },
    };
    for (auto it = latency.constBegin(); it != latency.constEnd(); ++it)
        report.insert(it.key(), it.value());
    std::printf("%s\n", QJsonDocument(report).toJson(QJsonDocument::Compact).constData());
    return 0;
}
