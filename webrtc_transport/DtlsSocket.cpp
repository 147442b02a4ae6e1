// One DTLS connection over memory buffers. The owner pushes each received
// datagram in, and everything OpenSSL writes in answer is cut on record
// boundaries into datagrams of at most one MTU and handed back.
#include "DtlsSocket.h"

#include "DtlsSocketContext.h"
#include "DtlsWrapBio.h"
#include "base/OpenSslErrors.h"

#include <QDebug>

#include <openssl/err.h>
#include <openssl/x509.h>

#include <cstdio>
#include <cstring>

namespace dtls {

namespace {

int acceptAnyCertificate(int, X509_STORE_CTX*)
{
    return 1;
}

constexpr size_t kRecordHeader = 13; // RFC 6347 §4.1

} // namespace

DtlsSocket::DtlsSocket(DtlsSocketContext* context, SocketType type)
    : mParentContext(context)
    , mSocketType(type)
{
    if (!context->getSSLContext())
        return;
    mSsl = SSL_new(context->getSSLContext());
    if (!mSsl)
        return;
    SSL_set_mtu(mSsl, kMtu);
    if (type == Server) {
        SSL_set_accept_state(mSsl);
        SSL_set_verify(mSsl, SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, acceptAnyCertificate);
    } else {
        SSL_set_connect_state(mSsl);
    }
    mDwrapMethod = BIO_f_dwrap();
    mReadBio = BIO_new(mDwrapMethod);
    mWriteBio = BIO_new(mDwrapMethod);
    BIO_push(mReadBio, BIO_new(BIO_s_mem()));
    BIO_push(mWriteBio, BIO_new(BIO_s_mem()));
    SSL_set_bio(mSsl, mReadBio, mWriteBio);
}

DtlsSocket::~DtlsSocket()
{
    close();
}

void DtlsSocket::close()
{
    if (mSsl) {
        SSL_shutdown(mSsl);
        SSL_free(mSsl); // frees both BIO chains
        mSsl = nullptr;
        mReadBio = mWriteBio = nullptr;
    }
    if (mDwrapMethod) {
        BIO_meth_free(mDwrapMethod);
        mDwrapMethod = nullptr;
    }
}

void DtlsSocket::shutdown()
{
    if (!mSsl || !mHandshakeCompleted)
        return;
    SSL_shutdown(mSsl);
    flushOutput();
}

void DtlsSocket::startClient()
{
    if (mSocketType != Client)
        return;
    doHandshakeIteration();
}

bool DtlsSocket::handlePacketMaybe(const unsigned char* data, unsigned int length)
{
    if (!mSsl || mFailed || DtlsSocketContext::demuxPacket(data, length) != DtlsSocketContext::dtls)
        return false;
    BIO_reset(mReadBio);
    BIO_reset(mWriteBio);
    if (BIO_write(mReadBio, data, int(length)) != int(length))
        return false;
    if (mHandshakeCompleted)
        readAfterHandshake();
    else
        doHandshakeIteration();
    return true;
}

void DtlsSocket::doHandshakeIteration()
{
    std::lock_guard<std::mutex> lock(mHandshakeMutex);
    if (mHandshakeCompleted || mFailed || !mSsl)
        return;
    ERR_clear_error();
    const int ret = SSL_do_handshake(mSsl);
    const int err = SSL_get_error(mSsl, ret);
    // The flight goes out first, so the peer has it before media follows.
    flushOutput();
    if (ret == 1) {
        mHandshakeCompleted = true;
        mParentContext->handshakeCompleted();
    } else if (err != SSL_ERROR_WANT_READ && err != SSL_ERROR_WANT_WRITE) {
        mFailed = true;
        // The queued reasons, or without any the code of SSL_get_error.
        QString reasons = drainOpenSslErrors();
        if (reasons.isEmpty()) {
            char text[256];
            ERR_error_string_n((unsigned long)err, text, sizeof text);
            reasons = QString::fromLatin1(text);
        }
        qDebug() << "DTLS: SSL error" << err;
        mParentContext->handshakeFailed(reasons.toUtf8().constData());
    }
}

void DtlsSocket::readAfterHandshake()
{
    // Records after the handshake still go through OpenSSL: a repeated
    // final flight from the peer (ours was lost) brings ours back, and a
    // close_notify or fatal alert ends the association.
    unsigned char sink[2048];
    for (;;) {
        ERR_clear_error();
        const int ret = SSL_read(mSsl, sink, sizeof sink);
        if (ret > 0)
            continue; // application data: not used
        const int err = SSL_get_error(mSsl, ret);
        flushOutput();
        if (err == SSL_ERROR_WANT_READ || err == SSL_ERROR_WANT_WRITE)
            return;
        mFailed = true;
        mParentContext->handshakeFailed(
            err == SSL_ERROR_ZERO_RETURN ? "close_notify from the peer" : "fatal DTLS alert");
        return;
    }
}

void DtlsSocket::handleTimeout()
{
    if (!mSsl || mFailed)
        return;
    if (mHandshakeCompleted && mSocketType == Server)
        return;
    const int ret = DTLSv1_handle_timeout(mSsl);
    flushOutput();
    if (ret < 0) {
        mFailed = true;
        mParentContext->handshakeFailed("DTLS retransmissions exhausted");
    }
}

void DtlsSocket::flushOutput()
{
    char* data = nullptr;
    const long len = BIO_get_mem_data(mWriteBio, &data);
    if (len <= 0 || !data)
        return;
    // Records are packed into datagrams of at most one MTU; a record is
    // never split (RFC 6347 §4.1.1).
    const unsigned char* p = reinterpret_cast<const unsigned char*>(data);
    size_t start = 0, pos = 0;
    const size_t total = size_t(len);
    while (pos < total) {
        size_t recordLen = total - pos;
        if (total - pos >= kRecordHeader)
            recordLen = std::min(total - pos, kRecordHeader + (size_t(p[pos + 11]) << 8 | p[pos + 12]));
        if (pos > start && pos + recordLen - start > size_t(kMtu)) {
            mParentContext->write(p + start, unsigned(pos - start));
            start = pos;
        }
        pos += recordLen;
    }
    if (pos > start)
        mParentContext->write(p + start, unsigned(pos - start));
    BIO_reset(mWriteBio);
}

bool DtlsSocket::getRemoteFingerprint(char* out) const
{
    if (!mSsl)
        return false;
    X509* peer = SSL_get1_peer_certificate(mSsl);
    if (!peer)
        return false;
    computeFingerprint(peer, out);
    X509_free(peer);
    return true;
}

void DtlsSocket::computeFingerprint(X509* cert, char* out)
{
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    X509_digest(cert, EVP_sha256(), md, &n);
    char* p = out;
    for (unsigned int i = 0; i < n; ++i) {
        std::sprintf(p, i + 1 < n ? "%02X:" : "%02X", md[i]);
        p += i + 1 < n ? 3 : 2;
    }
    *p = '\0';
}

void DtlsSocket::getMyCertFingerprint(char* out) const
{
    std::strcpy(out, mParentContext->getFingerprint().c_str());
}

bool DtlsSocket::getSrtpSessionKeys(ExportedSrtpKeys& keys) const
{
    if (!mHandshakeCompleted || !mSsl || !SSL_get_selected_srtp_profile(mSsl))
        return false;
    // RFC 5764 §4.2: client key, server key, client salt, server salt.
    unsigned char material[60];
    static const char label[] = "EXTRACTOR-dtls_srtp";
    if (SSL_export_keying_material(mSsl, material, sizeof material, label, sizeof label - 1, nullptr, 0, 0) != 1)
        return false;
    std::memcpy(keys.clientMasterKey, material, 16);
    std::memcpy(keys.serverMasterKey, material + 16, 16);
    std::memcpy(keys.clientMasterSalt, material + 32, 14);
    std::memcpy(keys.serverMasterSalt, material + 46, 14);
    keys.clientMasterKeyLen = keys.serverMasterKeyLen = 16;
    keys.clientMasterSaltLen = keys.serverMasterSaltLen = 14;
    return true;
}

} // namespace dtls
