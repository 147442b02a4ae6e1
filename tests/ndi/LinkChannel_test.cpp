// The socket link under the stand-in: bounded lanes towards a slow peer,
// and rejection of whatever is not a well-formed message.
#include "NdiTestKit.h"
#include "ndi/LinkLoop.h"
#include "ndi/LinkMessages.h"
#include "ndi/LinkSocket.h"
#include "ndi/StandInRegistry.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>

#include <atomic>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace ndikit;

namespace {

struct Recorder : LinkLoop::Handler {
    std::atomic<int> messages { 0 };
    std::atomic<int> closed { 0 };
    bool onMessage(LinkChannel&, linkwire::Type, LinkBufferPtr) override
    {
        ++messages;
        return true;
    }
    void onClosed(LinkChannel&) override { ++closed; }
};

// Reads whole messages from a raw socket until it stays quiet for quietMs.
std::vector<std::pair<linkwire::Header, std::vector<uint8_t>>> drain(int fd, int quietMs)
{
    std::vector<std::pair<linkwire::Header, std::vector<uint8_t>>> out;
    std::vector<uint8_t> pending;
    for (;;) {
        pollfd p { fd, POLLIN, 0 };
        if (::poll(&p, 1, quietMs) <= 0)
            break;
        uint8_t chunk[65536];
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n <= 0)
            break;
        pending.insert(pending.end(), chunk, chunk + n);
        while (pending.size() >= sizeof(linkwire::Header)) {
            linkwire::Header h;
            std::memcpy(&h, pending.data(), sizeof h);
            if (pending.size() < sizeof h + h.length)
                break;
            out.emplace_back(
                h, std::vector<uint8_t>(pending.begin() + sizeof h, pending.begin() + long(sizeof h + h.length)));
            pending.erase(pending.begin(), pending.begin() + long(sizeof h + h.length));
        }
    }
    return out;
}

} // namespace

TEST(LinkChannel, SlowPeerCostsDroppedMessagesNeverMemoryOrWaiting)
{
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
    Recorder recorder;
    auto pool = LinkBufferPool::create();
    LinkLoop loop("test-link", recorder, pool);
    ASSERT_TRUE(loop.start());
    auto channel = loop.adopt(fds[0]);

    // The peer (fds[1]) reads nothing.
    const LinkBufferPtr picture = pool->acquire(8 * 1024 * 1024);
    const LinkBufferPtr sound = pool->acquire(4000);
    const LinkBufferPtr text = linkmsg::text("<x/>", 0);
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < 100; ++i) {
        EXPECT_TRUE(channel->post(LinkChannel::Lane::Video, linkwire::Type::Video, picture));
        EXPECT_TRUE(channel->post(LinkChannel::Lane::Audio, linkwire::Type::Audio, sound));
        for (int j = 0; j < 5; ++j)
            EXPECT_TRUE(channel->post(LinkChannel::Lane::Control, linkwire::Type::Metadata, text));
    }
    EXPECT_LT(timer.elapsed(), testsupport::budgetMs(1000)) << "posting never waits for the peer";
    EXPECT_LE(channel->queued(LinkChannel::Lane::Video), 1u);
    EXPECT_LE(channel->queued(LinkChannel::Lane::Audio), LinkChannel::kAudioDepth);
    EXPECT_LE(channel->queued(LinkChannel::Lane::Control), LinkChannel::kControlDepth);
    EXPECT_GT(channel->dropped(), 0u);

    loop.stop();
    EXPECT_FALSE(channel->post(LinkChannel::Lane::Control, linkwire::Type::Metadata, text)) << "closed channels refuse";
    ::close(fds[1]);
}

TEST(LinkChannel, SenderFacingASilentReceiverSendsOnlyTheNewestPictures)
{
    ScopedRegistry registry;
    Sender sender = makeSender("Busy");
    ASSERT_TRUE(sender);
    // A receiver that says hello and then stops reading.
    StandInRegistry scan(registry.path());
    const auto entries = scan.scan();
    ASSERT_EQ(entries.size(), 1u);
    const int fd = linksocket::connectTo(entries[0].socketPath);
    ASSERT_GE(fd, 0);
    linkwire::Hello hello {};
    hello.bandwidth = NDIlib_recv_bandwidth_highest;
    const linkwire::Header header { linkwire::kMagic, uint32_t(linkwire::Type::Hello), sizeof hello };
    ASSERT_EQ(::write(fd, &header, sizeof header), ssize_t(sizeof header));
    ASSERT_EQ(::write(fd, &hello, sizeof hello), ssize_t(sizeof hello));

    Picture picture(1280, 720);
    QElapsedTimer timer;
    timer.start();
    // Until the sender has taken the hello, pictures have nobody to go to;
    // after that 100 more go to the silent receiver.
    int sent = 0, afterHello = -1;
    while (sent < 1000 && (afterHello < 0 || sent - afterHello < 100)) {
        std::fill(picture.bytes.begin(), picture.bytes.begin() + 16, uint8_t(sent));
        auto frame = picture.frame();
        NDIlib_send_send_video_async_v2(sender.get(), &frame);
        ++sent;
        if (afterHello < 0) {
            pollfd p { fd, POLLIN, 0 };
            if (::poll(&p, 1, 1) > 0)
                afterHello = sent;
        }
    }
    ASSERT_GE(afterHello, 0);
    const uint8_t newest = uint8_t(sent - 1);
    EXPECT_LT(timer.elapsed(), testsupport::budgetMs(20000));

    const auto received = drain(fd, 300);
    ASSERT_FALSE(received.empty());
    EXPECT_LE(received.size(), 8u) << "at most what fits in the socket plus one waiting picture";
    const auto& last = received.back();
    EXPECT_EQ(last.first.type, uint32_t(linkwire::Type::Video));
    ASSERT_GT(last.second.size(), sizeof(linkwire::Video));
    EXPECT_EQ(last.second[sizeof(linkwire::Video)], newest) << "the newest picture is never the one dropped";
    ::close(fd);
}

TEST(LinkChannel, WhatIsNotAMessageDropsThePeer)
{
    struct Case {
        const char* what;
        linkwire::Header header;
    };
    const Case cases[] = {
        { "wrong magic", { 0x12345678, uint32_t(linkwire::Type::Tally), 16 } },
        { "unknown type", { linkwire::kMagic, 99, 16 } },
        { "absurd length", { linkwire::kMagic, uint32_t(linkwire::Type::Video), linkwire::kMaxPayload + 1 } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        int fds[2];
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
        Recorder recorder;
        LinkLoop loop("test-link", recorder, LinkBufferPool::create());
        ASSERT_TRUE(loop.start());
        loop.adopt(fds[0]);
        uint8_t bytes[64] = {};
        std::memcpy(bytes, &c.header, sizeof c.header);
        ASSERT_EQ(::write(fds[1], bytes, sizeof bytes), ssize_t(sizeof bytes));
        EXPECT_TRUE(testsupport::waitFor([&] { return recorder.closed == 1; }, 2000));
        EXPECT_EQ(recorder.messages, 0);
        loop.stop();
        ::close(fds[1]);
    }
}

TEST(LinkChannel, PayloadsAreCheckedAgainstTheirSize)
{
    auto videoPayload = [](linkwire::Video r, size_t pixelBytes) {
        auto b = std::make_shared<LinkBuffer>(sizeof r + pixelBytes);
        b->setSize(sizeof r + pixelBytes);
        std::memcpy(b->data(), &r, sizeof r);
        return b;
    };
    const linkwire::Video good { 4, 2, NDIlib_FourCC_video_type_UYVY, 30, 1, 0.0f, 1, 8, 0, 0 };
    linkwire::Video record;
    EXPECT_TRUE(linkmsg::readVideo(*videoPayload(good, 16), record));
    struct VideoCase {
        const char* what;
        linkwire::Video r;
        size_t pixelBytes;
    };
    auto with = [&](auto change) {
        linkwire::Video r = good;
        change(r);
        return r;
    };
    const VideoCase videoCases[] = {
        { "too few pixels", good, 15 },
        { "too many pixels", good, 17 },
        { "stride shorter than a line", with([](auto& r) {
             r.lineStride = 6;
             r.xres = 4;
         }),
            12 },
        { "zero width", with([](auto& r) { r.xres = 0; }), 16 },
        { "negative height", with([](auto& r) { r.yres = -2; }), 16 },
        { "not UYVY", with([](auto& r) { r.fourcc = 0x41524742; }), 16 },
        { "unknown field order", with([](auto& r) { r.formatType = 9; }), 16 },
        { "huge picture claimed", with([](auto& r) { r.yres = 100000; }), 16 },
    };
    for (const VideoCase& c : videoCases)
        EXPECT_FALSE(linkmsg::readVideo(*videoPayload(c.r, c.pixelBytes), record)) << c.what;

    auto audioPayload = [](linkwire::Audio r, size_t bytes) {
        auto b = std::make_shared<LinkBuffer>(sizeof r + bytes);
        b->setSize(sizeof r + bytes);
        std::memcpy(b->data(), &r, sizeof r);
        return b;
    };
    const linkwire::Audio sound { 48000, 2, 3, 20, 0, 0 };
    linkwire::Audio a;
    const int16_t* samples = nullptr;
    EXPECT_TRUE(linkmsg::readAudio(*audioPayload(sound, 12), a, samples));
    EXPECT_FALSE(linkmsg::readAudio(*audioPayload(sound, 10), a, samples)) << "short";
    EXPECT_FALSE(linkmsg::readAudio(*audioPayload({ 48000, 0, 3, 20, 0, 0 }, 0), a, samples)) << "no channels";
    EXPECT_FALSE(linkmsg::readAudio(*audioPayload({ 0, 2, 3, 20, 0, 0 }, 12), a, samples)) << "no rate";
    EXPECT_FALSE(linkmsg::readAudio(*audioPayload({ 48000, 2, -3, 20, 0, 0 }, 0), a, samples)) << "negative count";

    std::string text;
    int64_t timecode = 0;
    EXPECT_TRUE(linkmsg::readText(*linkmsg::text("<a/>", 5), text, timecode));
    EXPECT_EQ(text, "<a/>");
    EXPECT_EQ(timecode, 5);
    auto unterminated = linkmsg::text("<a/>", 5);
    unterminated->data()[unterminated->size() - 1] = 'x';
    EXPECT_FALSE(linkmsg::readText(*unterminated, text, timecode));
    EXPECT_FALSE(linkmsg::readText(*linkmsg::record(linkwire::Tally {}), text, timecode)) << "no text at all";
}
