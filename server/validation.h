#ifndef VALIDATION_H
#define VALIDATION_H

#include <QString>

// Checks of the texts that requests bring, and the service's clock.
namespace Validation {

// "yyyy-MM-dd hh:mm:ss" with a real date and time.
bool isMoment(const QString &str);
// "yyyy-MM-dd" with a real date.
bool isDay(const QString &str);
// Exactly nSize hexadecimal digits.
bool isHex(const QString &str, int nSize);
// A braced UUID as the application writes it, or the bare 36 characters.
bool isUuid(const QString &str);
// A UUID in the form the application writes: braced, lower case. Other texts as given.
QString normalUuid(const QString &str);
// UTF-8 to text, keeping a leading byte order mark (it belongs to a note's text).
QString fromUtf8(const char *pData, int nSize);
// A positive id from a form field; 0 when empty, -1 when malformed.
qint64 parseId(const QString &str);

// The key that makes two spellings of one name the same account: compatibility
// normalisation (NFKC: composed accents, full-width letters) and lower case.
QString nameKey(const QString &strName);
// Empty when the name can be an account's name; otherwise why not. A name is in
// NFKC form already (see nameKey), has no control or invisible characters, no space
// at its ends, and does not mix Latin, Greek and Cyrillic letters (look-alikes).
QString nameProblem(const QString &strName);

// Now, as a kept time ("yyyy-MM-dd hh:mm:ss" in UTC) and as seconds since the epoch.
QString nowMoment();
qint64 nowSecs();
// Tests: the clock reads the seconds since the epoch from the first 8 bytes of the file
// (native byte order), which the test moves. False when the file cannot be mapped.
bool useTestClock(const QString &strFile);

// A note's time of change or creation as the request gives it, in the kept form: with a
// zone ("...Z", "+hh:mm"), or without one as older clients send it, a local time of the
// service. Empty when it is no time.
QString keptTime(const QString &str);
// A kept time as an answer gives it: "yyyy-MM-ddThh:mm:ssZ" when bWire, otherwise the
// service's local time "yyyy-MM-dd hh:mm:ss" (what older clients read). Other texts as
// they are.
QString answerTime(const QString &strKept, bool bWire);

} // namespace Validation

#endif // VALIDATION_H
