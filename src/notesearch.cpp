#include "notesearch.h"

#include "kelpolog.h"
#include "notetext.h"

#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QVector>

#include <sqlite3.h>

#include <cmath>
#include <limits>

namespace {

// Two line breaks end every indexed text, so that each character of it, even the last,
// begins a trigram: a one- or two-character text is found by the trigrams it begins.
const char kSentinel[] = "char(10,10)";
// More trigrams than this beginning with a short text: it is common, walk by day.
constexpr int kMaxShortTerms = 256;

const char *const kIndexSchema[] = {
    "CREATE VIRTUAL TABLE IF NOT EXISTS note_fts USING fts5("
    "title, plain_text, content='', tokenize='trigram', detail=none, columnsize=0)",
    "CREATE VIRTUAL TABLE IF NOT EXISTS note_fts_vocab USING fts5vocab(note_fts, 'row')",
    // The indexed values of a note: a deletion from the index must repeat them exactly.
    "CREATE TRIGGER IF NOT EXISTS note_fts_insert AFTER INSERT ON note"
    " WHEN new.plain_text IS NOT NULL BEGIN"
    " INSERT INTO note_fts(rowid, title, plain_text) VALUES (new.id,"
    " IFNULL(new.title, '') || char(10,10), new.plain_text || char(10,10)); END",
    "CREATE TRIGGER IF NOT EXISTS note_fts_delete AFTER DELETE ON note"
    " WHEN old.plain_text IS NOT NULL BEGIN"
    " INSERT INTO note_fts(note_fts, rowid, title, plain_text) VALUES ('delete', old.id,"
    " IFNULL(old.title, '') || char(10,10), old.plain_text || char(10,10)); END",
    "CREATE TRIGGER IF NOT EXISTS note_fts_update AFTER UPDATE OF id, title, plain_text ON note"
    " BEGIN"
    " INSERT INTO note_fts(note_fts, rowid, title, plain_text) SELECT 'delete', old.id,"
    " IFNULL(old.title, '') || char(10,10), old.plain_text || char(10,10)"
    " WHERE old.plain_text IS NOT NULL;"
    " INSERT INTO note_fts(rowid, title, plain_text) SELECT new.id,"
    " IFNULL(new.title, '') || char(10,10), new.plain_text || char(10,10)"
    " WHERE new.plain_text IS NOT NULL; END",
};

QString textOf(sqlite3_value *pValue)
{
    const void *pText = sqlite3_value_text16(pValue);
    if (!pText)
        return QString();
    return QString::fromRawData(static_cast<const QChar *>(pText),
                                sqlite3_value_bytes16(pValue) / int(sizeof(QChar)));
}

// kelpo_match(title, plain_text, content, text): the title or the visible text holds the
// text, blind to case; a note whose visible text is not derived yet (just synchronised, or
// an older diary being migrated) has it derived from its body here, so that it is found
// by what it shows and not by its markup.
void kelpoMatch(sqlite3_context *pContext, int nArgs, sqlite3_value **ppArgs)
{
    if (nArgs != 4) {
        sqlite3_result_error(pContext, "kelpo_match takes 4 arguments", -1);
        return;
    }
    const QString strNeedle = textOf(ppArgs[3]);
    bool bFound = containsFolded(textOf(ppArgs[0]), strNeedle);
    if (!bFound) {
        if (sqlite3_value_type(ppArgs[1]) != SQLITE_NULL)
            bFound = containsFolded(textOf(ppArgs[1]), strNeedle);
        else
            bFound = containsFolded(notePlainText(textOf(ppArgs[2])), strNeedle);
    }
    sqlite3_result_int(pContext, bFound ? 1 : 0);
}

// A text as one FTS5 string: in double quotes, its own quotes doubled. Inside quotes
// nothing of the index's query syntax applies.
QString ftsString(const QString &str)
{
    QString strQuoted = str;
    strQuoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + strQuoted + QLatin1Char('"');
}

qint64 scalar(QSqlQuery &query, const QString &strSql, const QVariantMap &mapBind, bool *pOk)
{
    *pOk = query.prepare(strSql);
    for (auto it = mapBind.cbegin(); *pOk && it != mapBind.cend(); ++it)
        query.bindValue(QLatin1Char(':') + it.key(), it.value());
    *pOk = *pOk && query.exec() && query.next();
    const qint64 nValue = *pOk ? query.value(0).toLongLong() : 0;
    if (!*pOk)
        qCWarning(lcStore) << "search estimate failed:" << query.lastError().text();
    query.finish();
    return nValue;
}

} // namespace

QString CNoteSearch::createSchema(QSqlDatabase &db, bool &bFts)
{
    QSqlQuery query(db);
    bool bHasColumn = false;
    if (query.exec(QStringLiteral("PRAGMA table_info(note)"))) {
        while (!bHasColumn && query.next())
            bHasColumn = query.value(1).toString() == QLatin1String("plain_text");
    }
    query.finish();
    if (!bHasColumn && !query.exec(QStringLiteral("ALTER TABLE note ADD COLUMN plain_text TEXT")))
        return query.lastError().text();
    // The notes whose visible text is still to be derived; empty once the migration is done.
    if (!query.exec(QStringLiteral("CREATE INDEX IF NOT EXISTS idx_note_plain_pending"
                                   " ON note(id) WHERE plain_text IS NULL")))
        return query.lastError().text();

    bool bHadIndex = false;
    if (query.exec(QStringLiteral(
            "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = 'note_fts'")))
        bHadIndex = query.next();
    query.finish();

    bFts = true;
    for (const char *pSql : kIndexSchema) {
        if (!query.exec(QLatin1String(pSql))) {
            // Without FTS5 the search walks the notes; the data is complete either way.
            qCWarning(lcStore) << "no full-text index:" << query.lastError().text();
            bFts = false;
            break;
        }
    }
    if (bFts && !bHadIndex) {
        // An index made after the column: take in the texts derived already.
        if (!query.exec(QStringLiteral("INSERT INTO note_fts(rowid, title, plain_text) SELECT id,"
                                       " IFNULL(title, '') || %1, plain_text || %1 FROM note"
                                       " WHERE plain_text IS NOT NULL")
                            .arg(QLatin1String(kSentinel))))
            return query.lastError().text();
    }
    return QString();
}

bool CNoteSearch::registerFunctions(QSqlDatabase &db)
{
    const QVariant handle = db.driver()->handle();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0)
        return false;
    sqlite3 *pDb = *static_cast<sqlite3 *const *>(handle.constData());
    if (!pDb)
        return false;
    const int nRc = sqlite3_create_function_v2(pDb,
                                               "kelpo_match",
                                               4,
                                               SQLITE_UTF16 | SQLITE_DETERMINISTIC,
                                               nullptr,
                                               &kelpoMatch,
                                               nullptr,
                                               nullptr,
                                               nullptr);
    if (nRc != SQLITE_OK)
        qCWarning(lcStore) << "cannot register kelpo_match:" << sqlite3_errstr(nRc);
    return nRc == SQLITE_OK;
}

CNoteSearch::Page CNoteSearch::plan(QSqlDatabase &db,
                                    bool bFts,
                                    const QString &strColumns,
                                    const QString &strOwnership,
                                    const QString &strSearch,
                                    int nOffset,
                                    int nNumber,
                                    Plan ePlan)
{
    Page page;
    page.mapBind.insert(QStringLiteral("needle"), strSearch);

    QString strMatch;
    bool bIndex = false;
    if (bFts && ePlan != Plan::Walk) {
        QSqlQuery query(db);
        query.setForwardOnly(true);
        bool bOk = false;
        const qint64 nNotes = scalar(query,
                                     QStringLiteral("SELECT IFNULL(MAX(id), 0) FROM note"),
                                     QVariantMap(),
                                     &bOk);
        const qint64 nWanted = qMax(1, nOffset + nNumber);
        const qint64 nBound = ePlan == Plan::Index
                                  ? std::numeric_limits<int>::max()
                                  : qMax<qint64>(64,
                                                 qint64(
                                                     std::sqrt(double(nWanted) * double(nNotes))));
        const int nMaxTerms = ePlan == Plan::Index ? std::numeric_limits<int>::max() - 1
                                                   : kMaxShortTerms;

        const QVector<uint> vecChars = strSearch.toUcs4();
        if (vecChars.size() >= 3) {
            QStringList lstTerms;
            for (int i = 0; i + 3 <= vecChars.size(); ++i) {
                const QString strTerm = ftsString(QString::fromUcs4(vecChars.constData() + i, 3));
                if (!lstTerms.contains(strTerm))
                    lstTerms.append(strTerm);
            }
            const QString strCandidates = lstTerms.join(QStringLiteral(" AND "));
            // Counted up to the bound only: a common text costs no more than a rare one.
            const qint64 nCount = scalar(query,
                                         QStringLiteral("SELECT COUNT(*) FROM (SELECT rowid FROM"
                                                        " note_fts WHERE note_fts MATCH :m"
                                                        " LIMIT :cap)"),
                                         {{QStringLiteral("m"), strCandidates},
                                          {QStringLiteral("cap"), nBound + 1}},
                                         &bOk);
            if (bOk && nCount <= nBound) {
                bIndex = true;
                strMatch = nCount > 0 ? strCandidates : QString();
            }
        } else {
            const QString strPrefix = strSearch.toLower();
            QVariantMap mapRange{{QStringLiteral("lo"), strPrefix},
                                 {QStringLiteral("hi"),
                                  strPrefix + QString::fromUcs4(U"\U0010FFFF")},
                                 {QStringLiteral("cap"), nMaxTerms + 1}};
            QStringList lstTerms;
            qint64 nDocs = 0;
            bOk = query.prepare(QStringLiteral("SELECT term, doc FROM note_fts_vocab"
                                               " WHERE term >= :lo AND term < :hi LIMIT :cap"));
            for (auto it = mapRange.cbegin(); bOk && it != mapRange.cend(); ++it)
                query.bindValue(QLatin1Char(':') + it.key(), it.value());
            bOk = bOk && query.exec();
            while (bOk && query.next()) {
                lstTerms.append(ftsString(query.value(0).toString()));
                nDocs += query.value(1).toLongLong();
            }
            if (!bOk)
                qCWarning(lcStore) << "search estimate failed:" << query.lastError().text();
            query.finish();
            if (bOk && lstTerms.size() <= nMaxTerms && nDocs <= nBound) {
                bIndex = true;
                strMatch = lstTerms.join(QStringLiteral(" OR "));
            }
        }
    }

    QString strWhere = QLatin1Char('(') + strOwnership + QLatin1Char(')');
    page.bIndex = bIndex;
    if (bIndex) {
        // Notes still without a visible text are candidates too (they are few, and found
        // through their own index). No candidate in the index: those alone.
        const QString strPending(
            QStringLiteral("note.id IN (SELECT id FROM note WHERE plain_text IS NULL)"));
        if (strMatch.isEmpty()) {
            strWhere += QStringLiteral(" AND ") + strPending;
        } else {
            strWhere += QStringLiteral(
                            " AND (note.id IN (SELECT rowid FROM note_fts WHERE note_fts MATCH"
                            " :match) OR ")
                        + strPending + QLatin1Char(')');
            page.mapBind.insert(QStringLiteral("match"), strMatch);
        }
    }
    strWhere += QStringLiteral(
        " AND kelpo_match(note.title, note.plain_text, note.content, :needle)");
    // note.set_at, not the selected day text of the same name: the walk follows the index.
    strWhere += QStringLiteral(" ORDER BY note.set_at DESC, note.updated_at DESC");
    strWhere += QStringLiteral(" LIMIT %1 OFFSET %2").arg(nNumber).arg(nOffset);
    page.strSql = QStringLiteral("SELECT %1 FROM note WHERE %2").arg(strColumns, strWhere);
    return page;
}
