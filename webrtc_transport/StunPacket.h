#pragma once
// RTC::StunPacket: parses, checks, builds and serializes STUN messages
// (RFC 5389) as an ICE-lite peer needs them.
//
// Owner: whoever parsed or built it (one per datagram or response). A parsed
// packet points into the datagram, which must outlive it. Thread: the one
// that handles the datagram.
#include <netinet/in.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace RTC {

class StunPacket {
public:
    enum class Class : uint16_t { Request = 0, Indication = 1, SuccessResponse = 2, ErrorResponse = 3 };
    enum class Method : uint16_t { Binding = 1 };
    enum class Authentication { OK = 0, Unauthorized = 1, BadRequest = 2 };

    static const uint8_t magicCookie[4];

    // A new packet, or null when the bytes are not a well-formed STUN message.
    static StunPacket* Parse(const uint8_t* data, size_t len);
    // Quick test on the first bytes (RFC 7983 §7): size, first byte, cookie.
    static bool IsStun(const uint8_t* data, size_t len);

    StunPacket(Class klass, uint16_t method, const uint8_t* transactionId, const uint8_t* data, size_t size);

    Class GetClass() const { return m_class; }
    uint16_t GetMethod() const { return m_method; }
    const uint8_t* GetTransactionId() const { return m_transactionId; }
    const uint8_t* GetData() const { return m_data; }
    size_t GetSize() const { return m_size; }
    const std::string& GetUsername() const { return m_username; }
    uint32_t GetPriority() const { return m_priority; }
    uint64_t GetIceControlling() const { return m_iceControlling; }
    uint64_t GetIceControlled() const { return m_iceControlled; }
    bool HasUseCandidate() const { return m_useCandidate; }
    bool HasMessageIntegrity() const { return m_messageIntegrity != nullptr; }
    bool HasFingerprint() const { return m_hasFingerprint; }
    uint16_t GetErrorCode() const { return m_errorCode; }

    void SetUsername(const std::string& u) { m_username = u; }
    void SetPriority(uint32_t p) { m_priority = p; }
    void SetIceControlling(uint64_t v) { m_iceControlling = v; }
    void SetUseCandidate() { m_useCandidate = true; }
    void SetXorMappedAddress(const sockaddr_in* addr) { m_xorMappedAddress = addr; }

    // Checks USERNAME ("ufrag:peer") and MESSAGE-INTEGRITY; the message bytes
    // are left exactly as they were.
    Authentication CheckAuthentication(const std::string& localUfrag, const std::string& localPassword) const;
    StunPacket* CreateSuccessResponse() const;
    StunPacket* CreateErrorResponse(uint16_t errorCode) const;
    // The key of MESSAGE-INTEGRITY when serialized (error responses carry none).
    void Authenticate(const std::string& password);
    // Writes the message into buffer (room for 20 + the attributes: at most
    // 64 bytes plus the USERNAME for what this program builds); returns the size.
    size_t Serialize(uint8_t* buffer);

private:
    Class m_class;
    uint16_t m_method;
    const uint8_t* m_transactionId;
    const uint8_t* m_data;
    size_t m_size;
    std::string m_username;
    uint32_t m_priority = 0;
    uint64_t m_iceControlling = 0;
    uint64_t m_iceControlled = 0;
    bool m_useCandidate = false;
    const uint8_t* m_messageIntegrity = nullptr;
    bool m_hasFingerprint = false;
    const sockaddr_in* m_xorMappedAddress = nullptr;
    uint16_t m_errorCode = 0;
    std::string m_password;
};

} // namespace RTC
