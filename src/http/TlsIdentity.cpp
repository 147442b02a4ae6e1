#include "TlsIdentity.h"

#include <QFile>

// The resource file lives in the static library; its registration must be
// pulled in explicitly, and the macro may only be used outside a namespace.
static int registerTlsResources()
{
    Q_INIT_RESOURCE(tls);
    return 0;
}

const QString TlsIdentity::kCertificateResource = QStringLiteral(":/tls/server.crt");
const QString TlsIdentity::kKeyResource = QStringLiteral(":/tls/server.key");

namespace {

bool readFile(const QString& path, QByteArray* out, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot open %1: %2").arg(path, file.errorString());
        return false;
    }
    *out = file.readAll();
    return true;
}

} // namespace

TlsIdentity TlsIdentity::load(const QString& certificatePath, const QString& keyPath)
{
    static const int registered = registerTlsResources(); // once, before any path may name a resource
    Q_UNUSED(registered)
    TlsIdentity id;
    QByteArray certPem, keyPem;
    if (!readFile(certificatePath, &certPem, &id.m_error) || !readFile(keyPath, &keyPem, &id.m_error))
        return id;
    id.m_certificate = QSslCertificate(certPem, QSsl::Pem);
    if (id.m_certificate.isNull()) {
        id.m_error = QStringLiteral("%1 holds no PEM certificate").arg(certificatePath);
        return id;
    }
    id.m_key = QSslKey(keyPem, QSsl::Rsa, QSsl::Pem, QSsl::PrivateKey);
    if (id.m_key.isNull()) {
        id.m_error = QStringLiteral("%1 holds no PEM RSA private key").arg(keyPath);
        return id;
    }
    id.m_error.clear();
    return id;
}

TlsIdentity TlsIdentity::fromResources()
{
    return load(kCertificateResource, kKeyResource);
}

QSslConfiguration TlsIdentity::serverConfiguration() const
{
    QSslConfiguration conf = QSslConfiguration::defaultConfiguration();
    conf.setProtocol(QSsl::TlsV1_2OrLater);
    conf.setPeerVerifyMode(QSslSocket::VerifyNone);
    conf.setLocalCertificate(m_certificate);
    conf.setPrivateKey(m_key);
    return conf;
}
