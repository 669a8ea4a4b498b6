// Start-up and scrolling of the calendar beside a bare Qt Quick window with one ListView.
//
//   bench_calendar [runs] [startup] [--diary <folder>]
//                                           runs each case in fresh processes and prints a
//                                           summary; "startup" skips the scrolling;
//                                           --diary: Kelpo opens the local.db in that folder
//                                           (e.g. one that bench_store built) instead of an
//                                           empty one
//   bench_calendar --child <case> [startup] [--diary <folder>]
//                                           one measurement; <case> is "baseline" or "kelpo"
//
// A child prints "startup <ms>" (from the start of main() to the first frame on screen)
// and "frames <ms> <ms> ..." (every frame interval while the list scrolls through ten
// years of months, lunar labels on).

#include "langmgt.h"
#include "notemgt.h"
#include "settings.h"
#include "startup.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QProcess>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQmlProperty>
#include <QQuickItem>
#include <QQuickView>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>

#include <algorithm>
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
    QObject::connect(&view, &QQuickWindow::frameSwapped, &app, [&]() {
        if (bFirst) {
            bFirst = false;
            out << "startup " << clock.nsecsElapsed() / 1e6 << Qt::endl;
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

    CLangMgt langMgt;
    g_pLangMgt = &langMgt;
    Startup::registerTypes();
    CSettings settings(QStringLiteral("Greyfen Software"), QStringLiteral("kelpo-bench"));
    g_pSettings = &settings;
    settings.setInitType(0);
    settings.setShowLunar(true);
    settings.setServerUrl(QStringLiteral("http://127.0.0.1:1/mobile/"));
    CNoteMgt noteMgt(strDiary.isEmpty() ? dir.filePath(QStringLiteral("data")) : strDiary, 60000);
    std::unique_ptr<QQuickView> pView = Startup::createWindow(noteMgt, settings);
    pView->resize(1024, 768);
    pView->show();
    const int nRet = measure(app, *pView, clock, bScroll);
    pView.reset();
    return nRet;
}

QString diaryArgument(int argc, char *argv[])
{
    for (int i = 1; i + 1 < argc; ++i) {
        if (qstrcmp(argv[i], "--diary") == 0)
            return QFileInfo(QString::fromLocal8Bit(argv[i + 1])).absoluteFilePath();
    }
    return QString();
}

bool hasArgument(int argc, char *argv[], const char *pArg)
{
    for (int i = 1; i < argc; ++i) {
        if (qstrcmp(argv[i], pArg) == 0)
            return true;
    }
    return false;
}

} // namespace

int main(int argc, char *argv[])
{
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
            child.start(QCoreApplication::applicationFilePath(), lstArgs);
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
    for (const QString &strCase : lstCases) {
        mapStartup[strCase] = median(mapStartups.value(strCase));
        out << strCase << ": start-up to first frame " << mapStartup[strCase] << " ms (median)";
        if (bScroll)
            out << "; scroll frame median " << median(mapMedians.value(strCase))
                << " ms, 95th percentile " << median(mapP95.value(strCase)) << " ms, longest "
                << median(mapMax.value(strCase)) << " ms (medians of runs)";
        out << Qt::endl;
    }
    out << "start-up ratio kelpo / baseline: "
        << mapStartup.value(QStringLiteral("kelpo")) / mapStartup.value(QStringLiteral("baseline"))
        << Qt::endl;
    return 0;
}
