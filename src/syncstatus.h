#ifndef SYNCSTATUS_H
#define SYNCSTATUS_H

#include <QDateTime>
#include <QObject>
#include <QString>

// What the main view tells of the synchronisation: who is logged in, whether the notes are
// being synchronised (and how far), up to date (and since when), offline, or held up by
// an error, with a text that says what to do. Follows the login's state, the sync engine's
// progress and the service's answers; holds no notes and sends nothing itself.
class CSyncStatus : public QObject
{
    Q_OBJECT
    Q_PROPERTY(State state READ state NOTIFY changed)
    Q_PROPERTY(QString userName READ userName NOTIFY changed)
    Q_PROPERTY(int done READ done NOTIFY changed)
    Q_PROPERTY(int total READ total NOTIFY changed)
    Q_PROPERTY(QDateTime lastSync READ lastSync NOTIFY changed)
    Q_PROPERTY(QString text READ text NOTIFY changed)
    Q_PROPERTY(QString detail READ detail NOTIFY changed)
    Q_PROPERTY(bool needsLogin READ needsLogin NOTIFY changed)

public:
    enum State {
        LoggedOut,  // nobody is logged in at the service
        Connecting, // a login is on its way
        Syncing,    // logged in; notes are being exchanged
        UpToDate,   // logged in; nothing left to send or fetch
        Offline,    // the service cannot be reached; retried every minute
        Error,      // the service refused or answered what cannot be used
    };
    Q_ENUM(State)

    // Why a login or a request failed, as far as the user needs to know.
    enum class Failure {
        None,
        Unreachable, // no connection, no answer in time, service busy
        WrongLogin,  // the name or password was refused
        TooMany,     // too many login attempts: refused for a while
        BadAnswer,   // an answer that cannot be used, or another refusal
    };

    explicit CSyncStatus(QObject *parent = nullptr);

    State state() const;
    QString userName() const;
    int done() const;
    int total() const;
    QDateTime lastSync() const;
    // One line: the state, with whom and how far.
    QString text() const;
    // For an offline or error state: what happened and what to do; otherwise empty.
    QString detail() const;
    // The service ended the login (the password changed elsewhere): only a new login by
    // the user mends it.
    bool needsLogin() const;

    static Failure classify(const QString &strError, bool bNetwork);

    // The message for a login the user asked for and the service did not accept, when
    // the credentials were not the reason; bLoggedInHere: the local login succeeded.
    Q_INVOKABLE QString loginFailureText(const QString &strName,
                                         const QString &strError,
                                         bool bNetwork,
                                         bool bLoggedInHere) const;

public slots:
    // The login's state (a CLoginFlow::State as a number), for the user strName, whether
    // a local user is logged in, and the last login error with whether it was the
    // network's.
    void setLogin(int nLoginState,
                  const QString &strName,
                  bool bLocalUser,
                  const QString &strError,
                  bool bNetwork);
    void setProgress(int nDone, int nTotal);
    void setIdle();
    // How many changes made here are on their way to the service: while any is, the
    // notes are not up to date.
    void setSending(int nChanges);
    // A request to the service failed (bNetwork: it could not be reached), or answered.
    void serviceFailed(const QString &strError, bool bNetwork);
    void serviceAnswered();

signals:
    void changed();

private:
    void update();
    State computeState() const;

    int m_nLoginState = 0;
    QString m_strUserName;
    bool m_bLocalUser = false;
    QString m_strLoginError;
    bool m_bLoginNetwork = false;
    bool m_bSynced = false;
    bool m_bServiceDown = false;
    QString m_strServiceError;
    int m_nDone = 0;
    int m_nTotal = 0;
    int m_nSending = 0;
    QDateTime m_dtLastSync;

    State m_state = LoggedOut;
};

#endif // SYNCSTATUS_H
