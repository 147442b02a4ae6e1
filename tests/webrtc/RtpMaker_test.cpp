// H.264 packetization and SRTP protection of one session's packets.
#include "webrtc_transport/RtpMaker.h"
#include "webrtc_transport/SrtpChannel.h"

#include <gtest/gtest.h>

#include <cstring>

#include <vector>

namespace {

struct Packet {
    std::vector<uint8_t> bytes;
    uint16_t seq() const { return uint16_t(bytes[2] << 8 | bytes[3]); }
    bool marker() const { return bytes[1] & 0x80; }
    uint32_t ts() const { return uint32_t(bytes[4]) << 24 | bytes[5] << 16 | bytes[6] << 8 | bytes[7]; }
};

struct Collector {
    Collector()
    {
        maker.outputCallback = [this](char* d, int n) {
            packets.push_back(
                { std::vector<uint8_t>(reinterpret_cast<uint8_t*>(d), reinterpret_cast<uint8_t*>(d) + n) });
        };
    }
    void feed(uint8_t header, int length, uint32_t ts = 3600)
    {
        std::vector<char> nal(static_cast<size_t>(length), 0x11);
        nal[0] = char(header);
        maker.InputH264Frame(nal.data(), length, ts);
    }
    RtpMaker maker;
    std::vector<Packet> packets;
};

} // namespace

TEST(RtpMaker, CutsUnitsIntoSingleAndFragmentPacketsOfAtMost1372Bytes)
{
    struct Case {
        const char* name;
        uint8_t header;
        int length;
        std::vector<size_t> sizes;
        std::vector<int> fuHeaders; // empty for a single NAL unit packet
        std::vector<bool> markers;
    };
    const std::vector<Case> cases = {
        { "1360-byte slice", 0x41, 1360, { 1372 }, {}, { true } },
        { "1361-byte slice", 0x41, 1361, { 1372, 16 }, { 0x81, 0x41 }, { false, true } },
        { "2717 bytes", 0x65, 2717, { 1372, 1372 }, { 0x85, 0x45 }, { false, true } },
        { "2718 bytes", 0x65, 2718, { 1372, 1372, 15 }, { 0x85, 0x05, 0x45 }, { false, false, true } },
        { "5000-byte IDR", 0x65, 5000, { 1372, 1372, 1372, 939 }, { 0x85, 0x05, 0x05, 0x45 },
            { false, false, false, true } },
        { "SPS", 0x67, 20, { 32 }, {}, { false } },
        { "PPS", 0x68, 8, { 20 }, {}, { false } },
        { "SEI", 0x06, 30, { 42 }, {}, { false } },
        { "large SEI ends no picture", 0x06, 2000, { 1372, 655 }, { 0x86, 0x46 }, { false, false } },
    };
    for (const Case& c : cases) {
        Collector col;
        col.feed(c.header, c.length, 7200);
        ASSERT_EQ(col.packets.size(), c.sizes.size()) << c.name;
        for (size_t i = 0; i < c.sizes.size(); ++i) {
            const Packet& p = col.packets[i];
            EXPECT_EQ(p.bytes.size(), c.sizes[i]) << c.name << " packet " << i;
            EXPECT_EQ(p.bytes[0], 0x80) << c.name;
            EXPECT_EQ(p.bytes[1] & 0x7F, 126) << c.name;
            EXPECT_EQ(p.marker(), c.markers[i]) << c.name << " packet " << i;
            EXPECT_EQ(p.seq(), i) << c.name;
            EXPECT_EQ(p.ts(), 7200u) << c.name;
            EXPECT_EQ(p.bytes[8] << 24 | p.bytes[9] << 16 | p.bytes[10] << 8 | p.bytes[11], 11245678) << c.name;
            if (!c.fuHeaders.empty()) {
                EXPECT_EQ(p.bytes[12], (c.header & 0xE0) | 28) << c.name;
                EXPECT_EQ(p.bytes[13], c.fuHeaders[i]) << c.name << " packet " << i;
            } else {
                EXPECT_EQ(p.bytes[12], c.header) << c.name;
            }
        }
    }
}

TEST(RtpMaker, SequenceRunsOnAndWrapsAndAdvancesWithoutAnOutput)
{
    Collector col;
    col.feed(0x67, 20);
    col.feed(0x68, 8);
    col.feed(0x65, 500);
    ASSERT_EQ(col.packets.size(), 3u);
    EXPECT_EQ(col.packets[2].seq(), 2);
    EXPECT_FALSE(col.packets[0].marker());
    EXPECT_FALSE(col.packets[1].marker());
    EXPECT_TRUE(col.packets[2].marker());

    RtpMaker silent; // no output: the numbers are still used up
    for (int i = 0; i < 65537; ++i) {
        char n[2] = { 0x41, 0 };
        silent.InputH264Frame(n, 2, 0);
    }
    EXPECT_EQ(silent.sequence(), 1); // wrapped from 65535 to 0, then one more
    silent.InputH264Frame(nullptr, 0, 0);
    EXPECT_EQ(silent.sequence(), 1);
}

TEST(SrtpChannel, ProtectsUnprotectsAndRefusesWhatLibsrtpMustNotSee)
{
    const std::string a = "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwd"; // 30 bytes
    const std::string b = "HRwbGhkYFxYVFBMSERAPDg0MCwoJCAcGBQQDAgEA";
    erizo::SrtpChannel sender, receiver;
    char packet[1400] = { char(0x80), 126, 0, 1, 0, 0, 0, 1, 0, 0, 0, 7 };
    int len = 1372;
    EXPECT_EQ(sender.protectRtp(packet, &len), -1);
    EXPECT_EQ(len, 1372);

    for (const std::string& bad : { std::string(), std::string("AAAA"), std::string(40, '!'), a + "AAAA" })
        EXPECT_FALSE(erizo::SrtpChannel().setRtpParams(bad, b)) << bad;

    ASSERT_TRUE(sender.setRtpParams(a, b));
    ASSERT_TRUE(receiver.setRtpParams(b, a));
    ASSERT_EQ(sender.protectRtp(packet, &len), 0);
    EXPECT_EQ(len, 1382);
    char copy[1400];
    std::memcpy(copy, packet, sizeof copy);
    int copyLen = len;
    ASSERT_EQ(receiver.unprotectRtp(packet, &len), 0);
    EXPECT_EQ(len, 1372);
    EXPECT_EQ(receiver.unprotectRtp(copy, &copyLen), -1); // a replay
}
