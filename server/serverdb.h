#ifndef SERVERDB_H
#define SERVERDB_H

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <QVariantList>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

// The service's database: SQLite or PostgreSQL, one connection per request thread.
// Everything the service knows lives here, so that several instances can share one
// PostgreSQL database.
class CServerDb
{
public:
    // nWalLimit: the size at which SQLite's write-ahead log is emptied into the
    // database file at once, whatever the readers do.
    explicit CServerDb(const QString &strUrl, qint64 nWalLimit = 16 * 1024 * 1024);
    ~CServerDb();
    CServerDb(const CServerDb &) = delete;
    CServerDb &operator=(const CServerDb &) = delete;

    // Checks the URL, connects once and creates the tables that are missing.
    bool open(QString &strError);

    bool isPostgres() const { return m_bPostgres; }
    // A short description without the password, for the log.
    QString describe() const;

    // The calling thread's connection, opened on first use. Not open when the
    // database cannot be reached; strError then says why.
    QSqlDatabase connection(QString &strError);
    // A statement prepared once per thread and connection, ready for new bound values.
    QSqlQuery preparedQuery(const QString &strSql, bool &bOk);
    // Ends the result sets of the calling thread's statements (SQLite keeps a read
    // transaction open while a result set is active).
    void finishQueries();
    // Drops the calling thread's connection at its next use, so that it reconnects.
    void dropConnectionLater();

    // Runs a statement of this thread's cache; query then shares it. Writes on SQLite
    // queue on one mutex.
    // bOneOff: a statement of its own, released with query, for answers with large
    // rows (a cached statement keeps its last row and its bound values). Statements
    // with a large bound value are always one-off.
    bool execQuery(QSqlQuery &query,
                   const QString &strSql,
                   const QVariantList &lstBind,
                   bool bOneOff = false);
    // Runs a write ending in "RETURNING id" and ends it at once, so that SQLite's write
    // lock is not held past the statement. nId is 0 when no row was written.
    bool execReturning(QSqlQuery &query,
                       const QString &strSql,
                       const QVariantList &lstBind,
                       qint64 &nId);

    // Runs one statement of a schema step on query; its error into strError.
    static bool execStep(QSqlQuery &query, const QString &strSql, QString &strError);
    // Runs the statements of a schema step in one transaction: other connections see all
    // of them or none (a trigger replaced on PostgreSQL is never missing in between).
    static bool execSteps(QSqlDatabase &db, const QStringList &lstSql, QString &strError);

private:
    QSqlQuery statement(const QString &strSql, const QVariantList &lstBind, bool bOneOff, bool &bOk);
    bool createSchema(QSqlDatabase &db, QString &strError);
    bool keepTimesInUtc(QSqlDatabase &db, QString &strError);
    bool uuidsPerAccount(QSqlDatabase &db, QString &strError);
    bool normalUuids(QSqlDatabase &db, QString &strError);
    QSqlDatabase addConnection(const QString &strName) const;

    QString m_strUrl;
    bool m_bPostgres = false;
    QString m_strPath; // SQLite file
    QString m_strHost, m_strUser, m_strPassword, m_strName;
    int m_nPort = 5432;
    std::atomic<int> m_nConnections{0};

    // SQLite lets one writer in at a time and makes the others sleep and retry; within
    // this process the writers queue on a mutex instead, which is fairer and faster.
    std::mutex m_mutexWrites;

    // SQLite: WAL checkpoints run here instead of inside whichever request happens to
    // commit the thousandth page. Once a second a passive one; a full one (TRUNCATE,
    // with the writers held) when the log has reached m_nWalLimit or no write came
    // in the last second, so that the log neither grows without bound under steady
    // writes nor stays large when they pause.
    void runCheckpoints();
    // After each write: wakes the checkpoint thread when the log is over its limit.
    void noteWrite();
    qint64 walSize() const;
    const qint64 m_nWalLimit;
    std::string m_strWalPath;
    std::atomic<quint64> m_nWrites{0};
    std::thread m_threadCheckpoint;
    std::mutex m_mutexCheckpoint;
    std::condition_variable m_condCheckpoint;
    bool m_bStopCheckpoints = false;
    bool m_bCheckpointNow = false;
};

#endif // SERVERDB_H
