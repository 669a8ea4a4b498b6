// The sync state the main view shows: its state table, the login failure messages, and
// the whole chain from the service's answers (real kelpo-server, and a small fake for
// answers the real one does not give on demand) through the login flow to the status.

#include "httpfixture.h"
#include "langmgt.h"
#include "loginflow.h"
#include "protocol.h"
#include "settings.h"
#include "syncfixture.h"
#include "syncstatus.h"

#include <memory>

namespace {

const QString kUser = QStringLiteral("carol");

// One step of a test's story: "login <state> [error] [net]", "progress <done> <total>",
// "idle", "fail <error> [net]", "answer", "sending <changes on their way>".
void apply(CSyncStatus &status, const QString &strStep)
{
    const QStringList lst = strStep.split(QLatin1Char('|'));
    const QString &strVerb = lst.at(0);
    if (strVerb == QLatin1String("login")) {
        static const QHash<QString, CLoginFlow::State>
            hashStates{{QStringLiteral("out"), CLoginFlow::State::LoggedOut},
                       {QStringLiteral("checking"), CLoginFlow::State::Checking},
                       {QStringLiteral("connecting"), CLoginFlow::State::Connecting},
                       {QStringLiteral("online"), CLoginFlow::State::Online},
                       {QStringLiteral("offline"), CLoginFlow::State::Offline},
                       {QStringLiteral("offline-remote"), CLoginFlow::State::Offline}};
        const QString strError = lst.value(2);
        // "offline-remote": a login known only at the service (no local user yet).
        const bool bLocal = lst.at(1) != QLatin1String("offline-remote");
        const bool bOut = lst.at(1) == QLatin1String("out") && strError.isEmpty();
        status.setLogin(int(hashStates.value(lst.at(1))),
                        bOut ? QString() : kUser,
                        bLocal,
                        strError,
                        lst.value(3) == QLatin1String("net"));
    } else if (strVerb == QLatin1String("progress")) {
        status.setProgress(lst.at(1).toInt(), lst.at(2).toInt());
    } else if (strVerb == QLatin1String("idle")) {
        status.setIdle();
    } else if (strVerb == QLatin1String("fail")) {
        status.serviceFailed(lst.at(1), lst.value(2) == QLatin1String("net"));
    } else if (strVerb == QLatin1String("answer")) {
        status.serviceAnswered();
    } else if (strVerb == QLatin1String("sending")) {
        status.setSending(lst.at(1).toInt());
    } else {
        QFAIL(qPrintable(QStringLiteral("unknown step ") + strStep));
    }
}

} // namespace

class TestSyncStatus : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    std::unique_ptr<CSettings> m_pSettings;
    std::unique_ptr<CLangMgt> m_pLangMgt;
    CServiceProcess m_service;

private slots:
    void initTestCase()
    {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        QVERIFY(m_dir.isValid());
        m_pLangMgt = std::make_unique<CLangMgt>();
        m_pLangMgt->init();
        g_pLangMgt = m_pLangMgt.get();
        QVERIFY2(setUpSyncEnvironment(m_dir,
                                      m_pSettings,
                                      m_service,
                                      m_dir.filePath(QStringLiteral("service.db"))),
                 "kelpo-server did not start");
        m_pSettings->setAutoLogin(false);
    }

    void cleanupTestCase()
    {
        g_pLangMgt = nullptr;
        g_pSettings = nullptr;
    }

    // ---- the state table ----

    void states_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<int>("state");
        QTest::addColumn<QString>("text");   // a part of the line, "" for an empty one
        QTest::addColumn<QString>("detail"); // a part of the detail, "" for none

        const QString strRefused = QStringLiteral("Connection refused");
        const QString strNotJson = QStringLiteral("The note service's answer is not JSON.");

        QTest::newRow("nobody") << QStringList() << int(CSyncStatus::LoggedOut) << "Not logged in"_s
                                << ""_s;
        QTest::newRow("local check")
            << QStringList{"login|checking"_s} << int(CSyncStatus::Connecting) << "as carol"_s
            << ""_s;
        QTest::newRow("online, nothing heard yet")
            << QStringList{"login|online"_s} << int(CSyncStatus::Syncing)
            << "carol: synchronising…"_s
            << ""_s;
        QTest::newRow("progress with grouping")
            << QStringList{"login|online"_s, "progress|312|3400"_s} << int(CSyncStatus::Syncing)
            << "312 of 3,400"_s
            << ""_s;
        QTest::newRow("caught up")
            << QStringList{"login|online"_s, "progress|3400|3400"_s, "idle"_s}
            << int(CSyncStatus::UpToDate) << "carol: up to date, last synchronised"_s
            << ""_s;
        QTest::newRow("a look that finds nothing stays up to date")
            << QStringList{"login|online"_s, "idle"_s, "progress|0|0"_s}
            << int(CSyncStatus::UpToDate) << "up to date"_s
            << ""_s;
        QTest::newRow("new notes after being up to date")
            << QStringList{"login|online"_s, "idle"_s, "progress|0|5"_s}
            << int(CSyncStatus::Syncing) << "0 of 5"_s
            << ""_s;
        QTest::newRow("a change on its way after being up to date")
            << QStringList{"login|online"_s,
                           "progress|3400|3400"_s,
                           "idle"_s,
                           "sending|1"_s,
                           "answer"_s}
            << int(CSyncStatus::Syncing) << "carol: synchronising…"_s
            << ""_s;
        QTest::newRow("the change acknowledged")
            << QStringList{"login|online"_s, "idle"_s, "sending|2"_s, "sending|0"_s}
            << int(CSyncStatus::UpToDate) << "up to date"_s
            << ""_s;
        QTest::newRow("service unreachable at login")
            << QStringList{"login|offline|"_s + strRefused + "|net"_s} << int(CSyncStatus::Offline)
            << "carol: offline"_s << strRefused;
        QTest::newRow("unreachable before any local login")
            << QStringList{"login|offline-remote|"_s + strRefused + "|net"_s}
            << int(CSyncStatus::Offline) << "waiting for the note service"_s
            << "every minute"_s;
        QTest::newRow("service busy")
            << QStringList{"login|offline|"_s + QString(Protocol::Error::kBusy)}
            << int(CSyncStatus::Offline) << "offline"_s
            << "cannot be reached"_s;
        QTest::newRow("too many attempts")
            << QStringList{"login|offline|"_s + QString(Protocol::Error::kTooMany)}
            << int(CSyncStatus::Error) << "carol: not synchronised"_s
            << "too many attempts"_s;
        QTest::newRow("unusable answer")
            << QStringList{"login|offline|"_s + strNotJson} << int(CSyncStatus::Error)
            << "not synchronised"_s << strNotJson;
        QTest::newRow("password changed elsewhere")
            << QStringList{"login|online"_s, "login|out|"_s + QString(Protocol::Error::kWrongLogin)}
            << int(CSyncStatus::Error) << "carol: logged out"_s
            << "Log in again"_s;
        QTest::newRow("service lost while up to date")
            << QStringList{"login|online"_s, "idle"_s, "fail|"_s + strRefused + "|net"_s}
            << int(CSyncStatus::Offline) << "offline"_s << strRefused;
        QTest::newRow("service back")
            << QStringList{"login|online"_s, "idle"_s, "fail|"_s + strRefused + "|net"_s, "answer"_s}
            << int(CSyncStatus::UpToDate) << "up to date"_s
            << ""_s;
        QTest::newRow("a refused request is no outage")
            << QStringList{"login|online"_s, "idle"_s, "fail|"_s + QString(Protocol::Error::kNoNote)}
            << int(CSyncStatus::UpToDate) << "up to date"_s
            << ""_s;
        QTest::newRow("logout forgets everything")
            << QStringList{"login|online"_s, "progress|5|10"_s, "login|out"_s}
            << int(CSyncStatus::LoggedOut) << "Not logged in"_s
            << ""_s;
        QTest::newRow("a new login starts over")
            << QStringList{"login|online"_s, "idle"_s, "login|connecting"_s, "login|online"_s}
            << int(CSyncStatus::Syncing) << "synchronising…"_s
            << ""_s;
    }

    void states()
    {
        QFETCH(QStringList, steps);
        QFETCH(int, state);
        QFETCH(QString, text);
        QFETCH(QString, detail);

        CSyncStatus status;
        QSignalSpy spy(&status, &CSyncStatus::changed);
        for (const QString &strStep : steps)
            apply(status, strStep);
        QCOMPARE(status.state(), CSyncStatus::State(state));
        QVERIFY2(status.text().contains(text), qPrintable(status.text()));
        if (detail.isEmpty())
            QCOMPARE(status.detail(), QString());
        else
            QVERIFY2(status.detail().contains(detail), qPrintable(status.detail()));
        QCOMPARE(spy.isEmpty(), steps.isEmpty());
        if (status.state() == CSyncStatus::UpToDate)
            QVERIFY(status.lastSync().secsTo(QDateTime::currentDateTime()) < 60);
    }

    // The last sync time moves with every answer while up to date, and is shown as a time
    // of day today and with its date before.
    void lastSyncTime()
    {
        CSyncStatus status;
        apply(status, "login|online"_s);
        QVERIFY(!status.lastSync().isValid());
        apply(status, "idle"_s);
        const QDateTime dtFirst = status.lastSync();
        QVERIFY(dtFirst.isValid());
        QVERIFY2(status.text().contains(QLocale().toString(dtFirst.time(), QLocale::ShortFormat)),
                 qPrintable(status.text()));
        QTRY_VERIFY_WITH_TIMEOUT(QDateTime::currentDateTime() > dtFirst, 5000);
        apply(status, "answer"_s);
        QVERIFY(status.lastSync() > dtFirst);
        // While notes are still coming, an answer is no sync.
        apply(status, "progress|1|9"_s);
        const QDateTime dtBusy = status.lastSync();
        QTRY_VERIFY_WITH_TIMEOUT(QDateTime::currentDateTime() > dtBusy, 5000);
        apply(status, "answer"_s);
        QCOMPARE(status.lastSync(), dtBusy);
        QCOMPARE(status.state(), CSyncStatus::Syncing);
    }

    // ---- what a failed login says ----

    void loginFailureText_data()
    {
        QTest::addColumn<QString>("error");
        QTest::addColumn<bool>("network");
        QTest::addColumn<bool>("here");
        QTest::addColumn<QString>("expected"); // a part of the text; "" for no message

        const QString strRefused = QStringLiteral("Connection refused");
        QTest::newRow("unreachable, logged in here")
            << strRefused << true << true
            << "Logged in as dave on this computer only: the note service cannot be reached "_s
               "(Connection refused)"_s;
        QTest::newRow("unreachable, not here")
            << strRefused << true << false
            << "Login as dave failed: the note service cannot be reached (Connection refused)"_s;
        QTest::newRow("too many, not here") << QString(Protocol::Error::kTooMany) << false << false
                                            << "Login as dave failed: the note service refuses logins for a while"_s;
        QTest::newRow("too many, logged in here")
            << QString(Protocol::Error::kTooMany) << false << true
            << "refuses logins for a while after too many attempts"_s;
        QTest::newRow("bad answer")
            << "The note service sent an empty answer."_s << false << false
            << "answer Kelpo cannot use (The note service sent an empty answer.)"_s;
        QTest::newRow("wrong password is told elsewhere")
            << QString(Protocol::Error::kWrongLogin) << false << false << ""_s;
    }

    void loginFailureText()
    {
        QFETCH(QString, error);
        QFETCH(bool, network);
        QFETCH(bool, here);
        QFETCH(QString, expected);
        const QString strText = CSyncStatus().loginFailureText(QStringLiteral("dave"),
                                                               error,
                                                               network,
                                                               here);
        if (expected.isEmpty())
            QCOMPARE(strText, QString());
        else
            QVERIFY2(strText.contains(expected), qPrintable(strText));
        QVERIFY(!strText.contains(QLatin1String("cannot be reached")) || network);
    }

    // ---- from the service's answers to the status ----

    // Login answers the real service does not give on demand, from a fake: each ends in
    // its own state and says what happened, not "cannot be reached" for all of them.
    void loginAnswers_data()
    {
        QTest::addColumn<QByteArray>("answer"); // "" for a port nobody listens on
        QTest::addColumn<int>("state");
        QTest::addColumn<QString>("detail");
        QTest::addColumn<bool>("network");

        QTest::newRow("nobody listens")
            << QByteArray() << int(CSyncStatus::Offline) << "cannot be reached"_s << true;
        QTest::newRow("too many attempts")
            << HttpFixture::reply(200, R"({"error": "Too many attempts. Try again later."})").data
            << int(CSyncStatus::Error) << "too many attempts"_s << false;
        QTest::newRow("not JSON") << HttpFixture::reply(200, "<html>hotel wifi</html>").data
                                  << int(CSyncStatus::Error) << "cannot use"_s << false;
        QTest::newRow("busy") << HttpFixture::reply(503, R"({"error": "busy"})").data
                              << int(CSyncStatus::Offline) << "cannot be reached"_s << true;
    }

    void loginAnswers()
    {
        QFETCH(QByteArray, answer);
        QFETCH(int, state);
        QFETCH(QString, detail);
        QFETCH(bool, network);

        HttpFixture fake;
        QVERIFY(fake.listen());
        const QString strUrl = fake.baseUrl();
        fake.responder = [answer](const HttpRequest &) { return HttpAnswer{answer, true, false}; };
        if (answer.isEmpty()) {
            // A port handed out by the system and closed again.
            QTcpServer server;
            QVERIFY(server.listen(QHostAddress::LocalHost, 0));
            m_pSettings->setServerUrl(
                QStringLiteral("http://127.0.0.1:%1/mobile/").arg(server.serverPort()));
        } else {
            m_pSettings->setServerUrl(strUrl);
        }

        CComputer computer;
        CSyncStatus *pStatus = computer.mgt().syncStatus();
        computer.mgt().login(QStringLiteral("dave"), QStringLiteral("pw"));
        QTRY_VERIFY_WITH_TIMEOUT(!computer.emitted("login_server"_s).isEmpty(), 20000);
        const QVariantMap mapFailed = computer.emitted("login_server"_s).first();
        QCOMPARE(mapFailed.value("network_error"_s).toBool(), network);
        QTRY_COMPARE_WITH_TIMEOUT(pStatus->state(), CSyncStatus::State(state), 10000);
        QCOMPARE(pStatus->userName(), QStringLiteral("dave"));
        QVERIFY2(pStatus->detail().contains(detail), qPrintable(pStatus->detail()));
        // Nobody is logged in here: the status says so rather than "offline".
        QVERIFY(!computer.mgt().isLogin());
        if (state == int(CSyncStatus::Offline))
            QVERIFY2(pStatus->text().contains(QLatin1String("waiting")),
                     qPrintable(pStatus->text()));
        computer.mgt().logout();
        QCOMPARE(pStatus->state(), CSyncStatus::LoggedOut);
    }

    // With the real service: logged in, it names the user and synchronises; the service
    // goes away and the status says offline; it comes back and the status leaves offline.
    void realServiceOutage()
    {
        CServiceProcess service;
        QVERIFY(service.start(m_dir.filePath(QStringLiteral("outage.db"))));
        m_pSettings->setServerUrl(service.baseUrl());
        CServiceClient client(service.baseUrl());
        QVERIFY(client.registerUser("ines"_s, "pw"_s, "ines@example.com"_s)
                    .value("error"_s)
                    .toString()
                    .isEmpty());

        CComputer computer;
        CSyncStatus *pStatus = computer.mgt().syncStatus();
        QCOMPARE(pStatus->state(), CSyncStatus::LoggedOut);
        QVERIFY(computer.login("ines"_s, "pw"_s));
        QCOMPARE(pStatus->userName(), QStringLiteral("ines"));
        // The account's download ends: up to date, as of now.
        QTRY_COMPARE_WITH_TIMEOUT(pStatus->state(), CSyncStatus::UpToDate, 30000);
        QVERIFY(pStatus->lastSync().isValid());
        QVERIFY2(pStatus->text().startsWith(QLatin1String("ines: up to date")),
                 qPrintable(pStatus->text()));

        service.stop();
        QVERIFY(!computer.writeNote(QDate(2026, 3, 11), "written in the outage"_s).isEmpty());
        computer.invoke("onTimeOutUploadNote");
        QTRY_COMPARE_WITH_TIMEOUT(pStatus->state(), CSyncStatus::Offline, 20000);
        QVERIFY2(pStatus->detail().contains(QLatin1String("every minute")),
                 qPrintable(pStatus->detail()));
        QVERIFY(computer.mgt().isLogin());

        QVERIFY(service.restart());
        computer.invoke("onTimeOutUploadNote");
        QTRY_VERIFY_WITH_TIMEOUT(pStatus->state() != CSyncStatus::Offline, 20000);
        QVERIFY(computer.waitIdle());

        // Logging out leaves nothing of it.
        computer.mgt().logout();
        QCOMPARE(pStatus->state(), CSyncStatus::LoggedOut);
        QCOMPARE(pStatus->detail(), QString());
    }
};

QTEST_MAIN(TestSyncStatus)
#include "tst_syncstatus.moc"
