#include "notemgt.h"

#include "kelpolog.h"
#include "langmgt.h"
#include "noterecord.h"
#include "notetext.h"
#include "protocol.h"
#include "settings.h"
#include "sqlbuilder.h"
#include "storemessages.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QUrl>

namespace {

const int kDefaultTimerInterval = 60000;
const int kPageSize = 50;
// The context key of a save whose outcome noteSaved() or noteSaveFailed() reports.
const QLatin1String kSaveOf("save_of");
// Diaries from this many notes up hear of the migration of visible texts; a step of it
// takes this many notes.
const int kPlainProgressMinimum = 2000;
const int kPlainProgressStep = 100;

QString nowString()
{
    return currentTimeString();
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
    , m_sync(*this)
{
    construct(kDefaultTimerInterval);
}

CNoteMgt::CNoteMgt(const QString &strDataDir, int nTimerInterval, QObject *parent)
    : QObject(parent)
    , m_dbMgt(strDataDir)
    , m_sync(*this)
{
    construct(nTimerInterval);
}

CNoteMgt::~CNoteMgt() = default;

void CNoteMgt::construct(int nTimerInterval)
{
    buildHandlers();
    m_netMgt.setClock(&m_clock);
    m_dbMgt.setClock([this]() { return m_clock.now(); });
    connect(&m_dbMgt, &CDbMgt::dataReceived, this, &CNoteMgt::onDataReceived);
    connect(&m_dbMgt, &CDbMgt::notice, this, &CNoteMgt::onStoreNotice);
    connect(&m_pictureLoader, &CPictureLoader::finished, this, &CNoteMgt::pictureLoaded);
    connect(&m_dbMgt, &CDbMgt::plainTextProgress, this, &CNoteMgt::onPlainTextProgress);
    connect(this, &CNoteMgt::userIdChanged, &m_dbMgt, &CDbMgt::setUserId);
    connect(this, &CNoteMgt::userIdChanged, this, &CNoteMgt::onUserIdChanged);
    connect(&m_netMgt, &CNetMgt::dataReceived, this, &CNoteMgt::onDataReceived);
    connect(&m_login, &CLoginFlow::stateChanged, this, &CNoteMgt::updateSyncStatus);
    connect(this, &CNoteMgt::userIdChanged, this, &CNoteMgt::updateSyncStatus);
    connect(&m_sync, &CSyncEngine::syncProgress, &m_syncStatus, &CSyncStatus::setProgress);
    connect(&m_sync, &CSyncEngine::syncIdle, &m_syncStatus, &CSyncStatus::setIdle);
    connect(&m_sync, &CSyncEngine::sendingChanged, &m_syncStatus, &CSyncStatus::setSending);

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

// The table of result handlers, by the type tag of the request's context.
void CNoteMgt::buildHandlers()
{
    auto member = [this](bool (CNoteMgt::*pHandler)(CRequestResult &)) {
        return Handler([this, pHandler](CRequestResult &r) { return (this->*pHandler)(r); });
    };
    m_hashHandlers = {
        {QStringLiteral("day_note_count_by_month"), member(&CNoteMgt::onDayNoteCountByMonth)},
        {QStringLiteral("day_note_count"), member(&CNoteMgt::onDayNoteCount)},
        {QStringLiteral("update_note_item"), member(&CNoteMgt::onNoteSaved)},
        {QStringLiteral("insert_note_item"), member(&CNoteMgt::onNoteSaved)},
        {QStringLiteral("replace_note_item"), member(&CNoteMgt::onNoteSaved)},
        {QStringLiteral("note_list_by_day"), member(&CNoteMgt::onNoteListByDay)},
        {QStringLiteral("get_note_list_by_offset"), member(&CNoteMgt::onNoteListByOffset)},
        {QStringLiteral("delete_note_item"), member(&CNoteMgt::onNoteDeleted)},
        {QStringLiteral("refresh_note_item"), member(&CNoteMgt::onNoteRefreshed)},
        {QStringLiteral("note_owners"), member(&CNoteMgt::onNoteOwners)},
        {QStringLiteral("login_local"), member(&CNoteMgt::onLoginLocal)},
        {QStringLiteral("login_server"), member(&CNoteMgt::onLoginServer)},
        {QStringLiteral("register_user"), member(&CNoteMgt::onLoginServer)},
        {QStringLiteral("save_user"), member(&CNoteMgt::onSaveUser)},
        {QStringLiteral("find_saved_user"), member(&CNoteMgt::onFindSavedUser)},
        {QStringLiteral("forgot_pwd"), member(&CNoteMgt::onForgotPwd)},
        {QStringLiteral("login_server_again"), member(&CNoteMgt::onLoginServerAgain)},
    };
    for (const QString &strType : CSyncEngine::resultTypes())
        m_hashHandlers.insert(strType, [this](CRequestResult &r) { return m_sync.handle(r); });
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
    const int nAttempt = m_login.begin(CLoginFlow::State::Checking);
    const QString strUuid = m_dbMgt.getUser(strUserName, strPwd);
    registerRequest(strUuid,
                    {{QStringLiteral("type"), QStringLiteral("login_local")},
                     {QStringLiteral("attempt"), nAttempt},
                     {QStringLiteral("data"),
                      QVariantMap{{QStringLiteral("name"), strUserName},
                                  {QStringLiteral("pwd"), strPwd}}}});
}

void CNoteMgt::loginAtServer(QString strUserName, QString strPwd)
{
    // A server login on its own (not after a local one) is an attempt of its own.
    if (m_login.state() == CLoginFlow::State::LoggedOut || strUserName != m_strUserName) {
        m_strUserName = strUserName;
        m_strPwd = strPwd;
        m_login.begin(CLoginFlow::State::Connecting);
    }
    m_login.connecting();
    // The offset of this computer's clock belongs to the service it was learnt from; it
    // stays over reconnections, so that changes made offline are stamped as well.
    const QString strServiceUrl = g_pSettings ? g_pSettings->getServerUrl() : QString();
    if (strServiceUrl != m_strClockServiceUrl) {
        m_clock.resetOffset();
        m_strClockServiceUrl = strServiceUrl;
    }
    const QString strUuid = m_netMgt.login(strUserName, strPwd);
    registerRequest(strUuid,
                    {{QStringLiteral("type"), QStringLiteral("login_server")},
                     {QStringLiteral("attempt"), m_login.attempt()},
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
                     {QStringLiteral("attempt"), m_login.attempt()},
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
    m_login.end();
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
                     {QStringLiteral("attempt"), m_login.attempt()},
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
    m_sync.compareLocalMonth(dt);
}

void CNoteMgt::getNoteListByOffset(int nOffset, QString strSearchString)
{
    m_sync.setListSearch(strSearchString);
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
    m_sync.downloadMonth(dt);
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
    saveNoteItem(mapData);
}

QString CNoteMgt::saveNoteItem(QVariantMap mapData)
{
    {
        // The text itself (pictures included) stays out of the debug output.
        QVariantMap mapShown = mapData;
        mapShown.insert(QStringLiteral("content"),
                        QStringLiteral("<%1 characters>")
                            .arg(mapData.value(QStringLiteral("content")).toString().size()));
        qCDebug(lcNote) << "CNoteMgt::upateNoteItem " << mapShown;
    }
    const QString strNow = m_clock.now();
    // The version of the note that the editor opened, which this change was made from.
    const QVariantMap mapMadeFrom{{QStringLiteral("updated_at"),
                                   mapData.take(QStringLiteral("opened_at")).toString()},
                                  {QStringLiteral("md5"),
                                   mapData.take(QStringLiteral("opened_md5")).toString()}};
    if (!mapData.contains(QStringLiteral("user_id")))
        mapData.insert(QStringLiteral("user_id"), m_nUserId);
    const bool bStamped = !mapData.contains(QStringLiteral("updated_at"));
    if (bStamped)
        mapData.insert(QStringLiteral("updated_at"), strNow);
    // Pending until the service has this version; sent once it is stored here. An edit
    // keeps the version it was made from (a row read before may carry an older one).
    mapData.insert(QStringLiteral("sync_state"), 1);
    mapData.remove(QStringLiteral("base_updated_at"));
    mapData.remove(QStringLiteral("base_md5"));
    prepareNoteItem(mapData);
    // Kept here whatever its size; the service takes only so much.
    if (mapData.value(QStringLiteral("content_size")).toLongLong() > CPictureLoader::kMaxNoteBytes)
        emit showError(tr("This note is larger than the note service takes (%1 MB): it is kept "
                          "on this computer but cannot be synchronised.")
                           .arg(CPictureLoader::kMaxNoteBytes / (1024 * 1024)));

    QVariantMap mapContext{{QStringLiteral("data"), mapData},
                           {QStringLiteral("updated_at"), strNow},
                           {QStringLiteral("user_id"), m_nUserId}};

    QString strNoteUuid = mapData.value(QStringLiteral("uuid")).toString();
    // A note saved is a live note, even when it was deleted elsewhere while it was being
    // edited: the later change wins, and the edit brings the note back.
    if (!strNoteUuid.isEmpty() || mapData.contains(QStringLiteral("id")))
        mapData.insert(QStringLiteral("deleted"), 0);
    QString strRequest;
    if (mapData.contains(QStringLiteral("id"))) {
        mapContext.insert(QStringLiteral("type"), QStringLiteral("update_note_item"));
        mapContext.insert(kSaveOf, strNoteUuid);
        strRequest = m_dbMgt.updateNoteItem(mapData, QStringLiteral("id"));
        registerRequest(strRequest, mapContext);
    } else if (!strNoteUuid.isEmpty()) {
        mapContext.insert(QStringLiteral("type"), QStringLiteral("replace_note_item"));
        mapContext.insert(kSaveOf, strNoteUuid);
        strRequest = m_dbMgt.saveEditedNote(mapData, mapMadeFrom);
        registerRequest(strRequest, mapContext);
    } else {
        strNoteUuid = createUuidString();
        mapData.insert(QStringLiteral("uuid"), strNoteUuid);
        if (!mapData.contains(QStringLiteral("created_at")))
            mapData.insert(QStringLiteral("created_at"), strNow);
        // Stored with the time the views are told, not a second later.
        strRequest = queueInsert(mapData, bStamped ? strNow : QString());
    }
    if (m_mapRequest.contains(strRequest)) {
        QVariantMap mapSaved = m_mapRequest.value(strRequest).toMap();
        mapSaved.insert(kSaveOf, strNoteUuid);
        m_mapRequest.insert(strRequest, mapSaved);
    }
    return strNoteUuid;
}

void CNoteMgt::deleteNoteItem(QString strNoteUuid)
{
    const QString strNow = m_clock.now();
    const QString strUuid = m_dbMgt.deleteNoteItem(strNoteUuid, m_nUserId, strNow);
    registerRequest(strUuid,
                    {{QStringLiteral("type"), QStringLiteral("delete_note_item")},
                     {QStringLiteral("date"), strNow},
                     {QStringLiteral("data"), QVariantMap{{QStringLiteral("uuid"), strNoteUuid}}},
                     {QStringLiteral("user_id"), m_nUserId}});
}

void CNoteMgt::replaceNoteItem(QVariantMap map, QString strField)
{
    if (map.isEmpty())
        return;
    registerNoteWrite(m_dbMgt.replaceNoteItem(map, strField), map, strField);
}

void CNoteMgt::registerNoteWrite(const QString &strRequest,
                                 const QVariantMap &mapNote,
                                 const QString &strField)
{
    registerRequest(strRequest,
                    {{QStringLiteral("type"), QStringLiteral("replace_note_item")},
                     {QStringLiteral("date"), nowString()},
                     {QStringLiteral("data"),
                      QVariantMap{{QStringLiteral("data"), mapNote},
                                  {QStringLiteral("field"), strField}}},
                     {QStringLiteral("user_id"), m_nUserId}});
}

void CNoteMgt::insertNoteItem(QVariantMap mapData)
{
    queueInsert(mapData);
}

QString CNoteMgt::queueInsert(QVariantMap mapData, const QString &strNow)
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
    const QString strUuid = m_dbMgt.insertNoteItem(mapData, strNow);
    registerRequest(strUuid,
                    {{QStringLiteral("type"), QStringLiteral("insert_note_item")},
                     {QStringLiteral("date"), nowString()},
                     {QStringLiteral("data"), mapData},
                     {QStringLiteral("user_id"), m_nUserId}});
    return strUuid;
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

void CNoteMgt::getNoteOwners()
{
    registerRequest(m_dbMgt.getNoteOwners(),
                    {{QStringLiteral("type"), QStringLiteral("note_owners")},
                     {QStringLiteral("date"), nowString()}});
}

// ---------------------------------------------------------------------------------------
// Synchronisation

// ---------------------------------------------------------------------------------------
// Synchronisation (the work is the sync engine's)

void CNoteMgt::downloadNoteItem(QString strNoteUuid)
{
    m_sync.downloadNoteItem(strNoteUuid);
}

void CNoteMgt::uploadNoteItem(QVariantMap mapData)
{
    m_sync.uploadNoteItem(mapData);
}

int CNoteMgt::compareItem(QVariantMap mapLocalItem, QVariantMap mapServerItem)
{
    return m_sync.compareItem(mapLocalItem, mapServerItem);
}

void CNoteMgt::syncStart()
{
    m_sync.start();
}

void CNoteMgt::syncDownloadNoteList()
{
    m_sync.downloadNoteList();
}

void CNoteMgt::syncFinish()
{
    m_sync.finish();
}

// ---------------------------------------------------------------------------------------
// Pictures, attachments and note records

QString CNoteMgt::plainTextContent(QString strPlain)
{
    return ::plainTextContent(strPlain);
}

// The picture is read, checked and, when large, scaled at once; the editor uses
// loadPicture(), which does this off the window's thread.
QString CNoteMgt::readFile2Base64(QString strFileUrl)
{
    return CPictureLoader::load(strFileUrl).strTag;
}

QString CNoteMgt::loadPicture(QString strFileUrl, int nNoteLength)
{
    return m_pictureLoader.loadLater(strFileUrl, nNoteLength);
}

QString CNoteMgt::pictureFolder()
{
    return CPictureLoader::startFolder();
}

void CNoteMgt::getAttachment(int nId)
{
    Q_UNUSED(nId)
}

void CNoteMgt::saveAttachment() {}

void CNoteMgt::delAttachment() {}

void CNoteMgt::prepareNoteItem(QVariantMap &map)
{
    NoteRecord::prepare(map, m_clock.now());
}

void CNoteMgt::convertServerItem(QVariantMap &map, int nUserId)
{
    NoteRecord::convertServerItem(map, nUserId);
}

void CNoteMgt::fillDisplayFields(QVariantMap &map)
{
    NoteRecord::fillDisplayFields(map);
}

// A large older diary has its notes' visible texts derived in the background: the user
// learns why a search may be slow meanwhile, in tenths.
void CNoteMgt::onPlainTextProgress(int nDone, int nTotal)
{
    if (nTotal < kPlainProgressMinimum)
        return;
    if (nDone >= nTotal) {
        emit showInfo(tr("Search is ready: %1 notes prepared.").arg(nTotal));
        return;
    }
    const int nTenth = int(qint64(nDone) * 10 / nTotal);
    const int nBefore = int(qint64(qMax(0, nDone - kPlainProgressStep)) * 10 / nTotal);
    if (nDone <= kPlainProgressStep || nTenth != nBefore)
        emit showInfo(tr("Preparing search: %1 of %2 notes…").arg(nDone).arg(nTotal));
}

void CNoteMgt::fillDisplayFieldsOfList(QVariantList &list)
{
    NoteRecord::fillDisplayFieldsOfList(list);
}

// ---------------------------------------------------------------------------------------
// Timers

void CNoteMgt::onTimeOutDownloadNote()
{
    m_sync.downloadMissingTexts();
}

void CNoteMgt::onTimeOutUploadNote()
{
    m_sync.uploadPending();
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

// Fetches what changed at the service since the last run, so that a note written on
// another computer shows up here within a minute; nothing travels when nothing changed.
void CNoteMgt::onTimeOutSync()
{
    if (m_nUserId > 0 && m_nServerId > 0)
        m_sync.fetchChanges();
}

void CNoteMgt::onUserIdChanged(int nUserId)
{
    Q_UNUSED(nUserId)
    getNoteListByOffset(0, QString());
}

// ---------------------------------------------------------------------------------------
// Result dispatcher

bool CNoteMgt::reportStoreFailure(const QVariantMap &mapResult)
{
    if (!StoreMessages::isOpenFailure(mapResult))
        return false;
    if (!m_bStoreFailureShown) {
        m_bStoreFailureShown = true;
        emit showError(tr("Notes cannot be read or saved: %1")
                           .arg(StoreMessages::failureReason(mapResult, m_dbMgt.dbFile())));
    }
    return true;
}

void CNoteMgt::reportFailedWrite(const QString &strType,
                                 const QVariantMap &mapContext,
                                 const QVariantMap &mapResult,
                                 const QString &strError)
{
    QVariantMap mapReason = mapResult;
    if (!mapReason.contains(QStringLiteral("error_text"))
        && !mapReason.contains(QStringLiteral("error_kind")))
        mapReason.insert(QStringLiteral("error_text"), strError);
    const QString strReason = StoreMessages::failureReason(mapReason, m_dbMgt.dbFile());
    const QString strMessage = strType == QLatin1String("delete_note_item")
                                   ? tr("The note could not be removed: %1").arg(strReason)
                                   : tr("The note could not be saved: %1").arg(strReason);
    emit showError(strMessage);
    const QString strSaveOf = mapContext.value(kSaveOf).toString();
    if (!strSaveOf.isEmpty())
        emit noteSaveFailed(strSaveOf, strMessage);
}

void CNoteMgt::onStoreNotice(QVariant notice)
{
    bool bError = true;
    const QString strMessage = StoreMessages::noticeMessage(notice.toMap(), bError);
    if (strMessage.isEmpty())
        return;
    if (bError)
        emit showError(strMessage);
    else
        emit showInfo(strMessage);
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
            // The editor that waits for its save hears of it whoever is logged in now.
            const QString strSaveOf = mapContext.value(kSaveOf).toString();
            if (!strSaveOf.isEmpty()) {
                if (mapResult.value(QStringLiteral("error")).toString().trimmed().isEmpty())
                    emit noteSaved(strSaveOf, QVariantMap());
                else
                    reportFailedWrite(mapContext.value(QStringLiteral("type")).toString(),
                                      mapContext,
                                      mapResult,
                                      mapResult.value(QStringLiteral("error")).toString());
            }
            return;
        }
    }

    CRequestResult r;
    r.strRequest = strUuid;
    r.mapContext = mapContext;
    r.strType = mapContext.value(QStringLiteral("type")).toString();
    r.mapData = mapContext.value(QStringLiteral("data")).toMap();
    r.mapResult = mapResult;
    r.varPayload = mapResult.value(QStringLiteral("result"));
    r.mapReply = r.varPayload.toMap();
    r.lstRows = r.varPayload.toList();
    // The login attempt a login answer belongs to travels beside the data.
    if (mapContext.contains(QStringLiteral("attempt")))
        r.mapData.insert(QStringLiteral("attempt"), mapContext.value(QStringLiteral("attempt")));
    const QString &strType = r.strType;
    QString strError = mapResult.value(QStringLiteral("error")).toString().trimmed();
    if (strError.isEmpty())
        strError = r.mapReply.value(QStringLiteral("error")).toString();

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
        mapLog.insert(QStringLiteral("log_obj"), r.mapData.value(QStringLiteral("name")));
    auto writeLog = [&]() {
        mapLog.insert(QStringLiteral("user_id"), m_nUserId);
        m_dbMgt.saveLog(mapLog);
    };

    // Answers of the note service (the store's are typed "data") tell whether it can be
    // reached.
    const bool bFromService = mapResult.value(QStringLiteral("type")).toString()
                              != QLatin1String("data");
    const bool bNetworkError = mapResult.value(QStringLiteral("network_error")).toBool();
    if (bFromService) {
        if (strError.isEmpty())
            m_syncStatus.serviceAnswered();
        else
            m_syncStatus.serviceFailed(strError, bNetworkError);
    }

    if (!strError.isEmpty()) {
        qCWarning(lcNote) << "onDataReceived error: " << strType << strError;
        m_mapRequest.remove(strUuid);
        r.pEmit = &mapEmit;
        r.pLog = &mapLog;
        m_sync.handleError(r, strError);
        if (strError.compare(Protocol::Error::kTokenWrong, Qt::CaseInsensitive) == 0) {
            renewLoginToken();
            return;
        }
        QVariantMap mapFailed{{QStringLiteral("type"), strType},
                              {QStringLiteral("error"), strError}};
        if (bNetworkError)
            mapFailed.insert(QStringLiteral("network_error"), true);
        emit dataReceived(mapFailed);
        writeLog();
        // Every failed write is said, every time; other requests of a store that cannot
        // be opened are said once.
        if (isNoteWrite(strType)) {
            reportFailedWrite(strType, mapContext, mapResult, strError);
        } else if (!reportStoreFailure(mapResult)) {
            if (strType == QLatin1String("note_list_by_day"))
                emit showError(StoreMessages::failureReason(mapResult, m_dbMgt.dbFile()));
            else if (strType == QLatin1String("login_server"))
                handleLoginServerError(strError, bNetworkError, r.mapData);
        }
        return;
    }

    r.pEmit = &mapEmit;
    r.pLog = &mapLog;
    const auto it = m_hashHandlers.constFind(strType);
    if (it != m_hashHandlers.constEnd() && !(*it)(r)) {
        // A lookup that found nothing to do for this user.
        m_mapRequest.remove(strUuid);
        return;
    }
    const QString strSaveOf = mapContext.value(kSaveOf).toString();
    if (!strSaveOf.isEmpty()) {
        QVariantMap mapShown = noteOfContextData(r.mapData);
        fillDisplayFields(mapShown);
        emit noteSaved(strSaveOf, mapShown);
    }

    if (!mapEmit.isEmpty()) {
        mapEmit.insert(QStringLiteral("type"), strType);
        emit dataReceived(mapEmit);
    }
    writeLog();
    m_mapRequest.remove(strUuid);

    // After the page has been shown: the service's notes of the same window follow.
    if (strType == QLatin1String("get_note_list_by_offset"))
        m_sync.followListPage(r.mapData, r.lstRows);
}

// ---------------------------------------------------------------------------------------
// Handlers of the local store's results

bool CNoteMgt::onDayNoteCountByMonth(CRequestResult &r)
{
    r.pEmit->insert(QStringLiteral("result"),
                    QVariantMap{{QStringLiteral("date"), r.mapData.value(QStringLiteral("date"))},
                                {QStringLiteral("result"), r.varPayload}});
    return true;
}

bool CNoteMgt::onDayNoteCount(CRequestResult &r)
{
    if (!r.lstRows.isEmpty()) {
        const QVariantMap mapRow = r.lstRows.first().toMap();
        r.pEmit->insert(QStringLiteral("result"),
                        QVariantMap{{QStringLiteral("set_at"),
                                     mapRow.value(QStringLiteral("set_at")).toString()},
                                    {QStringLiteral("note_count"),
                                     mapRow.value(QStringLiteral("note_count")).toString()}});
    } else {
        r.pEmit->insert(QStringLiteral("result"),
                        QVariantMap{{QStringLiteral("set_at"),
                                     r.mapData.value(QStringLiteral("date"))},
                                    {QStringLiteral("note_count"), 0}});
    }
    return true;
}

bool CNoteMgt::onNoteSaved(CRequestResult &r)
{
    QVariantMap mapData = noteOfContextData(r.mapData);
    m_sync.noteKept(r.strRequest);
    if (r.mapResult.value(QStringLiteral("kept")).toBool()) {
        qCInfo(lcNote) << "note" << mapData.value(QStringLiteral("uuid")).toString()
                       << "is here already: left as it is";
        return true;
    }
    refreshNoteCount(mapData.value(QStringLiteral("set_at")).toString());
    if (r.strType == QLatin1String("insert_note_item"))
        mapData.insert(QStringLiteral("id"), r.mapResult.value(QStringLiteral("id")));
    // A change made here goes to the service as soon as it is stored.
    const bool bLocalChange = mapData.value(QStringLiteral("sync_state")).toInt() == 1;
    mapData.remove(QStringLiteral("sync_state"));
    fillDisplayFields(mapData);
    emit appendNoteItemToList(mapData);
    if (bLocalChange)
        m_sync.uploadPending();
    return true;
}

bool CNoteMgt::onNoteListByDay(CRequestResult &r)
{
    r.pEmit->insert(QStringLiteral("date"), r.mapData.value(QStringLiteral("date")));
    qCDebug(lcNote) << "*******" << r.lstRows.size() << "notes";
    QVariantList lst = r.lstRows;
    fillDisplayFieldsOfList(lst);
    r.pEmit->insert(QStringLiteral("result"), lst);
    return true;
}

bool CNoteMgt::onNoteListByOffset(CRequestResult &r)
{
    r.pEmit->insert(QStringLiteral("offset"), r.mapData.value(QStringLiteral("offset")));
    r.pEmit->insert(QStringLiteral("search_string"),
                    r.mapData.value(QStringLiteral("search_string")));
    QVariantList lst = r.lstRows;
    fillDisplayFieldsOfList(lst);
    r.pEmit->insert(QStringLiteral("result"), lst);
    return true;
}

bool CNoteMgt::onNoteDeleted(CRequestResult &r)
{
    const QString strNoteUuid = r.mapData.value(QStringLiteral("uuid")).toString();
    r.pEmit->insert(QStringLiteral("result"), QStringLiteral("success"));
    refreshNoteItem(strNoteUuid);
    emit removeNoteItemToList(strNoteUuid);
    m_sync.uploadPending();
    return true;
}

bool CNoteMgt::onNoteRefreshed(CRequestResult &r)
{
    if (!r.lstRows.isEmpty())
        refreshNoteCount(r.lstRows.first().toMap().value(QStringLiteral("set_at")).toString());
    return true;
}

bool CNoteMgt::onNoteOwners(CRequestResult &r)
{
    r.pEmit->insert(QStringLiteral("result"), r.lstRows);
    return true;
}

// ---------------------------------------------------------------------------------------
// Handlers of the accounts' results

bool CNoteMgt::onLoginLocal(CRequestResult &r)
{
    const QString strName = r.mapData.value(QStringLiteral("name")).toString();
    const QString strPwd = r.mapData.value(QStringLiteral("pwd")).toString();
    if (!m_login.isCurrent(r.mapData.value(QStringLiteral("attempt")).toInt()))
        return true; // a later login or a logout has overtaken this one
    m_sync.reset();
    // Whoever was logged in before is no longer: nothing may reach the service with
    // the previous account's token, and nothing of the new account may be filed
    // under the previous local user.
    m_nServerId = 0;
    m_strLoginToken.clear();
    m_netMgt.clearLoginInfo();
    if (r.lstRows.isEmpty() && m_nUserId > 0) {
        m_nUserId = 0;
        emit userIdChanged(0);
    }
    if (!r.lstRows.isEmpty()) {
        const QVariantMap mapRow = r.lstRows.first().toMap();
        m_nUserId = mapRow.value(QStringLiteral("id")).toInt();
        m_nServerId = mapRow.value(QStringLiteral("server_id")).toInt();
        m_strNickName = mapRow.value(QStringLiteral("nick_name")).toString();
        if (m_strNickName.isEmpty())
            m_strNickName = mapRow.value(QStringLiteral("nickname")).toString();
        r.pEmit->insert(QStringLiteral("result"),
                        QVariantMap{{QStringLiteral("user_id"), m_nUserId},
                                    {QStringLiteral("name"), strName},
                                    {QStringLiteral("nick_name"), m_strNickName}});
        emit userIdChanged(m_nUserId);
        m_dbMgt.updateNoteUserId(m_nUserId);
    } else {
        r.pEmit->insert(QStringLiteral("result"), QStringLiteral("fail"));
        r.pEmit->insert(QStringLiteral("error"), QStringLiteral("User name or password is wrong."));
    }
    // An account without a row here may still exist at the service.
    loginAtServer(strName, strPwd);
    return true;
}

// A server login or a registration that the service accepted.
bool CNoteMgt::onLoginServer(CRequestResult &r)
{
    const QVariantMap &mapData = r.mapData;
    const QVariantMap &mapReply = r.mapReply;
    // Logins use the lower-case name; a registration sends it as typed.
    const QString strName = mapData.value(QStringLiteral("name")).toString().toLower();
    const QString strPwd = mapData.value(QStringLiteral("pwd")).toString();
    const bool bRegistration = r.strType == QLatin1String("register_user");
    // A login that a logout or another login has overtaken logs nobody in.
    if (!bRegistration && !m_login.isCurrent(mapData.value(QStringLiteral("attempt")).toInt()))
        return true;
    if (mapReply.value(QStringLiteral("user_id")).toInt() <= 0
        || mapReply.value(QStringLiteral("login_token")).toString().isEmpty()) {
        // An answer without an account and a token logs nobody in.
        const QString strError = tr("The note service did not confirm the login.");
        r.pEmit->insert(QStringLiteral("error"), strError);
        r.pLog->insert(QStringLiteral("error"), strError);
        r.pLog->insert(QStringLiteral("result"), QStringLiteral("fail"));
        if (!bRegistration)
            handleLoginServerError(strError, false, mapData);
        return true;
    }
    if (bRegistration) {
        // The new account is logged in: a login of its own.
        m_login.begin(CLoginFlow::State::Connecting);
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
    m_login.accepted();
    saveUser(mapUser);
    m_netMgt.setLoginInfo(m_nServerId, m_strLoginToken);
    r.pEmit->insert(QStringLiteral("result"), QStringLiteral("ok"));
    startSyncTimers();
    // Without a local user yet, the download waits for the saved row: the list reload
    // that follows the user id starts it.
    if (m_nServerId > 0 && m_nUserId > 0) {
        // Every note of the account that is not here yet, or changed since the last run.
        m_sync.fetchChanges();
        // What was written while away goes up now, not a timer interval later.
        onTimeOutUploadNote();
    }
    return true;
}

bool CNoteMgt::onSaveUser(CRequestResult &r)
{
    const QVariantMap &mapData = r.mapData;
    if (mapData.value(QStringLiteral("name")).toString() != m_strUserName
        || mapData.value(QStringLiteral("attempt"), m_login.attempt()).toInt()
               != m_login.attempt()) {
        // Saved for a login that has ended since.
    } else if (m_nUserId <= 0) {
        const int nId = r.mapResult.value(QStringLiteral("id")).toInt();
        if (nId > 0) {
            takeLocalUser(nId);
        } else {
            // The row was there (found by name) and has been updated: look it up.
            QVariantMap mapLookUp = mapData;
            mapLookUp.remove(QStringLiteral("attempt"));
            registerRequest(m_dbMgt.getUser(mapData.value(QStringLiteral("name")).toString(),
                                            mapData.value(QStringLiteral("pwd")).toString()),
                            {{QStringLiteral("type"), QStringLiteral("find_saved_user")},
                             {QStringLiteral("attempt"), m_login.attempt()},
                             {QStringLiteral("data"), mapLookUp}});
        }
    } else {
        m_dbMgt.updateNoteUserId(m_nUserId);
    }
    return true;
}

bool CNoteMgt::onFindSavedUser(CRequestResult &r)
{
    if (!r.lstRows.isEmpty() && m_nUserId <= 0
        && r.mapData.value(QStringLiteral("attempt")).toInt() == m_login.attempt()
        && r.mapData.value(QStringLiteral("name")).toString() == m_strUserName) {
        const QVariantMap mapRow = r.lstRows.first().toMap();
        m_strNickName = mapRow.value(QStringLiteral("nick_name")).toString();
        if (m_strNickName.isEmpty())
            m_strNickName = mapRow.value(QStringLiteral("nickname")).toString();
        takeLocalUser(mapRow.value(QStringLiteral("id")).toInt());
    }
    return true;
}

bool CNoteMgt::onForgotPwd(CRequestResult &r)
{
    // The service answers alike whether or not an account matched, and names no address.
    const QString strEmail = r.mapReply.value(QStringLiteral("email")).toString();
    if (strEmail.isEmpty())
        emit showInfo(tr("If an account has this name or e-mail address, a mail with a reset code"
                         " is on its way to its address."));
    else
        emit showInfo(
            tr("The mail about modify password is sent to '%1'.").arg(maskedAddress(strEmail)));
    return true;
}

bool CNoteMgt::onLoginServerAgain(CRequestResult &r)
{
    if (!m_login.isCurrent(r.mapData.value(QStringLiteral("attempt")).toInt()))
        return true;
    m_nServerId = r.mapReply.value(QStringLiteral("user_id")).toInt();
    m_strLoginToken = r.mapReply.value(QStringLiteral("login_token")).toString();
    m_netMgt.setLoginInfo(m_nServerId, m_strLoginToken);
    m_timerLoginServer.stop();
    m_login.accepted();
    // What the expired token kept back goes now, and the changes it cut short come.
    m_sync.uploadPending();
    m_sync.fetchChanges();
    return true;
}

// ---------------------------------------------------------------------------------------
// What the sync engine reaches through its host

int CNoteMgt::pendingRequestCount() const
{
    return m_mapRequest.size() + m_setUntracked.size();
}

QStringList CNoteMgt::pendingRequestTypes() const
{
    QStringList lst;
    for (auto it = m_mapRequest.cbegin(); it != m_mapRequest.cend(); ++it)
        lst << it.value().toMap().value(QStringLiteral("type")).toString();
    for (int i = 0; i < m_setUntracked.size(); ++i)
        lst << QStringLiteral("untracked");
    return lst;
}

QString CNoteMgt::untracked(const QString &strUuid)
{
    if (!strUuid.isEmpty())
        m_setUntracked.insert(strUuid);
    return strUuid;
}

CDbMgt &CNoteMgt::store()
{
    return m_dbMgt;
}

CNetMgt &CNoteMgt::service()
{
    return m_netMgt;
}

int CNoteMgt::localUserId() const
{
    return m_nUserId;
}

int CNoteMgt::serverUserId() const
{
    return m_nServerId;
}

QString CNoteMgt::serviceUrl() const
{
    return CThreadPost::normalizedBaseUrl(g_pSettings ? g_pSettings->getServerUrl() : QString());
}

void CNoteMgt::track(const QString &strRequest, const QVariantMap &mapContext)
{
    registerRequest(strRequest, mapContext);
}

void CNoteMgt::noteShown(const QVariantMap &mapNote)
{
    emit appendNoteItemToList(mapNote);
}

void CNoteMgt::noteRemoved(const QString &strUuid)
{
    emit removeNoteItemToList(strUuid);
}

void CNoteMgt::dayChanged(const QString &strSetAt)
{
    refreshNoteCount(strSetAt);
}

void CNoteMgt::monthChanged(const QDate &dt)
{
    getDayNoteCountByMonth(dt);
}

void CNoteMgt::storeNote(const QVariantMap &mapNote, const QString &strField)
{
    replaceNoteItem(mapNote, strField);
}

QString CNoteMgt::keepNote(const QVariantMap &mapNote)
{
    const QString strRequest = m_dbMgt.keepNoteItem(mapNote);
    registerNoteWrite(strRequest, mapNote, QStringLiteral("uuid"));
    return strRequest;
}

void CNoteMgt::tell(const QString &strMessage)
{
    emit showError(strMessage);
}

const CSyncClock &CNoteMgt::syncClock() const
{
    return m_clock;
}

void CNoteMgt::handleLoginServerError(const QString &strError,
                                      bool bNetwork,
                                      const QVariantMap &mapData)
{
    // The answer to an attempt that a later login, registration or logout has overtaken.
    if (!m_login.isCurrent(mapData.value(QStringLiteral("attempt")).toInt()))
        return;
    if (strError.compare(Protocol::Error::kWrongLogin, Qt::CaseInsensitive) == 0) {
        emit showError(g_pLangMgt ? g_pLangMgt->getLangString(strError) : strError);
        // The password was changed elsewhere: end this login and forget the remembered
        // password. The notes and the user row stay; the next login with the new password
        // brings them back.
        if (m_nUserId > 0) {
            // The sync status tells whose password no longer holds.
            const QString strName = m_strUserName;
            logout();
            m_strUserName = strName;
            m_login.end(strError);
        } else {
            // A mistyped password: the message says so, the status stays "not logged in".
            m_login.end();
        }
        m_timerLoginServer.stop();
    } else {
        m_login.unreachable(strError, bNetwork);
        m_timerLoginServer.start();
    }
}

void CNoteMgt::updateSyncStatus()
{
    const bool bLoggedOut = m_login.state() == CLoginFlow::State::LoggedOut;
    m_syncStatus.setLogin(int(m_login.state()),
                          bLoggedOut && m_login.lastError().isEmpty() ? QString() : m_strUserName,
                          m_nUserId > 0,
                          m_login.lastError(),
                          m_login.lastErrorIsNetwork());
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
    m_sync.fetchChanges();
}
