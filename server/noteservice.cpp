#include "noteservice.h"

#include "kelpolog.h"
#include "secrets.h"
#include "serverconfig.h"
#include "serverdb.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QJsonArray>
#include <QRegularExpression>
#include <QSqlQuery>

#include <atomic>
#include <cstdio>
#include <mutex>

namespace {

const QString g_strTokenWrong = QStringLiteral("Login token is wrong.");
const QString g_strWrongLogin = QStringLiteral("Wrong name or password.");
const QString g_strTooMany = QStringLiteral("Too many attempts. Try again later.");
const QString g_strNoNote = QStringLiteral("The note does not exist.");
const QString g_strMomentFormat = QStringLiteral("yyyy-MM-dd hh:mm:ss");

// The columns of a note answer, in the order noteObject() reads them.
const QString g_strNoteColumns = QStringLiteral(
    "id, uuid, user_id, set_at, created_at, updated_at, title, content, content_size, md5, "
    "deleted");

// "yyyy-MM-dd hh:mm:ss" with a real date and time. Checked by hand: Qt's parser
// consults the local time zone, which costs a system call and a global lock.
bool isMoment(const QString &str)
{
    if (str.size() != 19)
        return false;
    auto number = [&](int nFrom, int nLength) {
        int n = 0;
        for (int i = nFrom; i < nFrom + nLength; ++i) {
            const QChar c = str.at(i);
            if (c < QLatin1Char('0') || c > QLatin1Char('9'))
                return -1;
            n = n * 10 + (c.unicode() - '0');
        }
        return n;
    };
    if (str.at(4) != QLatin1Char('-') || str.at(7) != QLatin1Char('-')
        || str.at(10) != QLatin1Char(' ') || str.at(13) != QLatin1Char(':')
        || str.at(16) != QLatin1Char(':'))
        return false;
    const int nYear = number(0, 4), nMonth = number(5, 2), nDay = number(8, 2);
    const int nHour = number(11, 2), nMinute = number(14, 2), nSecond = number(17, 2);
    return nYear >= 1 && QDate::isValid(nYear, nMonth, nDay) && nHour >= 0 && nHour < 24
           && nMinute >= 0 && nMinute < 60 && nSecond >= 0 && nSecond < 60;
}

bool isDay(const QString &str)
{
    return str.size() == 10 && isMoment(str + QStringLiteral(" 00:00:00"));
}

bool isHex(const QString &str, int nSize)
{
    static const QRegularExpression re(QStringLiteral("^[0-9a-fA-F]*$"));
    return str.size() == nSize && re.match(str).hasMatch();
}

// A braced UUID as the client writes it, or the bare 36 characters.
bool isUuid(const QString &str)
{
    static const QRegularExpression re(QStringLiteral(
        "^\\{?[0-9a-fA-F]{8}-[0-9a-fA-F]{4}-[0-9a-fA-F]{4}-[0-9a-fA-F]{4}-[0-9a-fA-F]{12}\\}?$"));
    if (!re.match(str).hasMatch())
        return false;
    return str.startsWith(QLatin1Char('{')) == str.endsWith(QLatin1Char('}'));
}

QString nowMoment()
{
    return QDateTime::currentDateTime().toString(g_strMomentFormat);
}

qint64 nowSecs()
{
    return QDateTime::currentSecsSinceEpoch();
}

// A positive id from a form field; 0 when empty, -1 when malformed.
qint64 parseId(const QString &str)
{
    if (str.isEmpty())
        return 0;
    bool bOk = false;
    const qint64 n = str.toLongLong(&bOk);
    return bOk && n > 0 && n <= 0x7fffffff ? n : -1;
}

// SQLite lets one writer in at a time and makes the others sleep and retry; within
// this process the writers queue on a mutex instead, which is fairer and faster.
std::mutex g_mutexSqliteWrites;
std::atomic<bool> g_bSerializeWrites{false};

CServerDb *g_pDb = nullptr;

// Runs a statement of this thread's cache; query then shares it.
bool execQuery(QSqlQuery &query, const QString &strSql, const QVariantList &lstBind)
{
    bool bOk = false;
    query = g_pDb->preparedQuery(strSql, bOk);
    if (!bOk)
        return false;
    for (int i = 0; i < lstBind.size(); ++i)
        query.bindValue(i, lstBind.at(i));
    if (g_bSerializeWrites && !strSql.startsWith(QLatin1String("SELECT"))) {
        std::lock_guard<std::mutex> lock(g_mutexSqliteWrites);
        return query.exec();
    }
    return query.exec();
}

// Runs a write ending in "RETURNING id" and ends it at once, so that SQLite's write
// lock is not held past the statement. nId is 0 when no row was written.
bool execReturning(QSqlQuery &query, const QString &strSql, const QVariantList &lstBind, qint64 &nId)
{
    bool bOk = false;
    query = g_pDb->preparedQuery(strSql, bOk);
    if (!bOk)
        return false;
    for (int i = 0; i < lstBind.size(); ++i)
        query.bindValue(i, lstBind.at(i));
    std::unique_lock<std::mutex> lock(g_mutexSqliteWrites, std::defer_lock);
    if (g_bSerializeWrites)
        lock.lock();
    if (!query.exec())
        return false;
    nId = query.next() ? query.value(0).toLongLong() : 0;
    query.finish();
    return true;
}

// Note answers are written out directly: lists of notes with their texts are the
// largest answers, and building JSON objects first costs more than the query.
void appendJsonString(QByteArray &ba, const QString &str)
{
    const QByteArray baUtf8 = str.toUtf8();
    ba.reserve(ba.size() + baUtf8.size() + 2);
    ba.append('"');
    for (const char c : baUtf8) {
        switch (c) {
        case '"':
            ba.append("\\\"", 2);
            break;
        case '\\':
            ba.append("\\\\", 2);
            break;
        case '\n':
            ba.append("\\n", 2);
            break;
        case '\r':
            ba.append("\\r", 2);
            break;
        case '\t':
            ba.append("\\t", 2);
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                char szEscape[8];
                std::snprintf(szEscape, sizeof szEscape, "\\u%04x", unsigned(c));
                ba.append(szEscape, 6);
            } else {
                ba.append(c);
            }
        }
    }
    ba.append('"');
}

void appendNote(QByteArray &ba, const QSqlQuery &query)
{
    static const char *const aszText[]
        = {"uuid", "set_at", "created_at", "updated_at", "title", "content", "md5"};
    static const int anTextColumn[] = {1, 3, 4, 5, 6, 7, 9};
    ba.append("{\"id\":");
    ba.append(QByteArray::number(query.value(0).toLongLong()));
    ba.append(",\"user_id\":");
    ba.append(QByteArray::number(query.value(2).toLongLong()));
    ba.append(",\"content_size\":");
    ba.append(QByteArray::number(query.value(8).toLongLong()));
    ba.append(",\"deleted\":");
    ba.append(QByteArray::number(query.value(10).toLongLong()));
    for (int i = 0; i < 7; ++i) {
        ba.append(",\"");
        ba.append(aszText[i]);
        ba.append("\":");
        appendJsonString(ba, query.value(anTextColumn[i]).toString());
    }
    ba.append('}');
}

// {"notes": [...]} of every row the query still holds.
void appendNoteList(QByteArray &ba, QSqlQuery &query)
{
    ba = "{\"notes\":[";
    for (bool bFirst = true; query.next(); bFirst = false) {
        if (!bFirst)
            ba.append(',');
        appendNote(ba, query);
    }
    ba.append("]}");
}

QString likePattern(const QString &strText)
{
    QString str = strText;
    str.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    str.replace(QLatin1Char('%'), QLatin1String("\\%"));
    str.replace(QLatin1Char('_'), QLatin1String("\\_"));
    return QLatin1Char('%') + str + QLatin1Char('%');
}

void fail(CNoteService::CReply &reply, const QString &strError)
{
    reply.m_obj = QJsonObject{{QStringLiteral("error"), strError}};
}

} // namespace

// The note columns a request gives, checked. Content size and digest are always
// derived here from the content, so that equal digests mean equal texts.
struct CNoteService::CNoteFields
{
    QString m_strUuid;
    QString m_strSetAt, m_strCreatedAt, m_strUpdatedAt;
    bool m_bHasTitle = false;
    QString m_strTitle;
    bool m_bHasContent = false;
    QString m_strContent;
    int m_nDeleted = -1; // -1: not given

    // Columns to write besides uuid, with their values.
    QVariantMap columns() const
    {
        QVariantMap map;
        if (!m_strSetAt.isEmpty())
            map.insert(QStringLiteral("set_at"), m_strSetAt);
        if (!m_strCreatedAt.isEmpty())
            map.insert(QStringLiteral("created_at"), m_strCreatedAt);
        if (!m_strUpdatedAt.isEmpty())
            map.insert(QStringLiteral("updated_at"), m_strUpdatedAt);
        if (m_nDeleted == 1) {
            // A tombstone keeps no text.
            map.insert(QStringLiteral("deleted"), 1);
            map.insert(QStringLiteral("title"), QLatin1String(""));
            map.insert(QStringLiteral("content"), QLatin1String(""));
            map.insert(QStringLiteral("content_size"), 0);
            map.insert(QStringLiteral("md5"), QLatin1String(""));
            return map;
        }
        // A newer text for a deleted note brings the note back rather than hide the
        // text in a tombstone.
        if (m_nDeleted == 0 || m_bHasContent)
            map.insert(QStringLiteral("deleted"), 0);
        if (m_bHasTitle)
            map.insert(QStringLiteral("title"), m_strTitle);
        if (m_bHasContent) {
            const QByteArray ba = m_strContent.toUtf8();
            map.insert(QStringLiteral("content"), m_strContent);
            map.insert(QStringLiteral("content_size"), ba.size());
            map.insert(QStringLiteral("md5"),
                       ba.isEmpty()
                           ? QString(QLatin1String(""))
                           : QString::fromLatin1(
                               QCryptographicHash::hash(ba, QCryptographicHash::Md5).toHex()));
        }
        return map;
    }
};

CNoteService::CNoteService(CServerDb &db, const CServerConfig &config)
    : m_db(db)
    , m_nTokenTtl(config.m_nTokenTtl)
    , m_nLoginRate(config.m_nLoginRate)
{
    g_bSerializeWrites = !db.isPostgres();
    g_pDb = &db;
}

bool CNoteService::hasEndpoint(const QString &strEndpoint)
{
    static const QStringList lst = {QStringLiteral("register_user"),
                                    QStringLiteral("login"),
                                    QStringLiteral("forgot_pwd"),
                                    QStringLiteral("replace_note_item"),
                                    QStringLiteral("insert_note_item"),
                                    QStringLiteral("update_note_item"),
                                    QStringLiteral("compare_update_note_item"),
                                    QStringLiteral("get_note_list_by_month"),
                                    QStringLiteral("get_note_list_by_offset"),
                                    QStringLiteral("get_note_item")};
    return lst.contains(strEndpoint);
}

CNoteService::CReply CNoteService::handle(const QString &strEndpoint, const Fields &fields)
{
    static const QHash<QString, QPair<Handler, bool>> hashHandlers = {
        {QStringLiteral("register_user"), {&CNoteService::registerUser, false}},
        {QStringLiteral("login"), {&CNoteService::login, false}},
        {QStringLiteral("forgot_pwd"), {&CNoteService::forgotPwd, false}},
        {QStringLiteral("replace_note_item"), {&CNoteService::replaceNoteItem, true}},
        {QStringLiteral("insert_note_item"), {&CNoteService::replaceNoteItem, true}},
        {QStringLiteral("update_note_item"), {&CNoteService::updateNoteItem, true}},
        {QStringLiteral("compare_update_note_item"), {&CNoteService::updateNoteItem, true}},
        {QStringLiteral("get_note_list_by_month"), {&CNoteService::getNoteListByMonth, true}},
        {QStringLiteral("get_note_list_by_offset"), {&CNoteService::getNoteListByOffset, true}},
        {QStringLiteral("get_note_item"), {&CNoteService::getNoteItem, true}},
    };

    CReply reply;
    const auto it = hashHandlers.constFind(strEndpoint);
    if (it == hashHandlers.constEnd()) {
        reply.m_nStatus = 404;
        fail(reply, QStringLiteral("Unknown endpoint."));
        return reply;
    }
    QString strError;
    QSqlDatabase db = m_db.connection(strError);
    if (!db.isOpen()) {
        reply.m_nStatus = 503;
        fail(reply, QStringLiteral("The service cannot reach its database."));
        return reply;
    }
    if (!it->second || authenticate(db, fields, reply))
        (this->*(it->first))(db, fields, reply);
    m_db.finishQueries();
    return reply;
}

void CNoteService::dbFailure(const QSqlError &error, const QString &strWhat, CReply &reply)
{
    qCWarning(lcServer) << "Database failure in" << strWhat << ":" << error.text();
    // A lost connection does not always say so (a restarted PostgreSQL shows up as a
    // failed statement): start afresh with the next request.
    m_db.dropConnectionLater();
    reply.m_nStatus = 503;
    fail(reply, QStringLiteral("The service cannot reach its database."));
}

bool CNoteService::authenticate(QSqlDatabase &db, const Fields &fields, CReply &reply)
{
    const qint64 nUserId = parseId(fields.value(QStringLiteral("user_id")));
    const QByteArray baToken = fields.value(QStringLiteral("login_token")).toUtf8();
    if (nUserId <= 0 || baToken.isEmpty()) {
        fail(reply, g_strTokenWrong);
        return false;
    }
    const QByteArray baDigest = Secrets::tokenDigest(baToken);
    const QString strDigest = QString::fromLatin1(baDigest);
    const qint64 nNow = nowSecs();

    // Tokens this thread checked in the last seconds. Tokens end only by expiry, which
    // is checked here all the same, so the database is asked again only when the
    // last use must be recorded or the entry is older than a few seconds.
    struct CTokenSeen
    {
        qint64 m_nUserId, m_nLastUsed, m_nTtl, m_nSeenAt;
    };
    thread_local QHash<QByteArray, CTokenSeen> t_hashSeen;
    const auto it = t_hashSeen.constFind(baDigest);
    if (it != t_hashSeen.constEnd() && it->m_nUserId == nUserId && nNow - it->m_nSeenAt < 10
        && nNow - it->m_nLastUsed < qMax<qint64>(1, it->m_nTtl / 100)) {
        reply.m_nUserId = int(nUserId);
        return true;
    }
    t_hashSeen.remove(baDigest);
    if (t_hashSeen.size() > 4096)
        t_hashSeen.clear();

    QSqlQuery query(db);
    if (!execQuery(query,
                   QStringLiteral("SELECT user_id, last_used, ttl FROM login_token"
                                  " WHERE token_hash = ?"),
                   {strDigest})) {
        dbFailure(query.lastError(), QStringLiteral("authenticate"), reply);
        return false;
    }
    if (!query.next() || query.value(0).toLongLong() != nUserId) {
        fail(reply, g_strTokenWrong);
        return false;
    }
    // Each token keeps the lifetime it was issued with.
    const qint64 nLastUsed = query.value(1).toLongLong();
    const qint64 nTtl = query.value(2).toLongLong();
    query.finish();
    if (nNow - nLastUsed > nTtl) {
        execQuery(query,
                  QStringLiteral("DELETE FROM login_token WHERE token_hash = ?"),
                  {strDigest});
        fail(reply, g_strTokenWrong);
        return false;
    }
    // Expiry counts from the last use; record it coarsely to spare writes.
    qint64 nRecorded = nLastUsed;
    if (nNow - nLastUsed >= qMax<qint64>(1, nTtl / 100)) {
        if (!execQuery(query,
                       QStringLiteral("UPDATE login_token SET last_used = ? WHERE token_hash = ?"),
                       {nNow, strDigest})) {
            dbFailure(query.lastError(), QStringLiteral("authenticate"), reply);
            return false;
        }
        nRecorded = nNow;
    }
    t_hashSeen.insert(baDigest, CTokenSeen{nUserId, nRecorded, nTtl, nNow});
    reply.m_nUserId = int(nUserId);
    return true;
}

void CNoteService::answerLogin(QSqlDatabase &db, int nUserId, const Fields &fields, CReply &reply)
{
    const qint64 nNow = nowSecs();
    QSqlQuery query(db);
    if (!execQuery(query,
                   QStringLiteral("SELECT name, nickname, classify_string FROM users WHERE id = ?"),
                   {nUserId})
        || !query.next()) {
        dbFailure(query.lastError(), QStringLiteral("login"), reply);
        return;
    }
    QJsonObject obj{{QStringLiteral("user_id"), nUserId},
                    {QStringLiteral("name"), query.value(0).toString()},
                    {QStringLiteral("nickname"), query.value(1).toString()},
                    {QStringLiteral("classify_string"), query.value(2).toString()}};
    query.finish();

    // Tokens unused for longer than their lifetime are of no use to anyone.
    execQuery(query, QStringLiteral("DELETE FROM login_token WHERE last_used + ttl < ?"), {nNow});

    const QByteArray baToken = Secrets::newToken();
    if (!execQuery(query,
                   QStringLiteral("INSERT INTO login_token (token_hash, user_id, login_from, lang,"
                                  " created_at, last_used, ttl) VALUES (?, ?, ?, ?, ?, ?, ?)"),
                   {QString::fromLatin1(Secrets::tokenDigest(baToken)),
                    nUserId,
                    fields.value(QStringLiteral("login_from"), QLatin1String("")).left(64),
                    fields.value(QStringLiteral("lang"), QLatin1String("")).left(16),
                    nNow,
                    nNow,
                    m_nTokenTtl})) {
        dbFailure(query.lastError(), QStringLiteral("login"), reply);
        return;
    }
    obj.insert(QStringLiteral("login_token"), QString::fromLatin1(baToken));
    reply.m_nUserId = nUserId;
    reply.m_obj = obj;
}

void CNoteService::registerUser(QSqlDatabase &db, const Fields &fields, CReply &reply)
{
    const QString strName = fields.value(QStringLiteral("name"));
    const QString strEmail = fields.value(QStringLiteral("email")).trimmed();
    QString strNickname = fields.value(QStringLiteral("nickname")).trimmed();
    const QString strPwd = fields.value(QStringLiteral("pwd"));

    static const QRegularExpression reControl(QStringLiteral("[\\x00-\\x1f\\x7f]"));
    static const QRegularExpression reEmail(QStringLiteral("^[^@\\s]+@[^@\\s]+$"));
    if (strName.trimmed().isEmpty())
        return fail(reply, QStringLiteral("The name is empty."));
    if (strName != strName.trimmed() || strName.contains(reControl))
        return fail(reply, QStringLiteral("The name must not begin or end with a space."));
    if (strName.size() > 64)
        return fail(reply, QStringLiteral("The name is longer than 64 characters."));
    if (strEmail.size() > 254 || !reEmail.match(strEmail).hasMatch())
        return fail(reply, QStringLiteral("The e-mail address is not valid."));
    if (strNickname.size() > 64 || strNickname.contains(reControl))
        return fail(reply, QStringLiteral("The nickname is longer than 64 characters."));
    if (!isHex(strPwd, 32))
        return fail(reply, QStringLiteral("The password digest must be 32 hexadecimal digits."));
    if (strNickname.isEmpty())
        strNickname = strName;

    const QString strNameKey = strName.toLower();
    const QString strEmailKey = strEmail.toLower();
    auto taken = [&](QString &strTaken) -> bool {
        QSqlQuery query(db);
        if (!execQuery(query,
                       QStringLiteral("SELECT name_key = ?, email_key = ? FROM users"
                                      " WHERE name_key = ? OR email_key = ?"),
                       {strNameKey, strEmailKey, strNameKey, strEmailKey}))
            return false;
        while (query.next()) {
            if (query.value(0).toBool()) {
                strTaken = QStringLiteral("This name is taken.");
                return true;
            }
            strTaken = QStringLiteral("This e-mail address is taken.");
        }
        return true;
    };
    QString strTaken;
    if (!taken(strTaken))
        return dbFailure(db.lastError(), QStringLiteral("register_user"), reply);
    if (!strTaken.isEmpty())
        return fail(reply, strTaken);

    const QByteArray baHash = Secrets::hashPassword(strPwd.toLower().toLatin1());
    if (baHash.isEmpty()) {
        reply.m_nStatus = 503;
        return fail(reply, QStringLiteral("The service is out of memory."));
    }
    QSqlQuery query(db);
    qint64 nNewId = 0;
    if (!execReturning(query,
                       QStringLiteral(
                           "INSERT INTO users (name, name_key, email, email_key, nickname,"
                           " pwd_hash, classify_string, created_at)"
                           " VALUES (?, ?, ?, ?, ?, ?, '', ?) RETURNING id"),
                       {strName,
                        strNameKey,
                        strEmail,
                        strEmailKey,
                        strNickname,
                        QString::fromLatin1(baHash),
                        nowSecs()},
                       nNewId)
        || nNewId <= 0) {
        // Two registrations of one name at once: the unique keys decide.
        const QSqlError error = query.lastError();
        if (taken(strTaken) && !strTaken.isEmpty())
            return fail(reply, strTaken);
        return dbFailure(error, QStringLiteral("register_user"), reply);
    }
    const int nUserId = int(nNewId);
    qCInfo(lcServer) << "New user" << nUserId;
    answerLogin(db, nUserId, fields, reply);
}

void CNoteService::login(QSqlDatabase &db, const Fields &fields, CReply &reply)
{
    const QString strNameKey = fields.value(QStringLiteral("name")).toLower();
    const QString strPwd = fields.value(QStringLiteral("pwd")).toLower();
    const qint64 nNow = nowSecs();
    if (strNameKey.isEmpty())
        return fail(reply, g_strWrongLogin);

    QSqlQuery query(db);
    if (!execQuery(query,
                   QStringLiteral("SELECT COUNT(*) FROM login_failure"
                                  " WHERE name_key = ? AND failed_at > ?"),
                   {strNameKey, nNow - 60})
        || !query.next())
        return dbFailure(query.lastError(), QStringLiteral("login"), reply);
    if (query.value(0).toLongLong() >= m_nLoginRate)
        return fail(reply, g_strTooMany);
    query.finish();

    if (!execQuery(query,
                   QStringLiteral("SELECT id, pwd_hash FROM users WHERE name_key = ?"),
                   {strNameKey}))
        return dbFailure(query.lastError(), QStringLiteral("login"), reply);
    int nUserId = 0;
    if (query.next()) {
        const QByteArray baHash = query.value(1).toString().toLatin1();
        if (isHex(strPwd, 32) && Secrets::verifyPassword(baHash, strPwd.toLatin1()))
            nUserId = query.value(0).toInt();
    } else {
        Secrets::verifyNothing(strPwd.toLatin1());
    }
    query.finish();

    if (nUserId <= 0) {
        // Failures older than an hour count for nothing.
        execQuery(query,
                  QStringLiteral("DELETE FROM login_failure WHERE failed_at < ?"),
                  {nNow - 3600});
        if (!execQuery(query,
                       QStringLiteral(
                           "INSERT INTO login_failure (name_key, failed_at) VALUES (?, ?)"),
                       {strNameKey, nNow}))
            return dbFailure(query.lastError(), QStringLiteral("login"), reply);
        return fail(reply, g_strWrongLogin);
    }
    execQuery(query, QStringLiteral("DELETE FROM login_failure WHERE name_key = ?"), {strNameKey});
    answerLogin(db, nUserId, fields, reply);
}

void CNoteService::forgotPwd(QSqlDatabase &db, const Fields &fields, CReply &reply)
{
    const QString strNameKey = fields.value(QStringLiteral("user_name")).trimmed().toLower();
    const QString strEmailKey = fields.value(QStringLiteral("user_email")).trimmed().toLower();
    if (strNameKey.isEmpty() && strEmailKey.isEmpty())
        return fail(reply, QStringLiteral("Give your user name or your e-mail address."));

    QSqlQuery query(db);
    int nUserId = 0;
    QString strEmail;
    const QList<QPair<QString, QString>> lstLookups = {{QStringLiteral("name_key"), strNameKey},
                                                       {QStringLiteral("email_key"), strEmailKey}};
    for (const auto &lookup : lstLookups) {
        if (lookup.second.isEmpty())
            continue;
        if (!execQuery(query,
                       QStringLiteral("SELECT id, email FROM users WHERE %1 = ?").arg(lookup.first),
                       {lookup.second}))
            return dbFailure(query.lastError(), QStringLiteral("forgot_pwd"), reply);
        if (query.next()) {
            nUserId = query.value(0).toInt();
            strEmail = query.value(1).toString();
            break;
        }
    }
    query.finish();
    if (nUserId <= 0)
        return fail(reply, QStringLiteral("No account has this name or e-mail address."));

    // The mail itself is left to whoever delivers the outbox; the token in it is
    // good for one reset within a day.
    const qint64 nNow = nowSecs();
    if (!execQuery(query,
                   QStringLiteral(
                       "INSERT INTO mail_outbox (user_id, email, kind, token, created_at,"
                       " expires_at) VALUES (?, ?, 'password_reset', ?, ?, ?)"),
                   {nUserId, strEmail, QString::fromLatin1(Secrets::newToken()), nNow, nNow + 86400}))
        return dbFailure(query.lastError(), QStringLiteral("forgot_pwd"), reply);
    reply.m_nUserId = nUserId;
    reply.m_obj = QJsonObject{{QStringLiteral("email"), strEmail}};
}

bool CNoteService::parseNoteFields(const Fields &fields, CNoteFields &note, QString &strError) const
{
    note.m_strUuid = fields.value(QStringLiteral("uuid")).trimmed();
    if (!note.m_strUuid.isEmpty() && !isUuid(note.m_strUuid)) {
        strError = QStringLiteral("\"uuid\" is not a UUID.");
        return false;
    }

    note.m_strSetAt = fields.value(QStringLiteral("set_at")).trimmed();
    if (isDay(note.m_strSetAt))
        note.m_strSetAt += QStringLiteral(" 00:00:00");
    if (!note.m_strSetAt.isEmpty() && !isMoment(note.m_strSetAt)) {
        strError = QStringLiteral("\"set_at\" is not a day of the form yyyy-MM-dd hh:mm:ss.");
        return false;
    }
    for (const QString &strKey : {QStringLiteral("created_at"), QStringLiteral("updated_at")}) {
        const QString str = fields.value(strKey).trimmed();
        if (!str.isEmpty() && !isMoment(str)) {
            strError = QStringLiteral("\"%1\" is not a time of the form yyyy-MM-dd hh:mm:ss.")
                           .arg(strKey);
            return false;
        }
        (strKey == QLatin1String("created_at") ? note.m_strCreatedAt : note.m_strUpdatedAt) = str;
    }

    const QString strMd5 = fields.value(QStringLiteral("md5")).trimmed();
    if (!strMd5.isEmpty() && !isHex(strMd5, 32)) {
        strError = QStringLiteral("\"md5\" is not a digest of 32 hexadecimal digits.");
        return false;
    }
    const QString strSize = fields.value(QStringLiteral("content_size")).trimmed();
    bool bOk = true;
    const qint64 nSize = strSize.isEmpty() ? 0 : strSize.toLongLong(&bOk);
    if (!bOk || nSize < 0) {
        strError = QStringLiteral("\"content_size\" is not a size.");
        return false;
    }

    const QString strDeleted = fields.value(QStringLiteral("deleted")).trimmed();
    if (strDeleted == QLatin1String("1"))
        note.m_nDeleted = 1;
    else if (strDeleted == QLatin1String("0"))
        note.m_nDeleted = 0;
    else if (!strDeleted.isEmpty()) {
        strError = QStringLiteral("\"deleted\" must be 0 or 1.");
        return false;
    }

    note.m_bHasTitle = fields.contains(QStringLiteral("title"));
    note.m_strTitle = fields.value(QStringLiteral("title"));
    note.m_bHasContent = fields.contains(QStringLiteral("content"));
    note.m_strContent = fields.value(QStringLiteral("content"));
    // An empty text with a size above 0 comes from a sender that has not fetched
    // the text yet: it must not wipe the stored one.
    if (note.m_bHasContent && note.m_strContent.isEmpty() && nSize > 0)
        note.m_bHasContent = false;
    return true;
}

void CNoteService::replaceNoteItem(QSqlDatabase &db, const Fields &fields, CReply &reply)
{
    CNoteFields note;
    QString strError;
    if (!parseNoteFields(fields, note, strError))
        return fail(reply, strError);
    if (note.m_strSetAt.isEmpty())
        return fail(reply, QStringLiteral("A note needs its \"set_at\"."));

    // The values of a new note; an existing one takes only what was sent.
    QVariantMap mapChange = note.columns();
    QVariantMap mapNew = mapChange;
    if (!mapNew.contains(QStringLiteral("updated_at")))
        mapNew.insert(QStringLiteral("updated_at"), nowMoment());
    if (!mapNew.contains(QStringLiteral("created_at")))
        mapNew.insert(QStringLiteral("created_at"), mapNew.value(QStringLiteral("updated_at")));
    mapChange.insert(QStringLiteral("updated_at"), mapNew.value(QStringLiteral("updated_at")));

    QStringList lstColumns = {QStringLiteral("uuid"), QStringLiteral("user_id")};
    QVariantList lstValues = {note.m_strUuid.isEmpty() ? QVariant(QVariant::String)
                                                       : QVariant(note.m_strUuid),
                              reply.m_nUserId};
    for (auto it = mapNew.constBegin(); it != mapNew.constEnd(); ++it) {
        lstColumns << it.key();
        lstValues << it.value();
    }
    QStringList lstSet;
    for (auto it = mapChange.constBegin(); it != mapChange.constEnd(); ++it)
        lstSet << QStringLiteral("%1 = excluded.%1").arg(it.key());

    QString strSql = QStringLiteral("INSERT INTO note (%1) VALUES (%2)")
                         .arg(lstColumns.join(QLatin1String(", ")),
                              QString(QStringLiteral("?, ")).repeated(lstColumns.size() - 1)
                                  + QStringLiteral("?"));
    if (!note.m_strUuid.isEmpty()) {
        // One statement decides between insert and newer-wins update, so that two
        // requests with one UUID at once still leave one note.
        strSql += QStringLiteral(" ON CONFLICT (uuid) DO UPDATE SET %1"
                                 " WHERE note.user_id = excluded.user_id"
                                 " AND note.updated_at <= excluded.updated_at")
                      .arg(lstSet.join(QLatin1String(", ")));
    }
    strSql += QStringLiteral(" RETURNING id");

    QSqlQuery query(db);
    qint64 nNoteId = 0;
    if (!execReturning(query, strSql, lstValues, nNoteId))
        return dbFailure(query.lastError(), QStringLiteral("replace_note_item"), reply);
    if (nNoteId > 0) {
        reply.m_obj = QJsonObject{{QStringLiteral("note_id"), nNoteId},
                                  {QStringLiteral("applied"), true}};
        return;
    }

    // Not written: the stored copy is newer, or the UUID is another user's.
    if (!execQuery(query,
                   QStringLiteral("SELECT id, user_id FROM note WHERE uuid = ?"),
                   {note.m_strUuid}))
        return dbFailure(query.lastError(), QStringLiteral("replace_note_item"), reply);
    if (!query.next())
        return dbFailure(query.lastError(), QStringLiteral("replace_note_item"), reply);
    if (query.value(1).toInt() != reply.m_nUserId)
        return fail(reply, QStringLiteral("This UUID belongs to a note of another account."));
    reply.m_obj = QJsonObject{{QStringLiteral("note_id"), query.value(0).toLongLong()},
                              {QStringLiteral("applied"), false}};
}

void CNoteService::updateNoteItem(QSqlDatabase &db, const Fields &fields, CReply &reply)
{
    CNoteFields note;
    QString strError;
    if (!parseNoteFields(fields, note, strError))
        return fail(reply, strError);

    qint64 nNoteId = parseId(fields.value(QStringLiteral("note_id")).trimmed());
    if (nNoteId == 0)
        nNoteId = parseId(fields.value(QStringLiteral("id")).trimmed());
    if (nNoteId < 0)
        return fail(reply, QStringLiteral("\"note_id\" is not a note id."));
    if (nNoteId == 0 && note.m_strUuid.isEmpty())
        return fail(reply, QStringLiteral("Give the note's \"note_id\" or \"uuid\"."));

    QSqlQuery query(db);
    const bool bById = nNoteId > 0;
    if (!execQuery(query,
                   QStringLiteral("SELECT id, uuid FROM note WHERE %1 = ? AND user_id = ?")
                       .arg(bById ? QStringLiteral("id") : QStringLiteral("uuid")),
                   {bById ? QVariant(nNoteId) : QVariant(note.m_strUuid), reply.m_nUserId}))
        return dbFailure(query.lastError(), QStringLiteral("update_note_item"), reply);
    if (!query.next())
        return fail(reply, g_strNoNote);
    nNoteId = query.value(0).toLongLong();
    const QString strStoredUuid = query.value(1).toString();
    query.finish();

    if (bById && !note.m_strUuid.isEmpty() && note.m_strUuid != strStoredUuid) {
        if (!strStoredUuid.isEmpty())
            return fail(reply, QStringLiteral("The note already has another UUID."));
        // Giving a note without UUID its UUID is always right.
        if (!execQuery(query,
                       QStringLiteral("UPDATE note SET uuid = ? WHERE id = ?"
                                      " AND (uuid IS NULL OR uuid = '')"),
                       {note.m_strUuid, nNoteId})) {
            const QSqlError error = query.lastError();
            if (execQuery(query,
                          QStringLiteral("SELECT 1 FROM note WHERE uuid = ?"),
                          {note.m_strUuid})
                && query.next())
                return fail(reply, QStringLiteral("Another note has this UUID."));
            return dbFailure(error, QStringLiteral("update_note_item"), reply);
        }
    }

    bool bApplied = true;
    QVariantMap mapChange = note.columns();
    if (!mapChange.isEmpty()) {
        if (note.m_strUpdatedAt.isEmpty())
            return fail(reply, QStringLiteral("A change needs its \"updated_at\"."));
        QStringList lstSet;
        QVariantList lstValues;
        for (auto it = mapChange.constBegin(); it != mapChange.constEnd(); ++it) {
            lstSet << it.key() + QStringLiteral(" = ?");
            lstValues << it.value();
        }
        lstValues << nNoteId << note.m_strUpdatedAt;
        if (!execQuery(query,
                       QStringLiteral("UPDATE note SET %1 WHERE id = ? AND updated_at <= ?")
                           .arg(lstSet.join(QLatin1String(", "))),
                       lstValues))
            return dbFailure(query.lastError(), QStringLiteral("update_note_item"), reply);
        bApplied = query.numRowsAffected() > 0;
    }
    reply.m_obj = QJsonObject{{QStringLiteral("note_id"), nNoteId},
                              {QStringLiteral("applied"), bApplied}};
}

void CNoteService::getNoteListByMonth(QSqlDatabase &db, const Fields &fields, CReply &reply)
{
    bool bYear = false, bMonth = false;
    const int nYear = fields.value(QStringLiteral("time_year")).trimmed().toInt(&bYear);
    const int nMonth = fields.value(QStringLiteral("time_month")).trimmed().toInt(&bMonth);
    if (!bYear || nYear < 1 || nYear > 9999)
        return fail(reply, QStringLiteral("\"time_year\" is not a year."));
    if (!bMonth || nMonth < 1 || nMonth > 12)
        return fail(reply, QStringLiteral("\"time_month\" is not a month from 1 to 12."));

    auto monthStart = [](int nY, int nM) {
        return QStringLiteral("%1-%2-01")
            .arg(nY, 4, 10, QLatin1Char('0'))
            .arg(nM, 2, 10, QLatin1Char('0'));
    };
    const QString strFrom = monthStart(nYear, nMonth);
    const QString strTo = nMonth == 12 ? monthStart(nYear + 1, 1) : monthStart(nYear, nMonth + 1);

    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!execQuery(query,
                   QStringLiteral("SELECT %1 FROM note WHERE user_id = ? AND set_at >= ?"
                                  " AND set_at < ? ORDER BY set_at, id")
                       .arg(g_strNoteColumns),
                   {reply.m_nUserId, strFrom, strTo}))
        return dbFailure(query.lastError(), QStringLiteral("get_note_list_by_month"), reply);
    appendNoteList(reply.m_baJson, query);
}

void CNoteService::getNoteListByOffset(QSqlDatabase &db, const Fields &fields, CReply &reply)
{
    const QString strLimit = fields.value(QStringLiteral("limit")).trimmed();
    const QString strOffset = fields.value(QStringLiteral("offset")).trimmed();
    bool bOk = true;
    const int nLimit = strLimit.isEmpty() ? 50 : strLimit.toInt(&bOk);
    if (!bOk || nLimit < 1 || nLimit > 100)
        return fail(reply, QStringLiteral("\"limit\" must be a number from 1 to 100."));
    const int nOffset = strOffset.isEmpty() ? 0 : strOffset.toInt(&bOk);
    if (!bOk || nOffset < 0)
        return fail(reply, QStringLiteral("\"offset\" must be a number from 0 on."));

    QString strWhere = QStringLiteral("user_id = ?");
    QVariantList lstValues = {reply.m_nUserId};
    const QString strSearch = fields.value(QStringLiteral("search_string"));
    if (!strSearch.isEmpty()) {
        // The text is matched literally: % and _ are no wildcards here.
        const QString strLike = m_db.isPostgres() ? QStringLiteral("ILIKE")
                                                  : QStringLiteral("LIKE");
        strWhere += QStringLiteral(" AND (title %1 ? ESCAPE '\\' OR content %1 ? ESCAPE '\\')")
                        .arg(strLike);
        lstValues << likePattern(strSearch) << likePattern(strSearch);
    } else {
        for (const QString &strKey : {QStringLiteral("start_time"), QStringLiteral("end_time")}) {
            QString str = fields.value(strKey).trimmed();
            if (str.isEmpty())
                continue;
            const bool bStart = strKey == QLatin1String("start_time");
            if (isDay(str))
                str += bStart ? QStringLiteral(" 00:00:00") : QStringLiteral(" 23:59:59");
            if (!isMoment(str))
                return fail(reply,
                            QStringLiteral("\"%1\" is not a time of the form yyyy-MM-dd hh:mm:ss.")
                                .arg(strKey));
            strWhere += bStart ? QStringLiteral(" AND updated_at >= ?")
                               : QStringLiteral(" AND updated_at <= ?");
            lstValues << str;
        }
    }
    lstValues << nLimit << nOffset;

    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!execQuery(query,
                   QStringLiteral("SELECT %1 FROM note WHERE %2"
                                  " ORDER BY updated_at DESC, id DESC LIMIT ? OFFSET ?")
                       .arg(g_strNoteColumns, strWhere),
                   lstValues))
        return dbFailure(query.lastError(), QStringLiteral("get_note_list_by_offset"), reply);
    appendNoteList(reply.m_baJson, query);
}

void CNoteService::getNoteItem(QSqlDatabase &db, const Fields &fields, CReply &reply)
{
    qint64 nNoteId = parseId(fields.value(QStringLiteral("note_id")).trimmed());
    if (nNoteId == 0)
        nNoteId = parseId(fields.value(QStringLiteral("id")).trimmed());
    const QString strUuid = fields.value(QStringLiteral("uuid")).trimmed();
    if (nNoteId < 0)
        return fail(reply, QStringLiteral("\"note_id\" is not a note id."));
    if (nNoteId == 0 && strUuid.isEmpty())
        return fail(reply, QStringLiteral("Give the note's \"note_id\" or \"uuid\"."));
    if (nNoteId == 0 && !isUuid(strUuid))
        return fail(reply, QStringLiteral("\"uuid\" is not a UUID."));

    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!execQuery(query,
                   QStringLiteral("SELECT %1 FROM note WHERE %2 = ? AND user_id = ?")
                       .arg(g_strNoteColumns,
                            nNoteId > 0 ? QStringLiteral("id") : QStringLiteral("uuid")),
                   {nNoteId > 0 ? QVariant(nNoteId) : QVariant(strUuid), reply.m_nUserId}))
        return dbFailure(query.lastError(), QStringLiteral("get_note_item"), reply);
    // An unknown note answers an empty object: nothing came back.
    if (query.next())
        appendNote(reply.m_baJson, query);
    else
        reply.m_obj = QJsonObject();
}
