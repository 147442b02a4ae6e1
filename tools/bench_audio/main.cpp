// panoptra_bench_audio: figures of the program audio mixers, each beside a
// reference measured in the same run.
//   1. A mixing round (median and p99) for 1, 3, 8 and 16 sources fed from
//      their byte rings, beside a plain summing loop over the same samples.
//   2. The CPU a mixer with no sources takes while open, beside a loop that
//      polls its schedule every 100 us.
//   3. Local playback latency with the 122880-byte device buffer: from the
//      round that first sends a tone to the moment it is heard on the sound
//      server's monitor, beside the latency the server itself reports.
//      Needs a sound server with a null sink named by --sink (the bench
//      script starts one); skipped without it.
#include "BenchFigures.h"
#include "audioMixer/RRingBuffer.h"
#include "audioMixer/audio/AudioFrame.h"
#include "audioMixer/audio_mixer/AudioMixSource.h"
#include "audioMixer/audio_mixer/AudioMixerImpl.h"
#include "audioMixer/audio_mixer/AudioOutput.h"
#include "media/AudioMixSink.h"
#include "media/GlobalData.h"
#include "output/AudioOutputMixer.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <memory>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Stats {
    double median, p99;
};

Stats stats(const std::vector<double>& us)
{
    return { percentile(us, 0.5), percentile(us, 0.99) };
}

std::vector<int16_t> toneBlock(double hz, long& phase)
{
    std::vector<int16_t> block(960);
    for (int i = 0; i < 480; ++i, ++phase)
        block[size_t(2 * i)] = block[size_t(2 * i + 1)]
            = int16_t(std::lround(3276.8 * std::sin(2.0 * M_PI * hz * double(phase) / 48000.0)));
    return block;
}

// ---- 1. Mixing rounds -----------------------------------------------------------

void mixingRounds(int rounds)
{
    std::printf("\n1. Mixing round, 48 kHz stereo, %d rounds each (goal: <= 100 us for 16 sources)\n", rounds);
    std::printf("   %-8s %12s %12s %16s %12s\n", "sources", "median us", "p99 us", "plain loop us", "ratio");
    for (int count : { 1, 3, 8, 16 }) {
        std::vector<std::unique_ptr<webrtc::RRingBuffer>> rings;
        std::vector<std::unique_ptr<webrtc::AudioMixSource>> sources;
        auto mixer = webrtc::AudioMixerImpl::Create(std::make_unique<webrtc::AudioOutput>(48000));
        std::vector<std::vector<int16_t>> blocks;
        for (int s = 0; s < count; ++s) {
            rings.push_back(std::make_unique<webrtc::RRingBuffer>(307200));
            sources.push_back(std::make_unique<webrtc::AudioMixSource>(rings.back().get(), s + 1, 48000, 2, 1, 10));
            mixer->AddSource(sources.back().get());
            long phase = 0;
            blocks.push_back(toneBlock(300.0 + 100.0 * s, phase));
            for (int k = 0; k < 8; ++k)
                rings.back()->pushData(blocks.back().data(), 1920);
        }
        webrtc::AudioFrame out;
        std::vector<double> ours, plain;
        std::vector<int16_t> sum(960);
        for (int r = 0; r < rounds; ++r) {
            for (int s = 0; s < count; ++s)
                rings[size_t(s)]->pushData(blocks[size_t(s)].data(), 1920);
            auto t0 = Clock::now();
            out.Reset();
            mixer->Mix(2, &out);
            auto t1 = Clock::now();
            ours.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());

            // The reference: pop each source's block and add all of them up
            // with saturation, nothing else.
            t0 = Clock::now();
            std::vector<int32_t> acc(960, 0);
            std::vector<int16_t> block(960);
            for (int s = 0; s < count; ++s) {
                rings[size_t(s)]->pushData(blocks[size_t(s)].data(), 1920);
                rings[size_t(s)]->popData(block.data(), 1920, 1920);
                for (size_t i = 0; i < 960; ++i)
                    acc[i] += block[i];
            }
            for (size_t i = 0; i < 960; ++i)
                sum[i] = int16_t(std::clamp(acc[i], -32768, 32767));
            t1 = Clock::now();
            plain.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
        }
        for (auto& source : sources)
            mixer->RemoveSource(source.get());
        const Stats a = stats(ours), b = stats(plain);
        std::printf("   %-8d %12.2f %12.2f %16.2f %11.2fx\n", count, a.median, a.p99, b.median, a.median / b.median);
        (void)sum;
    }
}

// ---- 2. Idle CPU ---------------------------------------------------------------------

void idleCpu(double seconds)
{
    std::printf("\n2. Idle CPU of an open mixer with no sources, %.0f s each (goal: < 1 %% of a core)\n", seconds);
    // The main thread sleeps meanwhile, so the process's CPU time is the
    // mixer's (or the reference loop's) alone.
    const auto waitMs = [](int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); };
    for (int run = 0; run < 3; ++run) {
        double ours;
        {
            AudioOutputMixer mixer("pgm", 48000, 2, 16, 10);
            mixer.setProId("bench");
            mixer.Open();
            waitMs(200);
            const double c0 = cpuSeconds();
            waitMs(int(seconds * 1000));
            ours = (cpuSeconds() - c0) / seconds * 100.0;
            mixer.destroy();
        }
        // The reference: the schedule polled every 100 us, a round every 10 ms.
        std::atomic<bool> run100 { true };
        std::thread poller([&] {
            auto due = Clock::now();
            while (run100) {
                if (Clock::now() >= due + std::chrono::milliseconds(10))
                    due += std::chrono::milliseconds(10);
                std::this_thread::sleep_for(std::chrono::microseconds(100));
            }
        });
        waitMs(200);
        const double c0 = cpuSeconds();
        waitMs(int(seconds * 1000));
        const double reference = (cpuSeconds() - c0) / seconds * 100.0;
        run100 = false;
        poller.join();
        std::printf("   run %d: mixer %.2f %% of a core, 100 us polling %.2f %%, ratio %.3f\n", run + 1, ours,
            reference, reference > 0 ? ours / reference : 0.0);
    }
}

// ---- 3. Playback latency ----------------------------------------------------------------

// The server's own figure for our stream, in ms: buffer plus sink latency.
double reportedLatencyMs()
{
    QProcess pactl;
    pactl.start("pactl", { "list", "sink-inputs" });
    if (!pactl.waitForFinished(5000))
        return -1.0;
    const QString text = QString::fromUtf8(pactl.readAllStandardOutput());
    double total = 0.0;
    bool found = false;
    for (const char* key : { "Buffer Latency", "Sink Latency" }) {
        const QRegularExpressionMatch m = QRegularExpression(QString(key) + ": (\\d+) usec").match(text);
        if (m.hasMatch()) {
            total += m.captured(1).toDouble() / 1000.0;
            found = true;
        }
    }
    return found ? total : -1.0;
}

void playbackLatency(const QString& sink, int repeats)
{
    std::printf("\n3. Local playback latency, device buffer %d bytes, sink %s\n", 122880, qPrintable(sink));
    QTemporaryDir home;
    qputenv("HOME", home.path().toLocal8Bit());
    AudioOutputMixer mixer("pgm", 48000, 2, 16, 10);
    mixer.setProId("bench");
    GlobalData::instance()->setAudioMixType("bench", "Tone", "always");
    mixer.addInputSource("Tone");
    const std::shared_ptr<AudioMixSink> input = GlobalData::instance()->getAudioSink("bench", "Tone", "pgm");
    QElapsedTimer wait;
    wait.start();
    while (mixer.playbackChanging() && wait.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    if (!mixer.hasPlayback() || !input) {
        std::printf("   skipped: no output device\n");
        return;
    }
    std::atomic<bool> loud { false };
    std::atomic<long long> firstLoudSentNs { 0 };
    mixer.setNdiAudioSender([&](const QString&, const QString&, const short* data, int, int, int) {
        if (data[0] != 0 && firstLoudSentNs == 0)
            firstLoudSentNs
                = std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
    });
    mixer.setNDIState("1", "ndi");
    mixer.setScreenState("1", 1);
    std::atomic<bool> feeding { true };
    std::thread feeder([&] {
        long phase = 0;
        auto next = Clock::now();
        while (feeding) {
            std::vector<int16_t> block = loud ? toneBlock(1000.0, phase) : std::vector<int16_t>(960, 0);
            if (loud && block[0] == 0)
                block[0] = block[1] = 1; // the first sample marks the onset
            input->Write(nullptr, reinterpret_cast<char*>(block.data()), 1920);
            next += std::chrono::milliseconds(10);
            std::this_thread::sleep_until(next);
        }
    });
    mixer.Open();

    QProcess parec;
    parec.start("parec",
        { "-d", sink + ".monitor", "--raw", "--format=s16le", "--rate=48000", "--channels=2", "--latency-msec=5" });
    std::vector<double> measured, reported;
    for (int r = 0; r < repeats; ++r) {
        loud = false;
        // Silence long enough to drain the device buffer.
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 1500) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            parec.readAllStandardOutput();
        }
        firstLoudSentNs = 0;
        loud = true;
        long long heardNs = 0;
        t.restart();
        while (!heardNs && t.elapsed() < 5000) {
            parec.waitForReadyRead(20);
            const QByteArray bytes = parec.readAllStandardOutput();
            const auto* s = reinterpret_cast<const int16_t*>(bytes.constData());
            for (int i = 0; i < bytes.size() / 2; ++i) {
                if (std::abs(int(s[i])) > 0) {
                    heardNs
                        = std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
                    break;
                }
            }
        }
        const double pulse = reportedLatencyMs();
        if (heardNs && firstLoudSentNs) {
            measured.push_back(double(heardNs - firstLoudSentNs) / 1e6);
            reported.push_back(pulse);
            std::printf("   run %d: heard %.0f ms after the round sent it; server reports %.0f ms; ratio %.2f\n", r + 1,
                measured.back(), pulse, pulse > 0 ? measured.back() / pulse : 0.0);
        } else {
            std::printf("   run %d: tone not heard within 5 s\n", r + 1);
        }
    }
    feeding = false;
    feeder.join();
    parec.kill();
    parec.waitForFinished(3000);
    mixer.destroy();
    if (!measured.empty())
        std::printf(
            "   median: heard after %.0f ms, server reports %.0f ms\n", stats(measured).median, stats(reported).median);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addOptions({
        { "rounds", "Mixing rounds per source count.", "n", "20000" },
        { "idle-seconds", "Seconds per idle CPU measurement.", "s", "5" },
        { "sink", "Null sink to measure playback on; empty skips it.", "name", "" },
        { "repeats", "Playback latency measurements.", "n", "5" },
    });
    parser.process(app);
    double load[3] = {};
    if (getloadavg(load, 3) == 3)
        std::printf("load average before: %.2f %.2f %.2f (%u cores)\n", load[0], load[1], load[2],
            std::thread::hardware_concurrency());
    mixingRounds(parser.value("rounds").toInt());
    idleCpu(parser.value("idle-seconds").toDouble());
    if (!parser.value("sink").isEmpty())
        playbackLatency(parser.value("sink"), parser.value("repeats").toInt());
    if (getloadavg(load, 3) == 3)
        std::printf("\nload average after: %.2f %.2f %.2f\n", load[0], load[1], load[2]);
    return 0;
}
