#ifndef NETMGT_H
#define NETMGT_H

#include "syncclock.h"
#include "threadpost.h"

#include <QDate>
#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QPair>
#include <QVariant>
#include <QVariantMap>

// The server facade: turns each note service operation into a request for the HTTP
// worker and returns the request's uuid at once (an empty text when refused: nothing
// is then sent and no result follows). Results arrive on dataReceived() on the thread
// of this object, as {"uuid", "result" | "error"}.
//
// Operations that need a login refuse while no user is logged in (user id 0 or less,
// or an empty token); they always send the stored "user_id" and "login_token",
// overwriting fields of those names in the caller's map.
class CNetMgt : public QObject
{
    Q_OBJECT

public:
    explicit CNetMgt(QObject *parent = nullptr);
    ~CNetMgt() override;

    // No login needed.
    QString registerUser(QVariantMap mapData);
    QString forgotPwd(QVariantMap mapData);
    QString login(QString strName, QString strPwd);

    // Login needed.
    QString getNoteListByMonth(QDate dt);
    // The same; with bWithContent false the answer leaves the notes' texts out.
    QString getNoteListByMonth(QDate dt, bool bWithContent);
    // One page of the account's changes above nCursor, the latest first, below nBefore
    // (0: from the latest); texts of at most nContentLimit bytes come along.
    // strCheckUuid, nCheckChange: the note the service named with the cursor's answer, so
    // that it can tell whether its history is still the one followed ("" and 0: none).
    QString getNoteChanges(qint64 nCursor,
                           qint64 nBefore,
                           int nLimit,
                           qint64 nContentLimit,
                           const QString &strCheckUuid = QString(),
                           qint64 nCheckChange = 0);
    QString getNoteItem(QString strUuid);
    QString getNoteItem(int nNoteId);
    QString updateNoteItem(QVariantMap mapData);
    QString updateNoteItem(QString strUuid, QString strUpdatedAt); // marks deleted
    QString updateNoteItem(int nNoteId, QString strUpdatedAt);     // marks deleted
    QString replaceNoteItem(QVariantMap mapData);
    QString getNoteListByOffset(QVariantMap mapData);
    QString insertNoteItem(QVariantMap mapData);
    QString compareUpdateNoteItem(QVariantMap mapData);

    void setLoginInfo(int nUserId, QString strLoginToken);
    void clearLoginInfo();
    bool isLoggedIn() const;
    int getUserId() const;

    // The "login_from" client identification, e.g. "OTHER_3_0".
    static QString loginFrom();

    // Transfer time-out (ms) and reply size limit of the worker; see CThreadPost.
    void setTransferTimeout(int nMsecs);
    void setMaxReplySize(qint64 nBytes);

    // The clock that times travel by: requests send its wire form of "created_at",
    // "updated_at", "start_time" and "end_time", answers' notes arrive with their times in
    // the kept form, and every answer's "server_time" corrects its offset. Unset: a clock
    // of this facade's own.
    void setClock(CSyncClock *pClock);

signals:
    void dataReceived(QVariant);

private:
    void onWorkerData(const QVariant &varResult);
    void keptTimes(QVariantMap &mapNote) const;
    QString post(const QString &strUrl, const QVariantMap &mapFields);
    QString postWithLogin(const QString &strUrl, QVariantMap mapData);

    CThreadPost m_threadPost;
    int m_nUserId = 0;
    QString m_strLoginToken;
    CSyncClock m_ownClock;
    CSyncClock *m_pClock = &m_ownClock;
    // Requests on their way: endpoint and this computer's clock when each left.
    QHash<QString, QPair<QString, QDateTime>> m_hashSent;
};

#endif // NETMGT_H
