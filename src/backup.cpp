#include "backup.h"

#include "dbmgt.h"
#include "kelpolog.h"
#include "threaddb.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>

#include <algorithm>
#include <cstdio>

namespace {

const QString kPrefix = QStringLiteral("local-");
const QString kSuffix = QStringLiteral(".db");
const QString kPendingFile = QStringLiteral("restore-pending");
// SQLite's primary result codes for a database another connection holds.
const QString kBusy = QStringLiteral("5");
const QString kLocked = QStringLiteral("6");

// A connection of its own, removed when the object goes.
class CScopedConnection
{
public:
    CScopedConnection(const QString &strFile, const QString &strOptions)
        : m_strName(QStringLiteral("backup_") + QUuid::createUuid().toString(QUuid::WithoutBraces))
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_strName);
        db.setDatabaseName(strFile);
        db.setConnectOptions(strOptions);
        m_bOpen = db.open();
        if (!m_bOpen)
            m_strError = db.lastError().text();
    }
    ~CScopedConnection()
    {
        {
            QSqlDatabase db = QSqlDatabase::database(m_strName, false);
            db.close();
        }
        QSqlDatabase::removeDatabase(m_strName);
    }
    QSqlDatabase db() const { return QSqlDatabase::database(m_strName, false); }
    bool isOpen() const { return m_bOpen; }
    QString error() const { return m_strError; }

private:
    QString m_strName;
    bool m_bOpen = false;
    QString m_strError;
};

// Whether a running Kelpo holds strDbFile; waits up to nWaitMs for it to let go.
bool inUse(const QString &strDbFile, int nWaitMs)
{
    if (!QFileInfo::exists(strDbFile))
        return false;
    CScopedConnection connection(strDbFile, QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(nWaitMs));
    if (!connection.isOpen())
        return false;
    QSqlQuery query(connection.db());
    if (query.exec(QStringLiteral("BEGIN EXCLUSIVE"))) {
        query.exec(QStringLiteral("ROLLBACK"));
        return false;
    }
    // A damaged file is no reason to refuse: that is when a restore is wanted.
    const QString strCode = query.lastError().nativeErrorCode();
    return strCode == kBusy || strCode == kLocked;
}

// The files that make up a database: the file, its journals, and the writes kept at a stop
// to be carried out at the next start (they were made on this file, and on no other).
const QStringList kCompanions{QString(),
                              QStringLiteral("-wal"),
                              QStringLiteral("-shm"),
                              QStringLiteral("-journal"),
                              CThreadDb::unfinishedFile(QString())};

} // namespace

CBackup::CBackup(CDbMgt &dbMgt, QObject *parent)
    : QObject(parent)
    , m_dbMgt(dbMgt)
{
    connect(&m_dbMgt, &CDbMgt::dataReceived, this, &CBackup::onDataReceived);
}

QString CBackup::backupDir() const
{
    return QFileInfo(m_dbMgt.dbFile()).absoluteDir().filePath(QStringLiteral("backups"));
}

QString CBackup::fileName(const QDate &dt)
{
    return kPrefix + dt.toString(QStringLiteral("yyyy-MM-dd")) + kSuffix;
}

QDate CBackup::dateOfFile(const QString &strFileName)
{
    if (!strFileName.startsWith(kPrefix) || !strFileName.endsWith(kSuffix))
        return QDate();
    const QString strDay = strFileName.mid(kPrefix.size(),
                                           strFileName.size() - kPrefix.size() - kSuffix.size());
    if (strDay.size() != 10)
        return QDate();
    return QDate::fromString(strDay, QStringLiteral("yyyy-MM-dd"));
}

QList<QDate> CBackup::expired(QList<QDate> lstDays)
{
    std::sort(lstDays.begin(), lstDays.end(), std::greater<QDate>());
    lstDays.erase(std::unique(lstDays.begin(), lstDays.end()), lstDays.end());

    auto weekOf = [](const QDate &dt) {
        int nYear = 0;
        const int nWeek = dt.weekNumber(&nYear);
        return nYear * 100 + nWeek;
    };
    QSet<int> setWeeksKept;
    int nWeekly = 0;
    QList<QDate> lstExpired;
    for (int i = 0; i < lstDays.size(); ++i) {
        const int nWeek = weekOf(lstDays.at(i));
        if (i < DailyCopies) {
            setWeeksKept.insert(nWeek);
        } else if (nWeekly < WeeklyCopies && !setWeeksKept.contains(nWeek)) {
            setWeeksKept.insert(nWeek); // the newest copy of an older week
            ++nWeekly;
        } else {
            lstExpired << lstDays.at(i);
        }
    }
    return lstExpired;
}

QVariantList CBackup::backups() const
{
    QVariantList lstBackups;
    const QFileInfoList lstFiles = QDir(backupDir())
                                       .entryInfoList({kPrefix + QStringLiteral("*") + kSuffix},
                                                      QDir::Files,
                                                      QDir::Name | QDir::Reversed);
    for (const QFileInfo &info : lstFiles) {
        const QDate dt = dateOfFile(info.fileName());
        if (!dt.isValid())
            continue;
        lstBackups << QVariantMap{{QStringLiteral("file"), info.absoluteFilePath()},
                                  {QStringLiteral("date"), dt.toString(Qt::ISODate)},
                                  {QStringLiteral("size"), info.size()}};
    }
    return lstBackups;
}

bool CBackup::busy() const
{
    return !m_strRequest.isEmpty();
}

QString CBackup::backUpIfDue()
{
    if (QFileInfo::exists(QDir(backupDir()).filePath(fileName(QDate::currentDate()))))
        return QString();
    return startBackup();
}

QString CBackup::backUpNow()
{
    return startBackup();
}

QString CBackup::startBackup()
{
    if (busy())
        return QString();
    const QDir dir(backupDir());
    if (!QDir().mkpath(dir.absolutePath())) {
        const QString strError = tr("Cannot create the backup folder %1.").arg(dir.absolutePath());
        qCWarning(lcStore) << "Backup failed:" << strError;
        emit backupFailed(strError);
        return QString();
    }
    m_strTargetFile = dir.filePath(fileName(QDate::currentDate()));
    // VACUUM INTO wants a file that does not exist; the copy gets its name once complete.
    m_strPartFile = m_strTargetFile + QStringLiteral(".part");
    QFile::remove(m_strPartFile);
    m_strRequest = m_dbMgt.backupTo(m_strPartFile);
    emit busyChanged();
    return m_strRequest;
}

void CBackup::onDataReceived(const QVariant &data)
{
    const QVariantMap mapResult = data.toMap();
    if (m_strRequest.isEmpty() || mapResult.value(QStringLiteral("uuid")).toString() != m_strRequest)
        return;
    m_strRequest.clear();
    QString strError = mapResult.value(QStringLiteral("error")).toString();
    // The finished copy takes the place of an earlier one of the day in one step: until it
    // is there, the earlier copy is.
    if (strError.isEmpty()
        && std::rename(QFile::encodeName(m_strPartFile).constData(),
                       QFile::encodeName(m_strTargetFile).constData())
               != 0)
        strError = tr("Cannot write the backup %1.").arg(m_strTargetFile);
    emit busyChanged();
    if (!strError.isEmpty()) {
        QFile::remove(m_strPartFile);
        qCWarning(lcStore) << "Backup failed:" << strError;
        emit backupFailed(strError);
        return;
    }
    prune();
    emit backupsChanged();
    emit backupFinished(m_strTargetFile);
}

void CBackup::prune()
{
    QList<QDate> lstDays;
    for (const QVariant &backup : backups())
        lstDays << QDate::fromString(backup.toMap().value(QStringLiteral("date")).toString(),
                                     Qt::ISODate);
    const QDir dir(backupDir());
    for (const QDate &dt : expired(lstDays)) {
        if (!QFile::remove(dir.filePath(fileName(dt))))
            qCWarning(lcStore) << "Cannot remove the old backup" << dir.filePath(fileName(dt));
    }
}

QString CBackup::check(const QString &strFile)
{
    const QFileInfo info(strFile);
    if (!info.isFile())
        return tr("%1 is not a file.").arg(strFile);
    // A database of 100 bytes or less has no page: SQLite would take it as empty.
    if (info.size() < 512)
        return tr("%1 is not a Kelpo diary.").arg(strFile);
    CScopedConnection connection(strFile, QStringLiteral("QSQLITE_OPEN_READONLY"));
    if (!connection.isOpen())
        return tr("%1 cannot be opened: %2").arg(strFile, connection.error());
    QSqlQuery query(connection.db());
    if (!query.exec(QStringLiteral("PRAGMA integrity_check")))
        return tr("%1 is damaged: %2").arg(strFile, query.lastError().text());
    QStringList lstProblems;
    while (query.next())
        lstProblems << query.value(0).toString();
    if (lstProblems != QStringList{QStringLiteral("ok")})
        return tr("%1 is damaged: %2").arg(strFile, lstProblems.value(0));
    if (!query.exec(QStringLiteral("SELECT count(*) FROM note, user WHERE 0")))
        return tr("%1 is not a Kelpo diary.").arg(strFile);
    return QString();
}

QString CBackup::restore(const QString &strBackup, const QString &strDbFile, QString *pstrKeptAside)
{
    return restoreWaiting(strBackup, strDbFile, 1000, pstrKeptAside);
}

QString CBackup::restoreWaiting(const QString &strBackup,
                                const QString &strDbFile,
                                int nWaitMs,
                                QString *pstrKeptAside)
{
    const QString strProblem = check(strBackup);
    if (!strProblem.isEmpty())
        return strProblem;
    if (inUse(strDbFile, nWaitMs))
        return tr("Kelpo is running with this diary; quit it first.");

    const QString strRestoring = strDbFile + QStringLiteral(".restoring");
    QFile::remove(strRestoring);
    if (!QFile::copy(strBackup, strRestoring)) {
        QFile::remove(strRestoring);
        return tr("Cannot copy %1 to %2.").arg(strBackup, strRestoring);
    }

    // The current diary with its journals goes aside under one name, so that it can be
    // opened again as it was.
    QString strAside;
    if (QFileInfo::exists(strDbFile)) {
        strAside = strDbFile + QStringLiteral(".before-restore-")
                   + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmss"));
        for (const QString &strSuffix : kCompanions) {
            if (QFileInfo::exists(strDbFile + strSuffix)
                && !QFile::rename(strDbFile + strSuffix, strAside + strSuffix)) {
                for (const QString &strBack : kCompanions)
                    QFile::rename(strAside + strBack, strDbFile + strBack);
                QFile::remove(strRestoring);
                return tr("Cannot move %1 aside.").arg(strDbFile);
            }
        }
    }
    if (!QFile::rename(strRestoring, strDbFile)) {
        for (const QString &strBack : kCompanions)
            QFile::rename(strAside + strBack, strDbFile + strBack);
        QFile::remove(strRestoring);
        return tr("Cannot put the backup in place of %1.").arg(strDbFile);
    }
    if (pstrKeptAside)
        *pstrKeptAside = strAside;
    return QString();
}

QString CBackup::restorePending(const QString &strDataDir)
{
    const QString strPending = QDir(strDataDir).filePath(kPendingFile);
    QFile file(strPending);
    if (!file.exists())
        return QString();
    QString strBackup;
    if (file.open(QIODevice::ReadOnly))
        strBackup = QString::fromUtf8(file.readAll()).trimmed();
    file.close();
    // Asked once: a restore that fails is not tried at every start.
    file.remove();
    if (strBackup.isEmpty())
        return QString();
    QString strAside;
    // The program that asked for it may still be closing its database.
    const QString strError = restoreWaiting(strBackup,
                                            QDir(strDataDir).filePath(QStringLiteral("local.db")),
                                            20000,
                                            &strAside);
    if (!strError.isEmpty()) {
        qCWarning(lcStore) << "Restore failed:" << strError;
        return tr("The backup was not restored: %1").arg(strError);
    }
    return strAside.isEmpty() ? tr("The backup %1 is restored.").arg(strBackup)
                              : tr("The backup %1 is restored; the diary as it was is kept as %2.")
                                    .arg(strBackup, strAside);
}

void CBackup::restoreAndRestart(const QString &strFile)
{
    const QString strProblem = check(strFile);
    if (!strProblem.isEmpty()) {
        emit backupFailed(strProblem);
        return;
    }
    QSaveFile file(QFileInfo(m_dbMgt.dbFile()).absoluteDir().filePath(kPendingFile));
    if (!file.open(QIODevice::WriteOnly) || file.write(strFile.toUtf8()) < 0 || !file.commit()) {
        emit backupFailed(tr("Cannot ask for the restore: %1").arg(file.errorString()));
        return;
    }
    QProcess::startDetached(QCoreApplication::applicationFilePath(),
                            QCoreApplication::arguments().mid(1));
    QCoreApplication::quit();
}
