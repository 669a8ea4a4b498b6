#ifndef EXPORTER_H
#define EXPORTER_H

#include <QDate>
#include <QObject>
#include <QString>
#include <QThread>
#include <QVariant>

#include <atomic>

class CDbMgt;
class CExportWriter;

// Writes the live notes of the current user out of the diary: one file per note,
// "2026/2026-12-10 Title.md" (or .html) with the pictures as files beside it, or the
// whole diary or a range of days as one PDF. The notes are read from the database worker
// a batch at a time and written on a thread of the exporter's own, so a large diary
// neither blocks the window nor fills the memory.
class CExporter : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool busy READ busy NOTIFY busyChanged)
    Q_PROPERTY(int done READ done NOTIFY progress)
    Q_PROPERTY(int total READ total NOTIFY progress)

public:
    enum class Format { Markdown, Html, Pdf };
    static constexpr int BatchSize = 100;

    explicit CExporter(CDbMgt &dbMgt, QObject *parent = nullptr);
    ~CExporter() override;

    bool busy() const;
    int done() const;
    int total() const;
    // "markdown", "html", "pdf"; false for anything else.
    static bool parseFormat(const QString &strFormat, Format *pFormat);

    // strTarget is a folder, or for a PDF a file (a folder gets "Kelpo.pdf" in it). An
    // invalid day leaves that end of the range open. Returns false, with failed()
    // emitted, when the export cannot start.
    bool start(const QString &strTarget, Format format, const QDate &dtFrom, const QDate &dtTo);

public slots:
    // The same for the interface: dates as "yyyy-MM-dd" or "" for an open end; the
    // target as a path or a file URL.
    bool start(const QString &strTarget,
               const QString &strFormat,
               const QString &strFrom,
               const QString &strTo);
    void cancel();

signals:
    void busyChanged();
    void progress(int nDone, int nTotal);
    // strTarget: the folder or the PDF file written.
    void finished(QString strTarget, int nNotes);
    void failed(QString strError);

private slots:
    void onDataReceived(const QVariant &data);
    void onBatchWritten(int nNotes, const QString &strError);
    void onWriterDone(const QString &strError);

private:
    void requestBatch();
    void finish(const QString &strError);

    CDbMgt &m_dbMgt;
    QThread m_thread;
    CExportWriter *m_pWriter = nullptr;
    Format m_format = Format::Markdown;
    QString m_strTarget;
    QVariantMap m_mapRange;
    QString m_strCondition;
    QString m_strCountRequest;
    QString m_strBatchRequest;
    QString m_strLastSetAt;
    qlonglong m_nLastId = 0;
    int m_nQueuedBatches = 0;
    bool m_bAllRead = false;
    bool m_bBusy = false;
    // Read by the writer's thread: stops it at the next note.
    std::atomic<bool> m_bCancel{false};
    int m_nDone = 0;
    int m_nTotal = 0;
};

#endif // EXPORTER_H
