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
