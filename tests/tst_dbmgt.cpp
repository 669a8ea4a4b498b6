#include "dbmgt.h"
#include "sqlbuilder.h"
#include "storefixture.h"

#include <QDateTime>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QString str(const char *p)
{
    return QString::fromUtf8(p);
}

// Text that breaks naive SQL: a quote, LIKE wildcards, a backslash, a comment.
const QString kHostile = str("it's 100% a_b \\ \"q\" ; --");

const QRegularExpression kUuidPattern(
    str("^\\{[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}\\}$"));

QStringList sorted(QStringList lst)
{
    lst.sort();
    return lst;
}

} // namespace

class TestDbMgt : public StoreFixture
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void defaultFolderIsTheDataFolder();
    void ownershipAndLiveFilter_data();
    void ownershipAndLiveFilter();
    void dayAndMonthBoundaries();
    void countsPerDay();
    void pagedList();
    void pagedListSearchIsLiteral_data();
    void pagedListSearchIsLiteral();
    void guardsQueueNothing();
    void singleNoteReads();
    void insertAddsUuidAndTime();
    void updateNoteItem();
    void acknowledgementsKeepTheBase();
    void replaceNoteItem();
    void keepNoteItem();
    void deleteNoteItem();
    void deleteNoteItemByServerId();
    void deleteNoteItemsInServerByMonth();
    void uploadAndDownloadLists();
    void users();
    void delUserRemovesNotesThenUser();
    void updateNoteUserId();
    void clearDbAndLog();
    void resultsArriveInRequestOrder();
    void unopenableFolderAnswersWithErrors();
    void closingStoresEveryQueuedWrite_data();
    void closingStoresEveryQueuedWrite();
    void logIsBounded();
    void fileIsLockedAgainstAnotherProcess();
    void killedWriterLosesNoAnsweredNote();

private:
    QVariantList rows(const QString &strUuid);
    QStringList titles(const QString &strUuid);
    QString addNote(const QString &strTitle,
                    const QVariant &userId,
                    const QString &strSetAt,
                    const QVariantMap &mapMore = QVariantMap());
    QVariantList fileRows(const QString &strSql);
};

void TestDbMgt::init()
{
    initStore();
}

void TestDbMgt::cleanup()
{
    cleanupStore();
}

QVariantList TestDbMgt::rows(const QString &strUuid)
{
    const QVariantMap mapResult = result(strUuid);
    if (!mapResult.contains(str("result")))
        qWarning() << "no rows:" << mapResult;
    return mapResult.value(str("result")).toList();
}

QStringList TestDbMgt::titles(const QString &strUuid)
{
    QStringList lst;
    for (const QVariant &row : rows(strUuid))
        lst << row.toMap().value(str("title")).toString();
    return lst;
}

// Inserts a note and returns its new id ("" on failure).
QString TestDbMgt::addNote(const QString &strTitle,
                           const QVariant &userId,
                           const QString &strSetAt,
                           const QVariantMap &mapMore)
{
    QVariantMap mapNote = mapMore;
    mapNote.insert(str("title"), strTitle);
    mapNote.insert(str("user_id"), userId);
    mapNote.insert(str("set_at"), strSetAt);
    const QVariantMap mapResult = result(m_pDbMgt->insertNoteItem(mapNote));
    if (mapResult.contains(str("error")))
        qWarning() << mapResult.value(str("error"));
    return mapResult.value(str("id")).toString();
}

// Reads the file directly; the store is closed first, since it holds the file locked.
QVariantList TestDbMgt::fileRows(const QString &strSql)
{
    stopStore();
    QVariantList lstRows;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(str("QSQLITE"), str("reader"));
        db.setDatabaseName(m_pDir->filePath(str("local.db")));
        if (db.open()) {
            QSqlQuery q(db);
            if (!q.exec(strSql))
                qWarning() << "cannot read" << strSql;
            while (q.next())
                lstRows << q.value(0);
        }
    }
    QSqlDatabase::removeDatabase(str("reader"));
    return lstRows;
}

void TestDbMgt::defaultFolderIsTheDataFolder()
{
    QStandardPaths::setTestModeEnabled(true);
    const QString strExpected = QDir(QStandardPaths::writableLocation(QStandardPaths::DataLocation))
                                    .absoluteFilePath(str("local.db"));
    QFile::remove(strExpected);
    {
        CDbMgt dbMgt;
        QCOMPARE(dbMgt.dbFile(), strExpected);
        QSignalSpy spy(&dbMgt, &CDbMgt::dataReceived);
        const QString strUuid = dbMgt.getUserIdList();
        QTRY_COMPARE(spy.count(), 1);
        const QVariantMap mapResult = spy.first().first().toMap();
        QCOMPARE(mapResult.value(str("uuid")).toString(), strUuid);
        QCOMPARE(mapResult.value(str("result")).toList(), QVariantList());
    }
    QVERIFY(QFile::exists(strExpected));
    QFile::remove(strExpected);
    QStandardPaths::setTestModeEnabled(false);
}

void TestDbMgt::ownershipAndLiveFilter_data()
{
    QTest::addColumn<int>("viewer");
    QTest::addColumn<QStringList>("visible");
    const QStringList lstNobody{str("null"), str("zero"), str("minus one")};
    QTest::newRow("nobody") << 0 << lstNobody;
    QTest::newRow("user 5") << 5 << lstNobody + QStringList{str("five")};
    QTest::newRow("user 7") << 7 << lstNobody + QStringList{str("seven")};
}

void TestDbMgt::ownershipAndLiveFilter()
{
    QFETCH(int, viewer);
    QFETCH(QStringList, visible);

    const QString strDay = str("2024-03-15 00:00:00");
    const QVariantMap mapDeleted{{str("deleted"), 1}};
    addNote(str("null"), QVariant(), strDay);
    addNote(str("zero"), 0, strDay);
    addNote(str("minus one"), -1, strDay, QVariantMap{{str("deleted"), 0}});
    addNote(str("five"), 5, strDay);
    addNote(str("seven"), 7, strDay);
    addNote(str("five deleted"), 5, strDay, mapDeleted);
    addNote(str("nobody deleted"), QVariant(), strDay, mapDeleted);
    addNote(str("other day"), QVariant(), str("2024-03-16 00:00:00"));

    const QDate dt(2024, 3, 15);
    const QVariantList lstDay = rows(m_pDbMgt->getNoteListByDay(dt, viewer));
    QStringList lstTitles;
    for (const QVariant &row : lstDay) {
        const QVariantMap mapRow = row.toMap();
        lstTitles << mapRow.value(str("title")).toString();
        QCOMPARE(mapRow.value(str("set_at")).toString(), str("2024-03-15"));
        QCOMPARE(mapRow.keys().size(),
                 14); // the note record, its sync state and its visible text "plain_text"
    }
    QCOMPARE(sorted(lstTitles), sorted(visible));

    const QVariantList lstMonth = rows(m_pDbMgt->getNoteListByMonth(dt, viewer));
    lstTitles.clear();
    for (const QVariant &row : lstMonth) {
        if (row.toMap().value(str("set_at")).toString() == strDay)
            lstTitles << row.toMap().value(str("title")).toString();
    }
    QCOMPARE(sorted(lstTitles), sorted(visible));
    QCOMPARE(lstMonth.size(), visible.size() + 1);

    QCOMPARE(rows(m_pDbMgt->getDayNoteCount(dt, viewer)),
             (QVariantList{QVariantMap{{str("set_at"), strDay},
                                       {str("note_count"), QString::number(visible.size())}}}));
    QCOMPARE(rows(m_pDbMgt->getDayNoteCountByMonth(dt, viewer)),
             (QVariantList{QVariantMap{{str("set_at"), strDay},
                                       {str("note_count"), QString::number(visible.size())}},
                           QVariantMap{{str("set_at"), str("2024-03-16 00:00:00")},
                                       {str("note_count"), str("1")}}}));
}

void TestDbMgt::dayAndMonthBoundaries()
{
    addNote(str("jan 31"), QVariant(), str("2024-01-31 00:00:00"));
    addNote(str("feb 1"), QVariant(), str("2024-02-01 00:00:00"));
    addNote(str("feb 29"), QVariant(), str("2024-02-29 00:00:00"));
    addNote(str("feb 29 late"), QVariant(), str("2024-02-29 23:59:59"));
    addNote(str("mar 1"), QVariant(), str("2024-03-01 00:00:00"));
    addNote(str("dec 31"), QVariant(), str("2024-12-31 00:00:00"));
    addNote(str("jan 1"), QVariant(), str("2025-01-01 00:00:00"));

    // A day is its whole day, and nothing of the next.
    QCOMPARE(sorted(titles(m_pDbMgt->getNoteListByDay(QDate(2024, 2, 29)))),
             (QStringList{str("feb 29"), str("feb 29 late")}));
    QCOMPARE(titles(m_pDbMgt->getNoteListByDay(QDate(2024, 3, 1))), QStringList{str("mar 1")});

    // A month runs from its first day to the next month's first day, from any day in it;
    // January 31st must not slip into March.
    QCOMPARE(sorted(titles(m_pDbMgt->getNoteListByMonth(QDate(2024, 2, 17), 0))),
             (QStringList{str("feb 1"), str("feb 29"), str("feb 29 late")}));
    QCOMPARE(titles(m_pDbMgt->getNoteListByMonth(QDate(2024, 1, 31), 0)),
             QStringList{str("jan 31")});
    QCOMPARE(titles(m_pDbMgt->getNoteListByMonth(QDate(2024, 12, 5), 0)),
             QStringList{str("dec 31")});
    QCOMPARE(rows(m_pDbMgt->getDayNoteCountByMonth(QDate(2024, 12, 31))),
             (QVariantList{QVariantMap{{str("set_at"), str("2024-12-31 00:00:00")},
                                       {str("note_count"), str("1")}}}));
    QCOMPARE(rows(m_pDbMgt->getDayNoteCountByMonth(QDate(2024, 1, 31))),
             (QVariantList{QVariantMap{{str("set_at"), str("2024-01-31 00:00:00")},
                                       {str("note_count"), str("1")}}}));
    QCOMPARE(rows(m_pDbMgt->getDayNoteCount(QDate(2025, 1, 1))),
             (QVariantList{QVariantMap{{str("set_at"), str("2025-01-01 00:00:00")},
                                       {str("note_count"), str("1")}}}));
    QCOMPARE(rows(m_pDbMgt->getDayNoteCount(QDate(2025, 1, 2))), QVariantList());
}

void TestDbMgt::countsPerDay()
{
    for (int i = 0; i < 3; ++i)
        addNote(QString::number(i), 5, str("2024-06-02 00:00:00"));
    addNote(str("x"), QVariant(), str("2024-06-30 00:00:00"));
    addNote(str("y"), 7, str("2024-06-30 00:00:00"));
    addNote(str("z"), 5, str("2024-06-30 00:00:00"), QVariantMap{{str("deleted"), 1}});

    QCOMPARE(rows(m_pDbMgt->getDayNoteCountByMonth(QDate(2024, 6, 1), 5)),
             (QVariantList{QVariantMap{{str("set_at"), str("2024-06-02 00:00:00")},
                                       {str("note_count"), str("3")}},
                           QVariantMap{{str("set_at"), str("2024-06-30 00:00:00")},
                                       {str("note_count"), str("1")}}}));
    QCOMPARE(rows(m_pDbMgt->getDayNoteCountByMonth(QDate(2024, 6, 1), 0)),
             (QVariantList{QVariantMap{{str("set_at"), str("2024-06-30 00:00:00")},
                                       {str("note_count"), str("1")}}}));
    QCOMPARE(rows(m_pDbMgt->getDayNoteCountByMonth(QDate(2024, 7, 1), 5)), QVariantList());
}

void TestDbMgt::pagedList()
{
    // 25 notes of nobody, one per day; one of them deleted, one of user 7.
    for (int i = 1; i <= 25; ++i) {
        QVariantMap mapMore;
        if (i == 3)
            mapMore.insert(str("deleted"), 1);
        addNote(QString::number(i),
                i == 4 ? QVariant(7) : QVariant(),
                QDate(2024, 1, i).toString(str("yyyy-MM-dd 00:00:00")),
                mapMore);
    }
    // Two notes on one day: the later change comes first.
    addNote(str("10b"),
            QVariant(),
            str("2024-01-10 00:00:00"),
            QVariantMap{{str("content"), str("later")}});

    const auto page = [this](int nOffset, int nNumber, const QString &strSearch = QString()) {
        return titles(m_pDbMgt->getNoteListByOffset(QVariantMap{{str("offset"), nOffset},
                                                                {str("number"), nNumber},
                                                                {str("search_string"), strSearch}}));
    };
    // Newest day first; deleted notes are in the paged list, user 7's are not.
    QCOMPARE(page(0, 5), (QStringList{str("25"), str("24"), str("23"), str("22"), str("21")}));
    QCOMPARE(page(20, 10), (QStringList{str("6"), str("5"), str("3"), str("2"), str("1")}));
    QCOMPARE(page(14, 3).size(), 3);
    QCOMPARE(page(40, 10), QStringList());

    m_pDbMgt->setUserId(7);
    QCOMPARE(page(20, 10),
             (QStringList{str("6"), str("5"), str("4"), str("3"), str("2"), str("1")}));
    m_pDbMgt->setUserId(0);

    const QVariantList lstRows = rows(
        m_pDbMgt->getNoteListByOffset(QVariantMap{{str("offset"), 0}, {str("number"), 1}}));
    QCOMPARE(lstRows.size(), 1);
    QCOMPARE(lstRows.first().toMap().value(str("set_at")).toString(), str("2024-01-25"));

    // Same day: ordered by the time of the last change, newest first. updated_at was set
    // at insert time, to the second; give them distinct times to be sure.
    QVERIFY(
        result(m_pDbMgt->updateNoteItem(QVariantMap{{str("title"), str("10b")},
                                                    {str("updated_at"), str("2030-01-01 00:00:00")}},
                                        str("title")))
            .contains(str("result")));
    QCOMPARE(page(15, 2), (QStringList{str("10b"), str("10")}));
}

void TestDbMgt::pagedListSearchIsLiteral_data()
{
    QTest::addColumn<QString>("search");
    QTest::addColumn<int>("viewer");
    QTest::addColumn<QStringList>("found");
    QTest::newRow("plain word, title or content")
        << str("apple") << 0 << QStringList{str("apple in title"), str("body")};
    QTest::newRow("case of ASCII ignored")
        << str("APPLE") << 0 << QStringList{str("apple in title"), str("body")};
    QTest::newRow("percent is a percent")
        << str("100%") << 0 << QStringList{str("percent"), str("hostile")};
    QTest::newRow("underscore is an underscore")
        << str("a_b") << 0 << QStringList{str("underscore"), str("hostile")};
    QTest::newRow("quote") << str("it's") << 0 << QStringList{str("quote"), str("hostile")};
    QTest::newRow("backslash") << str("c:\\x") << 0 << QStringList{str("backslash")};
    QTest::newRow("whole hostile text") << kHostile << 0 << QStringList{str("hostile")};
    QTest::newRow("user 5 sees own and nobody's")
        << str("pear") << 5 << QStringList{str("pear nobody"), str("pear five")};
    QTest::newRow("nobody sees nobody's") << str("pear") << 0 << QStringList{str("pear nobody")};
    QTest::newRow("no match") << str("kiwi") << 5 << QStringList();
}

void TestDbMgt::pagedListSearchIsLiteral()
{
    QFETCH(QString, search);
    QFETCH(int, viewer);
    QFETCH(QStringList, found);

    const QString strDay = str("2024-05-05 00:00:00");
    addNote(str("apple in title"), QVariant(), strDay);
    addNote(str("body"), QVariant(), strDay, QVariantMap{{str("content"), str("<p>an apple</p>")}});
    addNote(str("percent"), QVariant(), strDay, QVariantMap{{str("content"), str("100% sure")}});
    addNote(str("no percent"), QVariant(), strDay, QVariantMap{{str("content"), str("1000 sure")}});
    addNote(str("underscore"), QVariant(), strDay, QVariantMap{{str("content"), str("a_b")}});
    addNote(str("no underscore"), QVariant(), strDay, QVariantMap{{str("content"), str("axb")}});
    addNote(str("quote"), QVariant(), strDay, QVariantMap{{str("content"), str("it's")}});
    addNote(str("backslash"), QVariant(), strDay, QVariantMap{{str("content"), str("c:\\x")}});
    addNote(str("hostile"), QVariant(), strDay, QVariantMap{{str("content"), kHostile}});
    addNote(str("pear nobody"), 0, strDay);
    addNote(str("pear five"), 5, strDay);
    addNote(str("pear seven"), 7, strDay);

    m_pDbMgt->setUserId(viewer);
    const QVariantMap mapResult = result(m_pDbMgt->getNoteListByOffset(
        QVariantMap{{str("offset"), 0}, {str("number"), 50}, {str("search_string"), search}}));
    QVERIFY2(!mapResult.contains(str("error")),
             qPrintable(mapResult.value(str("error")).toString()));
    QStringList lstTitles;
    for (const QVariant &row : mapResult.value(str("result")).toList())
        lstTitles << row.toMap().value(str("title")).toString();
    QCOMPARE(sorted(lstTitles), sorted(found));
}

void TestDbMgt::guardsQueueNothing()
{
    QCOMPARE(m_pDbMgt->getNoteItem(0, 5), QString());
    QCOMPARE(m_pDbMgt->getNoteItem(QString()), QString());
    QCOMPARE(m_pDbMgt->saveUser(QVariantMap{{str("id"), 0}, {str("pwd"), str("x")}}), QString());
    QCOMPARE(m_pDbMgt->delUser(0), QString());
    QCOMPARE(m_pDbMgt->deleteNoteItem(QString(), 5, str("2024-01-01 00:00:00")), QString());
    QCOMPARE(m_pDbMgt->deleteNoteItemByServerId(0, str("2024-01-01 00:00:00"), 5), QString());
    QCOMPARE(m_pDbMgt->clearNoteItemsByUserId(0), QString());

    // Nothing was queued: the next result is the first one.
    const QString strUuid = m_pDbMgt->getUserIdList();
    QTRY_COMPARE(m_lstResults.size(), 1);
    QCOMPARE(m_lstResults.first().value(str("uuid")).toString(), strUuid);
}

void TestDbMgt::singleNoteReads()
{
    const QString strUuid5 = str("{55555555-0000-0000-0000-000000000000}");
    const QString strUuidNobody = str("{00000000-0000-0000-0000-000000000001}");
    const QString strId5 = addNote(str("five"),
                                   5,
                                   str("2024-01-01 00:00:00"),
                                   QVariantMap{{str("uuid"), strUuid5}, {str("deleted"), 1}});
    const QString strIdNobody = addNote(str("nobody"),
                                        -1,
                                        str("2024-01-01 00:00:00"),
                                        QVariantMap{{str("uuid"), strUuidNobody}});

    // By id: the owner's note (even deleted), or a note of nobody without a user.
    QCOMPARE(titles(m_pDbMgt->getNoteItem(strId5.toInt(), 5)), QStringList{str("five")});
    QCOMPARE(titles(m_pDbMgt->getNoteItem(strId5.toInt(), 7)), QStringList());
    QCOMPARE(titles(m_pDbMgt->getNoteItem(strId5.toInt(), 0)), QStringList());
    QCOMPARE(titles(m_pDbMgt->getNoteItem(strIdNobody.toInt(), 0)), QStringList{str("nobody")});
    const QVariantMap mapRow = rows(m_pDbMgt->getNoteItem(strId5.toInt(), 5)).value(0).toMap();
    QCOMPARE(mapRow.value(str("set_at")).toString(), str("2024-01-01 00:00:00"));
    QCOMPARE(mapRow.value(str("server_id")).toString(), QString());
    QCOMPARE(mapRow.value(str("id")).toString(), strId5);

    // By UUID, for the current user.
    QCOMPARE(titles(m_pDbMgt->getNoteItem(strUuidNobody)), QStringList{str("nobody")});
    QCOMPARE(titles(m_pDbMgt->getNoteItem(strUuid5)), QStringList());
    m_pDbMgt->setUserId(5);
    QCOMPARE(m_pDbMgt->userId(), 5);
    const QVariantList lstRows = rows(m_pDbMgt->getNoteItem(strUuid5));
    QCOMPARE(lstRows.size(), 1);
    QCOMPARE(lstRows.first().toMap().value(str("set_at")).toString(), str("2024-01-01"));
    // A hostile UUID is just a UUID that matches nothing.
    const QVariantMap mapHostile = result(m_pDbMgt->getNoteItem(kHostile));
    QVERIFY(!mapHostile.contains(str("error")));
    QCOMPARE(mapHostile.value(str("result")).toList(), QVariantList());

    QCOMPARE(rows(m_pDbMgt->getNoteIdByLocalId(strIdNobody.toInt())),
             (QVariantList{QVariantMap{{str("id"), strIdNobody}, {str("server_id"), QString()}}}));
}

void TestDbMgt::insertAddsUuidAndTime()
{
    const QString strBefore = QDateTime::currentDateTime().addSecs(-1).toString(
        str("yyyy-MM-dd hh:mm:ss"));
    const QString strId = addNote(kHostile,
                                  QVariant(),
                                  str("2024-01-01 00:00:00"),
                                  QVariantMap{{str("content"), kHostile},
                                              {str("updated_at"), str("1999-01-01 00:00:00")}});
    const QString strOwnUuid = str("{12345678-0000-0000-0000-000000000000}");
    const QString strOwnId = addNote(str("own"),
                                     QVariant(),
                                     str("2024-01-01 00:00:00"),
                                     QVariantMap{{str("uuid"), strOwnUuid}});
    QVERIFY(!strId.isEmpty());
    QCOMPARE(strOwnId.toInt(), strId.toInt() + 1);

    const QVariantMap mapRow = rows(m_pDbMgt->getNoteItem(strId.toInt(), 0)).value(0).toMap();
    QCOMPARE(mapRow.value(str("title")).toString(), kHostile);
    QCOMPARE(mapRow.value(str("content")).toString(), kHostile);
    QVERIFY(kUuidPattern.match(mapRow.value(str("uuid")).toString()).hasMatch());
    QVERIFY(mapRow.value(str("updated_at")).toString() >= strBefore);
    QCOMPARE(rows(m_pDbMgt->getNoteItem(strOwnId.toInt(), 0)).value(0).toMap().value(str("uuid")),
             QVariant(strOwnUuid));
}

void TestDbMgt::updateNoteItem()
{
    const QString strUuid = str("{aaaaaaaa-0000-0000-0000-000000000000}");
    const QString strId = addNote(str("old"),
                                  QVariant(),
                                  str("2024-01-01 00:00:00"),
                                  QVariantMap{{str("uuid"), strUuid},
                                              {str("updated_at"), str("x")}});
    const QString strUpdatedAt = rows(m_pDbMgt->getNoteItem(strId.toInt(), 0))
                                     .value(0)
                                     .toMap()
                                     .value(str("updated_at"))
                                     .toString();

    // By UUID: only the given columns change, the digest follows the body.
    const QVariantMap mapResult = result(
        m_pDbMgt->updateNoteItem(QVariantMap{{str("uuid"), strUuid},
                                             {str("title"), kHostile},
                                             {str("content"), str("abc")}},
                                 str("uuid")));
    QVERIFY2(mapResult.contains(str("result")),
             qPrintable(mapResult.value(str("error")).toString()));
    QVERIFY(!mapResult.contains(str("id")));
    QVariantMap mapRow = rows(m_pDbMgt->getNoteItem(strId.toInt(), 0)).value(0).toMap();
    QCOMPARE(mapRow.value(str("title")).toString(), kHostile);
    QCOMPARE(mapRow.value(str("content_size")).toString(), str("3"));
    QCOMPARE(mapRow.value(str("md5")).toString(), md5Hex(str("abc")));
    QCOMPARE(mapRow.value(str("updated_at")).toString(), strUpdatedAt);
    QCOMPARE(mapRow.value(str("uuid")).toString(), strUuid);

    // An empty body has no digest.
    result(m_pDbMgt->updateNoteItem(QVariantMap{{str("uuid"), strUuid}, {str("content"), QString()}},
                                    str("uuid")));
    mapRow = rows(m_pDbMgt->getNoteItem(strId.toInt(), 0)).value(0).toMap();
    QCOMPARE(mapRow.value(str("content_size")).toString(), str("0"));
    QCOMPARE(mapRow.value(str("md5")).toString(), QString());

    // Without a where-field, or with one the record lacks, it inserts a new note.
    const QVariantMap mapInserted = result(m_pDbMgt->updateNoteItem(
        QVariantMap{{str("title"), str("new")}, {str("set_at"), str("2024-01-01 00:00:00")}}));
    QCOMPARE(mapInserted.value(str("id")).toInt(), strId.toInt() + 1);
    const QVariantMap mapInserted2 = result(
        m_pDbMgt->updateNoteItem(QVariantMap{{str("title"), str("newer")},
                                             {str("set_at"), str("2024-01-01 00:00:00")}},
                                 str("server_id")));
    QCOMPARE(mapInserted2.value(str("id")).toInt(), strId.toInt() + 2);
    QCOMPARE(sorted(titles(m_pDbMgt->getNoteListByDay(QDate(2024, 1, 1)))),
             sorted(QStringList{kHostile, str("new"), str("newer")}));
}

// An acknowledgement ends the pending state of that very version only, but the version
// it names is the service's now: the next upload names it as its base, even when the
// note changed again meanwhile; a late answer for an older version changes nothing.
void TestDbMgt::acknowledgementsKeepTheBase()
{
    const QString strUuid = str("{bbbbbbbb-0000-0000-0000-000000000000}");
    const QString strId = addNote(str("v1"),
                                  7,
                                  str("2024-01-01 00:00:00"),
                                  QVariantMap{{str("uuid"), strUuid}, {str("content"), str("v1")}});
    auto edit = [&](const QString &strText, const QString &strAt) {
        result(m_pDbMgt->updateNoteItem(QVariantMap{{str("uuid"), strUuid},
                                                    {str("content"), strText},
                                                    {str("updated_at"), strAt},
                                                    {str("sync_state"), 1}},
                                        str("uuid")));
    };
    auto acknowledge = [&](const QString &strText, const QString &strAt) {
        result(m_pDbMgt->acknowledgeNote({{str("uuid"), strUuid},
                                          {str("updated_at"), strAt},
                                          {str("md5"), md5Hex(strText)}},
                                         9));
    };
    auto state = [&]() {
        const QVariantMap map = rows(m_pDbMgt->getNoteItem(strId.toInt(), 7)).value(0).toMap();
        return QStringList{map.value(str("sync_state")).toString(),
                           map.value(str("server_id")).toString(),
                           map.value(str("base_updated_at")).toString(),
                           map.value(str("base_md5")).toString()}
            .join(QLatin1Char('|'));
    };
    const QString strT1 = str("2099-01-02 08:00:00");
    const QString strT2 = str("2099-01-02 09:00:00");
    const QString strT3 = str("2099-01-02 10:00:00");
    edit(str("v1"), strT1);
    acknowledge(str("v1"), strT1);
    QCOMPARE(state(),
             QStringList({str("0"), str("9"), strT1, md5Hex(str("v1"))}).join(QLatin1Char('|')));

    edit(str("v2"), strT2);
    edit(str("v3"), strT3);
    acknowledge(str("v2"), strT2); // v3 is still on its way
    QCOMPARE(state(),
             QStringList({str("1"), str("9"), strT2, md5Hex(str("v2"))}).join(QLatin1Char('|')));
    acknowledge(str("v1"), strT1); // late
    QCOMPARE(state(),
             QStringList({str("1"), str("9"), strT2, md5Hex(str("v2"))}).join(QLatin1Char('|')));
    acknowledge(str("v3"), strT3);
    QCOMPARE(state(),
             QStringList({str("0"), str("9"), strT3, md5Hex(str("v3"))}).join(QLatin1Char('|')));
}

void TestDbMgt::replaceNoteItem()
{
    const QString strUuid = str("{bbbbbbbb-0000-0000-0000-000000000000}");
    const QString strId = addNote(str("old"),
                                  5,
                                  str("2024-01-01 00:00:00"),
                                  QVariantMap{{str("uuid"), strUuid}});

    // Known UUID of the same owner: updated in place, no new id.
    QVariantMap mapResult = result(m_pDbMgt->replaceNoteItem(QVariantMap{{str("uuid"), strUuid},
                                                                         {str("user_id"), 5},
                                                                         {str("title"), kHostile},
                                                                         {str("content"), QString()},
                                                                         {str("server_id"), 15}},
                                                             str("uuid")));
    QVERIFY2(!mapResult.contains(str("error")),
             qPrintable(mapResult.value(str("error")).toString()));
    QVERIFY(!mapResult.contains(str("id")));
    QVariantMap mapRow = rows(m_pDbMgt->getNoteItem(strId.toInt(), 5)).value(0).toMap();
    QCOMPARE(mapRow.value(str("title")).toString(), kHostile);
    QCOMPARE(mapRow.value(str("server_id")).toString(), str("15"));
    QCOMPARE(mapRow.value(str("content_size")).toString(), str("0"));
    // An empty text has no digest, whichever write stored it.
    QCOMPARE(mapRow.value(str("md5")).toString(), QString());

    // Unknown UUID: inserted with that UUID.
    const QString strNewUuid = str("{cccccccc-0000-0000-0000-000000000000}");
    mapResult = result(
        m_pDbMgt->replaceNoteItem(QVariantMap{{str("uuid"), strNewUuid},
                                              {str("user_id"), 5},
                                              {str("title"), str("fresh")},
                                              {str("set_at"), str("2024-01-01 00:00:00")},
                                              {str("content"), str("abc")}},
                                  str("uuid")));
    QVERIFY(mapResult.contains(str("id")));
    mapRow = rows(m_pDbMgt->getNoteItem(mapResult.value(str("id")).toInt(), 5)).value(0).toMap();
    QCOMPARE(mapRow.value(str("uuid")).toString(), strNewUuid);
    QCOMPARE(mapRow.value(str("md5")).toString(), md5Hex(str("abc")));
    QCOMPARE(mapRow.value(str("content_size")).toString(), str("3"));

    // No where-field: a plain insert.
    mapResult = result(m_pDbMgt->replaceNoteItem(
        QVariantMap{{str("title"), str("plain")}, {str("set_at"), str("2024-01-01 00:00:00")}}));
    QVERIFY(mapResult.contains(str("id")));
    QCOMPARE(sorted(titles(m_pDbMgt->getNoteListByDay(QDate(2024, 1, 1), 5))),
             sorted(QStringList{kHostile, str("fresh"), str("plain")}));
}

// A note written only where none with its UUID is stored: one found, changed or deleted
// since, stays exactly as it is.
void TestDbMgt::keepNoteItem()
{
    const QString strUuid = str("{eeeeeeee-0000-0000-0000-000000000000}");
    const QVariantMap mapCopy{{str("uuid"), strUuid},
                              {str("user_id"), 5},
                              {str("title"), str("copy")},
                              {str("set_at"), str("2024-01-01 00:00:00")},
                              {str("content"), str("first text")},
                              {str("sync_state"), 1}};
    QVariantMap mapResult = result(m_pDbMgt->keepNoteItem(mapCopy));
    QVERIFY2(!mapResult.contains(str("error")),
             qPrintable(mapResult.value(str("error")).toString()));
    QVERIFY(!mapResult.value(str("kept")).toBool());
    const int nId = mapResult.value(str("id")).toInt();
    QVERIFY(nId > 0);

    // Changed by the user, then written again: the change stays.
    result(m_pDbMgt->updateNoteItem(
        QVariantMap{{str("uuid"), strUuid}, {str("content"), str("first text, and more")}},
        str("uuid")));
    mapResult = result(m_pDbMgt->keepNoteItem(mapCopy));
    QVERIFY(mapResult.value(str("kept")).toBool());
    QVariantMap mapRow = rows(m_pDbMgt->getNoteItem(nId, 5)).value(0).toMap();
    QCOMPARE(mapRow.value(str("content")).toString(), str("first text, and more"));

    // Deleted by the user: it does not come back.
    result(m_pDbMgt->deleteNoteItem(strUuid, 5, str("2099-01-01 00:00:00")));
    mapResult = result(m_pDbMgt->keepNoteItem(mapCopy));
    QVERIFY(mapResult.value(str("kept")).toBool());
    mapRow = rows(m_pDbMgt->getNoteItem(nId, 5)).value(0).toMap();
    QCOMPARE(mapRow.value(str("deleted")).toString(), str("1"));
    QCOMPARE(sorted(titles(m_pDbMgt->getNoteListByDay(QDate(2024, 1, 1), 5))), QStringList());
}

void TestDbMgt::deleteNoteItem()
{
    const QString strTime = str("2099-02-02 10:00:00");
    const auto uuid = [](int n) {
        return QStringLiteral("{d0000000-0000-0000-0000-%1}").arg(n, 12, 10, QLatin1Char('0'));
    };
    addNote(str("five"), 5, str("2024-01-01 00:00:00"), QVariantMap{{str("uuid"), uuid(5)}});
    addNote(str("seven"), 7, str("2024-01-01 00:00:00"), QVariantMap{{str("uuid"), uuid(7)}});
    addNote(str("nobody"),
            QVariant(),
            str("2024-01-01 00:00:00"),
            QVariantMap{{str("uuid"), uuid(0)}});

    // User 5 may delete their own note and notes of nobody, not user 7's.
    for (int n : {5, 7, 0})
        QVERIFY(result(m_pDbMgt->deleteNoteItem(uuid(n), 5, strTime)).contains(str("result")));
    QCOMPARE(titles(m_pDbMgt->getNoteListByDay(QDate(2024, 1, 1), 7)), QStringList{str("seven")});
    // Without a user, only notes of nobody.
    addNote(str("nobody 2"), 0, str("2024-01-01 00:00:00"), QVariantMap{{str("uuid"), uuid(1)}});
    QVERIFY(result(m_pDbMgt->deleteNoteItem(uuid(7), 0, strTime)).contains(str("result")));
    QVERIFY(result(m_pDbMgt->deleteNoteItem(uuid(1), 0, strTime)).contains(str("result")));
    QCOMPARE(titles(m_pDbMgt->getNoteListByDay(QDate(2024, 1, 1), 7)), QStringList{str("seven")});
    QVERIFY(!result(m_pDbMgt->deleteNoteItem(kHostile, 0, kHostile)).contains(str("error")));

    // The tombstone keeps its row, with the time of the deletion.
    m_pDbMgt->setUserId(5);
    const QVariantMap mapRow = rows(m_pDbMgt->getNoteItem(uuid(5))).value(0).toMap();
    QCOMPARE(mapRow.value(str("deleted")).toString(), str("1"));
    QCOMPARE(mapRow.value(str("updated_at")).toString(), strTime);
    // A change by a clock that says it is earlier than the version it changes (set back,
    // or within the same second) still comes after it.
    for (const char *pEarlier : {"2099-02-02 10:00:00", "2024-02-02 10:00:00"})
        QVERIFY(result(m_pDbMgt->deleteNoteItem(uuid(5), 5, str(pEarlier))).contains(str("result")));
    QCOMPARE(rows(m_pDbMgt->getNoteItem(uuid(5))).value(0).toMap().value(str("updated_at")).toString(),
             str("2099-02-02 10:00:02"));
    QCOMPARE(titles(m_pDbMgt->getNoteListByOffset(
                        QVariantMap{{str("offset"), 0}, {str("number"), 10}}))
                 .size(),
             3); // five, nobody and nobody 2, deleted all
}

void TestDbMgt::deleteNoteItemByServerId()
{
    addNote(str("seven"), 7, str("2024-01-01 00:00:00"), QVariantMap{{str("server_id"), 15}});
    addNote(str("five"), 5, str("2024-01-01 00:00:00"), QVariantMap{{str("server_id"), 16}});

    // With user 5, user 7's note stays.
    QVERIFY(result(m_pDbMgt->deleteNoteItemByServerId(15, kHostile, 5)).contains(str("result")));
    QCOMPARE(titles(m_pDbMgt->getNoteListByDay(QDate(2024, 1, 1), 7)), QStringList{str("seven")});
    // Without a user, whatever the owner.
    QVERIFY(result(m_pDbMgt->deleteNoteItemByServerId(15, kHostile, 0)).contains(str("result")));
    QCOMPARE(titles(m_pDbMgt->getNoteListByDay(QDate(2024, 1, 1), 7)), QStringList());
    QCOMPARE(titles(m_pDbMgt->getNoteListByDay(QDate(2024, 1, 1), 5)), QStringList{str("five")});
    m_pDbMgt->setUserId(7);
    const QVariantMap mapRow = rows(m_pDbMgt->getNoteListByOffset(
                                        QVariantMap{{str("offset"), 0}, {str("number"), 10}}))
                                   .value(0)
                                   .toMap();
    QCOMPARE(mapRow.value(str("title")).toString(), str("seven"));
    QCOMPARE(mapRow.value(str("updated_at")).toString(), kHostile);
}

void TestDbMgt::deleteNoteItemsInServerByMonth()
{
    const QVariantMap mapUploaded{{str("server_id"), 1}, {str("updated_at"), str("x")}};
    addNote(str("uploaded"), 5, str("2024-04-10 00:00:00"), mapUploaded);
    addNote(str("local only"), 5, str("2024-04-11 00:00:00"));
    addNote(str("other user"), 7, str("2024-04-10 00:00:00"), QVariantMap{{str("server_id"), 2}});
    addNote(str("next month"), 5, str("2024-05-01 00:00:00"), QVariantMap{{str("server_id"), 3}});
    addNote(str("nobody"),
            QVariant(),
            str("2024-04-10 00:00:00"),
            QVariantMap{{str("server_id"), 4}});
    const QString strUpdatedAt = rows(m_pDbMgt->getNoteListByMonth(QDate(2024, 4, 1), 5))
                                     .value(0)
                                     .toMap()
                                     .value(str("updated_at"))
                                     .toString();

    QVERIFY(result(m_pDbMgt->deleteNoteItemsInServerByMonth(QDate(2024, 4, 30), 5))
                .contains(str("result")));
    QCOMPARE(sorted(titles(m_pDbMgt->getNoteListByMonth(QDate(2024, 4, 1), 5))),
             (QStringList{str("local only"), str("nobody")}));
    QCOMPARE(titles(m_pDbMgt->getNoteListByMonth(QDate(2024, 4, 1), 7)).size(), 2);
    QCOMPARE(titles(m_pDbMgt->getNoteListByMonth(QDate(2024, 5, 1), 5)),
             QStringList{str("next month")});
    m_pDbMgt->setUserId(5);
    const QVariantMap mapRow = rows(m_pDbMgt->getNoteItem(1, 5)).value(0).toMap();
    QCOMPARE(mapRow.value(str("deleted")).toString(), str("1"));
    QCOMPARE(mapRow.value(str("updated_at")).toString(), strUpdatedAt);
}

void TestDbMgt::uploadAndDownloadLists()
{
    addNote(str("to upload"),
            5,
            str("2024-01-01 00:00:00"),
            QVariantMap{{str("content"), str("x")}});
    addNote(str("zero server id"),
            5,
            str("2024-01-01 00:00:00"),
            QVariantMap{{str("server_id"), 0}});
    addNote(str("uploaded"),
            5,
            str("2024-01-01 00:00:00"),
            QVariantMap{{str("server_id"), 9},
                        {str("content"), str("x")},
                        {str("content_size"), 1}});
    addNote(str("to download"),
            5,
            str("2024-01-01 00:00:00"),
            QVariantMap{{str("server_id"), 10},
                        {str("content"), QString()},
                        {str("content_size"), 20}});
    addNote(str("deleted"),
            5,
            str("2024-01-01 00:00:00"),
            QVariantMap{{str("deleted"), 1}, {str("content_size"), 20}});
    addNote(str("nobody"),
            QVariant(),
            str("2024-01-01 00:00:00"),
            QVariantMap{{str("content_size"), 20}});
    addNote(str("seven"), 7, str("2024-01-01 00:00:00"), QVariantMap{{str("content_size"), 20}});

    m_pDbMgt->setUserId(5);
    QCOMPARE(sorted(titles(m_pDbMgt->getNoteListByToUpload())),
             (QStringList{str("to upload"), str("zero server id")}));
    QCOMPARE(titles(m_pDbMgt->getNoteListByToDownload()), QStringList{str("to download")});
    QCOMPARE(rows(m_pDbMgt->getNoteIdList(5)),
             (QVariantList{QVariantMap{{str("id"), str("3")}, {str("server_id"), str("9")}},
                           QVariantMap{{str("id"), str("4")}, {str("server_id"), str("10")}}}));
}

void TestDbMgt::users()
{
    const QString strPwd = md5Hex(str("secret"));
    QVariantMap mapResult = result(
        m_pDbMgt->saveUser(QVariantMap{{str("name"), str("o'neil")},
                                       {str("pwd"), strPwd},
                                       {str("nickname"), kHostile},
                                       {str("server_id"), 21},
                                       {str("classify_string"), str("c")}}));
    QVERIFY2(!mapResult.contains(str("error")),
             qPrintable(mapResult.value(str("error")).toString()));
    const int nId = mapResult.value(str("id")).toInt();
    QVERIFY(nId > 0);

    // The same name again updates that row.
    mapResult = result(m_pDbMgt->saveUser(QVariantMap{{str("id"), 0},
                                                      {str("name"), str("o'neil")},
                                                      {str("pwd"), strPwd},
                                                      {str("nickname"), str("Neil")}}));
    QVERIFY(!mapResult.contains(str("error")));
    QVERIFY(!mapResult.contains(str("id")));
    // A name alone is fine too.
    QVERIFY(!result(m_pDbMgt->saveUser(QVariantMap{{str("name"), str("o'neil")}}))
                 .contains(str("error")));
    // So is an update by id.
    QVERIFY(result(m_pDbMgt->saveUser(
                       QVariantMap{{str("id"), nId}, {str("classify_string"), kHostile}}))
                .contains(str("result")));

    const QVariantList lstRows = rows(m_pDbMgt->getUser(str("o'neil"), strPwd));
    QCOMPARE(lstRows.size(), 1);
    const QVariantMap mapUser = lstRows.first().toMap();
    QCOMPARE(mapUser.value(str("id")).toInt(), nId);
    QCOMPARE(mapUser.value(str("nickname")).toString(), str("Neil"));
    QCOMPARE(mapUser.value(str("server_id")).toString(), str("21"));
    QCOMPARE(mapUser.value(str("classify_string")).toString(), kHostile);
    QCOMPARE(rows(m_pDbMgt->getUser(nId)), lstRows);

    // Wrong password, or a name that is a pattern or an injection: nobody.
    QCOMPARE(rows(m_pDbMgt->getUser(str("o'neil"), md5Hex(str("wrong")))), QVariantList());
    QCOMPARE(rows(m_pDbMgt->getUser(str("%"), strPwd)), QVariantList());
    QCOMPARE(rows(m_pDbMgt->getUser(str("x' OR '1'='1"), str("x' OR '1'='1"))), QVariantList());

    result(m_pDbMgt->saveUser(QVariantMap{{str("name"), str("local")}, {str("pwd"), strPwd}}));
    QCOMPARE(rows(m_pDbMgt->getUserIdList()),
             (QVariantList{
                 QVariantMap{{str("id"), QString::number(nId)}, {str("server_id"), str("21")}}}));
}

void TestDbMgt::delUserRemovesNotesThenUser()
{
    const int nId = result(m_pDbMgt->saveUser(QVariantMap{{str("name"), str("ann")}}))
                        .value(str("id"))
                        .toInt();
    QVERIFY(nId > 0);
    addNote(str("mine"), nId, str("2024-01-01 00:00:00"));
    addNote(str("nobody"), QVariant(), str("2024-01-01 00:00:00"));
    m_lstResults.clear();

    const QString strUuid = m_pDbMgt->delUser(nId);
    QTRY_COMPARE(m_lstResults.size(), 2);
    QCOMPARE(m_lstResults.last().value(str("uuid")).toString(), strUuid);
    QVERIFY(m_lstResults.first().value(str("uuid")).toString() != strUuid);
    QVERIFY(m_lstResults.first().contains(str("result")));

    QCOMPARE(rows(m_pDbMgt->getUser(nId)), QVariantList());
    QCOMPARE(titles(m_pDbMgt->getNoteListByDay(QDate(2024, 1, 1), nId)), QStringList{str("nobody")});
}

void TestDbMgt::updateNoteUserId()
{
    addNote(str("null"), QVariant(), str("2024-01-01 00:00:00"));
    addNote(str("minus"), -1, str("2024-01-01 00:00:00"));
    addNote(str("seven"), 7, str("2024-01-01 00:00:00"));
    m_pDbMgt->updateNoteUserId(5);
    QCOMPARE(titles(m_pDbMgt->getNoteListByDay(QDate(2024, 1, 1), 0)), QStringList());
    QCOMPARE(sorted(titles(m_pDbMgt->getNoteListByDay(QDate(2024, 1, 1), 5))),
             (QStringList{str("minus"), str("null")}));
    QCOMPARE(titles(m_pDbMgt->getNoteListByDay(QDate(2024, 1, 1), 7)), QStringList{str("seven")});
}

void TestDbMgt::clearDbAndLog()
{
    m_pDbMgt->saveLog(QVariantMap{{str("log_type"), str("login_local")},
                                  {str("log_at"), str("2024-01-01 00:00:00")},
                                  {str("result"), str("sucess")},
                                  {str("error"), QString()},
                                  {str("user_id"), 3},
                                  {str("log_obj"), kHostile}});
    result(m_pDbMgt->saveUser(QVariantMap{{str("name"), str("ann")}}));
    addNote(str("n"), QVariant(), str("2024-01-01 00:00:00"));
    QCOMPARE(fileRows(str("SELECT log_obj FROM log WHERE user_id = 3")), QVariantList{kHostile});

    startStore();
    m_pDbMgt->clearDb();
    QTRY_COMPARE(m_lstResults.size(), 3);
    for (const QVariantMap &map : qAsConst(m_lstResults))
        QVERIFY(map.contains(str("result")));
    QCOMPARE(fileRows(str("SELECT (SELECT count(*) FROM note) + (SELECT count(*) FROM log) + "
                          "(SELECT count(*) FROM user)")),
             QVariantList{0});
}

void TestDbMgt::resultsArriveInRequestOrder()
{
    QStringList lstUuids;
    for (int i = 0; i < 50; ++i) {
        lstUuids << m_pDbMgt->insertNoteItem(QVariantMap{{str("title"), QString::number(i)}});
        lstUuids << m_pDbMgt->getDayNoteCountByMonth(QDate(2024, 1, 1), 5);
        lstUuids << m_pDbMgt->replaceNoteItem(QVariantMap{{str("uuid"), str("u")},
                                                          {str("title"), str("t")}},
                                              str("uuid"));
    }
    QTRY_COMPARE(m_lstResults.size(), lstUuids.size());
    QStringList lstArrived;
    for (const QVariantMap &map : qAsConst(m_lstResults)) {
        lstArrived << map.value(str("uuid")).toString();
        QVERIFY(!map.contains(str("error")));
    }
    QCOMPARE(lstArrived, lstUuids);
}

void TestDbMgt::unopenableFolderAnswersWithErrors()
{
    stopStore();
    QFile file(m_pDir->filePath(str("taken")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    m_pDbMgt = new CDbMgt(m_pDir->filePath(str("taken/kelpo")));
    QSignalSpy spy(m_pDbMgt, &CDbMgt::dataReceived);
    const QString strInsert = m_pDbMgt->insertNoteItem(QVariantMap{{str("title"), str("lost?")}});
    const QString strList = m_pDbMgt->getNoteListByDay(QDate(2024, 1, 1));
    QTRY_COMPARE(spy.count(), 2);
    for (int i = 0; i < 2; ++i) {
        const QVariantMap mapResult = spy.at(i).first().toMap();
        QCOMPARE(mapResult.value(str("uuid")).toString(), i == 0 ? strInsert : strList);
        QVERIFY(mapResult.value(str("error")).toString().startsWith(str("Fail to open db: ")));
        QVERIFY(!mapResult.contains(str("id")));
        QVERIFY(!mapResult.contains(str("result")));
    }
}

void TestDbMgt::closingStoresEveryQueuedWrite_data()
{
    QTest::addColumn<int>("queued");
    QTest::newRow("none") << 0;
    QTest::newRow("one") << 1;
    QTest::newRow("50") << 50;
    QTest::newRow("200") << 200;
}

// The store is closed at once after the writes are queued (the program quitting): every
// one of them is in the file afterwards.
void TestDbMgt::closingStoresEveryQueuedWrite()
{
    QFETCH(int, queued);
    for (int i = 0; i < queued; ++i)
        m_pDbMgt->insertNoteItem(QVariantMap{{str("title"), QStringLiteral("queued %1").arg(i)},
                                             {str("content"), QString(2000, QLatin1Char('x'))}});
    const QVariantList lstCount = fileRows(str("SELECT count(*) FROM note"));
    QCOMPARE(lstCount.value(0).toInt(), queued);
    QVERIFY(!QFile::exists(CThreadDb::unfinishedFile(m_pDir->filePath(str("local.db")))));
}

// The log keeps 30 days and 10 000 rows, trimmed at start.
void TestDbMgt::logIsBounded()
{
    stopStore();
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(str("QSQLITE"), str("writer"));
        db.setDatabaseName(m_pDir->filePath(str("local.db")));
        QVERIFY(db.open());
        QSqlQuery q(db);
        // The store made the file and its tables at the start of the test.
        QVERIFY(q.exec(str("DELETE FROM log")));
        QVERIFY(db.transaction());
        const QString strOld = QDateTime::currentDateTime().addDays(-31).toString(
            str("yyyy-MM-dd hh:mm:ss"));
        const QString strNew = QDateTime::currentDateTime().addDays(-1).toString(
            str("yyyy-MM-dd hh:mm:ss"));
        QVERIFY(q.prepare(str("INSERT INTO log (log_type, log_at) VALUES (:t, :at)")));
        for (int i = 0; i < 12500; ++i) {
            q.bindValue(str(":t"), i < 500 ? str("old") : str("new"));
            q.bindValue(str(":at"), i < 500 ? strOld : strNew);
            QVERIFY(q.exec());
        }
        QVERIFY(db.commit());
        q.finish();
        db.close();
    }
    QSqlDatabase::removeDatabase(str("writer"));
    startStore();
    m_pDbMgt->getNoteIdList(1);
    QCOMPARE(fileRows(str("SELECT count(*) FROM log WHERE log_type = 'old'")).value(0).toInt(), 0);
    QCOMPARE(fileRows(str("SELECT count(*) FROM log")).value(0).toInt(), 10000);
    // The newest are kept.
    QCOMPARE(fileRows(str("SELECT max(id) FROM log")).value(0).toInt(), 12500);
}

// Kelpo started twice on one diary: the second process is refused every request, reads and
// writes, for as long as the first one runs, and gets the file at its next request after.
void TestDbMgt::fileIsLockedAgainstAnotherProcess()
{
    stopStore();
    QProcess writer;
    writer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    writer.start(str(KELPO_BINARY_DIR "/dbmgt_crash_writer"),
                 QStringList{m_pDir->path(), str("100000")});
    QVERIFY2(writer.waitForStarted(), qPrintable(writer.errorString()));
    QByteArray baOut;
    QVERIFY(QTest::qWaitFor(
        [&] {
            baOut += writer.readAllStandardOutput();
            return baOut.count('\n') >= 50 || writer.state() == QProcess::NotRunning;
        },
        60000));
    QCOMPARE(writer.state(), QProcess::Running);

    startStore();
    for (const QString &strUuid :
         {m_pDbMgt->getNoteListByDay(QDate(2024, 1, 1)),
          m_pDbMgt->insertNoteItem(QVariantMap{{str("title"), str("second window")}}),
          m_pDbMgt->getDayNoteCount(QDate(2024, 1, 1))}) {
        const QVariantMap mapResult = result(strUuid);
        QVERIFY2(mapResult.contains(str("error")), qPrintable(strUuid));
        QCOMPARE(mapResult.value(str("error_kind")).toString(), str("locked"));
        QVERIFY(!mapResult.contains(str("id")));
    }
    writer.kill();
    QVERIFY(writer.waitForFinished(30000));

    const QVariantMap mapResult = result(
        m_pDbMgt->insertNoteItem(QVariantMap{{str("title"), str("after the first quit")}}));
    QVERIFY2(!mapResult.contains(str("error")),
             qPrintable(mapResult.value(str("error")).toString()));
    QCOMPARE(fileRows(str("SELECT count(*) FROM note WHERE title = 'second window'"))
                 .value(0)
                 .toInt(),
             0);
    QCOMPARE(fileRows(str("SELECT count(*) FROM note WHERE title = 'after the first quit'"))
                 .value(0)
                 .toInt(),
             1);
}

void TestDbMgt::killedWriterLosesNoAnsweredNote()
{
    stopStore();
    QProcess writer;
    writer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    writer.start(str(KELPO_BINARY_DIR "/dbmgt_crash_writer"),
                 QStringList{m_pDir->path(), str("100000")});
    QVERIFY2(writer.waitForStarted(), qPrintable(writer.errorString()));

    // Let a burst get going, then kill the writer in the middle of it.
    QStringList lstAnswered;
    QByteArray baPending;
    const bool bEnough = QTest::qWaitFor(
        [&] {
            baPending += writer.readAllStandardOutput();
            return baPending.count('\n') >= 100 || writer.state() == QProcess::NotRunning;
        },
        60000);
    QVERIFY(bEnough);
    QCOMPARE(writer.state(), QProcess::Running);
    writer.kill();
    QVERIFY(writer.waitForFinished(30000));
    QCOMPARE(writer.exitStatus(), QProcess::CrashExit);
    // Lines written before the kill are still in the pipe.
    baPending += writer.readAllStandardOutput();
    for (const QByteArray &line : baPending.split('\n')) {
        if (line.endsWith('}'))
            lstAnswered << QString::fromLatin1(line);
    }
    QVERIFY(lstAnswered.size() >= 100);

    QSqlDatabase db = QSqlDatabase::addDatabase(str("QSQLITE"), str("after_crash"));
    db.setDatabaseName(m_pDir->filePath(str("local.db")));
    QVERIFY(db.open());
    {
        QSqlQuery q(db);
        QVERIFY(q.exec(str("PRAGMA integrity_check")));
        QVERIFY(q.next());
        QCOMPARE(q.value(0).toString(), str("ok"));
        QVERIFY(q.exec(str("SELECT uuid FROM note")));
        QSet<QString> setStored;
        while (q.next())
            setStored.insert(q.value(0).toString());
        QVERIFY(setStored.size() >= lstAnswered.size());
        for (const QString &strUuid : qAsConst(lstAnswered))
            QVERIFY2(setStored.contains(strUuid), qPrintable(strUuid));
    }
    db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(str("after_crash"));

    // And the store opens it again.
    startStore();
    QCOMPARE(rows(m_pDbMgt->getNoteListByDay(QDate(2024, 1, 1))).size() >= lstAnswered.size(), true);
}

QTEST_GUILESS_MAIN(TestDbMgt)
#include "tst_dbmgt.moc"
