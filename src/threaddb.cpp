#include "threaddb.h"

#include <QSqlQuery>

CThreadDb::CThreadDb(QObject *parent)
    : CThreadObject(parent)
{}

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

void CThreadDb::initialize() {}

void CThreadDb::release() {}

void CThreadDb::processRequest(QVariantMap mapRequest)
{
    Q_UNUSED(mapRequest)
}
