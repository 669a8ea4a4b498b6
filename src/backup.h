#ifndef BACKUP_H
#define BACKUP_H

#include <QDate>
#include <QList>
#include <QObject>
#include <QString>
#include <QVariant>

class CDbMgt;

// Daily copies of local.db in the folder "backups" beside it, made by the database worker
// (VACUUM INTO on its own connection, so a copy is always a finished database), and the
// restore of one of them. Kept: the 7 newest copies, and for the 4 weeks before them the
// newest copy of each week.
class CBackup : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QVariantList backups READ backups NOTIFY backupsChanged)
    Q_PROPERTY(bool busy READ busy NOTIFY busyChanged)

public:
    static constexpr int DailyCopies = 7;
    static constexpr int WeeklyCopies = 4;

    explicit CBackup(CDbMgt &dbMgt, QObject *parent = nullptr);

    QString backupDir() const;
    // "local-2026-12-10.db"; an invalid date for other names.
    static QString fileName(const QDate &dt);
    static QDate dateOfFile(const QString &strFileName);
    // Of the days that have a copy, those the keeping rule drops.
    static QList<QDate> expired(QList<QDate> lstDays);

    // The copies, newest first: {"file", "date", "size"}.
    QVariantList backups() const;
    bool busy() const;

    // Why strFile cannot be restored, or "" when it is a sound Kelpo database.
    static QString check(const QString &strFile);
    // Puts a copy of strBackup in place of strDbFile; the current file (with its
    // write-ahead log) is kept beside it under a ".before-restore-<time>" name, given back
    // in pstrKeptAside. Refuses a damaged copy, and a database that a running Kelpo holds.
    // Returns "" on success, else the reason.
    static QString restore(const QString &strBackup,
                           const QString &strDbFile,
                           QString *pstrKeptAside = nullptr);
    // A restore asked for from the running program is done at the next start, before the
    // database is opened: the file named in "restore-pending" in strDataDir. Returns the
    // message for the user, "" when nothing was pending.
    static QString restorePending(const QString &strDataDir);

public slots:
    // Today's copy, unless it is there already. Returns the request's UUID or "".
    QString backUpIfDue();
    // A copy now; today's copy is replaced.
    QString backUpNow();
    // Asks for strFile to be restored at the next start and starts the program again.
    void restoreAndRestart(const QString &strFile);

signals:
    void backupsChanged();
    void busyChanged();
    void backupFinished(QString strFile);
    void backupFailed(QString strError);

private slots:
    void onDataReceived(const QVariant &data);

private:
    static QString restoreWaiting(const QString &strBackup,
                                  const QString &strDbFile,
                                  int nWaitMs,
                                  QString *pstrKeptAside);
    QString startBackup();
    void prune();

    CDbMgt &m_dbMgt;
    QString m_strRequest;
    QString m_strPartFile;
    QString m_strTargetFile;
};

#endif // BACKUP_H
