#include "AudioOutputMixer.h"

AudioOutputMixer::AudioOutputMixer(const QString& name, int sampleRate, int channels, int bitsPerSample, int frameMs)
    : mixer_name(name)
    , sample_rate(sampleRate)
    , channel_count(channels)
    , bits_per_sample(bitsPerSample)
    , frame_ms(frameMs)
{
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

void AudioOutputMixer::Open()
{
    QMutexLocker lock(&mixer_mutex);
    if (running)
        return;
    running = true;
    ++open_count;
}

void AudioOutputMixer::Close()
{
    QMutexLocker lock(&mixer_mutex);
    running = false;
}

bool AudioOutputMixer::isOpen() const
{
    QMutexLocker lock(&mixer_mutex);
    return running;
}

int AudioOutputMixer::openCount() const
{
    QMutexLocker lock(&mixer_mutex);
    return open_count;
}

void AudioOutputMixer::destroy()
{
    Close();
}

void AudioOutputMixer::changeAudioDevice(const QAudioDeviceInfo& newDevice)
{
    QMutexLocker lock(&mixer_mutex);
    device = newDevice;
}

QAudioDeviceInfo AudioOutputMixer::audioDevice() const
{
    QMutexLocker lock(&mixer_mutex);
    return device;
}

void AudioOutputMixer::setVideoSource(const QString& source, const QString& fromWinId, int fromPos)
{
    bool changed;
    {
        QMutexLocker lock(&mixer_mutex);
        changed = source != video_source;
        video_source = source;
    }
    if (changed || source.isEmpty())
        emit videoSourceChanged(source, fromWinId, fromPos);
}

QString AudioOutputMixer::videoSource() const
{
    QMutexLocker lock(&mixer_mutex);
    return video_source;
}

void AudioOutputMixer::setNDIState(QString win_id, QString select)
{
    QMutexLocker lock(&mixer_mutex);
    window_flags[win_id].second = select == QLatin1String("ndi") || select == QLatin1String("NDI");
}

void AudioOutputMixer::setScreenState(QString win_id, int select)
{
    QMutexLocker lock(&mixer_mutex);
    window_flags[win_id].first = select >= 1;
}

QPair<bool, bool> AudioOutputMixer::windowFlags(const QString& win_id) const
{
    QMutexLocker lock(&mixer_mutex);
    return window_flags.value(win_id, { false, false });
}
