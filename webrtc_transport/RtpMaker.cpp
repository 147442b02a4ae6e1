#include "RtpMaker.h"

#include <cstring>

void RtpMaker::sendPacket(const char* head, int headLen, const char* payload, int len, unsigned int ts, bool marker)
{
    auto* p = reinterpret_cast<uint8_t*>(videoPacket);
    p[0] = 0x80; // RFC 3550 §5.1: version 2, no padding, extension or CSRC
    p[1] = uint8_t((marker ? 0x80 : 0) | kPayloadType);
    p[2] = uint8_t(videoSequence >> 8);
    p[3] = uint8_t(videoSequence);
    p[4] = uint8_t(ts >> 24);
    p[5] = uint8_t(ts >> 16);
    p[6] = uint8_t(ts >> 8);
    p[7] = uint8_t(ts);
    p[8] = uint8_t(videoSsrc >> 24);
    p[9] = uint8_t(videoSsrc >> 16);
    p[10] = uint8_t(videoSsrc >> 8);
    p[11] = uint8_t(videoSsrc);
    if (headLen > 0)
        std::memcpy(videoPacket + 12, head, size_t(headLen));
    std::memcpy(videoPacket + 12 + headLen, payload, size_t(len));
    ++videoSequence;
    if (outputCallback)
        outputCallback(videoPacket, 12 + headLen + len);
}

void RtpMaker::InputH264Frame(const char* nal, int length, unsigned int timestamp)
{
    if (!nal || length <= 0)
        return;
    const uint8_t header = uint8_t(nal[0]);
    const uint8_t type = header & 0x1F;
    // RFC 6184 §5.1: the marker closes a picture, so only coded slices
    // (types 1 to 5) carry it; parameter sets and SEI precede their picture.
    const bool slice = type >= 1 && type <= 5;
    if (length <= kMaxSingleNal) {
        sendPacket(nullptr, 0, nal, length, timestamp, slice);
        return;
    }
    // RFC 6184 §5.8: FU-A; the NAL header travels in the FU indicator and header.
    char fu[2];
    fu[0] = char((header & 0xE0) | 28);
    const char* payload = nal + 1;
    int remaining = length - 1;
    bool first = true;
    while (remaining > 0) {
        const int chunk = remaining > kFragmentPayload ? kFragmentPayload : remaining;
        const bool last = chunk == remaining;
        fu[1] = char((first ? 0x80 : 0) | (last ? 0x40 : 0) | type);
        sendPacket(fu, 2, payload, chunk, timestamp, last && slice);
        payload += chunk;
        remaining -= chunk;
        first = false;
    }
}
