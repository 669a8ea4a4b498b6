#include "backup.h"
#include "dbmgt.h"
#include "threaddb.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QUuid>
#include <QtTest>

#include <memory>

namespace {

QString str(const char *p)
{
    return QString::fromUtf8(p);
}

QDate day(const char *p)
{
    return QDate::fromString(str(p), Qt::ISODate);
}

// Runs one statement on a file through a connection of its own (the store is stopped).
QVariant scalar(const QString &strFile, const QString &strSql)
{
    const QString strName = QUuid::createUuid().toString();
    QVariant value;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(str("QSQLITE"), strName);
        db.setDatabaseName(strFile);
        db.setConnectOptions(str("QSQLITE_OPEN_READONLY"));
        if (db.open()) {
            QSqlQuery query(db);
            if (query.exec(strSql) && query.next())
                value = query.value(0);
        }
    }
    QSqlDatabase::removeDatabase(strName);
    return value;
}

} // namespace

class TestBackup : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void keepsSevenDailyAndFourWeekly_data();
    void keepsSevenDailyAndFourWeekly();
    void backupWhileWritingIsConsistentAndRestores();
    void oneBackupADayAndOldOnesPruned();
    void earlierCopyOfTheDayKeptWhenTheNewOneFails();
    void restoreRefusesDamagedFiles_data();
    void restoreRefusesDamagedFiles();
    void restoreRefusedWhileKelpoRuns();
    void pendingRestoreAtStart();
    void restoreKeepsUnfinishedWritesWithTheOldDiary();

private:
    void startStore();
    void stopStore();
    void addNotes(int nFrom, int nCount);
    QString takeBackup();

    std::unique_ptr<QTemporaryDir> m_pDir;
    std::unique_ptr<CDbMgt> m_pStore;
    std::unique_ptr<CBackup> m_pBackup;
};

void TestBackup::init()
{
    m_pDir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_pDir->isValid());
    startStore();
}

void TestBackup::cleanup()
{
    stopStore();
    m_pDir.reset();
}

void TestBackup::startStore()
{
    m_pStore = std::make_unique<CDbMgt>(m_pDir->path());
    m_pBackup = std::make_unique<CBackup>(*m_pStore);
}

void TestBackup::stopStore()
{
    m_pBackup.reset();
    m_pStore.reset();
}

void TestBackup::addNotes(int nFrom, int nCount)
{
    for (int i = nFrom; i < nFrom + nCount; ++i)
        m_pStore->insertNoteItem({{str("set_at"), str("2026-12-10 00:00:00")},
                                  {str("title"), QString::number(i)},
                                  {str("content"), str("note %1").arg(i)}});
}

QString TestBackup::takeBackup()
{
    QSignalSpy spyDone(m_pBackup.get(), &CBackup::backupFinished);
    QSignalSpy spyFailed(m_pBackup.get(), &CBackup::backupFailed);
    if (m_pBackup->backUpNow().isEmpty())
        return QString();
    if (!QTest::qWaitFor([&] { return spyDone.count() + spyFailed.count() > 0; }, 60000))
        return QString();
    return spyDone.isEmpty() ? QString() : spyDone.at(0).at(0).toString();
}

void TestBackup::keepsSevenDailyAndFourWeekly_data()
{
    QTest::addColumn<QList<QDate>>("days");
    QTest::addColumn<QList<QDate>>("expected");

    QList<QDate> lstFew;
    for (int i = 0; i < 7; ++i)
        lstFew << day("2026-12-10").addDays(-i);
    QTest::newRow("seven copies: all kept") << lstFew << QList<QDate>();

    // 2026-12-10 is a Thursday. Daily copies for 60 days: the 7 newest (12-04 to 12-10,
    // weeks 49 and 50) stay, then the newest copy of weeks 48, 47, 46 and 45.
    QList<QDate> lstDaily;
    for (int i = 0; i < 60; ++i)
        lstDaily << day("2026-12-10").addDays(-i);
    QList<QDate> lstKept{day("2026-11-29"), day("2026-11-22"), day("2026-11-15"), day("2026-11-08")};
    for (int i = 0; i < 7; ++i)
        lstKept << day("2026-12-10").addDays(-i);
    QList<QDate> lstExpected;
    for (const QDate &dt : lstDaily) {
        if (!lstKept.contains(dt))
            lstExpected << dt;
    }
    QTest::newRow("sixty daily copies") << lstDaily << lstExpected;

    // Copies with gaps (the program was not started every day): weeks without a copy
    // are not counted, so four older weeks are still kept.
    const QList<QDate> lstSparse{day("2026-12-10"),
                                 day("2026-12-01"),
                                 day("2026-11-20"),
                                 day("2026-11-01"),
                                 day("2026-10-20"),
                                 day("2026-10-01"),
                                 day("2026-09-15"),
                                 day("2026-09-01"),
                                 day("2026-08-31"),
                                 day("2026-08-03"),
                                 day("2026-07-01"),
                                 day("2026-06-01"),
                                 day("2026-05-01"),
                                 day("2026-04-01")};
    QTest::newRow("gaps") << lstSparse
                          << QList<QDate>{day("2026-08-31"), day("2026-05-01"), day("2026-04-01")};

    QTest::newRow("nothing") << QList<QDate>() << QList<QDate>();
}

void TestBackup::keepsSevenDailyAndFourWeekly()
{
    QFETCH(QList<QDate>, days);
    QFETCH(QList<QDate>, expected);
    QList<QDate> lstExpired = CBackup::expired(days);
    std::sort(lstExpired.begin(), lstExpired.end());
    std::sort(expected.begin(), expected.end());
    QCOMPARE(lstExpired, expected);
}

void TestBackup::backupWhileWritingIsConsistentAndRestores()
{
    // The copy is taken between the writes queued before and after it, never in the middle
    // of one of them.
    QSignalSpy spyResults(m_pStore.get(), &CDbMgt::dataReceived);
    addNotes(0, 150);
    QSignalSpy spyDone(m_pBackup.get(), &CBackup::backupFinished);
    QVERIFY(!m_pBackup->backUpNow().isEmpty());
    QVERIFY(m_pBackup->busy());
    QVERIFY(m_pBackup->backUpNow().isEmpty()); // one copy at a time
    addNotes(150, 150);
    QTRY_COMPARE_WITH_TIMEOUT(spyDone.count(), 1, 60000);
    const QString strBackup = spyDone.at(0).at(0).toString();
    QCOMPARE(QFileInfo(strBackup).fileName(), CBackup::fileName(QDate::currentDate()));
    QVERIFY(!QFileInfo::exists(strBackup + str(".part")));
    QCOMPARE(CBackup::check(strBackup), QString());
    QCOMPARE(m_pBackup->backups().size(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(spyResults.count(), 301, 60000);

    const QString strDb = m_pStore->dbFile();
    stopStore();
    QCOMPARE(scalar(strBackup, str("SELECT count(*) FROM note")).toInt(), 150);
    QCOMPARE(scalar(strBackup, str("SELECT max(CAST(title AS INTEGER)) FROM note")).toInt(), 149);

    QString strAside;
    QCOMPARE(CBackup::restore(strBackup, strDb, &strAside), QString());
    QVERIFY(QFileInfo::exists(strAside));
    QCOMPARE(scalar(strAside, str("SELECT count(*) FROM note")).toInt(), 300);

    // The restored diary opens and is used as usual.
    startStore();
    QSignalSpy spyData(m_pStore.get(), &CDbMgt::dataReceived);
    const QString strUuid = m_pStore->queryPrepared(str("SELECT count(*) AS n FROM note"), {});
    QTRY_VERIFY(!spyData.isEmpty());
    const QVariantMap mapResult = spyData.last().at(0).toMap();
    QCOMPARE(mapResult.value(str("uuid")).toString(), strUuid);
    QCOMPARE(mapResult.value(str("result")).toList().value(0).toMap().value(str("n")).toString(),
             str("150"));
}

void TestBackup::oneBackupADayAndOldOnesPruned()
{
    addNotes(0, 3);
    const QDir dir(m_pBackup->backupDir());
    QVERIFY(QDir().mkpath(dir.path()));
    // Copies of the 40 days before today; and files that only look like copies.
    for (int i = 1; i <= 40; ++i) {
        QFile file(dir.filePath(CBackup::fileName(QDate::currentDate().addDays(-i))));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    for (const char *pName : {"local-2026-13-01.db", "notes.txt", "local-2026-12-01.db.part"}) {
        QFile file(dir.filePath(str(pName)));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }

    QSignalSpy spyDone(m_pBackup.get(), &CBackup::backupFinished);
    QSignalSpy spyChanged(m_pBackup.get(), &CBackup::backupsChanged);
    QVERIFY(!m_pBackup->backUpIfDue().isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(spyDone.count(), 1, 60000);
    QCOMPARE(spyChanged.count(), 1);
    QVERIFY(m_pBackup->backUpIfDue().isEmpty()); // today's copy is there

    QList<QDate> lstDays;
    for (const QVariant &backup : m_pBackup->backups())
        lstDays << QDate::fromString(backup.toMap().value(str("date")).toString(), Qt::ISODate);
    QCOMPARE(lstDays.size(), CBackup::DailyCopies + CBackup::WeeklyCopies);
    QCOMPARE(lstDays.first(), QDate::currentDate()); // newest first
    QVERIFY(CBackup::expired(lstDays).isEmpty());
    for (const char *pName : {"local-2026-13-01.db", "notes.txt", "local-2026-12-01.db.part"})
        QVERIFY2(QFileInfo::exists(dir.filePath(str(pName))), pName);
}

// "Back up now" replaces the day's copy only with a finished one: when the new copy cannot
// take its place, the earlier copy of the day is still there.
void TestBackup::earlierCopyOfTheDayKeptWhenTheNewOneFails()
{
    addNotes(0, 3);
    const QString strFirst = takeBackup();
    QVERIFY(!strFirst.isEmpty());
    addNotes(3, 3);

    // The new copy goes missing between its making and its renaming (another program
    // cleaning up): this runs before the backup hears that the copy is made.
    m_pBackup.reset();
    QObject context;
    connect(m_pStore.get(), &CDbMgt::dataReceived, &context, [&] {
        QFile::remove(strFirst + str(".part"));
    });
    m_pBackup = std::make_unique<CBackup>(*m_pStore);
    QSignalSpy spyFailed(m_pBackup.get(), &CBackup::backupFailed);
    QVERIFY(takeBackup().isEmpty());
    QCOMPARE(spyFailed.count(), 1);
    QCOMPARE(CBackup::check(strFirst), QString());
    QCOMPARE(scalar(strFirst, str("SELECT count(*) FROM note")).toInt(), 3);
    QCOMPARE(m_pBackup->backups().size(), 1);
}

void TestBackup::restoreRefusesDamagedFiles_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("text file") << str("text");
    QTest::newRow("truncated copy") << str("truncated");
    QTest::newRow("damaged pages") << str("damaged");
    QTest::newRow("database of another program") << str("foreign");
    QTest::newRow("missing file") << str("missing");
}

void TestBackup::restoreRefusesDamagedFiles()
{
    QFETCH(QString, kind);
    // Notes long enough to fill many pages.
    for (int i = 0; i < 200; ++i)
        m_pStore->insertNoteItem({{str("set_at"), str("2026-12-10")},
                                  {str("content"), QString(400, QLatin1Char('a' + i % 26))}});
    const QString strGood = takeBackup();
    QVERIFY(!strGood.isEmpty());
    const QString strDb = m_pStore->dbFile();
    stopStore();

    const QString strBad = m_pDir->filePath(str("bad.db"));
    if (kind == str("text")) {
        QFile file(strBad);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(4096, 'x'));
    } else if (kind == str("truncated")) {
        QVERIFY(QFile::copy(strGood, strBad));
        QFile file(strBad);
        QVERIFY(file.resize(file.size() / 2));
    } else if (kind == str("damaged")) {
        QVERIFY(QFile::copy(strGood, strBad));
        QFile file(strBad);
        QVERIFY(file.open(QIODevice::ReadWrite));
        const qint64 nSize = file.size();
        QVERIFY(nSize > 16 * 4096);
        for (qint64 nPos = 2 * 4096; nPos < nSize / 2; nPos += 4096) {
            file.seek(nPos);
            file.write(QByteArray(64, '\x5a'));
        }
    } else if (kind == str("foreign")) {
        const QString strName = str("foreign");
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(str("QSQLITE"), strName);
            db.setDatabaseName(strBad);
            QVERIFY(db.open());
            QSqlQuery query(db);
            QVERIFY(query.exec(str("CREATE TABLE photo (id INTEGER, data BLOB)")));
            QVERIFY(query.exec(str("INSERT INTO photo VALUES (1, zeroblob(8000))")));
        }
        QSqlDatabase::removeDatabase(strName);
    }

    QVERIFY(!CBackup::check(strBad).isEmpty());
    QString strAside;
    QVERIFY(!CBackup::restore(strBad, strDb, &strAside).isEmpty());
    QVERIFY(strAside.isEmpty());
    // The diary is untouched and nothing was put aside.
    QCOMPARE(scalar(strDb, str("SELECT count(*) FROM note")).toInt(), 200);
    QCOMPARE(QDir(m_pDir->path()).entryList({str("*before-restore*")}, QDir::Files), QStringList());
}

void TestBackup::restoreRefusedWhileKelpoRuns()
{
    addNotes(0, 5);
    const QString strBackup = takeBackup();
    QVERIFY(!strBackup.isEmpty());
    addNotes(5, 5);
    // The running store holds its database: the restore must not pull it away.
    QVERIFY(!CBackup::restore(strBackup, m_pStore->dbFile()).isEmpty());
    const QString strDb = m_pStore->dbFile();
    stopStore();
    QCOMPARE(scalar(strDb, str("SELECT count(*) FROM note")).toInt(), 10);
}

void TestBackup::pendingRestoreAtStart()
{
    addNotes(0, 4);
    const QString strBackup = takeBackup();
    QVERIFY(!strBackup.isEmpty());
    addNotes(4, 4);
    const QString strDb = m_pStore->dbFile();
    stopStore();

    QCOMPARE(CBackup::restorePending(m_pDir->path()), QString()); // nothing asked for
    QFile file(m_pDir->filePath(str("restore-pending")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(strBackup.toUtf8());
    file.close();
    const QString strMessage = CBackup::restorePending(m_pDir->path());
    QVERIFY2(strMessage.contains(str("restored")), qPrintable(strMessage));
    QVERIFY(!file.exists());
    QCOMPARE(scalar(strDb, str("SELECT count(*) FROM note")).toInt(), 4);

    // A pending restore of a file that is gone is reported once and then forgotten.
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(m_pDir->filePath(str("gone.db")).toUtf8());
    file.close();
    QVERIFY(CBackup::restorePending(m_pDir->path()).contains(str("not restored")));
    QCOMPARE(CBackup::restorePending(m_pDir->path()), QString());
    QCOMPARE(scalar(strDb, str("SELECT count(*) FROM note")).toInt(), 4);
}

// Writes that a stop could not finish were made on the diary of that time. Carried out on a
// restored backup they would undo the restore (a deleted note deleted again) or change notes
// they were never meant for; they stay with the diary that is put aside.
void TestBackup::restoreKeepsUnfinishedWritesWithTheOldDiary()
{
    addNotes(0, 4);
    const QString strBackup = takeBackup();
    QVERIFY(!strBackup.isEmpty());
    const QString strDb = m_pStore->dbFile();
    stopStore();

    {
        // The database worker is kept busy, and stops with too little time for the delete.
        CThreadDb worker;
        worker.setDbName(strDb);
        worker.startThread();
        worker.addRequest({{str("type"), str("query")},
                           {str("sql"),
                            str("WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c"
                                " WHERE x < 2000000) SELECT count(*) FROM c")}});
        worker.addRequest({{str("type"), str("query")}, {str("sql"), str("DELETE FROM note")}});
        worker.stopAndWait(10);
    }
    QVERIFY(QFileInfo::exists(CThreadDb::unfinishedFile(strDb)));
    QCOMPARE(scalar(strDb, str("SELECT count(*) FROM note")).toInt(), 4);

    QString strAside;
    QCOMPARE(CBackup::restore(strBackup, strDb, &strAside), QString());

    startStore();
    QSignalSpy spyData(m_pStore.get(), &CDbMgt::dataReceived);
    const QString strUuid = m_pStore->queryPrepared(str("SELECT count(*) AS n FROM note"), {});
    QTRY_VERIFY_WITH_TIMEOUT(!spyData.isEmpty(), 30000);
    const QVariantMap mapResult = spyData.last().at(0).toMap();
    QCOMPARE(mapResult.value(str("uuid")).toString(), strUuid);
    QCOMPARE(mapResult.value(str("result")).toList().value(0).toMap().value(str("n")).toString(),
             str("4"));
    stopStore();
    QVERIFY(!QFileInfo::exists(CThreadDb::unfinishedFile(strDb)));
    QVERIFY(QFileInfo::exists(CThreadDb::unfinishedFile(strAside)));

    // The diary put aside, opened again, is as it was left: its delete is carried out there.
    {
        CThreadDb worker;
        worker.setDbName(strAside);
        worker.startThread();
        worker.addRequest({{str("type"), str("query")}, {str("sql"), str("SELECT 1")}});
        worker.stopAndWait();
    }
    QVERIFY(!QFileInfo::exists(CThreadDb::unfinishedFile(strAside)));
    QCOMPARE(scalar(strAside, str("SELECT count(*) FROM note")).toInt(), 0);
}

QTEST_GUILESS_MAIN(TestBackup)
#include "tst_backup.moc"
