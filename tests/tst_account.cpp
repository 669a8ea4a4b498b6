// Accounts end to end: registration, logins, the password reminder, logout, token
// renewal and the retry of the server login, against the real note service.

#include "langmgt.h"
#include "settings.h"
#include "syncfixture.h"

#include <memory>

class TestAccount : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    std::unique_ptr<CSettings> m_pSettings;
    std::unique_ptr<CLangMgt> m_pLangMgt;
    CServiceProcess m_service;
    CServiceClient m_client;

    QString serviceDb(const QString &strName) const { return m_dir.filePath(strName); }

    // Nothing remembered, automatic login off, talking to the shared service.
    void resetSettings(const QString &strBaseUrl)
    {
        g_pSettings->setUserName(QString());
        g_pSettings->setAutoLogin(false);
        g_pSettings->setServerUrl(strBaseUrl);
        g_pSettings->write();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_pLangMgt = std::make_unique<CLangMgt>();
        m_pLangMgt->init();
        g_pLangMgt = m_pLangMgt.get();
        QVERIFY2(setUpSyncEnvironment(m_dir,
                                      m_pSettings,
                                      m_service,
                                      serviceDb(QStringLiteral("service.db"))),
                 "kelpo-server did not start");
        m_client.setBaseUrl(m_service.baseUrl());
    }

    void init() { resetSettings(m_service.baseUrl()); }

    void cleanupTestCase()
    {
        g_pLangMgt = nullptr;
        g_pSettings = nullptr;
    }

    // The service keeps the name as typed; logins use it in lower case, and the local
    // user row is found again by a later login in any letter case.
    void registerAndLogInAgain()
    {
        g_pSettings->setAutoLogin(true);
        CComputer computer;
        computer.mgt().registerUser({{"name"_s, "Alice"_s},
                                     {"pwd"_s, "s3cret"_s},
                                     {"nickname"_s, "Ali"_s},
                                     {"email"_s, "alice@example.com"_s}});
        QTRY_COMPARE_WITH_TIMEOUT(computer.emitted("register_user"_s).size(), 1, 20000);
        QCOMPARE(computer.emitted("register_user"_s).first().value("result"_s).toString(),
                 QStringLiteral("ok"));
        QTRY_VERIFY_WITH_TIMEOUT(computer.mgt().isLogin(), 20000);
        QVERIFY(computer.waitIdle());
        QCOMPARE(computer.mgt().loginName(), QStringLiteral("alice"));
        // The next start logs in as the new user.
        QCOMPARE(g_pSettings->getUserName(), QStringLiteral("Alice"));
        QCOMPARE(g_pSettings->getPwd(), QStringLiteral("s3cret"));
        QVERIFY(g_pSettings->getAutoLogin());
        const int nUserId = computer.userIds().last().at(0).toInt();
        QVERIFY(nUserId > 0);

        // A note written now reaches the service under the account.
        const QString strUuid = computer.writeNote(QDate(2026, 3, 4), QStringLiteral("first"));
        QVERIFY(!strUuid.isEmpty());
        QVERIFY(computer.waitIdle());
        QVERIFY(m_client.login(QStringLiteral("ALICE"), QStringLiteral("s3cret")));
        QTRY_VERIFY_WITH_TIMEOUT(m_client.allNotes().contains(strUuid), 20000);

        computer.mgt().logout();
        QVERIFY(!computer.mgt().isLogin());
        computer.clearEmitted();
        QVERIFY(computer.login(QStringLiteral("ALICE"), QStringLiteral("s3cret")));
        // The local row was found: the same user, no second row.
        const QVariantMap mapLocal = computer.emitted("login_local"_s).first();
        QCOMPARE(mapLocal.value("result"_s).toMap().value("user_id"_s).toInt(), nUserId);
        QCOMPARE(computer.notesOfDay(QDate(2026, 3, 4)).size(), 1);
    }

    void registerTakenName()
    {
        QVERIFY(m_client
                    .registerUser(QStringLiteral("erin"),
                                  QStringLiteral("pw1"),
                                  QStringLiteral("erin@example.com"))
                    .value("error"_s)
                    .toString()
                    .isEmpty());
        CComputer computer;
        computer.mgt().registerUser({{"name"_s, "Erin"_s},
                                     {"pwd"_s, "pw2"_s},
                                     {"nickname"_s, "E"_s},
                                     {"email"_s, "other@example.com"_s}});
        QTRY_COMPARE_WITH_TIMEOUT(computer.emitted("register_user"_s).size(), 1, 20000);
        QVERIFY(!computer.emitted("register_user"_s).first().value("error"_s).toString().isEmpty());
        QVERIFY(!computer.mgt().isLogin());
    }

    // Start-up logs in with the remembered name and password; the account exists only at
    // the service, so the local login fails, the server login succeeds and the saved row
    // becomes the current user.
    void autoLoginOfUserKnownOnlyToService()
    {
        QVERIFY(m_client
                    .registerUser(QStringLiteral("Bob"),
                                  QStringLiteral("hunter2"),
                                  QStringLiteral("bob@example.com"))
                    .value("error"_s)
                    .toString()
                    .isEmpty());
        g_pSettings->setUserName(QStringLiteral("Bob"));
        g_pSettings->setPwd(QStringLiteral("hunter2"));
        g_pSettings->setAutoLogin(true);

        CComputer computer;
        QTRY_VERIFY_WITH_TIMEOUT(computer.mgt().isLogin() && computer.idle(), 20000);
        QCOMPARE(computer.mgt().loginName(), QStringLiteral("bob"));
        const QList<QVariantMap> lstLocal = computer.emitted("login_local"_s);
        QCOMPARE(lstLocal.size(), 1);
        QCOMPARE(lstLocal.first().value("result"_s).toString(), QStringLiteral("fail"));
        QCOMPARE(lstLocal.first().value("error"_s).toString(),
                 QStringLiteral("User name or password is wrong."));
        QCOMPARE(computer.emitted("login_server"_s).first().value("result"_s).toString(),
                 QStringLiteral("ok"));
        QVERIFY(!computer.userIds().isEmpty());
        QVERIFY(computer.userIds().last().at(0).toInt() > 0);
    }

    // A password changed on another computer: the service rejects the remembered one.
    // The login ends and the remembered password is forgotten, but no note and no user
    // row is deleted; the new password brings everything back.
    void passwordChangedElsewhere()
    {
        QVERIFY(m_client
                    .registerUser(QStringLiteral("carol"),
                                  QStringLiteral("new-pw"),
                                  QStringLiteral("carol@example.com"))
                    .value("error"_s)
                    .toString()
                    .isEmpty());
        CComputer computer;
        QVERIFY(computer.login(QStringLiteral("carol"), QStringLiteral("new-pw")));
        const int nUserId = computer.userIds().last().at(0).toInt();
        const QDate day(2026, 3, 9);
        QVERIFY(!computer.writeNote(day, QStringLiteral("kept")).isEmpty());
        computer.mgt().logout();
        computer.clearEmitted();
        // This computer still knows the old password.
        computer.mgt().saveUser(
            {{"name"_s, "carol"_s}, {"pwd"_s, md5Hex(QStringLiteral("old-pw"))}});
        QVERIFY(computer.waitIdle());
        g_pSettings->setUserName(QStringLiteral("carol"));
        g_pSettings->setPwd(QStringLiteral("old-pw"));
        g_pSettings->setAutoLogin(true);
        m_pLangMgt->m_strLang = QStringLiteral("zh_cn");

        computer.mgt().login(QStringLiteral("carol"), QStringLiteral("old-pw"));
        QTRY_COMPARE_WITH_TIMEOUT(computer.errors().size(), 1, 20000);
        m_pLangMgt->m_strLang.clear();
        QCOMPARE(computer.errors().first().at(0).toString(),
                 QString::fromUtf8("错误的用户名或密码。"));
        QCOMPARE(computer.emitted("login_server"_s).first().value("error"_s).toString(),
                 QStringLiteral("Wrong name or password."));
        QTRY_VERIFY(!computer.mgt().isLogin());
        QVERIFY(computer.userIds().size() >= 2);
        QCOMPARE(computer.userIds().last().at(0).toInt(), 0);
        QCOMPARE(g_pSettings->getUserName(), QString());
        QCOMPARE(g_pSettings->getPwd(), QString());
        QVERIFY(!g_pSettings->getAutoLogin());

        // The new password: the local login fails (old digest), the service accepts it,
        // and the same user row comes back with its notes.
        computer.clearEmitted();
        QVERIFY(computer.login(QStringLiteral("carol"), QStringLiteral("new-pw")));
        QCOMPARE(computer.emitted("login_local"_s).first().value("result"_s).toString(),
                 QStringLiteral("fail"));
        QCOMPARE(computer.userIds().last().at(0).toInt(), nUserId);
        const QVariantList lstNotes = computer.notesOfDay(day);
        QCOMPARE(lstNotes.size(), 1);
        QCOMPARE(lstNotes.first().toMap().value("content"_s).toString(), QStringLiteral("kept"));
        // The stored digest is the new one: a local login now succeeds at once.
        computer.mgt().logout();
        computer.clearEmitted();
        QVERIFY(computer.login(QStringLiteral("carol"), QStringLiteral("new-pw")));
        QCOMPARE(computer.emitted("login_local"_s)
                     .first()
                     .value("result"_s)
                     .toMap()
                     .value("user_id"_s)
                     .toInt(),
                 nUserId);
    }

    // Logging in as someone else without logging out first: nothing of one account ends
    // up in the other.
    void switchAccountWithoutLogout()
    {
        for (const char *pName : {"ivy", "jack"})
            QVERIFY(m_client
                        .registerUser(QLatin1String(pName),
                                      QStringLiteral("pw"),
                                      QLatin1String(pName) + "@example.com"_s)
                        .value("error"_s)
                        .toString()
                        .isEmpty());
        CServiceClient jack(m_service.baseUrl());
        QVERIFY(jack.login(QStringLiteral("jack"), QStringLiteral("pw")));
        const QString strJackNote = QStringLiteral("{6a0bd9a4-0000-4000-8000-00000000000a}");
        QVERIFY(jack.postAsUser(QStringLiteral("replace_note_item"),
                                {{"uuid"_s, strJackNote},
                                 {"set_at"_s, "2026-03-21"_s},
                                 {"updated_at"_s, "2026-03-01 07:00:00"_s},
                                 {"content"_s, "jack's"_s}})
                    .value("error"_s)
                    .toString()
                    .isEmpty());

        CComputer computer;
        QVERIFY(computer.login(QStringLiteral("ivy"), QStringLiteral("pw")));
        const QDate day(2026, 3, 21);
        const QString strIvyNote = computer.writeNote(day, QStringLiteral("ivy's"));
        QVERIFY(computer.waitIdle());

        QVERIFY(computer.login(QStringLiteral("jack"), QStringLiteral("pw")));
        QCOMPARE(computer.mgt().loginName(), QStringLiteral("jack"));
        computer.mgt().downloadNoteListByMonth(day);
        computer.invoke("onTimeOutUploadNote");
        QVERIFY(computer.waitIdle());
        QCOMPARE(computer.notesOfDays({day}).keys(), QStringList{strJackNote});
        QCOMPARE(jack.allNotes().keys(), QStringList{strJackNote});

        QVERIFY(computer.login(QStringLiteral("ivy"), QStringLiteral("pw")));
        QCOMPARE(computer.notesOfDays({day}).keys(), QStringList{strIvyNote});
    }

    // Rejected while nobody is logged in: the message only, the settings stay.
    void wrongPasswordWhileLoggedOut()
    {
        g_pSettings->setUserName(QStringLiteral("someone"));
        g_pSettings->setPwd(QStringLiteral("remembered"));
        g_pSettings->setAutoLogin(true);
        CComputer computer;
        // Start-up logs in with the remembered password, which the service rejects.
        QTRY_COMPARE_WITH_TIMEOUT(computer.errors().size(), 1, 20000);
        QCOMPARE(computer.errors().first().at(0).toString(),
                 QStringLiteral("Wrong name or password."));
        QVERIFY(computer.waitIdle());
        QVERIFY(!computer.mgt().isLogin());
        QVERIFY(computer.userIds().isEmpty());
        QCOMPARE(g_pSettings->getUserName(), QStringLiteral("someone"));
        QCOMPARE(g_pSettings->getPwd(), QStringLiteral("remembered"));
    }

    void passwordReminder()
    {
        QVERIFY(m_client
                    .registerUser(QStringLiteral("dave"),
                                  QStringLiteral("pw"),
                                  QStringLiteral("davidson@example.com"))
                    .value("error"_s)
                    .toString()
                    .isEmpty());
        // The service answers alike whether or not an account matches, and names no
        // address: the user learns where the mail goes from their own mailbox only.
        const QString strNeutral = QStringLiteral(
            "If an account has this name or e-mail address, a mail with a reset code is on its"
            " way to its address.");
        CComputer computer;
        computer.mgt().forgotPwd({{"user_name"_s, "dave"_s}, {"user_email"_s, ""_s}});
        QTRY_COMPARE_WITH_TIMEOUT(computer.infos().size(), 1, 20000);
        QCOMPARE(computer.infos().first().at(0).toString(), strNeutral);

        computer.mgt().forgotPwd({{"user_name"_s, "nobody-here"_s}, {"user_email"_s, ""_s}});
        QTRY_COMPARE_WITH_TIMEOUT(computer.infos().size(), 2, 20000);
        QCOMPARE(computer.infos().at(1).at(0).toString(), strNeutral);
    }

    // After logout nothing is synchronised: the timers find no user, and a note written
    // now belongs to nobody and stays on this computer.
    void logoutForgetsAndStopsSync()
    {
        QVERIFY(m_client
                    .registerUser(QStringLiteral("frank"),
                                  QStringLiteral("pw"),
                                  QStringLiteral("frank@example.com"))
                    .value("error"_s)
                    .toString()
                    .isEmpty());
        g_pSettings->setUserName(QStringLiteral("frank"));
        g_pSettings->setPwd(QStringLiteral("pw"));
        g_pSettings->setAutoLogin(true);
        CComputer computer(100);
        QTRY_VERIFY_WITH_TIMEOUT(computer.mgt().isLogin() && computer.idle(), 20000);

        computer.mgt().logout();
        QVERIFY(!computer.mgt().isLogin());
        QCOMPARE(computer.mgt().loginName(), QString());
        QCOMPARE(g_pSettings->getUserName(), QString());
        QCOMPARE(g_pSettings->getPwd(), QString());
        QVERIFY(!g_pSettings->getAutoLogin());
        QSettings stored(QSettings::IniFormat,
                         QSettings::UserScope,
                         QStringLiteral("Greyfen Software"),
                         QStringLiteral("kelpo-test"));
        QCOMPARE(stored.value("m_strUserName"_s).toString(), QString());
        QCOMPARE(stored.value("m_bAutoLogin"_s).toBool(), false);

        QVERIFY(computer.waitIdle());
        const QString strUuid = computer.writeNote(QDate(2026, 3, 10), QStringLiteral("offline"));
        QVERIFY(!strUuid.isEmpty());
        QVERIFY(computer.waitIdle());
        computer.invoke("onTimeOutUploadNote");
        computer.invoke("onTimeOutDownloadNote");
        QCOMPARE(computer.mgt().pendingRequestCount(), 0);
        QVERIFY(m_client.login(QStringLiteral("frank"), QStringLiteral("pw")));
        QVERIFY(!m_client.allNotes().contains(strUuid));
    }

    // An expired token is renewed with the remembered credentials; the request that met
    // the expired token is lost, the next one succeeds.
    void expiredTokenIsRenewed()
    {
        CServiceProcess service;
        QVERIFY(service.start(serviceDb(QStringLiteral("short-token.db")),
                              {QStringLiteral("--token-ttl"), QStringLiteral("30")}));
        g_pSettings->setServerUrl(service.baseUrl());
        CServiceClient client(service.baseUrl());
        QVERIFY(client
                    .registerUser(QStringLiteral("gina"),
                                  QStringLiteral("pw"),
                                  QStringLiteral("gina@example.com"))
                    .value("error"_s)
                    .toString()
                    .isEmpty());
        CComputer computer;
        QVERIFY(computer.login(QStringLiteral("gina"), QStringLiteral("pw")));
        const int nLogins = service.countLogLines(QStringLiteral("login"));
        // The service keeps the test's clock: the token's lifetime passes at once.
        TestClock::advance(60);

        const QDate emptyMonth(2026, 7, 1);
        computer.mgt().downloadNoteListByMonth(emptyMonth);
        QVERIFY(computer.waitIdle());
        QTRY_COMPARE_WITH_TIMEOUT(service.countLogLines(QStringLiteral("login")),
                                  nLogins + 1,
                                  20000);
        QCOMPARE(computer.emitted("day_note_count_by_month"_s).size(), 0);
        QVERIFY(computer.emitted("download_note_list_by_month"_s).isEmpty());

        computer.mgt().downloadNoteListByMonth(emptyMonth);
        QTRY_COMPARE_WITH_TIMEOUT(computer.emitted("day_note_count_by_month"_s).size(), 1, 20000);
        QVERIFY(computer.emitted("download_note_list_by_month"_s).isEmpty());
        QVERIFY(computer.mgt().isLogin());
    }

    // The service is down at login: the local login stands and the server login is
    // retried until the service answers.
    void serviceDownThenUp()
    {
        CServiceProcess service;
        QVERIFY(service.start(serviceDb(QStringLiteral("down-up.db"))));
        g_pSettings->setServerUrl(service.baseUrl());
        CServiceClient client(service.baseUrl());
        QVERIFY(client
                    .registerUser(QStringLiteral("hank"),
                                  QStringLiteral("pw"),
                                  QStringLiteral("hank@example.com"))
                    .value("error"_s)
                    .toString()
                    .isEmpty());
        CComputer computer(200);
        // A first login creates the local row.
        QVERIFY(computer.login(QStringLiteral("hank"), QStringLiteral("pw")));
        computer.mgt().logout();
        computer.clearEmitted();

        service.stop();
        computer.mgt().login(QStringLiteral("hank"), QStringLiteral("pw"));
        QTRY_VERIFY_WITH_TIMEOUT(!computer.emitted("login_server"_s).isEmpty(), 20000);
        QVERIFY(!computer.emitted("login_server"_s).first().value("error"_s).toString().isEmpty());
        QVERIFY(computer.mgt().isLogin());
        // Still retrying while the service is away.
        QTRY_VERIFY_WITH_TIMEOUT(computer.emitted("login_server"_s).size() >= 3, 20000);

        QVERIFY(service.restart());
        QTRY_VERIFY_WITH_TIMEOUT(!computer.emitted("login_server"_s).isEmpty()
                                     && computer.emitted("login_server"_s).last().value("result"_s)
                                            == QStringLiteral("ok"),
                                 20000);
        QVERIFY(computer.waitIdle());
        // The retries end with the successful login.
        const int nAttempts = computer.emitted("login_server"_s).size();
        const QDate day(2026, 3, 11);
        QVERIFY(!computer.writeNote(day, QStringLiteral("after the outage")).isEmpty());
        QVERIFY(computer.waitIdle());
        QCOMPARE(computer.emitted("login_server"_s).size(), nAttempts);
    }
};

QTEST_MAIN(TestAccount)
#include "tst_account.moc"
