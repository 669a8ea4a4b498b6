#include "accounts.h"

#include "kelpolog.h"
#include "protocol.h"
#include "secrets.h"
#include "serverconfig.h"
#include "serverdb.h"
#include "validation.h"

#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>

CAccounts::CAccounts(CServerDb &db, const CServerConfig &config)
    : m_db(db)
    , m_nTokenTtl(config.m_nTokenTtl)
    , m_nLoginRate(config.m_nLoginRate)
{}

bool CAccounts::authenticate(QSqlDatabase &db, const CServiceFields &fields, CServiceReply &reply)
{
    const qint64 nUserId = Validation::parseId(fields.value(Protocol::Field::kUserId));
    const QByteArray baToken = fields.value(Protocol::Field::kLoginToken).toUtf8();
    if (nUserId <= 0 || baToken.isEmpty()) {
        reply.fail(QString(Protocol::Error::kTokenWrong));
        return false;
    }
    const QByteArray baDigest = Secrets::tokenDigest(baToken);
    const QString strDigest = QString::fromLatin1(baDigest);
    const qint64 nNow = Validation::nowSecs();

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
    if (!m_db.execQuery(query,
                        QStringLiteral("SELECT user_id, last_used, ttl FROM login_token"
                                       " WHERE token_hash = ?"),
                        {strDigest})) {
        reply.dbFailure(m_db, query.lastError(), QStringLiteral("authenticate"));
        return false;
    }
    if (!query.next() || query.value(0).toLongLong() != nUserId) {
        reply.fail(QString(Protocol::Error::kTokenWrong));
        return false;
    }
    // Each token keeps the lifetime it was issued with.
    const qint64 nLastUsed = query.value(1).toLongLong();
    const qint64 nTtl = query.value(2).toLongLong();
    query.finish();
    if (nNow - nLastUsed > nTtl) {
        m_db.execQuery(query,
                       QStringLiteral("DELETE FROM login_token WHERE token_hash = ?"),
                       {strDigest});
        reply.fail(QString(Protocol::Error::kTokenWrong));
        return false;
    }
    // Expiry counts from the last use; record it coarsely to spare writes.
    qint64 nRecorded = nLastUsed;
    if (nNow - nLastUsed >= qMax<qint64>(1, nTtl / 100)) {
        if (!m_db.execQuery(query,
                            QStringLiteral(
                                "UPDATE login_token SET last_used = ? WHERE token_hash = ?"),
                            {nNow, strDigest})) {
            reply.dbFailure(m_db, query.lastError(), QStringLiteral("authenticate"));
            return false;
        }
        nRecorded = nNow;
    }
    t_hashSeen.insert(baDigest, CTokenSeen{nUserId, nRecorded, nTtl, nNow});
    reply.m_nUserId = int(nUserId);
    return true;
}

void CAccounts::answerLogin(QSqlDatabase &db,
                            int nUserId,
                            const CServiceFields &fields,
                            CServiceReply &reply)
{
    const qint64 nNow = Validation::nowSecs();
    QSqlQuery query(db);
    if (!m_db.execQuery(query,
                        QStringLiteral(
                            "SELECT name, nickname, classify_string FROM users WHERE id = ?"),
                        {nUserId})
        || !query.next()) {
        reply.dbFailure(m_db, query.lastError(), QStringLiteral("login"));
        return;
    }
    QJsonObject obj{{Protocol::Field::kUserId, nUserId},
                    {Protocol::Field::kName, query.value(0).toString()},
                    {Protocol::Field::kNickname, query.value(1).toString()},
                    {Protocol::Field::kClassifyString, query.value(2).toString()}};
    query.finish();

    // Tokens unused for longer than their lifetime are of no use to anyone.
    m_db.execQuery(query,
                   QStringLiteral("DELETE FROM login_token WHERE last_used + ttl < ?"),
                   {nNow});

    const QByteArray baToken = Secrets::newToken();
    if (!m_db.execQuery(query,
                        QStringLiteral(
                            "INSERT INTO login_token (token_hash, user_id, login_from, lang,"
                            " created_at, last_used, ttl) VALUES (?, ?, ?, ?, ?, ?, ?)"),
                        {QString::fromLatin1(Secrets::tokenDigest(baToken)),
                         nUserId,
                         fields.value(Protocol::Field::kLoginFrom, QLatin1String("")).left(64),
                         fields.value(Protocol::Field::kLang, QLatin1String("")).left(16),
                         nNow,
                         nNow,
                         m_nTokenTtl})) {
        reply.dbFailure(m_db, query.lastError(), QStringLiteral("login"));
        return;
    }
    obj.insert(QStringLiteral("login_token"), QString::fromLatin1(baToken));
    reply.m_nUserId = nUserId;
    reply.m_obj = obj;
}

void CAccounts::registerUser(QSqlDatabase &db, const CServiceFields &fields, CServiceReply &reply)
{
    const QString strName = fields.value(Protocol::Field::kName);
    const QString strEmail = fields.value(Protocol::Field::kEmail).trimmed();
    QString strNickname = fields.value(Protocol::Field::kNickname).trimmed();
    const QString strPwd = fields.value(Protocol::Field::kPwd);

    static const QRegularExpression reControl(QStringLiteral("[\\x00-\\x1f\\x7f]"));
    static const QRegularExpression reEmail(QStringLiteral("^[^@\\s]+@[^@\\s]+$"));
    if (strName.trimmed().isEmpty())
        return reply.fail(QStringLiteral("The name is empty."));
    if (strName != strName.trimmed() || strName.contains(reControl))
        return reply.fail(QStringLiteral("The name must not begin or end with a space."));
    if (strName.size() > 64)
        return reply.fail(QStringLiteral("The name is longer than 64 characters."));
    if (strEmail.size() > 254 || !reEmail.match(strEmail).hasMatch())
        return reply.fail(QStringLiteral("The e-mail address is not valid."));
    if (strNickname.size() > 64 || strNickname.contains(reControl))
        return reply.fail(QStringLiteral("The nickname is longer than 64 characters."));
    if (!Validation::isHex(strPwd, 32))
        return reply.fail(QStringLiteral("The password digest must be 32 hexadecimal digits."));
    if (strNickname.isEmpty())
        strNickname = strName;

    const QString strNameKey = strName.toLower();
    const QString strEmailKey = strEmail.toLower();
    auto taken = [&](QString &strTaken) -> bool {
        QSqlQuery query(db);
        if (!m_db.execQuery(query,
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
        return reply.dbFailure(m_db, db.lastError(), QStringLiteral("register_user"));
    if (!strTaken.isEmpty())
        return reply.fail(strTaken);

    const QByteArray baHash = Secrets::hashPassword(strPwd.toLower().toLatin1());
    if (baHash.isEmpty()) {
        reply.m_nStatus = 503;
        return reply.fail(QStringLiteral("The service is out of memory."));
    }
    QSqlQuery query(db);
    qint64 nNewId = 0;
    if (!m_db.execReturning(query,
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
                             Validation::nowSecs()},
                            nNewId)
        || nNewId <= 0) {
        // Two registrations of one name at once: the unique keys decide.
        const QSqlError error = query.lastError();
        if (taken(strTaken) && !strTaken.isEmpty())
            return reply.fail(strTaken);
        return reply.dbFailure(m_db, error, QStringLiteral("register_user"));
    }
    const int nUserId = int(nNewId);
    qCInfo(lcServer) << "New user" << nUserId;
    answerLogin(db, nUserId, fields, reply);
}

void CAccounts::login(QSqlDatabase &db, const CServiceFields &fields, CServiceReply &reply)
{
    const QString strNameKey = fields.value(Protocol::Field::kName).toLower();
    const QString strPwd = fields.value(Protocol::Field::kPwd).toLower();
    const qint64 nNow = Validation::nowSecs();
    if (strNameKey.isEmpty())
        return reply.fail(QString(Protocol::Error::kWrongLogin));

    QSqlQuery query(db);
    if (!m_db.execQuery(query,
                        QStringLiteral("SELECT COUNT(*) FROM login_failure"
                                       " WHERE name_key = ? AND failed_at > ?"),
                        {strNameKey, nNow - 60})
        || !query.next())
        return reply.dbFailure(m_db, query.lastError(), QStringLiteral("login"));
    if (query.value(0).toLongLong() >= m_nLoginRate)
        return reply.fail(QString(Protocol::Error::kTooMany));
    query.finish();

    if (!m_db.execQuery(query,
                        QStringLiteral("SELECT id, pwd_hash FROM users WHERE name_key = ?"),
                        {strNameKey}))
        return reply.dbFailure(m_db, query.lastError(), QStringLiteral("login"));
    int nUserId = 0;
    if (query.next()) {
        const QByteArray baHash = query.value(1).toString().toLatin1();
        if (Validation::isHex(strPwd, 32) && Secrets::verifyPassword(baHash, strPwd.toLatin1()))
            nUserId = query.value(0).toInt();
    } else {
        Secrets::verifyNothing(strPwd.toLatin1());
    }
    query.finish();

    if (nUserId <= 0) {
        // Failures older than an hour count for nothing.
        m_db.execQuery(query,
                       QStringLiteral("DELETE FROM login_failure WHERE failed_at < ?"),
                       {nNow - 3600});
        if (!m_db.execQuery(query,
                            QStringLiteral(
                                "INSERT INTO login_failure (name_key, failed_at) VALUES (?, ?)"),
                            {strNameKey, nNow}))
            return reply.dbFailure(m_db, query.lastError(), QStringLiteral("login"));
        return reply.fail(QString(Protocol::Error::kWrongLogin));
    }
    m_db.execQuery(query,
                   QStringLiteral("DELETE FROM login_failure WHERE name_key = ?"),
                   {strNameKey});
    answerLogin(db, nUserId, fields, reply);
}

void CAccounts::forgotPwd(QSqlDatabase &db, const CServiceFields &fields, CServiceReply &reply)
{
    const QString strNameKey = fields.value(Protocol::Field::kUserName).trimmed().toLower();
    const QString strEmailKey = fields.value(Protocol::Field::kUserEmail).trimmed().toLower();
    if (strNameKey.isEmpty() && strEmailKey.isEmpty())
        return reply.fail(QStringLiteral("Give your user name or your e-mail address."));

    QSqlQuery query(db);
    int nUserId = 0;
    QString strEmail;
    const QList<QPair<QString, QString>> lstLookups = {{QStringLiteral("name_key"), strNameKey},
                                                       {QStringLiteral("email_key"), strEmailKey}};
    for (const auto &lookup : lstLookups) {
        if (lookup.second.isEmpty())
            continue;
        if (!m_db.execQuery(query,
                            QStringLiteral("SELECT id, email FROM users WHERE %1 = ?")
                                .arg(lookup.first),
                            {lookup.second}))
            return reply.dbFailure(m_db, query.lastError(), QStringLiteral("forgot_pwd"));
        if (query.next()) {
            nUserId = query.value(0).toInt();
            strEmail = query.value(1).toString();
            break;
        }
    }
    query.finish();
    if (nUserId <= 0)
        return reply.fail(QStringLiteral("No account has this name or e-mail address."));

    // The mail itself is left to whoever delivers the outbox; the token in it is
    // good for one reset within a day.
    const qint64 nNow = Validation::nowSecs();
    if (!m_db.execQuery(
            query,
            QStringLiteral("INSERT INTO mail_outbox (user_id, email, kind, token, created_at,"
                           " expires_at) VALUES (?, ?, 'password_reset', ?, ?, ?)"),
            {nUserId, strEmail, QString::fromLatin1(Secrets::newToken()), nNow, nNow + 86400}))
        return reply.dbFailure(m_db, query.lastError(), QStringLiteral("forgot_pwd"));
    reply.m_nUserId = nUserId;
    reply.m_obj = QJsonObject{{Protocol::Field::kEmail, strEmail}};
}
