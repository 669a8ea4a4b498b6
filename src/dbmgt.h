#ifndef DBMGT_H
#define DBMGT_H

#include "threaddb.h"

#include <QDate>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>
#include <QVariant>
#include <QVariantMap>

#include <functional>

// The local note store: every operation builds a request, queues it on the database
// worker and returns at once with the request's UUID (or "" when it queued nothing). The
// worker's result maps are relayed unchanged through dataReceived(), in queue order.
class CDbMgt : public QObject
{
    Q_OBJECT

public:
    // strDataDir: the folder of local.db; empty means the application's data folder.
    explicit CDbMgt(const QString &strDataDir = QString(), QObject *parent = nullptr);
    ~CDbMgt() override;

    QString dbFile() const;
    int userId() const;

signals:
    void dataReceived(QVariant);
    // What the store reports of local.db outside any request (see CThreadDb::notice).
    void notice(QVariant);
    // The background derivation of older notes' visible texts (CThreadDb).
    void plainTextProgress(int nDone, int nTotal);

public slots:
    void setUserId(int nVal);

    // Users.
    QString getUser(int nId);
    QString getUser(const QString &strUser, const QString &strPwd);
    QString saveUser(QVariantMap mapData);
    QString delUser(int nUserId);
    QString getUserIdList();
    // The accounts that own live notes here, with how many: rows "name", "note_count",
    // most notes first.
    QString getNoteOwners();
    // Server ids belong to one service and one account there: forgets the server ids of
    // the notes of the local user strName when they were uploaded to another service or
    // under another account than (strServerUrl, nServerId), so that they are uploaded
    // again.
    QString clearServerIdsOfMovedUser(const QString &strName,
                                      int nServerId,
                                      const QString &strServerUrl);

    // Single notes.
    QString getNoteItem(int nId, int nUserId);
    // With the version its change was made from (base_updated_at, base_md5).
    QString getNoteItem(const QString &strUuid);
    // A new note, stamped as changed now: by the store's clock, or at strNow, a reading of
    // that clock that the caller took for the note (and told the views).
    QString insertNoteItem(const QVariantMap &mapData, const QString &strNow = QString());
    QString updateNoteItem(QVariantMap map, const QString &strWhereField = QString());
    QString replaceNoteItem(QVariantMap map, const QString &strWhereField = QString());
    // A change made in the editor from the version mapMadeFrom of the note ("updated_at",
    // "md5"), replacing the note found by its "uuid". When the note has changed since (the
    // synchronisation wrote another version, or deleted it), the change names that version
    // as the one it was made from, so that the service keeps what it replaces.
    QString saveEditedNote(QVariantMap map, const QVariantMap &mapMadeFrom);
    // Adds the note unless a note with the same uuid is already stored, in any state
    // (deleted too): one found is left exactly as it is, and the result says "kept".
    QString keepNoteItem(QVariantMap map);
    QString deleteNoteItem(const QString &strUuid, int nUserId, const QString &strUpdatedAt);
    QString deleteNoteItemByServerId(int nServerId, const QString &strModifiedAt, int nUserId);
    QString getNoteIdByLocalId(int nLocalId);

    // Note lists and counts.
    QString getNoteListByDay(const QDate &dt, int nUserId = 0);
    QString getNoteListByMonth(const QDate &dt, int nUserId);
    QString getNoteListByOffset(const QVariantMap &mapData);
    // The user's notes whose text has not been fetched yet, the latest changed first.
    QString getNoteListByToDownload();
    QString getNoteListByToUpload();
    // Synchronisation state of local changes. The pending changes of the current user
    // (and of nobody), oldest first.
    QString getPendingNoteList();
    // The service has this version of a note (its "uuid", "updated_at", "deleted" and
    // text digest "md5"; nServerId: its id there, when known): that version is no longer
    // pending. Any other version, a later one or another within the same second, stays so.
    QString acknowledgeNote(const QVariantMap &mapVersion, int nServerId);
    // That version of a note without a base (a new note, or one of an older file) is on
    // its way to the service: it becomes the note's base, since the service may have it
    // even when its answer is lost. A later change then names it, and the service tells
    // when another computer changed the note in between.
    QString recordSentVersion(const QVariantMap &mapVersion);
    // Writes the service's version of a note (map with "uuid" and "updated_at"), unless
    // the local copy holds a pending change newer than that version. mapCompared: the
    // local note as read for the comparison that chose the service's version (with its
    // "sync_state"); a pending change stored since that read is not that note, and stays.
    // The UUIDs of the user's live notes that hold no change of their own (the service's
    // versions, as far as this computer knows).
    QString getSettledNoteUuids();
    QString writeServiceVersion(const QVariantMap &mapNote,
                                const QVariantMap &mapCompared = QVariantMap());
    // The service refused that version for good: not sent again until changed again.
    QString refuseNote(const QVariantMap &mapVersion);
    // The current user's notes with these UUIDs, deleted ones included, as getNoteItem
    // gives them.
    QString getNoteItemsByUuids(const QStringList &lstUuids);
    // How far this computer has followed the changes of the account nServerUserId at the
    // service strServiceUrl for the local user nUserId: one row "cursor", "walk_top",
    // "walk_before", "check_uuid", "check_change" (see CChangeFeed), or none.
    QString getChangeCursor(int nUserId, const QString &strServiceUrl, int nServerUserId);
    // In one transaction: adds the service's notes lstNew (records with their own "uuid"
    // and "updated_at"; one whose UUID is here already is left alone) and records the
    // position mapCursor ("user_id", "service_url", "server_user_id", "cursor",
    // "walk_top", "walk_before", and "check_uuid", "check_change" when known), so that a
    // position is never ahead of the notes stored.
    // lstWanted: UUIDs of notes here, without a change of their own, whose later version at
    // the service came without its text: marked as texts to fetch (sync_state 3,
    // getWantedTexts()) until the service's version is written.
    QString storeServiceNotes(const QVariantList &lstNew,
                              const QVariantMap &mapCursor,
                              const QStringList &lstWanted = QStringList());
    // The current user's notes whose later text is to be fetched: rows "uuid".
    QString getWantedTexts();
    // The service no longer holds the note strUuid: its later text is not wanted any more.
    QString forgetWantedText(const QString &strUuid);
    QString getDayNoteCount(const QDate &dt, int nUserId = 0);
    QString getDayNoteCountByMonth(const QDate &dt, int nUserId = 0);
    QString getNoteIdList(int nUserId);

    // Bulk changes.
    QString deleteNoteItemsInServerByMonth(const QDate &dt, int nUserId);
    void updateNoteUserId(int nUserId);
    QString clearNoteItemsByUserId(int nUserId);
    void clearDb();
    void saveLog(const QVariantMap &map);
    // Drops the log entries older than 30 days and all but the newest 10 000.
    void trimLog();

    // Export, import and backups.
    // A statement of the caller's own with bound values: for reads the other operations
    // do not offer.
    QString queryPrepared(const QString &strSql, const QVariantMap &mapData);
    // A consistent copy of the whole database into strFile, which must not exist yet.
    QString backupTo(const QString &strFile);
    // Writes notes in one transaction, all or none: lstNew are inserted with their own
    // "uuid" and "updated_at"; lstChanged are matched by "uuid" and get the other columns
    // they carry. A changed note with "read_updated_at" and "read_md5" (the note as the
    // caller read it) is left alone when it is no longer so: changed meanwhile, by an edit
    // or by the note service. The result carries "count" (statements run) and "affected"
    // (rows each changed; lstChanged's statements come first, one each) or "error".
    QString importNotes(const QVariantList &lstNew, const QVariantList &lstChanged);

    // The clock whose reading (the kept form) stamps new notes; unset: currentUtcString().
    void setClock(std::function<QString()> clock);

    // Writes the log entries that wait (saveLog()) now.
    void flushLog();

private:
    static QVariantMap logStatement(const QString &strSql, const QVariantMap &mapData);
    // Queues a request; the log entries that wait follow a write.
    // replaceNoteItem(), or keepNoteItem() with bKeepFound.
    QString writeNoteItem(QVariantMap map,
                          const QString &strWhereField,
                          bool bKeepFound,
                          const QVariantMap &mapMadeFrom = QVariantMap());
    QString send(const QVariantMap &mapRequest);
    void addNow(QVariantMap &mapSpec) const;
    QString query(const QString &strSql);
    QString prepared(const QString &strSql, const QVariantMap &mapData);
    QVariantMap preparedInsert(QVariantMap mapNote, const QString &strNow = QString()) const;

    int m_nUserId = 0;
    int m_nLogWrites = 0;
    // Log entries not written yet, as batch statements; written at the latest after
    // kLogFlushMs.
    static constexpr int kLogFlushMs = 1000;
    QVariantList m_lstLogStatements;
    QTimer m_timerLog;
    CThreadDb m_threadDb;
    QString m_strDbFile;
    const QSet<QString> m_setNumericField;
    std::function<QString()> m_clock;
};

#endif // DBMGT_H
