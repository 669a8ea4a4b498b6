#ifndef SECRETS_H
#define SECRETS_H

#include <QByteArray>

// Password hashes and login tokens, through libsodium.
namespace Secrets {

// Must be called once before anything else here; false when libsodium cannot start.
bool init();

// Hashing takes a slot of a few (one per core, at least two), 19 MiB and tens of
// milliseconds each. Only a few requests may wait for a slot, and only a short
// while: the others get Busy at once rather than hold a request thread that other
// users' requests need.
enum class Check { Match, Mismatch, Busy };

// Argon2id with salt and parameters in the returned text (crypto_pwhash_str format).
// Empty when the hash could not be computed (busy, out of memory).
QByteArray hashPassword(const QByteArray &baPassword);
Check verifyPassword(const QByteArray &baHash, const QByteArray &baPassword);
// Spends the time of one verification, so that an unknown name answers as slowly
// as a wrong password: Mismatch, or Busy.
Check verifyNothing(const QByteArray &baPassword);

// 256 random bits from the system's generator, as 64 lower-case hex digits.
QByteArray newToken();
// Lower-case hex SHA-256 of a token: what the database keeps.
QByteArray tokenDigest(const QByteArray &baToken);

} // namespace Secrets

#endif // SECRETS_H
