#include "notefile.h"

#include "pictureloader.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>
#include <QRegularExpression>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFragment>
#include <QUrl>

namespace NoteFile {

const QStringList kHeaderFields{QStringLiteral("title"),
                                QStringLiteral("date"),
                                QStringLiteral("created"),
                                QStringLiteral("updated"),
                                QStringLiteral("uuid")};

namespace {

constexpr int kTitleLength = 50;
constexpr int kNameLength = 60;
constexpr int kLargestSide = 500;
const QString kHtmlStart = QStringLiteral("<!-- kelpo-note");
const QString kHtmlEnd = QStringLiteral("-->");
const QString kMarkdownFence = QStringLiteral("---");

// A header value: always written as a JSON string, which is also a YAML string.
QString quoted(const QString &str)
{
    const QByteArray ba = QJsonDocument(QJsonArray{str}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(ba.mid(1, ba.size() - 2));
}

bool unquoted(const QString &strValue, QString &strOut)
{
    if (!strValue.startsWith(QLatin1Char('"'))) {
        strOut = strValue;
        return true;
    }
    QJsonParseError error;
    const QJsonDocument doc
        = QJsonDocument::fromJson((QLatin1Char('[') + strValue + QLatin1Char(']')).toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || !doc.isArray() || doc.array().size() != 1
        || !doc.array().at(0).isString())
        return false;
    strOut = doc.array().at(0).toString();
    return true;
}

struct ImageSpan
{
    int nPosition;
    int nLength;
    QTextImageFormat format;
};

QList<ImageSpan> images(const QTextDocument &doc)
{
    QList<ImageSpan> lstImages;
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (fragment.isValid() && fragment.charFormat().isImageFormat())
                lstImages << ImageSpan{fragment.position(),
                                       fragment.length(),
                                       fragment.charFormat().toImageFormat()};
        }
    }
    return lstImages;
}

void setFormat(QTextDocument &doc, const ImageSpan &span, const QTextImageFormat &format)
{
    QTextCursor cursor(&doc);
    cursor.setPosition(span.nPosition);
    cursor.setPosition(span.nPosition + span.nLength, QTextCursor::KeepAnchor);
    cursor.setCharFormat(format);
}

QByteArray dataOfUrl(const QString &strUrl, bool *pbOk)
{
    // data:[<type>][;base64],<data>
    const int nComma = strUrl.indexOf(QLatin1Char(','));
    *pbOk = strUrl.startsWith(QLatin1String("data:"), Qt::CaseInsensitive) && nComma > 0;
    if (!*pbOk)
        return QByteArray();
    const QStringRef header = strUrl.midRef(5, nComma - 5);
    const QByteArray baData = strUrl.midRef(nComma + 1).toLatin1();
    if (header.endsWith(QLatin1String(";base64"), Qt::CaseInsensitive))
        return QByteArray::fromBase64(baData);
    return QByteArray::fromPercentEncoding(baData);
}

QString imageSuffix(const QByteArray &baData)
{
    QBuffer buffer;
    buffer.setData(baData);
    buffer.open(QIODevice::ReadOnly);
    QByteArray baFormat = QImageReader::imageFormat(&buffer);
    if (baFormat == "jpeg")
        baFormat = "jpg";
    return baFormat.isEmpty() ? QStringLiteral("png") : QString::fromLatin1(baFormat);
}

} // namespace

void setNoteText(QTextDocument &doc, const QString &strContent)
{
    if (Qt::mightBeRichText(strContent))
        doc.setHtml(strContent);
    else
        doc.setPlainText(strContent);
}

void escapeMarkdown(QTextDocument &doc)
{
    // Markup wherever it stands, and markup only where a line may start (the writer wraps
    // long paragraphs, so any word may start a line): "# ", "## ", "- ", "+ ", "---",
    // "===", ">", "1. ", "1) ".
    static const QString strAnywhere = QStringLiteral("\\`*_[]<&~|");
    static const QString strLineStart = QStringLiteral("#-+=");
    for (QTextBlock block = doc.lastBlock(); block.isValid(); block = block.previous()) {
        const QString strText = block.text();
        const int nSize = strText.size();
        auto wordStart = [&](int i) { return i == 0 || strText.at(i - 1).isSpace(); };
        auto wordEnd = [&](int i) { return i + 1 >= nSize || strText.at(i + 1).isSpace(); };
        // A word made of one character only ("#", "##", "---").
        auto onlyOf = [&](int i) {
            int j = i;
            while (j + 1 < nSize && strText.at(j + 1) == strText.at(i))
                ++j;
            return wordEnd(j);
        };
        QVector<int> vecAt;
        for (int i = 0; i < nSize; ++i) {
            const QChar c = strText.at(i);
            bool bEscape = strAnywhere.contains(c) || (c == QLatin1Char('>') && wordStart(i))
                           || (strLineStart.contains(c) && wordStart(i) && onlyOf(i));
            if (!bEscape && (c == QLatin1Char('.') || c == QLatin1Char(')')) && wordEnd(i)) {
                int j = i;
                while (j > 0 && strText.at(j - 1).isDigit())
                    --j;
                bEscape = j < i && wordStart(j);
            }
            if (bEscape)
                vecAt << i;
        }
        for (int k = vecAt.size() - 1; k >= 0; --k) {
            const int nPos = block.position() + vecAt.at(k);
            QTextCursor cursor(&doc);
            cursor.setPosition(nPos + 1);
            const QTextCharFormat format = cursor.charFormat();
            // Code is written as it is: a backslash there would stay.
            if (format.fontFixedPitch())
                continue;
            cursor.setPosition(nPos);
            cursor.insertText(QStringLiteral("\\"), format);
        }
    }
}

QString displayTitle(const QString &strTitle, const QString &strContent)
{
    QString strName = strTitle.simplified();
    if (strName.isEmpty() && !strContent.isEmpty()) {
        QTextDocument doc;
        setNoteText(doc, strContent);
        strName = doc.toPlainText().simplified().remove(QChar::ObjectReplacementCharacter);
        strName = strName.trimmed().left(kTitleLength);
    }
    return strName.isEmpty() ? QStringLiteral("Note") : strName;
}

QString baseName(const QString &strDay, const QString &strTitle)
{
    QString strName;
    strName.reserve(strTitle.size());
    for (const QChar c : strTitle) {
        // Separators and characters other systems refuse in names become a dash.
        if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c == QLatin1Char(':')
            || c == QLatin1Char('*') || c == QLatin1Char('?') || c == QLatin1Char('"')
            || c == QLatin1Char('<') || c == QLatin1Char('>') || c == QLatin1Char('|'))
            strName += QLatin1Char('-');
        else if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format)
            strName += QLatin1Char(' ');
        else
            strName += c;
    }
    strName = strName.simplified();
    if (strName.size() > kNameLength) {
        strName.truncate(kNameLength);
        if (strName.at(strName.size() - 1).isHighSurrogate())
            strName.chop(1);
    }
    // No hidden files, and no names that end in a dot or blank.
    while (strName.startsWith(QLatin1Char('.')))
        strName.remove(0, 1);
    while (strName.endsWith(QLatin1Char('.')) || strName.endsWith(QLatin1Char(' ')))
        strName.chop(1);
    if (strName.isEmpty())
        strName = QStringLiteral("Note");
    return strDay + QLatin1Char(' ') + strName;
}

QString header(const QVariantMap &mapFields, bool bHtml)
{
    QString strHeader = bHtml ? kHtmlStart : kMarkdownFence;
    strHeader += QLatin1Char('\n');
    for (const QString &strKey : kHeaderFields) {
        if (mapFields.contains(strKey))
            strHeader += strKey + QStringLiteral(": ") + quoted(mapFields.value(strKey).toString())
                         + QLatin1Char('\n');
    }
    strHeader += bHtml ? kHtmlEnd : kMarkdownFence;
    strHeader += QStringLiteral("\n\n");
    return strHeader;
}

bool takeHeader(QString &strText, QVariantMap &mapFields, QString *pstrError)
{
    QString strStart = kMarkdownFence;
    QString strEnd = kMarkdownFence;
    if (strText.startsWith(kHtmlStart)) {
        strStart = kHtmlStart;
        strEnd = kHtmlEnd;
    }
    if (!strText.startsWith(strStart + QLatin1Char('\n'))
        && !strText.startsWith(strStart + QStringLiteral("\r\n")))
        return false;
    const QStringList lstLines = strText.split(QLatin1Char('\n'));
    int nLine = 1;
    int nOffset = lstLines.at(0).size() + 1;
    for (; nLine < lstLines.size(); ++nLine) {
        const QString strLine = lstLines.at(nLine).trimmed();
        nOffset += lstLines.at(nLine).size() + 1;
        if (strLine == strEnd)
            break;
        if (strLine.isEmpty() || strLine.startsWith(QLatin1Char('#')))
            continue;
        const int nColon = strLine.indexOf(QLatin1Char(':'));
        if (nColon <= 0) {
            *pstrError = QCoreApplication::translate("NoteFile",
                                                     "line %1 of the header is not \"name: value\"")
                             .arg(nLine + 1);
            return false;
        }
        QString strValue;
        if (!unquoted(strLine.mid(nColon + 1).trimmed(), strValue)) {
            *pstrError
                = QCoreApplication::translate("NoteFile",
                                              "line %1 of the header has a broken quoted value")
                      .arg(nLine + 1);
            return false;
        }
        mapFields.insert(strLine.left(nColon).trimmed().toLower(), strValue);
    }
    if (nLine >= lstLines.size()) {
        *pstrError = QCoreApplication::translate("NoteFile", "the header is not closed");
        return false;
    }
    strText = strText.mid(qMin(nOffset, strText.size()));
    return true;
}

QList<Picture> takePictures(QTextDocument &doc, const QString &strStem)
{
    QList<Picture> lstPictures;
    for (const ImageSpan &span : images(doc)) {
        bool bData = false;
        const QByteArray baData = dataOfUrl(span.format.name(), &bData);
        if (!bData)
            continue;
        Picture picture;
        picture.baData = baData;
        picture.strFileName = QStringLiteral("%1-%2.%3")
                                  .arg(strStem)
                                  .arg(lstPictures.size() + 1)
                                  .arg(imageSuffix(baData));
        QTextImageFormat format = span.format;
        format.setName(picture.strFileName);
        setFormat(doc, span, format);
        lstPictures << picture;
    }
    return lstPictures;
}

QString inlinePictures(QTextDocument &doc, const QDir &dir)
{
    for (const ImageSpan &span : images(doc)) {
        const QString strName = span.format.name();
        if (strName.startsWith(QLatin1String("data:"), Qt::CaseInsensitive))
            continue;
        const QUrl url(strName);
        QString strPath = url.isLocalFile() ? url.toLocalFile()
                                            : QUrl::fromPercentEncoding(strName.toUtf8());
        if (!url.isLocalFile() && !url.scheme().isEmpty() && url.scheme().size() > 1)
            return QCoreApplication::translate("NoteFile", "the picture %1 is not a file")
                .arg(strName);
        if (QDir::isRelativePath(strPath))
            strPath = dir.filePath(strPath);
        // Only a file of a size a note can hold is read: a pipe would be waited on for
        // ever, and a device read without end.
        const QFileInfo info(strPath);
        if (info.exists() && !info.isFile())
            return QCoreApplication::translate("NoteFile", "the picture %1 is not a file")
                .arg(strName);
        if (info.size() > CPictureLoader::kMaxNoteBytes)
            return QCoreApplication::translate("NoteFile", "the picture %1 is larger than %2 MB")
                .arg(strName)
                .arg(CPictureLoader::kMaxNoteBytes / (1024 * 1024));
        QFile file(strPath);
        if (!file.open(QIODevice::ReadOnly))
            return QCoreApplication::translate("NoteFile", "the picture %1 cannot be read: %2")
                .arg(strName, file.errorString());
        const QByteArray baData = file.readAll();
        QBuffer buffer;
        buffer.setData(baData);
        QImageReader reader(&buffer);
        const QSize size = reader.size();
        if (!reader.canRead() || !size.isValid())
            return QCoreApplication::translate("NoteFile", "the picture %1 is not a picture")
                .arg(strName);
        QTextImageFormat format = span.format;
        format.setName(dataUrl(baData));
        if (format.width() <= 0 || format.height() <= 0) {
            int nWidth = 0;
            int nHeight = 0;
            scaledSize(size.width(), size.height(), &nWidth, &nHeight);
            format.setWidth(nWidth);
            format.setHeight(nHeight);
        }
        setFormat(doc, span, format);
    }
    return QString();
}

QString fingerprint(const QString &strHtml)
{
    QTextDocument doc;
    setNoteText(doc, strHtml);
    QCryptographicHash hash(QCryptographicHash::Md5);
    QString strText = doc.toPlainText();
    strText.remove(QChar::ObjectReplacementCharacter);
    hash.addData(strText.simplified().toUtf8());
    for (const ImageSpan &span : images(doc)) {
        bool bData = false;
        const QByteArray baData = dataOfUrl(span.format.name(), &bData);
        hash.addData("\n");
        hash.addData(bData ? QCryptographicHash::hash(baData, QCryptographicHash::Md5)
                           : span.format.name().toUtf8());
    }
    return QString::fromLatin1(hash.result().toHex());
}

QString dataUrl(const QByteArray &baData)
{
    // The editor names every picture image/png, whatever its type; readers go by the data.
    return QStringLiteral("data:image/png;base64,") + QString::fromLatin1(baData.toBase64());
}

void scaledSize(int nWidth, int nHeight, int *pnWidth, int *pnHeight)
{
    double dScale = 1.0;
    if (nWidth > nHeight) {
        if (nWidth > kLargestSide)
            dScale = double(kLargestSide) / nWidth;
    } else if (nHeight > kLargestSide) {
        dScale = double(kLargestSide) / nHeight;
    }
    *pnWidth = qRound(nWidth * dScale);
    *pnHeight = qRound(nHeight * dScale);
}

} // namespace NoteFile
