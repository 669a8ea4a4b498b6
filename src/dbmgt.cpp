#include "dbmgt.h"

#include "sqlbuilder.h"

#include <QDir>
#include <QStandardPaths>

CDbMgt::CDbMgt(const QString &strDataDir, QObject *parent)
    : QObject(parent)
    , m_setNumericField({QStringLiteral("id"),
                         QStringLiteral("user_id"),
                         QStringLiteral("server_id"),
                         QStringLiteral("deleted")})
{
    const QString strDir = strDataDir.isEmpty() ? QStandardPaths::writableLocation(
                               QStandardPaths::AppLocalDataLocation)
                                                : strDataDir;
    m_strDbFile = QDir(strDir).absoluteFilePath(QStringLiteral("local.db"));
    m_threadDb.setDbName(m_strDbFile);
    connect(&m_threadDb, &CThreadObject::dataReceived, this, &CDbMgt::dataReceived);
    m_threadDb.startThread();
}

CDbMgt::~CDbMgt()
{
    m_threadDb.stopAndWait(10000);
}

QString CDbMgt::dbFile() const
{
    return m_strDbFile;
}
int CDbMgt::userId() const
{
    return m_nUserId;
}
void CDbMgt::setUserId(int nVal)
{
    m_nUserId = nVal;
}
QString CDbMgt::getUser(int)
{
    return QString();
}
QString CDbMgt::getUser(const QString &, const QString &)
{
    return QString();
}
QString CDbMgt::saveUser(QVariantMap)
{
    return QString();
}
QString CDbMgt::delUser(int)
{
    return QString();
}
QString CDbMgt::getUserIdList()
{
    return QString();
}
QString CDbMgt::getNoteItem(int, int)
{
    return QString();
}
QString CDbMgt::getNoteItem(const QString &)
{
    return QString();
}
QString CDbMgt::insertNoteItem(const QVariantMap &)
{
    return QString();
}
QString CDbMgt::updateNoteItem(QVariantMap, const QString &)
{
    return QString();
}
QString CDbMgt::replaceNoteItem(QVariantMap, const QString &)
{
    return QString();
}
QString CDbMgt::deleteNoteItem(const QString &, int, const QString &)
{
    return QString();
}
QString CDbMgt::deleteNoteItemByServerId(int, const QString &, int)
{
    return QString();
}
QString CDbMgt::getNoteIdByLocalId(int)
{
    return QString();
}
QString CDbMgt::getNoteListByDay(const QDate &, int)
{
    return QString();
}
QString CDbMgt::getNoteListByMonth(const QDate &, int)
{
    return QString();
}
QString CDbMgt::getNoteListByOffset(const QVariantMap &)
{
    return QString();
}
QString CDbMgt::getNoteListByToDownload()
{
    return QString();
}
QString CDbMgt::getNoteListByToUpload()
{
    return QString();
}
QString CDbMgt::getDayNoteCount(const QDate &, int)
{
    return QString();
}
QString CDbMgt::getDayNoteCountByMonth(const QDate &, int)
{
    return QString();
}
QString CDbMgt::getNoteIdList(int)
{
    return QString();
}
QString CDbMgt::deleteNoteItemsInServerByMonth(const QDate &, int)
{
    return QString();
}
void CDbMgt::updateNoteUserId(int) {}
QString CDbMgt::clearNoteItemsByUserId(int)
{
    return QString();
}
void CDbMgt::clearDb() {}
void CDbMgt::saveLog(const QVariantMap &) {}
QString CDbMgt::query(const QString &strSql)
{
    QVariantMap mapRequest;
    mapRequest.insert(QStringLiteral("type"), QStringLiteral("query"));
    mapRequest.insert(QStringLiteral("sql"), strSql);
    return m_threadDb.addRequest(mapRequest);
}
QVariantMap CDbMgt::preparedInsert(QVariantMap mapNote) const
{
    return mapNote;
}
