#ifndef THREADOBJECT_H
#define THREADOBJECT_H

#include <QList>
#include <QMutex>
#include <QReadWriteLock>
#include <QThread>
#include <QVariant>
#include <QVariantMap>

#include <atomic>

class QAbstractEventDispatcher;

// A worker thread with a first-in-first-out queue of request maps. Each request is
// handed to processRequest() on the worker thread, one at a time in queue order; the
// thread's own events (timers, sockets) are delivered between requests. An idle worker
// sleeps in its event dispatcher until a request is queued or an event arrives.
class CThreadObject : public QThread
{
    Q_OBJECT

public:
    explicit CThreadObject(QObject *parent = nullptr);
    ~CThreadObject() override;

    static constexpr int kDefaultStopMsecs = 10000;

    // Queues a copy of the request under a fresh braced UUID and returns that UUID.
    QString addRequest(QVariantMap mapRequest);
    void startThread();
    // Asks the worker to stop. A worker that finishes its queue on stop (the default) first
    // handles what is queued, for at most nMsecs from now; what is left then goes to
    // keepUnfinished(). Does not wait.
    void stopThread(int nMsecs = kDefaultStopMsecs);
    // Stops the worker as stopThread() does and waits until it has ended. A request that
    // is running when the time is up is finished first (a running worker is never
    // destroyed).
    void stopAndWait(int nMsecs = kDefaultStopMsecs);

signals:
    void dataReceived(QVariant);

protected slots:
    void start(QThread::Priority priority = InheritPriority);

protected:
    void run() override;
    virtual void initialize() = 0;
    virtual void release() = 0;
    virtual void processRequest(QVariantMap mapRequest) = 0;
    virtual bool isReady();
    // Whether the requests queued at a stop are handled before the worker ends. An
    // accepted write must not be lost at shutdown; a network request would only be cut off.
    virtual bool finishesQueueOnStop() const;
    // Called on the worker thread with the requests that were still queued when the time
    // for stopping ran out (or all queued requests when the queue is not finished on stop).
    virtual void keepUnfinished(const QList<QVariantMap> &lstRequests);

    QVariantMap takeRequest();

    std::atomic<bool> m_bStop{false};
    // When the handling of the queue must end after a stop (ms since the epoch).
    std::atomic<qint64> m_nStopDeadline{0};
    QList<QVariantMap> m_listRequest;
    QReadWriteLock m_lock;

private:
    void wakeWorker();
    void finishQueue();

    // The running worker's event dispatcher, null outside run(). Qt deletes the
    // dispatcher when the thread ends; the mutex keeps a wake-up from the owner's thread
    // from reaching it then.
    QMutex m_mutexWake;
    QAbstractEventDispatcher *m_pDispatcher = nullptr;
};

#endif // THREADOBJECT_H
