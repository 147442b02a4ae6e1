#pragma once
// Utils::Crypto: random ICE credentials, HMAC-SHA1 and CRC-32 for STUN.
// Static only. GetRandomString may run on any thread (OpenSSL's generator
// is thread-safe); the HMAC result buffer is per thread.
#include <cstddef>
#include <cstdint>
#include <string>

namespace Utils {

class Crypto {
public:
    // Builds the CRC table; safe to call more than once.
    static void ClassInit();
    // len characters of [0-9a-z] from the OpenSSL generator (unbiased).
    static std::string GetRandomString(size_t len);
    // A random integer in [0, bound), bound > 0, from the OpenSSL generator.
    static uint64_t GetRandomBelow(uint64_t bound);
    // HMAC-SHA1 of data with key; 20 bytes valid until this thread's next call.
    static const uint8_t* GetHmacShA1(const std::string& key, const uint8_t* data, size_t len);
    // CRC-32 (IEEE 802.3) of data.
    static uint32_t GetCRC32(const uint8_t* data, size_t size);
};

} // namespace Utils
