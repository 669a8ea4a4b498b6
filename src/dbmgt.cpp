#include "dbmgt.h"

#include "kelpolog.h"
#include "sqlbuilder.h"

#include <QDir>
#include <QRegularExpression>
#include <QStandardPaths>

namespace {

// clang-format off
// The fixed statements; the runs of blanks are part of them.
const QString kDayListUser = QStringLiteral("SELECT %4 FROM note                     WHERE (user_id=%2 OR (user_id IS NULL OR user_id <= 0)) AND (set_at >= '%1 00:00:00' AND set_at <= '%1 23:59:59')                            AND %3");
const QString kDayListNobody = QStringLiteral("SELECT %3 FROM note                     WHERE (user_id IS NULL OR user_id <= 0) AND (set_at >= '%1 00:00:00' AND set_at <= '%1 23:59:59')                             AND %2");
const QString kMonthListUser = QStringLiteral("SELECT * FROM note                     WHERE (user_id=%1 OR (user_id IS NULL OR user_id <= 0)) AND (set_at >= '%2 00:00:00' AND set_at < '%3 00:00:00')                            AND %4");
const QString kMonthListNobody = QStringLiteral("SELECT * FROM note                     WHERE (user_id IS NULL OR user_id <= 0) AND (set_at >= '%1 00:00:00' AND set_at < '%2 00:00:00')                            AND %3");
const QString kDayCountUser = QStringLiteral("SELECT set_at, COUNT(*) as note_count FROM note                     WHERE (user_id=%2 OR (user_id IS NULL OR user_id <= 0)) AND (set_at >= '%1 00:00:00' AND set_at <= '%1 23:59:59')                            AND %3                     GROUP BY set_at");
const QString kDayCountNobody = QStringLiteral("SELECT set_at, COUNT(*) as note_count FROM note                     WHERE (user_id IS NULL OR user_id <= 0) AND (set_at >= '%1 00:00:00' AND set_at <= '%1 23:59:59')                             AND %2                     GROUP BY set_at");
const QString kMonthCountUser = QStringLiteral("SELECT set_at, COUNT(*) as note_count FROM note                     WHERE (user_id=%3 OR (user_id IS NULL OR user_id <= 0)) AND (set_at >= '%1 00:00:00' AND set_at < '%2 00:00:00')                             AND %4                     GROUP BY set_at");
const QString kMonthCountNobody = QStringLiteral("SELECT set_at, COUNT(*) as note_count FROM note                     WHERE (user_id IS NULL OR user_id <= 0) AND (set_at >= '%1 00:00:00' AND set_at < '%2 00:00:00')                         AND %3                     GROUP BY set_at");
const QString kToDownload = QStringLiteral("SELECT * FROM note                 WHERE user_id=%1 AND content_size > 0 AND (content IS NULL OR LENGTH(content) <= 0)                        AND %2");
const QString kToUpload = QStringLiteral("SELECT * FROM note                 WHERE user_id=%1 AND (server_id IS NULL OR server_id <= 0)                        AND %2");
const QString kMonthServerDeletion = QStringLiteral("UPDATE note SET deleted = 1                 WHERE (set_at >= '%1 00:00:00' AND set_at < '%2 00:00:00')                         AND server_id > 0                         AND user_id = %3                         AND %4");
// clang-format on

// The columns of a note as lists show them: set_at as the bare day, and the visible text
// that list titles are made of.
const QString kColumns = QStringLiteral(
    "id, server_id, user_id, substr(set_at,1,10) as set_at, created_at, title, content, "
    "content_size, md5, updated_at, deleted, uuid, sync_state, plain_text");
// A note as the synchronisation reads it: with the version its change was made from, which
// an upload names so that the service can tell a change made without knowing another.
const QString kSyncColumns = kColumns + QStringLiteral(", base_updated_at, base_md5");
const QString kLive = QStringLiteral("(deleted IS NULL OR deleted != 1)");
const QString kNoteTable = QStringLiteral("note");
const QString kUserTable = QStringLiteral("user");

QString day(const QDate &dt)
{
    return dt.toString(QStringLiteral("yyyy-MM-dd"));
}

QDate firstDay(const QDate &dt)
{
    return QDate(dt.year(), dt.month(), 1);
}

// The notes a user sees: their own and those of nobody; without a user, those of nobody.
QString ownership(int nUserId)
{
    if (nUserId >= 1)
        return QStringLiteral("user_id = %1 OR user_id IS NULL OR user_id <= 0").arg(nUserId);
    return QStringLiteral("user_id IS NULL OR user_id <= 0");
}

QVariantMap spec(const QString &strTable, const QVariantMap &mapData)
{
    QVariantMap mapSpec;
    mapSpec.insert(QStringLiteral("table"), strTable);
    mapSpec.insert(QStringLiteral("data"), mapData);
    return mapSpec;
}

// A note written with its body gets its visible text too; the worker derives the value
// (CThreadDb), so the caller's thread builds no text document.
void withPlainText(QVariantMap &mapNote)
{
    if (mapNote.contains(QStringLiteral("content")))
        mapNote.insert(QStringLiteral("plain_text"), QString());
}

QVariantMap request(const QString &strType)
{
    QVariantMap mapRequest;
    mapRequest.insert(QStringLiteral("type"), strType);
    return mapRequest;
}

} // namespace

CDbMgt::CDbMgt(const QString &strDataDir, QObject *parent)
    : QObject(parent)
    , m_setNumericField({QStringLiteral("id"),
                         QStringLiteral("user_id"),
                         QStringLiteral("server_id"),
                         QStringLiteral("deleted"),
                         QStringLiteral("sync_state")})
{
    const QString strDir = strDataDir.isEmpty()
                               ? QStandardPaths::writableLocation(QStandardPaths::DataLocation)
                               : strDataDir;
    m_strDbFile = QDir(strDir).absoluteFilePath(QStringLiteral("local.db"));
    m_threadDb.setObjectName(QStringLiteral("ThreadDb"));
    m_threadDb.setDbName(m_strDbFile);
    connect(&m_threadDb, &CThreadObject::dataReceived, this, &CDbMgt::dataReceived);
    connect(&m_threadDb, &CThreadDb::notice, this, &CDbMgt::notice);
    connect(&m_threadDb, &CThreadDb::plainTextProgress, this, &CDbMgt::plainTextProgress);
    m_timerLog.setSingleShot(true);
    m_timerLog.setInterval(kLogFlushMs);
    connect(&m_timerLog, &QTimer::timeout, this, &CDbMgt::flushLog);
    m_threadDb.startThread();
}

CDbMgt::~CDbMgt()
{
    flushLog();
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

QString CDbMgt::getUser(int nId)
{
    return query(QStringLiteral("SELECT * FROM user WHERE id = %1").arg(nId));
}

QString CDbMgt::getUser(const QString &strUser, const QString &strPwd)
{
    QVariantMap mapData;
    mapData.insert(QStringLiteral("name"), strUser);
    mapData.insert(QStringLiteral("pwd"), strPwd);
    return prepared(QStringLiteral("SELECT * FROM user WHERE name = :name AND pwd = :pwd"), mapData);
}

QString CDbMgt::saveUser(QVariantMap mapData)
{
    const int nId = mapData.value(QStringLiteral("id")).toInt();
    mapData.remove(QStringLiteral("id"));
    if (nId > 0) {
        QVariantMap mapSpec = spec(kUserTable, mapData);
        mapSpec.insert(QStringLiteral("where"), QVariantMap{{QStringLiteral("id"), nId}});
        return prepared(buildUpdatePrepared(mapSpec, m_setNumericField), mapData);
    }
    const QString strName = mapData.value(QStringLiteral("name")).toString();
    if (strName.isEmpty())
        return QString();

    QVariantMap mapRequest = request(QStringLiteral("replace"));
    QVariantMap mapInsert = spec(kUserTable, mapData);
    mapRequest.insert(QStringLiteral("insert_prepare"), buildInsertPrepared(mapInsert));
    mapRequest.insert(QStringLiteral("insert_data"), mapInsert.value(QStringLiteral("data")));

    const QVariantMap mapWhere{{QStringLiteral("name"), strName}};
    QVariantMap mapSelect = spec(kUserTable, QVariantMap());
    mapSelect.insert(QStringLiteral("where"), mapWhere);
    mapRequest.insert(QStringLiteral("select"), buildSelect(mapSelect, m_setNumericField));

    QVariantMap mapUpdateData = mapData;
    mapUpdateData.remove(QStringLiteral("name"));
    if (mapUpdateData.isEmpty()) // nothing else to change: a harmless assignment
        mapUpdateData.insert(QStringLiteral("name"), strName);
    QVariantMap mapUpdate = spec(kUserTable, mapUpdateData);
    mapUpdate.insert(QStringLiteral("where"), mapWhere);
    mapRequest.insert(QStringLiteral("update_prepare"),
                      buildUpdatePrepared(mapUpdate, m_setNumericField));
    mapRequest.insert(QStringLiteral("update_data"), mapUpdateData);
    return send(mapRequest);
}

QString CDbMgt::delUser(int nUserId)
{
    if (nUserId < 1)
        return QString();
    clearNoteItemsByUserId(nUserId);
    return query(QStringLiteral("DELETE FROM user WHERE id = %1").arg(nUserId));
}

QString CDbMgt::getUserIdList()
{
    return query(QStringLiteral("SELECT id, server_id FROM user WHERE server_id > 0"));
}

QString CDbMgt::getNoteOwners()
{
    return query(
        QStringLiteral("SELECT user.name AS name, COUNT(note.id) AS note_count FROM note"
                       " JOIN user ON note.user_id = user.id"
                       " WHERE note.user_id > 0 AND (note.deleted IS NULL OR note.deleted != 1)"
                       " GROUP BY user.id ORDER BY note_count DESC, user.name"));
}

QString CDbMgt::clearServerIdsOfMovedUser(const QString &strName,
                                          int nServerId,
                                          const QString &strServerUrl)
{
    return prepared(
        QStringLiteral(
            "UPDATE note SET server_id = NULL, sync_state = 1 WHERE server_id > 0 AND user_id IN"
            " (SELECT id FROM user WHERE name = :name"
            " AND (IFNULL(server_id, 0) != :server_id"
            " OR IFNULL(server_url, '') != :server_url))"),
        {{QStringLiteral("name"), strName},
         {QStringLiteral("server_id"), nServerId},
         {QStringLiteral("server_url"), strServerUrl}});
}

QString CDbMgt::getNoteItem(int nId, int nUserId)
{
    if (nId < 1)
        return QString();
    QString strSql = QStringLiteral("SELECT * FROM note WHERE id = %1").arg(nId);
    if (nUserId >= 1)
        strSql += QStringLiteral(" AND user_id = %1").arg(nUserId);
    else
        strSql += QStringLiteral(" AND (user_id = 0 OR user_id IS NULL OR user_id = -1)");
    return query(strSql);
}

QString CDbMgt::getNoteItem(const QString &strUuid)
{
    if (strUuid.isEmpty())
        return QString();
    QString strSql = QStringLiteral("SELECT %1 FROM note WHERE uuid = :uuid").arg(kSyncColumns);
    if (m_nUserId >= 1)
        strSql += QStringLiteral(" AND user_id = %1").arg(m_nUserId);
    else
        strSql += QStringLiteral(" AND (user_id = 0 OR user_id IS NULL OR user_id = -1)");
    return prepared(strSql, QVariantMap{{QStringLiteral("uuid"), strUuid}});
}

QString CDbMgt::insertNoteItem(const QVariantMap &mapData, const QString &strNow)
{
    return send(preparedInsert(mapData, strNow));
}

QString CDbMgt::updateNoteItem(QVariantMap map, const QString &strWhereField)
{
    fillContentDigest(map);
    withPlainText(map);
    if (strWhereField.isEmpty() || !map.contains(strWhereField))
        return send(preparedInsert(map));

    QVariantMap mapSpec;
    mapSpec.insert(QStringLiteral("table"), kNoteTable);
    mapSpec.insert(QStringLiteral("where"), QVariantMap{{strWhereField, map.take(strWhereField)}});
    mapSpec.insert(QStringLiteral("data"), map);
    return prepared(buildUpdatePrepared(mapSpec, m_setNumericField), map);
}

QString CDbMgt::replaceNoteItem(QVariantMap map, const QString &strWhereField)
{
    return writeNoteItem(map, strWhereField, false);
}

QString CDbMgt::saveEditedNote(QVariantMap map, const QVariantMap &mapMadeFrom)
{
    if (!map.contains(QStringLiteral("uuid")))
        return QString();
    return writeNoteItem(map, QStringLiteral("uuid"), false, mapMadeFrom);
}

QString CDbMgt::writeNoteItem(QVariantMap map,
                              const QString &strWhereField,
                              bool bKeepFound,
                              const QVariantMap &mapMadeFrom)
{
    // One rule for the digest of every write: an empty text has none (NULL).
    fillContentDigest(map);
    withPlainText(map);
    const QVariant userId = map.value(QStringLiteral("user_id"));
    const QString strAndWhere = ownership(userId.isValid() ? userId.toInt() : 0);

    if (strWhereField.isEmpty() || !map.contains(strWhereField))
        return send(preparedInsert(map));

    const QString strMadeFromAt = mapMadeFrom.value(QStringLiteral("updated_at")).toString();
    const QString strMadeFromMd5 = mapMadeFrom.value(QStringLiteral("md5")).toString();
    QVariantMap mapRequest = request(QStringLiteral("replace"));
    if (bKeepFound)
        mapRequest.insert(QStringLiteral("keep_found"), true);
    QVariantMap mapNew = map;
    // Not found, the note is new here: made now unless it says when (an editor's second
    // try of a new note whose first save failed). One reading of the clock for both times.
    const QString strNow = m_clock ? m_clock() : currentUtcString();
    if (!mapNew.contains(QStringLiteral("created_at")))
        mapNew.insert(QStringLiteral("created_at"), strNow);
    if (!strMadeFromAt.isEmpty()) {
        mapNew.insert(QStringLiteral("base_updated_at"), strMadeFromAt);
        mapNew.insert(QStringLiteral("base_md5"), strMadeFromMd5);
    }
    QVariantMap mapInsert = spec(kNoteTable, mapNew);
    mapInsert.insert(QStringLiteral("now"), strNow);
    mapRequest.insert(QStringLiteral("insert_prepare"), buildInsertPrepared(mapInsert));
    mapRequest.insert(QStringLiteral("insert_data"), mapInsert.value(QStringLiteral("data")));

    const QVariant whereValue = map.take(strWhereField);
    const QVariantMap mapWhere{{strWhereField, whereValue}};
    if (map.isEmpty()) // nothing else to change: a harmless assignment
        map.insert(strWhereField, whereValue);

    QVariantMap mapSelect = spec(kNoteTable, QVariantMap());
    mapSelect.insert(QStringLiteral("where"), mapWhere);
    mapSelect.insert(QStringLiteral("and_where"), strAndWhere);
    mapRequest.insert(QStringLiteral("select"), buildSelect(mapSelect, m_setNumericField));

    QVariantMap mapUpdate = spec(kNoteTable, map);
    mapUpdate.insert(QStringLiteral("where"), mapWhere);
    mapUpdate.insert(QStringLiteral("and_where"), strAndWhere);
    QVariantMap mapBind = map;
    if (!strMadeFromAt.isEmpty()) {
        // The note as the editor opened it is still the note here: it keeps the version
        // its row names. Changed since, the change is made from the version the editor
        // showed. (SET sees the row as it was before this update.)
        mapUpdate.insert(QStringLiteral("set_sql"),
                         QStringList{QStringLiteral("base_updated_at = CASE WHEN updated_at = "
                                                    ":mf_at THEN base_updated_at ELSE :mf_at END"),
                                     QStringLiteral("base_md5 = CASE WHEN updated_at = :mf_at"
                                                    " THEN base_md5 ELSE :mf_md5 END")});
        mapBind.insert(QStringLiteral("mf_at"), strMadeFromAt);
        mapBind.insert(QStringLiteral("mf_md5"), strMadeFromMd5);
    }
    mapRequest.insert(QStringLiteral("update_prepare"),
                      buildUpdatePrepared(mapUpdate, m_setNumericField));
    mapRequest.insert(QStringLiteral("update_data"), mapBind);
    return send(mapRequest);
}

QString CDbMgt::keepNoteItem(QVariantMap map)
{
    if (!map.contains(QStringLiteral("uuid")))
        return QString();
    return writeNoteItem(map, QStringLiteral("uuid"), true);
}

QString CDbMgt::deleteNoteItem(const QString &strUuid, int nUserId, const QString &strUpdatedAt)
{
    if (strUuid.isEmpty())
        return QString();
    // A deletion is a change like any other: pending until the service has it.
    return prepared(QStringLiteral("UPDATE note SET deleted = 1, sync_state = 1, updated_at = :updated_at"
                                   " WHERE uuid = :uuid AND (%1)")
                        .arg(ownership(nUserId)),
                    QVariantMap{{QStringLiteral("updated_at"), strUpdatedAt},
                                {QStringLiteral("uuid"), strUuid}});
}

QString CDbMgt::deleteNoteItemByServerId(int nServerId, const QString &strModifiedAt, int nUserId)
{
    if (nServerId < 1)
        return QString();
    QString strSql
        = QStringLiteral(
              "UPDATE note SET deleted = 1, updated_at = :updated_at WHERE server_id = %1")
              .arg(nServerId);
    if (nUserId > 0)
        strSql += QStringLiteral(" AND (%1)").arg(ownership(nUserId));
    return prepared(strSql, QVariantMap{{QStringLiteral("updated_at"), strModifiedAt}});
}

QString CDbMgt::getNoteIdByLocalId(int nLocalId)
{
    return query(QStringLiteral("SELECT id, server_id FROM note WHERE id = %1").arg(nLocalId));
}

QString CDbMgt::getNoteListByDay(const QDate &dt, int nUserId)
{
    if (nUserId >= 1)
        return query(kDayListUser.arg(day(dt), QString::number(nUserId), kLive, kColumns));
    return query(kDayListNobody.arg(day(dt), kLive, kColumns));
}

QString CDbMgt::getNoteListByMonth(const QDate &dt, int nUserId)
{
    const QDate dtFirst = firstDay(dt);
    const QDate dtNext = dtFirst.addMonths(1);
    if (nUserId >= 1)
        return query(kMonthListUser.arg(QString::number(nUserId), day(dtFirst), day(dtNext), kLive));
    return query(kMonthListNobody.arg(day(dtFirst), day(dtNext), kLive));
}

QString CDbMgt::getNoteListByOffset(const QVariantMap &mapData)
{
    const int nOffset = mapData.value(QStringLiteral("offset")).toInt();
    const int nNumber = mapData.value(QStringLiteral("number")).toInt();
    const QString strSearch = mapData.value(QStringLiteral("search_string")).toString();

    if (!strSearch.isEmpty()) {
        // Matched on what the notes show, literally and blind to case; the worker plans
        // the statement with what its index knows (CNoteSearch).
        QVariantMap mapRequest = request(QStringLiteral("search"));
        mapRequest.insert(QStringLiteral("search_string"), strSearch);
        mapRequest.insert(QStringLiteral("offset"), nOffset);
        mapRequest.insert(QStringLiteral("number"), nNumber);
        mapRequest.insert(QStringLiteral("user_id"), m_nUserId);
        mapRequest.insert(QStringLiteral("columns"), kColumns);
        // 1 or 2 forces the index or the walk (CNoteSearch::Plan); tests compare the two.
        mapRequest.insert(QStringLiteral("plan"), mapData.value(QStringLiteral("plan")).toInt());
        return send(mapRequest);
    }
    QString strWhere = QLatin1Char('(') + ownership(m_nUserId) + QLatin1Char(')');
    // note.set_at, not the selected day text of the same name: the order then follows
    // the set_at index instead of sorting every note of the user.
    strWhere += QStringLiteral(" ORDER BY note.set_at DESC, note.updated_at DESC");
    strWhere += QStringLiteral(" LIMIT %1 OFFSET %2").arg(nNumber).arg(nOffset);
    return query(QStringLiteral("SELECT %1 FROM note WHERE %2").arg(kColumns, strWhere));
}

QString CDbMgt::getNoteListByToDownload()
{
    return query(kToDownload.arg(m_nUserId).arg(kLive)
                 + QStringLiteral(" ORDER BY updated_at DESC, id DESC"));
}

QString CDbMgt::getNoteListByToUpload()
{
    return query(kToUpload.arg(m_nUserId).arg(kLive));
}

QString CDbMgt::getPendingNoteList()
{
    // A note that a writer unaware of the sync state added (no state, no server id) has
    // never been sent either.
    return query(QStringLiteral("SELECT * FROM note WHERE (sync_state = 1 OR (sync_state IS NULL"
                                " AND (server_id IS NULL OR server_id <= 0))) AND (%1)"
                                " ORDER BY updated_at ASC, id ASC")
                     .arg(ownership(m_nUserId)));
}

namespace {

// The condition that picks one version of a note, with its bound values.
QString versionCondition(const QVariantMap &mapVersion, QVariantMap &mapBind)
{
    mapBind.insert(QStringLiteral("v_uuid"), mapVersion.value(QStringLiteral("uuid")).toString());
    mapBind.insert(QStringLiteral("v_at"),
                   mapVersion.value(QStringLiteral("updated_at")).toString());
    if (mapVersion.value(QStringLiteral("deleted")).toInt() == 1)
        return QStringLiteral("uuid = :v_uuid AND updated_at = :v_at AND deleted = 1");
    mapBind.insert(QStringLiteral("v_md5"), mapVersion.value(QStringLiteral("md5")).toString());
    return QStringLiteral(
        "uuid = :v_uuid AND updated_at = :v_at AND IFNULL(deleted, 0) != 1"
        " AND (CASE WHEN IFNULL(content_size, 0) <= 0 THEN '' ELSE IFNULL(md5, '') END) = :v_md5");
}

} // namespace

QString CDbMgt::acknowledgeNote(const QVariantMap &mapVersion, int nServerId)
{
    if (mapVersion.value(QStringLiteral("uuid")).toString().isEmpty())
        return QString();
    QVariantMap mapBind;
    const QString strVersion = QStringLiteral("(%1 AND IFNULL(sync_state, 1) = 1)")
                                   .arg(versionCondition(mapVersion, mapBind));
    QString strServerId;
    if (nServerId > 0) {
        strServerId = QStringLiteral(
                          ", server_id = CASE WHEN %1 THEN :server_id ELSE server_id END")
                          .arg(strVersion);
        mapBind.insert(QStringLiteral("server_id"), nServerId);
    }
    // The service has this version now, even when the note has changed again here since:
    // the next upload names it as its base (never an older one of a late answer).
    mapBind.insert(QStringLiteral("b_md5"),
                   mapVersion.value(QStringLiteral("deleted")).toInt() == 1
                       ? QString()
                       : mapVersion.value(QStringLiteral("md5")).toString());
    const QString strNewer = QStringLiteral(":v_at >= IFNULL(base_updated_at, '')");
    return prepared(QStringLiteral(
                        "UPDATE note SET sync_state = CASE WHEN %1 THEN 0 ELSE sync_state END%2,"
                        " base_md5 = CASE WHEN %3 THEN :b_md5 ELSE base_md5 END,"
                        " base_updated_at = CASE WHEN %3 THEN :v_at ELSE base_updated_at END"
                        " WHERE uuid = :v_uuid AND (%1 OR %3)")
                        .arg(strVersion, strServerId, strNewer),
                    mapBind);
}

QString CDbMgt::recordSentVersion(const QVariantMap &mapVersion)
{
    if (mapVersion.value(QStringLiteral("uuid")).toString().isEmpty())
        return QString();
    const bool bDeleted = mapVersion.value(QStringLiteral("deleted")).toInt() == 1;
    // A version the service has not got is harmless as a base: for a note it does not hold,
    // a change is a new note whatever it names.
    return prepared(QStringLiteral("UPDATE note SET base_updated_at = :v_at, base_md5 = :b_md5"
                                   " WHERE uuid = :v_uuid AND IFNULL(base_updated_at, '') = ''"),
                    {{QStringLiteral("v_uuid"), mapVersion.value(QStringLiteral("uuid"))},
                     {QStringLiteral("v_at"), mapVersion.value(QStringLiteral("updated_at"))},
                     {QStringLiteral("b_md5"),
                      bDeleted ? QString() : mapVersion.value(QStringLiteral("md5")).toString()}});
}

QString CDbMgt::refuseNote(const QVariantMap &mapVersion)
{
    if (mapVersion.value(QStringLiteral("uuid")).toString().isEmpty())
        return QString();
    QVariantMap mapBind;
    const QString strWhere = versionCondition(mapVersion, mapBind);
    return prepared(QStringLiteral(
                        "UPDATE note SET sync_state = 2 WHERE %1 AND IFNULL(sync_state, 1) = 1")
                        .arg(strWhere),
                    mapBind);
}

QString CDbMgt::getSettledNoteUuids()
{
    if (m_nUserId < 1)
        return QString();
    return query(
        QStringLiteral("SELECT uuid FROM note WHERE user_id = %1 AND %2"
                       " AND IFNULL(uuid, '') != ''"
                       " AND (sync_state IN (0, 3) OR (sync_state IS NULL AND server_id > 0))")
            .arg(QString::number(m_nUserId), kLive));
}

QString CDbMgt::writeServiceVersion(const QVariantMap &mapNote, const QVariantMap &mapCompared)
{
    const QString strUuid = mapNote.value(QStringLiteral("uuid")).toString();
    if (strUuid.isEmpty())
        return QString();
    QVariantMap mapBind;
    QStringList lstSet;
    for (auto it = mapNote.cbegin(); it != mapNote.cend(); ++it) {
        if (it.key() == QLatin1String("uuid") || it.key() == QLatin1String("id"))
            continue;
        // Column names are the program's own: only plain names pass.
        if (!QRegularExpression(QStringLiteral("^[a-z_0-9]+$")).match(it.key()).hasMatch())
            continue;
        lstSet << QStringLiteral("%1 = :%1").arg(it.key());
        mapBind.insert(it.key(), it.value());
    }
    if (lstSet.isEmpty())
        return QString();
    // The service's version: the base of the next change made here.
    if (mapNote.value(QStringLiteral("sync_state")).toString() == QLatin1String("0")
        && mapNote.contains(QStringLiteral("updated_at"))
        && !mapNote.contains(QStringLiteral("base_updated_at"))) {
        lstSet << QStringLiteral("base_updated_at = :w_at");
        lstSet << (mapNote.contains(QStringLiteral("md5")) ? QStringLiteral("base_md5 = :md5")
                                                           : QStringLiteral("base_md5 = md5"));
    }
    mapBind.insert(QStringLiteral("w_uuid"), strUuid);
    mapBind.insert(QStringLiteral("w_at"), mapNote.value(QStringLiteral("updated_at")).toString());
    QString strCompared;
    if (mapCompared.contains(QStringLiteral("sync_state"))
        && mapCompared.contains(QStringLiteral("updated_at"))) {
        // A change saved here after the comparison read the note, whatever its time: the
        // comparison never saw it, and no copy keeps it. It stays pending; the next
        // comparison decides, and keeps it as a copy should it lose.
        if (mapCompared.value(QStringLiteral("sync_state")).toInt() == 1) {
            QVariantMap mapVersion = mapCompared;
            mapVersion.insert(QStringLiteral("uuid"), strUuid);
            if (mapCompared.value(QStringLiteral("content_size")).toInt() <= 0)
                mapVersion.insert(QStringLiteral("md5"), QString());
            strCompared = QStringLiteral(" AND (IFNULL(sync_state, 0) != 1 OR (%1))")
                              .arg(versionCondition(mapVersion, mapBind));
        } else {
            strCompared = QStringLiteral(" AND IFNULL(sync_state, 0) != 1");
        }
    }
    return prepared(QStringLiteral("UPDATE note SET %1 WHERE uuid = :w_uuid"
                                   " AND NOT (IFNULL(sync_state, 0) = 1 AND updated_at > :w_at)%2")
                        .arg(lstSet.join(QStringLiteral(", ")), strCompared),
                    mapBind);
}

QString CDbMgt::getDayNoteCount(const QDate &dt, int nUserId)
{
    if (nUserId >= 1)
        return query(kDayCountUser.arg(day(dt), QString::number(nUserId), kLive));
    return query(kDayCountNobody.arg(day(dt), kLive));
}

QString CDbMgt::getDayNoteCountByMonth(const QDate &dt, int nUserId)
{
    const QDate dtFirst = firstDay(dt);
    const QDate dtNext = dtFirst.addMonths(1);
    if (nUserId >= 1)
        return query(
            kMonthCountUser.arg(day(dtFirst), day(dtNext), QString::number(nUserId), kLive));
    return query(kMonthCountNobody.arg(day(dtFirst), day(dtNext), kLive));
}

QString CDbMgt::getNoteIdList(int nUserId)
{
    return query(
        QStringLiteral("SELECT id, server_id FROM note WHERE user_id = %1 AND server_id > 0")
            .arg(nUserId));
}

QString CDbMgt::deleteNoteItemsInServerByMonth(const QDate &dt, int nUserId)
{
    const QDate dtFirst = firstDay(dt);
    const QDate dtNext = dtFirst.addMonths(1);
    return query(
        kMonthServerDeletion.arg(day(dtFirst), day(dtNext), QString::number(nUserId), kLive));
}

void CDbMgt::updateNoteUserId(int nUserId)
{
    query(QStringLiteral("UPDATE note SET user_id = %1 WHERE user_id IS NULL OR user_id <= 0")
              .arg(nUserId));
}

QString CDbMgt::clearNoteItemsByUserId(int nUserId)
{
    if (nUserId < 1)
        return QString();
    return query(QStringLiteral("DELETE FROM note WHERE user_id = %1").arg(nUserId));
}

void CDbMgt::clearDb()
{
    query(QStringLiteral("DELETE FROM note"));
    query(QStringLiteral("DELETE FROM log"));
    query(QStringLiteral("DELETE FROM user"));
}

// Log entries wait here and are written together: right after the next write queued
// (in its transaction when it is a synchronised page), or after kLogFlushMs. One commit
// for many entries instead of one each.
void CDbMgt::saveLog(const QVariantMap &map)
{
    QVariantMap mapSpec = spec(QStringLiteral("log"), map);
    m_lstLogStatements << logStatement(buildInsertPrepared(mapSpec),
                                       mapSpec.value(QStringLiteral("data")).toMap());
    // The log is bounded: trimmed at start and after every so many entries.
    if (++m_nLogWrites % CThreadDb::kLogTrimEvery == 0)
        trimLog();
    if (!m_timerLog.isActive())
        m_timerLog.start();
}

void CDbMgt::trimLog()
{
    const QVariantMap mapCutoff{{QStringLiteral("cutoff"), CThreadDb::logCutoff()}};
    m_lstLogStatements << logStatement(CThreadDb::kLogTrimByAge, mapCutoff)
                       << logStatement(CThreadDb::kLogTrimByCount, QVariantMap());
    if (!m_timerLog.isActive())
        m_timerLog.start();
}

QVariantMap CDbMgt::logStatement(const QString &strSql, const QVariantMap &mapData)
{
    return QVariantMap{{QStringLiteral("sql_prepare"), strSql},
                       {QStringLiteral("sql_data"), mapData}};
}

void CDbMgt::flushLog()
{
    m_timerLog.stop();
    if (m_lstLogStatements.isEmpty())
        return;
    QVariantMap mapRequest = request(QStringLiteral("batch"));
    // The log is no user's data: its commit need not wait for the disk.
    mapRequest.insert(QStringLiteral("relaxed"), true);
    mapRequest.insert(QStringLiteral("statements"), m_lstLogStatements);
    m_lstLogStatements.clear();
    m_threadDb.addRequest(mapRequest);
}

QString CDbMgt::send(const QVariantMap &mapRequest)
{
    const QString strUuid = m_threadDb.addRequest(mapRequest);
    // The log entries waiting go right behind a write (not before it: a write that finds
    // the file lost must be the one that fails, and be said so).
    if (!m_lstLogStatements.isEmpty() && CThreadDb::isWrite(mapRequest))
        flushLog();
    return strUuid;
}

QString CDbMgt::getNoteItemsByUuids(const QStringList &lstUuids)
{
    QVariantMap mapBind;
    QStringList lstMarks;
    for (int i = 0; i < lstUuids.size(); ++i) {
        const QString strName = QStringLiteral("u%1").arg(i);
        mapBind.insert(strName, lstUuids.at(i));
        lstMarks << QLatin1Char(':') + strName;
    }
    if (lstMarks.isEmpty())
        lstMarks << QStringLiteral("NULL");
    QString strSql = QStringLiteral("SELECT %1 FROM note WHERE uuid IN (%2)")
                         .arg(kSyncColumns, lstMarks.join(QLatin1Char(',')));
    if (m_nUserId >= 1)
        strSql += QStringLiteral(" AND user_id = %1").arg(m_nUserId);
    else
        strSql += QStringLiteral(" AND (user_id = 0 OR user_id IS NULL OR user_id = -1)");
    return prepared(strSql, mapBind);
}

QString CDbMgt::getChangeCursor(int nUserId, const QString &strServiceUrl, int nServerUserId)
{
    return prepared(QStringLiteral("SELECT cursor, walk_top, walk_before, check_uuid, check_change"
                                   " FROM change_cursor"
                                   " WHERE user_id = :user_id AND service_url = :service_url"
                                   " AND server_user_id = :server_user_id"),
                    {{QStringLiteral("user_id"), nUserId},
                     {QStringLiteral("service_url"), strServiceUrl},
                     {QStringLiteral("server_user_id"), nServerUserId}});
}

QString CDbMgt::getWantedTexts()
{
    return query(QStringLiteral("SELECT uuid FROM note WHERE sync_state = 3 AND user_id = %1"
                                " ORDER BY updated_at DESC")
                     .arg(m_nUserId));
}

QString CDbMgt::forgetWantedText(const QString &strUuid)
{
    if (strUuid.isEmpty())
        return QString();
    return prepared(QStringLiteral("UPDATE note SET sync_state = 0 WHERE uuid = :uuid"
                                   " AND sync_state = 3"),
                    {{QStringLiteral("uuid"), strUuid}});
}

QString CDbMgt::storeServiceNotes(const QVariantList &lstNew,
                                  const QVariantMap &mapCursor,
                                  const QStringList &lstWanted)
{
    // A position without the service's check has none (NULL and 0).
    auto withCheck = [](QVariantMap map) {
        if (!map.contains(QStringLiteral("check_uuid")))
            map.insert(QStringLiteral("check_uuid"), QVariant(QVariant::String));
        if (!map.contains(QStringLiteral("check_change")))
            map.insert(QStringLiteral("check_change"), 0);
        return map;
    };
    auto statement = [](const QString &strSql, const QVariantMap &mapData) {
        return QVariantMap{{QStringLiteral("sql_prepare"), strSql},
                           {QStringLiteral("sql_data"), mapData}};
    };
    static const QRegularExpression kColumnName(QStringLiteral("^[a-z_0-9]+$"));
    QVariantList lstStatements;
    for (const QVariant &note : lstNew) {
        QVariantMap mapNote = note.toMap();
        if (mapNote.value(QStringLiteral("uuid")).toString().isEmpty())
            continue;
        // The visible text is left to the store's background pass, after the download
        // (searches read a note without one from its rich text meanwhile).
        mapNote.remove(QStringLiteral("plain_text"));
        QStringList lstColumns;
        QStringList lstValues;
        for (auto it = mapNote.cbegin(); it != mapNote.cend(); ++it) {
            // Column names are the program's own: only plain names pass.
            if (!kColumnName.match(it.key()).hasMatch())
                continue;
            lstColumns << it.key();
            lstValues << QLatin1Char(':') + it.key();
        }
        mapNote.insert(QStringLiteral("uuid_taken"), mapNote.value(QStringLiteral("uuid")));
        lstStatements << statement(QStringLiteral("INSERT INTO note (%1) SELECT %2 WHERE NOT EXISTS"
                                                  " (SELECT 1 FROM note WHERE uuid = :uuid_taken)")
                                       .arg(lstColumns.join(QLatin1Char(',')),
                                            lstValues.join(QLatin1Char(','))),
                                   mapNote);
    }
    // Not over a change made here meanwhile: that one goes to the service first.
    for (const QString &strUuid : lstWanted)
        lstStatements << statement(QStringLiteral(
                                       "UPDATE note SET sync_state = 3 WHERE uuid = :uuid"
                                       " AND IFNULL(sync_state, 0) = 0"),
                                   {{QStringLiteral("uuid"), strUuid}});
    if (!mapCursor.isEmpty())
        lstStatements << statement(
            QStringLiteral("INSERT INTO change_cursor (user_id, service_url, server_user_id,"
                           " cursor, walk_top, walk_before, check_uuid, check_change) VALUES"
                           " (:user_id, :service_url, :server_user_id, :cursor, :walk_top,"
                           " :walk_before, :check_uuid, :check_change)"
                           " ON CONFLICT (user_id, service_url, server_user_id) DO UPDATE SET"
                           " cursor = excluded.cursor, walk_top = excluded.walk_top,"
                           " walk_before = excluded.walk_before, check_uuid = excluded.check_uuid,"
                           " check_change = excluded.check_change"),
            withCheck(mapCursor));
    // The log entries so far go in the same transaction.
    lstStatements = m_lstLogStatements + lstStatements;
    m_lstLogStatements.clear();
    m_timerLog.stop();
    QVariantMap mapRequest = request(QStringLiteral("batch"));
    // A page of the service's notes can be fetched again: its commit does not wait for the
    // disk (the write-ahead log still keeps the file whole, and the position reached is
    // in the same transaction as the notes).
    mapRequest.insert(QStringLiteral("relaxed"), true);
    mapRequest.insert(QStringLiteral("statements"), lstStatements);
    return send(mapRequest);
}

QString CDbMgt::queryPrepared(const QString &strSql, const QVariantMap &mapData)
{
    return prepared(strSql, mapData);
}

QString CDbMgt::backupTo(const QString &strFile)
{
    // VACUUM INTO runs on the worker's own connection, which holds the exclusive lock:
    // the copy is a finished database, whatever is queued before or after it.
    return prepared(QStringLiteral("VACUUM INTO :file"), {{QStringLiteral("file"), strFile}});
}

QString CDbMgt::importNotes(const QVariantList &lstNew, const QVariantList &lstChanged)
{
    auto statement = [](const QString &strSql, const QVariantMap &mapData) {
        return QVariantMap{{QStringLiteral("sql_prepare"), strSql},
                           {QStringLiteral("sql_data"), mapData}};
    };
    QVariantList lstStatements;
    for (const QVariant &note : lstChanged) {
        QVariantMap mapNote = note.toMap();
        const bool bAsRead = mapNote.contains(QStringLiteral("read_updated_at"));
        const QVariantMap mapRead{{QStringLiteral("read_updated_at"),
                                   mapNote.take(QStringLiteral("read_updated_at")).toString()},
                                  {QStringLiteral("read_md5"),
                                   mapNote.take(QStringLiteral("read_md5")).toString()}};
        fillContentDigest(mapNote);
        withPlainText(mapNote);
        QVariantMap mapSpec;
        mapSpec.insert(QStringLiteral("table"), kNoteTable);
        mapSpec.insert(QStringLiteral("where"),
                       QVariantMap{{QStringLiteral("uuid"), mapNote.take(QStringLiteral("uuid"))}});
        mapSpec.insert(QStringLiteral("data"), mapNote);
        QVariantMap mapBind = mapNote;
        if (bAsRead) {
            mapSpec.insert(QStringLiteral("and_where"),
                           QStringLiteral("IFNULL(updated_at, '') = IFNULL(:read_updated_at, '')"
                                          " AND IFNULL(md5, '') = IFNULL(:read_md5, '')"));
            mapBind.insert(mapRead);
        }
        lstStatements << statement(buildUpdatePrepared(mapSpec, m_setNumericField), mapBind);
    }
    for (const QVariant &note : lstNew) {
        QVariantMap mapNote = note.toMap();
        const QVariant updatedAt = mapNote.take(QStringLiteral("updated_at"));
        fillContentDigest(mapNote);
        withPlainText(mapNote);
        QVariantMap mapSpec = spec(kNoteTable, mapNote);
        addNow(mapSpec);
        const QString strSql = buildInsertPrepared(mapSpec);
        lstStatements << statement(strSql, mapSpec.value(QStringLiteral("data")).toMap());
        // The insert stamps the note as changed now; an imported note keeps its own time.
        if (!updatedAt.toString().isEmpty())
            lstStatements << statement(QStringLiteral("UPDATE note SET updated_at = :updated_at"
                                                      " WHERE uuid = :uuid"),
                                       {{QStringLiteral("updated_at"), updatedAt},
                                        {QStringLiteral("uuid"),
                                         mapNote.value(QStringLiteral("uuid"))}});
    }
    QVariantMap mapRequest = request(QStringLiteral("batch"));
    mapRequest.insert(QStringLiteral("statements"), lstStatements);
    return send(mapRequest);
}

void CDbMgt::setClock(std::function<QString()> clock)
{
    m_clock = std::move(clock);
}

void CDbMgt::addNow(QVariantMap &mapSpec) const
{
    if (m_clock)
        mapSpec.insert(QStringLiteral("now"), m_clock());
}

QString CDbMgt::query(const QString &strSql)
{
    QVariantMap mapRequest = request(QStringLiteral("query"));
    mapRequest.insert(QStringLiteral("sql"), strSql);
    return send(mapRequest);
}

QString CDbMgt::prepared(const QString &strSql, const QVariantMap &mapData)
{
    QVariantMap mapRequest = request(QStringLiteral("query"));
    mapRequest.insert(QStringLiteral("sql_prepare"), strSql);
    mapRequest.insert(QStringLiteral("sql_data"), mapData);
    return send(mapRequest);
}

// An insert of a new note; the request's values include the "uuid" and "updated_at" that
// the builder adds, and the result carries the new row's "id".
QVariantMap CDbMgt::preparedInsert(QVariantMap mapNote, const QString &strNow) const
{
    withPlainText(mapNote);
    QVariantMap mapSpec = spec(kNoteTable, mapNote);
    if (strNow.isEmpty())
        addNow(mapSpec);
    else
        mapSpec.insert(QStringLiteral("now"), strNow);
    QVariantMap mapRequest = request(QStringLiteral("query"));
    mapRequest.insert(QStringLiteral("sql_prepare"), buildInsertPrepared(mapSpec));
    mapRequest.insert(QStringLiteral("sql_data"), mapSpec.value(QStringLiteral("data")));
    mapRequest.insert(QStringLiteral("return_id"), 1);
    return mapRequest;
}
