#include "dbmgt.h"
#include "notetext.h"
#include "storefixture.h"
#include "threaddb.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

// Search of the note list by what the notes show: a real local.db in a temporary folder,
// through the store's public operations.
namespace {

QString str(const char *p)
{
    return QString::fromUtf8(p);
}

QStringList sorted(QStringList lst)
{
    lst.sort();
    return lst;
}

// Notes of the search table: name (kept in "created_at" so that it survives as typed),
// body as the editor stores it.
struct FixtureNote
{
    const char *pName;
    const char *pContent;
};

const char kRich[] = "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.0//EN\" "
                     "\"http://www.w3.org/TR/REC-html40/strict.dtd\">\n<html><head>"
                     "<meta name=\"qrichtext\" content=\"1\" /><style type=\"text/css\">\n"
                     "p, li { white-space: pre-wrap; }\n</style></head><body style=\" "
                     "font-family:'Noto Sans'; font-size:10pt;\">";

QString rich(const char *pBody)
{
    return str(kRich) + str(pBody) + str("</body></html>");
}

const FixtureNote kNotes[] = {
    {"english", "<p style=\" margin-top:0px;\">The Quick brown Fox jumps</p>"},
    {"accent upper", "<p>Équipe de France</p>"},
    {"accent lower", "<p>une équipe soudée</p>"},
    {"chinese", "<p>今天天气很好，我们去公园散步。</p>"},
    {"japanese", "<p>東京で寿司を食べました。ありがとう</p>"},
    {"picture",
     "<p>Holiday</p><p><img height=\"10\" width=\"10\" "
     "src=\"data:image/png;base64,iVBORw0KGgoAAAANSUhEUg==\" /></p>"},
    {"angle", "<p>use std::&lt;vector&gt; here</p>"},
    {"symbols", "<p>100% done_now \"quoted\" AND -minus * star NEAR(x) col:val ^caret</p>"},
    {"one character", "<p>猫</p>"},
    {"ends in two", "<p>你好我们</p>"},
};

} // namespace

class TestNoteSearch : public StoreFixture
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void visibleText_data();
    void visibleText();
    void searchFindsWhatIsShown_data();
    void searchFindsWhatIsShown();
    void everyWritePathKeepsTheIndex_data();
    void everyWritePathKeepsTheIndex();
    void pagesNewestFirstOnBothPlans_data();
    void pagesNewestFirstOnBothPlans();
    void olderDiaryIsMigratedInTheBackground();
    void syncedNotesAreFoundBeforeTheirVisibleTextIsDerived();

private:
    QVariantMap search(const QString &strText, int nPlan = 0, int nOffset = 0, int nNumber = 50);
    QStringList names(const QVariantMap &mapResult);
    QVariantMap addNote(const QString &strName,
                        const QString &strContent,
                        const QString &strDay,
                        const QVariantMap &mapMore = QVariantMap());
};

void TestNoteSearch::init()
{
    initStore();
}

void TestNoteSearch::cleanup()
{
    cleanupStore();
}

QVariantMap TestNoteSearch::search(const QString &strText, int nPlan, int nOffset, int nNumber)
{
    return result(m_pDbMgt->getNoteListByOffset({{str("offset"), nOffset},
                                                 {str("number"), nNumber},
                                                 {str("search_string"), strText},
                                                 {str("plan"), nPlan}}));
}

QStringList TestNoteSearch::names(const QVariantMap &mapResult)
{
    QStringList lst;
    for (const QVariant &row : mapResult.value(str("result")).toList())
        lst << row.toMap().value(str("created_at")).toString();
    return lst;
}

QVariantMap TestNoteSearch::addNote(const QString &strName,
                                    const QString &strContent,
                                    const QString &strDay,
                                    const QVariantMap &mapMore)
{
    QVariantMap mapNote = mapMore;
    mapNote.insert(str("created_at"), strName);
    mapNote.insert(str("content"), strContent);
    mapNote.insert(str("set_at"), strDay + str(" 00:00:00"));
    mapNote.insert(str("title"), QString());
    const QVariantMap mapResult = result(m_pDbMgt->insertNoteItem(mapNote));
    mapNote.insert(str("id"), mapResult.value(str("id")));
    return mapNote;
}

void TestNoteSearch::visibleText_data()
{
    QTest::addColumn<QString>("content");
    QTest::addColumn<QString>("plain");
    QTest::newRow("rich text, paragraphs on lines")
        << rich("<p>one</p><p>two &amp; &lt;three&gt;</p>") << str("one\ntwo & <three>");
    QTest::newRow("picture left out")
        << rich("<p>a<img src=\"data:image/png;base64,AAAA\" />b</p>") << str("ab");
    QTest::newRow("plain text as typed") << str("x > y & z") << str("x > y & z");
    QTest::newRow("empty") << QString() << QString();
}

void TestNoteSearch::visibleText()
{
    QFETCH(QString, content);
    QFETCH(QString, plain);
    QCOMPARE(notePlainText(content), plain);
}

void TestNoteSearch::searchFindsWhatIsShown_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("found");

    const QStringList none;
    struct Row
    {
        const char *pTag;
        const char *pText;
        QStringList lstFound;
    };
    const Row rows[] = {
        {"English word", "quick", {str("english")}},
        {"English word in capitals", "QUICK", {str("english")}},
        {"two words", "Fox jumps", {str("english")}},
        {"accented, lower case", "équipe", {str("accent upper"), str("accent lower")}},
        {"accented, upper case", "ÉQUIPE", {str("accent upper"), str("accent lower")}},
        {"one Chinese character", "天", {str("chinese")}},
        {"two Chinese characters", "天气", {str("chinese")}},
        {"four Chinese characters", "公园散步", {str("chinese")}},
        {"a note of one character", "猫", {str("one character")}},
        {"two characters at the end", "我们", {str("chinese"), str("ends in two")}},
        {"one Japanese character", "あ", {str("japanese")}},
        {"two Japanese characters", "寿司", {str("japanese")}},
        {"Japanese word", "ありがとう", {str("japanese")}},
        {"markup only: style", "margin", none},
        {"markup only: font", "font", none},
        {"markup only: picture type", "png", none},
        {"markup only: picture data", "iVBOR", none},
        {"markup only: entity", "&lt;", none},
        {"visible angle brackets", "<vector>", {str("angle")}},
        {"percent", "%", {str("symbols")}},
        {"percent after digits", "100%", {str("symbols")}},
        {"underscore", "_", {str("symbols")}},
        {"underscore in a word", "done_now", {str("symbols")}},
        {"quotes", "\"quoted\"", {str("symbols")}},
        {"a lone quote", "\"", {str("symbols")}},
        {"index operator AND", "AND -minus", {str("symbols")}},
        {"index operator minus", "-minus", {str("symbols")}},
        {"index operator star", "* star", {str("symbols")}},
        {"index operator NEAR", "NEAR(x)", {str("symbols")}},
        {"column filter", "col:val", {str("symbols")}},
        {"caret", "^caret", {str("symbols")}},
        {"text of a picture note", "Holiday", {str("picture")}},
        {"nowhere", "nothing here", none},
    };
    for (const Row &row : rows)
        QTest::newRow(row.pTag) << str(row.pText) << row.lstFound;
}

void TestNoteSearch::searchFindsWhatIsShown()
{
    QFETCH(QString, text);
    QFETCH(QStringList, found);

    int nDay = 1;
    for (const FixtureNote &note : kNotes) {
        addNote(str(note.pName), rich(note.pContent), QDate(2024, 1, nDay++).toString(Qt::ISODate));
    }
    // The same hits whichever plan the search takes.
    for (int nPlan : {0, 1, 2}) {
        const QVariantMap mapResult = search(text, nPlan);
        QCOMPARE(sorted(names(mapResult)), sorted(found));
    }
}

void TestNoteSearch::everyWritePathKeepsTheIndex_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("editor: update by id") << str("update id");
    QTest::newRow("sync: update by server id") << str("update server_id");
    QTest::newRow("editor and sync: replace by uuid") << str("replace uuid");
    QTest::newRow("sync: replace of an unknown uuid") << str("replace new");
    QTest::newRow("import: a new note") << str("import new");
    QTest::newRow("import: a changed note") << str("import changed");
    QTest::newRow("deletion of the row") << str("delete");
}

void TestNoteSearch::everyWritePathKeepsTheIndex()
{
    QFETCH(QString, path);

    const QVariantMap mapNote = addNote(str("note"),
                                        rich("<p>old walrus words</p>"),
                                        str("2024-02-02"),
                                        {{str("server_id"), 42},
                                         {str("uuid"),
                                          str("{00000000-0000-0000-0000-00000000beef}")}});
    QCOMPARE(names(search(str("walrus"))), QStringList{str("note")});

    const QString strNew = rich("<p>new pelican words</p>");
    QString strUuid;
    if (path == QLatin1String("update id")) {
        strUuid = m_pDbMgt->updateNoteItem({{str("id"), mapNote.value(str("id"))},
                                            {str("content"), strNew}},
                                           str("id"));
    } else if (path == QLatin1String("update server_id")) {
        strUuid = m_pDbMgt->updateNoteItem({{str("server_id"), 42}, {str("content"), strNew}},
                                           str("server_id"));
    } else if (path == QLatin1String("replace uuid")) {
        strUuid = m_pDbMgt->replaceNoteItem({{str("uuid"), mapNote.value(str("uuid"))},
                                             {str("content"), strNew}},
                                            str("uuid"));
    } else if (path == QLatin1String("replace new")) {
        strUuid = m_pDbMgt->replaceNoteItem({{str("uuid"),
                                              str("{00000000-0000-0000-0000-0000000000a1}")},
                                             {str("created_at"), str("imported")},
                                             {str("set_at"), str("2024-02-03 00:00:00")},
                                             {str("content"), strNew}},
                                            str("uuid"));
    } else if (path == QLatin1String("import new")) {
        strUuid = m_pDbMgt
                      ->importNotes({QVariantMap{{str("uuid"),
                                                  str("{00000000-0000-0000-0000-0000000000a1}")},
                                                 {str("created_at"), str("imported")},
                                                 {str("set_at"), str("2024-02-03 00:00:00")},
                                                 {str("content"), strNew}}},
                                    {});
    } else if (path == QLatin1String("import changed")) {
        strUuid = m_pDbMgt->importNotes({},
                                        {QVariantMap{{str("uuid"), mapNote.value(str("uuid"))},
                                                     {str("content"), strNew}}});
    } else {
        m_pDbMgt->clearDb();
        strUuid = m_pDbMgt->getUserIdList(); // answered after the deletions
    }
    QVERIFY(!result(strUuid).contains(str("error")));

    QStringList lstNew{str("note")};
    if (path == QLatin1String("replace new") || path == QLatin1String("import new"))
        lstNew = QStringList{str("imported")};
    else if (path == QLatin1String("delete"))
        lstNew.clear();
    const QStringList lstOld = path == QLatin1String("replace new")
                                       || path == QLatin1String("import new")
                                   ? QStringList{str("note")}
                                   : QStringList();
    for (int nPlan : {0, 1, 2}) {
        QCOMPARE(names(search(str("pelican"), nPlan)), lstNew);
        QCOMPARE(names(search(str("walrus"), nPlan)), lstOld);
    }
}

void TestNoteSearch::pagesNewestFirstOnBothPlans_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("plan");
    // 150 notes hold "common" (and "草"), one day each; every tenth also "rare".
    QTest::newRow("common word") << str("common") << str("walk");
    QTest::newRow("common character") << str("草") << str("walk");
    QTest::newRow("rare word") << str("rare") << str("index");
}

void TestNoteSearch::pagesNewestFirstOnBothPlans()
{
    QFETCH(QString, text);
    QFETCH(QString, plan);

    QStringList lstExpected; // newest first
    for (int i = 0; i < 150; ++i) {
        const QString strName = QStringLiteral("n%1").arg(i, 3, 10, QLatin1Char('0'));
        QString strBody = QStringLiteral("<p>a common 草 day %1</p>").arg(i);
        if (i % 10 == 0)
            strBody += str("<p>a rare bird</p>");
        addNote(strName,
                rich(strBody.toUtf8().constData()),
                QDate(2020, 1, 1).addDays(i).toString(Qt::ISODate));
        if (text != QLatin1String("rare") || i % 10 == 0)
            lstExpected.prepend(strName);
    }
    // A note of another user is never found.
    addNote(str("other user"),
            rich("<p>common rare 草</p>"),
            str("2030-01-01"),
            {{str("user_id"), 7}});

    const QVariantMap mapFirst = search(text);
    QCOMPARE(mapFirst.value(str("search_plan")).toString(), plan);

    for (int nPlan : {1, 2}) {
        QStringList lstAll;
        for (int nOffset = 0; nOffset < 200; nOffset += 50)
            lstAll += names(search(text, nPlan, nOffset, 50));
        QCOMPARE(lstAll, lstExpected);
    }
}

void TestNoteSearch::olderDiaryIsMigratedInTheBackground()
{
    stopStore();
    for (const QString &strFile : QDir(m_pDir->path()).entryList(QDir::Files))
        QVERIFY(QFile::remove(m_pDir->filePath(strFile)));
    // A diary of schema version 2: no visible-text column, no index.
    const int nNotes = 250;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(str("QSQLITE"), str("old"));
        db.setDatabaseName(m_pDir->filePath(str("local.db")));
        QVERIFY(db.open());
        QSqlQuery query(db);
        QVERIFY(query.exec(str("CREATE TABLE note (id INTEGER PRIMARY KEY AUTOINCREMENT,"
                               " server_id INTEGER, user_id INTEGER, set_at TEXT,"
                               " created_at TEXT, title TEXT, content TEXT,"
                               " content_size INTEGER, md5 TEXT, updated_at TEXT,"
                               " deleted INTEGER, uuid TEXT)")));
        QVERIFY(query.exec(str("PRAGMA user_version = 2")));
        QVERIFY(db.transaction());
        QVERIFY(query.prepare(str("INSERT INTO note (set_at, created_at, content, updated_at)"
                                  " VALUES (:set_at, :name, :content, '2024-01-01 00:00:00')")));
        for (int i = 0; i < nNotes; ++i) {
            query.bindValue(str(":set_at"),
                            QDate(2015, 1, 1).addDays(i).toString(str("yyyy-MM-dd 00:00:00")));
            query.bindValue(str(":name"), QString::number(i));
            query.bindValue(str(":content"),
                            rich(i == 7 ? "<p>the <b>margin</b>al Éclair</p>" : "<p>plain day</p>"));
            QVERIFY(query.exec());
        }
        QVERIFY(db.commit());
    }
    QSqlDatabase::removeDatabase(str("old"));

    m_lstResults.clear();
    m_pDbMgt = new CDbMgt(m_pDir->path());
    connect(m_pDbMgt, &CDbMgt::dataReceived, this, [this](const QVariant &value) {
        m_lstResults << value.toMap();
    });
    QSignalSpy spyProgress(m_pDbMgt, &CDbMgt::plainTextProgress);
    // The store answers at once, while the migration runs behind.
    const QVariantMap mapFirst = search(str("éclair"));
    QCOMPARE(names(mapFirst), QStringList{str("7")});

    QTRY_VERIFY_WITH_TIMEOUT(!spyProgress.isEmpty() && spyProgress.last().at(0).toInt() == nNotes,
                             60000);
    QVERIFY2(spyProgress.count() >= 2, "the migration goes in steps");
    for (const QList<QVariant> &args : qAsConst(spyProgress)) {
        QCOMPARE(args.at(1).toInt(), nNotes);
        QVERIFY(args.at(0).toInt() <= nNotes);
    }
    for (int nPlan : {0, 1, 2}) {
        QCOMPARE(names(search(str("ÉCLAIR"), nPlan)), QStringList{str("7")});
        QCOMPARE(names(search(str("marginal"), nPlan)), QStringList{str("7")});
        QCOMPARE(names(search(str("span"), nPlan)), QStringList());
    }

    // A second start finds nothing left to do.
    stopStore();
    startStore();
    QSignalSpy spyAgain(m_pDbMgt, &CDbMgt::plainTextProgress);
    QCOMPARE(names(search(str("marginal"))), QStringList{str("7")});
    QCOMPARE(spyAgain.count(), 0);
    stopStore();
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(str("QSQLITE"), str("check"));
        db.setDatabaseName(m_pDir->filePath(str("local.db")));
        QVERIFY(db.open());
        QSqlQuery query(db);
        QVERIFY(query.exec(str("SELECT (SELECT COUNT(*) FROM note WHERE plain_text IS NULL),"
                               " (SELECT user_version FROM pragma_user_version)")));
        QVERIFY(query.next());
        QCOMPARE(query.value(0).toInt(), 0);
        QCOMPARE(query.value(1).toInt(), int(CThreadDb::SchemaVersion));
    }
    QSqlDatabase::removeDatabase(str("check"));
    startStore();
}

// A synchronised page stores notes without their visible text; a search finds them by what
// they show at once, and the store's quiet background pass fills their texts and index.
void TestNoteSearch::syncedNotesAreFoundBeforeTheirVisibleTextIsDerived()
{
    QSignalSpy spyProgress(m_pDbMgt, &CDbMgt::plainTextProgress);
    QVariantList lstNotes;
    for (int i = 0; i < 3; ++i) {
        lstNotes << QVariantMap{{str("uuid"), str("{00000000-0000-0000-0000-00000000000%1}").arg(i)},
                                {str("created_at"), str("synced %1").arg(i)},
                                {str("set_at"), str("2024-03-0%1 00:00:00").arg(i + 1)},
                                {str("title"), QString()},
                                {str("content"),
                                 i == 1
                                     ? rich("<p style=\"margin-top:3px\">pelican &lt;flock&gt;</p>")
                                     : rich("<p style=\"margin-top:3px\">heron &lt;flock&gt;</p>")},
                                {str("updated_at"), str("2024-03-10 00:00:00")},
                                {str("deleted"), 0},
                                {str("sync_state"), 0}};
    }
    const QString strStored = m_pDbMgt->storeServiceNotes(lstNotes, QVariantMap());
    // Queued right behind the page, before the store has a pause to derive anything.
    QList<QPair<QString, QStringList>> lstSearches;
    for (int nPlan : {0, 1, 2}) {
        auto ask = [&](const QString &strText) {
            return m_pDbMgt->getNoteListByOffset({{str("offset"), 0},
                                                  {str("number"), 50},
                                                  {str("search_string"), strText},
                                                  {str("plan"), nPlan}});
        };
        lstSearches << qMakePair(ask(str("PELICAN")), QStringList{str("synced 1")})
                    << qMakePair(ask(str("<flock>")),
                                 QStringList{str("synced 2"), str("synced 1"), str("synced 0")})
                    << qMakePair(ask(str("margin")), QStringList());
    }
    const QString strPending
        = m_pDbMgt->queryPrepared(str("SELECT COUNT(*) AS n FROM note WHERE plain_text IS NULL"),
                                  QVariantMap());
    QVERIFY(!result(strStored).contains(str("error")));
    for (const auto &search : qAsConst(lstSearches))
        QCOMPARE(names(result(search.first)), search.second);
    QCOMPARE(result(strPending).value(str("result")).toList().value(0).toMap().value(str("n")),
             QVariant(3));

    // Filled in the background, without the migration's progress messages.
    QTRY_VERIFY_WITH_TIMEOUT(result(m_pDbMgt->queryPrepared(str("SELECT COUNT(*) AS n FROM note"
                                                                " WHERE plain_text IS NULL"),
                                                            QVariantMap()))
                                     .value(str("result"))
                                     .toList()
                                     .value(0)
                                     .toMap()
                                     .value(str("n"))
                                 == QVariant(0),
                             60000);
    QCOMPARE(spyProgress.count(), 0);
    const QVariantList lstPlain
        = result(m_pDbMgt->queryPrepared(str("SELECT plain_text FROM note WHERE created_at ="
                                             " 'synced 1'"),
                                         QVariantMap()))
              .value(str("result"))
              .toList();
    QCOMPARE(lstPlain.value(0).toMap().value(str("plain_text")).toString(), str("pelican <flock>"));
    for (int nPlan : {0, 1, 2}) {
        QCOMPARE(names(search(str("pelican"), nPlan)), QStringList{str("synced 1")});
        QCOMPARE(names(search(str("margin"), nPlan)), QStringList());
    }
}

QTEST_MAIN(TestNoteSearch)
#include "tst_notesearch.moc"
