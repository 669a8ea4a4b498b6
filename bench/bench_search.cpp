// Search benchmark: a local.db of 100 000 notes of about 1 KB over ten years (half English,
// a third Chinese, the rest mixed), written as an older diary without visible texts; the
// store derives them in the background (timed), then five searches are timed through
// CDbMgt (first page of 50, result back on the main thread) beside the LIKE scan of the
// stored rich text that the search used to be, run directly on one connection. The two
// take turns, five rounds each; medians. Prints the full-text index's size against the
// notes' text, and with --index-options the size of the other index layouts.
//
//   bench_search [folder] [--index-options]

#include "dbmgt.h"
#include "sqlbuilder.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

constexpr int kNotes = 100000;
constexpr int kPageSize = 50;
constexpr int kRounds = 5;
const QDate kFirstDay(2015, 1, 1);

QString s(const char *p)
{
    return QString::fromUtf8(p);
}

double median(QVector<double> v)
{
    std::sort(v.begin(), v.end());
    const int n = v.size();
    return n == 0 ? 0 : n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

struct Query
{
    const char *pLabel;
    QString strText;
};

// The texts searched for; the diary is made so that each matches as many notes as the
// label says (the common ones about that share).
const QString kRareEnglish = s("quokka");
const QString kCommonEnglish = s("weather");
const QString kCommonChinese = s("我们");
const QString kChinesePhrase = s("海阔天空");
const QString kRareChinese = s("麒麟");

const QVector<Query> kQueries = {
    {"a rare English word (5)", kRareEnglish},
    {"a common English word (about 50 000)", kCommonEnglish},
    {"a common 2-character Chinese word (about 28 000)", kCommonChinese},
    {"a 4-character Chinese phrase (100)", kChinesePhrase},
    {"a rare 2-character Chinese word (20)", kRareChinese},
};

// Characters of the Chinese text: common ones, without those of the searched words.
QVector<QChar> chineseCharacters()
{
    const QString strExcluded = kCommonChinese + kChinesePhrase + kRareChinese;
    QVector<QChar> vec;
    for (ushort c = 0x4e00; vec.size() < 1500; c += 7) {
        if (!strExcluded.contains(QChar(c)))
            vec << QChar(c);
    }
    return vec;
}

// An index drawn with weight 1/(rank + 1) among nCount (Zipf's law).
int zipf(QRandomGenerator &rng, int nCount)
{
    // Inverse of the cumulative weight, ln(rank + 1) / ln(nCount + 1).
    const double dU = rng.generateDouble();
    const int n = int(std::exp(dU * std::log(double(nCount) + 1))) - 1;
    return qBound(0, n, nCount - 1);
}

QStringList englishWords(QRandomGenerator &rng)
{
    const char *const pSyllables[] = {"ka",
                                      "lo",
                                      "mi",
                                      "ren",
                                      "to",
                                      "sa",
                                      "vel",
                                      "dor",
                                      "pi",
                                      "an",
                                      "ber",
                                      "cu",
                                      "fin",
                                      "gal",
                                      "hu",
                                      "jo",
                                      "nes",
                                      "or"};
    QStringList lst{s("the"), s("and"), s("walk"), s("river"), s("coffee"), s("garden")};
    while (lst.size() < 3000) {
        QString strWord;
        for (int i = 0, n = 2 + rng.bounded(2); i < n; ++i)
            strWord += QLatin1String(pSyllables[rng.bounded(int(std::size(pSyllables)))]);
        if (!strWord.contains(kCommonEnglish) && !strWord.contains(kRareEnglish))
            lst << strWord;
    }
    return lst;
}

QString englishText(QRandomGenerator &rng, const QStringList &lstWords, int nChars)
{
    QString str;
    while (str.size() < nChars)
        str += lstWords.at(zipf(rng, lstWords.size())) + QLatin1Char(' ');
    return str;
}

// Chinese text as words of one to four characters, common words far more often than rare
// ones (rank r drawn with weight 1/r), as in real text: the index then holds about as many
// distinct trigrams as a real diary's.
QVector<QString> chineseWords(QRandomGenerator &rng, const QVector<QChar> &vecChars)
{
    QVector<QString> vec;
    while (vec.size() < 6000) {
        QString strWord;
        const int nLength = 1
                            + int(rng.bounded(100) < 30   ? 0
                                  : rng.bounded(100) < 70 ? 1
                                                          : 2 + rng.bounded(2));
        for (int i = 0; i < nLength; ++i)
            strWord += vecChars.at(rng.bounded(vecChars.size()));
        vec << strWord;
    }
    return vec;
}

QString chineseText(QRandomGenerator &rng, const QVector<QString> &vecWords, int nChars)
{
    QString str;
    while (str.size() < nChars) {
        str += vecWords.at(zipf(rng, vecWords.size()));
        if (rng.bounded(12) == 0)
            str += s("，");
    }
    return str;
}

bool fail(const QSqlQuery &q, const char *pWhat)
{
    std::fprintf(stderr, "%s: %s\n", pWhat, qPrintable(q.lastError().text()));
    return false;
}

// Writes the notes as an older diary: rich text without a visible-text column value.
bool buildDatabase(const QString &strFile)
{
    QSqlDatabase db = QSqlDatabase::addDatabase(s("QSQLITE"), s("build"));
    db.setDatabaseName(strFile);
    if (!db.open())
        return false;
    {
        QSqlQuery q(db);
        q.exec(s("BEGIN"));
        q.prepare(s("INSERT INTO note (user_id, set_at, created_at, title, content,"
                    " content_size, md5, updated_at, uuid) VALUES (1, :set_at, :t, '',"
                    " :content, :size, :md5, :t, :uuid)"));
        QRandomGenerator rng(20261210);
        const QStringList lstWords = englishWords(rng);
        const QVector<QString> vecChinese = chineseWords(rng, chineseCharacters());
        const int nDays = int(kFirstDay.daysTo(kFirstDay.addYears(10)));
        for (int i = 0; i < kNotes; ++i) {
            const QDate dt = kFirstDay.addDays(rng.bounded(nDays));
            QString strText;
            const int nKind = i % 6; // 0-2 English, 3-4 Chinese, 5 mixed
            if (nKind <= 2) {
                strText = englishText(rng, lstWords, 950);
                strText.insert(strText.indexOf(QLatin1Char(' '), rng.bounded(strText.size() - 1))
                                   + 1,
                               kCommonEnglish + QLatin1Char(' '));
            } else if (nKind <= 4) {
                strText = chineseText(rng, vecChinese, 330);
                if (rng.bounded(100) < 85)
                    strText.insert(rng.bounded(strText.size()), kCommonChinese);
            } else {
                strText = englishText(rng, lstWords, 450) + chineseText(rng, vecChinese, 170);
            }
            if (i % 20000 == 13)
                strText += QLatin1Char(' ') + kRareEnglish;
            if (i % 1000 == 17)
                strText += kChinesePhrase;
            if (i % 5000 == 19)
                strText += kRareChinese;
            const QString strContent = QStringLiteral("<p style=\"margin-top:0px;\">%1</p>")
                                           .arg(strText.toHtmlEscaped());
            const QString strTime = dt.toString(s("yyyy-MM-dd 12:00:00"));
            q.bindValue(s(":set_at"), dt.toString(s("yyyy-MM-dd 00:00:00")));
            q.bindValue(s(":t"), strTime);
            q.bindValue(s(":content"), strContent);
            q.bindValue(s(":size"), strContent.toUtf8().size());
            q.bindValue(s(":md5"), md5Hex(strContent));
            q.bindValue(s(":uuid"), createUuidString());
            if (!q.exec())
                return fail(q, "insert");
        }
        q.exec(s("COMMIT"));
    }
    db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(s("build"));
    return true;
}

class CWaiter : public QObject
{
public:
    explicit CWaiter(CDbMgt &dbMgt)
    {
        connect(&dbMgt, &CDbMgt::dataReceived, this, [this](const QVariant &value) {
            const QVariantMap map = value.toMap();
            if (map.value(s("uuid")).toString() != m_strUuid)
                return;
            m_mapResult = map;
            m_loop.quit();
        });
        connect(&dbMgt, &CDbMgt::plainTextProgress, this, [this](int nDone, int nTotal) {
            m_bMigrated = nDone >= nTotal;
            if (m_bMigrated)
                m_loop.quit();
        });
    }
    QVariantMap wait(const QString &strUuid)
    {
        m_strUuid = strUuid;
        m_loop.exec();
        if (m_mapResult.contains(s("error")))
            std::fprintf(stderr,
                         "store: %s\n",
                         qPrintable(m_mapResult.value(s("error")).toString()));
        return m_mapResult;
    }
    void waitForMigration()
    {
        m_strUuid.clear();
        while (!m_bMigrated)
            m_loop.exec();
    }

private:
    QString m_strUuid;
    QVariantMap m_mapResult;
    bool m_bMigrated = false;
    QEventLoop m_loop;
};

qint64 scalar(QSqlDatabase &db, const QString &strSql)
{
    QSqlQuery q(db);
    if (!q.exec(strSql) || !q.next()) {
        fail(q, "scalar");
        return -1;
    }
    return q.value(0).toLongLong();
}

// Bytes of a full-text index: its data and term tables.
qint64 indexBytes(QSqlDatabase &db, const QString &strTable)
{
    return scalar(db,
                  QStringLiteral("SELECT (SELECT SUM(LENGTH(block)) FROM %1_data)"
                                 " + (SELECT COUNT(*) * 16 + SUM(LENGTH(term)) FROM %1_idx)")
                      .arg(strTable));
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTemporaryDir tempDir;
    const QStringList lstArgs = app.arguments();
    const bool bIndexOptions = lstArgs.contains(s("--index-options"));
    QString strDir = tempDir.path();
    for (int i = 1; i < lstArgs.size(); ++i) {
        if (!lstArgs.at(i).startsWith(s("--")))
            strDir = lstArgs.at(i);
    }
    const QString strFile = QDir(strDir).absoluteFilePath(s("local.db"));
    QFile::remove(strFile);

    QElapsedTimer timer;
    timer.start();
    {
        CDbMgt dbMgt(strDir); // creates the schema
        CWaiter waiter(dbMgt);
        waiter.wait(dbMgt.getUserIdList());
    }
    if (!buildDatabase(strFile)) {
        std::fprintf(stderr, "cannot build %s\n", qPrintable(strFile));
        return 1;
    }
    const double dFileBefore = double(QFileInfo(strFile).size()) / 1e6;
    std::printf("Built %d notes, %.1f MB, in %.1f s\n",
                kNotes,
                dFileBefore,
                double(timer.elapsed()) / 1000);

    // The visible texts, derived by the store in the background as for an older diary.
    timer.restart();
    {
        CDbMgt dbMgt(strDir);
        CWaiter waiter(dbMgt);
        waiter.waitForMigration();
    }
    std::printf("Visible texts of %d notes derived and indexed by the store in %.1f s\n",
                kNotes,
                double(timer.elapsed()) / 1000);

    QVector<QVector<double>> vecStore(kQueries.size());
    QVector<QVector<double>> vecLike(kQueries.size());
    QVector<QString> vecPlan(kQueries.size());
    QVector<int> vecHits(kQueries.size());
    QVector<int> vecLikeHits(kQueries.size());
    for (int nRound = 0; nRound < kRounds; ++nRound) {
        {
            CDbMgt dbMgt(strDir);
            dbMgt.setUserId(1);
            CWaiter waiter(dbMgt);
            for (int i = 0; i < kQueries.size(); ++i) {
                const QVariantMap mapData{{s("offset"), 0},
                                          {s("number"), kPageSize},
                                          {s("search_string"), kQueries.at(i).strText}};
                waiter.wait(dbMgt.getNoteListByOffset(mapData)); // warm
                for (int r = 0; r < 5; ++r) {
                    QElapsedTimer t;
                    t.start();
                    const QVariantMap mapResult = waiter.wait(dbMgt.getNoteListByOffset(mapData));
                    vecStore[i] << double(t.nsecsElapsed()) / 1e6;
                    vecPlan[i] = mapResult.value(s("search_plan")).toString();
                    vecHits[i] = mapResult.value(s("result")).toList().size();
                }
            }
        }
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(s("QSQLITE"), s("direct"));
            db.setDatabaseName(strFile);
            db.open();
            {
                QSqlQuery q(db);
                q.setForwardOnly(true);
                for (int i = 0; i < kQueries.size(); ++i) {
                    const QString strPattern = QLatin1Char('%') + escapeLike(kQueries.at(i).strText)
                                               + QLatin1Char('%');
                    // The statement the list's search ran before.
                    q.prepare(s("SELECT id, server_id, user_id, substr(set_at,1,10) as set_at,"
                                " created_at, title, content, content_size, md5, updated_at,"
                                " deleted, uuid FROM note WHERE (user_id = 1 OR user_id IS NULL"
                                " OR user_id <= 0) AND (content LIKE :c ESCAPE '\\' or title LIKE"
                                " :c ESCAPE '\\') ORDER BY note.set_at DESC, note.updated_at DESC"
                                " LIMIT 50 OFFSET 0"));
                    q.bindValue(s(":c"), strPattern);
                    QElapsedTimer t;
                    t.start();
                    if (!q.exec())
                        fail(q, "like");
                    int nRows = 0;
                    while (q.next()) {
                        for (int c = 0; c < 12; ++c)
                            (void) q.value(c).toString();
                        ++nRows;
                    }
                    q.finish();
                    vecLike[i] << double(t.nsecsElapsed()) / 1e6;
                    vecLikeHits[i] = nRows;
                }
            }
            db.close();
            db = QSqlDatabase();
            QSqlDatabase::removeDatabase(s("direct"));
        }
    }

    std::printf("\n| Query | hits on page 1 | plan | store (ms) | LIKE scan (ms) |\n");
    std::printf("|---|---:|---|---:|---:|\n");
    bool bMet = true;
    for (int i = 0; i < kQueries.size(); ++i) {
        const double dStore = median(vecStore.at(i));
        bMet = bMet && dStore <= 10;
        std::printf("| %s | %d | %s | %.2f | %.1f |\n",
                    kQueries.at(i).pLabel,
                    vecHits.at(i),
                    qPrintable(vecPlan.at(i)),
                    dStore,
                    median(vecLike.at(i)));
        if (vecHits.at(i) != vecLikeHits.at(i))
            std::printf("  (the LIKE scan found %d on page 1)\n", vecLikeHits.at(i));
    }

    QSqlDatabase db = QSqlDatabase::addDatabase(s("QSQLITE"), s("size"));
    db.setDatabaseName(strFile);
    db.open();
    const qint64 nContent = scalar(db, s("SELECT SUM(LENGTH(CAST(content AS BLOB))) FROM note"));
    const qint64 nPlain = scalar(db, s("SELECT SUM(LENGTH(CAST(plain_text AS BLOB))) FROM note"));
    const qint64 nIndex = indexBytes(db, s("note_fts"));
    std::printf("\nNotes' rich text %.1f MB, visible text %.1f MB, file %.1f MB (%.1f MB before)\n",
                double(nContent) / 1e6,
                double(nPlain) / 1e6,
                double(QFileInfo(strFile).size()) / 1e6,
                dFileBefore);
    const qint64 nFree = scalar(db, s("PRAGMA freelist_count")) * scalar(db, s("PRAGMA page_size"));
    std::printf("Free pages left by the migration (a VACUUM gives them back): %.1f MB\n",
                double(nFree) / 1e6);
    std::printf("Index (trigram, detail=none, contentless): %.1f MB = %.2f x the visible text\n",
                double(nIndex) / 1e6,
                double(nIndex) / double(nPlain));

    if (bIndexOptions) {
        QSqlQuery q(db);
        for (const char *pDetail : {"full", "column"}) {
            const QString strTable = QStringLiteral("opt_%1").arg(QLatin1String(pDetail));
            QElapsedTimer t;
            t.start();
            if (!q.exec(QStringLiteral("CREATE VIRTUAL TABLE %1 USING fts5(title, plain_text,"
                                       " content='', tokenize='trigram', detail=%2, columnsize=0)")
                            .arg(strTable, QLatin1String(pDetail)))
                || !q.exec(QStringLiteral("INSERT INTO %1(rowid, title, plain_text) SELECT id,"
                                          " IFNULL(title, ''), plain_text FROM note")
                               .arg(strTable))) {
                fail(q, "index option");
                continue;
            }
            const qint64 nBytes = indexBytes(db, strTable);
            std::printf("Index (trigram, detail=%s, contentless): %.1f MB = %.2f x the visible"
                        " text, built in %.1f s\n",
                        pDetail,
                        double(nBytes) / 1e6,
                        double(nBytes) / double(nPlain),
                        double(t.elapsed()) / 1000);
            q.exec(QStringLiteral("DROP TABLE %1").arg(strTable));
        }
        std::printf("(An index holding its own copy of the text adds the visible text, %.1f MB;"
                    " one with external content reads it from the note table and is the size"
                    " of the contentless one.)\n",
                    double(nPlain) / 1e6);
    }
    db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(s("size"));
    std::printf("\nGoal: every search through the store within 10 ms: %s\n",
                bMet ? "met" : "NOT met");
    return bMet ? 0 : 1;
}
