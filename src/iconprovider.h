#ifndef ICONPROVIDER_H
#define ICONPROVIDER_H

#include <QQuickImageProvider>

// The views' icons, "image://icon/res/<name>": the drawings among the program's resources,
// SVG drawn at the size asked for, other pictures scaled to it.
//
// Drawn here rather than through Qt's image reader: asked for its first SVG, the reader
// loads every image format plugin there is (and the libraries they need), which held the
// window's first frame back by several milliseconds.
class CIconProvider : public QQuickImageProvider
{
public:
    CIconProvider();

    QImage requestImage(const QString &strId, QSize *pSize, const QSize &sizeRequested) override;

    // The icon at that size in its own proportions (its own size where none is asked for);
    // a null picture, with a warning, for anything that is not one of the resources' pictures.
    static QImage draw(const QString &strId, const QSize &sizeRequested);
};

#endif // ICONPROVIDER_H
