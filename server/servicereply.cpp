#include "servicereply.h"

#include "kelpolog.h"
#include "protocol.h"
#include "serverdb.h"

#include <QSqlError>

void CServiceReply::fail(const QString &strError)
{
    // Whatever was written out before the failure is no part of the answer.
    m_baJson.clear();
    m_obj = QJsonObject{{Protocol::Field::kError, strError}};
}

void CServiceReply::dbFailure(CServerDb &db, const QSqlError &error, const QString &strWhat)
{
    qCWarning(lcServer) << "Database failure in" << strWhat << ":" << error.text();
    // A lost connection does not always say so (a restarted PostgreSQL shows up as a
    // failed statement): start afresh with the next request.
    db.dropConnectionLater();
    m_nStatus = 503;
    fail(QStringLiteral("The service cannot reach its database."));
}
