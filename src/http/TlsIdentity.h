#pragma once
// The certificate and private key a TLS server presents.
//
// A plain value, loaded once by the server that uses it (the HTTPS server on
// its thread, the WebSocket server on its own). The build's identity is
// compiled into the library as the resources ":/tls/server.crt" and
// ":/tls/server.key" (PEM, the key without pass phrase); it is the same in
// every copy of the program, so each installation makes its own key pair at
// first start (forInstallation) and the compiled-in one only stands in when
// that fails.
#include <QSslCertificate>
#include <QSslKey>
#include <QString>

class TlsIdentity {
public:
    static const QString kCertificateResource;
    static const QString kKeyResource;
    // File names of the installation's own identity in the settings folder.
    static const QString kInstallationCertificate;
    static const QString kInstallationKey;

    // Reads a PEM certificate and a PEM private key (RSA or EC). On failure
    // the identity is invalid and error() says which file and why.
    static TlsIdentity load(const QString& certificatePath, const QString& keyPath);
    // The compiled-in identity of the application.
    static TlsIdentity fromResources();
    // The installation's identity kept in folder: read when it is there,
    // otherwise made (an ECDSA P-256 key and a self-signed certificate with
    // the compiled-in certificate's names) and written owner-only and
    // atomically. When neither works the compiled-in identity is returned
    // and the reason logged. Thread-safe; both servers of a process get the
    // same identity for the same folder.
    static TlsIdentity forInstallation(const QString& folder);

    bool isValid() const { return m_error.isEmpty(); }
    QString error() const { return m_error; }
    QSslCertificate certificate() const { return m_certificate; }
    QSslKey privateKey() const { return m_key; }

private:
    // Makes a new key pair and certificate named like the compiled-in one
    // and writes them into folder.
    static TlsIdentity generate(const QString& folder, QString* error);

    QSslCertificate m_certificate;
    QSslKey m_key;
    QString m_error = QStringLiteral("not loaded");
};
