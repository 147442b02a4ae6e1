#include "AudioOutputMixer.h"

#include "GlobalData.h"

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

void AudioOutputMixer::addInputSource(const QString& source)
{
    QMutexLocker lock(&mixer_mutex);
    const QString type = GlobalData::instance()->getAudioMixType(pro_id, source);
    const bool mixed = type == QLatin1String("always") || (type == QLatin1String("follow") && source == video_source);
    if (mixed)
        mixed_sources.insert(source);
    else
        mixed_sources.remove(source);
}

bool AudioOutputMixer::isMixed(const QString& source) const
{
    QMutexLocker lock(&mixer_mutex);
    return mixed_sources.contains(source);
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
