#ifndef IMPORTER_H
#define IMPORTER_H

#include <QObject>
#include <QString>
#include <QTimer>
#include <QVariant>

#include <memory>

class CDbMgt;

// Reads notes into the diary from a folder: what the exporter writes (Markdown or HTML
// with a header and pictures beside it), and plain .md/.txt files whose names start with
// a day ("2026-12-10 Walk.txt"). A note whose UUID the diary knows is updated in place
// (and left alone when nothing in it differs, or when the diary's note was changed after
// the file was written: that file is listed as left out); every other note is added. Files that
// cannot be read are listed with the reason and left out; the notes that can are written
// in one transaction, so an import never stops half-way.
class CImporter : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool busy READ busy NOTIFY busyChanged)

public:
    explicit CImporter(CDbMgt &dbMgt, QObject *parent = nullptr);
    ~CImporter() override;

    bool busy() const;

    // Reads one note file; strRelative is its path below the import folder (for the
    // UUID of a file without one). Returns "" or why the file is not a note. Besides the
    // note's columns the map holds "file_time": the latest change of the note the file
    // can know of (the version it was written from, or the file's own change if later).
    static QString readNote(const QString &strPath,
                            const QString &strRelative,
                            QVariantMap *pmapNote);

public slots:
    // strFolder: a path or a file URL. Returns false, with failed() emitted, when the
    // import cannot start.
    bool start(const QString &strFolder);

signals:
    void busyChanged();
    void progress(int nDone, int nTotal);
    // lstBad: {"file", "reason"} for every file left out.
    void finished(int nAdded, int nUpdated, int nUnchanged, QVariantList lstBad);
    void failed(QString strError);

private slots:
    void onDataReceived(const QVariant &data);

private:
    struct Work;
    void onParsed();
    void onClassified();
    void finish(const QString &strError);

    CDbMgt &m_dbMgt;
    std::shared_ptr<Work> m_pWork;
    QString m_strExistingRequest;
    QString m_strWriteRequest;
    bool m_bBusy = false;
    QTimer m_timerProgress;
};

#endif // IMPORTER_H
