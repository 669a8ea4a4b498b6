#ifndef NOTEJSON_H
#define NOTEJSON_H

#include <QByteArray>
#include <QString>

class QSqlQuery;

// Note answers are written out directly: lists of notes with their texts are the
// largest answers, and building JSON objects first costs more than the query.
namespace NoteJson {

// The columns a note query selects, in the order appendNote() reads them. The text
// comes as its UTF-8 bytes, so that a large one is not held as UTF-16 as well.
// bWithContent false: the text's column is left out (NULL in its place), so that a
// list of metadata does not read the texts.
// strCarried: a condition that says whether a row's text is carried at all; the text
// is read only where it holds, and a twelfth column says which rows it held for.
QString noteColumns(bool bPostgres, bool bWithContent = true, const QString &strCarried = QString());

// The largest text a note may have as a JSON string (see escapedSize): an answer that
// carries it is held in one buffer, which cannot pass 2 GiB; the rest of the note and of the
// answer take less than the room left.
constexpr qint64 kMaxEscapedText = (qint64(1) << 31) - (qint64(1) << 20);
// The bytes of the JSON string of str, quotes left out: its UTF-8 with every escape, which
// takes up to six bytes for one character (a control character as \u00XX).
qint64 escapedSize(const QString &str);

// A JSON string: quotes, escapes and UTF-8.
void appendString(QByteArray &ba, const QString &str);
void appendUtf8(QByteArray &ba, const QByteArray &baUtf8);
// The note object of the query's current row; without "content" when bWithContent is
// false (its "content_size" and "md5" stay). Its times with their zone when bWire,
// otherwise as the service's local time (see Validation::answerTime).
void appendNote(QByteArray &ba, const QSqlQuery &query, bool bWithContent, bool bWire);
// bCarriedColumn: the query has the twelfth column of noteColumns' strCarried.
void appendNote(
    QByteArray &ba, const QSqlQuery &query, bool bWithContent, bool bWire, bool bCarriedColumn);
// {"notes": [...]} of every row the query still holds. Notes whose text was not carried
// (see noteColumns) come without "content", like those of a list without texts. False when
// a row could not be read (query.lastError() says why): the list is not whole.
bool appendNoteList(QByteArray &ba, QSqlQuery &query, bool bWithContent, bool bWire);
// The service's time as the first member of an answer written out already (an object).
void insertServerTime(QByteArray &ba, const QString &strWireTime);

} // namespace NoteJson

#endif // NOTEJSON_H
