#include "threaddb.h"

#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <ctime>

#include <cstdio>

namespace {

QString str(const char *p)
{
    return QString::fromUtf8(p);
}

QVariantMap query(const QString &strSql)
{
    return QVariantMap{{QStringLiteral("type"), QStringLiteral("query")},
                       {QStringLiteral("sql"), strSql}};
}

QVariantMap prepared(const QString &strSql, const QVariantMap &mapData)
{
    return QVariantMap{{QStringLiteral("type"), QStringLiteral("query")},
                       {QStringLiteral("sql_prepare"), strSql},
                       {QStringLiteral("sql_data"), mapData}};
}

// Counts the requests that the worker has begun, so a test can act while one runs.
class CObservedThreadDb : public CThreadDb
{
    Q_OBJECT

public:
    ~CObservedThreadDb() override { stopAndWait(); }
    std::atomic<int> m_nStarted{0};

protected:
    void processRequest(QVariantMap mapRequest) override
    {
        ++m_nStarted;
        CThreadDb::processRequest(mapRequest);
    }
};

// A statement that keeps SQLite busy for a second or more.
const QString kLongStatement = QStringLiteral(
    "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c WHERE x < 2000000) "
    "SELECT count(*) AS n FROM c");

} // namespace

class TestThreadDb : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void createsFolderTablesIndexesAndVersion();
    void existingDatabaseOpensWithItsRows();
    void localTimesBecomeUtcOnce();
    void baseColumnsOfAnOlderFile();
    void firstCheckpointIsNoReplacement();
    void rowsComeBackAsStrings();
    void manyRowsReachTheOwnerThreadInOrder();
    void insertReturnsIdOnlyWhenAsked();
    void boundValuesKeepTheirTypes();
    void replaceUpdatesOrInserts_data();
    void replaceUpdatesOrInserts();
    void failedStatementsGiveErrors_data();
    void failedStatementsGiveErrors();
    void unknownTypeIsConsumedSilently();
    void unopenableDatabaseAnswersWithErrors_data();
    void unopenableDatabaseAnswersWithErrors();
    void lockedFileIsUsedOnceReleased();
    void stopFinishesRunningAndQueuedWrites();
    void unfinishedWritesAreCarriedOutAtNextStart();
    void damagedFileIsReportedAndReadsFail();
    void wholeCheckOnlyWhenTheFileMayBeHarmed_data();
    void wholeCheckOnlyWhenTheFileMayBeHarmed();
    void lostFileIsNoticedBeforeAWriteIsConfirmed_data();
    void lostFileIsNoticedBeforeAWriteIsConfirmed();

private:
    void startWorker(const QString &strDbName);
    QVariantMap run(const QVariantMap &mapRequest);
    QVariantList rows(const QString &strSql);
    // A file as an older program left it: the statements run on a connection of their own.
    bool writeOlderFile(const QString &strDbName, const QStringList &lstStatements);

    QTemporaryDir *m_pDir = nullptr;
    CObservedThreadDb *m_pWorker = nullptr;
    QList<QVariantMap> m_lstResults;
};

void TestThreadDb::init()
{
    m_pDir = new QTemporaryDir;
    QVERIFY(m_pDir->isValid());
    m_lstResults.clear();
}

void TestThreadDb::cleanup()
{
    delete m_pWorker;
    m_pWorker = nullptr;
    QCoreApplication::sendPostedEvents(this);
    delete m_pDir;
    m_pDir = nullptr;
}

void TestThreadDb::startWorker(const QString &strDbName)
{
    m_pWorker = new CObservedThreadDb;
    m_pWorker->setDbName(strDbName);
    connect(m_pWorker, &CThreadObject::dataReceived, this, [this](const QVariant &result) {
        m_lstResults << result.toMap();
    });
    m_pWorker->startThread();
}

// Queues the request and returns its result (an empty map if none came).
QVariantMap TestThreadDb::run(const QVariantMap &mapRequest)
{
    const QString strUuid = m_pWorker->addRequest(mapRequest);
    QVariantMap mapFound;
    const bool bArrived = QTest::qWaitFor(
        [&] {
            for (const QVariantMap &map : qAsConst(m_lstResults)) {
                if (map.value(QStringLiteral("uuid")).toString() == strUuid) {
                    mapFound = map;
                    return true;
                }
            }
            return false;
        },
        30000);
    if (!bArrived)
        qWarning() << "no result for" << mapRequest;
    return mapFound;
}

QVariantList TestThreadDb::rows(const QString &strSql)
{
    const QVariantMap mapResult = run(query(strSql));
    if (mapResult.contains(QStringLiteral("error")))
        qWarning() << mapResult.value(QStringLiteral("error"));
    return mapResult.value(QStringLiteral("result")).toList();
}

bool TestThreadDb::writeOlderFile(const QString &strDbName, const QStringList &lstStatements)
{
    bool bOk = true;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"),
                                                    QStringLiteral("setup"));
        db.setDatabaseName(strDbName);
        bOk = db.open();
        QSqlQuery q(db);
        for (const QString &strSql : lstStatements) {
            if (bOk && !q.exec(strSql)) {
                qWarning() << strSql << ":" << q.lastError().text();
                bOk = false;
            }
        }
        q.finish();
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("setup"));
    return bOk;
}

void TestThreadDb::createsFolderTablesIndexesAndVersion()
{
    const QString strDbName = m_pDir->filePath(QStringLiteral("a/b/local.db"));
    startWorker(strDbName);

    QVariantList lstNames;
    for (const QVariant &row :
         rows(str("SELECT name FROM sqlite_master WHERE type IN ('table', 'index') "
                  "AND name NOT LIKE 'sqlite_%' ORDER BY name")))
        lstNames << row.toMap().value(QStringLiteral("name"));
    QCOMPARE(lstNames,
             (QVariantList{str("change_cursor"),
                           str("idx_note_plain_pending"),
                           str("idx_note_server_id"),
                           str("idx_note_set_at"),
                           str("idx_note_sync_state"),
                           str("idx_note_user_id"),
                           str("idx_note_uuid"),
                           str("idx_user_name"),
                           str("log"),
                           str("note"),
                           str("note_fts"),
                           str("note_fts_config"),
                           str("note_fts_data"),
                           str("note_fts_idx"),
                           str("note_fts_vocab"),
                           str("user")}));
    QCOMPARE(rows(str("PRAGMA user_version")).value(0).toMap().value(QStringLiteral("user_version")),
             QVariant(QString::number(CThreadDb::SchemaVersion)));

    QStringList lstColumns;
    for (const QVariant &row : rows(str("PRAGMA table_info(note)")))
        lstColumns << row.toMap().value(QStringLiteral("name")).toString();
    QCOMPARE(lstColumns.join(QLatin1Char(',')),
             str("id,server_id,user_id,set_at,created_at,title,content,content_size,md5,"
                 "updated_at,deleted,uuid,sync_state,plain_text,base_updated_at,base_md5"));
    lstColumns.clear();
    for (const QVariant &row : rows(str("PRAGMA table_info(user)")))
        lstColumns << row.toMap().value(QStringLiteral("name")).toString();
    QCOMPARE(lstColumns.join(QLatin1Char(',')),
             str("id,server_id,name,pwd,nickname,nick_name,classify_string,server_url"));
    lstColumns.clear();
    for (const QVariant &row : rows(str("PRAGMA table_info(log)")))
        lstColumns << row.toMap().value(QStringLiteral("name")).toString();
    QCOMPARE(lstColumns.join(QLatin1Char(',')),
             str("id,log_type,log_at,error,result,user_id,log_obj"));
    QVERIFY(QFile::exists(strDbName));
}

// Notes of an older file keep the times of their changes as the computer's local time;
// the file keeps them in UTC from then on, converted once.
void TestThreadDb::localTimesBecomeUtcOnce()
{
    const QString strDbName = m_pDir->filePath(QStringLiteral("local.db"));
    QVERIFY(writeOlderFile(strDbName,
                           {str("CREATE TABLE note (id integer primary key, server_id, user_id, "
                                "set_at, created_at, title, content, content_size, md5, "
                                "updated_at, deleted, uuid)"),
                            str("INSERT INTO note (id, created_at, updated_at) VALUES"
                                " (1, '2026-03-05 08:00:00', '2026-07-01 00:30:00'),"
                                " (2, 'never', NULL)"),
                            str("PRAGMA user_version = 4")}));

    // This computer in Shanghai (UTC+8) while the file is opened; restored afterwards.
    const QByteArray baTz = qgetenv("TZ");
    const bool bHadTz = qEnvironmentVariableIsSet("TZ");
    qputenv("TZ", "Asia/Shanghai");
    tzset();
    auto restore = qScopeGuard([&] {
        if (bHadTz)
            qputenv("TZ", baTz);
        else
            qunsetenv("TZ");
        tzset();
    });
    const QVariantList lstWanted{QVariantMap{{str("id"), str("1")},
                                             {str("created_at"), str("2026-03-05 00:00:00")},
                                             {str("updated_at"), str("2026-06-30 16:30:00")}},
                                 QVariantMap{{str("id"), str("2")},
                                             {str("created_at"), str("never")},
                                             {str("updated_at"), str("")}}};
    for (int nOpen = 0; nOpen < 2; ++nOpen) {
        startWorker(strDbName);
        const QVariantList lstRows = rows(str("SELECT id, created_at, IFNULL(updated_at, '')"
                                              " AS updated_at FROM note ORDER BY id"));
        QCOMPARE(lstRows.size(), lstWanted.size());
        for (int i = 0; i < lstRows.size(); ++i)
            QCOMPARE(lstRows.at(i).toMap().values(), lstWanted.at(i).toMap().values());
        delete m_pWorker;
        m_pWorker = nullptr;
    }
}

// Each note remembers the last version of the service it held (time and digest): the step
// that adds it runs once, and rows of an older file have none until then.
void TestThreadDb::baseColumnsOfAnOlderFile()
{
    const QString strDbName = m_pDir->filePath(QStringLiteral("local.db"));
    QVERIFY(writeOlderFile(strDbName,
                           {str("CREATE TABLE note (id integer primary key, server_id, user_id, "
                                "set_at, created_at, title, content, content_size, md5, "
                                "updated_at, deleted, uuid, sync_state)"),
                            str("INSERT INTO note (id, server_id, content, content_size, md5,"
                                " updated_at, sync_state) VALUES"
                                " (1, 3, 'old', 3, 'aaaa', '2026-03-05 08:00:00', 0)"),
                            str("PRAGMA user_version = 5")}));
    auto base = [&](int nId) {
        const QVariantMap map
            = rows(str("SELECT IFNULL(base_updated_at, 'none') AS at, IFNULL(base_md5, 'none')"
                       " AS md5 FROM note WHERE id = %1")
                       .arg(nId))
                  .value(0)
                  .toMap();
        return map.value(str("at")).toString() + QLatin1Char('|')
               + map.value(str("md5")).toString();
    };
    // Opened twice: the step runs once and keeps the older row as it was.
    for (int nOpen = 0; nOpen < 2; ++nOpen) {
        startWorker(strDbName);
        QCOMPARE(base(1), str("none|none"));
        delete m_pWorker;
        m_pWorker = nullptr;
    }
}

void TestThreadDb::existingDatabaseOpensWithItsRows()
{
    const QString strDbName = m_pDir->filePath(QStringLiteral("local.db"));
    // A file written by an earlier program: its own declarations, no log table.
    QVERIFY(writeOlderFile(strDbName,
                           {str("CREATE TABLE note (id integer primary key, server_id, user_id, "
                                "set_at, created_at, title, content, content_size, md5, "
                                "updated_at, deleted, uuid, extra)"),
                            str("CREATE TABLE user (id integer primary key, server_id, name, pwd, "
                                "nickname, nick_name, classify_string)"),
                            str("INSERT INTO note (id, title, extra) VALUES (7, 'kept', 'x')")}));

    startWorker(strDbName);
    const QVariantList lstRows = rows(str("SELECT id, title, extra FROM note"));
    QCOMPARE(lstRows.size(), 1);
    QCOMPARE(lstRows.first().toMap(),
             (QVariantMap{{str("id"), str("7")},
                          {str("title"), str("kept")},
                          {str("extra"), str("x")}}));
    QCOMPARE(rows(str("SELECT count(*) AS n FROM log")).value(0).toMap().value(str("n")),
             QVariant(str("0")));
    QCOMPARE(rows(str("PRAGMA user_version")).value(0).toMap().value(str("user_version")),
             QVariant(QString::number(CThreadDb::SchemaVersion)));
    // The user table of the older file gains the column of the service's address.
    QStringList lstColumns;
    for (const QVariant &row : rows(str("PRAGMA table_info(user)")))
        lstColumns << row.toMap().value(QStringLiteral("name")).toString();
    QVERIFY(lstColumns.contains(str("server_url")));
    // A note the service never had waits to be sent.
    QCOMPARE(rows(str("SELECT sync_state FROM note WHERE id = 7")).value(0).toMap(),
             (QVariantMap{{str("sync_state"), str("1")}}));
}

// A new database keeps its tables in the write-ahead log until the first checkpoint, and
// its file's header changes then: that is the same file, not another one.
void TestThreadDb::firstCheckpointIsNoReplacement()
{
    startWorker(m_pDir->filePath(QStringLiteral("fresh.db")));
    QVERIFY(!run(query(str("INSERT INTO note (title) VALUES ('before')"))).contains(str("error")));
    QVERIFY(!run(query(str("PRAGMA wal_checkpoint(TRUNCATE)"))).contains(str("error")));
    const QVariantMap mapAfter = run(query(str("INSERT INTO note (title) VALUES ('after')")));
    QVERIFY2(!mapAfter.contains(str("error")), qPrintable(mapAfter.value(str("error")).toString()));
    QCOMPARE(rows(str("SELECT count(*) AS n FROM note")).value(0).toMap().value(str("n")),
             QVariant(str("2")));
}

void TestThreadDb::rowsComeBackAsStrings()
{
    startWorker(m_pDir->filePath(QStringLiteral("local.db")));
    QVERIFY(!run(query(str("INSERT INTO note (id, server_id, content_size, title) "
                           "VALUES (5, NULL, 12, 'it''s')")))
                 .contains(str("error")));

    const QVariantMap mapEmpty = run(query(str("SELECT * FROM user")));
    QCOMPARE(mapEmpty.value(str("type")), QVariant(str("data")));
    QVERIFY(mapEmpty.contains(str("result")));
    QCOMPARE(mapEmpty.value(str("result")).toList(), QVariantList());
    QVERIFY(!mapEmpty.contains(str("error")));
    QVERIFY(!mapEmpty.contains(str("id")));

    const QVariantList lstRows = rows(
        str("SELECT id, server_id, content_size, title FROM note WHERE id = 5"));
    QCOMPARE(lstRows.size(), 1);
    const QVariantMap mapRow = lstRows.first().toMap();
    QCOMPARE(mapRow,
             (QVariantMap{{str("id"), str("5")},
                          {str("server_id"), str("")},
                          {str("content_size"), str("12")},
                          {str("title"), str("it's")}}));
    for (const QVariant &value : mapRow)
        QCOMPARE(value.type(), QVariant::String);

    // Columns come back under the names the driver reports, in any order; a repeated
    // name keeps the last column.
    QCOMPARE(rows(str("SELECT 3 AS zeta, 'x' AS alpha, NULL AS mid, 1 AS dup, 2 AS dup")),
             (QVariantList{QVariantMap{{str("zeta"), str("3")},
                                       {str("alpha"), str("x")},
                                       {str("mid"), str("")},
                                       {str("dup"), str("2")}}}));
}

// The worker reads rows compactly and they become maps on the owner's thread: every row
// keeps its own values under the right names, and the results come in request order.
void TestThreadDb::manyRowsReachTheOwnerThreadInOrder()
{
    startWorker(m_pDir->filePath(QStringLiteral("local.db")));
    QList<QThread *> lstThreads;
    connect(
        m_pWorker,
        &CThreadObject::dataReceived,
        this,
        [&](const QVariant &) { lstThreads << QThread::currentThread(); },
        Qt::DirectConnection);

    const QString strRows = str("WITH t(a, b, c, k) AS (VALUES (1, 'one', NULL, 1), "
                                "(2, NULL, 'x', 2), (NULL, 'three', 3.5, 3)) "
                                "SELECT b, a, c FROM t ORDER BY k");
    QStringList lstUuids;
    for (int i = 0; i < 20; ++i)
        lstUuids << m_pWorker->addRequest(
            query(i % 2 ? strRows : QStringLiteral("SELECT %1 AS n").arg(i)));
    QTRY_COMPARE_WITH_TIMEOUT(m_lstResults.size(), 20, 30000);
    for (int i = 0; i < 20; ++i) {
        const QVariantMap &mapResult = m_lstResults.at(i);
        QCOMPARE(mapResult.value(str("uuid")).toString(), lstUuids.at(i));
        const QVariantList lstRows = mapResult.value(str("result")).toList();
        if (i % 2 == 0) {
            QCOMPARE(lstRows, (QVariantList{QVariantMap{{str("n"), QString::number(i)}}}));
            continue;
        }
        QCOMPARE(lstRows,
                 (QVariantList{
                     QVariantMap{{str("a"), str("1")}, {str("b"), str("one")}, {str("c"), str("")}},
                     QVariantMap{{str("a"), str("2")}, {str("b"), str("")}, {str("c"), str("x")}},
                     QVariantMap{{str("a"), str("")},
                                 {str("b"), str("three")},
                                 {str("c"), str("3.5")}}}));
        for (const QVariant &row : lstRows) {
            for (const QVariant &value : row.toMap())
                QCOMPARE(value.type(), QVariant::String);
        }
    }
    QCOMPARE(lstThreads.size(), 20);
    for (QThread *pThread : qAsConst(lstThreads))
        QCOMPARE(pThread, thread());
}

void TestThreadDb::insertReturnsIdOnlyWhenAsked()
{
    startWorker(m_pDir->filePath(QStringLiteral("local.db")));
    QVariantMap mapRequest = query(str("INSERT INTO note (title) VALUES ('a')"));
    const QVariantMap mapPlain = run(mapRequest);
    QVERIFY(!mapPlain.contains(str("id")));
    QCOMPARE(mapPlain.value(str("result")).toList(), QVariantList());

    mapRequest.insert(str("return_id"), 1);
    const QVariantMap mapWithId = run(mapRequest);
    QCOMPARE(mapWithId.value(str("id")).toLongLong(), 2LL);
    QVERIFY(mapWithId.value(str("id")).type() != QVariant::String);
    QCOMPARE(mapWithId.value(str("result")).toList(), QVariantList());

    QVariantMap mapPrepared = prepared(str("INSERT INTO note (title) VALUES (:title)"),
                                       QVariantMap{{str("title"), str("b")}});
    mapPrepared.insert(str("return_id"), 1);
    QCOMPARE(run(mapPrepared).value(str("id")).toLongLong(), 3LL);
}

void TestThreadDb::boundValuesKeepTheirTypes()
{
    startWorker(m_pDir->filePath(QStringLiteral("local.db")));
    const QVariantMap mapResult = run(
        prepared(str("SELECT typeof(:a) AS a, typeof(:b) AS b, typeof(:c) AS c, :b AS text"),
                 QVariantMap{{str("a"), 15},
                             {str("b"), str("x'); DROP TABLE note; --")},
                             {str("c"), QVariant()}}));
    QCOMPARE(mapResult.value(str("result")).toList().value(0).toMap(),
             (QVariantMap{{str("a"), str("integer")},
                          {str("b"), str("text")},
                          {str("c"), str("null")},
                          {str("text"), str("x'); DROP TABLE note; --")}}));
    QCOMPARE(rows(str("SELECT count(*) AS n FROM note")).value(0).toMap().value(str("n")),
             QVariant(str("0")));
}

void TestThreadDb::replaceUpdatesOrInserts_data()
{
    QTest::addColumn<bool>("preparedForm");
    QTest::addColumn<bool>("exists");
    QTest::newRow("plain, row exists: update") << false << true;
    QTest::newRow("plain, no row: insert") << false << false;
    QTest::newRow("prepared, row exists: update") << true << true;
    QTest::newRow("prepared, no row: insert") << true << false;
}

void TestThreadDb::replaceUpdatesOrInserts()
{
    QFETCH(bool, preparedForm);
    QFETCH(bool, exists);
    startWorker(m_pDir->filePath(QStringLiteral("local.db")));
    QVERIFY(run(query(str("INSERT INTO user (id, name, nickname) VALUES (4, 'ann', 'A')")))
                .contains(str("result")));

    const QString strName = exists ? str("ann") : str("bo'b");
    QVariantMap mapRequest{{str("type"), str("replace")},
                           {str("select"),
                            QStringLiteral("SELECT * FROM user WHERE name = '%1'")
                                .arg(QString(strName).replace(str("'"), str("''")))}};
    if (preparedForm) {
        mapRequest.insert(str("insert_prepare"),
                          str("INSERT INTO user (name,nickname) VALUES (:name,:nickname)"));
        mapRequest.insert(str("insert_data"),
                          QVariantMap{{str("name"), strName}, {str("nickname"), str("N")}});
        mapRequest.insert(str("update_prepare"),
                          str("UPDATE user SET nickname = :nickname WHERE `name` = 'ann'"));
        mapRequest.insert(str("update_data"), QVariantMap{{str("nickname"), str("N")}});
        // The plain forms must be ignored when the prepared ones are there.
        mapRequest.insert(str("insert"), str("INSERT INTO nowhere VALUES (1)"));
        mapRequest.insert(str("update"), str("UPDATE nowhere SET x = 1"));
    } else {
        mapRequest.insert(str("insert"),
                          str("INSERT INTO user (name,nickname) VALUES ('bo''b','N')"));
        mapRequest.insert(str("update"), str("UPDATE user SET nickname = 'N' WHERE `name` = 'ann'"));
    }
    const QVariantMap mapResult = run(mapRequest);
    QVERIFY2(!mapResult.contains(str("error")),
             qPrintable(mapResult.value(str("error")).toString()));
    if (exists) {
        QCOMPARE(mapResult.keys(), (QStringList{str("type"), str("uuid")}));
        QCOMPARE(rows(str("SELECT id, name, nickname FROM user")),
                 (QVariantList{QVariantMap{{str("id"), str("4")},
                                           {str("name"), str("ann")},
                                           {str("nickname"), str("N")}}}));
    } else {
        QCOMPARE(mapResult.value(str("id")).toLongLong(), 5LL);
        QCOMPARE(rows(str("SELECT id, name, nickname FROM user ORDER BY id")),
                 (QVariantList{QVariantMap{{str("id"), str("4")},
                                           {str("name"), str("ann")},
                                           {str("nickname"), str("A")}},
                               QVariantMap{{str("id"), str("5")},
                                           {str("name"), str("bo'b")},
                                           {str("nickname"), str("N")}}}));
    }
}

void TestThreadDb::failedStatementsGiveErrors_data()
{
    QTest::addColumn<QVariantMap>("request");
    QTest::addColumn<QString>("errorEnd");

    QTest::newRow("plain query: statement in parentheses")
        << query(str("SELEC * FROM note")) << str("(SELEC * FROM note)");
    QTest::newRow("prepared query: empty parentheses")
        << prepared(str("SELECT * FROM nowhere WHERE a = :a"), QVariantMap{{str("a"), 1}})
        << str("()");
    QTest::newRow("replace: failing lookup")
        << QVariantMap{{str("type"), str("replace")},
                       {str("select"), str("SELECT * FROM nowhere")},
                       {str("insert"), str("INSERT INTO user (name) VALUES ('x')")}}
        << str("()");
    QTest::newRow("replace: failing insert")
        << QVariantMap{{str("type"), str("replace")},
                       {str("select"), str("SELECT * FROM user WHERE id = 99")},
                       {str("insert"), str("INSERT INTO user (nothing) VALUES ('x')")}}
        << str("()");
    QTest::newRow("replace: failing update")
        << QVariantMap{{str("type"), str("replace")},
                       {str("select"), str("SELECT * FROM user")},
                       {str("update"), str("UPDATE user SET nothing = 1")}}
        << str("()");
}

void TestThreadDb::failedStatementsGiveErrors()
{
    QFETCH(QVariantMap, request);
    QFETCH(QString, errorEnd);
    startWorker(m_pDir->filePath(QStringLiteral("local.db")));
    QVERIFY(
        run(query(str("INSERT INTO user (id, name) VALUES (1, 'ann')"))).contains(str("result")));

    const QVariantMap mapResult = run(request);
    QCOMPARE(mapResult.keys(),
             (QStringList{str("error"),
                          str("error_kind"),
                          str("error_text"),
                          str("type"),
                          str("uuid")}));
    const QString strError = mapResult.value(str("error")).toString();
    QVERIFY2(strError.endsWith(errorEnd), qPrintable(strError));
    // The text fit to show names the failure without the statement.
    const QString strText = mapResult.value(str("error_text")).toString();
    QVERIFY2(!strText.isEmpty() && strError.startsWith(strText), qPrintable(strText));
    QVERIFY(!strText.contains(str("SELECT")) && !strText.contains(str("INSERT")));
    QVERIFY2(strError.size() > errorEnd.size() + 3, qPrintable(strError));

    // The connection is still there for the next request, and nothing was added.
    QCOMPARE(rows(str("SELECT name FROM user")),
             (QVariantList{QVariantMap{{str("name"), str("ann")}}}));
}

void TestThreadDb::unknownTypeIsConsumedSilently()
{
    startWorker(m_pDir->filePath(QStringLiteral("local.db")));
    m_pWorker->addRequest(QVariantMap{{str("type"), str("select")}, {str("sql"), str("SELECT 1")}});
    m_pWorker->addRequest(QVariantMap{{str("sql"), str("SELECT 1")}});
    const QString strUuid = m_pWorker->addRequest(query(str("SELECT 2 AS n")));
    QTRY_COMPARE(m_lstResults.size(), 1);
    QCOMPARE(m_lstResults.first().value(str("uuid")).toString(), strUuid);
    QCOMPARE(m_lstResults.first().value(str("result")).toList(),
             (QVariantList{QVariantMap{{str("n"), str("2")}}}));
}

void TestThreadDb::unopenableDatabaseAnswersWithErrors_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<QString>("errorKind");
    QTest::newRow("folder cannot be made")
        << str("folder") << str("cannot create folder") << str("read_only");
    QTest::newRow("file is not a database")
        << str("garbage") << str("not a database") << str("damaged");
    QTest::newRow("file locked by another Kelpo")
        << str("locked") << str("locked") << str("locked");
}

void TestThreadDb::unopenableDatabaseAnswersWithErrors()
{
    QFETCH(QString, kind);
    QFETCH(QString, reason);
    QFETCH(QString, errorKind);

    QString strDbName = m_pDir->filePath(str("local.db"));
    QByteArray baGarbage(4096, 'x');
    QSqlDatabase dbHolder;
    if (kind == str("folder")) {
        // The data folder's place is taken by a file (root may write anywhere else).
        QFile file(m_pDir->filePath(str("data")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        strDbName = m_pDir->filePath(str("data/kelpo/local.db"));
    } else if (kind == str("garbage")) {
        QFile file(strDbName);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(baGarbage);
    } else {
        dbHolder = QSqlDatabase::addDatabase(str("QSQLITE"), str("holder"));
        dbHolder.setDatabaseName(strDbName);
        QVERIFY(dbHolder.open());
        QSqlQuery q(dbHolder);
        QVERIFY(q.exec(str("PRAGMA locking_mode = EXCLUSIVE")));
        QVERIFY(q.exec(str("CREATE TABLE note (id INTEGER PRIMARY KEY, title TEXT)")));
    }

    startWorker(strDbName);
    const QList<QVariantMap>
        lstRequests{query(str("INSERT INTO note (title) VALUES ('lost?')")),
                    prepared(str("INSERT INTO note (title) VALUES (:t)"),
                             QVariantMap{{str("t"), str("x")}}),
                    QVariantMap{{str("type"), str("replace")},
                                {str("select"), str("SELECT * FROM note")},
                                {str("insert"), str("INSERT INTO note (title) VALUES ('y')")}}};
    for (const QVariantMap &mapRequest : lstRequests) {
        const QVariantMap mapResult = run(mapRequest);
        QCOMPARE(mapResult.keys(),
                 (QStringList{str("error"),
                              str("error_kind"),
                              str("error_text"),
                              str("type"),
                              str("uuid")}));
        const QString strError = mapResult.value(str("error")).toString();
        QVERIFY2(strError.startsWith(str("Fail to open db: ")), qPrintable(strError));
        QVERIFY2(strError.contains(reason), qPrintable(strError));
        QCOMPARE(mapResult.value(str("error_kind")).toString(), errorKind);
    }
    delete m_pWorker;
    m_pWorker = nullptr;

    // Nothing was written.
    if (kind == str("garbage")) {
        QFile file(strDbName);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), baGarbage);
    } else if (kind == str("locked")) {
        QSqlQuery q(dbHolder);
        QVERIFY(q.exec(str("SELECT count(*) FROM note")));
        QVERIFY(q.next());
        QCOMPARE(q.value(0).toInt(), 0);
        q.finish();
        dbHolder.close();
        dbHolder = QSqlDatabase();
        QSqlDatabase::removeDatabase(str("holder"));
    }
}

void TestThreadDb::lockedFileIsUsedOnceReleased()
{
    const QString strDbName = m_pDir->filePath(str("local.db"));
    {
        QSqlDatabase dbHolder = QSqlDatabase::addDatabase(str("QSQLITE"), str("holder"));
        dbHolder.setDatabaseName(strDbName);
        QVERIFY(dbHolder.open());
        QSqlQuery q(dbHolder);
        QVERIFY(q.exec(str("PRAGMA locking_mode = EXCLUSIVE")));
        QVERIFY(q.exec(str("CREATE TABLE other (x)")));

        m_pWorker = new CObservedThreadDb;
        m_pWorker->setDbName(strDbName);
        connect(m_pWorker, &CThreadObject::dataReceived, this, [this](const QVariant &result) {
            m_lstResults << result.toMap();
        });
        m_pWorker->startThread();
        QVERIFY(run(query(str("SELECT 1"))).value(str("error")).toString().contains(str("locked")));
        q.finish();
        dbHolder.close();
    }
    QSqlDatabase::removeDatabase(str("holder"));

    // The other program has quit: the next request opens the file and runs.
    const QVariantMap mapResult = run(query(str("INSERT INTO note (title) VALUES ('now')")));
    QVERIFY2(!mapResult.contains(str("error")),
             qPrintable(mapResult.value(str("error")).toString()));
    QCOMPARE(rows(str("SELECT title FROM note")),
             (QVariantList{QVariantMap{{str("title"), str("now")}}}));
}

void TestThreadDb::stopFinishesRunningAndQueuedWrites()
{
    const QString strDbName = m_pDir->filePath(QStringLiteral("local.db"));
    startWorker(strDbName);
    QVERIFY(run(query(str("SELECT 1"))).contains(str("result")));

    const QString strLong = m_pWorker->addRequest(query(kLongStatement));
    for (int i = 0; i < 20; ++i)
        m_pWorker->addRequest(
            prepared(str("INSERT INTO note (title) VALUES (:t)"),
                     QVariantMap{{str("t"), QStringLiteral("after stop %1").arg(i)}}));
    QTRY_COMPARE(m_pWorker->m_nStarted.load(), 2);

    m_pWorker->stopAndWait();
    QVERIFY(m_pWorker->isFinished());
    QCOMPARE(m_pWorker->m_nStarted.load(), 22);
    QTRY_COMPARE(m_lstResults.size(), 22);
    QCOMPARE(m_lstResults.at(1).value(str("uuid")).toString(), strLong);
    QVERIFY(!QFile::exists(CThreadDb::unfinishedFile(strDbName)));
    delete m_pWorker;
    m_pWorker = nullptr;

    startWorker(strDbName);
    QCOMPARE(rows(str("SELECT count(*) AS n FROM note")),
             (QVariantList{QVariantMap{{str("n"), str("20")}}}));
}

// Writes that the time for stopping could not cover are kept beside the database and
// carried out, in their order and before anything else, when it is next opened. Reads
// are not kept.
void TestThreadDb::unfinishedWritesAreCarriedOutAtNextStart()
{
    const QString strDbName = m_pDir->filePath(QStringLiteral("local.db"));
    startWorker(strDbName);
    QVERIFY(run(query(str("SELECT 1"))).contains(str("result")));

    m_pWorker->addRequest(query(kLongStatement));
    QTRY_COMPARE(m_pWorker->m_nStarted.load(), 2);
    m_pWorker->addRequest(prepared(str("INSERT INTO note (id, title) VALUES (1, :t)"),
                                   QVariantMap{{str("t"), str("first")}}));
    m_pWorker->addRequest(query(str("SELECT * FROM note")));
    m_pWorker->addRequest(
        QVariantMap{{str("type"), str("replace")},
                    {str("select"), str("SELECT * FROM note WHERE id = 1")},
                    {str("insert"), str("INSERT INTO note (title) VALUES ('x')")},
                    {str("update_prepare"), str("UPDATE note SET title = :t WHERE id = 1")},
                    {str("update_data"), QVariantMap{{str("t"), str("second")}}}});
    m_pWorker->stopAndWait(10);
    QCOMPARE(m_pWorker->m_nStarted.load(), 2);
    QVERIFY(QFile::exists(CThreadDb::unfinishedFile(strDbName)));
    delete m_pWorker;
    m_pWorker = nullptr;
    QCoreApplication::sendPostedEvents(this);
    m_lstResults.clear();

    m_pWorker = new CObservedThreadDb;
    m_pWorker->setDbName(strDbName);
    QList<QVariantMap> lstNotices;
    connect(m_pWorker, &CThreadDb::notice, this, [&](const QVariant &v) {
        lstNotices << v.toMap();
    });
    connect(m_pWorker, &CThreadObject::dataReceived, this, [this](const QVariant &result) {
        m_lstResults << result.toMap();
    });
    m_pWorker->startThread();
    QCOMPARE(rows(str("SELECT id, title FROM note")),
             (QVariantList{QVariantMap{{str("id"), str("1")}, {str("title"), str("second")}}}));
    QVERIFY(!QFile::exists(CThreadDb::unfinishedFile(strDbName)));
    QTRY_COMPARE(lstNotices.size(), 1);
    QCOMPARE(lstNotices.first().value(str("kind")).toString(), str("unfinished_done"));
    QCOMPARE(lstNotices.first().value(str("count")).toInt(), 2);
    // Only the request of this test was answered.
    QCOMPARE(m_lstResults.size(), 1);
}

namespace {

// 28 notes of one page each, written by the worker itself so that its schema is complete.
void writeNotesOnPages(CObservedThreadDb &worker, QObject *pContext, int nNotes)
{
    Q_UNUSED(pContext)
    for (int i = 0; i < nNotes; ++i)
        worker.addRequest(
            prepared(str("INSERT INTO note (uuid, set_at, title, content) VALUES (:u, :s, :t, :c)"),
                     QVariantMap{{str("u"), QStringLiteral("{note-%1}").arg(i)},
                                 {str("s"), str("2016-03-05 00:00:00")},
                                 {str("t"), QStringLiteral("note %1").arg(i)},
                                 {str("c"),
                                  QStringLiteral("MARK-%1-").arg(i, 2, 10, QLatin1Char('0'))
                                      + QString(3000, QLatin1Char('x'))}}));
}

// Overwrites the page that holds the text with the mark: the table's scan fails there.
bool damagePageOf(const QString &strDbName, const QByteArray &baMark)
{
    QFile file(strDbName);
    if (!file.open(QIODevice::ReadWrite))
        return false;
    const QByteArray ba = file.readAll();
    const int nAt = ba.indexOf(baMark);
    if (nAt < 0)
        return false;
    const int nPageSize = (quint8(ba.at(16)) << 8) | quint8(ba.at(17));
    file.seek(nAt / nPageSize * nPageSize);
    file.write(QByteArray(64, '\xee'));
    return true;
}

} // namespace

void TestThreadDb::wholeCheckOnlyWhenTheFileMayBeHarmed_data()
{
    QTest::addColumn<QString>("after");
    QTest::addColumn<bool>("check");
    QTest::newRow("closed cleanly, untouched") << str("nothing") << false;
    QTest::newRow("next start within the week") << str("six days") << false;
    QTest::newRow("last check a week ago") << str("seven days") << true;
    QTest::newRow("stopped without closing") << str("no record") << true;
    QTest::newRow("write-ahead log left") << str("wal") << true;
    QTest::newRow("written by another program") << str("written") << true;
    QTest::newRow("replaced by a copy") << str("replaced") << true;
    QTest::newRow("record unreadable") << str("garbage record") << true;
}

// Checking a large file whole costs seconds at start: it is done after a stop that did
// not close the file, when the file changed while Kelpo had it closed, and once a week.
void TestThreadDb::wholeCheckOnlyWhenTheFileMayBeHarmed()
{
    QFETCH(QString, after);
    QFETCH(bool, check);

    const QString strDbName = m_pDir->filePath(QStringLiteral("local.db"));
    const QString strRecord = CThreadDb::cleanCloseFile(strDbName);
    QVERIFY(!CThreadDb::needsCheck(strDbName)); // nothing there yet
    // Opened twice: the second start finds the record of the first close.
    for (int nStart = 0; nStart < 2; ++nStart) {
        startWorker(strDbName);
        QVERIFY(!run(query(str("INSERT INTO note (title) VALUES ('a')"))).contains(str("error")));
        QVERIFY(!QFile::exists(strRecord));
        delete m_pWorker;
        m_pWorker = nullptr;
        QVERIFY(QFile::exists(strRecord));
    }
    qint64 nNow = QDateTime::currentSecsSinceEpoch();
    if (after == str("six days")) {
        nNow += 6 * 24 * 3600;
    } else if (after == str("seven days")) {
        nNow += 7 * 24 * 3600;
    } else if (after == str("no record")) {
        QVERIFY(QFile::remove(strRecord));
    } else if (after == str("wal")) {
        QFile wal(strDbName + str("-wal"));
        QVERIFY(wal.open(QIODevice::WriteOnly));
    } else if (after == str("written")) {
        QFile file(strDbName);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.seek(file.size() - 1));
        const QByteArray ba = file.read(1);
        QVERIFY(file.seek(file.size() - 1));
        QCOMPARE(file.write(ba), qint64(1)); // the same byte: only the file's times tell
    } else if (after == str("replaced")) {
        const QString strCopy = m_pDir->filePath(str("copy.db"));
        QVERIFY(QFile::copy(strDbName, strCopy));
        QVERIFY(QFile::remove(strDbName));
        QVERIFY(QFile::rename(strCopy, strDbName));
    } else if (after == str("garbage record")) {
        QFile file(strRecord);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("\xff\xfe\n");
    }
    QCOMPARE(CThreadDb::needsCheck(strDbName, nNow), check);
}

void TestThreadDb::damagedFileIsReportedAndReadsFail()
{
    const QString strDbName = m_pDir->filePath(QStringLiteral("local.db"));
    startWorker(strDbName);
    writeNotesOnPages(*m_pWorker, this, 28);
    QCOMPARE(rows(str("SELECT count(*) AS n FROM note")),
             (QVariantList{QVariantMap{{str("n"), str("28")}}}));
    delete m_pWorker;
    m_pWorker = nullptr;
    QVERIFY(damagePageOf(strDbName, "MARK-14-"));

    m_lstResults.clear();
    m_pWorker = new CObservedThreadDb;
    m_pWorker->setDbName(strDbName);
    QList<QVariantMap> lstNotices;
    connect(m_pWorker, &CThreadDb::notice, this, [&](const QVariant &v) {
        lstNotices << v.toMap();
    });
    connect(m_pWorker, &CThreadObject::dataReceived, this, [this](const QVariant &result) {
        m_lstResults << result.toMap();
    });
    m_pWorker->startThread();

    // Reported at start, once.
    QTRY_COMPARE(lstNotices.size(), 1);
    QCOMPARE(lstNotices.first().value(str("kind")).toString(), str("damaged"));
    QCOMPARE(lstNotices.first().value(str("file")).toString(), strDbName);

    // A list that stops at the damaged page is an error, not the first 14 notes.
    QVariantMap mapResult = run(query(str("SELECT id, title FROM note ORDER BY id")));
    QVERIFY2(mapResult.contains(str("error")), qPrintable(mapResult.value(str("error")).toString()));
    QVERIFY(!mapResult.contains(str("result")));
    QCOMPARE(mapResult.value(str("error_kind")).toString(), str("damaged"));

    // A replace whose look-up fails writes nothing: no second copy of the note.
    mapResult = run(
        QVariantMap{{str("type"), str("replace")},
                    {str("select"), str("SELECT * FROM note WHERE uuid = '{note-14}'")},
                    {str("insert_prepare"), str("INSERT INTO note (uuid, title) VALUES (:u, :t)")},
                    {str("insert_data"),
                     QVariantMap{{str("u"), str("{note-14}")}, {str("t"), str("copy")}}},
                    {str("update"),
                     str("UPDATE note SET title = 'changed' WHERE uuid = '{note-14}'")}});
    QVERIFY(mapResult.contains(str("error")));
    QVERIFY(!mapResult.contains(str("id")));
    QCOMPARE(rows(str("SELECT count(*) AS n FROM note WHERE uuid = '{note-14}'")),
             (QVariantList{QVariantMap{{str("n"), str("1")}}}));
    // What is not on the damaged page still reads.
    QCOMPARE(rows(str("SELECT title FROM note WHERE id = 1")),
             (QVariantList{QVariantMap{{str("title"), str("note 0")}}}));
}

void TestThreadDb::lostFileIsNoticedBeforeAWriteIsConfirmed_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("kind");
    QTest::newRow("deleted") << str("delete") << str("deleted");
    QTest::newRow("replaced by another file") << str("rename") << str("replaced");
    QTest::newRow("overwritten in place") << str("overwrite") << str("replaced");
    // A new file gets its real first page only at the first checkpoint: not a replacement.
    QTest::newRow("untouched, past its first checkpoint") << str("none") << QString();
}

void TestThreadDb::lostFileIsNoticedBeforeAWriteIsConfirmed()
{
    QFETCH(QString, how);
    QFETCH(QString, kind);
    const QString strDbName = m_pDir->filePath(QStringLiteral("local.db"));
    m_pWorker = new CObservedThreadDb;
    m_pWorker->setDbName(strDbName);
    QList<QVariantMap> lstNotices;
    connect(m_pWorker, &CThreadDb::notice, this, [&](const QVariant &v) {
        lstNotices << v.toMap();
    });
    connect(m_pWorker, &CThreadObject::dataReceived, this, [this](const QVariant &result) {
        m_lstResults << result.toMap();
    });
    m_pWorker->startThread();
    QVERIFY(!run(query(str("INSERT INTO note (title) VALUES ('before')"))).contains(str("error")));
    QVERIFY(!run(query(str("PRAGMA wal_checkpoint(TRUNCATE)"))).contains(str("error")));

    const QString strOther = m_pDir->filePath(QStringLiteral("other.db"));
    if (how == str("delete")) {
        QVERIFY(QFile::remove(strDbName));
    } else if (how == str("rename")) {
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(str("QSQLITE"), str("other"));
            db.setDatabaseName(strOther);
            QVERIFY(db.open());
            QSqlQuery q(db);
            QVERIFY(q.exec(str("CREATE TABLE note (id INTEGER PRIMARY KEY, server_id, user_id, "
                               "set_at, created_at, title, content, content_size, md5, "
                               "updated_at, deleted, uuid)")));
            QVERIFY(q.exec(str("INSERT INTO note (title) VALUES ('restored backup')")));
            db.close();
        }
        QSqlDatabase::removeDatabase(str("other"));
        QVERIFY(::rename(QFile::encodeName(strOther).constData(),
                         QFile::encodeName(strDbName).constData())
                == 0);
    } else if (how == str("overwrite")) {
        QFile file(strDbName);
        QVERIFY(file.open(QIODevice::ReadWrite));
        file.write(QByteArray(4096, 'g'));
    }
    if (kind.isEmpty()) {
        QVERIFY(
            !run(query(str("INSERT INTO note (title) VALUES ('after')"))).contains(str("error")));
        QCOMPARE(rows(str("SELECT count(*) AS n FROM note")),
                 (QVariantList{QVariantMap{{str("n"), str("2")}}}));
        QCOMPARE(lstNotices.size(), 0);
        return;
    }

    const QVariantMap mapResult = run(
        QVariantMap{{str("type"), str("query")},
                    {str("sql"), str("INSERT INTO note (title) VALUES ('after')")},
                    {str("return_id"), 1}});
    QVERIFY2(mapResult.contains(str("error")), qPrintable(how));
    QVERIFY(!mapResult.contains(str("id")));
    QCOMPARE(mapResult.value(str("error_kind")).toString(), kind);
    QTRY_COMPARE(lstNotices.size(), 1);
    QCOMPARE(lstNotices.first().value(str("kind")).toString(), kind);

    // What the open file held is kept: written back where the file was, or beside it.
    const QString strKept = lstNotices.first().value(str("kept")).toString();
    if (how == str("overwrite")) {
        // The copy can only be as good as what is left of the file.
        return;
    }
    QVERIFY2(!strKept.isEmpty(), qPrintable(lstNotices.first().value(str("detail")).toString()));
    QCOMPARE(strKept == strDbName, how == str("delete"));
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(str("QSQLITE"), str("kept"));
        db.setDatabaseName(strKept);
        QVERIFY(db.open());
        QSqlQuery q(db);
        QVERIFY(q.exec(str("SELECT title FROM note")));
        QVERIFY(q.next());
        QCOMPARE(q.value(0).toString(), str("before"));
        QVERIFY(!q.next());
        q.finish();
        db.close();
    }
    QSqlDatabase::removeDatabase(str("kept"));

    // The next request works on what is at the path now.
    QVERIFY(!run(query(str("INSERT INTO note (title) VALUES ('again')"))).contains(str("error")));
    QStringList lstTitles;
    for (const QVariant &row : rows(str("SELECT title FROM note ORDER BY id")))
        lstTitles << row.toMap().value(str("title")).toString();
    QCOMPARE(lstTitles,
             how == str("delete") ? (QStringList{str("before"), str("again")})
                                  : (QStringList{str("restored backup"), str("again")}));
}

QTEST_GUILESS_MAIN(TestThreadDb)
#include "tst_threaddb.moc"
