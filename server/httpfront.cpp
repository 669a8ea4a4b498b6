#include "httpfront.h"

#include "forwardedfor.h"
#include "kelpolog.h"
#include "noteservice.h"
#include "protocol.h"
#include "serverconfig.h"
#include "servicelog.h"
#include "validation.h"

#include <QJsonDocument>
#include <QSet>

#include <microhttpd.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

const char *const g_szJson = "application/json; charset=utf-8";

// Limits of one connection and one request.
const size_t g_nConnectionMemory = 32 * 1024;            // request line and headers
const unsigned g_nIdleSeconds = 10;                      // silence before a connection is closed
const auto g_headerDeadline = std::chrono::seconds(10);  // from connect to the last header
const auto g_requestDeadline = std::chrono::seconds(60); // from the headers to the last body byte
const int g_nSmallField = 64 * 1024;                     // every field but the note's text
const int g_nMaxFields = 100;
const qint64 g_nLargeBody = 1024 * 1024; // bodies above this count as large
const int g_nMaxLargeBodies = 2;         // large bodies received or served at once
const unsigned g_nMaxConnections = 4096;

// The fields that may be large: kept as bytes until the request's login token has
// been checked, and never decoded for endpoints that do not need a login.
bool isLargeField(const QByteArray &baKey)
{
    return baKey == "content";
}

// A small pool of worker threads with a bounded queue.
class CWorkers
{
public:
    CWorkers(int nThreads, int nQueue)
        : m_nQueue(nQueue)
    {
        for (int i = 0; i < nThreads; ++i)
            m_vecThreads.emplace_back([this] { work(); });
    }
    ~CWorkers() { stop(); }

    // False when the queue is full or the pool stopped.
    bool push(std::function<void()> task)
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_bStop || int(m_queue.size()) >= m_nQueue)
                return false;
            m_queue.push_back(std::move(task));
        }
        m_cond.notify_one();
        return true;
    }

    // Runs the tasks already queued, then ends the threads.
    void stop()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_bStop = true;
        }
        m_cond.notify_all();
        for (std::thread &thread : m_vecThreads) {
            if (thread.joinable())
                thread.join();
        }
    }

private:
    void work()
    {
        for (;;) {
            std::function<void()> task;
            {
                std::unique_lock<std::mutex> lock(m_mutex);
                m_cond.wait(lock, [this] { return m_bStop || !m_queue.empty(); });
                if (m_queue.empty())
                    return;
                task = std::move(m_queue.front());
                m_queue.pop_front();
            }
            task();
        }
    }

    const int m_nQueue;
    std::mutex m_mutex;
    std::condition_variable m_cond;
    std::deque<std::function<void()>> m_queue;
    std::vector<std::thread> m_vecThreads;
    bool m_bStop = false;
};

// One request, from its headers to its log line.
struct CRequest
{
    Clock::time_point m_start = Clock::now();
    QByteArray m_baMethod, m_baPath;
    QString m_strEndpoint;
    QString m_strClient;
    QByteArray m_baBoundary;
    QByteArray m_baBody;
    bool m_bLarge = false; // counted in the large bodies

    int m_nRefuseStatus = 0; // a body that is read to its end, then refused

    bool m_bQueued = false;           // handed to the workers
    std::atomic<bool> m_bDone{false}; // the workers' answer is ready
    CNoteService::CReply m_reply;
    int m_nStatus = 0; // of the answer sent, for the log
    int m_nUserId = 0;
};

QString clientAddress(MHD_Connection *pConnection)
{
    const MHD_ConnectionInfo *pInfo = MHD_get_connection_info(pConnection,
                                                              MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    if (!pInfo || !pInfo->client_addr)
        return QString();
    char szAddress[INET6_ADDRSTRLEN] = {};
    const sockaddr *pAddress = pInfo->client_addr;
    if (pAddress->sa_family == AF_INET) {
        inet_ntop(AF_INET,
                  &reinterpret_cast<const sockaddr_in *>(pAddress)->sin_addr,
                  szAddress,
                  sizeof szAddress);
    } else if (pAddress->sa_family == AF_INET6) {
        const in6_addr &addr = reinterpret_cast<const sockaddr_in6 *>(pAddress)->sin6_addr;
        if (IN6_IS_ADDR_V4MAPPED(&addr))
            inet_ntop(AF_INET, &addr.s6_addr[12], szAddress, sizeof szAddress);
        else
            inet_ntop(AF_INET6, &addr, szAddress, sizeof szAddress);
    }
    return QString::fromLatin1(szAddress);
}

} // namespace

class CHttpFrontPrivate
{
public:
    CHttpFrontPrivate(CNoteService &service, const CServerConfig &config)
        : m_service(service)
        , m_nMaxBody(config.m_nMaxBody)
        , m_nMaxPerClient(unsigned(config.m_nMaxPerClient))
        , m_setTrustedProxies(config.m_lstTrustedProxies.cbegin(), config.m_lstTrustedProxies.cend())
        , m_workers(config.m_nThreads, config.m_nThreads * 16)
    {}

    static MHD_Result onAccess(void *pCls,
                               MHD_Connection *pConnection,
                               const char *szUrl,
                               const char *szMethod,
                               const char *,
                               const char *pUpload,
                               size_t *pUploadSize,
                               void **ppContext)
    {
        return static_cast<CHttpFrontPrivate *>(pCls)
            ->access(pConnection, szUrl, szMethod, pUpload, pUploadSize, ppContext);
    }

    static void onCompleted(void *pCls,
                            MHD_Connection *pConnection,
                            void **ppContext,
                            MHD_RequestTerminationCode)
    {
        auto *d = static_cast<CHttpFrontPrivate *>(pCls);
        {
            // A kept-alive connection waits for the headers of its next request.
            std::lock_guard<std::mutex> lock(d->m_mutexConnections);
            const auto it = d->m_mapConnections.find(pConnection);
            if (it != d->m_mapConnections.end()) {
                it->second.m_bWaiting = true;
                it->second.m_since = Clock::now();
            }
        }
        auto *pRequest = static_cast<CRequest *>(*ppContext);
        *ppContext = nullptr;
        if (pRequest)
            d->completed(pRequest);
    }

    static void onConnection(void *pCls,
                             MHD_Connection *pConnection,
                             void **,
                             MHD_ConnectionNotificationCode code)
    {
        auto *d = static_cast<CHttpFrontPrivate *>(pCls);
        std::lock_guard<std::mutex> lock(d->m_mutexConnections);
        if (code == MHD_CONNECTION_NOTIFY_STARTED) {
            const MHD_ConnectionInfo *pInfo
                = MHD_get_connection_info(pConnection, MHD_CONNECTION_INFO_CONNECTION_FD);
            d->m_mapConnections[pConnection] = CConnection{pInfo ? pInfo->connect_fd : -1,
                                                           Clock::now(),
                                                           true};
        } else {
            d->m_mapConnections.erase(pConnection);
        }
    }

    MHD_Result access(MHD_Connection *pConnection,
                      const char *szUrl,
                      const char *szMethod,
                      const char *pUpload,
                      size_t *pUploadSize,
                      void **ppContext)
    {
        auto *pRequest = static_cast<CRequest *>(*ppContext);
        if (!pRequest) {
            pRequest = new CRequest;
            *ppContext = pRequest;
            markActive(pConnection);
            ++m_nActive;
            return begin(pConnection, pRequest, szUrl, szMethod);
        }
        if (pRequest->m_nStatus != 0) {
            // Answered early: the rest of the body is not looked at.
            *pUploadSize = 0;
            return MHD_YES;
        }
        if (*pUploadSize > 0) {
            if (Clock::now() - pRequest->m_start > g_requestDeadline)
                return MHD_NO; // too slow: the connection is closed
            if (pRequest->m_nRefuseStatus == 0) {
                const qint64 nSize = pRequest->m_baBody.size() + qint64(*pUploadSize);
                if (nSize > m_nMaxBody) {
                    pRequest->m_nRefuseStatus = 413;
                } else if (nSize > g_nLargeBody && !pRequest->m_bLarge) {
                    // Larger than its headers said (a chunked body may name a small
                    // Content-Length as well): counted now, or refused when too many
                    // large bodies are on their way.
                    if (++m_nLarge > g_nMaxLargeBodies) {
                        --m_nLarge;
                        pRequest->m_nRefuseStatus = 503;
                    } else {
                        pRequest->m_bLarge = true;
                    }
                }
                if (pRequest->m_nRefuseStatus == 0)
                    pRequest->m_baBody.append(pUpload, int(*pUploadSize));
                else
                    pRequest->m_baBody = QByteArray();
            }
            *pUploadSize = 0;
            return MHD_YES;
        }
        if (pRequest->m_nRefuseStatus == 413) {
            pRequest->m_baBody.clear();
            return answerError(pConnection, pRequest, 413, tooLarge());
        }
        if (pRequest->m_nRefuseStatus == 503)
            return answerError(pConnection, pRequest, 503, QString(Protocol::Error::kBusy));
        if (!pRequest->m_bQueued) {
            pRequest->m_bQueued = true;
            MHD_suspend_connection(pConnection);
            const bool bQueued = m_workers.push([this, pRequest, pConnection] {
                serve(pRequest);
                pRequest->m_bDone = true;
                MHD_resume_connection(pConnection);
            });
            if (!bQueued) {
                pRequest->m_reply.m_nStatus = 503;
                pRequest->m_reply.fail(QString(Protocol::Error::kBusy));
                pRequest->m_bDone = true;
                MHD_resume_connection(pConnection);
            }
            return MHD_YES;
        }
        if (!pRequest->m_bDone)
            return MHD_YES;
        CNoteService::CReply reply = std::move(pRequest->m_reply);
        pRequest->m_reply = CNoteService::CReply();
        pRequest->m_nUserId = reply.m_nUserId;
        QByteArray baBody = reply.m_baJson.isEmpty()
                                ? QJsonDocument(reply.m_obj).toJson(QJsonDocument::Compact)
                                : std::move(reply.m_baJson);
        return answer(pConnection, pRequest, reply.m_nStatus, std::move(baBody));
    }

    void completed(CRequest *pRequest)
    {
        log(*pRequest);
        if (pRequest->m_bLarge)
            --m_nLarge;
        delete pRequest;
        --m_nActive;
    }

    // Closes connections that have not finished their headers in time. Runs on its own
    // thread; shutting a socket down makes the event loop close it.
    void sweep()
    {
        std::unique_lock<std::mutex> lock(m_mutexStop);
        while (!m_bStopping) {
            m_condStop.wait_for(lock, std::chrono::milliseconds(500));
            const Clock::time_point now = Clock::now();
            std::lock_guard<std::mutex> lockConnections(m_mutexConnections);
            for (auto &entry : m_mapConnections) {
                CConnection &connection = entry.second;
                if (connection.m_bWaiting && connection.m_nFd >= 0
                    && now - connection.m_since > g_headerDeadline) {
                    ::shutdown(connection.m_nFd, SHUT_RDWR);
                    connection.m_nFd = -1;
                }
            }
        }
    }

    struct CConnection
    {
        int m_nFd;
        Clock::time_point m_since;
        bool m_bWaiting; // for the headers of a request
    };

    CNoteService &m_service;
    const qint64 m_nMaxBody;
    const unsigned m_nMaxPerClient;
    const QSet<QString> m_setTrustedProxies;
    MHD_Daemon *m_pDaemon = nullptr;
    int m_nListenFd = -1;
    std::atomic<int> m_nLarge{0};
    std::atomic<int> m_nActive{0};
    std::mutex m_mutexConnections;
    std::unordered_map<MHD_Connection *, CConnection> m_mapConnections;
    std::mutex m_mutexStop;
    std::condition_variable m_condStop;
    bool m_bStopping = false;
    CWorkers m_workers;

private:
    static QString tooLarge() { return QStringLiteral("The request body is too large."); }

    void markActive(MHD_Connection *pConnection)
    {
        std::lock_guard<std::mutex> lock(m_mutexConnections);
        const auto it = m_mapConnections.find(pConnection);
        if (it != m_mapConnections.end())
            it->second.m_bWaiting = false;
    }

    MHD_Result begin(MHD_Connection *pConnection,
                     CRequest *pRequest,
                     const char *szUrl,
                     const char *szMethod)
    {
        pRequest->m_baMethod = QByteArray(szMethod).left(16);
        pRequest->m_baPath = QByteArray(szUrl).left(80);
        for (char &c : pRequest->m_baPath) {
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
                c = '?';
        }
        const QByteArray baUrl(szUrl);
        const bool bMobile = baUrl.startsWith("/mobile/");
        if (bMobile && pRequest->m_baMethod != "POST") {
            return answerError(pConnection,
                               pRequest,
                               405,
                               QStringLiteral("Only POST is allowed here."),
                               "POST");
        }
        pRequest->m_strEndpoint = QString::fromUtf8(baUrl.mid(8));
        if (!bMobile || !CNoteService::hasEndpoint(pRequest->m_strEndpoint))
            return answerError(pConnection, pRequest, 404, QStringLiteral("Unknown endpoint."));
        const char *szType = MHD_lookup_connection_value(pConnection,
                                                         MHD_HEADER_KIND,
                                                         "Content-Type");
        if (!szType || qstrnicmp(szType, "multipart/form-data", 19) != 0) {
            return answerError(pConnection,
                               pRequest,
                               400,
                               QStringLiteral("The body must be multipart/form-data."));
        }
        const char *szLength = MHD_lookup_connection_value(pConnection,
                                                           MHD_HEADER_KIND,
                                                           "Content-Length");
        bool bLengthOk = true;
        const qint64 nLength = szLength ? QByteArray(szLength).trimmed().toLongLong(&bLengthOk) : 0;
        if (!bLengthOk || nLength < 0)
            return answerError(pConnection, pRequest, 400, QStringLiteral("Bad request."));
        if (nLength > 4 * m_nMaxBody)
            return answerError(pConnection, pRequest, 413, tooLarge());
        if (nLength > m_nMaxBody) {
            // Read to its end, so that the client is there to hear the answer.
            pRequest->m_nRefuseStatus = 413;
            return MHD_YES;
        }
        pRequest->m_baBoundary = boundaryOf(QByteArray(szType));
        if (pRequest->m_baBoundary.isEmpty()) {
            return answerError(pConnection,
                               pRequest,
                               400,
                               QStringLiteral("The body must be multipart/form-data."));
        }
        if (nLength > g_nLargeBody || !szLength) {
            // Large bodies take memory while they arrive and while they are served:
            // only a few at once, the others are asked to come back.
            if (++m_nLarge > g_nMaxLargeBodies) {
                --m_nLarge;
                return answerError(pConnection, pRequest, 503, QString(Protocol::Error::kBusy));
            }
            pRequest->m_bLarge = true;
        }
        pRequest->m_strClient = clientAddress(pConnection);
        if (m_setTrustedProxies.contains(pRequest->m_strClient)) {
            // Behind a proxy every client comes from its address: the client is the one
            // it names (login attempts are counted per client).
            QList<QByteArray> lstForwardedFor;
            MHD_get_connection_values(pConnection,
                                      MHD_HEADER_KIND,
                                      &CHttpFrontPrivate::collectForwardedFor,
                                      &lstForwardedFor);
            pRequest->m_strClient = ForwardedFor::clientOf(pRequest->m_strClient,
                                                           lstForwardedFor,
                                                           m_setTrustedProxies);
        }
        pRequest->m_baBody.reserve(int(nLength));
        return MHD_YES;
    }

    // On a worker thread.
    void serve(CRequest *pRequest)
    {
        CServiceRequest request;
        request.m_strEndpoint = pRequest->m_strEndpoint;
        request.m_strClient = pRequest->m_strClient;
        QString strError;
        int nStatus = 400;
        const QByteArray baBody = std::move(pRequest->m_baBody);
        pRequest->m_baBody = QByteArray();
        if (!parseForm(baBody, pRequest->m_baBoundary, request, strError, nStatus)) {
            pRequest->m_reply.m_nStatus = nStatus;
            pRequest->m_reply.fail(strError);
            return;
        }
        pRequest->m_reply = m_service.handle(request);
    }

    // multipart/form-data: the first part of each name. Every part but the note's text
    // is small; the text stays bytes (see CServiceRequest).
    static bool parseForm(const QByteArray &baBody,
                          const QByteArray &baBoundary,
                          CServiceRequest &request,
                          QString &strError,
                          int &nStatus)
    {
        strError = QStringLiteral("The body is not a valid form.");
        const QByteArray baDelimiter = "--" + baBoundary;
        int nPos = baBody.indexOf(baDelimiter);
        if (nPos < 0)
            return false;
        int nParts = 0;
        for (;;) {
            nPos += baDelimiter.size();
            if (baBody.mid(nPos, 2) == "--")
                return true;
            if (baBody.mid(nPos, 2) != "\r\n")
                return false;
            nPos += 2;
            const int nHeadersEnd = baBody.indexOf("\r\n\r\n", nPos);
            if (nHeadersEnd < 0)
                return false;
            const QByteArray baName = partName(baBody.mid(nPos, nHeadersEnd - nPos));
            const int nData = nHeadersEnd + 4;
            const int nNext = baBody.indexOf("\r\n" + baDelimiter, nData);
            if (nNext < 0)
                return false;
            if (++nParts > g_nMaxFields) {
                strError = QStringLiteral("The request has too many fields.");
                return false;
            }
            const QString strName = QString::fromUtf8(baName);
            const int nSize = nNext - nData;
            if (isLargeField(baName)) {
                if (!request.m_hashLarge.contains(strName) && !request.m_fields.contains(strName))
                    request.m_hashLarge.insert(strName, baBody.mid(nData, nSize));
            } else if (nSize > g_nSmallField) {
                strError = QStringLiteral("The field \"%1\" is too large.").arg(strName.left(64));
                nStatus = 413;
                return false;
            } else if (!request.m_fields.contains(strName)) {
                request.m_fields.insert(strName,
                                        nSize == 0
                                            ? QString(QLatin1String(""))
                                            : Validation::fromUtf8(baBody.constData() + nData,
                                                                   nSize));
            }
            nPos = nNext + 2;
        }
    }

    static MHD_Result collectForwardedFor(void *pCls,
                                          MHD_ValueKind,
                                          const char *szKey,
                                          const char *szValue)
    {
        if (szKey && szValue && qstricmp(szKey, "X-Forwarded-For") == 0)
            static_cast<QList<QByteArray> *>(pCls)->append(QByteArray(szValue));
        return MHD_YES;
    }

    // name="..." of a part's Content-Disposition.
    static QByteArray partName(const QByteArray &baHeaders)
    {
        for (const QByteArray &baLine : baHeaders.split('\n')) {
            if (!baLine.trimmed().toLower().startsWith("content-disposition:"))
                continue;
            const int nName = baLine.indexOf("name=\"");
            if (nName < 0)
                return QByteArray();
            const int nEnd = baLine.indexOf('"', nName + 6);
            return nEnd < 0 ? QByteArray() : baLine.mid(nName + 6, nEnd - nName - 6);
        }
        return QByteArray();
    }

    // The boundary parameter of a multipart Content-Type, quoted or not.
    static QByteArray boundaryOf(const QByteArray &baType)
    {
        const int nAt = baType.toLower().indexOf("boundary=");
        if (nAt < 0)
            return QByteArray();
        QByteArray ba = baType.mid(nAt + 9);
        const int nSemicolon = ba.indexOf(';');
        if (nSemicolon >= 0)
            ba.truncate(nSemicolon);
        ba = ba.trimmed();
        if (ba.size() >= 2 && ba.startsWith('"') && ba.endsWith('"'))
            ba = ba.mid(1, ba.size() - 2);
        return ba.size() <= 70 ? ba : QByteArray();
    }

    MHD_Result answerError(MHD_Connection *pConnection,
                           CRequest *pRequest,
                           int nStatus,
                           const QString &strError,
                           const char *szAllow = nullptr)
    {
        const QJsonObject obj{{Protocol::Field::kError, strError}};
        return answer(pConnection,
                      pRequest,
                      nStatus,
                      QJsonDocument(obj).toJson(QJsonDocument::Compact),
                      szAllow);
    }

    static void freeBody(void *pCls) { delete static_cast<QByteArray *>(pCls); }

    MHD_Result answer(MHD_Connection *pConnection,
                      CRequest *pRequest,
                      int nStatus,
                      QByteArray baBody,
                      const char *szAllow = nullptr)
    {
        auto *pBody = new QByteArray(std::move(baBody));
        MHD_Response *pResponse
            = MHD_create_response_from_buffer_with_free_callback_cls(size_t(pBody->size()),
                                                                     pBody->data(),
                                                                     &freeBody,
                                                                     pBody);
        if (!pResponse) {
            delete pBody;
            return MHD_NO;
        }
        MHD_add_response_header(pResponse, "Content-Type", g_szJson);
        if (szAllow)
            MHD_add_response_header(pResponse, "Allow", szAllow);
        pRequest->m_nStatus = nStatus;
        const MHD_Result result = MHD_queue_response(pConnection, unsigned(nStatus), pResponse);
        MHD_destroy_response(pResponse);
        return result;
    }

    static void log(const CRequest &request)
    {
        const long long nMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  Clock::now() - request.m_start)
                                  .count();
        // UTC with milliseconds, without Qt's date formatting (it shows in profiles).
        timespec ts{};
        clock_gettime(CLOCK_REALTIME, &ts);
        tm tmUtc{};
        gmtime_r(&ts.tv_sec, &tmUtc);
        char szTime[40];
        const size_t nLen = std::strftime(szTime, sizeof szTime, "%Y-%m-%dT%H:%M:%S", &tmUtc);
        std::snprintf(szTime + nLen, sizeof szTime - nLen, ".%03ldZ", long(ts.tv_nsec / 1000000));
        // The path only: never a field, a password or a token. Queued: this is the event
        // loop's thread, which must not wait for whoever reads standard error.
        char szLine[256];
        std::snprintf(szLine,
                      sizeof szLine,
                      "%s %s %s %d %lldms user=%d",
                      szTime,
                      request.m_baMethod.constData(),
                      request.m_baPath.constData(),
                      request.m_nStatus,
                      nMs,
                      request.m_nUserId);
        ServiceLog::line(QByteArray(szLine));
    }
};

CHttpFront::CHttpFront(CNoteService &service, const CServerConfig &config)
    : d(std::make_unique<CHttpFrontPrivate>(service, config))
{}

CHttpFront::~CHttpFront()
{
    stop();
    if (d->m_pDaemon)
        MHD_stop_daemon(d->m_pDaemon);
}

int CHttpFront::bind(const QString &strHost, int nPort)
{
    sockaddr_storage address{};
    socklen_t nAddressSize = 0;
    const QByteArray baHost = strHost.toLatin1();
    auto *pIpv4 = reinterpret_cast<sockaddr_in *>(&address);
    auto *pIpv6 = reinterpret_cast<sockaddr_in6 *>(&address);
    if (inet_pton(AF_INET, baHost.constData(), &pIpv4->sin_addr) == 1) {
        pIpv4->sin_family = AF_INET;
        pIpv4->sin_port = htons(quint16(nPort));
        nAddressSize = sizeof(sockaddr_in);
    } else if (inet_pton(AF_INET6, baHost.constData(), &pIpv6->sin6_addr) == 1) {
        pIpv6->sin6_family = AF_INET6;
        pIpv6->sin6_port = htons(quint16(nPort));
        nAddressSize = sizeof(sockaddr_in6);
    } else if (baHost == "localhost") {
        pIpv4->sin_family = AF_INET;
        pIpv4->sin_port = htons(quint16(nPort));
        pIpv4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        nAddressSize = sizeof(sockaddr_in);
    } else {
        return -1;
    }
    const int nFd = ::socket(address.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (nFd < 0)
        return -1;
    const int nOn = 1;
    ::setsockopt(nFd, SOL_SOCKET, SO_REUSEADDR, &nOn, sizeof nOn);
    if (::bind(nFd, reinterpret_cast<sockaddr *>(&address), nAddressSize) != 0
        || ::listen(nFd, SOMAXCONN) != 0) {
        ::close(nFd);
        return -1;
    }
    socklen_t nSize = sizeof address;
    ::getsockname(nFd, reinterpret_cast<sockaddr *>(&address), &nSize);
    d->m_nListenFd = nFd;
    return address.ss_family == AF_INET ? ntohs(pIpv4->sin_port) : ntohs(pIpv6->sin6_port);
}

bool CHttpFront::run()
{
    if (d->m_nListenFd < 0)
        return false;
    d->m_pDaemon = MHD_start_daemon(MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_EPOLL
                                        | MHD_ALLOW_SUSPEND_RESUME,
                                    0,
                                    nullptr,
                                    nullptr,
                                    &CHttpFrontPrivate::onAccess,
                                    d.get(),
                                    MHD_OPTION_LISTEN_SOCKET,
                                    d->m_nListenFd,
                                    MHD_OPTION_CONNECTION_MEMORY_LIMIT,
                                    g_nConnectionMemory,
                                    MHD_OPTION_CONNECTION_TIMEOUT,
                                    g_nIdleSeconds,
                                    MHD_OPTION_CONNECTION_LIMIT,
                                    g_nMaxConnections,
                                    MHD_OPTION_PER_IP_CONNECTION_LIMIT,
                                    d->m_nMaxPerClient,
                                    MHD_OPTION_NOTIFY_COMPLETED,
                                    &CHttpFrontPrivate::onCompleted,
                                    d.get(),
                                    MHD_OPTION_NOTIFY_CONNECTION,
                                    &CHttpFrontPrivate::onConnection,
                                    d.get(),
                                    MHD_OPTION_END);
    if (!d->m_pDaemon) {
        qCWarning(lcServer) << "The HTTP front cannot start";
        return false;
    }
    std::thread threadSweep([this] { d->sweep(); });
    {
        std::unique_lock<std::mutex> lock(d->m_mutexStop);
        d->m_condStop.wait(lock, [this] { return d->m_bStopping; });
    }
    threadSweep.join();
    // No new connections; the requests in flight get a few seconds to finish.
    MHD_quiesce_daemon(d->m_pDaemon);
    d->m_workers.stop();
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(3);
    while (d->m_nActive > 0 && Clock::now() < deadline) {
        // Requests that wait for their body or headers are not finished for us.
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        bool bOnlyWaiting = true;
        {
            std::lock_guard<std::mutex> lock(d->m_mutexConnections);
            for (const auto &entry : d->m_mapConnections)
                bOnlyWaiting = bOnlyWaiting && entry.second.m_bWaiting;
        }
        if (bOnlyWaiting)
            break;
    }
    MHD_stop_daemon(d->m_pDaemon);
    d->m_pDaemon = nullptr;
    return true;
}

void CHttpFront::stop()
{
    {
        std::lock_guard<std::mutex> lock(d->m_mutexStop);
        d->m_bStopping = true;
    }
    d->m_condStop.notify_all();
}
