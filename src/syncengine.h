#ifndef SYNCENGINE_H
#define SYNCENGINE_H

#include "changefeed.h"

#include <QDate>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <QVariant>
#include <QVariantList>
#include <QVariantMap>

#include <functional>

class CDbMgt;
class CNetMgt;
class CSyncClock;

// One result as a handler sees it: the context's data, the payload in its three
// readings, and the maps the dispatcher emits and logs afterwards.
struct CRequestResult
{
    QString strType;
    QVariantMap mapContext; // the request's context
    QVariantMap mapData;    // the context's "data"
    QVariantMap mapResult;  // the worker's result map
    QVariant varPayload;    // its "result"
    QVariantMap mapReply;   // the payload read as a map (server answers)
    QVariantList lstRows;   // the payload read as a list (store rows)
    QString strRequest;     // the request's id
    QVariantMap *pEmit = nullptr;
    QVariantMap *pLog = nullptr;
};

// What the synchronisation needs of the note manager that holds it: the two facades, the
// login ids, the book of pending requests, and the ways to tell the views.
class CSyncHost
{
public:
    virtual ~CSyncHost() = default;
    virtual CDbMgt &store() = 0;
    virtual CNetMgt &service() = 0;
    virtual int localUserId() const = 0;
    virtual int serverUserId() const = 0;
    // The service's base address, as the notes' origin is recorded.
    virtual QString serviceUrl() const = 0;
    // Keeps the context of a request whose result is to be handled.
    virtual void track(const QString &strRequest, const QVariantMap &mapContext) = 0;
    // Counts a request whose answer nobody reads.
    virtual QString untracked(const QString &strRequest) = 0;
    // A note was written or changed by synchronisation: lists show it.
    virtual void noteShown(const QVariantMap &mapNote) = 0;
    virtual void noteRemoved(const QString &strUuid) = 0;
    // The count of the day of strSetAt, or of every day of a month, may have changed.
    virtual void dayChanged(const QString &strSetAt) = 0;
    virtual void monthChanged(const QDate &dt) = 0;
    // Adds or replaces a note locally, matched on a field.
    virtual void storeNote(const QVariantMap &mapNote, const QString &strField) = 0;
    // Adds a note unless one with its uuid is here already, in any state: a note found is
    // left as it is (the user may have changed or deleted it since). Returns the request's
    // id; the engine hears of its end through noteKept() or handleError().
    virtual QString keepNote(const QVariantMap &mapNote) = 0;
    // Something the user must know (a change the service refuses for good).
    virtual void tell(const QString &strMessage) = 0;
    // The clock that stamps the changes of this computer.
    virtual const CSyncClock &syncClock() const = 0;
};

// Keeps the notes of the logged-in user in step with the note service: the month
// comparison, the comparison of two copies of a note, the paged download behind the note
// list, and the timers' uploads and downloads. Issues its requests through the host and
// handles their results when the host's dispatcher hands them over.
class CSyncEngine : public QObject
{
    Q_OBJECT

public:
    explicit CSyncEngine(CSyncHost &host, QObject *parent = nullptr);

    // Result types this engine handles.
    static QStringList resultTypes();
    // A change made here that the service does not have: pending, or refused for good.
    static bool hasOwnChange(const QVariantMap &mapLocalItem);
    // Handles one result; false when it is dropped without a log entry.
    bool handle(CRequestResult &result);
    // A failed request of one of those types; true when the failure was handled here
    // (the dispatcher still logs it and emits it).
    bool handleError(CRequestResult &result, const QString &strError);

    // Forgets the download window (a new login).
    void reset();
    // A note written by keepNote() is stored, or was here already.
    void noteKept(const QString &strRequest);
    // The search text of the last local list request.
    void setListSearch(const QString &strSearch);
    // After a local list page: the download window follows what the list shows.
    void followListPage(const QVariantMap &mapData, const QVariantList &lstRows);

    void downloadMonth(const QDate &dt);
    void compareLocalMonth(const QDate &dt);
    void downloadNoteItem(const QString &strNoteUuid);
    void uploadNoteItem(const QVariantMap &mapData);
    int compareItem(QVariantMap mapLocalItem, QVariantMap mapServerItem);
    void start();
    void downloadNoteList();
    void finish();
    void downloadMissingTexts();
    // Brings what changed at the service since the last run (on a new computer: every
    // note of the account), then the texts still missing.
    void fetchChanges();
    // Sends every pending local change, oldest first, whatever month it is in.
    void uploadPending();
    // Sends one pending change: a note record as stored, or a deletion.
    void sendChange(const QVariantMap &mapLocalItem);
    // Looks a note here up at the service, which may lack it (its database was put back
    // from an older copy): sent again when it is not there, compared when it is.
    void lookUpNote(const QString &strNoteUuid);

signals:
    // How far the download of the account has come: nDone of nTotal notes (nTotal 0
    // while the total is not known yet).
    void syncProgress(int nDone, int nTotal);
    // Nothing is left to send or to fetch: the notes here are those of the service as of
    // now.
    void syncIdle();
    // How many changes made here are on their way to the service (or wait for the
    // conflict copy that lets them end); 0 when none is.
    void sendingChanged(int nChanges);

private:
    bool handleResult(CRequestResult &result);
    bool handleFailure(CRequestResult &result, const QString &strError);
    bool isSyncing() const;
    // Emits sendingChanged() when that count has changed.
    void tellSending();
    // After a run of the changes: syncIdle() once nothing is on its way any more.
    void checkIdle();
    QVariantMap context(const QString &strType, const QVariantMap &mapData) const;
    void compareMonth(const QVariantList &lstLocal, const QVariantList &lstServer);
    void lookUpAtServer(const QVariantMap &mapLocalItem);
    void compareWithService(const QString &strNoteUuid);
    void insertServerItem(const QVariantMap &mapServerItem);
    void markDeletedFromServer(const QVariantMap &mapLocalItem, const QVariantMap &mapServerItem);
    void handleNoteList(const QVariantMap &mapData, const QVariantList &lstNotes);
    void storeServerText(const QVariantMap &mapReply);
    // Keeps the text of a local change that lost against the service's version as a
    // note of its own, on the same day; the same losing text always gives the same note.
    // fnThen, the step that lets the text go here, runs once the copy is stored; when the
    // copy cannot be stored it never runs, and the text stays until the next comparison.
    void keepConflictCopy(const QVariantMap &mapLocalItem, std::function<void()> fnThen);
    // Records the service's id of a note here that has none yet.
    void recordServiceId(const QString &strLocalUuid, int nServerNoteId);
    // The service's version of a note wins over the one here.
    void takeServiceVersion(const QVariantMap &mapLocalItem, QVariantMap mapServerItem);
    static bool isPending(const QVariantMap &mapLocalItem);
    // A change made here that the service refused for good (sync_state 2).
    static bool isRefused(const QVariantMap &mapLocalItem);
    // Whether a note of the service's answer may touch a note here; logs why not.
    static bool usable(const QVariantMap &mapServerItem);
    static QString versionKey(const QVariantMap &mapNote);

    CSyncHost &m_host;
    QVariantList m_lstMonthNotes;
    int m_nSyncOffset = 0;
    QString m_strSyncSearch;
    QString m_strSyncStartTime;
    QString m_strSyncEndTime;
    // Changes on their way to the service, by UUID and time: not sent twice at once.
    QSet<QString> m_setSending;
    // The notes of those changes: one version of a note on its way at a time. Notes whose
    // later version waits for that answer.
    QSet<QString> m_setSendingNotes;
    QSet<QString> m_setWaitingNotes;
    // Texts on their way here, by note UUID: not asked for twice at once.
    QSet<QString> m_setFetching;
    int m_nTextListsAsked = 0;
    bool m_bAwaitIdle = false;
    // What waits for a conflict copy to be stored, by the id of its write.
    QHash<QString, std::function<void()>> m_hashAfterCopy;
    int m_nSendingTold = 0;
    CChangeFeed m_feed;
};

#endif // SYNCENGINE_H
