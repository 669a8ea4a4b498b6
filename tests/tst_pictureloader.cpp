#include "pictureloader.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QImage>
#include <QImageReader>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

namespace {

QString str(const char *p)
{
    return QString::fromUtf8(p);
}

// A PNG file that announces 30000 × 30000 pixels and holds almost no picture data.
const QByteArray kHugePngHeader = QByteArray::fromHex(
    "89504e470d0a1a0a0000000d4948445200007530000075300802000000e9456fed00000008494441"
    "54789c030000000001480689d20000000049454e44ae426082");

// The picture inside a tag: its shown size and its stored bytes.
struct Tag
{
    int nHeight = -1;
    int nWidth = -1;
    QByteArray bytes;
};

Tag parse(const QString &strTag)
{
    static const QRegularExpression re(str("^<img height=\"(\\d+)\" width=\"(\\d+)\" "
                                           "src=\"data:image/png;base64,([A-Za-z0-9+/=]*)\"$"));
    const QRegularExpressionMatch m = re.match(strTag);
    Tag tag;
    if (m.hasMatch()) {
        tag.nHeight = m.captured(1).toInt();
        tag.nWidth = m.captured(2).toInt();
        tag.bytes = QByteArray::fromBase64(m.captured(3).toLatin1());
    }
    return tag;
}

} // namespace

class TestPictureLoader : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    QString file(const char *pName) const { return m_dir.filePath(QLatin1String(pName)); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QImage opaque(3000, 1000, QImage::Format_RGB32);
        opaque.fill(QColor(30, 120, 200));
        QVERIFY(opaque.save(file("landscape.png"), "PNG"));
        QImage clear(1000, 3000, QImage::Format_ARGB32);
        clear.fill(QColor(200, 30, 30, 100));
        QVERIFY(clear.save(file("portrait.png"), "PNG"));
        QVERIFY(opaque.scaled(400, 300).save(file("small.jpg"), "JPEG"));
        QFile huge(file("huge.png"));
        QVERIFY(huge.open(QIODevice::WriteOnly));
        huge.write(kHugePngHeader);
        huge.close();
        QFile random(file("random.jpg"));
        QVERIFY(random.open(QIODevice::WriteOnly));
        QByteArray baNoise(512 * 1024, '\0');
        for (int i = 0; i < baNoise.size(); ++i)
            baNoise[i] = char((quint32(i) * 7919u + (quint32(i) >> 7) * 31u) & 0xffu);
        random.write(baNoise);
        random.close();
        QCOMPARE(::mkfifo(QFile::encodeName(file("pipe.png")).constData(), 0600), 0);
    }

    void load_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<qint64>("noteBytes");
        QTest::addColumn<QSize>("stored"); // invalid: refused
        QTest::addColumn<QSize>("shown");
        QTest::addColumn<QByteArray>("format");
        QTest::addColumn<QString>("error");

        QTest::newRow("small JPEG: its own bytes")
            << str("small.jpg") << qint64(0) << QSize(400, 300) << QSize(400, 300)
            << QByteArray("jpeg") << QString();
        QTest::newRow("large opaque: scaled, as JPEG")
            << str("landscape.png") << qint64(0) << QSize(2560, 853) << QSize(500, 167)
            << QByteArray("jpeg") << QString();
        QTest::newRow("large with transparency: scaled, as PNG")
            << str("portrait.png") << qint64(0) << QSize(853, 2560) << QSize(167, 500)
            << QByteArray("png") << QString();
        QTest::newRow("too many pixels to decode")
            << str("huge.png") << qint64(0) << QSize() << QSize() << QByteArray()
            << str("huge.png is too large (30000 × 30000 pixels): make it smaller first.");
        QTest::newRow("random bytes named .jpg")
            << str("random.jpg") << qint64(0) << QSize() << QSize() << QByteArray()
            << str("random.jpg is not a picture that Kelpo can show.");
        QTest::newRow("missing") << str("missing.png") << qint64(0) << QSize() << QSize()
                                 << QByteArray() << str("The picture missing.png cannot be read.");
        // A pipe would be waited on for ever (and the editor waits for its picture).
        QTest::newRow("a pipe named .png")
            << str("pipe.png") << qint64(0) << QSize() << QSize() << QByteArray()
            << str("The picture pipe.png cannot be read.");
        QTest::newRow("note would pass the service's limit")
            << str("small.jpg") << CPictureLoader::kMaxNoteBytes - 1000 << QSize() << QSize()
            << QByteArray()
            << str("With this picture the note would be larger than the note service takes "
                   "(30 MB): put the picture into another note.");
    }

    void load()
    {
        QFETCH(QString, name);
        QFETCH(qint64, noteBytes);
        QFETCH(QSize, stored);
        QFETCH(QSize, shown);
        QFETCH(QByteArray, format);
        QFETCH(QString, error);

        const QString strUrl = QUrl::fromLocalFile(m_dir.filePath(name)).toString();
        QElapsedTimer timer;
        timer.start();
        const CPictureLoader::Result result = CPictureLoader::load(strUrl, noteBytes);
        QCOMPARE(result.strError, error);
        if (!stored.isValid()) {
            QCOMPARE(result.strTag, QString());
            return;
        }
        const Tag tag = parse(result.strTag);
        QCOMPARE(QSize(tag.nWidth, tag.nHeight), shown);
        QBuffer buffer;
        buffer.setData(tag.bytes);
        QImageReader reader(&buffer);
        QCOMPARE(reader.format(), format);
        QCOMPARE(reader.size(), stored);
        if (name == str("small.jpg")) {
            QFile f(m_dir.filePath(name));
            QVERIFY(f.open(QIODevice::ReadOnly));
            QCOMPARE(tag.bytes, f.readAll());
        }
    }

    // The picture dialog starts in the Pictures folder, and at home where there is none
    // (it used to open a folder that does not exist, showing the working folder).
    void startFolder_data()
    {
        QTest::addColumn<bool>("pictures");
        QTest::newRow("with a Pictures folder") << true;
        QTest::newRow("without one") << false;
    }

    void startFolder()
    {
        QFETCH(bool, pictures);
        QTemporaryDir home;
        QVERIFY(home.isValid());
        const QByteArray baHome = qgetenv("HOME");
        const QByteArray baConfig = qgetenv("XDG_CONFIG_HOME");
        qputenv("HOME", QFile::encodeName(home.path()));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.filePath(QStringLiteral("config"))));
        if (pictures)
            QVERIFY(QDir(home.path()).mkdir(QStringLiteral("Pictures")));
        const QString strFolder = CPictureLoader::startFolder();
        qputenv("HOME", baHome);
        qputenv("XDG_CONFIG_HOME", baConfig);
        QCOMPARE(strFolder,
                 QUrl::fromLocalFile(pictures ? home.filePath(QStringLiteral("Pictures"))
                                              : home.path())
                     .toString());
    }

    // The same answer, off the caller's thread, under the id it was given.
    void loadLater()
    {
        CPictureLoader loader;
        QSignalSpy spy(&loader, &CPictureLoader::finished);
        const QString strFirst = loader.loadLater(file("landscape.png"));
        const QString strSecond = loader.loadLater(file("random.jpg"));
        QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 2, 60000);
        QCOMPARE(spy.at(0).value(0).toString(), strFirst);
        QCOMPARE(parse(spy.at(0).value(1).toString()).nWidth, 500);
        QCOMPARE(spy.at(0).value(2).toString(), QString());
        QCOMPARE(spy.at(1).value(0).toString(), strSecond);
        QCOMPARE(spy.at(1).value(1).toString(), QString());
        QVERIFY(!spy.at(1).value(2).toString().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestPictureLoader)
#include "tst_pictureloader.moc"
