#include "api/Credentials.h"

#include <gtest/gtest.h>

#include <QRegularExpression>

TEST(Credentials, PasswordHashesAreSaltedAndVerify)
{
    const QString a = Credentials::hashPassword("s3cret");
    const QString b = Credentials::hashPassword("s3cret");
    EXPECT_NE(a, b); // a fresh salt every time
    EXPECT_FALSE(a.contains("s3cret"));
    for (const QString& stored : { a, b }) {
        EXPECT_TRUE(Credentials::isPasswordHash(stored));
        EXPECT_TRUE(Credentials::verifyPassword("s3cret", stored));
        EXPECT_FALSE(Credentials::verifyPassword("s3cret ", stored));
        EXPECT_FALSE(Credentials::verifyPassword("", stored));
    }
    EXPECT_TRUE(Credentials::verifyPassword("密码", Credentials::hashPassword("密码")));

    // Anything not in our stored form never verifies, the plain password included.
    QString flipped = a;
    flipped[flipped.size() - 1] = flipped.endsWith('0') ? '1' : '0';
    const QString lessWork = QString(a).replace(QRegularExpression("\\$\\d+\\$"), "$1$");
    const QString hugeWork = QString(a).replace(QRegularExpression("\\$\\d+\\$"), "$99999999$");
    for (const QString& stored : { QString("s3cret"), QString(), flipped, lessWork, hugeWork, a.toUpper() }) {
        SCOPED_TRACE(stored.toStdString());
        EXPECT_FALSE(Credentials::verifyPassword("s3cret", stored));
    }
}

TEST(Credentials, TokensAreRandomAndStoredAsDigests)
{
    const QString token = Credentials::newToken();
    EXPECT_TRUE(QRegularExpression("^[0-9a-f]{32}$").match(token).hasMatch()) << token.toStdString();
    EXPECT_NE(Credentials::newToken(), token);
    const QString digest = Credentials::tokenDigest(token);
    EXPECT_TRUE(Credentials::isTokenDigest(digest));
    for (const QString& other : { digest.toUpper(), digest.left(63), digest + "0", QString(digest).replace(0, 1, "g"),
             QString(digest).replace(63, 1, " "), QString() })
        EXPECT_FALSE(Credentials::isTokenDigest(other)) << other.toStdString();
    EXPECT_FALSE(digest.contains(token));
    EXPECT_TRUE(Credentials::tokenMatches(token, digest));
    EXPECT_FALSE(Credentials::tokenMatches(Credentials::newToken(), digest));
    EXPECT_FALSE(Credentials::tokenMatches(token, token)); // a plain token is not a stored digest
    EXPECT_FALSE(Credentials::tokenMatches(QString(), Credentials::tokenDigest(QString())));
}
