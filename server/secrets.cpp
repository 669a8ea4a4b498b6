#include "secrets.h"

#include <sodium.h>

#include <condition_variable>
#include <mutex>

namespace {

// OWASP's minimum for Argon2id: 19 MiB of memory, 2 iterations.
const unsigned long long g_nOpsLimit = 2;
const size_t g_nMemLimit = 19 * 1024 * 1024;

QByteArray g_baDummyHash;

// Each hash takes 19 MiB for a moment: a burst of logins must not multiply that by
// the number of request threads.
const int g_nMaxHashes = 4;
std::mutex g_mutexHashes;
std::condition_variable g_condHashes;
int g_nHashes = 0;

class CHashSlot
{
public:
    CHashSlot()
    {
        std::unique_lock<std::mutex> lock(g_mutexHashes);
        g_condHashes.wait(lock, [] { return g_nHashes < g_nMaxHashes; });
        ++g_nHashes;
    }
    ~CHashSlot()
    {
        {
            std::lock_guard<std::mutex> lock(g_mutexHashes);
            --g_nHashes;
        }
        g_condHashes.notify_one();
    }
    CHashSlot(const CHashSlot &) = delete;
    CHashSlot &operator=(const CHashSlot &) = delete;
};

QByteArray toHex(const unsigned char *pData, size_t nSize)
{
    return QByteArray(reinterpret_cast<const char *>(pData), int(nSize)).toHex();
}

} // namespace

bool Secrets::init()
{
    if (sodium_init() < 0)
        return false;
    g_baDummyHash = hashPassword(QByteArrayLiteral("no such user"));
    return !g_baDummyHash.isEmpty();
}

QByteArray Secrets::hashPassword(const QByteArray &baPassword)
{
    char szHash[crypto_pwhash_STRBYTES];
    CHashSlot slot;
    if (crypto_pwhash_str(szHash,
                          baPassword.constData(),
                          size_t(baPassword.size()),
                          g_nOpsLimit,
                          g_nMemLimit)
        != 0)
        return QByteArray();
    return QByteArray(szHash);
}

bool Secrets::verifyPassword(const QByteArray &baHash, const QByteArray &baPassword)
{
    if (baHash.isEmpty())
        return false;
    CHashSlot slot;
    return crypto_pwhash_str_verify(baHash.constData(),
                                    baPassword.constData(),
                                    size_t(baPassword.size()))
           == 0;
}

void Secrets::verifyNothing(const QByteArray &baPassword)
{
    verifyPassword(g_baDummyHash, baPassword);
}

QByteArray Secrets::newToken()
{
    unsigned char aBytes[32];
    randombytes_buf(aBytes, sizeof aBytes);
    const QByteArray baToken = toHex(aBytes, sizeof aBytes);
    sodium_memzero(aBytes, sizeof aBytes);
    return baToken;
}

QByteArray Secrets::tokenDigest(const QByteArray &baToken)
{
    unsigned char aDigest[crypto_hash_sha256_BYTES];
    crypto_hash_sha256(aDigest,
                       reinterpret_cast<const unsigned char *>(baToken.constData()),
                       size_t(baToken.size()));
    return toHex(aDigest, sizeof aDigest);
}
