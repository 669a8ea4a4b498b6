#include "noteservice.h"

#include "notejson.h"
#include "wiretime.h"

#include "protocol.h"
#include "serverconfig.h"
#include "serverdb.h"
#include "validation.h"

CNoteService::CNoteService(CServerDb &db, const CServerConfig &config)
    : m_db(db)
    , m_accounts(db, config)
    , m_notes(db, config.m_nListTexts)
    , m_changes(db)
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
        {kGetNoteChanges, {nullptr, nullptr, &CNoteChanges::getNoteChanges}},
    };
    return hashRoutes;
}

bool CNoteService::hasEndpoint(const QString &strEndpoint)
{
    return routes().contains(strEndpoint);
}

CNoteService::CReply CNoteService::handle(CServiceRequest &request)
{
    CReply reply;
    const auto it = routes().constFind(request.m_strEndpoint);
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
    if (it->m_pAccounts) {
        request.m_hashLarge.clear();
        (m_accounts.*(it->m_pAccounts))(db, request.m_fields, request.m_strClient, reply);
    } else if (m_accounts.authenticate(db, request.m_fields, reply)) {
        for (auto itLarge = request.m_hashLarge.begin(); itLarge != request.m_hashLarge.end();
             ++itLarge) {
            request.m_fields.insert(itLarge.key(),
                                    Validation::fromUtf8(itLarge.value().constData(),
                                                         itLarge.value().size()));
            itLarge.value().clear();
        }
        if (it->m_pChanges)
            (m_changes.*(it->m_pChanges))(db, request.m_fields, reply);
        else
            (m_notes.*(it->m_pNotes))(db, request.m_fields, reply);
    }
    m_db.finishQueries();
    // The service's clock, so that a client can tell how far its own is off: for clients
    // that read times with their zone (older ones get the answers they know).
    if (request.m_fields.value(Protocol::Field::kTimes).trimmed() != Protocol::Field::kTimesUtc)
        return reply;
    const QString strNow = WireTime::wireForm(
        QDateTime::fromSecsSinceEpoch(Validation::nowSecs(), Qt::UTC));
    if (!reply.m_baJson.isEmpty())
        NoteJson::insertServerTime(reply.m_baJson, strNow);
    else
        reply.m_obj.insert(Protocol::Field::kServerTime, strNow);
    return reply;
}
