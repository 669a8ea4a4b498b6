#ifndef DBROWS_H
#define DBROWS_H

#include <QMetaType>
#include <QSharedDataPointer>
#include <QStringList>
#include <QVariant>
#include <QVector>

class QSqlQuery;
struct sqlite3;

// The rows of one statement as the database worker reads them: the column names once and
// every value one after the other, so that reading a row costs its values and nothing
// else. Implicitly shared: handing it to another thread copies a pointer.
// toList() gives the rows as the store's callers know them: one map of column name to
// text per row.
class CDbRows
{
public:
    CDbRows();
    CDbRows(const CDbRows &other);
    CDbRows &operator=(const CDbRows &other);
    ~CDbRows();

    // Reads the rows that the executed query has left, every value as text (a NULL as a
    // null string). The query's lastError() tells whether the reading stopped early.
    static CDbRows read(QSqlQuery &query);
    // Runs a statement that only reads straight on the connection, keeping every value
    // as the UTF-8 the file holds: the texts are made where toList() is called, and the
    // worker allocates one block for the whole answer instead of one text per value.
    // Gives the same rows as read() would. False, with nothing run that changes anything,
    // for a statement that may write, holds more than one statement or fails: the caller
    // then runs it the usual way, which reports the error.
    static bool select(sqlite3 *pDb, const QString &strSql, CDbRows &rows);

    int rowCount() const;
    // Column names in name order; the values of a row follow that order.
    QStringList columns() const;
    QVariant value(int nRow, int nColumn) const;
    QVariantList toList() const;

private:
    struct Data;
    QSharedDataPointer<Data> d;
};

Q_DECLARE_METATYPE(CDbRows)

#endif // DBROWS_H
