#include "notetext.h"

#include <QTextDocument>

namespace {

const QChar kEllipsis(0x2026);

// Moves a cut position off the second half of a surrogate pair.
int keepWhole(const QString &str, int nPos)
{
    if (nPos > 0 && nPos < str.size() && str.at(nPos).isLowSurrogate())
        return nPos - 1;
    return nPos;
}

} // namespace

QString notePlainText(const QString &strContent)
{
    if (strContent.isEmpty())
        return QString();
    // As the editor shows it: text that looks like rich text is rich text.
    if (!Qt::mightBeRichText(strContent))
        return strContent;
    QTextDocument doc;
    doc.setHtml(strContent);
    QString strPlain = doc.toPlainText();
    // Pictures stand in the plain text as object replacement characters.
    strPlain.remove(QChar::ObjectReplacementCharacter);
    return strPlain;
}

QString plainTextContent(const QString &strPlain)
{
    return Qt::mightBeRichText(strPlain) ? plainTextAsRichText(strPlain) : strPlain;
}

QString plainTextAsRichText(const QString &strPlain)
{
    // No font of its own: the note is shown in the editor's font, as a typed note is.
    QString strHtml = QStringLiteral(
        "<html><head><meta name=\"qrichtext\" content=\"1\" /><style type=\"text/css\">\n"
        "p, li { white-space: pre-wrap; }\n</style></head><body>");
    strHtml.reserve(strPlain.size() * 11 / 10 + 256);
    for (const QString &strLine : strPlain.split(QLatin1Char('\n'))) {
        if (strLine.isEmpty())
            strHtml += QStringLiteral("<p style=\"-qt-paragraph-type:empty; margin-top:0px;"
                                      " margin-bottom:0px;\"><br /></p>");
        else
            strHtml += QStringLiteral("<p style=\"margin-top:0px; margin-bottom:0px;\">")
                       + strLine.toHtmlEscaped() + QStringLiteral("</p>");
    }
    return strHtml + QStringLiteral("</body></html>");
}

void fillPlainText(QVariantMap &mapNote)
{
    const QString strContent(QStringLiteral("content"));
    if (mapNote.contains(strContent))
        mapNote.insert(QStringLiteral("plain_text"),
                       notePlainText(mapNote.value(strContent).toString()));
}

QString titleFromPlainText(const QString &strPlain, int nLength)
{
    return strPlain.left(keepWhole(strPlain, qMin(nLength, strPlain.size())));
}

bool containsFolded(const QString &strText, const QString &strNeedle)
{
    return strText.contains(strNeedle, Qt::CaseInsensitive);
}

QString searchSnippet(const QString &strPlain, const QString &strNeedle, int nLength)
{
    const int nFound = strNeedle.isEmpty() ? -1
                                           : strPlain.indexOf(strNeedle, 0, Qt::CaseInsensitive);
    int nStart = 0;
    if (nFound > 0) {
        // Some context before the match, a quarter of the snippet.
        nStart = keepWhole(strPlain, qMax(0, nFound - nLength / 4));
    }
    const int nEnd = keepWhole(strPlain, qMin(strPlain.size(), nStart + nLength));
    QString strSnippet = strPlain.mid(nStart, nEnd - nStart).simplified();
    if (nStart > 0)
        strSnippet.prepend(kEllipsis);
    if (nEnd < strPlain.size())
        strSnippet.append(kEllipsis);
    return strSnippet;
}
