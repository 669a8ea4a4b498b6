#include "notepictures.h"

#include "kelpolog.h"
#include "notepictureprovider.h"
#include "notetext.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QHash>
#include <QMimeData>
#include <QMutex>
#include <QQmlEngine>
#include <QQuickTextDocument>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTextDocument>

namespace {

// A picture given a short name: its data URL, kept as a part of the text it came in
// (shared, not copied), and the largest size a tag shows it at.
struct Picture
{
    QString strSource;
    int nOffset = 0;
    int nLength = 0;
    QSize sizeShown;
    // The screen's pixels per shown pixel when the picture was named.
    qreal dPixelRatio = 1;

    QStringRef dataUrl() const { return QStringRef(&strSource, nOffset, nLength); }
};

// The pictures with short names, for every text area of the program: the provider reads
// them on its own thread.
struct Registry
{
    QMutex mutex;
    QHash<int, Picture> hashPictures;
    int nNextId = 1;
    // Part of every short name: random, so that no text typed or pasted holds one.
    const QString strPrefix = QStringLiteral("image://%1/%2-")
                                  .arg(QLatin1String(CNotePictures::kProviderId))
                                  .arg(QRandomGenerator::system()->generate64(),
                                       16,
                                       16,
                                       QLatin1Char('0'));
};

Registry &registry()
{
    static Registry s_registry;
    return s_registry;
}

// The data URLs that rich text reads into a picture's name and writes out again unchanged:
// nothing to unescape when read, nothing to escape when written. A plain loop: the data
// are megabytes long.
bool isPlainDataUrl(QStringView str)
{
    static const QLatin1String kStart("data:image/");
    static const QLatin1String kBase64(";base64,");
    if (!str.startsWith(kStart))
        return false;
    const int nMark = int(str.indexOf(kBase64));
    if (nMark <= kStart.size())
        return false;
    for (int i = kStart.size(); i < nMark; ++i) {
        const ushort c = str.at(i).unicode();
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.'
              || c == '+' || c == '-'))
            return false;
    }
    // The characters of base64 text, by code.
    static const QVector<bool> vecBase64 = [] {
        QVector<bool> vec(128, false);
        for (const char c :
             QByteArrayLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/"))
            vec[c] = true;
        return vec;
    }();
    const bool *pBase64 = vecBase64.constData();
    const ushort *p = reinterpret_cast<const ushort *>(str.utf16());
    const int nEnd = int(str.size());
    int i = nMark + kBase64.size();
    const int nData = i;
    while (i < nEnd && p[i] < 128 && pBase64[p[i]])
        ++i;
    if (i == nData)
        return false;
    // Up to two "=" of padding, and nothing after them.
    int nPadding = 0;
    while (i < nEnd && p[i] == '=' && nPadding < 2) {
        ++i;
        ++nPadding;
    }
    return i == nEnd;
}

int shownSide(QStringView str)
{
    static const QRegularExpression re(QStringLiteral("^[0-9]{1,5}$"));
    return re.match(str).hasMatch() ? str.toString().toInt() : 0;
}

bool isSpace(QChar ch)
{
    return ch == QLatin1Char(' ') || ch == QLatin1Char('\t') || ch == QLatin1Char('\n')
           || ch == QLatin1Char('\r') || ch == QLatin1Char('\f');
}

struct Attribute
{
    QStringView name;
    int nValueStart = -1; // -1: no value
    int nValueLength = 0;
};

// Reads the attributes of the tag whose name ends before nPos, up to its '>' (or the end
// of the text); returns where the tag ends.
int readAttributes(const QString &str, int nPos, QVector<Attribute> *pAttributes)
{
    const int n = str.size();
    while (nPos < n) {
        while (nPos < n && (isSpace(str.at(nPos)) || str.at(nPos) == QLatin1Char('/')))
            ++nPos;
        if (nPos >= n || str.at(nPos) == QLatin1Char('>'))
            break;
        const int nName = nPos;
        while (nPos < n && !isSpace(str.at(nPos)) && str.at(nPos) != QLatin1Char('=')
               && str.at(nPos) != QLatin1Char('>') && str.at(nPos) != QLatin1Char('/'))
            ++nPos;
        Attribute attr;
        attr.name = QStringView(str).mid(nName, nPos - nName);
        int nAfter = nPos;
        while (nAfter < n && isSpace(str.at(nAfter)))
            ++nAfter;
        if (nAfter < n && str.at(nAfter) == QLatin1Char('=')) {
            nPos = nAfter + 1;
            while (nPos < n && isSpace(str.at(nPos)))
                ++nPos;
            if (nPos < n
                && (str.at(nPos) == QLatin1Char('"') || str.at(nPos) == QLatin1Char('\''))) {
                const QChar chQuote = str.at(nPos);
                const int nEnd = str.indexOf(chQuote, nPos + 1);
                attr.nValueStart = nPos + 1;
                attr.nValueLength = (nEnd < 0 ? n : nEnd) - attr.nValueStart;
                nPos = nEnd < 0 ? n : nEnd + 1;
            } else {
                attr.nValueStart = nPos;
                while (nPos < n && !isSpace(str.at(nPos)) && str.at(nPos) != QLatin1Char('>'))
                    ++nPos;
                attr.nValueLength = nPos - attr.nValueStart;
            }
        }
        if (!attr.name.isEmpty())
            pAttributes->append(attr);
        else if (nPos < n && nPos == nName)
            ++nPos; // a stray character
    }
    return nPos;
}

bool isTagName(const QString &str, int nPos, QLatin1String strName)
{
    const int nEnd = nPos + strName.size();
    if (nEnd > str.size()
        || QStringView(str).mid(nPos, strName.size()).compare(strName, Qt::CaseInsensitive) != 0)
        return false;
    return nEnd == str.size() || isSpace(str.at(nEnd)) || str.at(nEnd) == QLatin1Char('/')
           || str.at(nEnd) == QLatin1Char('>');
}

// Replaces the data URLs of the picture tags that carry their shown size by short names;
// the ids given out are appended to pIds.
QString withShortNames(const QString &strHtml, QVector<int> *pIds)
{
    if (!strHtml.contains(QLatin1String("data:"), Qt::CaseInsensitive))
        return strHtml;
    Registry &reg = registry();
    QString strOut;
    int nCopied = 0;
    // Two tags with the same picture share its name (and its decoding); compared only when
    // their lengths match, rather than hashed.
    QVector<QPair<QStringView, int>> vecSeen;
    int nPos = 0;
    while ((nPos = strHtml.indexOf(QLatin1Char('<'), nPos)) >= 0) {
        ++nPos;
        if (!isTagName(strHtml, nPos, QLatin1String("img")))
            continue;
        QVector<Attribute> vecAttributes;
        const int nEnd = readAttributes(strHtml, nPos + 3, &vecAttributes);
        const Attribute *pSrc = nullptr;
        int nSrcCount = 0;
        int nWidth = 0;
        int nHeight = 0;
        for (const Attribute &attr : qAsConst(vecAttributes)) {
            const QStringView value = QStringView(strHtml).mid(attr.nValueStart, attr.nValueLength);
            if (attr.name.compare(QLatin1String("src"), Qt::CaseInsensitive) == 0
                || attr.name.compare(QLatin1String("source"), Qt::CaseInsensitive) == 0) {
                pSrc = &attr;
                ++nSrcCount;
            } else if (attr.name.compare(QLatin1String("width"), Qt::CaseInsensitive) == 0) {
                nWidth = attr.nValueStart < 0 ? 0 : shownSide(value);
            } else if (attr.name.compare(QLatin1String("height"), Qt::CaseInsensitive) == 0) {
                nHeight = attr.nValueStart < 0 ? 0 : shownSide(value);
            }
        }
        nPos = nEnd;
        // A tag without its size is laid out by its picture's own size: it keeps its data
        // URL, as does anything unusual.
        if (nSrcCount != 1 || pSrc->nValueStart < 0 || nWidth <= 0 || nHeight <= 0)
            continue;
        const QStringView value = QStringView(strHtml).mid(pSrc->nValueStart, pSrc->nValueLength);
        if (!isPlainDataUrl(value))
            continue;
        int nId = 0;
        for (const auto &seen : qAsConst(vecSeen)) {
            if (seen.first.size() == value.size() && seen.first == value) {
                nId = seen.second;
                break;
            }
        }
        {
            QMutexLocker locker(&reg.mutex);
            if (nId == 0) {
                nId = reg.nNextId++;
                Picture picture;
                picture.strSource = strHtml;
                picture.nOffset = pSrc->nValueStart;
                picture.nLength = pSrc->nValueLength;
                reg.hashPictures.insert(nId, picture);
                vecSeen.append({value, nId});
                pIds->append(nId);
            }
            Picture &picture = reg.hashPictures[nId];
            picture.sizeShown = picture.sizeShown.expandedTo(QSize(nWidth, nHeight));
            picture.dPixelRatio = qMax<qreal>(1, qGuiApp ? qGuiApp->devicePixelRatio() : 1);
        }
        strOut.reserve(strHtml.size() / 8);
        strOut.append(QStringView(strHtml).mid(nCopied, pSrc->nValueStart - nCopied));
        strOut.append(reg.strPrefix);
        strOut.append(QString::number(nId));
        nCopied = pSrc->nValueStart + pSrc->nValueLength;
    }
    if (nCopied == 0)
        return strHtml;
    strOut.append(QStringView(strHtml).mid(nCopied));
    return strOut;
}

// Text put on the clipboard from a text area holds the short names: it gets the data URLs
// instead, so that it can be pasted anywhere, and later, when the names are gone.
void restoreClipboard(QClipboard::Mode mode)
{
    QClipboard *pClipboard = QGuiApplication::clipboard();
    // Only what this program put there: another program's data is not fetched. Platforms
    // without a system clipboard keep it in the process and do not tell the owner.
    const bool bOwned = mode == QClipboard::Clipboard ? pClipboard->ownsClipboard()
                                                      : pClipboard->ownsSelection();
    const QString strPlatform = QGuiApplication::platformName();
    if (!bOwned && strPlatform != QLatin1String("offscreen")
        && strPlatform != QLatin1String("minimal"))
        return;
    const QMimeData *pData = pClipboard->mimeData(mode);
    if (!pData || !pData->hasHtml())
        return;
    const QString strHtml = pData->html();
    if (!strHtml.contains(registry().strPrefix))
        return;
    const QString strRestored = CNotePictures::storedText(strHtml);
    if (strRestored == strHtml)
        return;
    auto *pRestored = new QMimeData;
    pRestored->setHtml(strRestored);
    if (pData->hasText())
        pRestored->setText(pData->text());
    pClipboard->setMimeData(pRestored, mode);
}

// The clipboard modes changed since they were last restored.
bool g_bClipboardChanged = false;
bool g_bSelectionChanged = false;

// Restores what changed. Called on the next turn of the event loop after a change (the
// text area has finished with its own data then), and before pictures are forgotten.
void restoreChangedClipboard()
{
    if (g_bClipboardChanged) {
        g_bClipboardChanged = false;
        restoreClipboard(QClipboard::Clipboard);
    }
    if (g_bSelectionChanged) {
        g_bSelectionChanged = false;
        restoreClipboard(QClipboard::Selection);
    }
}

void watchClipboard()
{
    static bool s_bWatching = false;
    if (s_bWatching || !qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        return;
    s_bWatching = true;
    QClipboard *pClipboard = QGuiApplication::clipboard();
    QObject::connect(pClipboard, &QClipboard::dataChanged, pClipboard, [pClipboard] {
        g_bClipboardChanged = true;
        QMetaObject::invokeMethod(pClipboard, &restoreChangedClipboard, Qt::QueuedConnection);
    });
    QObject::connect(pClipboard, &QClipboard::selectionChanged, pClipboard, [pClipboard] {
        g_bSelectionChanged = true;
        QMetaObject::invokeMethod(pClipboard, &restoreChangedClipboard, Qt::QueuedConnection);
    });
}

} // namespace

CNotePictures::CNotePictures(QObject *parent)
    : QObject(parent)
{
    watchClipboard();
}

CNotePictures::~CNotePictures()
{
    releasePictures();
}

QQuickTextDocument *CNotePictures::textDocument() const
{
    return m_pTextDocument;
}

void CNotePictures::setTextDocument(QQuickTextDocument *pDocument)
{
    if (pDocument == m_pTextDocument)
        return;
    if (QObject *pEdit = textEdit())
        disconnect(pEdit, nullptr, this, nullptr);
    m_pTextDocument = pDocument;
    if (QObject *pEdit = textEdit()) {
        connect(pEdit, SIGNAL(textChanged()), this, SIGNAL(contentChanged()));
        // The text area lays its text out again when pictures arrive, but draws them only
        // when told that the whole text changed (Qt 5.15).
        if (pEdit->metaObject()->indexOfSlot("updateWholeDocument()") >= 0
            && pDocument->textDocument()->metaObject()->indexOfSignal("imagesLoaded()") >= 0)
            connect(pDocument->textDocument(),
                    SIGNAL(imagesLoaded()),
                    pEdit,
                    SLOT(updateWholeDocument()),
                    Qt::UniqueConnection);
    }
    emit textDocumentChanged();
    if (m_bPending && textEdit()) {
        m_bPending = false;
        setContent(m_strPending);
        m_strPending.clear();
    }
}

// The text area's own item: the document is its child.
QObject *CNotePictures::textEdit() const
{
    return m_pTextDocument ? m_pTextDocument->parent() : nullptr;
}

bool CNotePictures::isRich(int nTextFormat, const QString &strContent)
{
    // TextEdit.PlainText 0, RichText 1, AutoText 2, MarkdownText 3.
    return nTextFormat == 1 || (nTextFormat == 2 && Qt::mightBeRichText(strContent));
}

QString CNotePictures::content() const
{
    QObject *pEdit = textEdit();
    if (!pEdit)
        return m_strPending;
    const QString strText = pEdit->property("text").toString();
    // A text area showing plain text gives it as it is (rich text comes as a whole HTML
    // document, never equal to its plain text). Typed text with a tag in its first line
    // would come back as rich text, the tag taken for markup and lost: it is kept as the
    // rich text of exactly what was typed.
    const QTextDocument *pDoc = m_pTextDocument->textDocument();
    if (pDoc && strText == pDoc->toPlainText())
        return plainTextContent(strText);
    return storedText(strText);
}

void CNotePictures::setContent(const QString &strContent)
{
    QObject *pEdit = textEdit();
    if (!pEdit) {
        m_strPending = strContent;
        m_bPending = true;
        emit contentChanged();
        return;
    }
    ensureProvider();
    // The pictures of the note shown before are not needed any more: the text area
    // forgets its undo steps with its text.
    QVector<int> vecOld;
    vecOld.swap(m_vecIds);
    QString strShown = strContent;
    if (isRich(pEdit->property("textFormat").toInt(), strContent)) {
        strShown = withShortNames(strContent, &m_vecIds);
        // The short form must be read as the same kind of text.
        if (!isRich(pEdit->property("textFormat").toInt(), strShown)) {
            releasePictures();
            strShown = strContent;
        }
    }
    pEdit->setProperty("text", strShown);
    startLoading(m_vecIds);
    restoreChangedClipboard();
    QMutexLocker locker(&registry().mutex);
    for (int nId : qAsConst(vecOld))
        registry().hashPictures.remove(nId);
}

// The text area asks for its pictures when it draws them, on the thread that draws in a
// threaded window; asked here first, they are loaded from the window's thread.
void CNotePictures::startLoading(const QVector<int> &vecIds)
{
    QTextDocument *pDoc = m_pTextDocument ? m_pTextDocument->textDocument() : nullptr;
    if (!pDoc)
        return;
    for (int nId : vecIds)
        pDoc->resource(QTextDocument::ImageResource,
                       QUrl(registry().strPrefix + QString::number(nId)));
}

QString CNotePictures::shownText(const QString &strHtml)
{
    ensureProvider();
    QVector<int> vecIds;
    const QString strShown = withShortNames(strHtml, &vecIds);
    m_vecIds += vecIds;
    startLoading(vecIds);
    return strShown;
}

QString CNotePictures::storedText(const QString &strText)
{
    Registry &reg = registry();
    int nPos = strText.indexOf(reg.strPrefix);
    if (nPos < 0)
        return strText;
    QString strOut;
    int nCopied = 0;
    QMutexLocker locker(&reg.mutex);
    while (nPos >= 0) {
        int nDigits = nPos + reg.strPrefix.size();
        const int nIdStart = nDigits;
        while (nDigits < strText.size() && strText.at(nDigits).isDigit()
               && strText.at(nDigits).unicode() < 128)
            ++nDigits;
        const int nId = QStringView(strText).mid(nIdStart, nDigits - nIdStart).toString().toInt();
        const auto it = reg.hashPictures.constFind(nId);
        if (it == reg.hashPictures.constEnd()) {
            qCWarning(lcNote) << "a picture of the note is not known any more:" << nId;
        } else {
            if (strOut.isEmpty())
                strOut.reserve(strText.size() + it->nLength);
            strOut.append(QStringView(strText).mid(nCopied, nPos - nCopied));
            strOut.append(it->dataUrl());
            nCopied = nDigits;
        }
        nPos = strText.indexOf(reg.strPrefix, nDigits);
    }
    if (nCopied == 0)
        return strText;
    strOut.append(QStringView(strText).mid(nCopied));
    return strOut;
}

bool CNotePictures::picture(const QString &strId, QString *pDataUrl, QSize *pShownSize)
{
    Registry &reg = registry();
    // The provider is handed the name without "image://notepicture/".
    const QString strToken = reg.strPrefix.mid(int(qstrlen(kProviderId)) + 9);
    if (!strId.startsWith(strToken))
        return false;
    bool bOk = false;
    const int nId = strId.midRef(strToken.size()).toInt(&bOk);
    QMutexLocker locker(&reg.mutex);
    const auto it = reg.hashPictures.constFind(nId);
    if (!bOk || it == reg.hashPictures.constEnd())
        return false;
    *pDataUrl = it->dataUrl().toString();
    *pShownSize = it->sizeShown * it->dPixelRatio;
    return true;
}

void CNotePictures::releasePictures()
{
    restoreChangedClipboard();
    QMutexLocker locker(&registry().mutex);
    for (int nId : qAsConst(m_vecIds))
        registry().hashPictures.remove(nId);
    m_vecIds.clear();
}

void CNotePictures::componentComplete()
{
    ensureProvider();
}

void CNotePictures::ensureProvider()
{
    QQmlEngine *pEngine = qmlEngine(this);
    if (pEngine && !pEngine->imageProvider(QLatin1String(kProviderId)))
        pEngine->addImageProvider(QLatin1String(kProviderId), new CNotePictureProvider);
}
