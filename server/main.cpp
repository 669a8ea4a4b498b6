// kelpo-server: the note service of the Kelpo diary.
#include "httpfront.h"
#include "noteservice.h"
#include "secrets.h"
#include "serverconfig.h"
#include "serverdb.h"

#include <QCoreApplication>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <malloc.h>
#include <pthread.h>
#include <thread>

int main(int argc, char *argv[])
{
    // SIGINT and SIGTERM are taken by one thread with sigwait, so that stopping the
    // service happens outside a signal handler. Blocked before any thread starts.
    sigset_t setSignals;
    sigemptyset(&setSignals);
    sigaddset(&setSignals, SIGINT);
    sigaddset(&setSignals, SIGTERM);
    sigaddset(&setSignals, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &setSignals, nullptr);
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

    if (!Secrets::init()) {
        std::fprintf(stderr, "kelpo-server: libsodium cannot start\n");
        return 1;
    }
    CServerDb db(config.m_strDb, config.m_nWalLimit);
    if (!db.open(strError)) {
        std::fprintf(stderr,
                     "kelpo-server: cannot open the database %s: %s\n",
                     config.m_strDb.startsWith(QLatin1String("sqlite:"))
                         ? config.m_strDb.toUtf8().constData()
                         : "(PostgreSQL)",
                     strError.toUtf8().constData());
        return 1;
    }

    CNoteService service(db, config);
    CHttpFront front(service, config);
    const int nPort = front.bind(config.m_strHost, config.m_nPort);
    if (nPort <= 0) {
        std::fprintf(stderr,
                     "kelpo-server: cannot listen on %s:%d\n",
                     config.m_strHost.toUtf8().constData(),
                     config.m_nPort);
        return 1;
    }
    const bool bIpv6 = config.m_strHost.contains(QLatin1Char(':'));
    std::printf(bIpv6 ? "kelpo-server listening on [%s]:%d\n" : "kelpo-server listening on %s:%d\n",
                config.m_strHost.toUtf8().constData(),
                nPort);
    std::fflush(stdout);
    std::fprintf(stderr, "kelpo-server: database %s\n", db.describe().toUtf8().constData());

    std::atomic<bool> bDone{false};
    std::thread threadSignals([&] {
        int nSignal = 0;
        sigwait(&setSignals, &nSignal);
        if (!bDone) {
            std::fprintf(stderr, "kelpo-server: stopping on signal %d\n", nSignal);
            front.stop();
        }
    });

    const bool bOk = front.run();
    bDone = true;
    pthread_kill(threadSignals.native_handle(), SIGUSR1);
    threadSignals.join();
    std::fprintf(stderr, "kelpo-server: stopped\n");
    return bOk ? 0 : 1;
}
