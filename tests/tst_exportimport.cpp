#include "dbmgt.h"
#include "exporter.h"
#include "importer.h"
#include "notefile.h"
#include "notetext.h"

#include <QBuffer>
#include <QDirIterator>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextDocument>
#include <QtTest>

#include <memory>

#include <sys/stat.h>

namespace {

QString str(const char *p)
{
    return QString::fromUtf8(p);
}

QByteArray picture(int nWidth, int nHeight, const char *pFormat, Qt::GlobalColor color)
{
    QImage image(nWidth, nHeight, QImage::Format_RGB32);
    image.fill(color);
    QByteArray baData;
    QBuffer buffer(&baData);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, pFormat);
    return baData;
}

QString imgTag(const QByteArray &baData, int nWidth, int nHeight)
{
    return str("<img height=\"%1\" width=\"%2\" src=\"data:image/png;base64,%3\"")
        .arg(nHeight)
        .arg(nWidth)
        .arg(QString::fromLatin1(baData.toBase64()));
}

// What an import must give back: the text (blanks made single) and the pictures' bytes.
struct Body
{
    QString strText;
    QList<QByteArray> lstPictures;
};

Body body(const QString &strHtml)
{
    QTextDocument doc;
    doc.setHtml(strHtml);
    Body result;
    result.strText = doc.toPlainText().remove(QChar::ObjectReplacementCharacter).simplified();
    for (const NoteFile::Picture &picture : NoteFile::takePictures(doc, str("p")))
        result.lstPictures << picture.baData;
    return result;
}

QStringList filesBelow(const QString &strDir)
{
    QStringList lstFiles;
    QDirIterator it(strDir, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        lstFiles << QDir(strDir).relativeFilePath(it.next());
    lstFiles.sort();
    return lstFiles;
}

} // namespace

class TestExportImport : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void fileNames_data();
    void fileNames();
    void roundTrip_data();
    void roundTrip();
    void plainNotesKeepTheirText_data();
    void plainNotesKeepTheirText();
    void importedChangesAreSent();
    void importKeepsLaterWriting();
    void importKeepsWritingMadeMeanwhile();
    void timesKeepTheirMomentAcrossZones_data();
    void timesKeepTheirMomentAcrossZones();
    void rangeAndOwnership();
    void pdfHoldsTheNotesInOrder();
    void plainFolderAndBadFiles();
    void picturesThatAreNoFiles();
    void writeIsAllOrNothing();
    void commandLine();

private:
    void fillDiary();
    QVariantList notes(CDbMgt &store);
    QVariantMap exportTo(const QString &strTarget,
                         CExporter::Format format,
                         const QDate &dtFrom = QDate(),
                         const QDate &dtTo = QDate());
    QList<QVariant> importFrom(CDbMgt &store, const QString &strFolder);

    std::unique_ptr<QTemporaryDir> m_pDir;
    std::unique_ptr<CDbMgt> m_pStore;
    QByteArray m_baPng;
    QByteArray m_baJpeg;
};

void TestExportImport::init()
{
    m_pDir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_pDir->isValid());
    m_pStore = std::make_unique<CDbMgt>(m_pDir->filePath(str("diary")));
    m_baPng = picture(1000, 400, "PNG", Qt::red);
    m_baJpeg = picture(300, 300, "JPEG", Qt::blue);
}

void TestExportImport::cleanup()
{
    m_pStore.reset();
    m_pDir.reset();
}

// Notes of user 7: Chinese and Japanese text, pictures, two notes of the same day with
// the same title, a title with "/" and ":"; besides them a deleted note and a note of
// another user, which are not the user's diary.
void TestExportImport::fillDiary()
{
    m_pStore->setUserId(7);
    const QList<QVariantMap> lstNotes{
        {{str("uuid"), str("{00000000-0000-4000-8000-000000000001}")},
         {str("set_at"), str("2026-12-10 00:00:00")},
         {str("created_at"), str("2026-12-10 08:00:00")},
         {str("title"), str("A walk in the kelp forest")},
         {str("content"),
          str("<p>海藻の森を歩いた。</p><p>Second paragraph</p>") + imgTag(m_baPng, 500, 200)},
         {str("user_id"), 7}},
        {{str("uuid"), str("{00000000-0000-4000-8000-000000000002}")},
         {str("set_at"), str("2026-12-10 00:00:00")},
         {str("created_at"), str("2026-12-10 09:00:00")},
         {str("title"), str("A walk in the kelp forest")},
         {str("content"), str("<p>第二篇 same day, same title</p>") + imgTag(m_baJpeg, 300, 300)},
         {str("user_id"), 7}},
        {{str("uuid"), str("{00000000-0000-4000-8000-000000000003}")},
         {str("set_at"), str("2026-11-02 00:00:00")},
         {str("created_at"), str("2026-11-02 10:00:00")},
         {str("title"), str("Plans 10:30 / later")},
         {str("content"),
          str("<p><b>bold</b> and <i>italic</i>; list:</p><ul><li>one</li><li>two</li></ul>")},
         {str("user_id"), 7}},
        {{str("uuid"), str("{00000000-0000-4000-8000-000000000004}")},
         {str("set_at"), str("2025-01-31 00:00:00")},
         {str("created_at"), str("2025-01-31 10:00:00")},
         {str("title"), QString()},
         {str("content"), str("<p>没有标题的笔记 without a title</p>")}},
        {{str("uuid"), str("{00000000-0000-4000-8000-000000000005}")},
         {str("set_at"), str("2026-12-09 00:00:00")},
         {str("title"), str("deleted")},
         {str("content"), str("<p>gone</p>")},
         {str("deleted"), 1},
         {str("user_id"), 7}},
        {{str("uuid"), str("{00000000-0000-4000-8000-000000000006}")},
         {str("set_at"), str("2026-12-09 00:00:00")},
         {str("title"), str("someone else's")},
         {str("content"), str("<p>not mine</p>")},
         {str("user_id"), 8}},
    };
    QSignalSpy spy(m_pStore.get(), &CDbMgt::dataReceived);
    for (const QVariantMap &mapNote : lstNotes)
        m_pStore->insertNoteItem(mapNote);
    QTRY_COMPARE_WITH_TIMEOUT(spy.count(), lstNotes.size(), 30000);
    for (const QList<QVariant> &args : spy)
        QVERIFY2(!args.at(0).toMap().contains(str("error")),
                 qPrintable(args.at(0).toMap().value(str("error")).toString()));
}

QVariantList TestExportImport::notes(CDbMgt &store)
{
    QSignalSpy spy(&store, &CDbMgt::dataReceived);
    const QString strUuid = store.queryPrepared(
        str("SELECT uuid, set_at, created_at, updated_at, title, content, user_id, deleted, md5"
            " FROM note ORDER BY uuid"),
        {});
    if (!QTest::qWaitFor([&] { return !spy.isEmpty(); }, 30000))
        return {};
    const QVariantMap mapResult = spy.at(0).at(0).toMap();
    if (mapResult.value(str("uuid")).toString() != strUuid)
        return {};
    return mapResult.value(str("result")).toList();
}

QVariantMap TestExportImport::exportTo(const QString &strTarget,
                                       CExporter::Format format,
                                       const QDate &dtFrom,
                                       const QDate &dtTo)
{
    CExporter exporter(*m_pStore);
    QSignalSpy spyDone(&exporter, &CExporter::finished);
    QSignalSpy spyFailed(&exporter, &CExporter::failed);
    QSignalSpy spyProgress(&exporter, &CExporter::progress);
    if (!exporter.start(strTarget, format, dtFrom, dtTo))
        return {{str("error"), spyFailed.value(0).value(0)}};
    if (!QTest::qWaitFor([&] { return spyDone.count() + spyFailed.count() > 0; }, 120000))
        return {{str("error"), str("timeout")}};
    if (!spyFailed.isEmpty())
        return {{str("error"), spyFailed.at(0).at(0)}};
    return {{str("target"), spyDone.at(0).at(0)},
            {str("count"), spyDone.at(0).at(1)},
            {str("last_progress"), spyProgress.isEmpty() ? QVariant() : spyProgress.last().at(0)}};
}

QList<QVariant> TestExportImport::importFrom(CDbMgt &store, const QString &strFolder)
{
    CImporter importer(store);
    QSignalSpy spyDone(&importer, &CImporter::finished);
    QSignalSpy spyFailed(&importer, &CImporter::failed);
    if (!importer.start(strFolder))
        return {};
    if (!QTest::qWaitFor([&] { return spyDone.count() + spyFailed.count() > 0; }, 120000))
        return {};
    if (!spyFailed.isEmpty()) {
        qWarning() << "import failed:" << spyFailed.at(0).at(0);
        return {};
    }
    return spyDone.at(0);
}

void TestExportImport::fileNames_data()
{
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("expected");
    QTest::newRow("plain") << str("A walk in the kelp forest")
                           << str("2026-12-10 A walk in the kelp forest");
    QTest::newRow("slash and colon")
        << str("Plans 10:30 / later") << str("2026-12-10 Plans 10-30 - later");
    QTest::newRow("Windows' reserved")
        << str("a*b?c\"d<e>f|g\\h") << str("2026-12-10 a-b-c-d-e-f-g-h");
    QTest::newRow("CJK") << str("海藻の森") << str("2026-12-10 海藻の森");
    QTest::newRow("hidden file") << str("..hidden.") << str("2026-12-10 hidden");
    QTest::newRow("line breaks and tabs")
        << str("one\ntwo\tthree") << str("2026-12-10 one two three");
    QTest::newRow("nothing left") << str("...") << str("2026-12-10 Note");
    QTest::newRow("long") << QString(100, QLatin1Char('x'))
                          << str("2026-12-10 ") + QString(60, QLatin1Char('x'));
}

void TestExportImport::fileNames()
{
    QFETCH(QString, title);
    QFETCH(QString, expected);
    QCOMPARE(NoteFile::baseName(str("2026-12-10"), title), expected);
}

void TestExportImport::roundTrip_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<QString>("suffix");
    QTest::newRow("markdown") << int(CExporter::Format::Markdown) << str(".md");
    QTest::newRow("html") << int(CExporter::Format::Html) << str(".html");
}

void TestExportImport::roundTrip()
{
    QFETCH(int, format);
    QFETCH(QString, suffix);
    fillDiary();
    const QString strOut = m_pDir->filePath(str("out"));
    const QVariantMap mapExport = exportTo(strOut, CExporter::Format(format));
    QVERIFY2(!mapExport.contains(str("error")),
             qPrintable(mapExport.value(str("error")).toString()));
    QCOMPARE(mapExport.value(str("count")).toInt(), 4);
    QCOMPARE(mapExport.value(str("last_progress")).toInt(), 4);

    const QStringList lstFiles = filesBelow(strOut);
    QStringList lstNotes = lstFiles.filter(suffix);
    QCOMPARE(lstNotes,
             QStringList({str("2025/2025-01-31 没有标题的笔记 without a title") + suffix,
                          str("2026/2026-11-02 Plans 10-30 - later") + suffix,
                          str("2026/2026-12-10 A walk in the kelp forest (2)") + suffix,
                          str("2026/2026-12-10 A walk in the kelp forest") + suffix}));
    // The pictures are files beside the notes, as they were stored, and the notes link them.
    QCOMPARE(lstFiles.size(), 6);
    QFile png(QDir(strOut).filePath(str("2026/2026-12-10-00000000-1.png")));
    QVERIFY(png.open(QIODevice::ReadOnly));
    QCOMPARE(png.readAll(), m_baPng);
    QFile jpeg(QDir(strOut).filePath(str("2026/2026-12-10-00000000-2-1.jpg")));
    QVERIFY2(jpeg.open(QIODevice::ReadOnly), qPrintable(lstFiles.join(str(", "))));
    QCOMPARE(jpeg.readAll(), m_baJpeg);
    QFile first(QDir(strOut).filePath(str("2026/2026-12-10 A walk in the kelp forest") + suffix));
    QVERIFY(first.open(QIODevice::ReadOnly));
    const QString strFirst = QString::fromUtf8(first.readAll());
    first.close();
    QVERIFY2(strFirst.contains(str("2026-12-10-00000000-1.png")), qPrintable(strFirst));
    QVERIFY(!strFirst.contains(str("base64")));
    QVERIFY(strFirst.contains(str("uuid: \"{00000000-0000-4000-8000-000000000001}\"")));
    QVERIFY(strFirst.contains(str("created: \"2026-12-10 08:00:00+00:00\"")));
    QVERIFY(strFirst.contains(str("海藻の森を歩いた。")));

    // Into an empty diary: the same notes, days, times, texts and pictures.
    const QVariantList lstBefore = notes(*m_pStore);
    CDbMgt empty(m_pDir->filePath(str("empty")));
    empty.setUserId(3);
    QList<QVariant> lstResult = importFrom(empty, strOut);
    QCOMPARE(lstResult.size(), 4);
    QCOMPARE(lstResult.at(0).toInt(), 4); // added
    QCOMPARE(lstResult.at(1).toInt(), 0);
    QCOMPARE(lstResult.at(3).toList(), QVariantList());
    const QVariantList lstAfter = notes(empty);
    QCOMPARE(lstAfter.size(), 4);
    for (const QVariant &row : lstAfter) {
        const QVariantMap mapAfter = row.toMap();
        QVariantMap mapBefore;
        for (const QVariant &old : lstBefore) {
            if (old.toMap().value(str("uuid")) == mapAfter.value(str("uuid")))
                mapBefore = old.toMap();
        }
        QVERIFY(!mapBefore.isEmpty());
        for (const char *pKey : {"set_at", "created_at", "updated_at", "title"})
            QCOMPARE(mapAfter.value(str(pKey)).toString(), mapBefore.value(str(pKey)).toString());
        QCOMPARE(mapAfter.value(str("user_id")).toString(), str("3"));
        const Body before = body(mapBefore.value(str("content")).toString());
        const Body after = body(mapAfter.value(str("content")).toString());
        QCOMPARE(after.strText, before.strText);
        QCOMPARE(after.lstPictures, before.lstPictures);
    }

    // Back onto the diary it came from: nothing new, nothing changed.
    lstResult = importFrom(*m_pStore, strOut);
    QCOMPARE(lstResult.size(), 4);
    QCOMPARE(lstResult.at(0).toInt(), 0);
    QCOMPARE(lstResult.at(1).toInt(), 0);
    QCOMPARE(lstResult.at(2).toInt(), 4);
    QCOMPARE(notes(*m_pStore), lstBefore);

    // An edited file updates its note in place; a deleted note comes back.
    QVERIFY(first.open(QIODevice::WriteOnly | QIODevice::Truncate));
    first.write(QString(strFirst).replace(str("海藻の森を歩いた。"), str("Edited.")).toUtf8());
    first.close();
    lstResult = importFrom(empty, strOut);
    QCOMPARE(lstResult.at(0).toInt(), 0);
    QCOMPARE(lstResult.at(1).toInt(), 1);
    QCOMPARE(lstResult.at(2).toInt(), 3);
    const QVariantList lstEdited = notes(empty);
    QCOMPARE(lstEdited.size(), 4);
    QVERIFY(body(lstEdited.at(0).toMap().value(str("content")).toString())
                .strText.startsWith(str("Edited.")));
    QCOMPARE(body(lstEdited.at(0).toMap().value(str("content")).toString()).lstPictures,
             QList<QByteArray>{m_baPng});
}

void TestExportImport::plainNotesKeepTheirText_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<QString>("suffix");
    QTest::newRow("markdown") << int(CExporter::Format::Markdown) << str(".md");
    QTest::newRow("html") << int(CExporter::Format::Html) << str(".html");
}

// A note typed without formatting is kept as plain text, as the editor shows it: its
// lines, and "<" or "&" as typed. The export writes it so, and an import gives it back.
void TestExportImport::plainNotesKeepTheirText()
{
    QFETCH(int, format);
    QFETCH(QString, suffix);
    const QString strPlain
        = str("Dear diary,\nthe tide was low.\n\nIf a<b and c>d then 2 < 3 & "
              "4 > 1, &amp; is no ampersand.\n# not a heading\n## nor this\n1. not a list\n"
              "- nor this\n> nor a quote\n*stars* _under_ `ticks` [a](link) "
              "~~s~~ a|b \\ back\n---\nno rule above, no heading here\n===\n"
              "海が静かだった。 ")
          + str("A long line of words, which the writer wraps: - - # 1. + 2) ").repeated(4).trimmed();
    QVERIFY(!Qt::mightBeRichText(strPlain));
    m_pStore->setUserId(7);
    QSignalSpy spy(m_pStore.get(), &CDbMgt::dataReceived);
    m_pStore->insertNoteItem({{str("uuid"), str("{00000000-0000-4000-8000-0000000000b1}")},
                              {str("set_at"), str("2026-10-05 00:00:00")},
                              {str("title"), str("Low tide")},
                              {str("content"), strPlain},
                              {str("user_id"), 7}});
    QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 1, 30000);
    QVERIFY(!spy.at(0).at(0).toMap().contains(str("error")));

    const QString strOut = m_pDir->filePath(str("plain"));
    const QVariantMap mapExport = exportTo(strOut, CExporter::Format(format));
    QVERIFY2(!mapExport.contains(str("error")),
             qPrintable(mapExport.value(str("error")).toString()));
    QFile file(QDir(strOut).filePath(str("2026/2026-10-05 Low tide") + suffix));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString strFile = QString::fromUtf8(file.readAll());
    QVERIFY2(!strFile.contains(str("Dear diary, the tide")), qPrintable(strFile));

    CDbMgt empty(m_pDir->filePath(str("empty")));
    empty.setUserId(7);
    const QList<QVariant> lstResult = importFrom(empty, strOut);
    QCOMPARE(lstResult.size(), 4);
    QCOMPARE(lstResult.at(0).toInt(), 1);
    const QVariantList lstAfter = notes(empty);
    QCOMPARE(lstAfter.size(), 1);
    const QString strAfter = notePlainText(lstAfter.at(0).toMap().value(str("content")).toString());
    // Markdown has no empty paragraph: there the lines alone count.
    if (suffix == str(".md"))
        QCOMPARE(strAfter.split(QLatin1Char('\n'), Qt::SkipEmptyParts),
                 strPlain.split(QLatin1Char('\n'), Qt::SkipEmptyParts));
    else
        QCOMPARE(strAfter, strPlain);

    // Back onto the diary it came from: the same note, left as it is.
    const QVariantList lstBefore = notes(*m_pStore);
    const QList<QVariant> lstAgain = importFrom(*m_pStore, strOut);
    QCOMPARE(lstAgain.size(), 4);
    QCOMPARE(lstAgain.at(1).toInt(), 0);
    QCOMPARE(lstAgain.at(2).toInt(), 1);
    QCOMPARE(notes(*m_pStore), lstBefore);
}

// A note that the import changes, or brings back, is a change made on this computer: it
// waits as pending until the note service has it, like an edit.
void TestExportImport::importedChangesAreSent()
{
    m_pStore->setUserId(7);
    QSignalSpy spy(m_pStore.get(), &CDbMgt::dataReceived);
    for (int n : {1, 2})
        m_pStore->insertNoteItem(
            {{str("uuid"), str("{00000000-0000-4000-8000-0000000000c%1}").arg(n)},
             {str("set_at"), str("2026-09-0%1 00:00:00").arg(n)},
             {str("title"), str("Synced %1").arg(n)},
             {str("content"), str("<p>as the service has it</p>")},
             {str("user_id"), 7},
             {str("server_id"), 10 + n},
             {str("sync_state"), 0}});
    QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 2, 30000);
    const QString strOut = m_pDir->filePath(str("synced"));
    const QVariantMap mapExport = exportTo(strOut, CExporter::Format::Markdown);
    QCOMPARE(mapExport.value(str("count")).toInt(), 2);

    auto pending = [&]() {
        QSignalSpy spyPending(m_pStore.get(), &CDbMgt::dataReceived);
        const QString strRequest = m_pStore->getPendingNoteList();
        QStringList lstUuids;
        if (!QTest::qWaitFor([&] { return !spyPending.isEmpty(); }, 30000))
            return QStringList{str("no answer")};
        const QVariantMap mapResult = spyPending.at(0).at(0).toMap();
        if (mapResult.value(str("uuid")).toString() != strRequest)
            return QStringList{str("another answer")};
        for (const QVariant &row : mapResult.value(str("result")).toList())
            lstUuids << row.toMap().value(str("uuid")).toString();
        lstUuids.sort();
        return lstUuids;
    };
    QCOMPARE(pending(), QStringList());

    // One file edited; the other note deleted since, as the service told.
    QFile file(QDir(strOut).filePath(str("2026/2026-09-01 Synced 1.md")));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString strFile = QString::fromUtf8(file.readAll());
    file.close();
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(
        QString(strFile).replace(str("as the service has it"), str("edited in the file")).toUtf8());
    file.close();
    spy.clear();
    m_pStore->queryPrepared(str("UPDATE note SET deleted = 1 WHERE uuid = :uuid"),
                            {{str("uuid"), str("{00000000-0000-4000-8000-0000000000c2}")}});
    QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 1, 30000);

    const QList<QVariant> lstResult = importFrom(*m_pStore, strOut);
    QCOMPARE(lstResult.size(), 4);
    QCOMPARE(lstResult.at(1).toInt(), 2);
    QCOMPARE(pending(),
             QStringList({str("{00000000-0000-4000-8000-0000000000c1}"),
                          str("{00000000-0000-4000-8000-0000000000c2}")}));
}

// A file never replaces what was written in the diary after it: an older export imported
// again (to bring back a deleted note, say) leaves the later text of a note alone and says
// so. A file edited since, and a note deleted since, are taken.
void TestExportImport::importKeepsLaterWriting()
{
    m_pStore->setUserId(7);
    QSignalSpy spy(m_pStore.get(), &CDbMgt::dataReceived);
    auto uuid = [](int n) { return str("{00000000-0000-4000-8000-0000000000e%1}").arg(n); };
    QVariantList lstNotes;
    for (int n : {1, 2, 3})
        lstNotes << QVariantMap{{str("uuid"), uuid(n)},
                                {str("set_at"), str("2026-06-0%1 00:00:00").arg(n)},
                                {str("title"), str("June %1").arg(n)},
                                {str("content"), str("<p>written in June</p>")},
                                {str("user_id"), 7},
                                {str("updated_at"), str("2026-06-01 10:00:00")}};
    m_pStore->importNotes(lstNotes, {});
    QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 1, 30000);
    QVERIFY(!spy.at(0).at(0).toMap().contains(str("error")));
    const QString strOut = m_pDir->filePath(str("june"));
    QCOMPARE(exportTo(strOut, CExporter::Format::Markdown).value(str("count")).toInt(), 3);
    // Written in June, as an export made then.
    for (const QString &strFile : filesBelow(strOut)) {
        QFile file(QDir(strOut).filePath(strFile));
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.setFileTime(QDateTime(QDate(2026, 6, 2), QTime(12, 0), Qt::UTC),
                                 QFileDevice::FileModificationTime));
    }

    // July: the first note is written on in the diary, the third deleted; the second
    // note's file is edited (now).
    spy.clear();
    m_pStore->importNotes({},
                          {QVariantMap{{str("uuid"), uuid(1)},
                                       {str("content"), str("<p>written on in July</p>")},
                                       {str("updated_at"), str("2026-07-01 09:00:00")}},
                           QVariantMap{{str("uuid"), uuid(3)},
                                       {str("deleted"), 1},
                                       {str("updated_at"), str("2026-07-01 09:00:00")}}});
    QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 1, 30000);
    QVERIFY(!spy.at(0).at(0).toMap().contains(str("error")));
    QFile second(QDir(strOut).filePath(str("2026/2026-06-02 June 2.md")));
    QVERIFY(second.open(QIODevice::ReadOnly));
    const QString strSecond = QString::fromUtf8(second.readAll());
    second.close();
    QVERIFY(second.open(QIODevice::WriteOnly | QIODevice::Truncate));
    second.write(QString(strSecond).replace(str("written in June"), str("edited in the file")).toUtf8());
    second.close();

    const QList<QVariant> lstResult = importFrom(*m_pStore, strOut);
    QCOMPARE(lstResult.size(), 4);
    QCOMPARE(lstResult.at(0).toInt(), 0);
    QCOMPARE(lstResult.at(1).toInt(), 2);
    const QVariantList lstBad = lstResult.at(3).toList();
    QCOMPARE(lstBad.size(), 1);
    QCOMPARE(lstBad.at(0).toMap().value(str("file")).toString(), str("2026/2026-06-01 June 1.md"));
    QVERIFY(!lstBad.at(0).toMap().value(str("reason")).toString().isEmpty());

    QMap<QString, QVariantMap> mapByUuid;
    for (const QVariant &note : notes(*m_pStore))
        mapByUuid.insert(note.toMap().value(str("uuid")).toString(), note.toMap());
    QCOMPARE(body(mapByUuid.value(uuid(1)).value(str("content")).toString()).strText,
             str("written on in July"));
    QCOMPARE(mapByUuid.value(uuid(1)).value(str("updated_at")).toString(),
             str("2026-07-01 09:00:00"));
    QCOMPARE(body(mapByUuid.value(uuid(2)).value(str("content")).toString()).strText,
             str("edited in the file"));
    QVERIFY(mapByUuid.value(uuid(3)).value(str("deleted")).toString() != str("1"));
    QCOMPARE(body(mapByUuid.value(uuid(3)).value(str("content")).toString()).strText,
             str("written in June"));
}

// A note written on in the diary while an import compares its files (the import runs in
// the background; the editor stays usable) keeps that writing, and the import says so.
void TestExportImport::importKeepsWritingMadeMeanwhile()
{
    m_pStore->setUserId(7);
    const QString strUuid = str("{00000000-0000-4000-8000-0000000000f1}");
    QSignalSpy spy(m_pStore.get(), &CDbMgt::dataReceived);
    m_pStore->importNotes({QVariantMap{{str("uuid"), strUuid},
                                       {str("set_at"), str("2026-06-01 00:00:00")},
                                       {str("title"), str("June")},
                                       {str("content"), str("<p>written in June</p>")},
                                       {str("user_id"), 7},
                                       {str("updated_at"), str("2026-06-01 10:00:00")}}},
                          {});
    QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 1, 30000);
    const QString strOut = m_pDir->filePath(str("meanwhile"));
    QCOMPARE(exportTo(strOut, CExporter::Format::Markdown).value(str("count")).toInt(), 1);
    QFile file(QDir(strOut).filePath(str("2026/2026-06-01 June.md")));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString strFile = QString::fromUtf8(file.readAll());
    file.close();
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(QString(strFile).replace(str("written in June"), str("edited in the file")).toUtf8());
    file.close();

    // As soon as the import has read the diary's notes, the note is written on here.
    QObject context;
    bool bWritten = false;
    connect(m_pStore.get(), &CDbMgt::dataReceived, &context, [&](const QVariant &data) {
        const QVariantList lstRows = data.toMap().value(str("result")).toList();
        if (bWritten || lstRows.size() != 1
            || lstRows.at(0).toMap().value(str("uuid")).toString() != strUuid)
            return;
        bWritten = true;
        m_pStore->saveEditedNote({{str("uuid"), strUuid},
                                  {str("content"), str("<p>written meanwhile</p>")},
                                  {str("user_id"), 7},
                                  {str("updated_at"), str("2026-12-11 09:00:00")}},
                                 {});
    });
    const QList<QVariant> lstResult = importFrom(*m_pStore, strOut);
    QVERIFY(bWritten);
    QCOMPARE(lstResult.size(), 4);
    QCOMPARE(lstResult.at(1).toInt(), 0); // nothing changed by the import
    const QVariantList lstBad = lstResult.at(3).toList();
    QCOMPARE(lstBad.size(), 1);
    QCOMPARE(lstBad.at(0).toMap().value(str("file")).toString(), str("2026/2026-06-01 June.md"));
    const QVariantList lstNotes = notes(*m_pStore);
    QCOMPARE(lstNotes.size(), 1);
    QCOMPARE(body(lstNotes.at(0).toMap().value(str("content")).toString()).strText,
             str("written meanwhile"));
}

// The times of a note name the same moment when its file is imported in another time zone,
// or in the hour that a clock going back passes twice.
void TestExportImport::timesKeepTheirMomentAcrossZones_data()
{
    QTest::addColumn<QByteArray>("exportZone");
    QTest::addColumn<QByteArray>("importZone");
    QTest::addColumn<QString>("kept");
    QTest::newRow("clock going back, first 02:30")
        << QByteArray("Europe/Berlin") << QByteArray("Europe/Berlin") << str("2026-10-25 00:30:00");
    QTest::newRow("clock going back, second 02:30")
        << QByteArray("Europe/Berlin") << QByteArray("Europe/Berlin") << str("2026-10-25 01:30:00");
    QTest::newRow("written in Tokyo, read in New York")
        << QByteArray("Asia/Tokyo") << QByteArray("America/New_York") << str("2026-12-10 01:00:00");
    QTest::newRow("written in St. John's, read in Kolkata")
        << QByteArray("America/St_Johns") << QByteArray("Asia/Kolkata")
        << str("2026-12-10 23:59:59");
}

void TestExportImport::timesKeepTheirMomentAcrossZones()
{
    QFETCH(QByteArray, exportZone);
    QFETCH(QByteArray, importZone);
    QFETCH(QString, kept);
    const QByteArray baZone = qgetenv("TZ");
    const bool bHadZone = qEnvironmentVariableIsSet("TZ");
    auto restoreZone = qScopeGuard([&] {
        if (bHadZone)
            qputenv("TZ", baZone);
        else
            qunsetenv("TZ");
    });

    QSignalSpy spy(m_pStore.get(), &CDbMgt::dataReceived);
    m_pStore->importNotes({QVariantMap{{str("uuid"), str("{00000000-0000-4000-8000-0000000000d1}")},
                                       {str("set_at"), str("2026-10-25 00:00:00")},
                                       {str("content"), str("<p>a night</p>")},
                                       {str("created_at"), kept},
                                       {str("updated_at"), kept}}},
                          {});
    QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 1, 30000);
    QVERIFY(!spy.at(0).at(0).toMap().contains(str("error")));

    qputenv("TZ", exportZone);
    const QString strOut = m_pDir->filePath(str("zones"));
    QCOMPARE(exportTo(strOut, CExporter::Format::Markdown).value(str("count")).toInt(), 1);

    qputenv("TZ", importZone);
    CDbMgt other(m_pDir->filePath(str("other")));
    const QList<QVariant> lstResult = importFrom(other, strOut);
    QCOMPARE(lstResult.value(0).toInt(), 1);
    const QVariantList lstNotes = notes(other);
    QCOMPARE(lstNotes.size(), 1);
    QCOMPARE(lstNotes.at(0).toMap().value(str("created_at")).toString(), kept);
    QCOMPARE(lstNotes.at(0).toMap().value(str("updated_at")).toString(), kept);
}

void TestExportImport::rangeAndOwnership()
{
    fillDiary();
    const QString strOut = m_pDir->filePath(str("range"));
    QVariantMap mapExport = exportTo(strOut,
                                     CExporter::Format::Markdown,
                                     QDate(2026, 11, 2),
                                     QDate(2026, 12, 9));
    QCOMPARE(mapExport.value(str("count")).toInt(), 1);
    QCOMPARE(filesBelow(strOut), QStringList{str("2026/2026-11-02 Plans 10-30 - later.md")});

    // Logged out: only the notes of nobody.
    m_pStore->setUserId(0);
    mapExport = exportTo(m_pDir->filePath(str("nobody")), CExporter::Format::Markdown);
    QCOMPARE(mapExport.value(str("count")).toInt(), 1);

    mapExport = exportTo(strOut,
                         CExporter::Format::Markdown,
                         QDate(2026, 12, 9),
                         QDate(2026, 11, 2));
    QVERIFY(mapExport.contains(str("error")));
    QFile file(m_pDir->filePath(str("a-file")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    mapExport = exportTo(file.fileName(), CExporter::Format::Markdown);
    QVERIFY(mapExport.contains(str("error")));
}

void TestExportImport::pdfHoldsTheNotesInOrder()
{
    const QString strPdfToText = QStandardPaths::findExecutable(str("pdftotext"));
    if (strPdfToText.isEmpty())
        QSKIP("pdftotext (poppler-utils) is not installed");
    fillDiary();
    const QVariantMap mapExport = exportTo(m_pDir->filePath(str("diary.pdf")),
                                           CExporter::Format::Pdf);
    QVERIFY2(!mapExport.contains(str("error")),
             qPrintable(mapExport.value(str("error")).toString()));
    QCOMPARE(mapExport.value(str("count")).toInt(), 4);

    QProcess process;
    process.start(strPdfToText, {m_pDir->filePath(str("diary.pdf")), str("-")});
    QVERIFY(process.waitForFinished(60000));
    QCOMPARE(process.exitCode(), 0);
    const QString strText = QString::fromUtf8(process.readAllStandardOutput());
    int nPos = 0;
    for (const char *pText : {"2025-01-31",
                              "没有标题的笔记",
                              "2026-11-02",
                              "Plans 10:30 / later",
                              "italic",
                              "2026-12-10",
                              "海藻の森を歩いた。",
                              "Second paragraph",
                              "same day, same title"}) {
        const int nFound = strText.indexOf(str(pText), nPos);
        QVERIFY2(nFound >= 0,
                 qPrintable(
                     str("%1 missing after %2 in:\n%3").arg(str(pText)).arg(nPos).arg(strText)));
        nPos = nFound;
    }
    QVERIFY(!strText.contains(str("gone")));
    QVERIFY(!strText.contains(str("not mine")));
}

void TestExportImport::plainFolderAndBadFiles()
{
    const QDir dir(m_pDir->filePath(str("journal")));
    QVERIFY(QDir().mkpath(dir.filePath(str("2026"))));
    auto write = [&](const char *pName, const QByteArray &baData) {
        QFile file(dir.filePath(str(pName)));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(baData);
    };
    write("2026/2026-12-01 Walk.txt", "Went to the sea.\nCold.");
    write("2026/20261202_Market.md", "# Market\n\nBought **fish**.\n\n![](pics/stall.png)\n");
    QVERIFY(QDir().mkpath(dir.filePath(str("2026/pics"))));
    write("2026/pics/stall.png", m_baPng);
    write("notes.txt", "no day in the name");
    write("2026-13-01 Bad day.md", "text");
    write("2026-12-03 Latin-1.txt", "caf\xe9");
    write("2026-12-04 Missing picture.md", "![](nowhere.png)");
    write("2026-12-05 Empty.md", "");
    write("2026-12-06 Broken header.md", "---\ntitle: \"open\n---\ntext");
    write("README.png", m_baPng);

    m_pStore->setUserId(0);
    QList<QVariant> lstResult = importFrom(*m_pStore, dir.path());
    QCOMPARE(lstResult.size(), 4);
    QStringList lstBad;
    for (const QVariant &bad : lstResult.at(3).toList())
        lstBad << bad.toMap().value(str("file")).toString();
    lstBad.sort();
    QCOMPARE(lstBad,
             QStringList({str("2026-12-03 Latin-1.txt"),
                          str("2026-12-04 Missing picture.md"),
                          str("2026-12-05 Empty.md"),
                          str("2026-12-06 Broken header.md"),
                          str("2026-13-01 Bad day.md"),
                          str("notes.txt")}));
    QCOMPARE(lstResult.at(0).toInt(), 2);
    for (const QVariant &bad : lstResult.at(3).toList())
        QVERIFY(!bad.toMap().value(str("reason")).toString().isEmpty());

    const QVariantList lstNotes = notes(*m_pStore);
    QCOMPARE(lstNotes.size(), 2);
    QMap<QString, QVariantMap> mapByDay;
    for (const QVariant &note : lstNotes)
        mapByDay.insert(note.toMap().value(str("set_at")).toString(), note.toMap());
    QCOMPARE(mapByDay.keys(), QStringList({str("2026-12-01 00:00:00"), str("2026-12-02 00:00:00")}));
    QCOMPARE(mapByDay.first().value(str("title")).toString(), str("Walk"));
    QCOMPARE(body(mapByDay.first().value(str("content")).toString()).strText,
             str("Went to the sea. Cold."));
    QCOMPARE(mapByDay.last().value(str("title")).toString(), str("Market"));
    const Body market = body(mapByDay.last().value(str("content")).toString());
    QCOMPARE(market.strText, str("Market Bought fish."));
    QCOMPARE(market.lstPictures, QList<QByteArray>{m_baPng});
    // Shown as the editor shows inserted pictures: the longer side at most 500.
    QVERIFY(mapByDay.last().value(str("content")).toString().contains(str("width=\"500\"")));

    // The same folder again: the files are known by their paths, nothing doubles.
    lstResult = importFrom(*m_pStore, dir.path());
    QCOMPARE(lstResult.at(0).toInt(), 0);
    QCOMPARE(lstResult.at(2).toInt(), 2);
    QCOMPARE(notes(*m_pStore).size(), 2);

    CImporter importer(*m_pStore);
    QSignalSpy spyFailed(&importer, &CImporter::failed);
    QVERIFY(!importer.start(dir.filePath(str("notes.txt"))));
    QCOMPARE(spyFailed.count(), 1);
}

// A note whose picture names something that is no picture file (a pipe, a device, a
// folder) or a file far too large for any note is left out with the reason; reading it
// would wait forever or fill the memory. The other notes are imported.
void TestExportImport::picturesThatAreNoFiles()
{
    const QDir dir(m_pDir->filePath(str("hostile")));
    QVERIFY(QDir().mkpath(dir.filePath(str("folder.png"))));
    QCOMPARE(::mkfifo(QFile::encodeName(dir.filePath(str("pipe.png"))).constData(), 0600), 0);
    {
        // 100 MB with a picture's header, and no data behind it (sparse).
        QFile huge(dir.filePath(str("huge.png")));
        QVERIFY(huge.open(QIODevice::WriteOnly));
        huge.write(m_baPng.left(64));
        QVERIFY(huge.resize(100LL * 1024 * 1024));
    }
    auto write = [&](const char *pName, const QByteArray &baData) {
        QFile file(dir.filePath(str(pName)));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(baData);
    };
    write("2026-12-01 Pipe.md", "![](pipe.png)");
    write("2026-12-02 Device.md", "![](/dev/zero)");
    write("2026-12-03 Folder.md", "![](folder.png)");
    write("2026-12-04 Huge.md", "![](huge.png)");
    write("2026-12-05 Fine.md", "A note without pictures.");

    m_pStore->setUserId(0);
    const QList<QVariant> lstResult = importFrom(*m_pStore, dir.path());
    QCOMPARE(lstResult.size(), 4);
    QCOMPARE(lstResult.at(0).toInt(), 1);
    QMap<QString, QString> mapBad;
    for (const QVariant &bad : lstResult.at(3).toList())
        mapBad.insert(bad.toMap().value(str("file")).toString(),
                      bad.toMap().value(str("reason")).toString());
    QCOMPARE(mapBad.keys(),
             QStringList({str("2026-12-01 Pipe.md"),
                          str("2026-12-02 Device.md"),
                          str("2026-12-03 Folder.md"),
                          str("2026-12-04 Huge.md")}));
    for (const QString &strReason : mapBad)
        QVERIFY2(strReason.startsWith(str("the picture ")), qPrintable(strReason));
    QCOMPARE(notes(*m_pStore).size(), 1);
}

void TestExportImport::writeIsAllOrNothing()
{
    // The third note names a column the diary does not have: its statement fails, and the
    // two before it must not stay.
    QSignalSpy spy(m_pStore.get(), &CDbMgt::dataReceived);
    const QVariantList lstNew{
        QVariantMap{{str("uuid"), str("{00000000-0000-4000-8000-0000000000a1}")},
                    {str("set_at"), str("2026-12-01 00:00:00")},
                    {str("content"), str("one")}},
        QVariantMap{{str("uuid"), str("{00000000-0000-4000-8000-0000000000a2}")},
                    {str("set_at"), str("2026-12-02 00:00:00")},
                    {str("content"), str("two")},
                    {str("updated_at"), str("2026-12-02 10:00:00")}},
        QVariantMap{{str("uuid"), str("{00000000-0000-4000-8000-0000000000a3}")},
                    {str("set_at"), str("2026-12-03 00:00:00")},
                    {str("no_such_column"), str("x")}},
    };
    const QString strUuid = m_pStore->importNotes(lstNew, {});
    QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 1, 30000);
    QCOMPARE(spy.at(0).at(0).toMap().value(str("uuid")).toString(), strUuid);
    QVERIFY(spy.at(0).at(0).toMap().contains(str("error")));
    QCOMPARE(notes(*m_pStore), QVariantList());

    // Without the broken one both are written, the second with its own time.
    spy.clear();
    m_pStore->importNotes(lstNew.mid(0, 2), {});
    QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 1, 30000);
    QVERIFY(!spy.at(0).at(0).toMap().contains(str("error")));
    const QVariantList lstNotes = notes(*m_pStore);
    QCOMPARE(lstNotes.size(), 2);
    QCOMPARE(lstNotes.at(1).toMap().value(str("updated_at")).toString(), str("2026-12-02 10:00:00"));
}

void TestExportImport::commandLine()
{
    // The program itself, on a data folder of its own, without a display.
    const QString strKelpo = str(KELPO_BINARY_DIR "/kelpo");
    if (!QFileInfo::exists(strKelpo))
        QSKIP("the kelpo program is not built");
    m_pStore.reset();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(str("XDG_DATA_HOME"), m_pDir->filePath(str("xdg-data")));
    env.insert(str("XDG_CONFIG_HOME"), m_pDir->filePath(str("xdg-config")));
    env.remove(str("DISPLAY"));
    env.remove(str("QT_QPA_PLATFORM"));
    const QString strData = m_pDir->filePath(str("xdg-data/Greyfen Software/kelpo"));
    m_pStore = std::make_unique<CDbMgt>(strData);
    fillDiary();
    m_pStore->setUserId(0);
    m_pStore.reset();

    auto run = [&](const QStringList &lstArgs, QString *pstrOut = nullptr) {
        QProcess process;
        process.setProcessEnvironment(env);
        process.start(strKelpo, lstArgs);
        if (!process.waitForFinished(120000))
            return -2;
        if (pstrOut)
            *pstrOut = QString::fromUtf8(process.readAllStandardOutput()
                                         + process.readAllStandardError());
        return process.exitCode();
    };
    QString strOut;
    const QString strFolder = m_pDir->filePath(str("cli-out"));
    // Nobody is logged in: the notes of nobody.
    QCOMPARE(run({str("--export"), strFolder}, &strOut), 0);
    QVERIFY2(strOut.contains(str("1")), qPrintable(strOut));
    QCOMPARE(filesBelow(strFolder).size(), 1);

    QCOMPARE(run({str("--export"), strFolder, str("--format"), str("docx")}, &strOut), 1);
    QCOMPARE(run({str("--export"), strFolder, str("--from"), str("2026-02-30")}, &strOut), 1);
    QCOMPARE(run({str("--import"), m_pDir->filePath(str("nowhere"))}, &strOut), 1);
    QCOMPARE(run({str("--restore"), m_pDir->filePath(str("nowhere.db"))}, &strOut), 1);
    QVERIFY(QFileInfo::exists(QDir(strData).filePath(str("local.db"))));
}

QTEST_MAIN(TestExportImport)
#include "tst_exportimport.moc"
