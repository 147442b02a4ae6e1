#include "TlsServerContext.h"

#include "base/OpenSslCheck.h"

#include <openssl/pem.h>
#include <openssl/ssl.h>

namespace {

// TLS 1.2: an ephemeral key exchange and an AEAD cipher only; no CBC
// (padding oracles), no static RSA key exchange (no forward secrecy), no
// pre-shared keys. TLS 1.3 keeps the library's suites, which are all so.
const char* const kTls12Suites = "ECDHE+AESGCM:ECDHE+CHACHA20:!PSK:!aNULL";
// Session ids are only taken back on contexts with this name.
const unsigned char kSessionContext[] = "panoptra-server";

} // namespace

TlsServerContext::~TlsServerContext()
{
    SSL_CTX_free(m_ctx);
}

bool TlsServerContext::build(const TlsIdentity& identity)
{
    SSL_CTX_free(m_ctx);
    m_ctx = nullptr;
    if (!identity.isValid()) {
        m_error = identity.error();
        return false;
    }
    SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
    const QByteArray certPem = identity.certificate().toPem();
    const QByteArray keyPem = identity.privateKey().toPem();
    BIO* certBio = BIO_new_mem_buf(certPem.constData(), certPem.size());
    BIO* keyBio = BIO_new_mem_buf(keyPem.constData(), keyPem.size());
    X509* cert = PEM_read_bio_X509(certBio, nullptr, nullptr, nullptr);
    EVP_PKEY* key = PEM_read_bio_PrivateKey(keyBio, nullptr, nullptr, nullptr);
    const bool ok = ctx && cert && key
        && OpenSslCheck::ok(SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION), "minimum TLS version")
        && OpenSslCheck::ok(SSL_CTX_set_cipher_list(ctx, kTls12Suites), "TLS 1.2 suites")
        && OpenSslCheck::ok(SSL_CTX_use_certificate(ctx, cert), "certificate")
        && OpenSslCheck::ok(SSL_CTX_use_PrivateKey(ctx, key), "private key")
        && OpenSslCheck::ok(SSL_CTX_check_private_key(ctx), "key matches certificate")
        && OpenSslCheck::ok(
            SSL_CTX_set_session_id_context(ctx, kSessionContext, sizeof kSessionContext - 1), "session id context")
        // One ticket is enough for the next connection of a client; the
        // default two cost a second encryption on every handshake.
        && OpenSslCheck::ok(SSL_CTX_set_num_tickets(ctx, 1), "tickets");
    X509_free(cert);
    EVP_PKEY_free(key);
    BIO_free(certBio);
    BIO_free(keyBio);
    if (!ok) {
        SSL_CTX_free(ctx);
        m_error = QStringLiteral("OpenSSL refused the TLS identity or settings (see the log)");
        return false;
    }
    SSL_CTX_set_options(ctx, SSL_OP_NO_RENEGOTIATION | SSL_OP_CIPHER_SERVER_PREFERENCE | SSL_OP_NO_COMPRESSION);
    SSL_CTX_set_mode(ctx, SSL_MODE_RELEASE_BUFFERS);
    SSL_CTX_set_verify(ctx, SSL_VERIFY_NONE, nullptr);
    SSL_CTX_set_session_cache_mode(ctx, SSL_SESS_CACHE_SERVER);
    SSL_CTX_sess_set_cache_size(ctx, 4096); // sessions of TLS 1.2 clients without tickets; bounded
    m_ctx = ctx;
    m_error.clear();
    return true;
}
