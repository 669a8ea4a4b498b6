// Start-up and scrolling of the calendar beside a bare Qt Quick window with one ListView.
//
//   bench_calendar [runs] [startup] [--diary <folder>] [--no-lunar]
//                                           runs each case in fresh processes and prints a
//                                           summary; "startup" skips the scrolling;
//                                           --diary: Kelpo opens the local.db in that folder
//                                           (e.g. one that bench_store built) instead of an
//                                           empty one; --no-lunar: without the lunar days
//                                           (they are on for Simplified Chinese only)
//   bench_calendar --child kelpo [startup] [--diary <folder>] [--no-lunar]
//   bench_bare_window --child baseline [startup]
//                                           one measurement
//
// The bare window is a program of its own (this file built without Kelpo), linked with
// Qt Quick only, so that its start pays for nothing of Kelpo's.
//
// A child prints "startup <ms>" (from the start of main() to the first frame on screen),
// "frame_at <ns>" (the steady clock at that frame, which the parent turns into the time
// from launching the process: loading the program and its libraries included, as the user
// waits for it) and "frames <ms> <ms> ..." (every frame interval while the list scrolls
// through ten years of months, lunar labels on).

#ifndef BENCH_BARE_WINDOW
#include "langmgt.h"
#include "notemgt.h"
#include "settings.h"
#include "startup.h"
#endif

#include <QElapsedTimer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QProcess>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQmlProperty>
#include <QQuickItem>
#include <QQuickView>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>

namespace {

const char kBaselineQml[] = "import QtQuick 2.4\n"
                            "ListView {\n"
                            "    objectName: \"monthsListView\"\n"
                            "    model: 2000\n"
                            "    delegate: Text { width: 1024; height: 80; text: index }\n"
                            "}\n";

// Ten years of months at the months page's 1024 x 768 size: about 540 px a month.
const int kScrollPixels = 120 * 540;
const int kStepPixels = 60;

qint64 steadyNow()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

#ifndef BENCH_BARE_WINDOW
double median(QVector<double> v)
{
    if (v.isEmpty())
        return 0;
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

double percentile(QVector<double> v, double p)
{
    if (v.isEmpty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min<int>(v.size() - 1, static_cast<int>(v.size() * p))];
}
#endif

QQuickItem *findList(QQuickView &view)
{
    return view.rootObject()->objectName() == QLatin1String("monthsListView")
               ? view.rootObject()
               : view.rootObject()->findChild<QQuickItem *>(QStringLiteral("monthsListView"));
}

// Measures the first frame, then scrolls the list by a fixed step per frame.
int measure(QGuiApplication &app, QQuickView &view, const QElapsedTimer &clock, bool bScroll)
{
    QTextStream out(stdout);
    bool bFirst = true;
    QQuickItem *pList = nullptr;
    double dStart = 0;
    QElapsedTimer frameClock;
    QVector<double> lstFrames;
    // The first frame's time is taken where the frame is swapped (the render thread, or the
    // main thread where it renders itself), not when the main thread next gets to the signal:
    // what the window does once its frame is out (its icon) is not start-up.
    std::atomic<qint64> nFirstSwapNs{0};
    std::atomic<qint64> nFirstSwapAt{0};
    QObject::connect(
        &view,
        &QQuickWindow::frameSwapped,
        &view,
        [&]() {
            qint64 nZero = 0;
            const qint64 nAt = steadyNow();
            if (nFirstSwapAt.compare_exchange_strong(nZero, nAt))
                nFirstSwapNs = clock.nsecsElapsed();
        },
        Qt::DirectConnection);
    QObject::connect(&view, &QQuickWindow::frameSwapped, &app, [&]() {
        if (bFirst) {
            bFirst = false;
            out << "startup " << nFirstSwapNs / 1e6 << Qt::endl;
            out << "frame_at " << nFirstSwapAt << Qt::endl;
            if (!bScroll) {
                app.exit(0);
                return;
            }
            // Let the calendar position itself at the current month first.
            QTimer::singleShot(500, &app, [&]() {
                pList = findList(view);
                if (!pList) {
                    out << "error no list" << Qt::endl;
                    app.exit(1);
                    return;
                }
                dStart = QQmlProperty::read(pList, QStringLiteral("contentY")).toDouble();
                frameClock.start();
                view.update();
            });
            return;
        }
        if (!pList)
            return;
        if (frameClock.isValid())
            lstFrames.append(frameClock.nsecsElapsed() / 1e6);
        frameClock.restart();
        const double dY = QQmlProperty::read(pList, QStringLiteral("contentY")).toDouble();
        if (dY - dStart >= kScrollPixels) {
            out << "frames";
            for (double d : lstFrames)
                out << ' ' << d;
            out << Qt::endl;
            app.exit(0);
            return;
        }
        QQmlProperty::write(pList, QStringLiteral("contentY"), dY + kStepPixels);
    });
    return app.exec();
}

bool hasArgument(int argc, char *argv[], const char *pArg)
{
    for (int i = 1; i < argc; ++i) {
        if (qstrcmp(argv[i], pArg) == 0)
            return true;
    }
    return false;
}

int runChild(int argc, char *argv[], const QString &strCase, bool bScroll, const QString &strDiary)
{
    QElapsedTimer clock;
    clock.start();
    QGuiApplication app(argc, argv);
    QGuiApplication::setOrganizationName(QStringLiteral("Greyfen Software"));
    QGuiApplication::setApplicationName(QStringLiteral("kelpo-bench"));
    QStandardPaths::setTestModeEnabled(true);
    QTemporaryDir dir;
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir.path());

    if (strCase == QLatin1String("baseline")) {
        QQuickView view;
        view.setResizeMode(QQuickView::SizeRootObjectToView);
        view.resize(1024, 768);
        QQmlComponent component(view.engine());
        component.setData(kBaselineQml, QUrl());
        view.setContent(QUrl(), &component, component.create());
        view.show();
        return measure(app, view, clock, bScroll);
    }

#ifdef BENCH_BARE_WINDOW
    Q_UNUSED(strDiary)
    return 1;
#else
    CLangMgt langMgt;
    g_pLangMgt = &langMgt;
    Startup::registerTypes();
    CSettings settings(QStringLiteral("Greyfen Software"), QStringLiteral("kelpo-bench"));
    g_pSettings = &settings;
    settings.setInitType(0);
    settings.setShowLunar(!hasArgument(argc, argv, "--no-lunar"));
    settings.setServerUrl(QStringLiteral("http://127.0.0.1:1/mobile/"));
    CNoteMgt noteMgt(strDiary.isEmpty() ? dir.filePath(QStringLiteral("data")) : strDiary, 60000);
    std::unique_ptr<QQuickView> pView = Startup::createWindow(noteMgt, settings);
    pView->resize(1024, 768);
    pView->show();
    const int nRet = measure(app, *pView, clock, bScroll);
    pView.reset();
    return nRet;
#endif
}

#ifndef BENCH_BARE_WINDOW
QString diaryArgument(int argc, char *argv[])
{
    for (int i = 1; i + 1 < argc; ++i) {
        if (qstrcmp(argv[i], "--diary") == 0)
            return QFileInfo(QString::fromLocal8Bit(argv[i + 1])).absoluteFilePath();
    }
    return QString();
}
#endif

} // namespace

int main(int argc, char *argv[])
{
#ifdef BENCH_BARE_WINDOW
    return runChild(argc,
                    argv,
                    QStringLiteral("baseline"),
                    !hasArgument(argc, argv, "startup"),
                    QString());
#else
    const QString strDiary = diaryArgument(argc, argv);
    if (argc >= 3 && qstrcmp(argv[1], "--child") == 0)
        return runChild(argc,
                        argv,
                        QString::fromUtf8(argv[2]),
                        !hasArgument(argc, argv, "startup"),
                        strDiary);

    QCoreApplication app(argc, argv);
    const int nRuns = argc >= 2 ? std::max(1, atoi(argv[1])) : 5;
    const bool bScroll = !hasArgument(argc, argv, "startup");
    QTextStream out(stdout);
    out << "runs per case: " << nRuns << Qt::endl;
    // The cases take turns, so that a change in the machine's load touches both alike.
    const QStringList lstCases{QStringLiteral("baseline"), QStringLiteral("kelpo")};
    QMap<QString, QVector<double>> mapStartups;
    QMap<QString, QVector<double>> mapLaunches;
    QMap<QString, QVector<double>> mapMedians;
    QMap<QString, QVector<double>> mapP95;
    QMap<QString, QVector<double>> mapMax;
    for (int i = 0; i < nRuns; ++i) {
        for (const QString &strCase : lstCases) {
            QProcess child;
            QStringList lstArgs{QStringLiteral("--child"), strCase};
            if (!bScroll)
                lstArgs << QStringLiteral("startup");
            if (!strDiary.isEmpty())
                lstArgs << QStringLiteral("--diary") << strDiary;
            if (hasArgument(argc, argv, "--no-lunar"))
                lstArgs << QStringLiteral("--no-lunar");
            const QString strProgram = strCase == QLatin1String("baseline")
                                           ? QCoreApplication::applicationDirPath()
                                                 + QStringLiteral("/bench_bare_window")
                                           : QCoreApplication::applicationFilePath();
            const qint64 nLaunchedAt = steadyNow();
            child.start(strProgram, lstArgs);
            if (!child.waitForFinished(600000) || child.exitCode() != 0) {
                out << strCase << ": child failed: " << child.readAllStandardError() << Qt::endl;
                return 1;
            }
            const QStringList lstLines = QString::fromUtf8(child.readAllStandardOutput())
                                             .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
            QVector<double> lstFrames;
            for (const QString &strLine : lstLines) {
                QStringList lstParts = strLine.split(QLatin1Char(' '), Qt::SkipEmptyParts);
                if (lstParts.isEmpty())
                    continue;
                const QString strKey = lstParts.takeFirst();
                if (strKey == QLatin1String("startup") && !lstParts.isEmpty())
                    mapStartups[strCase].append(lstParts.first().toDouble());
                else if (strKey == QLatin1String("frame_at") && !lstParts.isEmpty())
                    mapLaunches[strCase].append((lstParts.first().toLongLong() - nLaunchedAt) / 1e6);
                else if (strKey == QLatin1String("frames"))
                    for (const QString &str : lstParts)
                        lstFrames.append(str.toDouble());
            }
            if (lstFrames.isEmpty())
                continue;
            mapMedians[strCase].append(median(lstFrames));
            mapP95[strCase].append(percentile(lstFrames, 0.95));
            mapMax[strCase].append(*std::max_element(lstFrames.begin(), lstFrames.end()));
        }
    }
    QMap<QString, double> mapStartup;
    QMap<QString, double> mapLaunch;
    for (const QString &strCase : lstCases) {
        mapStartup[strCase] = median(mapStartups.value(strCase));
        mapLaunch[strCase] = median(mapLaunches.value(strCase));
        out << strCase << ": launch to first frame " << mapLaunch[strCase]
            << " ms, main() to first frame " << mapStartup[strCase] << " ms (medians)";
        if (bScroll)
            out << "; scroll frame median " << median(mapMedians.value(strCase))
                << " ms, 95th percentile " << median(mapP95.value(strCase)) << " ms, longest "
                << median(mapMax.value(strCase)) << " ms (medians of runs)";
        out << Qt::endl;
    }
    out << "start-up ratio kelpo / baseline: from launch "
        << mapLaunch.value(QStringLiteral("kelpo")) / mapLaunch.value(QStringLiteral("baseline"))
        << ", from main() "
        << mapStartup.value(QStringLiteral("kelpo")) / mapStartup.value(QStringLiteral("baseline"))
        << Qt::endl;
    return 0;
#endif
}
