#include "changefeed.h"

#include "dbmgt.h"
#include "kelpolog.h"
#include "netmgt.h"
#include "noterecord.h"
#include "protocol.h"
#include "sqlbuilder.h"
#include "syncengine.h"

#include <QDate>
#include <QSet>
#include <QUuid>

using namespace NoteRecord;

namespace {

const QString kPosition = QStringLiteral("change_position");
const QString kPage = QStringLiteral("note_changes");
const QString kLocal = QStringLiteral("change_page_local");
const QString kStored = QStringLiteral("change_page_stored");
const QString kShown = QStringLiteral("change_page_shown");
const QString kUnwalked = QStringLiteral("change_walk_local");

// A member of an answer that must be a whole number from 0 on; -1 when it is not.
qint64 wholeNumber(const QVariantMap &map, const QString &strKey)
{
    const QVariant var = map.value(strKey);
    if (!var.isValid())
        return -1;
    bool bOk = false;
    const double d = var.toDouble(&bOk);
    if (!bOk || d < 0 || d != double(qint64(d)))
        return -1;
    return qint64(d);
}

} // namespace

CChangeFeed::CChangeFeed(CSyncHost &host, CSyncEngine &engine, QObject *parent)
    : QObject(parent)
    , m_host(host)
    , m_engine(engine)
{}

QStringList CChangeFeed::resultTypes()
{
    return {kPosition, kPage, kLocal, kStored, kShown, kUnwalked};
}

QVariantMap CChangeFeed::context(const QString &strType, const QVariantMap &mapData) const
{
    QVariantMap map = mapData;
    map.insert(QStringLiteral("generation"), m_nGeneration);
    return {{QStringLiteral("type"), strType},
            {QStringLiteral("date"), currentTimeString()},
            {QStringLiteral("data"), map},
            {QStringLiteral("user_id"), m_host.localUserId()}};
}

void CChangeFeed::reset()
{
    ++m_nGeneration;
    stop();
}

void CChangeFeed::stop()
{
    m_state = State::Idle;
    m_bAgain = false;
    m_nAheadBefore = 0;
    m_bAheadArrived = false;
    m_mapAhead.clear();
    m_bWholeWalk = false;
    m_setWalked.clear();
}

void CChangeFeed::run()
{
    if (m_host.localUserId() <= 0 || m_host.serverUserId() <= 0)
        return;
    if (m_state != State::Idle) {
        m_bAgain = true;
        return;
    }
    m_bAgain = false;
    ++m_nRun;
    m_strServiceUrl = m_host.serviceUrl();
    m_nServerUserId = m_host.serverUserId();
    const QString strRequest = m_host.store().getChangeCursor(m_host.localUserId(),
                                                              m_strServiceUrl,
                                                              m_nServerUserId);
    if (strRequest.isEmpty())
        return;
    m_state = State::ReadingPosition;
    m_host.track(strRequest, context(kPosition, QVariantMap()));
}

void CChangeFeed::fetchPage()
{
    const QString strRequest = m_host.service().getNoteChanges(m_nCursor,
                                                               m_nBefore,
                                                               kPageSize,
                                                               kContentLimit,
                                                               m_strCheckUuid,
                                                               m_nCheckChange);
    if (strRequest.isEmpty()) {
        stop();
        return;
    }
    m_state = State::Fetching;
    m_host.track(strRequest, context(kPage, {{QStringLiteral("run"), m_nRun}}));
}

void CChangeFeed::fetchAhead(qint64 nBefore)
{
    const QString strRequest = m_host.service().getNoteChanges(m_nCursor,
                                                               nBefore,
                                                               kPageSize,
                                                               kContentLimit,
                                                               m_strCheckUuid,
                                                               m_nCheckChange);
    if (strRequest.isEmpty())
        return;
    m_nAheadBefore = nBefore;
    m_bAheadArrived = false;
    m_mapAhead.clear();
    m_host.track(strRequest,
                 context(kPage,
                         {{QStringLiteral("run"), m_nRun}, {QStringLiteral("ahead"), nBefore}}));
}

bool CChangeFeed::handle(CRequestResult &r)
{
    if (r.mapData.value(QStringLiteral("generation")).toInt() != m_nGeneration)
        return false; // a run of an earlier login
    if (r.strType == kShown) {
        // The page's new notes as the lists show them, and the days they fill.
        QSet<QString> setMonths;
        for (const QVariant &var : qAsConst(r.lstRows)) {
            QVariantMap mapNote = var.toMap();
            setMonths.insert(mapNote.value(QStringLiteral("set_at")).toString().left(7));
            fillDisplayFields(mapNote);
            m_host.noteShown(mapNote);
        }
        for (const QString &strMonth : qAsConst(setMonths)) {
            const QDate dt = QDate::fromString(strMonth + QStringLiteral("-01"),
                                               QStringLiteral("yyyy-MM-dd"));
            if (dt.isValid())
                m_host.monthChanged(dt);
        }
        return true;
    }
    if (r.strType == kUnwalked) {
        const QSet<QString> setWalked = std::move(m_setWalkedDone);
        m_setWalkedDone.clear();
        for (const QVariant &var : qAsConst(r.lstRows)) {
            const QString strUuid = var.toMap().value(QStringLiteral("uuid")).toString();
            if (!setWalked.contains(strUuid))
                m_engine.lookUpNote(strUuid);
        }
        return true;
    }
    if (r.strType == kPosition) {
        if (m_state != State::ReadingPosition)
            return false;
        const QVariantMap mapRow = r.lstRows.value(0).toMap();
        m_nCursor = mapRow.value(QStringLiteral("cursor")).toLongLong();
        m_nTop = mapRow.value(QStringLiteral("walk_top")).toLongLong();
        m_nBefore = mapRow.value(QStringLiteral("walk_before")).toLongLong();
        m_strCheckUuid = mapRow.value(QStringLiteral("check_uuid")).toString();
        m_nCheckChange = mapRow.value(QStringLiteral("check_change")).toLongLong();
        m_strTopCheckUuid.clear();
        m_nTopCheckChange = 0;
        m_nDone = 0;
        m_nTotal = 0;
        // (A walk resumed after a restart knows only its own pages: it looks nothing up.)
        m_bWholeWalk = m_nCursor == 0 && m_nBefore == 0;
        m_setWalked.clear();
        fetchPage();
    } else if (r.strType == kPage) {
        if (r.mapData.value(QStringLiteral("run")).toInt() != m_nRun)
            return false;
        const qint64 nAhead = r.mapData.value(QStringLiteral("ahead")).toLongLong();
        if (nAhead > 0) {
            if (nAhead != m_nAheadBefore)
                return false;
            if (m_state == State::Fetching && m_nBefore == nAhead) {
                m_nAheadBefore = 0;
                comparePage(r.mapReply);
            } else {
                // Kept until the page before it is stored.
                m_mapAhead = r.mapReply;
                m_bAheadArrived = true;
            }
            return true;
        }
        if (m_state != State::Fetching)
            return false;
        comparePage(r.mapReply);
    } else if (r.strType == kLocal) {
        if (m_state != State::Comparing)
            return false;
        // The page's notes that are here already are compared like every other copy of
        // the service's; the others are added together with the position reached.
        QHash<QString, QVariantMap> hashLocal;
        for (const QVariant &var : qAsConst(r.lstRows)) {
            const QVariantMap mapRow = var.toMap();
            hashLocal.insert(mapRow.value(QStringLiteral("uuid")).toString(), mapRow);
        }
        QVariantList lstNew;
        QSet<QString> setNew;
        QStringList lstWanted;
        for (const QVariant &var : r.mapData.value(QStringLiteral("notes")).toList()) {
            const QVariantMap mapServer = var.toMap();
            const QString strUuid = mapServer.value(QStringLiteral("uuid")).toString();
            const auto it = hashLocal.constFind(strUuid);
            if (it != hashLocal.constEnd()) {
                // A later text that did not come with the page is fetched on its own; until
                // it is here, it stays wanted with the position that goes past its change.
                // (Not for a change made here that the service does not have: that text
                // leaves only through the comparison, which keeps it as a copy first.)
                const QVariantMap &mapLocal = it.value();
                if (!isTombstone(mapServer) && lacksText(mapServer)
                    && !CSyncEngine::hasOwnChange(mapLocal)
                    && textDigest(mapLocal) != textDigest(mapServer)
                    && mapLocal.value(QStringLiteral("updated_at")).toString()
                           < mapServer.value(QStringLiteral("updated_at")).toString())
                    lstWanted << strUuid;
                m_engine.compareItem(mapLocal, mapServer);
                continue;
            }
            if (isTombstone(mapServer) || setNew.contains(strUuid))
                continue;
            QVariantMap map = mapServer;
            convertServerItem(map, m_host.localUserId());
            if (lacksText(map)) {
                map.remove(QStringLiteral("content"));
            } else {
                prepare(map);
                fillContentDigest(map);
            }
            normaliseSetAt(map);
            // The note keeps the service's time of change and counts as the service's.
            map.insert(QStringLiteral("updated_at"), mapServer.value(QStringLiteral("updated_at")));
            map.insert(QStringLiteral("deleted"), 0);
            map.insert(QStringLiteral("sync_state"), 0);
            // The base of the next change made here.
            map.insert(QStringLiteral("base_updated_at"), map.value(QStringLiteral("updated_at")));
            map.insert(QStringLiteral("base_md5"), textDigest(mapServer));
            setNew.insert(strUuid);
            lstNew << map;
        }
        const qint64 nNextBefore = r.mapData.value(QStringLiteral("next_before")).toLongLong();
        const bool bDone = nNextBefore <= 0;
        const QVariantMap mapPosition{{QStringLiteral("user_id"), m_host.localUserId()},
                                      {QStringLiteral("service_url"), m_strServiceUrl},
                                      {QStringLiteral("server_user_id"), m_nServerUserId},
                                      {QStringLiteral("cursor"), bDone ? m_nTop : m_nCursor},
                                      {QStringLiteral("walk_top"), bDone ? 0 : m_nTop},
                                      {QStringLiteral("walk_before"), bDone ? 0 : nNextBefore},
                                      {QStringLiteral("check_uuid"),
                                       bDone ? m_strTopCheckUuid : m_strCheckUuid},
                                      {QStringLiteral("check_change"),
                                       bDone ? m_nTopCheckChange : m_nCheckChange}};
        const QString strRequest = m_host.store().storeServiceNotes(lstNew, mapPosition, lstWanted);
        if (strRequest.isEmpty()) {
            stop();
            return true;
        }
        m_state = State::Storing;
        m_host.track(strRequest,
                     context(kStored,
                             {{QStringLiteral("new_uuids"), QStringList(setNew.values())},
                              {QStringLiteral("count"),
                               r.mapData.value(QStringLiteral("notes")).toList().size()},
                              {QStringLiteral("next_before"), nNextBefore}}));
    } else if (r.strType == kStored) {
        if (m_state != State::Storing)
            return false;
        pageStored(r);
    }
    return true;
}

void CChangeFeed::comparePage(const QVariantMap &mapReply)
{
    const qint64 nLast = wholeNumber(mapReply, Protocol::Field::kLastChange);
    const qint64 nRemaining = wholeNumber(mapReply, Protocol::Field::kRemaining);
    const qint64 nNextBefore = wholeNumber(mapReply, Protocol::Field::kBefore);
    const QVariant varNotes = mapReply.value(Protocol::Field::kNotes);
    // The walk goes down only: an answer that would not move it on is no answer.
    if (nLast < 0 || nRemaining < 0 || nNextBefore < 0 || varNotes.type() != QVariant::List
        || (nNextBefore > 0 && m_nBefore > 0 && nNextBefore >= m_nBefore)
        || (nNextBefore > 0 && nNextBefore <= m_nCursor)) {
        qCWarning(lcNote) << "The service's list of changes is not usable; tried again later.";
        stop();
        return;
    }
    const bool bRestored = mapReply.value(Protocol::Field::kRestored).toBool();
    if (nLast < m_nCursor || (bRestored && m_nCursor > 0)) {
        // The service counts lower than what was seen, or no longer holds the note it named
        // with that count: its database is not the one these numbers came from (restored
        // from an older copy, or replaced), and the numbers above the cursor may be other
        // changes than those followed. Everything is compared again.
        qCWarning(lcNote) << "The service's changes are not those followed up to" << m_nCursor
                          << "(its latest is" << nLast
                          << (bRestored ? "and its history was put back)" : ")")
                          << "; comparing every note again.";
        m_nCursor = 0;
        m_strCheckUuid.clear();
        m_nCheckChange = 0;
        m_strTopCheckUuid.clear();
        m_nTopCheckChange = 0;
        m_nTop = 0;
        m_nBefore = 0;
        m_nAheadBefore = 0;
        m_bAheadArrived = false;
        m_mapAhead.clear();
        // Notes acknowledged here that the restored service no longer holds come up
        // nowhere in its changes: they are looked up once the walk is done.
        m_bWholeWalk = true;
        m_setWalked.clear();
        fetchPage();
        return;
    }
    const QVariantList lstNotes = varNotes.toList();
    QStringList lstUuids;
    for (const QVariant &var : lstNotes) {
        const QVariantMap mapNote = var.toMap();
        QString strError;
        // A note that cannot be read would be skipped for good once the position moves
        // past it: the page counts as not answered.
        if (!isValidServerNote(mapNote, &strError)
            || mapNote.value(QStringLiteral("uuid")).toString().isEmpty()) {
            qCWarning(lcNote) << "A note of the service's changes is not usable:"
                              << (strError.isEmpty() ? QStringLiteral("no UUID") : strError);
            stop();
            return;
        }
        if (mapNote.value(QStringLiteral("user_id")).toInt() != m_nServerUserId) {
            stop();
            return;
        }
        lstUuids << mapNote.value(QStringLiteral("uuid")).toString();
    }
    if (m_bWholeWalk) {
        for (const QString &strUuid : qAsConst(lstUuids))
            m_setWalked.insert(strUuid);
    }
    if (m_nTop <= 0)
        m_nTop = nLast;
    // The note the service names with the walk's top becomes the check of the next cursor.
    const QString strCheckUuid = mapReply.value(Protocol::Field::kCheckUuid).toString();
    const qint64 nCheckChange = wholeNumber(mapReply, Protocol::Field::kCheckChange);
    if (nLast == m_nTop && m_strTopCheckUuid.isEmpty() && nCheckChange > 0
        && !QUuid(strCheckUuid).isNull()) {
        m_strTopCheckUuid = strCheckUuid;
        m_nTopCheckChange = nCheckChange;
    }
    // The service answers the next page while this one is compared and stored.
    if (nNextBefore > 0)
        fetchAhead(nNextBefore);
    m_nTotal = m_nDone + int(qMin<qint64>(nRemaining, 1 << 30));
    m_state = State::Comparing;
    m_host.track(m_host.store().getNoteItemsByUuids(lstUuids),
                 context(kLocal,
                         {{QStringLiteral("notes"), lstNotes},
                          {QStringLiteral("next_before"), nNextBefore}}));
}

void CChangeFeed::pageStored(CRequestResult &r)
{
    if (r.mapResult.contains(QStringLiteral("error"))) {
        stop();
        return;
    }
    const QStringList lstNew = r.mapData.value(QStringLiteral("new_uuids")).toStringList();
    if (!lstNew.isEmpty())
        m_host.track(m_host.store().getNoteItemsByUuids(lstNew), context(kShown, QVariantMap()));
    m_nDone += r.mapData.value(QStringLiteral("count")).toInt();
    m_nTotal = qMax(m_nTotal, m_nDone);
    const qint64 nNextBefore = r.mapData.value(QStringLiteral("next_before")).toLongLong();
    if (nNextBefore > 0) {
        emit progress(m_nDone, m_nTotal);
        m_nBefore = nNextBefore;
        if (m_nAheadBefore != nNextBefore) {
            fetchPage();
        } else if (m_bAheadArrived) {
            const QVariantMap mapAhead = m_mapAhead;
            m_nAheadBefore = 0;
            m_bAheadArrived = false;
            m_mapAhead.clear();
            m_state = State::Fetching;
            comparePage(mapAhead);
        } else {
            // Its answer is on its way.
            m_state = State::Fetching;
        }
        return;
    }
    m_nTotal = m_nDone;
    // A run that found nothing has nothing to tell.
    if (m_nTotal > 0)
        emit progress(m_nDone, m_nTotal);
    m_nCursor = m_nTop;
    m_strCheckUuid = m_strTopCheckUuid;
    m_nCheckChange = m_nTopCheckChange;
    m_strTopCheckUuid.clear();
    m_nTopCheckChange = 0;
    m_nTop = 0;
    m_nBefore = 0;
    m_state = State::Idle;
    if (m_bWholeWalk)
        lookUpUnwalked();
    emit finished();
    if (m_bAgain)
        run();
}

void CChangeFeed::lookUpUnwalked()
{
    m_bWholeWalk = false;
    const QString strRequest = m_host.store().getSettledNoteUuids();
    if (strRequest.isEmpty())
        return;
    m_setWalkedDone = std::move(m_setWalked);
    m_setWalked.clear();
    m_host.track(strRequest, context(kUnwalked, QVariantMap()));
}

void CChangeFeed::handleError(CRequestResult &r)
{
    if (r.mapData.value(QStringLiteral("generation")).toInt() != m_nGeneration)
        return;
    if (r.strType != kShown)
        stop();
}
