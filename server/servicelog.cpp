#include "servicelog.h"

#include <QString>
#include <QtGlobal>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <thread>

#include <unistd.h>

namespace {

// Lines waiting at most; a second of a busy service's requests and then some.
const size_t g_nMaxWaiting = 8192;

struct CLogState
{
    std::mutex m_mutex;
    std::condition_variable m_cond;     // lines to write, or stop
    std::condition_variable m_condIdle; // nothing left to write
    std::deque<QByteArray> m_queue;
    quint64 m_nLeftOut = 0;
    bool m_bStarted = false;
    bool m_bStop = false;
    bool m_bWriting = false;
    std::thread m_thread;
};

// Never destroyed: a writer left behind in write() may still use it while the process ends.
CLogState *const g_pState = new CLogState;

void writeAll(const QByteArray &ba)
{
    const char *p = ba.constData();
    size_t nLeft = size_t(ba.size());
    while (nLeft > 0) {
        const ssize_t n = ::write(STDERR_FILENO, p, nLeft);
        if (n > 0) {
            p += n;
            nLeft -= size_t(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        } else {
            return; // closed or broken: the line is lost either way
        }
    }
}

void writeLines()
{
    CLogState &s = *g_pState;
    std::unique_lock<std::mutex> lock(s.m_mutex);
    for (;;) {
        s.m_cond.wait(lock, [&s] { return s.m_bStop || !s.m_queue.empty() || s.m_nLeftOut > 0; });
        if (s.m_queue.empty() && s.m_nLeftOut == 0)
            return; // stopped, all written
        QByteArray ba;
        if (s.m_nLeftOut > 0) {
            ba = "kelpo-server: " + QByteArray::number(s.m_nLeftOut)
                 + " log lines left out: standard error was not read\n";
            s.m_nLeftOut = 0;
        }
        while (!s.m_queue.empty()) {
            ba += s.m_queue.front();
            s.m_queue.pop_front();
        }
        s.m_bWriting = true;
        lock.unlock();
        writeAll(ba);
        lock.lock();
        s.m_bWriting = false;
        if (s.m_queue.empty() && s.m_nLeftOut == 0)
            s.m_condIdle.notify_all();
    }
}

void onQtMessage(QtMsgType type, const QMessageLogContext &context, const QString &strMessage)
{
    ServiceLog::line(qFormatLogMessage(type, context, strMessage).toUtf8());
    if (type == QtFatalMsg) {
        ServiceLog::stop(1000);
        std::abort();
    }
}

} // namespace

void ServiceLog::start()
{
    CLogState &s = *g_pState;
    {
        std::lock_guard<std::mutex> lock(s.m_mutex);
        if (s.m_bStarted)
            return;
        s.m_bStarted = true;
        s.m_bStop = false;
    }
    s.m_thread = std::thread(writeLines);
    qInstallMessageHandler(onQtMessage);
}

void ServiceLog::line(const QByteArray &baLine)
{
    CLogState &s = *g_pState;
    QByteArray ba = baLine;
    if (!ba.endsWith('\n'))
        ba.append('\n');
    {
        std::lock_guard<std::mutex> lock(s.m_mutex);
        if (s.m_bStarted && !s.m_bStop) {
            if (s.m_queue.size() >= g_nMaxWaiting)
                ++s.m_nLeftOut;
            else
                s.m_queue.push_back(std::move(ba));
            s.m_cond.notify_one();
            return;
        }
    }
    writeAll(ba);
}

void ServiceLog::stop(int nWaitMs)
{
    CLogState &s = *g_pState;
    bool bIdle = false;
    {
        std::unique_lock<std::mutex> lock(s.m_mutex);
        if (!s.m_bStarted)
            return;
        bIdle = s.m_condIdle.wait_for(lock, std::chrono::milliseconds(nWaitMs), [&s] {
            return s.m_queue.empty() && s.m_nLeftOut == 0 && !s.m_bWriting;
        });
        s.m_bStop = true;
        s.m_bStarted = false;
    }
    qInstallMessageHandler(nullptr);
    s.m_cond.notify_all();
    if (bIdle)
        s.m_thread.join();
    else
        s.m_thread.detach();
}
