#include "ratelimit.h"

#include "serverdb.h"
#include "validation.h"

#include <QSqlQuery>
#include <QVariant>

CRateLimit::CRateLimit(CServerDb &db)
    : m_db(db)
{}

CRateLimit::Take CRateLimit::take(
    QSqlQuery &query, const QString &strKind, const QString &strKey, int nLimit, qint64 nWindow)
{
    const qint64 nNow = Validation::nowSecs();
    sweep(query, nNow);
    // Every SET expression sees the row as it was; PostgreSQL holds the row's lock and
    // SQLite the database's for the statement, so parallel attempts count one by one.
    qint64 nHits = 0;
    if (!m_db.execReturning(
            query,
            QStringLiteral("INSERT INTO rate_limit (kind, key, window_start, hits)"
                           " VALUES (?, ?, ?, 1) ON CONFLICT (kind, key) DO UPDATE SET"
                           " hits = CASE WHEN rate_limit.window_start <= ? THEN 1"
                           " ELSE rate_limit.hits + 1 END,"
                           " window_start = CASE WHEN rate_limit.window_start <= ? THEN ?"
                           " WHEN rate_limit.hits >= ? THEN ?"
                           " ELSE rate_limit.window_start END"
                           " RETURNING hits"),
            {strKind, strKey, nNow, nNow - nWindow, nNow - nWindow, nNow, nLimit, nNow},
            nHits)
        || nHits <= 0)
        return Take::Failed;
    return nHits <= nLimit ? Take::Allowed : Take::Refused;
}

void CRateLimit::refund(QSqlQuery &query, const QString &strKind, const QString &strKey)
{
    m_db.execQuery(query,
                   QStringLiteral("UPDATE rate_limit SET hits = hits - 1"
                                  " WHERE kind = ? AND key = ? AND hits > 0"),
                   {strKind, strKey});
}

void CRateLimit::clear(QSqlQuery &query, const QString &strKind, const QString &strKey)
{
    m_db.execQuery(query,
                   QStringLiteral("DELETE FROM rate_limit WHERE kind = ? AND key = ?"),
                   {strKind, strKey});
}

void CRateLimit::sweep(QSqlQuery &query, qint64 nNow)
{
    qint64 nLast = m_nLastSweep;
    if (nNow - nLast < 60 || !m_nLastSweep.compare_exchange_strong(nLast, nNow))
        return;
    m_db.execQuery(query,
                   QStringLiteral("DELETE FROM rate_limit WHERE window_start < ?"),
                   {nNow - 86400});
}
