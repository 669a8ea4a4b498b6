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

    // Queues a copy of the request under a fresh braced UUID and returns that UUID.
    QString addRequest(QVariantMap mapRequest);
    void startThread();
    void stopThread();
    // Stops the worker and waits for it: up to nMsecs, then, if a request is still
    // running, for as long as it takes (a running worker is never destroyed).
    void stopAndWait(unsigned long nMsecs = 10000);

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

    QVariantMap takeRequest();

    std::atomic<bool> m_bStop{false};
    QList<QVariantMap> m_listRequest;
    QReadWriteLock m_lock;

private:
    void wakeWorker();

    // The running worker's event dispatcher, null outside run(). Qt deletes the
    // dispatcher when the thread ends; the mutex keeps a wake-up from the owner's thread
    // from reaching it then.
    QMutex m_mutexWake;
    QAbstractEventDispatcher *m_pDispatcher = nullptr;
};

#endif // THREADOBJECT_H
