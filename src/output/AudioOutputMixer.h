#pragma once
// AudioOutputMixer: one of a program's two audio mixes ("pvw" or "pgm").
//
// Every 10 ms its mixing thread mixes one frame from the sources in the mix
// (each an AudioMixSink that the source's connection writes into), sends it
// to the network output of every window whose NDI flag it holds, plays it on
// the local output device while any of those windows has its screen flag,
// and meters it into 16 levels that getVolume reads. A round in which no
// source delivers sends nothing and reads -200 dB.
//
// Which sources are in the mix follows their mix type in the source-content
// registry: "always" in, "follow" in while it is the mix's video source,
// anything else out.
//
// Owner: the program (std::shared_ptr), which ends it with destroy() in the
// controller's ordered shutdown; every window of the program holds a copy.
// Threads: made on the GUI or HTTPS thread; called from the GUI and HTTPS
// threads and from the window scenes; the mixing thread runs between Open
// and Close; the local device lives on its own playback thread. The mixer
// lock guards the sources, the flags, the levels and every mixing round.
#include <QAudioDeviceInfo>
#include <QAudioFormat>
#include <QMap>
#include <QObject>
#include <QPair>
#include <QRecursiveMutex>
#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "audioMixer/audio/AudioFrame.h"
#include "audioMixer/audio_mixer/AudioMixerImpl.h"

class AudioMixSink;
class AudioPlayback;

class AudioOutputMixer : public QObject {
    Q_OBJECT
public:
    static constexpr int kLevels = 16;
    static constexpr double kSilenceDb = -200.0;
    static constexpr int kRoundUs = 10000;

    // Where a mixed frame for a window's network output goes; by default the
    // output manager's sendNDIAudio. Called on the mixing thread.
    using NdiAudioSender = std::function<void(
        const QString& pro_id, const QString& win_id, const short* data, int samples, int channels, int sampleRate)>;

    AudioOutputMixer(const QString& name, int sampleRate, int channels, int bitsPerSample, int frameMs);
    ~AudioOutputMixer() override;

    void setProId(const QString& pro_id);
    // Starts the mixing thread; a second call does nothing. Audio buffered
    // while the mixer was closed is dropped: the mix starts from fresh audio.
    void Open();
    // Stops and joins the mixing thread; Open may follow.
    void Close();
    // Close, then takes every source out of the mix and out of its
    // connection, and stops the local output. Also run by the destructor.
    void destroy();
    void changeAudioDevice(const QAudioDeviceInfo& device);
    void setVideoSource(const QString& source, const QString& fromWinId, int fromPos);
    // Takes the source into the mix or out of it by its mix type. -1 for an
    // empty name, a mixer without program, or a source without connection
    // (its input is made and registered all the same); else 0.
    int addInputSource(const QString& source);
    // -1 for an empty name; else 0.
    int removeInputSource(const QString& source);
    // The source's label in the program; a changed one is stored in the
    // registry and announced.
    void setPatternName(const QString& source, const QString& name);

    // Replaces where network audio goes (tests record it here); an empty
    // sender restores the windows' network outputs.
    void setNdiAudioSender(NdiAudioSender sender);

    // The mixing thread's clock: the steady clock unless one is set here
    // (while closed; an empty one restores it). With a clock set, the thread
    // reads it every millisecond instead of sleeping until a round is due.
    using ClockNow = std::function<std::chrono::steady_clock::time_point()>;
    void setClock(ClockNow now);
    // Rounds mixed so far, and how often the mixing thread has gone to wait
    // (for a due round or for a source): what a test watches the thread by.
    long roundCount() const { return round_count; }
    long waitCount() const { return wait_count; }

    QString name() const { return mixer_name; }
    int sampleRate() const { return sample_rate; }
    int channels() const { return channel_count; }
    int bitsPerSample() const { return bits_per_sample; }
    int frameMs() const { return frame_ms; }
    int frameBytes() const { return frame_bytes; }
    QString proId() const;
    bool isOpen() const;
    int openCount() const;
    QAudioDeviceInfo audioDevice() const;
    // A local output device is open and plays while a window has its screen flag.
    bool hasPlayback() const;
    // The device chosen last is still being opened.
    bool playbackChanging() const;
    QString videoSource() const;
    bool isMixed(const QString& source) const;
    // {screen flag, NDI flag} of a window; both false for a window never named.
    QPair<bool, bool> windowFlags(const QString& win_id) const;

    Q_INVOKABLE bool addAudioSource(const QString& src_id, const QString& source);
    Q_INVOKABLE bool removeAudioSource(const QString& src_id, const QString& source);
    // Level in dB of one channel (16 and above wrap; negative reads channel 0).
    Q_INVOKABLE double getVolume(int channel);

signals:
    void videoSourceChanged(QString source, QString from_id, int from_pos);
    void sourceNameChanged(QString source, QString name);

public slots:
    void setNDIState(const QString& win_id, const QString& select);
    void setScreenState(const QString& win_id, int select);

private:
    void mixing();
    void mixRound();
    void setLevelsSilent();
    // After sinks changed (mixer_mutex held): wakes a thread waiting for a source.
    void sourcesChanged();

    const QString mixer_name;
    const int sample_rate;
    const int channel_count;
    const int bits_per_sample;
    const int frame_ms;
    const int frame_bytes;
    QString pro_id;
    // Null when the format is one the engine cannot mix: then nothing is
    // ever sent and the levels stay at -200.
    rtc::scoped_refptr<webrtc::AudioMixerImpl> engine;
    webrtc::AudioFrame mixed_frame; // mixing thread, under the mixer lock
    QMap<QString, std::shared_ptr<AudioMixSink>> sinks; // source -> its input into this mix
    int sink_counter = 0;
    QAudioFormat format;
    QAudioDeviceInfo device;
    std::unique_ptr<AudioPlayback> playback;
    QString video_source;
    QMap<QString, QPair<bool, bool>> window_flags; // win_id -> {screen, NDI}
    double levels[kLevels];
    NdiAudioSender ndi_sender;
    int open_count = 0;
    mutable QRecursiveMutex mixer_mutex;

    std::thread mix_thread;
    std::atomic<bool> running { false };
    // How many sources feed the mix; with none, the thread sleeps.
    std::atomic<int> mixed_sources { 0 };
    std::mutex wake_mutex; // with wake_up: Close wakes the sleeping mixing thread
    std::condition_variable wake_up;
    ClockNow clock_now; // empty: the steady clock
    std::atomic<long> round_count { 0 };
    std::atomic<long> wait_count { 0 };
};
