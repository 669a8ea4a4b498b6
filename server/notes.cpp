#include "notes.h"

#include "notejson.h"
#include "protocol.h"
#include "serverdb.h"
#include "validation.h"

#include <QCryptographicHash>
#include <QDate>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariantMap>

namespace {

QString likePattern(const QString &strText)
{
    QString str = strText;
    str.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    str.replace(QLatin1Char('%'), QLatin1String("\\%"));
    str.replace(QLatin1Char('_'), QLatin1String("\\_"));
    return QLatin1Char('%') + str + QLatin1Char('%');
}

} // namespace

// The note columns a request gives, checked. Content size and digest are always
// derived here from the content, so that equal digests mean equal texts.
struct CNotes::CNoteFields
{
    QString m_strUuid;
    QString m_strSetAt, m_strCreatedAt, m_strUpdatedAt;
    bool m_bHasTitle = false;
    QString m_strTitle;
    bool m_bHasContent = false;
    QString m_strContent;
    int m_nDeleted = -1; // -1: not given

    // Columns to write besides uuid, with their values.
    QVariantMap columns() const
    {
        QVariantMap map;
        if (!m_strSetAt.isEmpty())
            map.insert(QStringLiteral("set_at"), m_strSetAt);
        if (!m_strCreatedAt.isEmpty())
            map.insert(QStringLiteral("created_at"), m_strCreatedAt);
        if (!m_strUpdatedAt.isEmpty())
            map.insert(QStringLiteral("updated_at"), m_strUpdatedAt);
        if (m_nDeleted == 1) {
            // A tombstone keeps no text.
            map.insert(QStringLiteral("deleted"), 1);
            map.insert(QStringLiteral("title"), QLatin1String(""));
            map.insert(QStringLiteral("content"), QLatin1String(""));
            map.insert(QStringLiteral("content_size"), 0);
            map.insert(QStringLiteral("md5"), QLatin1String(""));
            return map;
        }
        // A newer text for a deleted note brings the note back rather than hide the
        // text in a tombstone.
        if (m_nDeleted == 0 || m_bHasContent)
            map.insert(QStringLiteral("deleted"), 0);
        if (m_bHasTitle)
            map.insert(QStringLiteral("title"), m_strTitle);
        if (m_bHasContent) {
            const QByteArray ba = m_strContent.toUtf8();
            map.insert(QStringLiteral("content"), m_strContent);
            map.insert(QStringLiteral("content_size"), ba.size());
            map.insert(QStringLiteral("md5"),
                       ba.isEmpty()
                           ? QString(QLatin1String(""))
                           : QString::fromLatin1(
                               QCryptographicHash::hash(ba, QCryptographicHash::Md5).toHex()));
        }
        return map;
    }
};

CNotes::CNotes(CServerDb &db)
    : m_db(db)
{}

// SQLite drops a byte order mark at the start of text bound as UTF-16, as Qt binds
// text: the note's text goes in as UTF-8 bytes and becomes text in the statement.
QString CNotes::placeholder(const QString &strColumn) const
{
    return strColumn == QLatin1String("content") && !m_db.isPostgres()
               ? QStringLiteral("CAST(? AS TEXT)")
               : QStringLiteral("?");
}

QVariant CNotes::bindable(const QString &strColumn, const QVariant &value) const
{
    return strColumn == QLatin1String("content") && !m_db.isPostgres()
               ? QVariant(value.toString().toUtf8())
               : value;
}

bool CNotes::parseNoteFields(const CServiceFields &fields,
                             CNoteFields &note,
                             QString &strError) const
{
    note.m_strUuid = fields.value(Protocol::Field::kUuid).trimmed();
    if (!note.m_strUuid.isEmpty() && !Validation::isUuid(note.m_strUuid)) {
        strError = QStringLiteral("\"uuid\" is not a UUID.");
        return false;
    }
    note.m_strUuid = Validation::normalUuid(note.m_strUuid);

    note.m_strSetAt = fields.value(Protocol::Field::kSetAt).trimmed();
    if (Validation::isDay(note.m_strSetAt))
        note.m_strSetAt += QStringLiteral(" 00:00:00");
    if (!note.m_strSetAt.isEmpty() && !Validation::isMoment(note.m_strSetAt)) {
        strError = QStringLiteral("\"set_at\" is not a day of the form yyyy-MM-dd hh:mm:ss.");
        return false;
    }
    for (const QString &strKey : {QStringLiteral("created_at"), QStringLiteral("updated_at")}) {
        const QString str = fields.value(strKey).trimmed();
        if (!str.isEmpty() && !Validation::isMoment(str)) {
            strError = QStringLiteral("\"%1\" is not a time of the form yyyy-MM-dd hh:mm:ss.")
                           .arg(strKey);
            return false;
        }
        (strKey == QLatin1String("created_at") ? note.m_strCreatedAt : note.m_strUpdatedAt) = str;
    }

    const QString strMd5 = fields.value(Protocol::Field::kMd5).trimmed();
    if (!strMd5.isEmpty() && !Validation::isHex(strMd5, 32)) {
        strError = QStringLiteral("\"md5\" is not a digest of 32 hexadecimal digits.");
        return false;
    }
    const QString strSize = fields.value(Protocol::Field::kContentSize).trimmed();
    bool bOk = true;
    const qint64 nSize = strSize.isEmpty() ? 0 : strSize.toLongLong(&bOk);
    if (!bOk || nSize < 0) {
        strError = QStringLiteral("\"content_size\" is not a size.");
        return false;
    }

    const QString strDeleted = fields.value(Protocol::Field::kDeleted).trimmed();
    if (strDeleted == QLatin1String("1"))
        note.m_nDeleted = 1;
    else if (strDeleted == QLatin1String("0"))
        note.m_nDeleted = 0;
    else if (!strDeleted.isEmpty()) {
        strError = QStringLiteral("\"deleted\" must be 0 or 1.");
        return false;
    }

    note.m_bHasTitle = fields.contains(Protocol::Field::kTitle);
    note.m_strTitle = fields.value(Protocol::Field::kTitle);
    note.m_bHasContent = fields.contains(Protocol::Field::kContent);
    note.m_strContent = fields.value(Protocol::Field::kContent);
    // An empty text with a size above 0 comes from a sender that has not fetched
    // the text yet: it must not wipe the stored one.
    if (note.m_bHasContent && note.m_strContent.isEmpty() && nSize > 0)
        note.m_bHasContent = false;
    return true;
}

void CNotes::replaceNoteItem(QSqlDatabase &db, const CServiceFields &fields, CServiceReply &reply)
{
    CNoteFields note;
    QString strError;
    if (!parseNoteFields(fields, note, strError))
        return reply.fail(strError);
    if (note.m_strSetAt.isEmpty())
        return reply.fail(QStringLiteral("A note needs its \"set_at\"."));

    // The values of a new note; an existing one takes only what was sent.
    QVariantMap mapChange = note.columns();
    QVariantMap mapNew = mapChange;
    if (!mapNew.contains(QStringLiteral("updated_at")))
        mapNew.insert(QStringLiteral("updated_at"), Validation::nowMoment());
    if (!mapNew.contains(QStringLiteral("created_at")))
        mapNew.insert(QStringLiteral("created_at"), mapNew.value(QStringLiteral("updated_at")));
    mapChange.insert(QStringLiteral("updated_at"), mapNew.value(QStringLiteral("updated_at")));

    QStringList lstColumns = {QStringLiteral("uuid"), QStringLiteral("user_id")};
    QVariantList lstValues = {note.m_strUuid.isEmpty() ? QVariant(QVariant::String)
                                                       : QVariant(note.m_strUuid),
                              reply.m_nUserId};
    QStringList lstPlaceholders = {QStringLiteral("?"), QStringLiteral("?")};
    for (auto it = mapNew.constBegin(); it != mapNew.constEnd(); ++it) {
        lstColumns << it.key();
        lstPlaceholders << placeholder(it.key());
        lstValues << bindable(it.key(), it.value());
    }
    QStringList lstSet;
    for (auto it = mapChange.constBegin(); it != mapChange.constEnd(); ++it)
        lstSet << QStringLiteral("%1 = excluded.%1").arg(it.key());

    QString strSql = QStringLiteral("INSERT INTO note (%1) VALUES (%2)")
                         .arg(lstColumns.join(QLatin1String(", ")),
                              lstPlaceholders.join(QLatin1String(", ")));
    if (!note.m_strUuid.isEmpty()) {
        // One statement decides between insert and newer-wins update, so that two
        // requests with one UUID at once still leave one note.
        strSql += QStringLiteral(" ON CONFLICT (uuid) DO UPDATE SET %1"
                                 " WHERE note.user_id = excluded.user_id"
                                 " AND note.updated_at <= excluded.updated_at")
                      .arg(lstSet.join(QLatin1String(", ")));
    }
    strSql += QStringLiteral(" RETURNING id");

    QSqlQuery query(db);
    qint64 nNoteId = 0;
    if (!m_db.execReturning(query, strSql, lstValues, nNoteId))
        return reply.dbFailure(m_db, query.lastError(), QStringLiteral("replace_note_item"));
    if (nNoteId > 0) {
        reply.m_obj = QJsonObject{{Protocol::Field::kNoteId, nNoteId},
                                  {Protocol::Field::kApplied, true}};
        return;
    }

    // Not written: the stored copy is newer, or the UUID is another user's.
    if (!m_db.execQuery(query,
                        QStringLiteral("SELECT id, user_id FROM note WHERE uuid = ?"),
                        {note.m_strUuid}))
        return reply.dbFailure(m_db, query.lastError(), QStringLiteral("replace_note_item"));
    if (!query.next())
        return reply.dbFailure(m_db, query.lastError(), QStringLiteral("replace_note_item"));
    if (query.value(1).toInt() != reply.m_nUserId)
        return reply.fail(QStringLiteral("This UUID belongs to a note of another account."));
    reply.m_obj = QJsonObject{{Protocol::Field::kNoteId, query.value(0).toLongLong()},
                              {Protocol::Field::kApplied, false}};
}

void CNotes::updateNoteItem(QSqlDatabase &db, const CServiceFields &fields, CServiceReply &reply)
{
    CNoteFields note;
    QString strError;
    if (!parseNoteFields(fields, note, strError))
        return reply.fail(strError);

    qint64 nNoteId = Validation::parseId(fields.value(Protocol::Field::kNoteId).trimmed());
    if (nNoteId == 0)
        nNoteId = Validation::parseId(fields.value(Protocol::Field::kId).trimmed());
    if (nNoteId < 0)
        return reply.fail(QStringLiteral("\"note_id\" is not a note id."));
    if (nNoteId == 0 && note.m_strUuid.isEmpty())
        return reply.fail(QStringLiteral("Give the note's \"note_id\" or \"uuid\"."));

    QSqlQuery query(db);
    const bool bById = nNoteId > 0;
    if (!m_db.execQuery(query,
                        QStringLiteral("SELECT id, uuid FROM note WHERE %1 = ? AND user_id = ?")
                            .arg(bById ? QStringLiteral("id") : QStringLiteral("uuid")),
                        {bById ? QVariant(nNoteId) : QVariant(note.m_strUuid), reply.m_nUserId}))
        return reply.dbFailure(m_db, query.lastError(), QStringLiteral("update_note_item"));
    if (!query.next())
        return reply.fail(Protocol::Error::kNoNote);
    nNoteId = query.value(0).toLongLong();
    const QString strStoredUuid = query.value(1).toString();
    query.finish();

    if (bById && !note.m_strUuid.isEmpty() && note.m_strUuid != strStoredUuid) {
        if (!strStoredUuid.isEmpty())
            return reply.fail(QStringLiteral("The note already has another UUID."));
        // Giving a note without UUID its UUID is always right.
        if (!m_db.execQuery(query,
                            QStringLiteral("UPDATE note SET uuid = ? WHERE id = ?"
                                           " AND (uuid IS NULL OR uuid = '')"),
                            {note.m_strUuid, nNoteId})) {
            const QSqlError error = query.lastError();
            if (m_db.execQuery(query,
                               QStringLiteral("SELECT 1 FROM note WHERE uuid = ?"),
                               {note.m_strUuid})
                && query.next())
                return reply.fail(QStringLiteral("Another note has this UUID."));
            return reply.dbFailure(m_db, error, QStringLiteral("update_note_item"));
        }
    }

    bool bApplied = true;
    QVariantMap mapChange = note.columns();
    if (!mapChange.isEmpty()) {
        if (note.m_strUpdatedAt.isEmpty())
            return reply.fail(QStringLiteral("A change needs its \"updated_at\"."));
        QStringList lstSet;
        QVariantList lstValues;
        for (auto it = mapChange.constBegin(); it != mapChange.constEnd(); ++it) {
            lstSet << it.key() + QStringLiteral(" = ") + placeholder(it.key());
            lstValues << bindable(it.key(), it.value());
        }
        lstValues << nNoteId << note.m_strUpdatedAt;
        if (!m_db.execQuery(query,
                            QStringLiteral("UPDATE note SET %1 WHERE id = ? AND updated_at <= ?")
                                .arg(lstSet.join(QLatin1String(", "))),
                            lstValues))
            return reply.dbFailure(m_db, query.lastError(), QStringLiteral("update_note_item"));
        bApplied = query.numRowsAffected() > 0;
    }
    reply.m_obj = QJsonObject{{Protocol::Field::kNoteId, nNoteId},
                              {Protocol::Field::kApplied, bApplied}};
}

void CNotes::getNoteListByMonth(QSqlDatabase &db, const CServiceFields &fields, CServiceReply &reply)
{
    bool bYear = false, bMonth = false;
    const int nYear = fields.value(Protocol::Field::kTimeYear).trimmed().toInt(&bYear);
    const int nMonth = fields.value(Protocol::Field::kTimeMonth).trimmed().toInt(&bMonth);
    if (!bYear || nYear < 1 || nYear > 9999)
        return reply.fail(QStringLiteral("\"time_year\" is not a year."));
    if (!bMonth || nMonth < 1 || nMonth > 12)
        return reply.fail(QStringLiteral("\"time_month\" is not a month from 1 to 12."));

    // The month's first and last moments: a bound in the next month would read
    // "10000-01-01" after December 9999, which sorts before every day of that year.
    const QDate dtFirst(nYear, nMonth, 1);
    const QString strFrom = dtFirst.toString(QStringLiteral("yyyy-MM-dd 00:00:00"));
    const QString strTo = dtFirst.addMonths(1).addDays(-1).toString(
        QStringLiteral("yyyy-MM-dd 23:59:59"));
    // QDate writes years below 1000 with fewer digits.
    auto padYear = [](QString str) {
        while (str.indexOf(QLatin1Char('-')) < 4)
            str.prepend(QLatin1Char('0'));
        return str;
    };

    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!m_db.execQuery(query,
                        QStringLiteral("SELECT %1 FROM note WHERE user_id = ? AND set_at >= ?"
                                       " AND set_at <= ? ORDER BY set_at, id")
                            .arg(NoteJson::noteColumns(m_db.isPostgres())),
                        {reply.m_nUserId, padYear(strFrom), padYear(strTo)},
                        true))
        return reply.dbFailure(m_db, query.lastError(), QStringLiteral("get_note_list_by_month"));
    NoteJson::appendNoteList(reply.m_baJson, query);
}

void CNotes::getNoteListByOffset(QSqlDatabase &db,
                                 const CServiceFields &fields,
                                 CServiceReply &reply)
{
    const QString strLimit = fields.value(Protocol::Field::kLimit).trimmed();
    const QString strOffset = fields.value(Protocol::Field::kOffset).trimmed();
    bool bOk = true;
    const int nLimit = strLimit.isEmpty() ? 50 : strLimit.toInt(&bOk);
    if (!bOk || nLimit < 1 || nLimit > 100)
        return reply.fail(QStringLiteral("\"limit\" must be a number from 1 to 100."));
    const int nOffset = strOffset.isEmpty() ? 0 : strOffset.toInt(&bOk);
    if (!bOk || nOffset < 0)
        return reply.fail(QStringLiteral("\"offset\" must be a number from 0 on."));

    QString strWhere = QStringLiteral("user_id = ?");
    QVariantList lstValues = {reply.m_nUserId};
    const QString strSearch = fields.value(Protocol::Field::kSearchString);
    if (!strSearch.isEmpty()) {
        // The text is matched literally: % and _ are no wildcards here.
        const QString strLike = m_db.isPostgres() ? QStringLiteral("ILIKE")
                                                  : QStringLiteral("LIKE");
        strWhere += QStringLiteral(" AND (title %1 ? ESCAPE '\\' OR content %1 ? ESCAPE '\\')")
                        .arg(strLike);
        lstValues << likePattern(strSearch) << likePattern(strSearch);
    } else {
        for (const QString &strKey : {QStringLiteral("start_time"), QStringLiteral("end_time")}) {
            QString str = fields.value(strKey).trimmed();
            if (str.isEmpty())
                continue;
            const bool bStart = strKey == QLatin1String("start_time");
            if (Validation::isDay(str))
                str += bStart ? QStringLiteral(" 00:00:00") : QStringLiteral(" 23:59:59");
            if (!Validation::isMoment(str))
                return reply.fail(
                    QStringLiteral("\"%1\" is not a time of the form yyyy-MM-dd hh:mm:ss.")
                        .arg(strKey));
            strWhere += bStart ? QStringLiteral(" AND updated_at >= ?")
                               : QStringLiteral(" AND updated_at <= ?");
            lstValues << str;
        }
    }
    lstValues << nLimit << nOffset;

    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!m_db.execQuery(query,
                        QStringLiteral("SELECT %1 FROM note WHERE %2"
                                       " ORDER BY updated_at DESC, id DESC LIMIT ? OFFSET ?")
                            .arg(NoteJson::noteColumns(m_db.isPostgres()), strWhere),
                        lstValues,
                        true))
        return reply.dbFailure(m_db, query.lastError(), QStringLiteral("get_note_list_by_offset"));
    NoteJson::appendNoteList(reply.m_baJson, query);
}

void CNotes::getNoteItem(QSqlDatabase &db, const CServiceFields &fields, CServiceReply &reply)
{
    qint64 nNoteId = Validation::parseId(fields.value(Protocol::Field::kNoteId).trimmed());
    if (nNoteId == 0)
        nNoteId = Validation::parseId(fields.value(Protocol::Field::kId).trimmed());
    const QString strUuid = Validation::normalUuid(fields.value(Protocol::Field::kUuid).trimmed());
    if (nNoteId < 0)
        return reply.fail(QStringLiteral("\"note_id\" is not a note id."));
    if (nNoteId == 0 && strUuid.isEmpty())
        return reply.fail(QStringLiteral("Give the note's \"note_id\" or \"uuid\"."));
    if (nNoteId == 0 && !Validation::isUuid(strUuid))
        return reply.fail(QStringLiteral("\"uuid\" is not a UUID."));

    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!m_db.execQuery(query,
                        QStringLiteral("SELECT %1 FROM note WHERE %2 = ? AND user_id = ?")
                            .arg(NoteJson::noteColumns(m_db.isPostgres()),
                                 nNoteId > 0 ? QStringLiteral("id") : QStringLiteral("uuid")),
                        {nNoteId > 0 ? QVariant(nNoteId) : QVariant(strUuid), reply.m_nUserId},
                        true))
        return reply.dbFailure(m_db, query.lastError(), QStringLiteral("get_note_item"));
    // An unknown note answers an empty object: nothing came back.
    if (query.next())
        NoteJson::appendNote(reply.m_baJson, query);
    else
        reply.m_obj = QJsonObject();
}
