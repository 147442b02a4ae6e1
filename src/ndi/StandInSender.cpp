#include "StandInSender.h"

#include "LinkMessages.h"
#include "LinkSocket.h"
#include "UyvyReducer.h"

#include <QDebug>

#include <algorithm>
#include <chrono>
#include <cstring>

namespace {

bool operator!=(const NDIlib_tally_t& a, const NDIlib_tally_t& b)
{
    return a.on_program != b.on_program || a.on_preview != b.on_preview;
}

} // namespace

std::unique_ptr<StandInSender> StandInSender::create(const QString& dir, const QString& name, const QString& groups)
{
    if (dir.isEmpty() || name.isEmpty())
        return nullptr;
    StandInRegistry registry(dir);
    StandInRegistry::Entry entry;
    if (!registry.reserve(name, groups, entry)) {
        qWarning() << "[ndi] sender: socket path too long in" << dir;
        return nullptr;
    }
    const int fd = linksocket::listenOn(entry.socketPath);
    if (fd < 0)
        return nullptr;
    std::unique_ptr<StandInSender> sender(new StandInSender(entry));
    if (!sender->m_loop.start(fd)) {
        StandInRegistry::withdraw(entry);
        return nullptr;
    }
    // Announced only once receivers can connect.
    if (!registry.publish(entry)) {
        sender->m_loop.stop();
        StandInRegistry::withdraw(entry);
        return nullptr;
    }
    return sender;
}

StandInSender::StandInSender(StandInRegistry::Entry entry)
    : m_entry(std::move(entry))
    , m_pool(LinkBufferPool::create())
    , m_loop("ndi-send", *this, m_pool)
{
}

StandInSender::~StandInSender()
{
    StandInRegistry::withdraw(m_entry);
    m_loop.stop();
}

StandInSender::Peer* StandInSender::findPeer(const LinkChannel& channel)
{
    for (auto& peer : m_peers) {
        if (peer.channel.get() == &channel)
            return &peer;
    }
    return nullptr;
}

void StandInSender::onAccepted(const std::shared_ptr<LinkChannel>& channel)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_peers.push_back(Peer { channel, NDIlib_recv_bandwidth_highest, false, {} });
}

void StandInSender::onClosed(LinkChannel& channel)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_peers.erase(std::remove_if(m_peers.begin(), m_peers.end(),
                      [&channel](const Peer& p) { return p.channel.get() == &channel; }),
        m_peers.end());
    updateTallyLocked();
}

bool StandInSender::onMessage(LinkChannel& channel, linkwire::Type type, LinkBufferPtr payload)
{
    switch (type) {
    case linkwire::Type::Hello: {
        linkwire::Hello hello;
        if (!linkmsg::readRecord(*payload, hello))
            return false;
        std::lock_guard<std::mutex> lock(m_mutex);
        Peer* peer = findPeer(channel);
        if (!peer)
            return false;
        peer->bandwidth = hello.bandwidth;
        peer->tally = { hello.onProgram != 0, hello.onPreview != 0 };
        peer->ready = true;
        for (const auto& [text, timecode] : m_connectionMetadata)
            channel.post(LinkChannel::Lane::Control, linkwire::Type::ConnectionMetadata, linkmsg::text(text, timecode));
        updateTallyLocked();
        return true;
    }
    case linkwire::Type::Tally: {
        linkwire::Tally tally;
        if (!linkmsg::readRecord(*payload, tally))
            return false;
        std::lock_guard<std::mutex> lock(m_mutex);
        if (Peer* peer = findPeer(channel))
            peer->tally = { tally.onProgram != 0, tally.onPreview != 0 };
        updateTallyLocked();
        return true;
    }
    case linkwire::Type::Metadata: {
        std::string text;
        int64_t timecode = 0;
        if (!linkmsg::readText(*payload, text, timecode))
            return false;
        m_inbox.push(std::move(text), timecode);
        return true;
    }
    default:
        qWarning() << "[ndi] sender: unexpected message" << uint32_t(type) << "from a receiver";
        return false;
    }
}

void StandInSender::updateTallyLocked()
{
    NDIlib_tally_t combined;
    for (const auto& peer : m_peers) {
        if (!peer.ready)
            continue;
        combined.on_program = combined.on_program || peer.tally.on_program;
        combined.on_preview = combined.on_preview || peer.tally.on_preview;
    }
    if (combined != m_tally) {
        m_tally = combined;
        m_tallyChanged.notify_all();
    }
}

bool StandInSender::tally(NDIlib_tally_t* out, uint32_t timeoutMs)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_tallyChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return m_tally != m_reportedTally; });
    const bool changed = m_tally != m_reportedTally;
    m_reportedTally = m_tally;
    if (out)
        *out = m_tally;
    return changed;
}

int StandInSender::connections() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return int(
        std::count_if(m_peers.begin(), m_peers.end(), [](const Peer& p) { return p.ready && !p.channel->isClosed(); }));
}

void StandInSender::addConnectionMetadata(const std::string& text, int64_t timecode)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_connectionMetadata.size() >= kConnectionMetadataDepth)
        m_connectionMetadata.erase(m_connectionMetadata.begin());
    m_connectionMetadata.emplace_back(text, timecode);
    const LinkBufferPtr message = linkmsg::text(text, timecode);
    for (auto& peer : m_peers) {
        if (peer.ready)
            peer.channel->post(LinkChannel::Lane::Control, linkwire::Type::ConnectionMetadata, message);
    }
}

LinkBufferPtr StandInSender::pictureMessage(
    const NDIlib_video_frame_v2_t& frame, int stride, bool reduced, int64_t timestamp)
{
    const uyvy::Size size = reduced ? uyvy::quarterSize(frame.xres, frame.yres) : uyvy::Size { frame.xres, frame.yres };
    linkwire::Video record {};
    record.xres = size.width;
    record.yres = size.height;
    record.fourcc = NDIlib_FourCC_video_type_UYVY;
    record.frameRateN = frame.frame_rate_N;
    record.frameRateD = frame.frame_rate_D;
    record.aspect = frame.picture_aspect_ratio;
    record.formatType = frame.frame_format_type;
    record.lineStride = size.width * 2;
    record.timecode = frame.timecode == NDIlib_send_timecode_synthesize ? timestamp : frame.timecode;
    record.timestamp = timestamp;

    const size_t lineBytes = size_t(record.lineStride);
    LinkBufferPtr message = m_pool->acquire(sizeof record + lineBytes * size_t(size.height));
    std::memcpy(message->data(), &record, sizeof record);
    uint8_t* pixels = message->data() + sizeof record;
    if (reduced) {
        uyvy::quarter(frame.p_data, frame.xres, frame.yres, stride, pixels);
    } else if (size_t(stride) == lineBytes) {
        std::memcpy(pixels, frame.p_data, lineBytes * size_t(size.height));
    } else {
        for (int y = 0; y < size.height; ++y)
            std::memcpy(pixels + size_t(y) * lineBytes, frame.p_data + size_t(y) * size_t(stride), lineBytes);
    }
    return message;
}

void StandInSender::sendVideo(const NDIlib_video_frame_v2_t& frame)
{
    // A frame without pixels flushes; the pixels of earlier frames were
    // copied when they were sent, so there is nothing to wait for.
    if (!frame.p_data)
        return;
    const int stride = frame.line_stride_in_bytes > 0 ? frame.line_stride_in_bytes : frame.xres * 2;
    if (frame.FourCC != NDIlib_FourCC_video_type_UYVY || frame.xres <= 0 || frame.yres <= 0
        || frame.xres > linkwire::kMaxDimension || frame.yres > linkwire::kMaxDimension || stride < frame.xres * 2) {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_warnedFormat)
            qWarning() << "[ndi] sender" << m_entry.name << ": dropping pictures that are not packed UYVY, e.g."
                       << frame.xres << "x" << frame.yres << "stride" << stride;
        m_warnedFormat = true;
        return;
    }

    std::vector<std::pair<std::shared_ptr<LinkChannel>, bool>> targets; // channel, reduced
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (const auto& peer : m_peers) {
            if (peer.ready && peer.bandwidth == NDIlib_recv_bandwidth_highest)
                targets.emplace_back(peer.channel, false);
            else if (peer.ready && peer.bandwidth == NDIlib_recv_bandwidth_lowest)
                targets.emplace_back(peer.channel, uyvy::quarterSize(frame.xres, frame.yres).width > 0);
        }
    }
    if (targets.empty())
        return;
    const int64_t timestamp = linkmsg::now();
    LinkBufferPtr full, reduced;
    for (auto& [channel, wantsReduced] : targets) {
        LinkBufferPtr& message = wantsReduced ? reduced : full;
        if (!message)
            message = pictureMessage(frame, stride, wantsReduced, timestamp);
        channel->post(LinkChannel::Lane::Video, linkwire::Type::Video, message);
    }
}

void StandInSender::sendAudio(const NDIlib_audio_frame_interleaved_16s_t& audio)
{
    if (!audio.p_data || audio.sample_rate <= 0 || audio.sample_rate > linkwire::kMaxSampleRate
        || audio.no_channels <= 0 || audio.no_channels > linkwire::kMaxChannels || audio.no_samples <= 0)
        return;
    std::vector<std::shared_ptr<LinkChannel>> targets;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (const auto& peer : m_peers) {
            if (peer.ready && peer.bandwidth != NDIlib_recv_bandwidth_metadata_only)
                targets.push_back(peer.channel);
        }
    }
    if (targets.empty())
        return;
    const int64_t timestamp = linkmsg::now();
    linkwire::Audio record {};
    record.sampleRate = audio.sample_rate;
    record.channels = audio.no_channels;
    record.samples = audio.no_samples;
    record.referenceLevel = audio.reference_level;
    record.timecode = audio.timecode == NDIlib_send_timecode_synthesize ? timestamp : audio.timecode;
    record.timestamp = timestamp;
    const size_t bytes = size_t(audio.no_samples) * size_t(audio.no_channels) * sizeof(int16_t);
    LinkBufferPtr message = m_pool->acquire(sizeof record + bytes);
    std::memcpy(message->data(), &record, sizeof record);
    std::memcpy(message->data() + sizeof record, audio.p_data, bytes);
    for (auto& channel : targets)
        channel->post(LinkChannel::Lane::Audio, linkwire::Type::Audio, message);
}
