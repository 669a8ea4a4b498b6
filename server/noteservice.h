#ifndef NOTESERVICE_H
#define NOTESERVICE_H

#include <QHash>
#include <QJsonObject>
#include <QSqlDatabase>
#include <QSqlError>
#include <QString>
#include <QVariantMap>

class CServerDb;
struct CServerConfig;

// The endpoints of the note service: form fields in, one JSON object out. Knows
// nothing of HTTP; every state lives in the database.
class CNoteService
{
public:
    using Fields = QHash<QString, QString>;

    struct CReply
    {
        int m_nStatus = 200; // 200 for answers, also for application errors
        QJsonObject m_obj;   // the answer; "error" non-empty on failure
        QByteArray m_baJson; // the answer already written out, when not empty
        int m_nUserId = 0;   // the user the request acted for, for the log
    };

    CNoteService(CServerDb &db, const CServerConfig &config);

    static bool hasEndpoint(const QString &strEndpoint);
    CReply handle(const QString &strEndpoint, const Fields &fields);

private:
    struct CNoteFields;
    using Handler = void (CNoteService::*)(QSqlDatabase &, const Fields &, CReply &);

    void registerUser(QSqlDatabase &db, const Fields &fields, CReply &reply);
    void login(QSqlDatabase &db, const Fields &fields, CReply &reply);
    void forgotPwd(QSqlDatabase &db, const Fields &fields, CReply &reply);
    void replaceNoteItem(QSqlDatabase &db, const Fields &fields, CReply &reply);
    void updateNoteItem(QSqlDatabase &db, const Fields &fields, CReply &reply);
    void getNoteListByMonth(QSqlDatabase &db, const Fields &fields, CReply &reply);
    void getNoteListByOffset(QSqlDatabase &db, const Fields &fields, CReply &reply);
    void getNoteItem(QSqlDatabase &db, const Fields &fields, CReply &reply);

    // Checks "user_id" and "login_token"; sets reply.m_nUserId, or the error.
    bool authenticate(QSqlDatabase &db, const Fields &fields, CReply &reply);
    // Issues a new token for the user and fills the login answer.
    void answerLogin(QSqlDatabase &db, int nUserId, const Fields &fields, CReply &reply);
    bool parseNoteFields(const Fields &fields, CNoteFields &note, QString &strError) const;
    // Fills reply with a failure of the database itself (status 503).
    void dbFailure(const QSqlError &error, const QString &strWhat, CReply &reply);

    CServerDb &m_db;
    qint64 m_nTokenTtl;
    int m_nLoginRate;
};

#endif // NOTESERVICE_H
