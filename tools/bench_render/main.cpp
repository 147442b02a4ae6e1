// panoptra_bench_render: output windows rendered at their frame rate with
// their network output on and one viewer of their H.264 stream (so the
// conversion and the encoder run), each ticked by its own tick thread as in
// the application. Optionally starts panoptra_testsource (another process)
// with live 1080p sources for the scene's tiles; every window shows them all.
// After a warm-up it measures for a while and prints one JSON line: passes per
// second, dropped ticks, pass and conversion times (median, p99), RSS at start
// and end, and CPU milliseconds per output frame (all windows' frames) of the
// render side (the render threads plus the llvmpipe-* threads, from
// /proc/self/task/*/stat) and of the process.
#include "BenchFigures.h"
#include "GSTEAMER.h"
#include "MyTimer.h"
#include "QuickRenderer.h"
#include "SourceManager.h"
#include "SurfaceSetup.h"
#include "VideoRender.h"
#include "WindowMultiThreaded.h"

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
#include <QtQml>
#include <QTimer>

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
    return std::vector<double>(values.end() - std::min(n, values.size()), values.end());
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
    });
    parser.process(app);
    const int width = parser.value("width").toInt();
    const int height = parser.value("height").toInt();
    const double fps = parser.value("fps").toDouble();
    const int warmupMs = int(parser.value("warmup").toDouble() * 1000);
    const int measureMs = int(parser.value("seconds").toDouble() * 1000);
    const int sourceCount = parser.value("sources").toInt();
    const QString prefix = parser.value("prefix");
    const int windowCount = parser.value("windows").toInt();
    if (!parser.isSet("scene") || width < 2 || height < 2 || fps <= 0 || measureMs <= 0 || windowCount < 1) {
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
        sources.setArguments({ "--count", QString::number(sourceCount), "--prefix", prefix, "--width", "1920",
            "--height", "1080", "--fps", "30" });
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
    std::vector<int64_t> windowPasses0(windows.size(), 0);
    CpuSample cpu0;
    double rssWarm = 0;
    QElapsedTimer clock;
    QTimer::singleShot(warmupMs, [&] {
        ticks0 = ticks;
        passes0 = totalPasses();
        for (size_t i = 0; i < windows.size(); ++i)
            windowPasses0[i] = windows[i]->renderer()->stats().passes;
        cpu0 = sampleCpu();
        rssWarm = rssMiB();
        clock.start();
    });
    QTimer::singleShot(warmupMs + measureMs, [&] { app.quit(); });
    app.exec();

    const double elapsedS = clock.elapsed() / 1000.0;
    const CpuSample cpu1 = sampleCpu();
    std::vector<double> passMs, convertMs;
    int64_t passes = 0;
    for (size_t i = 0; i < windows.size(); ++i) {
        const QuickRenderer::Stats stats = windows[i]->renderer()->stats();
        passes += stats.passes;
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
    const QJsonObject report {
        { "windows", windowCount },
        { "seconds", elapsedS },
        { "ticks", double(tickCount) },
        { "passes", double(passes) },
        { "passes_per_s", passes / elapsedS },
        { "fps_per_window", passes / elapsedS / windowCount },
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
    std::printf("%s\n", QJsonDocument(report).toJson(QJsonDocument::Compact).constData());
    return 0;
}
