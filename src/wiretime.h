#ifndef WIRETIME_H
#define WIRETIME_H

#include <QDateTime>
#include <QString>
#include <QTimeZone>

// Times of changes as they are kept and as they travel.
//
// Kept (in local.db and in the service's database): "yyyy-MM-dd hh:mm:ss" in UTC, so that
// text order is time order whatever the zone of the computer that wrote it.
// On the wire: ISO 8601 with its zone, "yyyy-MM-ddThh:mm:ssZ" (an offset "+hh:mm" is
// read too). The older form without a zone, "yyyy-MM-dd hh:mm:ss", is still read: it is a
// local time of a zone the reader names (the service's own for older clients).
namespace WireTime {

// The kept form of a moment (in UTC, whole seconds).
QString keptForm(const QDateTime &dt);
// The wire form of a moment ("...Z").
QString wireForm(const QDateTime &dt);
// Reads a moment in any of the forms above; a time without zone is a local time of
// zoneless. Invalid (a null QDateTime) for anything else, fractions of seconds and
// leap seconds included.
QDateTime parse(const QString &str, const QTimeZone &zoneless);
// Whether the text has a zone ("Z" or an offset): an unambiguous moment.
bool hasZone(const QString &str);
// A text of any form as the kept form; empty when it is no moment.
QString toKept(const QString &str, const QTimeZone &zoneless);
// A kept text as the wire form; empty when it is no moment.
QString keptToWire(const QString &strKept);
// A kept text as the local time of zone, "yyyy-MM-dd hh:mm:ss" (what the user reads);
// empty when it is no moment.
QString keptToLocal(const QString &strKept, const QTimeZone &zone);
// The same with the offset from UTC it had then, "yyyy-MM-dd hh:mm:ss+hh:mm": what the user
// reads, and one moment wherever it is read (also in the hour a clock goes back).
QString keptToLocalWithOffset(const QString &strKept, const QTimeZone &zone);

} // namespace WireTime

#endif // WIRETIME_H
