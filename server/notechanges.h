#ifndef NOTECHANGES_H
#define NOTECHANGES_H

#include "servicereply.h"

#include <QSqlDatabase>

class CServerDb;

// The account's changes in order: every write of a note (a new note, an edit, a
// deletion) gives it the next number of its account's change sequence (note.change_seq,
// counted in users.note_seq). A client that has seen everything up to a number asks for
// the notes above it, the latest first, in pages, and later only for what came since.
class CNoteChanges
{
public:
    explicit CNoteChanges(CServerDb &db);

    // The columns, the index and the triggers that number every write; notes stored
    // before them are numbered in the order of their ids. Part of the schema's creation.
    static bool prepare(QSqlDatabase &db, bool bPostgres, QString &strError);

    void getNoteChanges(QSqlDatabase &db, const CServiceFields &fields, CServiceReply &reply);

private:
    CServerDb &m_db;
};

#endif // NOTECHANGES_H
