#ifndef NOTEPICTUREPROVIDER_H
#define NOTEPICTUREPROVIDER_H

#include <QQuickImageProvider>

// Serves the pictures of a note's text that CNotePictures gave short names: decodes the
// data URL on the picture loading thread of Qt Quick (never the window's), at most at the
// largest size a tag shows it at (in the screen's pixels), so that a photograph of many
// megapixels becomes a picture of the size it is drawn at.
class CNotePictureProvider : public QQuickImageProvider
{
public:
    CNotePictureProvider();

    QImage requestImage(const QString &strId, QSize *pSize, const QSize &sizeRequested) override;

    // Decodes a data URL's picture at the smallest size that covers sizeLargest in its own
    // proportions (never enlarged); a null picture when it cannot be decoded.
    static QImage decode(const QString &strDataUrl, const QSize &sizeLargest);
};

#endif // NOTEPICTUREPROVIDER_H
