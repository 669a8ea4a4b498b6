#include "notelistmodel.h"

#include <QAbstractItemModelTester>
#include <QRandomGenerator>
#include <QtTest>

// The note list's model: order and uniqueness whatever the order of arrival, checked
// against a plain recomputation, with Qt's model tester watching every signal.
namespace {

QString str(const char *p)
{
    return QString::fromUtf8(p);
}

QVariantMap note(const QString &strUuid, const QString &strDay, const QString &strTitle = QString())
{
    return {{str("uuid"), strUuid},
            {str("set_at"), strDay},
            {str("title"), strTitle},
            {str("content"), QString()}};
}

} // namespace

class TestNoteListModel : public QObject
{
    Q_OBJECT

private slots:
    void arrivalsInAnyOrder_data();
    void arrivalsInAnyOrder();
    void searchMarksAndFilters();
};

void TestNoteListModel::arrivalsInAnyOrder_data()
{
    QTest::addColumn<int>("notes");
    QTest::addColumn<int>("days");
    QTest::newRow("few notes, many days") << 50 << 400;
    QTest::newRow("many notes on few days") << 250 << 7;
    QTest::newRow("one day") << 40 << 1;
}

void TestNoteListModel::arrivalsInAnyOrder()
{
    QFETCH(int, notes);
    QFETCH(int, days);

    CNoteListModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QRandomGenerator random(20261210);

    // Every note arrives two or three times, with its day changed on some later arrivals,
    // in a shuffled order; pages and single notes alike.
    QHash<QString, QString> hashLastDay;
    QVector<QVariantMap> vecArrivals;
    for (int i = 0; i < notes; ++i) {
        const QString strUuid = QStringLiteral("{note-%1}").arg(i);
        const int nCopies = 2 + int(random.bounded(2));
        for (int c = 0; c < nCopies; ++c) {
            const QString strDay = QDate(2016, 1, 1)
                                       .addDays(random.bounded(days))
                                       .toString(str("yyyy-MM-dd 00:00:00"));
            vecArrivals.append(note(strUuid, strDay, QString::number(c)));
        }
    }
    std::shuffle(vecArrivals.begin(), vecArrivals.end(), random);
    for (int i = 0; i < vecArrivals.size(); ++i) {
        const QVariantMap &mapNote = vecArrivals.at(i);
        hashLastDay.insert(mapNote.value(str("uuid")).toString(),
                           mapNote.value(str("set_at")).toString().left(10));
        if (i % 3 == 0)
            model.appendList({mapNote});
        else
            model.appendMapData(mapNote);
    }

    QCOMPARE(model.count(), notes);
    QSet<QString> setSeen;
    for (int i = 0; i < model.count(); ++i) {
        const QVariantMap mapRow = model.get(i);
        const QString strUuid = mapRow.value(str("_uuid")).toString();
        QVERIFY2(!setSeen.contains(strUuid), qPrintable(strUuid));
        setSeen.insert(strUuid);
        QCOMPARE(mapRow.value(str("_set_at")).toString(), hashLastDay.value(strUuid));
        if (i > 0)
            QVERIFY(model.get(i - 1).value(str("_set_at")).toString()
                    >= mapRow.value(str("_set_at")).toString());
        QCOMPARE(model.indexOf(strUuid), i);
    }

    // Removal by uuid leaves the rest in order and findable.
    const QString strGone = model.get(model.count() / 2).value(str("_uuid")).toString();
    model.removeUuid(strGone);
    QCOMPARE(model.indexOf(strGone), -1);
    QCOMPARE(model.count(), notes - 1);
    for (int i = 0; i < model.count(); ++i)
        QCOMPARE(model.indexOf(model.get(i).value(str("_uuid")).toString()), i);
}

void TestNoteListModel::searchMarksAndFilters()
{
    CNoteListModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    model.setSearchText(str("équipe"));

    // A page comes filtered by the store, with its snippets.
    QVariantMap mapPaged = note(str("a"), str("2016-01-02"), str("Notre Équipe <1>"));
    mapPaged.insert(str("snippet"), str("…avec l'ÉQUIPE & co"));
    model.appendList({mapPaged});
    QCOMPARE(model.get(0).value(str("_title_marked")).toString(),
             str("Notre <b>Équipe</b> &lt;1&gt;"));
    QCOMPARE(model.get(0).value(str("_snippet_marked")).toString(),
             str("…avec l'<b>ÉQUIPE</b> &amp; co"));

    // Single notes are kept only when what they show holds the text.
    QVariantMap mapMarkup = note(str("b"), str("2016-01-03"));
    mapMarkup.insert(str("content"), str("<p class=\"équipe\">rien</p>"));
    model.appendMapData(mapMarkup);
    QVariantMap mapShown = note(str("c"), str("2016-01-04"));
    mapShown.insert(str("content"), str("<p>une <i>équipe</i></p>"));
    model.appendMapData(mapShown);
    QCOMPARE(model.count(), 2);
    QCOMPARE(model.get(0).value(str("_uuid")).toString(), str("c"));

    model.setSearchText(QString());
    QCOMPARE(model.get(1).value(str("_title_marked")).toString(), str("Notre Équipe &lt;1&gt;"));
}

QTEST_MAIN(TestNoteListModel)
#include "tst_notelistmodel.moc"
