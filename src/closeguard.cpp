#include "closeguard.h"

#include "kelpolog.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>
#include <xcb/xcb.h>

int CCloseGuard::s_fds[2] = {-1, -1};

CCloseGuard::CCloseGuard(QWindow *pWindow, QObject *parent)
    : QObject(parent)
    , m_pWindow(pWindow)
{
    if (s_fds[0] < 0 && ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, s_fds) == 0) {
        m_pNotifier = new QSocketNotifier(s_fds[1], QSocketNotifier::Read, this);
        connect(m_pNotifier, &QSocketNotifier::activated, this, [this] {
            char c = 0;
            if (::read(s_fds[1], &c, 1) > 0)
                qCInfo(lcApp) << "signal" << int(c) << "received: closing";
            closeWindow();
        });
        struct sigaction sa = {};
        sa.sa_handler = &CCloseGuard::onSignal;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_RESTART;
        for (int nSignal : {SIGTERM, SIGINT, SIGHUP})
            ::sigaction(nSignal, &sa, nullptr);
    }
    QCoreApplication::instance()->installNativeEventFilter(this);
}

CCloseGuard::~CCloseGuard()
{
    if (QCoreApplication *pApp = QCoreApplication::instance())
        pApp->removeNativeEventFilter(this);
    if (s_fds[0] >= 0) {
        for (int nSignal : {SIGTERM, SIGINT, SIGHUP})
            ::signal(nSignal, SIG_DFL);
        ::close(s_fds[0]);
        ::close(s_fds[1]);
        s_fds[0] = s_fds[1] = -1;
    }
}

void CCloseGuard::setWindow(QWindow *pWindow)
{
    m_pWindow = pWindow;
}

void CCloseGuard::onSignal(int nSignal)
{
    const char c = char(nSignal);
    [[maybe_unused]] ssize_t n = ::write(s_fds[0], &c, 1);
}

bool CCloseGuard::nativeEventFilter(const QByteArray &eventType, void *message, long *)
{
    if (eventType != "xcb_generic_event_t" || !m_pWindow)
        return false;
    const auto *pEvent = static_cast<xcb_generic_event_t *>(message);
    if ((pEvent->response_type & ~0x80) != XCB_DESTROY_NOTIFY)
        return false;
    const auto *pDestroy = static_cast<xcb_destroy_notify_event_t *>(message);
    if (pDestroy->window == xcb_window_t(m_pWindow->winId())) {
        qCInfo(lcApp) << "window destroyed from outside: closing";
        QTimer::singleShot(0, this, &CCloseGuard::closeWindow);
    }
    return false;
}

// Closing the window goes through the same path as the window manager's close button;
// the application then quits because its last window closed. A modal window (a file
// dialog) is closed first: it blocks closing the window behind it, and, shown, it would
// keep the application running on its own.
void CCloseGuard::closeWindow()
{
    const bool bGui = qobject_cast<QGuiApplication *>(QCoreApplication::instance()) != nullptr;
    for (int i = 0; bGui && i < 8; ++i) {
        QWindow *pModal = QGuiApplication::modalWindow();
        if (!pModal)
            break;
        qCInfo(lcApp) << "closing the dialog" << pModal->title();
        if (!pModal->close())
            pModal->hide();
    }
    if (m_pWindow && m_pWindow->isVisible())
        m_pWindow->close();
    else
        QCoreApplication::quit();
}
