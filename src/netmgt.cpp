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
    connect(&m_threadPost, &CThreadPost::dataReceived, this, &CNetMgt::dataReceived);
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

QString CNetMgt::getNoteChanges(qint64 nCursor, qint64 nBefore, int nLimit, qint64 nContentLimit)
{
    return postWithLogin(Protocol::Endpoint::kGetNoteChanges,
                         {{Protocol::Field::kCursor, nCursor},
                          {Protocol::Field::kBefore, nBefore},
                          {Protocol::Field::kLimit, nLimit},
                          {Protocol::Field::kContentLimit, nContentLimit}});
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

// The service URL is read for every request, so a changed setting applies to the next one.
QString CNetMgt::post(const QString &strUrl, const QVariantMap &mapData)
{
    QVariantMap mapRequest;
    mapRequest.insert(QStringLiteral("type"), QStringLiteral("post"));
    mapRequest.insert(QStringLiteral("url"), strUrl);
    mapRequest.insert(QStringLiteral("data"), mapData);
    mapRequest.insert(QStringLiteral("base_url"),
                      CThreadPost::normalizedBaseUrl(g_pSettings ? g_pSettings->getServerUrl()
                                                                 : QString()));
    return m_threadPost.addRequest(mapRequest);
}

QString CNetMgt::postWithLogin(const QString &strUrl, QVariantMap mapData)
{
    if (!isLoggedIn())
        return QString();
    mapData.insert(kUserId, m_nUserId);
    mapData.insert(kLoginToken, m_strLoginToken);
    return post(strUrl, mapData);
}
