// The times of changes: their kept and wire forms, and the correction of a computer's
// clock by the service's.

#include "syncclock.h"
#include "wiretime.h"

#include <QtTest>

namespace {

QString str(const char *p)
{
    return QString::fromUtf8(p);
}

QDateTime utc(const char *p)
{
    QDateTime dt = QDateTime::fromString(str(p), QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    dt.setTimeSpec(Qt::UTC);
    return dt;
}

} // namespace

class TestSyncTime : public QObject
{
    Q_OBJECT

private slots:
    // Every form read, as the kept form; "" for what is no time.
    void parse_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("zoneless"); // the zone of a time without one
        QTest::addColumn<QString>("kept");

        QTest::newRow("UTC") << str("2026-03-05T10:11:12Z") << QByteArray("UTC")
                             << str("2026-03-05 10:11:12");
        QTest::newRow("offset east, over midnight")
            << str("2026-03-05T01:00:00+08:00") << QByteArray("UTC") << str("2026-03-04 17:00:00");
        QTest::newRow("offset west")
            << str("2026-12-31T20:30:00-05:30") << QByteArray("UTC") << str("2027-01-01 02:00:00");
        QTest::newRow("zone wins over the zoneless one")
            << str("2026-03-05T10:11:12Z") << QByteArray("Asia/Shanghai")
            << str("2026-03-05 10:11:12");
        QTest::newRow("older form in Shanghai")
            << str("2026-03-05 18:00:00") << QByteArray("Asia/Shanghai")
            << str("2026-03-05 10:00:00");
        QTest::newRow("older form in Berlin, summer")
            << str("2026-07-01 12:00:00") << QByteArray("Europe/Berlin")
            << str("2026-07-01 10:00:00");
        QTest::newRow("older form in Berlin, winter")
            << str("2026-01-01 12:00:00") << QByteArray("Europe/Berlin")
            << str("2026-01-01 11:00:00");
        QTest::newRow("leap day") << str("2028-02-29T23:59:59Z") << QByteArray("UTC")
                                  << str("2028-02-29 23:59:59");

        QTest::newRow("T without zone")
            << str("2026-03-05T10:11:12") << QByteArray("UTC") << str("");
        QTest::newRow("space and zone")
            << str("2026-03-05 10:11:12Z") << QByteArray("UTC") << str("2026-03-05 10:11:12");
        QTest::newRow("fractions") << str("2026-03-05T10:11:12.5Z") << QByteArray("UTC") << str("");
        QTest::newRow("offset of 24 hours")
            << str("2026-03-05T10:11:12+24:00") << QByteArray("UTC") << str("");
        QTest::newRow("offset without colon")
            << str("2026-03-05T10:11:12+0800") << QByteArray("UTC") << str("");
        QTest::newRow("impossible day")
            << str("2026-02-30T10:11:12Z") << QByteArray("UTC") << str("");
        QTest::newRow("leap second") << str("2026-06-30T23:59:60Z") << QByteArray("UTC") << str("");
        QTest::newRow("hour 24") << str("2026-03-05 24:00:00") << QByteArray("UTC") << str("");
        QTest::newRow("day only") << str("2026-03-05") << QByteArray("UTC") << str("");
        QTest::newRow("letters") << str("yyyy-MM-ddThh:mm:ssZ") << QByteArray("UTC") << str("");
        QTest::newRow("trailing text")
            << str("2026-03-05T10:11:12Zz") << QByteArray("UTC") << str("");
        QTest::newRow("empty") << str("") << QByteArray("UTC") << str("");
    }

    void parse()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, zoneless);
        QFETCH(QString, kept);
        QCOMPARE(WireTime::toKept(text, QTimeZone(zoneless)), kept);
        QCOMPARE(WireTime::parse(text, QTimeZone(zoneless)).isValid(), !kept.isEmpty());
    }

    // Kept times go out with their zone, or as a zone's local time; the way back is exact.
    void conversions()
    {
        QCOMPARE(WireTime::keptToWire(str("2026-03-05 10:11:12")), str("2026-03-05T10:11:12Z"));
        QCOMPARE(WireTime::keptToWire(str("2026-03-05T10:11:12Z")), QString());
        QCOMPARE(WireTime::keptToWire(str("garbage")), QString());
        const QTimeZone shanghai("Asia/Shanghai");
        QCOMPARE(WireTime::keptToLocal(str("2026-03-05 20:00:00"), shanghai),
                 str("2026-03-06 04:00:00"));
        for (const char *p : {"2026-03-29 00:59:59", "2026-03-29 01:00:00", "2026-10-25 00:30:00"}) {
            // Berlin's changes of summer time: local texts repeat or skip an hour, the kept
            // time comes back all the same.
            const QTimeZone berlin("Europe/Berlin");
            const QString strWire = WireTime::keptToWire(str(p));
            QCOMPARE(WireTime::toKept(strWire, berlin), str(p));
        }
        // Kept text order is time order across zones.
        QVERIFY(WireTime::toKept(str("2026-03-05T17:59:59+08:00"), QTimeZone::utc())
                < WireTime::toKept(str("2026-03-05T10:00:00+00:00"), QTimeZone::utc()));
    }

    // The offset moves only as far as an answer proves this clock wrong.
    void offsetCorrection_data()
    {
        QTest::addColumn<qint64>("current");
        QTest::addColumn<qint64>("server");
        QTest::addColumn<qint64>("sent");
        QTest::addColumn<qint64>("received");
        QTest::addColumn<qint64>("offset");

        QTest::newRow("in step") << qint64(0) << qint64(1000) << qint64(1000) << qint64(1000)
                                 << qint64(0);
        QTest::newRow("in step, slow answer")
            << qint64(0) << qint64(1003) << qint64(1000) << qint64(1008) << qint64(0);
        QTest::newRow("two hours ahead")
            << qint64(0) << qint64(1000) << qint64(8200) << qint64(8200) << qint64(-7199);
        QTest::newRow("three hours behind")
            << qint64(0) << qint64(20000) << qint64(9200) << qint64(9200) << qint64(10799);
        QTest::newRow("known offset agrees")
            << qint64(-7200) << qint64(1000) << qint64(8200) << qint64(8201) << qint64(-7200);
        QTest::newRow("known offset, clock set right since")
            << qint64(-7200) << qint64(1000) << qint64(1000) << qint64(1001) << qint64(-2);
        QTest::newRow("answer before request: clock jumped")
            << qint64(5) << qint64(1000) << qint64(2000) << qint64(1000) << qint64(5);
    }

    void offsetCorrection()
    {
        QFETCH(qint64, current);
        QFETCH(qint64, server);
        QFETCH(qint64, sent);
        QFETCH(qint64, received);
        QFETCH(qint64, offset);
        QCOMPARE(CSyncClock::correctedOffset(current, server, sent, received), offset);
    }

    // A clock two hours ahead stamps its changes at the service's time after one answer;
    // its user still reads local times of its own zone.
    void clockStamps()
    {
        QDateTime dtMachine = utc("2026-03-05 12:00:00");
        CSyncClock clock;
        clock.setSource([&dtMachine]() { return dtMachine; });
        clock.setZone(QTimeZone("Asia/Tokyo"));
        QCOMPARE(clock.now(), str("2026-03-05 12:00:00"));
        clock.observe(dtMachine, str("2026-03-05T10:00:00Z"), dtMachine);
        dtMachine = dtMachine.addSecs(60);
        QCOMPARE(clock.now(), str("2026-03-05 10:01:01"));
        // Answers without a zone correct nothing.
        clock.observe(dtMachine, str("2026-03-05 12:01:00"), dtMachine);
        QCOMPARE(clock.offset(), qint64(-7199));
        QCOMPARE(clock.localText(str("2026-03-05 10:01:01")), str("2026-03-05 19:01:01"));
        QCOMPARE(clock.toWire(str("2026-03-05 10:01:01")), str("2026-03-05T10:01:01Z"));
        QCOMPARE(clock.fromWire(str("2026-03-05T19:01:01+09:00")), str("2026-03-05 10:01:01"));
        // An older service: its own local form both ways (taken as this computer's zone).
        clock.setServiceTellsTime(false);
        QCOMPARE(clock.toWire(str("2026-03-05 10:01:01")), str("2026-03-05 19:01:01"));
        QCOMPARE(clock.fromWire(str("2026-03-05 19:01:01")), str("2026-03-05 10:01:01"));
        QCOMPARE(clock.fromWire(str("soon")), str("soon"));
        clock.resetOffset();
        QCOMPARE(clock.now(), str("2026-03-05 12:01:00"));
    }
};

QTEST_GUILESS_MAIN(TestSyncTime)
#include "tst_synctime.moc"
