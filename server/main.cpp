// kelpo-server: the note service of the Kelpo diary.
#include "httpfront.h"
#include "noteservice.h"
#include "secrets.h"
#include "serverconfig.h"
#include "serverdb.h"
#include "servicelog.h"
#include "validation.h"

#include <QCoreApplication>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <malloc.h>
#include <thread>
#include <unistd.h>

namespace {

int g_aStopPipe[2] = {-1, -1};

extern "C" void onStopSignal(int nSignal)
{
    const int nErrno = errno;
    const char c = char(nSignal);
    if (::write(g_aStopPipe[1], &c, 1) < 0) {
        // Nothing to be done inside a signal handler.
    }
    errno = nErrno;
}

} // namespace

int main(int argc, char *argv[])
{
    // SIGINT and SIGTERM only write a byte into a pipe (whichever thread the system
    // picks: the HTTP library's threads set their own signal masks); one thread reads it
    // and stops the service outside the handler.
    if (::pipe2(g_aStopPipe, O_CLOEXEC) != 0)
        return 1;
    struct sigaction action = {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    // Note texts of tens of MiB pass through requests and answers: buffers of that
    // size are mapped and given back to the system when freed, instead of raising the
    // threshold and staying in the heap after a burst.
    mallopt(M_MMAP_THRESHOLD, 256 * 1024);
    mallopt(M_TRIM_THRESHOLD, 1024 * 1024);

    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Greyfen Software"));
    QCoreApplication::setApplicationName(QStringLiteral("kelpo-server"));
    QCoreApplication::setApplicationVersion(QStringLiteral("3.0"));

    CServerConfig config;
    QString strError;
    QStringList lstArgs = QCoreApplication::arguments();
    lstArgs.removeFirst();
    switch (config.parse(lstArgs, strError)) {
    case CServerConfig::Parse::Help:
        std::fputs(CServerConfig::helpText().toUtf8().constData(), stdout);
        return 0;
    case CServerConfig::Parse::Version:
        std::printf("kelpo-server %s\n", qPrintable(QCoreApplication::applicationVersion()));
        return 0;
    case CServerConfig::Parse::Error:
        std::fprintf(stderr,
                     "kelpo-server: %s\nTry 'kelpo-server --help' for the options.\n",
                     strError.toUtf8().constData());
        return 2;
    case CServerConfig::Parse::Ok:
        break;
    }

    // From here on standard error is written by a thread of its own (see ServiceLog); what
    // waits is written at the end, for at most two seconds, after everything else.
    struct CLogWriting
    {
        CLogWriting() { ServiceLog::start(); }
        ~CLogWriting() { ServiceLog::stop(2000); }
    } logWriting;
    auto logLine = [](const QString &strLine) {
        ServiceLog::line(QStringLiteral("kelpo-server: ").toUtf8() + strLine.toUtf8());
    };

    if (!config.m_strTestClock.isEmpty() && !Validation::useTestClock(config.m_strTestClock)) {
        logLine(QStringLiteral("cannot map the test clock %1").arg(config.m_strTestClock));
        return 1;
    }
    if (!Secrets::init()) {
        logLine(QStringLiteral("libsodium cannot start"));
        return 1;
    }
    CServerDb db(config.m_strDb, config.m_nWalLimit);
    if (!db.open(strError)) {
        logLine(QStringLiteral("cannot open the database %1: %2")
                    .arg(config.m_strDb.startsWith(QLatin1String("sqlite:"))
                             ? config.m_strDb
                             : QStringLiteral("(PostgreSQL)"),
                         strError));
        return 1;
    }

    CNoteService service(db, config);
    CHttpFront front(service, config);
    const int nPort = front.bind(config.m_strHost, config.m_nPort);
    if (nPort <= 0) {
        logLine(QStringLiteral("cannot listen on %1:%2").arg(config.m_strHost).arg(config.m_nPort));
        return 1;
    }
    const bool bIpv6 = config.m_strHost.contains(QLatin1Char(':'));
    std::printf(bIpv6 ? "kelpo-server listening on [%s]:%d\n" : "kelpo-server listening on %s:%d\n",
                config.m_strHost.toUtf8().constData(),
                nPort);
    std::fflush(stdout);
    logLine(QStringLiteral("database %1").arg(db.describe()));

    std::thread threadSignals([&] {
        char c = 0;
        while (::read(g_aStopPipe[0], &c, 1) < 0 && errno == EINTR) {
        }
        if (c != 0) {
            logLine(QStringLiteral("stopping on signal %1").arg(int(c)));
            front.stop();
        }
    });

    const bool bOk = front.run();
    const char cEnd = 0;
    while (::write(g_aStopPipe[1], &cEnd, 1) < 0 && errno == EINTR) {
    }
    threadSignals.join();
    logLine(QStringLiteral("stopped"));
    return bOk ? 0 : 1;
}
