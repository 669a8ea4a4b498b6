#include "langmgt.h"

#include <QtTest>

class TestLangMgt : public QObject
{
    Q_OBJECT

private slots:
    void lookupBeforeInit()
    {
        CLangMgt mgt;
        mgt.m_strLang = QStringLiteral("zh_cn");
        // init() is scheduled for the event loop, which has not run yet.
        QCOMPARE(mgt.getLangString(QStringLiteral("Wrong name or password.")),
                 QStringLiteral("Wrong name or password."));
        QTRY_VERIFY(mgt.m_mapLang.contains(QStringLiteral("ja_jp")));
        QCOMPARE(mgt.getLangString(QStringLiteral("Wrong name or password.")),
                 QStringLiteral("错误的用户名或密码。"));
    }

    void table_data()
    {
        QTest::addColumn<QString>("lang");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::newRow("zh_cn wrong password")
            << "zh_cn"
            << "Wrong name or password." << QStringLiteral("错误的用户名或密码。");
        QTest::newRow("zh_cn company") << "zh_cn"
                                       << "Greyfen Software" << QStringLiteral("灰芬软件");
        QTest::newRow("zh_cn cancel") << "zh_cn"
                                      << "Cancel" << QStringLiteral("取消");
        QTest::newRow("zh_cn other case") << "zh_cn"
                                          << "wrong name or password."
                                          << "wrong name or password.";
        QTest::newRow("zh_cn unknown") << "zh_cn"
                                       << "Login token is wrong."
                                       << "Login token is wrong.";
        QTest::newRow("ja_jp empty table") << "ja_jp"
                                           << "Wrong name or password."
                                           << "Wrong name or password.";
        QTest::newRow("en_us no table") << "en_us"
                                        << "Cancel"
                                        << "Cancel";
        QTest::newRow("no language") << ""
                                     << "Cancel"
                                     << "Cancel";
    }

    void table()
    {
        QFETCH(QString, lang);
        QFETCH(QString, text);
        QFETCH(QString, expected);
        CLangMgt mgt;
        mgt.m_strLang = lang;
        mgt.init();
        QCOMPARE(mgt.getLangString(text), expected);
    }

    void compiledTableIsWhole()
    {
        CLangMgt mgt;
        mgt.init();
        QCOMPARE(mgt.m_mapLang.keys(),
                 QStringList({QStringLiteral("ja_jp"), QStringLiteral("zh_cn")}));
        QCOMPARE(mgt.m_mapLang.value(QStringLiteral("zh_cn")).toMap().size(), 3);
        QVERIFY(mgt.m_mapLang.value(QStringLiteral("ja_jp")).toMap().isEmpty());
    }

    void malformedTable_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::newRow("syntax error") << QByteArray("\"zh_cn\": {\"Cancel\": \"取消\",}");
        QTest::newRow("braces included") << QByteArray("{\"zh_cn\": {\"Cancel\": \"取消\"}}");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("binary") << QByteArray("\xff\xfe\x00\x01", 4);
    }

    void malformedTable()
    {
        QFETCH(QByteArray, data);
        CLangMgt mgt;
        mgt.m_strLang = QStringLiteral("zh_cn");
        mgt.m_mapLang = CLangMgt::parseLangTable(data);
        QCOMPARE(mgt.getLangString(QStringLiteral("Cancel")), QStringLiteral("Cancel"));
    }

    void textAfterNulIsIgnored()
    {
        const QByteArray data("\"zh_cn\": {\"Cancel\": \"X\"}\0garbage", 33);
        QCOMPARE(CLangMgt::parseLangTable(data)
                     .value(QStringLiteral("zh_cn"))
                     .toMap()
                     .value(QStringLiteral("Cancel")),
                 QVariant(QStringLiteral("X")));
    }
};

QTEST_GUILESS_MAIN(TestLangMgt)
#include "tst_langmgt.moc"
