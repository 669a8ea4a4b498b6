#include "iconprovider.h"

#include "kelpolog.h"

#include <QDir>
#include <QPainter>
#include <QSvgRenderer>

#include <limits>

namespace {

// The size that fits sizeRequested in the proportions of sizeOwn; a side of 0 (or less)
// follows from the other, and with neither the picture keeps its own size.
QSize fittedSize(const QSize &sizeOwn, const QSize &sizeRequested)
{
    const int nWidth = sizeRequested.width();
    const int nHeight = sizeRequested.height();
    if (sizeOwn.isEmpty() || (nWidth <= 0 && nHeight <= 0))
        return sizeOwn;
    // A side not asked for does not limit the other.
    const QSize sizeBox(nWidth > 0 ? nWidth : std::numeric_limits<int>::max(),
                        nHeight > 0 ? nHeight : std::numeric_limits<int>::max());
    return sizeOwn.scaled(sizeBox, Qt::KeepAspectRatio).expandedTo(QSize(1, 1));
}

} // namespace

CIconProvider::CIconProvider()
    : QQuickImageProvider(QQuickImageProvider::Image)
{}

QImage CIconProvider::requestImage(const QString &strId, QSize *pSize, const QSize &sizeRequested)
{
    const QImage image = draw(strId, sizeRequested);
    if (pSize)
        *pSize = image.size();
    return image;
}

QImage CIconProvider::draw(const QString &strId, const QSize &sizeRequested)
{
    // Only the pictures under the resources' "res" folder: an id never reaches out of it.
    const QString strPath = QDir::cleanPath(strId);
    if (!strPath.startsWith(QLatin1String("res/"))) {
        qCWarning(lcApp) << "No such icon:" << strId;
        return QImage();
    }
    const QString strFile = QStringLiteral(":/") + strPath;
    if (strPath.endsWith(QLatin1String(".svg"), Qt::CaseInsensitive)) {
        QSvgRenderer renderer(strFile);
        if (!renderer.isValid()) {
            qCWarning(lcApp) << "Icon cannot be drawn:" << strId;
            return QImage();
        }
        const QSize size = fittedSize(renderer.defaultSize(), sizeRequested);
        if (size.isEmpty())
            return QImage();
        QImage image(size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        renderer.render(&painter);
        return image;
    }
    QImage image(strFile);
    if (image.isNull()) {
        qCWarning(lcApp) << "Icon cannot be read:" << strId;
        return image;
    }
    const QSize size = fittedSize(image.size(), sizeRequested);
    return size == image.size()
               ? image
               : image.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}
