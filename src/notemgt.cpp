#include "notemgt.h"

#include "kelpolog.h"
#include "langmgt.h"
#include "settings.h"
#include "sqlbuilder.h"

#include <QDateTime>
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
const QLatin1String kStoreOpenFailure("Fail to open db");

QString nowString()
{
    return QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
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

bool isNoteWrite(const QString &strType)
{
    return strType == QLatin1String("update_note_item")
           || strType == QLatin1String("insert_note_item")
           || strType == QLatin1String("replace_note_item")
           || strType == QLatin1String("delete_note_item");
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
    if (g_pSettings && g_pSettings->getAutoLogin())
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
    qCDebug(lcNote) << "CNoteMgt::upateNoteItem " << mapData;
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
            m_netMgt.replaceNoteItem(mapData);
    } else if (!mapData.value(QStringLiteral("uuid")).toString().isEmpty()) {
        mapContext.insert(QStringLiteral("type"), QStringLiteral("replace_note_item"));
        registerRequest(m_dbMgt.replaceNoteItem(mapData, QStringLiteral("uuid")), mapContext);
        m_netMgt.replaceNoteItem(mapData);
    } else {
        mapData.insert(QStringLiteral("uuid"), createUuidString());
        if (!mapData.contains(QStringLiteral("created_at")))
            mapData.insert(QStringLiteral("created_at"), strNow);
        insertNoteItem(mapData);
        m_netMgt.insertNoteItem(mapData);
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
    m_netMgt.updateNoteItem(strNoteUuid, strNow);
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
    auto recordServerId = [&]() {
        m_dbMgt.updateNoteItem({{QStringLiteral("uuid"), strLocalUuid},
                                {QStringLiteral("server_id"), nServerNoteId}},
                               QStringLiteral("uuid"));
    };

    if (strServerAt < strLocalAt) {
        const bool bNoServerId = mapLocalItem.contains(QStringLiteral("server_id"))
                                 && mapLocalItem.value(QStringLiteral("server_id")).toInt() < 1;
        mapLocalItem.remove(QStringLiteral("id"));
        m_netMgt.updateNoteItem(mapLocalItem);
        if (bNoServerId)
            recordServerId();
        return 1;
    }
    if (strLocalAt < strServerAt) {
        convertServerItem(mapServerItem, m_nUserId);
        if (mapLocalItem.value(QStringLiteral("md5")).toString()
            == mapServerItem.value(QStringLiteral("md5")).toString()) {
            if (!mapLocalItem.value(QStringLiteral("content")).toString().isEmpty())
                mapServerItem.remove(QStringLiteral("content"));
            mapServerItem.remove(QStringLiteral("content_size"));
            mapServerItem.remove(QStringLiteral("md5"));
        } else if (!mapServerItem.contains(QStringLiteral("content"))) {
            mapServerItem.insert(QStringLiteral("content"), QString());
        }
        prepareNoteItem(mapServerItem);
        m_dbMgt.updateNoteItem(mapServerItem, QStringLiteral("uuid"));
        return -1;
    }
    if (mapServerItem.value(QStringLiteral("uuid")).toString().isEmpty() && !strLocalUuid.isEmpty()
        && nServerNoteId > 0)
        m_netMgt.updateNoteItem(QVariantMap{{QStringLiteral("id"), nServerNoteId},
                                            {QStringLiteral("uuid"), strLocalUuid}});
    if (mapLocalItem.value(QStringLiteral("server_id")).toInt() <= 0)
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
    const QString strSetAt(QStringLiteral("set_at"));
    if (map.contains(strSetAt))
        map.insert(strSetAt, dayOf(map.value(strSetAt).toString()) + QStringLiteral(" 00:00:00"));
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
        QString strTitle = doc.toPlainText().left(kTitleLength);
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

void CNoteMgt::onTimeOutSync() {}

void CNoteMgt::onUserIdChanged(int nUserId)
{
    Q_UNUSED(nUserId)
    getNoteListByOffset(0, QString());
}

// ---------------------------------------------------------------------------------------
// Result dispatcher

bool CNoteMgt::reportStoreFailure(const QString &strError)
{
    if (!strError.startsWith(kStoreOpenFailure))
        return false;
    if (!m_bStoreFailureShown) {
        m_bStoreFailureShown = true;
        emit showError(tr("Notes cannot be saved: %1").arg(strError));
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

    QVariantMap mapEmit;
    QVariantMap mapLog{{QStringLiteral("log_type"), strType},
                       {QStringLiteral("log_at"), nowString()},
                       {QStringLiteral("error"), strError},
                       {QStringLiteral("result"),
                        strError.isEmpty() ? QStringLiteral("sucess") : QStringLiteral("fail")}};
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
        qCDebug(lcNote) << "*******" << lstRows.size();
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
    }
    // Accounts ("login_local", "login_server", "register_user", "login_server_again",
    // "forgot_pwd", "save_user") and synchronisation ("download_note_list_by_month",
    // "get_note_list_by_month", "get_local_item_to_update", "get_server_item_to_update",
    // "sync_download_note_list", "note_list_to_download", "note_list_to_upload",
    // "download_note_item", "upload_note_item", "upload_note_uuid",
    // "get_note_item_to_compare") are logged and released below.

    if (!mapEmit.isEmpty()) {
        mapEmit.insert(QStringLiteral("type"), strType);
        emit dataReceived(mapEmit);
    }
    writeLog();
    m_mapRequest.remove(strUuid);

    if (strType == QLatin1String("get_note_list_by_offset"))
        handleNoteListByOffset(mapData, lstRows);
}
