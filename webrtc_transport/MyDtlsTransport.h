#pragma once
// MyDtlsTransport: adapts a DTLS endpoint to a session: its datagrams, its
// keys and its end become three callbacks of the owner.
//
// Owner: WebRtcTransport (or a test's client peer), shared pointer. Thread:
// the one that feeds it datagrams and timer ticks.
#include "DtlsReceiver.h"

#include <functional>
#include <memory>
#include <string>

namespace dtls {
class DtlsSocketContext;
}

class MyDtlsTransport : public dtls::DtlsReceiver {
public:
    explicit MyDtlsTransport(bool isServer);
    ~MyDtlsTransport();
    MyDtlsTransport(const MyDtlsTransport&) = delete;
    MyDtlsTransport& operator=(const MyDtlsTransport&) = delete;

    // The client role sends its ClientHello; the server role waits.
    void Start();
    // Ends the association with a close_notify to the peer.
    void Close();
    bool InputData(const char* data, int length);
    // Retransmits a lost flight when OpenSSL's timer has run out.
    void OnTimer();
    static bool isDtlsPacket(const char* data, int length);
    std::string GetFingerprint() const;

    // (send key, receive key): this side's write key first.
    std::function<void(const std::string&, const std::string&)> handshakeCompletedCallback;
    // The handshake failed or the association ended; the reason for the log.
    std::function<void(const std::string&)> handshakeFailedCallback;
    std::function<void(const char*, int)> dtlsOutputCallback;

    void onDtlsPacket(dtls::DtlsSocketContext* ctx, const unsigned char* data, unsigned int length) override;
    void onHandshakeCompleted(dtls::DtlsSocketContext* ctx, std::string clientKey, std::string serverKey) override;
    void onHandshakeFailed(dtls::DtlsSocketContext* ctx, const std::string& error) override;

private:
    std::shared_ptr<dtls::DtlsSocketContext> dtlsContext;
    const bool isServer;
};
