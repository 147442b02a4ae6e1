#pragma once
// A stand-in sender: announces itself in the registry, accepts receivers on
// its Unix socket and sends them pictures, sound and its connection metadata;
// it collects their tally and the metadata (PTZ commands among it) they send.
//
// Owned by the caller through its handle. Its LinkLoop thread does all socket
// work; the caller's sends only copy the frame into a shared buffer and queue
// it on each receiver's channel, so they never wait for a receiver. A picture
// is copied once per send (plus once reduced when a low-bandwidth receiver is
// connected) and shared by all receivers; nothing is copied when nobody
// receives. Destruction withdraws the announcement first, then joins the
// loop, which closes every receiver's connection.
#include "LinkLoop.h"
#include "NdiWrapper.h"
#include "StandInInbox.h"
#include "StandInRegistry.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class StandInSender : public LinkLoop::Handler {
public:
    // Null when the name is empty or the socket cannot be set up.
    static std::unique_ptr<StandInSender> create(const QString& dir, const QString& name, const QString& groups);
    ~StandInSender() override;

    void sendVideo(const NDIlib_video_frame_v2_t& frame);
    void sendAudio(const NDIlib_audio_frame_interleaved_16s_t& audio);
    void addConnectionMetadata(const std::string& text, int64_t timecode);
    bool tally(NDIlib_tally_t* out, uint32_t timeoutMs);
    NDIlib_frame_type_e captureMetadata(NDIlib_metadata_frame_t* out, uint32_t timeoutMs)
    {
        return m_inbox.take(out, timeoutMs);
    }
    // Receivers that said hello and are still connected.
    int connections() const;
    const StandInRegistry::Entry& entry() const { return m_entry; }

    void onAccepted(const std::shared_ptr<LinkChannel>& channel) override;
    bool onMessage(LinkChannel& channel, linkwire::Type type, LinkBufferPtr payload) override;
    void onClosed(LinkChannel& channel) override;

    // Connection metadata kept for receivers that connect later; the oldest
    // texts go beyond this.
    static constexpr size_t kConnectionMetadataDepth = 32;

private:
    explicit StandInSender(StandInRegistry::Entry entry);
    struct Peer {
        std::shared_ptr<LinkChannel> channel;
        int32_t bandwidth = NDIlib_recv_bandwidth_highest;
        bool ready = false; // said hello
        NDIlib_tally_t tally;
    };
    Peer* findPeer(const LinkChannel& channel);
    void updateTallyLocked();
    LinkBufferPtr pictureMessage(const NDIlib_video_frame_v2_t& frame, int stride, bool reduced, int64_t timestamp);

    const StandInRegistry::Entry m_entry;
    std::shared_ptr<LinkBufferPool> m_pool;
    LinkLoop m_loop;
    StandInInbox m_inbox;

    mutable std::mutex m_mutex; // guards everything below
    std::condition_variable m_tallyChanged;
    std::vector<Peer> m_peers;
    std::vector<std::pair<std::string, int64_t>> m_connectionMetadata;
    NDIlib_tally_t m_tally;
    NDIlib_tally_t m_reportedTally;
    bool m_warnedFormat = false;
};
