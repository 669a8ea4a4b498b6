#include "notemgt.h"

#include "kelpolog.h"
#include "langmgt.h"
#include "settings.h"
#include "sqlbuilder.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QTextDocument>
#include <QUrl>

namespace {

const int kDefaultTimerInterval = 60000;
const int kPageSize = 50;
const int kTitleLength = 50;
const int kLargestImageSide = 500;
// How the store begins the error of every request while local.db cannot be opened.
const QLatin1String kStoreOpenFailure("Fail to open db:");
const QLatin1String kStoreConnectionFailure("Fail to add db connection:");

QString nowString()
{
    return currentTimeString();
}

QString dayOf(const QString &strDateTime)
{
    return strDateTime.section(QLatin1Char(' '), 0, 0);
}

// The note inside the context data of a note write: replaceNoteItem() wraps it as
// {"data": note, "field": field}, the other writes keep the note itself.
QVariantMap noteOfContextData(const QVariantMap &mapData)
{
    if (mapData.contains(QStringLiteral("field"))
        && mapData.value(QStringLiteral("data")).type() == QVariant::Map)
        return mapData.value(QStringLiteral("data")).toMap();
    return mapData;
}

// A stored "set_at" is always the day at midnight.
void normaliseSetAt(QVariantMap &map)
{
    const QString strSetAt(QStringLiteral("set_at"));
    if (map.contains(strSetAt))
        map.insert(strSetAt, dayOf(map.value(strSetAt).toString()) + QStringLiteral(" 00:00:00"));
}

bool isNoteWrite(const QString &strType)
{
    return strType == QLatin1String("update_note_item")
           || strType == QLatin1String("insert_note_item")
           || strType == QLatin1String("replace_note_item")
           || strType == QLatin1String("delete_note_item");
}

bool isTombstone(const QVariantMap &map)
{
    return map.value(QStringLiteral("deleted")).toInt() == 1;
}

// A note whose size is known but whose text has not been fetched yet.
bool lacksText(const QVariantMap &map)
{
    return map.value(QStringLiteral("content")).toString().isEmpty()
           && map.value(QStringLiteral("content_size")).toInt() > 0;
}

// The digest that stands for the text: an empty text has none, whichever way it was
// written down.
QString textDigest(const QVariantMap &map)
{
    if (map.value(QStringLiteral("content_size")).toInt() <= 0)
        return QString();
    return map.value(QStringLiteral("md5")).toString();
}

// The note answered by "get_note_item": the object itself, or the first of a list.
QVariantMap singleNoteOfReply(const QVariant &varPayload)
{
    QVariantMap map = varPayload.toMap();
    if (varPayload.type() == QVariant::List && !varPayload.toList().isEmpty())
        map = varPayload.toList().first().toMap();
    if (map.value(QStringLiteral("id")).toInt() <= 0)
        return QVariantMap();
    return map;
}

// The address as shown to the user: the first three characters of the name, then "*".
QString maskedAddress(const QString &strEmail)
{
    const int nAt = strEmail.indexOf(QLatin1Char('@'));
    if (nAt > 0)
        return strEmail.left(3) + QLatin1Char('*') + strEmail.mid(nAt);
    return strEmail.left(3) + QLatin1Char('*');
}

} // namespace

CNoteMgt::CNoteMgt(QObject *parent)
    : QObject(parent)
{
    construct(kDefaultTimerInterval);
}

CNoteMgt::CNoteMgt(const QString &strDataDir, int nTimerInterval, QObject *parent)
    : QObject(parent)
    , m_dbMgt(strDataDir)
{
    construct(nTimerInterval);
}

CNoteMgt::~CNoteMgt() = default;

void CNoteMgt::construct(int nTimerInterval)
{
    connect(&m_dbMgt, &CDbMgt::dataReceived, this, &CNoteMgt::onDataReceived);
    connect(this, &CNoteMgt::userIdChanged, &m_dbMgt, &CDbMgt::setUserId);
    connect(this, &CNoteMgt::userIdChanged, this, &CNoteMgt::onUserIdChanged);
    connect(&m_netMgt, &CNetMgt::dataReceived, this, &CNoteMgt::onDataReceived);

    connect(&m_timerDownloadNote, &QTimer::timeout, this, &CNoteMgt::onTimeOutDownloadNote);
    connect(&m_timerUploadNote, &QTimer::timeout, this, &CNoteMgt::onTimeOutUploadNote);
    connect(&m_timerLoginServer, &QTimer::timeout, this, &CNoteMgt::onTimeOutLoginServer);
    connect(&m_timerNextDay, &QTimer::timeout, this, &CNoteMgt::onTimeOutNextDay);
    connect(&m_timerSync, &QTimer::timeout, this, &CNoteMgt::onTimeOutSync);

    m_timerDownloadNote.setInterval(nTimerInterval);
    m_timerUploadNote.setInterval(nTimerInterval);
    m_timerLoginServer.setInterval(nTimerInterval);
    m_timerSync.setInterval(nTimerInterval);
    m_timerNextDay.setTimerType(Qt::PreciseTimer);

    onTimeOutNextDay();
    QTimer::singleShot(0, this, &CNoteMgt::init);
    m_bInit = true;
}

void CNoteMgt::registerRequest(const QString &strUuid, const QVariantMap &mapContext)
{
    if (strUuid.isEmpty())
        return;
    m_mapRequest.insert(strUuid, mapContext);
}

// ---------------------------------------------------------------------------------------
// Accounts

void CNoteMgt::init()
{
    if (g_pSettings && g_pSettings->getAutoLogin() && !g_pSettings->getUserName().isEmpty())
        login(g_pSettings->getUserName(), g_pSettings->getPwd());
}

void CNoteMgt::login(QString strName, QString strPwd)
{
    loginAtLocal(strName.toLower(), md5Hex(strPwd));
}

void CNoteMgt::loginAtLocal(QString strUserName, QString strPwd)
{
    // The digest is as good as the password at the note service: never written out.
    qCDebug(lcNote) << "loginAtLocal " << strUserName;
    m_strUserName = strUserName;
    m_strPwd = strPwd;
    const QString strUuid = m_dbMgt.getUser(strUserName, strPwd);
    registerRequest(strUuid,
                    {{QStringLiteral("type"), QStringLiteral("login_local")},
                     {QStringLiteral("data"),
                      QVariantMap{{QStringLiteral("name"), strUserName},
                                  {QStringLiteral("pwd"), strPwd}}}});
}

void CNoteMgt::loginAtServer(QString strUserName, QString strPwd)
{
    const QString strUuid = m_netMgt.login(strUserName, strPwd);
    registerRequest(strUuid,
                    {{QStringLiteral("type"), QStringLiteral("login_server")},
                     {QStringLiteral("date"), nowString()},
                     {QStringLiteral("data"),
                      QVariantMap{{QStringLiteral("name"), strUserName},
                                  {QStringLiteral("pwd"), strPwd}}}});
}

void CNoteMgt::saveUser(QVariantMap mapData)
{
    if (mapData.isEmpty())
        return;
    const QString strUuid = m_dbMgt.saveUser(mapData);
    registerRequest(strUuid,
                    {{QStringLiteral("type"), QStringLiteral("save_user")},
                     {QStringLiteral("data"), mapData}});
}

void CNoteMgt::logout()
{
    m_nUserId = 0;
    m_nServerId = 0;
    m_strNickName.clear();
    m_strLoginToken.clear();
    m_strUserName.clear();
    m_strPwd.clear();
    emit userIdChanged(0);
    m_netMgt.clearLoginInfo();
    m_timerSync.stop();
    if (g_pSettings) {
        g_pSettings->setUserName(QString());
        g_pSettings->write();
    }
}

bool CNoteMgt::isLogin()
{
    return m_nUserId > 0;
}

QString CNoteMgt::loginName()
{
    return m_nUserId > 0 ? m_strUserName : QString();
}

void CNoteMgt::registerUser(QVariantMap mapData)
{
    if (mapData.isEmpty())
        return;
    const QString strPwd = mapData.value(QStringLiteral("pwd")).toString();
    mapData.insert(QStringLiteral("pwd_org"), strPwd);
    mapData.insert(QStringLiteral("pwd"), md5Hex(strPwd));
    const QString strUuid = m_netMgt.registerUser(mapData);
    registerRequest(strUuid,
                    {{QStringLiteral("type"), QStringLiteral("register_user")},
                     {QStringLiteral("date"), nowString()},
                     {QStringLiteral("data"), mapData},
                     {QStringLiteral("user_id"), m_nUserId}});
}

void CNoteMgt::forgotPwd(QVariantMap mapData)
{
    if (mapData.isEmpty())
        return;
    const QString strUuid = m_netMgt.forgotPwd(mapData);
    registerRequest(strUuid,
                    {{QStringLiteral("type"), QStringLiteral("forgot_pwd")},
                     {QStringLiteral("date"), nowString()},
                     {QStringLiteral("data"), mapData},
                     {QStringLiteral("user_id"), m_nUserId}});
}

void CNoteMgt::renewLoginToken()
{
    const QString strUuid = m_netMgt.login(m_strUserName, m_strPwd);
    registerRequest(strUuid,
                    {{QStringLiteral("type"), QStringLiteral("login_server_again")},
                     {QStringLiteral("date"), nowString()},
                     {QStringLiteral("user_id"), m_nUserId}});
    m_timerLoginServer.start();
}

// ---------------------------------------------------------------------------------------
// Notes

void CNoteMgt::getNoteListByDay(QDate dt)
{
    const QString strUuid = m_dbMgt.getNoteListByDay(dt, m_nUserId);
    registerRequest(strUuid,
                    {{QStringLiteral("type"), QStringLiteral("note_list_by_day")},
                     {QStringLiteral("data"),
                      QVariantMap{
                          {QStringLiteral("date"), dt.toString(QStringLiteral("yyyy-MM-dd"))}}},
                     {QStringLiteral("user_id"), m_nUserId}});
}

void CNoteMgt::getNoteListByMonth(QDate dt)
{
    const QString strUuid = m_dbMgt.getNoteListByMonth(dt, m_nUserId);
    registerRequest(strUuid,
                    {{QStringLiteral("type"), QStringLiteral("get_note_list_by_month")},
                     {QStringLiteral("data"), QVariantMap{{QStringLiteral("date"), dt}}},
                     {QStringLiteral("user_id"), m_nUserId}});
}

void CNoteMgt::getNoteListByOffset(int nOffset, QString strSearchString)
{
    m_strSyncSearch = strSearchString;
    const QVariantMap mapData{{QStringLiteral("offset"), nOffset},
                              {QStringLiteral("search_string"), strSearchString},
                              {QStringLiteral("number"), kPageSize}};
    const QString strUuid = m_dbMgt.getNoteListByOffset(mapData);
    registerRequest(strUuid,
                    {{QStringLiteral("type"), QStringLiteral("get_note_list_by_offset")},
                     {QStringLiteral("data"), mapData},
                     {QStringLiteral("user_id"), m_nUserId}});
}

void CNoteMgt::downloadNoteListByMonth(QDate dt)
{
    const QString strUuid = m_netMgt.getNoteListByMonth(dt);
    registerRequest(strUuid,
                    {{QStringLiteral("type"), QStringLiteral("download_note_list_by_month")},
                     {QStringLiteral("data"), QVariantMap{{QStringLiteral("date"), dt}}},
                     {QStringLiteral("user_id"), m_nUserId}});
}

void CNoteMgt::getDayNoteCount(QDate dt)
{
    const QString strUuid = m_dbMgt.getDayNoteCount(dt, m_nUserId);
    registerRequest(strUuid,
                    {{QStringLiteral("type"), QStringLiteral("day_note_count")},
                     {QStringLiteral("data"),
                      QVariantMap{
                          {QStringLiteral("date"), dt.toString(QStringLiteral("yyyy-MM-dd"))}}},
                     {QStringLiteral("user_id"), m_nUserId}});
}

void CNoteMgt::getDayNoteCountByMonth(QDate dt)
{
    const QString strUuid = m_dbMgt.getDayNoteCountByMonth(dt, m_nUserId);
    registerRequest(strUuid,
                    {{QStringLiteral("type"), QStringLiteral("day_note_count_by_month")},
                     {QStringLiteral("data"),
                      QVariantMap{
                          {QStringLiteral("date"), dt.toString(QStringLiteral("yyyy-MM-dd"))}}},
                     {QStringLiteral("user_id"), m_nUserId}});
}

void CNoteMgt::getNoteItem(int nId)
{
    const QString strUuid = m_dbMgt.getNoteItem(nId, m_nUserId);
    registerRequest(strUuid,
                    {{QStringLiteral("type"), QStringLiteral("get_note_item")},
                     {QStringLiteral("data"), QVariantMap{{QStringLiteral("id"), nId}}},
                     {QStringLiteral("user_id"), m_nUserId}});
}

void CNoteMgt::upateNoteItem(QVariantMap mapData)
{
    {
        // The text itself (pictures included) stays out of the debug output.
        QVariantMap mapShown = mapData;
        mapShown.insert(QStringLiteral("content"),
                        QStringLiteral("<%1 characters>")
                            .arg(mapData.value(QStringLiteral("content")).toString().size()));
        qCDebug(lcNote) << "CNoteMgt::upateNoteItem " << mapShown;
    }
    const QString strNow = nowString();
    if (!mapData.contains(QStringLiteral("user_id")))
        mapData.insert(QStringLiteral("user_id"), m_nUserId);
    if (!mapData.contains(QStringLiteral("updated_at")))
        mapData.insert(QStringLiteral("updated_at"), strNow);
    prepareNoteItem(mapData);

    QVariantMap mapContext{{QStringLiteral("data"), mapData},
                           {QStringLiteral("updated_at"), strNow},
                           {QStringLiteral("user_id"), m_nUserId}};

    if (mapData.contains(QStringLiteral("id"))) {
        mapContext.insert(QStringLiteral("type"), QStringLiteral("update_note_item"));
        registerRequest(m_dbMgt.updateNoteItem(mapData, QStringLiteral("id")), mapContext);
        if (mapData.contains(QStringLiteral("uuid")))
            untracked(m_netMgt.replaceNoteItem(mapData));
    } else if (!mapData.value(QStringLiteral("uuid")).toString().isEmpty()) {
        mapContext.insert(QStringLiteral("type"), QStringLiteral("replace_note_item"));
        registerRequest(m_dbMgt.replaceNoteItem(mapData, QStringLiteral("uuid")), mapContext);
        untracked(m_netMgt.replaceNoteItem(mapData));
    } else {
        mapData.insert(QStringLiteral("uuid"), createUuidString());
        if (!mapData.contains(QStringLiteral("created_at")))
            mapData.insert(QStringLiteral("created_at"), strNow);
        insertNoteItem(mapData);
        untracked(m_netMgt.insertNoteItem(mapData));
    }
}

void CNoteMgt::deleteNoteItem(QString strNoteUuid)
{
    const QString strNow = nowString();
    const QString strUuid = m_dbMgt.deleteNoteItem(strNoteUuid, m_nUserId, strNow);
    registerRequest(strUuid,
                    {{QStringLiteral("type"), QStringLiteral("delete_note_item")},
                     {QStringLiteral("date"), strNow},
                     {QStringLiteral("data"), QVariantMap{{QStringLiteral("uuid"), strNoteUuid}}},
                     {QStringLiteral("user_id"), m_nUserId}});
    untracked(m_netMgt.updateNoteItem(strNoteUuid, strNow));
}

void CNoteMgt::replaceNoteItem(QVariantMap map, QString strField)
{
    if (map.isEmpty())
        return;
    const QString strUuid = m_dbMgt.replaceNoteItem(map, strField);
    registerRequest(strUuid,
                    {{QStringLiteral("type"), QStringLiteral("replace_note_item")},
                     {QStringLiteral("date"), nowString()},
                     {QStringLiteral("data"),
                      QVariantMap{{QStringLiteral("data"), map},
                                  {QStringLiteral("field"), strField}}},
                     {QStringLiteral("user_id"), m_nUserId}});
}

void CNoteMgt::insertNoteItem(QVariantMap mapData)
{
    mapData.remove(QStringLiteral("id"));
    const QString strNoteUuid = mapData.value(QStringLiteral("uuid")).toString();
    if (!strNoteUuid.isEmpty() && mapData.value(QStringLiteral("content_size")).toInt() > 0
        && mapData.value(QStringLiteral("content")).toString().isEmpty()) {
        // The text is still on the server: keep the note now, fetch the text after.
        qCDebug(lcNote) << "download note item: " << strNoteUuid;
        downloadNoteItem(strNoteUuid);
    }
    prepareNoteItem(mapData);
    const QString strUuid = m_dbMgt.insertNoteItem(mapData);
    registerRequest(strUuid,
                    {{QStringLiteral("type"), QStringLiteral("insert_note_item")},
                     {QStringLiteral("date"), nowString()},
                     {QStringLiteral("data"), mapData},
                     {QStringLiteral("user_id"), m_nUserId}});
}

void CNoteMgt::refreshNoteItem(QString strUuid)
{
    const QString strRequest = m_dbMgt.getNoteItem(strUuid);
    registerRequest(strRequest,
                    {{QStringLiteral("type"), QStringLiteral("refresh_note_item")},
                     {QStringLiteral("date"), nowString()},
                     {QStringLiteral("data"), QVariantMap{{QStringLiteral("uuid"), strUuid}}},
                     {QStringLiteral("user_id"), m_nUserId}});
}

void CNoteMgt::refreshNoteCount(QString strDate)
{
    const QStringList lst = strDate.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (lst.isEmpty())
        return;
    const QDate dt = QDate::fromString(lst.first(), QStringLiteral("yyyy-MM-dd"));
    if (!dt.isValid())
        return;
    getDayNoteCount(dt);
}

void CNoteMgt::clearLocalData()
{
    m_dbMgt.clearDb();
}

// ---------------------------------------------------------------------------------------
// Synchronisation

void CNoteMgt::downloadNoteItem(QString strNoteUuid)
{
    if (strNoteUuid.trimmed().isEmpty())
        return;
    const QString strUuid = m_netMgt.getNoteItem(strNoteUuid);
    registerRequest(strUuid,
                    {{QStringLiteral("type"), QStringLiteral("download_note_item")},
                     {QStringLiteral("date"), nowString()},
                     {QStringLiteral("data"),
                      QVariantMap{{QStringLiteral("note_uuid"), strNoteUuid}}},
                     {QStringLiteral("user_id"), m_nUserId}});
}

void CNoteMgt::uploadNoteItem(QVariantMap mapData)
{
    if (mapData.isEmpty())
        return;
    const QString strUuid = m_netMgt.replaceNoteItem(mapData);
    registerRequest(strUuid,
                    {{QStringLiteral("type"), QStringLiteral("upload_note_item")},
                     {QStringLiteral("date"), nowString()},
                     {QStringLiteral("data"), mapData},
                     {QStringLiteral("user_id"), m_nUserId}});
}

int CNoteMgt::compareItem(QVariantMap mapLocalItem, QVariantMap mapServerItem)
{
    const QString strLocalAt = mapLocalItem.value(QStringLiteral("updated_at")).toString();
    const QString strServerAt = mapServerItem.value(QStringLiteral("updated_at")).toString();
    const QString strLocalUuid = mapLocalItem.value(QStringLiteral("uuid")).toString();
    const int nServerNoteId = mapServerItem.value(QStringLiteral("id")).toInt();
    const bool bNoServerId = mapLocalItem.value(QStringLiteral("server_id")).toInt() < 1;
    const int nOrder = strServerAt < strLocalAt ? 1 : (strLocalAt < strServerAt ? -1 : 0);
    auto recordServerId = [&]() {
        if (nServerNoteId > 0 && !strLocalUuid.isEmpty())
            untracked(m_dbMgt.updateNoteItem({{QStringLiteral("uuid"), strLocalUuid},
                                              {QStringLiteral("server_id"), nServerNoteId}},
                                             QStringLiteral("uuid")));
    };

    // The later change wins, a deletion included. Within one second a deletion wins over
    // an edit, and two texts are told apart by their digests, so that every computer picks
    // the same copy.
    const bool bLocalDeleted = mapLocalItem.value(QStringLiteral("deleted")).toInt() == 1;
    const bool bServerDeleted = mapServerItem.value(QStringLiteral("deleted")).toInt() == 1;
    int nWinner = nOrder;
    if (nWinner == 0) {
        if (bLocalDeleted != bServerDeleted) {
            nWinner = bLocalDeleted ? 1 : -1;
        } else if (!bLocalDeleted && !lacksText(mapLocalItem) && !lacksText(mapServerItem)) {
            const QString strLocalMd5 = textDigest(mapLocalItem);
            const QString strServerMd5 = textDigest(mapServerItem);
            if (strLocalMd5 != strServerMd5)
                nWinner = strServerMd5 < strLocalMd5 ? 1 : -1;
        }
    }

    if (nWinner > 0) {
        if (bLocalDeleted) {
            if (!bServerDeleted) {
                if (mapServerItem.value(QStringLiteral("uuid")).toString().isEmpty())
                    untracked(m_netMgt.updateNoteItem(nServerNoteId, strLocalAt));
                else
                    untracked(m_netMgt.updateNoteItem(strLocalUuid, strLocalAt));
            }
        } else {
            // A newer text also brings back a note that the service holds as deleted.
            // By the service's id: a note there without UUID takes the local one.
            QVariantMap map = noteForServer(mapLocalItem);
            if (nServerNoteId > 0)
                map.insert(QStringLiteral("note_id"), nServerNoteId);
            untracked(m_netMgt.updateNoteItem(map));
        }
        if (bNoServerId)
            recordServerId();
        return nOrder;
    }
    if (nWinner < 0 && bServerDeleted) {
        // Deleted at the service after the last change here.
        if (!bLocalDeleted)
            markDeletedFromServer(mapLocalItem, mapServerItem);
        else if (bNoServerId)
            recordServerId();
        return nOrder;
    }
    if (nWinner < 0) {
        if (textDigest(mapLocalItem) != textDigest(mapServerItem)
            && (lacksText(mapServerItem) || !mapServerItem.contains(QStringLiteral("content")))) {
            // The service listed the note without its text: fetch the whole note rather than
            // empty the text here.
            downloadNoteItem(strLocalUuid);
            return nOrder;
        }
        // A note at the service without UUID takes the local one, as on equal times.
        if (mapServerItem.value(QStringLiteral("uuid")).toString().isEmpty()
            && !strLocalUuid.isEmpty() && nServerNoteId > 0)
            untracked(m_netMgt.updateNoteItem(QVariantMap{{QStringLiteral("id"), nServerNoteId},
                                                          {QStringLiteral("uuid"), strLocalUuid}}));
        convertServerItem(mapServerItem, m_nUserId);
        if (textDigest(mapLocalItem) == textDigest(mapServerItem)) {
            // The same text: keep the local one.
            if (!mapLocalItem.value(QStringLiteral("content")).toString().isEmpty())
                mapServerItem.remove(QStringLiteral("content"));
            mapServerItem.remove(QStringLiteral("content_size"));
            mapServerItem.remove(QStringLiteral("md5"));
        }
        mapServerItem.insert(QStringLiteral("uuid"), strLocalUuid);
        // Without a text the title stays the service's (the preparation would take a title
        // without text and size for an emptied note).
        if (mapServerItem.contains(QStringLiteral("content")))
            prepareNoteItem(mapServerItem);
        else
            normaliseSetAt(mapServerItem);
        // The note takes the service's time of change, not the time of this copy.
        mapServerItem.insert(QStringLiteral("updated_at"), strServerAt);
        // A note deleted here and changed later elsewhere comes back.
        if (bLocalDeleted)
            mapServerItem.insert(QStringLiteral("deleted"), 0);
        untracked(m_dbMgt.updateNoteItem(mapServerItem, QStringLiteral("uuid")));
        refreshNoteCount(mapLocalItem.value(QStringLiteral("set_at")).toString());
        if (dayOf(mapServerItem.value(QStringLiteral("set_at")).toString())
            != dayOf(mapLocalItem.value(QStringLiteral("set_at")).toString()))
            refreshNoteCount(mapServerItem.value(QStringLiteral("set_at")).toString());
        if (!bLocalDeleted && !mapServerItem.contains(QStringLiteral("content"))
            && !mapServerItem.contains(QStringLiteral("title")))
            return nOrder;
        QVariantMap mapShown = mapLocalItem;
        for (auto it = mapServerItem.cbegin(); it != mapServerItem.cend(); ++it)
            mapShown.insert(it.key(), it.value());
        fillDisplayFields(mapShown);
        emit appendNoteItemToList(mapShown);
        return nOrder;
    }

    // The same note on both sides.
    if (mapServerItem.value(QStringLiteral("uuid")).toString().isEmpty() && !strLocalUuid.isEmpty()
        && nServerNoteId > 0)
        untracked(m_netMgt.updateNoteItem(QVariantMap{{QStringLiteral("id"), nServerNoteId},
                                                      {QStringLiteral("uuid"), strLocalUuid}}));
    if (bNoServerId)
        recordServerId();
    return 0;
}

void CNoteMgt::syncStart()
{
    if (m_nServerId <= 0)
        return;
    m_nSyncOffset = 0;
    syncDownloadNoteList();
}

void CNoteMgt::syncDownloadNoteList()
{
    QVariantMap mapData{{QStringLiteral("limit"), kPageSize},
                        {QStringLiteral("offset"), m_nSyncOffset},
                        {QStringLiteral("is_sync"), 1}};
    if (m_strSyncSearch.isEmpty()) {
        mapData.insert(QStringLiteral("start_time"), m_strSyncStartTime);
        mapData.insert(QStringLiteral("end_time"), m_strSyncEndTime);
    } else {
        mapData.insert(QStringLiteral("search_string"), m_strSyncSearch);
    }
    const QString strUuid = m_netMgt.getNoteListByOffset(mapData);
    registerRequest(strUuid,
                    {{QStringLiteral("type"), QStringLiteral("sync_download_note_list")},
                     {QStringLiteral("date"), nowString()},
                     {QStringLiteral("data"), mapData},
                     {QStringLiteral("user_id"), m_nUserId}});
}

void CNoteMgt::syncFinish()
{
    m_nSyncOffset = 0;
    m_strSyncEndTime = QString();
}

// ---------------------------------------------------------------------------------------
// Pictures, attachments and note records

QString CNoteMgt::readFile2Base64(QString strFileUrl)
{
    const QUrl url(strFileUrl);
    const QString strPath = url.isLocalFile() ? url.toLocalFile()
                                              : (url.scheme().isEmpty() ? strFileUrl : QString());
    if (strPath.isEmpty())
        return QString();
    QFile file(strPath);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    const QByteArray bytes = file.readAll();
    file.close();

    const QImage image = QImage::fromData(bytes);
    const int w = image.width();
    const int h = image.height();
    double dScale = 1.0;
    if (w > h) {
        if (w > kLargestImageSide)
            dScale = double(kLargestImageSide) / w;
    } else if (h > kLargestImageSide) {
        dScale = double(kLargestImageSide) / h;
    }
    return QStringLiteral("<img height=\"%1\" width=\"%2\" src=\"data:image/png;base64,%3\"")
        .arg(qRound(h * dScale))
        .arg(qRound(w * dScale))
        .arg(QString::fromLatin1(bytes.toBase64()));
}

void CNoteMgt::getAttachment(int nId)
{
    Q_UNUSED(nId)
}

void CNoteMgt::saveAttachment() {}

void CNoteMgt::delAttachment() {}

void CNoteMgt::prepareNoteItem(QVariantMap &map)
{
    const QString strContent(QStringLiteral("content"));
    const QString strTitle(QStringLiteral("title"));
    const QString strUpdatedAt(QStringLiteral("updated_at"));
    if (map.contains(strContent)) {
        const QString str = map.value(strContent).toString();
        if (str.isEmpty()) {
            map.insert(strTitle, str);
            map.insert(strUpdatedAt, nowString());
            fillContentDigest(map);
        } else if (!map.contains(QStringLiteral("md5"))) {
            fillContentDigest(map);
        }
    }
    if (map.value(QStringLiteral("content_size")).toInt() <= 0 && map.contains(strTitle)) {
        if (!map.contains(strContent))
            map.insert(strContent, QString());
        map.insert(strTitle, map.value(strContent).toString());
        map.insert(strUpdatedAt, nowString());
        fillContentDigest(map);
    }
    normaliseSetAt(map);
}

void CNoteMgt::convertServerItem(QVariantMap &map, int nUserId)
{
    QVariantMap mapNew{{QStringLiteral("user_id"), nUserId}};
    if (map.contains(QStringLiteral("id")))
        mapNew.insert(QStringLiteral("server_id"), map.value(QStringLiteral("id")));
    for (const char *key :
         {"set_at", "title", "content", "content_size", "md5", "created_at", "updated_at", "uuid"}) {
        const QString strKey = QLatin1String(key);
        if (map.contains(strKey))
            mapNew.insert(strKey, map.value(strKey));
    }
    map = mapNew;
}

void CNoteMgt::fillDisplayFields(QVariantMap &map)
{
    const QString strContent = map.value(QStringLiteral("content")).toString();
    if (!strContent.isEmpty() && map.value(QStringLiteral("title")).toString().isEmpty()) {
        QTextDocument doc;
        doc.setHtml(strContent);
        // Pictures stand in the plain text as object replacement characters: no title text.
        QString strTitle
            = doc.toPlainText().remove(QChar::ObjectReplacementCharacter).left(kTitleLength);
        // Never cut a character in half.
        if (!strTitle.isEmpty() && QChar(strTitle.back()).isHighSurrogate())
            strTitle.chop(1);
        map.insert(QStringLiteral("title"), strTitle);
    }
    if (map.contains(QStringLiteral("set_at")))
        map.insert(QStringLiteral("set_at"), dayOf(map.value(QStringLiteral("set_at")).toString()));
}

void CNoteMgt::fillDisplayFieldsOfList(QVariantList &list)
{
    for (QVariant &item : list) {
        QVariantMap map = item.toMap();
        fillDisplayFields(map);
        item = map;
    }
}

// ---------------------------------------------------------------------------------------
// Timers

void CNoteMgt::onTimeOutDownloadNote()
{
    if (m_nUserId < 1 || m_nServerId < 1)
        return;
    const QString strUuid = m_dbMgt.getNoteListByToDownload();
    registerRequest(strUuid,
                    {{QStringLiteral("type"), QStringLiteral("note_list_to_download")},
                     {QStringLiteral("date"), nowString()},
                     {QStringLiteral("user_id"), m_nUserId}});
}

void CNoteMgt::onTimeOutUploadNote()
{
    if (m_nUserId < 1 || m_nServerId < 1)
        return;
    const QString strUuid = m_dbMgt.getNoteListByToUpload();
    registerRequest(strUuid,
                    {{QStringLiteral("type"), QStringLiteral("note_list_to_upload")},
                     {QStringLiteral("date"), nowString()},
                     {QStringLiteral("user_id"), m_nUserId}});
}

void CNoteMgt::onTimeOutLoginServer()
{
    if (m_strUserName.isEmpty() || m_strPwd.isEmpty()) {
        m_timerLoginServer.stop();
        return;
    }
    loginAtServer(m_strUserName, m_strPwd);
}

void CNoteMgt::onTimeOutNextDay()
{
    const QDateTime dtNow = QDateTime::currentDateTime();
    const QDateTime dtTarget(dtNow.date().addDays(1), QTime(0, 0, 5));
    m_timerNextDay.setInterval(int(qMax<qint64>(1, dtNow.msecsTo(dtTarget))));
    m_timerNextDay.start();
    if (m_bInit)
        emit currentDateChanged();
}

// Fetches what changed at the service lately (the newest changes come first), so that a
// note written on another computer shows up here within a minute.
void CNoteMgt::onTimeOutSync()
{
    if (m_nUserId > 0 && m_nServerId > 0)
        syncStart();
}

void CNoteMgt::onUserIdChanged(int nUserId)
{
    Q_UNUSED(nUserId)
    getNoteListByOffset(0, QString());
}

// ---------------------------------------------------------------------------------------
// Result dispatcher

bool CNoteMgt::reportStoreFailure(const QString &strError)
{
    QString strReason;
    for (const QLatin1String &prefix : {kStoreOpenFailure, kStoreConnectionFailure}) {
        if (strError.startsWith(prefix))
            strReason = strError.mid(prefix.size()).trimmed();
    }
    if (strReason.isNull())
        return false;
    if (!m_bStoreFailureShown) {
        m_bStoreFailureShown = true;
        emit showError(tr("Notes cannot be saved: %1 cannot be opened (%2).")
                           .arg(QDir::toNativeSeparators(m_dbMgt.dbFile()), strReason));
    }
    return true;
}

void CNoteMgt::handleNoteSaved(const QString &strType,
                               QVariantMap mapData,
                               const QVariantMap &mapResult)
{
    refreshNoteCount(mapData.value(QStringLiteral("set_at")).toString());
    if (strType == QLatin1String("insert_note_item"))
        mapData.insert(QStringLiteral("id"), mapResult.value(QStringLiteral("id")));
    fillDisplayFields(mapData);
    emit appendNoteItemToList(mapData);
}

void CNoteMgt::handleNoteListByOffset(const QVariantMap &mapData, const QVariantList &lstRows)
{
    if (!mapData.value(QStringLiteral("search_string")).toString().isEmpty()) {
        m_strSyncStartTime = QString();
        m_strSyncEndTime = QString();
    } else {
        if (mapData.value(QStringLiteral("offset")).toInt() <= 0)
            m_strSyncEndTime = QString();
        else if (m_strSyncEndTime.isEmpty())
            m_strSyncEndTime = m_strSyncStartTime;
        for (const QVariant &row : lstRows) {
            const QString strUpdatedAt = row.toMap().value(QStringLiteral("updated_at")).toString();
            if (m_strSyncStartTime.isEmpty() || strUpdatedAt < m_strSyncStartTime)
                m_strSyncStartTime = strUpdatedAt;
        }
        if (lstRows.size() < kPageSize)
            m_strSyncStartTime = QString();
    }
    if (m_nServerId > 0) {
        m_nSyncOffset = 0;
        syncDownloadNoteList();
    }
}

void CNoteMgt::onDataReceived(QVariant data)
{
    const QVariantMap mapResult = data.toMap();
    const QString strUuid = mapResult.value(QStringLiteral("uuid")).toString();
    const QVariantMap mapContext = m_mapRequest.value(strUuid).toMap();
    if (mapContext.isEmpty()) {
        m_mapRequest.remove(strUuid);
        m_setUntracked.remove(strUuid);
        return;
    }
    if (mapContext.contains(QStringLiteral("user_id"))) {
        const int nContextUser = mapContext.value(QStringLiteral("user_id")).toInt();
        if (nContextUser >= 1 && nContextUser != m_nUserId) {
            m_mapRequest.remove(strUuid);
            return;
        }
    }

    const QString strType = mapContext.value(QStringLiteral("type")).toString();
    const QVariantMap mapData = mapContext.value(QStringLiteral("data")).toMap();
    const QVariant varPayload = mapResult.value(QStringLiteral("result"));
    const QVariantMap mapReply = varPayload.toMap();
    const QVariantList lstRows = varPayload.toList();
    QString strError = mapResult.value(QStringLiteral("error")).toString().trimmed();
    if (strError.isEmpty())
        strError = mapReply.value(QStringLiteral("error")).toString();

    // The store works again (it retries opening): a later failure is news again.
    if (strError.isEmpty()
        && mapResult.value(QStringLiteral("type")).toString() == QLatin1String("data"))
        m_bStoreFailureShown = false;

    QVariantMap mapEmit;
    QVariantMap mapLog{{QStringLiteral("log_type"), strType},
                       {QStringLiteral("log_at"), nowString()},
                       {QStringLiteral("error"), strError},
                       {QStringLiteral("result"),
                        strError.isEmpty() ? QStringLiteral("sucess") : QStringLiteral("fail")}};
    if (strType == QLatin1String("login_local"))
        mapLog.insert(QStringLiteral("log_obj"), mapData.value(QStringLiteral("name")));
    auto writeLog = [&]() {
        mapLog.insert(QStringLiteral("user_id"), m_nUserId);
        m_dbMgt.saveLog(mapLog);
    };

    if (!strError.isEmpty()) {
        qCDebug(lcNote) << "onDataReceived error: " << strError;
        m_mapRequest.remove(strUuid);
        if (strError.toLower() == QLatin1String("login token is wrong.")) {
            renewLoginToken();
            return;
        }
        emit dataReceived(
            QVariantMap{{QStringLiteral("type"), strType}, {QStringLiteral("error"), strError}});
        writeLog();
        if (reportStoreFailure(strError))
            return;
        if (strType == QLatin1String("note_list_by_day")) {
            emit showError(strError);
        } else if (strType == QLatin1String("login_server")) {
            handleLoginServerError(strError, mapData);
        } else if (isNoteWrite(strType)) {
            // The editor is gone by now: the user must learn that the change was not kept.
            emit showError(strType == QLatin1String("delete_note_item")
                               ? tr("The note could not be removed: %1").arg(strError)
                               : tr("The note could not be saved: %1").arg(strError));
        }
        return;
    }

    if (strType == QLatin1String("day_note_count_by_month")) {
        mapEmit.insert(QStringLiteral("result"),
                       QVariantMap{{QStringLiteral("date"), mapData.value(QStringLiteral("date"))},
                                   {QStringLiteral("result"), varPayload}});
    } else if (strType == QLatin1String("day_note_count")) {
        if (!lstRows.isEmpty()) {
            const QVariantMap mapRow = lstRows.first().toMap();
            mapEmit.insert(QStringLiteral("result"),
                           QVariantMap{{QStringLiteral("set_at"),
                                        mapRow.value(QStringLiteral("set_at")).toString()},
                                       {QStringLiteral("note_count"),
                                        mapRow.value(QStringLiteral("note_count")).toString()}});
        } else {
            mapEmit.insert(QStringLiteral("result"),
                           QVariantMap{{QStringLiteral("set_at"),
                                        mapData.value(QStringLiteral("date"))},
                                       {QStringLiteral("note_count"), 0}});
        }
    } else if (strType == QLatin1String("update_note_item")
               || strType == QLatin1String("insert_note_item")
               || strType == QLatin1String("replace_note_item")) {
        handleNoteSaved(strType, noteOfContextData(mapData), mapResult);
    } else if (strType == QLatin1String("note_list_by_day")) {
        mapEmit.insert(QStringLiteral("date"), mapData.value(QStringLiteral("date")));
        qCDebug(lcNote) << "*******" << lstRows.size() << "notes";
        QVariantList lst = lstRows;
        fillDisplayFieldsOfList(lst);
        mapEmit.insert(QStringLiteral("result"), lst);
    } else if (strType == QLatin1String("get_note_list_by_offset")) {
        mapEmit.insert(QStringLiteral("offset"), mapData.value(QStringLiteral("offset")));
        mapEmit.insert(QStringLiteral("search_string"),
                       mapData.value(QStringLiteral("search_string")));
        QVariantList lst = lstRows;
        fillDisplayFieldsOfList(lst);
        mapEmit.insert(QStringLiteral("result"), lst);
    } else if (strType == QLatin1String("delete_note_item")) {
        const QString strNoteUuid = mapData.value(QStringLiteral("uuid")).toString();
        mapEmit.insert(QStringLiteral("result"), QStringLiteral("success"));
        refreshNoteItem(strNoteUuid);
        emit removeNoteItemToList(strNoteUuid);
    } else if (strType == QLatin1String("refresh_note_item")) {
        if (!lstRows.isEmpty())
            refreshNoteCount(lstRows.first().toMap().value(QStringLiteral("set_at")).toString());
    } else if (!handleAccountOrSyncResult(strType, mapData, mapResult, mapEmit, mapLog)) {
        // A lookup that found nothing to do for this user.
        m_mapRequest.remove(strUuid);
        return;
    }

    if (!mapEmit.isEmpty()) {
        mapEmit.insert(QStringLiteral("type"), strType);
        emit dataReceived(mapEmit);
    }
    writeLog();
    m_mapRequest.remove(strUuid);

    if (strType == QLatin1String("get_note_list_by_offset"))
        handleNoteListByOffset(mapData, lstRows);
}

// ---------------------------------------------------------------------------------------
// Results of the accounts and of synchronisation

int CNoteMgt::pendingRequestCount() const
{
    return m_mapRequest.size() + m_setUntracked.size();
}

QString CNoteMgt::untracked(const QString &strUuid)
{
    if (!strUuid.isEmpty())
        m_setUntracked.insert(strUuid);
    return strUuid;
}

// What a note looks like at the service: the note fields of the local record, with the
// text only when it is known here (an unfetched text must not replace the stored one).
QVariantMap CNoteMgt::noteForServer(const QVariantMap &mapLocalItem) const
{
    QVariantMap map;
    for (const char *key : {"uuid", "set_at", "created_at", "title", "updated_at"}) {
        const QString strKey = QLatin1String(key);
        const QString strValue = mapLocalItem.value(strKey).toString();
        if (!strValue.isEmpty())
            map.insert(strKey, strValue);
    }
    if (!lacksText(mapLocalItem)) {
        const QString strContent = mapLocalItem.value(QStringLiteral("content")).toString();
        map.insert(QStringLiteral("content"), strContent);
        map.insert(QStringLiteral("title"), mapLocalItem.value(QStringLiteral("title")).toString());
        QVariantMap mapDigest{{QStringLiteral("content"), strContent}};
        fillContentDigest(mapDigest);
        map.insert(QStringLiteral("content_size"), mapDigest.value(QStringLiteral("content_size")));
        map.insert(QStringLiteral("md5"), mapDigest.value(QStringLiteral("md5")).toString());
    }
    return map;
}

// A note that the service holds as deleted is deleted here too, with the service's time,
// and leaves the views.
void CNoteMgt::markDeletedFromServer(const QVariantMap &mapLocalItem,
                                     const QVariantMap &mapServerItem)
{
    const QString strNoteUuid = mapLocalItem.value(QStringLiteral("uuid")).toString();
    if (strNoteUuid.isEmpty())
        return;
    QVariantMap map{{QStringLiteral("uuid"), strNoteUuid},
                    {QStringLiteral("deleted"), 1},
                    {QStringLiteral("updated_at"),
                     qMax(mapServerItem.value(QStringLiteral("updated_at")).toString(),
                          mapLocalItem.value(QStringLiteral("updated_at")).toString())}};
    const int nServerNoteId = mapServerItem.value(QStringLiteral("id")).toInt();
    if (nServerNoteId > 0)
        map.insert(QStringLiteral("server_id"), nServerNoteId);
    untracked(m_dbMgt.updateNoteItem(map, QStringLiteral("uuid")));
    emit removeNoteItemToList(strNoteUuid);
    refreshNoteCount(mapLocalItem.value(QStringLiteral("set_at")).toString());
}

// Adds a note of the service that is not here yet, with the service's time of its last
// change. Written as a replace on the UUID, so that two lookups that both found nothing
// still leave one note.
void CNoteMgt::insertServerItem(const QVariantMap &mapServerItem)
{
    if (isTombstone(mapServerItem))
        return;
    const QString strUpdatedAt = mapServerItem.value(QStringLiteral("updated_at")).toString();
    QVariantMap map = mapServerItem;
    convertServerItem(map, m_nUserId);
    const QString strNoteUuid = map.value(QStringLiteral("uuid")).toString();
    if (strNoteUuid.isEmpty())
        return;
    const bool bFetchText = lacksText(map);
    if (bFetchText)
        map.remove(QStringLiteral("content"));
    prepareNoteItem(map);
    if (!strUpdatedAt.isEmpty())
        map.insert(QStringLiteral("updated_at"), strUpdatedAt);
    replaceNoteItem(map, QStringLiteral("uuid"));
    // The store stamps a new row with the time of the insert; the note keeps its own.
    if (!strUpdatedAt.isEmpty())
        untracked(m_dbMgt.updateNoteItem({{QStringLiteral("uuid"), strNoteUuid},
                                          {QStringLiteral("updated_at"), strUpdatedAt}},
                                         QStringLiteral("uuid")));
    if (bFetchText) {
        qCDebug(lcNote) << "download note item: " << strNoteUuid;
        downloadNoteItem(strNoteUuid);
    }
}

void CNoteMgt::compareMonth(const QVariantList &lstLocal, const QVariantList &lstServer)
{
    auto matches = [](const QVariantMap &mapLocal, const QVariantMap &mapServer) {
        const int nServerNoteId = mapServer.value(QStringLiteral("id")).toInt();
        if (nServerNoteId > 0
            && nServerNoteId == mapLocal.value(QStringLiteral("server_id")).toInt())
            return true;
        const QString strUuid = mapServer.value(QStringLiteral("uuid")).toString();
        return !strUuid.isEmpty() && strUuid == mapLocal.value(QStringLiteral("uuid")).toString();
    };

    QVariantList lstServerOnly;
    QVariantList lstLocalOnly;
    for (const QVariant &varServer : lstServer) {
        const QVariantMap mapServer = varServer.toMap();
        bool bFound = false;
        for (const QVariant &varLocal : lstLocal) {
            if (matches(varLocal.toMap(), mapServer)) {
                compareItem(varLocal.toMap(), mapServer);
                bFound = true;
                break;
            }
        }
        if (!bFound && !isTombstone(mapServer))
            lstServerOnly << mapServer;
    }
    for (const QVariant &varLocal : lstLocal) {
        const QVariantMap mapLocal = varLocal.toMap();
        bool bFound = false;
        for (const QVariant &varServer : lstServer) {
            if (matches(mapLocal, varServer.toMap())) {
                bFound = true;
                break;
            }
        }
        if (!bFound && !isTombstone(mapLocal))
            lstLocalOnly << mapLocal;
    }

    for (const QVariant &var : qAsConst(lstServerOnly)) {
        const QVariantMap mapServer = var.toMap();
        if (mapServer.value(QStringLiteral("user_id")).toInt() != m_nServerId)
            continue;
        // The note may be here under another month.
        registerRequest(m_dbMgt.getNoteItem(mapServer.value(QStringLiteral("uuid")).toString()),
                        {{QStringLiteral("type"), QStringLiteral("get_local_item_to_update")},
                         {QStringLiteral("data"), mapServer}});
    }
    for (const QVariant &var : qAsConst(lstLocalOnly)) {
        const QVariantMap mapLocal = var.toMap();
        if (m_nUserId <= 0 || mapLocal.value(QStringLiteral("user_id")).toInt() != m_nUserId)
            continue;
        lookUpAtServer(mapLocal);
    }
}

// Asks the service for a local note before anything of it is sent: the service may hold
// it under another month, or as deleted.
void CNoteMgt::lookUpAtServer(const QVariantMap &mapLocalItem)
{
    registerRequest(m_netMgt.getNoteItem(mapLocalItem.value(QStringLiteral("uuid")).toString()),
                    {{QStringLiteral("type"), QStringLiteral("get_server_item_to_update")},
                     {QStringLiteral("data"), mapLocalItem}});
}

void CNoteMgt::handleLoginServerError(const QString &strError, const QVariantMap &mapData)
{
    if (strError.toLower() == QLatin1String("wrong name or password.")) {
        // The answer to an attempt that a later login or registration has overtaken.
        if (mapData.value(QStringLiteral("name")).toString() != m_strUserName)
            return;
        emit showError(g_pLangMgt ? g_pLangMgt->getLangString(strError) : strError);
        // The password was changed elsewhere: end this login and forget the remembered
        // password. The notes and the user row stay; the next login with the new password
        // brings them back.
        if (m_nUserId > 0)
            logout();
        m_timerLoginServer.stop();
    } else {
        m_timerLoginServer.start();
    }
}

void CNoteMgt::startSyncTimers()
{
    m_timerLoginServer.stop();
    m_timerSync.start();
    m_timerDownloadNote.start();
    m_timerUploadNote.start();
}

// Sets the local user found after a server login, and starts what a local login starts.
void CNoteMgt::takeLocalUser(int nUserId)
{
    if (nUserId <= 0 || m_nUserId > 0)
        return;
    m_nUserId = nUserId;
    emit userIdChanged(m_nUserId);
    m_dbMgt.updateNoteUserId(m_nUserId);
    onTimeOutUploadNote();
}

bool CNoteMgt::handleAccountOrSyncResult(const QString &strType,
                                         const QVariantMap &mapData,
                                         const QVariantMap &mapResult,
                                         QVariantMap &mapEmit,
                                         QVariantMap &mapLog)
{
    const QVariant varPayload = mapResult.value(QStringLiteral("result"));
    const QVariantMap mapReply = varPayload.toMap();
    const QVariantList lstRows = varPayload.toList();

    if (strType == QLatin1String("login_local")) {
        const QString strName = mapData.value(QStringLiteral("name")).toString();
        const QString strPwd = mapData.value(QStringLiteral("pwd")).toString();
        mapLog.insert(QStringLiteral("log_obj"), strName);
        m_nSyncOffset = 0;
        m_strSyncStartTime = QString();
        m_strSyncEndTime = QString();
        // Whoever was logged in before is no longer: nothing may reach the service with
        // the previous account's token, and nothing of the new account may be filed
        // under the previous local user.
        m_nServerId = 0;
        m_strLoginToken.clear();
        m_netMgt.clearLoginInfo();
        if (lstRows.isEmpty() && m_nUserId > 0) {
            m_nUserId = 0;
            emit userIdChanged(0);
        }
        if (!lstRows.isEmpty()) {
            const QVariantMap mapRow = lstRows.first().toMap();
            m_nUserId = mapRow.value(QStringLiteral("id")).toInt();
            m_nServerId = mapRow.value(QStringLiteral("server_id")).toInt();
            m_strNickName = mapRow.value(QStringLiteral("nick_name")).toString();
            if (m_strNickName.isEmpty())
                m_strNickName = mapRow.value(QStringLiteral("nickname")).toString();
            mapEmit.insert(QStringLiteral("result"),
                           QVariantMap{{QStringLiteral("user_id"), m_nUserId},
                                       {QStringLiteral("name"), strName},
                                       {QStringLiteral("nick_name"), m_strNickName}});
            emit userIdChanged(m_nUserId);
            m_dbMgt.updateNoteUserId(m_nUserId);
        } else {
            mapEmit.insert(QStringLiteral("result"), QStringLiteral("fail"));
            mapEmit.insert(QStringLiteral("error"),
                           QStringLiteral("User name or password is wrong."));
        }
        // An account without a row here may still exist at the service.
        loginAtServer(strName, strPwd);
    } else if (strType == QLatin1String("login_server")
               || strType == QLatin1String("register_user")) {
        // Logins use the lower-case name; a registration sends it as typed.
        const QString strName = mapData.value(QStringLiteral("name")).toString().toLower();
        const QString strPwd = mapData.value(QStringLiteral("pwd")).toString();
        // A login that a logout or another login has overtaken logs nobody in.
        if (strType == QLatin1String("login_server") && strName != m_strUserName)
            return true;
        if (mapReply.value(QStringLiteral("user_id")).toInt() <= 0
            || mapReply.value(QStringLiteral("login_token")).toString().isEmpty()) {
            // An answer without an account and a token logs nobody in.
            const QString strError = tr("The note service did not confirm the login.");
            mapEmit.insert(QStringLiteral("error"), strError);
            mapLog.insert(QStringLiteral("error"), strError);
            mapLog.insert(QStringLiteral("result"), QStringLiteral("fail"));
            if (strType == QLatin1String("login_server"))
                handleLoginServerError(strError, mapData);
            return true;
        }
        if (strType == QLatin1String("register_user")) {
            m_nUserId = 0;
            emit userIdChanged(0);
            m_strUserName = strName;
            m_strPwd = strPwd;
            if (g_pSettings && g_pSettings->getAutoLogin()) {
                g_pSettings->setUserName(mapData.value(QStringLiteral("name")).toString());
                g_pSettings->setPwd(mapData.value(QStringLiteral("pwd_org")).toString());
                g_pSettings->save();
            }
        }
        m_nServerId = mapReply.value(QStringLiteral("user_id")).toInt();
        m_strLoginToken = mapReply.value(QStringLiteral("login_token")).toString();
        m_strClassify = mapReply.value(QStringLiteral("classify_string")).toString();
        const QString strServerUrl = CThreadPost::normalizedBaseUrl(
            g_pSettings ? g_pSettings->getServerUrl() : QString());

        // Server ids of another service or account mean nothing here: such notes are
        // uploaded again. Queued before the user row records the new origin.
        untracked(m_dbMgt.clearServerIdsOfMovedUser(strName, m_nServerId, strServerUrl));
        QVariantMap mapUser{{QStringLiteral("name"), strName},
                            {QStringLiteral("classify_string"), m_strClassify},
                            {QStringLiteral("pwd"), strPwd},
                            {QStringLiteral("server_id"), m_nServerId},
                            {QStringLiteral("server_url"), strServerUrl}};
        if (mapData.contains(QStringLiteral("nickname")))
            mapUser.insert(QStringLiteral("nickname"), mapData.value(QStringLiteral("nickname")));
        saveUser(mapUser);
        m_netMgt.setLoginInfo(m_nServerId, m_strLoginToken);
        mapEmit.insert(QStringLiteral("result"), QStringLiteral("ok"));
        startSyncTimers();
        // Without a local user yet, the download waits for the saved row: the list reload
        // that follows the user id starts it.
        if (m_nServerId > 0 && m_nUserId > 0) {
            m_nSyncOffset = 0;
            syncDownloadNoteList();
            // What was written while away goes up now, not a timer interval later.
            onTimeOutUploadNote();
        }
    } else if (strType == QLatin1String("save_user")) {
        if (mapData.value(QStringLiteral("name")).toString() != m_strUserName) {
            // Saved for a login that has ended since.
        } else if (m_nUserId <= 0) {
            const int nId = mapResult.value(QStringLiteral("id")).toInt();
            if (nId > 0) {
                takeLocalUser(nId);
            } else {
                // The row was there (found by name) and has been updated: look it up.
                registerRequest(m_dbMgt.getUser(mapData.value(QStringLiteral("name")).toString(),
                                                mapData.value(QStringLiteral("pwd")).toString()),
                                {{QStringLiteral("type"), QStringLiteral("find_saved_user")},
                                 {QStringLiteral("data"), mapData}});
            }
        } else {
            m_dbMgt.updateNoteUserId(m_nUserId);
        }
    } else if (strType == QLatin1String("find_saved_user")) {
        if (!lstRows.isEmpty() && m_nUserId <= 0
            && mapData.value(QStringLiteral("name")).toString() == m_strUserName) {
            const QVariantMap mapRow = lstRows.first().toMap();
            m_strNickName = mapRow.value(QStringLiteral("nick_name")).toString();
            if (m_strNickName.isEmpty())
                m_strNickName = mapRow.value(QStringLiteral("nickname")).toString();
            takeLocalUser(mapRow.value(QStringLiteral("id")).toInt());
        }
    } else if (strType == QLatin1String("forgot_pwd")) {
        emit showInfo(tr("The mail about modify password is sent to '%1'.")
                          .arg(maskedAddress(mapReply.value(QStringLiteral("email")).toString())));
    } else if (strType == QLatin1String("login_server_again")) {
        m_nServerId = mapReply.value(QStringLiteral("user_id")).toInt();
        m_strLoginToken = mapReply.value(QStringLiteral("login_token")).toString();
        m_netMgt.setLoginInfo(m_nServerId, m_strLoginToken);
        m_timerLoginServer.stop();
    } else if (strType == QLatin1String("download_note_list_by_month")) {
        const QVariantList lstNotes = mapReply.value(QStringLiteral("notes")).toList();
        const QDate dt = mapData.value(QStringLiteral("date")).toDate();
        // A month that the service lists as empty is compared like any other: its local
        // notes are looked up one by one. The service keeps its deletions, so an empty
        // month only means that the notes moved to other days or never arrived there;
        // marking them deleted would lose them.
        m_lstMonthNotes.append(
            QVariantMap{{QStringLiteral("date"), dt}, {QStringLiteral("result"), lstNotes}});
        getNoteListByMonth(dt);
    } else if (strType == QLatin1String("get_note_list_by_month")) {
        const QDate dt = mapData.value(QStringLiteral("date")).toDate();
        for (int i = 0; i < m_lstMonthNotes.size(); ++i) {
            const QVariantMap mapEntry = m_lstMonthNotes.at(i).toMap();
            if (mapEntry.value(QStringLiteral("date")).toDate() != dt)
                continue;
            m_lstMonthNotes.removeAt(i);
            const QVariantList lstServer = mapEntry.value(QStringLiteral("result")).toList();
            compareMonth(lstRows, lstServer);
            // The calendar's counts follow a month that the service holds empty.
            if (lstServer.isEmpty())
                getDayNoteCountByMonth(dt);
            break;
        }
        onTimeOutDownloadNote();
    } else if (strType == QLatin1String("get_local_item_to_update")) {
        if (!lstRows.isEmpty())
            compareItem(lstRows.first().toMap(), mapData);
        else if (mapData.value(QStringLiteral("user_id")).toInt() == m_nServerId)
            insertServerItem(mapData);
        else
            return false;
    } else if (strType == QLatin1String("get_server_item_to_update")) {
        const QVariantMap mapServer = singleNoteOfReply(varPayload);
        if (!mapServer.isEmpty()) {
            compareItem(mapData, mapServer);
        } else if (m_nUserId > 0 && m_nServerId > 0
                   && mapData.value(QStringLiteral("user_id")).toInt() == m_nUserId
                   && !isTombstone(mapData)) {
            // Unknown at the service: upload it, and keep the id that it gets there.
            uploadNoteItem(noteForServer(mapData));
        } else {
            return false;
        }
    } else if (strType == QLatin1String("note_list_to_download")) {
        for (const QVariant &var : lstRows)
            downloadNoteItem(var.toMap().value(QStringLiteral("uuid")).toString());
    } else if (strType == QLatin1String("note_list_to_upload")) {
        if (m_nUserId > 0 && m_nServerId > 0) {
            for (const QVariant &var : lstRows) {
                const QVariantMap mapRow = var.toMap();
                if (mapRow.value(QStringLiteral("user_id")).toInt() == m_nUserId)
                    lookUpAtServer(mapRow);
            }
        }
    } else if (strType == QLatin1String("download_note_item")) {
        if (mapReply.value(QStringLiteral("id")).toInt() > 0
            && mapReply.value(QStringLiteral("user_id")).toInt() == m_nServerId) {
            if (isTombstone(mapReply)) {
                markDeletedFromServer({{QStringLiteral("uuid"),
                                        mapReply.value(QStringLiteral("uuid"))},
                                       {QStringLiteral("set_at"),
                                        mapReply.value(QStringLiteral("set_at"))}},
                                      mapReply);
            } else {
                QVariantMap map;
                for (const char *key :
                     {"set_at", "updated_at", "uuid", "content", "content_size", "title"}) {
                    const QString strKey = QLatin1String(key);
                    map.insert(strKey, mapReply.value(strKey));
                }
                prepareNoteItem(map);
                map.insert(QStringLiteral("updated_at"),
                           mapReply.value(QStringLiteral("updated_at")));
                registerRequest(m_dbMgt.updateNoteItem(map, QStringLiteral("uuid")),
                                {{QStringLiteral("type"), QStringLiteral("update_note_item")},
                                 {QStringLiteral("date"), nowString()},
                                 {QStringLiteral("data"), map},
                                 {QStringLiteral("user_id"), m_nUserId}});
            }
        }
    } else if (strType == QLatin1String("upload_note_item")) {
        const int nNoteId = mapReply.value(QStringLiteral("note_id")).toInt();
        if (nNoteId > 0)
            untracked(m_dbMgt.updateNoteItem({{QStringLiteral("server_id"), nNoteId},
                                              {QStringLiteral("uuid"),
                                               mapData.value(QStringLiteral("uuid"))}},
                                             QStringLiteral("uuid")));
    } else if (strType == QLatin1String("sync_download_note_list")) {
        handleSyncDownloadNoteList(mapData, mapReply.value(QStringLiteral("notes")).toList());
    } else if (strType == QLatin1String("get_note_item_to_compare")) {
        if (!lstRows.isEmpty())
            compareItem(lstRows.first().toMap(), mapData);
        else
            insertServerItem(mapData);
    } else if (strType == QLatin1String("upload_note_uuid")) {
        insertServerItem(mapData);
    }
    return true;
}

void CNoteMgt::handleSyncDownloadNoteList(const QVariantMap &mapData, const QVariantList &lstNotes)
{
    for (const QVariant &var : lstNotes) {
        QVariantMap mapNote = var.toMap();
        const QString strNoteUuid = mapNote.value(QStringLiteral("uuid")).toString();
        if (strNoteUuid.isEmpty()) {
            const QString strNewUuid = createUuidString();
            mapNote.insert(QStringLiteral("uuid"), strNewUuid);
            registerRequest(m_netMgt.updateNoteItem(
                                QVariantMap{{QStringLiteral("note_id"),
                                             mapNote.value(QStringLiteral("id"))},
                                            {QStringLiteral("uuid"), strNewUuid}}),
                            {{QStringLiteral("type"), QStringLiteral("upload_note_uuid")},
                             {QStringLiteral("date"), nowString()},
                             {QStringLiteral("data"), mapNote},
                             {QStringLiteral("user_id"), m_nUserId}});
        } else {
            registerRequest(m_dbMgt.getNoteItem(strNoteUuid),
                            {{QStringLiteral("type"), QStringLiteral("get_note_item_to_compare")},
                             {QStringLiteral("date"), nowString()},
                             {QStringLiteral("data"), mapNote},
                             {QStringLiteral("user_id"), m_nUserId}});
        }
    }

    const QString strSearch = mapData.value(QStringLiteral("search_string")).toString();
    if (strSearch.isEmpty()) {
        if (mapData.value(QStringLiteral("start_time")).toString() == m_strSyncStartTime
            && mapData.value(QStringLiteral("end_time")).toString() == m_strSyncEndTime)
            m_nSyncOffset += kPageSize;
        else
            m_nSyncOffset = 0;
    } else {
        m_nSyncOffset += kPageSize;
    }

    if (lstNotes.size() < kPageSize)
        syncFinish();
    else if (strSearch.isEmpty() && mapData.value(QStringLiteral("start_time")).toString().isEmpty()
             && mapData.value(QStringLiteral("end_time")).toString().isEmpty())
        syncFinish();
    else
        syncDownloadNoteList();
}
