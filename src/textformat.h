#ifndef TEXTFORMAT_H
#define TEXTFORMAT_H

#include <QObject>
#include <QPointer>

class QQuickTextDocument;
class QTextCursor;
class QTextDocument;

// Bold, italic and bulleted lists for the note editor: changes the rich text document of
// a text area over a range of characters. An empty range means the word at the position.
class CTextFormat : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QQuickTextDocument *textDocument READ textDocument WRITE setTextDocument NOTIFY
                   textDocumentChanged)

public:
    explicit CTextFormat(QObject *parent = nullptr);

    QQuickTextDocument *textDocument() const;
    void setTextDocument(QQuickTextDocument *pDocument);

    // Each makes the range bold (italic, a list) unless it already is, then undoes it.
    Q_INVOKABLE void toggleBold(int nStart, int nEnd);
    Q_INVOKABLE void toggleItalic(int nStart, int nEnd);
    Q_INVOKABLE void toggleList(int nStart, int nEnd);

    Q_INVOKABLE bool isBold(int nPosition) const;
    Q_INVOKABLE bool isItalic(int nPosition) const;
    Q_INVOKABLE bool isList(int nPosition) const;
    // The text without its form, lines as "\n".
    Q_INVOKABLE QString plainText() const;
    // A text without form as rich text that shows exactly it (blanks, tabs and lines kept).
    Q_INVOKABLE QString richTextOf(const QString &strPlain) const;

signals:
    void textDocumentChanged();

private:
    QTextDocument *document() const;
    // A cursor over the range, or over the word at nStart when the range is empty.
    QTextCursor cursorFor(int nStart, int nEnd) const;

    QPointer<QQuickTextDocument> m_pTextDocument;
};

#endif // TEXTFORMAT_H
