#include "dbrows.h"

#include <QSqlQuery>
#include <QSqlRecord>

#include <algorithm>

struct CDbRows::Data : public QSharedData
{
    QStringList lstColumns;
    QVector<QVariant> vecValues;
    int nRows = 0;
};

CDbRows::CDbRows()
    : d(new Data)
{}

CDbRows::CDbRows(const CDbRows &other) = default;
CDbRows &CDbRows::operator=(const CDbRows &other) = default;
CDbRows::~CDbRows() = default;

CDbRows CDbRows::read(QSqlQuery &query)
{
    // Columns in name order, so that each row's map is later filled from its end without
    // searching.
    const QSqlRecord record = query.record();
    QVector<QPair<QString, int>> vecColumns;
    vecColumns.reserve(record.count());
    for (int i = 0; i < record.count(); ++i)
        vecColumns.append(qMakePair(record.fieldName(i), i));
    std::stable_sort(vecColumns.begin(), vecColumns.end(), [](const auto &a, const auto &b) {
        return a.first < b.first;
    });

    CDbRows rows;
    Data *pData = rows.d.data();
    for (const auto &column : qAsConst(vecColumns))
        pData->lstColumns.append(column.first);
    while (query.next()) {
        for (const auto &column : qAsConst(vecColumns))
            pData->vecValues.append(QVariant(query.value(column.second).toString()));
        ++pData->nRows;
    }
    return rows;
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
    return d->vecValues.value(nRow * d->lstColumns.size() + nColumn);
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
    const QVariant *pValue = d->vecValues.constData();
    if (mapTemplate.size() != nColumns) {
        // A name given to two columns: the later one's value stands, as in any map.
        for (int nRow = 0; nRow < d->nRows; ++nRow) {
            QVariantMap mapRow;
            for (const QString &strColumn : qAsConst(d->lstColumns))
                mapRow.insert(mapRow.cend(), strColumn, *pValue++);
            lstRows.append(mapRow);
        }
        return lstRows;
    }
    for (int nRow = 0; nRow < d->nRows; ++nRow) {
        QVariantMap mapRow = mapTemplate;
        for (auto it = mapRow.begin(); it != mapRow.end(); ++it)
            *it = *pValue++;
        lstRows.append(mapRow);
    }
    return lstRows;
}
