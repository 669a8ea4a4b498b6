#include "httpfixture.h"
#include "threadpost.h"

#include <QJsonDocument>
#include <QJsonParseError>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

// Results come from the worker thread; this relay on the test thread receives them queued,
// so the spy is only ever touched on the test thread.
class ResultRelay : public QObject
{
    Q_OBJECT
signals:
    void received(QVariant);
};

class TestThreadPost : public QObject
{
    Q_OBJECT

private:
    HttpFixture *m_pServer = nullptr;
    std::unique_ptr<CThreadPost> m_pPost;
    std::unique_ptr<ResultRelay> m_pRelay;
    std::unique_ptr<QSignalSpy> m_pSpy;

    QString post(const QString &strEndpoint,
                 const QVariantMap &mapData,
                 const QString &strType = QStringLiteral("post"))
    {
        QVariantMap mapRequest;
        mapRequest.insert(QStringLiteral("type"), strType);
        mapRequest.insert(QStringLiteral("url"), strEndpoint);
        mapRequest.insert(QStringLiteral("data"), mapData);
        mapRequest.insert(QStringLiteral("base_url"), m_pServer->baseUrl());
        return m_pPost->addRequest(mapRequest);
    }
    QVariantMap result(int i) const { return m_pSpy->at(i).at(0).toMap(); }

    static QByteArray userAgent()
    {
        return "Mozilla/5.0 (Windows; U; Windows NT 5.1; ru; rv:1.9.1.3) Gecko/20090824 "
               "Firefox/3.5.3 (.NET CLR 3.5.30729)";
    }

private slots:
    void initTestCase()
    {
        // The failure log line is part of the behaviour under test.
        QLoggingCategory::setFilterRules(QStringLiteral("kelpo.*.debug=true"));
    }

    void init()
    {
        m_pServer = new HttpFixture;
        QVERIFY(m_pServer->listen());
        m_pPost = std::make_unique<CThreadPost>();
        m_pRelay = std::make_unique<ResultRelay>();
        connect(m_pPost.get(), &CThreadPost::dataReceived, m_pRelay.get(), &ResultRelay::received);
        m_pSpy = std::make_unique<QSignalSpy>(m_pRelay.get(), &ResultRelay::received);
        m_pPost->startThread();
    }

    void cleanup()
    {
        m_pPost->stopAndWait(10000);
        QCOMPARE(m_pPost->liveReplyCount(), 0);
        m_pPost.reset();
        m_pSpy.reset();
        m_pRelay.reset();
        delete m_pServer;
        m_pServer = nullptr;
    }

    void defaults()
    {
        QCOMPARE(m_pPost->transferTimeout(), 30000);
        QCOMPARE(m_pPost->maxReplySize(), qint64(64) * 1024 * 1024);
    }

    void wireFormat_data()
    {
        QTest::addColumn<QVariantMap>("data");
        QTest::addColumn<QList<QByteArray>>("fields");

        QVariantMap mapLogin;
        mapLogin.insert(QStringLiteral("name"), QStringLiteral("ann"));
        mapLogin.insert(QStringLiteral("pwd"), QStringLiteral("0cc175b9c0f1b6a831c399e269772661"));
        mapLogin.insert(QStringLiteral("login_from"), QStringLiteral("OTHER_3_0"));
        mapLogin.insert(QStringLiteral("lang"), QStringLiteral("zh_cn"));
        QTest::newRow("parts sorted by name")
            << mapLogin
            << QList<QByteArray>{"lang=zh_cn",
                                 "login_from=OTHER_3_0",
                                 "name=ann",
                                 "pwd=0cc175b9c0f1b6a831c399e269772661"};

        QVariantMap mapValues;
        mapValues.insert(QStringLiteral("title"), QStringLiteral("春节日记 \u65e5\u8a18"));
        mapValues.insert(QStringLiteral("deleted"), 1);
        mapValues.insert(QStringLiteral("offset"), qlonglong(-4200000000LL));
        mapValues.insert(QStringLiteral("is_sync"), true);
        mapValues.insert(QStringLiteral("content"), QStringLiteral("<p>a \"quoted\"\r\nline</p>"));
        mapValues.insert(QStringLiteral("Zeta"), QString());
        QTest::newRow("values as UTF-8 text")
            << mapValues
            << QList<QByteArray>{"Zeta=",
                                 "content=<p>a \"quoted\"\r\nline</p>",
                                 "deleted=1",
                                 "is_sync=true",
                                 "offset=-4200000000",
                                 "title=" + QStringLiteral("春节日记 \u65e5\u8a18").toUtf8()};

        QTest::newRow("no fields") << QVariantMap() << QList<QByteArray>();
    }

    void wireFormat()
    {
        QFETCH(QVariantMap, data);
        QFETCH(QList<QByteArray>, fields);
        m_pServer->responder = [](const HttpRequest &) {
            return HttpFixture::reply(200, "{\"result\":\"success\"}");
        };

        const QString strUuid = post(QStringLiteral("get_note_item"), data);
        QTRY_COMPARE(m_pSpy->count(), 1);
        QCOMPARE(m_pServer->requests.size(), 1);
        const HttpRequest &request = m_pServer->requests.at(0);

        QCOMPARE(request.method, QByteArray("POST"));
        QCOMPARE(request.path, QByteArray("/mobile/get_note_item"));
        QCOMPARE(request.header("Connection"), QByteArray("close"));
        QCOMPARE(request.headerCount("Connection"), 1);
        QCOMPARE(request.header("User-Agent"), userAgent());
        QVERIFY2(request.header("Content-Type").startsWith("multipart/form-data; boundary="),
                 request.header("Content-Type").constData());
        QVERIFY(!request.boundary().isEmpty());

        const QList<HttpPart> parts = request.parts();
        QCOMPARE(parts.size(), fields.size());
        QCOMPARE(request.fields(), fields);
        for (const HttpPart &part : parts) {
            // One header per part, and it is the disposition.
            QCOMPARE(part.headerLines.size(), 1);
            const QByteArray name = part.headerLines.at(0).mid(part.headerLines.at(0).indexOf('"'));
            QCOMPARE(part.headerLines.at(0), "Content-Disposition: form-data; name=" + name);
            QVERIFY(name.endsWith('"'));
        }
        if (fields.isEmpty())
            QVERIFY(request.body.contains("--" + request.boundary() + "--"));

        const QVariantMap mapResult = result(0);
        QCOMPARE(mapResult.keys(), (QStringList{QStringLiteral("result"), QStringLiteral("uuid")}));
        QCOMPARE(mapResult.value(QStringLiteral("uuid")).toString(), strUuid);
        QVariantMap mapExpected;
        mapExpected.insert(QStringLiteral("result"), QStringLiteral("success"));
        QCOMPARE(mapResult.value(QStringLiteral("result")).toMap(), mapExpected);
    }

    void baseUrlGetsSlash()
    {
        m_pServer->responder = [](const HttpRequest &) { return HttpFixture::reply(200, "[]"); };
        QVariantMap mapRequest;
        mapRequest.insert(QStringLiteral("type"), QStringLiteral("post"));
        mapRequest.insert(QStringLiteral("url"), QStringLiteral("login"));
        QString strBase = m_pServer->baseUrl();
        strBase.chop(1);
        mapRequest.insert(QStringLiteral("base_url"), strBase);
        m_pPost->addRequest(mapRequest);
        QTRY_COMPARE(m_pSpy->count(), 1);
        QCOMPARE(m_pServer->requests.at(0).path, QByteArray("/mobile/login"));
        QCOMPARE(CThreadPost::normalizedBaseUrl(QString()),
                 QStringLiteral("http://127.0.0.1:8420/mobile/"));
    }

    // What the caller gets for each kind of answer: exactly one of "result" and "error".
    void answers_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("contentType");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QVariant>("expectedResult"); // invalid: an error is expected
        QTest::addColumn<QString>("expectedError");   // empty: any non-empty text
        QTest::addColumn<bool>("logged");

        QVariantMap mapObject;
        mapObject.insert(QStringLiteral("user_id"), 12.0);
        mapObject.insert(QStringLiteral("login_token"), QStringLiteral("t\u00f6ken"));
        mapObject.insert(QStringLiteral("notes"), QVariantList{QVariantMap()});
        QTest::newRow("JSON object")
            << 200 << QByteArray("application/json; charset=utf-8")
            << QStringLiteral("{\"user_id\":12,\"login_token\":\"t\u00f6ken\",\"notes\":[{}]}")
                   .toUtf8()
            << QVariant(mapObject) << QString() << false;

        QTest::newRow("JSON array")
            << 200 << QByteArray("application/json") << QByteArray("[1,\"two\",{\"a\":true}]")
            << QVariant(QVariantList{1.0,
                                     QStringLiteral("two"),
                                     QVariantMap{{QStringLiteral("a"), true}}})
            << QString() << false;

        QTest::newRow("empty JSON object")
            << 200 << QByteArray("application/json") << QByteArray("{}") << QVariant(QVariantMap())
            << QString() << false;

        const QByteArray html = "<html><body>502 Bad Gateway</body></html>";
        QJsonParseError parseError;
        QJsonDocument::fromJson(html, &parseError);
        QTest::newRow("HTML") << 200 << QByteArray("text/html") << html << QVariant()
                              << parseError.errorString() << true;

        QTest::newRow("empty body")
            << 200 << QByteArray("application/json") << QByteArray() << QVariant()
            << QStringLiteral("The note service sent an empty answer.") << true;

        QTest::newRow("status 500")
            << 500 << QByteArray("application/json") << QByteArray("{\"error\":\"boom\"}")
            << QVariant() << QString() << true;

        QTest::newRow("status 404") << 404 << QByteArray("text/plain") << QByteArray("nope")
                                    << QVariant() << QString() << true;

        // A redirect whose body looks like a login is not a login.
        QTest::newRow("status 302 with a JSON body")
            << 302 << QByteArray("application/json")
            << QByteArray("{\"user_id\":3,\"login_token\":\"t\"}") << QVariant()
            << QStringLiteral("The note service answered with a redirect (HTTP 302) to '': "
                              "check the service address.")
            << true;
    }

    void answers()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, contentType);
        QFETCH(QByteArray, body);
        QFETCH(QVariant, expectedResult);
        QFETCH(QString, expectedError);
        QFETCH(bool, logged);

        m_pServer->responder = [=](const HttpRequest &) {
            return HttpFixture::reply(status, body, contentType);
        };
        if (logged)
            QTest::ignoreMessage(QtWarningMsg,
                                 QRegularExpression(
                                     QStringLiteral("^onReplyFinished mapReturn: ")));
        const QString strUuid = post(QStringLiteral("login"), QVariantMap());
        QTRY_COMPARE(m_pSpy->count(), 1);
        const QVariantMap mapResult = result(0);
        QCOMPARE(mapResult.value(QStringLiteral("uuid")).toString(), strUuid);
        QCOMPARE(mapResult.size(), 2);
        if (expectedResult.isValid()) {
            QVERIFY(!mapResult.contains(QStringLiteral("error")));
            QCOMPARE(mapResult.value(QStringLiteral("result")), expectedResult);
        } else {
            QVERIFY(!mapResult.contains(QStringLiteral("result")));
            const QString strError = mapResult.value(QStringLiteral("error")).toString();
            QVERIFY(!strError.isEmpty());
            if (!expectedError.isEmpty())
                QCOMPARE(strError, expectedError);
        }
        QTRY_COMPARE(m_pPost->liveReplyCount(), 0);
    }

    void twoInFlightAnsweredInReverse()
    {
        // Both are held: the second must be posted without waiting for the first answer.
        const QString strFirst = post(QStringLiteral("first"), QVariantMap());
        const QString strSecond = post(QStringLiteral("second"), QVariantMap());
        QVERIFY(strFirst != strSecond);
        QTRY_COMPARE(m_pServer->requests.size(), 2);
        QCOMPARE(m_pSpy->count(), 0);
        const int nFirst = m_pServer->requests.at(0).path.endsWith("first") ? 0 : 1;

        m_pServer->answer(1 - nFirst, HttpFixture::reply(200, "{\"n\":2}"));
        QTRY_COMPARE(m_pSpy->count(), 1);
        m_pServer->answer(nFirst, HttpFixture::reply(200, "{\"n\":1}"));
        QTRY_COMPARE(m_pSpy->count(), 2);

        QCOMPARE(result(0).value(QStringLiteral("uuid")).toString(), strSecond);
        QCOMPARE(result(0).value(QStringLiteral("result")).toMap().value(QStringLiteral("n")), 2.0);
        QCOMPARE(result(1).value(QStringLiteral("uuid")).toString(), strFirst);
        QCOMPARE(result(1).value(QStringLiteral("result")).toMap().value(QStringLiteral("n")), 1.0);
        QTRY_COMPARE(m_pPost->liveReplyCount(), 0);
    }

    void silentServiceTimesOut()
    {
        m_pPost->setTransferTimeout(1000);
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression(QStringLiteral("^onReplyFinished mapReturn: ")));
        const QString strUuid = post(QStringLiteral("login"), QVariantMap());
        QTRY_COMPARE(m_pServer->requests.size(), 1);
        QTRY_COMPARE(m_pSpy->count(), 1);
        const QVariantMap mapResult = result(0);
        QCOMPARE(mapResult.value(QStringLiteral("uuid")).toString(), strUuid);
        QVERIFY(!mapResult.contains(QStringLiteral("result")));
        QVERIFY2(mapResult.value(QStringLiteral("error"))
                     .toString()
                     .contains(QStringLiteral("did not answer")),
                 qPrintable(mapResult.value(QStringLiteral("error")).toString()));
        QCOMPARE(mapResult.value(QStringLiteral("network_error")), QVariant(true));
        QTRY_COMPARE(m_pPost->liveReplyCount(), 0);
    }

    // More requests than the transport sends at once, to a slow service: each is timed from
    // its sending, so none runs out of time while it waits its turn, and no more than the
    // transport's share are out at once.
    void requestsAreTimedFromTheirSending()
    {
        m_pPost->setTransferTimeout(2500);
        m_pPost->setOverallTimeout(2500);
        int nOpen = 0;
        int nMostOpen = 0;
        m_pServer->responder = [&](const HttpRequest &) {
            const int nIndex = m_pServer->requests.size() - 1;
            nMostOpen = qMax(nMostOpen, ++nOpen);
            QTimer::singleShot(600, this, [&, nIndex] {
                --nOpen;
                m_pServer->answer(nIndex, HttpFixture::reply(200, "{\"ok\":1}"));
            });
            return HttpFixture::hold();
        };
        const int nRequests = 5 * CThreadPost::kMaxInFlight;
        for (int i = 0; i < nRequests; ++i)
            post(QStringLiteral("get_note_item"), QVariantMap{{QStringLiteral("n"), i}});
        QTRY_COMPARE_WITH_TIMEOUT(m_pSpy->count(), nRequests, 60000);
        for (int i = 0; i < nRequests; ++i)
            QVERIFY2(result(i).contains(QStringLiteral("result")),
                     qPrintable(result(i).value(QStringLiteral("error")).toString()));
        QVERIFY2(nMostOpen <= CThreadPost::kMaxInFlight, qPrintable(QString::number(nMostOpen)));
        QTRY_COMPARE(m_pPost->liveReplyCount(), 0);
    }

    // An answer that drips in, a byte now and then, is cut off when its time is up.
    void drippingAnswerIsCutOff()
    {
        m_pPost->setTransferTimeout(1000);
        m_pPost->setOverallTimeout(1500);
        m_pServer->responder = [&](const HttpRequest &) {
            HttpAnswer ans = HttpFixture::reply(200, QByteArray(1000, ' '));
            ans.data.chop(1000);
            ans.bClose = false;
            return ans;
        };
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression(QStringLiteral("^onReplyFinished mapReturn: ")));
        const QString strUuid = post(QStringLiteral("login"), QVariantMap());
        QTRY_COMPARE(m_pServer->requests.size(), 1);
        QTimer drip;
        connect(&drip, &QTimer::timeout, this, [&] {
            m_pServer->answer(0, HttpAnswer{" ", false, false});
        });
        drip.start(200);
        QTRY_COMPARE_WITH_TIMEOUT(m_pSpy->count(), 1, 20000);
        drip.stop();
        QCOMPARE(result(0).value(QStringLiteral("uuid")).toString(), strUuid);
        QCOMPARE(result(0).value(QStringLiteral("error")).toString(),
                 QStringLiteral("The note service did not finish its answer within 1.5 s."));
        QTRY_COMPARE(m_pPost->liveReplyCount(), 0);
    }

    // An answer that keeps coming, slowly, is not cut off by the time-out.
    void slowAnswerWithinTimeout()
    {
        m_pPost->setTransferTimeout(2000);
        const QByteArray body = "{\"notes\":[]}          ";
        m_pServer->responder = [&](const HttpRequest &) {
            HttpAnswer ans = HttpFixture::reply(200, body);
            ans.data.chop(body.size());
            ans.bClose = false;
            return ans;
        };
        post(QStringLiteral("login"), QVariantMap());
        QTRY_COMPARE(m_pServer->requests.size(), 1);
        // Each byte comes well within the time-out; the whole takes longer than it.
        int nSent = 0;
        QTimer drip;
        connect(&drip, &QTimer::timeout, this, [&] {
            ++nSent;
            m_pServer->answer(0, HttpAnswer{body.mid(nSent - 1, 1), nSent == body.size(), false});
            if (nSent == body.size())
                drip.stop();
        });
        drip.start(150);
        QTRY_COMPARE_WITH_TIMEOUT(m_pSpy->count(), 1, 20000);
        QCOMPARE(nSent, body.size());
        QVERIFY2(result(0).contains(QStringLiteral("result")),
                 qPrintable(result(0).value(QStringLiteral("error")).toString()));
    }

    void refusedConnection()
    {
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
        const quint16 nPort = closed.serverPort();
        closed.close();

        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression(QStringLiteral("^onReplyFinished mapReturn: ")));
        QVariantMap mapRequest;
        mapRequest.insert(QStringLiteral("type"), QStringLiteral("post"));
        mapRequest.insert(QStringLiteral("url"), QStringLiteral("login"));
        mapRequest.insert(QStringLiteral("base_url"),
                          QStringLiteral("http://127.0.0.1:%1/mobile/").arg(nPort));
        const QString strUuid = m_pPost->addRequest(mapRequest);
        QTRY_COMPARE(m_pSpy->count(), 1);
        const QVariantMap mapResult = result(0);
        QCOMPARE(mapResult.value(QStringLiteral("uuid")).toString(), strUuid);
        QVERIFY(!mapResult.value(QStringLiteral("error")).toString().isEmpty());
        // The service cannot be reached: a later attempt may succeed.
        QCOMPARE(mapResult.value(QStringLiteral("network_error")), QVariant(true));
        QCOMPARE(mapResult.size(), 3);
    }

    void connectionClosedWithoutAnswer()
    {
        m_pServer->responder = [](const HttpRequest &) {
            return HttpAnswer{QByteArray(), true, false};
        };
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression(QStringLiteral("^onReplyFinished mapReturn: ")));
        post(QStringLiteral("login"), QVariantMap());
        QTRY_COMPARE(m_pSpy->count(), 1);
        QVERIFY(!result(0).value(QStringLiteral("error")).toString().isEmpty());
        QVERIFY(!result(0).contains(QStringLiteral("result")));
    }

    // Oversized answers are refused as soon as their size shows, not when they end: the
    // server below never finishes any of them.
    void oversizedAnswer_data()
    {
        QTest::addColumn<bool>("announced");
        QTest::newRow("announced length") << true;
        QTest::newRow("chunked, length not announced") << false;
    }

    void oversizedAnswer()
    {
        QFETCH(bool, announced);
        m_pPost->setMaxReplySize(1000);
        m_pServer->responder = [=](const HttpRequest &) {
            QByteArray data = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n";
            if (announced)
                data += "Content-Length: 1073741824\r\n\r\n[";
            else
                data += "Transfer-Encoding: chunked\r\n\r\nfa0\r\n[" + QByteArray(3999, '1')
                        + "\r\n";
            return HttpAnswer{data, false, false};
        };
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression(QStringLiteral("^onReplyFinished mapReturn: ")));
        const QString strUuid = post(QStringLiteral("get_note_list_by_offset"), QVariantMap());
        QTRY_COMPARE(m_pSpy->count(), 1);
        const QVariantMap mapResult = result(0);
        QCOMPARE(mapResult.value(QStringLiteral("uuid")).toString(), strUuid);
        QVERIFY(!mapResult.contains(QStringLiteral("result")));
        QVERIFY2(mapResult.value(QStringLiteral("error"))
                     .toString()
                     .contains(QStringLiteral("larger than")),
                 qPrintable(mapResult.value(QStringLiteral("error")).toString()));
        QTRY_COMPARE(m_pPost->liveReplyCount(), 0);
    }

    void answerAtSizeLimit()
    {
        const QByteArray body = "[" + QByteArray(998, ' ') + "]";
        m_pPost->setMaxReplySize(body.size());
        m_pServer->responder = [=](const HttpRequest &) { return HttpFixture::reply(200, body); };
        post(QStringLiteral("login"), QVariantMap());
        QTRY_COMPARE(m_pSpy->count(), 1);
        QCOMPARE(result(0).value(QStringLiteral("result")), QVariant(QVariantList()));
    }

    void onlyPostIsSent_data()
    {
        QTest::addColumn<QString>("type");
        QTest::newRow("Post") << QStringLiteral("Post");
        QTest::newRow("get") << QStringLiteral("get");
        QTest::newRow("empty") << QString();
    }

    void onlyPostIsSent()
    {
        QFETCH(QString, type);
        m_pServer->responder = [](const HttpRequest &) { return HttpFixture::reply(200, "{}"); };
        post(QStringLiteral("dropped"), QVariantMap(), type);
        const QString strUuid = post(QStringLiteral("sent"), QVariantMap());
        QTRY_COMPARE(m_pSpy->count(), 1);
        // Requests run in queue order: the dropped one has been seen by now.
        QCOMPARE(m_pServer->requests.size(), 1);
        QCOMPARE(m_pServer->requests.at(0).path, QByteArray("/mobile/sent"));
        QCOMPARE(result(0).value(QStringLiteral("uuid")).toString(), strUuid);
    }

    void manyRequestsAreReleased()
    {
        m_pServer->responder = [](const HttpRequest &) { return HttpFixture::reply(200, "{}"); };
        QStringList listUuid;
        for (int i = 0; i < 20; ++i)
            listUuid.append(post(QStringLiteral("get_note_list_by_month"), QVariantMap()));
        QTRY_COMPARE(m_pSpy->count(), 20);
        QStringList listResult;
        for (int i = 0; i < 20; ++i)
            listResult.append(result(i).value(QStringLiteral("uuid")).toString());
        listUuid.sort();
        listResult.sort();
        QCOMPARE(listResult, listUuid);
        QTRY_COMPARE(m_pPost->liveReplyCount(), 0);
    }

    void stopWithRequestInFlight()
    {
        post(QStringLiteral("login"), QVariantMap());
        QTRY_COMPARE(m_pServer->requests.size(), 1);
        QElapsedTimer timer;
        timer.start();
        m_pPost->stopAndWait(10000);
        QVERIFY(timer.elapsed() < 9000); // not held up by the answer that never comes
        QCOMPARE(m_pPost->liveReplyCount(), 0);
        m_pServer->answer(0, HttpFixture::reply(200, "{}"));
        QCoreApplication::processEvents();
        QCOMPARE(m_pSpy->count(), 0);
    }
};

QTEST_GUILESS_MAIN(TestThreadPost)
#include "tst_threadpost.moc"
