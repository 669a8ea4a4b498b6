#ifndef SYNCCLOCK_H
#define SYNCCLOCK_H

#include <QDateTime>
#include <QString>
#include <QTimeZone>

#include <functional>

// The clock by which this computer stamps its changes, and how its times travel.
//
// Changes are stamped in UTC, corrected by the offset between this computer's clock and
// the service's: every answer of the service tells its time, and the offset is moved
// only as far as the answers prove the clock wrong (a clock in step with the service
// keeps offset 0). The offset belongs to one service. Times without zone from an older
// service are local times of this computer's zone; an older service (its login answer
// tells no time) is sent its own form as well.
class CSyncClock
{
public:
    using Source = std::function<QDateTime()>;

    // This computer's clock (tests give each computer one of its own); unset: the
    // process's clock (see currentUtcString()).
    void setSource(Source source);
    // The zone of the times the user reads, and of zoneless times from an older service.
    void setZone(const QTimeZone &zone);
    QTimeZone zone() const { return m_zone; }

    // This computer's clock, uncorrected, in UTC.
    QDateTime machineNow() const;
    // The stamp of a change made now: corrected, in the kept form.
    QString now() const;

    // Seconds to add to this computer's clock to get the service's.
    qint64 offset() const { return m_nOffset; }
    // Another service: nothing is known of its clock.
    void resetOffset();
    // An answer: the service's time (wire form) and this computer's clock when the
    // request left and when its answer came.
    void observe(const QDateTime &dtSent, const QString &strServerTime, const QDateTime &dtReceived);
    // The offset after an answer: nCurrent when it agrees with the answer, otherwise the
    // nearest that does. The service read its clock (whole seconds) between the request's
    // leaving and its answer's arrival on this computer's clock.
    static qint64 correctedOffset(qint64 nCurrent, qint64 nServer, qint64 nSent, qint64 nReceived);

    // Whether the service reads and writes times with their zone (false for an older one).
    bool serviceTellsTime() const { return m_bServiceTellsTime; }
    void setServiceTellsTime(bool b) { m_bServiceTellsTime = b; }

    // A kept time as the service is sent it; texts that are no time stay as they are.
    QString toWire(const QString &strKept) const;
    // A time of an answer in the kept form; texts that are no time stay as they are (and
    // fail the check of the answer).
    QString fromWire(const QString &str) const;
    // A kept time as the user reads it: local time of the zone.
    QString localText(const QString &strKept) const;

private:
    Source m_source;
    QTimeZone m_zone = QTimeZone::systemTimeZone();
    qint64 m_nOffset = 0;
    bool m_bServiceTellsTime = true;
};

#endif // SYNCCLOCK_H
