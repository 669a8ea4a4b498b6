// The ceiling of the note service's stack: the same HTTP library, the same thread
// count and multipart parsing, answering every POST /mobile/ENDPOINT with a constant
// JSON object. bench_server measures it beside kelpo-server.
#include <httplib.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/socket.h>

// As kelpo-server does: a wider listen backlog than the library's 5.
class CListenServer : public httplib::Server
{
public:
    void widenBacklog() { ::listen(svr_sock_, SOMAXCONN); }
};

int main(int argc, char *argv[])
{
    int nThreads = 16;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::string(argv[i]) == "--threads")
            nThreads = std::atoi(argv[i + 1]);
    }
    CListenServer server;
    server.new_task_queue = [nThreads] { return new httplib::ThreadPool(size_t(nThreads)); };
    server.Post(R"(/mobile/([^/]+))", [](const httplib::Request &req, httplib::Response &res) {
        if (!req.is_multipart_form_data()) {
            res.status = 400;
            res.set_content("{\"error\":\"The body must be multipart/form-data.\"}",
                            "application/json");
            return;
        }
        res.set_content("{\"note_id\":1,\"notes\":[]}", "application/json; charset=utf-8");
    });
    const int nPort = server.bind_to_any_port("127.0.0.1");
    if (nPort <= 0)
        return 1;
    server.widenBacklog();
    std::printf("bench_http_ceiling listening on 127.0.0.1:%d\n", nPort);
    std::fflush(stdout);
    server.listen_after_bind();
    return 0;
}
