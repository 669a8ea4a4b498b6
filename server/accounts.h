#ifndef ACCOUNTS_H
#define ACCOUNTS_H

#include "mailspool.h"
#include "ratelimit.h"
#include "secrets.h"
#include "servicereply.h"

#include <QSqlDatabase>

class CServerDb;
class QSqlQuery;
struct CServerConfig;

// The accounts room: registration, login, password reminders and the check of the
// login token that every note request carries.
class CAccounts
{
public:
    CAccounts(CServerDb &db, const CServerConfig &config);

    // strClient: the client's address, for the counting of attempts.
    void registerUser(QSqlDatabase &db,
                      const CServiceFields &fields,
                      const QString &strClient,
                      CServiceReply &reply);
    void login(QSqlDatabase &db,
               const CServiceFields &fields,
               const QString &strClient,
               CServiceReply &reply);
    // Records a reset request and writes its mail when an account matches; answers
    // the same either way.
    void forgotPwd(QSqlDatabase &db,
                   const CServiceFields &fields,
                   const QString &strClient,
                   CServiceReply &reply);
    // Sets a new password with the code of a reset mail.
    void resetPwd(QSqlDatabase &db,
                  const CServiceFields &fields,
                  const QString &strClient,
                  CServiceReply &reply);

    // Checks "user_id" and "login_token"; sets reply.m_nUserId, or the error.
    bool authenticate(QSqlDatabase &db, const CServiceFields &fields, CServiceReply &reply);

private:
    // A registration whose name or address is taken (see the definition).
    void registerAgain(QSqlDatabase &db,
                       const CServiceFields &fields,
                       const QString &strClient,
                       const QString &strNameKey,
                       qint64 nSameId,
                       const QByteArray &baSameHash,
                       const QString &strTaken,
                       CServiceReply &reply);
    // Counts a login attempt for this name from this client, per client and name and per
    // client, before any password is looked at.
    CRateLimit::Take takeLoginAttempt(QSqlQuery &query,
                                      const QString &strClient,
                                      const QString &strNameKey);
    // Ends a counted attempt: a password that was not looked at (the service busy) does not
    // count; one that matched clears the name's count.
    void endLoginAttempt(QSqlQuery &query,
                         const QString &strClient,
                         const QString &strNameKey,
                         Secrets::Check check);
    // Issues a new token for the user and fills the login answer.
    void answerLogin(QSqlDatabase &db,
                     int nUserId,
                     const CServiceFields &fields,
                     CServiceReply &reply);

    CServerDb &m_db;
    qint64 m_nTokenTtl;
    int m_nLoginRate;
    CRateLimit m_rateLimit;
    CMailSpool m_mailSpool;
};

#endif // ACCOUNTS_H
