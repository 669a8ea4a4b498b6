#include "httpfront.h"

#include "noteservice.h"
#include "serverconfig.h"

#include <QJsonDocument>

#include <httplib.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <sys/socket.h>

// The library listens with a backlog of 5, which drops connections when a few dozen
// clients connect at once; a second listen() on the bound socket widens it.
class CListenServer : public httplib::Server
{
public:
    void widenBacklog() { ::listen(svr_sock_, SOMAXCONN); }
};

namespace {

const char *const g_szJson = "application/json; charset=utf-8";

// What the log line of the request being served on this thread needs.
struct CRequestLog
{
    std::chrono::steady_clock::time_point m_start;
    bool m_bStarted = false;
    int m_nUserId = 0;
};
thread_local CRequestLog t_log;

void setJson(httplib::Response &res, int nStatus, const QJsonObject &obj)
{
    res.status = nStatus;
    res.set_content(QJsonDocument(obj).toJson(QJsonDocument::Compact).toStdString(), g_szJson);
}

void setError(httplib::Response &res, int nStatus, const QString &strError)
{
    setJson(res, nStatus, QJsonObject{{QStringLiteral("error"), strError}});
}

} // namespace

CHttpFront::CHttpFront(CNoteService &service, const CServerConfig &config)
    : m_pServer(std::make_unique<CListenServer>())
{
    httplib::Server &server = *m_pServer;
    const size_t nThreads = size_t(config.m_nThreads);
    server.new_task_queue = [nThreads] { return new httplib::ThreadPool(nThreads); };
    server.set_payload_max_length(size_t(config.m_nMaxBody));
    server.set_read_timeout(30, 0);
    server.set_write_timeout(30, 0);

    server.set_pre_routing_handler([](const httplib::Request &, httplib::Response &) {
        t_log.m_start = std::chrono::steady_clock::now();
        t_log.m_bStarted = true;
        t_log.m_nUserId = 0;
        return httplib::Server::HandlerResponse::Unhandled;
    });

    server.Post(R"(/mobile/([^/]+))", [&service](const httplib::Request &req, httplib::Response &res) {
        const QString strEndpoint = QString::fromStdString(req.matches[1]);
        if (!CNoteService::hasEndpoint(strEndpoint))
            return setError(res, 404, QStringLiteral("Unknown endpoint."));
        if (!req.is_multipart_form_data())
            return setError(res, 400, QStringLiteral("The body must be multipart/form-data."));
        CNoteService::Fields fields;
        for (const auto &file : req.files) {
            const QString strName = QString::fromStdString(file.first);
            if (!fields.contains(strName))
                fields.insert(strName,
                              file.second.content.empty()
                                  ? QString(QLatin1String(""))
                                  : QString::fromStdString(file.second.content));
        }
        const CNoteService::CReply reply = service.handle(strEndpoint,
                                                          fields,
                                                          QString::fromStdString(req.remote_addr));
        t_log.m_nUserId = reply.m_nUserId;
        if (reply.m_baJson.isEmpty()) {
            setJson(res, reply.m_nStatus, reply.m_obj);
        } else {
            res.status = reply.m_nStatus;
            res.set_content(reply.m_baJson.constData(), size_t(reply.m_baJson.size()), g_szJson);
        }
    });

    const auto notAllowed = [](const httplib::Request &, httplib::Response &res) {
        res.set_header("Allow", "POST");
        setError(res, 405, QStringLiteral("Only POST is allowed here."));
    };
    server.Get(R"(/mobile/.*)", notAllowed);
    server.Put(R"(/mobile/.*)", notAllowed);
    server.Patch(R"(/mobile/.*)", notAllowed);
    server.Delete(R"(/mobile/.*)", notAllowed);
    server.Options(R"(/mobile/.*)", notAllowed);

    // Statuses set by the library itself (no route, body too large, bad request)
    // get a JSON body too.
    const httplib::Server::HandlerWithResponse errorHandler = [](const httplib::Request &,
                                                                 httplib::Response &res) {
        if (!res.body.empty())
            return httplib::Server::HandlerResponse::Unhandled;
        QString strError;
        switch (res.status) {
        case 404:
            strError = QStringLiteral("Unknown endpoint.");
            break;
        case 413:
            strError = QStringLiteral("The request body is too large.");
            break;
        case 405:
            strError = QStringLiteral("Only POST is allowed here.");
            break;
        default:
            strError = QStringLiteral("Bad request.");
            break;
        }
        setError(res, res.status, strError);
        return httplib::Server::HandlerResponse::Handled;
    };
    server.set_error_handler(errorHandler);

    server.set_logger([](const httplib::Request &req, const httplib::Response &res) {
        long long nMs = 0;
        if (t_log.m_bStarted) {
            nMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - t_log.m_start)
                      .count();
        }
        // UTC with milliseconds, without Qt's date formatting (it shows in profiles).
        timespec ts{};
        clock_gettime(CLOCK_REALTIME, &ts);
        tm tmUtc{};
        gmtime_r(&ts.tv_sec, &tmUtc);
        char szTime[40];
        const size_t nLen = std::strftime(szTime, sizeof szTime, "%Y-%m-%dT%H:%M:%S", &tmUtc);
        std::snprintf(szTime + nLen, sizeof szTime - nLen, ".%03ldZ", long(ts.tv_nsec / 1000000));
        // The path only: never a field, a password or a token.
        std::string strPath = req.path.substr(0, 80);
        for (char &c : strPath) {
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
                c = '?';
        }
        std::fprintf(stderr,
                     "%s %s %s %d %lldms user=%d\n",
                     szTime,
                     req.method.c_str(),
                     strPath.c_str(),
                     res.status,
                     nMs,
                     t_log.m_nUserId);
        t_log = CRequestLog();
    });
}

CHttpFront::~CHttpFront() = default;

int CHttpFront::bind(const QString &strHost, int nPort)
{
    const std::string strAddress = strHost.toStdString();
    if (nPort == 0)
        nPort = m_pServer->bind_to_any_port(strAddress);
    else if (!m_pServer->bind_to_port(strAddress, nPort))
        nPort = -1;
    if (nPort > 0)
        m_pServer->widenBacklog();
    return nPort;
}

bool CHttpFront::run()
{
    return m_pServer->listen_after_bind();
}

void CHttpFront::stop()
{
    m_pServer->stop();
}
