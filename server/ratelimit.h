#ifndef RATELIMIT_H
#define RATELIMIT_H

#include <QString>

#include <atomic>

class CServerDb;
class QSqlQuery;

// Counters of attempts per kind and key (a client address, an address and a name),
// kept in the database so that every instance on one database counts together.
// Taking an attempt and learning whether it is allowed is one statement, so that
// parallel requests cannot all slip under the limit.
class CRateLimit
{
public:
    enum class Take { Allowed, Refused, Failed };

    explicit CRateLimit(CServerDb &db);

    // Counts one attempt. Refused when more than nLimit attempts came within the
    // window; each refused attempt starts the window again, so a client that keeps
    // trying stays refused until it has paused for nWindow seconds.
    Take take(QSqlQuery &query,
              const QString &strKind,
              const QString &strKey,
              int nLimit,
              qint64 nWindow);
    // Takes back one attempt (a success that should not count).
    void refund(QSqlQuery &query, const QString &strKind, const QString &strKey);
    // Forgets every attempt of the key.
    void clear(QSqlQuery &query, const QString &strKind, const QString &strKey);

private:
    // Counters older than a day; at most once a minute.
    void sweep(QSqlQuery &query, qint64 nNow);

    CServerDb &m_db;
    std::atomic<qint64> m_nLastSweep{0};
};

#endif // RATELIMIT_H
