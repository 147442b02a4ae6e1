#pragma once
// The TLS settings one server shares between all its connections: one
// OpenSSL context with the identity, the protocol and suite policy, the
// session cache and the session-ticket keys.
//
// Owned by the server (HttpServer, WebSocketServer) and built once when it
// starts listening; connections hold the context through their own TLS
// state (OpenSSL counts the references), so it may go before they do. Its
// OpenSSL context is safe to use from any thread.
//
// Because it is one context, a client's session ticket or session id made
// on one connection is accepted on the next, which saves the key exchange
// and the signature, most of what a new connection costs.
#include "TlsIdentity.h"

#include <QString>

typedef struct ssl_ctx_st SSL_CTX;

class TlsServerContext {
public:
    TlsServerContext() = default;
    ~TlsServerContext();
    TlsServerContext(const TlsServerContext&) = delete;
    TlsServerContext& operator=(const TlsServerContext&) = delete;

    // Builds the context for identity; false, with error() set, when
    // OpenSSL refuses the identity or the settings.
    bool build(const TlsIdentity& identity);
    bool isValid() const { return m_ctx != nullptr; }
    QString error() const { return m_error; }
    SSL_CTX* handle() const { return m_ctx; }

private:
    SSL_CTX* m_ctx = nullptr;
    QString m_error;
};
