#include "importer.h"

#include "dbmgt.h"
#include "kelpolog.h"
#include "notefile.h"
#include "pictureloader.h"
#include "sqlbuilder.h"
#include "wiretime.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSet>
#include <QTextCodec>
#include <QTextDocument>
#include <QThread>
#include <QUrl>
#include <QUuid>

#include <atomic>
#include <functional>

namespace {

QString str(const char *p)
{
    return QString::fromUtf8(p);
}

// Files larger than this are no diary entries.
constexpr qint64 kLargestFile = 64 * 1024 * 1024;
const QString kTimeFormat = QStringLiteral("yyyy-MM-dd hh:mm:ss");
// Files without a UUID get one made from their path, so importing them again updates
// the notes made the first time.
const QUuid kFileNamespace(QStringLiteral("{6c1f4b7e-2b1d-4f3c-9a55-0d6e8f1a2c47}"));
const QRegularExpression kUuid(QStringLiteral(
    "^\\{?([0-9a-fA-F]{8}-[0-9a-fA-F]{4}-[0-9a-fA-F]{4}-[0-9a-fA-F]{4}-[0-9a-fA-F]{12})\\}?$"));
const QRegularExpression kDatedName(QStringLiteral("^(\\d{4})-?(\\d{2})-?(\\d{2})(?!\\d)(.*)$"));

bool isNoteFile(const QString &strSuffix)
{
    static const QSet<QString> setSuffixes{str("md"),
                                           str("markdown"),
                                           str("txt"),
                                           str("html"),
                                           str("htm")};
    return setSuffixes.contains(strSuffix.toLower());
}

// A time of a file's header as notes keep it (UTC): files give the local time of this
// computer, or a time with its zone.
QString timeOrNull(const QString &strTime)
{
    return WireTime::toKept(strTime, QTimeZone::systemTimeZone());
}

} // namespace

struct CImporter::Work
{
    QString strFolder;
    int nUserId = 0;
    QVariantList lstNotes; // read from the files, each with "file"
    QVariantList lstBad;
    QVariantMap mapExisting; // uuid -> {set_at, title, content, deleted, user_id, updated_at}
    QVariantList lstNew;
    QVariantList lstChanged;
    QStringList lstChangedFiles; // the file of each of lstChanged
    int nUnchanged = 0;
    // Files read so far and in all, written by the reading thread.
    std::atomic<int> nRead{0};
    std::atomic<int> nFiles{0};
};

namespace {

void runInThread(QObject *pContext, std::function<void()> fnWork, std::function<void()> fnThen)
{
    QThread *pThread = QThread::create(std::move(fnWork));
    pThread->setObjectName(str("Importer"));
    QObject::connect(pThread, &QThread::finished, pContext, std::move(fnThen));
    QObject::connect(pThread, &QThread::finished, pThread, &QObject::deleteLater);
    pThread->start();
}

void addBad(QVariantList &lstBad, const QString &strFile, const QString &strReason)
{
    lstBad << QVariantMap{{str("file"), strFile}, {str("reason"), strReason}};
}

} // namespace

CImporter::CImporter(CDbMgt &dbMgt, QObject *parent)
    : QObject(parent)
    , m_dbMgt(dbMgt)
{
    connect(&m_dbMgt, &CDbMgt::dataReceived, this, &CImporter::onDataReceived);
    m_timerProgress.setInterval(200);
    connect(&m_timerProgress, &QTimer::timeout, this, [this] {
        if (m_pWork)
            emit progress(m_pWork->nRead, m_pWork->nFiles);
    });
}

// A thread still reading files holds its own share of the work and ends by itself; its
// result then has no one to go to.
CImporter::~CImporter() = default;

bool CImporter::busy() const
{
    return m_bBusy;
}

QString CImporter::readNote(const QString &strPath,
                            const QString &strRelative,
                            QVariantMap *pmapNote)
{
    const QFileInfo info(strPath);
    if (info.size() > kLargestFile)
        return tr("the file is larger than 64 MB");
    QFile file(strPath);
    if (!file.open(QIODevice::ReadOnly))
        return tr("the file cannot be read: %1").arg(file.errorString());
    const QByteArray baData = file.readAll();
    QTextCodec::ConverterState state;
    QString strText = QTextCodec::codecForName("UTF-8")->toUnicode(baData.constData(),
                                                                   baData.size(),
                                                                   &state);
    // An incomplete sequence at the end is held back as "remaining", not counted invalid.
    if (state.invalidChars > 0 || state.remainingChars > 0)
        return tr("the file is not UTF-8 text");
    if (strText.startsWith(QChar(0xfeff)))
        strText.remove(0, 1);

    QVariantMap mapHeader;
    QString strError;
    const bool bHeader = NoteFile::takeHeader(strText, mapHeader, &strError);
    if (!strError.isEmpty())
        return strError;

    const QString strSuffix = info.suffix().toLower();
    QDate dt;
    QString strTitle;
    const QRegularExpressionMatch match = kDatedName.match(info.completeBaseName());
    if (match.hasMatch()) {
        dt = QDate(match.captured(1).toInt(), match.captured(2).toInt(), match.captured(3).toInt());
        strTitle = match.captured(4);
        while (!strTitle.isEmpty()
               && (strTitle.at(0).isSpace() || strTitle.at(0) == QLatin1Char('-')
                   || strTitle.at(0) == QLatin1Char('_')))
            strTitle.remove(0, 1);
        strTitle = strTitle.trimmed();
    }
    if (bHeader) {
        if (mapHeader.contains(str("date"))) {
            dt = QDate::fromString(mapHeader.value(str("date")).toString().left(10), Qt::ISODate);
            if (!dt.isValid())
                return tr("the date \"%1\" is not a day (yyyy-MM-dd)")
                    .arg(mapHeader.value(str("date")).toString());
        }
        strTitle = mapHeader.value(str("title")).toString();
    }
    if (!dt.isValid())
        return tr("the name does not start with a day (yyyy-MM-dd) and the file has no date");

    QString strUuid;
    const QString strGivenUuid = mapHeader.value(str("uuid")).toString().trimmed();
    if (!strGivenUuid.isEmpty()) {
        const QRegularExpressionMatch uuid = kUuid.match(strGivenUuid);
        if (!uuid.hasMatch())
            return tr("the UUID \"%1\" is not a UUID").arg(strGivenUuid);
        strUuid = QLatin1Char('{') + uuid.captured(1).toLower() + QLatin1Char('}');
    } else {
        strUuid = QUuid::createUuidV5(kFileNamespace, strRelative).toString();
    }

    QTextDocument doc;
    if (strSuffix == QLatin1String("html") || strSuffix == QLatin1String("htm"))
        doc.setHtml(strText);
    else if (strSuffix == QLatin1String("txt"))
        doc.setPlainText(strText);
    else // Qt's Markdown reader drops a picture without alternative text: give it one.
        doc.setMarkdown(strText.replace(QStringLiteral("![]("), QStringLiteral("![picture](")),
                        QTextDocument::MarkdownDialectGitHub);
    strError = NoteFile::inlinePictures(doc, info.absoluteDir());
    if (!strError.isEmpty())
        return strError;
    if (doc.isEmpty())
        return tr("the note is empty");

    const QString strContent = doc.toHtml();
    // The note service takes notes up to this size; a larger one could never be synchronised.
    if (strContent.toUtf8().size() > CPictureLoader::kMaxNoteBytes)
        return tr("the note with its pictures is larger than %1 MB")
            .arg(CPictureLoader::kMaxNoteBytes / (1024 * 1024));

    const QString strModified = info.lastModified().toUTC().toString(kTimeFormat);
    QString strCreated = timeOrNull(mapHeader.value(str("created")).toString());
    QString strUpdated = timeOrNull(mapHeader.value(str("updated")).toString());
    // The latest the file can know of its note: the version it was written from, or its own
    // last change when that is later (a file edited since).
    const QString strFileTime = qMax(strUpdated, strModified);
    *pmapNote = QVariantMap{{str("uuid"), strUuid},
                            {str("set_at"), dt.toString(Qt::ISODate) + str(" 00:00:00")},
                            {str("title"), strTitle},
                            {str("content"), strContent},
                            {str("created_at"), strCreated.isEmpty() ? strModified : strCreated},
                            {str("updated_at"), strUpdated.isEmpty() ? strModified : strUpdated},
                            {str("file_time"), strFileTime}};
    return QString();
}

bool CImporter::start(const QString &strFolder)
{
    if (m_bBusy) {
        emit failed(tr("An import is running already."));
        return false;
    }
    const QUrl url(strFolder);
    const QString strPath = url.isLocalFile() ? url.toLocalFile() : strFolder;
    if (strPath.isEmpty() || !QFileInfo(strPath).isDir()) {
        emit failed(tr("%1 is not a folder.").arg(strPath));
        return false;
    }
    m_bBusy = true;
    emit busyChanged();
    emit progress(0, 0);

    m_pWork = std::make_shared<Work>();
    m_pWork->strFolder = QFileInfo(strPath).absoluteFilePath();
    m_pWork->nUserId = m_dbMgt.userId();
    m_timerProgress.start();
    std::shared_ptr<Work> pWork = m_pWork;
    runInThread(
        this,
        [pWork] {
            QStringList lstFiles;
            QDirIterator it(pWork->strFolder,
                            QDir::Files | QDir::NoDotAndDotDot,
                            QDirIterator::Subdirectories);
            while (it.hasNext()) {
                const QString strFile = it.next();
                if (isNoteFile(it.fileInfo().suffix())
                    && !QDir(pWork->strFolder).relativeFilePath(strFile).startsWith(QLatin1Char('.')))
                    lstFiles << strFile;
            }
            lstFiles.sort();
            pWork->nFiles = lstFiles.size();
            QSet<QString> setUuids;
            for (int i = 0; i < lstFiles.size(); ++i) {
                const QString strRelative = QDir(pWork->strFolder).relativeFilePath(lstFiles.at(i));
                QVariantMap mapNote;
                const QString strError = readNote(lstFiles.at(i), strRelative, &mapNote);
                const QString strUuid = mapNote.value(str("uuid")).toString();
                if (!strError.isEmpty()) {
                    addBad(pWork->lstBad, strRelative, strError);
                } else if (setUuids.contains(strUuid)) {
                    addBad(pWork->lstBad, strRelative, tr("another file has the same UUID"));
                } else {
                    setUuids.insert(strUuid);
                    mapNote.insert(str("file"), strRelative);
                    pWork->lstNotes << mapNote;
                }
                pWork->nRead = i + 1;
            }
        },
        [this, pWork] {
            if (pWork == m_pWork)
                onParsed();
        });
    return true;
}

void CImporter::onParsed()
{
    if (m_pWork->lstNotes.isEmpty()) {
        finish(QString());
        return;
    }
    QJsonArray uuids;
    for (const QVariant &note : qAsConst(m_pWork->lstNotes))
        uuids << note.toMap().value(str("uuid")).toString();
    m_strExistingRequest = m_dbMgt.queryPrepared(
        str("SELECT uuid, set_at, title, content, deleted, user_id, updated_at, md5 FROM note"
            " WHERE uuid IN (SELECT value FROM json_each(:uuids))"),
        {{str("uuids"), QString::fromUtf8(QJsonDocument(uuids).toJson(QJsonDocument::Compact))}});
}

void CImporter::onDataReceived(const QVariant &data)
{
    const QVariantMap mapResult = data.toMap();
    const QString strUuid = mapResult.value(str("uuid")).toString();
    const QString strError = mapResult.value(str("error")).toString();
    if (!m_strExistingRequest.isEmpty() && strUuid == m_strExistingRequest) {
        m_strExistingRequest.clear();
        if (!strError.isEmpty()) {
            finish(tr("Nothing was imported: the diary cannot be read (%1).").arg(strError));
            return;
        }
        for (const QVariant &row : mapResult.value(str("result")).toList())
            m_pWork->mapExisting.insert(row.toMap().value(str("uuid")).toString(), row);
        std::shared_ptr<Work> pWork = m_pWork;
        // Comparing contents parses every note twice: not on the window's thread.
        runInThread(
            this,
            [pWork] {
                const QString strNow = currentUtcString();
                for (const QVariant &note : qAsConst(pWork->lstNotes)) {
                    QVariantMap mapNote = note.toMap();
                    const QString strFile = mapNote.take(str("file")).toString();
                    const QString strFileTime = mapNote.take(str("file_time")).toString();
                    const QString strNoteUuid = mapNote.value(str("uuid")).toString();
                    if (!pWork->mapExisting.contains(strNoteUuid)) {
                        if (pWork->nUserId >= 1)
                            mapNote.insert(str("user_id"), pWork->nUserId);
                        pWork->lstNew << mapNote;
                        continue;
                    }
                    const QVariantMap mapOld = pWork->mapExisting.value(strNoteUuid).toMap();
                    const int nOwner = mapOld.value(str("user_id")).toInt();
                    if (nOwner >= 1 && nOwner != pWork->nUserId) {
                        addBad(pWork->lstBad,
                               strFile,
                               tr("the note belongs to another account on this computer"));
                        continue;
                    }
                    const bool bSame = mapOld.value(str("deleted")).toInt() != 1
                                       && mapOld.value(str("set_at")).toString()
                                              == mapNote.value(str("set_at")).toString()
                                       && mapOld.value(str("title")).toString()
                                              == mapNote.value(str("title")).toString()
                                       && NoteFile::fingerprint(
                                              mapOld.value(str("content")).toString())
                                              == NoteFile::fingerprint(
                                                  mapNote.value(str("content")).toString());
                    if (bSame) {
                        ++pWork->nUnchanged;
                        continue;
                    }
                    // Written on in the diary after the file was made: that writing stays
                    // (a deleted note comes back: its text is no later than the file's).
                    if (mapOld.value(str("deleted")).toInt() != 1
                        && mapOld.value(str("updated_at")).toString() > strFileTime) {
                        addBad(pWork->lstBad,
                               strFile,
                               tr("the note was changed in this diary after the file was "
                                  "written: the diary's text is kept"));
                        continue;
                    }
                    // A change made now: pending until the note service has it, which
                    // synchronisation passes it on to as the newer copy.
                    pWork->lstChanged
                        << QVariantMap{{str("uuid"), strNoteUuid},
                                       {str("set_at"), mapNote.value(str("set_at"))},
                                       {str("title"), mapNote.value(str("title"))},
                                       {str("content"), mapNote.value(str("content"))},
                                       {str("updated_at"), strNow},
                                       {str("deleted"), QVariant()},
                                       {str("sync_state"), 1},
                                       // Written only over the note as it was read here.
                                       {str("read_updated_at"),
                                        mapOld.value(str("updated_at")).toString()},
                                       {str("read_md5"), mapOld.value(str("md5")).toString()}};
                    pWork->lstChangedFiles << strFile;
                }
                pWork->mapExisting.clear();
                pWork->lstNotes.clear();
            },
            [this, pWork] {
                if (pWork == m_pWork)
                    onClassified();
            });
        return;
    }
    if (!m_strWriteRequest.isEmpty() && strUuid == m_strWriteRequest) {
        m_strWriteRequest.clear();
        if (!strError.isEmpty()) {
            finish(tr("Nothing was imported: the diary cannot be written (%1).").arg(strError));
            return;
        }
        // A note written on in the diary (or brought by the note service) while the files
        // were compared keeps that writing: its statement (one each, first) changed nothing.
        const QVariantList lstAffected = mapResult.value(str("affected")).toList();
        for (int i = m_pWork->lstChanged.size() - 1; i >= 0; --i) {
            if (lstAffected.value(i, 1).toInt() != 0)
                continue;
            addBad(m_pWork->lstBad,
                   m_pWork->lstChangedFiles.value(i),
                   tr("the note was changed in this diary after the file was written: the "
                      "diary's text is kept"));
            m_pWork->lstChanged.removeAt(i);
        }
        finish(QString());
    }
}

void CImporter::onClassified()
{
    if (m_pWork->lstNew.isEmpty() && m_pWork->lstChanged.isEmpty()) {
        finish(QString());
        return;
    }
    m_strWriteRequest = m_dbMgt.importNotes(m_pWork->lstNew, m_pWork->lstChanged);
}

void CImporter::finish(const QString &strError)
{
    const std::shared_ptr<Work> pWork = std::move(m_pWork);
    m_timerProgress.stop();
    emit progress(pWork->nRead, pWork->nFiles);
    m_bBusy = false;
    emit busyChanged();
    if (!strError.isEmpty()) {
        qCWarning(lcStore) << "Import failed:" << strError;
        emit failed(strError);
        return;
    }
    emit finished(pWork->lstNew.size(), pWork->lstChanged.size(), pWork->nUnchanged, pWork->lstBad);
}
