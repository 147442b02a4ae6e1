// panoptra_testsource: publishes N synthetic network-video sources named
// "<prefix> 1" .. "<prefix> N" until SIGTERM or SIGINT (with --stamp each
// picture carries the time it was sent), and logs to stdout
// what the receivers send back:
//   ready <name>
//   tally <name> program=<0|1> preview=<0|1>
//   metadata <name> <text>
//   ptz <name> <element>
// Everything runs on the main thread: pictures at the frame rate, sound in
// 10 ms blocks, and a look at tally and metadata every 10 ms.
#include "TestSource.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

namespace {

volatile std::sig_atomic_t g_stop = 0;

void onSignal(int)
{
    g_stop = 1;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription("Publishes synthetic network-video sources.");
    parser.addHelpOption();
    parser.addOptions({
        { { "n", "count" }, "Number of sources.", "N", "1" },
        { { "p", "prefix" }, "Name prefix; sources are \"<prefix> <i>\".", "text", "Panoptra Test" },
        { "width", "Picture width.", "pixels", "1280" },
        { "height", "Picture height.", "pixels", "720" },
        { "fps", "Frames per second.", "rate", "30" },
        { "tone", "Tone frequency of every source.", "Hz", "1000" },
        { "stamp", "Draw the send time into every picture as a block code (benchmarks read it back)." },
    });
    parser.process(app);
    const int count = parser.value("count").toInt();
    const int width = parser.value("width").toInt();
    const int height = parser.value("height").toInt();
    const int fps = parser.value("fps").toInt();
    const double toneHz = parser.value("tone").toDouble();
    if (count < 1 || width < 16 || height < 16 || fps < 1 || fps > 240 || toneHz <= 0.0
        || toneHz >= TestSource::kSampleRate / 2.0) {
        std::fprintf(stderr, "panoptra_testsource: invalid arguments\n");
        return 2;
    }

    struct sigaction action { };
    action.sa_handler = onSignal;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);

    std::vector<std::unique_ptr<TestSource>> sources;
    const QString prefix = parser.value("prefix");
    for (int i = 0; i < count; ++i) {
        const std::string name = QStringLiteral("%1 %2").arg(prefix).arg(i + 1).toStdString();
        sources.push_back(std::make_unique<TestSource>(name, i, count, width, height, fps, 1));
        sources.back()->setToneHz(toneHz);
        sources.back()->setStamped(parser.isSet("stamp"));
        if (!sources.back()->start()) {
            std::fprintf(stderr, "panoptra_testsource: cannot publish %s\n", name.c_str());
            return 1;
        }
    }

    using Clock = std::chrono::steady_clock;
    const auto framePeriod = std::chrono::nanoseconds(1000000000LL / fps);
    const auto audioPeriod = std::chrono::milliseconds(10);
    const int audioSamples = TestSource::kSampleRate / 100;
    auto nextFrame = Clock::now();
    auto nextAudio = nextFrame;
    while (!g_stop) {
        const auto now = Clock::now();
        if (now >= nextFrame) {
            for (auto& source : sources)
                source->sendVideo();
            nextFrame += framePeriod;
            // After a stall start afresh rather than sending a burst.
            if (Clock::now() - nextFrame > 10 * framePeriod)
                nextFrame = Clock::now() + framePeriod;
        }
        if (now >= nextAudio) {
            for (auto& source : sources) {
                source->sendAudio(audioSamples);
                source->poll();
            }
            nextAudio += audioPeriod;
            if (Clock::now() - nextAudio > 10 * audioPeriod)
                nextAudio = Clock::now() + audioPeriod;
        }
        std::this_thread::sleep_until(std::min(nextFrame, nextAudio));
    }
    sources.clear();
    std::printf("stopped\n");
    std::fflush(stdout);
    return 0;
}
