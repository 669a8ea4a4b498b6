#ifndef FITTEDIMAGES_H
#define FITTEDIMAGES_H

#include <QObject>
#include <QPointer>
#include <QTextObjectInterface>

class QQuickTextDocument;
class QTextDocument;

// Shows the pictures of a text area no wider than the text: a picture wider than the area
// is drawn scaled down to its width (height in proportion). Only the drawing changes: the
// text, and the sizes stored in it, stay as they are.
class CFittedImages : public QObject, public QTextObjectInterface
{
    Q_OBJECT
    Q_INTERFACES(QTextObjectInterface)
    Q_PROPERTY(QQuickTextDocument *textDocument READ textDocument WRITE setTextDocument NOTIFY
                   textDocumentChanged)

public:
    explicit CFittedImages(QObject *parent = nullptr);

    QQuickTextDocument *textDocument() const;
    void setTextDocument(QQuickTextDocument *pDocument);

    // The size a picture of size sizeImage is shown at in a text nTextWidth wide.
    static QSizeF fitted(const QSizeF &sizeImage, qreal nTextWidth);

    QSizeF intrinsicSize(QTextDocument *pDoc, int nPos, const QTextFormat &format) override;
    void drawObject(QPainter *pPainter,
                    const QRectF &rect,
                    QTextDocument *pDoc,
                    int nPos,
                    const QTextFormat &format) override;

signals:
    void textDocumentChanged();

private:
    QPointer<QQuickTextDocument> m_pTextDocument;
    // The handler that was there before: it reads and draws the pictures.
    QPointer<QObject> m_pInnerObject;
    QTextObjectInterface *m_pInner = nullptr;
};

#endif // FITTEDIMAGES_H
