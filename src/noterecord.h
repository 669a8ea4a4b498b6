#ifndef NOTERECORD_H
#define NOTERECORD_H

#include <QString>
#include <QVariant>
#include <QVariantList>
#include <QVariantMap>

// Note records: one row of table note as a map from column name to value. These helpers
// prepare records before they are written, listed, compared or sent; they touch no
// thread, store or network and are applied in place where they take a reference.
namespace NoteRecord {

// The day part of a "yyyy-MM-dd hh:mm:ss" text.
QString dayOf(const QString &strDateTime);
// A stored "set_at" is always the day at midnight.
void normaliseSetAt(QVariantMap &map);
// Before a note is inserted or updated: digest and size of the text, an emptied note's
// title and time (strNow, the kept form; empty: currentUtcString()), and "set_at" at
// midnight.
void prepare(QVariantMap &map, const QString &strNow = QString());
// A note of the service as a local record of the user nUserId: its id becomes
// "server_id", its owner the local user; everything else the record has no column for
// is dropped.
void convertServerItem(QVariantMap &map, int nUserId);
// Before a note is shown: a title from the text when it has none, "set_at" as the day.
void fillDisplayFields(QVariantMap &map);
void fillDisplayFieldsOfList(QVariantList &list);

bool isTombstone(const QVariantMap &map);
// A note whose size is known but whose text has not been fetched yet.
bool lacksText(const QVariantMap &map);
// The digest that stands for the text: an empty text has none, whichever way it was
// written down.
QString textDigest(const QVariantMap &map);
// The note answered by "get_note_item": the object itself, or the first of a list; an
// empty map when the answer holds no note.
QVariantMap singleNoteOfReply(const QVariant &varPayload);
// What a note looks like at the service: the note fields of the local record, with the
// text only when it is known here (an unfetched text must not replace the stored one).
QVariantMap noteForServer(const QVariantMap &mapLocalItem);

// Whether a note object of the service's answer may be used: every member it has is of
// the right type and form (ids and sizes whole numbers, times "yyyy-MM-dd hh:mm:ss" or
// with their zone, "yyyy-MM-ddThh:mm:ssZ",
// a UUID, a digest of 32 hexadecimal digits), and it has an id and a time of change.
// A note that fails is never written anywhere; strError says what was wrong.
bool isValidServerNote(const QVariantMap &map, QString *pError = nullptr);
// The valid notes of a list answer; the others are left out (and logged).
QVariantList validServerNotes(const QVariantList &lstNotes);

} // namespace NoteRecord

#endif // NOTERECORD_H
