#ifndef SERVICEREPLY_H
#define SERVICEREPLY_H

#include <QByteArray>
#include <QHash>
#include <QJsonObject>
#include <QString>

class CServerDb;
class QSqlError;

// The form fields of one request: name to value, the first part of each name.
using CServiceFields = QHash<QString, QString>;

// One request as the HTTP front hands it over.
struct CServiceRequest
{
    QString m_strEndpoint;
    CServiceFields m_fields;
    // Fields that may be large (the note's text), kept as bytes until the login token
    // has been checked: nobody without a login makes the service decode them.
    QHash<QString, QByteArray> m_hashLarge;
    QString m_strClient; // the client's address
};

// What an endpoint answers. Knows nothing of HTTP beyond the status.
struct CServiceReply
{
    int m_nStatus = 200; // 200 for answers, also for application errors
    QJsonObject m_obj;   // the answer; "error" non-empty on failure
    QByteArray m_baJson; // the answer already written out, when not empty
    int m_nUserId = 0;   // the user the request acted for, for the log

    // An application error: {"error": strError}, status 200.
    void fail(const QString &strError);
    // A failure of the database itself: logged, the connection dropped for the next
    // request, status 503.
    void dbFailure(CServerDb &db, const QSqlError &error, const QString &strWhat);
};

#endif // SERVICEREPLY_H
