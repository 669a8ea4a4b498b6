#ifndef NOTESEARCH_H
#define NOTESEARCH_H

#include <QSqlDatabase>
#include <QString>
#include <QVariantMap>

// Search of the note list by what a person sees, on the database worker's connection.
//
// Every note's visible text is kept in note.plain_text (filled at each write and by the
// migration of older rows) and indexed by the contentless full-text table note_fts (the
// trigram tokenizer, case-folded; detail=none). A search is literal and case-blind in every
// script; its plan is chosen per query:
// - three characters or more: the index's candidates (the notes holding every trigram of the
//   text), counted up to a bound; few of them → those notes, checked and sorted by day;
// - one or two characters: the indexed trigrams that begin with the text (every indexed text
//   ends in two line breaks, so each character starts a trigram), their note counts summed;
//   few → those notes;
// - otherwise the notes are walked newest first through the day index and each is checked
//   until the page is full: a common text fills it quickly.
// The bound is sqrt(rows wanted × notes), where the two plans cost the same.
// Notes whose plain text is not derived yet are checked on their stored rich text.
class CNoteSearch
{
public:
    // Auto: chosen per query as above. Index and Walk force one plan (tests check both).
    enum class Plan { Auto, Index, Walk };

    // The statement of one page of search results and its bound values.
    struct Page
    {
        QString strSql;
        QVariantMap mapBind;
        bool bIndex = false; // the plan: index candidates (true) or a walk by day
    };

    // Creates the plain-text column, the full-text index and the triggers that keep it in
    // step, when missing. Run inside the schema transaction; returns the error, or "".
    // A SQLite without FTS5 gets no index (bFts false) and searches by the walk alone.
    static QString createSchema(QSqlDatabase &db, bool &bFts);
    // Registers kelpo_match(title, plain_text, content, text) on the connection.
    static bool registerFunctions(QSqlDatabase &db);
    // Plans one page: strColumns are the selected columns, strOwnership the condition of
    // the notes the user sees. Runs the index's estimates on db.
    static Page plan(QSqlDatabase &db,
                     bool bFts,
                     const QString &strColumns,
                     const QString &strOwnership,
                     const QString &strSearch,
                     int nOffset,
                     int nNumber,
                     Plan ePlan = Plan::Auto);
};

#endif // NOTESEARCH_H
