#include "secrets.h"

#include <sodium.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// OWASP's minimum for Argon2id: 19 MiB of memory, 2 iterations.
const unsigned long long g_nOpsLimit = 2;
const size_t g_nMemLimit = 19 * 1024 * 1024;

QByteArray g_baDummyHash;

// Each hash takes 19 MiB and a core for a moment: a burst of logins must neither
// multiply that by the number of request threads nor occupy those threads, nor take the
// cores that every other request needs: hashes use at most half of them.
const int g_nMaxHashes = std::max(1, std::min(8, int(std::thread::hardware_concurrency()) / 2));
const int g_nMaxWaiting = std::max(4, 2 * g_nMaxHashes);
const auto g_waitLimit = std::chrono::seconds(5);
std::mutex g_mutexHashes;
std::condition_variable g_condHashes;
int g_nHashes = 0;
int g_nWaiting = 0;

class CHashSlot
{
public:
    CHashSlot()
    {
        std::unique_lock<std::mutex> lock(g_mutexHashes);
        if (g_nHashes < g_nMaxHashes) {
            ++g_nHashes;
            m_bHeld = true;
            return;
        }
        if (g_nWaiting >= g_nMaxWaiting)
            return;
        ++g_nWaiting;
        m_bHeld = g_condHashes.wait_for(lock, g_waitLimit, [] { return g_nHashes < g_nMaxHashes; });
        --g_nWaiting;
        if (m_bHeld)
            ++g_nHashes;
    }
    ~CHashSlot()
    {
        if (!m_bHeld)
            return;
        {
            std::lock_guard<std::mutex> lock(g_mutexHashes);
            --g_nHashes;
        }
        g_condHashes.notify_one();
    }
    CHashSlot(const CHashSlot &) = delete;
    CHashSlot &operator=(const CHashSlot &) = delete;
    bool held() const { return m_bHeld; }

private:
    bool m_bHeld = false;
};

// Runs a hash on a thread of its own at a lower priority (nice 5): when the cores are
// scarce, the scheduler gives the other requests' threads about three times a hash's
// share, so that a flood of logins slows the logins first. (A thread cannot raise its
// priority again without privileges, so the request thread itself is not lowered.)
template<typename Result, typename Work>
Result atLowPriority(Work work)
{
    Result result{};
    try {
        std::thread thread([&result, &work] {
            setpriority(PRIO_PROCESS, id_t(syscall(SYS_gettid)), 5);
            result = work();
        });
        thread.join();
    } catch (const std::system_error &) {
        // No thread to be had: the hash runs here, at the request's priority.
        result = work();
    }
    return result;
}

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
    if (!slot.held())
        return QByteArray();
    if (atLowPriority<int>([&] {
            return crypto_pwhash_str(szHash,
                                     baPassword.constData(),
                                     size_t(baPassword.size()),
                                     g_nOpsLimit,
                                     g_nMemLimit);
        })
        != 0)
        return QByteArray();
    return QByteArray(szHash);
}

Secrets::Check Secrets::verifyPassword(const QByteArray &baHash, const QByteArray &baPassword)
{
    if (baHash.isEmpty())
        return Check::Mismatch;
    CHashSlot slot;
    if (!slot.held())
        return Check::Busy;
    return atLowPriority<int>([&] {
               return crypto_pwhash_str_verify(baHash.constData(),
                                               baPassword.constData(),
                                               size_t(baPassword.size()));
           }) == 0
               ? Check::Match
               : Check::Mismatch;
}

Secrets::Check Secrets::verifyNothing(const QByteArray &baPassword)
{
    return verifyPassword(g_baDummyHash, baPassword) == Check::Busy ? Check::Busy : Check::Mismatch;
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
