#ifndef NOTEMGT_H
#define NOTEMGT_H

#include "dbmgt.h"
#include "loginflow.h"
#include "netmgt.h"
#include "pictureloader.h"
#include "syncclock.h"
#include "syncengine.h"
#include "syncstatus.h"

#include <QDate>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QTimer>
#include <QVariant>
#include <QVariantList>
#include <QVariantMap>

#include <functional>

// The note manager: the one object through which the user interface reaches the local
// store and the note service. Every operation queues a request and returns at once; the
// request's context waits in m_mapRequest until onDataReceived() handles its result.
class CNoteMgt : public QObject, private CSyncHost
{
    Q_OBJECT
    Q_PROPERTY(bool isLogin READ isLogin NOTIFY userIdChanged)
    Q_PROPERTY(QString loginName READ loginName NOTIFY userIdChanged)
    // What the synchronisation is doing, for the main view.
    Q_PROPERTY(CSyncStatus *syncStatus READ syncStatus CONSTANT)

public:
    // The program's note manager: local.db in the application's data folder, 60 s timers.
    explicit CNoteMgt(QObject *parent = nullptr);
    // A note manager on the given data folder with the given timer interval (tests).
    CNoteMgt(const QString &strDataDir, int nTimerInterval, QObject *parent = nullptr);
    ~CNoteMgt() override;

    // Note record helpers (see noterecord.h), applied in place.
    void prepareNoteItem(QVariantMap &map);
    void convertServerItem(QVariantMap &map, int nUserId);
    void fillDisplayFields(QVariantMap &map);
    void fillDisplayFieldsOfList(QVariantList &list);

    // The local store, for the parts that read or copy the whole diary (export, import,
    // backups) through the same database worker.
    CDbMgt &localStore() { return m_dbMgt; }

    CSyncStatus *syncStatus() { return &m_syncStatus; }
    // The synchronisation with the note service: its progress and idle signals.
    CSyncEngine &syncEngine() { return m_sync; }

    // The clock that stamps this computer's changes (tests give it a source and a zone).
    CSyncClock &clock() { return m_clock; }

    // Requests whose answers are still awaited, whether or not anything waits for them.
    int pendingRequestCount() const;
    // The same requests, for diagnostics: the type of each awaited answer ("untracked" for
    // those nobody reads).
    QStringList pendingRequestTypes() const;

signals:
    void dataReceived(QVariant data);
    void userIdChanged(int nUserId);
    void netLogin();
    void currentDateChanged();
    void showInfo(QString strInfo);
    void showError(QString strError);
    void appendNoteItemToList(QVariant data);
    void removeNoteItemToList(QString strUuid);
    // The outcome of a save made with upateNoteItem() or saveNoteItem(), for the note with
    // that uuid: stored (the note as the list shows it), or not stored and why.
    void noteSaved(QString strNoteUuid, QVariant note);
    void noteSaveFailed(QString strNoteUuid, QString strMessage);
    // The answer to loadPicture(): the image tag to insert, or why there is none.
    void pictureLoaded(QString strJobId, QString strTag, QString strError);

public slots:
    void init();
    QString readFile2Base64(QString strFileUrl);
    // Reads a picture for a note of nNoteLength characters off the window's thread; the
    // answer comes with pictureLoaded() under the returned id.
    QString loadPicture(QString strFileUrl, int nNoteLength = 0);
    // The folder the picture dialog starts in (a file URL).
    QString pictureFolder();
    void loginAtLocal(QString strUserName, QString strPwd);
    void loginAtServer(QString strUserName, QString strPwd);
    void saveUser(QVariantMap mapData);
    void getNoteListByDay(QDate dt);
    void getNoteListByMonth(QDate dt);
    void getNoteListByOffset(int nOffset = 0, QString strSearchString = QString());
    void downloadNoteListByMonth(QDate dt);
    void getDayNoteCount(QDate dt);
    void getDayNoteCountByMonth(QDate dt);
    void getNoteItem(int nId);
    void upateNoteItem(QVariantMap mapData);
    // Saves as upateNoteItem() does and returns the note's uuid (a new one for a new note),
    // by which noteSaved() or noteSaveFailed() later tell how the save went. An editor
    // names the version it opened ("opened_at" and "opened_md5": the note's "updated_at"
    // and "md5" as it was shown), so that a version that came meanwhile from another
    // computer is kept by the service when this change replaces it. A saved note is live.
    QString saveNoteItem(QVariantMap mapData);
    // A text typed without formatting (a quick note) as the note's "content", so that it
    // reads back as typed (see plainTextContent()).
    QString plainTextContent(QString strPlain);
    void deleteNoteItem(QString strNoteUuid);
    void replaceNoteItem(QVariantMap map, QString strField = QStringLiteral("uuid"));
    void insertNoteItem(QVariantMap mapData);
    void downloadNoteItem(QString strNoteUuid);
    void uploadNoteItem(QVariantMap mapData);
    void refreshNoteItem(QString strUuid);
    void refreshNoteCount(QString strDate);
    int compareItem(QVariantMap mapLocalItem, QVariantMap mapServerItem);
    void getAttachment(int nId);
    void saveAttachment();
    void delAttachment();
    void login(QString strName, QString strPwd);
    void logout();
    bool isLogin();
    QString loginName();
    void registerUser(QVariantMap mapData);
    void forgotPwd(QVariantMap mapData);
    void syncStart();
    void syncDownloadNoteList();
    void syncFinish();
    void clearLocalData();
    // Which accounts own notes on this computer: answered as "note_owners" with rows
    // "name" and "note_count" (shown while nobody is logged in).
    void getNoteOwners();

protected slots:
    void onTimeOutDownloadNote();
    void onTimeOutUploadNote();
    void onTimeOutLoginServer();
    void onTimeOutNextDay();
    void onTimeOutSync();
    void onUserIdChanged(int nUserId);
    void onDataReceived(QVariant data);
    void onStoreNotice(QVariant notice);
    void onPlainTextProgress(int nDone, int nTotal);

private:
    friend class TestNoteMgt;
    using Handler = std::function<bool(CRequestResult &)>;

    void construct(int nTimerInterval);
    void buildHandlers();
    // Keeps the context of a request; a request that was not queued (empty UUID) gets
    // no answer and is not kept.
    void registerRequest(const QString &strUuid, const QVariantMap &mapContext);
    // Reports, once per outage, that the local store cannot be used and why.
    bool reportStoreFailure(const QVariantMap &mapResult);
    // Tells the user of a failed write, every time, and the editor waiting for it.
    void reportFailedWrite(const QString &strType,
                           const QVariantMap &mapContext,
                           const QVariantMap &mapResult,
                           const QString &strError);
    // strNow: the time of a note made here, which the store stamps it with.
    QString queueInsert(QVariantMap mapData, const QString &strNow = QString());
    void renewLoginToken();
    void startSyncTimers();
    void takeLocalUser(int nUserId);
    void handleLoginServerError(const QString &strError, bool bNetwork, const QVariantMap &mapData);
    // Hands the login's state to the sync status.
    void updateSyncStatus();

    // Result handlers; each returns false for a result that is dropped without a log
    // entry.
    bool onDayNoteCountByMonth(CRequestResult &r);
    bool onDayNoteCount(CRequestResult &r);
    bool onNoteSaved(CRequestResult &r);
    bool onNoteListByDay(CRequestResult &r);
    bool onNoteListByOffset(CRequestResult &r);
    bool onNoteDeleted(CRequestResult &r);
    bool onNoteRefreshed(CRequestResult &r);
    bool onNoteOwners(CRequestResult &r);
    bool onLoginLocal(CRequestResult &r);
    bool onLoginServer(CRequestResult &r);
    bool onSaveUser(CRequestResult &r);
    bool onFindSavedUser(CRequestResult &r);
    bool onForgotPwd(CRequestResult &r);
    bool onLoginServerAgain(CRequestResult &r);

    // CSyncHost
    CDbMgt &store() override;
    CNetMgt &service() override;
    int localUserId() const override;
    int serverUserId() const override;
    QString serviceUrl() const override;
    void track(const QString &strRequest, const QVariantMap &mapContext) override;
    // Remembers a request whose answer nobody reads, so that it still counts as pending.
    QString untracked(const QString &strUuid) override;
    void noteShown(const QVariantMap &mapNote) override;
    void noteRemoved(const QString &strUuid) override;
    void dayChanged(const QString &strSetAt) override;
    void monthChanged(const QDate &dt) override;
    void storeNote(const QVariantMap &mapNote, const QString &strField) override;
    QString keepNote(const QVariantMap &mapNote) override;
    void tell(const QString &strMessage) override;
    const CSyncClock &syncClock() const override;

    // Registers a note write (replace_note_item), whose result shows the note in the lists.
    void registerNoteWrite(const QString &strRequest,
                           const QVariantMap &mapNote,
                           const QString &strField);

    bool m_bInit = false;
    int m_nUserId = 0;
    int m_nServerId = 0;
    QString m_strLoginToken;
    QString m_strNickName;
    QString m_strClassify;
    QString m_strUserName;
    QString m_strPwd;
    CSyncClock m_clock;
    QString m_strClockServiceUrl; // the service whose clock m_clock's offset follows
    CDbMgt m_dbMgt;
    CNetMgt m_netMgt;
    CPictureLoader m_pictureLoader;
    QVariantMap m_mapRequest;
    QTimer m_timerDownloadNote;
    QTimer m_timerUploadNote;
    QTimer m_timerLoginServer;
    QTimer m_timerNextDay;
    QTimer m_timerSync;
    CLoginFlow m_login;
    CSyncEngine m_sync;
    CSyncStatus m_syncStatus;
    QHash<QString, Handler> m_hashHandlers;

    // Set once the user has been told that the store cannot be opened.
    bool m_bStoreFailureShown = false;
    QSet<QString> m_setUntracked;
};

#endif // NOTEMGT_H
