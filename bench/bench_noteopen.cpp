// Opening a note with a large picture: Kelpo's window (real note manager on an empty data
// folder, 1024 x 768) opens the editor on a note that holds one picture of about 5 MB
// (a JPEG photo-like noise picture, or a PNG), as a note from the list or the calendar
// is opened, after a first note without pictures (so that the editor is made); the same
// note without its picture is the floor. Each run is a fresh process. Per run it reports:
//
// - text: from the call that opens the editor to the first frame on screen with it;
// - picture: from the same call to the first frame that shows the picture;
// - stall: the longest time the window's thread did not come back to its event loop
//   in between (the window is frozen for that long).
//
//   xvfb-run -a -s "-screen 0 1280x1024x24" build/bench_noteopen [runs] [none|jpeg|png]

#include "notemgt.h"
#include "settings.h"
#include "startup.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QQmlProperty>
#include <QQuickItem>
#include <QQuickView>
#include <QRandomGenerator>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr qint64 kPictureBytes = 5 * 1024 * 1024;

// A picture of colour noise over soft bands: it compresses as poorly as a photograph with
// fine detail, so that about 5 MB of file means many pixels to decode.
QImage noisePicture(int nWidth, int nHeight)
{
    QImage image(nWidth, nHeight, QImage::Format_RGB32);
    QRandomGenerator rng(20261211);
    for (int y = 0; y < nHeight; ++y) {
        auto *pLine = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < nWidth; ++x) {
            const quint32 n = rng.generate();
            pLine[x] = qRgb(int((x * 255 / nWidth + (n & 0x3f)) & 0xff),
                            int((y * 255 / nHeight + ((n >> 8) & 0x3f)) & 0xff),
                            int(((n >> 16) & 0x7f) + 64));
        }
    }
    return image;
}

QByteArray encode(const QImage &image, const char *pFormat)
{
    QByteArray ba;
    QBuffer buffer(&ba);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, pFormat, qstrcmp(pFormat, "jpeg") == 0 ? 92 : -1);
    return ba;
}

// A picture of the format whose file is about 5 MB (within 10 %).
QByteArray makePicture(const char *pFormat, QSize *pSize)
{
    int nWidth = qstrcmp(pFormat, "jpeg") == 0 ? 3200 : 1600;
    for (int i = 0; i < 8; ++i) {
        const int nHeight = nWidth * 3 / 4;
        const QByteArray ba = encode(noisePicture(nWidth, nHeight), pFormat);
        const double dRatio = double(ba.size()) / kPictureBytes;
        if (dRatio > 0.9 && dRatio < 1.1) {
            *pSize = QSize(nWidth, nHeight);
            return ba;
        }
        nWidth = int(nWidth / std::sqrt(dRatio));
    }
    return QByteArray();
}

// Any pixel with colour in the rectangle: the picture is noise in colour, the text and
// the editor's frame are grey or one colour at most along a line.
bool showsPicture(const QImage &shot, const QRect &rect)
{
    int nColoured = 0;
    const QRect r = rect.adjusted(8, 8, -8, -8).intersected(shot.rect());
    for (int y = r.top(); y <= r.bottom(); y += 2) {
        for (int x = r.left(); x <= r.right(); x += 2) {
            const QColor c = shot.pixelColor(x, y);
            if (c.hsvSaturation() > 60 && c.value() > 40)
                ++nColoured;
        }
    }
    return nColoured > 500;
}

int runChild(int argc, char *argv[], const QString &strPicture)
{
    QGuiApplication app(argc, argv);
    QGuiApplication::setOrganizationName(QStringLiteral("Greyfen Software"));
    QGuiApplication::setApplicationName(QStringLiteral("kelpo-bench"));
    QStandardPaths::setTestModeEnabled(true);
    QTemporaryDir dir;
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir.path());

    // Without a picture file: the same note without its picture.
    QString strContent = QStringLiteral("Morning at the harbour.<br>Evening.");
    if (!strPicture.isEmpty()) {
        QFile file(strPicture);
        if (!file.open(QIODevice::ReadOnly))
            return 2;
        strContent = QStringLiteral("Morning at the harbour.<br>"
                                    "<img height=\"375\" width=\"500\" "
                                    "src=\"data:image/png;base64,%1\"><br>Evening.")
                         .arg(QString::fromLatin1(file.readAll().toBase64()));
    }

    Startup::registerTypes();
    CSettings settings(QStringLiteral("Greyfen Software"), QStringLiteral("kelpo-bench"));
    g_pSettings = &settings;
    settings.setInitType(0);
    settings.setServerUrl(QStringLiteral("http://127.0.0.1:1/mobile/"));
    CNoteMgt noteMgt(dir.filePath(QStringLiteral("data")), 60000);
    std::unique_ptr<QQuickView> pView = Startup::createWindow(noteMgt, settings);
    QQuickView &view = *pView;
    view.resize(1024, 768);
    view.show();

    QTextStream out(stdout);
    QElapsedTimer clock;
    QElapsedTimer beat;
    double dStall = 0;
    double dText = -1;
    int nFrames = 0;
    // 0 calendar settling, 1 warm-up note open, 2 back on the calendar, 3 measured note open
    int nStage = 0;
    bool bDone = false;
    const bool bPicture = !strPicture.isEmpty();

    // The window's thread comes back to its event loop at every beat: the longest gap
    // between two beats is the longest freeze.
    QTimer heartbeat;
    heartbeat.setTimerType(Qt::PreciseTimer);
    heartbeat.setInterval(2);
    QObject::connect(&heartbeat, &QTimer::timeout, &app, [&]() {
        if (beat.isValid())
            dStall = std::max(dStall, beat.nsecsElapsed() / 1e6);
        beat.restart();
    });

    auto openNote = [&](const QString &strText, const QString &strUuid) {
        QMetaObject::invokeMethod(view.rootObject(),
                                  "editNote",
                                  Q_ARG(QVariant, QStringLiteral("2026-12-10")),
                                  Q_ARG(QVariant, strText),
                                  Q_ARG(QVariant, strUuid),
                                  Q_ARG(QVariant, QString()));
        view.update();
    };

    QObject::connect(&view, &QQuickWindow::frameSwapped, &app, [&]() {
        ++nFrames;
        if (nStage < 3) {
            // The calendar settles, then a note without pictures is opened and closed, so
            // that the editor is made (as after the first note of a session); then the
            // measured note is opened.
            if (nFrames == 5 && nStage == 0) {
                QTimer::singleShot(300, &app, [&]() {
                    nStage = 1;
                    openNote(QStringLiteral("<p>A note before</p>"), QStringLiteral("{warm-up}"));
                    QTimer::singleShot(1000, &app, [&]() {
                        nStage = 2;
                        QMetaObject::invokeMethod(view.rootObject(), "popView");
                        QTimer::singleShot(1000, &app, [&]() {
                            nStage = 3;
                            heartbeat.start();
                            clock.start();
                            beat.restart();
                            openNote(strContent, QStringLiteral("{bench-note}"));
                        });
                    });
                });
            }
            view.update();
            return;
        }
        if (bDone)
            return;
        const double dNow = clock.nsecsElapsed() / 1e6;
        if (dText < 0)
            dText = dNow;
        if (!bPicture) {
            bDone = true;
            out << "open " << dText << ' ' << dText << ' ' << dStall << Qt::endl;
            app.exit(0);
            return;
        }
        // The frame is read back after it is shown, on the next turn of the event loop;
        // the time that takes is not the window's own and is not counted as a freeze.
        QTimer::singleShot(0, &app, [&, dNow]() {
            if (bDone)
                return;
            auto *pArea = view.rootObject()->findChild<QQuickItem *>(QStringLiteral("textContent"));
            if (!pArea || !pArea->isVisible())
                return;
            const QRectF rect = pArea->mapRectToScene(QRectF(0, 0, pArea->width(), pArea->height()));
            const QImage shot = view.grabWindow();
            beat.restart();
            // KELPO_BENCH_SHOTS=<folder>: the first frame and the frame with the picture.
            const QString strShots = qEnvironmentVariable("KELPO_BENCH_SHOTS");
            if (!strShots.isEmpty() && dNow == dText)
                shot.save(strShots + QStringLiteral("/noteopen-first-frame.png"));
            if (showsPicture(shot, rect.toRect())) {
                bDone = true;
                if (!strShots.isEmpty())
                    shot.save(strShots + QStringLiteral("/noteopen-picture-frame.png"));
                out << "open " << dText << ' ' << dNow << ' ' << dStall << Qt::endl;
                app.exit(0);
            } else if (dNow > 30000) {
                out << "no picture after 30 s" << Qt::endl;
                app.exit(1);
            } else {
                view.update();
            }
        });
    });
    const int nRet = app.exec();
    pView.reset();
    return nRet;
}

double median(QVector<double> vec)
{
    std::sort(vec.begin(), vec.end());
    return vec.isEmpty() ? 0 : vec.at(vec.size() / 2);
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc >= 3 && qstrcmp(argv[1], "--child") == 0)
        return runChild(argc,
                        argv,
                        qstrcmp(argv[2], "none") == 0 ? QString() : QString::fromLocal8Bit(argv[2]));
    // The picture alone, into a file: bench_noteopen --picture jpeg|png <file>
    if (argc >= 4 && qstrcmp(argv[1], "--picture") == 0) {
        QGuiApplication app(argc, argv);
        QSize size;
        QFile file(QString::fromLocal8Bit(argv[3]));
        const QByteArray ba = makePicture(argv[2], &size);
        return !ba.isEmpty() && file.open(QIODevice::WriteOnly) && file.write(ba) == ba.size() ? 0
                                                                                               : 1;
    }

    QGuiApplication app(argc, argv);
    const int nRuns = argc >= 2 ? std::max(1, atoi(argv[1])) : 7;
    QStringList lstFormats{QStringLiteral("none"), QStringLiteral("jpeg"), QStringLiteral("png")};
    if (argc >= 3)
        lstFormats = QStringList{QString::fromLocal8Bit(argv[2])};
    QTextStream out(stdout);
    QTemporaryDir dir;
    out << "runs per picture: " << nRuns << Qt::endl << Qt::endl;
    out << "| Picture | File | Pixels | Text shown | Picture shown | Longest freeze |" << Qt::endl
        << "|---|---:|---:|---:|---:|---:|" << Qt::endl;
    for (const QString &strFormat : qAsConst(lstFormats)) {
        QSize size;
        QByteArray ba;
        QString strFile = QStringLiteral("none");
        if (strFormat != QLatin1String("none")) {
            ba = makePicture(strFormat.toLatin1().constData(), &size);
            if (ba.isEmpty()) {
                out << strFormat << ": no picture of about 5 MB could be made" << Qt::endl;
                return 1;
            }
            strFile = dir.filePath(QStringLiteral("picture.") + strFormat);
            QFile file(strFile);
            if (!file.open(QIODevice::WriteOnly) || file.write(ba) != ba.size())
                return 1;
        }
        QVector<double> vecText, vecPicture, vecStall;
        for (int i = 0; i < nRuns; ++i) {
            QProcess child;
            child.start(QCoreApplication::applicationFilePath(),
                        {QStringLiteral("--child"), strFile});
            if (!child.waitForFinished(120000) || child.exitCode() != 0) {
                out << strFormat << ": run failed: " << child.readAllStandardOutput()
                    << child.readAllStandardError() << Qt::endl;
                return 1;
            }
            const QStringList lstLines = QString::fromUtf8(child.readAllStandardOutput())
                                             .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
            for (const QString &strLine : lstLines) {
                const QStringList lst = strLine.split(QLatin1Char(' '));
                if (lst.size() == 4 && lst.at(0) == QLatin1String("open")) {
                    vecText << lst.at(1).toDouble();
                    vecPicture << lst.at(2).toDouble();
                    vecStall << lst.at(3).toDouble();
                }
            }
        }
        out << "| " << (ba.isEmpty() ? QStringLiteral("no picture") : strFormat) << " | "
            << QString::number(ba.size() / 1048576.0, 'f', 1) << " MB | " << size.width() << " x "
            << size.height() << " | " << QString::number(median(vecText), 'f', 0) << " ms | "
            << QString::number(median(vecPicture), 'f', 0) << " ms | "
            << QString::number(median(vecStall), 'f', 0) << " ms |" << Qt::endl;
    }
    out << Qt::endl << "(medians of " << nRuns << " runs, each a fresh process)" << Qt::endl;
    return 0;
}
