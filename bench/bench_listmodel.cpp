// Note list benchmark: 10 000 notes arrive one by one, as a synchronisation delivers them
// (days all over ten years, some notes twice), in the note list of the window
// (ViewNoteList.qml with its model and delegates, shown). Prints the time of each
// thousand; the goal is that the last thousand costs at most 1.2 times the first.
//
//   xvfb-run -a -s "-screen 0 1280x1024x24" build/bench_listmodel [notes]

#include "startup.h"

#include <QDate>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QQmlComponent>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickView>
#include <QRandomGenerator>

#include <algorithm>
#include <cstdio>

namespace {

QString s(const char *p)
{
    return QString::fromUtf8(p);
}

} // namespace

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    const int nNotes = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 10000;
    Startup::registerTypes();

    QQuickView view;
    view.resize(800, 600);
    // A day list asks nothing of the note manager; it merges notes like the main list.
    view.setInitialProperties({{s("bIsDayList"), true}});
    view.setResizeMode(QQuickView::SizeRootObjectToView);
    view.setSource(QUrl(s("qrc:/qml/ViewNoteList.qml")));
    if (view.status() != QQuickView::Ready) {
        std::fprintf(stderr, "cannot load the list\n");
        return 1;
    }
    view.show();
    QQuickItem *pList = view.rootObject();

    // A warm-up round, then three rounds on an emptied list; per thousand, the median.
    constexpr int kRounds = 3;
    QVector<QVector<double>> vecThousands(nNotes / 1000);
    for (int nRound = 0; nRound <= kRounds; ++nRound) {
        QMetaObject::invokeMethod(pList, "clearData");
        QRandomGenerator rng(20261210);
        const QDate dtFirst(2015, 1, 1);
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < nNotes; ++i) {
            // One note in ten arrives again (a newer copy of a note already listed).
            const int nId = (i % 10 == 9) ? int(rng.bounded(i)) : i;
            const QVariantMap mapNote{{s("uuid"), QStringLiteral("{bench-%1}").arg(nId)},
                                      {s("set_at"),
                                       dtFirst.addDays(QRandomGenerator(uint(nId)).bounded(3650))
                                           .toString(Qt::ISODate)},
                                      {s("title"),
                                       QStringLiteral("Note %1 of the synchronisation").arg(nId)},
                                      {s("content"), QStringLiteral("<p>Note %1</p>").arg(nId)},
                                      {s("deleted"), QString()}};
            QMetaObject::invokeMethod(pList, "appendMapData", Q_ARG(QVariant, mapNote));
            // Each note arrives as its own event: the view catches up in between.
            QCoreApplication::processEvents();
            if ((i + 1) % 1000 == 0) {
                if (nRound > 0)
                    vecThousands[i / 1000] << double(timer.nsecsElapsed()) / 1e6;
                timer.restart();
            }
        }
        if (nRound == 0)
            std::printf("warm-up round done\n");
    }
    QVector<double> vecMedians;
    for (QVector<double> vec : qAsConst(vecThousands)) {
        std::sort(vec.begin(), vec.end());
        vecMedians << vec.at(vec.size() / 2);
    }
    const int nRows = pList->property("model").value<QObject *>()->property("count").toInt();
    std::printf(
        "%d notes arrived, %d rows listed\n\n| Thousand | ms (median of 3 rounds) |\n|---:|---:|\n",
        nNotes,
        nRows);
    for (int i = 0; i < vecMedians.size(); ++i)
        std::printf("| %d | %.1f |\n", i + 1, vecMedians.at(i));
    const double dRatio = vecMedians.isEmpty() ? 0 : vecMedians.last() / vecMedians.first();
    std::printf("\nLast thousand / first thousand: %.2f (goal at most 1.2): %s\n",
                dRatio,
                dRatio <= 1.2 ? "met" : "NOT met");
    return dRatio <= 1.2 ? 0 : 1;
}
