#pragma once
// Helpers for the audio mixer tests: a recorder that stands in for the
// windows' network audio, a writer that feeds a sink in real time as a source
// connection would, and level arithmetic.
#include "TestSupport.h"
#include "media/AudioMixSink.h"
#include "media/GlobalData.h"
#include "output/AudioOutputMixer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace mixerkit {

using Clock = std::chrono::steady_clock;

// Keeps every block a mixer sends to its windows' network outputs.
class Recorder {
public:
    struct Block {
        QString pro_id, win_id;
        std::vector<int16_t> samples;
        int perChannel, channels, rate;
        Clock::time_point at;
    };

    AudioOutputMixer::NdiAudioSender sender()
    {
        return
            [this](const QString& pro, const QString& win, const short* data, int perChannel, int channels, int rate) {
                Block block { pro, win, std::vector<int16_t>(data, data + perChannel * channels), perChannel, channels,
                    rate, Clock::now() };
                if (onBlock)
                    onBlock(block);
                std::lock_guard<std::mutex> lock(m_mutex);
                m_blocks.push_back(std::move(block));
            };
    }
    size_t count() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_blocks.size();
    }
    std::vector<Block> blocks() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_blocks;
    }
    // The samples of the blocks from index `from` on, for one window.
    std::vector<int16_t> samplesFrom(size_t from, const QString& win_id = QString()) const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::vector<int16_t> out;
        for (size_t i = from; i < m_blocks.size(); ++i) {
            if (win_id.isEmpty() || m_blocks[i].win_id == win_id)
                out.insert(out.end(), m_blocks[i].samples.begin(), m_blocks[i].samples.end());
        }
        return out;
    }

    // Runs on the mixing thread inside each send (for stalls).
    std::function<void(const Block&)> onBlock;

private:
    mutable std::mutex m_mutex;
    std::vector<Block> m_blocks;
};

// Writes one 10 ms stereo block every 10 ms into a sink, as a source
// connection would; both channels of sample frame i (counted from the first
// block, 480 a block) are value(i).
// Waits until the mixer's thread has mixed n more rounds.
inline bool roundsPass(const AudioOutputMixer& mixer, long n = 3)
{
    const long from = mixer.roundCount();
    return testsupport::waitFor([&] { return mixer.roundCount() >= from + n; });
}

class Feeder {
public:
    Feeder(std::shared_ptr<AudioMixSink> sink, std::function<int16_t(long)> value)
        : m_sink(std::move(sink))
        , m_value(std::move(value))
        , m_thread([this] { run(); })
    {
    }
    ~Feeder() { stop(); }
    void stop()
    {
        m_run = false;
        if (m_thread.joinable())
            m_thread.join();
    }
    long blocks() const { return m_blocks.load(); }

private:
    void run()
    {
        auto next = Clock::now();
        std::vector<int16_t> block(960);
        while (m_run) {
            for (long i = 0; i < 480; ++i)
                block[size_t(2 * i)] = block[size_t(2 * i + 1)] = m_value(m_blocks * 480 + i);
            m_sink->Write(nullptr, reinterpret_cast<char*>(block.data()), int(block.size() * 2));
            ++m_blocks;
            next += std::chrono::milliseconds(10);
            std::this_thread::sleep_until(next);
        }
    }

    std::shared_ptr<AudioMixSink> m_sink;
    std::function<int16_t(long)> m_value;
    std::atomic<bool> m_run { true };
    std::atomic<long> m_blocks { 0 };
    std::thread m_thread;
};

// A 1 kHz sine peaking at -20 dBFS, as the test sources send.
inline int16_t tone(long frame)
{
    return int16_t(std::lround(3276.8 * std::sin(2.0 * M_PI * 1000.0 * double(frame) / 48000.0)));
}

// A "pgm" mix of program 51 with one "always" source, "Mic", that has no
// connection: the test writes into its input itself. Window "1" takes the
// mix over the network; the recorder stands in for that output.
struct MixerWithSource {
    MixerWithSource(int sampleRate = 48000)
        : mixer("pgm", sampleRate, 2, 16, 10)
    {
        mixer.setProId("51");
        mixer.setNdiAudioSender(recorder.sender());
        GlobalData::instance()->setAudioMixType("51", "Mic", "always");
        EXPECT_EQ(mixer.addInputSource("Mic"), -1); // made and registered, but nobody writes
        sink = GlobalData::instance()->getAudioSink("51", "Mic", "pgm");
        mixer.setNDIState("1", "ndi");
    }
    // Waits until the mixer sent n more blocks.
    bool sendsMore(size_t n = 3)
    {
        const size_t from = recorder.count();
        return testsupport::waitFor([&] { return recorder.count() >= from + n; });
    }
    // Waits until the mixing thread has mixed n more rounds: what a check
    // that nothing (more) was sent waits for.
    bool roundsPass(long n = 3) { return mixerkit::roundsPass(mixer, n); }

    testsupport::TempHome home;
    Recorder recorder;
    AudioOutputMixer mixer;
    std::shared_ptr<AudioMixSink> sink;
};

// RMS level relative to 16-bit full scale; -200 for silence.
inline double rmsDbfs(const std::vector<int16_t>& samples)
{
    double sum = 0.0;
    for (int16_t s : samples)
        sum += double(s) * double(s);
    if (samples.empty() || sum <= 0.0)
        return -200.0;
    return 20.0 * std::log10(std::sqrt(sum / double(samples.size())) / 32768.0);
}

} // namespace mixerkit
