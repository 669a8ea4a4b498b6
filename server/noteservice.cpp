#include "noteservice.h"

#include "protocol.h"
#include "serverconfig.h"
#include "serverdb.h"

CNoteService::CNoteService(CServerDb &db, const CServerConfig &config)
    : m_db(db)
    , m_accounts(db, config)
    , m_notes(db)
{}

const QHash<QString, CNoteService::CRoute> &CNoteService::routes()
{
    using namespace Protocol::Endpoint;
    static const QHash<QString, CRoute> hashRoutes = {
        {kRegisterUser, {&CAccounts::registerUser, nullptr}},
        {kLogin, {&CAccounts::login, nullptr}},
        {kForgotPwd, {&CAccounts::forgotPwd, nullptr}},
        {kResetPwd, {&CAccounts::resetPwd, nullptr}},
        {kReplaceNoteItem, {nullptr, &CNotes::replaceNoteItem}},
        {kInsertNoteItem, {nullptr, &CNotes::replaceNoteItem}},
        {kUpdateNoteItem, {nullptr, &CNotes::updateNoteItem}},
        {kCompareUpdateNoteItem, {nullptr, &CNotes::updateNoteItem}},
        {kGetNoteListByMonth, {nullptr, &CNotes::getNoteListByMonth}},
        {kGetNoteListByOffset, {nullptr, &CNotes::getNoteListByOffset}},
        {kGetNoteItem, {nullptr, &CNotes::getNoteItem}},
    };
    return hashRoutes;
}

bool CNoteService::hasEndpoint(const QString &strEndpoint)
{
    return routes().contains(strEndpoint);
}

CNoteService::CReply CNoteService::handle(const QString &strEndpoint,
                                          const Fields &fields,
                                          const QString &strClient)
{
    CReply reply;
    const auto it = routes().constFind(strEndpoint);
    if (it == routes().constEnd()) {
        reply.m_nStatus = 404;
        reply.fail(QStringLiteral("Unknown endpoint."));
        return reply;
    }
    QString strError;
    QSqlDatabase db = m_db.connection(strError);
    if (!db.isOpen()) {
        reply.m_nStatus = 503;
        reply.fail(QStringLiteral("The service cannot reach its database."));
        return reply;
    }
    if (it->m_pAccounts)
        (m_accounts.*(it->m_pAccounts))(db, fields, strClient, reply);
    else if (m_accounts.authenticate(db, fields, reply))
        (m_notes.*(it->m_pNotes))(db, fields, reply);
    m_db.finishQueries();
    return reply;
}
