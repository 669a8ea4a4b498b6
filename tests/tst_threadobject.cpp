#include "threadobject.h"

#include <QMutex>
#include <QRegularExpression>
#include <QTimer>
#include <QtTest>

#include <atomic>

namespace {

// A worker that answers each request with its uuid, after "sleep_ms" milliseconds of
// work when the request asks for it.
class CTestWorker : public CThreadObject
{
    Q_OBJECT

public:
    ~CTestWorker() override { stopAndWait(); }

    std::atomic<int> m_nInitialized{0};
    std::atomic<int> m_nReleased{0};
    std::atomic<int> m_nStarted{0};
    std::atomic<int> m_nFinished{0};
    std::atomic<int> m_nPasses{0};
    std::atomic<int> m_nKept{-1};

protected:
    void initialize() override { ++m_nInitialized; }
    void release() override { ++m_nReleased; }
    bool isReady() override
    {
        ++m_nPasses;
        return true;
    }
    void processRequest(QVariantMap mapRequest) override
    {
        ++m_nStarted;
        if (const int nSleep = mapRequest.value(QStringLiteral("sleep_ms")).toInt())
            QThread::msleep(static_cast<unsigned long>(nSleep));
        ++m_nFinished;
        emit dataReceived(
            QVariantMap{{QStringLiteral("uuid"), mapRequest.value(QStringLiteral("uuid"))}});
    }
    void keepUnfinished(const QList<QVariantMap> &lstRequests) override
    {
        m_nKept = lstRequests.size();
    }
};

} // namespace

class TestThreadObject : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void requestsRunInQueueOrder();
    void requestsQueuedBeforeStartAreHandled();
    void addRequestGivesFreshUuid();
    void stopFinishesQueuedRequests_data();
    void stopFinishesQueuedRequests();
    void stopHandsOverWhatIsLeftWhenTimeRunsOut();
    void stopAndWaitWaitsForRunningRequest();
    void startThreadOnRunningWorkerStartsNoSecondThread();
    void idleWorkerDeliversItsEvents();
    void idleWorkerDoesNotPoll();

private:
    void collect();

    CTestWorker *m_pWorker = nullptr;
    QStringList m_lstResults;
};

void TestThreadObject::init()
{
    m_pWorker = new CTestWorker;
    m_lstResults.clear();
    connect(m_pWorker, &CThreadObject::dataReceived, this, [this](const QVariant &result) {
        QCOMPARE(QThread::currentThread(), thread());
        m_lstResults << result.toMap().value(QStringLiteral("uuid")).toString();
    });
}

void TestThreadObject::cleanup()
{
    delete m_pWorker;
    m_pWorker = nullptr;
    // Results still on their way belong to this test, not the next.
    QCoreApplication::sendPostedEvents(this);
}

void TestThreadObject::requestsRunInQueueOrder()
{
    m_pWorker->startThread();
    QStringList lstUuids;
    for (int i = 0; i < 200; ++i)
        lstUuids << m_pWorker->addRequest(QVariantMap{{QStringLiteral("n"), i}});
    QTRY_COMPARE(m_lstResults.size(), lstUuids.size());
    QCOMPARE(m_lstResults, lstUuids);
    QCOMPARE(m_pWorker->m_nInitialized.load(), 1);
}

void TestThreadObject::requestsQueuedBeforeStartAreHandled()
{
    const QString strFirst = m_pWorker->addRequest(QVariantMap{{QStringLiteral("n"), 1}});
    const QString strSecond = m_pWorker->addRequest(QVariantMap{{QStringLiteral("n"), 2}});
    m_pWorker->startThread();
    QTRY_COMPARE(m_lstResults, (QStringList{strFirst, strSecond}));
}

void TestThreadObject::addRequestGivesFreshUuid()
{
    const QVariantMap mapRequest{{QStringLiteral("uuid"), QStringLiteral("mine")}};
    const QString strFirst = m_pWorker->addRequest(mapRequest);
    const QString strSecond = m_pWorker->addRequest(mapRequest);
    QCOMPARE(mapRequest.value(QStringLiteral("uuid")).toString(), QStringLiteral("mine"));
    QVERIFY(strFirst != strSecond);
    const QRegularExpression pattern(
        QStringLiteral("^\\{[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}\\}$"));
    QVERIFY2(pattern.match(strFirst).hasMatch(), qPrintable(strFirst));

    m_pWorker->startThread();
    QTRY_COMPARE(m_lstResults, (QStringList{strFirst, strSecond}));
}

void TestThreadObject::stopFinishesQueuedRequests_data()
{
    QTest::addColumn<int>("queued");
    QTest::newRow("none") << 0;
    QTest::newRow("one") << 1;
    QTest::newRow("50") << 50;
    QTest::newRow("200") << 200;
}

// Everything accepted before the stop is handled, in order, before the worker ends.
void TestThreadObject::stopFinishesQueuedRequests()
{
    QFETCH(int, queued);
    m_pWorker->startThread();
    QStringList lstUuids;
    lstUuids << m_pWorker->addRequest(QVariantMap{{QStringLiteral("sleep_ms"), 300}});
    QTRY_COMPARE(m_pWorker->m_nStarted.load(), 1);
    for (int i = 0; i < queued; ++i)
        lstUuids << m_pWorker->addRequest(QVariantMap{{QStringLiteral("sleep_ms"), i % 2}});

    m_pWorker->stopThread();
    QVERIFY(m_pWorker->wait(60000));
    QCOMPARE(m_pWorker->m_nFinished.load(), queued + 1);
    QCOMPARE(m_pWorker->m_nReleased.load(), 1);
    QCOMPARE(m_pWorker->m_nKept.load(), -1);
    QTRY_COMPARE(m_lstResults, lstUuids);
}

// Past the time given to the stop, the running request ends and the rest is handed over.
void TestThreadObject::stopHandsOverWhatIsLeftWhenTimeRunsOut()
{
    m_pWorker->startThread();
    m_pWorker->addRequest(QVariantMap{{QStringLiteral("sleep_ms"), 400}});
    QTRY_COMPARE(m_pWorker->m_nStarted.load(), 1);
    for (int i = 0; i < 5; ++i)
        m_pWorker->addRequest(QVariantMap{{QStringLiteral("sleep_ms"), 400}});

    m_pWorker->stopAndWait(100);
    QVERIFY(m_pWorker->isFinished());
    QCOMPARE(m_pWorker->m_nFinished.load(), m_pWorker->m_nStarted.load());
    QVERIFY(m_pWorker->m_nStarted.load() < 6);
    QCOMPARE(m_pWorker->m_nKept.load(), 6 - m_pWorker->m_nStarted.load());
    QCOMPARE(m_pWorker->m_nReleased.load(), 1);
}

void TestThreadObject::stopAndWaitWaitsForRunningRequest()
{
    m_pWorker->startThread();
    m_pWorker->addRequest(QVariantMap{{QStringLiteral("sleep_ms"), 1500}});
    QTRY_COMPARE(m_pWorker->m_nStarted.load(), 1);

    // The wait runs out long before the request ends; the worker must still be waited for.
    m_pWorker->stopAndWait(20);
    QVERIFY(m_pWorker->isFinished());
    QCOMPARE(m_pWorker->m_nFinished.load(), 1);
    QCOMPARE(m_pWorker->m_nReleased.load(), 1);
}

void TestThreadObject::startThreadOnRunningWorkerStartsNoSecondThread()
{
    m_pWorker->startThread();
    m_pWorker->addRequest(QVariantMap());
    QTRY_COMPARE(m_lstResults.size(), 1);
    m_pWorker->startThread();
    m_pWorker->startThread();
    m_pWorker->addRequest(QVariantMap());
    QTRY_COMPARE(m_lstResults.size(), 2);
    QCOMPARE(m_pWorker->m_nInitialized.load(), 1);
    QVERIFY(m_pWorker->isRunning());

    // A worker that was stopped can be started again.
    m_pWorker->stopAndWait();
    QVERIFY(m_pWorker->isFinished());
    m_pWorker->startThread();
    m_pWorker->addRequest(QVariantMap());
    QTRY_COMPARE(m_lstResults.size(), 3);
    QCOMPARE(m_pWorker->m_nInitialized.load(), 2);
}

void TestThreadObject::idleWorkerDeliversItsEvents()
{
    m_pWorker->startThread();
    m_pWorker->addRequest(QVariantMap());
    QTRY_COMPARE(m_lstResults.size(), 1);

    // An object of the worker's thread, as the HTTP worker's network manager is.
    QObject *pContext = new QObject;
    pContext->moveToThread(m_pWorker);
    std::atomic<bool> bInvoked{false};
    std::atomic<bool> bTimerFired{false};
    QMetaObject::invokeMethod(
        pContext,
        [&] {
            bInvoked = true;
            QTimer::singleShot(10, pContext, [&] { bTimerFired = true; });
        },
        Qt::QueuedConnection);
    QTRY_VERIFY(bInvoked.load());
    QTRY_VERIFY(bTimerFired.load());

    // Requests keep flowing after the events.
    m_pWorker->addRequest(QVariantMap());
    QTRY_COMPARE(m_lstResults.size(), 2);
    m_pWorker->stopAndWait();
    delete pContext;
}

void TestThreadObject::idleWorkerDoesNotPoll()
{
    m_pWorker->startThread();
    m_pWorker->addRequest(QVariantMap());
    QTRY_COMPARE(m_lstResults.size(), 1);
    const int nPasses = m_pWorker->m_nPasses.load();

    // Nothing happens for a while: a worker that polled would make hundreds of passes.
    QTest::qWait(500);
    QVERIFY2(m_pWorker->m_nPasses.load() - nPasses <= 3,
             qPrintable(QString::number(m_pWorker->m_nPasses.load() - nPasses)));

    // and it still wakes at once for the next request.
    m_pWorker->addRequest(QVariantMap());
    QTRY_COMPARE(m_lstResults.size(), 2);
}

QTEST_GUILESS_MAIN(TestThreadObject)
#include "tst_threadobject.moc"
