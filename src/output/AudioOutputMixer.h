#pragma once
// AudioOutputMixer: one of a program's two audio mixes ("pvw" or "pgm").
// It will mix its sources' audio every 10 ms for the NDI outputs of the
// windows that use it and for the local output device.
//
// For now it keeps what the program model tells it: its format and program,
// whether it is open, the output device, the current video source (which
// "follow" mixing follows) and each window's screen and NDI flags. It mixes
// and plays nothing yet.
//
// Owner: the program (std::shared_ptr); every window of the program holds a
// copy. Thread: made on the GUI thread; its slots are called from the GUI
// and HTTPS threads and from the window scenes, so its state is guarded.
#include <QAudioDeviceInfo>
#include <QMap>
#include <QObject>
#include <QPair>
#include <QRecursiveMutex>
#include <QString>

class AudioOutputMixer : public QObject {
    Q_OBJECT
public:
    AudioOutputMixer(const QString& name, int sampleRate, int channels, int bitsPerSample, int frameMs);
    ~AudioOutputMixer() override;

    void setProId(const QString& pro_id);
    // Opens the mix; a second call does nothing. Close ends it; Open may follow.
    void Open();
    void Close();
    void destroy();
    void changeAudioDevice(const QAudioDeviceInfo& device);
    void setVideoSource(const QString& source, const QString& fromWinId, int fromPos);

    QString name() const { return mixer_name; }
    int sampleRate() const { return sample_rate; }
    int channels() const { return channel_count; }
    int bitsPerSample() const { return bits_per_sample; }
    int frameMs() const { return frame_ms; }
    QString proId() const;
    bool isOpen() const;
    int openCount() const;
    QAudioDeviceInfo audioDevice() const;
    QString videoSource() const;
    // {screen flag, NDI flag} of a window; both false for a window never named.
    QPair<bool, bool> windowFlags(const QString& win_id) const;

signals:
    void videoSourceChanged(QString source, QString from_id, int from_pos);

public slots:
    void setNDIState(QString win_id, QString select);
    void setScreenState(QString win_id, int select);

private:
    const QString mixer_name;
    const int sample_rate;
    const int channel_count;
    const int bits_per_sample;
    const int frame_ms;
    QString pro_id;
    bool running = false;
    int open_count = 0;
    QAudioDeviceInfo device;
    QString video_source;
    QMap<QString, QPair<bool, bool>> window_flags;
    mutable QRecursiveMutex mixer_mutex;
};
