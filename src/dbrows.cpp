#include "dbrows.h"

#include <QSqlQuery>
#include <QSqlRecord>

#include <algorithm>

#include <sqlite3.h>

struct CDbRows::Data : public QSharedData
{
    QStringList lstColumns;
    // Values as texts (read()), or as UTF-8 in one block (select()): then each value is
    // an offset and a length into baText, a length of -1 for a NULL.
    QVector<QVariant> vecValues;
    QByteArray baText;
    QVector<int> vecSpans;
    int nRows = 0;
};

namespace {

// Column positions in name order, so that each row's map is later filled from its end
// without searching.
template<typename NameOf>
QVector<QPair<QString, int>> columnsByName(int nCount, NameOf nameOf)
{
    QVector<QPair<QString, int>> vecColumns;
    vecColumns.reserve(nCount);
    for (int i = 0; i < nCount; ++i)
        vecColumns.append(qMakePair(nameOf(i), i));
    std::stable_sort(vecColumns.begin(), vecColumns.end(), [](const auto &a, const auto &b) {
        return a.first < b.first;
    });
    return vecColumns;
}

bool readsOnly(const QString &strSql)
{
    const QString strStart = strSql.trimmed().left(6);
    return strStart.compare(QLatin1String("SELECT"), Qt::CaseInsensitive) == 0
           || strStart.left(4).compare(QLatin1String("WITH"), Qt::CaseInsensitive) == 0;
}

} // namespace

CDbRows::CDbRows()
    : d(new Data)
{}

CDbRows::CDbRows(const CDbRows &other) = default;
CDbRows &CDbRows::operator=(const CDbRows &other) = default;
CDbRows::~CDbRows() = default;

CDbRows CDbRows::read(QSqlQuery &query)
{
    const QSqlRecord record = query.record();
    const auto vecColumns = columnsByName(record.count(),
                                          [&record](int i) { return record.fieldName(i); });
    CDbRows rows;
    Data *pData = rows.d.data();
    for (const auto &column : vecColumns)
        pData->lstColumns.append(column.first);
    while (query.next()) {
        for (const auto &column : vecColumns)
            pData->vecValues.append(QVariant(query.value(column.second).toString()));
        ++pData->nRows;
    }
    return rows;
}

bool CDbRows::select(sqlite3 *pDb, const QString &strSql, CDbRows &rows)
{
    if (!pDb || !readsOnly(strSql))
        return false;
    sqlite3_stmt *pStmt = nullptr;
    const void *pTail = nullptr;
    const int nSqlBytes = strSql.size() * int(sizeof(QChar));
    if (sqlite3_prepare16_v2(pDb, strSql.utf16(), nSqlBytes, &pStmt, &pTail) != SQLITE_OK
        || !pStmt) {
        sqlite3_finalize(pStmt);
        return false;
    }
    // One statement that reads and answers with rows; anything else goes the usual way.
    const int nTailChars = int(
        (static_cast<const char *>(pTail) - reinterpret_cast<const char *>(strSql.utf16()))
        / int(sizeof(QChar)));
    const int nColumns = sqlite3_column_count(pStmt);
    if (!sqlite3_stmt_readonly(pStmt) || nColumns < 1
        || !strSql.midRef(nTailChars).trimmed().isEmpty()) {
        sqlite3_finalize(pStmt);
        return false;
    }
    // The names as the Qt driver gives them: without double quotes.
    const auto vecColumns = columnsByName(nColumns, [pStmt](int i) {
        return QString(static_cast<const QChar *>(sqlite3_column_name16(pStmt, i)))
            .remove(QLatin1Char('"'));
    });

    CDbRows result;
    Data *pData = result.d.data();
    for (const auto &column : vecColumns)
        pData->lstColumns.append(column.first);
    int nRc;
    while ((nRc = sqlite3_step(pStmt)) == SQLITE_ROW) {
        for (const auto &column : vecColumns) {
            const int nColumn = column.second;
            const char *pBytes = nullptr;
            int nBytes = 0;
            QByteArray baNumber;
            switch (sqlite3_column_type(pStmt, nColumn)) {
            case SQLITE_NULL:
                pData->vecSpans << 0 << -1;
                continue;
            case SQLITE_FLOAT:
                // Written as the driver's double would be.
                baNumber = QVariant(sqlite3_column_double(pStmt, nColumn)).toString().toUtf8();
                pBytes = baNumber.constData();
                nBytes = baNumber.size();
                break;
            case SQLITE_BLOB:
                // As the driver's byte array becomes a text: up to its first zero byte.
                pBytes = static_cast<const char *>(sqlite3_column_blob(pStmt, nColumn));
                nBytes = int(qstrnlen(pBytes, uint(sqlite3_column_bytes(pStmt, nColumn))));
                break;
            default:
                pBytes = reinterpret_cast<const char *>(sqlite3_column_text(pStmt, nColumn));
                nBytes = sqlite3_column_bytes(pStmt, nColumn);
                break;
            }
            pData->vecSpans << pData->baText.size() << nBytes;
            pData->baText.append(pBytes, nBytes);
        }
        ++pData->nRows;
    }
    sqlite3_finalize(pStmt);
    if (nRc != SQLITE_DONE)
        return false;
    rows = result;
    return true;
}

int CDbRows::rowCount() const
{
    return d->nRows;
}

QStringList CDbRows::columns() const
{
    return d->lstColumns;
}

QVariant CDbRows::value(int nRow, int nColumn) const
{
    const int nIndex = nRow * d->lstColumns.size() + nColumn;
    if (d->vecSpans.isEmpty())
        return d->vecValues.value(nIndex);
    if (nRow < 0 || nColumn < 0 || nColumn >= d->lstColumns.size() || nRow >= d->nRows)
        return QVariant();
    const int nLength = d->vecSpans.at(2 * nIndex + 1);
    if (nLength < 0)
        return QVariant(QString());
    // An empty text is an empty string, not a NULL.
    if (nLength == 0)
        return QVariant(QString(QLatin1String("")));
    return QVariant(QString::fromUtf8(d->baText.constData() + d->vecSpans.at(2 * nIndex), nLength));
}

QVariantList CDbRows::toList() const
{
    QVariantList lstRows;
    if (d->nRows == 0)
        return lstRows;
    const int nColumns = d->lstColumns.size();
    // Every row has the same keys: the first map is built once and copied, which copies
    // its tree without comparing or balancing, and the copy's values are then set in key
    // order.
    QVariantMap mapTemplate;
    for (const QString &strColumn : qAsConst(d->lstColumns))
        mapTemplate.insert(mapTemplate.cend(), strColumn, QVariant());
    lstRows.reserve(d->nRows);
    if (mapTemplate.size() != nColumns) {
        // A name given to two columns: the later one's value stands, as in any map.
        for (int nRow = 0; nRow < d->nRows; ++nRow) {
            QVariantMap mapRow;
            for (int nColumn = 0; nColumn < nColumns; ++nColumn)
                mapRow.insert(mapRow.cend(), d->lstColumns.at(nColumn), value(nRow, nColumn));
            lstRows.append(mapRow);
        }
        return lstRows;
    }
    for (int nRow = 0; nRow < d->nRows; ++nRow) {
        QVariantMap mapRow = mapTemplate;
        int nColumn = 0;
        for (auto it = mapRow.begin(); it != mapRow.end(); ++it)
            *it = value(nRow, nColumn++);
        lstRows.append(mapRow);
    }
    return lstRows;
}
