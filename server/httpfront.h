#ifndef HTTPFRONT_H
#define HTTPFRONT_H

#include <QString>

#include <memory>

class CNoteService;
struct CServerConfig;
class CListenServer;

// The HTTP side of the service: POST /mobile/ENDPOINT with a multipart/form-data
// body in, a JSON object out, one log line per request on stderr.
class CHttpFront
{
public:
    CHttpFront(CNoteService &service, const CServerConfig &config);
    ~CHttpFront();
    CHttpFront(const CHttpFront &) = delete;
    CHttpFront &operator=(const CHttpFront &) = delete;

    // Binds the address; returns the port bound, or -1.
    int bind(const QString &strHost, int nPort);
    // Serves until stop(); requests in flight finish before it returns.
    bool run();
    // May be called from any thread.
    void stop();

private:
    std::unique_ptr<CListenServer> m_pServer;
};

#endif // HTTPFRONT_H
