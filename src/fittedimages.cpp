#include "fittedimages.h"

#include <QAbstractTextDocumentLayout>
#include <QQuickTextDocument>
#include <QTextDocument>

CFittedImages::CFittedImages(QObject *parent)
    : QObject(parent)
{}

QQuickTextDocument *CFittedImages::textDocument() const
{
    return m_pTextDocument;
}

void CFittedImages::setTextDocument(QQuickTextDocument *pDocument)
{
    if (pDocument == m_pTextDocument)
        return;
    m_pTextDocument = pDocument;
    QTextDocument *pDoc = pDocument ? pDocument->textDocument() : nullptr;
    if (pDoc && pDoc->documentLayout()) {
        QAbstractTextDocumentLayout *pLayout = pDoc->documentLayout();
        QTextObjectInterface *pInner = pLayout->handlerForObject(QTextFormat::ImageObject);
        if (pInner != this) {
            m_pInner = pInner;
            // The text area's document draws its own pictures: it is that handler.
            m_pInnerObject = dynamic_cast<QObject *>(pInner);
            pLayout->registerHandler(QTextFormat::ImageObject, this);
        }
    }
    emit textDocumentChanged();
}

QSizeF CFittedImages::fitted(const QSizeF &sizeImage, qreal nTextWidth)
{
    if (nTextWidth <= 0 || sizeImage.width() <= nTextWidth)
        return sizeImage;
    return QSizeF(nTextWidth, sizeImage.height() * nTextWidth / sizeImage.width());
}

QSizeF CFittedImages::intrinsicSize(QTextDocument *pDoc, int nPos, const QTextFormat &format)
{
    if (!m_pInnerObject || !m_pInner)
        return QSizeF();
    const QSizeF size = m_pInner->intrinsicSize(pDoc, nPos, format);
    // The room inside the document's margins; a text without a width takes any picture.
    const qreal nWidth = pDoc->textWidth() - 2 * pDoc->documentMargin();
    return pDoc->textWidth() > 0 ? fitted(size, qMax<qreal>(1, nWidth)) : size;
}

void CFittedImages::drawObject(QPainter *pPainter,
                               const QRectF &rect,
                               QTextDocument *pDoc,
                               int nPos,
                               const QTextFormat &format)
{
    if (m_pInnerObject && m_pInner)
        m_pInner->drawObject(pPainter, rect, pDoc, nPos, format);
}
