#ifndef NOTEPICTURES_H
#define NOTEPICTURES_H

#include <QObject>
#include <QPointer>
#include <QQmlParserStatus>
#include <QSize>
#include <QString>
#include <QVector>

class QQuickTextDocument;

// Opens a note's text in a text area without decoding its pictures on the window's thread.
// The pictures of a note are embedded in its rich text as data URLs of several megabytes,
// which the text area would decode while the note opens. Here each picture tag that
// carries its shown size gets a short name instead, "image://notepicture/<token>-<n>",
// that the picture provider (CNotePictureProvider) decodes on its own thread at the size it
// is shown at; the text is laid out at once and the picture drawn when it is ready.
//
// `content` is the note's text as it is stored: reading it gives the text area's text
// with every short name replaced by its picture's data URL again, exactly as the text
// area would have written it with the data URLs inside (the data URLs taken are those
// that rich text reads and writes unchanged). Text copied from the area reaches the
// clipboard with the data URLs too.
class CNotePictures : public QObject, public QQmlParserStatus
{
    Q_OBJECT
    Q_INTERFACES(QQmlParserStatus)
    Q_PROPERTY(QQuickTextDocument *textDocument READ textDocument WRITE setTextDocument NOTIFY
                   textDocumentChanged)
    Q_PROPERTY(QString content READ content WRITE setContent NOTIFY contentChanged)

public:
    static constexpr const char *kProviderId = "notepicture";

    explicit CNotePictures(QObject *parent = nullptr);
    ~CNotePictures() override;

    QQuickTextDocument *textDocument() const;
    void setTextDocument(QQuickTextDocument *pDocument);

    QString content() const;
    void setContent(const QString &strContent);

    // A piece of rich text (a picture tag to insert) with its pictures given short names.
    Q_INVOKABLE QString shownText(const QString &strHtml);

    // The text with every short name of a picture still known replaced by its data URL.
    static QString storedText(const QString &strText);

    // For the provider: the data URL behind a short name's id (after the provider's name)
    // and the largest size it is shown at, in the screen's pixels; false when the name is
    // not known (any more).
    static bool picture(const QString &strId, QString *pDataUrl, QSize *pShownSize);

    // The text area's text is rich text for this content (as the area decides it).
    static bool isRich(int nTextFormat, const QString &strContent);

    void classBegin() override {}
    void componentComplete() override;

signals:
    void textDocumentChanged();
    void contentChanged();

private:
    QObject *textEdit() const;
    void releasePictures();
    void startLoading(const QVector<int> &vecIds);
    void ensureProvider();

    QPointer<QQuickTextDocument> m_pTextDocument;
    // The ids this object gave out; they are forgotten when another note is opened.
    QVector<int> m_vecIds;
    QString m_strPending;
    bool m_bPending = false;
};

#endif // NOTEPICTURES_H
