// The DTLS endpoint's context and the one self-signed certificate of the
// process. OpenSSL 3 throughout: the key is made with EVP calls.
#include "DtlsSocketContext.h"

#include "DtlsReceiver.h"
#include "DtlsSocket.h"

#include <QDebug>

#include <openssl/err.h>
#include <openssl/rand.h>
#include <openssl/x509v3.h>

#include <mutex>

namespace dtls {

namespace {

X509* mCert = nullptr;
EVP_PKEY* privkey = nullptr;
std::mutex initMutex;

const char kIdentity[] = "panoptra-preview";

// Self-signed, one year, 2048-bit RSA, signed with SHA-256 (a SHA-1
// signature is refused at OpenSSL 3's default security level).
bool createCert(const std::string& identity, int days, X509*& certOut, EVP_PKEY*& keyOut)
{
    EVP_PKEY* key = EVP_RSA_gen(2048);
    X509* cert = X509_new();
    X509_NAME* name = X509_NAME_new();
    X509_EXTENSION* ext = nullptr;
    bool ok = key && cert && name;
    if (ok) {
        uint32_t serial = 0;
        RAND_bytes(reinterpret_cast<unsigned char*>(&serial), sizeof serial);
        const std::string subject = "sip:" + identity;
        ok = X509_set_version(cert, 2) == 1 && ASN1_INTEGER_set(X509_get_serialNumber(cert), long(serial >> 1)) == 1
            && X509_NAME_add_entry_by_txt(
                   name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(subject.c_str()), -1, -1, 0)
                == 1
            && X509_set_subject_name(cert, name) == 1 && X509_set_issuer_name(cert, name) == 1
            && X509_gmtime_adj(X509_getm_notBefore(cert), 0)
            && X509_gmtime_adj(X509_getm_notAfter(cert), long(days) * 86400) && X509_set_pubkey(cert, key) == 1;
    }
    if (ok) {
        ext = X509V3_EXT_conf_nid(nullptr, nullptr, NID_basic_constraints, "CA:FALSE");
        ok = ext && X509_add_ext(cert, ext, -1) == 1 && X509_sign(cert, key, EVP_sha256()) > 0;
    }
    X509_EXTENSION_free(ext);
    X509_NAME_free(name);
    if (!ok) {
        qDebug() << "DTLS: making the certificate failed";
        X509_free(cert);
        EVP_PKEY_free(key);
        return false;
    }
    certOut = cert;
    keyOut = key;
    return true;
}

int verifyAll(int, X509_STORE_CTX*)
{
    // No answer SDP is taken, so there is no fingerprint to check the
    // browser's certificate against: any certificate is accepted.
    return 1;
}

} // namespace

const char* DtlsSocketContext::DefaultSrtpProfile = "SRTP_AES128_CM_SHA1_80";

bool DtlsSocketContext::Init()
{
    std::lock_guard<std::mutex> lock(initMutex);
    if (mCert)
        return true;
    OPENSSL_init_ssl(0, nullptr);
    return createCert(kIdentity, 365, mCert, privkey);
}

DtlsSocketContext::DtlsSocketContext()
{
    Init();
    mContext = SSL_CTX_new(DTLS_method());
    if (!mContext)
        return;
    bool ok = SSL_CTX_use_certificate(mContext, mCert) == 1 && SSL_CTX_use_PrivateKey(mContext, privkey) == 1;
    SSL_CTX_set_cipher_list(mContext, "ALL:!ADH:!LOW:!EXP:!MD5:@STRENGTH");
    SSL_CTX_set_verify(mContext, SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, verifyAll);
    SSL_CTX_set_options(mContext, SSL_OP_NO_QUERY_MTU);
    // Note the inverted result: 0 is success here.
    ok = ok && SSL_CTX_set_tlsext_use_srtp(mContext, DefaultSrtpProfile) == 0;
    SSL_CTX_set_verify_depth(mContext, 2);
    SSL_CTX_set_read_ahead(mContext, 1);
    if (!ok) {
        qDebug() << "DTLS: context set-up failed";
        SSL_CTX_free(mContext);
        mContext = nullptr;
    }
}

DtlsSocketContext::~DtlsSocketContext()
{
    if (mDtlsSocket)
        mDtlsSocket->close();
    mDtlsSocket.reset();
    SSL_CTX_free(mContext);
}

DtlsSocket* DtlsSocketContext::createServer()
{
    mDtlsSocket = std::make_unique<DtlsSocket>(this, DtlsSocket::Server);
    return mDtlsSocket.get();
}

DtlsSocket* DtlsSocketContext::createClient()
{
    mDtlsSocket = std::make_unique<DtlsSocket>(this, DtlsSocket::Client);
    return mDtlsSocket.get();
}

std::string DtlsSocketContext::getFingerprint() const
{
    char out[100] = {};
    if (mCert)
        DtlsSocket::computeFingerprint(mCert, out);
    return out;
}

DtlsSocketContext::PacketType DtlsSocketContext::demuxPacket(const unsigned char* data, unsigned int length)
{
    if (!data || length == 0)
        return unknown;
    const unsigned char b = data[0];
    if (b <= 1)
        return stun;
    if (b >= 20 && b <= 64)
        return dtls;
    if (b >= 128 && b <= 191)
        return rtp;
    return unknown;
}

void DtlsSocketContext::start()
{
    if (mDtlsSocket)
        mDtlsSocket->startClient();
}

void DtlsSocketContext::shutdown()
{
    if (mDtlsSocket)
        mDtlsSocket->shutdown();
}

bool DtlsSocketContext::read(const unsigned char* data, unsigned int length)
{
    return mDtlsSocket && mDtlsSocket->handlePacketMaybe(data, length);
}

void DtlsSocketContext::handleTimeout()
{
    if (mDtlsSocket)
        mDtlsSocket->handleTimeout();
}

void DtlsSocketContext::write(const unsigned char* data, unsigned int length)
{
    if (mDtlsReceiver)
        mDtlsReceiver->onDtlsPacket(this, data, length);
}

void DtlsSocketContext::handshakeCompleted()
{
    char fingerprint[100] = {};
    if (!mDtlsSocket->getRemoteFingerprint(fingerprint)) {
        handshakeFailed("Peer did not authenticate");
        return;
    }
    ExportedSrtpKeys keys;
    if (!mDtlsSocket->getSrtpSessionKeys(keys)) {
        handshakeFailed("SRTP key export failed");
        return;
    }
    auto base64 = [](const unsigned char* key, const unsigned char* salt) {
        unsigned char raw[30];
        std::copy(key, key + 16, raw);
        std::copy(salt, salt + 14, raw + 16);
        unsigned char text[48] = {};
        const int n = EVP_EncodeBlock(text, raw, 30);
        return std::string(reinterpret_cast<char*>(text), size_t(n));
    };
    const std::string client = base64(keys.clientMasterKey, keys.clientMasterSalt);
    const std::string server = base64(keys.serverMasterKey, keys.serverMasterSalt);
    if (mDtlsReceiver)
        mDtlsReceiver->onHandshakeCompleted(this, client, server);
}

void DtlsSocketContext::handshakeFailed(const char* error)
{
    qDebug() << "DTLS ends:" << error;
    if (mDtlsReceiver)
        mDtlsReceiver->onHandshakeFailed(this, error);
}

} // namespace dtls
