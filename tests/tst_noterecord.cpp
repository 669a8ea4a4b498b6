// Note records from the note service: which answers may touch a local note. Every
// member of a note object is checked for its type and form before the note is used;
// one wrong member and the whole note is left out.

#include "noterecord.h"

#include <QtTest>

namespace {

QString str(const char *p)
{
    return QString::fromUtf8(p);
}

// A note as the service sends it (JSON numbers arrive as doubles).
QVariantMap goodNote()
{
    return {{str("id"), 7.0},
            {str("user_id"), 3.0},
            {str("uuid"), str("{3f2504e0-4f89-11d3-9a0c-0305e82c3301}")},
            {str("set_at"), str("2026-03-05 00:00:00")},
            {str("created_at"), str("2026-03-05 08:00:00")},
            {str("updated_at"), str("2026-03-05 09:30:00")},
            {str("title"), str("Walk")},
            {str("content"), str("<p>By the river</p>")},
            {str("content_size"), 18.0},
            {str("md5"), str("0123456789abcdef0123456789abcdef")},
            {str("deleted"), 0.0}};
}

} // namespace

class TestNoteRecord : public QObject
{
    Q_OBJECT

private slots:
    void serverNoteValidation_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QVariant>("value"); // an invalid QVariant removes the member
        QTest::addColumn<bool>("valid");

        QTest::newRow("as sent") << QString() << QVariant() << true;
        QTest::newRow("without text and title (a list)") << str("content") << QVariant() << true;
        QTest::newRow("bare UUID")
            << str("uuid") << QVariant(str("3f2504e0-4f89-11d3-9a0c-0305e82c3301")) << true;
        QTest::newRow("no UUID yet") << str("uuid") << QVariant(str("")) << true;
        QTest::newRow("day only") << str("set_at") << QVariant(str("2026-03-05")) << true;
        QTest::newRow("empty digest of an empty text") << str("md5") << QVariant(str("")) << true;

        QTest::newRow("text is a number") << str("content") << QVariant(12345.0) << false;
        QTest::newRow("time is a boolean") << str("updated_at") << QVariant(true) << false;
        QTest::newRow("time with its zone")
            << str("updated_at") << QVariant(str("2026-03-05T00:00:01Z")) << true;
        QTest::newRow("time with an offset")
            << str("updated_at") << QVariant(str("2026-03-05T08:00:01+08:00")) << true;
        QTest::newRow("time with a T but no zone")
            << str("updated_at") << QVariant(str("2026-03-05T00:00:01")) << false;
        QTest::newRow("time with an impossible offset")
            << str("updated_at") << QVariant(str("2026-03-05T00:00:01+24:00")) << false;
        QTest::newRow("time with fractions")
            << str("updated_at") << QVariant(str("2026-03-05T00:00:01.5Z")) << false;
        QTest::newRow("time with a space and a zone")
            << str("updated_at") << QVariant(str("2026-03-05 00:00:01 Z")) << false;
        QTest::newRow("no time of change") << str("updated_at") << QVariant() << false;
        QTest::newRow("impossible date")
            << str("updated_at") << QVariant(str("2026-02-30 10:00:00")) << false;
        QTest::newRow("creation time malformed")
            << str("created_at") << QVariant(str("yesterday")) << false;
        QTest::newRow("day malformed") << str("set_at") << QVariant(str("05.03.2026")) << false;
        QTest::newRow("id missing") << str("id") << QVariant() << false;
        QTest::newRow("id a boolean") << str("id") << QVariant(true) << false;
        QTest::newRow("id a fraction") << str("id") << QVariant(7.5) << false;
        QTest::newRow("id as text") << str("id") << QVariant(str("7")) << false;
        QTest::newRow("size negative") << str("content_size") << QVariant(-1.0) << false;
        QTest::newRow("size as text") << str("content_size") << QVariant(str("18")) << false;
        QTest::newRow("deleted 2") << str("deleted") << QVariant(2.0) << false;
        QTest::newRow("deleted a boolean") << str("deleted") << QVariant(true) << false;
        QTest::newRow("UUID not one") << str("uuid") << QVariant(str("note-7")) << false;
        QTest::newRow("digest too short") << str("md5") << QVariant(str("abc")) << false;
        QTest::newRow("title an object")
            << str("title") << QVariant(QVariantMap{{str("a"), 1}}) << false;
    }

    void serverNoteValidation()
    {
        QFETCH(QString, key);
        QFETCH(QVariant, value);
        QFETCH(bool, valid);
        QVariantMap map = goodNote();
        if (!key.isEmpty()) {
            if (value.isValid())
                map.insert(key, value);
            else
                map.remove(key);
        }
        QString strError;
        QCOMPARE(NoteRecord::isValidServerNote(map, &strError), valid);
        QCOMPARE(strError.isEmpty(), valid);
        if (!valid)
            QVERIFY2(strError.contains(key), qPrintable(strError));
    }

    // A list answer keeps its good notes and leaves out the rest, whatever they are.
    void listKeepsOnlyValidNotes()
    {
        QVariantMap mapBad = goodNote();
        mapBad.insert(str("content"), 12345.0);
        const QVariantList lst = NoteRecord::validServerNotes(
            {goodNote(), mapBad, QVariant(str("not a note")), QVariant(), goodNote()});
        QCOMPARE(lst.size(), 2);
        QCOMPARE(lst.first().toMap(), goodNote());
    }
};

QTEST_GUILESS_MAIN(TestNoteRecord)
#include "tst_noterecord.moc"
