#pragma once
// erizo::SrtpChannel: the two SRTP sessions of one browser session (send
// and receive), on libsrtp 2 with AES-128 CM and an 80-bit HMAC-SHA1 tag.
//
// Owner: the session (shared pointer). Thread: setRtpParams and
// unprotectRtp on the network thread, protectRtp on the sending thread, and
// only after the owner has published that the keys are set.
#include <srtp2/srtp.h>

#include <mutex>
#include <string>

namespace erizo {

class SrtpChannel {
public:
    enum TransmissionType { Outbound = 0, Inbound = 1 };
    static constexpr int kTagLength = 10;

    SrtpChannel();
    virtual ~SrtpChannel();
    SrtpChannel(const SrtpChannel&) = delete;
    SrtpChannel& operator=(const SrtpChannel&) = delete;

    // Key texts are base64 of 30 bytes (16 key + 14 salt); any other text is
    // refused before it reaches libsrtp.
    bool setRtpParams(const std::string& sendKey, const std::string& receiveKey);
    // 0 and the new length, or -1 with the packet untouched. The buffer needs
    // room for kTagLength more bytes.
    int protectRtp(char* buffer, int* length);
    int unprotectRtp(char* buffer, int* length);
    bool isActive() const { return active; }

    // Decodes standard base64; false on a character outside the alphabet.
    static bool base64Decode(const std::string& text, std::string& out);

private:
    bool configureSrtpSession(srtp_t* session, const std::string& key, TransmissionType type);

    bool active = false;
    srtp_t sendSession = nullptr;
    srtp_t receiveSession = nullptr;
    static std::mutex sessionMutex_;
    static bool initialized;
};

} // namespace erizo
