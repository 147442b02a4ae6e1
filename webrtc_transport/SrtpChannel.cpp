#include "SrtpChannel.h"

#include <QDebug>

#include <cstring>

namespace erizo {

std::mutex SrtpChannel::sessionMutex_;
bool SrtpChannel::initialized = false;

SrtpChannel::SrtpChannel()
{
    std::lock_guard<std::mutex> lock(sessionMutex_);
    if (!initialized) {
        srtp_init();
        initialized = true;
    }
}

SrtpChannel::~SrtpChannel()
{
    active = false;
    if (sendSession)
        srtp_dealloc(sendSession);
    if (receiveSession)
        srtp_dealloc(receiveSession);
    sendSession = receiveSession = nullptr;
}

bool SrtpChannel::base64Decode(const std::string& text, std::string& out)
{
    out.clear();
    unsigned int acc = 0;
    int bits = 0;
    for (char c : text) {
        int v;
        if (c >= 'A' && c <= 'Z')
            v = c - 'A';
        else if (c >= 'a' && c <= 'z')
            v = c - 'a' + 26;
        else if (c >= '0' && c <= '9')
            v = c - '0' + 52;
        else if (c == '+')
            v = 62;
        else if (c == '/')
            v = 63;
        else if (c == '=')
            break;
        else
            return false;
        acc = (acc << 6) | unsigned(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(char((acc >> bits) & 0xFF));
        }
    }
    return true;
}

bool SrtpChannel::configureSrtpSession(srtp_t* session, const std::string& key, TransmissionType type)
{
    std::string raw;
    // libsrtp reads exactly 30 key bytes: anything else must not reach it.
    if (!base64Decode(key, raw) || raw.size() != 30) {
        qDebug() << "SRTP: key text refused, it does not decode to 30 bytes";
        return false;
    }
    srtp_policy_t policy;
    std::memset(&policy, 0, sizeof policy);
    srtp_crypto_policy_set_rtp_default(&policy.rtp);
    srtp_crypto_policy_set_rtp_default(&policy.rtcp);
    policy.ssrc.type = type == Outbound ? ssrc_any_outbound : ssrc_any_inbound;
    policy.ssrc.value = 0;
    policy.key = reinterpret_cast<unsigned char*>(&raw[0]);
    policy.window_size = 1024;
    policy.allow_repeat_tx = 1;
    policy.next = nullptr;
    const srtp_err_status_t status = srtp_create(session, &policy);
    std::memset(&raw[0], 0, raw.size());
    if (status != srtp_err_status_ok) {
        qDebug() << "SRTP: srtp_create failed with" << int(status);
        *session = nullptr;
        return false;
    }
    return true;
}

bool SrtpChannel::setRtpParams(const std::string& sendKey, const std::string& receiveKey)
{
    if (!configureSrtpSession(&sendSession, sendKey, Outbound))
        return false;
    if (!configureSrtpSession(&receiveSession, receiveKey, Inbound))
        return false;
    active = true;
    return true;
}

int SrtpChannel::protectRtp(char* buffer, int* length)
{
    if (!active)
        return -1;
    int len = *length;
    if (srtp_protect(sendSession, buffer, &len) != srtp_err_status_ok)
        return -1;
    *length = len;
    return 0;
}

int SrtpChannel::unprotectRtp(char* buffer, int* length)
{
    if (!active)
        return -1;
    int len = *length;
    if (srtp_unprotect(receiveSession, buffer, &len) != srtp_err_status_ok)
        return -1;
    *length = len;
    return 0;
}

} // namespace erizo
