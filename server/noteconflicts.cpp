#include "noteconflicts.h"

#include "notejson.h"
#include "serverdb.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

bool CNoteConflicts::prepare(QSqlDatabase &db, bool bPostgres, QString &strError)
{
    QSqlQuery query(db);
    auto run = [&](const QString &strSql) { return CServerDb::execStep(query, strSql, strError); };
    if (!run(QStringLiteral("CREATE TABLE IF NOT EXISTS note_conflict ("
                            " note_id INTEGER NOT NULL REFERENCES note(id) ON DELETE CASCADE,"
                            " change_at TEXT NOT NULL,"
                            " change_md5 TEXT NOT NULL,"
                            " change_deleted INTEGER NOT NULL,"
                            " base_at TEXT NOT NULL,"
                            " base_md5 TEXT NOT NULL,"
                            " set_at TEXT NOT NULL,"
                            " created_at TEXT NOT NULL,"
                            " updated_at TEXT NOT NULL,"
                            " title TEXT NOT NULL DEFAULT '',"
                            " content TEXT NOT NULL DEFAULT '',"
                            " content_size INTEGER NOT NULL DEFAULT 0,"
                            " md5 TEXT NOT NULL DEFAULT '',"
                            " deleted INTEGER NOT NULL DEFAULT 0,"
                            " PRIMARY KEY (note_id, change_at, change_md5, change_deleted))")))
        return false;

    // A write that leaves the note another version than a row's change ends that row.
    const QString strClear = QStringLiteral(
        "DELETE FROM note_conflict WHERE note_id = %1.id AND (change_at <> %1.updated_at"
        " OR change_md5 <> %1.md5 OR change_deleted <> %1.deleted)");
    if (bPostgres) {
        // In one transaction, as other instances go on writing (see CNoteChanges).
        return CServerDb::execSteps(
            db,
            {QStringLiteral("CREATE OR REPLACE FUNCTION note_conflict_clear() RETURNS"
                            " trigger LANGUAGE plpgsql AS $$ BEGIN %1; RETURN NULL; END $$")
                 .arg(strClear.arg(QStringLiteral("NEW"))),
             QStringLiteral("DROP TRIGGER IF EXISTS note_conflict_clear ON note"),
             QStringLiteral("CREATE TRIGGER note_conflict_clear AFTER UPDATE OF"
                            " updated_at, md5, deleted ON note FOR EACH ROW"
                            " EXECUTE FUNCTION note_conflict_clear()")},
            strError);
    }
    return run(QStringLiteral("CREATE TRIGGER IF NOT EXISTS note_conflict_clear AFTER UPDATE OF"
                              " updated_at, md5, deleted ON note BEGIN %1; END")
                   .arg(strClear.arg(QStringLiteral("new"))));
}

bool CNoteConflicts::keep(CServerDb &serverDb,
                          qint64 nNoteId,
                          const QString &strStoredAt,
                          const QString &strStoredMd5,
                          const CChange &change,
                          QSqlError &error)
{
    // Copied within the database (the text may be large), from the version read only.
    static const char *const aszColumns[] = {"base_at",
                                             "base_md5",
                                             "set_at",
                                             "created_at",
                                             "updated_at",
                                             "title",
                                             "content",
                                             "content_size",
                                             "md5",
                                             "deleted"};
    QStringList lstUpdate;
    for (const char *pColumn : aszColumns)
        lstUpdate << QStringLiteral("%1 = excluded.%1").arg(QLatin1String(pColumn));
    QSqlQuery query;
    const bool bOk = serverDb.execQuery(
        query,
        QStringLiteral(
            "INSERT INTO note_conflict (note_id, change_at, change_md5, change_deleted, base_at,"
            " base_md5, set_at, created_at, updated_at, title, content, content_size, md5,"
            " deleted) SELECT id, ?, ?, ?, ?, ?, set_at, created_at, updated_at, title, content,"
            " content_size, md5, deleted FROM note WHERE id = ? AND updated_at = ? AND md5 = ?"
            " ON CONFLICT (note_id, change_at, change_md5, change_deleted) DO UPDATE SET %1")
            .arg(lstUpdate.join(QStringLiteral(", "))),
        {change.m_strAt,
         change.m_strMd5,
         change.m_nDeleted,
         change.m_strBaseAt,
         change.m_strBaseMd5,
         nNoteId,
         strStoredAt,
         strStoredMd5});
    if (!bOk)
        error = query.lastError();
    return bOk;
}

bool CNoteConflicts::replayed(CServerDb &serverDb,
                              qint64 nNoteId,
                              const QString &strBaseAt,
                              const QString &strBaseMd5,
                              bool bWire,
                              bool &bFound,
                              QByteArray &baReplaced,
                              QSqlError &error)
{
    bFound = false;
    baReplaced.clear();
    const QString strContent = serverDb.isPostgres()
                                   ? QStringLiteral("convert_to(c.content, 'UTF8')")
                                   : QStringLiteral("CAST(c.content AS BLOB)");
    // The columns in the order of a note's JSON (NoteJson::noteColumns).
    QSqlQuery query;
    if (!serverDb.execQuery(
            query,
            QStringLiteral("SELECT n.id, n.uuid, n.user_id, c.set_at, c.created_at, c.updated_at,"
                           " c.title, %1, c.content_size, c.md5, c.deleted FROM note_conflict c"
                           " JOIN note n ON n.id = c.note_id WHERE c.note_id = ?"
                           " AND c.change_at = n.updated_at AND c.change_md5 = n.md5"
                           " AND c.change_deleted = n.deleted AND c.base_at = ? AND c.base_md5 = ?")
                .arg(strContent),
            {nNoteId, strBaseAt, strBaseMd5},
            true)) {
        error = query.lastError();
        return false;
    }
    if (!query.next())
        return true;
    bFound = true;
    // A replaced deletion or empty text is no text to keep, as on the first answer.
    if (query.value(10).toInt() != 1 && query.value(8).toLongLong() > 0)
        NoteJson::appendNote(baReplaced, query, true, bWire);
    return true;
}
