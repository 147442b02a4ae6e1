#pragma once
// RtpMaker: cuts H.264 NAL units into RTP packets (RFC 3550, RFC 6184
// packetization mode 1: single NAL unit packets and FU-A), 1372 bytes at most.
//
// Owner: one per session. Thread: the sending thread, one at a time.
#include <cstdint>
#include <functional>

class RtpMaker {
public:
    static constexpr int kMaxPacket = 1372;
    static constexpr int kMaxSingleNal = kMaxPacket - 12;
    static constexpr int kFragmentPayload = kMaxPacket - 14;
    static constexpr uint8_t kPayloadType = 126;
    static constexpr uint32_t kSsrc = 11245678;

    RtpMaker() = default;

    // One NAL unit (header byte first, no start code) and the RTP timestamp
    // of its picture; packets come out through outputCallback before return.
    void InputH264Frame(const char* nal, int length, unsigned int timestamp);
    uint16_t sequence() const { return videoSequence; }

    std::function<void(char*, int)> outputCallback;

private:
    void sendPacket(
        const char* payloadHead, int headLen, const char* payload, int len, unsigned int timestamp, bool marker);

    char videoPacket[2048];
    uint16_t videoSequence = 0;
    const uint32_t videoSsrc = kSsrc;
};
