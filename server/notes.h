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
    // nListTexts: the bytes of note texts one list answer carries at most.
    explicit CNotes(CServerDb &db, qint64 nListTexts = 16 * 1024 * 1024);

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
    // The stored version of a note that a change names its base for: whether another
    // change got there first, and the text that the change would replace.
    struct CBaseCheck;
    bool parseBase(const CServiceFields &fields, CBaseCheck &check, QString &strError) const;
    bool checkBase(QSqlDatabase &db,
                   const QString &strKeyColumn,
                   const QVariant &key,
                   const CNoteFields &note,
                   bool bWire,
                   CBaseCheck &check,
                   CServiceReply &reply);
    // The answer to a change: "applied", and a conflict's replaced text.
    static void answerChange(CServiceReply &reply,
                             qint64 nNoteId,
                             bool bApplied,
                             const CBaseCheck &check);

    // The statement of a list of notes: the rows of strWhere in strOrder (a page of them
    // when bPage, with LIMIT and OFFSET bound last). With texts, they are carried in
    // that order while their sizes add up to m_nListTexts; the later ones are left out,
    // so that what one answer holds stays bounded whatever the notes weigh.
    QString listStatement(const QString &strWhere,
                          const QString &strOrder,
                          bool bPage,
                          bool bContent) const;
    QString placeholder(const QString &strColumn) const;
    QVariant bindable(const QString &strColumn, const QVariant &value) const;

    CServerDb &m_db;
    const qint64 m_nListTexts;
};

#endif // NOTES_H
