#include "iconprovider.h"

#include <QGuiApplication>
#include <QtTest>

// The icons of the views, drawn from the program's resources at the size the views ask for.
class TestIconProvider : public QObject
{
    Q_OBJECT

private slots:
    void sizes_data();
    void sizes();
    void refused_data();
    void refused();
};

void TestIconProvider::sizes_data()
{
    QTest::addColumn<QString>("strId");
    QTest::addColumn<QSize>("sizeRequested");
    QTest::addColumn<QSize>("sizeExpected");

    // The drawings are square: a side asked for alone sets the other.
    QTest::newRow("svg, both sides") << "res/add.svg" << QSize(32, 32) << QSize(32, 32);
    QTest::newRow("svg, width only") << "res/add.svg" << QSize(40, 0) << QSize(40, 40);
    QTest::newRow("svg, height only") << "res/menu.svg" << QSize(0, 12) << QSize(12, 12);
    QTest::newRow("svg, narrow box") << "res/search.svg" << QSize(20, 50) << QSize(20, 20);
    QTest::newRow("svg, one pixel") << "res/prev.svg" << QSize(1, 1) << QSize(1, 1);
    QTest::newRow("png, scaled") << "res/list.png" << QSize(16, 16) << QSize(16, 16);
}

void TestIconProvider::sizes()
{
    QFETCH(QString, strId);
    QFETCH(QSize, sizeRequested);
    QFETCH(QSize, sizeExpected);

    CIconProvider provider;
    QSize sizeReported;
    const QImage image = provider.requestImage(strId, &sizeReported, sizeRequested);
    QCOMPARE(image.size(), sizeExpected);
    QCOMPARE(sizeReported, sizeExpected);
    if (sizeExpected.width() < 8)
        return;
    // Something is drawn, and the corners stay clear.
    bool bInk = false;
    for (int y = 0; y < image.height() && !bInk; ++y)
        for (int x = 0; x < image.width() && !bInk; ++x)
            bInk = qAlpha(image.pixel(x, y)) > 128;
    QVERIFY(bInk);
}

void TestIconProvider::refused_data()
{
    QTest::addColumn<QString>("strId");
    QTest::addColumn<QString>("strWarning");
    // Pictures outside the icons' folder (the window's own icon is one) are not served.
    QTest::newRow("outside the icons") << "kelpo.svg"
                                       << "No such icon";
    QTest::newRow("up and out") << "res/../kelpo.svg"
                                << "No such icon";
    QTest::newRow("absolute") << "/usr/share/pixmaps/debian-logo.png"
                              << "No such icon";
    QTest::newRow("empty") << ""
                           << "No such icon";
    QTest::newRow("missing drawing") << "res/no-such-icon.svg"
                                     << "cannot be drawn";
    QTest::newRow("missing picture") << "res/no-such-icon.png"
                                     << "cannot be read";
}

void TestIconProvider::refused()
{
    QFETCH(QString, strId);
    QFETCH(QString, strWarning);
    CIconProvider provider;
    QSize size(7, 7);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QRegularExpression::escape(strWarning)));
    const QImage image = provider.requestImage(strId, &size, QSize(24, 24));
    QVERIFY(image.isNull());
    QCOMPARE(size, QSize(0, 0));
}

QTEST_MAIN(TestIconProvider)
#include "tst_iconprovider.moc"
