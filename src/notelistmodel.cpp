#include "notelistmodel.h"

#include "notetext.h"

#include <algorithm>

namespace {

QString dayOf(const QString &strSetAt)
{
    return strSetAt.section(QLatin1Char(' '), 0, 0);
}

} // namespace

CNoteListModel::CNoteListModel(QObject *parent)
    : QAbstractListModel(parent)
{}

int CNoteListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_vecRows.size();
}

QVariant CNoteListModel::data(const QModelIndex &index, int nRole) const
{
    if (!index.isValid() || index.row() < 0 || index.row() >= m_vecRows.size())
        return QVariant();
    const Row &row = m_vecRows.at(index.row());
    switch (nRole) {
    case UuidRole:
        return row.strUuid;
    case TitleRole:
        return row.strTitle;
    case SetAtRole:
        return row.strSetAt;
    case ContentRole:
        return row.strContent;
    case SnippetRole:
        return row.strSnippet;
    case TitleMarkedRole:
        return marked(row.strTitle);
    case SnippetMarkedRole:
        return marked(row.strSnippet);
    case UpdatedAtRole:
        return row.strUpdatedAt;
    case Md5Role:
        return row.strMd5;
    case ContentSizeRole:
        return row.nContentSize;
    default:
        return QVariant();
    }
}

QHash<int, QByteArray> CNoteListModel::roleNames() const
{
    return {{UuidRole, "_uuid"},
            {TitleRole, "_title"},
            {SetAtRole, "_set_at"},
            {ContentRole, "_content"},
            {SnippetRole, "_snippet"},
            {TitleMarkedRole, "_title_marked"},
            {SnippetMarkedRole, "_snippet_marked"},
            {UpdatedAtRole, "_updated_at"},
            {Md5Role, "_md5"},
            {ContentSizeRole, "_content_size"}};
}

int CNoteListModel::count() const
{
    return m_vecRows.size();
}

QString CNoteListModel::searchText() const
{
    return m_strSearch;
}

void CNoteListModel::setSearchText(const QString &strText)
{
    if (strText == m_strSearch)
        return;
    m_strSearch = strText;
    emit searchTextChanged();
    if (!m_vecRows.isEmpty())
        emit dataChanged(index(0),
                         index(m_vecRows.size() - 1),
                         {TitleMarkedRole, SnippetMarkedRole});
}

void CNoteListModel::clear()
{
    if (m_vecRows.isEmpty())
        return;
    beginResetModel();
    m_vecRows.clear();
    m_hashDay.clear();
    endResetModel();
    emit countChanged();
}

void CNoteListModel::appendMapData(const QVariantMap &mapNote)
{
    merge(mapNote, true);
}

void CNoteListModel::appendList(const QVariantList &lstNotes)
{
    for (const QVariant &item : lstNotes) {
        const QVariantMap mapNote = item.toMap();
        if (mapNote.value(QStringLiteral("deleted")).toString().trimmed() != QLatin1String("1"))
            merge(mapNote, false);
    }
}

void CNoteListModel::setItems(const QVariantList &lstNotes)
{
    beginResetModel();
    m_vecRows.clear();
    m_hashDay.clear();
    for (const QVariant &item : lstNotes) {
        const Row row = rowOf(item.toMap());
        m_hashDay.insert(row.strUuid, row.strSetAt);
        m_vecRows.append(row);
    }
    endResetModel();
    emit countChanged();
}

void CNoteListModel::removeUuid(const QString &strUuid)
{
    const int nRow = indexOf(strUuid);
    if (nRow < 0)
        return;
    beginRemoveRows(QModelIndex(), nRow, nRow);
    m_vecRows.remove(nRow);
    m_hashDay.remove(strUuid);
    endRemoveRows();
    emit countChanged();
}

QVariantMap CNoteListModel::get(int nRow) const
{
    if (nRow < 0 || nRow >= m_vecRows.size())
        return QVariantMap();
    QVariantMap map;
    const QHash<int, QByteArray> hashRoles = roleNames();
    for (auto it = hashRoles.cbegin(); it != hashRoles.cend(); ++it)
        map.insert(QString::fromLatin1(it.value()), data(index(nRow), it.key()));
    return map;
}

int CNoteListModel::indexOf(const QString &strUuid) const
{
    const auto it = m_hashDay.constFind(strUuid);
    if (it == m_hashDay.cend())
        return -1;
    // The rows of that day lie together; a day holds few notes.
    for (int i = insertPosition(it.value()); i < m_vecRows.size(); ++i) {
        if (m_vecRows.at(i).strUuid == strUuid)
            return i;
        if (m_vecRows.at(i).strSetAt != it.value())
            break;
    }
    // Rows given as a whole (setItems) need not be in order.
    for (int i = 0; i < m_vecRows.size(); ++i) {
        if (m_vecRows.at(i).strUuid == strUuid)
            return i;
    }
    return -1;
}

CNoteListModel::Row CNoteListModel::rowOf(const QVariantMap &mapNote)
{
    Row row;
    row.strUuid = mapNote.value(QStringLiteral("uuid")).toString();
    row.strTitle = mapNote.value(QStringLiteral("title")).toString();
    row.strSetAt = dayOf(mapNote.value(QStringLiteral("set_at")).toString());
    row.strContent = mapNote.value(QStringLiteral("content")).toString();
    row.strSnippet = mapNote.value(QStringLiteral("snippet")).toString();
    row.strUpdatedAt = mapNote.value(QStringLiteral("updated_at")).toString();
    row.strMd5 = mapNote.value(QStringLiteral("md5")).toString();
    row.nContentSize = mapNote.value(QStringLiteral("content_size")).toLongLong();
    return row;
}

bool CNoteListModel::keeps(const QVariantMap &mapNote, const Row &row) const
{
    if (m_strSearch.isEmpty() || containsFolded(row.strTitle, m_strSearch))
        return true;
    const QString strPlain(QStringLiteral("plain_text"));
    const QString strVisible = mapNote.contains(strPlain) ? mapNote.value(strPlain).toString()
                                                          : notePlainText(row.strContent);
    return containsFolded(strVisible, m_strSearch);
}

// The first row of the note's day or an earlier one: rows run newest day first.
int CNoteListModel::insertPosition(const QString &strSetAt) const
{
    const auto it = std::partition_point(m_vecRows.cbegin(), m_vecRows.cend(), [&](const Row &row) {
        return strSetAt < row.strSetAt;
    });
    return int(it - m_vecRows.cbegin());
}

void CNoteListModel::merge(const QVariantMap &mapNote, bool bFilter)
{
    Row row = rowOf(mapNote);
    if (bFilter && !keeps(mapNote, row))
        return;
    const int nOld = indexOf(row.strUuid);
    if (nOld >= 0 && m_vecRows.at(nOld).strSetAt == row.strSetAt) {
        m_vecRows[nOld] = row;
        emit dataChanged(index(nOld), index(nOld));
        return;
    }
    if (nOld >= 0) {
        // Another day: the note moves there, so that the rows stay newest day first.
        beginRemoveRows(QModelIndex(), nOld, nOld);
        m_vecRows.remove(nOld);
        endRemoveRows();
    }
    const int nPos = insertPosition(row.strSetAt);
    beginInsertRows(QModelIndex(), nPos, nPos);
    m_hashDay.insert(row.strUuid, row.strSetAt);
    m_vecRows.insert(nPos, row);
    endInsertRows();
    if (nOld < 0)
        emit countChanged();
}

QString CNoteListModel::marked(const QString &strText) const
{
    const int nFound = m_strSearch.isEmpty() ? -1
                                             : strText.indexOf(m_strSearch, 0, Qt::CaseInsensitive);
    if (nFound < 0)
        return strText.toHtmlEscaped();
    return strText.left(nFound).toHtmlEscaped() + QStringLiteral("<b>")
           + strText.mid(nFound, m_strSearch.size()).toHtmlEscaped() + QStringLiteral("</b>")
           + strText.mid(nFound + m_strSearch.size()).toHtmlEscaped();
}
