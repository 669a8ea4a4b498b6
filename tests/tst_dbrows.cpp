#include "dbrows.h"

#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

// The worker reads a statement's rows in one of two ways: through the Qt driver, or, for a
// statement that only reads, straight from SQLite as UTF-8. Callers must not be able to tell
// which: every case compares the two on the same file.
class TestDbRows : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void sameRowsBothWays_data();
    void sameRowsBothWays();
    void refusedStatements_data();
    void refusedStatements();
    void emptyAnswer();

private:
    sqlite3 *handle() const;
    QVariantList viaDriver(const QString &strSql);

    QTemporaryDir m_dir;
    QSqlDatabase m_db;
};

void TestDbRows::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("rows"));
    m_db.setDatabaseName(m_dir.filePath(QStringLiteral("rows.db")));
    QVERIFY(m_db.open());
    QSqlQuery q(m_db);
    QVERIFY(q.exec(QStringLiteral("CREATE TABLE t (id INTEGER PRIMARY KEY, v)")));
    QVERIFY(q.prepare(QStringLiteral("INSERT INTO t (id, v) VALUES (:id, :v)")));
    const QVariantList lstValues{QVariant(),
                                 QString(QLatin1String("")),
                                 QStringLiteral("plain"),
                                 QString::fromUtf8("Équipe 中文 日本語 😀"),
                                 42,
                                 qint64(-9007199254740993LL),
                                 3.5,
                                 0.1,
                                 1e20,
                                 QByteArray("\x00\xff"
                                            "A",
                                            3),
                                 QString::fromUtf8("a\0b", 3)};
    for (int i = 0; i < lstValues.size(); ++i) {
        q.bindValue(QStringLiteral(":id"), i + 1);
        q.bindValue(QStringLiteral(":v"), lstValues.at(i));
        QVERIFY2(q.exec(), qPrintable(q.lastError().text()));
    }
}

void TestDbRows::cleanupTestCase()
{
    m_db.close();
    m_db = QSqlDatabase();
    QSqlDatabase::removeDatabase(QStringLiteral("rows"));
}

sqlite3 *TestDbRows::handle() const
{
    const QVariant handle = m_db.driver()->handle();
    return *static_cast<sqlite3 *const *>(handle.constData());
}

QVariantList TestDbRows::viaDriver(const QString &strSql)
{
    QSqlQuery q(m_db);
    q.setForwardOnly(true);
    if (!q.exec(strSql))
        return QVariantList{q.lastError().text()};
    return CDbRows::read(q).toList();
}

void TestDbRows::sameRowsBothWays_data()
{
    QTest::addColumn<QString>("sql");
    QTest::newRow("every kind of value") << QStringLiteral("SELECT id, v FROM t ORDER BY id");
    QTest::newRow("null and empty text")
        << QStringLiteral("SELECT v, v IS NULL AS is_null FROM t WHERE id IN (1, 2)");
    QTest::newRow("numbers computed") << QStringLiteral("SELECT 1.0/3 AS third, 2.5e-8 AS tiny, "
                                                        "-0.0 AS zero, 7/2 AS whole");
    QTest::newRow("names in quotes and expressions")
        << QStringLiteral("SELECT id AS \"quoted\", substr(v, 1, 2), count(*) FROM t GROUP BY id");
    QTest::newRow("one name for two columns") << QStringLiteral("SELECT 1 AS a, 2 AS a, 3 AS b");
    QTest::newRow("common table expression")
        << QStringLiteral("WITH c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c WHERE x < 5) "
                          "SELECT x FROM c");
    QTest::newRow("leading space and lower case") << QStringLiteral("  \n select v from t");
}

void TestDbRows::sameRowsBothWays()
{
    QFETCH(QString, sql);
    CDbRows rows;
    QVERIFY(CDbRows::select(handle(), sql, rows));
    const QVariantList lstDirect = rows.toList();
    const QVariantList lstDriver = viaDriver(sql);
    QVERIFY(!lstDriver.isEmpty());
    QCOMPARE(lstDirect, lstDriver);
    QCOMPARE(rows.rowCount(), lstDriver.size());
    // Every value is a text; a NULL is a null text, an empty text is not.
    for (int i = 0; i < lstDirect.size(); ++i) {
        const QVariantMap mapDirect = lstDirect.at(i).toMap();
        const QVariantMap mapDriver = lstDriver.at(i).toMap();
        for (auto it = mapDirect.cbegin(); it != mapDirect.cend(); ++it) {
            QCOMPARE(it.value().userType(), int(QMetaType::QString));
            QCOMPARE(it.value().toString().isNull(), mapDriver.value(it.key()).toString().isNull());
        }
    }
}

void TestDbRows::refusedStatements_data()
{
    QTest::addColumn<QString>("sql");
    QTest::newRow("insert") << QStringLiteral("INSERT INTO t (v) VALUES ('added')");
    QTest::newRow("update") << QStringLiteral("UPDATE t SET v = 'changed'");
    QTest::newRow("write behind a common table expression")
        << QStringLiteral("WITH c AS (SELECT 1) DELETE FROM t");
    QTest::newRow("two statements") << QStringLiteral("SELECT 1; DELETE FROM t");
    QTest::newRow("no such table") << QStringLiteral("SELECT * FROM missing");
    QTest::newRow("error while stepping") << QStringLiteral("SELECT abs(-9223372036854775808)");
    QTest::newRow("not a statement") << QStringLiteral("SELECTED nothing");
    QTest::newRow("pragma") << QStringLiteral("PRAGMA user_version");
}

void TestDbRows::refusedStatements()
{
    QFETCH(QString, sql);
    CDbRows rows;
    QVERIFY(!CDbRows::select(handle(), sql, rows));
    QCOMPARE(rows.rowCount(), 0);
    // Nothing was changed by the refusal.
    QSqlQuery q(m_db);
    QVERIFY(q.exec(QStringLiteral("SELECT count(*), sum(v = 'changed') FROM t")) && q.next());
    QCOMPARE(q.value(0).toInt(), 11);
    QCOMPARE(q.value(1).toInt(), 0);
}

void TestDbRows::emptyAnswer()
{
    CDbRows rows;
    QVERIFY(CDbRows::select(handle(), QStringLiteral("SELECT id, v FROM t WHERE id < 0"), rows));
    QCOMPARE(rows.rowCount(), 0);
    QCOMPARE(rows.columns(), (QStringList{QStringLiteral("id"), QStringLiteral("v")}));
    QVERIFY(rows.toList().isEmpty());
    QVERIFY(!CDbRows::select(nullptr, QStringLiteral("SELECT 1"), rows));
}

QTEST_GUILESS_MAIN(TestDbRows)
#include "tst_dbrows.moc"
