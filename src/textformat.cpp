#include "textformat.h"

#include "notetext.h"

#include <QQuickTextDocument>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextList>

CTextFormat::CTextFormat(QObject *parent)
    : QObject(parent)
{}

QQuickTextDocument *CTextFormat::textDocument() const
{
    return m_pTextDocument;
}

void CTextFormat::setTextDocument(QQuickTextDocument *pDocument)
{
    if (pDocument == m_pTextDocument)
        return;
    m_pTextDocument = pDocument;
    emit textDocumentChanged();
}

QTextDocument *CTextFormat::document() const
{
    return m_pTextDocument ? m_pTextDocument->textDocument() : nullptr;
}

QTextCursor CTextFormat::cursorFor(int nStart, int nEnd) const
{
    QTextDocument *pDoc = document();
    if (!pDoc)
        return QTextCursor();
    const int nLast = qMax(0, pDoc->characterCount() - 1);
    QTextCursor cursor(pDoc);
    cursor.setPosition(qBound(0, qMin(nStart, nEnd), nLast));
    cursor.setPosition(qBound(0, qMax(nStart, nEnd), nLast), QTextCursor::KeepAnchor);
    if (!cursor.hasSelection())
        cursor.select(QTextCursor::WordUnderCursor);
    return cursor;
}

// The format of the first selected character: a selection that starts bold is made plain.
static QTextCharFormat firstCharFormat(const QTextCursor &cursorRange)
{
    QTextCursor cursor(cursorRange);
    cursor.setPosition(cursorRange.selectionStart() + 1);
    return cursor.charFormat();
}

void CTextFormat::toggleBold(int nStart, int nEnd)
{
    QTextCursor cursor = cursorFor(nStart, nEnd);
    if (!cursor.hasSelection())
        return;
    QTextCharFormat format;
    format.setFontWeight(firstCharFormat(cursor).fontWeight() > QFont::Normal ? QFont::Normal
                                                                             : QFont::Bold);
    cursor.mergeCharFormat(format);
}

void CTextFormat::toggleItalic(int nStart, int nEnd)
{
    QTextCursor cursor = cursorFor(nStart, nEnd);
    if (!cursor.hasSelection())
        return;
    QTextCharFormat format;
    format.setFontItalic(!firstCharFormat(cursor).fontItalic());
    cursor.mergeCharFormat(format);
}

void CTextFormat::toggleList(int nStart, int nEnd)
{
    QTextDocument *pDoc = document();
    if (!pDoc)
        return;
    const int nLast = qMax(0, pDoc->characterCount() - 1);
    QTextCursor cursor(pDoc);
    cursor.setPosition(qBound(0, qMin(nStart, nEnd), nLast));
    cursor.setPosition(qBound(0, qMax(nStart, nEnd), nLast), QTextCursor::KeepAnchor);
    cursor.beginEditBlock();
    if (QTextList *pList = cursor.currentList()) {
        // Every block of the range leaves the list.
        QTextBlock block = pDoc->findBlock(cursor.selectionStart());
        const QTextBlock blockEnd = pDoc->findBlock(cursor.selectionEnd()).next();
        for (; block.isValid() && block != blockEnd; block = block.next()) {
            if (block.textList() == pList) {
                pList->remove(block);
                QTextCursor cursorBlock(block);
                QTextBlockFormat format = block.blockFormat();
                format.setIndent(0);
                cursorBlock.setBlockFormat(format);
            }
        }
    } else {
        cursor.createList(QTextListFormat::ListDisc);
    }
    cursor.endEditBlock();
}

bool CTextFormat::isBold(int nPosition) const
{
    return cursorFor(nPosition, nPosition).charFormat().fontWeight() > QFont::Normal;
}

bool CTextFormat::isItalic(int nPosition) const
{
    return cursorFor(nPosition, nPosition).charFormat().fontItalic();
}

bool CTextFormat::isList(int nPosition) const
{
    QTextDocument *pDoc = document();
    if (!pDoc)
        return false;
    return pDoc->findBlock(qBound(0, nPosition, qMax(0, pDoc->characterCount() - 1))).textList()
           != nullptr;
}

QString CTextFormat::plainText() const
{
    QTextDocument *pDoc = document();
    return pDoc ? pDoc->toPlainText() : QString();
}

QString CTextFormat::richTextOf(const QString &strPlain) const
{
    return plainTextAsRichText(strPlain);
}
