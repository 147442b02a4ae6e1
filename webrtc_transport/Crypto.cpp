#include "Crypto.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>

#include <array>

namespace Utils {

namespace {

const char kAlphabet[] = "0123456789abcdefghijklmnopqrstuvwxyz";

std::array<uint32_t, 256> makeCrcTable()
{
    std::array<uint32_t, 256> table {};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[i] = c;
    }
    return table;
}

const std::array<uint32_t, 256>& crcTable()
{
    static const std::array<uint32_t, 256> table = makeCrcTable();
    return table;
}

uint64_t randomU64()
{
    uint64_t v = 0;
    if (RAND_bytes(reinterpret_cast<unsigned char*>(&v), sizeof v) != 1)
        abort(); // no randomness means no safe credentials: nothing sane to go on with
    return v;
}

} // namespace

void Crypto::ClassInit()
{
    crcTable();
}

uint64_t Crypto::GetRandomBelow(uint64_t bound)
{
    // Rejection sampling: no modulo bias.
    const uint64_t limit = UINT64_MAX - UINT64_MAX % bound;
    uint64_t v;
    do
        v = randomU64();
    while (v >= limit);
    return v % bound;
}

std::string Crypto::GetRandomString(size_t len)
{
    std::string out(len, '0');
    for (size_t i = 0; i < len; ++i)
        out[i] = kAlphabet[GetRandomBelow(36)];
    return out;
}

const uint8_t* Crypto::GetHmacShA1(const std::string& key, const uint8_t* data, size_t len)
{
    thread_local uint8_t buffer[EVP_MAX_MD_SIZE];
    unsigned int outLen = 0;
    HMAC(EVP_sha1(), key.data(), int(key.size()), data, len, buffer, &outLen);
    return buffer;
}

uint32_t Crypto::GetCRC32(const uint8_t* data, size_t size)
{
    const auto& table = crcTable();
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i)
        crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

} // namespace Utils
