#include "wiretime.h"

#include <QDate>
#include <QTime>

namespace {

// Digits at [nFrom, nFrom + nLength) as a number; -1 when one is no digit.
int number(const QString &str, int nFrom, int nLength)
{
    int n = 0;
    for (int i = nFrom; i < nFrom + nLength; ++i) {
        const QChar c = str.at(i);
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return -1;
        n = n * 10 + (c.unicode() - '0');
    }
    return n;
}

// "yyyy-MM-dd?hh:mm:ss" with separator cSep (' ' or 'T') at index 10; checked by hand, so
// that no time zone is consulted for the form alone.
bool readFields(const QString &str, QDate &date, QTime &time, bool &bSpace)
{
    if (str.size() < 19 || str.at(4) != QLatin1Char('-') || str.at(7) != QLatin1Char('-')
        || str.at(13) != QLatin1Char(':') || str.at(16) != QLatin1Char(':'))
        return false;
    const QChar cSep = str.at(10);
    if (cSep != QLatin1Char(' ') && cSep != QLatin1Char('T'))
        return false;
    bSpace = cSep == QLatin1Char(' ');
    const int nYear = number(str, 0, 4), nMonth = number(str, 5, 2), nDay = number(str, 8, 2);
    const int nHour = number(str, 11, 2), nMinute = number(str, 14, 2),
              nSecond = number(str, 17, 2);
    if (nYear < 1 || !QDate::isValid(nYear, nMonth, nDay)
        || !QTime::isValid(nHour, nMinute, nSecond))
        return false;
    date = QDate(nYear, nMonth, nDay);
    time = QTime(nHour, nMinute, nSecond);
    return true;
}

} // namespace

namespace WireTime {

QString keptForm(const QDateTime &dt)
{
    return dt.toUTC().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
}

QString wireForm(const QDateTime &dt)
{
    return dt.toUTC().toString(QStringLiteral("yyyy-MM-ddThh:mm:ss")) + QLatin1Char('Z');
}

bool hasZone(const QString &str)
{
    return str.size() > 19
           && (str.endsWith(QLatin1Char('Z')) || str.at(19) == QLatin1Char('+')
               || str.at(19) == QLatin1Char('-'));
}

QDateTime parse(const QString &str, const QTimeZone &zoneless)
{
    QDate date;
    QTime time;
    bool bSpace = false;
    if (!readFields(str, date, time, bSpace))
        return QDateTime();
    if (str.size() == 19) {
        // The older form: a local time, with a space only.
        if (!bSpace || !zoneless.isValid())
            return QDateTime();
        const QDateTime dt(date, time, zoneless);
        return dt.isValid() ? dt.toUTC() : QDateTime();
    }
    const QStringRef zone = str.midRef(19);
    if (zone == QLatin1String("Z"))
        return QDateTime(date, time, Qt::UTC);
    // "+hh:mm" or "-hh:mm".
    if (zone.size() != 6 || zone.at(3) != QLatin1Char(':')
        || (zone.at(0) != QLatin1Char('+') && zone.at(0) != QLatin1Char('-')))
        return QDateTime();
    const int nHours = number(str, 20, 2), nMinutes = number(str, 23, 2);
    if (nHours < 0 || nHours > 23 || nMinutes < 0 || nMinutes > 59)
        return QDateTime();
    const int nOffset = (nHours * 3600 + nMinutes * 60) * (zone.at(0) == QLatin1Char('-') ? -1 : 1);
    return QDateTime(date, time, Qt::OffsetFromUTC, nOffset).toUTC();
}

QString toKept(const QString &str, const QTimeZone &zoneless)
{
    const QDateTime dt = parse(str, zoneless);
    return dt.isValid() ? keptForm(dt) : QString();
}

QString keptToWire(const QString &strKept)
{
    const QDateTime dt = parse(strKept, QTimeZone::utc());
    return dt.isValid() && !hasZone(strKept) ? wireForm(dt) : QString();
}

QString keptToLocal(const QString &strKept, const QTimeZone &zone)
{
    const QDateTime dt = parse(strKept, QTimeZone::utc());
    if (!dt.isValid() || hasZone(strKept))
        return QString();
    return dt.toTimeZone(zone).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
}

QString keptToLocalWithOffset(const QString &strKept, const QTimeZone &zone)
{
    const QDateTime dt = parse(strKept, QTimeZone::utc());
    if (!dt.isValid() || hasZone(strKept))
        return QString();
    const QDateTime dtLocal = dt.toTimeZone(zone);
    const int nOffset = dtLocal.offsetFromUtc();
    const int nMinutes = qAbs(nOffset) / 60;
    return dtLocal.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"))
           + (nOffset < 0 ? QLatin1Char('-') : QLatin1Char('+'))
           + QStringLiteral("%1:%2")
                 .arg(nMinutes / 60, 2, 10, QLatin1Char('0'))
                 .arg(nMinutes % 60, 2, 10, QLatin1Char('0'));
}

} // namespace WireTime
