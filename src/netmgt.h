#ifndef NETMGT_H
#define NETMGT_H

#include "threadpost.h"

#include <QDate>
#include <QObject>
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
    QString getNoteChanges(qint64 nCursor, qint64 nBefore, int nLimit, qint64 nContentLimit);
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

signals:
    void dataReceived(QVariant);

private:
    QString post(const QString &strUrl, const QVariantMap &mapData);
    QString postWithLogin(const QString &strUrl, QVariantMap mapData);

    CThreadPost m_threadPost;
    int m_nUserId = 0;
    QString m_strLoginToken;
};

#endif // NETMGT_H
