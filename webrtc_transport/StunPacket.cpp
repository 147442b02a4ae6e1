// STUN message layout and checks (RFC 5389). Every bound is checked before a
// byte is read: the input comes straight from the network.
#include "StunPacket.h"

#include "Crypto.h"

#include <cstring>
#include <memory>
#include <vector>

namespace RTC {

namespace {

enum : uint16_t {
    kUsername = 0x0006,
    kMessageIntegrity = 0x0008,
    kErrorCode = 0x0009,
    kXorMappedAddress = 0x0020,
    kPriority = 0x0024,
    kUseCandidate = 0x0025,
    kFingerprint = 0x8028,
    kIceControlled = 0x8029,
    kIceControlling = 0x802A,
};

constexpr uint32_t kFingerprintXor = 0x5354554E; // RFC 5389 §15.5

uint16_t get16(const uint8_t* p)
{
    return uint16_t(p[0] << 8 | p[1]);
}
uint32_t get32(const uint8_t* p)
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}
uint64_t get64(const uint8_t* p)
{
    return uint64_t(get32(p)) << 32 | get32(p + 4);
}
void put16(uint8_t* p, uint16_t v)
{
    p[0] = uint8_t(v >> 8);
    p[1] = uint8_t(v);
}
void put32(uint8_t* p, uint32_t v)
{
    put16(p, uint16_t(v >> 16));
    put16(p + 2, uint16_t(v));
}
void put64(uint8_t* p, uint64_t v)
{
    put32(p, uint32_t(v >> 32));
    put32(p + 4, uint32_t(v));
}
size_t pad4(size_t n)
{
    return (n + 3) & ~size_t(3);
}

} // namespace

const uint8_t StunPacket::magicCookie[4] = { 0x21, 0x12, 0xA4, 0x42 };

bool StunPacket::IsStun(const uint8_t* data, size_t len)
{
    return len >= 20 && data[0] <= 2 && std::memcmp(data + 4, magicCookie, 4) == 0;
}

StunPacket* StunPacket::Parse(const uint8_t* data, size_t len)
{
    if (!IsStun(data, len))
        return nullptr;
    const size_t msgLength = get16(data + 2);
    if (msgLength % 4 != 0 || msgLength != len - 20)
        return nullptr;

    // RFC 5389 §6: class bits C1 (bit 8) and C0 (bit 4), method the other 12.
    const uint16_t type = get16(data);
    const Class klass = Class(((type >> 7) & 0x2) | ((type >> 4) & 0x1));
    const uint16_t method = uint16_t((type & 0x000F) | ((type & 0x00E0) >> 1) | ((type & 0x3E00) >> 2));

    auto packet = std::make_unique<StunPacket>(klass, method, data + 8, data, len);
    size_t offset = 20;
    bool afterFingerprint = false;
    size_t fingerprintOffset = 0;
    uint32_t fingerprint = 0;
    while (len - offset >= 4) {
        const uint16_t attrType = get16(data + offset);
        const size_t attrLen = get16(data + offset + 2);
        if (offset + 4 + attrLen > len)
            return nullptr;
        if (afterFingerprint) // FINGERPRINT must be last (§15.5)
            return nullptr;
        if (packet->m_messageIntegrity && attrType != kFingerprint) // §15.4
            return nullptr;
        const uint8_t* value = data + offset + 4;
        switch (attrType) {
        case kUsername:
            packet->m_username.assign(reinterpret_cast<const char*>(value), attrLen);
            break;
        case kMessageIntegrity:
            if (attrLen != 20)
                return nullptr;
            packet->m_messageIntegrity = value;
            break;
        case kErrorCode:
            if (attrLen < 4)
                return nullptr;
            packet->m_errorCode = uint16_t((value[2] & 0x07) * 100 + value[3]);
            break;
        case kPriority:
            if (attrLen != 4)
                return nullptr;
            packet->m_priority = get32(value);
            break;
        case kUseCandidate:
            if (attrLen != 0)
                return nullptr;
            packet->m_useCandidate = true;
            break;
        case kFingerprint:
            if (attrLen != 4)
                return nullptr;
            afterFingerprint = true;
            packet->m_hasFingerprint = true;
            fingerprintOffset = offset;
            fingerprint = get32(value);
            break;
        case kIceControlled:
            if (attrLen != 8)
                return nullptr;
            packet->m_iceControlled = get64(value);
            break;
        case kIceControlling:
            if (attrLen != 8)
                return nullptr;
            packet->m_iceControlling = get64(value);
            break;
        default:
            break; // comprehension-optional or unknown: skipped, never a 420
        }
        offset = pad4(offset + 4 + attrLen);
    }
    if (offset != len)
        return nullptr;
    if (packet->m_hasFingerprint && (Utils::Crypto::GetCRC32(data, fingerprintOffset) ^ kFingerprintXor) != fingerprint)
        return nullptr;
    return packet.release();
}

StunPacket::StunPacket(Class klass, uint16_t method, const uint8_t* transactionId, const uint8_t* data, size_t size)
    : m_class(klass)
    , m_method(method)
    , m_transactionId(transactionId)
    , m_data(data)
    , m_size(size)
{
}

StunPacket::Authentication StunPacket::CheckAuthentication(
    const std::string& localUfrag, const std::string& localPassword) const
{
    if (m_class != Class::Request && m_class != Class::Indication)
        return Authentication::BadRequest;
    if (!m_messageIntegrity || m_username.empty())
        return Authentication::BadRequest;
    // RFC 8445 §7.2.2: USERNAME is "<our ufrag>:<their ufrag>".
    if (m_username.size() <= localUfrag.size() || m_username.compare(0, localUfrag.size(), localUfrag) != 0
        || m_username[localUfrag.size()] != ':')
        return Authentication::Unauthorized;

    // RFC 5389 §15.4: the HMAC covers the header with a length that ends at
    // MESSAGE-INTEGRITY. Work on a copy so the datagram is never touched.
    const size_t miOffset = size_t(m_messageIntegrity - m_data) - 4;
    std::vector<uint8_t> covered(m_data, m_data + miOffset);
    put16(covered.data() + 2, uint16_t(miOffset + 24 - 20));
    const uint8_t* mac = Utils::Crypto::GetHmacShA1(localPassword, covered.data(), covered.size());
    return std::memcmp(mac, m_messageIntegrity, 20) == 0 ? Authentication::OK : Authentication::Unauthorized;
}

StunPacket* StunPacket::CreateSuccessResponse() const
{
    return new StunPacket(Class::SuccessResponse, m_method, m_transactionId, nullptr, 0);
}

StunPacket* StunPacket::CreateErrorResponse(uint16_t errorCode) const
{
    auto* response = new StunPacket(Class::ErrorResponse, m_method, m_transactionId, nullptr, 0);
    response->m_errorCode = errorCode;
    return response;
}

void StunPacket::Authenticate(const std::string& password)
{
    if (m_class == Class::ErrorResponse)
        return;
    m_password = password;
}

size_t StunPacket::Serialize(uint8_t* buffer)
{
    const bool addXor
        = m_class == Class::SuccessResponse && m_method == uint16_t(Method::Binding) && m_xorMappedAddress;
    const bool addError = m_class == Class::ErrorResponse && m_errorCode != 0;
    const bool addIntegrity = m_class != Class::ErrorResponse && !m_password.empty();

    size_t size = 20;
    if (!m_username.empty())
        size += 4 + pad4(m_username.size());
    if (m_priority)
        size += 8;
    if (m_iceControlling)
        size += 12;
    if (m_iceControlled)
        size += 12;
    if (m_useCandidate)
        size += 4;
    if (addXor)
        size += 12;
    if (addError)
        size += 8;
    if (addIntegrity)
        size += 24;
    size += 8; // FINGERPRINT

    const uint16_t klass = uint16_t(m_class);
    const uint16_t type = uint16_t((m_method & 0x000F) | ((m_method & 0x0070) << 1) | ((m_method & 0x0F80) << 2)
        | ((klass & 0x1) << 4) | ((klass & 0x2) << 7));
    put16(buffer, type);
    put16(buffer + 2, uint16_t(size - 20));
    std::memcpy(buffer + 4, magicCookie, 4);
    std::memmove(buffer + 8, m_transactionId, 12);

    size_t pos = 20;
    auto attr = [&](uint16_t t, uint16_t l) {
        put16(buffer + pos, t);
        put16(buffer + pos + 2, l);
        pos += 4;
    };
    if (!m_username.empty()) {
        attr(kUsername, uint16_t(m_username.size()));
        std::memset(buffer + pos, 0, pad4(m_username.size()));
        std::memcpy(buffer + pos, m_username.data(), m_username.size());
        pos += pad4(m_username.size());
    }
    if (m_priority) {
        attr(kPriority, 4);
        put32(buffer + pos, m_priority);
        pos += 4;
    }
    if (m_iceControlling) {
        attr(kIceControlling, 8);
        put64(buffer + pos, m_iceControlling);
        pos += 8;
    }
    if (m_iceControlled) {
        attr(kIceControlled, 8);
        put64(buffer + pos, m_iceControlled);
        pos += 8;
    }
    if (m_useCandidate)
        attr(kUseCandidate, 0);
    if (addXor) {
        // RFC 5389 §15.2: port XOR the cookie's top half, address XOR the cookie.
        attr(kXorMappedAddress, 8);
        buffer[pos] = 0;
        buffer[pos + 1] = 0x01;
        put16(buffer + pos + 2, uint16_t(ntohs(m_xorMappedAddress->sin_port) ^ 0x2112));
        put32(buffer + pos + 4, ntohl(m_xorMappedAddress->sin_addr.s_addr) ^ 0x2112A442u);
        pos += 8;
    }
    if (addError) {
        attr(kErrorCode, 4);
        buffer[pos] = 0;
        buffer[pos + 1] = 0;
        buffer[pos + 2] = uint8_t(m_errorCode / 100);
        buffer[pos + 3] = uint8_t(m_errorCode % 100);
        pos += 4;
    }
    m_messageIntegrity = nullptr;
    if (addIntegrity) {
        put16(buffer + 2, uint16_t(pos + 24 - 20));
        const uint8_t* mac = Utils::Crypto::GetHmacShA1(m_password, buffer, pos);
        put16(buffer + 2, uint16_t(size - 20));
        attr(kMessageIntegrity, 20);
        std::memcpy(buffer + pos, mac, 20);
        m_messageIntegrity = buffer + pos;
        pos += 20;
    }
    const uint32_t crc = Utils::Crypto::GetCRC32(buffer, pos) ^ kFingerprintXor;
    attr(kFingerprint, 4);
    put32(buffer + pos, crc);
    pos += 4;

    m_data = buffer;
    m_size = pos;
    m_transactionId = buffer + 8;
    m_hasFingerprint = true;
    return pos;
}

} // namespace RTC
