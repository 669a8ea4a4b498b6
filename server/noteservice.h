#ifndef NOTESERVICE_H
#define NOTESERVICE_H

#include "accounts.h"
#include "notechanges.h"
#include "notes.h"
#include "servicereply.h"

#include <QHash>
#include <QString>

class CServerDb;
struct CServerConfig;

// The endpoints of the note service: form fields in, one JSON object out. Knows
// nothing of HTTP; every state lives in the database. Hands each endpoint to its
// room (accounts, notes) after checking the login token where one is needed.
class CNoteService
{
public:
    using Fields = CServiceFields;
    using CReply = CServiceReply;

    CNoteService(CServerDb &db, const CServerConfig &config);

    static bool hasEndpoint(const QString &strEndpoint);
    CReply handle(CServiceRequest &request);

private:
    // An endpoint of the accounts room, or one of the notes room (which needs a login).
    struct CRoute
    {
        void (CAccounts::*m_pAccounts)(QSqlDatabase &, const Fields &, const QString &, CReply &)
            = nullptr;
        void (CNotes::*m_pNotes)(QSqlDatabase &, const Fields &, CReply &) = nullptr;
        void (CNoteChanges::*m_pChanges)(QSqlDatabase &, const Fields &, CReply &) = nullptr;
    };

    static const QHash<QString, CRoute> &routes();

    CServerDb &m_db;
    CAccounts m_accounts;
    CNotes m_notes;
    CNoteChanges m_changes;
};

#endif // NOTESERVICE_H
