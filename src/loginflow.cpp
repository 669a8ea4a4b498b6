#include "loginflow.h"

CLoginFlow::CLoginFlow(QObject *parent)
    : QObject(parent)
{}

CLoginFlow::State CLoginFlow::state() const
{
    return m_state;
}

int CLoginFlow::attempt() const
{
    return m_nAttempt;
}

bool CLoginFlow::isCurrent(int nAttempt) const
{
    return nAttempt == m_nAttempt && m_state != State::LoggedOut;
}

QString CLoginFlow::lastError() const
{
    return m_strLastError;
}

bool CLoginFlow::lastErrorIsNetwork() const
{
    return m_bNetworkError;
}

int CLoginFlow::begin(State state)
{
    ++m_nAttempt;
    setState(state, QString());
    return m_nAttempt;
}

void CLoginFlow::connecting()
{
    // A retry while offline stays "offline" until it succeeds, so that the user is not
    // shown a flicker of "connecting" every minute.
    if (m_state != State::Offline)
        setState(State::Connecting, m_strLastError, m_bNetworkError);
}

void CLoginFlow::accepted()
{
    setState(State::Online, QString());
}

void CLoginFlow::unreachable(const QString &strError, bool bNetwork)
{
    setState(State::Offline, strError, bNetwork);
}

void CLoginFlow::end(const QString &strError)
{
    ++m_nAttempt;
    setState(State::LoggedOut, strError);
}

void CLoginFlow::setState(State state, const QString &strError, bool bNetwork)
{
    if (state == m_state && strError == m_strLastError && bNetwork == m_bNetworkError)
        return;
    m_state = state;
    m_strLastError = strError;
    m_bNetworkError = bNetwork;
    emit stateChanged();
}
