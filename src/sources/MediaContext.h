#pragma once
// One stream (high or low bandwidth) of a MediaConnection: the source's name
// and address, the open receiver while the stream is in use, the newest
// picture and sound, the tally asked of the source and the last capability
// record.
//
// Owned by its connection. Every operation takes the context's recursive
// lock, which is also held while the connection's network operations run on
// the receiver, so a pull, a tally change and a PTZ command on one stream are
// serialised. Called from the connection's timer and audio threads and from
// the consumers' threads.
#include "MediaConnection.h"

#include <QRecursiveMutex>

class MediaConnection::MediaContext {
public:
    MediaContext(MediaConnection& owner, BandWidth_t bandwidth);
    ~MediaContext();
    MediaContext(const MediaContext&) = delete;
    MediaContext& operator=(const MediaContext&) = delete;

    // Marks the stream used and opens its receiver when it has an address and none is open.
    bool Use();
    // Closes the receiver and drops what it delivered.
    void Unuse();
    bool Inuse();
    bool Valid();
    // Points the stream at another source; an open stream reopens at once.
    bool ChangeSource(const QString& name, const QString& url);
    VideoFramePtr RetrivalVideoFrame(bool stickOnly);
    AudioFramePtr RetrivalAudioFrame(bool stickOnly, int samples, int level);
    VideoFramePtr GetLastVideoFrame();
    AudioFramePtr GetLastAudioFrame();
    std::shared_ptr<Media_capabilities_t> GetCapabilities();
    void SetTally(bool pvw, bool pgm);
    void SetPvw(bool on);
    void SetPgm(bool on);
    // 0 none, 1 preview, 2 program, 3 both.
    int getTallyValue();

    // Runs a network operation on the open receiver (null when closed)
    // under the context lock.
    bool withInstance(const std::function<bool(const MediaInstancePtr&)>& op);

    QString name();
    QString url();
    int64_t lastVideoTime();

private:
    // A copy of a field, taken under the lock.
    template <typename T> T locked(const T& field)
    {
        QMutexLocker locker(&m_lock);
        return field;
    }
    void dropReceiverLocked();
    void sendTallyLocked();

    MediaConnection& m_owner;
    const BandWidth_t m_bandwidth;
    QRecursiveMutex m_lock; // guards everything below
    QString m_name;
    QString m_url;
    int64_t m_lastVideoTime = 0;
    int64_t m_lastAudioTime = 0;
    MediaInstancePtr m_mediaInstance;
    VideoFramePtr m_lastVideoFrame;
    AudioFramePtr m_lastAudioFrame;
    bool m_inUse = false;
    bool m_pvw = false;
    bool m_pgm = false;
    bool m_tallyPending = true; // the tally still has to reach the receiver
    std::shared_ptr<Media_capabilities_t> m_capabilities;
    int64_t m_lastCapabilityRefresh = 0;
};
