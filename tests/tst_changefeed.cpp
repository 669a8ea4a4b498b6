// The whole account in the background, end to end against the real note service: a new
// computer gets every note after its login without any view asking for it, resumes an
// interrupted download after a restart, takes large texts one note at a time, and an
// up-to-date computer moves no note text.

#include "dbmgt.h"
#include "settings.h"
#include "syncfixture.h"

#include <QCryptographicHash>
#include <QRandomGenerator>

#include <memory>

namespace {

// Rows of a statement on a computer's local.db, read through its own store worker.
QVariantList localRows(CNoteMgt &mgt, const QString &strSql, const QVariantMap &mapBind = {})
{
    return runInStore(mgt.localStore(), strSql, mapBind).value(QStringLiteral("result")).toList();
}

// uuid -> md5 of the live notes of the logged-in user here, and how many have their text.
QMap<QString, QString> localDigests(CNoteMgt &mgt, int *pWithText = nullptr)
{
    QMap<QString, QString> map;
    int nWithText = 0;
    for (const QVariant &var :
         localRows(mgt,
                   QStringLiteral("SELECT uuid, md5, LENGTH(content) AS length FROM note"
                                  " WHERE user_id > 0 AND (deleted IS NULL OR deleted = 0)"))) {
        const QVariantMap row = var.toMap();
        map.insert(row.value(QStringLiteral("uuid")).toString(),
                   row.value(QStringLiteral("md5")).toString());
        if (row.value(QStringLiteral("length")).toInt() > 0)
            ++nWithText;
    }
    if (pWithText)
        *pWithText = nWithText;
    return map;
}

QString noteUuid(int nAccount, int nNote)
{
    return QStringLiteral("{%1-0000-4000-8000-%2}")
        .arg(nAccount, 8, 10, QLatin1Char('0'))
        .arg(nNote, 12, 10, QLatin1Char('0'));
}

} // namespace

class TestChangeFeed : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    std::unique_ptr<CSettings> m_pSettings;
    CServiceProcess m_service;
    int m_nAccount = 0;

    // A new account at the service with nNotes notes spread over nMonths months back from
    // March 2026, each changed after the one before; the first, the oldest, holds the word
    // strWord. Returns the account's name, and uuid -> md5 of its notes.
    QString makeAccount(int nNotes,
                        int nMonths,
                        const QString &strWord,
                        QMap<QString, QString> &mapDigests)
    {
        const int nAccount = ++m_nAccount;
        const QString strName = QStringLiteral("feed%1").arg(nAccount);
        CServiceClient client(m_service.baseUrl());
        if (!client.registerUser(strName, QStringLiteral("pw"), strName + "@example.com"_s)
                 .value(QStringLiteral("error"))
                 .toString()
                 .isEmpty()
            || !client.login(strName, QStringLiteral("pw")))
            return QString();
        const QDateTime dtFirst(QDate(2024, 1, 1), QTime(9, 0, 0));
        for (int i = 0; i < nNotes; ++i) {
            const QDate dtDay = QDate(2026, 3, 1).addMonths(-(i % nMonths)).addDays(i % 27);
            const QString strText
                = i == 0 ? QStringLiteral("<p>the %1 of the first day</p>").arg(strWord)
                         : QStringLiteral("<p>note %1 of %2</p>").arg(i).arg(strName);
            const QString strUuid = noteUuid(nAccount, i);
            const QVariantMap mapReply = client.postAsUser(
                QStringLiteral("replace_note_item"),
                {{QStringLiteral("uuid"), strUuid},
                 {QStringLiteral("set_at"), dtDay.toString(QStringLiteral("yyyy-MM-dd 00:00:00"))},
                 {QStringLiteral("created_at"),
                  dtFirst.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"))},
                 {QStringLiteral("updated_at"),
                  dtFirst.addSecs(i).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"))},
                 {QStringLiteral("content"), strText}});
            if (mapReply.value(QStringLiteral("note_id")).toInt() <= 0)
                return QString();
            mapDigests.insert(strUuid, md5Hex(strText));
        }
        return strName;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY2(setUpSyncEnvironment(m_dir,
                                      m_pSettings,
                                      m_service,
                                      m_dir.filePath(QStringLiteral("service.db"))),
                 "kelpo-server did not start");
        g_pSettings->setServerUrl(m_service.baseUrl());
    }

    void cleanupTestCase() { g_pSettings = nullptr; }

    void wholeAccountArrivesWithoutNavigation_data()
    {
        QTest::addColumn<int>("nNotes");
        QTest::addColumn<int>("nMonths");
        QTest::newRow("300 notes over 24 months") << 300 << 24;
        QTest::newRow("2 000 notes") << 2000 << 12;
    }

    // After the login on a fresh profile every note of the account is stored here, with
    // its text, while no view asks for anything; the search finds the oldest one here.
    void wholeAccountArrivesWithoutNavigation()
    {
        QFETCH(int, nNotes);
        QFETCH(int, nMonths);
        const QString strWord = QStringLiteral("walrus%1").arg(m_nAccount + 1);
        QMap<QString, QString> mapService;
        const QString strName = makeAccount(nNotes, nMonths, strWord, mapService);
        QVERIFY(!strName.isEmpty());

        CComputer b;
        QSignalSpy spyProgress(&b.mgt().syncEngine(), &CSyncEngine::syncProgress);
        QSignalSpy spyIdle(&b.mgt().syncEngine(), &CSyncEngine::syncIdle);
        QVERIFY(b.login(strName, QStringLiteral("pw")));
        // Two minutes with the window left alone: the timers (an hour here) play no part.
        QTRY_VERIFY_WITH_TIMEOUT(!spyIdle.isEmpty(), 120000);
        int nWithText = 0;
        QCOMPARE(localDigests(b.mgt(), &nWithText), mapService);
        QCOMPARE(nWithText, nNotes);
        QVERIFY(!spyProgress.isEmpty());
        QCOMPARE(spyProgress.last().at(0).toInt(), nNotes);
        QCOMPARE(spyProgress.last().at(1).toInt(), nNotes);
        // The total was known from the first page on, and the count only grew.
        QCOMPARE(spyProgress.first().at(1).toInt(), nNotes);
        for (int i = 1; i < spyProgress.size(); ++i)
            QVERIFY(spyProgress.at(i).at(0).toInt() > spyProgress.at(i - 1).at(0).toInt());

        // The local search finds the oldest note: its first answer comes from local.db,
        // before the service is asked.
        const int nBefore = b.emitted(QStringLiteral("get_note_list_by_offset")).size();
        b.mgt().getNoteListByOffset(0, strWord);
        QTRY_VERIFY_WITH_TIMEOUT(b.emitted(QStringLiteral("get_note_list_by_offset")).size()
                                     > nBefore,
                                 30000);
        const QVariantList lstFound = b.emitted(QStringLiteral("get_note_list_by_offset"))
                                          .at(nBefore)
                                          .value(QStringLiteral("result"))
                                          .toList();
        QCOMPARE(lstFound.size(), 1);
        QCOMPARE(lstFound.first().toMap().value(QStringLiteral("uuid")).toString(),
                 noteUuid(m_nAccount, 0));
        QVERIFY(b.waitIdle());
    }

    // A download cut off by the end of the program goes on after the next start where its
    // last stored page ended: the notes stored before are not asked for again.
    void interruptedDownloadResumes()
    {
        const int nNotes = 1200;
        QMap<QString, QString> mapService;
        const QString strName = makeAccount(nNotes, 6, QStringLiteral("heron"), mapService);
        QVERIFY(!strName.isEmpty());

        QTemporaryDir dirProfile;
        QVERIFY(dirProfile.isValid());
        int nStoredBefore = 0;
        {
            CNoteMgt mgt(dirProfile.path(), 3600000);
            QSignalSpy spyProgress(&mgt.syncEngine(), &CSyncEngine::syncProgress);
            mgt.login(strName, QStringLiteral("pw"));
            // Ended as soon as the first page is stored.
            QVERIFY(waitUntil([&]() { return !spyProgress.isEmpty(); }, 60000));
            QVERIFY(spyProgress.first().at(0).toInt() < nNotes);
            nStoredBefore = localDigests(mgt).size();
        }
        QVERIFY(nStoredBefore > 0);
        QVERIFY(nStoredBefore < nNotes);

        CNoteMgt mgt(dirProfile.path(), 3600000);
        QSignalSpy spyProgress(&mgt.syncEngine(), &CSyncEngine::syncProgress);
        QSignalSpy spyIdle(&mgt.syncEngine(), &CSyncEngine::syncIdle);
        mgt.login(strName, QStringLiteral("pw"));
        QTRY_VERIFY_WITH_TIMEOUT(!spyIdle.isEmpty(), 120000);
        QCOMPARE(localDigests(mgt), mapService);
        // Only what was left came: the walk's first answer counted fewer than all notes.
        QVERIFY(!spyProgress.isEmpty());
        QVERIFY2(spyProgress.first().at(1).toInt() <= nNotes - nStoredBefore,
                 qPrintable(QStringLiteral("%1 counted, %2 stored before")
                                .arg(spyProgress.first().at(1).toInt())
                                .arg(nStoredBefore)));
        QTRY_VERIFY_WITH_TIMEOUT(mgt.pendingRequestCount() == 0, 30000);
    }

    // A month of sixteen notes with a photo of 4.8 MB each reaches a second computer, digests
    // equal, although the month's notes together are far over the 64 MiB an answer may
    // hold; afterwards the computer, idle and up to date, moves no note text: its minute
    // timers ask the service for changes only.
    void pictureMonthArrivesAndIdleMovesNoText()
    {
        const QString strName = QStringLiteral("photos");
        CServiceClient client(m_service.baseUrl());
        QVERIFY(client.registerUser(strName, QStringLiteral("pw"), "photos@example.com"_s)
                    .value(QStringLiteral("error"))
                    .toString()
                    .isEmpty());
        CComputer a;
        QVERIFY(a.login(strName, QStringLiteral("pw")));
        const QDate dtMonth(2025, 6, 1);
        QByteArray baPicture(4800 * 1024 * 3 / 4, '\0');
        for (int i = 0; i < 16; ++i) {
            for (int j = 0; j < baPicture.size(); j += 4096)
                baPicture[j] = char(QRandomGenerator::global()->generate());
            baPicture[0] = char(i);
            const QString strText
                = QStringLiteral("<p>photo %1</p><img src=\"data:image/jpeg;base64,").arg(i)
                  + QString::fromLatin1(baPicture.toBase64()) + QStringLiteral("\">");
            QVERIFY(!a.writeNote(dtMonth.addDays(i), strText).isEmpty());
        }
        // A small note of the same month, written later.
        QVERIFY(!a.writeNote(dtMonth.addDays(20), QStringLiteral("a small note")).isEmpty());
        QVERIFY(a.waitIdle(120000));
        // The service takes two large bodies at a time and asks the others to come again:
        // the upload runs until nothing is pending.
        QTRY_VERIFY_WITH_TIMEOUT(
            [&]() {
                a.invoke("onTimeOutUploadNote");
                return a.waitIdle(120000)
                       && localRows(a.mgt(),
                                    QStringLiteral("SELECT id FROM note WHERE sync_state = 1"))
                              .isEmpty();
            }(),
            300000);
        const QMap<QString, QString> mapA = localDigests(a.mgt());
        QCOMPARE(mapA.size(), 17);

        CComputer b(3600000);
        QSignalSpy spyIdle(&b.mgt().syncEngine(), &CSyncEngine::syncIdle);
        QVERIFY(b.login(strName, QStringLiteral("pw")));
        QTRY_VERIFY_WITH_TIMEOUT(!spyIdle.isEmpty(), 120000);
        int nWithText = 0;
        QCOMPARE(localDigests(b.mgt(), &nWithText), mapA);
        QCOMPARE(nWithText, 17);
        // The calendar's month comparison works on the same month.
        b.mgt().downloadNoteListByMonth(dtMonth);
        QVERIFY(b.waitIdle(60000));
        QVERIFY(b.emitted(QStringLiteral("download_note_list_by_month")).isEmpty()
                || !b.emitted(QStringLiteral("download_note_list_by_month"))
                        .last()
                        .contains(QStringLiteral("error")));

        // Idle: the minute timers, three times over, ask for changes only.
        const int nTexts = m_service.countLogLines(QStringLiteral("get_note_item"));
        const int nChanges = m_service.countLogLines(QStringLiteral("get_note_changes"));
        for (int nRound = 0; nRound < 3; ++nRound) {
            const int nIdle = spyIdle.size();
            b.invoke("onTimeOutSync");
            b.invoke("onTimeOutDownloadNote");
            b.invoke("onTimeOutUploadNote");
            QTRY_VERIFY_WITH_TIMEOUT(spyIdle.size() > nIdle, 30000);
            QVERIFY(b.waitIdle());
        }
        QTRY_COMPARE_WITH_TIMEOUT(m_service.countLogLines(QStringLiteral("get_note_changes")),
                                  nChanges + 3,
                                  10000);
        QCOMPARE(m_service.countLogLines(QStringLiteral("get_note_item")), nTexts);
        for (const char *pEndpoint : {"get_note_list_by_month",
                                      "get_note_list_by_offset",
                                      "replace_note_item",
                                      "update_note_item"}) {
            const int nNow = m_service.countLogLines(QLatin1String(pEndpoint));
            b.invoke("onTimeOutSync");
            QVERIFY(b.waitIdle());
            QCOMPARE(m_service.countLogLines(QLatin1String(pEndpoint)), nNow);
        }
        // And the change query itself answered no note: B's position is the service's latest.
        QVERIFY(client.login(strName, QStringLiteral("pw")));
        const QVariantMap mapLatest = client.postAsUser(QStringLiteral("get_note_changes"),
                                                        {{QStringLiteral("limit"), 1}});
        const QVariantList lstPosition
            = localRows(b.mgt(), QStringLiteral("SELECT cursor, walk_before FROM change_cursor"));
        QCOMPARE(lstPosition.size(), 1);
        QCOMPARE(lstPosition.first().toMap().value(QStringLiteral("cursor")).toLongLong(),
                 mapLatest.value(QStringLiteral("last_change")).toLongLong());
        QCOMPARE(lstPosition.first().toMap().value(QStringLiteral("walk_before")).toLongLong(), 0);
    }

    // Changes made elsewhere after the first download arrive with the next run: an edit of
    // a note from a year ago made while the service was down and sent by one upload run, a
    // deletion and a new note. Nothing else travels again.
    void laterChangesArriveWithTheNextRun()
    {
        QMap<QString, QString> mapService;
        const QString strName = makeAccount(30, 15, QStringLiteral("otter"), mapService);
        QVERIFY(!strName.isEmpty());
        CComputer a;
        CComputer b;
        QSignalSpy spyIdleA(&a.mgt().syncEngine(), &CSyncEngine::syncIdle);
        QSignalSpy spyIdleB(&b.mgt().syncEngine(), &CSyncEngine::syncIdle);
        QVERIFY(a.login(strName, QStringLiteral("pw")));
        QVERIFY(b.login(strName, QStringLiteral("pw")));
        QTRY_VERIFY_WITH_TIMEOUT(!spyIdleA.isEmpty() && !spyIdleB.isEmpty(), 120000);

        // Note 12 is of March 2025.
        const QString strEdited = noteUuid(m_nAccount, 12);
        const QString strDeleted = noteUuid(m_nAccount, 5);
        m_service.stop();
        a.editNote(strEdited, QDate(2025, 3, 13), QStringLiteral("edited on A"));
        QVERIFY(a.waitIdle());
        QVERIFY(m_service.restart());
        a.invoke("onTimeOutUploadNote");
        QVERIFY(a.waitIdle());
        a.mgt().deleteNoteItem(strDeleted);
        const QString strNew = a.writeNote(QDate(2026, 3, 9), QStringLiteral("new on A"));
        QVERIFY(!strNew.isEmpty());
        QVERIFY(a.waitIdle());
        const QMap<QString, QString> mapA = localDigests(a.mgt());
        QCOMPARE(mapA.value(strEdited), md5Hex(QStringLiteral("edited on A")));
        QVERIFY(!mapA.contains(strDeleted));

        const int nPages = m_service.countLogLines(QStringLiteral("get_note_changes"));
        const int nIdle = spyIdleB.size();
        QSignalSpy spyProgress(&b.mgt().syncEngine(), &CSyncEngine::syncProgress);
        b.invoke("onTimeOutSync");
        QTRY_VERIFY_WITH_TIMEOUT(spyIdleB.size() > nIdle, 60000);
        QCOMPARE(localDigests(b.mgt()), mapA);
        // One page with the three changes.
        QVERIFY(!spyProgress.isEmpty());
        QCOMPARE(spyProgress.last().at(1).toInt(), 3);
        QTRY_COMPARE_WITH_TIMEOUT(m_service.countLogLines(QStringLiteral("get_note_changes")),
                                  nPages + 1,
                                  10000);
    }
};

QTEST_MAIN(TestChangeFeed)
#include "tst_changefeed.moc"
