#pragma once
// The certificate and private key a TLS server presents.
//
// A plain value, loaded once by the server that uses it (the HTTPS server on
// its thread, the WebSocket server on its own). The application's identity
// is compiled into the library as the resources ":/tls/server.crt" and
// ":/tls/server.key" (PEM, the key without pass phrase).
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QString>

class TlsIdentity {
public:
    static const QString kCertificateResource;
    static const QString kKeyResource;

    // Reads a PEM certificate and a PEM RSA private key. On failure the
    // identity is invalid and error() says which file and why.
    static TlsIdentity load(const QString& certificatePath, const QString& keyPath);
    // The compiled-in identity of the application.
    static TlsIdentity fromResources();

    bool isValid() const { return m_error.isEmpty(); }
    QString error() const { return m_error; }
    QSslCertificate certificate() const { return m_certificate; }
    QSslKey privateKey() const { return m_key; }

    // Server side: this identity, TLS 1.2 or later, no client certificate
    // asked for.
    QSslConfiguration serverConfiguration() const;

private:
    QSslCertificate m_certificate;
    QSslKey m_key;
    QString m_error = QStringLiteral("not loaded");
};
