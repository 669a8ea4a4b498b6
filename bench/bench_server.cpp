// Load driver for the note service. Starts kelpo-server (or the bare HTTP ceiling) on a
// loopback port, registers one user per client, then runs N concurrent clients that
// each log in once and loop over a month list, a note replace and a note read, as
// the application does (multipart/form-data, "Connection: close"), for a fixed time.
// Reports requests per second, median and 99th-percentile latency, errors and the
// server's peak memory.
//
//   bench_server [--db sqlite|postgresql://...] [--ceiling] [--clients 50] [--seconds 20]
//                [--threads 16] [--server-log FILE] [--slow N] [--flood N] [--login-flood N]
//
// --slow N opens N connections alongside that send their headers one byte a second;
// --flood N opens N connections that send header lines without end, each reconnecting
// when the server closes it. --login-flood N runs N more clients that, once the measured
// clients are logged in, log in with unknown names and random passwords without pause,
// each attempt from another loopback address (127.1.x.y), as a password-guessing network
// does; their answers are counted apart and do not enter the figures. Logins answered "busy" (503) are tried again after 50 ms,
// as the service asks; they are counted apart. On SQLite the largest and the final
// size of the write-ahead log are reported too.
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QUuid>

#include <httplib.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

const std::string g_strPwd = "0123456789abcdef0123456789abcdef";

struct CClientResult
{
    std::vector<double> m_lstMs;
    long m_nErrors = 0;
    std::string m_strFirstError;
};

QJsonObject postJson(int nPort,
                     const std::string &strEndpoint,
                     const httplib::MultipartFormDataItems &items,
                     double &dMs,
                     std::string &strError)
{
    httplib::Client client("127.0.0.1", nPort);
    client.set_keep_alive(false);
    client.set_connection_timeout(30, 0);
    client.set_read_timeout(60, 0);
    const httplib::Headers headers = {{"User-Agent", "kelpo-bench"}};
    const auto start = Clock::now();
    const auto res = client.Post(("/mobile/" + strEndpoint).c_str(), headers, items);
    dMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    if (!res) {
        strError = strEndpoint + ": " + httplib::to_string(res.error());
        return QJsonObject();
    }
    if (res->status != 200) {
        strError = strEndpoint + ": HTTP " + std::to_string(res->status);
        return QJsonObject();
    }
    const QJsonObject obj = QJsonDocument::fromJson(QByteArray::fromStdString(res->body)).object();
    const QString strErr = obj.value(QStringLiteral("error")).toString();
    if (!strErr.isEmpty())
        strError = strEndpoint + ": " + strErr.toStdString();
    return obj;
}

// User and system time of a process so far, in milliseconds.
double cpuMs(qint64 nPid)
{
    QFile file(QStringLiteral("/proc/%1/stat").arg(nPid));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray ba = file.readAll();
    const QList<QByteArray> lst = ba.mid(ba.lastIndexOf(')') + 2).split(' ');
    if (lst.size() < 13)
        return -1;
    return (lst.at(11).toDouble() + lst.at(12).toDouble()) * 1000.0 / double(sysconf(_SC_CLK_TCK));
}

// A raw connection to the loopback port; -1 on failure.
int connectRaw(int nPort)
{
    const int nFd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(quint16(nPort));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (nFd < 0 || ::connect(nFd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        if (nFd >= 0)
            ::close(nFd);
        return -1;
    }
    timeval tv{1, 0};
    ::setsockopt(nFd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    return nFd;
}

// One login attempt from the loopback address 127.1.x.y numbered nSource (the whole of
// 127.0.0.0/8 reaches the service), as a password-guessing network sends them from many
// addresses. Returns the answer's status line and body, empty when nothing came.
std::string guessFrom(int nPort, int nSource, const std::string &strName, const std::string &strPwd)
{
    const int nFd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (nFd < 0)
        return std::string();
    sockaddr_in source{};
    source.sin_family = AF_INET;
    source.sin_addr.s_addr = htonl((127u << 24) | (1u << 16) | quint32(nSource % 65000 + 1));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(quint16(nPort));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(nFd, reinterpret_cast<sockaddr *>(&source), sizeof source) != 0
        || ::connect(nFd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        ::close(nFd);
        return std::string();
    }
    const std::string strBoundary = "kelpoBenchGuess";
    std::string strBody;
    const std::pair<const char *, std::string> fields[] = {{"lang", "en"},
                                                           {"login_from", "OTHER_3_0"},
                                                           {"name", strName},
                                                           {"pwd", strPwd}};
    for (const auto &field : fields)
        strBody += "--" + strBoundary + "\r\nContent-Disposition: form-data; name=\"" + field.first
                   + "\"\r\n\r\n" + field.second + "\r\n";
    strBody += "--" + strBoundary + "--\r\n";
    const std::string strRequest = "POST /mobile/login HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                                   "Connection: close\r\nContent-Type: multipart/form-data; "
                                   "boundary="
                                   + strBoundary + "\r\nContent-Length: "
                                   + std::to_string(strBody.size()) + "\r\n\r\n" + strBody;
    std::string strAnswer;
    if (::send(nFd, strRequest.data(), strRequest.size(), MSG_NOSIGNAL)
        == ssize_t(strRequest.size())) {
        char buf[4096];
        for (ssize_t n; (n = ::recv(nFd, buf, sizeof buf, 0)) > 0;)
            strAnswer.append(buf, size_t(n));
    }
    ::close(nFd);
    return strAnswer;
}

// Hostile clients for the soak: slow drips and header floods, until bStop.
void runHostile(int nPort, bool bFlood, const std::atomic<bool> &bStop, std::atomic<long> &nCut)
{
    const std::string strStart = "POST /mobile/login HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    const std::string strLine = "X-Flood: " + std::string(1000, 'f') + "\r\n";
    const std::string strSlow = strStart + "X-Slow: " + std::string(4000, 's');
    while (!bStop) {
        const int nFd = connectRaw(nPort);
        if (nFd < 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            continue;
        }
        bool bOpen = ::send(nFd, strStart.data(), strStart.size(), MSG_NOSIGNAL) > 0;
        for (size_t i = 0; bOpen && !bStop; ++i) {
            if (bFlood) {
                bOpen = ::send(nFd, strLine.data(), strLine.size(), MSG_NOSIGNAL) > 0;
            } else {
                bOpen = ::send(nFd, strSlow.data() + i % strSlow.size(), 1, MSG_NOSIGNAL) > 0;
                std::this_thread::sleep_for(std::chrono::seconds(1));
            }
        }
        if (!bOpen)
            ++nCut;
        ::close(nFd);
    }
}

qint64 fileSize(const QString &strPath)
{
    return QFileInfo(strPath).size();
}

long peakMemoryKb(qint64 nPid)
{
    QFile file(QStringLiteral("/proc/%1/status").arg(nPid));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const QString str = QString::fromLatin1(file.readAll());
    const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("VmHWM:\\s+(\\d+) kB"))
                                          .match(str);
    return m.hasMatch() ? m.captured(1).toLong() : -1;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QString strDb = QStringLiteral("sqlite");
    bool bCeiling = false;
    QString strLog = QProcess::nullDevice();
    QString strThreads = QStringLiteral("16");
    int nClients = 50;
    int nSeconds = 20;
    int nSlow = 0;
    int nFlood = 0;
    int nLoginFlood = 0;
    const QStringList lstArgs = app.arguments();
    for (int i = 1; i < lstArgs.size(); ++i) {
        const QString &str = lstArgs.at(i);
        const QString strNext = i + 1 < lstArgs.size() ? lstArgs.at(i + 1) : QString();
        if (str == QLatin1String("--db")) {
            strDb = strNext;
            ++i;
        } else if (str == QLatin1String("--threads")) {
            strThreads = strNext;
            ++i;
        } else if (str == QLatin1String("--server-log")) {
            strLog = strNext;
            ++i;
        } else if (str == QLatin1String("--ceiling")) {
            bCeiling = true;
        } else if (str == QLatin1String("--clients")) {
            nClients = qMax(1, strNext.toInt());
            ++i;
        } else if (str == QLatin1String("--slow")) {
            nSlow = qMax(0, strNext.toInt());
            ++i;
        } else if (str == QLatin1String("--flood")) {
            nFlood = qMax(0, strNext.toInt());
            ++i;
        } else if (str == QLatin1String("--login-flood")) {
            nLoginFlood = qMax(0, strNext.toInt());
            ++i;
        } else if (str == QLatin1String("--seconds")) {
            nSeconds = qMax(1, strNext.toInt());
            ++i;
        } else {
            std::fprintf(stderr,
                         "usage: bench_server [--db sqlite|postgresql://...] [--ceiling]"
                         " [--clients N] [--seconds S] [--threads N] [--server-log FILE]"
                         " [--slow N] [--flood N] [--login-flood N]\n");
            return 2;
        }
    }

    QTemporaryDir dir;
    const QString strBinDir = QCoreApplication::applicationDirPath();
    QProcess server;
    server.setProcessChannelMode(QProcess::SeparateChannels);
    server.setStandardErrorFile(strLog);
    QString strLabel;
    if (bCeiling) {
        server.start(strBinDir + QStringLiteral("/bench_http_ceiling"),
                     {QStringLiteral("--threads"), strThreads});
        strLabel = QStringLiteral("HTTP ceiling");
    } else {
        const QString strUrl = strDb == QLatin1String("sqlite")
                                   ? QStringLiteral("sqlite:")
                                         + dir.filePath(QStringLiteral("bench.db"))
                                   : strDb;
        server.start(strBinDir + QStringLiteral("/kelpo-server"),
                     {QStringLiteral("--listen"),
                      QStringLiteral("127.0.0.1:0"),
                      QStringLiteral("--db"),
                      strUrl,
                      QStringLiteral("--threads"),
                      strThreads,
                      // Every client of the benchmark comes from 127.0.0.1.
                      QStringLiteral("--max-per-client"),
                      QString::number(nClients + 64)});
        strLabel = strDb == QLatin1String("sqlite") ? QStringLiteral("kelpo-server, SQLite")
                                                    : QStringLiteral("kelpo-server, PostgreSQL");
    }
    if (!server.waitForStarted(10000) || !server.waitForReadyRead(30000)) {
        std::fprintf(stderr, "the server did not start\n");
        return 1;
    }
    const QString strLine = QString::fromUtf8(server.readLine()).trimmed();
    const int nPort = strLine.mid(strLine.lastIndexOf(QLatin1Char(':')) + 1).toInt();
    if (nPort <= 0) {
        std::fprintf(stderr, "unexpected first line: %s\n", qPrintable(strLine));
        return 1;
    }

    // One account per client; the registrations are not measured.
    const std::string strRun = QUuid::createUuid().toString(QUuid::Id128).left(8).toStdString();
    std::vector<std::string> lstNames;
    for (int i = 0; i < nClients; ++i) {
        const std::string strName = "bench" + strRun + "_" + std::to_string(i);
        lstNames.push_back(strName);
        double dMs = 0;
        std::string strError;
        postJson(nPort,
                 "register_user",
                 {{"email", strName + "@example.org", "", ""},
                  {"name", strName, "", ""},
                  {"nickname", strName, "", ""},
                  {"pwd", g_strPwd, "", ""},
                  {"pwd_org", "secret", "", ""}},
                 dMs,
                 strError);
        if (!strError.empty() && !bCeiling) {
            std::fprintf(stderr, "registration failed: %s\n", strError.c_str());
            return 1;
        }
    }

    // A note of about 2 KB of rich text, as a diary entry is.
    std::string strContent = "<p>";
    while (strContent.size() < 2000)
        strContent += "Dear diary, the tide was low and the kelp lay in long ropes on the sand. ";
    strContent += "</p>";
    const std::string strMd5 = QCryptographicHash::hash(QByteArray::fromStdString(strContent),
                                                        QCryptographicHash::Md5)
                                   .toHex()
                                   .toStdString();

    std::vector<CClientResult> lstResults(static_cast<size_t>(nClients));
    std::atomic<bool> bGo{false};
    std::atomic<long> nBusy{0};
    std::atomic<int> nLoggedIn{0};
    Clock::time_point deadline;
    std::vector<std::thread> lstThreads;
    for (int i = 0; i < nClients; ++i) {
        lstThreads.emplace_back([&, i] {
            CClientResult &result = lstResults[size_t(i)];
            auto record = [&](double dMs, const std::string &strError) {
                result.m_lstMs.push_back(dMs);
                if (!strError.empty()) {
                    if (result.m_nErrors++ == 0)
                        result.m_strFirstError = strError;
                }
            };
            while (!bGo)
                std::this_thread::yield();
            double dMs = 0;
            std::string strError;
            QJsonObject login;
            for (;;) {
                strError.clear();
                login = postJson(nPort,
                                 "login",
                                 {{"lang", "en", "", ""},
                                  {"login_from", "OTHER_3_0", "", ""},
                                  {"name", lstNames[size_t(i)], "", ""},
                                  {"pwd", g_strPwd, "", ""}},
                                 dMs,
                                 strError);
                if (strError != "login: HTTP 503" || Clock::now() >= deadline)
                    break;
                ++nBusy;
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
            record(dMs, strError);
            ++nLoggedIn;
            const std::string strUserId = std::to_string(
                login.value(QStringLiteral("user_id")).toInt());
            const std::string strToken
                = login.value(QStringLiteral("login_token")).toString().toStdString();
            const std::string strUuid = QUuid::createUuid().toString().toStdString();
            int nRound = 0;
            while (Clock::now() < deadline) {
                ++nRound;
                char szUpdated[32];
                std::snprintf(szUpdated,
                              sizeof szUpdated,
                              "2016-03-05 %02d:%02d:%02d",
                              (nRound / 3600) % 24,
                              (nRound / 60) % 60,
                              nRound % 60);
                strError.clear();
                postJson(nPort,
                         "get_note_list_by_month",
                         {{"login_token", strToken, "", ""},
                          {"time_month", "3", "", ""},
                          {"time_year", "2016", "", ""},
                          {"user_id", strUserId, "", ""}},
                         dMs,
                         strError);
                record(dMs, strError);
                strError.clear();
                postJson(nPort,
                         "replace_note_item",
                         {{"content", strContent, "", ""},
                          {"content_size", std::to_string(strContent.size()), "", ""},
                          {"login_token", strToken, "", ""},
                          {"md5", "", strMd5, ""},
                          {"set_at", "2016-03-05 00:00:00", "", ""},
                          {"updated_at", szUpdated, "", ""},
                          {"user_id", strUserId, "", ""},
                          {"uuid", strUuid, "", ""}},
                         dMs,
                         strError);
                record(dMs, strError);
                strError.clear();
                postJson(nPort,
                         "get_note_item",
                         {{"login_token", strToken, "", ""},
                          {"user_id", strUserId, "", ""},
                          {"uuid", strUuid, "", ""}},
                         dMs,
                         strError);
                record(dMs, strError);
            }
        });
    }
    std::atomic<bool> bStopHostile{false};
    std::atomic<long> nCut{0};
    std::vector<std::thread> lstHostile;
    for (int i = 0; i < nSlow + nFlood; ++i)
        lstHostile.emplace_back([&, i] { runHostile(nPort, i >= nSlow, bStopHostile, nCut); });
    // Guessers: every answer is a refusal (wrong, too many, busy); none is measured.
    std::atomic<long> nGuesses{0};
    std::atomic<long> nGuessesBusy{0};
    std::atomic<long> nGuessesLimited{0};
    std::vector<std::thread> lstGuessers;
    for (int i = 0; i < nLoginFlood; ++i)
        lstGuessers.emplace_back([&, i] {
            // The attack begins once the measured clients are logged in: what it costs
            // them is the latency of their note requests.
            while (!bStopHostile && nLoggedIn < nClients)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            for (long n = 0; !bStopHostile && Clock::now() < deadline; ++n) {
                const std::string strGuess = QUuid::createUuid().toString(QUuid::Id128).toStdString();
                const std::string strAnswer = guessFrom(nPort,
                                                        int(i * 2000 + n),
                                                        "guess" + std::to_string(i) + "_"
                                                            + std::to_string(n),
                                                        strGuess);
                ++nGuesses;
                if (strAnswer.compare(0, 12, "HTTP/1.1 503") == 0)
                    ++nGuessesBusy;
                else if (strAnswer.find("Too many") != std::string::npos)
                    ++nGuessesLimited;
            }
        });
    const QString strWal = strDb == QLatin1String("sqlite") && !bCeiling
                               ? dir.filePath(QStringLiteral("bench.db-wal"))
                               : QString();
    std::atomic<bool> bStopSampling{false};
    std::atomic<qint64> nWalPeak{0};
    std::thread threadSample([&] {
        while (!bStopSampling) {
            if (!strWal.isEmpty())
                nWalPeak = std::max<qint64>(nWalPeak, fileSize(strWal));
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    });

    const double dCpuBefore = cpuMs(server.processId());
    const auto start = Clock::now();
    deadline = start + std::chrono::seconds(nSeconds);
    bGo = true;
    for (std::thread &thread : lstThreads)
        thread.join();
    const double dSeconds = std::chrono::duration<double>(Clock::now() - start).count();
    bStopHostile = true;
    for (std::thread &thread : lstHostile)
        thread.join();
    for (std::thread &thread : lstGuessers)
        thread.join();
    bStopSampling = true;
    threadSample.join();
    // The log once the writers have paused for a moment.
    if (!strWal.isEmpty())
        std::this_thread::sleep_for(std::chrono::seconds(3));
    const qint64 nWalEnd = strWal.isEmpty() ? -1 : fileSize(strWal);

    std::vector<double> lstAll;
    long nErrors = 0;
    std::string strFirstError;
    for (const CClientResult &result : lstResults) {
        lstAll.insert(lstAll.end(), result.m_lstMs.begin(), result.m_lstMs.end());
        nErrors += result.m_nErrors;
        if (strFirstError.empty())
            strFirstError = result.m_strFirstError;
    }
    std::sort(lstAll.begin(), lstAll.end());
    auto percentile = [&](double d) {
        return lstAll.empty()
                   ? 0.0
                   : lstAll[std::min(lstAll.size() - 1, size_t(d * double(lstAll.size())))];
    };
    const long nPeakKb = peakMemoryKb(server.processId());
    const double dCpu = cpuMs(server.processId()) - dCpuBefore;
    server.terminate();
    server.waitForFinished(30000);

    std::printf(
        "%-26s clients %d  %6.1f s  requests %7zu  %8.1f req/s  median %7.2f ms  p99 %7.2f ms"
        "  errors %ld  peak memory %ld MiB  server CPU %.3f ms/request\n",
        qPrintable(strLabel),
        nClients,
        dSeconds,
        lstAll.size(),
        double(lstAll.size()) / dSeconds,
        percentile(0.5),
        percentile(0.99),
        nErrors,
        nPeakKb / 1024,
        lstAll.empty() ? 0.0 : dCpu / double(lstAll.size()));
    if (nSlow + nFlood > 0)
        std::printf("  hostile connections: %d slow, %d flooding; %ld cut off by the server\n",
                    nSlow,
                    nFlood,
                    long(nCut));
    if (nLoginFlood > 0)
        std::printf("  login flood: %d guessers, %ld attempts (%ld refused as too many, %ld busy,"
                    " the rest wrong)\n",
                    nLoginFlood,
                    long(nGuesses),
                    long(nGuessesLimited),
                    long(nGuessesBusy));
    if (nBusy > 0)
        std::printf("  logins answered busy and tried again: %ld\n", long(nBusy));
    if (!strWal.isEmpty())
        std::printf("  write-ahead log: largest %.1f MiB, 3 s after the load %.1f MiB\n",
                    double(nWalPeak) / 1048576.0,
                    double(nWalEnd) / 1048576.0);
    if (nErrors > 0)
        std::printf("  first error: %s\n", strFirstError.c_str());
    return nErrors > 0 && !bCeiling ? 1 : 0;
}
