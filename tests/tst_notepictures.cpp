#include "notepictureprovider.h"
#include "notepictures.h"

#include <QBuffer>
#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>
#include <QPainter>
#include <QTextCursor>
#include <QTextDocument>
#include <QtTest>

#include <memory>

namespace {

// A small picture of the format, as the base64 text of a data URL.
QString base64Picture(int nWidth, int nHeight, const char *pFormat, QRgb rgb)
{
    QImage image(nWidth, nHeight, QImage::Format_RGB32);
    image.fill(rgb);
    QPainter painter(&image);
    painter.fillRect(0, 0, nWidth / 2, nHeight / 2, Qt::darkBlue);
    painter.end();
    QByteArray ba;
    QBuffer buffer(&ba);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, pFormat);
    return QString::fromLatin1(ba.toBase64());
}

QString png()
{
    static const QString s = base64Picture(40, 20, "PNG", 0xff20a040);
    return s;
}

QString jpeg()
{
    static const QString s = base64Picture(64, 48, "JPEG", 0xffc08020);
    return s;
}

QString fill(QString strHtml)
{
    return strHtml.replace(QLatin1String("PNG"), png()).replace(QLatin1String("JPG"), jpeg());
}

int shortNames(const QString &str)
{
    return str.count(QLatin1String("image://notepicture/"));
}

// The id the provider is asked for: the short name without "image://notepicture/".
QString firstId(const QString &strShown)
{
    const QRegularExpression re(QStringLiteral("image://notepicture/([0-9a-f]+-[0-9]+)"));
    return re.match(strShown).captured(1);
}

QString toHtml(const QString &strHtml, bool bEdit)
{
    QTextDocument doc;
    doc.setHtml(strHtml);
    if (bEdit) {
        QTextCursor cursor(&doc);
        cursor.setPosition(1);
        cursor.insertText(QStringLiteral("typed "));
        cursor.movePosition(QTextCursor::End);
        cursor.insertText(QStringLiteral(" and at the end"));
    }
    return doc.toHtml();
}

} // namespace

class tst_NotePictures : public QObject
{
    Q_OBJECT

private slots:
    void roundTrip_data();
    void roundTrip();
    void keptAsTheyAre_data();
    void keptAsTheyAre();
    void identicalPicturesShareOneName();
    void namesLiveWithTheirText();
    void decodesAtShownSize_data();
    void decodesAtShownSize();
    void clipboardGetsDataUrls();
};

// The text shown with short names and written out again is exactly the text the document
// writes with the data URLs inside, with or without changes.
void tst_NotePictures::roundTrip_data()
{
    QTest::addColumn<QString>("html");
    QTest::addColumn<int>("names");

    QTest::newRow("picture between words")
        << fill(QStringLiteral("Morning <img height=\"20\" width=\"40\" "
                               "src=\"data:image/png;base64,PNG\"> evening"))
        << 1;
    QTest::newRow("tag without its closing bracket")
        << fill(QStringLiteral("<p>a</p><img height=\"20\" width=\"40\" "
                               "src=\"data:image/png;base64,PNG\""))
        << 1;
    QTest::newRow("JPEG and PNG") << fill(
        QStringLiteral("<p>one <img height=\"48\" width=\"64\" src=\"data:image/png;"
                       "base64,JPG\"></p><ul><li><b>two <img width=\"40\" height=\"20\" "
                       "src=\"data:image/png;base64,PNG\"></b></li></ul>"))
                                  << 2;
    QTest::newRow("quotes, case, no quotes")
        << fill(QStringLiteral("<IMG WIDTH='40' HEIGHT='20' SRC='data:image/png;base64,PNG'>"
                               "<img width=64 height=48 src=data:image/jpeg;base64,JPG>x"))
        << 2;
    QTest::newRow("text that shows a data URL")
        << fill(QStringLiteral("<p>src=\"data:image/png;base64,PNG\" &lt;img src=&quot;data:"
                               "image/png;base64,PNG&quot;&gt;</p><img height=\"20\" width=\"40\" "
                               "alt='a \"src\" &amp; &gt;' src=\"data:image/png;base64,PNG\">"))
        << 1;
    QTest::newRow("a picture with and one without its size")
        << fill(QStringLiteral("<p><img src=\"data:image/png;base64,PNG\"><img height=\"20\" "
                               "width=\"40\" src=\"data:image/png;base64,JPG\"></p>"))
        << 1;
    // As a note comes back from the store: the document's own writing.
    QTest::newRow("text the editor wrote")
        << toHtml(fill(QStringLiteral("Morning <img height=\"20\" width=\"40\" "
                                      "src=\"data:image/png;base64,PNG\"> evening <img "
                                      "height=\"48\" width=\"64\" "
                                      "src=\"data:image/png;base64,JPG\">")),
                  false)
        << 2;
}

void tst_NotePictures::roundTrip()
{
    QFETCH(QString, html);
    QFETCH(int, names);

    CNotePictures pictures;
    const QString strShown = pictures.shownText(html);
    QCOMPARE(shortNames(strShown), names);
    QVERIFY(strShown.size() < html.size());
    for (const bool bEdit : {false, true}) {
        const QString strExpected = toHtml(html, bEdit);
        QCOMPARE(CNotePictures::storedText(toHtml(strShown, bEdit)), strExpected);
    }
}

// What the document would not write back unchanged, or lays out by the picture's own
// size, keeps its data URL.
void tst_NotePictures::keptAsTheyAre_data()
{
    QTest::addColumn<QString>("html");

    QTest::newRow("no size") << fill(QStringLiteral("<img src=\"data:image/png;base64,PNG\">"));
    QTest::newRow("width only") << fill(
        QStringLiteral("<img width=\"40\" src=\"data:image/png;base64,PNG\">"));
    QTest::newRow("size in percent") << fill(
        QStringLiteral("<img width=\"50%\" height=\"20\" src=\"data:image/png;base64,PNG\">"));
    QTest::newRow("entity in the URL") << fill(
        QStringLiteral("<img width=\"4\" height=\"2\" src=\"data:image/png;base64,PNG&#61;\">"));
    QTest::newRow("line break in the data") << QStringLiteral(
        "<img width=\"4\" height=\"2\" src=\"data:image/png;base64,iVBO\nRw0K\">");
    QTest::newRow("not base64") << QStringLiteral(
        "<img width=\"4\" height=\"2\" src=\"data:image/svg+xml,%3Csvg%3E\">");
    QTest::newRow("padding inside the data")
        << QStringLiteral("<img width=\"4\" height=\"2\" src=\"data:image/png;base64,aGk=aGk=\">");
    QTest::newRow("three padding characters")
        << QStringLiteral("<img width=\"4\" height=\"2\" src=\"data:image/png;base64,aGk===\">");
    QTest::newRow("no data") << QStringLiteral(
        "<img width=\"4\" height=\"2\" src=\"data:image/png;base64,\">");
    QTest::newRow("not a picture")
        << QStringLiteral("<img width=\"4\" height=\"2\" src=\"data:text/plain;base64,aGk=\">");
    QTest::newRow("two sources") << fill(
        QStringLiteral("<img width=\"4\" height=\"2\" src=\"data:image/png;base64,PNG\" "
                       "source=\"data:image/png;base64,JPG\">"));
    QTest::newRow("not a picture tag") << fill(
        QStringLiteral("<imgx width=\"4\" height=\"2\" src=\"data:image/png;base64,PNG\">"));
}

void tst_NotePictures::keptAsTheyAre()
{
    QFETCH(QString, html);
    CNotePictures pictures;
    QCOMPARE(pictures.shownText(html), html);
}

void tst_NotePictures::identicalPicturesShareOneName()
{
    CNotePictures pictures;
    const QString strTag = fill(
        QStringLiteral("<img height=\"20\" width=\"40\" src=\"data:image/png;base64,PNG\">"));
    const QString strHtml = strTag + QStringLiteral("<p>and again</p>")
                            + QString(strTag).replace(QLatin1String("height=\"20\" width=\"40\""),
                                                      QLatin1String("height=\"60\" width=\"120\""));
    const QString strShown = pictures.shownText(strHtml);
    QCOMPARE(shortNames(strShown), 2);
    const QString strId = firstId(strShown);
    QCOMPARE(strShown.count(strId), 2);
    // Decoded once, for the larger of the two sizes.
    QString strDataUrl;
    QSize size;
    QVERIFY(CNotePictures::picture(strId, &strDataUrl, &size));
    QCOMPARE(size, QSize(120, 60));
    QCOMPARE(strDataUrl, QStringLiteral("data:image/png;base64,") + png());
    QCOMPARE(CNotePictures::storedText(toHtml(strShown, true)), toHtml(strHtml, true));
}

// A short name is served while the text that holds it is open, and forgotten with it.
void tst_NotePictures::namesLiveWithTheirText()
{
    const QString strHtml = fill(
        QStringLiteral("<img height=\"20\" width=\"40\" src=\"data:image/png;base64,PNG\">"));
    CNotePictureProvider provider;
    QString strShown;
    QString strId;
    {
        CNotePictures pictures;
        strShown = pictures.shownText(strHtml);
        strId = firstId(strShown);
        QSize size;
        QVERIFY(!provider.requestImage(strId, &size, QSize()).isNull());
        QCOMPARE(size, QSize(40, 20));
        // Not a name of this run: made up, or of another program.
        QVERIFY(
            provider.requestImage(QStringLiteral("0123456789abcdef-1"), &size, QSize()).isNull());
        QVERIFY(provider.requestImage(strId + QLatin1Char('0'), &size, QSize()).isNull());
    }
    QSize size;
    QVERIFY(provider.requestImage(strId, &size, QSize()).isNull());
    // Text holding a name that is forgotten is left as it is.
    QCOMPARE(CNotePictures::storedText(strShown), strShown);
}

void tst_NotePictures::decodesAtShownSize_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QSize>("picture");
    QTest::addColumn<QSize>("shown");
    QTest::addColumn<QSize>("decoded");

    QTest::newRow("JPEG shown smaller")
        << "JPEG" << QSize(1600, 1200) << QSize(200, 150) << QSize(200, 150);
    QTest::newRow("PNG shown smaller")
        << "PNG" << QSize(1000, 400) << QSize(250, 100) << QSize(250, 100);
    QTest::newRow("shown at its size")
        << "PNG" << QSize(300, 200) << QSize(300, 200) << QSize(300, 200);
    QTest::newRow("shown larger: not enlarged")
        << "JPEG" << QSize(120, 80) << QSize(480, 320) << QSize(120, 80);
    QTest::newRow("shown in other proportions")
        << "PNG" << QSize(800, 800) << QSize(100, 50) << QSize(100, 100);
}

void tst_NotePictures::decodesAtShownSize()
{
    QFETCH(QString, format);
    QFETCH(QSize, picture);
    QFETCH(QSize, shown);
    QFETCH(QSize, decoded);

    const QString strBase64 = base64Picture(picture.width(),
                                            picture.height(),
                                            format.toLatin1().constData(),
                                            0xff808080);
    CNotePictures pictures;
    const QString strShown = pictures.shownText(
        QStringLiteral("<img height=\"%1\" width=\"%2\" src=\"data:image/png;base64,%3\">")
            .arg(shown.height())
            .arg(shown.width())
            .arg(strBase64));
    CNotePictureProvider provider;
    QSize size;
    const QImage image = provider.requestImage(firstId(strShown), &size, QSize());
    QCOMPARE(image.size(), decoded);
    QCOMPARE(size, decoded);
}

// Text copied from a text area with short names reaches the clipboard with the pictures.
void tst_NotePictures::clipboardGetsDataUrls()
{
    CNotePictures pictures;
    const QString strHtml = fill(
        QStringLiteral("a <img height=\"20\" width=\"40\" src=\"data:image/png;base64,PNG\"> b"));
    const QString strShown = toHtml(pictures.shownText(strHtml), false);
    auto *pData = new QMimeData;
    pData->setHtml(strShown);
    pData->setText(QStringLiteral("a \ufffc b"));
    QClipboard *pClipboard = QGuiApplication::clipboard();
    pClipboard->setMimeData(pData);
    QTRY_VERIFY(!pClipboard->mimeData()->html().contains(QLatin1String("image://")));
    QCOMPARE(pClipboard->mimeData()->html(), toHtml(strHtml, false));
    QCOMPARE(pClipboard->mimeData()->text(), QStringLiteral("a \ufffc b"));

    // Other text is left alone.
    auto *pOther = new QMimeData;
    pOther->setHtml(QStringLiteral("<b>bold</b>"));
    pClipboard->setMimeData(pOther);
    QCoreApplication::processEvents();
    QCOMPARE(pClipboard->mimeData(), pOther);
}

QTEST_MAIN(tst_NotePictures)
#include "tst_notepictures.moc"
