#include "accounts.h"

#include "kelpolog.h"
#include "mailspool.h"
#include "protocol.h"
#include "secrets.h"
#include "serverconfig.h"
#include "serverdb.h"
#include "validation.h"

#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>

#include <atomic>

namespace {

// Moves on whenever a password reset of this process ends logins: a token checked before
// is asked of the database again, which no longer has the tokens that the reset ended.
std::atomic<quint64> g_nResets{0};

} // namespace

CAccounts::CAccounts(CServerDb &db, const CServerConfig &config)
    : m_db(db)
    , m_nTokenTtl(config.m_nTokenTtl)
    , m_nLoginRate(config.m_nLoginRate)
    , m_rateLimit(db)
    , m_mailSpool(config.m_strMailSpool)
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

    // Tokens this thread checked in the last seconds. Tokens end by expiry, which is
    // checked here all the same, and by a password reset, which every entry checked
    // before it loses (at this instance; others that share the database ask it again
    // after a few seconds). The database is asked again only then, when the last use
    // must be recorded, or when the entry is older than a few seconds.
    struct CTokenSeen
    {
        qint64 m_nUserId, m_nLastUsed, m_nTtl, m_nSeenAt;
        quint64 m_nResets;
    };
    thread_local QHash<QByteArray, CTokenSeen> t_hashSeen;
    const quint64 nResets = g_nResets;
    const auto it = t_hashSeen.constFind(baDigest);
    if (it != t_hashSeen.constEnd() && it->m_nUserId == nUserId && it->m_nResets == nResets
        && nNow - it->m_nSeenAt < 10
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
    t_hashSeen.insert(baDigest, CTokenSeen{nUserId, nRecorded, nTtl, nNow, nResets});
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
                         // (Told by the client, only kept: without the U+0000 that
                         // PostgreSQL cannot keep, lest a login fail for it.)
                         QString(fields.value(Protocol::Field::kLoginFrom, QLatin1String("")))
                             .remove(QChar(0))
                             .left(64),
                         QString(fields.value(Protocol::Field::kLang, QLatin1String("")))
                             .remove(QChar(0))
                             .left(16),
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

void CAccounts::registerUser(QSqlDatabase &db,
                             const CServiceFields &fields,
                             const QString &strClient,
                             CServiceReply &reply)
{
    const QString strName = fields.value(Protocol::Field::kName)
                                .normalized(QString::NormalizationForm_KC);
    const QString strEmail = fields.value(Protocol::Field::kEmail).trimmed();
    QString strNickname = fields.value(Protocol::Field::kNickname).trimmed();
    const QString strPwd = fields.value(Protocol::Field::kPwd);

    static const QRegularExpression reControl(QStringLiteral("[\\x00-\\x1f\\x7f]"));
    static const QRegularExpression reEmail(
        QStringLiteral("^[^@\\s\\x00-\\x1f\\x7f]+@[^@\\s\\x00-\\x1f\\x7f]+$"));
    const QString strProblem = Validation::nameProblem(strName);
    if (!strProblem.isEmpty())
        return reply.fail(strProblem);
    if (strEmail.size() > 254 || !reEmail.match(strEmail).hasMatch())
        return reply.fail(QStringLiteral("The e-mail address is not valid."));
    if (strNickname.size() > 64 || strNickname.contains(reControl))
        return reply.fail(QStringLiteral("The nickname is longer than 64 characters."));
    if (!Validation::isHex(strPwd, 32))
        return reply.fail(QStringLiteral("The password digest must be 32 hexadecimal digits."));
    if (strNickname.isEmpty())
        strNickname = strName;

    const QString strNameKey = Validation::nameKey(strName);
    const QString strEmailKey = strEmail.toLower();
    // The account that has both this name and this address, when one has.
    qint64 nSameId = 0;
    QByteArray baSameHash;
    auto taken = [&](QString &strTaken) -> bool {
        QSqlQuery query(db);
        if (!m_db.execQuery(query,
                            QStringLiteral("SELECT name_key = ?, email_key = ?, id, pwd_hash"
                                           " FROM users WHERE name_key = ? OR email_key = ?"),
                            {strNameKey, strEmailKey, strNameKey, strEmailKey}))
            return false;
        while (query.next()) {
            const bool bName = query.value(0).toBool();
            if (bName && query.value(1).toBool()) {
                nSameId = query.value(2).toLongLong();
                baSameHash = query.value(3).toString().toLatin1();
            }
            if (bName)
                strTaken = QStringLiteral("This name is taken.");
            else if (strTaken.isEmpty())
                strTaken = QStringLiteral("This e-mail address is taken.");
        }
        return true;
    };
    QString strTaken;
    if (!taken(strTaken))
        return reply.dbFailure(m_db, db.lastError(), QStringLiteral("register_user"));
    if (!strTaken.isEmpty()) {
        return registerAgain(db,
                             fields,
                             strClient,
                             strNameKey,
                             nSameId,
                             baSameHash,
                             strTaken,
                             reply);
    }

    const QByteArray baHash = Secrets::hashPassword(strPwd.toLower().toLatin1());
    if (baHash.isEmpty()) {
        reply.m_nStatus = 503;
        return reply.fail(QString(Protocol::Error::kBusy));
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
            return registerAgain(db,
                                 fields,
                                 strClient,
                                 strNameKey,
                                 nSameId,
                                 baSameHash,
                                 strTaken,
                                 reply);
        return reply.dbFailure(m_db, error, QStringLiteral("register_user"));
    }
    const int nUserId = int(nNewId);
    qCInfo(lcServer) << "New user" << nUserId;
    answerLogin(db, nUserId, fields, reply);
}

// A registration sent again, because its answer was lost on the way or the service failed
// after it had written the account, finds the account taken: with the same name, the same
// address and the same password it logs in, so that the new account is not out of reach.
// Every taken answer is counted and costs one hash like a login attempt, whether or not the
// account matches, so that it tells nothing about which name has which address.
void CAccounts::registerAgain(QSqlDatabase &db,
                              const CServiceFields &fields,
                              const QString &strClient,
                              const QString &strNameKey,
                              qint64 nSameId,
                              const QByteArray &baSameHash,
                              const QString &strTaken,
                              CServiceReply &reply)
{
    QSqlQuery query(db);
    const CRateLimit::Take takeClient = takeLoginAttempt(query, strClient, strNameKey);
    if (takeClient == CRateLimit::Take::Failed)
        return reply.dbFailure(m_db, query.lastError(), QStringLiteral("register_user"));
    if (takeClient == CRateLimit::Take::Refused)
        return reply.fail(strTaken);
    const QByteArray baPwd = fields.value(Protocol::Field::kPwd).toLower().toLatin1();
    const Secrets::Check check = nSameId > 0 ? Secrets::verifyPassword(baSameHash, baPwd)
                                             : Secrets::verifyNothing(baPwd);
    endLoginAttempt(query, strClient, strNameKey, check);
    if (check == Secrets::Check::Busy) {
        reply.m_nStatus = 503;
        return reply.fail(QString(Protocol::Error::kBusy));
    }
    if (check != Secrets::Check::Match)
        return reply.fail(strTaken);
    answerLogin(db, int(nSameId), fields, reply);
}

void CAccounts::login(QSqlDatabase &db,
                      const CServiceFields &fields,
                      const QString &strClient,
                      CServiceReply &reply)
{
    const QString strNameKey = Validation::nameKey(fields.value(Protocol::Field::kName));
    const QString strPwd = fields.value(Protocol::Field::kPwd).toLower();
    // No account's name holds U+0000 (nor could PostgreSQL look one up).
    if (strNameKey.isEmpty() || strNameKey.contains(QChar(0)))
        return reply.fail(QString(Protocol::Error::kWrongLogin));

    // Attempts are counted before the password is looked at, per client address and
    // name and per client address: guesses from one place end there, and nobody
    // elsewhere is locked out of their account.
    QSqlQuery query(db);
    const CRateLimit::Take takeClient = takeLoginAttempt(query, strClient, strNameKey);
    if (takeClient == CRateLimit::Take::Failed)
        return reply.dbFailure(m_db, query.lastError(), QStringLiteral("login"));
    if (takeClient == CRateLimit::Take::Refused)
        return reply.fail(QString(Protocol::Error::kTooMany));

    if (!m_db.execQuery(query,
                        QStringLiteral("SELECT id, pwd_hash FROM users WHERE name_key = ?"),
                        {strNameKey}))
        return reply.dbFailure(m_db, query.lastError(), QStringLiteral("login"));
    int nUserId = 0;
    QByteArray baHash;
    if (query.next()) {
        nUserId = query.value(0).toInt();
        baHash = query.value(1).toString().toLatin1();
    }
    query.finish();
    // Exactly one hash is computed whatever the name and the digest, so that the time
    // of an answer tells nothing about which names exist.
    const Secrets::Check check = nUserId > 0 && Validation::isHex(strPwd, 32)
                                     ? Secrets::verifyPassword(baHash, strPwd.toLatin1())
                                     : Secrets::verifyNothing(strPwd.toLatin1());
    endLoginAttempt(query, strClient, strNameKey, check);
    if (check == Secrets::Check::Busy) {
        reply.m_nStatus = 503;
        return reply.fail(QString(Protocol::Error::kBusy));
    }
    if (check != Secrets::Check::Match)
        return reply.fail(QString(Protocol::Error::kWrongLogin));
    answerLogin(db, nUserId, fields, reply);
}

CRateLimit::Take CAccounts::takeLoginAttempt(QSqlQuery &query,
                                             const QString &strClient,
                                             const QString &strNameKey)
{
    const CRateLimit::Take takePair = m_rateLimit.take(query,
                                                       QStringLiteral("login"),
                                                       strClient + QLatin1Char('\n') + strNameKey,
                                                       m_nLoginRate,
                                                       60);
    if (takePair != CRateLimit::Take::Allowed)
        return takePair;
    return m_rateLimit.take(query, QStringLiteral("login_client"), strClient, m_nLoginRate * 5, 60);
}

void CAccounts::endLoginAttempt(QSqlQuery &query,
                                const QString &strClient,
                                const QString &strNameKey,
                                Secrets::Check check)
{
    const QString strPair = strClient + QLatin1Char('\n') + strNameKey;
    if (check == Secrets::Check::Busy)
        m_rateLimit.refund(query, QStringLiteral("login"), strPair);
    else if (check == Secrets::Check::Match)
        m_rateLimit.clear(query, QStringLiteral("login"), strPair);
    // A client's own count keeps its failed attempts only.
    if (check == Secrets::Check::Busy || check == Secrets::Check::Match)
        m_rateLimit.refund(query, QStringLiteral("login_client"), strClient);
}

void CAccounts::forgotPwd(QSqlDatabase &db,
                          const CServiceFields &fields,
                          const QString &strClient,
                          CServiceReply &reply)
{
    const QString strNameKey = Validation::nameKey(
        fields.value(Protocol::Field::kUserName).trimmed());
    const QString strEmailKey = fields.value(Protocol::Field::kUserEmail).trimmed().toLower();
    if (strNameKey.isEmpty() && strEmailKey.isEmpty())
        return reply.fail(QStringLiteral("Give your user name or your e-mail address."));

    QSqlQuery query(db);
    switch (m_rateLimit.take(query, QStringLiteral("forgot_client"), strClient, 10, 3600)) {
    case CRateLimit::Take::Failed:
        return reply.dbFailure(m_db, query.lastError(), QStringLiteral("forgot_pwd"));
    case CRateLimit::Take::Refused:
        return reply.fail(QString(Protocol::Error::kTooMany));
    case CRateLimit::Take::Allowed:
        break;
    }
    // The same answer whether or not an account matches: it must not tell anyone
    // which names and addresses have accounts, nor an account's address.
    reply.m_obj = QJsonObject{{Protocol::Field::kMessage, QString(Protocol::Text::kResetSent)}};

    int nUserId = 0;
    QString strEmail, strName;
    const QList<QPair<QString, QString>> lstLookups = {{QStringLiteral("name_key"), strNameKey},
                                                       {QStringLiteral("email_key"), strEmailKey}};
    for (const auto &lookup : lstLookups) {
        // (No account has a name or address with U+0000, which PostgreSQL cannot look up.)
        if (lookup.second.isEmpty() || lookup.second.contains(QChar(0)))
            continue;
        if (!m_db.execQuery(query,
                            QStringLiteral("SELECT id, email, name FROM users WHERE %1 = ?")
                                .arg(lookup.first),
                            {lookup.second}))
            return reply.dbFailure(m_db, query.lastError(), QStringLiteral("forgot_pwd"));
        if (query.next()) {
            nUserId = query.value(0).toInt();
            strEmail = query.value(1).toString();
            strName = query.value(2).toString();
            break;
        }
    }
    query.finish();
    if (nUserId <= 0)
        return;

    // At most three open requests per account, each good for one reset within a day;
    // the database keeps only the token's digest, the mail carries the token.
    const qint64 nNow = Validation::nowSecs();
    m_db.execQuery(query, QStringLiteral("DELETE FROM password_reset WHERE expires_at < ?"), {nNow});
    const QByteArray baToken = Secrets::newToken();
    if (!m_db.execQuery(query,
                        QStringLiteral(
                            "INSERT INTO password_reset (user_id, token_hash, created_at,"
                            " expires_at) SELECT ?, ?, ?, ? WHERE (SELECT COUNT(*) FROM"
                            " password_reset WHERE user_id = ?) < 3"),
                        {nUserId,
                         QString::fromLatin1(Secrets::tokenDigest(baToken)),
                         nNow,
                         nNow + 86400,
                         nUserId}))
        return reply.dbFailure(m_db, query.lastError(), QStringLiteral("forgot_pwd"));
    if (query.numRowsAffected() <= 0)
        return;
    reply.m_nUserId = nUserId;
    m_mailSpool.writeResetMail(strEmail, strName, baToken);
}

void CAccounts::resetPwd(QSqlDatabase &db,
                         const CServiceFields &fields,
                         const QString &strClient,
                         CServiceReply &reply)
{
    const QString strToken = fields.value(Protocol::Field::kResetToken).trimmed().toLower();
    const QString strPwd = fields.value(Protocol::Field::kPwd).toLower();
    if (!Validation::isHex(strPwd, 32))
        return reply.fail(QStringLiteral("The password digest must be 32 hexadecimal digits."));

    QSqlQuery query(db);
    switch (m_rateLimit.take(query, QStringLiteral("reset_client"), strClient, 10, 3600)) {
    case CRateLimit::Take::Failed:
        return reply.dbFailure(m_db, query.lastError(), QStringLiteral("reset_pwd"));
    case CRateLimit::Take::Refused:
        return reply.fail(QString(Protocol::Error::kTooMany));
    case CRateLimit::Take::Allowed:
        break;
    }
    const QString strWrong = QStringLiteral("The reset code is wrong or has expired.");
    if (!Validation::isHex(strToken, 64))
        return reply.fail(strWrong);

    // Taking the request and using it is one statement: a code works once.
    qint64 nUserId = 0;
    if (!m_db.execReturning(query,
                            QStringLiteral("DELETE FROM password_reset WHERE token_hash = ?"
                                           " AND expires_at >= ? RETURNING user_id"),
                            {QString::fromLatin1(Secrets::tokenDigest(strToken.toLatin1())),
                             Validation::nowSecs()},
                            nUserId))
        return reply.dbFailure(m_db, query.lastError(), QStringLiteral("reset_pwd"));
    if (nUserId <= 0)
        return reply.fail(strWrong);

    const QByteArray baHash = Secrets::hashPassword(strPwd.toLatin1());
    if (baHash.isEmpty()) {
        // The code is used up; asking again gives a new one.
        reply.m_nStatus = 503;
        return reply.fail(QString(Protocol::Error::kBusy));
    }
    // The new password ends every login made with the old one, and the other open
    // requests of the account: those first, so that a reset answered as done has ended
    // them all, and one that fails on the way leaves the old password in place.
    for (const QString &strTable :
         {QStringLiteral("login_token"), QStringLiteral("password_reset")}) {
        const bool bEnded
            = m_db.execQuery(query,
                             QStringLiteral("DELETE FROM %1 WHERE user_id = ?").arg(strTable),
                             {nUserId});
        ++g_nResets;
        if (!bEnded)
            return reply.dbFailure(m_db, query.lastError(), QStringLiteral("reset_pwd"));
    }
    if (!m_db.execQuery(query,
                        QStringLiteral("UPDATE users SET pwd_hash = ? WHERE id = ?"),
                        {QString::fromLatin1(baHash), nUserId}))
        return reply.dbFailure(m_db, query.lastError(), QStringLiteral("reset_pwd"));
    qCInfo(lcServer) << "New password for user" << nUserId;
    reply.m_nUserId = int(nUserId);
    reply.m_obj = QJsonObject();
}
