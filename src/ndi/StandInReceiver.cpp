#include "StandInReceiver.h"

#include "LinkMessages.h"
#include "LinkSocket.h"
#include "NdiAudioConvert.h"
#include "StandInRegistry.h"

#include <QDebug>

StandInReceiver::StandInReceiver(QString dir, NDIlib_recv_bandwidth_e bandwidth)
    : m_dir(std::move(dir))
    , m_bandwidth(bandwidth)
    , m_pool(LinkBufferPool::create())
    , m_store(std::make_shared<StandInMediaStore>())
    , m_loop("ndi-recv", *this, m_pool)
{
}

StandInReceiver::~StandInReceiver()
{
    m_loop.stop();
}

void StandInReceiver::dropChannelLocked()
{
    if (m_channel)
        m_channel->close();
    m_channel.reset();
    m_capabilities = {};
}

void StandInReceiver::attemptLocked(bool now)
{
    if (connectedLocked() || (m_targetName.isEmpty() && m_targetUrl.isEmpty()))
        return;
    const auto clock = std::chrono::steady_clock::now();
    if (!now && clock < m_nextAttempt)
        return;
    m_nextAttempt = clock + kRetry;

    StandInRegistry registry(m_dir);
    const StandInRegistry::Entry* match = nullptr;
    const std::vector<StandInRegistry::Entry> entries = registry.scan();
    for (const auto& entry : entries) {
        const bool sameName = !m_targetName.isEmpty() && entry.name == m_targetName;
        const bool sameUrl = !m_targetUrl.isEmpty() && entry.url == m_targetUrl;
        if (sameName && sameUrl) {
            match = &entry;
            break;
        }
        if (!match && (sameName || (m_targetName.isEmpty() && sameUrl)))
            match = &entry;
    }
    if (!match)
        return;
    const int fd = linksocket::connectTo(match->socketPath);
    if (fd < 0)
        return;
    m_channel = m_loop.adopt(fd);
    linkwire::Hello hello {};
    hello.bandwidth = m_bandwidth;
    hello.onProgram = m_tally.on_program;
    hello.onPreview = m_tally.on_preview;
    m_channel->post(LinkChannel::Lane::Control, linkwire::Type::Hello, linkmsg::record(hello));
}

void StandInReceiver::connect(const QString& name, const QString& url)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (name == m_targetName && url == m_targetUrl) {
        attemptLocked(false);
        return;
    }
    dropChannelLocked();
    m_store->clear();
    m_inbox.clear();
    m_targetName = name;
    m_targetUrl = url;
    attemptLocked(true);
}

int StandInReceiver::connections()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    attemptLocked(false);
    return connectedLocked() ? 1 : 0;
}

NDIlib_frame_type_e StandInReceiver::captureMetadata(NDIlib_metadata_frame_t* out, uint32_t timeoutMs)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        attemptLocked(false);
    }
    return m_inbox.take(out, timeoutMs);
}

bool StandInReceiver::sendMetadata(const std::string& text, int64_t timecode)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return connectedLocked()
        && m_channel->post(LinkChannel::Lane::Control, linkwire::Type::Metadata, linkmsg::text(text, timecode));
}

bool StandInReceiver::setTally(const NDIlib_tally_t& tally)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_tally = tally;
    if (connectedLocked()) {
        linkwire::Tally record {};
        record.onProgram = tally.on_program;
        record.onPreview = tally.on_preview;
        m_channel->post(LinkChannel::Lane::Control, linkwire::Type::Tally, linkmsg::record(record));
    }
    return true;
}

StandInCapabilities StandInReceiver::capabilities() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_capabilities;
}

bool StandInReceiver::sendPtz(const std::string& element)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!connectedLocked() || !m_capabilities.ptz)
            return false;
    }
    return sendMetadata(element, linkmsg::now());
}

bool StandInReceiver::onMessage(LinkChannel& channel, linkwire::Type type, LinkBufferPtr payload)
{
    {
        // A message still in flight from a sender we have left is dropped.
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_channel.get() != &channel)
            return true;
    }
    switch (type) {
    case linkwire::Type::Video: {
        linkwire::Video record;
        if (!linkmsg::readVideo(*payload, record))
            break;
        m_store->setPicture(std::move(payload));
        return true;
    }
    case linkwire::Type::Audio: {
        linkwire::Audio record;
        const int16_t* samples = nullptr;
        if (!linkmsg::readAudio(*payload, record, samples))
            break;
        const size_t count = size_t(record.samples) * size_t(record.channels);
        m_samples.resize(count);
        ndiaudio::toFloat(samples, count, record.referenceLevel, m_samples.data());
        m_store->pushAudio(record.sampleRate, record.channels, m_samples.data(), record.samples);
        return true;
    }
    case linkwire::Type::ConnectionMetadata: {
        std::string text;
        int64_t timecode = 0;
        if (!linkmsg::readText(*payload, text, timecode))
            break;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_capabilities.apply(QByteArray::fromStdString(text));
        }
        m_inbox.push(std::move(text), timecode);
        return true;
    }
    default:
        break;
    }
    qWarning() << "[ndi] receiver: dropping a sender that sent a bad message, type" << uint32_t(type) << "size"
               << payload->size();
    return false;
}

void StandInReceiver::onClosed(LinkChannel& channel)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_channel.get() != &channel)
        return;
    m_channel.reset();
    m_capabilities = {};
    m_nextAttempt = {};
    m_inbox.markError();
}
