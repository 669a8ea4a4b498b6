#include "sqlbuilder.h"

#include <QDateTime>
#include <QRegularExpression>
#include <QtTest>

namespace {

const QSet<QString> kNumeric{QStringLiteral("id"),
                             QStringLiteral("user_id"),
                             QStringLiteral("server_id"),
                             QStringLiteral("deleted")};

const QRegularExpression kUuidPattern(
    QStringLiteral("^\\{[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}\\}$"));

QString str(const char *p)
{
    return QString::fromUtf8(p);
}

} // namespace

class TestSqlBuilder : public QObject
{
    Q_OBJECT

private slots:
    void builders_data();
    void builders();
    void newNoteColumns_data();
    void newNoteColumns();
    void otherTablesGetNoAutomaticColumns();
    void escapes_data();
    void escapes();
    void md5Hex_data();
    void md5Hex();
    void uuidString();
    void contentDigest_data();
    void contentDigest();
};

enum Builder { Insert, InsertPrepared, Select, Update, UpdatePrepared };
Q_DECLARE_METATYPE(Builder)

void TestSqlBuilder::builders_data()
{
    QTest::addColumn<Builder>("builder");
    QTest::addColumn<QVariantMap>("spec");
    QTest::addColumn<QString>("expected");

    const QString strUuid = QStringLiteral("{0f8fad5b-d9cb-469f-a165-70867728950e}");
    const QString strTime = QStringLiteral("2024-05-06 07:08:09");
    const QVariantMap mapLog{{QStringLiteral("log_at"), strTime},
                             {QStringLiteral("log_type"), QStringLiteral("login_local")},
                             {QStringLiteral("result"), QStringLiteral("sucess")},
                             {QStringLiteral("user_id"), 3}};

    QTest::newRow("insert: log entry")
        << Insert
        << QVariantMap{{QStringLiteral("table"), QStringLiteral("log")},
                       {QStringLiteral("data"), mapLog}}
        << str("INSERT INTO log (log_at,log_type,result,user_id) VALUES "
               "('2024-05-06 07:08:09','login_local','sucess',3)");
    QTest::newRow("insert: quotes doubled, numeric text unquoted, no value is NULL")
        << Insert
        << QVariantMap{{QStringLiteral("table"), QStringLiteral("user")},
                       {QStringLiteral("data"),
                        QVariantMap{{QStringLiteral("name"), QStringLiteral("o'neil")},
                                    {QStringLiteral("nickname"), QVariant()},
                                    {QStringLiteral("server_id"), QStringLiteral("15")}}}}
        << str("INSERT INTO user (name,nickname,server_id) VALUES ('o''neil',NULL,15)");
    QTest::newRow("insert: no table")
        << Insert << QVariantMap{{QStringLiteral("data"), mapLog}} << QString();
    QTest::newRow("insert: no data")
        << Insert << QVariantMap{{QStringLiteral("table"), QStringLiteral("log")}} << QString();
    QTest::newRow("insert prepared: placeholders in key order")
        << InsertPrepared
        << QVariantMap{{QStringLiteral("table"), QStringLiteral("user")},
                       {QStringLiteral("data"),
                        QVariantMap{{QStringLiteral("pwd"), QStringLiteral("x'")},
                                    {QStringLiteral("name"), QStringLiteral("ann")}}}}
        << str("INSERT INTO user (name,pwd) VALUES (:name,:pwd)");
    QTest::newRow("insert prepared: no data")
        << InsertPrepared << QVariantMap{{QStringLiteral("table"), QStringLiteral("user")}}
        << QString();

    QTest::newRow("update: deletion of a note of nobody")
        << Update
        << QVariantMap{{QStringLiteral("table"), QStringLiteral("note")},
                       {QStringLiteral("data"),
                        QVariantMap{{QStringLiteral("deleted"), 1},
                                    {QStringLiteral("updated_at"), strTime}}},
                       {QStringLiteral("where"), QVariantMap{{QStringLiteral("uuid"), strUuid}}},
                       {QStringLiteral("and_where"),
                        QStringLiteral("user_id <= 0 OR user_id IS NULL")}}
        << str("UPDATE note SET deleted = 1, updated_at = '2024-05-06 07:08:09' WHERE `uuid` = "
               "'{0f8fad5b-d9cb-469f-a165-70867728950e}' AND (user_id <= 0 OR user_id IS NULL)");
    QTest::newRow("update: NULL assignment, quote doubled, NULL condition")
        << Update
        << QVariantMap{{QStringLiteral("table"), QStringLiteral("note")},
                       {QStringLiteral("data"),
                        QVariantMap{{QStringLiteral("md5"), QVariant()},
                                    {QStringLiteral("title"), QStringLiteral("it's")}}},
                       {QStringLiteral("where"),
                        QVariantMap{{QStringLiteral("deleted"), QVariant()},
                                    {QStringLiteral("server_id"), QStringLiteral("15")}}}}
        << str("UPDATE note SET md5 = NULL, title = 'it''s' WHERE deleted IS NULL AND "
               "`server_id` = 15");
    QTest::newRow("update: where as text")
        << Update
        << QVariantMap{{QStringLiteral("table"), QStringLiteral("user")},
                       {QStringLiteral("data"), QVariantMap{{QStringLiteral("server_id"), 9}}},
                       {QStringLiteral("where"), QStringLiteral("id = 2")},
                       {QStringLiteral("and_where"), QStringLiteral("name = 'a'")}}
        << str("UPDATE user SET server_id = 9 WHERE (id = 2) AND (name = 'a')");
    // Each condition in its brackets: the OR stays inside its own.
    QTest::newRow("select: where text with OR")
        << Select
        << QVariantMap{{QStringLiteral("table"), QStringLiteral("note")},
                       {QStringLiteral("where"), QStringLiteral("user_id = 3 OR user_id IS NULL")},
                       {QStringLiteral("and_where"), QStringLiteral("deleted IS NULL")}}
        << str("SELECT * FROM note WHERE (user_id = 3 OR user_id IS NULL) AND (deleted IS NULL)");
    // A numeric column is written as a number only when it holds one.
    QTest::newRow("update: text in a numeric column is quoted")
        << Update
        << QVariantMap{{QStringLiteral("table"), QStringLiteral("note")},
                       {QStringLiteral("data"),
                        QVariantMap{{QStringLiteral("server_id"), QStringLiteral("1; DROP TABLE note")}}},
                       {QStringLiteral("where"),
                        QVariantMap{{QStringLiteral("id"), QStringLiteral("1 OR 1=1")}}}}
        << str("UPDATE note SET server_id = '1; DROP TABLE note' WHERE `id` = '1 OR 1=1'");
    QTest::newRow("update: and_where alone")
        << Update
        << QVariantMap{{QStringLiteral("table"), QStringLiteral("note")},
                       {QStringLiteral("data"), QVariantMap{{QStringLiteral("user_id"), 4}}},
                       {QStringLiteral("and_where"), QStringLiteral("user_id IS NULL")}}
        << str("UPDATE note SET user_id = 4 WHERE (user_id IS NULL)");
    QTest::newRow("update: where of another type gives no condition")
        << Update
        << QVariantMap{{QStringLiteral("table"), QStringLiteral("note")},
                       {QStringLiteral("data"), QVariantMap{{QStringLiteral("deleted"), 0}}},
                       {QStringLiteral("where"), 12}}
        << str("UPDATE note SET deleted = 0");
    QTest::newRow("update: no table")
        << Update << QVariantMap{{QStringLiteral("data"), mapLog}} << QString();
    QTest::newRow("update prepared: note by server id")
        << UpdatePrepared
        << QVariantMap{{QStringLiteral("table"), QStringLiteral("note")},
                       {QStringLiteral("data"),
                        QVariantMap{{QStringLiteral("title"), QStringLiteral("t")},
                                    {QStringLiteral("content"), QStringLiteral("c")},
                                    {QStringLiteral("md5"), QStringLiteral("m")}}},
                       {QStringLiteral("where"), QVariantMap{{QStringLiteral("server_id"), 15}}}}
        << str("UPDATE note SET content = :content, md5 = :md5, title = :title WHERE "
               "`server_id` = 15");
    QTest::newRow("update prepared: where value quoted")
        << UpdatePrepared
        << QVariantMap{{QStringLiteral("table"), QStringLiteral("note")},
                       {QStringLiteral("data"), QVariantMap{{QStringLiteral("title"), 1}}},
                       {QStringLiteral("where"),
                        QVariantMap{{QStringLiteral("uuid"), QStringLiteral("a'b")}}},
                       {QStringLiteral("and_where"), QStringLiteral("user_id <= 0")}}
        << str("UPDATE note SET title = :title WHERE `uuid` = 'a''b' AND (user_id <= 0)");

    QTest::newRow("select: no field is *")
        << Select << QVariantMap{{QStringLiteral("table"), QStringLiteral("note")}}
        << str("SELECT * FROM note");
    QTest::newRow("select: empty field is *")
        << Select
        << QVariantMap{{QStringLiteral("table"), QStringLiteral("note")},
                       {QStringLiteral("field"), QString()}}
        << str("SELECT * FROM note");
    QTest::newRow("select: field list")
        << Select
        << QVariantMap{{QStringLiteral("table"), QStringLiteral("note")},
                       {QStringLiteral("field"),
                        QVariantList{QStringLiteral("id"), QStringLiteral("server_id")}}}
        << str("SELECT id, server_id FROM note");
    QTest::newRow("select: field text")
        << Select
        << QVariantMap{{QStringLiteral("table"), QStringLiteral("note")},
                       {QStringLiteral("field"), QStringLiteral("count(*)")}}
        << str("SELECT count(*) FROM note");
    QTest::newRow("select: where map, no backticks, numeric and quoted")
        << Select
        << QVariantMap{{QStringLiteral("table"), QStringLiteral("user")},
                       {QStringLiteral("where"),
                        QVariantMap{{QStringLiteral("name"), QStringLiteral("o'neil")},
                                    {QStringLiteral("server_id"), 8}}}}
        << str("SELECT * FROM user WHERE name = 'o''neil' AND server_id = 8");
    QTest::newRow("select: null value is IS NULL")
        << Select
        << QVariantMap{{QStringLiteral("table"), QStringLiteral("note")},
                       {QStringLiteral("where"),
                        QVariantMap{{QStringLiteral("deleted"), QVariant()},
                                    {QStringLiteral("title"), QVariant(QVariant::String)}}}}
        << str("SELECT * FROM note WHERE deleted IS NULL AND title IS NULL");
    QTest::newRow("select: where and and_where")
        << Select
        << QVariantMap{{QStringLiteral("table"), QStringLiteral("note")},
                       {QStringLiteral("where"), QVariantMap{{QStringLiteral("uuid"), strUuid}}},
                       {QStringLiteral("and_where"),
                        QStringLiteral("user_id = 5 OR user_id IS NULL OR user_id <= 0")}}
        << str("SELECT * FROM note WHERE uuid = '{0f8fad5b-d9cb-469f-a165-70867728950e}' AND "
               "(user_id = 5 OR user_id IS NULL OR user_id <= 0)");
    QTest::newRow("select: and_where alone")
        << Select
        << QVariantMap{{QStringLiteral("table"), QStringLiteral("note")},
                       {QStringLiteral("and_where"), QStringLiteral("deleted = 1")}}
        << str("SELECT * FROM note WHERE (deleted = 1)");
    QTest::newRow("select: no table") << Select << QVariantMap() << QString();
}

void TestSqlBuilder::builders()
{
    QFETCH(Builder, builder);
    QFETCH(QVariantMap, spec);
    QFETCH(QString, expected);

    QString strSql;
    switch (builder) {
    case Insert:
        strSql = buildInsert(spec, kNumeric);
        break;
    case InsertPrepared:
        strSql = buildInsertPrepared(spec);
        break;
    case Select:
        strSql = buildSelect(spec, kNumeric);
        break;
    case Update:
        strSql = buildUpdate(spec, kNumeric);
        break;
    case UpdatePrepared:
        strSql = buildUpdatePrepared(spec, kNumeric);
        break;
    }
    QCOMPARE(strSql, expected);
}

void TestSqlBuilder::newNoteColumns_data()
{
    QTest::addColumn<bool>("prepared");
    QTest::addColumn<bool>("withUuid");
    QTest::newRow("insert, new uuid") << false << false;
    QTest::newRow("insert, own uuid") << false << true;
    QTest::newRow("prepared, new uuid") << true << false;
    QTest::newRow("prepared, own uuid") << true << true;
}

void TestSqlBuilder::newNoteColumns()
{
    QFETCH(bool, prepared);
    QFETCH(bool, withUuid);

    const QString strOwnUuid = QStringLiteral("{11111111-2222-3333-4444-555555555555}");
    QVariantMap mapData{{QStringLiteral("title"), QStringLiteral("t")},
                        {QStringLiteral("updated_at"), QStringLiteral("2000-01-01 00:00:00")}};
    if (withUuid)
        mapData.insert(QStringLiteral("uuid"), strOwnUuid);
    const QVariantMap mapSpec{{QStringLiteral("table"), QStringLiteral("note")},
                              {QStringLiteral("data"), mapData}};

    const QDateTime dtBefore = QDateTime::currentDateTime().addSecs(-1);
    QVariantMap mapFirst = mapSpec;
    QVariantMap mapSecond = mapSpec;
    const QString strSql = prepared ? buildInsertPrepared(mapFirst)
                                    : buildInsert(mapFirst, kNumeric);
    prepared ? buildInsertPrepared(mapSecond) : buildInsert(mapSecond, kNumeric);
    const QDateTime dtAfter = QDateTime::currentDateTime().addSecs(1);

    const QVariantMap mapOut = mapFirst.value(QStringLiteral("data")).toMap();
    const QString strUuid = mapOut.value(QStringLiteral("uuid")).toString();
    QVERIFY2(kUuidPattern.match(strUuid).hasMatch(), qPrintable(strUuid));
    const QString strSecondUuid
        = mapSecond.value(QStringLiteral("data")).toMap().value(QStringLiteral("uuid")).toString();
    if (withUuid) {
        QCOMPARE(strUuid, strOwnUuid);
        QCOMPARE(strSecondUuid, strOwnUuid);
    } else {
        QVERIFY(strUuid != strSecondUuid);
    }

    // "updated_at" is always the time of the save, whatever the caller gave.
    const QDateTime dtUpdated
        = QDateTime::fromString(mapOut.value(QStringLiteral("updated_at")).toString(),
                                QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    QVERIFY(dtUpdated.isValid());
    QVERIFY(dtUpdated >= dtBefore.addMSecs(-dtBefore.time().msec()));
    QVERIFY(dtUpdated <= dtAfter);

    // The text names exactly the columns of the data written back.
    if (prepared) {
        QCOMPARE(strSql,
                 str("INSERT INTO note (title,updated_at,uuid) VALUES (:title,:updated_at,:uuid)"));
    } else {
        QCOMPARE(strSql,
                 QStringLiteral("INSERT INTO note (title,updated_at,uuid) VALUES ('t','%1','%2')")
                     .arg(mapOut.value(QStringLiteral("updated_at")).toString(), strUuid));
    }
}

void TestSqlBuilder::otherTablesGetNoAutomaticColumns()
{
    QVariantMap mapSpec{{QStringLiteral("table"), QStringLiteral("user")},
                        {QStringLiteral("data"), QVariantMap{{QStringLiteral("name"), 1}}}};
    QCOMPARE(buildInsertPrepared(mapSpec), str("INSERT INTO user (name) VALUES (:name)"));
    QCOMPARE(mapSpec.value(QStringLiteral("data")).toMap().keys(),
             QStringList{QStringLiteral("name")});

    // An update of a note adds nothing either.
    const QVariantMap mapUpdate{{QStringLiteral("table"), QStringLiteral("note")},
                                {QStringLiteral("data"),
                                 QVariantMap{{QStringLiteral("title"), QStringLiteral("x")}}}};
    QCOMPARE(buildUpdate(mapUpdate, kNumeric), str("UPDATE note SET title = 'x'"));
    QCOMPARE(buildUpdatePrepared(mapUpdate, kNumeric), str("UPDATE note SET title = :title"));
}

void TestSqlBuilder::escapes_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("quoted");
    QTest::addColumn<QString>("like");
    QTest::newRow("plain") << str("abc") << str("abc") << str("abc");
    QTest::newRow("apostrophes") << str("it's 'x'") << str("it''s ''x''") << str("it's 'x'");
    QTest::newRow("percent") << str("100%") << str("100%") << str("100\\%");
    QTest::newRow("underscore") << str("a_b") << str("a_b") << str("a\\_b");
    QTest::newRow("backslash") << str("c:\\x") << str("c:\\x") << str("c:\\\\x");
    QTest::newRow("empty") << QString() << QString() << QString();
}

void TestSqlBuilder::escapes()
{
    QFETCH(QString, input);
    QFETCH(QString, quoted);
    QFETCH(QString, like);
    QCOMPARE(escapeQuotes(input), quoted);
    QCOMPARE(escapeLike(input), like);
}

void TestSqlBuilder::md5Hex_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("digest");
    QTest::newRow("empty") << QString() << str("d41d8cd98f00b204e9800998ecf8427e");
    QTest::newRow("abc") << str("abc") << str("900150983cd24fb0d6963f7d28e17f72");
    QTest::newRow("non-ASCII") << str("日记") << str("303a3ab7105ec97c68817c8deb89d16c");
}

void TestSqlBuilder::md5Hex()
{
    QFETCH(QString, input);
    QFETCH(QString, digest);
    QCOMPARE(::md5Hex(input), digest);
}

void TestSqlBuilder::uuidString()
{
    const QString strFirst = createUuidString();
    QCOMPARE(strFirst.size(), 38);
    QVERIFY2(kUuidPattern.match(strFirst).hasMatch(), qPrintable(strFirst));
    QVERIFY(strFirst != createUuidString());
}

void TestSqlBuilder::contentDigest_data()
{
    QTest::addColumn<QVariantMap>("note");
    QTest::addColumn<QVariant>("size");
    QTest::addColumn<QVariant>("md5");
    QTest::newRow("text") << QVariantMap{{QStringLiteral("content"), QStringLiteral("abc")}}
                          << QVariant(3) << QVariant(str("900150983cd24fb0d6963f7d28e17f72"));
    QTest::newRow("bytes, not characters")
        << QVariantMap{{QStringLiteral("content"), str("日记")}} << QVariant(6)
        << QVariant(str("303a3ab7105ec97c68817c8deb89d16c"));
    QTest::newRow("empty body: size 0, no digest")
        << QVariantMap{{QStringLiteral("content"), QString()},
                       {QStringLiteral("md5"), QStringLiteral("old")}}
        << QVariant(0) << QVariant();
    QTest::newRow("no content: untouched")
        << QVariantMap{{QStringLiteral("title"), QStringLiteral("t")},
                       {QStringLiteral("md5"), QStringLiteral("old")}}
        << QVariant() << QVariant(str("old"));
}

void TestSqlBuilder::contentDigest()
{
    QFETCH(QVariantMap, note);
    QFETCH(QVariant, size);
    QFETCH(QVariant, md5);
    fillContentDigest(note);
    QCOMPARE(note.value(QStringLiteral("content_size")), size);
    QCOMPARE(note.value(QStringLiteral("md5")), md5);
    QCOMPARE(note.contains(QStringLiteral("content_size")), size.isValid());
}

QTEST_APPLESS_MAIN(TestSqlBuilder)
#include "tst_sqlbuilder.moc"
