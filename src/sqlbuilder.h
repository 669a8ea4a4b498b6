#ifndef SQLBUILDER_H
#define SQLBUILDER_H

#include <QSet>
#include <QString>
#include <QVariantMap>

// Statement builder and its support functions. A statement specification is a map:
//   "table"     table name
//   "data"      column name -> value (inserts and updates)
//   "where"     a ready condition string, or column name -> value (equalities joined by AND)
//   "and_where" an extra condition, added in parentheses
//   "field"     selected columns: a string or a list of names; absent or empty means "*"
// Values of the columns in the numeric set are written unquoted; every other value is
// written as a quoted literal with its quotes doubled. Map keys are visited in sorted order.
// Every builder returns an empty string when "table" is empty (the insert builders also
// when "data" is empty).

// The text with every single quote doubled, for use inside '...'.
QString escapeQuotes(const QString &str);
// The text made literal inside a LIKE pattern whose escape character is the backslash
// (LIKE ... ESCAPE '\'): backslash, '%' and '_' get a backslash before them. Meant for a
// bound pattern; quotes are left as they are.
QString escapeLike(const QString &str);
// A fresh braced, lower-case UUID of 38 characters.
QString createUuidString();
// Lower-case hex MD5 of the text's UTF-8 bytes.
QString md5Hex(const QString &str);
// When the note has "content": "content_size" = its UTF-8 byte count and "md5" = md5Hex
// of it; an empty body gets a NULL "md5" and a size of 0.
void fillContentDigest(QVariantMap &mapNote);
// The current local time as "yyyy-MM-dd hh:mm:ss" (logs and diagnostics).
QString currentTimeString();
// The current time in UTC as "yyyy-MM-dd hh:mm:ss", the form in which notes keep the times
// of their changes. With a time source set, the source's text.
QString currentUtcString();
// Replaces the clock behind currentTimeString() (nullptr: the system clock). Tests use
// it for a clock that never gives two changes the same second.
using TimeSource = QString (*)();
void setTimeSource(TimeSource pSource);

// "INSERT INTO t (a,b) VALUES (:a,:b)". For table "note" a missing "uuid" is added and
// "updated_at" is set to now; the changed data is written back into the statement map so
// that the caller binds exactly the values that the text names.
QString buildInsertPrepared(QVariantMap &mapSpec);
// "INSERT INTO t (a,b) VALUES ('x',1)", with the same automatic columns for "note".
QString buildInsert(QVariantMap &mapSpec, const QSet<QString> &setNumeric);
// "SELECT fields FROM t [WHERE condition]".
QString buildSelect(const QVariantMap &mapSpec, const QSet<QString> &setNumeric);
// "UPDATE t SET a = 'x', b = 1 [WHERE condition]".
QString buildUpdate(const QVariantMap &mapSpec, const QSet<QString> &setNumeric);
// "UPDATE t SET a = :a, b = :b [, expression...] [WHERE condition]": "set_sql" lists further
// assignments of the program's own (never user text; their values are bound by name).
QString buildUpdatePrepared(const QVariantMap &mapSpec, const QSet<QString> &setNumeric);

#endif // SQLBUILDER_H
