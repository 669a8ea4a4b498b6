#ifndef NOTECONFLICTS_H
#define NOTECONFLICTS_H

#include <QByteArray>
#include <QSqlDatabase>
#include <QString>

class CServerDb;
class QSqlError;

// What the last conflicting write of a note replaced, so that the same conflict can be
// answered again. A change whose answer went astray (the connection broke after the write)
// is sent again from the same base; by then the note holds the change itself, and without
// this memory the answer would be plain success and the replaced text lost everywhere.
//
// Table note_conflict: one row per note and replacing change (its resulting time, digest
// and deletion flag), with the base the change named and the whole replaced version. A
// row is written, bound to the version read, before the change itself; every later write
// of the note that leaves another version removes it (trigger note_conflict_clear), so a
// row is only ever found while the note holds the change that replaced its version.
// Never part of a list.
class CNoteConflicts
{
public:
    // The resulting version of a change and the base it named.
    struct CChange
    {
        QString m_strAt;  // updated_at, kept form
        QString m_strMd5; // "" for a version without text
        int m_nDeleted = 0;
        QString m_strBaseAt;
        QString m_strBaseMd5;
    };

    // The table, its index and its trigger; idempotent. Part of the schema's creation.
    static bool prepare(QSqlDatabase &db, bool bPostgres, QString &strError);

    // Keeps the note's version (strStoredAt, strStoredMd5) as the one that change
    // replaces. Writes nothing when the note no longer holds that version.
    static bool keep(CServerDb &serverDb,
                     qint64 nNoteId,
                     const QString &strStoredAt,
                     const QString &strStoredMd5,
                     const CChange &change,
                     QSqlError &error);

    // Whether the note's current version replaced another one when it was written from
    // the given base; bFound tells. baReplaced: the replaced note as JSON (times as the
    // request asks) when it had a text, else empty.
    static bool replayed(CServerDb &serverDb,
                         qint64 nNoteId,
                         const QString &strBaseAt,
                         const QString &strBaseMd5,
                         bool bWire,
                         bool &bFound,
                         QByteArray &baReplaced,
                         QSqlError &error);
};

#endif // NOTECONFLICTS_H
