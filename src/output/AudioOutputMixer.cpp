#include "AudioOutputMixer.h"

#include "AudioPlayback.h"
#include "MediaOutputManager.h"
#include "audioMixer/RRingBuffer.h"
#include "audioMixer/audio_mixer/AudioMixSource.h"
#include "audioMixer/audio_mixer/AudioOutput.h"
#include "audioMixer/audio_mixer/FrameCombiner.h"
#include "media/AudioMixSink.h"
#include "media/GlobalData.h"
#include "sources/MediaConnection.h"
#include "sources/ServedSources.h"

#include <QDebug>

#include <pthread.h>

#include <chrono>
#include <cmath>
#include <cstdlib>

namespace {

using Clock = std::chrono::steady_clock;

// The engine mixes 10 ms frames of 1 or 2 channels at up to 48 kHz.
bool engineTakes(int sampleRate, int channels)
{
    return sampleRate >= 100 && sampleRate / 100 <= int(webrtc::FrameCombiner::kMaxSamplesPerChannel)
        && (channels == 1 || channels == 2);
}

// The windows' network outputs.
AudioOutputMixer::NdiAudioSender windowOutputs()
{
    return [](const QString& pro, const QString& win, const short* data, int samples, int channels, int rate) {
        MediaOutputManager::instance().sendNDIAudio(pro, win, data, samples, channels, rate);
    };
}

} // namespace

AudioOutputMixer::AudioOutputMixer(const QString& name, int sampleRate, int channels, int bitsPerSample, int frameMs)
    : mixer_name(name)
    , sample_rate(sampleRate)
    , channel_count(channels)
    , bits_per_sample(bitsPerSample)
    , frame_ms(frameMs)
    , frame_bytes(channels * (frameMs * sampleRate / 1000) * 2)
    , ndi_sender(windowOutputs())
{
    setLevelsSilent();
    if (engineTakes(sample_rate, channel_count))
        engine = webrtc::AudioMixerImpl::Create(std::make_unique<webrtc::AudioOutput>(sample_rate));
    else
        qWarning() << "AudioOutputMixer" << name << "cannot mix" << sampleRate << "Hz," << channels << "channels";

    format.setSampleRate(sample_rate);
    format.setChannelCount(channel_count);
    format.setSampleSize(bits_per_sample);
    format.setCodec("audio/pcm");
    format.setByteOrder(QAudioFormat::LittleEndian);
    format.setSampleType(QAudioFormat::SignedInt);
    playback = std::make_unique<AudioPlayback>(format);

    const QList<QAudioDeviceInfo> devices = QAudioDeviceInfo::availableDevices(QAudio::AudioOutput);
    if (devices.isEmpty()) {
        qDebug() << "There is no available device!";
        return;
    }
    const QAudioDeviceInfo preferred = QAudioDeviceInfo::defaultOutputDevice();
    device = preferred.deviceName().isEmpty() ? devices.first() : preferred;
    playback->setDevice(device);
}

AudioOutputMixer::~AudioOutputMixer()
{
    destroy();
}

void AudioOutputMixer::setProId(const QString& id)
{
    QMutexLocker lock(&mixer_mutex);
    pro_id = id;
}

QString AudioOutputMixer::proId() const
{
    QMutexLocker lock(&mixer_mutex);
    return pro_id;
}

void AudioOutputMixer::setNdiAudioSender(NdiAudioSender sender)
{
    QMutexLocker lock(&mixer_mutex);
    ndi_sender = sender ? std::move(sender) : windowOutputs();
}

void AudioOutputMixer::setClock(ClockNow now)
{
    std::lock_guard<std::mutex> wake(wake_mutex); // not while the thread reads it
    clock_now = std::move(now);
}

// ---- Mixing thread ------------------------------------------------------------

void AudioOutputMixer::Open()
{
    QMutexLocker lock(&mixer_mutex);
    if (mix_thread.joinable())
        return;
    // Whatever the sources wrote while the mix was closed is old audio: kept,
    // it would stay in the rings as delay for good.
    for (const std::shared_ptr<AudioMixSink>& sink : qAsConst(sinks)) {
        if (const auto ring = sink->ring())
            ring->clear();
        if (const auto source = sink->mixSource())
            source->ResetBuffering();
    }
    running = true;
    ++open_count;
    mix_thread = std::thread(&AudioOutputMixer::mixing, this);
}

void AudioOutputMixer::Close()
{
    std::thread stopping;
    {
        QMutexLocker lock(&mixer_mutex);
        if (!mix_thread.joinable())
            return;
        stopping = std::move(mix_thread);
        std::lock_guard<std::mutex> wake(wake_mutex);
        running = false;
    }
    wake_up.notify_all();
    stopping.join();
}

bool AudioOutputMixer::isOpen() const
{
    QMutexLocker lock(&mixer_mutex);
    return mix_thread.joinable();
}

int AudioOutputMixer::openCount() const
{
    QMutexLocker lock(&mixer_mutex);
    return open_count;
}

void AudioOutputMixer::mixing()
{
    pthread_setname_np(pthread_self(), "audio mixer");
    // Rounds are due every 10 ms from the first reading on; the schedule
    // never drifts, and rounds missed during a stall run back to back. In
    // between the thread sleeps until the next round is due. Without any
    // source a round would give no frame and silent levels, so the thread
    // sleeps until a source comes and starts the schedule afresh.
    const auto now = [this] { return clock_now ? clock_now() : Clock::now(); };
    Clock::time_point due = now() + std::chrono::microseconds(kRoundUs);
    std::unique_lock<std::mutex> wake(wake_mutex);
    while (running) {
        if (mixed_sources == 0) {
            wake.unlock();
            {
                QMutexLocker lock(&mixer_mutex);
                setLevelsSilent();
            }
            wake.lock();
            ++wait_count;
            wake_up.wait(wake, [this] { return !running || mixed_sources > 0; });
            due = now() + std::chrono::microseconds(kRoundUs);
            continue;
        }
        if (now() >= due) {
            due += std::chrono::microseconds(kRoundUs);
            wake.unlock();
            mixRound();
            ++round_count;
            wake.lock();
            continue;
        }
        ++wait_count;
        if (clock_now)
            wake_up.wait_for(wake, std::chrono::milliseconds(1), [this] { return !running; });
        else
            wake_up.wait_until(wake, due, [this] { return !running; });
    }
}

void AudioOutputMixer::sourcesChanged()
{
    {
        // Changed under the thread's lock, so it cannot miss the notice.
        std::lock_guard<std::mutex> wake(wake_mutex);
        mixed_sources = int(sinks.size());
    }
    wake_up.notify_all();
}

void AudioOutputMixer::setLevelsSilent()
{
    for (double& level : levels)
        level = kSilenceDb;
}

void AudioOutputMixer::mixRound()
{
    QMutexLocker lock(&mixer_mutex);
    mixed_frame.Reset();
    if (!engine || !engine->Mix(size_t(channel_count), &mixed_frame)) {
        // No source delivered: the outputs get no frame rather than silence.
        setLevelsSilent();
        return;
    }
    const short* samples = mixed_frame.data();
    const int perChannel = int(mixed_frame.samples_per_channel_);
    bool toScreen = false;
    for (auto it = window_flags.cbegin(); it != window_flags.cend(); ++it) {
        toScreen = toScreen || it.value().first;
        if (it.value().second && ndi_sender)
            ndi_sender(pro_id, it.key(), samples, perChannel, channel_count, sample_rate);
    }
    if (toScreen && playback)
        playback->write(reinterpret_cast<const char*>(samples), channel_count * (sample_rate / 100) * 2);

    // Mean magnitude per channel, in dB relative to a mean of 2^11 (66 dB):
    // a -20 dBFS sine reads about +0.4.
    const int perRound = sample_rate / 100;
    for (int c = 0; c < kLevels; ++c) {
        if (c >= channel_count || perRound <= 0 || perRound > perChannel) {
            levels[c] = kSilenceDb;
            continue;
        }
        long long sum = 0;
        for (int i = 0; i < perRound; ++i)
            sum += std::abs(int(samples[i * channel_count + c]));
        const double mean = double(sum) / perRound;
        levels[c] = mean > 0.0 ? 20.0 * std::log10(mean) - 66.0 : kSilenceDb;
    }
    mixed_frame.Reset();
}

double AudioOutputMixer::getVolume(int channel)
{
    QMutexLocker lock(&mixer_mutex);
    return levels[channel < 0 ? 0 : channel & (kLevels - 1)];
}

// ---- Sources -------------------------------------------------------------------

int AudioOutputMixer::addInputSource(const QString& source)
{
    if (source.isEmpty())
        return -1;
    QMutexLocker lock(&mixer_mutex);
    if (pro_id.isEmpty())
        return -1;
    GlobalData* registry = GlobalData::instance();
    const QString type = registry->getAudioMixType(pro_id, source);
    const bool mixed = type == QLatin1String("always") || (type == QLatin1String("follow") && source == video_source);
    if (!mixed) {
        removeInputSource(source);
        return 0;
    }
    std::shared_ptr<AudioMixSink> sink = sinks.value(source);
    if (!sink) {
        sink = std::make_shared<AudioMixSink>(++sink_counter);
        sink->SetMixSource(sample_rate, channel_count, bits_per_sample, frame_ms);
        sink->Open();
        if (engine) {
            const std::shared_ptr<webrtc::AudioMixSource> input = sink->mixSource();
            input->SetMixSourceName(std::to_string(sink_counter));
            engine->AddSource(input.get());
            sink->setDetached(false);
        }
        sinks.insert(source, sink);
        sourcesChanged();
    }
    // Registered again also when the registry let go of it meanwhile.
    if (registry->getAudioSink(pro_id, source, mixer_name) != sink)
        registry->setAudioSink(pro_id, source, mixer_name, sink);

    const std::shared_ptr<MediaConnection> connection = ServedSources::connectionOf(source);
    if (!connection)
        return -1;
    connection->setSink(pro_id, mixer_name);
    return 0;
}

int AudioOutputMixer::removeInputSource(const QString& source)
{
    if (source.isEmpty())
        return -1;
    QMutexLocker lock(&mixer_mutex);
    const std::shared_ptr<AudioMixSink> sink = sinks.take(source);
    if (!sink)
        return 0;
    sourcesChanged();
    if (const std::shared_ptr<MediaConnection> connection = ServedSources::connectionOf(source))
        connection->removeSink(pro_id, mixer_name);
    if (engine && !sink->isDetached())
        engine->RemoveSource(sink->mixSource().get());
    // A writer that still holds the sink writes into nothing from now on.
    sink->setDetached(true);
    GlobalData* registry = GlobalData::instance();
    if (registry->getAudioSink(pro_id, source, mixer_name) == sink)
        registry->removeAudioSink(pro_id, source, mixer_name);
    return 0;
}

bool AudioOutputMixer::isMixed(const QString& source) const
{
    QMutexLocker lock(&mixer_mutex);
    return sinks.contains(source);
}

bool AudioOutputMixer::addAudioSource(const QString& src_id, const QString& source)
{
    if (src_id.isEmpty() || source.isEmpty())
        return false;
    GlobalData::instance()->setSrcId(proId(), source, src_id);
    addInputSource(source);
    return true;
}

bool AudioOutputMixer::removeAudioSource(const QString& src_id, const QString& source)
{
    if (src_id.isEmpty() || source.isEmpty())
        return false;
    GlobalData* registry = GlobalData::instance();
    const QString program = proId();
    registry->removeSrcId(program, source, src_id);
    if (registry->getSrcCount(program, source) > 0)
        return true;
    removeInputSource(source);
    return true;
}

void AudioOutputMixer::setVideoSource(const QString& source, const QString& fromWinId, int fromPos)
{
    QString previous;
    bool changed;
    {
        QMutexLocker lock(&mixer_mutex);
        previous = video_source;
        changed = source != video_source;
        video_source = source;
    }
    if (changed || source.isEmpty())
        emit videoSourceChanged(source, fromWinId, fromPos);
    if (!changed)
        return;
    // "follow" sources enter and leave the mix with the picture; a source no
    // window of the program shows stays as it is.
    GlobalData* registry = GlobalData::instance();
    const QString program = proId();
    if (registry->getSrcCount(program, previous) >= 1)
        addInputSource(previous);
    if (registry->getSrcCount(program, source) >= 1)
        addInputSource(source);
}

QString AudioOutputMixer::videoSource() const
{
    QMutexLocker lock(&mixer_mutex);
    return video_source;
}

void AudioOutputMixer::setPatternName(const QString& source, const QString& name)
{
    const QString program = proId();
    GlobalData* registry = GlobalData::instance();
    if (registry->getPatternName(program, source) == name)
        return;
    registry->setPatternName(program, source, name);
    emit sourceNameChanged(source, name);
}

// ---- Windows and the local device ---------------------------------------------

void AudioOutputMixer::setNDIState(const QString& win_id, const QString& select)
{
    QMutexLocker lock(&mixer_mutex);
    window_flags[win_id].second = select == QLatin1String("ndi") || select == QLatin1String("NDI");
}

void AudioOutputMixer::setScreenState(const QString& win_id, int select)
{
    QMutexLocker lock(&mixer_mutex);
    window_flags[win_id].first = select >= 1;
}

QPair<bool, bool> AudioOutputMixer::windowFlags(const QString& win_id) const
{
    QMutexLocker lock(&mixer_mutex);
    return window_flags.value(win_id, { false, false });
}

void AudioOutputMixer::changeAudioDevice(const QAudioDeviceInfo& newDevice)
{
    QMutexLocker lock(&mixer_mutex);
    device = newDevice;
    if (playback)
        playback->setDevice(device);
}

QAudioDeviceInfo AudioOutputMixer::audioDevice() const
{
    QMutexLocker lock(&mixer_mutex);
    return device;
}

bool AudioOutputMixer::hasPlayback() const
{
    QMutexLocker lock(&mixer_mutex);
    return playback && playback->isOpen();
}

bool AudioOutputMixer::playbackChanging() const
{
    QMutexLocker lock(&mixer_mutex);
    return playback && playback->isChanging();
}

void AudioOutputMixer::destroy()
{
    Close();
    std::unique_ptr<AudioPlayback> stopping;
    {
        QMutexLocker lock(&mixer_mutex);
        const QStringList sources = sinks.keys();
        for (const QString& source : sources)
            removeInputSource(source);
        stopping = std::move(playback);
    }
    // Outside the lock: the playback thread's last jobs do not need it, but
    // waiting for them while holding it would stall every caller.
    stopping.reset();
}
