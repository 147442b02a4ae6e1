#pragma once
// MediaConnection: the live connection to one source, shared (std::shared_ptr)
// by everybody who uses that source: the video items of the windows, the
// program audio mixers and the PTZ requests of the program model.
//
// A connection has two streams of the same source, high and low bandwidth,
// each in a MediaContext that opens its receiver only while somebody uses it
// and closes it about a second after the last consumer has gone. Everything
// that touches the network is a pure operation of the concrete kind
// (NDIConnection); this class decides when to open, pull and close.
//
// Owner: the source table holds one share, consumers hold others; the last
// share destroys it. Threads: made on the discovery thread. startPlay starts
// three QThreads, each driving one QTimer (high video, low video, the 15 s
// capability announcement), and one std::thread that pulls audio every 20 ms
// and writes it into the program mixers' sinks. Consumer operations are
// called from the GUI, render, mixer and HTTPS threads. stopPlay joins them all.
//
// Locks: each context's recursive lock guards that context and is held while
// the network operations run; the video, audio and tally locks guard the
// consumer lists. Only the video lock is ever held while a context lock is
// taken (the timer closes a stream under it), never the other way round. The
// sink map has one mutex for all connections of the process.
#include "MediaCapabilities.h"
#include "MediaFrameWrapper.h"

#include <QList>
#include <QMap>
#include <QObject>
#include <QReadWriteLock>
#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class QThread;
class QTimer;

class MediaConnection : public QObject {
    Q_OBJECT
public:
    // Which stream: 0 names both in setSource, acquireVideoGetting and
    // releaseVideoGetting; 3 and 4 only reach the receiver settings.
    enum BandWidth_t {
        BandWidthBoth = 0,
        BandWidthHigh = 1,
        BandWidthLow = 2,
        BandWidthAudioOnly = 3,
        BandWidthMetadataOnly = 4,
    };
    class MediaContext;

    static constexpr int kVuChannels = 16;
    static constexpr int kAudioSampleRate = 48000;
    static constexpr int kAudioChannels = 2;
    static constexpr int kAudioSamples = 960; // 20 ms at 48 kHz
    static constexpr int kDefaultVideoIntervalMs = 33;
    static constexpr int kPeriodCheckMs = 15000;
    // A stream without consumers closes this long after the last release.
    static constexpr int64_t kReleaseDelayMs = 1000;
    // A stream that delivered nothing this long gets its partner started.
    static constexpr int64_t kFallbackAfterMs = 1000;
    // A stream nobody asked a picture of for this long is not pulled.
    static constexpr int64_t kIdleRequestMs = 10000;

    explicit MediaConnection(QObject* parent = nullptr);
    ~MediaConnection() override;
    MediaConnection(const MediaConnection&) = delete;
    MediaConnection& operator=(const MediaConnection&) = delete;

    // Stops every thread and closes both streams; safe to call twice. The
    // concrete kind calls it first thing in its destructor, because the
    // threads call its operations.
    virtual void destroy();
    // bw 0 changes both streams, 1 the high, 2 the low; others give false.
    virtual bool setSource(BandWidth_t bw, const QString& name, const QString& url);
    virtual bool startPlay();
    virtual bool stopPlay();
    virtual bool acquireVideoGetting(BandWidth_t bw, void* consumer);
    virtual bool releaseVideoGetting(BandWidth_t bw, void* consumer);
    // The newest picture for a consumer of stream bw (1 high, else low);
    // falls back to the other stream while the asked one delivers nothing.
    virtual VideoFramePtr getVideoFrame(BandWidth_t bw);
    virtual bool getVideoFrameInfo(BandWidth_t bw, int& width, int& height, float& fps);
    virtual AudioFramePtr getAudioFrame();
    virtual void enableAudio(bool on, void* consumer);
    virtual void setAudioLevel(const QString& type, int level);
    // type "pvw" or "pgm": the tally lights while any consumer holds it.
    virtual void enableTally(const QString& type, bool on, void* consumer);
    virtual int getVideoInterval(BandWidth_t bw);
    // Copies the peak levels (dB, -200 for silence) of 16 channels; returns
    // the channel count of the audio format.
    virtual int getVUMeterValues(double values[kVuChannels]);
    // Bit 0 preview, bit 1 program, over both streams.
    virtual int getVideoTallyValue();
    virtual std::shared_ptr<Media_capabilities_t> getCapabilities(BandWidth_t bw);
    virtual bool isValid();
    // Keeps both streams open without consumers (the null consumer marks it).
    virtual bool stickConnection(bool stick);
    virtual bool isSticked();

    // Replaces the steady clock of every connection in the process (null
    // restores it): tests that reach connections only through the source
    // table drive the release delay and the fallback by hand with it.
    static void setSteadyClock(int64_t (*now)());

    // The network side, filled by the concrete kind. Every operation but
    // createConnection takes the stream's open receiver; a null or foreign
    // one gives the failure value.
    virtual MediaInstancePtr createConnection(BandWidth_t bw, const QString& name, const QString& url) = 0;
    // 0 no receiver, 2 connected, 3 not connected, 4 receiver error.
    virtual int getConnectionState(const MediaInstancePtr& instance) = 0;
    virtual VideoFramePtr retrivalVideoFrame(const MediaInstancePtr& instance, bool stickOnly) = 0;
    virtual AudioFramePtr retrivalAudioFrame(const MediaInstancePtr& instance, bool stickOnly, int samples, int level)
        = 0;
    virtual std::shared_ptr<Media_capabilities_t> getConnectionCapabilities(
        const MediaInstancePtr& instance, bool pvw, bool pgm)
        = 0;
    virtual void setConnectionTally(const MediaInstancePtr& instance, bool pvw, bool pgm) = 0;
    virtual bool ptzZoom(const MediaInstancePtr& instance, float zoom) = 0;
    virtual bool ptzZoomSpeed(const MediaInstancePtr& instance, float speed) = 0;
    virtual bool ptzPanTilt(const MediaInstancePtr& instance, float pan, float tilt) = 0;
    virtual bool ptzPanTiltSpeed(const MediaInstancePtr& instance, float panSpeed, float tiltSpeed) = 0;
    virtual bool ptzStorePreset(const MediaInstancePtr& instance, int preset) = 0;
    virtual bool ptzRecallPreset(const MediaInstancePtr& instance, int preset, float speed) = 0;
    virtual bool ptzAutoFocus(const MediaInstancePtr& instance) = 0;
    virtual bool ptzFocus(const MediaInstancePtr& instance, float focus) = 0;
    virtual bool ptzFocusSpeed(const MediaInstancePtr& instance, float speed) = 0;
    virtual bool ptzWhiteBalanceAuto(const MediaInstancePtr& instance) = 0;
    virtual bool ptzWhiteBalanceIndoor(const MediaInstancePtr& instance) = 0;
    virtual bool ptzWhiteBalanceOutdoor(const MediaInstancePtr& instance) = 0;
    virtual bool ptzWhiteBalanceOneshot(const MediaInstancePtr& instance) = 0;
    virtual bool ptzWhiteBalanceManual(const MediaInstancePtr& instance, float red, float blue) = 0;
    virtual bool ptzExposureAuto(const MediaInstancePtr& instance) = 0;
    virtual bool ptzExposureManual(const MediaInstancePtr& instance, float level) = 0;
    virtual bool supportPtz(const MediaInstancePtr& instance) = 0;

    // PTZ towards the source: sent on both streams; true when either accepted.
    bool setPtzZoom(float zoom);
    bool setPtzZoomSpeed(float speed);
    bool setPtzPanTilt(float pan, float tilt);
    bool setPtzPanTiltSpeed(float panSpeed, float tiltSpeed);
    bool setPtzStorePreset(int preset);
    bool setPtzRecallPreset(int preset, float speed);
    bool setPtzAutoFocus();
    bool setPtzFocus(float focus);
    bool setPtzFocusSpeed(float speed);
    bool setPtzWhiteBalanceAuto();
    bool setPtzWhiteBalanceIndoor();
    bool setPtzWhiteBalanceOutdoor();
    bool setPtzWhiteBalanceOneshot();
    bool setPtzWhiteBalanceManual(float red, float blue);
    bool setPtzExposureAuto();
    bool setPtzExposureManual(float level);
    // Only when both streams support PTZ.
    bool isSupportPtz();

    QString getSourceName();
    // Somebody listens to the audio.
    bool getUse();
    // Meters one block into the VU values, as the audio loop does.
    void getPcmDb(const AudioFramePtr& frame);
    void setHighBwVideoInterval(int ms);
    void setLowBwVideoInterval(int ms);
    void setAudioInterval(int ms);

    // The audio mixer of program pro_id, bus type ("pvw"/"pgm"), takes this
    // source's audio through the sink it registered in GlobalData.
    void setSink(const QString& pro_id, const QString& type);
    void removeSink(const QString& pro_id, const QString& type);
    // Blocks of sound the audio loop has offered to the registered mixers'
    // sinks so far, whether or not any sink was registered to take them.
    long offeredAudioBlocks() const { return m_offeredAudioBlocks; }

    // The audio loop's thread body and its fetch.
    static void timedGetAudioFrame(MediaConnection* connection);
    AudioFramePtr getAudioPtr(bool hasAudioConsumers);

signals:
    void updateCapabilities(QString sourceName, int bw);

public slots:
    void timedGetHighBwVideoFrame();
    void timedGetLowBwVideoFrame();
    void timedPeriodCheck();
    void clearAllObjects();

protected:
    // Steady-clock milliseconds (or the clock set above); every timing
    // decision reads this clock.
    virtual int64_t steadyMs() const;

private:
    friend class MediaContext;

    // One stream with what the connection keeps about it.
    struct VideoStream {
        std::unique_ptr<MediaContext> context;
        QList<void*> consumers; // under m_videoLock; a null entry is the stick marker
        std::atomic<int64_t> releaseDeadline { 0 }; // 0 = none
        std::atomic<int64_t> lastRequest { 0 };
        std::atomic<int> interval { kDefaultVideoIntervalMs };
        QThread* thread = nullptr;
        QTimer* timer = nullptr;
        // Statistics, touched by the stream's timer thread only.
        int64_t statsStart = 0;
        int statsFrames = 0;
    };

    void makeTimerThread(
        QThread*& thread, QTimer*& timer, int intervalMs, const QString& name, void (MediaConnection::*slot)());
    void timedGetVideoFrame(VideoStream& own, bool high);
    void deliverAudio(const AudioFramePtr& frame);
    bool onBothStreams(const std::function<bool(const MediaInstancePtr&)>& op);

    VideoStream m_high;
    VideoStream m_low;
    QReadWriteLock m_videoLock;
    QReadWriteLock m_audioLock;
    QReadWriteLock m_tallyLock;
    QList<void*> m_audioConsumers;
    QList<void*> m_pvwTally;
    QList<void*> m_pgmTally;

    std::atomic<int> m_audioInterval { 1 };
    std::atomic<int> m_audioLevel { 20 };
    std::atomic<double> m_vu[kVuChannels];

    // Starting and stopping the threads.
    std::mutex m_threadMutex;
    QThread* m_periodThread = nullptr;
    QTimer* m_periodTimer = nullptr;
    std::thread m_audioThread;
    std::atomic<bool> m_audioRun { false };
    std::atomic<long> m_offeredAudioBlocks { 0 };
    bool m_destroyed = false;

    // pro_id -> bus -> enabled; under the process-wide sink mutex.
    QMap<QString, QMap<QString, bool>> m_sinks;
    static std::mutex& sinkMutex();
};
