#include "notechanges.h"

#include "notejson.h"
#include "protocol.h"
#include "serverdb.h"
#include "validation.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace {

const int kDefaultLimit = 100;
const int kMaxLimit = 500;
// The texts one answer carries at most; notes beyond come without theirs.
const qint64 kTextBudget = 8 * 1024 * 1024;

// The columns whose change is a change of the note (not its search forms, nor the number
// itself).
const char kNoteColumns[] = "uuid, set_at, created_at, updated_at, title, content, md5, deleted";

bool hasColumn(QSqlQuery &query, bool bPostgres, const QString &strTable, const QString &strColumn)
{
    if (bPostgres) {
        query.prepare(QStringLiteral("SELECT 1 FROM information_schema.columns"
                                     " WHERE table_schema = current_schema()"
                                     " AND table_name = ? AND column_name = ?"));
        query.addBindValue(strTable);
        query.addBindValue(strColumn);
        const bool bFound = query.exec() && query.next();
        query.finish();
        return bFound;
    }
    bool bFound = false;
    if (query.exec(QStringLiteral("PRAGMA table_info(%1)").arg(strTable))) {
        while (!bFound && query.next())
            bFound = query.value(1).toString() == strColumn;
    }
    query.finish();
    return bFound;
}

// A whole number from 0 on; nDefault when the field is empty, -1 when it is no number.
qint64 parseCount(const QString &strValue, qint64 nDefault)
{
    const QString str = strValue.trimmed();
    if (str.isEmpty())
        return nDefault;
    bool bOk = false;
    const qint64 n = str.toLongLong(&bOk);
    return bOk && n >= 0 ? n : -1;
}

} // namespace

CNoteChanges::CNoteChanges(CServerDb &db)
    : m_db(db)
{}

bool CNoteChanges::prepare(QSqlDatabase &db, bool bPostgres, QString &strError)
{
    QSqlQuery query(db);
    auto run = [&](const QString &strSql) { return CServerDb::execStep(query, strSql, strError); };
    const QString strBig = bPostgres ? QStringLiteral("BIGINT") : QStringLiteral("INTEGER");
    // Notes stored before are numbered by their ids: their order of arrival. Done once, in
    // one transaction with its mark, so that an upgrade cut short (a kill, a power loss)
    // leaves the database as it was. Earlier versions committed each step on its own: a
    // database they left half-way has one of the columns, or counters below its notes'
    // numbers, and is completed here.
    if (!run(QStringLiteral("SELECT value FROM service_meta WHERE key = 'changes'")))
        return false;
    const bool bNumbered = query.next();
    query.finish();
    if (!bNumbered) {
        if (!db.transaction()) {
            strError = db.lastError().text();
            return false;
        }
        bool bOk = true;
        if (!hasColumn(query, bPostgres, QStringLiteral("note"), QStringLiteral("change_seq")))
            bOk = run(QStringLiteral("ALTER TABLE note ADD COLUMN change_seq %1").arg(strBig));
        if (bOk && !hasColumn(query, bPostgres, QStringLiteral("users"), QStringLiteral("note_seq")))
            bOk = run(QStringLiteral("ALTER TABLE users ADD COLUMN note_seq %1 NOT NULL DEFAULT 0")
                          .arg(strBig));
        bOk = bOk && run(QStringLiteral("UPDATE note SET change_seq = id WHERE change_seq IS NULL"))
              && run(QStringLiteral(
                  "UPDATE users SET note_seq = (SELECT MAX(change_seq) FROM note"
                  " WHERE note.user_id = users.id) WHERE note_seq < (SELECT"
                  " COALESCE(MAX(change_seq), 0) FROM note WHERE note.user_id = users.id)"))
              && run(QStringLiteral(
                  "INSERT INTO service_meta (key, value) VALUES ('changes', 'numbered')"));
        if (!bOk || !db.commit()) {
            if (bOk)
                strError = db.lastError().text();
            query.finish();
            db.rollback();
            return false;
        }
    }
    if (!run(QStringLiteral(
            "CREATE INDEX IF NOT EXISTS note_user_change ON note(user_id, change_seq)")))
        return false;

    // The number is taken in the statement that writes the note, under the write lock of
    // the account's row: one account's numbers are handed out one after the other, each
    // with its note's commit, so that a reader who sees a number sees every lower one.
    if (bPostgres) {
        // Replaced in one transaction: other instances go on writing meanwhile, and a note
        // written between the drop and the creation would get no number.
        return CServerDb::execSteps(
            db,
            {QStringLiteral("CREATE OR REPLACE FUNCTION note_change_seq() RETURNS trigger"
                            " LANGUAGE plpgsql AS $$ BEGIN"
                            " UPDATE users SET note_seq = note_seq + 1 WHERE id = NEW.user_id"
                            " RETURNING note_seq INTO NEW.change_seq;"
                            " RETURN NEW; END $$"),
             QStringLiteral("DROP TRIGGER IF EXISTS note_change ON note"),
             QStringLiteral("CREATE TRIGGER note_change BEFORE INSERT OR UPDATE OF %1"
                            " ON note FOR EACH ROW EXECUTE FUNCTION note_change_seq()")
                 .arg(QLatin1String(kNoteColumns))},
            strError);
    }
    const QString strNumber = QStringLiteral(
        " BEGIN UPDATE users SET note_seq = note_seq + 1 WHERE id = new.user_id;"
        " UPDATE note SET change_seq = (SELECT note_seq FROM users WHERE id = new.user_id)"
        " WHERE id = new.id; END");
    return run(QStringLiteral(
                   "CREATE TRIGGER IF NOT EXISTS note_change_insert AFTER INSERT ON note")
               + strNumber)
           && run(
               QStringLiteral("CREATE TRIGGER IF NOT EXISTS note_change_update AFTER UPDATE OF %1"
                              " ON note")
                   .arg(QLatin1String(kNoteColumns))
               + strNumber);
}

void CNoteChanges::getNoteChanges(QSqlDatabase &db,
                                  const CServiceFields &fields,
                                  CServiceReply &reply)
{
    const qint64 nCursor = parseCount(fields.value(Protocol::Field::kCursor), 0);
    const qint64 nBefore = parseCount(fields.value(Protocol::Field::kBefore), 0);
    const qint64 nLimit = parseCount(fields.value(Protocol::Field::kLimit), kDefaultLimit);
    const qint64 nContentLimit = parseCount(fields.value(Protocol::Field::kContentLimit), 0);
    if (nCursor < 0)
        return reply.fail(QStringLiteral("\"cursor\" must be a number from 0 on."));
    if (nBefore < 0)
        return reply.fail(QStringLiteral("\"before\" must be a number from 0 on."));
    if (nLimit < 1 || nLimit > kMaxLimit)
        return reply.fail(QStringLiteral("\"limit\" must be a number from 1 to %1.").arg(kMaxLimit));
    if (nContentLimit < 0)
        return reply.fail(QStringLiteral("\"content_limit\" must be a number from 0 on."));
    const QString strCheckUuid = fields.value(Protocol::Field::kCheckUuid).trimmed();
    const qint64 nCheckChange = parseCount(fields.value(Protocol::Field::kCheckChange), 0);
    if (!strCheckUuid.isEmpty() && !Validation::isUuid(strCheckUuid))
        return reply.fail(QStringLiteral("\"check_uuid\" is not a UUID."));
    if (nCheckChange < 0)
        return reply.fail(QStringLiteral("\"check_change\" must be a number from 0 on."));

    // The latest number first, the notes after: every note up to it is committed and in
    // the page's view, so a client that takes it as its cursor misses nothing. (Read the
    // other way round, a change committed in between would be counted as seen.)
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!m_db.execQuery(query,
                        QStringLiteral("SELECT note_seq FROM users WHERE id = ?"),
                        {reply.m_nUserId})
        || !query.next())
        return reply.dbFailure(m_db, query.lastError(), QStringLiteral("get_note_changes"));
    const qint64 nLast = query.value(0).toLongLong();
    query.finish();

    // Whether the history the client followed is still this one: the note it names keeps
    // at least the number it had then (see Protocol::Field::kCheckUuid).
    bool bRestored = false;
    if (!strCheckUuid.isEmpty() && nCheckChange > 0) {
        if (!m_db.execQuery(query,
                            QStringLiteral(
                                "SELECT change_seq FROM note WHERE user_id = ? AND uuid = ?"),
                            {reply.m_nUserId, Validation::normalUuid(strCheckUuid)}))
            return reply.dbFailure(m_db, query.lastError(), QStringLiteral("get_note_changes"));
        bRestored = !query.next() || query.value(0).toLongLong() < nCheckChange;
        query.finish();
    }
    // The note a later request may name: the one with the highest number up to nLast.
    QString strLastUuid;
    qint64 nLastUuidChange = 0;
    if (!m_db.execQuery(query,
                        QStringLiteral("SELECT uuid, change_seq FROM note WHERE user_id = ?"
                                       " AND change_seq <= ? AND uuid IS NOT NULL AND uuid <> ''"
                                       " ORDER BY change_seq DESC LIMIT 1"),
                        {reply.m_nUserId, nLast}))
        return reply.dbFailure(m_db, query.lastError(), QStringLiteral("get_note_changes"));
    if (query.next()) {
        strLastUuid = query.value(0).toString();
        nLastUuidChange = query.value(1).toLongLong();
    }
    query.finish();

    QString strRange = QStringLiteral("user_id = ? AND change_seq > ?");
    QVariantList lstValues{reply.m_nUserId, nCursor};
    if (nBefore > 0) {
        strRange += QStringLiteral(" AND change_seq < ?");
        lstValues << nBefore;
    }
    if (!m_db.execQuery(query,
                        QStringLiteral("SELECT COUNT(*) FROM note WHERE %1").arg(strRange),
                        lstValues)
        || !query.next())
        return reply.dbFailure(m_db, query.lastError(), QStringLiteral("get_note_changes"));
    const qint64 nRemaining = query.value(0).toLongLong();
    query.finish();

    // The texts are read only for the notes that take them along.
    const QString strContent = m_db.isPostgres() ? QStringLiteral("convert_to(content, 'UTF8')")
                                                 : QStringLiteral("CAST(content AS BLOB)");
    const QString strColumns = NoteJson::noteColumns(m_db.isPostgres(), false)
                                   .replace(QStringLiteral("NULL"),
                                            QStringLiteral("CASE WHEN content_size <= ? THEN %1"
                                                           " END")
                                                .arg(strContent));
    lstValues.prepend(nContentLimit);
    lstValues << nLimit + 1;
    if (!m_db.execQuery(query,
                        QStringLiteral("SELECT %1, change_seq FROM note WHERE %2"
                                       " ORDER BY change_seq DESC LIMIT ?")
                            .arg(strColumns, strRange),
                        lstValues,
                        true))
        return reply.dbFailure(m_db, query.lastError(), QStringLiteral("get_note_changes"));

    QByteArray &ba = reply.m_baJson;
    ba = "{\"notes\":[";
    qint64 nTexts = 0;
    qint64 nLowest = 0;
    int nRows = 0;
    bool bMore = false;
    while (query.next()) {
        if (nRows == nLimit) {
            bMore = true;
            break;
        }
        if (nRows > 0)
            ba.append(',');
        const qint64 nSize = query.value(8).toLongLong();
        const bool bText = nContentLimit > 0 && nSize <= nContentLimit
                           && nTexts + nSize <= kTextBudget;
        if (bText)
            nTexts += nSize;
        NoteJson::appendNote(ba,
                             query,
                             bText,
                             fields.value(Protocol::Field::kTimes).trimmed()
                                 == Protocol::Field::kTimesUtc);
        nLowest = query.value(11).toLongLong();
        ++nRows;
    }
    // A row that could not be read ends the walk early: the page would pass for the last
    // one, and the client would never ask for the notes below it again.
    if (query.lastError().isValid())
        return reply.dbFailure(m_db, query.lastError(), QStringLiteral("get_note_changes"));
    query.finish();
    ba.append("],\"");
    ba.append(Protocol::Field::kLastChange.data(), Protocol::Field::kLastChange.size());
    ba.append("\":");
    ba.append(QByteArray::number(nLast));
    ba.append(",\"");
    ba.append(Protocol::Field::kRemaining.data(), Protocol::Field::kRemaining.size());
    ba.append("\":");
    ba.append(QByteArray::number(nRemaining));
    ba.append(",\"");
    ba.append(Protocol::Field::kBefore.data(), Protocol::Field::kBefore.size());
    ba.append("\":");
    ba.append(QByteArray::number(bMore ? nLowest : 0));
    if (!strLastUuid.isEmpty()) {
        ba.append(",\"");
        ba.append(Protocol::Field::kCheckUuid.data(), Protocol::Field::kCheckUuid.size());
        ba.append("\":");
        ba.append(
            QJsonDocument(QJsonArray{strLastUuid}).toJson(QJsonDocument::Compact).mid(1).chopped(1));
        ba.append(",\"");
        ba.append(Protocol::Field::kCheckChange.data(), Protocol::Field::kCheckChange.size());
        ba.append("\":");
        ba.append(QByteArray::number(nLastUuidChange));
    }
    if (bRestored) {
        ba.append(",\"");
        ba.append(Protocol::Field::kRestored.data(), Protocol::Field::kRestored.size());
        ba.append("\":true");
    }
    ba.append('}');
}
