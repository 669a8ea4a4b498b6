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
        setState(State::Connecting, m_strLastError);
}

void CLoginFlow::accepted()
{
    setState(State::Online, QString());
}

void CLoginFlow::unreachable(const QString &strError)
{
    setState(State::Offline, strError);
}

void CLoginFlow::end(const QString &strError)
{
    ++m_nAttempt;
    setState(State::LoggedOut, strError);
}

void CLoginFlow::setState(State state, const QString &strError)
{
    if (state == m_state && strError == m_strLastError)
        return;
    m_state = state;
    m_strLastError = strError;
    emit stateChanged();
}
