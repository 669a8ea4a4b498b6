#include "serverdb.h"

#include "kelpolog.h"
#include "notechanges.h"
#include "noteconflicts.h"
#include "notes.h"
#include "validation.h"
#include "wiretime.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QThread>
#include <QTimeZone>
#include <QUrl>
#include <QVector>

#include <tuple>

#include <sys/stat.h>

namespace {

// The name of the calling thread's connection; removed when the thread ends.
struct CThreadConnection
{
    QString m_strName;
    bool m_bBroken = false;
    QHash<QString, QSqlQuery> m_hashQueries;
    QSqlDatabase m_db; // kept here: looking it up by name takes a global lock
    ~CThreadConnection() { drop(); }
    void drop()
    {
        m_hashQueries.clear();
        if (m_strName.isEmpty())
            return;
        m_db.close();
        m_db = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_strName);
        m_strName.clear();
        m_bBroken = false;
    }
};

thread_local CThreadConnection t_connection;

QStringList schemaStatements(bool bPostgres)
{
    const QString strId = bPostgres ? QStringLiteral("SERIAL PRIMARY KEY")
                                    : QStringLiteral("INTEGER PRIMARY KEY AUTOINCREMENT");
    const QString strBig = bPostgres ? QStringLiteral("BIGINT") : QStringLiteral("INTEGER");
    return {
        QStringLiteral("CREATE TABLE IF NOT EXISTS users ("
                       " id %1,"
                       " name TEXT NOT NULL,"
                       " name_key TEXT NOT NULL UNIQUE,"
                       " email TEXT NOT NULL,"
                       " email_key TEXT NOT NULL UNIQUE,"
                       " nickname TEXT NOT NULL DEFAULT '',"
                       " pwd_hash TEXT NOT NULL,"
                       " classify_string TEXT NOT NULL DEFAULT '',"
                       " created_at %2 NOT NULL)")
            .arg(strId, strBig),
        QStringLiteral("CREATE TABLE IF NOT EXISTS login_token ("
                       " token_hash TEXT PRIMARY KEY,"
                       " user_id INTEGER NOT NULL REFERENCES users(id) ON DELETE CASCADE,"
                       " login_from TEXT NOT NULL DEFAULT '',"
                       " lang TEXT NOT NULL DEFAULT '',"
                       " created_at %1 NOT NULL,"
                       " last_used %1 NOT NULL,"
                       " ttl %1 NOT NULL)")
            .arg(strBig),
        QStringLiteral("CREATE INDEX IF NOT EXISTS login_token_user ON login_token(user_id)"),
        QStringLiteral(
            "CREATE INDEX IF NOT EXISTS login_token_expiry ON login_token((last_used + ttl))"),
        QStringLiteral("CREATE TABLE IF NOT EXISTS login_failure ("
                       " id %1,"
                       " name_key TEXT NOT NULL,"
                       " failed_at %2 NOT NULL)")
            .arg(strId, strBig),
        QStringLiteral("CREATE INDEX IF NOT EXISTS login_failure_name"
                       " ON login_failure(name_key, failed_at)"),
        QStringLiteral("CREATE INDEX IF NOT EXISTS login_failure_time ON login_failure(failed_at)"),
        QStringLiteral("CREATE TABLE IF NOT EXISTS note ("
                       " id %1,"
                       " uuid TEXT,"
                       " user_id INTEGER NOT NULL REFERENCES users(id) ON DELETE CASCADE,"
                       " set_at TEXT NOT NULL,"
                       " created_at TEXT NOT NULL,"
                       " updated_at TEXT NOT NULL,"
                       " title TEXT NOT NULL DEFAULT '',"
                       " content TEXT NOT NULL DEFAULT '',"
                       " content_size INTEGER NOT NULL DEFAULT 0,"
                       " md5 TEXT NOT NULL DEFAULT '',"
                       " deleted INTEGER NOT NULL DEFAULT 0)")
            .arg(strId),
        // A UUID names a note within its account: another account's note of the same
        // UUID is another note.
        QStringLiteral("CREATE UNIQUE INDEX IF NOT EXISTS note_user_uuid ON note(user_id, uuid)"),
        QStringLiteral("CREATE INDEX IF NOT EXISTS note_user_set ON note(user_id, set_at)"),
        QStringLiteral("CREATE INDEX IF NOT EXISTS note_user_updated ON note(user_id, updated_at)"),
        QStringLiteral("CREATE TABLE IF NOT EXISTS mail_outbox ("
                       " id %1,"
                       " user_id INTEGER NOT NULL REFERENCES users(id) ON DELETE CASCADE,"
                       " email TEXT NOT NULL,"
                       " kind TEXT NOT NULL,"
                       " token TEXT NOT NULL,"
                       " created_at %2 NOT NULL,"
                       " expires_at %2 NOT NULL,"
                       " sent_at %2)")
            .arg(strId, strBig),
        // Reset tokens of mails sent by older versions were kept in clear; they are of
        // no use now that the service keeps only digests.
        QStringLiteral("UPDATE mail_outbox SET token = '' WHERE token <> ''"),
        QStringLiteral("CREATE TABLE IF NOT EXISTS password_reset ("
                       " id %1,"
                       " user_id INTEGER NOT NULL REFERENCES users(id) ON DELETE CASCADE,"
                       " token_hash TEXT NOT NULL UNIQUE,"
                       " created_at %2 NOT NULL,"
                       " expires_at %2 NOT NULL)")
            .arg(strId, strBig),
        QStringLiteral("CREATE INDEX IF NOT EXISTS password_reset_user ON password_reset(user_id)"),
        QStringLiteral("CREATE TABLE IF NOT EXISTS rate_limit ("
                       " kind TEXT NOT NULL,"
                       " key TEXT NOT NULL,"
                       " window_start %1 NOT NULL,"
                       " hits INTEGER NOT NULL,"
                       " PRIMARY KEY (kind, key))")
            .arg(strBig),
        QStringLiteral("CREATE INDEX IF NOT EXISTS rate_limit_time ON rate_limit(window_start)"),
    };
}

} // namespace

CServerDb::CServerDb(const QString &strUrl, qint64 nWalLimit)
    : m_strUrl(strUrl)
    , m_nWalLimit(nWalLimit)
{}

CServerDb::~CServerDb()
{
    if (m_threadCheckpoint.joinable()) {
        {
            std::lock_guard<std::mutex> lock(m_mutexCheckpoint);
            m_bStopCheckpoints = true;
        }
        m_condCheckpoint.notify_all();
        m_threadCheckpoint.join();
    }
    t_connection.drop();
}

qint64 CServerDb::walSize() const
{
    struct stat st;
    return ::stat(m_strWalPath.c_str(), &st) == 0 ? qint64(st.st_size) : 0;
}

void CServerDb::noteWrite()
{
    ++m_nWrites;
    if (walSize() < m_nWalLimit)
        return;
    {
        std::lock_guard<std::mutex> lock(m_mutexCheckpoint);
        m_bCheckpointNow = true;
    }
    m_condCheckpoint.notify_all();
}

void CServerDb::runCheckpoints()
{
    quint64 nWritesSeen = m_nWrites;
    std::unique_lock<std::mutex> lock(m_mutexCheckpoint);
    for (;;) {
        m_condCheckpoint.wait_for(lock, std::chrono::seconds(1), [this] {
            return m_bStopCheckpoints || m_bCheckpointNow;
        });
        const bool bStop = m_bStopCheckpoints;
        const bool bOverLimit = m_bCheckpointNow;
        m_bCheckpointNow = false;
        lock.unlock();

        const quint64 nWrites = m_nWrites;
        const bool bIdle = nWrites == nWritesSeen;
        nWritesSeen = nWrites;
        const bool bFull = bStop || bOverLimit || (bIdle && walSize() > 0);
        if (bFull || !bIdle) {
            QString strError;
            QSqlDatabase db = connection(strError);
            if (db.isOpen()) {
                QSqlQuery query(db);
                bool bOk = false;
                if (bFull) {
                    // Holding the writers back lets the checkpoint reach the end of the
                    // log and start it afresh; it waits (busy time-out) only for the
                    // readers still on older pages, which take milliseconds.
                    std::lock_guard<std::mutex> lockWrites(m_mutexWrites);
                    bOk = query.exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
                } else {
                    // Copies what no reader needs and never blocks a request.
                    bOk = query.exec(QStringLiteral("PRAGMA wal_checkpoint(PASSIVE)"));
                }
                if (!bOk)
                    qCWarning(lcServer) << "WAL checkpoint failed:" << query.lastError().text();
            }
        }
        if (bStop)
            break;
        lock.lock();
    }
    t_connection.drop();
}

QString CServerDb::describe() const
{
    if (!m_bPostgres)
        return QStringLiteral("sqlite:") + m_strPath;
    return QStringLiteral("postgresql://%1@%2:%3/%4")
        .arg(m_strUser, m_strHost, QString::number(m_nPort), m_strName);
}

bool CServerDb::open(QString &strError)
{
    if (m_strUrl.startsWith(QLatin1String("sqlite:"))) {
        m_strPath = QFileInfo(m_strUrl.mid(7)).absoluteFilePath();
        if (!QDir().mkpath(QFileInfo(m_strPath).absolutePath())) {
            strError = QStringLiteral("cannot create the folder of %1").arg(m_strPath);
            return false;
        }
        if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QSQLITE"))) {
            strError = QStringLiteral("Qt's SQLite driver QSQLITE is not installed");
            return false;
        }
    } else {
        m_bPostgres = true;
        const QUrl url(m_strUrl, QUrl::StrictMode);
        if (!url.isValid() || url.host().isEmpty() || url.path().size() < 2) {
            strError = QStringLiteral(
                "the PostgreSQL URL must read postgresql://USER@HOST:PORT/DBNAME");
            return false;
        }
        m_strHost = url.host();
        m_nPort = url.port(5432);
        m_strUser = url.userName();
        m_strPassword = url.password();
        m_strName = url.path().mid(1);
        if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QPSQL"))) {
            strError = QStringLiteral("Qt's PostgreSQL driver QPSQL is not installed"
                                      " (Debian package libqt5sql5-psql)");
            return false;
        }
    }

    QSqlDatabase db = connection(strError);
    if (!db.isOpen())
        return false;
    if (!createSchema(db, strError))
        return false;
    if (!m_bPostgres) {
        m_strWalPath = QFile::encodeName(m_strPath + QStringLiteral("-wal")).toStdString();
        m_threadCheckpoint = std::thread([this] { runCheckpoints(); });
    }
    return true;
}

QSqlDatabase CServerDb::addConnection(const QString &strName) const
{
    QSqlDatabase db;
    if (m_bPostgres) {
        db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), strName);
        db.setHostName(m_strHost);
        db.setPort(m_nPort);
        db.setUserName(m_strUser);
        if (!m_strPassword.isEmpty())
            db.setPassword(m_strPassword);
        db.setDatabaseName(m_strName);
        db.setConnectOptions(QStringLiteral("connect_timeout=10"));
    } else {
        db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), strName);
        db.setDatabaseName(m_strPath);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=10000"));
    }
    return db;
}

QSqlDatabase CServerDb::connection(QString &strError)
{
    if (t_connection.m_bBroken)
        t_connection.drop();
    if (!t_connection.m_strName.isEmpty()) {
        if (t_connection.m_db.isOpen())
            return t_connection.m_db;
        t_connection.drop();
    }
    const QString strName = QStringLiteral("kelpo-server-%1").arg(++m_nConnections);
    QSqlDatabase db = addConnection(strName);
    t_connection.m_strName = strName;
    t_connection.m_db = db;
    if (!db.open()) {
        strError = db.lastError().text();
        // While the database is down every request fails here: one line every ten
        // seconds says so, with the count of those left out.
        static std::atomic<qint64> s_nLastLine{0};
        static std::atomic<int> s_nLeftOut{0};
        const qint64 nNow = QDateTime::currentMSecsSinceEpoch();
        qint64 nLast = s_nLastLine;
        if (nNow - nLast >= 10000 && s_nLastLine.compare_exchange_strong(nLast, nNow)) {
            const int nLeftOut = s_nLeftOut.exchange(0);
            if (nLeftOut > 0)
                qCWarning(lcServer) << "Fail to open db: " << describe() << strError << "(and"
                                    << nLeftOut << "more since the last line)";
            else
                qCWarning(lcServer) << "Fail to open db: " << describe() << strError;
        } else {
            ++s_nLeftOut;
        }
        return db;
    }
    QSqlQuery query(db);
    if (!m_bPostgres) {
        query.exec(QStringLiteral("PRAGMA foreign_keys = ON"));
        // A write is on the disk before it is answered: the computer that sent it stops
        // keeping it once it is confirmed, so a power loss here must not take it back.
        query.exec(QStringLiteral("PRAGMA synchronous = FULL"));
        query.exec(QStringLiteral("PRAGMA wal_autocheckpoint = 0"));
        // A log started afresh after a complete checkpoint is cut back to the limit.
        query.exec(QStringLiteral("PRAGMA journal_size_limit = %1").arg(m_nWalLimit));
    }
    return db;
}

void CServerDb::dropConnectionLater()
{
    t_connection.m_bBroken = true;
}

bool CServerDb::createSchema(QSqlDatabase &db, QString &strError)
{
    QSqlQuery query(db);
    if (!m_bPostgres) {
        // WAL lets readers go on while one request writes.
        if (!execStep(query, QStringLiteral("PRAGMA journal_mode = WAL"), strError))
            return false;
    } else {
        // Instances that start together must not race on CREATE TABLE.
        if (!execStep(query, QStringLiteral("SELECT pg_advisory_lock(84208420)"), strError))
            return false;
    }
    bool bOk = true;
    for (const QString &strSql : schemaStatements(m_bPostgres)) {
        if (!execStep(query, strSql, strError)) {
            bOk = false;
            break;
        }
    }
    if (bOk)
        bOk = uuidsPerAccount(db, strError);
    if (bOk)
        bOk = keepTimesInUtc(db, strError);
    if (bOk)
        bOk = normalUuids(db, strError);
    if (bOk)
        bOk = CNotes::prepareSearch(db, m_bPostgres, strError);
    if (bOk)
        bOk = CNoteChanges::prepare(db, m_bPostgres, strError);
    if (bOk)
        bOk = CNoteConflicts::prepare(db, m_bPostgres, strError);
    if (m_bPostgres)
        query.exec(QStringLiteral("SELECT pg_advisory_unlock(84208420)"));
    return bOk;
}

// Older databases held every UUID once across all accounts, so that a note's UUID told
// whether another account had it. Now it is unique per account: PostgreSQL drops the
// old constraint; SQLite cannot, and copies the notes once into a table without it
// (ids, change numbers and the search index's rows stay as they were).
bool CServerDb::uuidsPerAccount(QSqlDatabase &db, QString &strError)
{
    QSqlQuery query(db);
    bool bInTransaction = false;
    auto fail = [&](const QSqlError &error) {
        strError = error.text();
        query.finish();
        if (bInTransaction)
            db.rollback();
        return false;
    };
    if (m_bPostgres) {
        // Asked first: altering the table would lock out every other instance's requests.
        if (!query.exec(QStringLiteral("SELECT 1 FROM pg_constraint WHERE conname = 'note_uuid_key'"
                                       " AND conrelid = 'note'::regclass")))
            return fail(query.lastError());
        if (query.next()
            && !query.exec(QStringLiteral("ALTER TABLE note DROP CONSTRAINT note_uuid_key")))
            return fail(query.lastError());
        return true;
    }
    if (!query.exec(QStringLiteral("SELECT sql FROM sqlite_master WHERE type = 'table'"
                                   " AND name = 'note'"))
        || !query.next())
        return fail(query.lastError());
    QString strSql = query.value(0).toString();
    query.finish();
    static const QRegularExpression reUnique(QStringLiteral("\\buuid\\s+TEXT\\s+UNIQUE\\b"),
                                             QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression reName(QStringLiteral("^CREATE\\s+TABLE\\s+\"?note\"?\\s*\\("),
                                           QRegularExpression::CaseInsensitiveOption);
    if (!strSql.contains(reUnique))
        return true;
    if (!reName.match(strSql).hasMatch()) {
        strError = QStringLiteral("the notes' table is not of a known form: %1").arg(strSql);
        return false;
    }
    qCInfo(lcServer) << "making note UUIDs unique per account: copying the notes once";
    strSql.replace(reUnique, QStringLiteral("uuid TEXT"));
    strSql.replace(reName, QStringLiteral("CREATE TABLE note_rebuilt ("));
    if (!db.transaction())
        return fail(db.lastError());
    bInTransaction = true;
    qint64 nSequence = 0;
    if (!query.exec(QStringLiteral("SELECT seq FROM sqlite_sequence WHERE name = 'note'")))
        return fail(query.lastError());
    if (query.next())
        nSequence = query.value(0).toLongLong();
    query.finish();
    for (const QString &strStep : {strSql,
                                   QStringLiteral("INSERT INTO note_rebuilt SELECT * FROM note"),
                                   QStringLiteral("DROP TABLE note"),
                                   QStringLiteral("ALTER TABLE note_rebuilt RENAME TO note")}) {
        if (!query.exec(strStep))
            return fail(query.lastError());
    }
    // Ids of notes deleted with their account are not given again.
    query.prepare(
        QStringLiteral("UPDATE sqlite_sequence SET seq = MAX(seq, ?) WHERE name = 'note'"));
    query.addBindValue(nSequence);
    if (!query.exec())
        return fail(query.lastError());
    // The table's indexes and triggers went with the old table; they are made again.
    for (const QString &strStep : schemaStatements(false)) {
        if (!query.exec(strStep))
            return fail(query.lastError());
    }
    if (!db.commit())
        return fail(db.lastError());
    return true;
}

// UUIDs are kept in one form, lower case in braces, as requests are read; older versions
// kept them as sent, so that "ABC…" and "{abc…}" could not find each other. Done once and
// marked in service_meta. Of an account's notes that share one UUID in different forms,
// the one that already has the kept form stays, or else the latest changed takes it; the
// others keep theirs and stay reachable by id.
bool CServerDb::normalUuids(QSqlDatabase &db, QString &strError)
{
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("SELECT value FROM service_meta WHERE key = 'uuids'"))) {
        strError = query.lastError().text();
        return false;
    }
    if (query.next())
        return true;
    query.finish();
    const QString strNormal = QStringLiteral(
        "(CASE WHEN substr(uuid, 1, 1) = '{' THEN lower(uuid) ELSE '{' || lower(uuid) || '}' END)");
    const QString strSql
        = QStringLiteral(
              "UPDATE note SET uuid = %1 WHERE id IN (SELECT id FROM (SELECT id, ROW_NUMBER()"
              " OVER (PARTITION BY user_id, %1 ORDER BY updated_at DESC, id DESC) AS rank"
              " FROM note WHERE ((length(uuid) = 36 AND substr(uuid, 1, 1) <> '{')"
              " OR (length(uuid) = 38 AND substr(uuid, 1, 1) = '{' AND substr(uuid, 38, 1) = '}'))"
              " AND uuid <> %1) AS forms WHERE rank = 1)"
              " AND NOT EXISTS (SELECT 1 FROM note AS kept WHERE kept.user_id = note.user_id"
              " AND kept.uuid = %1)")
              .arg(strNormal);
    if (!db.transaction() || !query.exec(strSql)
        || !query.exec(
            QStringLiteral("INSERT INTO service_meta (key, value) VALUES ('uuids', 'normal')"))
        || !db.commit()) {
        strError = query.lastError().isValid() ? query.lastError().text() : db.lastError().text();
        db.rollback();
        return false;
    }
    return true;
}

// Notes' times were kept as the service's local time; they are kept in UTC now, so that
// changes from computers in other zones compare by real time. Done once, in one
// transaction, and marked in service_meta.
bool CServerDb::keepTimesInUtc(QSqlDatabase &db, QString &strError)
{
    QSqlQuery query(db);
    auto fail = [&](const QSqlError &error) {
        strError = error.text();
        return false;
    };
    if (!query.exec(QStringLiteral("CREATE TABLE IF NOT EXISTS service_meta ("
                                   " key TEXT PRIMARY KEY, value TEXT NOT NULL)")))
        return fail(query.lastError());
    if (!query.exec(QStringLiteral("SELECT value FROM service_meta WHERE key = 'times'")))
        return fail(query.lastError());
    if (query.next() && query.value(0).toString() == QLatin1String("utc"))
        return true;
    query.finish();
    if (!db.transaction())
        return fail(db.lastError());
    QVector<std::tuple<qint64, QString, QString>> vecNotes;
    if (!query.exec(QStringLiteral("SELECT id, created_at, updated_at FROM note"))) {
        const QSqlError error = query.lastError();
        db.rollback();
        return fail(error);
    }
    while (query.next())
        vecNotes.append(
            {query.value(0).toLongLong(), query.value(1).toString(), query.value(2).toString()});
    query.finish();
    const QTimeZone zone = QTimeZone::systemTimeZone();
    auto utc = [&zone](const QString &str) {
        const QString strKept = Validation::isMoment(str) ? WireTime::toKept(str, zone) : QString();
        return strKept.isEmpty() ? str : strKept;
    };
    query.prepare(QStringLiteral("UPDATE note SET created_at = ?, updated_at = ? WHERE id = ?"));
    for (const auto &note : qAsConst(vecNotes)) {
        query.addBindValue(utc(std::get<1>(note)));
        query.addBindValue(utc(std::get<2>(note)));
        query.addBindValue(std::get<0>(note));
        if (!query.exec()) {
            const QSqlError error = query.lastError();
            db.rollback();
            return fail(error);
        }
    }
    if (!query.exec(QStringLiteral("INSERT INTO service_meta (key, value) VALUES ('times', 'utc')"))
        || !db.commit()) {
        const QSqlError error = query.lastError();
        db.rollback();
        return fail(error);
    }
    if (!vecNotes.isEmpty())
        qCInfo(lcServer) << "times of" << vecNotes.size() << "notes are kept in UTC now";
    return true;
}

QSqlQuery CServerDb::preparedQuery(const QString &strSql, bool &bOk)
{
    bOk = true;
    auto it = t_connection.m_hashQueries.find(strSql);
    if (it != t_connection.m_hashQueries.end())
        return it.value();
    QString strError;
    QSqlQuery query(connection(strError));
    query.setForwardOnly(true);
    bOk = query.prepare(strSql);
    if (bOk)
        t_connection.m_hashQueries.insert(strSql, query);
    return query;
}

void CServerDb::finishQueries()
{
    for (QSqlQuery &query : t_connection.m_hashQueries) {
        if (query.isActive())
            query.finish();
    }
}

QSqlQuery CServerDb::statement(const QString &strSql,
                               const QVariantList &lstBind,
                               bool bOneOff,
                               bool &bOk)
{
    for (const QVariant &value : lstBind) {
        if ((value.userType() == QMetaType::QString && value.toString().size() > 64 * 1024)
            || (value.userType() == QMetaType::QByteArray && value.toByteArray().size() > 64 * 1024))
            bOneOff = true;
    }
    if (!bOneOff)
        return preparedQuery(strSql, bOk);
    QString strError;
    QSqlQuery query(connection(strError));
    query.setForwardOnly(true);
    bOk = query.prepare(strSql);
    return query;
}

bool CServerDb::execQuery(QSqlQuery &query,
                          const QString &strSql,
                          const QVariantList &lstBind,
                          bool bOneOff)
{
    bool bOk = false;
    query = statement(strSql, lstBind, bOneOff, bOk);
    if (!bOk)
        return false;
    for (int i = 0; i < lstBind.size(); ++i)
        query.bindValue(i, lstBind.at(i));
    if (!m_bPostgres && !strSql.startsWith(QLatin1String("SELECT"))) {
        bool bDone = false;
        {
            std::lock_guard<std::mutex> lock(m_mutexWrites);
            bDone = query.exec();
        }
        noteWrite();
        return bDone;
    }
    return query.exec();
}

bool CServerDb::execStep(QSqlQuery &query, const QString &strSql, QString &strError)
{
    if (query.exec(strSql))
        return true;
    strError = query.lastError().text();
    return false;
}

bool CServerDb::execSteps(QSqlDatabase &db, const QStringList &lstSql, QString &strError)
{
    if (!db.transaction()) {
        strError = db.lastError().text();
        return false;
    }
    QSqlQuery query(db);
    for (const QString &strSql : lstSql) {
        if (!execStep(query, strSql, strError)) {
            query.finish();
            db.rollback();
            return false;
        }
    }
    query.finish();
    if (!db.commit()) {
        strError = db.lastError().text();
        db.rollback();
        return false;
    }
    return true;
}

bool CServerDb::execReturning(QSqlQuery &query,
                              const QString &strSql,
                              const QVariantList &lstBind,
                              qint64 &nId)
{
    bool bOk = false;
    query = statement(strSql, lstBind, false, bOk);
    if (!bOk)
        return false;
    for (int i = 0; i < lstBind.size(); ++i)
        query.bindValue(i, lstBind.at(i));
    std::unique_lock<std::mutex> lock(m_mutexWrites, std::defer_lock);
    if (!m_bPostgres)
        lock.lock();
    if (!query.exec())
        return false;
    nId = query.next() ? query.value(0).toLongLong() : 0;
    // SQLite commits when the statement runs to its end, and a commit can fail (a full
    // disk): the row counts as written only when the last step says so. Ending the
    // statement early would discard that failure and confirm a row that is gone.
    while (query.next()) {
    }
    const bool bCommitted = !query.lastError().isValid();
    // (A failed step has ended the statement already; finishing it again would lose
    // the error's text.)
    if (bCommitted)
        query.finish();
    if (lock.owns_lock()) {
        lock.unlock();
        noteWrite();
    }
    if (!bCommitted)
        nId = 0;
    return bCommitted;
}
