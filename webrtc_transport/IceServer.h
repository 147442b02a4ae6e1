#pragma once
// IceServer: the ICE-lite responder of one session (RFC 8445 §2.5): answers
// the browser's Binding requests and remembers where the latest
// authenticated one came from.
//
// Owner: its WebRtcTransport. Thread: the WebRTC network thread.
#include "LogThrottle.h"
#include "StunPacket.h"

#include <netinet/in.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

class IceServer {
public:
    IceServer(const std::string& usernameFragment, const std::string& password);

    // Answers the message; true only when it was an authenticated Binding
    // request (which alone may keep the session alive and move the peer).
    bool ProcessStunPacket(RTC::StunPacket* packet, const sockaddr_in* source);

    // Logs how many checks were refused since the last line, once its
    // interval has passed; the transport calls it on every network pass.
    void OnTimer(int64_t nowMs);
    // Checks answered with an error, since the session began.
    uint64_t RefusedChecks() const { return m_refused; }

    const sockaddr_in& GetPeerTuple() const { return m_peerTuple; }
    void SetSendCallback(std::function<void(const char*, int, const sockaddr_in*)> cb) { m_send = std::move(cb); }
    void SetIceServerCompletedCallback(std::function<void()> cb) { m_completed = std::move(cb); }

private:
    // Answers a refused request with the error; logged through m_refusedLog.
    void refuse(const RTC::StunPacket* request, uint16_t code, const sockaddr_in* source);

    std::function<void(const char*, int, const sockaddr_in*)> m_send;
    std::function<void()> m_completed;
    const std::string m_usernameFragment;
    const std::string m_password;
    sockaddr_in m_peerTuple {};
    uint8_t m_output[512];
    // Anyone can send checks to an open port: one line per refused check
    // would let a flood roll the log away.
    LogThrottle m_refusedLog;
    std::atomic<uint64_t> m_refused { 0 };
};
