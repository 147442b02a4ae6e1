#pragma once
// dtls::DtlsSocket: one OpenSSL DTLS connection whose input and output are
// memory buffers: datagrams are pushed in and records pulled out, the
// endpoint never touches a network socket.
//
// Owner: its DtlsSocketContext. Thread: the thread that feeds it.
#include <openssl/ssl.h>

#include <mutex>
#include <string>

namespace dtls {

class DtlsSocketContext;

struct ExportedSrtpKeys {
    unsigned char clientMasterKey[16];
    int clientMasterKeyLen = 0;
    unsigned char serverMasterKey[16];
    int serverMasterKeyLen = 0;
    unsigned char clientMasterSalt[14];
    int clientMasterSaltLen = 0;
    unsigned char serverMasterSalt[14];
    int serverMasterSaltLen = 0;
};

class DtlsSocket {
public:
    enum SocketType { Client = 0, Server = 1 };
    static constexpr int kMtu = 1472;

    DtlsSocket(DtlsSocketContext* context, SocketType type);
    ~DtlsSocket();
    DtlsSocket(const DtlsSocket&) = delete;
    DtlsSocket& operator=(const DtlsSocket&) = delete;

    void startClient();
    bool handlePacketMaybe(const unsigned char* data, unsigned int length);
    void handleTimeout();
    bool getRemoteFingerprint(char* out) const;
    static void computeFingerprint(X509* cert, char* out);
    void getMyCertFingerprint(char* out) const;
    // False when the export failed or gave less than 60 bytes.
    bool getSrtpSessionKeys(ExportedSrtpKeys& keys) const;
    bool handshakeCompleted() const { return mHandshakeCompleted; }
    // Sends close_notify to the peer (the association ends on both sides).
    void shutdown();
    void close();

private:
    void doHandshakeIteration();
    // After completion: lets OpenSSL see alerts and repeated flights.
    void readAfterHandshake();
    void flushOutput();

    DtlsSocketContext* mParentContext;
    BIO_METHOD* mDwrapMethod = nullptr;
    SSL* mSsl = nullptr;
    BIO* mReadBio = nullptr;
    BIO* mWriteBio = nullptr;
    SocketType mSocketType;
    bool mHandshakeCompleted = false;
    bool mFailed = false;
    std::mutex mHandshakeMutex;
};

} // namespace dtls
