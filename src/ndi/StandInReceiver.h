#pragma once
// A stand-in receiver: connects to one sender of the registry by name (the
// URL picks among equal names), says hello with its bandwidth and tally, and
// keeps what arrives: the newest picture and the queued sound in its media
// store (read through frame synchronisers), the sender's connection metadata
// in its inbox and capabilities. Tally, metadata and PTZ commands go back to
// the sender.
//
// Owned by the caller through its handle; its LinkLoop thread reads the
// socket. When the sender goes away the receiver marks the loss once (an
// error capture) and, while it still has a target, tries again whenever it is
// asked for its connections or its metadata, at most every kRetry.
#include "LinkLoop.h"
#include "NdiWrapper.h"
#include "StandInCapabilities.h"
#include "StandInInbox.h"
#include "StandInMediaStore.h"

#include <QString>

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class StandInReceiver : public LinkLoop::Handler {
public:
    static constexpr std::chrono::milliseconds kRetry { 100 };

    StandInReceiver(QString dir, NDIlib_recv_bandwidth_e bandwidth);
    ~StandInReceiver() override;
    bool start() { return m_loop.start(); }

    // Empty name and URL disconnect.
    void connect(const QString& name, const QString& url);
    int connections();
    NDIlib_frame_type_e captureMetadata(NDIlib_metadata_frame_t* out, uint32_t timeoutMs);
    bool sendMetadata(const std::string& text, int64_t timecode);
    bool setTally(const NDIlib_tally_t& tally);
    StandInCapabilities capabilities() const;
    // Sends a PTZ command element; false unless connected to a sender that offers PTZ.
    bool sendPtz(const std::string& element);
    std::shared_ptr<StandInMediaStore> store() const { return m_store; }

    bool onMessage(LinkChannel& channel, linkwire::Type type, LinkBufferPtr payload) override;
    void onClosed(LinkChannel& channel) override;

private:
    bool connectedLocked() const { return m_channel && !m_channel->isClosed(); }
    void attemptLocked(bool now);
    void dropChannelLocked();

    const QString m_dir;
    const NDIlib_recv_bandwidth_e m_bandwidth;
    std::shared_ptr<LinkBufferPool> m_pool;
    std::shared_ptr<StandInMediaStore> m_store;
    StandInInbox m_inbox;
    LinkLoop m_loop;

    mutable std::mutex m_mutex; // guards everything below
    QString m_targetName;
    QString m_targetUrl;
    std::shared_ptr<LinkChannel> m_channel;
    std::chrono::steady_clock::time_point m_nextAttempt {};
    NDIlib_tally_t m_tally;
    StandInCapabilities m_capabilities;

    // Loop thread only: sound converted to float on arrival.
    std::vector<float> m_samples;
};
