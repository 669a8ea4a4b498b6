#include "syncclock.h"

#include "sqlbuilder.h"
#include "wiretime.h"

void CSyncClock::setSource(Source source)
{
    m_source = std::move(source);
}

void CSyncClock::setZone(const QTimeZone &zone)
{
    m_zone = zone.isValid() ? zone : QTimeZone::systemTimeZone();
}

QDateTime CSyncClock::machineNow() const
{
    if (m_source)
        return m_source().toUTC();
    const QDateTime dt = QDateTime::fromString(currentUtcString(),
                                               QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    return QDateTime(dt.date(), dt.time(), Qt::UTC);
}

QString CSyncClock::now() const
{
    return WireTime::keptForm(machineNow().addSecs(m_nOffset));
}

void CSyncClock::resetOffset()
{
    m_nOffset = 0;
}

qint64 CSyncClock::correctedOffset(qint64 nCurrent, qint64 nServer, qint64 nSent, qint64 nReceived)
{
    // The service's clock stood at [nServer, nServer + 1) while this one stood somewhere
    // in [nSent, nReceived + 1): the offset lies between these bounds.
    const qint64 nLow = nServer - nReceived - 1;
    const qint64 nHigh = nServer + 1 - nSent;
    if (nLow > nHigh)
        return nCurrent; // the answer came before the request left: this clock jumped
    return qBound(nLow, nCurrent, nHigh);
}

void CSyncClock::observe(const QDateTime &dtSent,
                         const QString &strServerTime,
                         const QDateTime &dtReceived)
{
    const QDateTime dtServer = WireTime::parse(strServerTime, QTimeZone::utc());
    if (!dtServer.isValid() || !WireTime::hasZone(strServerTime) || !dtSent.isValid()
        || !dtReceived.isValid())
        return;
    m_nOffset = correctedOffset(m_nOffset,
                                dtServer.toSecsSinceEpoch(),
                                dtSent.toSecsSinceEpoch(),
                                dtReceived.toSecsSinceEpoch());
}

QString CSyncClock::toWire(const QString &strKept) const
{
    const QString str = m_bServiceTellsTime ? WireTime::keptToWire(strKept)
                                            : WireTime::keptToLocal(strKept, m_zone);
    return str.isEmpty() ? strKept : str;
}

QString CSyncClock::fromWire(const QString &str) const
{
    const QString strKept = WireTime::toKept(str, m_zone);
    return strKept.isEmpty() ? str : strKept;
}

QString CSyncClock::localText(const QString &strKept) const
{
    const QString str = WireTime::keptToLocal(strKept, m_zone);
    return str.isEmpty() ? strKept : str;
}
