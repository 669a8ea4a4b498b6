#include "threaddb.h"

#include "kelpolog.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStringList>
#include <QVector>

#include <algorithm>

namespace {

// How long SQLite waits for a lock held by another process before it gives up.
constexpr int kBusyTimeoutMs = 1000;

const char *const kSchema[] = {
    "CREATE TABLE IF NOT EXISTS note ("
    " id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " server_id INTEGER,"
    " user_id INTEGER,"
    " set_at TEXT,"
    " created_at TEXT,"
    " title TEXT,"
    " content TEXT,"
    " content_size INTEGER,"
    " md5 TEXT,"
    " updated_at TEXT,"
    " deleted INTEGER,"
    " uuid TEXT)",
    "CREATE TABLE IF NOT EXISTS user ("
    " id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " server_id INTEGER,"
    " name TEXT,"
    " pwd TEXT,"
    " nickname TEXT,"
    " nick_name TEXT,"
    " classify_string TEXT,"
    " server_url TEXT)",
    "CREATE TABLE IF NOT EXISTS log ("
    " id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " log_type TEXT,"
    " log_at TEXT,"
    " error TEXT,"
    " result TEXT,"
    " user_id INTEGER,"
    " log_obj TEXT)",
    "CREATE INDEX IF NOT EXISTS idx_note_uuid ON note(uuid)",
    // Day and month ranges, and the paged list's order. With user_id and deleted in it,
    // the ownership and live filters are decided in the index: counting a month's notes
    // reads no note, and paging skips notes without reading them.
    "CREATE INDEX IF NOT EXISTS idx_note_set_at ON note(set_at, updated_at, user_id, deleted)",
    "CREATE INDEX IF NOT EXISTS idx_note_user_id ON note(user_id)",
    "CREATE INDEX IF NOT EXISTS idx_note_server_id ON note(server_id)",
    "CREATE INDEX IF NOT EXISTS idx_user_name ON user(name)",
};

// The request as written to the debug output: bound values (which may hold a password
// digest) are shown by their names only.
QVariantMap redacted(QVariantMap mapRequest)
{
    for (const char *pKey : {"sql_data", "insert_data", "update_data"}) {
        const QString strKey = QLatin1String(pKey);
        if (mapRequest.contains(strKey))
            mapRequest.insert(strKey, QStringList(mapRequest.value(strKey).toMap().keys()));
    }
    return mapRequest;
}

} // namespace

CThreadDb::CThreadDb(QObject *parent)
    : CThreadObject(parent)
{}

CThreadDb::~CThreadDb()
{
    stopAndWait();
    release();
}

void CThreadDb::setDbName(const QString &strDbName)
{
    m_strDbName = strDbName;
}

QString CThreadDb::dbName() const
{
    return m_strDbName;
}

void CThreadDb::setReopenInterval(int nMsecs)
{
    m_nReopenIntervalMs = nMsecs;
}

void CThreadDb::initialize()
{
    m_strConnectionName = QStringLiteral("ThreadDb_SQLITE_%1")
                              .arg(reinterpret_cast<quintptr>(QThread::currentThreadId()));
    m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_strConnectionName);
    if (!m_db.isValid()) {
        qCDebug(lcStore) << "Fail to add db connection: " << m_strConnectionName;
        m_strOpenError = QStringLiteral("Fail to add db connection: ") + m_strConnectionName;
        return;
    }
    openDb();
}

// Opens the file, takes the exclusive lock that it keeps while open, and brings the
// schema up to date. On failure the connection is closed and m_strOpenError says why.
bool CThreadDb::openDb()
{
    m_timerOpenTried.start();
    m_strOpenError.clear();

    const QFileInfo info(m_strDbName);
    if (!QDir().mkpath(info.absolutePath())) {
        m_strOpenError = QStringLiteral("Fail to open db: cannot create folder ")
                         + info.absolutePath();
        qCDebug(lcStore) << "Fail to open db: " << m_strConnectionName << m_strOpenError;
        return false;
    }

    m_db.setDatabaseName(m_strDbName);
    m_db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(kBusyTimeoutMs));
    if (!m_db.open()) {
        m_strOpenError = QStringLiteral("Fail to open db: ") + m_db.lastError().text();
        qCDebug(lcStore) << "Fail to open db: " << m_strConnectionName << m_db.lastError().text();
        return false;
    }

    m_pQuery = new QSqlQuery(m_db);
    m_pQuery->setForwardOnly(true);
    const QString strError = createSchema();
    if (!strError.isEmpty()) {
        m_strOpenError = QStringLiteral("Fail to open db: ") + strError;
        qCDebug(lcStore) << "Fail to open db: " << m_strConnectionName << strError;
        delete m_pQuery;
        m_pQuery = nullptr;
        m_db.close();
        return false;
    }
    return true;
}

// Returns the error text, empty on success.
QString CThreadDb::createSchema()
{
    // Exclusive locking: the first write below takes the lock and the connection keeps
    // it, so a second Kelpo on the same file fails here instead of in the middle of work.
    // The write-ahead log commits with one sync; with exclusive locking it needs no
    // shared-memory file.
    if (!exec(QStringLiteral("PRAGMA locking_mode = EXCLUSIVE"))
        || !exec(QStringLiteral("PRAGMA journal_mode = WAL"))
        || !exec(QStringLiteral("PRAGMA synchronous = FULL"))
        || !exec(QStringLiteral("BEGIN EXCLUSIVE")))
        return m_pQuery->lastError().text();

    bool bOk = exec(QStringLiteral("PRAGMA user_version")) && m_pQuery->next();
    const int nVersion = bOk ? m_pQuery->value(0).toInt() : 0;
    m_pQuery->finish();
    for (const char *pSql : kSchema) {
        if (!bOk)
            break;
        bOk = exec(QLatin1String(pSql));
    }
    // Version 2: the service at which the account's notes were uploaded.
    if (bOk && !hasColumn(QStringLiteral("user"), QStringLiteral("server_url")))
        bOk = exec(QStringLiteral("ALTER TABLE user ADD COLUMN server_url TEXT"));
    if (bOk && nVersion < SchemaVersion)
        bOk = exec(QStringLiteral("PRAGMA user_version = %1").arg(SchemaVersion));
    if (bOk)
        bOk = exec(QStringLiteral("COMMIT"));
    if (!bOk) {
        const QString strError = m_pQuery->lastError().text();
        m_pQuery->finish();
        exec(QStringLiteral("ROLLBACK"));
        return strError;
    }
    if (nVersion > SchemaVersion)
        qCDebug(lcStore) << "local.db has schema version" << nVersion << "newer than"
                         << SchemaVersion;
    return QString();
}

bool CThreadDb::hasColumn(const QString &strTable, const QString &strColumn)
{
    bool bFound = false;
    if (exec(QStringLiteral("PRAGMA table_info(%1)").arg(strTable))) {
        while (!bFound && m_pQuery->next())
            bFound = m_pQuery->value(1).toString() == strColumn;
    }
    m_pQuery->finish();
    return bFound;
}

void CThreadDb::release()
{
    delete m_pQuery;
    m_pQuery = nullptr;
    if (m_db.isOpen())
        m_db.close();
    m_db = QSqlDatabase();
    if (!m_strConnectionName.isEmpty())
        QSqlDatabase::removeDatabase(m_strConnectionName);
    m_strConnectionName.clear();
}

void CThreadDb::processRequest(QVariantMap mapRequest)
{
    if (!m_pQuery && m_db.isValid() && m_timerOpenTried.hasExpired(m_nReopenIntervalMs))
        openDb();

    QVariantMap mapResult;
    mapResult.insert(QStringLiteral("uuid"), mapRequest.value(QStringLiteral("uuid")));
    mapResult.insert(QStringLiteral("type"), QStringLiteral("data"));

    if (!m_pQuery) {
        // Nothing is written and nothing is reported as done: the caller learns why.
        mapResult.insert(QStringLiteral("error"), m_strOpenError);
        emit dataReceived(mapResult);
        return;
    }

    const QString strType = mapRequest.value(QStringLiteral("type")).toString();
    if (strType == QLatin1String("query"))
        runQuery(mapRequest, mapResult);
    else if (strType == QLatin1String("replace"))
        runReplace(mapRequest, mapResult);
    else if (strType == QLatin1String("batch"))
        runBatch(mapRequest, mapResult);
    else
        return;
    emit dataReceived(mapResult);
}

bool CThreadDb::runQuery(const QVariantMap &mapRequest, QVariantMap &mapResult)
{
    bool bOk;
    QString strSql;
    if (mapRequest.contains(QStringLiteral("sql_prepare"))) {
        strSql = mapRequest.value(QStringLiteral("sql_prepare")).toString();
        bOk = execPrepared(strSql, mapRequest.value(QStringLiteral("sql_data")).toMap());
    } else {
        strSql = mapRequest.value(QStringLiteral("sql")).toString();
        bOk = exec(strSql);
    }
    if (!bOk) {
        fail(mapRequest, mapResult, strSql);
        return false;
    }
    mapResult.insert(QStringLiteral("result"), fetchRows());
    if (mapRequest.value(QStringLiteral("return_id")).toInt() == 1)
        mapResult.insert(QStringLiteral("id"), m_pQuery->lastInsertId());
    m_pQuery->finish();
    return true;
}

bool CThreadDb::runReplace(const QVariantMap &mapRequest, QVariantMap &mapResult)
{
    const QString strSelect = mapRequest.value(QStringLiteral("select")).toString();
    qCDebug(lcStore) << "select: " << strSelect;
    if (!exec(strSelect)) {
        fail(mapRequest, mapResult, strSelect);
        return false;
    }
    const bool bFound = m_pQuery->next();
    m_pQuery->finish();

    const QString strStep = bFound ? QStringLiteral("update") : QStringLiteral("insert");
    const QString strPrepareKey = strStep + QStringLiteral("_prepare");
    QString strSql;
    bool bOk;
    if (mapRequest.contains(strPrepareKey)) {
        strSql = mapRequest.value(strPrepareKey).toString();
        bOk = execPrepared(strSql, mapRequest.value(strStep + QStringLiteral("_data")).toMap());
    } else {
        strSql = mapRequest.value(strStep).toString();
        qCDebug(lcStore).noquote() << strStep << strSql;
        bOk = exec(strSql);
    }
    if (!bOk) {
        fail(mapRequest, mapResult, strSql);
        return false;
    }
    if (!bFound)
        mapResult.insert(QStringLiteral("id"), m_pQuery->lastInsertId());
    m_pQuery->finish();
    return true;
}

// Runs every statement in one transaction: either all of them take effect or none. The
// result carries the number of statements run under "count".
bool CThreadDb::runBatch(const QVariantMap &mapRequest, QVariantMap &mapResult)
{
    if (!exec(QStringLiteral("BEGIN IMMEDIATE"))) {
        fail(mapRequest, mapResult, QStringLiteral("BEGIN IMMEDIATE"));
        return false;
    }
    const QVariantList lstStatements = mapRequest.value(QStringLiteral("statements")).toList();
    for (const QVariant &statement : lstStatements) {
        const QVariantMap mapStatement = statement.toMap();
        const QString strSql = mapStatement.value(QStringLiteral("sql_prepare")).toString();
        if (!execPrepared(strSql, mapStatement.value(QStringLiteral("sql_data")).toMap())) {
            fail(mapRequest, mapResult, strSql);
            exec(QStringLiteral("ROLLBACK"));
            m_pQuery->finish();
            return false;
        }
        m_pQuery->finish();
    }
    if (!exec(QStringLiteral("COMMIT"))) {
        fail(mapRequest, mapResult, QStringLiteral("COMMIT"));
        exec(QStringLiteral("ROLLBACK"));
        m_pQuery->finish();
        return false;
    }
    mapResult.insert(QStringLiteral("count"), lstStatements.size());
    return true;
}

bool CThreadDb::exec(const QString &strSql)
{
    return m_pQuery->exec(strSql);
}

bool CThreadDb::execPrepared(const QString &strSql, const QVariantMap &mapData)
{
    if (!m_pQuery->prepare(strSql))
        return false;
    for (auto it = mapData.cbegin(); it != mapData.cend(); ++it)
        m_pQuery->bindValue(QLatin1Char(':') + it.key(), it.value());
    return m_pQuery->exec();
}

QVariantList CThreadDb::fetchRows()
{
    // Columns in name order, so that each row's map is filled from its end without
    // searching.
    const QSqlRecord record = m_pQuery->record();
    QVector<QPair<QString, int>> vecColumns;
    vecColumns.reserve(record.count());
    for (int i = 0; i < record.count(); ++i)
        vecColumns.append(qMakePair(record.fieldName(i), i));
    std::stable_sort(vecColumns.begin(), vecColumns.end(), [](const auto &a, const auto &b) {
        return a.first < b.first;
    });

    QVariantList lstRows;
    while (m_pQuery->next()) {
        QVariantMap mapRow;
        for (const auto &column : qAsConst(vecColumns))
            mapRow.insert(mapRow.cend(), column.first, m_pQuery->value(column.second).toString());
        lstRows.append(mapRow);
    }
    return lstRows;
}

void CThreadDb::fail(const QVariantMap &mapRequest, QVariantMap &mapResult, const QString &strSql)
{
    const QSqlError error = m_pQuery->lastError();
    mapResult.insert(QStringLiteral("error"),
                     QStringLiteral("%1(%2)")
                         .arg(error.text(), mapRequest.value(QStringLiteral("sql")).toString()));
    qCDebug(lcStore) << "Fail to run command:" << error.text();
    qCDebug(lcStore) << "error sql: " << strSql;
    qCDebug(lcStore) << "map" << redacted(mapRequest);
    m_pQuery->finish();
}
