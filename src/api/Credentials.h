#pragma once
// How passwords and session tokens are kept in the users database.
//
// Passwords are stored as salted PBKDF2-HMAC-SHA256 in one text field:
//     pbkdf2-sha256$<iterations>$<salt, 32 hex>$<key, 64 hex>
// so the cost can be raised later without breaking stored rows. A session
// token is 16 random bytes written as 32 lower-case hex characters; only
// its SHA-256 (64 hex) is stored, so a copy of the database opens no
// session. Every comparison of secrets takes the same time whatever the
// bytes. Pure functions, callable from any thread.
#include <QString>

namespace Credentials {

// Iterations used for new hashes.
constexpr int kIterations = 100000;

// A new salted hash of password; empty if the random source failed.
QString hashPassword(const QString& password);
// Whether password matches stored, which must be a hash made above; a
// stored text in any other form never matches.
bool verifyPassword(const QString& password, const QString& stored);
// Whether stored has the form of a hash made above (anything else is taken
// as a password still in plain text).
bool isPasswordHash(const QString& stored);
// Key-derivation rounds run so far on the calling thread (hashing and
// checking alike): what a login costs, counted rather than timed.
long long roundsOnThisThread();

// A new session token; empty if the random source failed.
QString newToken();
// The stored form of a token.
QString tokenDigest(const QString& token);
bool isTokenDigest(const QString& stored);
// Whether token is the one whose digest is stored.
bool tokenMatches(const QString& token, const QString& storedDigest);

} // namespace Credentials
