#include "syncengine.h"

#include "dbmgt.h"
#include "kelpolog.h"
#include "netmgt.h"
#include "noterecord.h"
#include "protocol.h"
#include "sqlbuilder.h"
#include "syncclock.h"

#include <QUuid>

#include <functional>

using namespace NoteRecord;

namespace {

const int kPageSize = 50;

} // namespace

CSyncEngine::CSyncEngine(CSyncHost &host, QObject *parent)
    : QObject(parent)
    , m_host(host)
    , m_feed(host, *this)
{
    connect(&m_feed, &CChangeFeed::progress, this, &CSyncEngine::syncProgress);
    connect(&m_feed, &CChangeFeed::finished, this, [this]() {
        m_bAwaitIdle = true;
        // The texts that did not come with the pages, the latest first.
        downloadMissingTexts();
        checkIdle();
    });
}

QStringList CSyncEngine::resultTypes()
{
    return QStringList{QStringLiteral("download_note_list_by_month"),
            QStringLiteral("get_note_list_by_month"),
            QStringLiteral("get_local_item_to_update"),
            QStringLiteral("get_server_item_to_update"),
            QStringLiteral("note_list_to_download"),
            QStringLiteral("note_list_to_upload"),
            QStringLiteral("download_note_item"),
            QStringLiteral("upload_note_item"),
            QStringLiteral("sync_download_note_list"),
            QStringLiteral("get_note_item_to_compare"),
            QStringLiteral("upload_note_uuid"),
            QStringLiteral("note_list_pending"),
            QStringLiteral("upload_change"),
            QStringLiteral("service_item_to_compare"),
            QStringLiteral("note_to_look_up")}
           + CChangeFeed::resultTypes();
}

bool CSyncEngine::isSyncing() const
{
    return m_host.localUserId() > 0 && m_host.serverUserId() > 0;
}

QVariantMap CSyncEngine::context(const QString &strType, const QVariantMap &mapData) const
{
    return {{QStringLiteral("type"), strType},
            {QStringLiteral("date"), currentTimeString()},
            {QStringLiteral("data"), mapData},
            {QStringLiteral("user_id"), m_host.localUserId()}};
}

void CSyncEngine::reset()
{
    m_feed.reset();
    m_bAwaitIdle = false;
    // Answers to an earlier login's requests are dropped: nothing of them is on its way.
    // (A change whose answer was dropped would otherwise count as on its way for good, and
    // never be sent again.)
    m_setFetching.clear();
    m_setSending.clear();
    m_setSendingNotes.clear();
    m_setWaitingNotes.clear();
    m_nTextListsAsked = 0;
    m_nSyncOffset = 0;
    m_strSyncStartTime = QString();
    m_strSyncEndTime = QString();
    // A copy still being written is stored all the same; what waited for it is done again
    // at the next comparison.
    m_hashAfterCopy.clear();
    tellSending();
}

void CSyncEngine::tellSending()
{
    QSet<QString> setNotes = m_setSendingNotes;
    setNotes.unite(m_setWaitingNotes);
    const int nSending = setNotes.size() + m_hashAfterCopy.size();
    if (nSending == m_nSendingTold)
        return;
    m_nSendingTold = nSending;
    emit sendingChanged(nSending);
}

void CSyncEngine::setListSearch(const QString &strSearch)
{
    m_strSyncSearch = strSearch;
}

// ---------------------------------------------------------------------------------------
// Requests

void CSyncEngine::downloadMonth(const QDate &dt)
{
    // Texts travel one note at a time, and only when their digest changed.
    m_host.track(m_host.service().getNoteListByMonth(dt, false),
                 {{QStringLiteral("type"), QStringLiteral("download_note_list_by_month")},
                  {QStringLiteral("data"), QVariantMap{{QStringLiteral("date"), dt}}},
                  {QStringLiteral("user_id"), m_host.localUserId()}});
}

void CSyncEngine::compareLocalMonth(const QDate &dt)
{
    m_host.track(m_host.store().getNoteListByMonth(dt, m_host.localUserId()),
                 {{QStringLiteral("type"), QStringLiteral("get_note_list_by_month")},
                  {QStringLiteral("data"), QVariantMap{{QStringLiteral("date"), dt}}},
                  {QStringLiteral("user_id"), m_host.localUserId()}});
}

void CSyncEngine::downloadNoteItem(const QString &strNoteUuid)
{
    if (strNoteUuid.trimmed().isEmpty() || m_setFetching.contains(strNoteUuid))
        return;
    const QString strRequest = m_host.service().getNoteItem(strNoteUuid);
    if (strRequest.isEmpty())
        return;
    m_setFetching.insert(strNoteUuid);
    m_host.track(strRequest,
                 context(QStringLiteral("download_note_item"),
                         {{QStringLiteral("note_uuid"), strNoteUuid}}));
}

void CSyncEngine::fetchChanges()
{
    if (!isSyncing())
        return;
    m_feed.run();
}

void CSyncEngine::checkIdle()
{
    if (!m_bAwaitIdle || m_feed.isRunning() || m_nTextListsAsked > 0 || !m_setFetching.isEmpty()
        || !m_hashAfterCopy.isEmpty())
        return;
    m_bAwaitIdle = false;
    emit syncIdle();
}

void CSyncEngine::uploadNoteItem(const QVariantMap &mapData)
{
    if (mapData.isEmpty())
        return;
    m_host.track(m_host.service().replaceNoteItem(mapData),
                 context(QStringLiteral("upload_note_item"), mapData));
}

void CSyncEngine::downloadMissingTexts()
{
    if (!isSyncing())
        return;
    // The notes without their text, and those whose newer text is still wanted.
    for (const QString &strRequest :
         {m_host.store().getNoteListByToDownload(), m_host.store().getWantedTexts()}) {
        if (strRequest.isEmpty())
            continue;
        ++m_nTextListsAsked;
        m_host.track(strRequest, context(QStringLiteral("note_list_to_download"), QVariantMap()));
    }
}

void CSyncEngine::uploadPending()
{
    if (!isSyncing())
        return;
    m_host.track(m_host.store().getPendingNoteList(),
                 context(QStringLiteral("note_list_pending"), QVariantMap()));
}

bool CSyncEngine::isRefused(const QVariantMap &mapLocalItem)
{
    return mapLocalItem.value(QStringLiteral("sync_state")).toInt() == 2;
}

bool CSyncEngine::usable(const QVariantMap &mapServerItem)
{
    QString strError;
    if (isValidServerNote(mapServerItem, &strError))
        return true;
    qCWarning(lcNote) << "A note of the service's answer is left out:" << strError;
    return false;
}

bool CSyncEngine::hasOwnChange(const QVariantMap &mapLocalItem)
{
    return isPending(mapLocalItem) || isRefused(mapLocalItem);
}

bool CSyncEngine::isPending(const QVariantMap &mapLocalItem)
{
    return mapLocalItem.value(QStringLiteral("sync_state")).toInt() == 1;
}

QString CSyncEngine::versionKey(const QVariantMap &mapNote)
{
    return mapNote.value(QStringLiteral("uuid")).toString() + QLatin1Char('|')
           + mapNote.value(QStringLiteral("updated_at")).toString() + QLatin1Char('|')
           + QString::number(mapNote.value(QStringLiteral("deleted")).toInt()) + QLatin1Char('|')
           + textDigest(mapNote);
}

void CSyncEngine::sendChange(const QVariantMap &mapLocalItem)
{
    const QString strNoteUuid = mapLocalItem.value(QStringLiteral("uuid")).toString();
    if (strNoteUuid.isEmpty())
        return;
    const QString strKey = versionKey(mapLocalItem);
    if (m_setSending.contains(strKey))
        return;
    if (m_setSendingNotes.contains(strNoteUuid)) {
        // An earlier version of this note is on its way. Sent now, this one would name the
        // version before that as its base, and the service would take the earlier version
        // for someone else's change and answer with it as a conflict. It goes once that
        // answer is handled, from the version the service then has.
        m_setWaitingNotes.insert(strNoteUuid);
        return;
    }
    // The text stays out of the context: the store has it, should it be needed again.
    QVariantMap mapData = mapLocalItem;
    if (mapData.value(QStringLiteral("title")).toString().isEmpty()) {
        // The title as lists show it, from the beginning of the text: the user is told by
        // it should the service refuse the change.
        QVariantMap mapTitle{{QStringLiteral("content"),
                              mapLocalItem.value(QStringLiteral("content")).toString().left(4000)}};
        fillDisplayFields(mapTitle);
        mapData.insert(QStringLiteral("title"), mapTitle.value(QStringLiteral("title")));
    }
    mapData.remove(QStringLiteral("content"));
    mapData.insert(QStringLiteral("md5"), textDigest(mapLocalItem));
    // The version this change was made from: the service tells when another change got
    // there first, and the text that loses is kept.
    QVariantMap mapBase;
    const QString strBaseAt = mapLocalItem.value(QStringLiteral("base_updated_at")).toString();
    if (!strBaseAt.isEmpty()) {
        mapBase.insert(Protocol::Field::kBaseUpdatedAt, strBaseAt);
        mapBase.insert(Protocol::Field::kBaseMd5,
                       mapLocalItem.value(QStringLiteral("base_md5")).toString());
    }
    QString strRequest;
    if (isTombstone(mapLocalItem)) {
        QVariantMap map = mapBase;
        map.insert(QStringLiteral("deleted"), 1);
        map.insert(QStringLiteral("updated_at"), mapLocalItem.value(QStringLiteral("updated_at")));
        map.insert(QStringLiteral("uuid"), strNoteUuid);
        strRequest = m_host.service().updateNoteItem(map);
    } else {
        QVariantMap map = noteForServer(mapLocalItem);
        map.insert(mapBase);
        strRequest = m_host.service().replaceNoteItem(map);
    }
    if (strRequest.isEmpty())
        return;
    m_setSending.insert(strKey);
    m_setSendingNotes.insert(strNoteUuid);
    m_host.track(strRequest, context(QStringLiteral("upload_change"), mapData));
    // Sent without a base, its answer may be lost after the service took it: the next
    // change names this version, so that one made elsewhere in between is not replaced
    // unseen.
    if (strBaseAt.isEmpty())
        m_host.untracked(m_host.store().recordSentVersion(mapData));
    tellSending();
}

void CSyncEngine::start()
{
    if (m_host.serverUserId() <= 0)
        return;
    m_nSyncOffset = 0;
    downloadNoteList();
}

void CSyncEngine::downloadNoteList()
{
    QVariantMap mapData{{QStringLiteral("limit"), kPageSize},
                        {QStringLiteral("offset"), m_nSyncOffset},
                        {QStringLiteral("is_sync"), 1},
                        {Protocol::Field::kWithContent, 0}};
    if (m_strSyncSearch.isEmpty()) {
        mapData.insert(QStringLiteral("start_time"), m_strSyncStartTime);
        mapData.insert(QStringLiteral("end_time"), m_strSyncEndTime);
    } else {
        mapData.insert(QStringLiteral("search_string"), m_strSyncSearch);
    }
    m_host.track(m_host.service().getNoteListByOffset(mapData),
                 context(QStringLiteral("sync_download_note_list"), mapData));
}

void CSyncEngine::finish()
{
    m_nSyncOffset = 0;
    m_strSyncEndTime = QString();
}

void CSyncEngine::followListPage(const QVariantMap &mapData, const QVariantList &lstRows)
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
    if (m_host.serverUserId() > 0) {
        m_nSyncOffset = 0;
        downloadNoteList();
    }
}

// ---------------------------------------------------------------------------------------
// Comparison

int CSyncEngine::compareItem(QVariantMap mapLocalItem, QVariantMap mapServerItem)
{
    CDbMgt &store = m_host.store();
    CNetMgt &service = m_host.service();
    const QString strLocalAt = mapLocalItem.value(QStringLiteral("updated_at")).toString();
    const QString strServerAt = mapServerItem.value(QStringLiteral("updated_at")).toString();
    const QString strLocalUuid = mapLocalItem.value(QStringLiteral("uuid")).toString();
    const int nServerNoteId = mapServerItem.value(QStringLiteral("id")).toInt();
    // The service's id of the note, recorded when the one here is missing, or is one it had
    // before the service's database was put back (the UUIDs tell the note).
    const QString strServerUuid = mapServerItem.value(QStringLiteral("uuid")).toString();
    const bool bNoServerId = mapLocalItem.value(QStringLiteral("server_id")).toInt() < 1
                             || (mapLocalItem.value(QStringLiteral("server_id")).toInt()
                                     != nServerNoteId
                                 && !strServerUuid.isEmpty() && strServerUuid == strLocalUuid);
    const int nOrder = strServerAt < strLocalAt ? 1 : (strLocalAt < strServerAt ? -1 : 0);
    auto recordServerId = [&]() { recordServiceId(strLocalUuid, nServerNoteId); };

    // The later change wins, a deletion included. Within one second a deletion wins over
    // an edit, and two texts are told apart by their digests, so that every computer picks
    // the same copy.
    const bool bLocalDeleted = isTombstone(mapLocalItem);
    const bool bServerDeleted = isTombstone(mapServerItem);
    int nWinner = nOrder;
    if (nWinner == 0) {
        if (bLocalDeleted != bServerDeleted) {
            nWinner = bLocalDeleted ? 1 : -1;
        } else if (!bLocalDeleted) {
            // Digests stand for the texts: a list without texts still tells them apart.
            const QString strLocalMd5 = textDigest(mapLocalItem);
            const QString strServerMd5 = textDigest(mapServerItem);
            if (strLocalMd5 != strServerMd5)
                nWinner = strServerMd5 < strLocalMd5 ? 1 : -1;
        }
    }

    if (nWinner > 0) {
        if (bLocalDeleted) {
            if (!bServerDeleted && mapServerItem.value(QStringLiteral("uuid")).toString().isEmpty())
                m_host.untracked(service.updateNoteItem(nServerNoteId, strLocalAt));
            else if (!bServerDeleted)
                // Sent as a change of its own, with the version it was made from: an edit
                // made elsewhere that it replaces is kept as a conflict copy.
                sendChange(mapLocalItem);
        } else if (mapServerItem.value(QStringLiteral("uuid")).toString() == strLocalUuid) {
            // Sent as a change of its own, so that the service's acknowledgement ends
            // its pending state. A newer text also brings back a deleted note.
            sendChange(mapLocalItem);
        } else {
            // By the service's id: a note there without UUID takes the local one.
            QVariantMap map = noteForServer(mapLocalItem);
            if (nServerNoteId > 0)
                map.insert(QStringLiteral("note_id"), nServerNoteId);
            m_host.untracked(service.updateNoteItem(map));
        }
        if (bNoServerId)
            recordServerId();
        return nOrder;
    }
    if (nWinner < 0) {
        // A change made here that the service never had loses: its text stays, as a copy,
        // and leaves the note only once the copy is stored. So does a change that the
        // service refused (too large): the user was told it stays on this computer.
        // A title is the user's writing too: a change of the title alone that loses is
        // kept as well.
        const QString strLocalTitle = mapLocalItem.value(QStringLiteral("title")).toString();
        const bool bOwnTitleLost = !strLocalTitle.isEmpty()
                                   && mapServerItem.contains(QStringLiteral("title"))
                                   && mapServerItem.value(QStringLiteral("title")).toString()
                                          != strLocalTitle;
        if (hasOwnChange(mapLocalItem) && !bLocalDeleted && !lacksText(mapLocalItem)
            && (bServerDeleted || bOwnTitleLost
                || textDigest(mapLocalItem) != textDigest(mapServerItem)))
            keepConflictCopy(mapLocalItem, [this, mapLocalItem, mapServerItem]() {
                takeServiceVersion(mapLocalItem, mapServerItem);
            });
        else
            takeServiceVersion(mapLocalItem, mapServerItem);
        return nOrder;
    }

    // The same note on both sides.
    if (mapServerItem.value(QStringLiteral("uuid")).toString().isEmpty() && !strLocalUuid.isEmpty()
        && nServerNoteId > 0)
        m_host.untracked(
            service.updateNoteItem(QVariantMap{{QStringLiteral("id"), nServerNoteId},
                                               {QStringLiteral("uuid"), strLocalUuid}}));
    if (bNoServerId)
        recordServerId();
    // The service has this very version already (its acknowledgement went astray).
    if (isPending(mapLocalItem) && bLocalDeleted == bServerDeleted
        && (bLocalDeleted || textDigest(mapLocalItem) == textDigest(mapServerItem))) {
        if (!mapLocalItem.value(QStringLiteral("base_updated_at")).toString().isEmpty()) {
            // Its write may have replaced a version made elsewhere, and only the answer
            // told: the change is sent again, and the service answers it as it answered
            // the first time (acknowledged, with the replaced text to keep). Not while it
            // is on its way: that answer is still to come.
            sendChange(mapLocalItem);
            return 0;
        }
        QVariantMap mapVersion = mapLocalItem;
        mapVersion.insert(QStringLiteral("md5"), textDigest(mapLocalItem));
        m_host.untracked(store.acknowledgeNote(mapVersion, nServerNoteId));
    }
    return 0;
}

void CSyncEngine::recordServiceId(const QString &strLocalUuid, int nServerNoteId)
{
    if (nServerNoteId > 0 && !strLocalUuid.isEmpty())
        m_host.untracked(
            m_host.store().updateNoteItem({{QStringLiteral("uuid"), strLocalUuid},
                                           {QStringLiteral("server_id"), nServerNoteId}},
                                          QStringLiteral("uuid")));
}

void CSyncEngine::takeServiceVersion(const QVariantMap &mapLocalItem, QVariantMap mapServerItem)
{
    CDbMgt &store = m_host.store();
    CNetMgt &service = m_host.service();
    const QString strServerAt = mapServerItem.value(QStringLiteral("updated_at")).toString();
    const QString strLocalUuid = mapLocalItem.value(QStringLiteral("uuid")).toString();
    const int nServerNoteId = mapServerItem.value(QStringLiteral("id")).toInt();
    const bool bLocalDeleted = isTombstone(mapLocalItem);
    const bool bServerDeleted = isTombstone(mapServerItem);
    if (bServerDeleted) {
        // Deleted at the service after the last change here.
        if (!bLocalDeleted)
            markDeletedFromServer(mapLocalItem, mapServerItem);
        else if (mapLocalItem.value(QStringLiteral("server_id")).toInt() < 1)
            recordServiceId(strLocalUuid, nServerNoteId);
        return;
    }
    if (textDigest(mapLocalItem) != textDigest(mapServerItem)
        && (lacksText(mapServerItem) || !mapServerItem.contains(QStringLiteral("content")))) {
        // The service listed the note without its text: fetch the whole note rather than
        // empty the text here.
        downloadNoteItem(strLocalUuid);
        return;
    }
    // A note at the service without UUID takes the local one, as on equal times.
    if (mapServerItem.value(QStringLiteral("uuid")).toString().isEmpty() && !strLocalUuid.isEmpty()
        && nServerNoteId > 0)
        m_host.untracked(
            service.updateNoteItem(QVariantMap{{QStringLiteral("id"), nServerNoteId},
                                               {QStringLiteral("uuid"), strLocalUuid}}));
    convertServerItem(mapServerItem, m_host.localUserId());
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
        prepare(mapServerItem);
    else
        normaliseSetAt(mapServerItem);
    // The note takes the service's time of change, not the time of this copy.
    mapServerItem.insert(QStringLiteral("updated_at"), strServerAt);
    // A note deleted here and changed later elsewhere comes back.
    if (bLocalDeleted)
        mapServerItem.insert(QStringLiteral("deleted"), 0);
    mapServerItem.insert(QStringLiteral("sync_state"), 0);
    // Over the note as compared only: a change saved here since stays, and goes up.
    m_host.untracked(store.writeServiceVersion(mapServerItem, mapLocalItem));
    m_host.dayChanged(mapLocalItem.value(QStringLiteral("set_at")).toString());
    if (dayOf(mapServerItem.value(QStringLiteral("set_at")).toString())
        != dayOf(mapLocalItem.value(QStringLiteral("set_at")).toString()))
        m_host.dayChanged(mapServerItem.value(QStringLiteral("set_at")).toString());
    if (!bLocalDeleted && !mapServerItem.contains(QStringLiteral("content"))
        && !mapServerItem.contains(QStringLiteral("title")))
        return;
    QVariantMap mapShown = mapLocalItem;
    for (auto it = mapServerItem.cbegin(); it != mapServerItem.cend(); ++it)
        mapShown.insert(it.key(), it.value());
    fillDisplayFields(mapShown);
    m_host.noteShown(mapShown);
}

void CSyncEngine::keepConflictCopy(const QVariantMap &mapLocalItem, std::function<void()> fnThen)
{
    const QString strText = mapLocalItem.value(QStringLiteral("content")).toString();
    if (strText.isEmpty()) {
        fnThen();
        return;
    }
    // The same lost version gives the same copy wherever and however often it is found
    // (its note, its text and its time); another version lost later, even with the same
    // text, gives a copy of its own.
    const QString strCopyUuid
        = QUuid::createUuidV5(QUuid(mapLocalItem.value(QStringLiteral("uuid")).toString()),
                              md5Hex(strText) + QLatin1Char('@')
                                  + mapLocalItem.value(QStringLiteral("updated_at")).toString())
              .toString();
    const QString strNow = m_host.syncClock().now();
    // Titled by the time of the lost version and by its own title, which is kept so.
    const QString strLostAt = m_host.syncClock().localText(
        mapLocalItem.value(QStringLiteral("updated_at")).toString());
    const QString strLostTitle = mapLocalItem.value(QStringLiteral("title")).toString().trimmed();
    QVariantMap map{{QStringLiteral("uuid"), strCopyUuid},
                    {QStringLiteral("user_id"), m_host.localUserId()},
                    {QStringLiteral("set_at"), mapLocalItem.value(QStringLiteral("set_at"))},
                    {QStringLiteral("content"), strText},
                    {QStringLiteral("title"),
                     strLostTitle.isEmpty()
                         ? tr("Conflict copy, %1").arg(strLostAt)
                         : tr("Conflict copy, %1: %2").arg(strLostAt, strLostTitle)},
                    {QStringLiteral("created_at"), strNow},
                    {QStringLiteral("updated_at"), strNow},
                    {QStringLiteral("sync_state"), 1}};
    prepare(map, strNow);
    qCInfo(lcNote) << "Conflict copy" << strCopyUuid << "of note"
                   << mapLocalItem.value(QStringLiteral("uuid")).toString();
    // A copy found again (the answer that told of it came twice) stays as it is: the user
    // may have changed or deleted it meanwhile. Stored, it goes to the service like any
    // change made here.
    const QString strRequest = m_host.keepNote(map);
    if (strRequest.isEmpty())
        return;
    m_hashAfterCopy.insert(strRequest, std::move(fnThen));
}

void CSyncEngine::noteKept(const QString &strRequest)
{
    const auto fnThen = m_hashAfterCopy.take(strRequest);
    if (!fnThen)
        return;
    fnThen();
    checkIdle();
    tellSending();
}

// A note that the service holds as deleted is deleted here too, with the service's time,
// and leaves the views.
void CSyncEngine::markDeletedFromServer(const QVariantMap &mapLocalItem,
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
    map.insert(QStringLiteral("sync_state"), 0);
    // Over the note as compared (when it was read for a comparison): a change saved here
    // since stays.
    m_host.untracked(m_host.store().writeServiceVersion(map, mapLocalItem));
    m_host.noteRemoved(strNoteUuid);
    m_host.dayChanged(mapLocalItem.value(QStringLiteral("set_at")).toString());
}

// Adds a note of the service that is not here yet, with the service's time of its last
// change. Written as a replace on the UUID, so that two lookups that both found nothing
// still leave one note.
void CSyncEngine::insertServerItem(const QVariantMap &mapServerItem)
{
    if (isTombstone(mapServerItem))
        return;
    const QString strUpdatedAt = mapServerItem.value(QStringLiteral("updated_at")).toString();
    QVariantMap map = mapServerItem;
    convertServerItem(map, m_host.localUserId());
    const QString strNoteUuid = map.value(QStringLiteral("uuid")).toString();
    if (strNoteUuid.isEmpty())
        return;
    const bool bFetchText = lacksText(map);
    if (bFetchText)
        map.remove(QStringLiteral("content"));
    prepare(map);
    if (!strUpdatedAt.isEmpty())
        map.insert(QStringLiteral("updated_at"), strUpdatedAt);
    m_host.storeNote(map, QStringLiteral("uuid"));
    // The store stamps a new row with the time of the insert; the note keeps its own, and
    // that version of the service is the base of the next change made here.
    if (!strUpdatedAt.isEmpty())
        m_host.untracked(
            m_host.store().updateNoteItem({{QStringLiteral("uuid"), strNoteUuid},
                                           {QStringLiteral("updated_at"), strUpdatedAt},
                                           {QStringLiteral("base_updated_at"), strUpdatedAt},
                                           {QStringLiteral("base_md5"), textDigest(mapServerItem)}},
                                          QStringLiteral("uuid")));
    if (bFetchText) {
        qCDebug(lcNote) << "download note item: " << strNoteUuid;
        downloadNoteItem(strNoteUuid);
    }
}

void CSyncEngine::compareMonth(const QVariantList &lstLocal, const QVariantList &lstServer)
{
    auto matches = [](const QVariantMap &mapLocal, const QVariantMap &mapServer) {
        const QString strUuid = mapServer.value(QStringLiteral("uuid")).toString();
        const QString strLocalUuid = mapLocal.value(QStringLiteral("uuid")).toString();
        // Two notes with UUIDs are one note only by their UUIDs: the id a note here had at
        // the service may have been given to another note since (the service's database
        // put back from an older copy that did not hold this one).
        if (!strUuid.isEmpty() && !strLocalUuid.isEmpty())
            return strUuid == strLocalUuid;
        const int nServerNoteId = mapServer.value(QStringLiteral("id")).toInt();
        return nServerNoteId > 0
               && nServerNoteId == mapLocal.value(QStringLiteral("server_id")).toInt();
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
        if (mapServer.value(QStringLiteral("user_id")).toInt() != m_host.serverUserId())
            continue;
        // The note may be here under another month. Its answer belongs to this user: after
        // a logout or another login it is dropped.
        m_host.track(m_host.store().getNoteItem(mapServer.value(QStringLiteral("uuid")).toString()),
                     {{QStringLiteral("type"), QStringLiteral("get_local_item_to_update")},
                      {QStringLiteral("data"), mapServer},
                      {QStringLiteral("user_id"), m_host.localUserId()}});
    }
    for (const QVariant &var : qAsConst(lstLocalOnly)) {
        const QVariantMap mapLocal = var.toMap();
        if (m_host.localUserId() <= 0
            || mapLocal.value(QStringLiteral("user_id")).toInt() != m_host.localUserId())
            continue;
        lookUpAtServer(mapLocal);
    }
}

// Asks the service for a local note before anything of it is sent: the service may hold
// it under another month, or as deleted.
// Fetches the service's copy of a note, then the local one, and compares the two.
void CSyncEngine::compareWithService(const QString &strNoteUuid)
{
    m_host.track(m_host.service().getNoteItem(strNoteUuid),
                 context(QStringLiteral("service_item_to_compare"),
                         {{QStringLiteral("uuid"), strNoteUuid}}));
}

void CSyncEngine::lookUpNote(const QString &strNoteUuid)
{
    if (!isSyncing() || strNoteUuid.isEmpty())
        return;
    m_host.track(m_host.store().getNoteItem(strNoteUuid),
                 context(QStringLiteral("note_to_look_up"),
                         {{QStringLiteral("uuid"), strNoteUuid}}));
}

void CSyncEngine::lookUpAtServer(const QVariantMap &mapLocalItem)
{
    // Answered after a logout or a login as someone else, the note would go to the service
    // with the new login's token, into another account: the answer is this user's only.
    m_host.track(m_host.service().getNoteItem(mapLocalItem.value(QStringLiteral("uuid")).toString()),
                 {{QStringLiteral("type"), QStringLiteral("get_server_item_to_update")},
                  {QStringLiteral("data"), mapLocalItem},
                  {QStringLiteral("user_id"), m_host.localUserId()}});
}

// ---------------------------------------------------------------------------------------
// Results

bool CSyncEngine::handle(CRequestResult &r)
{
    const bool bHandled = handleResult(r);
    tellSending();
    return bHandled;
}

bool CSyncEngine::handleResult(CRequestResult &r)
{
    const QString &strType = r.strType;
    if (CChangeFeed::resultTypes().contains(strType))
        return m_feed.handle(r);
    const QVariantMap &mapData = r.mapData;
    const int nServerId = m_host.serverUserId();

    if (strType == QLatin1String("download_note_list_by_month")) {
        const QVariantList lstNotes = validServerNotes(
            r.mapReply.value(QStringLiteral("notes")).toList());
        const QDate dt = mapData.value(QStringLiteral("date")).toDate();
        // A month that the service lists as empty is compared like any other: its local
        // notes are looked up one by one. The service keeps its deletions, so an empty
        // month only means that the notes moved to other days or never arrived there;
        // marking them deleted would lose them.
        m_lstMonthNotes.append(
            QVariantMap{{QStringLiteral("date"), dt}, {QStringLiteral("result"), lstNotes}});
        compareLocalMonth(dt);
    } else if (strType == QLatin1String("get_note_list_by_month")) {
        const QDate dt = mapData.value(QStringLiteral("date")).toDate();
        for (int i = 0; i < m_lstMonthNotes.size(); ++i) {
            const QVariantMap mapEntry = m_lstMonthNotes.at(i).toMap();
            if (mapEntry.value(QStringLiteral("date")).toDate() != dt)
                continue;
            m_lstMonthNotes.removeAt(i);
            const QVariantList lstServer = mapEntry.value(QStringLiteral("result")).toList();
            compareMonth(r.lstRows, lstServer);
            // The calendar's counts follow a month that the service holds empty.
            if (lstServer.isEmpty())
                m_host.monthChanged(dt);
            break;
        }
        downloadMissingTexts();
    } else if (strType == QLatin1String("get_local_item_to_update")) {
        if (!r.lstRows.isEmpty())
            compareItem(r.lstRows.first().toMap(), mapData);
        else if (mapData.value(QStringLiteral("user_id")).toInt() == nServerId)
            insertServerItem(mapData);
        else
            return false;
    } else if (strType == QLatin1String("get_server_item_to_update")) {
        const QVariantMap mapServer = singleNoteOfReply(r.varPayload);
        if (!mapServer.isEmpty()) {
            // A malformed answer is no answer: the note is neither changed nor sent.
            if (!usable(mapServer))
                return false;
            compareItem(mapData, mapServer);
        } else if (isSyncing()
                   && mapData.value(QStringLiteral("user_id")).toInt() == m_host.localUserId()
                   && !isTombstone(mapData)) {
            // Unknown at the service: upload it, and keep the id that it gets there.
            uploadNoteItem(noteForServer(mapData));
        } else {
            return false;
        }
    } else if (strType == QLatin1String("note_list_to_download")) {
        m_nTextListsAsked = qMax(0, m_nTextListsAsked - 1);
        for (const QVariant &var : qAsConst(r.lstRows))
            downloadNoteItem(var.toMap().value(QStringLiteral("uuid")).toString());
        checkIdle();
    } else if (strType == QLatin1String("note_list_to_upload")) {
        if (isSyncing()) {
            for (const QVariant &var : qAsConst(r.lstRows)) {
                const QVariantMap mapRow = var.toMap();
                if (mapRow.value(QStringLiteral("user_id")).toInt() == m_host.localUserId())
                    lookUpAtServer(mapRow);
            }
        }
    } else if (strType == QLatin1String("download_note_item")) {
        const QString strNoteUuid = mapData.value(QStringLiteral("note_uuid")).toString();
        m_setFetching.remove(strNoteUuid);
        checkIdle();
        const bool bNote = r.mapReply.value(QStringLiteral("id")).toInt() > 0;
        if (bNote && r.mapReply.value(QStringLiteral("user_id")).toInt() == nServerId
            && usable(r.mapReply))
            storeServerText(r.mapReply);
        // (The service's version written ends a wanted text; so does a note it no longer
        // holds.)
        if (!bNote)
            m_host.untracked(m_host.store().forgetWantedText(strNoteUuid));
    } else if (strType == QLatin1String("upload_note_item")) {
        const int nNoteId = r.mapReply.value(QStringLiteral("note_id")).toInt();
        if (nNoteId > 0)
            m_host.untracked(
                m_host.store().updateNoteItem({{QStringLiteral("server_id"), nNoteId},
                                               {QStringLiteral("uuid"),
                                                mapData.value(QStringLiteral("uuid"))}},
                                              QStringLiteral("uuid")));
    } else if (strType == QLatin1String("sync_download_note_list")) {
        handleNoteList(mapData, r.mapReply.value(QStringLiteral("notes")).toList());
    } else if (strType == QLatin1String("get_note_item_to_compare")) {
        if (!r.lstRows.isEmpty())
            compareItem(r.lstRows.first().toMap(), mapData);
        else
            insertServerItem(mapData);
    } else if (strType == QLatin1String("upload_note_uuid")) {
        insertServerItem(mapData);
    } else if (strType == QLatin1String("service_item_to_compare")) {
        const QVariantMap mapServer = singleNoteOfReply(r.varPayload);
        if (mapServer.isEmpty() || !usable(mapServer))
            return false;
        m_host.track(m_host.store().getNoteItem(mapServer.value(QStringLiteral("uuid")).toString()),
                     {{QStringLiteral("type"), QStringLiteral("get_local_item_to_update")},
                      {QStringLiteral("data"), mapServer}});
    } else if (strType == QLatin1String("note_to_look_up")) {
        // (A change of its own goes up with the pending ones.)
        const QVariantMap mapLocal = r.lstRows.value(0).toMap();
        if (mapLocal.isEmpty() || isTombstone(mapLocal) || hasOwnChange(mapLocal)
            || mapLocal.value(QStringLiteral("user_id")).toInt() != m_host.localUserId())
            return false;
        lookUpAtServer(mapLocal);
    } else if (strType == QLatin1String("note_list_pending")) {
        for (const QVariant &var : qAsConst(r.lstRows)) {
            const QVariantMap mapRow = var.toMap();
            if (mapRow.value(QStringLiteral("user_id")).toInt() == m_host.localUserId())
                sendChange(mapRow);
        }
    } else if (strType == QLatin1String("upload_change")) {
        const QString strNoteUuid = mapData.value(QStringLiteral("uuid")).toString();
        m_setSending.remove(versionKey(mapData));
        m_setSendingNotes.remove(strNoteUuid);
        const bool bWaiting = m_setWaitingNotes.remove(strNoteUuid);
        const QVariant varApplied = r.mapReply.value(QStringLiteral("applied"));
        const int nNoteId = r.mapReply.value(QStringLiteral("note_id")).toInt();
        if (!varApplied.isValid() || varApplied.toBool()) {
            // This change replaced a version made elsewhere that it did not know of: that
            // text is kept as a conflict copy, and the change counts as acknowledged only
            // once the copy is stored. Stopped in between, or with a copy that could not
            // be stored, the change stays pending and is sent again; its answer tells of
            // the same copy, which is then stored or found.
            const QVariantMap mapReplaced = r.mapReply.value(Protocol::Field::kReplaced).toMap();
            auto acknowledge = [this, mapData, nNoteId, bWaiting]() {
                m_host.untracked(m_host.store().acknowledgeNote(mapData, nNoteId));
                // The later version that waited goes now, read after the acknowledgement:
                // it names this version as its base.
                if (bWaiting)
                    uploadPending();
            };
            if (r.mapReply.value(Protocol::Field::kConflict).toBool() && !mapReplaced.isEmpty()
                && usable(mapReplaced)
                && mapReplaced.value(QStringLiteral("uuid")).toString()
                       == mapData.value(QStringLiteral("uuid")).toString()
                && !isTombstone(mapReplaced))
                keepConflictCopy(mapReplaced, acknowledge);
            else
                acknowledge();
        } else {
            // The service holds a later version: the comparison decides, and keeps the
            // text of this change as a conflict copy when it loses.
            compareWithService(mapData.value(QStringLiteral("uuid")).toString());
        }
    }
    return true;
}

bool CSyncEngine::handleError(CRequestResult &r, const QString &strError)
{
    const bool bHandled = handleFailure(r, strError);
    tellSending();
    return bHandled;
}

bool CSyncEngine::handleFailure(CRequestResult &r, const QString &strError)
{
    if (m_hashAfterCopy.remove(r.strRequest) > 0) {
        // Reported as any failed write; the text the copy was to keep stays where it is.
        qCWarning(lcNote) << "conflict copy not stored: its text stays in place";
        checkIdle();
        return false;
    }
    if (CChangeFeed::resultTypes().contains(r.strType)) {
        m_feed.handleError(r);
        return true;
    }
    if (r.strType == QLatin1String("download_note_item")) {
        m_setFetching.remove(r.mapData.value(QStringLiteral("note_uuid")).toString());
        checkIdle();
        return false;
    }
    if (r.strType == QLatin1String("note_list_to_download")) {
        m_nTextListsAsked = qMax(0, m_nTextListsAsked - 1);
        checkIdle();
        return false;
    }
    if (r.strType != QLatin1String("upload_change"))
        return false;
    const QVariantMap &mapData = r.mapData;
    const QString strNoteUuid = mapData.value(QStringLiteral("uuid")).toString();
    m_setSending.remove(versionKey(mapData));
    m_setSendingNotes.remove(strNoteUuid);
    // A later version of the note that waited for this answer: sent with the others after
    // the new login or at the next run, or now, after what is done here with this one.
    const bool bWaiting = m_setWaitingNotes.remove(strNoteUuid);
    const QString strTransport = r.mapResult.value(QStringLiteral("error")).toString().trimmed();
    const int nStatus = r.mapResult.value(QStringLiteral("http_status")).toInt();
    if (strError.compare(Protocol::Error::kTokenWrong, Qt::CaseInsensitive) == 0)
        return false; // sent again after the new login
    if (!strTransport.isEmpty() && nStatus != 413)
        return true; // offline or a failing service: still pending, sent at the next run
    if (isTombstone(mapData) && strError == Protocol::Error::kNoNote) {
        // Deleted before it ever reached the service: nothing to pass on.
        m_host.untracked(m_host.store().acknowledgeNote(mapData, 0));
        if (bWaiting)
            uploadPending();
        return true;
    }
    // Too large, or a note the service cannot take: sending it again would fail again.
    m_host.untracked(m_host.store().refuseNote(mapData));
    if (bWaiting)
        uploadPending();
    const QString strReason = nStatus == 413 ? tr("it is larger than the note service accepts")
                                             : strError;
    QString strTitle = mapData.value(QStringLiteral("title")).toString();
    if (strTitle.isEmpty())
        strTitle = tr("(no title)");
    qCWarning(lcNote) << "The service refused a change of note" << strNoteUuid << ":" << strError;
    m_host.tell(tr("The note of %1 \"%2\" cannot be synchronised: %3. It stays on this computer; "
                   "change it to try again.")
                    .arg(dayOf(mapData.value(QStringLiteral("set_at")).toString()),
                         strTitle.left(50),
                         strReason));
    return true;
}

// The whole note as the service sent it, written over the local copy.
void CSyncEngine::storeServerText(const QVariantMap &mapReply)
{
    if (isTombstone(mapReply)) {
        markDeletedFromServer({{QStringLiteral("uuid"), mapReply.value(QStringLiteral("uuid"))},
                               {QStringLiteral("set_at"), mapReply.value(QStringLiteral("set_at"))}},
                              mapReply);
        return;
    }
    QVariantMap map;
    for (const char *key : {"set_at", "updated_at", "uuid", "content", "content_size", "title"}) {
        const QString strKey = QLatin1String(key);
        map.insert(strKey, mapReply.value(strKey));
    }
    prepare(map);
    map.insert(QStringLiteral("updated_at"), mapReply.value(QStringLiteral("updated_at")));
    map.insert(QStringLiteral("sync_state"), 0);
    // The service's live version: a note deleted here before that change comes back.
    map.insert(QStringLiteral("deleted"), 0);
    m_host.track(m_host.store().writeServiceVersion(map),
                 context(QStringLiteral("update_note_item"), map));
}

void CSyncEngine::handleNoteList(const QVariantMap &mapData, const QVariantList &lstNotes)
{
    for (const QVariant &var : lstNotes) {
        QVariantMap mapNote = var.toMap();
        if (!usable(mapNote))
            continue;
        const QString strNoteUuid = mapNote.value(QStringLiteral("uuid")).toString();
        if (strNoteUuid.isEmpty()) {
            const QString strNewUuid = createUuidString();
            mapNote.insert(QStringLiteral("uuid"), strNewUuid);
            m_host.track(m_host.service().updateNoteItem(
                             QVariantMap{{QStringLiteral("note_id"),
                                          mapNote.value(QStringLiteral("id"))},
                                         {QStringLiteral("uuid"), strNewUuid}}),
                         context(QStringLiteral("upload_note_uuid"), mapNote));
        } else {
            m_host.track(m_host.store().getNoteItem(strNoteUuid),
                         context(QStringLiteral("get_note_item_to_compare"), mapNote));
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
        finish();
    else if (strSearch.isEmpty() && mapData.value(QStringLiteral("start_time")).toString().isEmpty()
             && mapData.value(QStringLiteral("end_time")).toString().isEmpty())
        finish();
    else
        downloadNoteList();
}
