#ifndef THREADDB_H
#define THREADDB_H

#include "threadobject.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QSqlDatabase>
#include <QString>

class QSqlQuery;
struct sqlite3;
class QTimer;

// The database worker: owns the one SQLite connection to local.db and runs every
// request map on it, answering each with a result map through dataReceived(), which is
// emitted on the thread that owns this object, in the order of the requests.
//
// Requests: {"type": "query", "sql" | "sql_prepare" + "sql_data", "return_id"} or
// {"type": "replace", "select", "insert" | "insert_prepare" + "insert_data",
//  "update" | "update_prepare" + "update_data"} or
// {"type": "batch", "statements": [{"sql_prepare", "sql_data"}, ...]}, all or nothing;
// with "relaxed": true (data that can be had again: the service's notes, log entries) it
// commits with synchronous = NORMAL and is followed by a background pass, run when the
// worker pauses, that derives the visible texts of notes stored without one.
// {"type": "search", "search_string", "offset", "number", "user_id"} is one page of the
// note list filtered by what the notes show (CNoteSearch); its rows carry a "snippet".
// Results: {"uuid", "type": "data", "result": [rows of strings], "id"} or
// {..., "error", "error_text", "error_kind"}: "error" is the driver's text followed by the
// statement in parentheses, "error_text" the driver's text alone (fit to show), and
// "error_kind" one of the ErrorKind texts below.
//
// Requests still queued when the worker is stopped are carried out before it ends (for at
// most the time given to the stop); writes that are left then are kept in a file beside
// the database and carried out when the database is next opened.
//
// Before a write is confirmed the worker checks that the file it has open is still the
// one at the database's path: a file deleted, replaced or overwritten while open makes the
// request fail, and the open copy is written out so that nothing in it is lost.
// A note written with "content" and "plain_text" among its bound values gets its visible
// text derived here, off the caller's thread. Older notes without one are migrated in
// batches queued behind the caller's requests, with plainTextProgress() after each.
class CThreadDb : public CThreadObject
{
    Q_OBJECT

public:
    // Version of the schema that initialize() creates (PRAGMA user_version).
    static constexpr int SchemaVersion = 7;

    explicit CThreadDb(QObject *parent = nullptr);
    ~CThreadDb() override;

    // Absolute path of the database file; set before the thread starts. The folder is
    // created when missing.
    void setDbName(const QString &strDbName);
    QString dbName() const;
    // After a failed open the worker tries again when the next request comes, but not
    // more often than this (0, the default: at every request), so that a file locked by
    // another Kelpo is used as soon as that one has quit.
    void setReopenInterval(int nMsecs);

    // Whether a request may change the database (reads are never kept for later).
    static bool isWrite(const QVariantMap &mapRequest);

    // The record of a clean close, beside the database: the file's state as it was left
    // and the time of its last whole check (PRAGMA quick_check).
    static QString cleanCloseFile(const QString &strDbName);
    // Whether the file is checked whole when it is opened: when it was not closed cleanly
    // (no record, or a write-ahead log left), when it changed since it was closed, and
    // at least every kCheckEveryDays days.
    static bool needsCheck(const QString &strDbName,
                           qint64 nNowSecs = QDateTime::currentSecsSinceEpoch());
    static constexpr int kCheckEveryDays = 7;

    // The file that keeps the writes left unfinished at a stop, beside the database.
    static QString unfinishedFile(const QString &strDbName);

    // The log table is bounded: entries older than kLogKeepDays go, and all but the newest
    // kLogKeepRows; at every open and after every kLogTrimEvery entries.
    static constexpr int kLogKeepDays = 30;
    static constexpr int kLogKeepRows = 10000;
    static constexpr int kLogTrimEvery = 1000;
    static const QString kLogTrimByAge; // binds :cutoff
    static const QString kLogTrimByCount;
    // "log_at" of the oldest entry that is kept.
    static QString logCutoff();

    // "error_kind" of a result, and "kind" of a notice.
    static const QLatin1String kKindLocked;     // another program holds the file
    static const QLatin1String kKindReadOnly;   // the file or its folder cannot be written
    static const QLatin1String kKindFull;       // the disk is full
    static const QLatin1String kKindDamaged;    // not a database, or a damaged one
    static const QLatin1String kKindDeleted;    // the open file was deleted
    static const QLatin1String kKindReplaced;   // the open file was replaced or overwritten
    static const QLatin1String kKindCannotOpen; // any other reason the file cannot be opened
    static const QLatin1String kKindOther;      // a failed statement
    // "kind" of a notice only: writes kept at the last stop have been carried out now.
    static const QLatin1String kKindUnfinishedDone;

signals:
    // What the owner should know about the database although no request waits for it:
    // {"kind", "detail", "file", "count"}. Emitted on the worker thread.
    void notice(QVariant);
    // The migration of visible texts: nDone of nTotal notes; nDone == nTotal at the end.
    void plainTextProgress(int nDone, int nTotal);
    // A request's result as the worker made it, on its way to the owner's thread.
    void resultReady(QVariant);

protected:
    void initialize() override;
    void release() override;
    void processRequest(QVariantMap mapRequest) override;
    void keepUnfinished(const QList<QVariantMap> &lstRequests) override;

private slots:
    void deliver(const QVariant &result);

private:
    bool openDb(int nBusyTimeoutMs);
    void closeDb();
    QString createSchema();
    void checkIntegrity();
    static qint64 checkedAt(const QString &strDbName);
    void recordCleanClose();
    void tidyUp();
    void carryOutUnfinished();
    void recordIdentity();
    // Empty while the open file is the one at the path; otherwise kKindDeleted or
    // kKindReplaced.
    QString lostIdentity();
    QByteArray readHeader();
    QByteArray readHeaderFrom(int nFd);
    void keepLostFile(const QString &strKind);
    void setOpenError(const QString &strKind, const QString &strReason);
    bool runRequest(const QVariantMap &mapRequest, QVariantMap &mapResult);
    bool hasColumn(const QString &strTable, const QString &strColumn);
    bool runQuery(const QVariantMap &mapRequest, QVariantMap &mapResult);
    bool runReplace(const QVariantMap &mapRequest, QVariantMap &mapResult);
    bool runBatch(const QVariantMap &mapRequest, QVariantMap &mapResult);
    bool runBatchStatements(const QVariantMap &mapRequest, QVariantMap &mapResult);
    bool runSearch(const QVariantMap &mapRequest, QVariantMap &mapResult);
    void derivePlainTexts();
    void scheduleDerive();
    bool exec(const QString &strSql);
    bool execPrepared(const QString &strSql, const QVariantMap &mapData);
    void fail(const QVariantMap &mapRequest, QVariantMap &mapResult, const QString &strSql);

    QString m_strConnectionName;
    QString m_strDbName;
    QSqlDatabase m_db;
    QSqlQuery *m_pQuery = nullptr;
    // The open connection's own handle, for reads that skip the driver's per-value texts.
    sqlite3 *m_pSqlite = nullptr;
    // Why the database could not be opened; every request is answered with it.
    QString m_strOpenError;
    QString m_strOpenErrorText;
    QString m_strOpenErrorKind;
    QString m_strLastOpenWarning;
    bool m_bFts = false;
    // When the file was last checked whole (seconds since the epoch; 0: not known).
    qint64 m_nCheckedAt = 0;
    int m_nPlainDone = 0;
    int m_nPlainTotal = 0;
    // Made on the worker thread when first needed.
    QTimer *m_pDeriveTimer = nullptr;
    // Since the last request (the derivation waits for a pause).
    QElapsedTimer m_timerLastRequest;
    // Since the next step of the derivation was planned.
    QElapsedTimer m_timerDeriveWaits;
    QElapsedTimer m_timerOpenTried;
    std::atomic<int> m_nReopenIntervalMs{0};

    // The open file as it was found at the path: device, inode and the header's bytes
    // that do not change while it is in use (empty until the file has a header).
    quint64 m_nDevice = 0;
    quint64 m_nInode = 0;
    // SQLite's descriptor of the open file, once found (-1: not known).
    int m_nHeaderFd = -1;
    QByteArray m_baHeader;
};

#endif // THREADDB_H
