// The note service driven over HTTP: the real kelpo-server process on a loopback port,
// on SQLite or on PostgreSQL (KELPO_TEST_DB), answering requests built the way the
// application builds them.
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QHttpMultiPart>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QUrl>
#include <QUuid>
#include <QtTest>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

const QString g_strPwd = QStringLiteral("0123456789abcdef0123456789abcdef");
const QString g_strTokenWrong = QStringLiteral("Login token is wrong.");

struct CAnswer
{
    int m_nStatus = 0;
    QByteArray m_baBody;
    QJsonObject m_obj;
    QString error() const { return m_obj.value(QStringLiteral("error")).toString(); }
    QJsonArray notes() const { return m_obj.value(QStringLiteral("notes")).toArray(); }
};

// One kelpo-server process; its first line on stdout names the port it bound.
class CServer
{
public:
    // lstWrapper, when given, is a command line that ends by running the rest.
    bool start(const QString &strDb,
               const QStringList &lstExtra = {},
               const QStringList &lstWrapper = {})
    {
        const QStringList lstArgs = QStringList{QStringLiteral("--listen"),
                                                QStringLiteral("127.0.0.1:0"),
                                                QStringLiteral("--db"),
                                                strDb}
                                    + lstExtra;
        const QString strServer = QStringLiteral(KELPO_BINARY_DIR "/kelpo-server");
        if (lstWrapper.isEmpty()) {
            m_process.setProgram(strServer);
            m_process.setArguments(lstArgs);
        } else {
            m_process.setProgram(lstWrapper.first());
            m_process.setArguments(lstWrapper.mid(1) + QStringList{strServer} + lstArgs);
        }
        m_process.start();
        if (!m_process.waitForStarted(10000))
            return false;
        while (!m_process.canReadLine()) {
            if (m_process.state() != QProcess::Running || !m_process.waitForReadyRead(30000)) {
                qWarning() << "kelpo-server did not start:" << m_process.readAllStandardError();
                return false;
            }
        }
        const QString strLine = QString::fromUtf8(m_process.readLine()).trimmed();
        const QRegularExpressionMatch match = QRegularExpression(
                                                  QStringLiteral(
                                                      "listening on 127\\.0\\.0\\.1:(\\d+)$"))
                                                  .match(strLine);
        m_nPort = match.hasMatch() ? match.captured(1).toInt() : 0;
        return m_nPort > 0;
    }

    // SIGTERM, and the exit code of a clean stop.
    int stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return m_process.exitCode();
        m_process.terminate();
        if (!m_process.waitForFinished(30000)) {
            m_process.kill();
            m_process.waitForFinished();
            return -1;
        }
        m_baStderr += m_process.readAllStandardError();
        return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
    }

    QByteArray stderrText()
    {
        m_baStderr += m_process.readAllStandardError();
        return m_baStderr;
    }

    QUrl url(const QString &strEndpoint) const
    {
        return QUrl(QStringLiteral("http://127.0.0.1:%1/mobile/%2").arg(m_nPort).arg(strEndpoint));
    }

    QProcess m_process;
    int m_nPort = 0;
    QByteArray m_baStderr;
};

QString md5Hex(const QString &str)
{
    return QString::fromLatin1(
        QCryptographicHash::hash(str.toUtf8(), QCryptographicHash::Md5).toHex());
}

QString newUuid()
{
    return QUuid::createUuid().toString();
}

QStringList titlesOf(const QJsonArray &arr)
{
    QStringList lst;
    for (const QJsonValue &v : arr)
        lst << v.toObject().value(QStringLiteral("title")).toString();
    return lst;
}

} // namespace

class TestServer : public QObject
{
    Q_OBJECT

private:
    struct CUser
    {
        int m_nId = 0;
        QString m_strToken;
    };

    // Sends fields as the application does: multipart/form-data, one part per
    // field with only its Content-Disposition, "Connection: close".
    QNetworkReply *send(const CServer &server, const QString &strEndpoint, const QVariantMap &map)
    {
        auto *pMulti = new QHttpMultiPart(QHttpMultiPart::FormDataType);
        for (auto it = map.constBegin(); it != map.constEnd(); ++it) {
            QHttpPart part;
            part.setHeader(QNetworkRequest::ContentDispositionHeader,
                           QStringLiteral("form-data; name=\"%1\"").arg(it.key()));
            part.setBody(it.value().toString().toUtf8());
            pMulti->append(part);
        }
        QNetworkRequest request(server.url(strEndpoint));
        request.setRawHeader("Connection", "close");
        QNetworkReply *pReply = m_nam.post(request, pMulti);
        pMulti->setParent(pReply);
        return pReply;
    }

    // The request as the application sends it, written by hand on a socket bound to
    // strFrom (any 127.x.y.z address reaches the loopback service), so that a test can
    // be several clients. Sends only; read the answer with readRaw().
    std::unique_ptr<QTcpSocket> sendRaw(const CServer &server,
                                        const QString &strEndpoint,
                                        const QVariantMap &map,
                                        const QString &strFrom,
                                        const QByteArray &baHeaders = QByteArray())
    {
        QByteArray baBody;
        for (auto it = map.constBegin(); it != map.constEnd(); ++it) {
            baBody += "--kelpoBoundary\r\nContent-Disposition: form-data; name=\""
                      + it.key().toUtf8() + "\"\r\n\r\n" + it.value().toString().toUtf8() + "\r\n";
        }
        baBody += "--kelpoBoundary--\r\n";
        auto pSocket = std::make_unique<QTcpSocket>();
        pSocket->bind(QHostAddress(strFrom));
        pSocket->connectToHost(QHostAddress::LocalHost, quint16(server.m_nPort));
        if (!pSocket->waitForConnected(30000))
            return pSocket;
        pSocket->write("POST /mobile/" + strEndpoint.toUtf8()
                       + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n" + baHeaders
                       + "Content-Type: multipart/form-data; boundary=kelpoBoundary\r\n"
                         "Content-Length: "
                       + QByteArray::number(baBody.size()) + "\r\n\r\n" + baBody);
        pSocket->flush();
        return pSocket;
    }

    // Reads until the service closes the connection.
    CAnswer readRaw(QTcpSocket &socket)
    {
        QByteArray ba;
        QElapsedTimer timer;
        timer.start();
        while (socket.state() == QAbstractSocket::ConnectedState && timer.elapsed() < 60000) {
            socket.waitForReadyRead(1000);
            ba += socket.readAll();
        }
        ba += socket.readAll();
        CAnswer answer;
        const int nEnd = ba.indexOf("\r\n\r\n");
        if (!ba.startsWith("HTTP/1.1 ") || nEnd < 0)
            return answer;
        answer.m_nStatus = ba.mid(9, 3).toInt();
        answer.m_baBody = ba.mid(nEnd + 4);
        answer.m_obj = QJsonDocument::fromJson(answer.m_baBody).object();
        return answer;
    }

    CAnswer postFrom(const CServer &server,
                     const QString &strEndpoint,
                     const QVariantMap &map,
                     const QString &strFrom,
                     const QByteArray &baHeaders = QByteArray())
    {
        return readRaw(*sendRaw(server, strEndpoint, map, strFrom, baHeaders));
    }

    CAnswer wait(QNetworkReply *pReply)
    {
        CAnswer answer;
        if (!pReply->isFinished()) {
            QSignalSpy spy(pReply, &QNetworkReply::finished);
            if (!spy.wait(60000)) {
                pReply->deleteLater();
                return answer;
            }
        }
        answer.m_nStatus = pReply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        answer.m_baBody = pReply->readAll();
        answer.m_obj = QJsonDocument::fromJson(answer.m_baBody).object();
        pReply->deleteLater();
        return answer;
    }

    CAnswer post(const CServer &server, const QString &strEndpoint, const QVariantMap &map)
    {
        return wait(send(server, strEndpoint, map));
    }
    CAnswer post(const QString &strEndpoint, const QVariantMap &map)
    {
        return post(m_server, strEndpoint, map);
    }

    QVariantMap auth(const CUser &user, QVariantMap map = {}) const
    {
        map.insert(QStringLiteral("user_id"), user.m_nId);
        map.insert(QStringLiteral("login_token"), user.m_strToken);
        return map;
    }

    CUser loginAt(const CServer &server, const QString &strName)
    {
        const CAnswer a = post(server,
                               QStringLiteral("login"),
                               {{QStringLiteral("lang"), QStringLiteral("en")},
                                {QStringLiteral("login_from"), QStringLiteral("OTHER_3_0")},
                                {QStringLiteral("name"), strName},
                                {QStringLiteral("pwd"), g_strPwd}});
        return CUser{a.m_obj.value(QStringLiteral("user_id")).toInt(),
                     a.m_obj.value(QStringLiteral("login_token")).toString()};
    }

    QVariantMap note(const QString &strUuid,
                     const QString &strUpdatedAt,
                     const QString &strContent,
                     const QString &strSetAt = QStringLiteral("2016-03-05 00:00:00")) const
    {
        return {{QStringLiteral("uuid"), strUuid},
                {QStringLiteral("set_at"), strSetAt},
                {QStringLiteral("created_at"), strUpdatedAt},
                {QStringLiteral("updated_at"), strUpdatedAt},
                {QStringLiteral("title"), strContent.left(50)},
                {QStringLiteral("content"), strContent},
                {QStringLiteral("content_size"), strContent.toUtf8().size()},
                {QStringLiteral("md5"), md5Hex(strContent)}};
    }

    QJsonObject noteByUuidAt(const CServer &server, const CUser &user, const QString &strUuid)
    {
        return post(server,
                    QStringLiteral("get_note_item"),
                    auth(user, {{QStringLiteral("uuid"), strUuid}}))
            .m_obj;
    }

    QJsonObject noteByUuid(const CUser &user, const QString &strUuid)
    {
        return post(QStringLiteral("get_note_item"), auth(user, {{QStringLiteral("uuid"), strUuid}}))
            .m_obj;
    }

    QString dbUrl() const { return m_strDbUrl; }

    CUser registerAt(const CServer &server, const QString &strName)
    {
        const CAnswer reg = post(server,
                                 QStringLiteral("register_user"),
                                 {{QStringLiteral("email"),
                                   strName + QStringLiteral("@example.org")},
                                  {QStringLiteral("name"), strName},
                                  {QStringLiteral("pwd"), g_strPwd}});
        return CUser{reg.m_obj.value(QStringLiteral("user_id")).toInt(),
                     reg.m_obj.value(QStringLiteral("login_token")).toString()};
    }

    // A connection of the test's own to the service's database, named strName.
    QSqlDatabase openServiceDb(const QString &strName) const
    {
        QSqlDatabase db;
        if (m_strPgDbName.isEmpty()) {
            db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), strName);
            db.setDatabaseName(m_strDbUrl.mid(7));
        } else {
            const QUrl url(m_strDbUrl);
            db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), strName);
            db.setHostName(url.host());
            db.setPort(url.port());
            db.setUserName(url.userName());
            db.setPassword(url.password());
            db.setDatabaseName(m_strPgDbName);
        }
        db.open();
        return db;
    }

    // One page of the account's changes.
    CAnswer changes(const CServer &server, const CUser &user, const QVariantMap &map = {})
    {
        return post(server, QStringLiteral("get_note_changes"), auth(user, map));
    }

private slots:
    void initTestCase();
    void cleanupTestCase();

    void endpoints_data();
    void endpoints();
    void tokenRules_data();
    void tokenRules();
    void tokenExpiry();
    void loginRateLimit();
    void newerWins();
    void baseVersion_data();
    void baseVersion();
    void conflictSentAgain_data();
    void conflictSentAgain();
    void timesAcrossZones();
    void textWithoutContent();
    void uuidAssignment();
    void notesOfOtherUsers();
    void concurrentInserts();
    void tombstones();
    void pagingWindow();
    void listsWithoutTexts();
    void listTextsBounded();
    void changeSequence();
    void changeSequenceOfOlderDatabase_data();
    void changeSequenceOfOlderDatabase();
    void uuidsOfOlderDatabase();
    void literalSearch();
    void protocolLimits_data();
    void protocolLimits();
    void twoInstances();
    void instanceStartsWhileWriting();
    void commandLine_data();
    void commandLine();
    void logHoldsNoSecrets();
    void logThatIsNotRead();
    void fullDisk();
    void walBounded();
    void confirmedWritesOnDisk();
    void damagedDatabase();
    void passwordReset();
    void passwordResetThatCannotEndLogins();
    void registrationSentAgain_data();
    void registrationSentAgain();
    void loginLockout();
    void loginLockoutBehindProxy_data();
    void loginLockoutBehindProxy();
    void unknownNamesCostTheSame();
    void hostileConnections();
    void noteEdges();
    void badLengths_data();
    void badLengths();
    void largeBodiesBounded();
    void bodyLimitTheServiceCanHold();
    void textThatCannotBeSentBack();

private:
    QNetworkAccessManager m_nam;
    QTemporaryDir m_dir;
    QString m_strDbUrl;
    QString m_strPgAdminUrl, m_strPgDbName;
    CServer m_server;
    const QStringList m_lstMainOptions = {QStringLiteral("--max-body"),
                                          QStringLiteral("1M"),
                                          QStringLiteral("--list-texts"),
                                          QStringLiteral("1M"),
                                          QStringLiteral("--login-rate"),
                                          QStringLiteral("4")};
    CUser m_alice, m_bob;
};

void TestServer::initTestCase()
{
    QVERIFY(m_dir.isValid());
    const QString strBackend = qEnvironmentVariable("KELPO_TEST_DB", QStringLiteral("sqlite"));
    if (strBackend == QLatin1String("postgresql")) {
        // The cluster started by the CTest fixture; every run gets a database of its own.
        QFile file(qEnvironmentVariable("KELPO_TEST_PG_ENV"));
        QVERIFY2(file.open(QIODevice::ReadOnly), "no PostgreSQL cluster: run through ctest");
        const QString strEnv = QString::fromUtf8(file.readAll());
        const QRegularExpressionMatch match = QRegularExpression(QStringLiteral("^PG_URL=(.*)$"),
                                                                 QRegularExpression::MultilineOption)
                                                  .match(strEnv);
        QVERIFY(match.hasMatch());
        m_strPgAdminUrl = match.captured(1).trimmed();
        const QUrl url(m_strPgAdminUrl);
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"),
                                                    QStringLiteral("admin"));
        db.setHostName(url.host());
        db.setPort(url.port());
        db.setUserName(url.userName());
        db.setPassword(url.password());
        db.setDatabaseName(QStringLiteral("postgres"));
        QVERIFY2(db.open(), qPrintable(db.lastError().text()));
        m_strPgDbName = QStringLiteral("kelpo_test_%1_%2")
                            .arg(QCoreApplication::applicationPid())
                            .arg(QRandomGenerator::global()->bounded(1000000));
        QSqlQuery query(db);
        QVERIFY2(query.exec(QStringLiteral("CREATE DATABASE %1").arg(m_strPgDbName)),
                 qPrintable(query.lastError().text()));
        QUrl urlTest = url;
        urlTest.setPath(QLatin1Char('/') + m_strPgDbName);
        m_strDbUrl = urlTest.toString();
    } else {
        m_strDbUrl = QStringLiteral("sqlite:") + m_dir.filePath(QStringLiteral("server.db"));
    }

    QVERIFY(m_server.start(m_strDbUrl, m_lstMainOptions));

    // Registrations are sent as typed; the answer logs the user in.
    const CAnswer a = post(QStringLiteral("register_user"),
                           {{QStringLiteral("email"), QStringLiteral("alice@example.org")},
                            {QStringLiteral("name"), QStringLiteral("Alice")},
                            {QStringLiteral("nickname"), QStringLiteral("Al")},
                            {QStringLiteral("pwd"), g_strPwd},
                            {QStringLiteral("pwd_org"), QStringLiteral("clear text secret")}});
    QCOMPARE(a.m_nStatus, 200);
    QCOMPARE(a.error(), QString());
    QVERIFY(a.m_obj.value(QStringLiteral("user_id")).toInt() > 0);
    QCOMPARE(a.m_obj.value(QStringLiteral("login_token")).toString().size(), 64);
    QCOMPARE(a.m_obj.value(QStringLiteral("classify_string")).toString(), QString());
    QVERIFY(a.m_obj.contains(QStringLiteral("classify_string")));

    const CAnswer b = post(QStringLiteral("register_user"),
                           {{QStringLiteral("email"), QStringLiteral("bob@example.org")},
                            {QStringLiteral("name"), QStringLiteral("bob")},
                            {QStringLiteral("nickname"), QStringLiteral("Bob")},
                            {QStringLiteral("pwd"), g_strPwd.toUpper()},
                            {QStringLiteral("pwd_org"), QStringLiteral("clear text secret")}});
    QCOMPARE(b.error(), QString());

    // The application lower-cases names at login; digests compare in any case.
    m_alice = loginAt(m_server, QStringLiteral("alice"));
    m_bob = loginAt(m_server, QStringLiteral("bob"));
    QVERIFY(m_alice.m_nId > 0);
    QVERIFY(m_bob.m_nId > 0);
    QVERIFY(m_alice.m_nId != m_bob.m_nId);
}

void TestServer::cleanupTestCase()
{
    QCOMPARE(m_server.stop(), 0);
    if (!m_strPgDbName.isEmpty()) {
        {
            QSqlDatabase db = QSqlDatabase::database(QStringLiteral("admin"));
            QSqlQuery query(db);
            QVERIFY2(query.exec(QStringLiteral("DROP DATABASE %1 WITH (FORCE)").arg(m_strPgDbName)),
                     qPrintable(query.lastError().text()));
            db.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("admin"));
    }
}

void TestServer::endpoints_data()
{
    QTest::addColumn<QString>("endpoint");
    QTest::addColumn<bool>("authenticated");
    QTest::addColumn<QVariantMap>("fields");
    QTest::addColumn<QString>("error");       // expected error, empty for success
    QTest::addColumn<QStringList>("members"); // members of a successful answer

    const QString u = QStringLiteral("{5a0c3f2e-1b4d-4c6a-9e8f-0123456789ab}");
    const QStringList lstLogin = {QStringLiteral("user_id"),
                                  QStringLiteral("login_token"),
                                  QStringLiteral("classify_string")};
    auto reg = [](const QString &strName, const QString &strEmail, const QString &strPwd) {
        return QVariantMap{{QStringLiteral("email"), strEmail},
                           {QStringLiteral("name"), strName},
                           {QStringLiteral("nickname"), QStringLiteral("N")},
                           {QStringLiteral("pwd"), strPwd},
                           {QStringLiteral("pwd_org"), QStringLiteral("x")}};
    };
    auto login = [](const QString &strName, const QString &strPwd) {
        return QVariantMap{{QStringLiteral("lang"), QStringLiteral("zh_cn")},
                           {QStringLiteral("login_from"), QStringLiteral("OTHER_3_0")},
                           {QStringLiteral("name"), strName},
                           {QStringLiteral("pwd"), strPwd}};
    };

    QTest::newRow("register: new user")
        << QStringLiteral("register_user") << false
        << reg(QStringLiteral("Carol"), QStringLiteral("carol@example.org"), g_strPwd) << QString()
        << lstLogin;
    QTest::newRow("register: name taken in another case")
        << QStringLiteral("register_user") << false
        << reg(QStringLiteral("ALICE"), QStringLiteral("new@example.org"), g_strPwd)
        << QStringLiteral("This name is taken.") << QStringList();
    QTest::newRow("register: e-mail taken in another case")
        << QStringLiteral("register_user") << false
        << reg(QStringLiteral("dave"), QStringLiteral("Alice@Example.org"), g_strPwd)
        << QStringLiteral("This e-mail address is taken.") << QStringList();
    QTest::newRow("register: digest of 31 digits")
        << QStringLiteral("register_user") << false
        << reg(QStringLiteral("erin"), QStringLiteral("erin@example.org"), g_strPwd.left(31))
        << QStringLiteral("The password digest must be 32 hexadecimal digits.") << QStringList();
    QTest::newRow("register: clear password as digest")
        << QStringLiteral("register_user") << false
        << reg(QStringLiteral("erin"),
               QStringLiteral("erin@example.org"),
               QStringLiteral("my password is long enough 32 ch"))
        << QStringLiteral("The password digest must be 32 hexadecimal digits.") << QStringList();
    QTest::newRow("register: empty name")
        << QStringLiteral("register_user") << false
        << reg(QString(), QStringLiteral("erin@example.org"), g_strPwd)
        << QStringLiteral("The name is empty.") << QStringList();
    QTest::newRow("register: no e-mail")
        << QStringLiteral("register_user") << false
        << reg(QStringLiteral("erin"), QStringLiteral("erin.example.org"), g_strPwd)
        << QStringLiteral("The e-mail address is not valid.") << QStringList();

    const QString strInvisible = QStringLiteral(
        "The name must not contain control or invisible characters.");
    QTest::newRow("register: zero-width space")
        << QStringLiteral("register_user") << false
        << reg(QStringLiteral("ali\u200bce"), QStringLiteral("zw@example.org"), g_strPwd)
        << strInvisible << QStringList();
    QTest::newRow("register: right-to-left override")
        << QStringLiteral("register_user") << false
        << reg(QStringLiteral("\u202eecila"), QStringLiteral("rtl@example.org"), g_strPwd)
        << strInvisible << QStringList();
    QTest::newRow("register: tab")
        << QStringLiteral("register_user") << false
        << reg(QStringLiteral("ali\tce"), QStringLiteral("tab@example.org"), g_strPwd)
        << strInvisible << QStringList();
    QTest::newRow("register: NUL") << QStringLiteral("register_user") << false
                                   << reg(QStringLiteral("ali") + QChar(0) + QStringLiteral("ce"),
                                          QStringLiteral("nul@example.org"),
                                          g_strPwd)
                                   << strInvisible << QStringList();
    // U+0000 (which PostgreSQL cannot take as a value) in any field is answered as on
    // SQLite, never as a database that is away.
    const QString strNul = QString(QChar(0));
    QTest::newRow("register: NUL in the e-mail")
        << QStringLiteral("register_user") << false
        << reg(QStringLiteral("nul"),
               QStringLiteral("nul") + strNul + QStringLiteral("@example.org"),
               g_strPwd)
        << QStringLiteral("The e-mail address is not valid.") << QStringList();
    QTest::newRow("login: NUL in the name")
        << QStringLiteral("login") << false << login(QStringLiteral("alice") + strNul, g_strPwd)
        << QStringLiteral("Wrong name or password.") << QStringList();
    QVariantMap mapLogin = login(QStringLiteral("alice"), g_strPwd);
    mapLogin.insert(QStringLiteral("login_from"), QStringLiteral("OTHER") + strNul);
    mapLogin.insert(QStringLiteral("lang"), strNul);
    QTest::newRow("login: NUL where the client tells its kind and language")
        << QStringLiteral("login") << false << mapLogin << QString() << lstLogin;
    QTest::newRow("forgot_pwd: NUL in name and address")
        << QStringLiteral("forgot_pwd") << false
        << QVariantMap{{QStringLiteral("user_email"), strNul + QStringLiteral("@example.org")},
                       {QStringLiteral("user_name"), QStringLiteral("alice") + strNul}}
        << QString() << QStringList{QStringLiteral("message")};
    QTest::newRow("offset list: NUL in the search")
        << QStringLiteral("get_note_list_by_offset") << true
        << QVariantMap{{QStringLiteral("limit"), 50}, {QStringLiteral("search_string"), strNul}}
        << QString() << QStringList{QStringLiteral("notes")};
    QTest::newRow("register: Cyrillic letter in a Latin name")
        << QStringLiteral("register_user") << false
        << reg(QStringLiteral("al\u0456ce"), QStringLiteral("cyr@example.org"), g_strPwd)
        << QStringLiteral("The name mixes Latin, Greek or Cyrillic letters.") << QStringList();
    QTest::newRow("register: full-width spelling of a taken name")
        << QStringLiteral("register_user") << false
        << reg(QStringLiteral("\uff21\uff4c\uff49\uff43\uff45"),
               QStringLiteral("fw@example.org"),
               g_strPwd)
        << QStringLiteral("This name is taken.") << QStringList();
    QTest::newRow("login: full-width spelling")
        << QStringLiteral("login") << false
        << login(QStringLiteral("\uff41\uff4c\uff49\uff43\uff45"), g_strPwd) << QString()
        << lstLogin;

    QTest::newRow("login: success")
        << QStringLiteral("login") << false << login(QStringLiteral("alice"), g_strPwd) << QString()
        << lstLogin;
    QTest::newRow("login: wrong password")
        << QStringLiteral("login") << false
        << login(QStringLiteral("alice"), md5Hex(QStringLiteral("guess")))
        << QStringLiteral("Wrong name or password.") << QStringList();
    QTest::newRow("login: unknown name")
        << QStringLiteral("login") << false << login(QStringLiteral("nobody"), g_strPwd)
        << QStringLiteral("Wrong name or password.") << QStringList();
    QTest::newRow("login: no name")
        << QStringLiteral("login") << false << QVariantMap{{QStringLiteral("pwd"), g_strPwd}}
        << QStringLiteral("Wrong name or password.") << QStringList();
    QTest::newRow("login: clear password")
        << QStringLiteral("login") << false
        << login(QStringLiteral("alice"), QStringLiteral("clear text secret"))
        << QStringLiteral("Wrong name or password.") << QStringList();

    QTest::newRow("forgot_pwd: nothing given")
        << QStringLiteral("forgot_pwd") << false
        << QVariantMap{{QStringLiteral("user_email"), QString()},
                       {QStringLiteral("user_name"), QString()}}
        << QStringLiteral("Give your user name or your e-mail address.") << QStringList();

    QTest::newRow("month list") << QStringLiteral("get_note_list_by_month") << true
                                << QVariantMap{{QStringLiteral("time_year"), 2016},
                                               {QStringLiteral("time_month"), 3}}
                                << QString() << QStringList{QStringLiteral("notes")};
    QTest::newRow("month list: month 13")
        << QStringLiteral("get_note_list_by_month") << true
        << QVariantMap{{QStringLiteral("time_year"), 2016}, {QStringLiteral("time_month"), 13}}
        << QStringLiteral("\"time_month\" is not a month from 1 to 12.") << QStringList();
    QTest::newRow("month list: no year")
        << QStringLiteral("get_note_list_by_month") << true
        << QVariantMap{{QStringLiteral("time_month"), 3}}
        << QStringLiteral("\"time_year\" is not a year.") << QStringList();

    QTest::newRow("offset list") << QStringLiteral("get_note_list_by_offset") << true
                                 << QVariantMap{{QStringLiteral("limit"), 50},
                                                {QStringLiteral("offset"), 0},
                                                {QStringLiteral("is_sync"), 1},
                                                {QStringLiteral("start_time"), QString()},
                                                {QStringLiteral("end_time"), QString()}}
                                 << QString() << QStringList{QStringLiteral("notes")};
    QTest::newRow("offset list: limit 101")
        << QStringLiteral("get_note_list_by_offset") << true
        << QVariantMap{{QStringLiteral("limit"), 101}, {QStringLiteral("offset"), 0}}
        << QStringLiteral("\"limit\" must be a number from 1 to 100.") << QStringList();
    QTest::newRow("offset list: negative offset")
        << QStringLiteral("get_note_list_by_offset") << true
        << QVariantMap{{QStringLiteral("limit"), 50}, {QStringLiteral("offset"), -1}}
        << QStringLiteral("\"offset\" must be a number from 0 on.") << QStringList();
    QTest::newRow("offset list: malformed start")
        << QStringLiteral("get_note_list_by_offset") << true
        << QVariantMap{{QStringLiteral("limit"), 50},
                       {QStringLiteral("start_time"), QStringLiteral("2016-13-01 00:00:00")}}
        << QStringLiteral("\"start_time\" is not a time of the form yyyy-MM-ddThh:mm:ssZ or "
                          "yyyy-MM-dd hh:mm:ss.")
        << QStringList();

    const QVariantMap mapNote = note(u,
                                     QStringLiteral("2016-03-05 10:00:00"),
                                     QStringLiteral("<p>table</p>"));
    QTest::newRow("replace") << QStringLiteral("replace_note_item") << true << mapNote << QString()
                             << QStringList{QStringLiteral("note_id")};
    QTest::newRow("insert of the same UUID")
        << QStringLiteral("insert_note_item") << true << mapNote << QString()
        << QStringList{QStringLiteral("note_id")};
    QVariantMap map = mapNote;
    map.insert(QStringLiteral("uuid"), QStringLiteral("{not-a-uuid}"));
    QTest::newRow("replace: malformed UUID")
        << QStringLiteral("replace_note_item") << true << map
        << QStringLiteral("\"uuid\" is not a UUID.") << QStringList();
    map = mapNote;
    map.insert(QStringLiteral("updated_at"), QStringLiteral("2016-03-05T10:00:00"));
    QTest::newRow("replace: malformed updated_at")
        << QStringLiteral("replace_note_item") << true << map
        << QStringLiteral("\"updated_at\" is not a time of the form yyyy-MM-ddThh:mm:ssZ or "
                          "yyyy-MM-dd hh:mm:ss.")
        << QStringList();
    map = mapNote;
    map.insert(QStringLiteral("created_at"), QStringLiteral("2016-02-30 10:00:00"));
    QTest::newRow("replace: impossible created_at")
        << QStringLiteral("replace_note_item") << true << map
        << QStringLiteral("\"created_at\" is not a time of the form yyyy-MM-ddThh:mm:ssZ or "
                          "yyyy-MM-dd hh:mm:ss.")
        << QStringList();
    map = mapNote;
    map.insert(QStringLiteral("md5"), QStringLiteral("xyz"));
    QTest::newRow("replace: malformed digest")
        << QStringLiteral("replace_note_item") << true << map
        << QStringLiteral("\"md5\" is not a digest of 32 hexadecimal digits.") << QStringList();
    map = mapNote;
    map.remove(QStringLiteral("set_at"));
    QTest::newRow("replace: no day")
        << QStringLiteral("replace_note_item") << true << map
        << QStringLiteral("A note needs its \"set_at\".") << QStringList();
    map = mapNote;
    map.insert(QStringLiteral("deleted"), 2);
    QTest::newRow("replace: deleted 2")
        << QStringLiteral("replace_note_item") << true << map
        << QStringLiteral("\"deleted\" must be 0 or 1.") << QStringList();

    QTest::newRow("update: unknown UUID")
        << QStringLiteral("update_note_item") << true
        << QVariantMap{{QStringLiteral("uuid"), newUuid()},
                       {QStringLiteral("deleted"), 1},
                       {QStringLiteral("updated_at"), QStringLiteral("2016-03-05 10:00:00")}}
        << QStringLiteral("The note does not exist.") << QStringList();
    QTest::newRow("update: unknown note id")
        << QStringLiteral("update_note_item") << true
        << QVariantMap{{QStringLiteral("note_id"), 999999},
                       {QStringLiteral("deleted"), 1},
                       {QStringLiteral("updated_at"), QStringLiteral("2016-03-05 10:00:00")}}
        << QStringLiteral("The note does not exist.") << QStringList();
    QTest::newRow("update: malformed note id")
        << QStringLiteral("update_note_item") << true
        << QVariantMap{{QStringLiteral("note_id"), QStringLiteral("7x")},
                       {QStringLiteral("deleted"), 1}}
        << QStringLiteral("\"note_id\" is not a note id.") << QStringList();
    QTest::newRow("update: no note named")
        << QStringLiteral("update_note_item") << true << QVariantMap{{QStringLiteral("deleted"), 1}}
        << QStringLiteral("Give the note's \"note_id\" or \"uuid\".") << QStringList();
    QTest::newRow("update: change without time")
        << QStringLiteral("compare_update_note_item") << true
        << QVariantMap{{QStringLiteral("uuid"), u}, {QStringLiteral("title"), QStringLiteral("t")}}
        << QStringLiteral("A change needs its \"updated_at\".") << QStringList();
    QTest::newRow("compare update")
        << QStringLiteral("compare_update_note_item") << true
        << QVariantMap{{QStringLiteral("uuid"), u},
                       {QStringLiteral("title"), QStringLiteral("t")},
                       {QStringLiteral("updated_at"), QStringLiteral("2016-03-05 10:00:00")}}
        << QString() << QStringList{QStringLiteral("note_id")};

    QTest::newRow("get item") << QStringLiteral("get_note_item") << true
                              << QVariantMap{{QStringLiteral("uuid"), u}} << QString()
                              << QStringList{QStringLiteral("id"),
                                             QStringLiteral("uuid"),
                                             QStringLiteral("user_id"),
                                             QStringLiteral("set_at"),
                                             QStringLiteral("created_at"),
                                             QStringLiteral("updated_at"),
                                             QStringLiteral("title"),
                                             QStringLiteral("content"),
                                             QStringLiteral("content_size"),
                                             QStringLiteral("md5"),
                                             QStringLiteral("deleted")};
    QTest::newRow("get item: unknown")
        << QStringLiteral("get_note_item") << true
        << QVariantMap{{QStringLiteral("uuid"), newUuid()}} << QString() << QStringList();
    QTest::newRow("get item: malformed UUID")
        << QStringLiteral("get_note_item") << true
        << QVariantMap{{QStringLiteral("uuid"), QStringLiteral("12")}}
        << QStringLiteral("\"uuid\" is not a UUID.") << QStringList();
}

void TestServer::endpoints()
{
    QFETCH(QString, endpoint);
    QFETCH(bool, authenticated);
    QFETCH(QVariantMap, fields);
    QFETCH(QString, error);
    QFETCH(QStringList, members);

    const CAnswer a = post(endpoint, authenticated ? auth(m_alice, fields) : fields);
    QCOMPARE(a.m_nStatus, 200);
    QVERIFY2(!a.m_obj.isEmpty() || members.isEmpty(), a.m_baBody.constData());
    QCOMPARE(a.error(), error);
    if (!error.isEmpty())
        return;
    QStringList lstKeys = a.m_obj.keys();
    for (const QString &strMember : members)
        QVERIFY2(lstKeys.contains(strMember), qPrintable(strMember));
    if (members.isEmpty())
        QCOMPARE(a.m_obj, QJsonObject()); // nothing came back
    if (members.contains(QStringLiteral("user_id")))
        QVERIFY(a.m_obj.value(QStringLiteral("user_id")).toInt() > 0);
    if (members.contains(QStringLiteral("note_id")))
        QVERIFY(a.m_obj.value(QStringLiteral("note_id")).toInt() > 0);
    if (members.contains(QStringLiteral("email")))
        QVERIFY(a.m_obj.value(QStringLiteral("email")).toString().contains(QLatin1Char('@')));
}

void TestServer::tokenRules_data()
{
    QTest::addColumn<QString>("endpoint");
    QTest::addColumn<QString>("who");

    const QStringList lstEndpoints = {QStringLiteral("get_note_list_by_month"),
                                      QStringLiteral("get_note_list_by_offset"),
                                      QStringLiteral("get_note_item"),
                                      QStringLiteral("replace_note_item"),
                                      QStringLiteral("insert_note_item"),
                                      QStringLiteral("update_note_item"),
                                      QStringLiteral("compare_update_note_item")};
    for (const QString &strEndpoint : lstEndpoints) {
        for (const char *szWho :
             {"no token", "made-up token", "token of another user", "no user id"})
            QTest::addRow("%s, %s", qPrintable(strEndpoint), szWho)
                << strEndpoint << QString::fromLatin1(szWho);
    }
}

void TestServer::tokenRules()
{
    QFETCH(QString, endpoint);
    QFETCH(QString, who);

    const QString strUuid = newUuid();
    QVariantMap map = note(strUuid, QStringLiteral("2016-03-05 10:00:00"), QStringLiteral("x"));
    map.insert(QStringLiteral("time_year"), 2016);
    map.insert(QStringLiteral("time_month"), 3);
    if (who == QLatin1String("made-up token")) {
        map = auth(CUser{m_alice.m_nId, QString(64, QLatin1Char('a'))}, map);
    } else if (who == QLatin1String("token of another user")) {
        map = auth(CUser{m_alice.m_nId, m_bob.m_strToken}, map);
    } else if (who == QLatin1String("no user id")) {
        map = auth(m_alice, map);
        map.remove(QStringLiteral("user_id"));
    } else {
        map.insert(QStringLiteral("user_id"), m_alice.m_nId);
    }
    const CAnswer a = post(endpoint, map);
    QCOMPARE(a.m_nStatus, 200);
    QCOMPARE(a.error(), g_strTokenWrong);
    QCOMPARE(a.m_obj.keys(), QStringList{QStringLiteral("error")});
    // Nothing was written on the way.
    QCOMPARE(noteByUuid(m_alice, strUuid), QJsonObject());
}

void TestServer::tokenExpiry()
{
    // A second instance on the same database whose tokens live two seconds.
    CServer quick;
    QVERIFY(quick.start(m_strDbUrl, {QStringLiteral("--token-ttl"), QStringLiteral("2")}));
    const CUser user = loginAt(quick, QStringLiteral("bob"));
    QVERIFY(user.m_nId > 0);
    const QVariantMap map = auth(user,
                                 {{QStringLiteral("time_year"), 2016},
                                  {QStringLiteral("time_month"), 3}});
    QCOMPARE(post(quick, QStringLiteral("get_note_list_by_month"), map).error(), QString());

    // A new login revokes nothing: the older token of the same user still works.
    QCOMPARE(post(quick,
                  QStringLiteral("get_note_list_by_month"),
                  auth(m_bob,
                       {{QStringLiteral("time_year"), 2016}, {QStringLiteral("time_month"), 3}}))
                 .error(),
             QString());

    // Left unused for longer than its lifetime, the token is refused. (Every use
    // extends the lifetime, so the wait must not use it.)
    QElapsedTimer timer;
    timer.start();
    QTRY_VERIFY_WITH_TIMEOUT(timer.elapsed() > 3500, 10000);
    QCOMPARE(post(quick, QStringLiteral("get_note_list_by_month"), map).error(), g_strTokenWrong);
    // The instance with the default lifetime agrees: the expired token is gone.
    QCOMPARE(post(QStringLiteral("get_note_list_by_month"), map).error(), g_strTokenWrong);
    // A fresh login gives a working token again.
    const CUser renewed = loginAt(quick, QStringLiteral("bob"));
    QCOMPARE(post(quick,
                  QStringLiteral("get_note_list_by_month"),
                  auth(renewed,
                       {{QStringLiteral("time_year"), 2016}, {QStringLiteral("time_month"), 3}}))
                 .error(),
             QString());
    QCOMPARE(quick.stop(), 0);
}

void TestServer::loginRateLimit()
{
    // The main instance allows four failures per name and minute.
    const CAnswer reg = post(QStringLiteral("register_user"),
                             {{QStringLiteral("email"), QStringLiteral("frank@example.org")},
                              {QStringLiteral("name"), QStringLiteral("frank")},
                              {QStringLiteral("pwd"), g_strPwd}});
    QCOMPARE(reg.error(), QString());
    const QVariantMap mapWrong = {{QStringLiteral("name"), QStringLiteral("frank")},
                                  {QStringLiteral("pwd"), md5Hex(QStringLiteral("guess"))}};
    for (int i = 0; i < 4; ++i)
        QCOMPARE(post(QStringLiteral("login"), mapWrong).error(),
                 QStringLiteral("Wrong name or password."));
    const QVariantMap mapRight = {{QStringLiteral("name"), QStringLiteral("frank")},
                                  {QStringLiteral("pwd"), g_strPwd}};
    QCOMPARE(post(QStringLiteral("login"), mapRight).error(),
             QStringLiteral("Too many attempts. Try again later."));
    // Other names are not held up.
    QCOMPARE(post(QStringLiteral("login"),
                  {{QStringLiteral("name"), QStringLiteral("bob")},
                   {QStringLiteral("pwd"), g_strPwd}})
                 .error(),
             QString());
}

// Times travel with their zone and are kept in UTC: the newer change wins by real time
// whichever zone the sender wrote it in. Older clients (no "times") still send and read
// the service's local time; a database of local times becomes UTC once.
void TestServer::timesAcrossZones()
{
    const QString strFile = m_dir.filePath(QStringLiteral("zones.db"));
    const QString strDb = QStringLiteral("sqlite:") + strFile;
    CServer server;
    // The service in Shanghai (UTC+8 all year).
    server.m_process.setProcessEnvironment([] {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TZ"), QStringLiteral("Asia/Shanghai"));
        return env;
    }());
    QVERIFY(server.start(strDb));
    QCOMPARE(post(server,
                  QStringLiteral("register_user"),
                  {{QStringLiteral("email"), QStringLiteral("zoe@example.org")},
                   {QStringLiteral("name"), QStringLiteral("zoe")},
                   {QStringLiteral("pwd"), g_strPwd},
                   {QStringLiteral("pwd_org"), QStringLiteral("x")}})
                 .error(),
             QString());
    const CUser zoe = loginAt(server, QStringLiteral("zoe"));
    QVERIFY(zoe.m_nId > 0);
    auto utc = [&](QVariantMap map) {
        map.insert(QStringLiteral("times"), QStringLiteral("utc"));
        return auth(zoe, map);
    };
    const QString strUuid = newUuid();
    auto replace = [&](const QString &strAt, const QString &strText, bool bUtc) {
        const QVariantMap map = note(strUuid, strAt, strText);
        return post(server, QStringLiteral("replace_note_item"), bUtc ? utc(map) : auth(zoe, map))
            .m_obj.value(QStringLiteral("applied"));
    };

    struct Step
    {
        const char *pAt;
        bool bUtc;
        bool bApplied;
    };
    // 10:00:00Z first; each later step is compared by its real moment.
    const Step aSteps[] = {
        {"2016-03-05T10:00:00Z", true, true},
        {"2016-03-05T11:30:00+02:00", true, false}, // 09:30Z: older
        {"2016-03-05 17:59:59", false, false},      // the service's local time, 09:59:59Z
        {"2016-03-05T03:00:01-07:00", true, true},  // 10:00:01Z: newer
        {"2016-03-05 18:00:01", false, true},       // 10:00:01Z again: a tie is applied
        {"2016-03-05T10:00:00Z", true, false},
    };
    int nStep = 0;
    for (const Step &step : aSteps) {
        QCOMPARE(replace(QLatin1String(step.pAt), QStringLiteral("text %1").arg(nStep), step.bUtc)
                     .toBool(),
                 step.bApplied);
        ++nStep;
    }

    // A client that reads zones gets UTC and the service's clock; an older one the
    // service's local time, as it always did, and no new member.
    const CAnswer aNew = post(server,
                              QStringLiteral("get_note_item"),
                              utc({{QStringLiteral("uuid"), strUuid}}));
    QCOMPARE(aNew.m_obj.value(QStringLiteral("content")).toString(), QStringLiteral("text 4"));
    QCOMPARE(aNew.m_obj.value(QStringLiteral("updated_at")).toString(),
             QStringLiteral("2016-03-05T10:00:01Z"));
    const QDateTime dtServer
        = QDateTime::fromString(aNew.m_obj.value(QStringLiteral("server_time")).toString(),
                                Qt::ISODate);
    QVERIFY(aNew.m_obj.value(QStringLiteral("server_time")).toString().endsWith(QLatin1Char('Z')));
    QVERIFY(qAbs(dtServer.secsTo(QDateTime::currentDateTimeUtc())) < 600);
    const CAnswer aOld = post(server,
                              QStringLiteral("get_note_item"),
                              auth(zoe, {{QStringLiteral("uuid"), strUuid}}));
    QCOMPARE(aOld.m_obj.value(QStringLiteral("updated_at")).toString(),
             QStringLiteral("2016-03-05 18:00:01"));
    QVERIFY(!aOld.m_obj.contains(QStringLiteral("server_time")));
    const CAnswer aList = post(server,
                               QStringLiteral("get_note_list_by_offset"),
                               utc({{QStringLiteral("limit"), 10},
                                    {QStringLiteral("offset"), 0},
                                    {QStringLiteral("start_time"),
                                     QStringLiteral("2016-03-05T10:00:01Z")}}));
    QCOMPARE(aList.notes().size(), 1);
    QVERIFY(aList.m_obj.contains(QStringLiteral("server_time")));
    // The window bound as an older client gives it: local time.
    QCOMPARE(post(server,
                  QStringLiteral("get_note_list_by_offset"),
                  auth(zoe,
                       {{QStringLiteral("limit"), 10},
                        {QStringLiteral("offset"), 0},
                        {QStringLiteral("start_time"), QStringLiteral("2016-03-05 18:00:02")}}))
                 .notes()
                 .size(),
             0);
    // Errors tell the time too.
    QVERIFY(post(server,
                 QStringLiteral("get_note_item"),
                 utc({{QStringLiteral("uuid"), QStringLiteral("x")}}))
                .m_obj.contains(QStringLiteral("server_time")));
    QCOMPARE(server.stop(), 0);

    // A database of an older service: its times are local; a start keeps them in UTC
    // once.
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"),
                                                    QStringLiteral("zones"));
        db.setDatabaseName(strFile);
        QVERIFY(db.open());
        QSqlQuery query(db);
        QVERIFY(query.exec(QStringLiteral("DELETE FROM service_meta")));
        QVERIFY(query.exec(QStringLiteral("UPDATE note SET updated_at = '2016-03-05 18:00:01',"
                                          " created_at = 'not a time'")));
        query.finish();
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("zones"));
    for (int nStart = 0; nStart < 2; ++nStart) {
        QVERIFY(server.start(strDb));
        const CAnswer a = post(server,
                               QStringLiteral("get_note_item"),
                               utc({{QStringLiteral("uuid"), strUuid}}));
        QCOMPARE(a.m_obj.value(QStringLiteral("updated_at")).toString(),
                 QStringLiteral("2016-03-05T10:00:01Z"));
        QCOMPARE(a.m_obj.value(QStringLiteral("created_at")).toString(),
                 QStringLiteral("not a time"));
        QCOMPARE(server.stop(), 0);
    }
}

void TestServer::newerWins()
{
    const QString strUuid = newUuid();
    auto replace = [&](const QString &strAt, const QString &strText) {
        return post(QStringLiteral("replace_note_item"),
                    auth(m_alice, note(strUuid, strAt, strText)));
    };
    const CAnswer first = replace(QStringLiteral("2016-03-05 10:00:00"), QStringLiteral("first"));
    QCOMPARE(first.error(), QString());
    const int nId = first.m_obj.value(QStringLiteral("note_id")).toInt();

    // Older: kept out, but the answer still names the note.
    const CAnswer older = replace(QStringLiteral("2016-03-05 09:59:59"), QStringLiteral("older"));
    QCOMPARE(older.m_obj.value(QStringLiteral("note_id")).toInt(), nId);
    QCOMPARE(older.m_obj.value(QStringLiteral("applied")).toBool(), false);
    QCOMPARE(noteByUuid(m_alice, strUuid).value(QStringLiteral("content")).toString(),
             QStringLiteral("first"));

    // Same time and newer: applied.
    QCOMPARE(replace(QStringLiteral("2016-03-05 10:00:00"), QStringLiteral("same"))
                 .m_obj.value(QStringLiteral("applied"))
                 .toBool(),
             true);
    QCOMPARE(replace(QStringLiteral("2016-03-06 08:00:00"), QStringLiteral("newer"))
                 .m_obj.value(QStringLiteral("note_id"))
                 .toInt(),
             nId);
    QJsonObject obj = noteByUuid(m_alice, strUuid);
    QCOMPARE(obj.value(QStringLiteral("content")).toString(), QStringLiteral("newer"));
    QCOMPARE(obj.value(QStringLiteral("updated_at")).toString(),
             QStringLiteral("2016-03-06 08:00:00"));
    QCOMPARE(obj.value(QStringLiteral("created_at")).toString(),
             QStringLiteral("2016-03-06 08:00:00"));
    QCOMPARE(obj.value(QStringLiteral("md5")).toString(), md5Hex(QStringLiteral("newer")));
    QCOMPARE(obj.value(QStringLiteral("content_size")).toInt(), 5);

    // update_note_item by id and by UUID follows the same rule.
    CAnswer a = post(QStringLiteral("update_note_item"),
                     auth(m_alice,
                          {{QStringLiteral("note_id"), nId},
                           {QStringLiteral("content"), QStringLiteral("stale edit")},
                           {QStringLiteral("updated_at"), QStringLiteral("2016-03-06 07:00:00")}}));
    QCOMPARE(a.error(), QString());
    QCOMPARE(a.m_obj.value(QStringLiteral("applied")).toBool(), false);
    a = post(QStringLiteral("update_note_item"),
             auth(m_alice,
                  {{QStringLiteral("uuid"), strUuid},
                   {QStringLiteral("content"),
                    QStringLiteral(
                        "<p>\u00e9t\u00e9 \u65e5\u8a18 \U0001F33F</p>\n\t\"q\" \\ \x01")},
                   {QStringLiteral("set_at"), QStringLiteral("2016-04-01")},
                   {QStringLiteral("updated_at"), QStringLiteral("2016-03-07 07:00:00")}}));
    QCOMPARE(a.m_obj.value(QStringLiteral("note_id")).toInt(), nId);
    QCOMPARE(a.m_obj.value(QStringLiteral("applied")).toBool(), true);
    obj = noteByUuid(m_alice, strUuid);
    const QString strText = QStringLiteral(
        "<p>\u00e9t\u00e9 \u65e5\u8a18 \U0001F33F</p>\n\t\"q\" \\ \x01");
    QCOMPARE(obj.value(QStringLiteral("content")).toString(), strText);
    QCOMPARE(obj.value(QStringLiteral("md5")).toString(), md5Hex(strText));
    QCOMPARE(obj.value(QStringLiteral("content_size")).toInt(), strText.toUtf8().size());
    QCOMPARE(obj.value(QStringLiteral("set_at")).toString(), QStringLiteral("2016-04-01 00:00:00"));
    QCOMPARE(obj.value(QStringLiteral("title")).toString(),
             QStringLiteral("newer")); // not sent, kept
}

// A change names the version it was made from: when another change got there first, the
// later one still wins, and a winning change's answer carries the text it replaced.
void TestServer::baseVersion_data()
{
    QTest::addColumn<QString>("endpoint");
    QTest::addColumn<QVariantMap>("change");
    QTest::addColumn<QString>("error");
    QTest::addColumn<bool>("applied");
    QTest::addColumn<bool>("conflict");
    QTest::addColumn<QString>("replaced"); // the text the answer gives back, "" for none
    QTest::addColumn<QString>("stored");   // the note's text afterwards, "" when deleted

    // The note: "v1" at 10:00, then "v2" at 11:00 from another computer.
    const QString strV1At = QStringLiteral("2016-03-05 10:00:00");
    const QString strV2At = QStringLiteral("2016-03-05 11:00:00");
    auto edit = [&](const QString &strAt,
                    const QString &strText,
                    const QString &strBaseAt,
                    const QString &strBaseText) {
        QVariantMap map = note(QString(), strAt, strText);
        map.remove(QStringLiteral("uuid"));
        if (!strBaseAt.isEmpty()) {
            map.insert(QStringLiteral("base_updated_at"), strBaseAt);
            map.insert(QStringLiteral("base_md5"), md5Hex(strBaseText));
        }
        return map;
    };
    const QString strReplace = QStringLiteral("replace_note_item");
    const QString strUpdate = QStringLiteral("update_note_item");
    QTest::newRow("from the current version")
        << strReplace
        << edit(QStringLiteral("2016-03-05 12:00:00"),
                QStringLiteral("v3"),
                strV2At,
                QStringLiteral("v2"))
        << QString() << true << false << QString() << QStringLiteral("v3");
    QTest::newRow("without a base, as older clients send")
        << strReplace
        << edit(QStringLiteral("2016-03-05 12:00:00"), QStringLiteral("v3"), QString(), QString())
        << QString() << true << false << QString() << QStringLiteral("v3");
    QTest::newRow("from an outdated version, later")
        << strReplace
        << edit(QStringLiteral("2016-03-05 12:00:00"),
                QStringLiteral("v3"),
                strV1At,
                QStringLiteral("v1"))
        << QString() << true << true << QStringLiteral("v2") << QStringLiteral("v3");
    QTest::newRow("from an outdated version, earlier")
        << strReplace
        << edit(QStringLiteral("2016-03-05 10:30:00"),
                QStringLiteral("v3"),
                strV1At,
                QStringLiteral("v1"))
        << QString() << false << true << QString() << QStringLiteral("v2");
    QTest::newRow("base of the right time, another text")
        << strReplace
        << edit(QStringLiteral("2016-03-05 12:00:00"),
                QStringLiteral("v3"),
                strV2At,
                QStringLiteral("v1"))
        << QString() << true << true << QStringLiteral("v2") << QStringLiteral("v3");
    QTest::newRow("the winning change sent again")
        << strReplace << edit(strV2At, QStringLiteral("v2"), strV1At, QStringLiteral("v1"))
        << QString() << true << false << QString() << QStringLiteral("v2");
    QTest::newRow("a deletion from an outdated version")
        << strUpdate
        << QVariantMap{{QStringLiteral("deleted"), 1},
                       {QStringLiteral("updated_at"), QStringLiteral("2016-03-05 12:00:00")},
                       {QStringLiteral("base_updated_at"), strV1At},
                       {QStringLiteral("base_md5"), md5Hex(QStringLiteral("v1"))}}
        << QString() << true << true << QStringLiteral("v2") << QString();
    QTest::newRow("a deletion from the current version")
        << strUpdate
        << QVariantMap{{QStringLiteral("deleted"), 1},
                       {QStringLiteral("updated_at"), QStringLiteral("2016-03-05 12:00:00")},
                       {QStringLiteral("base_updated_at"), strV2At},
                       {QStringLiteral("base_md5"), md5Hex(QStringLiteral("v2"))}}
        << QString() << true << false << QString() << QString();
    QVariantMap mapBad = edit(QStringLiteral("2016-03-05 12:00:00"),
                              QStringLiteral("v3"),
                              strV1At,
                              QStringLiteral("v1"));
    mapBad.insert(QStringLiteral("base_updated_at"), QStringLiteral("yesterday"));
    QTest::newRow("a base time that is none")
        << strReplace << mapBad << QStringLiteral("\"base_updated_at\" is not a time") << false
        << false << QString() << QStringLiteral("v2");
    mapBad = edit(QStringLiteral("2016-03-05 12:00:00"),
                  QStringLiteral("v3"),
                  strV1At,
                  QStringLiteral("v1"));
    mapBad.insert(QStringLiteral("base_md5"), QStringLiteral("not-a-digest"));
    QTest::newRow("a base digest that is none")
        << strUpdate << mapBad << QStringLiteral("\"base_md5\" is not a digest") << false << false
        << QString() << QStringLiteral("v2");
    mapBad = edit(QStringLiteral("2016-03-05 12:00:00"), QStringLiteral("v3"), QString(), QString());
    mapBad.insert(QStringLiteral("base_md5"), md5Hex(QStringLiteral("v1")));
    QTest::newRow("a base digest without its time")
        << strReplace << mapBad << QStringLiteral("\"base_md5\" needs") << false << false
        << QString() << QStringLiteral("v2");
}

void TestServer::baseVersion()
{
    QFETCH(QString, endpoint);
    QFETCH(QVariantMap, change);
    QFETCH(QString, error);
    QFETCH(bool, applied);
    QFETCH(bool, conflict);
    QFETCH(QString, replaced);
    QFETCH(QString, stored);

    const QString strUuid = newUuid();
    QVERIFY(post(QStringLiteral("replace_note_item"),
                 auth(m_alice,
                      note(strUuid, QStringLiteral("2016-03-05 10:00:00"), QStringLiteral("v1"))))
                .error()
                .isEmpty());
    QVERIFY(post(QStringLiteral("replace_note_item"),
                 auth(m_alice,
                      note(strUuid, QStringLiteral("2016-03-05 11:00:00"), QStringLiteral("v2"))))
                .error()
                .isEmpty());

    change.insert(QStringLiteral("uuid"), strUuid);
    const CAnswer a = post(endpoint, auth(m_alice, change));
    QVERIFY2(a.error().startsWith(error), qPrintable(a.error()));
    if (error.isEmpty()) {
        QCOMPARE(a.m_obj.value(QStringLiteral("applied")).toBool(), applied);
        QCOMPARE(a.m_obj.value(QStringLiteral("conflict")).toBool(), conflict);
        const QJsonObject objReplaced = a.m_obj.value(QStringLiteral("replaced")).toObject();
        QCOMPARE(objReplaced.value(QStringLiteral("content")).toString(), replaced);
        if (!replaced.isEmpty()) {
            // The whole note as it was: its own UUID, time and digest.
            QCOMPARE(objReplaced.value(QStringLiteral("uuid")).toString(), strUuid);
            QCOMPARE(objReplaced.value(QStringLiteral("updated_at")).toString(),
                     QStringLiteral("2016-03-05 11:00:00"));
            QCOMPARE(objReplaced.value(QStringLiteral("md5")).toString(), md5Hex(replaced));
            QVERIFY(objReplaced.value(QStringLiteral("id")).toInt() > 0);
        }
    }
    const QJsonObject obj = noteByUuid(m_alice, strUuid);
    if (stored.isEmpty())
        QCOMPARE(obj.value(QStringLiteral("deleted")).toInt(), 1);
    else
        QCOMPARE(obj.value(QStringLiteral("content")).toString(), stored);
}

// A change that replaced another computer's version, sent again from the same base (its
// answer went astray after the write): the answer is the same conflict with the same
// replaced text, for as long as the note holds that change.
void TestServer::conflictSentAgain_data()
{
    QTest::addColumn<bool>("secondDeleted");  // the version replaced is a deletion
    QTest::addColumn<QVariantMap>("first");   // with its "endpoint"
    QTest::addColumn<QVariantMap>("between"); // a write before the resend, or none
    QTest::addColumn<QVariantMap>("again");   // the resend's fields that differ
    QTest::addColumn<QString>("firstReplaced");
    QTest::addColumn<bool>("applied");
    QTest::addColumn<bool>("conflict");
    QTest::addColumn<QString>("replaced");
    QTest::addColumn<QString>("stored"); // "" when deleted

    // The note: "v1" at 10:00, then "v2" at 11:00 from another computer; the change is
    // made from v1.
    const QString strV1At = QStringLiteral("2016-03-05 10:00:00");
    const QString strAt = QStringLiteral("2016-03-05 12:00:00");
    const QVariantMap mapBaseV1{{QStringLiteral("base_updated_at"), strV1At},
                                {QStringLiteral("base_md5"), md5Hex(QStringLiteral("v1"))}};
    auto edit = [&](const QString &strEndpoint,
                    const QString &strWhen,
                    const QString &strText,
                    const QVariantMap &mapBase) {
        QVariantMap map = note(QString(), strWhen, strText);
        map.remove(QStringLiteral("uuid"));
        map.insert(mapBase);
        map.insert(QStringLiteral("endpoint"), strEndpoint);
        return map;
    };
    const QString strReplace = QStringLiteral("replace_note_item");
    const QString strUpdate = QStringLiteral("update_note_item");
    const QVariantMap mapEdit = edit(strReplace, strAt, QStringLiteral("v3"), mapBaseV1);
    QVariantMap mapDeletion{{QStringLiteral("endpoint"), strUpdate},
                            {QStringLiteral("deleted"), 1},
                            {QStringLiteral("updated_at"), strAt}};
    mapDeletion.insert(mapBaseV1);

    QTest::newRow("an edit sent again")
        << false << mapEdit << QVariantMap() << QVariantMap() << QStringLiteral("v2") << true
        << true << QStringLiteral("v2") << QStringLiteral("v3");
    QTest::newRow("an edit by update_note_item sent again")
        << false << edit(strUpdate, strAt, QStringLiteral("v3"), mapBaseV1) << QVariantMap()
        << QVariantMap() << QStringLiteral("v2") << true << true << QStringLiteral("v2")
        << QStringLiteral("v3");
    QTest::newRow("a deletion sent again")
        << false << mapDeletion << QVariantMap() << QVariantMap() << QStringLiteral("v2") << true
        << true << QStringLiteral("v2") << QString();
    QTest::newRow("an edit over a deletion sent again: a conflict without text")
        << true << mapEdit << QVariantMap() << QVariantMap() << QString() << true << true
        << QString() << QStringLiteral("v3");
    QTest::newRow("sent again from another base: no conflict of its own")
        << false << mapEdit << QVariantMap()
        << QVariantMap{{QStringLiteral("base_updated_at"), QStringLiteral("2016-03-05 11:00:00")},
                       {QStringLiteral("base_md5"), md5Hex(QStringLiteral("v2"))}}
        << QStringLiteral("v2") << true << false << QString() << QStringLiteral("v3");
    QTest::newRow("sent again after the next change made from it: the usual rules")
        << false << mapEdit
        << edit(strReplace,
                QStringLiteral("2016-03-05 13:00:00"),
                QStringLiteral("v4"),
                {{QStringLiteral("base_updated_at"), strAt},
                 {QStringLiteral("base_md5"), md5Hex(QStringLiteral("v3"))}})
        << QVariantMap() << QStringLiteral("v2") << false << true << QString()
        << QStringLiteral("v4");
    QTest::newRow("sent again after a change without base: the usual rules")
        << false << mapEdit
        << edit(strReplace, QStringLiteral("2016-03-05 13:00:00"), QStringLiteral("v5"), {})
        << QVariantMap() << QStringLiteral("v2") << false << true << QString()
        << QStringLiteral("v5");
    QTest::newRow("a change that lost, sent again")
        << false
        << edit(strReplace, QStringLiteral("2016-03-05 10:30:00"), QStringLiteral("v3"), mapBaseV1)
        << QVariantMap() << QVariantMap() << QString() << false << true << QString()
        << QStringLiteral("v2");
}

void TestServer::conflictSentAgain()
{
    QFETCH(bool, secondDeleted);
    QFETCH(QVariantMap, first);
    QFETCH(QVariantMap, between);
    QFETCH(QVariantMap, again);
    QFETCH(QString, firstReplaced);
    QFETCH(bool, applied);
    QFETCH(bool, conflict);
    QFETCH(QString, replaced);
    QFETCH(QString, stored);

    const QString strUuid = newUuid();
    QCOMPARE(post(QStringLiteral("replace_note_item"),
                  auth(m_alice,
                       note(strUuid, QStringLiteral("2016-03-05 10:00:00"), QStringLiteral("v1"))))
                 .error(),
             QString());
    QCOMPARE(secondDeleted ? post(QStringLiteral("update_note_item"),
                                  auth(m_alice,
                                       {{QStringLiteral("uuid"), strUuid},
                                        {QStringLiteral("deleted"), 1},
                                        {QStringLiteral("updated_at"),
                                         QStringLiteral("2016-03-05 11:00:00")}}))
                                 .error()
                           : post(QStringLiteral("replace_note_item"),
                                  auth(m_alice,
                                       note(strUuid,
                                            QStringLiteral("2016-03-05 11:00:00"),
                                            QStringLiteral("v2"))))
                                 .error(),
             QString());

    auto send = [&](QVariantMap map) {
        const QString strEndpoint = map.take(QStringLiteral("endpoint")).toString();
        map.insert(QStringLiteral("uuid"), strUuid);
        map.insert(QStringLiteral("times"), QStringLiteral("utc"));
        return post(strEndpoint, auth(m_alice, map));
    };
    auto replacedOf = [&](const CAnswer &a) {
        const QJsonObject obj = a.m_obj.value(QStringLiteral("replaced")).toObject();
        if (!obj.isEmpty()) {
            // The whole version as it was: its own UUID, time (as asked) and digest.
            [&] {
                QCOMPARE(obj.value(QStringLiteral("uuid")).toString(), strUuid);
                QCOMPARE(obj.value(QStringLiteral("updated_at")).toString(),
                         QStringLiteral("2016-03-05T11:00:00Z"));
                QCOMPARE(obj.value(QStringLiteral("md5")).toString(),
                         md5Hex(obj.value(QStringLiteral("content")).toString()));
            }();
        }
        return obj.value(QStringLiteral("content")).toString();
    };

    CAnswer a = send(first);
    QCOMPARE(a.error(), QString());
    QCOMPARE(a.m_obj.value(QStringLiteral("conflict")).toBool(), true);
    QCOMPARE(replacedOf(a), firstReplaced);
    if (QTest::currentTestFailed())
        return;
    if (!between.isEmpty()) {
        a = send(between);
        QCOMPARE(a.error(), QString());
        QCOMPARE(a.m_obj.value(QStringLiteral("applied")).toBool(), true);
        QCOMPARE(a.m_obj.value(QStringLiteral("conflict")).toBool(), false);
    }
    QVariantMap mapAgain = first;
    mapAgain.insert(again);
    // Twice: the answer stays the same as long as the note holds the change.
    for (int i = 0; i < 2; ++i) {
        a = send(mapAgain);
        QCOMPARE(a.error(), QString());
        QCOMPARE(a.m_obj.value(QStringLiteral("applied")).toBool(), applied);
        QCOMPARE(a.m_obj.value(QStringLiteral("conflict")).toBool(), conflict);
        QCOMPARE(replacedOf(a), replaced);
        if (QTest::currentTestFailed())
            return;
    }

    const QJsonObject obj = noteByUuid(m_alice, strUuid);
    if (stored.isEmpty())
        QCOMPARE(obj.value(QStringLiteral("deleted")).toInt(), 1);
    else
        QCOMPARE(obj.value(QStringLiteral("content")).toString(), stored);
    // The kept version is no note of its own: the month lists the note once, as stored.
    int nListed = 0;
    const QJsonArray arr = post(QStringLiteral("get_note_list_by_month"),
                                auth(m_alice,
                                     {{QStringLiteral("time_year"), 2016},
                                      {QStringLiteral("time_month"), 3}}))
                               .notes();
    for (const QJsonValue &v : arr) {
        if (v.toObject().value(QStringLiteral("uuid")).toString() != strUuid)
            continue;
        ++nListed;
        QCOMPARE(v.toObject().value(QStringLiteral("content")).toString(), stored);
    }
    QCOMPARE(nListed, 1);
}

void TestServer::textWithoutContent()
{
    // A sender that lists a text it has not fetched (empty content, size above 0)
    // must not wipe the stored text.
    const QString strUuid = newUuid();
    QCOMPARE(post(QStringLiteral("replace_note_item"),
                  auth(m_alice,
                       note(strUuid,
                            QStringLiteral("2016-03-05 10:00:00"),
                            QStringLiteral("precious"))))
                 .error(),
             QString());
    QVariantMap map = note(strUuid, QStringLiteral("2016-03-05 11:00:00"), QString());
    map.insert(QStringLiteral("content_size"), 8);
    map.insert(QStringLiteral("md5"), md5Hex(QStringLiteral("precious")));
    map.insert(QStringLiteral("title"), QStringLiteral("renamed"));
    QCOMPARE(post(QStringLiteral("replace_note_item"), auth(m_alice, map)).error(), QString());
    QJsonObject obj = noteByUuid(m_alice, strUuid);
    QCOMPARE(obj.value(QStringLiteral("content")).toString(), QStringLiteral("precious"));
    QCOMPARE(obj.value(QStringLiteral("title")).toString(), QStringLiteral("renamed"));
    QCOMPARE(obj.value(QStringLiteral("updated_at")).toString(),
             QStringLiteral("2016-03-05 11:00:00"));

    // An empty text that says so (size 0) is a real edit.
    map = note(strUuid, QStringLiteral("2016-03-05 12:00:00"), QString());
    QCOMPARE(post(QStringLiteral("update_note_item"), auth(m_alice, map)).error(), QString());
    obj = noteByUuid(m_alice, strUuid);
    QCOMPARE(obj.value(QStringLiteral("content")).toString(), QString());
    QCOMPARE(obj.value(QStringLiteral("content_size")).toInt(), 0);
}

void TestServer::uuidAssignment()
{
    // A note stored without UUID (as older clients did) gets one on request,
    // whatever the times say.
    QVariantMap map = note(QString(),
                           QStringLiteral("2016-05-01 10:00:00"),
                           QStringLiteral("no uuid"));
    map.remove(QStringLiteral("uuid"));
    const CAnswer ins = post(QStringLiteral("insert_note_item"), auth(m_alice, map));
    QCOMPARE(ins.error(), QString());
    const int nId = ins.m_obj.value(QStringLiteral("note_id")).toInt();
    QJsonObject obj = post(QStringLiteral("get_note_item"),
                           auth(m_alice, {{QStringLiteral("note_id"), nId}}))
                          .m_obj;
    QCOMPARE(obj.value(QStringLiteral("uuid")).toString(), QString());
    QCOMPARE(obj.value(QStringLiteral("id")).toInt(), nId);

    const QString strUuid = newUuid();
    CAnswer a = post(QStringLiteral("update_note_item"),
                     auth(m_alice,
                          {{QStringLiteral("note_id"), nId}, {QStringLiteral("uuid"), strUuid}}));
    QCOMPARE(a.error(), QString());
    QCOMPARE(noteByUuid(m_alice, strUuid).value(QStringLiteral("id")).toInt(), nId);

    // The same request again changes nothing; another UUID is refused.
    QCOMPARE(post(QStringLiteral("update_note_item"),
                  auth(m_alice, {{QStringLiteral("id"), nId}, {QStringLiteral("uuid"), strUuid}}))
                 .error(),
             QString());
    QCOMPARE(post(QStringLiteral("update_note_item"),
                  auth(m_alice,
                       {{QStringLiteral("note_id"), nId}, {QStringLiteral("uuid"), newUuid()}}))
                 .error(),
             QStringLiteral("The note already has another UUID."));

    // A UUID already in use stays with its note.
    const CAnswer other = post(QStringLiteral("insert_note_item"), auth(m_alice, map));
    const int nOther = other.m_obj.value(QStringLiteral("note_id")).toInt();
    QVERIFY(nOther != nId);
    QCOMPARE(post(QStringLiteral("update_note_item"),
                  auth(m_alice,
                       {{QStringLiteral("note_id"), nOther}, {QStringLiteral("uuid"), strUuid}}))
                 .error(),
             QStringLiteral("Another note has this UUID."));
    QCOMPARE(noteByUuid(m_alice, strUuid).value(QStringLiteral("id")).toInt(), nId);
}

void TestServer::notesOfOtherUsers()
{
    const QString strUuid = newUuid();
    const CAnswer a = post(QStringLiteral("replace_note_item"),
                           auth(m_alice,
                                note(strUuid,
                                     QStringLiteral("2016-06-01 10:00:00"),
                                     QStringLiteral("alice's"))));
    const int nId = a.m_obj.value(QStringLiteral("note_id")).toInt();

    // The owner is the token's user, never a field. A UUID names a note within its account:
    // Bob's note of the same UUID is a note of his own, and tells him nothing of Alice's.
    QVariantMap map = note(strUuid, QStringLiteral("2030-01-01 00:00:00"), QStringLiteral("bob's"));
    map = auth(m_bob, map);
    CAnswer b = post(QStringLiteral("replace_note_item"), map);
    QCOMPARE(b.error(), QString());
    QCOMPARE(b.m_obj.value(QStringLiteral("applied")).toBool(), true);
    const int nBobsId = b.m_obj.value(QStringLiteral("note_id")).toInt();
    QVERIFY(nBobsId > 0 && nBobsId != nId);
    QCOMPARE(noteByUuid(m_bob, strUuid).value(QStringLiteral("content")).toString(),
             QStringLiteral("bob's"));
    // An older write of that UUID is not applied to Bob's note.
    b = post(QStringLiteral("replace_note_item"),
             auth(m_bob,
                  note(strUuid, QStringLiteral("2016-06-01 10:00:00"), QStringLiteral("old"))));
    QCOMPARE(b.error(), QString());
    QCOMPARE(b.m_obj.value(QStringLiteral("applied")).toBool(), false);
    QCOMPARE(b.m_obj.value(QStringLiteral("note_id")).toInt(), nBobsId);
    b = post(QStringLiteral("update_note_item"),
             auth(m_bob,
                  {{QStringLiteral("note_id"), nId},
                   {QStringLiteral("deleted"), 1},
                   {QStringLiteral("updated_at"), QStringLiteral("2030-01-01 00:00:00")}}));
    QCOMPARE(b.error(), QStringLiteral("The note does not exist."));
    QCOMPARE(post(QStringLiteral("get_note_item"), auth(m_bob, {{QStringLiteral("note_id"), nId}}))
                 .m_obj,
             QJsonObject());
    const CAnswer month = post(QStringLiteral("get_note_list_by_month"),
                               auth(m_bob,
                                    {{QStringLiteral("time_year"), 2016},
                                     {QStringLiteral("time_month"), 6}}));
    QCOMPARE(month.notes().size(), 0);

    const QJsonObject obj = noteByUuid(m_alice, strUuid);
    QCOMPARE(obj.value(QStringLiteral("content")).toString(), QStringLiteral("alice's"));
    QCOMPARE(obj.value(QStringLiteral("user_id")).toInt(), m_alice.m_nId);
    QCOMPARE(obj.value(QStringLiteral("deleted")).toInt(), 0);
}

void TestServer::concurrentInserts()
{
    // Several computers of one user upload the same new note at once.
    const QString strUuid = newUuid();
    QList<QNetworkReply *> lstReplies;
    for (int i = 0; i < 8; ++i) {
        const QString strAt = QStringLiteral("2016-07-01 10:00:0%1").arg(i);
        lstReplies << send(m_server,
                           i % 2 ? QStringLiteral("insert_note_item")
                                 : QStringLiteral("replace_note_item"),
                           auth(m_alice,
                                note(strUuid,
                                     strAt,
                                     QStringLiteral("copy %1").arg(i),
                                     QStringLiteral("2016-07-01 00:00:00"))));
    }
    QSet<int> setIds;
    for (QNetworkReply *pReply : lstReplies) {
        const CAnswer a = wait(pReply);
        QCOMPARE(a.m_nStatus, 200);
        QCOMPARE(a.error(), QString());
        setIds << a.m_obj.value(QStringLiteral("note_id")).toInt();
    }
    QCOMPARE(setIds.size(), 1);
    const QJsonArray arr = post(QStringLiteral("get_note_list_by_month"),
                                auth(m_alice,
                                     {{QStringLiteral("time_year"), 2016},
                                      {QStringLiteral("time_month"), 7}}))
                               .notes();
    QCOMPARE(arr.size(), 1);
    // Whatever order they came in, the newest copy won.
    QCOMPARE(arr.at(0).toObject().value(QStringLiteral("content")).toString(),
             QStringLiteral("copy 7"));
}

void TestServer::tombstones()
{
    const QString strUuid = newUuid();
    const QString strKept = newUuid();
    auto month = [&] {
        return post(QStringLiteral("get_note_list_by_month"),
                    auth(m_alice,
                         {{QStringLiteral("time_year"), 2016}, {QStringLiteral("time_month"), 8}}))
            .notes();
    };
    QCOMPARE(post(QStringLiteral("replace_note_item"),
                  auth(m_alice,
                       note(strUuid,
                            QStringLiteral("2016-08-01 10:00:00"),
                            QStringLiteral("to go"),
                            QStringLiteral("2016-08-01 00:00:00"))))
                 .error(),
             QString());
    QCOMPARE(post(QStringLiteral("replace_note_item"),
                  auth(m_alice,
                       note(strKept,
                            QStringLiteral("2016-08-31 10:00:00"),
                            QStringLiteral("stays"),
                            QStringLiteral("2016-08-31 00:00:00"))))
                 .error(),
             QString());
    // Neighbouring months stay out.
    QCOMPARE(post(QStringLiteral("replace_note_item"),
                  auth(m_alice,
                       note(newUuid(),
                            QStringLiteral("2016-09-01 10:00:00"),
                            QStringLiteral("september"),
                            QStringLiteral("2016-09-01 00:00:00"))))
                 .error(),
             QString());
    QCOMPARE(month().size(), 2);

    // Deleting as the application does: UUID, "deleted" 1 and the time of deletion.
    const CAnswer del = post(QStringLiteral("update_note_item"),
                             auth(m_alice,
                                  {{QStringLiteral("deleted"), 1},
                                   {QStringLiteral("updated_at"),
                                    QStringLiteral("2016-08-02 09:00:00")},
                                   {QStringLiteral("uuid"), strUuid}}));
    QCOMPARE(del.error(), QString());
    QCOMPARE(del.m_obj.value(QStringLiteral("applied")).toBool(), true);

    const QJsonArray arr = month();
    QCOMPARE(arr.size(), 2);
    const QJsonObject tomb = arr.at(0).toObject();
    QCOMPARE(tomb.value(QStringLiteral("uuid")).toString(), strUuid);
    QCOMPARE(tomb.value(QStringLiteral("deleted")).toInt(), 1);
    QCOMPARE(tomb.value(QStringLiteral("content")).toString(), QString());
    QCOMPARE(tomb.value(QStringLiteral("content_size")).toInt(), 0);
    QCOMPARE(tomb.value(QStringLiteral("updated_at")).toString(),
             QStringLiteral("2016-08-02 09:00:00"));
    QCOMPARE(arr.at(1).toObject().value(QStringLiteral("deleted")).toInt(), 0);
    QCOMPARE(noteByUuid(m_alice, strUuid).value(QStringLiteral("deleted")).toInt(), 1);

    // The paged list shows tombstones too.
    const QJsonArray page
        = post(QStringLiteral("get_note_list_by_offset"),
               auth(m_alice,
                    {{QStringLiteral("limit"), 100},
                     {QStringLiteral("offset"), 0},
                     {QStringLiteral("start_time"), QStringLiteral("2016-08-02 09:00:00")},
                     {QStringLiteral("end_time"), QStringLiteral("2016-08-02 09:00:00")}}))
              .notes();
    QCOMPARE(page.size(), 1);
    QCOMPARE(page.at(0).toObject().value(QStringLiteral("deleted")).toInt(), 1);

    // A stale copy from another computer does not bring the note back.
    QCOMPARE(post(QStringLiteral("replace_note_item"),
                  auth(m_alice,
                       note(strUuid,
                            QStringLiteral("2016-08-01 10:00:00"),
                            QStringLiteral("to go"),
                            QStringLiteral("2016-08-01 00:00:00"))))
                 .m_obj.value(QStringLiteral("applied"))
                 .toBool(),
             false);
    QCOMPARE(noteByUuid(m_alice, strUuid).value(QStringLiteral("deleted")).toInt(), 1);

    // A newer text written elsewhere without knowing of the deletion brings the note
    // back instead of hiding the text in a tombstone.
    QCOMPARE(post(QStringLiteral("replace_note_item"),
                  auth(m_alice,
                       note(strUuid,
                            QStringLiteral("2016-08-03 10:00:00"),
                            QStringLiteral("written later"),
                            QStringLiteral("2016-08-01 00:00:00"))))
                 .m_obj.value(QStringLiteral("applied"))
                 .toBool(),
             true);
    const QJsonObject back = noteByUuid(m_alice, strUuid);
    QCOMPARE(back.value(QStringLiteral("deleted")).toInt(), 0);
    QCOMPARE(back.value(QStringLiteral("content")).toString(), QStringLiteral("written later"));
}

void TestServer::pagingWindow()
{
    // A user of its own, so that only these notes are listed.
    const CAnswer reg = post(QStringLiteral("register_user"),
                             {{QStringLiteral("email"), QStringLiteral("pager@example.org")},
                              {QStringLiteral("name"), QStringLiteral("pager")},
                              {QStringLiteral("pwd"), g_strPwd}});
    const CUser user{reg.m_obj.value(QStringLiteral("user_id")).toInt(),
                     reg.m_obj.value(QStringLiteral("login_token")).toString()};
    for (int i = 1; i <= 5; ++i) {
        QCOMPARE(post(QStringLiteral("replace_note_item"),
                      auth(user,
                           note(newUuid(),
                                QStringLiteral("2017-01-0%1 12:00:00").arg(i),
                                QStringLiteral("n%1").arg(i))))
                     .error(),
                 QString());
    }
    auto page = [&](const QVariantMap &map) {
        return titlesOf(post(QStringLiteral("get_note_list_by_offset"), auth(user, map)).notes());
    };
    const QString t2 = QStringLiteral("2017-01-02 12:00:00");
    const QString t4 = QStringLiteral("2017-01-04 12:00:00");
    QCOMPARE(page({{QStringLiteral("limit"), 50},
                   {QStringLiteral("offset"), 0},
                   {QStringLiteral("is_sync"), 1},
                   {QStringLiteral("start_time"), t2},
                   {QStringLiteral("end_time"), t4}}),
             (QStringList{QStringLiteral("n4"), QStringLiteral("n3"), QStringLiteral("n2")}));
    // An empty end is open towards now, an empty start towards the past.
    QCOMPARE(page({{QStringLiteral("limit"), 50},
                   {QStringLiteral("offset"), 0},
                   {QStringLiteral("start_time"), t4},
                   {QStringLiteral("end_time"), QString()}}),
             (QStringList{QStringLiteral("n5"), QStringLiteral("n4")}));
    QCOMPARE(page({{QStringLiteral("limit"), 50},
                   {QStringLiteral("offset"), 0},
                   {QStringLiteral("start_time"), QString()},
                   {QStringLiteral("end_time"), t2}}),
             (QStringList{QStringLiteral("n2"), QStringLiteral("n1")}));
    // Pages of two, newest first.
    QCOMPARE(page({{QStringLiteral("limit"), 2}, {QStringLiteral("offset"), 0}}),
             (QStringList{QStringLiteral("n5"), QStringLiteral("n4")}));
    QCOMPARE(page({{QStringLiteral("limit"), 2}, {QStringLiteral("offset"), 2}}),
             (QStringList{QStringLiteral("n3"), QStringLiteral("n2")}));
    QCOMPARE(page({{QStringLiteral("limit"), 2}, {QStringLiteral("offset"), 4}}),
             QStringList{QStringLiteral("n1")});
    QCOMPARE(page({{QStringLiteral("limit"), 2}, {QStringLiteral("offset"), 6}}), QStringList());
}

void TestServer::literalSearch()
{
    const CAnswer reg = post(QStringLiteral("register_user"),
                             {{QStringLiteral("email"), QStringLiteral("seeker@example.org")},
                              {QStringLiteral("name"), QStringLiteral("seeker")},
                              {QStringLiteral("pwd"), g_strPwd}});
    const CUser user{reg.m_obj.value(QStringLiteral("user_id")).toInt(),
                     reg.m_obj.value(QStringLiteral("login_token")).toString()};
    const QStringList lstTexts = {QStringLiteral("100% sure"),
                                  QStringLiteral("snake_case"),
                                  QStringLiteral("back\\slash"),
                                  QStringLiteral("Plain Words"),
                                  QStringLiteral("it's 'quoted'")};
    for (int i = 0; i < lstTexts.size(); ++i) {
        QCOMPARE(post(QStringLiteral("replace_note_item"),
                      auth(user,
                           note(newUuid(),
                                QStringLiteral("2017-02-0%1 12:00:00").arg(i + 1),
                                QStringLiteral("<p>%1</p>").arg(lstTexts.at(i)))))
                     .error(),
                 QString());
    }
    auto search = [&](const QString &strText) {
        return titlesOf(post(QStringLiteral("get_note_list_by_offset"),
                             auth(user,
                                  {{QStringLiteral("limit"), 50},
                                   {QStringLiteral("offset"), 0},
                                   {QStringLiteral("is_sync"), 1},
                                   {QStringLiteral("search_string"), strText}}))
                            .notes());
    };
    QCOMPARE(search(QStringLiteral("%")), QStringList{QStringLiteral("<p>100% sure</p>")});
    QCOMPARE(search(QStringLiteral("_")), QStringList{QStringLiteral("<p>snake_case</p>")});
    QCOMPARE(search(QStringLiteral("\\")), QStringList{QStringLiteral("<p>back\\slash</p>")});
    QCOMPARE(search(QStringLiteral("'quoted'")),
             QStringList{QStringLiteral("<p>it's 'quoted'</p>")});
    QCOMPARE(search(QStringLiteral("plain words")),
             QStringList{QStringLiteral("<p>Plain Words</p>")});
    QCOMPARE(search(QStringLiteral("e_c")), QStringList{QStringLiteral("<p>snake_case</p>")});
    QCOMPARE(search(QStringLiteral("s_re")), QStringList());
    // A title is plain text, searched as it stands (these titles hold the markup).
    QCOMPARE(search(QStringLiteral("<p>")).size(), lstTexts.size());
    // Of a text, what it shows, not its markup, blind to case in every script; short
    // searches and long ones alike. These notes have no title.
    const QStringList lstShown = {QStringLiteral("<p style=\"margin:0\">Équipe de France</p>"),
                                  QStringLiteral("<p>今天天气很好，我们去公园散步 🌿</p>"),
                                  QStringLiteral("<p>use std::&lt;vector&gt; &amp; more</p>"),
                                  QStringLiteral("<p>猫</p>")};
    for (int i = 0; i < lstShown.size(); ++i) {
        QVariantMap mapNote = note(newUuid(),
                                   QStringLiteral("2017-03-0%1 12:00:00").arg(i + 1),
                                   lstShown.at(i));
        mapNote.insert(QStringLiteral("title"), QString());
        QCOMPARE(post(QStringLiteral("replace_note_item"), auth(user, mapNote)).error(), QString());
    }
    auto contents = [&](const QString &strText) {
        QStringList lst;
        for (const QJsonValue &v :
             post(QStringLiteral("get_note_list_by_offset"),
                  auth(user,
                       {{QStringLiteral("limit"), 50}, {QStringLiteral("search_string"), strText}}))
                 .notes())
            lst << v.toObject().value(QStringLiteral("content")).toString();
        return lst;
    };
    QCOMPARE(contents(QStringLiteral("équipe")), QStringList{lstShown.at(0)});
    QCOMPARE(contents(QStringLiteral("ÉQUIPE")), QStringList{lstShown.at(0)});
    QCOMPARE(contents(QStringLiteral("margin")), QStringList());
    QCOMPARE(contents(QStringLiteral("天")), QStringList{lstShown.at(1)});
    QCOMPARE(contents(QStringLiteral("我们")), QStringList{lstShown.at(1)});
    QCOMPARE(contents(QStringLiteral("公园散步")), QStringList{lstShown.at(1)});
    QCOMPARE(contents(QStringLiteral("<vector> &")), QStringList{lstShown.at(2)});
    QCOMPARE(contents(QStringLiteral("&lt;")), QStringList());
    QCOMPARE(contents(QStringLiteral("猫")), QStringList{lstShown.at(3)});
    QCOMPARE(contents(QStringLiteral("É")), QStringList{lstShown.at(0)});
    QCOMPARE(contents(QStringLiteral("CE")), QStringList{lstShown.at(0)});
    QCOMPARE(contents(QStringLiteral("🌿")), QStringList{lstShown.at(1)});
    QCOMPARE(contents(QStringLiteral("步 ")), QStringList{lstShown.at(1)});
    QCOMPARE(contents(QStringLiteral("猫猫")), QStringList());
    // Pages of one note each give the whole list in its order, whether the newest notes
    // answer them (a text most notes hold) or the index does (deeper pages).
    const QStringList lstAllE = contents(QStringLiteral("e"));
    QVERIFY(lstAllE.size() >= 5);
    for (int i = 0; i <= lstAllE.size(); ++i) {
        QStringList lstPage;
        for (const QJsonValue &v :
             post(QStringLiteral("get_note_list_by_offset"),
                  auth(user,
                       {{QStringLiteral("limit"), 1},
                        {QStringLiteral("offset"), i},
                        {QStringLiteral("search_string"), QStringLiteral("E")}}))
                 .notes())
            lstPage << v.toObject().value(QStringLiteral("content")).toString();
        QCOMPARE(lstPage, lstAllE.mid(i, 1));
    }
    // A changed text is found by its new words only.
    const CAnswer changed = post(QStringLiteral("get_note_list_by_offset"),
                                 auth(user,
                                      {{QStringLiteral("limit"), 50},
                                       {QStringLiteral("search_string"), QStringLiteral("猫")}}));
    QCOMPARE(changed.notes().size(), 1);
    QJsonObject objCat = changed.notes().first().toObject();
    QVariantMap mapDog = note(objCat.value(QStringLiteral("uuid")).toString(),
                              QStringLiteral("2030-01-01 00:00:00"),
                              QStringLiteral("<p>狗</p>"));
    mapDog.insert(QStringLiteral("title"), QString());
    QCOMPARE(post(QStringLiteral("replace_note_item"), auth(user, mapDog)).error(), QString());
    QCOMPARE(contents(QStringLiteral("猫")), QStringList());
    QCOMPARE(contents(QStringLiteral("狗")), QStringList{QStringLiteral("<p>狗</p>")});
    // A search ignores the time window.
    const CAnswer a = post(QStringLiteral("get_note_list_by_offset"),
                           auth(user,
                                {{QStringLiteral("limit"), 50},
                                 {QStringLiteral("search_string"), QStringLiteral("sure")},
                                 {QStringLiteral("start_time"),
                                  QStringLiteral("2030-01-01 00:00:00")}}));
    QCOMPARE(a.notes().size(), 1);
}

void TestServer::protocolLimits_data()
{
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("contentType");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("status");

    const QByteArray baMultipart = "multipart/form-data; boundary=XyZ";
    const QByteArray baForm
        = "--XyZ\r\nContent-Disposition: form-data; name=\"name\"\r\n\r\nalice\r\n--XyZ--\r\n";
    // Over the 1 MiB limit this instance runs with.
    QByteArray baHuge = "--XyZ\r\nContent-Disposition: form-data; name=\"content\"\r\n\r\n";
    baHuge += QByteArray(1100 * 1024, 'x') + "\r\n--XyZ--\r\n";

    QTest::newRow("body over the limit")
        << QByteArray("POST") << QStringLiteral("/mobile/replace_note_item") << baMultipart
        << baHuge << 413;
    QTest::newRow("url-encoded form")
        << QByteArray("POST") << QStringLiteral("/mobile/login")
        << QByteArray("application/x-www-form-urlencoded") << QByteArray("name=alice&pwd=x") << 400;
    QTest::newRow("JSON body") << QByteArray("POST") << QStringLiteral("/mobile/login")
                               << QByteArray("application/json")
                               << QByteArray("{\"name\":\"alice\"}") << 400;
    QTest::newRow("unknown endpoint") << QByteArray("POST") << QStringLiteral("/mobile/drop_tables")
                                      << baMultipart << baForm << 404;
    QTest::newRow("outside /mobile/")
        << QByteArray("POST") << QStringLiteral("/login") << baMultipart << baForm << 404;
    QTest::newRow("GET") << QByteArray("GET") << QStringLiteral("/mobile/login") << QByteArray()
                         << QByteArray() << 405;
    QTest::newRow("PUT") << QByteArray("PUT") << QStringLiteral("/mobile/login") << baMultipart
                         << baForm << 405;
}

void TestServer::protocolLimits()
{
    QFETCH(QByteArray, method);
    QFETCH(QString, path);
    QFETCH(QByteArray, contentType);
    QFETCH(QByteArray, body);
    QFETCH(int, status);

    QNetworkRequest request(
        QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_server.m_nPort).arg(path)));
    if (!contentType.isEmpty())
        request.setHeader(QNetworkRequest::ContentTypeHeader, contentType);
    QNetworkReply *pReply = m_nam.sendCustomRequest(request, method, body);
    const CAnswer a = wait(pReply);
    QCOMPARE(a.m_nStatus, status);
    QVERIFY2(!a.error().isEmpty(), a.m_baBody.constData());
    // The service is still there.
    QCOMPARE(post(QStringLiteral("get_note_list_by_month"),
                  auth(m_alice,
                       {{QStringLiteral("time_year"), 2016}, {QStringLiteral("time_month"), 3}}))
                 .error(),
             QString());
}

void TestServer::twoInstances()
{
    CServer second;
    QVERIFY(second.start(m_strDbUrl));
    // A token issued by one instance works at the other, both ways.
    const QString strUuid = newUuid();
    CAnswer a = post(second,
                     QStringLiteral("replace_note_item"),
                     auth(m_alice,
                          note(strUuid,
                               QStringLiteral("2018-03-01 10:00:00"),
                               QStringLiteral("via second"))));
    QCOMPARE(a.error(), QString());
    QCOMPARE(noteByUuid(m_alice, strUuid).value(QStringLiteral("content")).toString(),
             QStringLiteral("via second"));

    const CUser user = loginAt(second, QStringLiteral("bob"));
    a = post(QStringLiteral("get_note_list_by_month"),
             auth(user, {{QStringLiteral("time_year"), 2016}, {QStringLiteral("time_month"), 3}}));
    QCOMPARE(a.error(), QString());
    QCOMPARE(second.stop(), 0);
}

// Instances that share a database start while another one serves writes (a restart of
// one of them, or one more): every write that the running one confirms is numbered in its
// account's changes, so that other computers following them learn of it.
void TestServer::instanceStartsWhileWriting()
{
    if (m_strPgDbName.isEmpty())
        QSKIP("Instances that share one database are a PostgreSQL setting.");
    const CUser user = registerAt(m_server, QStringLiteral("rolling"));
    QVERIFY(user.m_nId > 0);
    const qint64 nBefore = qint64(
        changes(m_server, user).m_obj.value(QStringLiteral("last_change")).toDouble());

    // Writers of new notes, each on a thread of its own with blocking sockets.
    std::atomic<bool> bWriting{true};
    std::mutex mutex;
    QStringList lstConfirmed;
    int nFailed = 0;
    std::vector<std::thread> vecWriters;
    for (int i = 0; i < 4; ++i) {
        vecWriters.emplace_back([&] {
            while (bWriting) {
                const QString strUuid = newUuid();
                const CAnswer a = postFrom(m_server,
                                           QStringLiteral("replace_note_item"),
                                           auth(user,
                                                note(strUuid,
                                                     QStringLiteral("2016-03-05 10:00:00"),
                                                     QStringLiteral("rolling"))),
                                           QStringLiteral("127.0.0.1"));
                std::lock_guard<std::mutex> lock(mutex);
                if (a.m_nStatus == 200 && a.error().isEmpty()
                    && a.m_obj.value(QStringLiteral("applied")).toBool())
                    lstConfirmed << strUuid;
                else
                    ++nFailed;
            }
        });
    }
    for (int i = 0; i < 3; ++i) {
        CServer other;
        QVERIFY2(other.start(m_strDbUrl), other.stderrText().constData());
        QCOMPARE(other.stop(), 0);
    }
    bWriting = false;
    for (std::thread &thread : vecWriters)
        thread.join();
    QVERIFY(!lstConfirmed.isEmpty());

    // Every confirmed note is among the changes since.
    QStringList lstListed;
    qint64 nBelow = 0;
    do {
        const CAnswer a = changes(m_server,
                                  user,
                                  {{QStringLiteral("cursor"), nBefore},
                                   {QStringLiteral("before"), nBelow},
                                   {QStringLiteral("limit"), 500}});
        QCOMPARE(a.error(), QString());
        for (const QJsonValue &v : a.notes())
            lstListed << v.toObject().value(QStringLiteral("uuid")).toString();
        nBelow = qint64(a.m_obj.value(QStringLiteral("before")).toDouble());
    } while (nBelow > 0);
    QStringList lstMissing;
    for (const QString &strUuid : qAsConst(lstConfirmed)) {
        if (!lstListed.contains(strUuid))
            lstMissing << strUuid;
    }
    QVERIFY2(lstMissing.isEmpty(),
             qPrintable(QStringLiteral("%1 of %2 confirmed notes have no change number (%3 writes"
                                       " failed)")
                            .arg(lstMissing.size())
                            .arg(lstConfirmed.size())
                            .arg(nFailed)));
}

void TestServer::commandLine_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("output");

    QTest::newRow("--help") << QStringList{QStringLiteral("--help")} << 0
                            << QStringLiteral("--token-ttl");
    QTest::newRow("unknown option")
        << QStringList{QStringLiteral("--colour")} << 2 << QStringLiteral("unknown option");
    QTest::newRow("listen without port")
        << QStringList{QStringLiteral("--listen"), QStringLiteral("localhost")} << 2
        << QStringLiteral("HOST:PORT");
    QTest::newRow("unknown database")
        << QStringList{QStringLiteral("--db"), QStringLiteral("mysql://x")} << 2
        << QStringLiteral("--db");
    QTest::newRow("option without value")
        << QStringList{QStringLiteral("--token-ttl")} << 2 << QStringLiteral("needs a value");
    QTest::newRow("zero ttl") << QStringList{QStringLiteral("--token-ttl=0")} << 2
                              << QStringLiteral("--token-ttl");
    QTest::newRow("trusted proxy by name")
        << QStringList{QStringLiteral("--trusted-proxy"), QStringLiteral("127.0.0.1,proxy.lan")}
        << 2 << QStringLiteral("--trusted-proxy");
}

void TestServer::commandLine()
{
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QString, output);

    QProcess process;
    process.start(QStringLiteral(KELPO_BINARY_DIR "/kelpo-server"), args);
    QVERIFY(process.waitForFinished(30000));
    QCOMPARE(process.exitCode(), exitCode);
    const QString strOut = QString::fromUtf8(process.readAllStandardOutput()
                                             + process.readAllStandardError());
    QVERIFY2(strOut.contains(output), qPrintable(strOut));
    if (exitCode == 0) {
        for (const char *szOption : {"--listen",
                                     "--db",
                                     "--max-body",
                                     "--wal-limit",
                                     "--token-ttl",
                                     "--login-rate",
                                     "--threads"})
            QVERIFY2(strOut.contains(QLatin1String(szOption)), szOption);
    }
}

void TestServer::logHoldsNoSecrets()
{
    const QString strUuid = newUuid();
    const QString strText = QStringLiteral("my diary secret 8f3a");
    QCOMPARE(post(QStringLiteral("replace_note_item"),
                  auth(m_alice, note(strUuid, QStringLiteral("2019-01-01 10:00:00"), strText)))
                 .error(),
             QString());
    // Stopping makes sure every line is out.
    QCOMPARE(m_server.stop(), 0);
    const QByteArray baLog = m_server.stderrText();
    QVERIFY(baLog.contains("/mobile/replace_note_item 200"));
    QVERIFY(baLog.contains("/mobile/login 200"));
    QVERIFY(baLog.contains(QStringLiteral("user=%1").arg(m_alice.m_nId).toLatin1()));
    QVERIFY(!baLog.contains(g_strPwd.toLatin1()));
    QVERIFY(!baLog.contains("clear text secret"));
    QVERIFY(!baLog.contains(m_alice.m_strToken.toLatin1()));
    QVERIFY(!baLog.contains(m_bob.m_strToken.toLatin1()));
    QVERIFY(!baLog.contains(strText.toUtf8()));
    // The service comes back on the same database with everything in it.
    QVERIFY(m_server.start(m_strDbUrl, m_lstMainOptions));
    QCOMPARE(noteByUuid(m_alice, strUuid).value(QStringLiteral("content")).toString(), strText);
}

// The service's standard error goes to a pipe that nobody reads for a while (a logger that
// is stuck or busy): its requests are answered all the same, the lines come out once the
// pipe is read again, and the service stops on request while the pipe is still full.
void TestServer::logThatIsNotRead()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QByteArray baFifo = QFile::encodeName(dir.filePath(QStringLiteral("log")));
    QCOMPARE(::mkfifo(baFifo.constData(), 0600), 0);
    const int nFd = ::open(baFifo.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    QVERIFY(nFd >= 0);
    auto closeFifo = qScopeGuard([nFd] { ::close(nFd); });
    // The smallest pipe: a page of lines fills it.
    QVERIFY(::fcntl(nFd, F_SETPIPE_SZ, 4096) > 0);
    CServer server;
    QVERIFY(server.start(m_strDbUrl,
                         {},
                         {QStringLiteral("sh"),
                          QStringLiteral("-c"),
                          QStringLiteral("exec \"$@\" 2>\"$0\""),
                          QFile::decodeName(baFifo)}));
    auto probes = [&](const QString &strPrefix) {
        for (int i = 0; i < 300; ++i) {
            const CAnswer a = post(server, QStringLiteral("%1-%2").arg(strPrefix).arg(i), {});
            if (a.m_nStatus != 404) {
                qWarning() << "probe" << i << "answered" << a.m_nStatus;
                return false;
            }
        }
        return true;
    };
    QVERIFY(probes(QStringLiteral("unread")));
    const CUser user = loginAt(server, QStringLiteral("bob"));
    QVERIFY(user.m_nId > 0);

    // Read again: every line comes out.
    QByteArray baLog;
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            char buf[4096];
            ssize_t n;
            while ((n = ::read(nFd, buf, sizeof buf)) > 0)
                baLog.append(buf, int(n));
            return baLog.contains("/mobile/login 200");
        }(),
        30000);
    QCOMPARE(baLog.count("/mobile/unread-"), 300);

    // Full again, and left so: a stop still ends the service at once.
    QVERIFY(probes(QStringLiteral("again")));
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(server.stop(), 0);
    QVERIFY2(timer.elapsed() < 15000, qPrintable(QString::number(timer.elapsed())));
}

void TestServer::fullDisk()
{
    if (!m_strPgDbName.isEmpty())
        QSKIP("The small filesystem is for the SQLite file.");
    // A service whose database lives on a 6 MiB tmpfs, mounted in a mount namespace of
    // its own, with 2 MiB of ballast that is removed later to free space. A small log
    // limit keeps most pages in the database file, so that the freed space is room
    // enough for the log's remainder.
    const QString strMount = m_dir.filePath(QStringLiteral("small"));
    QVERIFY(QDir().mkpath(strMount));
    CServer small;
    const QStringList lstWrapper = {QStringLiteral("unshare"),
                                    QStringLiteral("-rm"),
                                    QStringLiteral("sh"),
                                    QStringLiteral("-c"),
                                    QStringLiteral(
                                        "mount -t tmpfs -o size=6m none \"$1\" || exit 77;"
                                        " head -c 2097152 /dev/zero > \"$1/ballast\" || exit 77;"
                                        " shift; exec \"$@\""),
                                    QStringLiteral("sh"),
                                    strMount};
    if (!small.start(QStringLiteral("sqlite:") + strMount + QStringLiteral("/server.db"),
                     {QStringLiteral("--wal-limit"), QStringLiteral("256K")},
                     lstWrapper)) {
        // 77: the wrapper could not mount; anything else is the service's failure.
        if (small.stop() == 77)
            QSKIP("Mounting a small tmpfs in a mount namespace is not permitted here.");
        QFAIL(small.stderrText().constData());
    }
    const CAnswer reg = post(small,
                             QStringLiteral("register_user"),
                             {{QStringLiteral("email"), QStringLiteral("full@example.org")},
                              {QStringLiteral("name"), QStringLiteral("full")},
                              {QStringLiteral("pwd"), g_strPwd}});
    QCOMPARE(reg.error(), QString());
    const CUser user{reg.m_obj.value(QStringLiteral("user_id")).toInt(),
                     reg.m_obj.value(QStringLiteral("login_token")).toString()};

    // Notes of 96 KiB, twice what the disk holds, or until it has refused a few in a row.
    QHash<QString, QString> hashConfirmed; // uuid to text
    int nRefused = 0;
    int nRefusedInRow = 0;
    for (int i = 0; i < 80 && nRefusedInRow < 5; ++i) {
        const QString strUuid = newUuid();
        const QString strText = QStringLiteral("%1 ").arg(i) + QString(96 * 1024, QLatin1Char('n'));
        const CAnswer a = post(small,
                               QStringLiteral("replace_note_item"),
                               auth(user,
                                    note(strUuid, QStringLiteral("2016-03-05 10:00:00"), strText)));
        QVERIFY2(a.m_nStatus == 200 || a.m_nStatus == 503, a.m_baBody.constData());
        if (a.error().isEmpty()) {
            QVERIFY(a.m_obj.value(QStringLiteral("applied")).toBool());
            hashConfirmed.insert(strUuid, strText);
            nRefusedInRow = 0;
        } else {
            QCOMPARE(a.m_nStatus, 503);
            QVERIFY(!a.m_obj.contains(QStringLiteral("applied")));
            ++nRefused;
            ++nRefusedInRow;
        }
    }
    QVERIFY(hashConfirmed.size() > 5);

    // A registration on the full disk either fails or leaves an account that logs in
    // (once there is room for the login's own writes again).
    const CAnswer late = post(small,
                              QStringLiteral("register_user"),
                              {{QStringLiteral("email"), QStringLiteral("late@example.org")},
                               {QStringLiteral("name"), QStringLiteral("late")},
                               {QStringLiteral("pwd"), g_strPwd}});

    // Every note the service confirmed is there, with its text.
    auto checkConfirmed = [&] {
        for (auto it = hashConfirmed.constBegin(); it != hashConfirmed.constEnd(); ++it) {
            const QJsonObject obj = post(small,
                                         QStringLiteral("get_note_item"),
                                         auth(user, {{QStringLiteral("uuid"), it.key()}}))
                                        .m_obj;
            if (obj.value(QStringLiteral("content")).toString() != it.value())
                return false;
        }
        return true;
    };
    QVERIFY(checkConfirmed());
    QVERIFY2(nRefused > 0, "the disk never filled");

    // Space comes back (the ballast goes, seen through the service's own view of the
    // filesystem): saves work again, and nothing confirmed was lost on the way.
    QVERIFY(QFile::remove(
        QStringLiteral("/proc/%1/root%2/ballast").arg(small.m_process.processId()).arg(strMount)));
    const QString strUuid = newUuid();
    CAnswer after;
    QElapsedTimer timer;
    timer.start();
    do {
        after = post(small,
                     QStringLiteral("replace_note_item"),
                     auth(user,
                          note(strUuid,
                               QStringLiteral("2016-03-06 10:00:00"),
                               QStringLiteral("after"))));
    } while (!after.error().isEmpty() && timer.elapsed() < 30000 && (QTest::qWait(100), true));
    QVERIFY2(after.error().isEmpty(), (after.m_baBody + small.stderrText().right(2000)).constData());
    QCOMPARE(noteByUuidAt(small, user, strUuid).value(QStringLiteral("content")).toString(),
             QStringLiteral("after"));
    QVERIFY(checkConfirmed());
    if (late.error().isEmpty()) {
        const CAnswer a = post(small,
                               QStringLiteral("login"),
                               {{QStringLiteral("name"), QStringLiteral("late")},
                                {QStringLiteral("pwd"), g_strPwd}});
        QVERIFY2(a.m_obj.value(QStringLiteral("user_id")).toInt() > 0,
                 (late.m_baBody + " / " + a.m_baBody).constData());
    }
    QCOMPARE(small.stop(), 0);
}

void TestServer::walBounded()
{
    if (!m_strPgDbName.isEmpty())
        QSKIP("The write-ahead log is SQLite's.");
    // Steady writes of large notes while readers keep reading: the log stays near its
    // limit of 1 MiB, and empties once the writes pause.
    const QString strPath = m_dir.filePath(QStringLiteral("wal.db"));
    CServer server;
    QVERIFY(server.start(QStringLiteral("sqlite:") + strPath,
                         {QStringLiteral("--wal-limit"), QStringLiteral("1M")}));
    const CAnswer reg = post(server,
                             QStringLiteral("register_user"),
                             {{QStringLiteral("email"), QStringLiteral("wal@example.org")},
                              {QStringLiteral("name"), QStringLiteral("wal")},
                              {QStringLiteral("pwd"), g_strPwd}});
    QCOMPARE(reg.error(), QString());
    const CUser user{reg.m_obj.value(QStringLiteral("user_id")).toInt(),
                     reg.m_obj.value(QStringLiteral("login_token")).toString()};
    const QStringList lstUuids = {newUuid(), newUuid(), newUuid(), newUuid()};

    bool bReading = true;
    int nReads = 0;
    std::function<void()> read = [&] {
        QNetworkReply *pReply = send(server,
                                     QStringLiteral("get_note_list_by_month"),
                                     auth(user,
                                          {{QStringLiteral("time_year"), 2016},
                                           {QStringLiteral("time_month"), 3}}));
        connect(pReply, &QNetworkReply::finished, this, [&, pReply] {
            pReply->deleteLater();
            ++nReads;
            if (bReading)
                read();
        });
    };
    read();
    read();

    const QString strWal = strPath + QStringLiteral("-wal");
    qint64 nLargest = 0;
    for (int i = 0; i < 240; ++i) {
        const QString strAt = QDateTime(QDate(2016, 3, 5), QTime(0, 0))
                                  .addSecs(i)
                                  .toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
        const CAnswer a = post(server,
                               QStringLiteral("replace_note_item"),
                               auth(user,
                                    note(lstUuids.at(i % 4),
                                         strAt,
                                         QString(64 * 1024, QLatin1Char('a' + i % 26)))));
        QCOMPARE(a.error(), QString());
        nLargest = qMax(nLargest, QFileInfo(strWal).size());
    }
    bReading = false;
    QVERIFY(nReads > 0);
    // 15 MiB went through the log.
    QVERIFY2(nLargest < 4 * 1024 * 1024, qPrintable(QString::number(nLargest)));
    QTRY_COMPARE_WITH_TIMEOUT(QFileInfo(strWal).size(), qint64(0), 20000);
    QCOMPARE(server.stop(), 0);
}

// A write is on the disk before it is confirmed: a computer that has the confirmation stops
// keeping its change pending, so a power loss of the service's machine must not take it
// back. Seen from outside: each confirmed write has synced the write-ahead log (the syncs
// of the service's checkpoints, which also sync the database file, are not counted).
void TestServer::confirmedWritesOnDisk()
{
    if (!m_strPgDbName.isEmpty())
        QSKIP("The syncs are SQLite's; PostgreSQL commits durably by itself.");
    const QString strStrace = QStandardPaths::findExecutable(QStringLiteral("strace"));
    if (strStrace.isEmpty())
        QSKIP("strace is not installed.");
    const QString strPath = m_dir.filePath(QStringLiteral("synced.db"));
    const QString strLog = m_dir.filePath(QStringLiteral("synced.strace"));
    CServer server;
    if (!server.start(QStringLiteral("sqlite:") + strPath,
                      {},
                      {strStrace,
                       QStringLiteral("-f"),
                       QStringLiteral("-qq"),
                       QStringLiteral("-y"),
                       QStringLiteral("-e"),
                       QStringLiteral("trace=fsync,fdatasync"),
                       QStringLiteral("-o"),
                       strLog}))
        QSKIP(qPrintable(QStringLiteral("The service cannot run under strace here: %1")
                             .arg(QString::fromUtf8(server.stderrText().left(300)))));
    // The service is strace's child, which ending strace leaves running: whichever way the
    // test ends, it is stopped first.
    const auto stopTraced = qScopeGuard([&server] {
        if (server.m_process.state() == QProcess::NotRunning)
            return;
        QFile file(QStringLiteral("/proc/%1/task/%1/children").arg(server.m_process.processId()));
        if (!file.open(QIODevice::ReadOnly))
            return;
        for (const QByteArray &baPid : file.readAll().trimmed().split(' ')) {
            if (baPid.toLongLong() > 0)
                ::kill(pid_t(baPid.toLongLong()), SIGTERM);
        }
        server.m_process.waitForFinished(30000);
    });
    const CUser user = registerAt(server, QStringLiteral("synced"));
    QVERIFY(user.m_nId > 0);

    // Syncs of the log by threads that never synced the database file. A sync that another
    // thread's system call interrupts in strace's output is written on two lines, its start
    // ("<unfinished ...>") and its end: it is counted by its start.
    auto logSyncs = [&](qint64 nFrom) {
        QFile file(strLog);
        if (!file.open(QIODevice::ReadOnly))
            return -1;
        static const QRegularExpression reSync(QStringLiteral(
            "^(\\d+)\\s+f(?:data)?sync\\(\\d+<([^>]*)>(?:\\)\\s+=\\s+0|\\s+<unfinished "
            "\\.\\.\\.>)"));
        QSet<QString> setCheckpointing;
        QVector<QPair<QString, qint64>> vecLogSyncs;
        while (!file.atEnd()) {
            const qint64 nAt = file.pos();
            const QRegularExpressionMatch match = reSync.match(
                QString::fromUtf8(file.readLine()).trimmed());
            if (!match.hasMatch())
                continue;
            if (match.captured(2) == strPath)
                setCheckpointing.insert(match.captured(1));
            else if (match.captured(2) == strPath + QStringLiteral("-wal") && nAt >= nFrom)
                vecLogSyncs.append({match.captured(1), nAt});
        }
        int nSyncs = 0;
        for (const auto &sync : qAsConst(vecLogSyncs))
            nSyncs += setCheckpointing.contains(sync.first) ? 0 : 1;
        return nSyncs;
    };

    const qint64 nFrom = QFileInfo(strLog).size();
    const int nWrites = 10;
    for (int i = 0; i < nWrites; ++i) {
        const CAnswer a = post(server,
                               QStringLiteral("replace_note_item"),
                               auth(user,
                                    note(newUuid(),
                                         QStringLiteral("2016-03-05 10:00:00"),
                                         QStringLiteral("kept %1").arg(i))));
        QCOMPARE(a.error(), QString());
    }
    QTRY_VERIFY2_WITH_TIMEOUT(logSyncs(nFrom) >= nWrites,
                              qPrintable(QStringLiteral("%1 syncs of the log for %2 writes")
                                             .arg(logSyncs(nFrom))
                                             .arg(nWrites)),
                              10000);
    // The service stops on its own signal; strace then ends with its exit code.
    QFile fileChildren(
        QStringLiteral("/proc/%1/task/%1/children").arg(server.m_process.processId()));
    QVERIFY(fileChildren.open(QIODevice::ReadOnly));
    const qint64 nService = fileChildren.readAll().trimmed().toLongLong();
    QVERIFY(nService > 0);
    QCOMPARE(::kill(pid_t(nService), SIGTERM), 0);
    QVERIFY(server.m_process.waitForFinished(30000));
    QCOMPARE(server.m_process.exitCode(), 0);
}

// A page of the database that cannot be read (a failing disk, a damaged file) makes a list
// that reaches it a failure: never an answer that leaves out the notes from there on, which
// a client would take for the whole list (and a page of changes for the end of the walk).
void TestServer::damagedDatabase()
{
    if (!m_strPgDbName.isEmpty())
        QSKIP("The damage is done to an SQLite file.");
    const QString strPath = m_dir.filePath(QStringLiteral("damaged.db"));
    CServer server;
    // One request thread, whose connection reads what the damage left.
    QVERIFY(server.start(QStringLiteral("sqlite:") + strPath,
                         {QStringLiteral("--threads"), QStringLiteral("1")}));
    const CUser user = registerAt(server, QStringLiteral("damaged"));
    QVERIFY(user.m_nId > 0);
    // Five notes whose texts span several pages. The first one stored comes last in every
    // list: its day is the latest of the month, its change and id the lowest.
    QStringList lstUuids;
    for (int i = 0; i < 5; ++i) {
        lstUuids << newUuid();
        const QString strSetAt = QStringLiteral("2016-03-%1 00:00:00")
                                     .arg(i == 0 ? 20 : i + 1, 2, 10, QLatin1Char('0'));
        QCOMPARE(post(server,
                      QStringLiteral("replace_note_item"),
                      auth(user,
                           note(lstUuids.last(),
                                QStringLiteral("2016-03-05 10:00:00"),
                                QString(20 * 1024, QLatin1Char('a' + i)),
                                strSetAt)))
                     .error(),
                 QString());
    }
    // Everything is in the database file once the log is emptied.
    QTRY_COMPARE_WITH_TIMEOUT(QFileInfo(strPath + QStringLiteral("-wal")).size(), qint64(0), 30000);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"),
                                                    QStringLiteral("damage"));
        db.setDatabaseName(strPath);
        QVERIFY(db.open());
        QSqlQuery query(db);
        QVERIFY2(query.exec(QStringLiteral("PRAGMA page_size")) && query.next(),
                 qPrintable(query.lastError().text()));
        const qint64 nPageSize = query.value(0).toLongLong();
        // The first page that continues the text of the note with the lowest id.
        QVERIFY2(query.exec(QStringLiteral("SELECT pageno FROM dbstat WHERE name = 'note'"
                                           " AND pagetype = 'overflow' ORDER BY path LIMIT 1"))
                     && query.next(),
                 qPrintable(query.lastError().text()));
        const qint64 nPage = query.value(0).toLongLong();
        query.finish();
        // Its link to the next page now points far beyond the file.
        QFile file(strPath);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.seek((nPage - 1) * nPageSize));
        QCOMPARE(file.write("\x7f\xff\xff\xff", 4), qint64(4));
        file.close();
        // A write of another process: the service reads its pages afresh.
        QVERIFY2(query.exec(QStringLiteral(
                     "INSERT INTO service_meta (key, value) VALUES ('damage', 'test')")),
                 qPrintable(query.lastError().text()));
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("damage"));

    // The damaged note itself cannot be read.
    CAnswer a = post(server,
                     QStringLiteral("get_note_item"),
                     auth(user, {{QStringLiteral("uuid"), lstUuids.first()}}));
    QCOMPARE(a.m_nStatus, 503);
    // Lists that reach it: refused, or whole.
    const QVector<QPair<QString, QVariantMap>> vecLists = {
        {QStringLiteral("get_note_list_by_month"),
         {{QStringLiteral("time_year"), 2016}, {QStringLiteral("time_month"), 3}}},
        {QStringLiteral("get_note_list_by_offset"), {{QStringLiteral("limit"), 10}}},
        {QStringLiteral("get_note_changes"), {{QStringLiteral("content_limit"), 1000000}}},
    };
    for (const auto &list : vecLists) {
        a = post(server, list.first, auth(user, list.second));
        if (a.m_nStatus == 200)
            QVERIFY2(a.notes().size() == 5,
                     qPrintable(list.first + QLatin1Char(' ')
                                + QString::fromUtf8(a.m_baBody.left(200))));
        else
            QCOMPARE(a.m_nStatus, 503);
    }
    server.stop();
}

void TestServer::passwordReset()
{
    QTemporaryDir dirSpool;
    QVERIFY(dirSpool.isValid());
    CServer server;
    // One request thread: every request meets what the ones before left on that thread.
    QVERIFY(server.start(m_strDbUrl,
                         {QStringLiteral("--mail-spool"),
                          dirSpool.path(),
                          QStringLiteral("--threads"),
                          QStringLiteral("1")}));
    const CAnswer reg = post(server,
                             QStringLiteral("register_user"),
                             {{QStringLiteral("email"), QStringLiteral("Reset.Me@example.org")},
                              {QStringLiteral("name"), QStringLiteral("Resetter")},
                              {QStringLiteral("pwd"), g_strPwd}});
    QCOMPARE(reg.error(), QString());
    const CUser before{reg.m_obj.value(QStringLiteral("user_id")).toInt(),
                       reg.m_obj.value(QStringLiteral("login_token")).toString()};
    auto listWith = [&](const CUser &user) {
        return post(server,
                    QStringLiteral("get_note_list_by_month"),
                    auth(user,
                         {{QStringLiteral("time_year"), 2016}, {QStringLiteral("time_month"), 3}}));
    };
    // The login in use until the reset.
    QCOMPARE(listWith(before).error(), QString());
    auto forgot = [&](const QString &strName, const QString &strEmail) {
        return post(server,
                    QStringLiteral("forgot_pwd"),
                    {{QStringLiteral("user_email"), strEmail},
                     {QStringLiteral("user_name"), strName}});
    };
    auto mails = [&] {
        return QDir(dirSpool.path()).entryList({QStringLiteral("*.eml")}, QDir::Files, QDir::Name);
    };

    // Known name, unknown name, unknown address: one answer, naming no address.
    const CAnswer known = forgot(QStringLiteral("resetter"), QString());
    QCOMPARE(known.m_nStatus, 200);
    QCOMPARE(known.error(), QString());
    QVERIFY(!known.m_baBody.contains("example.org"));
    QCOMPARE(forgot(QStringLiteral("nobody-at-all"), QString()).m_baBody, known.m_baBody);
    QCOMPARE(forgot(QString(), QStringLiteral("nobody@example.org")).m_baBody, known.m_baBody);

    // One mail, to the account's address, with the code.
    QCOMPARE(mails().size(), 1);
    QFile fileMail(QDir(dirSpool.path()).filePath(mails().first()));
    QVERIFY(fileMail.open(QIODevice::ReadOnly));
    QCOMPARE(int(fileMail.permissions() & (QFileDevice::ReadOther | QFileDevice::ReadGroup)), 0);
    const QByteArray baMail = fileMail.readAll();
    QVERIFY(baMail.startsWith("To: Reset.Me@example.org\r\n"));
    const QRegularExpressionMatch match = QRegularExpression(QStringLiteral("\\b([0-9a-f]{64})\\b"))
                                              .match(QString::fromUtf8(baMail));
    QVERIFY(match.hasMatch());
    const QString strCode = match.captured(1);
    // The database keeps only a digest of the code.
    if (m_strPgDbName.isEmpty()) {
        const QString strDb = m_strDbUrl.mid(7);
        for (const QString &strFile : {strDb, strDb + QStringLiteral("-wal")}) {
            QFile file(strFile);
            if (file.open(QIODevice::ReadOnly))
                QVERIFY(!file.readAll().contains(strCode.toLatin1()));
        }
    }

    const QString strNewPwd = md5Hex(QStringLiteral("new secret"));
    auto reset = [&](const QString &strToken) {
        return post(server,
                    QStringLiteral("reset_pwd"),
                    {{QStringLiteral("pwd"), strNewPwd}, {QStringLiteral("reset_token"), strToken}});
    };
    const QString strWrongCode = QStringLiteral("The reset code is wrong or has expired.");
    QCOMPARE(reset(QString(64, QLatin1Char('0'))).error(), strWrongCode);
    QCOMPARE(reset(QStringLiteral("short")).error(), strWrongCode);
    const CAnswer done = reset(strCode);
    QCOMPARE(done.m_nStatus, 200);
    QCOMPARE(done.error(), QString());
    // Once only; the new password works, the old one and its logins do not.
    QCOMPARE(reset(strCode).error(), strWrongCode);
    auto loginWith = [&](const QString &strPwd) {
        return post(server,
                    QStringLiteral("login"),
                    {{QStringLiteral("name"), QStringLiteral("resetter")},
                     {QStringLiteral("pwd"), strPwd}});
    };
    QCOMPARE(loginWith(g_strPwd).error(), QStringLiteral("Wrong name or password."));
    QCOMPARE(loginWith(strNewPwd).error(), QString());
    QCOMPARE(listWith(before).error(), g_strTokenWrong);

    // At most three open requests per account; the answer stays the same.
    for (int i = 0; i < 4; ++i)
        QCOMPARE(forgot(QString(), QStringLiteral("reset.me@EXAMPLE.org")).m_baBody, known.m_baBody);
    QCOMPARE(mails().size(), 4);
    // Ten requests an hour from one client address.
    CAnswer last;
    for (int i = 0; i < 5 && last.error().isEmpty(); ++i)
        last = forgot(QStringLiteral("nobody-at-all"), QString());
    QCOMPARE(last.error(), QStringLiteral("Too many attempts. Try again later."));
    QCOMPARE(postFrom(server,
                      QStringLiteral("forgot_pwd"),
                      {{QStringLiteral("user_name"), QStringLiteral("resetter")}},
                      QStringLiteral("127.0.0.9"))
                 .m_baBody,
             known.m_baBody);
    QCOMPARE(server.stop(), 0);
}

// A reset whose ending of the account's logins fails is no success: the logins it was to
// end (a lost computer's, say) would go on working while the owner is told they ended.
void TestServer::passwordResetThatCannotEndLogins()
{
    QTemporaryDir dirSpool;
    QVERIFY(dirSpool.isValid());
    CServer server;
    QVERIFY(server.start(m_strDbUrl, {QStringLiteral("--mail-spool"), dirSpool.path()}));
    const CUser lost = registerAt(server, QStringLiteral("halfreset"));
    QVERIFY(lost.m_nId > 0);
    auto listWith = [&](const CUser &user) {
        return post(server,
                    QStringLiteral("get_note_list_by_month"),
                    auth(user,
                         {{QStringLiteral("time_year"), 2016}, {QStringLiteral("time_month"), 3}}));
    };
    QCOMPARE(listWith(lost).error(), QString());
    // From an address of its own: requests of other tests count against the others.
    const QString strFrom = QStringLiteral("127.0.4.1");
    QCOMPARE(postFrom(server,
                      QStringLiteral("forgot_pwd"),
                      {{QStringLiteral("user_name"), QStringLiteral("halfreset")}},
                      strFrom)
                 .error(),
             QString());
    const QStringList lstMails = QDir(dirSpool.path())
                                     .entryList({QStringLiteral("*.eml")}, QDir::Files);
    QCOMPARE(lstMails.size(), 1);
    QFile fileMail(QDir(dirSpool.path()).filePath(lstMails.first()));
    QVERIFY(fileMail.open(QIODevice::ReadOnly));
    const QRegularExpressionMatch match = QRegularExpression(QStringLiteral("\\b([0-9a-f]{64})\\b"))
                                              .match(QString::fromUtf8(fileMail.readAll()));
    QVERIFY(match.hasMatch());

    // The database refuses to give up the account's tokens.
    QSqlDatabase db;
    if (m_strPgDbName.isEmpty()) {
        db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("keep-tokens"));
        db.setDatabaseName(m_strDbUrl.mid(7));
    } else {
        const QUrl url(m_strDbUrl);
        db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("keep-tokens"));
        db.setHostName(url.host());
        db.setPort(url.port());
        db.setUserName(url.userName());
        db.setPassword(url.password());
        db.setDatabaseName(m_strPgDbName);
    }
    QVERIFY2(db.open(), qPrintable(db.lastError().text()));
    const QStringList lstKeep
        = m_strPgDbName.isEmpty()
              ? QStringList{QStringLiteral("CREATE TRIGGER keep_tokens BEFORE DELETE ON login_token"
                                           " BEGIN SELECT RAISE(ABORT, 'tokens kept'); END")}
              : QStringList{QStringLiteral("CREATE FUNCTION keep_tokens() RETURNS trigger"
                                           " LANGUAGE plpgsql AS $$ BEGIN"
                                           " RAISE EXCEPTION 'tokens kept'; END $$"),
                            QStringLiteral("CREATE TRIGGER keep_tokens BEFORE DELETE ON login_token"
                                           " FOR EACH ROW EXECUTE FUNCTION keep_tokens()")};
    const QStringList lstRelease = m_strPgDbName.isEmpty()
                                       ? QStringList{QStringLiteral("DROP TRIGGER keep_tokens")}
                                       : QStringList{QStringLiteral(
                                                         "DROP TRIGGER keep_tokens ON login_token"),
                                                     QStringLiteral("DROP FUNCTION keep_tokens()")};
    {
        QSqlQuery query(db);
        for (const QString &strSql : lstKeep)
            QVERIFY2(query.exec(strSql), qPrintable(query.lastError().text()));
    }
    // Whatever the outcome, the database gives up tokens again afterwards.
    auto release = qScopeGuard([&] {
        {
            QSqlQuery query(db);
            for (const QString &strSql : lstRelease) {
                if (!query.exec(strSql))
                    qWarning() << "cannot drop" << strSql << query.lastError().text();
            }
        }
        db.close();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("keep-tokens"));
    });

    const CAnswer a = postFrom(server,
                               QStringLiteral("reset_pwd"),
                               {{QStringLiteral("pwd"), md5Hex(QStringLiteral("new secret"))},
                                {QStringLiteral("reset_token"), match.captured(1)}},
                               strFrom);
    if (a.error().isEmpty())
        QCOMPARE(listWith(lost).error(), g_strTokenWrong);
    else
        QCOMPARE(a.m_nStatus, 503);
    QCOMPARE(server.stop(), 0);
}

void TestServer::registrationSentAgain_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("email"); // sent again; the first one is NAME@example.org
    QTest::addColumn<QString>("pwd");
    QTest::addColumn<QString>("error");

    QTest::newRow("same name, address and password")
        << QStringLiteral("again1") << QStringLiteral("again1@example.org") << g_strPwd
        << QString();
    QTest::newRow("same, address and digest in capitals")
        << QStringLiteral("again2") << QStringLiteral("AGAIN2@example.org") << g_strPwd.toUpper()
        << QString();
    QTest::newRow("other password")
        << QStringLiteral("again3") << QStringLiteral("again3@example.org")
        << md5Hex(QStringLiteral("guess")) << QStringLiteral("This name is taken.");
    QTest::newRow("other address")
        << QStringLiteral("again4") << QStringLiteral("someone@example.org") << g_strPwd
        << QStringLiteral("This name is taken.");
}

// The service fails after it has written a new account (here: it cannot keep the login
// token). The application, told that the registration failed, sends it again: the account
// must not then be out of reach behind "This name is taken.".
void TestServer::registrationSentAgain()
{
    QFETCH(QString, name);
    QFETCH(QString, email);
    QFETCH(QString, pwd);
    QFETCH(QString, error);

    CServer server;
    QVERIFY(server.start(m_strDbUrl));
    const QString strName = name;
    const QString strAddress = name + QStringLiteral("@example.org");
    auto registration = [&](const QString &strEmail, const QString &strPwd) {
        return postFrom(server,
                        QStringLiteral("register_user"),
                        {{QStringLiteral("email"), strEmail},
                         {QStringLiteral("name"), strName},
                         {QStringLiteral("pwd"), strPwd},
                         {QStringLiteral("pwd_org"), QStringLiteral("x")}},
                        QStringLiteral("127.0.5.1"));
    };

    {
        QSqlDatabase db = openServiceDb(QStringLiteral("refuse-tokens"));
        QVERIFY2(db.isOpen(), qPrintable(db.lastError().text()));
        const QStringList lstRefuse
            = m_strPgDbName.isEmpty()
                  ? QStringList{QStringLiteral(
                      "CREATE TRIGGER refuse_tokens BEFORE INSERT ON login_token"
                      " BEGIN SELECT RAISE(ABORT, 'no tokens'); END")}
                  : QStringList{QStringLiteral("CREATE FUNCTION refuse_tokens() RETURNS trigger"
                                               " LANGUAGE plpgsql AS $$ BEGIN"
                                               " RAISE EXCEPTION 'no tokens'; END $$"),
                                QStringLiteral(
                                    "CREATE TRIGGER refuse_tokens BEFORE INSERT ON login_token"
                                    " FOR EACH ROW EXECUTE FUNCTION refuse_tokens()")};
        const QStringList lstAllow
            = m_strPgDbName.isEmpty()
                  ? QStringList{QStringLiteral("DROP TRIGGER refuse_tokens")}
                  : QStringList{QStringLiteral("DROP TRIGGER refuse_tokens ON login_token"),
                                QStringLiteral("DROP FUNCTION refuse_tokens()")};
        QSqlQuery query(db);
        for (const QString &strSql : lstRefuse)
            QVERIFY2(query.exec(strSql), qPrintable(query.lastError().text()));
        const CAnswer first = registration(strAddress, g_strPwd);
        for (const QString &strSql : lstAllow)
            QVERIFY2(query.exec(strSql), qPrintable(query.lastError().text()));
        query = QSqlQuery();
        db.close();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("refuse-tokens"));
        QCOMPARE(first.m_nStatus, 503);
    }

    const CAnswer again = registration(email, pwd);
    QCOMPARE(again.m_nStatus, 200);
    QCOMPARE(again.error(), error);
    const CUser owner = loginAt(server, strName);
    QVERIFY(owner.m_nId > 0);
    if (!error.isEmpty()) {
        QVERIFY(!again.m_obj.contains(QStringLiteral("login_token")));
    } else {
        // Logged in to the account that the first attempt made, with a token that works.
        const CUser user{again.m_obj.value(QStringLiteral("user_id")).toInt(),
                         again.m_obj.value(QStringLiteral("login_token")).toString()};
        QCOMPARE(user.m_nId, owner.m_nId);
        QCOMPARE(post(server,
                      QStringLiteral("get_note_list_by_month"),
                      auth(user,
                           {{QStringLiteral("time_year"), 2016}, {QStringLiteral("time_month"), 3}}))
                     .error(),
                 QString());
    }
    QCOMPARE(server.stop(), 0);
}

void TestServer::loginLockout()
{
    // The main instance allows four attempts per client address and name and minute,
    // twenty per client address.
    QCOMPARE(post(QStringLiteral("register_user"),
                  {{QStringLiteral("email"), QStringLiteral("gina@example.org")},
                   {QStringLiteral("name"), QStringLiteral("gina")},
                   {QStringLiteral("pwd"), g_strPwd}})
                 .error(),
             QString());
    const QVariantMap mapWrong = {{QStringLiteral("name"), QStringLiteral("gina")},
                                  {QStringLiteral("pwd"), md5Hex(QStringLiteral("guess"))}};
    const QVariantMap mapRight = {{QStringLiteral("name"), QStringLiteral("gina")},
                                  {QStringLiteral("pwd"), g_strPwd}};
    const QString strWrong = QStringLiteral("Wrong name or password.");
    const QString strTooMany = QStringLiteral("Too many attempts. Try again later.");
    const QString strAttacker = QStringLiteral("127.0.0.2");
    for (int i = 0; i < 4; ++i)
        QCOMPARE(postFrom(m_server, QStringLiteral("login"), mapWrong, strAttacker).error(),
                 strWrong);
    // The guessing client is held off, even with the right password ...
    QCOMPARE(postFrom(m_server, QStringLiteral("login"), mapRight, strAttacker).error(), strTooMany);
    // ... but the owner, elsewhere, is not locked out.
    QCOMPARE(post(QStringLiteral("login"), mapRight).error(), QString());

    // Guesses sent all at once are counted one by one: at most four are looked at.
    std::vector<std::unique_ptr<QTcpSocket>> vecSockets;
    for (int i = 0; i < 16; ++i)
        vecSockets.push_back(
            sendRaw(m_server, QStringLiteral("login"), mapWrong, QStringLiteral("127.0.0.3")));
    int nWrong = 0, nTooMany = 0;
    for (auto &pSocket : vecSockets) {
        const QString strError = readRaw(*pSocket).error();
        nWrong += strError == strWrong;
        nTooMany += strError == strTooMany;
    }
    QCOMPARE(nWrong, 4);
    QCOMPARE(nTooMany, 12);

    // A client trying many names is held off as a whole.
    QString strLast;
    for (int i = 0; i < 21; ++i) {
        strLast = postFrom(m_server,
                           QStringLiteral("login"),
                           {{QStringLiteral("name"), QStringLiteral("someone-%1").arg(i)},
                            {QStringLiteral("pwd"), g_strPwd}},
                           QStringLiteral("127.0.0.4"))
                      .error();
    }
    QCOMPARE(strLast, strTooMany);
}

void TestServer::loginLockoutBehindProxy_data()
{
    QTest::addColumn<QString>("from");
    QTest::addColumn<QByteArrayList>("headers"); // of the attempts, one each
    QTest::addColumn<QStringList>("errors");     // of the attempts

    const QString strWrong = QStringLiteral("Wrong name or password.");
    const QString strTooMany = QStringLiteral("Too many attempts. Try again later.");
    const QString strProxy = QStringLiteral("127.0.6.1");
    // Two attempts per client and name and minute.
    QTest::newRow("clients behind the proxy are counted apart")
        << strProxy
        << QByteArrayList{"X-Forwarded-For: 203.0.113.1\r\n",
                          "X-Forwarded-For: 203.0.113.1\r\n",
                          "X-Forwarded-For: 203.0.113.1\r\n",
                          "X-Forwarded-For: 203.0.113.2\r\n",
                          "X-Forwarded-For: [2001:db8::7]:4711\r\n"}
        << QStringList{strWrong, strWrong, strTooMany, strWrong, strWrong};
    QTest::newRow("the nearest untrusted hop is the client")
        << strProxy
        << QByteArrayList{"X-Forwarded-For: 10.9.9.1, 203.0.113.3\r\n",
                          "X-Forwarded-For: 10.9.9.2, 203.0.113.3\r\n",
                          "X-Forwarded-For: 10.9.9.3\r\nX-Forwarded-For: 203.0.113.3\r\n",
                          "X-Forwarded-For: 203.0.113.3, 127.0.6.2\r\n"}
        << QStringList{strWrong, strWrong, strTooMany, strTooMany};
    QTest::newRow("a garbled entry leaves the client at the proxy")
        << strProxy
        << QByteArrayList{"X-Forwarded-For: 203.0.113.4, unknown\r\n",
                          "X-Forwarded-For: 203.0.113.5, nonsense\r\n",
                          "X-Forwarded-For: 203.0.113.6, 203.0.113.7:x\r\n"}
        << QStringList{strWrong, strWrong, strTooMany};
    QTest::newRow("another address cannot choose its own")
        << QStringLiteral("127.0.6.9")
        << QByteArrayList{"X-Forwarded-For: 203.0.113.8\r\n",
                          "X-Forwarded-For: 203.0.113.9\r\n",
                          "X-Forwarded-For: 203.0.113.10\r\n",
                          QByteArray()}
        << QStringList{strWrong, strWrong, strTooMany, strTooMany};
}

// Behind a reverse proxy every client connects from the proxy's address: with the proxy
// trusted, guesses are counted per client that the proxy names, so that one guessing
// client does not lock out everyone behind it.
void TestServer::loginLockoutBehindProxy()
{
    QFETCH(QString, from);
    QFETCH(QByteArrayList, headers);
    QFETCH(QStringList, errors);

    CServer server;
    QVERIFY(server.start(m_strDbUrl,
                         {QStringLiteral("--login-rate"),
                          QStringLiteral("2"),
                          QStringLiteral("--trusted-proxy"),
                          QStringLiteral("127.0.6.1,127.0.6.2")}));
    auto cleanUp = qScopeGuard([&] { server.stop(); });
    // Each row its own name: the counters live in the shared database.
    const QString strName = QStringLiteral("proxied%1")
                                .arg(QString::fromLatin1(QTest::currentDataTag()))
                                .remove(QLatin1Char(' '))
                                .left(40);
    const QVariantMap mapWrong = {{QStringLiteral("name"), strName},
                                  {QStringLiteral("pwd"), md5Hex(QStringLiteral("guess"))}};
    QStringList lstErrors;
    for (const QByteArray &baHeaders : qAsConst(headers))
        lstErrors << postFrom(server, QStringLiteral("login"), mapWrong, from, baHeaders).error();
    QCOMPARE(lstErrors, errors);
}

void TestServer::unknownNamesCostTheSame()
{
    // An existing name with a malformed digest used to be refused before any hashing,
    // an unknown one after a whole hash: the time told which names exist. Each probe
    // comes from an address of its own, so that no limit cuts it short.
    auto probe = [&](const QString &strName, int nFrom) {
        QElapsedTimer timer;
        timer.start();
        const CAnswer a = postFrom(m_server,
                                   QStringLiteral("login"),
                                   {{QStringLiteral("name"), strName},
                                    {QStringLiteral("pwd"), QStringLiteral("not a digest")}},
                                   QStringLiteral("127.0.1.%1").arg(nFrom));
        return a.error() == QLatin1String("Wrong name or password.") ? timer.nsecsElapsed() : -1;
    };
    QList<qint64> lstKnown, lstUnknown;
    for (int i = 0; i < 7; ++i) {
        lstKnown << probe(QStringLiteral("alice"), 2 * i + 1);
        lstUnknown << probe(QStringLiteral("nobody-%1").arg(i), 2 * i + 2);
    }
    QVERIFY(!lstKnown.contains(-1) && !lstUnknown.contains(-1));
    std::sort(lstKnown.begin(), lstKnown.end());
    std::sort(lstUnknown.begin(), lstUnknown.end());
    // Medians within a factor of three (the difference was about fifty).
    const qint64 nKnown = lstKnown.at(3), nUnknown = lstUnknown.at(3);
    QVERIFY2(nKnown * 3 > nUnknown && nUnknown * 3 > nKnown,
             qPrintable(QStringLiteral("%1 ns against %2 ns").arg(nKnown).arg(nUnknown)));
}

void TestServer::hostileConnections()
{
    // An instance of its own: it is stopped at the end with clients still attached.
    CServer server;
    QVERIFY(server.start(m_strDbUrl, {QStringLiteral("--threads"), QStringLiteral("4")}));
    auto connectFrom = [&](const QString &strFrom) {
        auto pSocket = std::make_unique<QTcpSocket>();
        pSocket->bind(QHostAddress(strFrom));
        pSocket->connectToHost(QHostAddress::LocalHost, quint16(server.m_nPort));
        return pSocket;
    };

    // Slow clients, more than there are request threads, each sending a byte of its
    // headers every half second.
    std::vector<std::unique_ptr<QTcpSocket>> vecSlow;
    for (int i = 0; i < 12; ++i)
        vecSlow.push_back(connectFrom(QStringLiteral("127.0.2.%1").arg(i + 1)));
    for (auto &pSocket : vecSlow)
        QVERIFY(pSocket->waitForConnected(30000));
    const QByteArray baHeaders = "POST /mobile/login HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: "
                                 + QByteArray(200, 's');
    int nByte = 0;
    QTimer timerDrip;
    connect(&timerDrip, &QTimer::timeout, this, [&] {
        for (auto &pSocket : vecSlow) {
            if (pSocket->state() == QAbstractSocket::ConnectedState)
                pSocket->write(baHeaders.mid(nByte % baHeaders.size(), 1));
        }
        ++nByte;
    });
    timerDrip.start(500);

    // A client sending header lines without end.
    auto pFlood = connectFrom(QStringLiteral("127.0.3.1"));
    QVERIFY(pFlood->waitForConnected(30000));
    pFlood->write("POST /mobile/login HTTP/1.1\r\nHost: 127.0.0.1\r\n");
    const QByteArray baLine = "X-Flood: " + QByteArray(1000, 'f') + "\r\n";
    for (int i = 0; i < 4096 && pFlood->state() == QAbstractSocket::ConnectedState; ++i) {
        pFlood->write(baLine);
        pFlood->waitForBytesWritten(1000);
    }
    // Refused long before 4 MiB of headers; the connection ends.
    QTRY_VERIFY_WITH_TIMEOUT(pFlood->state() != QAbstractSocket::ConnectedState
                                 || pFlood->waitForDisconnected(100),
                             30000);

    // Others are served meanwhile.
    const CAnswer a = post(server,
                           QStringLiteral("get_note_list_by_month"),
                           auth(m_alice,
                                {{QStringLiteral("time_year"), 2016},
                                 {QStringLiteral("time_month"), 3}}));
    QCOMPARE(a.m_nStatus, 200);
    QCOMPARE(a.error(), QString());

    // Headers that never end are cut off after a while, bytes or not.
    for (auto &pSocket : vecSlow) {
        QTRY_VERIFY_WITH_TIMEOUT(pSocket->state() != QAbstractSocket::ConnectedState, 60000);
    }
    timerDrip.stop();

    // A stop does not wait for a client that never finishes its request.
    auto pLast = connectFrom(QStringLiteral("127.0.2.99"));
    QVERIFY(pLast->waitForConnected(30000));
    pLast->write("POST /mobile/login HTTP/1.1\r\n");
    pLast->flush();
    server.m_process.terminate();
    QVERIFY2(server.m_process.waitForFinished(10000), "no stop within ten seconds");
    // Stopped by the service itself, not killed by the signal.
    QCOMPARE(server.m_process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(server.m_process.exitCode(), 0);
}

void TestServer::badLengths_data()
{
    QTest::addColumn<QByteArray>("length");
    QTest::newRow("negative") << QByteArray("-1");
    QTest::newRow("23 digits") << QByteArray("12345678901234567890123");
    QTest::newRow("not a number") << QByteArray("12abc");
    QTest::newRow("over the limit") << QByteArray("5000000");
}

void TestServer::badLengths()
{
    // A length that cannot be, or that is over the limit, is refused at once, without
    // waiting for a body that will not come.
    QFETCH(QByteArray, length);
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, quint16(m_server.m_nPort));
    QVERIFY(socket.waitForConnected(30000));
    socket.write("POST /mobile/replace_note_item HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                 "Content-Type: multipart/form-data; boundary=XyZ\r\nContent-Length: "
                 + length + "\r\n\r\n--XyZ\r\n");
    socket.flush();
    QByteArray ba;
    QElapsedTimer timer;
    timer.start();
    while (!ba.contains("\r\n\r\n") && timer.elapsed() < 10000) {
        socket.waitForReadyRead(500);
        ba += socket.readAll();
    }
    QVERIFY2(ba.startsWith("HTTP/1.1 4"), ba.constData());
}

// Bodies over 1 MiB are taken two at a time, whatever their headers claim: a chunked body
// that names a small Content-Length as well is counted by what arrives.
void TestServer::largeBodiesBounded()
{
    CServer server;
    QVERIFY(server.start(m_strDbUrl, {QStringLiteral("--max-body"), QStringLiteral("8M")}));
    const QByteArray baPart = "--XyZ\r\nContent-Disposition: form-data; name=\"content\"\r\n\r\n";
    auto open = [&](const QByteArray &baHeaders) {
        auto pSocket = std::make_unique<QTcpSocket>();
        pSocket->connectToHost(QHostAddress::LocalHost, quint16(server.m_nPort));
        if (pSocket->waitForConnected(30000)) {
            pSocket->write("POST /mobile/get_note_item HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                           "Content-Type: multipart/form-data; boundary=XyZ\r\n"
                           + baHeaders + "\r\n");
            pSocket->flush();
        }
        return pSocket;
    };
    auto statusOf = [&](QTcpSocket &socket) {
        QByteArray ba;
        QElapsedTimer timer;
        timer.start();
        while (!ba.contains("\r\n\r\n") && timer.elapsed() < 60000
               && socket.state() == QAbstractSocket::ConnectedState) {
            socket.waitForReadyRead(500);
            ba += socket.readAll();
        }
        ba += socket.readAll();
        return ba.startsWith("HTTP/1.1 ") ? ba.mid(9, 3).toInt() : 0;
    };
    const QByteArray baLarge = "Content-Length: " + QByteArray::number(3 * 1024 * 1024) + "\r\n";

    // Two large bodies on their way, each with its first bytes.
    std::vector<std::unique_ptr<QTcpSocket>> vecLarge;
    for (int i = 0; i < 2; ++i) {
        vecLarge.push_back(open(baLarge));
        QVERIFY(vecLarge.back()->state() == QAbstractSocket::ConnectedState);
        vecLarge.back()->write(baPart + QByteArray(64 * 1024, 'x'));
        vecLarge.back()->flush();
    }
    // (A request answered after them means that their headers have been read.)
    QCOMPARE(post(server,
                  QStringLiteral("get_note_list_by_month"),
                  auth(m_alice,
                       {{QStringLiteral("time_year"), 2016}, {QStringLiteral("time_month"), 3}}))
                 .error(),
             QString());
    // Both are counted: a third that says its size at once is asked to come back.
    auto pThird = open(baLarge);
    QCOMPARE(statusOf(*pThird), 503);

    // A chunked body that claims a small length as well, sent whole.
    auto pChunked = open("Transfer-Encoding: chunked\r\nContent-Length: 100\r\n");
    QVERIFY(pChunked->state() == QAbstractSocket::ConnectedState);
    const QByteArray baBody = baPart + QByteArray(3 * 1024 * 1024, 'x') + "\r\n--XyZ--\r\n";
    pChunked->write(QByteArray::number(baBody.size(), 16) + "\r\n" + baBody + "\r\n0\r\n\r\n");
    pChunked->flush();
    QCOMPARE(statusOf(*pChunked), 503);

    // Once the two have gone, a large body is taken again.
    vecLarge.clear();
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            auto pAgain = open(baLarge);
            const QByteArray baEnd = "\r\n--XyZ--\r\n";
            pAgain->write(baPart + QByteArray(3 * 1024 * 1024 - baPart.size() - baEnd.size(), 'x')
                          + baEnd);
            pAgain->flush();
            return statusOf(*pAgain) == 200;
        }(),
        30000);
    QCOMPARE(server.stop(), 0);
}

// A request body is held in memory whole, in a buffer of at most 2 GiB: a larger limit
// is refused at start. (A service that took it ended on the first request that named
// such a length.)
void TestServer::bodyLimitTheServiceCanHold()
{
    CServer server;
    if (!server.start(m_strDbUrl, {QStringLiteral("--max-body"), QStringLiteral("2G")})) {
        // (Its message went to the warning of start().)
        QCOMPARE(server.stop(), 2);
        return;
    }
    // Taken: a request that names that length is answered, and the service goes on.
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, quint16(server.m_nPort));
    QVERIFY(socket.waitForConnected(30000));
    socket.write("POST /mobile/replace_note_item HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                 "Content-Type: multipart/form-data; boundary=XyZ\r\n"
                 "Content-Length: 2147483648\r\n\r\n--XyZ\r\n");
    socket.flush();
    QByteArray ba;
    QElapsedTimer timer;
    timer.start();
    while (!ba.contains("\r\n\r\n") && timer.elapsed() < 10000
           && socket.state() == QAbstractSocket::ConnectedState) {
        socket.waitForReadyRead(500);
        ba += socket.readAll();
    }
    QVERIFY2(ba.startsWith("HTTP/1.1 4") || ba.startsWith("HTTP/1.1 5"), ba.constData());
    QCOMPARE(post(server,
                  QStringLiteral("get_note_list_by_month"),
                  auth(m_alice,
                       {{QStringLiteral("time_year"), 2016}, {QStringLiteral("time_month"), 3}}))
                 .error(),
             QString());
    QCOMPARE(server.stop(), 0);
}

// A text that the service would keep but could never answer (as JSON it does not fit in
// one answer: a control character takes six bytes there) would be lost to every other
// computer of the account, whose requests for it get no answer: it is refused when it is
// sent, and nothing of it is kept.
void TestServer::textThatCannotBeSentBack()
{
    CServer server;
    QVERIFY(server.start(m_strDbUrl, {QStringLiteral("--max-body"), QStringLiteral("1G")}));
    const QString strUuid = newUuid();
    QByteArray baHead;
    const QVariantMap map = auth(m_alice,
                                 {{QStringLiteral("uuid"), strUuid},
                                  {QStringLiteral("set_at"), QStringLiteral("2016-03-05")},
                                  {QStringLiteral("updated_at"),
                                   QStringLiteral("2016-03-05 10:00:00")}});
    for (auto it = map.constBegin(); it != map.constEnd(); ++it) {
        baHead += "--kelpoBoundary\r\nContent-Disposition: form-data; name=\"" + it.key().toUtf8()
                  + "\"\r\n\r\n" + it.value().toString().toUtf8() + "\r\n";
    }
    baHead += "--kelpoBoundary\r\nContent-Disposition: form-data; name=\"content\"\r\n\r\n";
    const QByteArray baTail = "\r\n--kelpoBoundary--\r\n";
    // 360 MiB of U+0001: 2.1 GiB as JSON. Sent a piece at a time.
    const QByteArray baPiece(1024 * 1024, '\x01');
    const int nPieces = 360;
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, quint16(server.m_nPort));
    QVERIFY(socket.waitForConnected(30000));
    socket.write(
        "POST /mobile/replace_note_item HTTP/1.1\r\nHost: 127.0.0.1\r\n"
        "Connection: close\r\n"
        "Content-Type: multipart/form-data; boundary=kelpoBoundary\r\n"
        "Content-Length: "
        + QByteArray::number(baHead.size() + qint64(nPieces) * baPiece.size() + baTail.size())
        + "\r\n\r\n" + baHead);
    for (int i = 0; i < nPieces && socket.state() == QAbstractSocket::ConnectedState; ++i) {
        socket.write(baPiece);
        while (socket.bytesToWrite() > 4 * baPiece.size())
            socket.waitForBytesWritten(30000);
    }
    socket.write(baTail);
    const CAnswer a = readRaw(socket);
    QCOMPARE(a.m_nStatus, 200);
    QVERIFY2(a.error().contains(QLatin1String("too large to be sent back")),
             a.m_baBody.left(300).constData());
    QCOMPARE(post(server,
                  QStringLiteral("get_note_item"),
                  auth(m_alice, {{QStringLiteral("uuid"), strUuid}}))
                 .m_obj,
             QJsonObject());
    QCOMPARE(server.stop(), 0);
}

void TestServer::noteEdges()
{
    const CAnswer reg = post(QStringLiteral("register_user"),
                             {{QStringLiteral("email"), QStringLiteral("edges@example.org")},
                              {QStringLiteral("name"), QStringLiteral("edges")},
                              {QStringLiteral("pwd"), g_strPwd}});
    QCOMPARE(reg.error(), QString());
    const CUser user{reg.m_obj.value(QStringLiteral("user_id")).toInt(),
                     reg.m_obj.value(QStringLiteral("login_token")).toString()};

    // The last day there is belongs to its month.
    const QString strLast = newUuid();
    QCOMPARE(post(QStringLiteral("replace_note_item"),
                  auth(user,
                       note(strLast,
                            QStringLiteral("2016-03-05 10:00:00"),
                            QStringLiteral("last day"),
                            QStringLiteral("9999-12-31 00:00:00"))))
                 .error(),
             QString());
    const QJsonArray arr = post(QStringLiteral("get_note_list_by_month"),
                                auth(user,
                                     {{QStringLiteral("time_year"), 9999},
                                      {QStringLiteral("time_month"), 12}}))
                               .notes();
    QCOMPARE(titlesOf(arr), QStringList{QStringLiteral("last day")});

    // A text that begins with a byte order mark keeps it, and its digest is of the
    // whole text.
    const QString strBom = QChar(0xfeff) + QStringLiteral("<p>marked</p>");
    const QString strMarked = newUuid();
    QCOMPARE(post(QStringLiteral("replace_note_item"),
                  auth(user, note(strMarked, QStringLiteral("2016-03-05 10:00:00"), strBom)))
                 .error(),
             QString());
    // (Read from the bytes: Qt's JSON parser drops the mark on its side.)
    const CAnswer marked = post(QStringLiteral("get_note_item"),
                                auth(user, {{QStringLiteral("uuid"), strMarked}}));
    QVERIFY2(marked.m_baBody.contains("\"content\":\"" + strBom.toUtf8() + "\""),
             marked.m_baBody.constData());
    const QJsonObject obj = marked.m_obj;
    QCOMPARE(obj.value(QStringLiteral("md5")).toString(), md5Hex(strBom));
    QCOMPARE(obj.value(QStringLiteral("content_size")).toInt(), strBom.toUtf8().size());

    // A text or title holding U+0000 (PostgreSQL cannot keep it) is refused as the change it
    // is, on either database: an answer the sender takes as final, not as a database that
    // is away (which it would send again, every minute, for ever).
    for (const QString &strField : {QStringLiteral("content"), QStringLiteral("title")}) {
        const QString strNul = newUuid();
        QVariantMap mapNul = note(strNul,
                                  QStringLiteral("2016-03-05 10:00:00"),
                                  QStringLiteral("x"));
        mapNul.insert(strField, QStringLiteral("before") + QChar(0) + QStringLiteral("after"));
        const CAnswer nul = post(QStringLiteral("replace_note_item"), auth(user, mapNul));
        QCOMPARE(nul.m_nStatus, 200);
        QVERIFY2(nul.error().contains(QLatin1String("U+0000")), nul.m_baBody.constData());
        QCOMPARE(noteByUuid(user, strNul), QJsonObject());
    }

    // One UUID, whatever its letter case and braces.
    const QString strUuid = newUuid();
    const CAnswer first = post(QStringLiteral("replace_note_item"),
                               auth(user,
                                    note(strUuid.toUpper(),
                                         QStringLiteral("2016-03-05 10:00:00"),
                                         QStringLiteral("upper"))));
    QCOMPARE(first.error(), QString());
    const QString strBare = strUuid.mid(1, 36);
    const CAnswer second = post(QStringLiteral("replace_note_item"),
                                auth(user,
                                     note(strBare,
                                          QStringLiteral("2016-03-05 11:00:00"),
                                          QStringLiteral("bare"))));
    QCOMPARE(second.m_obj.value(QStringLiteral("note_id")),
             first.m_obj.value(QStringLiteral("note_id")));
    QCOMPARE(noteByUuid(user, strUuid).value(QStringLiteral("content")).toString(),
             QStringLiteral("bare"));
    QCOMPARE(noteByUuid(user, strUuid).value(QStringLiteral("uuid")).toString(), strUuid);
    QCOMPARE(noteByUuid(user, strBare.toUpper()).value(QStringLiteral("content")).toString(),
             QStringLiteral("bare"));
}

void TestServer::listsWithoutTexts()
{
    const CUser user = registerAt(m_server, QStringLiteral("lister"));
    QVERIFY(user.m_nId > 0);
    const QString strText = QStringLiteral("a text of its own");
    QCOMPARE(post(QStringLiteral("replace_note_item"),
                  auth(user,
                       note(newUuid(),
                            QStringLiteral("2017-02-03 12:00:00"),
                            strText,
                            QStringLiteral("2017-02-03 00:00:00"))))
                 .error(),
             QString());
    const QVariantMap mapMonth{{QStringLiteral("time_year"), 2017},
                               {QStringLiteral("time_month"), 2}};
    const QVariantMap mapPage{{QStringLiteral("limit"), 50}, {QStringLiteral("offset"), 0}};
    for (const auto &list : {qMakePair(QStringLiteral("get_note_list_by_month"), mapMonth),
                             qMakePair(QStringLiteral("get_note_list_by_offset"), mapPage)}) {
        // Older clients say nothing and get the texts; "with_content" 0 leaves them out
        // and keeps their size and digest.
        for (const QString &strWith : {QString(), QStringLiteral("1"), QStringLiteral("0")}) {
            QVariantMap map = list.second;
            if (!strWith.isNull())
                map.insert(QStringLiteral("with_content"), strWith);
            const QJsonArray arr = post(list.first, auth(user, map)).notes();
            QCOMPARE(arr.size(), 1);
            const QJsonObject obj = arr.at(0).toObject();
            QCOMPARE(obj.contains(QStringLiteral("content")), strWith != QLatin1String("0"));
            QCOMPARE(obj.value(QStringLiteral("md5")).toString(), md5Hex(strText));
            QCOMPARE(obj.value(QStringLiteral("content_size")).toInt(), strText.size());
        }
    }
}

// A list carries the texts of its notes in its order while they add up to the service's
// budget (1M here); the notes beyond come with their size and digest, and their texts
// one at a time.
void TestServer::listTextsBounded()
{
    const CUser user = registerAt(m_server, QStringLiteral("heavy"));
    QVERIFY(user.m_nId > 0);
    // A, B, C of 400 KB and a small D, in this order by day and by change.
    QStringList lstUuids, lstTexts;
    for (int i = 0; i < 4; ++i) {
        const QChar ch(QLatin1Char(char('A' + i)));
        lstTexts << (i < 3 ? QString(400 * 1024, ch) : QStringLiteral("small D"));
        lstUuids << newUuid();
        QCOMPARE(post(QStringLiteral("replace_note_item"),
                      auth(user,
                           note(lstUuids.last(),
                                QStringLiteral("2018-05-0%1 10:00:00").arg(i + 1),
                                lstTexts.last(),
                                QStringLiteral("2018-05-0%1 00:00:00").arg(i + 1))))
                     .error(),
                 QString());
    }
    auto check = [&](const QJsonArray &arr, const QString &strOrder, const QString &strCarried) {
        QCOMPARE(arr.size(), strOrder.size());
        for (int i = 0; i < arr.size(); ++i) {
            const int n = strOrder.at(i).toLatin1() - 'A';
            const QJsonObject obj = arr.at(i).toObject();
            QCOMPARE(obj.value(QStringLiteral("uuid")).toString(), lstUuids.at(n));
            QCOMPARE(obj.value(QStringLiteral("content_size")).toInt(), lstTexts.at(n).size());
            QCOMPARE(obj.value(QStringLiteral("md5")).toString(), md5Hex(lstTexts.at(n)));
            QCOMPARE(obj.contains(QStringLiteral("content")), strCarried.contains(strOrder.at(i)));
            if (obj.contains(QStringLiteral("content")))
                QCOMPARE(obj.value(QStringLiteral("content")).toString(), lstTexts.at(n));
        }
    };
    // By day: A and B fill the budget; C would pass it, and D comes after C.
    check(post(QStringLiteral("get_note_list_by_month"),
               auth(user, {{QStringLiteral("time_year"), 2018}, {QStringLiteral("time_month"), 5}}))
              .notes(),
          QStringLiteral("ABCD"),
          QStringLiteral("AB"));
    // Newest first: D, C and B; a later page counts from its own first note.
    auto page = [&](int nOffset, int nLimit) {
        return post(QStringLiteral("get_note_list_by_offset"),
                    auth(user,
                         {{QStringLiteral("offset"), nOffset}, {QStringLiteral("limit"), nLimit}}))
            .notes();
    };
    check(page(0, 50), QStringLiteral("DCBA"), QStringLiteral("DCB"));
    check(page(2, 2), QStringLiteral("BA"), QStringLiteral("BA"));
    // A list without texts is as before, and a note left out comes whole on its own.
    check(post(QStringLiteral("get_note_list_by_month"),
               auth(user,
                    {{QStringLiteral("time_year"), 2018},
                     {QStringLiteral("time_month"), 5},
                     {QStringLiteral("with_content"), 0}}))
              .notes(),
          QStringLiteral("ABCD"),
          QString());
    const CAnswer item = post(QStringLiteral("get_note_item"),
                              auth(user, {{QStringLiteral("uuid"), lstUuids.at(2)}}));
    QCOMPARE(item.m_obj.value(QStringLiteral("content")).toString(), lstTexts.at(2));
}

void TestServer::changeSequence()
{
    const CUser user = registerAt(m_server, QStringLiteral("changer"));
    const CUser other = registerAt(m_server, QStringLiteral("bystander"));
    QVERIFY(user.m_nId > 0 && other.m_nId > 0);
    auto uuidsOf = [](const CAnswer &a) {
        QStringList lst;
        for (const QJsonValue &v : a.notes())
            lst << v.toObject().value(QStringLiteral("uuid")).toString();
        return lst;
    };
    auto number = [](const CAnswer &a, const char *pKey) {
        return qint64(a.m_obj.value(QLatin1String(pKey)).toDouble(-1));
    };
    // A new account has nothing, and says so.
    CAnswer a = changes(m_server, user);
    QCOMPARE(a.error(), QString());
    QCOMPARE(a.notes().size(), 0);
    QCOMPARE(number(a, "last_change"), 0);
    QCOMPARE(number(a, "remaining"), 0);
    QCOMPARE(number(a, "before"), 0);

    // Several notes written at once: every write gets a number of its own.
    QStringList lstUuids;
    QList<QNetworkReply *> lstReplies;
    for (int i = 0; i < 7; ++i) {
        lstUuids << newUuid();
        lstReplies << send(m_server,
                           QStringLiteral("replace_note_item"),
                           auth(user,
                                note(lstUuids.last(),
                                     QStringLiteral("2018-01-01 10:00:0%1").arg(i),
                                     QStringLiteral("text %1").arg(i))));
    }
    for (QNetworkReply *pReply : lstReplies)
        QCOMPARE(wait(pReply).error(), QString());
    QCOMPARE(post(QStringLiteral("replace_note_item"),
                  auth(other,
                       note(newUuid(), QStringLiteral("2018-01-01 10:00:00"), QStringLiteral("x"))))
                 .error(),
             QString());

    // Walked down in pages of three: every note once, the latest change first.
    a = changes(m_server, user, {{QStringLiteral("limit"), 3}});
    const qint64 nLast = number(a, "last_change");
    QCOMPARE(nLast, 7);
    QCOMPARE(number(a, "remaining"), 7);
    QStringList lstSeen = uuidsOf(a);
    QCOMPARE(lstSeen.size(), 3);
    // Texts come only when asked for, and only up to the size asked for.
    QVERIFY(!a.notes().at(0).toObject().contains(QStringLiteral("content")));
    qint64 nBefore = number(a, "before");
    QVERIFY(nBefore > 0);
    while (nBefore > 0) {
        a = changes(m_server,
                    user,
                    {{QStringLiteral("limit"), 3},
                     {QStringLiteral("before"), nBefore},
                     {QStringLiteral("content_limit"), 6}});
        QCOMPARE(a.error(), QString());
        for (const QJsonValue &v : a.notes())
            QCOMPARE(v.toObject().value(QStringLiteral("content")).toString(),
                     QStringLiteral("text ")
                         + v.toObject().value(QStringLiteral("title")).toString().right(1));
        lstSeen << uuidsOf(a);
        QVERIFY(number(a, "before") == 0 || number(a, "before") < nBefore);
        nBefore = number(a, "before");
    }
    QCOMPARE(QSet<QString>(lstSeen.cbegin(), lstSeen.cend()).size(), 7);
    QCOMPARE(QSet<QString>(lstSeen.cbegin(), lstSeen.cend()),
             QSet<QString>(lstUuids.cbegin(), lstUuids.cend()));
    a = changes(m_server, user, {{QStringLiteral("content_limit"), 5}});
    for (const QJsonValue &v : a.notes())
        QVERIFY(!v.toObject().contains(QStringLiteral("content")));

    // After the cursor: an edit, a deletion; a change the service does not take (older)
    // moves nothing.
    QCOMPARE(post(QStringLiteral("replace_note_item"),
                  auth(user,
                       note(lstUuids.at(0),
                            QStringLiteral("2018-02-01 10:00:00"),
                            QStringLiteral("edited"))))
                 .error(),
             QString());
    QCOMPARE(post(QStringLiteral("update_note_item"),
                  auth(user,
                       {{QStringLiteral("uuid"), lstUuids.at(1)},
                        {QStringLiteral("deleted"), 1},
                        {QStringLiteral("updated_at"), QStringLiteral("2018-02-01 10:00:00")}}))
                 .error(),
             QString());
    const CAnswer older = post(QStringLiteral("replace_note_item"),
                               auth(user,
                                    note(lstUuids.at(2),
                                         QStringLiteral("2017-01-01 10:00:00"),
                                         QStringLiteral("stale"))));
    QCOMPARE(older.m_obj.value(QStringLiteral("applied")).toBool(), false);
    a = changes(m_server, user, {{QStringLiteral("cursor"), nLast}});
    QCOMPARE(number(a, "remaining"), 2);
    QCOMPARE(uuidsOf(a), (QStringList{lstUuids.at(1), lstUuids.at(0)}));
    QCOMPARE(a.notes().at(0).toObject().value(QStringLiteral("deleted")).toInt(), 1);
    QVERIFY(number(a, "last_change") > nLast);
    // The answer names the note of its latest change, with its number: sent back, they
    // tell whether the history is still the one followed. A note whose number is now lower
    // than named, or that the account does not hold, means the database was put back.
    // (PostgreSQL numbers a write that it then does not make, the older one above: the
    // latest number may belong to no note.)
    const qint64 nLatest = number(a, "last_change");
    const qint64 nCheck = number(a, "check_change");
    QCOMPARE(a.m_obj.value(QStringLiteral("check_uuid")).toString(), lstUuids.at(1));
    QVERIFY2(nCheck > nLast && nCheck <= nLatest, qPrintable(QString::number(nCheck)));
    auto restored = [&](const QString &strUuid, qint64 nChange) {
        const CAnswer answer = changes(m_server,
                                       user,
                                       {{QStringLiteral("cursor"), nLatest},
                                        {QStringLiteral("check_uuid"), strUuid},
                                        {QStringLiteral("check_change"), nChange}});
        return answer.error().isEmpty() ? answer.m_obj.value(QStringLiteral("restored")).toBool()
                                        : QVariant(answer.error());
    };
    QCOMPARE(restored(lstUuids.at(1), nCheck), QVariant(false));
    QCOMPARE(restored(lstUuids.at(1).toUpper(), nCheck - 1), QVariant(false));
    QCOMPARE(restored(lstUuids.at(1), nCheck + 1), QVariant(true));
    QCOMPARE(restored(newUuid(), 1), QVariant(true));
    // Up to date: nothing.
    a = changes(m_server, user, {{QStringLiteral("cursor"), number(a, "last_change")}});
    QCOMPARE(a.notes().size(), 0);
    QCOMPARE(number(a, "remaining"), 0);

    // The other account sees only its own note.
    QCOMPARE(changes(m_server, other).notes().size(), 1);

    // Bad fields are said.
    for (const QVariantMap &map : {QVariantMap{{QStringLiteral("cursor"), QStringLiteral("-1")}},
                                   QVariantMap{{QStringLiteral("before"), QStringLiteral("x")}},
                                   QVariantMap{{QStringLiteral("limit"), 0}},
                                   QVariantMap{{QStringLiteral("limit"), 501}},
                                   QVariantMap{{QStringLiteral("content_limit"), -5}},
                                   QVariantMap{{QStringLiteral("check_uuid"), QStringLiteral("x")}},
                                   QVariantMap{{QStringLiteral("check_change"), -1}}})
        QVERIFY2(!changes(m_server, user, map).error().isEmpty(), qPrintable(map.firstKey()));
    QCOMPARE(post(QStringLiteral("get_note_changes"), {{QStringLiteral("user_id"), user.m_nId}})
                 .error(),
             g_strTokenWrong);
}

void TestServer::changeSequenceOfOlderDatabase_data()
{
    // Statements that make the database of the current version into the one to open.
    QTest::addColumn<QStringList>("older");
    const QStringList lstBefore = {QStringLiteral("DROP TRIGGER note_change_insert"),
                                   QStringLiteral("DROP TRIGGER note_change_update"),
                                   QStringLiteral("DROP INDEX note_user_change"),
                                   QStringLiteral("ALTER TABLE note DROP COLUMN change_seq"),
                                   QStringLiteral("ALTER TABLE users DROP COLUMN note_seq")};
    QTest::newRow("from before the change sequence") << lstBefore;
    // Upgrades that a power loss or a kill cut short: each step of the numbering used to
    // be committed on its own.
    QTest::newRow("cut short after the notes' column was added")
        << lstBefore
               + QStringList{QStringLiteral("ALTER TABLE note ADD COLUMN change_seq INTEGER")};
    QTest::newRow("cut short before the accounts' counters were set")
        << QStringList{QStringLiteral("UPDATE users SET note_seq = 0")};
}

void TestServer::changeSequenceOfOlderDatabase()
{
    if (!m_strPgDbName.isEmpty())
        QSKIP("The older database is made from an SQLite file.");
    QFETCH(QStringList, older);
    // A database of a service from before the change sequence: its notes are numbered in
    // the order they arrived, and the next write follows them.
    const QString strPath = m_dir.filePath(
        QStringLiteral("older-%1.db").arg(QString::fromLatin1(QTest::currentDataTag())));
    CServer server;
    QVERIFY(server.start(QStringLiteral("sqlite:") + strPath));
    CUser user = registerAt(server, QStringLiteral("older"));
    const QStringList lstUuids{newUuid(), newUuid()};
    for (const QString &strUuid : lstUuids)
        QCOMPARE(post(server,
                      QStringLiteral("replace_note_item"),
                      auth(user,
                           note(strUuid, QStringLiteral("2018-05-05 10:00:00"), QStringLiteral("t"))))
                     .error(),
                 QString());
    server.stop();
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"),
                                                    QStringLiteral("older"));
        db.setDatabaseName(strPath);
        QVERIFY(db.open());
        QSqlQuery query(db);
        // Earlier versions left no mark of their numbering.
        for (const QString &strSql :
             older + QStringList{QStringLiteral("DELETE FROM service_meta WHERE key = 'changes'")})
            QVERIFY2(query.exec(strSql), qPrintable(query.lastError().text()));
        query.finish();
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("older"));
    QVERIFY2(server.start(QStringLiteral("sqlite:") + strPath), server.stderrText().constData());
    user = loginAt(server, QStringLiteral("older"));
    CAnswer a = changes(server, user);
    QCOMPARE(a.error(), QString());
    QCOMPARE(a.notes().size(), 2);
    QCOMPARE(a.notes().at(0).toObject().value(QStringLiteral("uuid")).toString(), lstUuids.at(1));
    const qint64 nLast = qint64(a.m_obj.value(QStringLiteral("last_change")).toDouble());
    QVERIFY(nLast >= 2);
    QCOMPARE(post(server,
                  QStringLiteral("replace_note_item"),
                  auth(user,
                       note(lstUuids.at(0),
                            QStringLiteral("2018-05-06 10:00:00"),
                            QStringLiteral("u"))))
                 .error(),
             QString());
    a = changes(server, user, {{QStringLiteral("cursor"), nLast}});
    QCOMPARE(a.notes().size(), 1);
    QCOMPARE(a.notes().at(0).toObject().value(QStringLiteral("uuid")).toString(), lstUuids.at(0));
    // Every note has a number of its own.
    a = changes(server, user);
    QCOMPARE(a.notes().size(), 2);
    QCOMPARE(a.notes().at(0).toObject().value(QStringLiteral("uuid")).toString(), lstUuids.at(0));
    QCOMPARE(server.stop(), 0);
}

// A database of a service that held each UUID once across all accounts, as sent: it opens
// with its notes, ids, search and change numbers; its UUIDs are found in any form, and
// another account may now use one.
void TestServer::uuidsOfOlderDatabase()
{
    if (!m_strPgDbName.isEmpty())
        QSKIP("The older database is made from an SQLite file.");
    const QString strPath = m_dir.filePath(QStringLiteral("older-uuids.db"));
    CServer server;
    QVERIFY(server.start(QStringLiteral("sqlite:") + strPath));
    CUser first = registerAt(server, QStringLiteral("first"));
    CUser second = registerAt(server, QStringLiteral("second"));
    const QString strUuid = newUuid();
    CAnswer a = post(server,
                     QStringLiteral("replace_note_item"),
                     auth(first,
                          note(strUuid,
                               QStringLiteral("2018-05-05 10:00:00"),
                               QStringLiteral("kelp forest"))));
    QCOMPARE(a.error(), QString());
    const int nFirstId = a.m_obj.value(QStringLiteral("note_id")).toInt();
    const qint64 nLast = qint64(
        changes(server, first).m_obj.value(QStringLiteral("last_change")).toDouble());
    server.stop();
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"),
                                                    QStringLiteral("older-uuids"));
        db.setDatabaseName(strPath);
        QVERIFY(db.open());
        QSqlQuery query(db);
        QVERIFY(query.exec(QStringLiteral("SELECT sql FROM sqlite_master WHERE name = 'note'")));
        QVERIFY(query.next());
        QString strSql = query.value(0).toString();
        query.finish();
        QVERIFY(strSql.contains(QLatin1String(" uuid TEXT,")));
        strSql.replace(QLatin1String(" uuid TEXT,"), QLatin1String(" uuid TEXT UNIQUE,"));
        strSql.replace(QLatin1String("CREATE TABLE note ("),
                       QLatin1String("CREATE TABLE note_old ("));
        for (const QString &strStep : {strSql,
                                       QStringLiteral("INSERT INTO note_old SELECT * FROM note"),
                                       QStringLiteral("DROP TABLE note"),
                                       QStringLiteral("ALTER TABLE note_old RENAME TO note")})
            QVERIFY2(query.exec(strStep), qPrintable(query.lastError().text()));
        // Older versions kept UUIDs as they were sent.
        QVERIFY(query.exec(QStringLiteral("DELETE FROM service_meta WHERE key = 'uuids'")));
        query.prepare(QStringLiteral("UPDATE note SET uuid = ? WHERE id = ?"));
        query.addBindValue(strUuid.mid(1, 36).toUpper());
        query.addBindValue(nFirstId);
        QVERIFY2(query.exec(), qPrintable(query.lastError().text()));
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("older-uuids"));

    QVERIFY(server.start(QStringLiteral("sqlite:") + strPath));
    first = loginAt(server, QStringLiteral("first"));
    second = loginAt(server, QStringLiteral("second"));
    a = post(server,
             QStringLiteral("replace_note_item"),
             auth(second,
                  note(strUuid, QStringLiteral("2018-05-06 10:00:00"), QStringLiteral("kelp too"))));
    QCOMPARE(a.error(), QString());
    QVERIFY(a.m_obj.value(QStringLiteral("note_id")).toInt() > nFirstId);
    // Both notes are found by what they say, each by its own account.
    for (const auto &user : {qMakePair(first, QStringLiteral("kelp forest")),
                             qMakePair(second, QStringLiteral("kelp too"))}) {
        const QJsonArray arr
            = post(server,
                   QStringLiteral("get_note_list_by_offset"),
                   auth(user.first, {{QStringLiteral("search_string"), QStringLiteral("KELP")}}))
                  .notes();
        QCOMPARE(arr.size(), 1);
        QCOMPARE(arr.at(0).toObject().value(QStringLiteral("content")).toString(), user.second);
    }
    // The first account's note keeps its id, and its changes go on being numbered.
    a = post(server,
             QStringLiteral("replace_note_item"),
             auth(first,
                  note(strUuid,
                       QStringLiteral("2018-05-07 10:00:00"),
                       QStringLiteral("kelp again"))));
    QCOMPARE(a.m_obj.value(QStringLiteral("note_id")).toInt(), nFirstId);
    QCOMPARE(a.m_obj.value(QStringLiteral("applied")).toBool(), true);
    a = changes(server, first, {{QStringLiteral("cursor"), nLast}});
    QCOMPARE(a.notes().size(), 1);
    QCOMPARE(a.notes().at(0).toObject().value(QStringLiteral("md5")).toString(),
             md5Hex(QStringLiteral("kelp again")));
}

QTEST_GUILESS_MAIN(TestServer)
#include "tst_server.moc"
