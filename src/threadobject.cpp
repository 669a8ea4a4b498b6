#include "threadobject.h"

#include "kelpolog.h"

#include <QAbstractEventDispatcher>
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

void CThreadObject::stopThread()
{
    m_bStop = true;
    wakeWorker();
}

void CThreadObject::stopAndWait(unsigned long nMsecs)
{
    stopThread();
    if (!wait(nMsecs)) {
        qCWarning(lcStore) << "worker" << objectName() << "still busy after" << nMsecs
                           << "ms; waiting for it to finish";
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
            release();
            break;
        }
        while (pDispatcher && pDispatcher->processEvents(QEventLoop::AllEvents)) {
        }
        if (!isReady()) {
            QThread::yieldCurrentThread();
            QThread::msleep(1);
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
