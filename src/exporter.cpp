#include "exporter.h"

#include "dbmgt.h"
#include "kelpolog.h"
#include "notefile.h"
#include "wiretime.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QSet>
#include <QTextBlockFormat>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextDocumentFragment>
#include <QUrl>

#include <atomic>
#include <cstdio>
#include <memory>

namespace {

// A kept time (UTC) as the local time people read in the files, with its offset from UTC so
// that it names one moment wherever the file is imported; other texts as they are.
QVariant localTime(const QVariant &varKept)
{
    const QString str = WireTime::keptToLocalWithOffset(varKept.toString(),
                                                        QTimeZone::systemTimeZone());
    return str.isEmpty() ? varKept : QVariant(str);
}

const QString kPdfName = QStringLiteral("Kelpo.pdf");

QString str(const char *p)
{
    return QString::fromUtf8(p);
}

} // namespace

// Turns the notes of each batch into files; lives on the exporter's thread.
class CExportWriter : public QObject
{
    Q_OBJECT

public:
    explicit CExportWriter(std::atomic<bool> &bCancel)
        : m_bCancel(bCancel)
    {}

public slots:
    void begin(const QString &strTarget, int nFormat)
    {
        m_strTarget = strTarget;
        m_format = CExporter::Format(nFormat);
        m_setNames.clear();
        m_strError.clear();
        m_nPdfPictures = 0;
        m_pPdf.reset();
        if (m_format == CExporter::Format::Pdf) {
            m_pPdf = std::make_unique<QTextDocument>();
            m_pPdf->setMetaInformation(QTextDocument::DocumentTitle, str("Kelpo"));
        }
    }

    void writeBatch(const QVariantList &lstNotes)
    {
        int nWritten = 0;
        for (const QVariant &note : lstNotes) {
            if (!m_strError.isEmpty())
                break;
            if (m_bCancel) {
                m_strError = tr("The export was cancelled.");
                break;
            }
            if (m_format == CExporter::Format::Pdf)
                addToPdf(note.toMap());
            else
                writeNote(note.toMap());
            ++nWritten;
        }
        emit batchWritten(nWritten, m_strError);
    }

    void end()
    {
        if (m_strError.isEmpty() && m_bCancel)
            m_strError = tr("The export was cancelled.");
        if (m_strError.isEmpty() && m_pPdf)
            printPdf();
        m_pPdf.reset();
        emit done(m_strError);
    }

signals:
    void batchWritten(int nNotes, const QString &strError);
    void done(const QString &strError);

private:
    // "2026/2026-12-10 Title" made unique among the names written so far (file systems
    // may not tell case apart).
    QString uniqueName(const QString &strFolder, const QString &strBase)
    {
        QString strName = strFolder + QLatin1Char('/') + strBase;
        for (int n = 2; m_setNames.contains(strName.toLower()); ++n)
            strName = QStringLiteral("%1/%2 (%3)").arg(strFolder, strBase).arg(n);
        m_setNames.insert(strName.toLower());
        return strName;
    }

    // Written under a temporary name and renamed, so no half-written note is left with
    // its own name; not synced one by one (thousands of syncs would make a large export
    // take minutes).
    bool save(const QString &strPath, const QByteArray &baData)
    {
        const QString strPart = strPath + str(".part");
        QFile file(strPart);
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)
            && file.write(baData) == baData.size() && file.flush()) {
            file.close();
            // In one step: a file written by an earlier export stays until this one is there.
            if (std::rename(QFile::encodeName(strPart).constData(),
                            QFile::encodeName(strPath).constData())
                == 0)
                return true;
        }
        m_strError = tr("Cannot write %1: %2").arg(strPath, file.errorString());
        file.close();
        QFile::remove(strPart);
        return false;
    }

    void writeNote(const QVariantMap &mapNote)
    {
        const QString strDay = mapNote.value(str("set_at")).toString().left(10);
        const QString strTitle = mapNote.value(str("title")).toString();
        const QString strContent = mapNote.value(str("content")).toString();
        const QString strUuid = mapNote.value(str("uuid")).toString();
        const QString strFolder = strDay.left(4);
        const QDir dir(QDir(m_strTarget).filePath(strFolder));
        if (!QDir().mkpath(dir.path())) {
            m_strError = tr("Cannot create the folder %1.").arg(dir.path());
            return;
        }
        const QString strName = uniqueName(strFolder,
                                           NoteFile::baseName(strDay,
                                                              NoteFile::displayTitle(strTitle,
                                                                                     strContent)));

        QTextDocument doc;
        NoteFile::setNoteText(doc, strContent);
        // Pictures are named after the day and the note, without blanks, so that every
        // Markdown reader takes the link as it is.
        const QString strFirstStem = strDay + QLatin1Char('-')
                                     + QString(strUuid).remove(QLatin1Char('{')).left(8);
        QString strStem = strFirstStem;
        for (int n = 2; m_setNames.contains(strStem); ++n)
            strStem = strFirstStem + QLatin1Char('-') + QString::number(n);
        m_setNames.insert(strStem);
        for (const NoteFile::Picture &picture : NoteFile::takePictures(doc, strStem)) {
            if (!save(dir.filePath(picture.strFileName), picture.baData))
                return;
        }

        QVariantMap mapHeader{{str("title"), strTitle},
                              {str("date"), strDay},
                              {str("created"), localTime(mapNote.value(str("created_at")))},
                              {str("updated"), localTime(mapNote.value(str("updated_at")))},
                              {str("uuid"), strUuid}};
        QString strText;
        QString strSuffix;
        if (m_format == CExporter::Format::Html) {
            doc.setMetaInformation(QTextDocument::DocumentTitle,
                                   NoteFile::displayTitle(strTitle, strContent));
            strText = NoteFile::header(mapHeader, true) + doc.toHtml(QByteArrayLiteral("utf-8"));
            strSuffix = str(".html");
        } else {
            NoteFile::escapeMarkdown(doc);
            strText = NoteFile::header(mapHeader, false)
                      + doc.toMarkdown(QTextDocument::MarkdownDialectGitHub);
            strSuffix = str(".md");
        }
        save(QDir(m_strTarget).filePath(strName + strSuffix), strText.toUtf8());
    }

    void addToPdf(const QVariantMap &mapNote)
    {
        QTextDocument note;
        NoteFile::setNoteText(note, mapNote.value(str("content")).toString());
        for (const NoteFile::Picture &picture :
             NoteFile::takePictures(note, str("kelpo-picture-%1").arg(++m_nPdfPictures))) {
            m_pPdf->addResource(QTextDocument::ImageResource,
                                QUrl(picture.strFileName),
                                QImage::fromData(picture.baData));
        }

        QTextCursor cursor(m_pPdf.get());
        cursor.movePosition(QTextCursor::End);
        QTextBlockFormat heading;
        heading.setHeadingLevel(2);
        heading.setTopMargin(m_pPdf->isEmpty() ? 0 : 24);
        heading.setBottomMargin(8);
        QTextCharFormat headingFont;
        headingFont.setFontWeight(QFont::Bold);
        headingFont.setFontPointSize(14);
        if (m_pPdf->isEmpty())
            cursor.setBlockFormat(heading);
        else
            cursor.insertBlock(heading);
        QString strHeading = mapNote.value(str("set_at")).toString().left(10);
        const QString strTitle = mapNote.value(str("title")).toString().simplified();
        if (!strTitle.isEmpty())
            strHeading += str("  ") + strTitle;
        cursor.insertText(strHeading, headingFont);
        cursor.insertBlock(QTextBlockFormat(), QTextCharFormat());
        cursor.insertFragment(QTextDocumentFragment(&note));
    }

    void printPdf()
    {
        const QString strPart = m_strTarget + str(".part");
        {
            QPdfWriter writer(strPart);
            writer.setCreator(str("Kelpo"));
            writer.setTitle(str("Kelpo"));
            writer.setPageSize(QPageSize(QPageSize::A4));
            writer.setPageMargins(QMarginsF(18, 18, 18, 18), QPageLayout::Millimeter);
            m_pPdf->print(&writer);
        }
        if (QFileInfo(strPart).size() <= 0
            || std::rename(QFile::encodeName(strPart).constData(),
                           QFile::encodeName(m_strTarget).constData())
                   != 0) {
            QFile::remove(strPart);
            m_strError = tr("Cannot write %1.").arg(m_strTarget);
        }
    }

    std::atomic<bool> &m_bCancel;
    QString m_strTarget;
    CExporter::Format m_format = CExporter::Format::Markdown;
    QSet<QString> m_setNames;
    QString m_strError;
    std::unique_ptr<QTextDocument> m_pPdf;
    int m_nPdfPictures = 0;
};

CExporter::CExporter(CDbMgt &dbMgt, QObject *parent)
    : QObject(parent)
    , m_dbMgt(dbMgt)
{
    m_thread.setObjectName(str("ExportWriter"));
    m_pWriter = new CExportWriter(m_bCancel);
    m_pWriter->moveToThread(&m_thread);
    connect(&m_thread, &QThread::finished, m_pWriter, &QObject::deleteLater);
    connect(m_pWriter, &CExportWriter::batchWritten, this, &CExporter::onBatchWritten);
    connect(m_pWriter, &CExportWriter::done, this, &CExporter::onWriterDone);
    connect(&m_dbMgt, &CDbMgt::dataReceived, this, &CExporter::onDataReceived);
    m_thread.start();
}

CExporter::~CExporter()
{
    m_bCancel = true;
    m_thread.quit();
    m_thread.wait();
}

bool CExporter::busy() const
{
    return m_bBusy;
}

int CExporter::done() const
{
    return m_nDone;
}

int CExporter::total() const
{
    return m_nTotal;
}

bool CExporter::parseFormat(const QString &strFormat, Format *pFormat)
{
    const QString strKey = strFormat.trimmed().toLower();
    if (strKey == QLatin1String("markdown") || strKey == QLatin1String("md"))
        *pFormat = Format::Markdown;
    else if (strKey == QLatin1String("html"))
        *pFormat = Format::Html;
    else if (strKey == QLatin1String("pdf"))
        *pFormat = Format::Pdf;
    else
        return false;
    return true;
}

bool CExporter::start(const QString &strTarget,
                      const QString &strFormat,
                      const QString &strFrom,
                      const QString &strTo)
{
    Format format = Format::Markdown;
    if (!parseFormat(strFormat, &format)) {
        emit failed(tr("Unknown export format \"%1\".").arg(strFormat));
        return false;
    }
    const QDate dtFrom = QDate::fromString(strFrom, Qt::ISODate);
    const QDate dtTo = QDate::fromString(strTo, Qt::ISODate);
    if ((!strFrom.isEmpty() && !dtFrom.isValid()) || (!strTo.isEmpty() && !dtTo.isValid())) {
        emit failed(tr("A day is written as yyyy-MM-dd, for example 2026-12-10."));
        return false;
    }
    const QUrl url(strTarget);
    return start(url.isLocalFile() ? url.toLocalFile() : strTarget, format, dtFrom, dtTo);
}

bool CExporter::start(const QString &strTarget,
                      Format format,
                      const QDate &dtFrom,
                      const QDate &dtTo)
{
    if (m_bBusy || m_nQueuedBatches > 0) {
        emit failed(tr("An export is running already."));
        return false;
    }
    if (strTarget.isEmpty()) {
        emit failed(tr("Choose a folder to export to."));
        return false;
    }
    if (dtFrom.isValid() && dtTo.isValid() && dtFrom > dtTo) {
        emit failed(tr("The first day of the range comes after the last."));
        return false;
    }
    QString strPath = QFileInfo(strTarget).absoluteFilePath();
    if (format == Format::Pdf && !strPath.endsWith(str(".pdf"), Qt::CaseInsensitive))
        strPath = QDir(strPath).filePath(kPdfName);
    const QString strFolder = format == Format::Pdf ? QFileInfo(strPath).absolutePath() : strPath;
    if (!QDir().mkpath(strFolder) || !QFileInfo(strFolder).isWritable()) {
        emit failed(tr("Cannot write into the folder %1.").arg(strFolder));
        return false;
    }

    const int nUserId = m_dbMgt.userId();
    m_strCondition = nUserId >= 1
                         ? str("(user_id = %1 OR user_id IS NULL OR user_id <= 0)").arg(nUserId)
                         : str("(user_id IS NULL OR user_id <= 0)");
    m_strCondition += str(" AND (deleted IS NULL OR deleted != 1) AND set_at IS NOT NULL");
    m_mapRange.clear();
    if (dtFrom.isValid()) {
        m_strCondition += str(" AND set_at >= :from_day");
        m_mapRange.insert(str("from_day"), dtFrom.toString(Qt::ISODate) + str(" 00:00:00"));
    }
    if (dtTo.isValid()) {
        m_strCondition += str(" AND set_at <= :to_day");
        m_mapRange.insert(str("to_day"), dtTo.toString(Qt::ISODate) + str(" 23:59:59"));
    }

    m_format = format;
    m_strTarget = strPath;
    m_strLastSetAt.clear();
    m_nLastId = 0;
    m_bAllRead = false;
    m_nDone = 0;
    m_nTotal = 0;
    m_bCancel = false;
    m_bBusy = true;
    emit busyChanged();
    emit progress(0, 0);

    QMetaObject::invokeMethod(m_pWriter,
                              "begin",
                              Qt::QueuedConnection,
                              Q_ARG(QString, m_strTarget),
                              Q_ARG(int, int(format)));
    m_strCountRequest = m_dbMgt.queryPrepared(str("SELECT count(*) AS n FROM note WHERE ")
                                                  + m_strCondition,
                                              m_mapRange);
    requestBatch();
    return true;
}

void CExporter::cancel()
{
    if (m_bBusy)
        m_bCancel = true;
}

void CExporter::requestBatch()
{
    QVariantMap mapData = m_mapRange;
    mapData.insert(str("last_set_at"), m_strLastSetAt);
    mapData.insert(str("same_set_at"), m_strLastSetAt);
    mapData.insert(str("last_id"), m_nLastId);
    // Keyset paging: each batch starts after the last note of the one before, in the
    // order of days, so the database never skips over notes already written.
    m_strBatchRequest = m_dbMgt.queryPrepared(
        str("SELECT id, set_at, created_at, updated_at, title, content, uuid FROM note WHERE ")
            + m_strCondition
            + str(" AND (set_at > IFNULL(:last_set_at, '') OR (set_at = :same_set_at AND id > "
                  ":last_id))"
                  " ORDER BY set_at, id LIMIT %1")
                  .arg(BatchSize),
        mapData);
}

void CExporter::onDataReceived(const QVariant &data)
{
    if (!m_bBusy)
        return;
    const QVariantMap mapResult = data.toMap();
    const QString strUuid = mapResult.value(str("uuid")).toString();
    const QString strError = mapResult.value(str("error")).toString();
    if (strUuid == m_strCountRequest) {
        m_strCountRequest.clear();
        m_nTotal = mapResult.value(str("result")).toList().value(0).toMap().value(str("n")).toInt();
        emit progress(m_nDone, m_nTotal);
        return;
    }
    if (strUuid != m_strBatchRequest)
        return;
    m_strBatchRequest.clear();
    if (!strError.isEmpty()) {
        qCWarning(lcStore) << "Export: reading notes failed:" << strError;
        m_bCancel = true;
        finish(tr("The notes cannot be read: %1").arg(strError));
        return;
    }
    const QVariantList lstNotes = mapResult.value(str("result")).toList();
    if (!lstNotes.isEmpty()) {
        const QVariantMap mapLast = lstNotes.last().toMap();
        m_strLastSetAt = mapLast.value(str("set_at")).toString();
        m_nLastId = mapLast.value(str("id")).toLongLong();
    }
    m_bAllRead = lstNotes.size() < BatchSize;
    ++m_nQueuedBatches;
    QMetaObject::invokeMethod(m_pWriter,
                              "writeBatch",
                              Qt::QueuedConnection,
                              Q_ARG(QVariantList, lstNotes));
    // One batch read ahead while the writer works; no more, so memory stays bounded.
    if (!m_bAllRead && m_nQueuedBatches < 2)
        requestBatch();
}

void CExporter::onBatchWritten(int nNotes, const QString &strError)
{
    --m_nQueuedBatches;
    if (!m_bBusy)
        return;
    if (!strError.isEmpty()) {
        m_bCancel = true;
        finish(strError);
        return;
    }
    m_nDone += nNotes;
    emit progress(m_nDone, qMax(m_nTotal, m_nDone));
    if (!m_bAllRead && m_strBatchRequest.isEmpty() && m_nQueuedBatches < 2)
        requestBatch();
    else if (m_bAllRead && m_nQueuedBatches == 0)
        QMetaObject::invokeMethod(m_pWriter, "end", Qt::QueuedConnection);
}

void CExporter::onWriterDone(const QString &strError)
{
    if (m_bBusy)
        finish(strError);
}

void CExporter::finish(const QString &strError)
{
    m_bBusy = false;
    m_strCountRequest.clear();
    m_strBatchRequest.clear();
    emit busyChanged();
    if (!strError.isEmpty()) {
        qCWarning(lcApp) << "Export failed:" << strError;
        emit failed(strError);
    } else {
        emit finished(m_strTarget, m_nDone);
    }
}

#include "exporter.moc"
