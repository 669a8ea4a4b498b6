#ifndef NOTES_H
#define NOTES_H

#include "servicereply.h"

#include <QSqlDatabase>
#include <QVariant>

class CServerDb;

// The notes room: storing, changing and listing the notes of the user whose token
// came with the request (reply.m_nUserId).
class CNotes
{
public:
    explicit CNotes(CServerDb &db);

    // Search of the notes by what they show, case folded: the columns search_title and
    // search_text, filled for notes stored before them, and their index (pg_trgm on
    // PostgreSQL, an FTS5 trigram table on SQLite). Part of the schema's creation.
    static bool prepareSearch(QSqlDatabase &db, bool bPostgres, QString &strError);

    void replaceNoteItem(QSqlDatabase &db, const CServiceFields &fields, CServiceReply &reply);
    void updateNoteItem(QSqlDatabase &db, const CServiceFields &fields, CServiceReply &reply);
    void getNoteListByMonth(QSqlDatabase &db, const CServiceFields &fields, CServiceReply &reply);
    void getNoteListByOffset(QSqlDatabase &db, const CServiceFields &fields, CServiceReply &reply);
    void getNoteItem(QSqlDatabase &db, const CServiceFields &fields, CServiceReply &reply);

private:
    struct CNoteFields;
    bool parseNoteFields(const CServiceFields &fields, CNoteFields &note, QString &strError) const;

    QString placeholder(const QString &strColumn) const;
    QVariant bindable(const QString &strColumn, const QVariant &value) const;

    CServerDb &m_db;
};

#endif // NOTES_H
