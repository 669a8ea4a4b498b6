#include "pictureloader.h"

#include "kelpolog.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QLocale>
#include <QRunnable>
#include <QStandardPaths>
#include <QUrl>
#include <QUuid>

namespace {

QString localPath(const QString &strFile)
{
    const QUrl url(strFile);
    if (url.isLocalFile())
        return url.toLocalFile();
    return url.scheme().isEmpty() ? strFile : QString();
}

QString imageTag(const QSize &size, const QByteArray &bytes)
{
    const int w = size.width();
    const int h = size.height();
    double dScale = 1.0;
    const int nLonger = w > h ? w : h;
    if (nLonger > CPictureLoader::kLargestShownSide)
        dScale = double(CPictureLoader::kLargestShownSide) / nLonger;
    return QStringLiteral("<img height=\"%1\" width=\"%2\" src=\"data:image/png;base64,%3\"")
        .arg(qRound(h * dScale))
        .arg(qRound(w * dScale))
        .arg(QString::fromLatin1(bytes.toBase64()));
}

QString megabytes(qint64 nBytes)
{
    return QLocale().toString(double(nBytes) / (1024 * 1024), 'f', 0);
}

} // namespace

CPictureLoader::CPictureLoader(QObject *parent)
    : QObject(parent)
{
    // One picture at a time: each may take much memory while it is scaled.
    m_pool.setMaxThreadCount(1);
}

CPictureLoader::~CPictureLoader()
{
    m_pool.waitForDone();
}

void CPictureLoader::waitForDone()
{
    m_pool.waitForDone();
}

CPictureLoader::Result CPictureLoader::load(const QString &strFile, qint64 nNoteBytes)
{
    Result result;
    const QString strPath = localPath(strFile);
    const QString strName = QFileInfo(strPath).fileName();
    QFile file(strPath);
    // Only a file: a pipe would be waited on for ever, a device read without end.
    if (strPath.isEmpty() || !QFileInfo(strPath).isFile() || !file.open(QIODevice::ReadOnly)) {
        result.strError = tr("The picture %1 cannot be read.")
                              .arg(strName.isEmpty() ? strFile : strName);
        return result;
    }
    const QByteArray bytes = file.readAll();
    file.close();

    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setDecideFormatFromContent(true);
    const QSize size = reader.canRead() ? reader.size() : QSize();
    if (!size.isValid() || size.isEmpty()) {
        result.strError = tr("%1 is not a picture that Kelpo can show.").arg(strName);
        return result;
    }

    QByteArray baStored = bytes;
    QSize sizeStored = size;
    const int nLonger = qMax(size.width(), size.height());
    if (nLonger > kLargestStoredSide) {
        const qint64 nPixels = qint64(size.width()) * size.height();
        // Only JPEG is decoded at a fraction of its size; other formats are decoded whole
        // (and scaled after), which a very large picture cannot afford.
        if (nPixels > kMaxDecodedPixels && reader.format() != "jpeg") {
            result.strError = tr("%1 is too large (%2 × %3 pixels): make it smaller first.")
                                  .arg(strName)
                                  .arg(size.width())
                                  .arg(size.height());
            return result;
        }
        sizeStored = size.scaled(kLargestStoredSide, kLargestStoredSide, Qt::KeepAspectRatio);
        reader.setScaledSize(sizeStored);
        QImage image = reader.read();
        if (image.isNull()) {
            result.strError = tr("%1 is not a picture that Kelpo can show.").arg(strName);
            return result;
        }
        if (image.size() != sizeStored)
            image = image.scaled(sizeStored, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        sizeStored = image.size();
        QBuffer out(&baStored);
        baStored.clear();
        out.open(QIODevice::WriteOnly);
        // Photographs as JPEG; pictures with transparency keep it as PNG.
        if (image.hasAlphaChannel())
            image.save(&out, "PNG");
        else
            image.save(&out, "JPEG", 90);
    }

    result.strTag = imageTag(sizeStored, baStored);
    if (nNoteBytes + result.strTag.size() > kMaxNoteBytes) {
        result.strError = tr("With this picture the note would be larger than the note service "
                             "takes (%1 MB): put the picture into another note.")
                              .arg(megabytes(kMaxNoteBytes));
        result.strTag.clear();
    }
    return result;
}

QString CPictureLoader::loadLater(const QString &strFile, qint64 nNoteBytes)
{
    const QString strJobId = QUuid::createUuid().toString();
    // The loader waits for its jobs before it goes, so it outlives this one; the answer
    // is delivered on its own thread, and dropped if it has gone by then.
    QRunnable *pJob = QRunnable::create([this, strJobId, strFile, nNoteBytes] {
        const Result result = load(strFile, nNoteBytes);
        if (!result.strError.isEmpty())
            qCWarning(lcNote) << "picture refused:" << result.strError;
        QMetaObject::invokeMethod(
            this,
            [this, strJobId, result] { emit finished(strJobId, result.strTag, result.strError); },
            Qt::QueuedConnection);
    });
    m_pool.start(pJob);
    return strJobId;
}

QString CPictureLoader::startFolder()
{
    QStringList lstFolders = QStandardPaths::standardLocations(QStandardPaths::PicturesLocation);
    lstFolders << QDir::homePath();
    for (const QString &strFolder : qAsConst(lstFolders)) {
        if (!strFolder.isEmpty() && QFileInfo(strFolder).isDir())
            return QUrl::fromLocalFile(strFolder).toString();
    }
    return QUrl::fromLocalFile(QDir::homePath()).toString();
}
