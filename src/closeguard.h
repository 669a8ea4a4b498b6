#ifndef CLOSEGUARD_H
#define CLOSEGUARD_H

#include <QAbstractNativeEventFilter>
#include <QObject>
#include <QPointer>
#include <QWindow>

class QSocketNotifier;

// Ends the program the orderly way (window closed, event loop left, settings written)
// when it is asked to from outside: SIGTERM, SIGINT or SIGHUP, or the window being
// destroyed by another X client (as `xdotool windowclose` does where no window manager
// runs). It can be made before the window: a signal that comes while the program is
// still starting waits until the event loop runs and then closes the window.
class CCloseGuard : public QObject, public QAbstractNativeEventFilter
{
    Q_OBJECT

public:
    explicit CCloseGuard(QWindow *pWindow, QObject *parent = nullptr);
    ~CCloseGuard() override;

    void setWindow(QWindow *pWindow);

    bool nativeEventFilter(const QByteArray &eventType, void *message, long *result) override;

private:
    void closeWindow();
    static void onSignal(int nSignal);

    QPointer<QWindow> m_pWindow;
    QSocketNotifier *m_pNotifier = nullptr;
    static int s_fds[2];
};

#endif // CLOSEGUARD_H
