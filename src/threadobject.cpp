#include "threadobject.h"

#include "kelpolog.h"

#include <QAbstractEventDispatcher>
#include <QDateTime>
#include <QUuid>
#include <QWriteLocker>

CThreadObject::CThreadObject(QObject *parent)
    : QThread(parent)
{}

CThreadObject::~CThreadObject()
{
    // Owners stop and wait before their members go; this is the last guard.
    if (isRunning())
        stopAndWait();
}

QString CThreadObject::addRequest(QVariantMap mapRequest)
{
    const QString strUuid = QUuid::createUuid().toString();
    mapRequest.insert(QStringLiteral("uuid"), strUuid);
    {
        QWriteLocker locker(&m_lock);
        m_listRequest.append(mapRequest);
    }
    wakeWorker();
    return strUuid;
}

QVariantMap CThreadObject::takeRequest()
{
    QWriteLocker locker(&m_lock);
    if (m_listRequest.isEmpty())
        return QVariantMap();
    return m_listRequest.takeFirst();
}

void CThreadObject::startThread()
{
    m_bStop = false;
    if (!isRunning())
        start(QThread::InheritPriority);
}

void CThreadObject::stopThread(int nMsecs)
{
    m_nStopDeadline = QDateTime::currentMSecsSinceEpoch() + qMax(0, nMsecs);
    m_bStop = true;
    wakeWorker();
}

void CThreadObject::stopAndWait(int nMsecs)
{
    stopThread(nMsecs);
    // The worker ends by itself once the time is up; only a request that is running then
    // can make this take longer.
    if (!wait(static_cast<unsigned long>(qMax(0, nMsecs)) + 2000)) {
        qCWarning(lcStore) << "worker" << objectName() << "still busy after" << nMsecs
                           << "ms; waiting for its running request to finish";
        wait();
    }
}

void CThreadObject::start(QThread::Priority priority)
{
    QThread::start(priority);
}

bool CThreadObject::isReady()
{
    return true;
}

bool CThreadObject::finishesQueueOnStop() const
{
    return true;
}

void CThreadObject::keepUnfinished(const QList<QVariantMap> &lstRequests)
{
    qCWarning(lcStore) << "worker" << objectName() << "stopped with" << lstRequests.size()
                       << "requests not handled";
}

// At a stop: the queue is handled in order until it is empty or the time is up.
void CThreadObject::finishQueue()
{
    if (finishesQueueOnStop()) {
        while (QDateTime::currentMSecsSinceEpoch() < m_nStopDeadline) {
            const QVariantMap mapRequest = takeRequest();
            if (mapRequest.isEmpty())
                break;
            processRequest(mapRequest);
        }
    }
    QList<QVariantMap> lstLeft;
    {
        QWriteLocker locker(&m_lock);
        lstLeft.swap(m_listRequest);
    }
    if (!lstLeft.isEmpty())
        keepUnfinished(lstLeft);
}

// The dispatcher's wake-up is remembered until the worker next waits, so a request
// queued between the worker's empty-queue check and its wait is never missed.
void CThreadObject::wakeWorker()
{
    QMutexLocker locker(&m_mutexWake);
    if (m_pDispatcher)
        m_pDispatcher->wakeUp();
}

void CThreadObject::run()
{
    QAbstractEventDispatcher *pDispatcher = QAbstractEventDispatcher::instance();
    {
        QMutexLocker locker(&m_mutexWake);
        m_pDispatcher = pDispatcher;
    }
    initialize();
    for (;;) {
        if (m_bStop) {
            finishQueue();
            release();
            break;
        }
        while (pDispatcher && pDispatcher->processEvents(QEventLoop::AllEvents)) {
        }
        if (!isReady()) {
            // Not ready until one of its events (an answer, a stop) comes: wait for it.
            if (pDispatcher) {
                pDispatcher->processEvents(QEventLoop::WaitForMoreEvents);
            } else {
                QThread::yieldCurrentThread();
                QThread::msleep(1);
            }
            continue;
        }
        const QVariantMap mapRequest = takeRequest();
        if (!mapRequest.isEmpty()) {
            processRequest(mapRequest);
            continue;
        }
        if (m_bStop)
            continue;
        if (pDispatcher) {
            pDispatcher->processEvents(QEventLoop::WaitForMoreEvents);
        } else {
            QThread::msleep(1);
        }
    }
    QMutexLocker locker(&m_mutexWake);
    m_pDispatcher = nullptr;
}
