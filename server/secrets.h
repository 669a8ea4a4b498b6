#ifndef SECRETS_H
#define SECRETS_H

#include <QByteArray>

// Password hashes and login tokens, through libsodium.
namespace Secrets {

// Must be called once before anything else here; false when libsodium cannot start.
bool init();

// Argon2id with salt and parameters in the returned text (crypto_pwhash_str format).
// Empty when the hash could not be computed (out of memory).
QByteArray hashPassword(const QByteArray &baPassword);
bool verifyPassword(const QByteArray &baHash, const QByteArray &baPassword);
// Spends the time of one verification, so that an unknown name answers as slowly
// as a wrong password.
void verifyNothing(const QByteArray &baPassword);

// 256 random bits from the system's generator, as 64 lower-case hex digits.
QByteArray newToken();
// Lower-case hex SHA-256 of a token: what the database keeps.
QByteArray tokenDigest(const QByteArray &baToken);

} // namespace Secrets

#endif // SECRETS_H
