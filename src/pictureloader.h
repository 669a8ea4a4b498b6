#ifndef PICTURELOADER_H
#define PICTURELOADER_H

#include <QObject>
#include <QString>
#include <QThreadPool>

// Turns a picture file into the image tag that the editor puts into a note:
//   <img height="h" width="w" src="data:image/png;base64,..."
// (the shown size at most 500 on its longer side). The picture's size is read from the
// file's header; a file that is not a picture is refused with a message; a picture larger
// than 2560 pixels on its longer side is scaled down to that, so that a note stays within
// what the store and the note service take; a picture that would make the note larger
// than the service takes is refused with a message.
class CPictureLoader : public QObject
{
    Q_OBJECT

public:
    static constexpr int kLargestShownSide = 500;
    static constexpr int kLargestStoredSide = 2560;
    // Pictures are decoded to be scaled; above this many pixels only formats that decode
    // at a smaller size (JPEG) are taken.
    static constexpr qint64 kMaxDecodedPixels = 64LL * 1024 * 1024;
    // The note service takes request bodies of up to 32 MiB: a note's text stays below
    // this many bytes, leaving room for the other fields.
    static constexpr qint64 kMaxNoteBytes = 30LL * 1024 * 1024;

    struct Result
    {
        QString strTag;
        QString strError; // empty when strTag is the picture
    };

    explicit CPictureLoader(QObject *parent = nullptr);
    ~CPictureLoader() override;

    // strFile: a file URL or a plain path. nNoteBytes: the size of the note the picture
    // goes into, in bytes.
    static Result load(const QString &strFile, qint64 nNoteBytes = 0);

    // Where the picture dialog starts: the user's Pictures folder, or the home folder
    // where there is none; as a file URL.
    static QString startFolder();

    // Loads on a thread of its own and answers with finished(); returns the job's id.
    QString loadLater(const QString &strFile, qint64 nNoteBytes = 0);
    // Waits for the jobs still running (tests, and the end of the program).
    void waitForDone();

signals:
    void finished(QString strJobId, QString strTag, QString strError);

private:
    QThreadPool m_pool;
};

#endif // PICTURELOADER_H
