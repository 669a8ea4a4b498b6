#ifndef LOGINFLOW_H
#define LOGINFLOW_H

#include <QObject>
#include <QString>

// Where the login of this computer stands, as one explicit state. Every login or
// registration is an attempt with its own number; an answer that carries an older
// number belongs to an attempt that a later login or a logout has overtaken and changes
// nothing.
class CLoginFlow : public QObject
{
    Q_OBJECT

public:
    enum class State {
        LoggedOut,  // nobody; no synchronisation
        Checking,   // the local user row is being looked up
        Connecting, // the service is being asked
        Online,     // the service accepted the login: synchronising
        Offline,    // the service could not be reached or failed; retried later
    };
    Q_ENUM(State)

    explicit CLoginFlow(QObject *parent = nullptr);

    State state() const;
    // The attempt that answers must belong to.
    int attempt() const;
    bool isCurrent(int nAttempt) const;
    // Why the last server login did not succeed; empty after a success.
    QString lastError() const;
    // Whether that was the network's fault (no connection, no answer in time) rather
    // than the service's answer.
    bool lastErrorIsNetwork() const;

    // A new attempt (login or registration); returns its number.
    int begin(State state);
    void connecting();
    void accepted();
    void unreachable(const QString &strError, bool bNetwork = true);
    // The service refused the credentials, or the user logged out: every answer still
    // on its way is stale.
    void end(const QString &strError = QString());

signals:
    void stateChanged();

private:
    void setState(State state, const QString &strError, bool bNetwork = false);

    State m_state = State::LoggedOut;
    int m_nAttempt = 0;
    QString m_strLastError;
    bool m_bNetworkError = false;
};

#endif // LOGINFLOW_H
