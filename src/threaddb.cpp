#include "threaddb.h"

#include "dbrows.h"
#include "kelpolog.h"
#include "notesearch.h"
#include "notetext.h"

#include <QDataStream>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStringList>
#include <QTimer>
#include <QVector>

#include <algorithm>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// Notes whose visible text one migration step derives; a step keeps the worker from the
// caller's requests for a few tens of milliseconds at most.
constexpr int kPlainBatch = 100;
// How long the worker must have had no request before a step of it runs.
constexpr int kDeriveIdleMs = 250;
// The longest a step waits for such a pause.
constexpr int kDeriveLongestWaitMs = 2000;
const QString kDeriveRequest = QStringLiteral("derive_plain_text");

// How long SQLite waits for a lock held by another process before it gives up: at the
// first open, and at the later attempts that each request makes while the file is locked
// (short, so that a queue of requests is answered at once).
constexpr int kBusyTimeoutMs = 1000;
constexpr int kReopenBusyTimeoutMs = 100;

// The file of unfinished writes: a mark, a version, then the requests.
constexpr quint32 kUnfinishedMagic = 0x4b4c5057; // "KLPW"
constexpr qint32 kUnfinishedVersion = 1;

// The header of an SQLite file, and the ranges of it that stay the same while Kelpo has
// the file open: the mark and the page size. (A new file's schema format and encoding
// are still 0 until its first page is written at a checkpoint.)
const QByteArray kSqliteMagic("SQLite format 3", 16);
constexpr int kHeaderSize = 100;
const QVector<QPair<int, int>> kStableHeaderRanges{{0, 18}, {20, 24}};

// A new database in write-ahead mode has a header with schema format 0 in the file until
// its first checkpoint writes the real first page: that header says nothing yet.
bool headerWritten(const QByteArray &baHeader)
{
    return baHeader.size() >= kHeaderSize && baHeader.mid(44, 4) != QByteArray(4, '\0');
}

QByteArray stableHeader(const QByteArray &baHeader)
{
    QByteArray ba;
    for (const auto &range : kStableHeaderRanges)
        ba += baHeader.mid(range.first, range.second - range.first);
    return ba;
}

// The kind of a failure from SQLite's result code.
QLatin1String errorKind(const QSqlError &error)
{
    bool bOk = false;
    const int nCode = error.nativeErrorCode().toInt(&bOk) & 0xff;
    if (!bOk)
        return CThreadDb::kKindOther;
    switch (nCode) {
    case 5: // SQLITE_BUSY
    case 6: // SQLITE_LOCKED
        return CThreadDb::kKindLocked;
    case 8: // SQLITE_READONLY
        return CThreadDb::kKindReadOnly;
    case 13: // SQLITE_FULL
        return CThreadDb::kKindFull;
    case 11: // SQLITE_CORRUPT
    case 26: // SQLITE_NOTADB
        return CThreadDb::kKindDamaged;
    case 14: // SQLITE_CANTOPEN
        return CThreadDb::kKindCannotOpen;
    default:
        return CThreadDb::kKindOther;
    }
}

} // namespace

// Whether a request may change the database (reads are never kept for later).
bool CThreadDb::isWrite(const QVariantMap &mapRequest)
{
    const QString strType = mapRequest.value(QStringLiteral("type")).toString();
    if (strType == QLatin1String("replace") || strType == QLatin1String("batch"))
        return true;
    // A search reads; a migration step is done again from the data at the next start.
    if (strType == QLatin1String("search") || strType == kDeriveRequest)
        return false;
    QString strSql = mapRequest.value(QStringLiteral("sql_prepare")).toString();
    if (!mapRequest.contains(QStringLiteral("sql_prepare")))
        strSql = mapRequest.value(QStringLiteral("sql")).toString();
    strSql = strSql.trimmed();
    return !strSql.startsWith(QLatin1String("SELECT"), Qt::CaseInsensitive)
           && !strSql.startsWith(QLatin1String("PRAGMA"), Qt::CaseInsensitive);
}

namespace {

QList<QVariantMap> readUnfinished(const QString &strFile)
{
    QList<QVariantMap> lst;
    QFile file(strFile);
    if (!file.open(QIODevice::ReadOnly))
        return lst;
    QDataStream in(&file);
    quint32 nMagic = 0;
    qint32 nVersion = 0;
    in >> nMagic >> nVersion;
    if (nMagic != kUnfinishedMagic || nVersion != kUnfinishedVersion) {
        qCWarning(lcStore) << "ignoring" << strFile << ": not a file of unfinished writes";
        return lst;
    }
    in.setVersion(QDataStream::Qt_5_15);
    in >> lst;
    if (in.status() != QDataStream::Ok) {
        qCWarning(lcStore) << strFile << "is cut short; reading what it holds";
    }
    return lst;
}

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
    // How far the changes of an account at a service have been followed here (CChangeFeed).
    "CREATE TABLE IF NOT EXISTS change_cursor ("
    " user_id INTEGER NOT NULL,"
    " service_url TEXT NOT NULL,"
    " server_user_id INTEGER NOT NULL,"
    " cursor INTEGER NOT NULL DEFAULT 0,"
    " walk_top INTEGER NOT NULL DEFAULT 0,"
    " walk_before INTEGER NOT NULL DEFAULT 0,"
    " PRIMARY KEY (user_id, service_url, server_user_id))",
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
{
    // The worker's results cross to the owner's thread once, as they are read, and become
    // the callers' maps there (deliver()).
    qRegisterMetaType<CDbRows>();
    connect(this, &CThreadDb::resultReady, this, &CThreadDb::deliver, Qt::QueuedConnection);
}

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

QString CThreadDb::unfinishedFile(const QString &strDbName)
{
    return strDbName + QStringLiteral(".unfinished");
}

const QString CThreadDb::kLogTrimByAge = QStringLiteral("DELETE FROM log WHERE log_at < :cutoff");
const QString CThreadDb::kLogTrimByCount
    = QStringLiteral("DELETE FROM log WHERE id <= (SELECT id FROM log ORDER BY id DESC"
                     " LIMIT 1 OFFSET %1)")
          .arg(CThreadDb::kLogKeepRows);

QString CThreadDb::logCutoff()
{
    return QDateTime::currentDateTime()
        .addDays(-kLogKeepDays)
        .toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
}

const QLatin1String CThreadDb::kKindLocked("locked");
const QLatin1String CThreadDb::kKindReadOnly("read_only");
const QLatin1String CThreadDb::kKindFull("full");
const QLatin1String CThreadDb::kKindDamaged("damaged");
const QLatin1String CThreadDb::kKindDeleted("deleted");
const QLatin1String CThreadDb::kKindReplaced("replaced");
const QLatin1String CThreadDb::kKindCannotOpen("cannot_open");
const QLatin1String CThreadDb::kKindOther("other");
const QLatin1String CThreadDb::kKindUnfinishedDone("unfinished_done");

void CThreadDb::setOpenError(const QString &strKind, const QString &strReason)
{
    // Said once for each new reason: a locked file is tried again at every request.
    if (strReason != m_strLastOpenWarning)
        qCWarning(lcStore) << "Fail to open db: " << m_strConnectionName << strReason;
    m_strLastOpenWarning = strReason;
    m_strOpenErrorKind = strKind;
    m_strOpenErrorText = strReason;
    m_strOpenError = QStringLiteral("Fail to open db: ") + strReason;
}

void CThreadDb::initialize()
{
    m_strConnectionName = QStringLiteral("ThreadDb_SQLITE_%1")
                              .arg(reinterpret_cast<quintptr>(QThread::currentThreadId()));
    m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_strConnectionName);
    if (!m_db.isValid()) {
        qCWarning(lcStore) << "Fail to add db connection: " << m_strConnectionName;
        m_strOpenError = QStringLiteral("Fail to add db connection: ") + m_strConnectionName;
        m_strOpenErrorText = m_strOpenError;
        m_strOpenErrorKind = kKindCannotOpen;
        return;
    }
    // Read before the file is opened; removed once it is, so that a stop that never comes
    // to release() (a crash, a kill) leaves the next start without it.
    const bool bCheck = needsCheck(m_strDbName);
    // A new file has nothing to check yet.
    m_nCheckedAt = QFile::exists(m_strDbName) ? checkedAt(m_strDbName)
                                              : QDateTime::currentSecsSinceEpoch();
    if (openDb(kBusyTimeoutMs)) {
        QFile::remove(cleanCloseFile(m_strDbName));
        if (bCheck)
            checkIntegrity();
        carryOutUnfinished();
        tidyUp();
    }
}

QString CThreadDb::cleanCloseFile(const QString &strDbName)
{
    return strDbName + QStringLiteral(".closed");
}

namespace {

// The file's identity and last change as a line of the record of a clean close.
QString fileState(const QString &strDbName)
{
    struct stat st = {};
    if (::stat(QFile::encodeName(strDbName).constData(), &st) != 0)
        return QString();
    return QStringLiteral("%1 %2 %3 %4.%5 %6.%7")
        .arg(quint64(st.st_dev))
        .arg(quint64(st.st_ino))
        .arg(qint64(st.st_size))
        .arg(qint64(st.st_mtim.tv_sec))
        .arg(qint64(st.st_mtim.tv_nsec))
        .arg(qint64(st.st_ctim.tv_sec))
        .arg(qint64(st.st_ctim.tv_nsec));
}

// The record's two lines: the file's state when it was closed, and the time (seconds
// since the epoch) of its last whole check.
QStringList readCleanClose(const QString &strDbName)
{
    QFile file(CThreadDb::cleanCloseFile(strDbName));
    if (!file.open(QIODevice::ReadOnly))
        return QStringList();
    const QStringList lst = QString::fromUtf8(file.read(4096)).split(QLatin1Char('\n'));
    if (lst.size() < 2)
        return QStringList();
    return lst.mid(0, 2);
}

} // namespace

qint64 CThreadDb::checkedAt(const QString &strDbName)
{
    bool bOk = false;
    const qint64 nAt = readCleanClose(strDbName).value(1).toLongLong(&bOk);
    return bOk ? nAt : 0;
}

// Checking a large file whole takes seconds of a core: it is done only when the file may
// have come to harm, not at every start.
bool CThreadDb::needsCheck(const QString &strDbName, qint64 nNowSecs)
{
    if (!QFile::exists(strDbName))
        return false; // a new file
    const QStringList lst = readCleanClose(strDbName);
    if (lst.isEmpty() || QFile::exists(strDbName + QStringLiteral("-wal")))
        return true; // not closed by Kelpo: a crash, a kill, a power cut, or an older Kelpo
    if (lst.first() != fileState(strDbName))
        return true; // changed since: copied over, restored, written by another program
    const qint64 nChecked = checkedAt(strDbName);
    return nChecked <= 0 || nNowSecs - nChecked >= qint64(kCheckEveryDays) * 24 * 3600;
}

// After a clean close: the file as it is left and the time of its last whole check.
void CThreadDb::recordCleanClose()
{
    const QString strState = fileState(m_strDbName);
    if (strState.isEmpty())
        return;
    QSaveFile file(cleanCloseFile(m_strDbName));
    if (!file.open(QIODevice::WriteOnly)
        || file.write(QStringLiteral("%1\n%2\n").arg(strState).arg(m_nCheckedAt).toUtf8()) < 0
        || !file.commit())
        qCWarning(lcStore) << "cannot write" << file.fileName() << ":" << file.errorString();
}

// Opens the file, takes the exclusive lock that it keeps while open, and brings the
// schema up to date. On failure the connection is closed and m_strOpenError says why.
bool CThreadDb::openDb(int nBusyTimeoutMs)
{
    m_timerOpenTried.start();
    m_strOpenError.clear();
    m_strOpenErrorText.clear();
    m_strOpenErrorKind.clear();

    const QFileInfo info(m_strDbName);
    if (!QDir().mkpath(info.absolutePath())) {
        setOpenError(kKindReadOnly, QStringLiteral("cannot create folder ") + info.absolutePath());
        return false;
    }

    m_db.setDatabaseName(m_strDbName);
    m_db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(nBusyTimeoutMs));
    if (!m_db.open()) {
        const QSqlError error = m_db.lastError();
        setOpenError(errorKind(error) == kKindOther ? kKindCannotOpen : errorKind(error),
                     error.text());
        return false;
    }

    m_pQuery = new QSqlQuery(m_db);
    m_pQuery->setForwardOnly(true);
    const QVariant handle = m_db.driver()->handle();
    if (handle.isValid() && qstrcmp(handle.typeName(), "sqlite3*") == 0)
        m_pSqlite = *static_cast<sqlite3 *const *>(handle.constData());
    QSqlError error;
    CNoteSearch::registerFunctions(m_db);
    const QString strError = createSchema();
    if (!strError.isEmpty()) {
        error = m_pQuery->lastError();
        // The statement that failed may have been rolled back since: its kind is in the
        // text as well.
        QLatin1String kind = errorKind(error);
        if (kind == kKindOther && strError.contains(QLatin1String("locked")))
            kind = kKindLocked;
        if (kind == kKindOther)
            kind = kKindCannotOpen;
        setOpenError(kind, strError);
        closeDb();
        return false;
    }
    recordIdentity();
    m_strLastOpenWarning.clear();

    // Notes from before the visible-text column, or written without it: derived in the
    // background, behind whatever the user asks for meanwhile.
    m_nPlainDone = 0;
    m_nPlainTotal = 0;
    if (exec(QStringLiteral("SELECT COUNT(*) FROM note WHERE plain_text IS NULL"))
        && m_pQuery->next())
        m_nPlainTotal = m_pQuery->value(0).toInt();
    m_pQuery->finish();
    if (m_nPlainTotal > 0) {
        qCInfo(lcStore) << "deriving the visible text of" << m_nPlainTotal << "notes";
        scheduleDerive();
    }
    return true;
}

void CThreadDb::closeDb()
{
    delete m_pQuery;
    m_pQuery = nullptr;
    m_pSqlite = nullptr;
    if (m_db.isOpen())
        m_db.close();
}

// A damaged file is reported once at start; the rows that can still be read stay readable.
void CThreadDb::checkIntegrity()
{
    QStringList lstProblems;
    if (exec(QStringLiteral("PRAGMA quick_check"))) {
        while (m_pQuery->next())
            lstProblems << m_pQuery->value(0).toString();
    }
    if (m_pQuery->lastError().isValid())
        lstProblems << m_pQuery->lastError().text();
    m_pQuery->finish();
    if (lstProblems == QStringList{QStringLiteral("ok")}) {
        m_nCheckedAt = QDateTime::currentSecsSinceEpoch();
        return;
    }
    qCWarning(lcStore) << m_strDbName << "is damaged:" << lstProblems.mid(0, 5);
    emit notice(
        QVariantMap{{QStringLiteral("kind"), kKindDamaged},
                    {QStringLiteral("file"), m_strDbName},
                    {QStringLiteral("detail"), lstProblems.mid(0, 3).join(QLatin1Char('\n'))}});
}

// At start: the log is bounded.
void CThreadDb::tidyUp()
{
    const QVariantMap mapCutoff{{QStringLiteral("cutoff"), logCutoff()}};
    if (!execPrepared(kLogTrimByAge, mapCutoff) || !exec(kLogTrimByCount))
        qCWarning(lcStore) << "tidying up" << m_strDbName
                           << "failed:" << m_pQuery->lastError().text();
    m_pQuery->finish();
}

// Writes that a stop left over are carried out before any new request, in their order.
void CThreadDb::carryOutUnfinished()
{
    const QString strFile = unfinishedFile(m_strDbName);
    if (!QFile::exists(strFile))
        return;
    const QList<QVariantMap> lst = readUnfinished(strFile);
    int nFailed = 0;
    for (const QVariantMap &mapRequest : lst) {
        QVariantMap mapResult;
        if (!runRequest(mapRequest, mapResult))
            ++nFailed;
    }
    if (!QFile::remove(strFile))
        qCWarning(lcStore) << "cannot remove" << strFile;
    qCInfo(lcStore) << "carried out" << lst.size() - nFailed
                    << "writes left unfinished at the last stop;" << nFailed << "failed";
    emit notice(QVariantMap{{QStringLiteral("kind"), kKindUnfinishedDone},
                            {QStringLiteral("file"), m_strDbName},
                            {QStringLiteral("count"), lst.size() - nFailed},
                            {QStringLiteral("failed"), nFailed}});
}

void CThreadDb::keepUnfinished(const QList<QVariantMap> &lstRequests)
{
    QList<QVariantMap> lstWrites;
    for (const QVariantMap &mapRequest : lstRequests) {
        if (isWrite(mapRequest))
            lstWrites << mapRequest;
    }
    if (lstWrites.isEmpty())
        return;
    const QString strFile = unfinishedFile(m_strDbName);
    // Writes kept at an earlier stop and not carried out yet come first.
    QList<QVariantMap> lstAll = readUnfinished(strFile);
    lstAll += lstWrites;
    QSaveFile file(strFile);
    if (file.open(QIODevice::WriteOnly)) {
        QDataStream out(&file);
        out << kUnfinishedMagic << kUnfinishedVersion;
        out.setVersion(QDataStream::Qt_5_15);
        out << lstAll;
        if (out.status() == QDataStream::Ok && file.commit()) {
            qCWarning(lcStore) << lstWrites.size()
                               << "writes could not be finished before the stop; kept in" << strFile
                               << "for the next start";
            return;
        }
    }
    qCWarning(lcStore) << lstWrites.size() << "writes could not be finished before the stop"
                       << "and could not be kept in" << strFile << ":" << file.errorString();
}

void CThreadDb::recordIdentity()
{
    struct stat st = {};
    m_nHeaderFd = -1;
    if (::stat(QFile::encodeName(m_strDbName).constData(), &st) != 0) {
        m_nDevice = m_nInode = 0;
        return;
    }
    m_nDevice = quint64(st.st_dev);
    m_nInode = quint64(st.st_ino);
    m_baHeader.clear();
    const QByteArray ba = readHeader();
    if (ba.size() == kHeaderSize && ba.startsWith(kSqliteMagic) && headerWritten(ba))
        m_baHeader = stableHeader(ba);
}

// The file's first bytes, read through the descriptor that SQLite has open on it. Opening
// and closing a descriptor of our own would drop SQLite's locks on the file: POSIX releases
// all of a process's locks on a file when any of its descriptors for it is closed.
QByteArray CThreadDb::readHeader()
{
    // The descriptor found last time, while it is still the open file: listing the
    // process's descriptors at every request would cost more than most statements.
    if (m_nHeaderFd >= 0) {
        struct stat st = {};
        if (::fstat(m_nHeaderFd, &st) == 0 && quint64(st.st_dev) == m_nDevice
            && quint64(st.st_ino) == m_nInode)
            return readHeaderFrom(m_nHeaderFd);
        m_nHeaderFd = -1;
    }
    const QDir dirFds(QStringLiteral("/proc/self/fd"));
    for (const QString &strFd :
         dirFds.entryList(QDir::Files | QDir::System | QDir::NoDotAndDotDot)) {
        bool bOk = false;
        const int nFd = strFd.toInt(&bOk);
        struct stat st = {};
        if (!bOk || ::fstat(nFd, &st) != 0 || quint64(st.st_dev) != m_nDevice
            || quint64(st.st_ino) != m_nInode)
            continue;
        m_nHeaderFd = nFd;
        return readHeaderFrom(nFd);
    }
    return QByteArray();
}

QByteArray CThreadDb::readHeaderFrom(int nFd)
{
    // Read into a plain buffer: an optimised build cannot tell a QByteArray's size.
    char acHeader[kHeaderSize];
    const ssize_t nRead = ::pread(nFd, acHeader, sizeof(acHeader), 0);
    if (nRead < 0)
        return QByteArray();
    return QByteArray(acHeader, int(nRead));
}

QString CThreadDb::lostIdentity()
{
    if (m_nInode == 0)
        return QString();
    struct stat st = {};
    if (::stat(QFile::encodeName(m_strDbName).constData(), &st) != 0)
        return kKindDeleted;
    if (quint64(st.st_dev) != m_nDevice || quint64(st.st_ino) != m_nInode)
        return kKindReplaced;
    const QByteArray ba = readHeader();
    // A file still without its first page (a new database in write-ahead mode) gets its
    // header at the first checkpoint.
    if (ba.isEmpty())
        return QString();
    if (!ba.startsWith(kSqliteMagic.left(qMin(ba.size(), kSqliteMagic.size()))))
        return kKindReplaced;
    // A new database in write-ahead mode keeps a header without schema format and text
    // encoding (both 0) until its first checkpoint brings the tables into the file: that
    // header is not the file's own yet.
    if (!headerWritten(ba))
        return QString();
    if (m_baHeader.isEmpty())
        m_baHeader = stableHeader(ba);
    else if (stableHeader(ba) != m_baHeader)
        return kKindReplaced;
    return QString();
}

// The file that Kelpo has open is no longer the one at the path. What the open copy holds
// is written out, where it cannot harm another file: back to the path when nothing is there,
// otherwise beside it. The connection is then closed; the next request opens what is at the
// path now.
void CThreadDb::keepLostFile(const QString &strKind)
{
    QString strTarget = m_strDbName;
    if (strKind != kKindDeleted)
        strTarget = m_strDbName + QStringLiteral(".kept-")
                    + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmss"));
    QDir().mkpath(QFileInfo(m_strDbName).absolutePath());
    bool bKept = false;
    if (!QFile::exists(strTarget) && m_pQuery->prepare(QStringLiteral("VACUUM INTO :target"))) {
        m_pQuery->bindValue(QStringLiteral(":target"), strTarget);
        bKept = m_pQuery->exec();
    }
    const QString strWhy = bKept ? QString() : m_pQuery->lastError().text();
    m_pQuery->finish();
    qCWarning(lcStore) << m_strDbName << "was" << strKind << "while open;"
                       << (bKept
                               ? QStringLiteral("its open copy was written to %1").arg(strTarget)
                               : QStringLiteral("its open copy could not be kept: %1").arg(strWhy));
    closeDb();
    m_nInode = m_nDevice = 0;
    const QString strReason = strKind == kKindDeleted
                                  ? QStringLiteral("the file was deleted while open")
                                  : QStringLiteral("the file was replaced while open");
    m_strOpenErrorKind = strKind;
    m_strOpenErrorText = strReason;
    m_strOpenError = QStringLiteral("Fail to open db: ") + strReason;
    emit notice(QVariantMap{{QStringLiteral("kind"), strKind},
                            {QStringLiteral("file"), m_strDbName},
                            {QStringLiteral("kept"), bKept ? strTarget : QString()},
                            {QStringLiteral("detail"), strWhy}});
}

// Returns the error text, empty on success.
QString CThreadDb::createSchema()
{
    // Exclusive locking: the first write below takes the lock and the connection keeps
    // it, so a second Kelpo on the same file fails here instead of in the middle of work.
    // The write-ahead log commits with one sync; with exclusive locking it needs no
    // shared-memory file.
    // Reads of a large diary map the file instead of copying its pages through a small
    // cache (a search walks many notes).
    if (!exec(QStringLiteral("PRAGMA mmap_size = 268435456"))
        || !exec(QStringLiteral("PRAGMA cache_size = -16384"))
        || !exec(QStringLiteral("PRAGMA locking_mode = EXCLUSIVE"))
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
    // Version 3: every local change waits as pending (sync_state 1) until the service
    // has acknowledged that very version; 2 marks a change the service refused for good;
    // 3 a note without change here whose later text at the service is still to be fetched.
    // Notes never uploaded are pending from the start.
    if (bOk && !hasColumn(QStringLiteral("note"), QStringLiteral("sync_state"))) {
        bOk = exec(QStringLiteral("ALTER TABLE note ADD COLUMN sync_state INTEGER"))
              && exec(QStringLiteral("UPDATE note SET sync_state = 1"
                                     " WHERE server_id IS NULL OR server_id <= 0"));
    }
    if (bOk)
        bOk = exec(QStringLiteral(
            "CREATE INDEX IF NOT EXISTS idx_note_sync_state ON note(sync_state, user_id)"));
    // Version 4: the visible text of each note and its full-text index.
    if (bOk) {
        const QString strError = CNoteSearch::createSchema(m_db, m_bFts);
        if (!strError.isEmpty()) {
            m_pQuery->finish();
            exec(QStringLiteral("ROLLBACK"));
            return strError;
        }
    }
    // Version 5: the times of notes' changes are kept in UTC (they were the computer's
    // local time), so that they compare by real time with those of other computers and
    // of the service. Once, with the version, in this transaction.
    if (bOk && nVersion < 5)
        bOk = exec(
            QStringLiteral("UPDATE note SET"
                           " updated_at = CASE WHEN updated_at GLOB '%1' THEN"
                           " IFNULL(datetime(updated_at, 'utc'), updated_at) ELSE updated_at END,"
                           " created_at = CASE WHEN created_at GLOB '%1' THEN"
                           " IFNULL(datetime(created_at, 'utc'), created_at) ELSE created_at END"
                           " WHERE updated_at GLOB '%1' OR created_at GLOB '%1'")
                .arg(QStringLiteral("[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9]"
                                    " [0-9][0-9]:[0-9][0-9]:[0-9][0-9]")));
    // A change made here is always later than the version it changes, by a second if the
    // clock says otherwise (a clock set back, or two saves within one second): the
    // comparison by time then keeps it, on every computer. (Made after step 5, whose
    // earlier times are no changes.)
    if (bOk)
        bOk = exec(
            QStringLiteral("CREATE TRIGGER IF NOT EXISTS note_change_after_its_base"
                           " AFTER UPDATE OF updated_at ON note"
                           " WHEN new.sync_state = 1 AND new.updated_at <= old.updated_at"
                           " AND old.updated_at GLOB '%1' BEGIN"
                           " UPDATE note SET updated_at = datetime(old.updated_at, '+1 second')"
                           " WHERE id = new.id; END")
                .arg(QStringLiteral("[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9]"
                                    " [0-9][0-9]:[0-9][0-9]:[0-9][0-9]")));
    // Version 6: the version of each note that the service had last, as this computer
    // knows (time and text digest, '' for a version without text): the base that an
    // upload names, so that the service tells a change made without knowledge of a later
    // one. Written with every version of the service that a row takes (CDbMgt and the
    // synchronisation); notes of older files get theirs with their next acknowledged or
    // fetched version.
    if (bOk && !hasColumn(QStringLiteral("note"), QStringLiteral("base_updated_at")))
        bOk = exec(QStringLiteral("ALTER TABLE note ADD COLUMN base_updated_at TEXT"));
    if (bOk && !hasColumn(QStringLiteral("note"), QStringLiteral("base_md5")))
        bOk = exec(QStringLiteral("ALTER TABLE note ADD COLUMN base_md5 TEXT"));
    // With the position in an account's changes, the note the service named with it
    // (CChangeFeed): the service tells by it that its database was put back from an older
    // copy. Positions of older files have none until their next run.
    if (bOk && !hasColumn(QStringLiteral("change_cursor"), QStringLiteral("check_uuid")))
        bOk = exec(QStringLiteral("ALTER TABLE change_cursor ADD COLUMN check_uuid TEXT"))
              && exec(QStringLiteral("ALTER TABLE change_cursor ADD COLUMN check_change INTEGER"
                                     " NOT NULL DEFAULT 0"));
    // Version 7: an empty text has no digest (older versions stored the digest of nothing,
    // or of an empty text, as well). Once, instead of a pass over every note at each open.
    if (bOk && nVersion < 7)
        bOk = exec(
            QStringLiteral("UPDATE note SET md5 = NULL WHERE md5 IS NOT NULL"
                           " AND IFNULL(content_size, 0) <= 0 AND IFNULL(content, '') = ''"));
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
        qCWarning(lcStore) << "local.db has schema version" << nVersion << "newer than"
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
    delete m_pDeriveTimer;
    m_pDeriveTimer = nullptr;
    const bool bWasOpen = m_pQuery != nullptr && m_nInode != 0;
    closeDb();
    if (bWasOpen)
        recordCleanClose();
    m_db = QSqlDatabase();
    if (!m_strConnectionName.isEmpty())
        QSqlDatabase::removeDatabase(m_strConnectionName);
    m_strConnectionName.clear();
}

void CThreadDb::processRequest(QVariantMap mapRequest)
{
    const QString strType = mapRequest.value(QStringLiteral("type")).toString();
    if (strType != QLatin1String("query") && strType != QLatin1String("replace")
        && strType != QLatin1String("batch") && strType != QLatin1String("search")
        && strType != kDeriveRequest)
        return;

    // A file that could not be opened is tried again at every request (or as often as
    // the interval allows): the other program that held it may have quit.
    if (!m_pQuery && m_db.isValid()
        && (m_nReopenIntervalMs <= 0 || m_timerOpenTried.hasExpired(m_nReopenIntervalMs)))
        openDb(kReopenBusyTimeoutMs);

    if (strType != kDeriveRequest)
        m_timerLastRequest.start();
    QVariantMap mapResult;
    mapResult.insert(QStringLiteral("uuid"), mapRequest.value(QStringLiteral("uuid")));
    mapResult.insert(QStringLiteral("type"), QStringLiteral("data"));

    if (m_pQuery) {
        const QString strLost = lostIdentity();
        if (!strLost.isEmpty())
            keepLostFile(strLost);
    }
    // A step of the migration has no caller waiting; without the file it waits for the
    // next start.
    if (strType == kDeriveRequest) {
        if (m_pQuery)
            derivePlainTexts();
        return;
    }
    if (!m_pQuery) {
        // Nothing is written and nothing is reported as done: the caller learns why.
        mapResult.insert(QStringLiteral("error"), m_strOpenError);
        mapResult.insert(QStringLiteral("error_text"), m_strOpenErrorText);
        mapResult.insert(QStringLiteral("error_kind"), m_strOpenErrorKind);
        emit resultReady(mapResult);
        return;
    }

    runRequest(mapRequest, mapResult);
    if (!mapResult.contains(QStringLiteral("error")) && isWrite(mapRequest)) {
        // A write into a file that is no longer the diary is not a saved change.
        const QString strLost = lostIdentity();
        if (!strLost.isEmpty()) {
            keepLostFile(strLost);
            mapResult.remove(QStringLiteral("result"));
            mapResult.remove(QStringLiteral("id"));
            mapResult.insert(QStringLiteral("error"), m_strOpenError);
            mapResult.insert(QStringLiteral("error_text"), m_strOpenErrorText);
            mapResult.insert(QStringLiteral("error_kind"), m_strOpenErrorKind);
        }
    }
    emit resultReady(mapResult);
}

bool CThreadDb::runRequest(const QVariantMap &mapRequest, QVariantMap &mapResult)
{
    const QString strType = mapRequest.value(QStringLiteral("type")).toString();
    if (strType == QLatin1String("replace"))
        return runReplace(mapRequest, mapResult);
    if (strType == QLatin1String("batch"))
        return runBatch(mapRequest, mapResult);
    if (strType == QLatin1String("search"))
        return runSearch(mapRequest, mapResult);
    return runQuery(mapRequest, mapResult);
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
        CDbRows rows;
        if (CDbRows::select(m_pSqlite, strSql, rows)) {
            mapResult.insert(QStringLiteral("result"), QVariant::fromValue(rows));
            return true;
        }
        bOk = exec(strSql);
    }
    if (!bOk) {
        fail(mapRequest, mapResult, strSql);
        return false;
    }
    const CDbRows rows = CDbRows::read(*m_pQuery);
    // A step that fails part way (a damaged page) ends the rows early: that is an error,
    // not a shorter answer.
    if (m_pQuery->lastError().isValid()) {
        fail(mapRequest, mapResult, strSql);
        return false;
    }
    mapResult.insert(QStringLiteral("result"), QVariant::fromValue(rows));
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
    // A look-up that failed has not found nothing: it must not lead to an insert.
    if (!bFound && m_pQuery->lastError().isValid()) {
        fail(mapRequest, mapResult, strSelect);
        return false;
    }
    m_pQuery->finish();
    if (bFound && mapRequest.value(QStringLiteral("keep_found")).toBool()) {
        mapResult.insert(QStringLiteral("kept"), true);
        return true;
    }

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
    // "relaxed": data that can be had again (a page of the service's notes, log entries)
    // commits without waiting for the disk. The write-ahead log keeps the file whole at a
    // power cut, which may only undo the last such commits. Everything else, above all
    // the user's own saves, commits with synchronous = FULL.
    const bool bRelaxed = mapRequest.value(QStringLiteral("relaxed")).toBool();
    if (bRelaxed)
        exec(QStringLiteral("PRAGMA synchronous = NORMAL"));
    const bool bOk = runBatchStatements(mapRequest, mapResult);
    if (bRelaxed && !exec(QStringLiteral("PRAGMA synchronous = FULL")))
        qCWarning(lcStore) << "cannot set synchronous = FULL again:"
                           << m_pQuery->lastError().text();
    m_pQuery->finish();
    // Notes stored without their visible text get it in the background.
    if (bOk && bRelaxed)
        scheduleDerive();
    return bOk;
}

bool CThreadDb::runBatchStatements(const QVariantMap &mapRequest, QVariantMap &mapResult)
{
    if (!exec(QStringLiteral("BEGIN IMMEDIATE"))) {
        fail(mapRequest, mapResult, QStringLiteral("BEGIN IMMEDIATE"));
        return false;
    }
    const QVariantList lstStatements = mapRequest.value(QStringLiteral("statements")).toList();
    QVariantList lstAffected;
    for (const QVariant &statement : lstStatements) {
        const QVariantMap mapStatement = statement.toMap();
        const QString strSql = mapStatement.value(QStringLiteral("sql_prepare")).toString();
        if (!execPrepared(strSql, mapStatement.value(QStringLiteral("sql_data")).toMap())) {
            fail(mapRequest, mapResult, strSql);
            exec(QStringLiteral("ROLLBACK"));
            m_pQuery->finish();
            return false;
        }
        lstAffected << m_pQuery->numRowsAffected();
        m_pQuery->finish();
    }
    if (!exec(QStringLiteral("COMMIT"))) {
        fail(mapRequest, mapResult, QStringLiteral("COMMIT"));
        exec(QStringLiteral("ROLLBACK"));
        m_pQuery->finish();
        return false;
    }
    mapResult.insert(QStringLiteral("count"), lstStatements.size());
    mapResult.insert(QStringLiteral("affected"), lstAffected);
    return true;
}

bool CThreadDb::runSearch(const QVariantMap &mapRequest, QVariantMap &mapResult)
{
    const int nUserId = mapRequest.value(QStringLiteral("user_id")).toInt();
    const QString strOwnership = nUserId >= 1 ? QStringLiteral("user_id = %1 OR user_id IS NULL"
                                                               " OR user_id <= 0")
                                                    .arg(nUserId)
                                              : QStringLiteral("user_id IS NULL OR user_id <= 0");
    const QString strSearch = mapRequest.value(QStringLiteral("search_string")).toString();
    const CNoteSearch::Page page
        = CNoteSearch::plan(m_db,
                            m_bFts,
                            mapRequest.value(QStringLiteral("columns")).toString(),
                            strOwnership,
                            strSearch,
                            mapRequest.value(QStringLiteral("offset")).toInt(),
                            mapRequest.value(QStringLiteral("number")).toInt(),
                            static_cast<CNoteSearch::Plan>(
                                qBound(0, mapRequest.value(QStringLiteral("plan")).toInt(), 2)));
    mapResult.insert(QStringLiteral("search_plan"),
                     page.bIndex ? QStringLiteral("index") : QStringLiteral("walk"));
    if (!execPrepared(page.strSql, page.mapBind)) {
        fail(mapRequest, mapResult, page.strSql);
        return false;
    }
    QVariantList lstRows = CDbRows::read(*m_pQuery).toList();
    if (m_pQuery->lastError().isValid()) {
        fail(mapRequest, mapResult, page.strSql);
        return false;
    }
    m_pQuery->finish();
    const QString strPlain(QStringLiteral("plain_text"));
    for (QVariant &row : lstRows) {
        QVariantMap mapRow = row.toMap();
        mapRow.insert(QStringLiteral("snippet"),
                      searchSnippet(mapRow.value(strPlain).toString(), strSearch));
        row = mapRow;
    }
    mapResult.insert(QStringLiteral("result"), lstRows);
    return true;
}

// One step of the migration: derives the visible text of up to kPlainBatch notes in one
// transaction and queues the next step behind the requests that came meanwhile.
void CThreadDb::derivePlainTexts()
{
    QVector<QPair<qint64, QString>> vecNotes;
    if (exec(QStringLiteral("SELECT id, content FROM note WHERE plain_text IS NULL LIMIT %1")
                 .arg(kPlainBatch))) {
        while (m_pQuery->next())
            vecNotes.append(
                qMakePair(m_pQuery->value(0).toLongLong(), m_pQuery->value(1).toString()));
    }
    m_pQuery->finish();

    bool bOk = exec(QStringLiteral("BEGIN"));
    for (int i = 0; bOk && i < vecNotes.size(); ++i) {
        bOk = execPrepared(QStringLiteral("UPDATE note SET plain_text = :plain WHERE id = :id"),
                           {{QStringLiteral("plain"), notePlainText(vecNotes.at(i).second)},
                            {QStringLiteral("id"), vecNotes.at(i).first}});
    }
    bOk = bOk && exec(QStringLiteral("COMMIT"));
    if (!bOk) {
        // Left for the next start; searches meanwhile check these notes' rich text.
        qCWarning(lcStore) << "deriving visible texts failed:" << m_pQuery->lastError().text();
        m_pQuery->finish();
        exec(QStringLiteral("ROLLBACK"));
        if (m_nPlainDone < m_nPlainTotal) {
            m_nPlainDone = m_nPlainTotal;
            emit plainTextProgress(m_nPlainDone, m_nPlainTotal);
        }
        return;
    }
    m_pQuery->finish();
    const bool bMore = vecNotes.size() == kPlainBatch;
    // Progress is told for the migration found at open; notes that arrive later (a
    // synchronisation) are done quietly.
    if (m_nPlainDone < m_nPlainTotal) {
        m_nPlainDone = bMore ? qMin(m_nPlainTotal, m_nPlainDone + vecNotes.size()) : m_nPlainTotal;
        emit plainTextProgress(m_nPlainDone, m_nPlainTotal);
    }
    if (bMore)
        scheduleDerive();
}

// The next step of the visible texts' derivation runs once the worker has had no request
// for kDeriveIdleMs: requests never wait behind it for long, and a synchronisation's pages
// are stored first.
void CThreadDb::scheduleDerive()
{
    if (!m_pDeriveTimer) {
        m_pDeriveTimer = new QTimer;
        m_pDeriveTimer->setSingleShot(true);
        connect(m_pDeriveTimer, &QTimer::timeout, m_pDeriveTimer, [this] {
            bool bQueued;
            {
                QReadLocker locker(&m_lock);
                bQueued = !m_listRequest.isEmpty();
            }
            const bool bBusy = bQueued
                               || (m_timerLastRequest.isValid()
                                   && !m_timerLastRequest.hasExpired(kDeriveIdleMs));
            // A worker that never pauses still gets a step done now and then.
            if (bBusy && !m_timerDeriveWaits.hasExpired(kDeriveLongestWaitMs)) {
                m_pDeriveTimer->start(kDeriveIdleMs);
                return;
            }
            m_timerDeriveWaits.invalidate();
            addRequest(QVariantMap{{QStringLiteral("type"), kDeriveRequest}});
        });
    }
    if (!m_pDeriveTimer->isActive()) {
        m_timerDeriveWaits.start();
        m_pDeriveTimer->start(kDeriveIdleMs);
    }
}

bool CThreadDb::exec(const QString &strSql)
{
    return m_pQuery->exec(strSql);
}

bool CThreadDb::execPrepared(const QString &strSql, const QVariantMap &mapData)
{
    if (!m_pQuery->prepare(strSql))
        return false;
    const QString strPlain(QStringLiteral("plain_text"));
    const QString strContent(QStringLiteral("content"));
    for (auto it = mapData.cbegin(); it != mapData.cend(); ++it) {
        // A note's visible text goes with its body: derived here, on the worker.
        if (it.key() == strPlain && mapData.contains(strContent))
            m_pQuery->bindValue(QLatin1Char(':') + it.key(),
                                notePlainText(mapData.value(strContent).toString()));
        else
            m_pQuery->bindValue(QLatin1Char(':') + it.key(), it.value());
    }
    return m_pQuery->exec();
}

// On the owner's thread: the rows read on the worker become the maps the callers know,
// where they will be used and freed.
void CThreadDb::deliver(const QVariant &result)
{
    QVariantMap mapResult = result.toMap();
    const auto it = mapResult.find(QStringLiteral("result"));
    if (it != mapResult.end() && it->userType() == qMetaTypeId<CDbRows>())
        *it = it->value<CDbRows>().toList();
    emit dataReceived(mapResult);
}

void CThreadDb::fail(const QVariantMap &mapRequest, QVariantMap &mapResult, const QString &strSql)
{
    const QSqlError error = m_pQuery->lastError();
    mapResult.insert(QStringLiteral("error"),
                     QStringLiteral("%1(%2)")
                         .arg(error.text(), mapRequest.value(QStringLiteral("sql")).toString()));
    mapResult.insert(QStringLiteral("error_text"), error.text());
    mapResult.insert(QStringLiteral("error_kind"), errorKind(error));
    qCWarning(lcStore) << "Fail to run command:" << error.text();
    qCDebug(lcStore) << "error sql: " << strSql;
    qCDebug(lcStore) << "map" << redacted(mapRequest);
    m_pQuery->finish();
}
