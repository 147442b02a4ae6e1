#include "Credentials.h"

#include "base/OpenSslCheck.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QRegularExpression>

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

namespace Credentials {

namespace {

constexpr int kSaltBytes = 16;
constexpr int kKeyBytes = 32;
constexpr int kTokenBytes = 16;
// A stored count above this is not ours; refusing it keeps a tampered row
// from tying up the request thread.
constexpr int kMaxIterations = 10000000;
const QString kScheme = QStringLiteral("pbkdf2-sha256");
thread_local long long roundsRun = 0;

QByteArray randomBytes(int n)
{
    QByteArray bytes(n, '\0');
    if (!OpenSslCheck::ok(RAND_bytes(reinterpret_cast<unsigned char*>(bytes.data()), n), "RAND_bytes"))
        return QByteArray();
    return bytes;
}

QByteArray deriveKey(const QString& password, const QByteArray& salt, int iterations, int length)
{
    const QByteArray secret = password.toUtf8();
    QByteArray key(length, '\0');
    roundsRun += iterations;
    const int rc
        = PKCS5_PBKDF2_HMAC(secret.constData(), secret.size(), reinterpret_cast<const unsigned char*>(salt.constData()),
            salt.size(), iterations, EVP_sha256(), length, reinterpret_cast<unsigned char*>(key.data()));
    if (!OpenSslCheck::ok(rc, "PKCS5_PBKDF2_HMAC"))
        return QByteArray();
    return key;
}

bool sameBytes(const QByteArray& a, const QByteArray& b)
{
    return a.size() == b.size() && !a.isEmpty() && CRYPTO_memcmp(a.constData(), b.constData(), size_t(a.size())) == 0;
}

const QRegularExpression& hashPattern()
{
    static const QRegularExpression re(
        QStringLiteral("^pbkdf2-sha256\\$([1-9][0-9]{0,7})\\$([0-9a-f]{32})\\$([0-9a-f]{64})$"));
    return re;
}

} // namespace

QString hashPassword(const QString& password)
{
    const QByteArray salt = randomBytes(kSaltBytes);
    if (salt.isEmpty())
        return QString();
    const QByteArray key = deriveKey(password, salt, kIterations, kKeyBytes);
    if (key.isEmpty())
        return QString();
    return QStringLiteral("%1$%2$%3$%4")
        .arg(kScheme)
        .arg(kIterations)
        .arg(QString::fromLatin1(salt.toHex()), QString::fromLatin1(key.toHex()));
}

long long roundsOnThisThread()
{
    return roundsRun;
}

bool isPasswordHash(const QString& stored)
{
    return hashPattern().match(stored).hasMatch();
}

bool verifyPassword(const QString& password, const QString& stored)
{
    const QRegularExpressionMatch m = hashPattern().match(stored);
    if (!m.hasMatch())
        return false;
    const int iterations = m.captured(1).toInt();
    if (iterations > kMaxIterations)
        return false;
    const QByteArray salt = QByteArray::fromHex(m.captured(2).toLatin1());
    const QByteArray expected = QByteArray::fromHex(m.captured(3).toLatin1());
    return sameBytes(deriveKey(password, salt, iterations, expected.size()), expected);
}

QString newToken()
{
    return QString::fromLatin1(randomBytes(kTokenBytes).toHex());
}

QString tokenDigest(const QString& token)
{
    return QString::fromLatin1(QCryptographicHash::hash(token.toUtf8(), QCryptographicHash::Sha256).toHex());
}

bool isTokenDigest(const QString& stored)
{
    // 64 lower-case hex digits; checked on every request, so by hand.
    if (stored.size() != 64)
        return false;
    for (const QChar c : stored) {
        if (!((c >= QLatin1Char('0') && c <= QLatin1Char('9')) || (c >= QLatin1Char('a') && c <= QLatin1Char('f'))))
            return false;
    }
    return true;
}

bool tokenMatches(const QString& token, const QString& storedDigest)
{
    if (token.isEmpty() || !isTokenDigest(storedDigest))
        return false;
    return sameBytes(tokenDigest(token).toLatin1(), storedDigest.toLatin1());
}

} // namespace Credentials
