#ifndef NOTELISTMODEL_H
#define NOTELISTMODEL_H

#include <QAbstractListModel>
#include <QHash>
#include <QString>
#include <QVariantList>
#include <QVariantMap>
#include <QVector>

// The rows of a note list, newest day first, each note once. A note's arrival costs a
// hash look-up and a binary search by day, so merging a note into 100 000 rows costs
// about what it costs with 10 (a synchronisation delivers them one by one, in any order).
//
// Roles as the list's delegates read them: _uuid, _title, _set_at ("yyyy-MM-dd"),
// _content, _snippet (visible text around a search match, empty otherwise), and
// _title_marked, _snippet_marked: the same as styled text with the search text in bold;
// _updated_at and _md5: the version of the note the row shows, which an editor opened
// from the row names as the one its change is made from; _content_size: the size of the
// text at the service (a row without its text yet has a size and no _content).
class CNoteListModel : public QAbstractListModel
{
    Q_OBJECT
    Q_PROPERTY(int count READ count NOTIFY countChanged)
    // Single notes merged while a search is shown are kept only when they hold it (in the
    // title or the visible text, blind to case); pages come filtered by the store.
    Q_PROPERTY(QString searchText READ searchText WRITE setSearchText NOTIFY searchTextChanged)

public:
    enum Role {
        UuidRole = Qt::UserRole + 1,
        TitleRole,
        SetAtRole,
        ContentRole,
        SnippetRole,
        TitleMarkedRole,
        SnippetMarkedRole,
        UpdatedAtRole,
        Md5Role,
        ContentSizeRole,
    };

    explicit CNoteListModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int nRole) const override;
    QHash<int, QByteArray> roleNames() const override;

    int count() const;
    QString searchText() const;
    void setSearchText(const QString &strText);

    Q_INVOKABLE void clear();
    // Merges one note: a listed uuid is updated (and moved when its day changed), a new
    // one goes after the rows of later days and before those of its own day.
    Q_INVOKABLE void appendMapData(const QVariantMap &mapNote);
    // Merges a page of notes; those marked deleted are left out.
    Q_INVOKABLE void appendList(const QVariantList &lstNotes);
    // Replaces the rows by the notes as given, in their order (a day's list).
    Q_INVOKABLE void setItems(const QVariantList &lstNotes);
    Q_INVOKABLE void removeUuid(const QString &strUuid);
    // The row as a map of its roles ("_uuid", ...); empty outside the rows.
    Q_INVOKABLE QVariantMap get(int nRow) const;
    Q_INVOKABLE int indexOf(const QString &strUuid) const;

signals:
    void countChanged();
    void searchTextChanged();

private:
    struct Row
    {
        QString strUuid;
        QString strTitle;
        QString strSetAt;
        QString strContent;
        QString strSnippet;
        QString strUpdatedAt;
        QString strMd5;
        qint64 nContentSize = 0;
    };

    static Row rowOf(const QVariantMap &mapNote);
    bool keeps(const QVariantMap &mapNote, const Row &row) const;
    int insertPosition(const QString &strSetAt) const;
    void merge(const QVariantMap &mapNote, bool bFilter);
    QString marked(const QString &strText) const;

    QVector<Row> m_vecRows;
    // uuid -> day of the listed note; the row is found by its day.
    QHash<QString, QString> m_hashDay;
    QString m_strSearch;
};

#endif // NOTELISTMODEL_H
