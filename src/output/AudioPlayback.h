#pragma once
// AudioPlayback: plays a program mix on a local output device.
//
// The device (QAudioOutput in push mode) is made, written, stopped and
// deleted on the playback's own thread, which runs an event loop; the mixing
// thread only hands frames over through a short bounded queue (the oldest
// frame goes when it is full), so a slow or stuck device never holds up a
// mixing round. A device that cannot be opened, or fails later, counts as
// none: frames are then refused at once.
//
// Owner: one AudioOutputMixer (std::unique_ptr). Threads: made and stopped
// by the owner's thread; write() from the mixing thread; everything that
// touches the device runs on the thread named "audio playback".
#include <QAudioDeviceInfo>
#include <QAudioFormat>
#include <QThread>

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class QAudioOutput;
class QIODevice;

class AudioPlayback {
public:
    // The device buffer the mixers ask for (640 ms of 48 kHz stereo).
    static constexpr int kBufferBytes = 122880;
    static constexpr size_t kQueueFrames = 8;

    explicit AudioPlayback(const QAudioFormat& format);
    ~AudioPlayback();
    AudioPlayback(const AudioPlayback&) = delete;
    AudioPlayback& operator=(const AudioPlayback&) = delete;

    // Replaces the output by one on `device`; a null device, or one that
    // does not take the format, leaves none. Returns at once.
    void setDevice(const QAudioDeviceInfo& device);
    // Stops and deletes the output and ends the thread; waits for both.
    // Nothing plays afterwards.
    void stop();

    // Queues one block for the device; false (nothing kept) without an open output.
    bool write(const char* data, int len);
    // An output is open and takes frames.
    bool isOpen() const { return m_open.load(std::memory_order_acquire); }
    // A device change is still being applied on the playback thread.
    bool isChanging() const { return m_changing.load(std::memory_order_acquire) > 0; }
    // The device buffer granted by the output, 0 without one.
    int bufferSize() const { return m_bufferSize.load(std::memory_order_acquire); }
    // Blocks dropped because the queue was full.
    long long dropped() const { return m_dropped.load(std::memory_order_relaxed); }

private:
    // These run on the playback thread.
    void openOutput(const QAudioDeviceInfo& device);
    void closeOutput();
    void drain();
    void post(std::function<void()> job);

    const QAudioFormat m_format;
    QThread m_thread;
    std::unique_ptr<QObject> m_context; // lives on m_thread; jobs are posted to it
    QAudioOutput* m_output = nullptr; // playback thread only
    QIODevice* m_device = nullptr; // playback thread only
    std::atomic<bool> m_open { false };
    std::atomic<int> m_changing { 0 }; // device changes posted and not yet applied
    std::atomic<int> m_bufferSize { 0 };
    std::atomic<long long> m_dropped { 0 };
    bool m_stopped = false; // owner's thread only

    std::mutex m_queueMutex; // guards the queue and the drain flag
    std::deque<std::vector<char>> m_queue;
    bool m_drainPosted = false;
};
