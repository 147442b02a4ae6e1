#pragma once
// dtls::DtlsReceiver: what a DTLS endpoint reports to its owner. Implemented
// by MyDtlsTransport; called on the thread that feeds the endpoint.
#include <string>

namespace dtls {

class DtlsSocketContext;

class DtlsReceiver {
public:
    // One datagram for the peer.
    virtual void onDtlsPacket(DtlsSocketContext* ctx, const unsigned char* data, unsigned int length) = 0;
    // Both key texts are base64 of master key + salt (30 bytes).
    virtual void onHandshakeCompleted(DtlsSocketContext* ctx, std::string clientKey, std::string serverKey) = 0;
    // The handshake failed, or the association ended (close_notify or a
    // fatal alert): the session is over either way.
    virtual void onHandshakeFailed(DtlsSocketContext* ctx, const std::string& error) = 0;

protected:
    ~DtlsReceiver() = default;
};

} // namespace dtls
