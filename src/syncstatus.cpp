#include "syncstatus.h"

#include "loginflow.h"
#include "protocol.h"

#include <QLocale>

namespace {

CLoginFlow::State loginState(int nState)
{
    switch (nState) {
    case int(CLoginFlow::State::Checking):
        return CLoginFlow::State::Checking;
    case int(CLoginFlow::State::Connecting):
        return CLoginFlow::State::Connecting;
    case int(CLoginFlow::State::Online):
        return CLoginFlow::State::Online;
    case int(CLoginFlow::State::Offline):
        return CLoginFlow::State::Offline;
    default:
        return CLoginFlow::State::LoggedOut;
    }
}

} // namespace

CSyncStatus::CSyncStatus(QObject *parent)
    : QObject(parent)
{}

CSyncStatus::State CSyncStatus::state() const
{
    return m_state;
}

QString CSyncStatus::userName() const
{
    return m_strUserName;
}

int CSyncStatus::done() const
{
    return m_nDone;
}

int CSyncStatus::total() const
{
    return m_nTotal;
}

QDateTime CSyncStatus::lastSync() const
{
    return m_dtLastSync;
}

bool CSyncStatus::needsLogin() const
{
    return m_state == Error && loginState(m_nLoginState) == CLoginFlow::State::LoggedOut;
}

CSyncStatus::Failure CSyncStatus::classify(const QString &strError, bool bNetwork)
{
    if (strError.isEmpty() && !bNetwork)
        return Failure::None;
    if (strError.compare(Protocol::Error::kWrongLogin, Qt::CaseInsensitive) == 0)
        return Failure::WrongLogin;
    if (strError.compare(Protocol::Error::kTooMany, Qt::CaseInsensitive) == 0)
        return Failure::TooMany;
    if (bNetwork || strError.compare(Protocol::Error::kBusy, Qt::CaseInsensitive) == 0)
        return Failure::Unreachable;
    return Failure::BadAnswer;
}

CSyncStatus::State CSyncStatus::computeState() const
{
    switch (loginState(m_nLoginState)) {
    case CLoginFlow::State::LoggedOut:
        return m_strLoginError.isEmpty() ? LoggedOut : Error;
    case CLoginFlow::State::Checking:
    case CLoginFlow::State::Connecting:
        return Connecting;
    case CLoginFlow::State::Offline:
        return classify(m_strLoginError, m_bLoginNetwork) == Failure::Unreachable ? Offline : Error;
    case CLoginFlow::State::Online:
        break;
    }
    if (m_bServiceDown)
        return Offline;
    // A change still on its way is not safe at the service yet.
    return m_bSynced && m_nSending <= 0 ? UpToDate : Syncing;
}

QString CSyncStatus::text() const
{
    const QLocale locale;
    switch (m_state) {
    case LoggedOut:
        return tr("Not logged in: notes stay on this computer only");
    case Connecting:
        return tr("Connecting to the note service as %1…").arg(m_strUserName);
    case Syncing:
        if (m_nTotal <= 0 || m_nDone >= m_nTotal)
            return tr("%1: synchronising…").arg(m_strUserName);
        //: %2 of %3 notes have arrived
        return tr("%1: synchronising, %2 of %3")
            .arg(m_strUserName, locale.toString(m_nDone), locale.toString(m_nTotal));
    case UpToDate: {
        const QString strWhen = m_dtLastSync.date() == QDate::currentDate()
                                    ? locale.toString(m_dtLastSync.time(), QLocale::ShortFormat)
                                    : locale.toString(m_dtLastSync, QLocale::ShortFormat);
        return tr("%1: up to date, last synchronised %2").arg(m_strUserName, strWhen);
    }
    case Offline:
        if (!m_bLocalUser)
            return tr("%1: waiting for the note service to log in").arg(m_strUserName);
        return tr("%1: offline, notes are kept on this computer").arg(m_strUserName);
    case Error:
        if (m_strUserName.isEmpty())
            return tr("Not logged in");
        if (loginState(m_nLoginState) == CLoginFlow::State::LoggedOut)
            return tr("%1: logged out").arg(m_strUserName);
        return tr("%1: not synchronised").arg(m_strUserName);
    }
    return QString();
}

QString CSyncStatus::detail() const
{
    if (m_state == Offline) {
        const QString strWhy = m_bServiceDown ? m_strServiceError : m_strLoginError;
        return tr("The note service cannot be reached (%1). Kelpo tries again every minute; "
                  "what is written meanwhile is sent when the service answers.")
            .arg(strWhy);
    }
    if (m_state != Error)
        return QString();
    switch (classify(m_strLoginError, m_bLoginNetwork)) {
    case Failure::WrongLogin:
        return tr("The note service did not accept the password of %1: it may have been "
                  "changed on another computer. Log in again with the current password.")
            .arg(m_strUserName);
    case Failure::TooMany:
        return tr("The note service refuses logins for a while after too many attempts. "
                  "Kelpo tries again every minute; nothing needs to be done.");
    case Failure::BadAnswer:
        return tr("The note service gave an answer Kelpo cannot use (%1). Kelpo tries again "
                  "every minute; if this stays, check the service's address.")
            .arg(m_strLoginError);
    case Failure::None:
    case Failure::Unreachable:
        break;
    }
    return QString();
}

QString CSyncStatus::loginFailureText(const QString &strName,
                                      const QString &strError,
                                      bool bNetwork,
                                      bool bLoggedInHere) const
{
    switch (classify(strError, bNetwork)) {
    case Failure::None:
    case Failure::WrongLogin:
        return QString();
    case Failure::Unreachable:
        if (bLoggedInHere)
            return tr("Logged in as %1 on this computer only: the note service cannot be "
                      "reached (%2). Kelpo tries again every minute.")
                .arg(strName, strError);
        return tr("Login as %1 failed: the note service cannot be reached (%2). Kelpo tries "
                  "again every minute; check the connection.")
            .arg(strName, strError);
    case Failure::TooMany:
        if (bLoggedInHere)
            return tr("Logged in as %1 on this computer only: the note service refuses logins "
                      "for a while after too many attempts. Kelpo tries again every minute.")
                .arg(strName);
        return tr("Login as %1 failed: the note service refuses logins for a while after too "
                  "many attempts. Kelpo tries again every minute.")
            .arg(strName);
    case Failure::BadAnswer:
        if (bLoggedInHere)
            return tr("Logged in as %1 on this computer only: the note service gave an answer "
                      "Kelpo cannot use (%2). Kelpo tries again every minute.")
                .arg(strName, strError);
        return tr("Login as %1 failed: the note service gave an answer Kelpo cannot use (%2). "
                  "Kelpo tries again every minute; if this stays, check the service's address.")
            .arg(strName, strError);
    }
    return QString();
}

void CSyncStatus::setLogin(int nLoginState,
                           const QString &strName,
                           bool bLocalUser,
                           const QString &strError,
                           bool bNetwork)
{
    // Whatever was known of the synchronisation belongs to the login that was online.
    if (loginState(nLoginState) != CLoginFlow::State::Online) {
        m_bSynced = false;
        m_bServiceDown = false;
        m_strServiceError.clear();
        m_nDone = 0;
        m_nTotal = 0;
    }
    if (strName != m_strUserName)
        m_dtLastSync = QDateTime();
    m_nLoginState = nLoginState;
    m_strUserName = strName;
    m_bLocalUser = bLocalUser;
    m_strLoginError = strError;
    m_bLoginNetwork = bNetwork;
    update();
}

void CSyncStatus::setProgress(int nDone, int nTotal)
{
    m_nDone = qMax(0, nDone);
    m_nTotal = qMax(0, nTotal);
    // A total that is not known yet does not undo "up to date": a look for changes that
    // finds none says so with an empty total.
    if (m_nTotal > 0 && m_nDone < m_nTotal)
        m_bSynced = false;
    update();
}

void CSyncStatus::setIdle()
{
    m_bSynced = true;
    m_bServiceDown = false;
    m_strServiceError.clear();
    m_nDone = m_nTotal;
    m_dtLastSync = QDateTime::currentDateTime();
    update();
}

void CSyncStatus::setSending(int nChanges)
{
    m_nSending = qMax(0, nChanges);
    update();
}

void CSyncStatus::serviceFailed(const QString &strError, bool bNetwork)
{
    if (loginState(m_nLoginState) != CLoginFlow::State::Online
        || classify(strError, bNetwork) != Failure::Unreachable)
        return;
    m_bServiceDown = true;
    m_strServiceError = strError;
    update();
}

void CSyncStatus::serviceAnswered()
{
    if (loginState(m_nLoginState) != CLoginFlow::State::Online)
        return;
    m_bServiceDown = false;
    m_strServiceError.clear();
    // In touch with the service and nothing outstanding: synchronised as of now.
    if (m_bSynced)
        m_dtLastSync = QDateTime::currentDateTime();
    update();
}

void CSyncStatus::update()
{
    m_state = computeState();
    emit changed();
}
