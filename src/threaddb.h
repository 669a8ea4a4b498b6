#ifndef THREADDB_H
#define THREADDB_H

#include "threadobject.h"

#include <QElapsedTimer>
#include <QSqlDatabase>
#include <QString>

class QSqlQuery;

// The database worker: owns the one SQLite connection to local.db and runs every
// request map on it, answering each with a result map through dataReceived().
//
// Requests: {"type": "query", "sql" | "sql_prepare" + "sql_data", "return_id"} or
// {"type": "replace", "select", "insert" | "insert_prepare" + "insert_data",
//  "update" | "update_prepare" + "update_data"} or
// {"type": "batch", "statements": [{"sql_prepare", "sql_data"}, ...]}, all or nothing.
// Results: {"uuid", "type": "data", "result": [rows of strings], "id"} or {..., "error"}.
class CThreadDb : public CThreadObject
{
    Q_OBJECT

public:
    // Version of the schema that initialize() creates (PRAGMA user_version).
    static constexpr int SchemaVersion = 2;

    explicit CThreadDb(QObject *parent = nullptr);
    ~CThreadDb() override;

    // Absolute path of the database file; set before the thread starts. The folder is
    // created when missing.
    void setDbName(const QString &strDbName);
    QString dbName() const;
    // After a failed open the worker tries again when a request comes, at most this
    // often, so that a file locked by another Kelpo is used once that one has quit.
    void setReopenInterval(int nMsecs);

protected:
    void initialize() override;
    void release() override;
    void processRequest(QVariantMap mapRequest) override;

private:
    bool openDb();
    QString createSchema();
    bool hasColumn(const QString &strTable, const QString &strColumn);
    bool runQuery(const QVariantMap &mapRequest, QVariantMap &mapResult);
    bool runReplace(const QVariantMap &mapRequest, QVariantMap &mapResult);
    bool runBatch(const QVariantMap &mapRequest, QVariantMap &mapResult);
    bool exec(const QString &strSql);
    bool execPrepared(const QString &strSql, const QVariantMap &mapData);
    QVariantList fetchRows();
    void fail(const QVariantMap &mapRequest, QVariantMap &mapResult, const QString &strSql);

    QString m_strConnectionName;
    QString m_strDbName;
    QSqlDatabase m_db;
    QSqlQuery *m_pQuery = nullptr;
    // Why the database could not be opened; every request is answered with it.
    QString m_strOpenError;
    QElapsedTimer m_timerOpenTried;
    std::atomic<int> m_nReopenIntervalMs{10000};
};

#endif // THREADDB_H
