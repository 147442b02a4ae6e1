#pragma once
// Messages of the stand-in link between one sender and one receiver over a
// Unix-domain stream socket. Both ends run on this machine, so records travel
// in host byte order. Each message is a fixed header followed by `length`
// payload bytes; every payload starts with the record of its type, and
// pictures, sound and texts follow that record. Record sizes are multiples of
// 16 bytes so that pixel data following a record stays aligned.
//
// Receiver -> sender: Hello (first), Tally, Metadata (PTZ commands among it).
// Sender -> receiver: ConnectionMetadata, Video, Audio.
#include <cstdint>

namespace linkwire {

constexpr uint32_t kMagic = 0x4b4e4c50; // "PLNK"
// Larger than any picture a sender may send (8K UYVY), smaller than a length
// that would exhaust memory when a peer sends garbage.
constexpr uint64_t kMaxPayload = 160ull * 1024 * 1024;
constexpr int32_t kMaxDimension = 16384;
constexpr int32_t kMaxChannels = 64;
constexpr int32_t kMaxSampleRate = 768000;

enum class Type : uint32_t {
    Hello = 1,
    Tally = 2,
    Metadata = 3,
    ConnectionMetadata = 4,
    Video = 5,
    Audio = 6,
};

struct Header {
    uint32_t magic;
    uint32_t type;
    uint64_t length;
};
static_assert(sizeof(Header) == 16, "wire header");

struct Hello {
    int32_t bandwidth; // NDIlib_recv_bandwidth_e
    uint8_t onProgram;
    uint8_t onPreview;
    uint8_t reserved[10];
};
static_assert(sizeof(Hello) == 16, "wire hello");

struct Tally {
    uint8_t onProgram;
    uint8_t onPreview;
    uint8_t reserved[14];
};
static_assert(sizeof(Tally) == 16, "wire tally");

// Followed by the text and its terminating zero.
struct Text {
    int64_t timecode;
    int64_t reserved;
};
static_assert(sizeof(Text) == 16, "wire text");

// Followed by lineStride * yres bytes of pixels.
struct Video {
    int32_t xres;
    int32_t yres;
    uint32_t fourcc;
    int32_t frameRateN;
    int32_t frameRateD;
    float aspect;
    int32_t formatType;
    int32_t lineStride;
    int64_t timecode;
    int64_t timestamp;
};
static_assert(sizeof(Video) == 48, "wire video");

// Followed by samples * channels interleaved 16-bit samples.
struct Audio {
    int32_t sampleRate;
    int32_t channels;
    int32_t samples;
    int32_t referenceLevel;
    int64_t timecode;
    int64_t timestamp;
};
static_assert(sizeof(Audio) == 32, "wire audio");

} // namespace linkwire
