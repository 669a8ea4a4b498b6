#include "notes.h"

#include "kelpolog.h"
#include "noteconflicts.h"
#include "notejson.h"
#include "protocol.h"
#include "serverdb.h"
#include "validation.h"

#include <QCryptographicHash>
#include <QDate>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QVector>

#include <atomic>
#include <cmath>
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

// What a note shows, roughly, without a text engine: the markup's text with its
// entities, no head, style, script or picture. Search looks at this, not at the markup.
QString visibleText(const QString &strContent)
{
    if (!strContent.contains(QLatin1Char('<')))
        return strContent;
    static const QRegularExpression reHidden(QStringLiteral("<(head|style|script)\\b.*?</\\1\\s*>"),
                                             QRegularExpression::CaseInsensitiveOption
                                                 | QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression reBreak(QStringLiteral("<(br|/p|/div|/li|/h\\d|/tr)\\b[^>]*>"),
                                            QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression reTag(QStringLiteral("<[a-zA-Z/!?][^>]*>"));
    static const QRegularExpression reEntity(
        QStringLiteral("&(#x[0-9a-fA-F]+|#[0-9]+|[a-zA-Z]+);"));
    QString str = strContent;
    str.remove(reHidden);
    str.replace(reBreak, QStringLiteral("\n"));
    str.remove(reTag);
    QString strOut;
    strOut.reserve(str.size());
    int nPos = 0;
    QRegularExpressionMatchIterator it = reEntity.globalMatch(str);
    while (it.hasNext()) {
        const QRegularExpressionMatch match = it.next();
        strOut += str.midRef(nPos, match.capturedStart() - nPos);
        const QString strName = match.captured(1);
        uint nCode = 0;
        if (strName.startsWith(QLatin1String("#x")))
            nCode = strName.midRef(2).toUInt(nullptr, 16);
        else if (strName.startsWith(QLatin1Char('#')))
            nCode = strName.midRef(1).toUInt();
        else if (strName == QLatin1String("lt"))
            nCode = '<';
        else if (strName == QLatin1String("gt"))
            nCode = '>';
        else if (strName == QLatin1String("amp"))
            nCode = '&';
        else if (strName == QLatin1String("quot"))
            nCode = '"';
        else if (strName == QLatin1String("apos"))
            nCode = '\'';
        else if (strName == QLatin1String("nbsp"))
            nCode = ' ';
        if (nCode > 0 && nCode <= 0x10FFFF)
            strOut += QString::fromUcs4(&nCode, 1);
        else
            strOut += match.captured(0);
        nPos = match.capturedEnd();
    }
    strOut += str.midRef(nPos);
    return strOut;
}

// The searched form of a text: case folded, so that one comparison is blind to case in
// every script on either database.
QString searchForm(const QString &strText)
{
    return strText.toCaseFolded();
}

// Whether the SQLite database has the trigram index (FTS5 may be missing).
std::atomic<bool> g_bFts{false};

// SQLite: the index query that gives the candidates of a text, when the index counts few
// of them (up to sqrt(rows wanted x notes), where the index and the walk by time cost the
// same); "" to walk. bNone: the index knows no note that can hold the text.
// - three characters or more: the notes holding all its trigrams;
// - one or two: every indexed text ends in two line breaks, so each of its characters
//   begins a trigram; the index's vocabulary gives those that begin with the text.
QString indexCandidates(QSqlDatabase &db, const QString &strFolded, int nWanted, bool &bNone)
{
    bNone = false;
    const QVector<uint> vecChars = strFolded.toUcs4();
    if (!g_bFts || vecChars.isEmpty())
        return QString();
    auto quoted = [](QString strTerm) {
        strTerm.replace(QLatin1Char('"'), QStringLiteral("\"\""));
        return QLatin1Char('"') + strTerm + QLatin1Char('"');
    };
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!query.exec(QStringLiteral("SELECT IFNULL(MAX(id), 0) FROM note")) || !query.next())
        return QString();
    const double dNotes = query.value(0).toDouble();
    query.finish();
    const qint64 nBound = qMax<qint64>(64, qint64(std::sqrt(double(qMax(1, nWanted)) * dNotes)));

    if (vecChars.size() < 3) {
        constexpr int kMaxTerms = 256;
        query.prepare(QStringLiteral("SELECT term, doc FROM note_fts_vocab"
                                     " WHERE term >= ? AND term < ? LIMIT ?"));
        query.addBindValue(strFolded);
        query.addBindValue(strFolded + QString::fromUcs4(U"\U0010FFFF"));
        query.addBindValue(kMaxTerms + 1);
        if (!query.exec()) {
            qCWarning(lcServer) << "search estimate failed:" << query.lastError().text();
            return QString();
        }
        QStringList lstTerms;
        qint64 nDocs = 0;
        while (query.next()) {
            lstTerms << quoted(query.value(0).toString());
            nDocs += query.value(1).toLongLong();
        }
        if (lstTerms.size() > kMaxTerms || nDocs > nBound)
            return QString();
        bNone = lstTerms.isEmpty();
        return lstTerms.join(QStringLiteral(" OR "));
    }

    QStringList lstTerms;
    for (int i = 0; i + 3 <= vecChars.size(); ++i) {
        const QString strTerm = quoted(QString::fromUcs4(vecChars.constData() + i, 3));
        if (!lstTerms.contains(strTerm))
            lstTerms << strTerm;
    }
    const QString strMatch = lstTerms.join(QStringLiteral(" AND "));
    query.prepare(QStringLiteral("SELECT COUNT(*) FROM (SELECT rowid FROM note_fts"
                                 " WHERE note_fts MATCH ? LIMIT ?)"));
    query.addBindValue(strMatch);
    query.addBindValue(nBound + 1);
    if (!query.exec() || !query.next()) {
        qCWarning(lcServer) << "search estimate failed:" << query.lastError().text();
        return QString();
    }
    const qint64 nCount = query.value(0).toLongLong();
    bNone = nCount == 0;
    return nCount <= nBound ? strMatch : QString();
}

// PostgreSQL: the characters and character pairs of a note's searched title and text, as
// its short-search index holds them.
QString shortGramsExpression()
{
    return QStringLiteral("kelpo_short_grams(COALESCE(search_title, '') || E'\\n'"
                          " || COALESCE(search_text, ''))");
}

// Lists carry the notes' texts unless the request says "with_content" 0: then each note
// comes with its size and digest only, and the client fetches the texts it lacks one by
// one. Older clients send nothing and get the texts as before.
bool listsContent(const CServiceFields &fields)
{
    return fields.value(Protocol::Field::kWithContent).trimmed() != QLatin1String("0");
}

// Whether the client reads times with their zone.
bool wireTimes(const CServiceFields &fields)
{
    return fields.value(Protocol::Field::kTimes).trimmed() == Protocol::Field::kTimesUtc;
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
            map.insert(QStringLiteral("search_title"), QLatin1String(""));
            map.insert(QStringLiteral("search_text"), QLatin1String(""));
            return map;
        }
        // A newer text for a deleted note brings the note back rather than hide the
        // text in a tombstone.
        if (m_nDeleted == 0 || m_bHasContent)
            map.insert(QStringLiteral("deleted"), 0);
        if (m_bHasTitle) {
            map.insert(QStringLiteral("title"), m_strTitle);
            map.insert(QStringLiteral("search_title"), searchForm(m_strTitle));
        }
        if (m_bHasContent) {
            const QByteArray ba = m_strContent.toUtf8();
            map.insert(QStringLiteral("content"), m_strContent);
            map.insert(QStringLiteral("search_text"), searchForm(visibleText(m_strContent)));
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

// The version a change was made from, and what the stored note is against it.
struct CNotes::CBaseCheck
{
    bool m_bGiven = false; // the request named its base
    QString m_strBaseAt;
    QString m_strBaseMd5;
    bool m_bStored = false; // the note exists: writes are bound to the version read
    QString m_strStoredAt;
    QString m_strStoredMd5;
    QString m_strChangeAt;    // the change's time of change, kept form
    bool m_bConflict = false; // the stored version is neither the base nor the change, or
                              // the change sent again after it replaced another version
    QByteArray m_baReplaced;  // the stored live note with its text, on a conflict
};

CNotes::CNotes(CServerDb &db, qint64 nListTexts)
    : m_db(db)
    , m_nListTexts(nListTexts)
{}

QString CNotes::listStatement(const QString &strWhere,
                              const QString &strOrder,
                              bool bPage,
                              bool bContent) const
{
    const QString strLimit = bPage ? QStringLiteral(" LIMIT ? OFFSET ?") : QString();
    if (!bContent)
        return QStringLiteral("SELECT %1 FROM note WHERE %2 ORDER BY %3%4")
            .arg(NoteJson::noteColumns(m_db.isPostgres(), false), strWhere, strOrder, strLimit);
    // The rows are chosen first, without their texts; the running sum of their sizes
    // then says which texts are read at all.
    return QStringLiteral(
               "SELECT %1 FROM (SELECT list_id, SUM(list_size) OVER (ORDER BY %3"
               " ROWS UNBOUNDED PRECEDING) AS list_sum FROM (SELECT id AS list_id,"
               " content_size AS list_size, %4 FROM note WHERE %2 ORDER BY %3%5) AS list_rows)"
               " AS list_page JOIN note ON note.id = list_page.list_id ORDER BY %3")
        .arg(NoteJson::noteColumns(m_db.isPostgres(),
                                   true,
                                   QStringLiteral("list_page.list_sum <= %1").arg(m_nListTexts)),
             strWhere,
             strOrder,
             QString(strOrder).remove(QStringLiteral(" DESC")),
             strLimit);
}

bool CNotes::parseBase(const CServiceFields &fields, CBaseCheck &check, QString &strError) const
{
    const QString strAt = fields.value(Protocol::Field::kBaseUpdatedAt).trimmed();
    const QString strMd5 = fields.value(Protocol::Field::kBaseMd5).trimmed().toLower();
    if (strAt.isEmpty()) {
        if (!strMd5.isEmpty()) {
            strError = QStringLiteral("\"base_md5\" needs its \"base_updated_at\".");
            return false;
        }
        return true;
    }
    check.m_strBaseAt = Validation::keptTime(strAt);
    if (check.m_strBaseAt.isEmpty()) {
        strError = QStringLiteral("\"base_updated_at\" is not a time of the form"
                                  " yyyy-MM-ddThh:mm:ssZ or yyyy-MM-dd hh:mm:ss.");
        return false;
    }
    if (!strMd5.isEmpty() && !Validation::isHex(strMd5, 32)) {
        strError = QStringLiteral("\"base_md5\" is not a digest of 32 hexadecimal digits.");
        return false;
    }
    check.m_strBaseMd5 = strMd5;
    check.m_bGiven = true;
    return true;
}

bool CNotes::checkBase(QSqlDatabase &db,
                       const QString &strKeyColumn,
                       const QVariant &key,
                       const CNoteFields &note,
                       bool bWire,
                       CBaseCheck &check,
                       CServiceReply &reply)
{
    if (!check.m_bGiven)
        return true;
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!m_db.execQuery(query,
                        QStringLiteral("SELECT id, updated_at, md5, content_size, deleted FROM note"
                                       " WHERE %1 = ? AND user_id = ?")
                            .arg(strKeyColumn),
                        {key, reply.m_nUserId})) {
        reply.dbFailure(m_db, query.lastError(), QStringLiteral("base check"));
        return false;
    }
    if (!query.next())
        return true; // a new note: nothing to conflict with
    check.m_bStored = true;
    const qint64 nNoteId = query.value(0).toLongLong();
    check.m_strStoredAt = query.value(1).toString();
    check.m_strStoredMd5 = query.value(2).toString();
    const int nStoredDeleted = query.value(4).toInt();
    const bool bStoredLive = nStoredDeleted != 1;
    const bool bStoredText = bStoredLive && query.value(3).toLongLong() > 0;
    query.finish();

    // A deletion keeps no text: its time alone tells the version.
    const QString strStoredDigest = bStoredText ? check.m_strStoredMd5 : QString();
    const bool bIsBase = check.m_strStoredAt == check.m_strBaseAt
                         && (!bStoredLive || strStoredDigest == check.m_strBaseMd5);
    const QVariantMap mapChange = note.columns();
    const bool bChangeDeletes = mapChange.value(QStringLiteral("deleted")).toInt() == 1;
    const bool bIsChange = check.m_strStoredAt == note.m_strUpdatedAt
                           && bChangeDeletes == !bStoredLive
                           && (!bStoredLive || !mapChange.contains(QStringLiteral("md5"))
                               || mapChange.value(QStringLiteral("md5")).toString()
                                      == check.m_strStoredMd5);
    QSqlError error;
    if (bIsChange && !bIsBase) {
        // The change itself, sent again (its answer went astray): when its first write
        // replaced another computer's version, the answer is that conflict again.
        bool bFound = false;
        if (!CNoteConflicts::replayed(m_db,
                                      nNoteId,
                                      check.m_strBaseAt,
                                      check.m_strBaseMd5,
                                      bWire,
                                      bFound,
                                      check.m_baReplaced,
                                      error)) {
            reply.dbFailure(m_db, error, QStringLiteral("base check"));
            return false;
        }
        check.m_bConflict = bFound;
        return true;
    }
    check.m_bConflict = !bIsBase && !bIsChange;
    if (!check.m_bConflict)
        return true;
    if (check.m_strChangeAt >= check.m_strStoredAt) {
        // The change will win: what it replaces is kept first, so that the same change
        // sent again is answered with the same conflict. (Bound to the version read: if
        // the note changes in between, neither this nor the change is written.)
        CNoteConflicts::CChange change;
        change.m_strAt = check.m_strChangeAt;
        change.m_nDeleted = bChangeDeletes ? 1
                            : mapChange.contains(QStringLiteral("deleted"))
                                ? mapChange.value(QStringLiteral("deleted")).toInt()
                                : nStoredDeleted;
        change.m_strMd5 = bChangeDeletes ? QString(QLatin1String(""))
                          : mapChange.contains(QStringLiteral("md5"))
                              ? mapChange.value(QStringLiteral("md5")).toString()
                              : check.m_strStoredMd5;
        change.m_strBaseAt = check.m_strBaseAt;
        change.m_strBaseMd5 = check.m_strBaseMd5;
        if (!CNoteConflicts::keep(m_db,
                                  nNoteId,
                                  check.m_strStoredAt,
                                  check.m_strStoredMd5,
                                  change,
                                  error)) {
            reply.dbFailure(m_db, error, QStringLiteral("base check"));
            return false;
        }
    }
    if (!bStoredText)
        return true;
    if (!m_db.execQuery(query,
                        QStringLiteral("SELECT %1 FROM note WHERE id = ?")
                            .arg(NoteJson::noteColumns(m_db.isPostgres())),
                        {nNoteId},
                        true)) {
        reply.dbFailure(m_db, query.lastError(), QStringLiteral("base check"));
        return false;
    }
    if (query.next())
        NoteJson::appendNote(check.m_baReplaced, query, true, bWire);
    return true;
}

void CNotes::answerChange(CServiceReply &reply,
                          qint64 nNoteId,
                          bool bApplied,
                          const CBaseCheck &check)
{
    if (bApplied && check.m_bConflict && !check.m_baReplaced.isEmpty()) {
        // Written out: the replaced text may be large.
        QByteArray &ba = reply.m_baJson;
        ba = "{\"note_id\":" + QByteArray::number(nNoteId)
             + ",\"applied\":true,\"conflict\":true,"
               "\"replaced\":";
        ba.append(check.m_baReplaced);
        ba.append('}');
        return;
    }
    reply.m_obj = QJsonObject{{Protocol::Field::kNoteId, nNoteId},
                              {Protocol::Field::kApplied, bApplied}};
    if (check.m_bConflict)
        reply.m_obj.insert(Protocol::Field::kConflict, true);
}

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

bool CNotes::prepareSearch(QSqlDatabase &db, bool bPostgres, QString &strError)
{
    QSqlQuery query(db);
    auto run = [&](const QString &strSql) { return CServerDb::execStep(query, strSql, strError); };
    // The searched forms of title and text, kept beside them.
    if (bPostgres) {
        if (!run(QStringLiteral("ALTER TABLE note ADD COLUMN IF NOT EXISTS search_title TEXT"))
            || !run(QStringLiteral("ALTER TABLE note ADD COLUMN IF NOT EXISTS search_text TEXT")))
            return false;
    } else {
        QStringList lstColumns;
        if (!run(QStringLiteral("PRAGMA table_info(note)")))
            return false;
        while (query.next())
            lstColumns << query.value(1).toString();
        query.finish();
        for (const char *pColumn : {"search_title", "search_text"}) {
            if (!lstColumns.contains(QLatin1String(pColumn))
                && !run(QStringLiteral("ALTER TABLE note ADD COLUMN %1 TEXT")
                            .arg(QLatin1String(pColumn))))
                return false;
        }
    }

    if (bPostgres) {
        // pg_trgm is a trusted extension: the database's owner may add it. Without it the
        // search still works, by reading every note of the user.
        QSqlQuery trgm(db);
        if (trgm.exec(QStringLiteral("CREATE EXTENSION IF NOT EXISTS pg_trgm"))) {
            for (const char *pColumn : {"search_title", "search_text"}) {
                if (!run(QStringLiteral("CREATE INDEX IF NOT EXISTS note_%1_trgm ON note"
                                        " USING gin (%1 gin_trgm_ops)")
                             .arg(QLatin1String(pColumn))))
                    return false;
            }
        } else {
            qCWarning(lcServer) << "no trigram index for the search:" << trgm.lastError().text();
        }
        // Trigrams cannot find a text of one or two characters: the characters and pairs
        // of each note, in an index of their own, find those (see shortSearchGrams). The
        // function reads the text once (a character's position in a UTF-8 text is found by
        // walking it, so no substr per position); its high cost makes the planner test the
        // pattern on a row first.
        if (!run(QStringLiteral(
                "CREATE OR REPLACE FUNCTION kelpo_short_grams(t text) RETURNS text[]"
                " LANGUAGE sql IMMUTABLE STRICT PARALLEL SAFE COST 10000 AS $$"
                " SELECT array_agg(DISTINCT g) FROM ("
                " SELECT c, lead(c) OVER (ORDER BY n) AS d"
                " FROM unnest(string_to_array(t, NULL)) WITH ORDINALITY AS u(c, n)) s,"
                " LATERAL (VALUES (c), (c || d)) v(g) WHERE g IS NOT NULL $$"))
            || !run(QStringLiteral("CREATE INDEX IF NOT EXISTS note_short_grams ON note"
                                   " USING gin (%1)")
                        .arg(shortGramsExpression())))
            return false;
    } else {
        bool bHadIndex = false;
        if (run(QStringLiteral("SELECT 1 FROM sqlite_master WHERE name = 'note_fts'")))
            bHadIndex = query.next();
        query.finish();
        const char *const pIndex[] = {
            "CREATE VIRTUAL TABLE IF NOT EXISTS note_fts USING fts5(search_title, search_text,"
            " content='', tokenize='trigram', detail=none, columnsize=0)",
            "CREATE VIRTUAL TABLE IF NOT EXISTS note_fts_vocab USING fts5vocab(note_fts, 'row')",
            "CREATE TRIGGER IF NOT EXISTS note_fts_insert AFTER INSERT ON note"
            " WHEN new.search_text IS NOT NULL BEGIN"
            " INSERT INTO note_fts(rowid, search_title, search_text)"
            " VALUES (new.id, IFNULL(new.search_title, '') || char(10,10),"
            " new.search_text || char(10,10)); END",
            "CREATE TRIGGER IF NOT EXISTS note_fts_delete AFTER DELETE ON note"
            " WHEN old.search_text IS NOT NULL BEGIN"
            " INSERT INTO note_fts(note_fts, rowid, search_title, search_text)"
            " VALUES ('delete', old.id, IFNULL(old.search_title, '') || char(10,10),"
            " old.search_text || char(10,10)); END",
            "CREATE TRIGGER IF NOT EXISTS note_fts_update AFTER UPDATE OF search_title,"
            " search_text ON note BEGIN"
            " INSERT INTO note_fts(note_fts, rowid, search_title, search_text)"
            " SELECT 'delete', old.id, IFNULL(old.search_title, '') || char(10,10),"
            " old.search_text || char(10,10)"
            " WHERE old.search_text IS NOT NULL;"
            " INSERT INTO note_fts(rowid, search_title, search_text)"
            " SELECT new.id, IFNULL(new.search_title, '') || char(10,10),"
            " new.search_text || char(10,10)"
            " WHERE new.search_text IS NOT NULL; END",
        };
        bool bFts = true;
        for (const char *pSql : pIndex) {
            if (!query.exec(QLatin1String(pSql))) {
                qCWarning(lcServer)
                    << "no full-text index for the search:" << query.lastError().text();
                bFts = false;
                break;
            }
        }
        if (bFts && !bHadIndex
            && !run(QStringLiteral("INSERT INTO note_fts(rowid, search_title, search_text)"
                                   " SELECT id, IFNULL(search_title, '') || char(10,10),"
                                   " search_text || char(10,10) FROM note"
                                   " WHERE search_text IS NOT NULL")))
            return false;
        g_bFts = bFts;
    }

    // Notes stored before: their searched forms, in steps.
    for (;;) {
        QVector<QPair<qint64, QStringList>> vecNotes;
        if (!run(QStringLiteral("SELECT id, title, content FROM note WHERE search_text IS NULL"
                                " LIMIT 500")))
            return false;
        while (query.next())
            vecNotes.append({query.value(0).toLongLong(),
                             {query.value(1).toString(), query.value(2).toString()}});
        query.finish();
        if (vecNotes.isEmpty())
            return true;
        if (!db.transaction()) {
            strError = db.lastError().text();
            return false;
        }
        query.prepare(QStringLiteral("UPDATE note SET search_title = ?, search_text = ?"
                                     " WHERE id = ?"));
        for (const auto &note : qAsConst(vecNotes)) {
            query.addBindValue(searchForm(note.second.at(0)));
            query.addBindValue(searchForm(visibleText(note.second.at(1))));
            query.addBindValue(note.first);
            if (!query.exec()) {
                strError = query.lastError().text();
                db.rollback();
                return false;
            }
        }
        if (!db.commit()) {
            strError = db.lastError().text();
            return false;
        }
    }
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
        // Kept in UTC; a time without zone is one of the service's local times.
        const QString strKept = str.isEmpty() ? str : Validation::keptTime(str);
        if (!str.isEmpty() && strKept.isEmpty()) {
            strError = QStringLiteral("\"%1\" is not a time of the form yyyy-MM-ddThh:mm:ssZ"
                                      " or yyyy-MM-dd hh:mm:ss.")
                           .arg(strKey);
            return false;
        }
        (strKey == QLatin1String("created_at") ? note.m_strCreatedAt : note.m_strUpdatedAt) = strKept;
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
    // PostgreSQL keeps no U+0000 in a text (SQLite would): refused alike on both, as a
    // change that cannot be taken, rather than as a database that is away.
    for (const QString &strKey :
         {QString(Protocol::Field::kTitle), QString(Protocol::Field::kContent)}) {
        if (fields.value(strKey).contains(QChar(0))) {
            strError = QStringLiteral("\"%1\" holds the character U+0000, which cannot be stored.")
                           .arg(strKey);
            return false;
        }
    }
    // A text is kept only when it can be answered: one that could not be written out for
    // an answer would never reach the account's other computers.
    // (Each UTF-16 unit takes at most six bytes: only a very large text is looked at.)
    if (note.m_bHasContent && qint64(note.m_strContent.size()) * 6 > NoteJson::kMaxEscapedText) {
        const qint64 nEscaped = NoteJson::escapedSize(note.m_strContent);
        if (nEscaped > NoteJson::kMaxEscapedText) {
            strError = QStringLiteral("\"content\" is too large to be sent back: written out"
                                      " for an answer it takes %1 bytes, at most %2.")
                           .arg(nEscaped)
                           .arg(NoteJson::kMaxEscapedText);
            return false;
        }
    }
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
    CBaseCheck check;
    if (!parseBase(fields, check, strError))
        return reply.fail(strError);

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
        check.m_strChangeAt = mapChange.value(QStringLiteral("updated_at")).toString();
        if (!checkBase(
                db, QStringLiteral("uuid"), note.m_strUuid, note, wireTimes(fields), check, reply))
            return;
        // One statement decides between insert and newer-wins update, so that two
        // requests with one UUID at once still leave one note.
        strSql += QStringLiteral(" ON CONFLICT (user_id, uuid) DO UPDATE SET %1"
                                 " WHERE note.updated_at <= excluded.updated_at")
                      .arg(lstSet.join(QLatin1String(", ")));
        if (check.m_bStored) {
            // Only over the version read above: a change in between answers "not
            // applied", and the sender compares again.
            strSql += QStringLiteral(" AND note.updated_at = ? AND note.md5 = ?");
            lstValues << check.m_strStoredAt << check.m_strStoredMd5;
        }
    }
    strSql += QStringLiteral(" RETURNING id");

    QSqlQuery query(db);
    qint64 nNoteId = 0;
    if (!m_db.execReturning(query, strSql, lstValues, nNoteId))
        return reply.dbFailure(m_db, query.lastError(), QStringLiteral("replace_note_item"));
    if (nNoteId > 0)
        return answerChange(reply, nNoteId, true, check);

    // Not written: the stored copy is newer.
    if (!m_db.execQuery(query,
                        QStringLiteral("SELECT id FROM note WHERE user_id = ? AND uuid = ?"),
                        {reply.m_nUserId, note.m_strUuid}))
        return reply.dbFailure(m_db, query.lastError(), QStringLiteral("replace_note_item"));
    if (!query.next())
        return reply.dbFailure(m_db, query.lastError(), QStringLiteral("replace_note_item"));
    answerChange(reply, query.value(0).toLongLong(), false, check);
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
    CBaseCheck check;
    if (!parseBase(fields, check, strError))
        return reply.fail(strError);

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
                               QStringLiteral("SELECT 1 FROM note WHERE user_id = ? AND uuid = ?"),
                               {reply.m_nUserId, note.m_strUuid})
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
        check.m_strChangeAt = note.m_strUpdatedAt;
        if (!checkBase(db, QStringLiteral("id"), nNoteId, note, wireTimes(fields), check, reply))
            return;
        lstValues << nNoteId << note.m_strUpdatedAt;
        QString strWhere = QStringLiteral("id = ? AND updated_at <= ?");
        if (check.m_bStored) {
            // Only over the version read above (see replace_note_item).
            strWhere += QStringLiteral(" AND updated_at = ? AND md5 = ?");
            lstValues << check.m_strStoredAt << check.m_strStoredMd5;
        }
        if (!m_db.execQuery(query,
                            QStringLiteral("UPDATE note SET %1 WHERE %2")
                                .arg(lstSet.join(QLatin1String(", ")), strWhere),
                            lstValues))
            return reply.dbFailure(m_db, query.lastError(), QStringLiteral("update_note_item"));
        bApplied = query.numRowsAffected() > 0;
    }
    answerChange(reply, nNoteId, bApplied, check);
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

    const bool bContent = listsContent(fields);
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!m_db.execQuery(query,
                        listStatement(QStringLiteral("user_id = ? AND set_at >= ? AND set_at <= ?"),
                                      QStringLiteral("set_at, id"),
                                      false,
                                      bContent),
                        {reply.m_nUserId, padYear(strFrom), padYear(strTo)},
                        true))
        return reply.dbFailure(m_db, query.lastError(), QStringLiteral("get_note_list_by_month"));
    if (!NoteJson::appendNoteList(reply.m_baJson, query, bContent, wireTimes(fields)))
        return reply.dbFailure(m_db, query.lastError(), QStringLiteral("get_note_list_by_month"));
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
    if (strSearch.contains(QChar(0))) {
        // No title or text holds U+0000 (see parseNoteFields), nor could PostgreSQL look for it.
        reply.m_baJson = QByteArrayLiteral("{\"notes\":[]}");
        return;
    }
    if (!strSearch.isEmpty()) {
        // What the notes show, literally (% and _ are no wildcards here), blind to case in
        // every script: both sides case folded. PostgreSQL finds the candidates through its
        // trigram indexes; on SQLite the trigram index's count chooses between its
        // candidates (a rare text) and the walk by time (a common one).
        const QString strPattern = likePattern(searchForm(strSearch));
        const QString strLike = m_db.isPostgres() ? QStringLiteral("ILIKE")
                                                  : QStringLiteral("LIKE");
        strWhere += QStringLiteral(
                        " AND (search_title %1 ? ESCAPE '\\' OR search_text %1 ? ESCAPE '\\')")
                        .arg(strLike);
        lstValues << strPattern << strPattern;
        const QString strFolded = searchForm(strSearch);
        if (m_db.isPostgres() && strFolded.toUcs4().size() <= 2) {
            // Too short for the trigrams. A common text fills the page from the newest
            // notes: those are tried first, a few times the page's depth. Otherwise the
            // index of characters and pairs finds the notes holding it (its function is
            // costly on a row, so it is not used as a filter during a walk).
            const qint64 nWanted = qint64(nOffset) + nLimit;
            const QString strWindow = QStringLiteral(
                " AND id IN (SELECT id FROM note WHERE user_id = ?"
                " ORDER BY updated_at DESC, id DESC LIMIT ?)");
            const QVariantList lstWindow = {reply.m_nUserId, nWanted * 6};
            QSqlQuery count(db);
            count.setForwardOnly(true);
            const bool bWalk = m_db.execQuery(count,
                                              QStringLiteral("SELECT COUNT(*) FROM (SELECT 1"
                                                             " FROM note WHERE %1%2 LIMIT ?) s")
                                                  .arg(strWhere, strWindow),
                                              lstValues + lstWindow + QVariantList{nWanted},
                                              true)
                               && count.next() && count.value(0).toLongLong() >= nWanted;
            count.finish();
            if (bWalk) {
                strWhere += strWindow;
                lstValues += lstWindow;
            } else {
                strWhere += QStringLiteral(" AND %1 @> ARRAY[CAST(? AS text)]")
                                .arg(shortGramsExpression());
                lstValues << strFolded;
            }
        } else if (!m_db.isPostgres()) {
            bool bNone = false;
            const QString strMatch = indexCandidates(db,
                                                     searchForm(strSearch),
                                                     nOffset + nLimit,
                                                     bNone);
            if (bNone) {
                strWhere += QStringLiteral(" AND 0 = 1");
            } else if (!strMatch.isEmpty()) {
                // The candidates drive the statement ("+user_id" keeps SQLite from walking
                // the user's notes by time instead).
                strWhere = QStringLiteral("+user_id = ?") + strWhere.mid(11)
                           + QStringLiteral(" AND id IN (SELECT rowid FROM note_fts"
                                            " WHERE note_fts MATCH ?)");
                lstValues << strMatch;
            }
        }
    } else {
        for (const QString &strKey : {QStringLiteral("start_time"), QStringLiteral("end_time")}) {
            QString str = fields.value(strKey).trimmed();
            if (str.isEmpty())
                continue;
            const bool bStart = strKey == QLatin1String("start_time");
            if (Validation::isDay(str))
                str += bStart ? QStringLiteral(" 00:00:00") : QStringLiteral(" 23:59:59");
            str = Validation::keptTime(str);
            if (str.isEmpty())
                return reply.fail(QStringLiteral("\"%1\" is not a time of the form"
                                                 " yyyy-MM-ddThh:mm:ssZ or yyyy-MM-dd hh:mm:ss.")
                                      .arg(strKey));
            strWhere += bStart ? QStringLiteral(" AND updated_at >= ?")
                               : QStringLiteral(" AND updated_at <= ?");
            lstValues << str;
        }
    }
    lstValues << nLimit << nOffset;

    const bool bContent = listsContent(fields);
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!m_db.execQuery(query,
                        listStatement(strWhere,
                                      QStringLiteral("updated_at DESC, id DESC"),
                                      true,
                                      bContent),
                        lstValues,
                        true))
        return reply.dbFailure(m_db, query.lastError(), QStringLiteral("get_note_list_by_offset"));
    if (!NoteJson::appendNoteList(reply.m_baJson, query, bContent, wireTimes(fields)))
        return reply.dbFailure(m_db, query.lastError(), QStringLiteral("get_note_list_by_offset"));
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
        NoteJson::appendNote(reply.m_baJson, query, true, wireTimes(fields));
    else
        reply.m_obj = QJsonObject();
}
