#include "TlsIdentity.h"

#include "base/OpenSslCheck.h"

#include "base/AtomicFile.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QMutex>

#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509v3.h>

#include <memory>

// The resource file lives in the static library; its registration must be
// pulled in explicitly, and the macro may only be used outside a namespace.
static int registerTlsResources()
{
    Q_INIT_RESOURCE(tls);
    return 0;
}

const QString TlsIdentity::kCertificateResource = QStringLiteral(":/tls/server.crt");
const QString TlsIdentity::kKeyResource = QStringLiteral(":/tls/server.key");
const QString TlsIdentity::kInstallationCertificate = QStringLiteral("server.crt");
const QString TlsIdentity::kInstallationKey = QStringLiteral("server.key");

namespace {

// Same lifetime as the compiled-in certificate.
constexpr long kValidDays = 3650;

template <typename T, void (*Free)(T*)> struct Deleter {
    void operator()(T* p) const { Free(p); }
};
using PKey = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using X509Ptr = std::unique_ptr<X509, Deleter<X509, X509_free>>;
using Bio = std::unique_ptr<BIO, Deleter<BIO, BIO_free_all>>;
using Names = std::unique_ptr<GENERAL_NAMES, Deleter<GENERAL_NAMES, GENERAL_NAMES_free>>;
using Extension = std::unique_ptr<X509_EXTENSION, Deleter<X509_EXTENSION, X509_EXTENSION_free>>;

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

// Written owner-only (it may be a private key) and atomically: a crash
// leaves the old file or none, never half of one.
bool writeOwnerOnly(const QString& path, const QByteArray& bytes, QString* error)
{
    QString why;
    if (AtomicFile::write(path, bytes, &why, AtomicFile::Access::OwnerOnly))
        return true;
    *error = QStringLiteral("cannot write %1: %2").arg(path, why);
    return false;
}

QByteArray bioBytes(BIO* bio)
{
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    return QByteArray(data, int(size));
}

bool addExtension(X509* cert, int nid, const char* value)
{
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, cert, cert, nullptr, nullptr, 0);
    const Extension ext(X509V3_EXT_conf_nid(nullptr, &ctx, nid, value));
    return ext && OpenSslCheck::ok(X509_add_ext(cert, ext.get(), -1), "X509_add_ext");
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
    for (const QSsl::KeyAlgorithm algorithm : { QSsl::Ec, QSsl::Rsa }) {
        id.m_key = QSslKey(keyPem, algorithm, QSsl::Pem, QSsl::PrivateKey);
        if (!id.m_key.isNull())
            break;
    }
    if (id.m_key.isNull()) {
        id.m_error = QStringLiteral("%1 holds no PEM private key").arg(keyPath);
        return id;
    }
    id.m_error.clear();
    return id;
}

TlsIdentity TlsIdentity::fromResources()
{
    return load(kCertificateResource, kKeyResource);
}

TlsIdentity TlsIdentity::forInstallation(const QString& folder)
{
    // The HTTPS thread and the WebSocket server ask at about the same time
    // at start-up; one of them makes the files, the other gets the same.
    static QMutex mutex;
    static QHash<QString, TlsIdentity> made;
    QMutexLocker lock(&mutex);
    const auto known = made.constFind(folder);
    if (known != made.constEnd())
        return *known;

    const QDir dir(folder);
    TlsIdentity id = load(dir.filePath(kInstallationCertificate), dir.filePath(kInstallationKey));
    if (!id.isValid()) {
        QString error;
        id = generate(folder, &error);
        if (id.isValid()) {
            qInfo().noquote() << "[tls] made this installation's key and certificate in" << folder;
        } else {
            qCritical().noquote() << "[tls] cannot make this installation's key and certificate (" << error
                                  << "); serving with the built-in identity, which every copy of the program shares";
            id = fromResources();
        }
    }
    made.insert(folder, id);
    return id;
}

TlsIdentity TlsIdentity::generate(const QString& folder, QString* error)
{
    TlsIdentity id;
    // The names (subject and alternative names) come from the built-in
    // certificate, so that clients that accepted it find the same names.
    QByteArray builtInPem;
    if (!readFile(kCertificateResource, &builtInPem, error))
        return id;
    const Bio builtInBio(BIO_new_mem_buf(builtInPem.constData(), builtInPem.size()));
    const X509Ptr builtIn(PEM_read_bio_X509(builtInBio.get(), nullptr, nullptr, nullptr));
    const PKey key(EVP_EC_gen("P-256"));
    const X509Ptr cert(X509_new());
    if (!builtIn || !key || !cert) {
        *error = QStringLiteral("the built-in certificate or a new P-256 key could not be made");
        return id;
    }
    const Names altNames(
        static_cast<GENERAL_NAMES*>(X509_get_ext_d2i(builtIn.get(), NID_subject_alt_name, nullptr, nullptr)));
    unsigned char serial[16];
    const bool made = OpenSslCheck::ok(RAND_bytes(serial, sizeof serial), "RAND_bytes")
        && OpenSslCheck::ok(X509_set_version(cert.get(), X509_VERSION_3), "X509_set_version") &&
        [&] {
            serial[0] &= 0x7f; // a positive serial number
            BIGNUM* bn = BN_bin2bn(serial, sizeof serial, nullptr);
            const bool set = bn && BN_to_ASN1_INTEGER(bn, X509_get_serialNumber(cert.get()));
            BN_free(bn);
            return set;
        }()
        && X509_gmtime_adj(X509_getm_notBefore(cert.get()), 0)
        && X509_time_adj_ex(X509_getm_notAfter(cert.get()), kValidDays, 0, nullptr)
        && OpenSslCheck::ok(X509_set_subject_name(cert.get(), X509_get_subject_name(builtIn.get())), "subject")
        && OpenSslCheck::ok(X509_set_issuer_name(cert.get(), X509_get_subject_name(builtIn.get())), "issuer")
        && OpenSslCheck::ok(X509_set_pubkey(cert.get(), key.get()), "X509_set_pubkey")
        && (!altNames
            || OpenSslCheck::ok(X509_add1_ext_i2d(cert.get(), NID_subject_alt_name, altNames.get(), 0, 0), "names"))
        && addExtension(cert.get(), NID_basic_constraints, "critical,CA:FALSE")
        && addExtension(cert.get(), NID_ext_key_usage, "serverAuth")
        && addExtension(cert.get(), NID_subject_key_identifier, "hash")
        && X509_sign(cert.get(), key.get(), EVP_sha256()) > 0;
    const Bio keyBio(BIO_new(BIO_s_mem()));
    const Bio certBio(BIO_new(BIO_s_mem()));
    if (!made || !keyBio || !certBio
        || !OpenSslCheck::ok(
            PEM_write_bio_PrivateKey(keyBio.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr), "key PEM")
        || !OpenSslCheck::ok(PEM_write_bio_X509(certBio.get(), cert.get()), "certificate PEM")) {
        *error = QStringLiteral("the certificate could not be made");
        return id;
    }
    const QDir dir(folder);
    // The key first: a certificate without its key is never left behind.
    if (!QDir().mkpath(folder) || !writeOwnerOnly(dir.filePath(kInstallationKey), bioBytes(keyBio.get()), error)
        || !writeOwnerOnly(dir.filePath(kInstallationCertificate), bioBytes(certBio.get()), error)) {
        if (error->isEmpty())
            *error = QStringLiteral("cannot make the folder %1").arg(folder);
        return id;
    }
    id = load(dir.filePath(kInstallationCertificate), dir.filePath(kInstallationKey));
    if (!id.isValid())
        *error = id.error();
    return id;
}
