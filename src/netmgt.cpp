#include "netmgt.h"

#include "protocol.h"
#include "settings.h"

namespace {
const QString kUserId = Protocol::Field::kUserId;
const QString kLoginToken = Protocol::Field::kLoginToken;
} // namespace

CNetMgt::CNetMgt(QObject *parent)
    : QObject(parent)
{
    m_threadPost.setObjectName(QStringLiteral("CThreadPost"));
    m_threadPost.startThread();
    connect(&m_threadPost, &CThreadPost::dataReceived, this, &CNetMgt::onWorkerData);
}

CNetMgt::~CNetMgt()
{
    m_threadPost.stopAndWait(10000);
}

QString CNetMgt::registerUser(QVariantMap mapData)
{
    return post(Protocol::Endpoint::kRegisterUser, mapData);
}

QString CNetMgt::forgotPwd(QVariantMap mapData)
{
    return post(Protocol::Endpoint::kForgotPwd, mapData);
}

QString CNetMgt::login(QString strName, QString strPwd)
{
    QVariantMap mapData;
    mapData.insert(QStringLiteral("lang"), g_pSettings ? g_pSettings->getLang() : QString());
    mapData.insert(QStringLiteral("login_from"), loginFrom());
    mapData.insert(QStringLiteral("name"), strName);
    mapData.insert(QStringLiteral("pwd"), strPwd);
    return post(Protocol::Endpoint::kLogin, mapData);
}

QString CNetMgt::getNoteListByMonth(QDate dt)
{
    QVariantMap mapData;
    mapData.insert(QStringLiteral("time_month"), dt.month());
    mapData.insert(QStringLiteral("time_year"), dt.year());
    return postWithLogin(Protocol::Endpoint::kGetNoteListByMonth, mapData);
}

QString CNetMgt::getNoteListByMonth(QDate dt, bool bWithContent)
{
    QVariantMap mapData;
    mapData.insert(QStringLiteral("time_month"), dt.month());
    mapData.insert(QStringLiteral("time_year"), dt.year());
    if (!bWithContent)
        mapData.insert(Protocol::Field::kWithContent, 0);
    return postWithLogin(Protocol::Endpoint::kGetNoteListByMonth, mapData);
}

QString CNetMgt::getNoteChanges(qint64 nCursor,
                                qint64 nBefore,
                                int nLimit,
                                qint64 nContentLimit,
                                const QString &strCheckUuid,
                                qint64 nCheckChange)
{
    QVariantMap mapFields{{Protocol::Field::kCursor, nCursor},
                          {Protocol::Field::kBefore, nBefore},
                          {Protocol::Field::kLimit, nLimit},
                          {Protocol::Field::kContentLimit, nContentLimit}};
    if (!strCheckUuid.isEmpty() && nCheckChange > 0) {
        mapFields.insert(Protocol::Field::kCheckUuid, strCheckUuid);
        mapFields.insert(Protocol::Field::kCheckChange, nCheckChange);
    }
    return postWithLogin(Protocol::Endpoint::kGetNoteChanges, mapFields);
}

QString CNetMgt::getNoteItem(QString strUuid)
{
    QVariantMap mapData;
    mapData.insert(QStringLiteral("uuid"), strUuid);
    return postWithLogin(Protocol::Endpoint::kGetNoteItem, mapData);
}

QString CNetMgt::getNoteItem(int nNoteId)
{
    QVariantMap mapData;
    mapData.insert(QStringLiteral("note_id"), nNoteId);
    return postWithLogin(Protocol::Endpoint::kGetNoteItem, mapData);
}

QString CNetMgt::updateNoteItem(QVariantMap mapData)
{
    return postWithLogin(Protocol::Endpoint::kUpdateNoteItem, mapData);
}

QString CNetMgt::updateNoteItem(QString strUuid, QString strUpdatedAt)
{
    QVariantMap mapData;
    mapData.insert(QStringLiteral("deleted"), 1);
    mapData.insert(QStringLiteral("updated_at"), strUpdatedAt);
    mapData.insert(QStringLiteral("uuid"), strUuid);
    return postWithLogin(Protocol::Endpoint::kUpdateNoteItem, mapData);
}

QString CNetMgt::updateNoteItem(int nNoteId, QString strUpdatedAt)
{
    QVariantMap mapData;
    mapData.insert(QStringLiteral("deleted"), 1);
    mapData.insert(QStringLiteral("note_id"), nNoteId);
    mapData.insert(QStringLiteral("updated_at"), strUpdatedAt);
    return postWithLogin(Protocol::Endpoint::kUpdateNoteItem, mapData);
}

QString CNetMgt::replaceNoteItem(QVariantMap mapData)
{
    mapData.remove(QStringLiteral("plain_text")); // the local search's own, not the service's
    return postWithLogin(Protocol::Endpoint::kReplaceNoteItem, mapData);
}

QString CNetMgt::getNoteListByOffset(QVariantMap mapData)
{
    return postWithLogin(Protocol::Endpoint::kGetNoteListByOffset, mapData);
}

QString CNetMgt::insertNoteItem(QVariantMap mapData)
{
    mapData.remove(QStringLiteral("plain_text")); // the local search's own, not the service's
    return postWithLogin(Protocol::Endpoint::kInsertNoteItem, mapData);
}

QString CNetMgt::compareUpdateNoteItem(QVariantMap mapData)
{
    return postWithLogin(Protocol::Endpoint::kCompareUpdateNoteItem, mapData);
}

void CNetMgt::setLoginInfo(int nUserId, QString strLoginToken)
{
    m_nUserId = nUserId;
    m_strLoginToken = strLoginToken;
}

void CNetMgt::clearLoginInfo()
{
    m_nUserId = 0;
    m_strLoginToken.clear();
}

bool CNetMgt::isLoggedIn() const
{
    return m_nUserId > 0 && !m_strLoginToken.isEmpty();
}

int CNetMgt::getUserId() const
{
    return m_nUserId;
}

QString CNetMgt::loginFrom()
{
#ifdef Q_OS_WIN
    const QString strPlatform = QStringLiteral("Win");
#else
    const QString strPlatform = QStringLiteral("other");
#endif
    const QString strVersion = g_pSettings ? g_pSettings->getVersion() : QStringLiteral("3.0");
    return (strPlatform + QLatin1Char('_') + strVersion)
        .toUpper()
        .replace(QLatin1Char('.'), QLatin1Char('_'));
}

void CNetMgt::setTransferTimeout(int nMsecs)
{
    m_threadPost.setTransferTimeout(nMsecs);
}

void CNetMgt::setMaxReplySize(qint64 nBytes)
{
    m_threadPost.setMaxReplySize(nBytes);
}

void CNetMgt::setClock(CSyncClock *pClock)
{
    m_pClock = pClock ? pClock : &m_ownClock;
}

void CNetMgt::keptTimes(QVariantMap &mapNote) const
{
    for (const QLatin1String &key : {Protocol::Field::kCreatedAt, Protocol::Field::kUpdatedAt}) {
        const auto it = mapNote.find(key);
        if (it != mapNote.end() && it->userType() == QMetaType::QString)
            *it = m_pClock->fromWire(it->toString());
    }
}

void CNetMgt::onWorkerData(const QVariant &varResult)
{
    QVariantMap mapResult = varResult.toMap();
    const auto [strEndpoint, dtSent] = m_hashSent.take(
        mapResult.value(QStringLiteral("uuid")).toString());
    const auto itPayload = mapResult.find(QStringLiteral("result"));
    if (itPayload == mapResult.end()) {
        emit dataReceived(varResult);
        return;
    }
    if (itPayload->type() == QVariant::Map) {
        QVariantMap mapReply = itPayload->toMap();
        const QString strServerTime = mapReply.value(Protocol::Field::kServerTime).toString();
        if (!strServerTime.isEmpty())
            m_pClock->observe(dtSent, strServerTime, m_pClock->machineNow());
        // A service that tells no time at its login is an older one: it reads and writes
        // times without zone.
        if (strEndpoint == Protocol::Endpoint::kLogin
            && mapReply.value(Protocol::Field::kError).toString().isEmpty())
            m_pClock->setServiceTellsTime(!strServerTime.isEmpty());
        keptTimes(mapReply);
        // The text that a change replaced at the service (a conflict).
        const auto itReplaced = mapReply.find(Protocol::Field::kReplaced);
        if (itReplaced != mapReply.end() && itReplaced->type() == QVariant::Map) {
            QVariantMap mapNote = itReplaced->toMap();
            keptTimes(mapNote);
            *itReplaced = mapNote;
        }
        const auto itNotes = mapReply.find(Protocol::Field::kNotes);
        if (itNotes != mapReply.end() && itNotes->type() == QVariant::List) {
            QVariantList lstNotes = itNotes->toList();
            for (QVariant &varNote : lstNotes) {
                if (varNote.type() != QVariant::Map)
                    continue;
                QVariantMap mapNote = varNote.toMap();
                keptTimes(mapNote);
                varNote = mapNote;
            }
            *itNotes = lstNotes;
        }
        *itPayload = mapReply;
    } else if (itPayload->type() == QVariant::List) {
        QVariantList lst = itPayload->toList();
        for (QVariant &var : lst) {
            if (var.type() != QVariant::Map)
                continue;
            QVariantMap mapNote = var.toMap();
            keptTimes(mapNote);
            var = mapNote;
        }
        *itPayload = lst;
    }
    emit dataReceived(mapResult);
}

// The service URL is read for every request, so a changed setting applies to the next one.
QString CNetMgt::post(const QString &strUrl, const QVariantMap &mapFields)
{
    QVariantMap mapData = mapFields;
    for (const QLatin1String &key : {Protocol::Field::kCreatedAt,
                                     Protocol::Field::kUpdatedAt,
                                     Protocol::Field::kBaseUpdatedAt,
                                     Protocol::Field::kStartTime,
                                     Protocol::Field::kEndTime}) {
        const auto it = mapData.find(key);
        if (it != mapData.end() && !it->toString().isEmpty())
            *it = m_pClock->toWire(it->toString());
    }
    mapData.insert(Protocol::Field::kTimes, QString(Protocol::Field::kTimesUtc));
    QVariantMap mapRequest;
    mapRequest.insert(QStringLiteral("type"), QStringLiteral("post"));
    mapRequest.insert(QStringLiteral("url"), strUrl);
    mapRequest.insert(QStringLiteral("data"), mapData);
    mapRequest.insert(QStringLiteral("base_url"),
                      CThreadPost::normalizedBaseUrl(g_pSettings ? g_pSettings->getServerUrl()
                                                                 : QString()));
    const QString strRequest = m_threadPost.addRequest(mapRequest);
    if (!strRequest.isEmpty())
        m_hashSent.insert(strRequest, {strUrl, m_pClock->machineNow()});
    return strRequest;
}

QString CNetMgt::postWithLogin(const QString &strUrl, QVariantMap mapData)
{
    if (!isLoggedIn())
        return QString();
    mapData.insert(kUserId, m_nUserId);
    mapData.insert(kLoginToken, m_strLoginToken);
    return post(strUrl, mapData);
}
