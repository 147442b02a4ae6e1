#pragma once
// dtls::DtlsSocketContext: one DTLS endpoint (an SSL_CTX and its one
// DtlsSocket) and the process-wide self-signed certificate every session
// presents.
//
// Owner: MyDtlsTransport (shared pointer). Thread: the thread that feeds the
// endpoint (the WebRTC network thread); Init at start-up before any session;
// getFingerprint from any thread once Init has run.
#include <openssl/ssl.h>

#include <memory>
#include <string>

namespace dtls {

class DtlsReceiver;
class DtlsSocket;

class DtlsSocketContext {
public:
    static const char* DefaultSrtpProfile;

    // Makes the certificate and key once; later calls keep them. False when
    // OpenSSL could not make them.
    static bool Init();

    DtlsSocketContext();
    virtual ~DtlsSocketContext();
    DtlsSocketContext(const DtlsSocketContext&) = delete;
    DtlsSocketContext& operator=(const DtlsSocketContext&) = delete;

    DtlsSocket* createServer();
    DtlsSocket* createClient();
    void setDtlsReceiver(DtlsReceiver* receiver) { mDtlsReceiver = receiver; }
    SSL_CTX* getSSLContext() const { return mContext; }
    // SHA-256 of the certificate: 32 upper-case hex pairs joined by ':'.
    std::string getFingerprint() const;

    enum PacketType { stun, dtls, rtp, unknown };
    // RFC 7983 §7 by the first byte; an empty datagram is unknown.
    static PacketType demuxPacket(const unsigned char* data, unsigned int length);

    void start();
    void shutdown();
    bool read(const unsigned char* data, unsigned int length);
    // Runs the retransmission timer when it has expired.
    void handleTimeout();
    void write(const unsigned char* data, unsigned int length);
    void handshakeCompleted();
    void handshakeFailed(const char* error);

private:
    friend class DtlsSocket;

    std::unique_ptr<DtlsSocket> mDtlsSocket;
    DtlsReceiver* mDtlsReceiver = nullptr;
    SSL_CTX* mContext = nullptr;
};

} // namespace dtls
