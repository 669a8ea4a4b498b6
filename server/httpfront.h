#ifndef HTTPFRONT_H
#define HTTPFRONT_H

#include <QString>

#include <memory>

class CNoteService;
struct CServerConfig;
class CHttpFrontPrivate;

// The HTTP side of the service: POST /mobile/ENDPOINT with a multipart/form-data
// body in, a JSON object out, one log line per request on stderr.
//
// Connections are served by one event loop (libmicrohttpd with epoll), so a slow or
// idle client costs a socket and a little memory, never a thread. Each connection
// has a fixed memory budget for its headers, each client address a limit of open
// connections, each request a deadline. A complete request goes to a pool of worker
// threads; while it waits and runs, its connection rests.
class CHttpFront
{
public:
    CHttpFront(CNoteService &service, const CServerConfig &config);
    ~CHttpFront();
    CHttpFront(const CHttpFront &) = delete;
    CHttpFront &operator=(const CHttpFront &) = delete;

    // Binds the address; returns the port bound, or -1.
    int bind(const QString &strHost, int nPort);
    // Serves until stop(); requests in flight finish (a few seconds at most) before it
    // returns.
    bool run();
    // May be called from any thread.
    void stop();

private:
    std::unique_ptr<CHttpFrontPrivate> d;
};

#endif // HTTPFRONT_H
