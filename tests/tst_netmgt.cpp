#include "httpfixture.h"
#include "netmgt.h"
#include "settings.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <functional>
#include <memory>

using NetOp = std::function<QString(CNetMgt &)>;
Q_DECLARE_METATYPE(NetOp)

namespace {
const int kUserId = 12;
const QString kToken = QStringLiteral("tok-\u00e9-12");
const QByteArray kTokenField = "login_token=" + kToken.toUtf8();
const QByteArray kUserField = "user_id=12";
} // namespace

// The facade against a loopback HTTP server, with the service URL and the language taken
// from a real settings object.
class TestNetMgt : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    std::unique_ptr<CSettings> m_pSettings;
    std::unique_ptr<HttpFixture> m_pServer;
    std::unique_ptr<CNetMgt> m_pNet;
    std::unique_ptr<QSignalSpy> m_pSpy;

    // Answers every request with its own path and body fields, so a result can be told
    // apart from another.
    static HttpAnswer echo(const HttpRequest &request)
    {
        QByteArray fields;
        for (const QByteArray &field : request.fields())
            fields += field + ';';
        return HttpFixture::reply(200,
                                  "{\"path\":\"" + request.path + "\",\"fields\":\""
                                      + fields.toPercentEncoding() + "\"}");
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_dir.path());
    }

    void init()
    {
        m_pServer = std::make_unique<HttpFixture>();
        QVERIFY(m_pServer->listen());
        m_pServer->responder = &TestNetMgt::echo;
        m_pSettings = std::make_unique<CSettings>(QStringLiteral("Greyfen Software"),
                                                  QStringLiteral("kelpo-netmgt-test"));
        m_pSettings->setServerUrl(m_pServer->baseUrl());
        m_pSettings->setLang(QStringLiteral("zh_cn"));
        g_pSettings = m_pSettings.get();
        m_pNet = std::make_unique<CNetMgt>();
        m_pSpy = std::make_unique<QSignalSpy>(m_pNet.get(), &CNetMgt::dataReceived);
    }

    void cleanup()
    {
        m_pSpy.reset();
        m_pNet.reset();
        g_pSettings = nullptr;
        m_pSettings.reset();
        m_pServer.reset();
    }

    void loginFrom()
    {
#ifdef Q_OS_WIN
        QCOMPARE(CNetMgt::loginFrom(), QStringLiteral("WIN_3_0"));
#else
        QCOMPARE(CNetMgt::loginFrom(), QStringLiteral("OTHER_3_0"));
#endif
    }

    // Every operation: its endpoint, its fields in wire order, and whether it is refused
    // while nobody is logged in.
    void operations_data()
    {
        QTest::addColumn<NetOp>("op");
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<QList<QByteArray>>("fields");
        QTest::addColumn<bool>("needsLogin");

        const QString strUuid = QStringLiteral("{0f8fad5b-d9cb-469f-a165-70867728950e}");
        const QString strTime = QStringLiteral("2016-03-05 10:11:12");
        const QString strTitle = QStringLiteral("\u6625\u8282");

        QVariantMap mapRegister;
        mapRegister.insert(QStringLiteral("pwd_org"), QStringLiteral("secret"));
        mapRegister.insert(QStringLiteral("pwd"),
                           QStringLiteral("5ebe2294ecd0e0f08eab7690d2a6ee69"));
        mapRegister.insert(QStringLiteral("nickname"), QStringLiteral("Ann"));
        mapRegister.insert(QStringLiteral("name"), QStringLiteral("ann"));
        mapRegister.insert(QStringLiteral("email"), QStringLiteral("ann@example.org"));
        QTest::newRow("registerUser")
            << NetOp([=](CNetMgt &n) { return n.registerUser(mapRegister); })
            << QByteArray("/mobile/register_user")
            << QList<QByteArray>{"email=ann@example.org",
                                 "name=ann",
                                 "nickname=Ann",
                                 "pwd=5ebe2294ecd0e0f08eab7690d2a6ee69",
                                 "pwd_org=secret"}
            << false;

        QVariantMap mapForgot;
        mapForgot.insert(QStringLiteral("user_name"), QStringLiteral("ann"));
        mapForgot.insert(QStringLiteral("user_email"), QStringLiteral("ann@example.org"));
        QTest::newRow("forgotPwd")
            << NetOp([=](CNetMgt &n) { return n.forgotPwd(mapForgot); })
            << QByteArray("/mobile/forgot_pwd")
            << QList<QByteArray>{"user_email=ann@example.org", "user_name=ann"} << false;

        QTest::newRow("login") << NetOp([](CNetMgt &n) {
            return n.login(QStringLiteral("\u5f20\u4e09"),
                           QStringLiteral("5ebe2294ecd0e0f08eab7690d2a6ee69"));
        }) << QByteArray("/mobile/login")
                               << QList<QByteArray>{"lang=zh_cn",
                                                    "login_from=OTHER_3_0",
                                                    "name="
                                                        + QStringLiteral("\u5f20\u4e09").toUtf8(),
                                                    "pwd=5ebe2294ecd0e0f08eab7690d2a6ee69"}
                               << false;

        QTest::newRow("getNoteListByMonth")
            << NetOp([](CNetMgt &n) { return n.getNoteListByMonth(QDate(2016, 3, 5)); })
            << QByteArray("/mobile/get_note_list_by_month")
            << QList<QByteArray>{kTokenField, "time_month=3", "time_year=2016", kUserField} << true;

        QTest::newRow("getNoteItem(uuid)")
            << NetOp([=](CNetMgt &n) { return n.getNoteItem(strUuid); })
            << QByteArray("/mobile/get_note_item")
            << QList<QByteArray>{kTokenField, kUserField, "uuid=" + strUuid.toUtf8()} << true;

        QTest::newRow("getNoteItem(id)")
            << NetOp([](CNetMgt &n) { return n.getNoteItem(15); })
            << QByteArray("/mobile/get_note_item")
            << QList<QByteArray>{kTokenField, "note_id=15", kUserField} << true;

        // A caller's own "user_id" and "login_token" are replaced by the stored ones.
        QVariantMap mapNote;
        mapNote.insert(QStringLiteral("user_id"), 7);
        mapNote.insert(QStringLiteral("login_token"), QStringLiteral("stale"));
        mapNote.insert(QStringLiteral("title"), strTitle);
        mapNote.insert(QStringLiteral("uuid"), strUuid);
        const QList<QByteArray> listNote{kTokenField,
                                         "title=" + strTitle.toUtf8(),
                                         kUserField,
                                         "uuid=" + strUuid.toUtf8()};
        QTest::newRow("updateNoteItem(map)")
            << NetOp([=](CNetMgt &n) { return n.updateNoteItem(mapNote); })
            << QByteArray("/mobile/update_note_item") << listNote << true;

        QTest::newRow("updateNoteItem(uuid, time)")
            << NetOp([=](CNetMgt &n) { return n.updateNoteItem(strUuid, strTime); })
            << QByteArray("/mobile/update_note_item")
            << QList<QByteArray>{"deleted=1",
                                 kTokenField,
                                 "updated_at=2016-03-05T10:11:12Z",
                                 kUserField,
                                 "uuid=" + strUuid.toUtf8()}
            << true;

        QTest::newRow("updateNoteItem(id, time)")
            << NetOp([=](CNetMgt &n) { return n.updateNoteItem(15, strTime); })
            << QByteArray("/mobile/update_note_item")
            << QList<QByteArray>{"deleted=1",
                                 kTokenField,
                                 "note_id=15",
                                 "updated_at=2016-03-05T10:11:12Z",
                                 kUserField}
            << true;

        QTest::newRow("replaceNoteItem")
            << NetOp([=](CNetMgt &n) { return n.replaceNoteItem(mapNote); })
            << QByteArray("/mobile/replace_note_item") << listNote << true;

        QVariantMap mapPage;
        mapPage.insert(QStringLiteral("search_string"), QStringLiteral("it's"));
        mapPage.insert(QStringLiteral("offset"), 40);
        mapPage.insert(QStringLiteral("limit"), 20);
        mapPage.insert(QStringLiteral("is_sync"), 1);
        QTest::newRow("getNoteListByOffset")
            << NetOp([=](CNetMgt &n) { return n.getNoteListByOffset(mapPage); })
            << QByteArray("/mobile/get_note_list_by_offset")
            << QList<QByteArray>{"is_sync=1",
                                 "limit=20",
                                 kTokenField,
                                 "offset=40",
                                 "search_string=it's",
                                 kUserField}
            << true;

        QTest::newRow("insertNoteItem")
            << NetOp([=](CNetMgt &n) { return n.insertNoteItem(mapNote); })
            << QByteArray("/mobile/insert_note_item") << listNote << true;

        QTest::newRow("compareUpdateNoteItem")
            << NetOp([=](CNetMgt &n) { return n.compareUpdateNoteItem(mapNote); })
            << QByteArray("/mobile/compare_update_note_item") << listNote << true;
    }

    void operations()
    {
        QFETCH(NetOp, op);
        QFETCH(QByteArray, path);
        QFETCH(QList<QByteArray>, fields);
        QFETCH(bool, needsLogin);

        // Logged out: refused operations queue nothing, so the server's first request is
        // the one made after login.
        const QString strLoggedOut = op(*m_pNet);
        QCOMPARE(strLoggedOut.isEmpty(), needsLogin);
        m_pNet->setLoginInfo(kUserId, kToken);
        const QString strUuid = op(*m_pNet);
        QCOMPARE(strUuid.size(), 38);
        QVERIFY(strUuid.startsWith(QLatin1Char('{')));

        const int nExpected = needsLogin ? 1 : 2;
        QTRY_COMPARE(m_pSpy->count(), nExpected);
        QCOMPARE(m_pServer->requests.size(), nExpected);
        for (const HttpRequest &request : qAsConst(m_pServer->requests)) {
            QCOMPARE(request.method, QByteArray("POST"));
            QCOMPARE(request.path, path);
            // Every request says that it reads times with their zone.
            QList<QByteArray> lstExpected = fields;
            lstExpected << "times=utc";
            std::sort(lstExpected.begin(), lstExpected.end());
            QCOMPARE(request.fields(), lstExpected);
        }
        QStringList listUuid;
        for (const QList<QVariant> &args : qAsConst(*m_pSpy))
            listUuid.append(args.at(0).toMap().value(QStringLiteral("uuid")).toString());
        QVERIFY(listUuid.contains(strUuid));
    }

    void refusedWithoutLogin_data()
    {
        QTest::addColumn<int>("userId");
        QTest::addColumn<QString>("token");
        QTest::addColumn<bool>("clear");
        QTest::newRow("user 0") << 0 << QStringLiteral("tok") << false;
        QTest::newRow("negative user") << -3 << QStringLiteral("tok") << false;
        QTest::newRow("empty token") << 12 << QString() << false;
        QTest::newRow("after clearLoginInfo") << 12 << QStringLiteral("tok") << true;
    }

    void refusedWithoutLogin()
    {
        QFETCH(int, userId);
        QFETCH(QString, token);
        QFETCH(bool, clear);
        m_pNet->setLoginInfo(userId, token);
        if (clear)
            m_pNet->clearLoginInfo();
        QVERIFY(!m_pNet->isLoggedIn());
        QCOMPARE(m_pNet->getNoteListByMonth(QDate(2016, 3, 5)), QString());
        QCOMPARE(m_pNet->getNoteItem(QStringLiteral("{x}")), QString());
        QCOMPARE(m_pNet->insertNoteItem(QVariantMap()), QString());
        QCOMPARE(m_pNet->updateNoteItem(3, QStringLiteral("t")), QString());
        // Requests that need no login still go out, and are the only ones that do.
        const QString strUuid = m_pNet->login(QStringLiteral("ann"), QStringLiteral("x"));
        QVERIFY(!strUuid.isEmpty());
        QTRY_COMPARE(m_pSpy->count(), 1);
        QCOMPARE(m_pServer->requests.size(), 1);
        QCOMPARE(m_pServer->requests.at(0).path, QByteArray("/mobile/login"));
    }

    // Each result carries the uuid of its own request, also when the answers come back in
    // the other order, and arrives on the facade's thread.
    void resultsMatchTheirRequests()
    {
        m_pServer->responder = nullptr; // hold every request
        const QString strFirst = m_pNet->login(QStringLiteral("first"), QStringLiteral("p"));
        const QString strSecond = m_pNet->login(QStringLiteral("second"), QStringLiteral("p"));
        QVERIFY(!strFirst.isEmpty());
        QVERIFY(strFirst != strSecond);
        QTRY_COMPARE(m_pServer->requests.size(), 2);

        QList<Qt::HANDLE> listThreads;
        connect(
            m_pNet.get(),
            &CNetMgt::dataReceived,
            this,
            [&listThreads] { listThreads.append(QThread::currentThreadId()); },
            Qt::DirectConnection);
        for (int i = 1; i >= 0; --i)
            m_pServer->answer(i, echo(m_pServer->requests.at(i)));
        QTRY_COMPARE(m_pSpy->count(), 2);

        QHash<QString, QString> hashFields;
        for (const QList<QVariant> &args : qAsConst(*m_pSpy)) {
            const QVariantMap mapResult = args.at(0).toMap();
            hashFields.insert(mapResult.value(QStringLiteral("uuid")).toString(),
                              mapResult.value(QStringLiteral("result"))
                                  .toMap()
                                  .value(QStringLiteral("fields"))
                                  .toString());
        }
        QVERIFY(hashFields.value(strFirst).contains(QStringLiteral("name%3Dfirst")));
        QVERIFY(hashFields.value(strSecond).contains(QStringLiteral("name%3Dsecond")));
        QCOMPARE(listThreads.size(), 2);
        QCOMPARE(listThreads.at(0), QThread::currentThreadId());
        QCOMPARE(listThreads.at(1), QThread::currentThreadId());
    }

    // The service URL is read for every request; a missing "/" is added.
    void serviceUrlFollowsSettings()
    {
        m_pNet->login(QStringLiteral("a"), QStringLiteral("p"));
        QTRY_COMPARE(m_pServer->requests.size(), 1);
        m_pSettings->setServerUrl(
            QStringLiteral("http://127.0.0.1:%1/diary/mobile").arg(m_pServer->port()));
        m_pNet->login(QStringLiteral("a"), QStringLiteral("p"));
        QTRY_COMPARE(m_pServer->requests.size(), 2);
        QCOMPARE(m_pServer->requests.at(0).path, QByteArray("/mobile/login"));
        QCOMPARE(m_pServer->requests.at(1).path, QByteArray("/diary/mobile/login"));
        QTRY_COMPARE(m_pSpy->count(), 2);
    }

    void failuresArriveAsErrors()
    {
        m_pNet->setTransferTimeout(300);
        m_pServer->responder = nullptr; // a service that never answers
        const QString strUuid = m_pNet->login(QStringLiteral("a"), QStringLiteral("p"));
        QTRY_COMPARE(m_pSpy->count(), 1);
        const QVariantMap mapResult = m_pSpy->at(0).at(0).toMap();
        QCOMPARE(mapResult.value(QStringLiteral("uuid")).toString(), strUuid);
        QVERIFY(!mapResult.value(QStringLiteral("error")).toString().isEmpty());
    }

    void destroyedWithRequestInFlight()
    {
        m_pServer->responder = nullptr;
        m_pNet->login(QStringLiteral("a"), QStringLiteral("p"));
        QTRY_COMPARE(m_pServer->requests.size(), 1);
        QElapsedTimer timer;
        timer.start();
        m_pSpy.reset();
        m_pNet.reset();
        QVERIFY(timer.elapsed() < 9000); // not held up by the answer that never comes
    }
};

QTEST_GUILESS_MAIN(TestNetMgt)
#include "tst_netmgt.moc"
