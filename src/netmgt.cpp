#include "netmgt.h"

#include "settings.h"

namespace {
const QString kUserId = QStringLiteral("user_id");
const QString kLoginToken = QStringLiteral("login_token");
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
    return post(QStringLiteral("register_user"), mapData);
}

QString CNetMgt::forgotPwd(QVariantMap mapData)
{
    return post(QStringLiteral("forgot_pwd"), mapData);
}

QString CNetMgt::login(QString strName, QString strPwd)
{
    QVariantMap mapData;
    mapData.insert(QStringLiteral("lang"), g_pSettings ? g_pSettings->getLang() : QString());
    mapData.insert(QStringLiteral("login_from"), loginFrom());
    mapData.insert(QStringLiteral("name"), strName);
    mapData.insert(QStringLiteral("pwd"), strPwd);
    return post(QStringLiteral("login"), mapData);
}

QString CNetMgt::getNoteListByMonth(QDate dt)
{
    QVariantMap mapData;
    mapData.insert(QStringLiteral("time_month"), dt.month());
    mapData.insert(QStringLiteral("time_year"), dt.year());
    return postWithLogin(QStringLiteral("get_note_list_by_month"), mapData);
}

QString CNetMgt::getNoteItem(QString strUuid)
{
    QVariantMap mapData;
    mapData.insert(QStringLiteral("uuid"), strUuid);
    return postWithLogin(QStringLiteral("get_note_item"), mapData);
}

QString CNetMgt::getNoteItem(int nNoteId)
{
    QVariantMap mapData;
    mapData.insert(QStringLiteral("note_id"), nNoteId);
    return postWithLogin(QStringLiteral("get_note_item"), mapData);
}

QString CNetMgt::updateNoteItem(QVariantMap mapData)
{
    return postWithLogin(QStringLiteral("update_note_item"), mapData);
}

QString CNetMgt::updateNoteItem(QString strUuid, QString strUpdatedAt)
{
    QVariantMap mapData;
    mapData.insert(QStringLiteral("deleted"), 1);
    mapData.insert(QStringLiteral("updated_at"), strUpdatedAt);
    mapData.insert(QStringLiteral("uuid"), strUuid);
    return postWithLogin(QStringLiteral("update_note_item"), mapData);
}

QString CNetMgt::updateNoteItem(int nNoteId, QString strUpdatedAt)
{
    QVariantMap mapData;
    mapData.insert(QStringLiteral("deleted"), 1);
    mapData.insert(QStringLiteral("note_id"), nNoteId);
    mapData.insert(QStringLiteral("updated_at"), strUpdatedAt);
    return postWithLogin(QStringLiteral("update_note_item"), mapData);
}

QString CNetMgt::replaceNoteItem(QVariantMap mapData)
{
    return postWithLogin(QStringLiteral("replace_note_item"), mapData);
}

QString CNetMgt::getNoteListByOffset(QVariantMap mapData)
{
    return postWithLogin(QStringLiteral("get_note_list_by_offset"), mapData);
}

QString CNetMgt::insertNoteItem(QVariantMap mapData)
{
    return postWithLogin(QStringLiteral("insert_note_item"), mapData);
}

QString CNetMgt::compareUpdateNoteItem(QVariantMap mapData)
{
    return postWithLogin(QStringLiteral("compare_update_note_item"), mapData);
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
