#include "notepictureprovider.h"

#include "kelpolog.h"
#include "notepictures.h"

#include <QBuffer>
#include <QImageReader>

CNotePictureProvider::CNotePictureProvider()
    : QQuickImageProvider(QQuickImageProvider::Image,
                          QQuickImageProvider::ForceAsynchronousImageLoading)
{}

QImage CNotePictureProvider::requestImage(const QString &strId,
                                          QSize *pSize,
                                          const QSize &sizeRequested)
{
    QString strDataUrl;
    QSize sizeShown;
    if (!CNotePictures::picture(strId, &strDataUrl, &sizeShown)) {
        // The note was closed before its picture was drawn.
        return QImage();
    }
    QSize sizeLargest = sizeShown;
    if (sizeRequested.isValid() && !sizeRequested.isEmpty())
        sizeLargest = sizeRequested;
    const QImage image = decode(strDataUrl, sizeLargest);
    if (image.isNull())
        qCWarning(lcNote) << "a picture of the note cannot be decoded";
    if (pSize)
        *pSize = image.size();
    return image;
}

QImage CNotePictureProvider::decode(const QString &strDataUrl, const QSize &sizeLargest)
{
    const int nComma = strDataUrl.indexOf(QLatin1Char(','));
    if (nComma < 0)
        return QImage();
    QByteArray baData = QByteArray::fromBase64(strDataUrl.midRef(nComma + 1).toLatin1());
    QBuffer buffer(&baData);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setDecideFormatFromContent(true);
    const QSize size = reader.size();
    // Enough pixels for both sides of the shown size, in the picture's own proportions.
    const QSize sizeScaled = sizeLargest.isEmpty()
                                 ? size
                                 : size.scaled(sizeLargest, Qt::KeepAspectRatioByExpanding);
    if (size.isValid() && sizeScaled.width() < size.width() && !sizeScaled.isEmpty())
        reader.setScaledSize(sizeScaled);
    return reader.read();
}
