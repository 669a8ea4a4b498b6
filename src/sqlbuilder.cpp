#include "sqlbuilder.h"

#include <atomic>

#include <QCryptographicHash>
#include <QDateTime>
#include <QStringList>
#include <QUuid>
#include <QtNumeric>

namespace {

const QString kNote = QStringLiteral("note");

// A value as it is pasted into a statement: unquoted for numeric columns, otherwise a
// quoted literal with its quotes doubled.
// A numeric column's value is written as a number only when it is one; anything else is
// quoted, so that no text can become part of the statement.
QString literal(const QString &strColumn, const QVariant &value, const QSet<QString> &setNumeric)
{
    if (setNumeric.contains(strColumn)) {
        const QString strText = value.toString().trimmed();
        bool bOk = false;
        const qlonglong nValue = strText.toLongLong(&bOk);
        if (bOk)
            return QString::number(nValue);
        const double dValue = strText.toDouble(&bOk);
        if (bOk && qIsFinite(dValue))
            return QString::number(dValue, 'g', 17);
    }
    return QLatin1Char('\'') + escapeQuotes(value.toString()) + QLatin1Char('\'');
}

// New notes always carry a UUID and the time of this save.
void addNoteColumns(QVariantMap &mapSpec)
{
    if (mapSpec.value(QStringLiteral("table")).toString() != kNote)
        return;
    QVariantMap mapData = mapSpec.value(QStringLiteral("data")).toMap();
    if (!mapData.contains(QStringLiteral("uuid")))
        mapData.insert(QStringLiteral("uuid"), createUuidString());
    // The store's owner may give its own clock's reading under "now".
    const QString strNow = mapSpec.take(QStringLiteral("now")).toString();
    mapData.insert(QStringLiteral("updated_at"), strNow.isEmpty() ? currentUtcString() : strNow);
    mapSpec.insert(QStringLiteral("data"), mapData);
}

QString columnList(const QVariantMap &mapData)
{
    QStringList lst;
    for (auto it = mapData.cbegin(); it != mapData.cend(); ++it)
        lst << escapeQuotes(it.key());
    return lst.join(QLatin1Char(','));
}

enum class ConditionStyle { Select, Update };

QString combinedCondition(const QVariantMap &mapSpec,
                          const QSet<QString> &setNumeric,
                          ConditionStyle style)
{
    QString strCondition;
    const QVariant where = mapSpec.value(QStringLiteral("where"));
    if (where.type() == QVariant::String) {
        // In brackets, so that an OR inside it cannot take the rest of the condition along.
        if (!where.toString().trimmed().isEmpty())
            strCondition = QLatin1Char('(') + where.toString() + QLatin1Char(')');
    } else if (where.type() == QVariant::Map) {
        const QVariantMap mapWhere = where.toMap();
        QStringList lst;
        for (auto it = mapWhere.cbegin(); it != mapWhere.cend(); ++it) {
            const QString &strColumn = it.key();
            const QVariant &value = it.value();
            if (style == ConditionStyle::Select) {
                if (value.isNull())
                    lst << strColumn + QStringLiteral(" IS NULL");
                else
                    lst << strColumn + QStringLiteral(" = ")
                               + literal(strColumn, value, setNumeric);
            } else {
                if (!value.isValid())
                    lst << strColumn + QStringLiteral(" IS NULL");
                else
                    lst << QLatin1Char('`') + strColumn + QStringLiteral("` = ")
                               + literal(strColumn, value, setNumeric);
            }
        }
        strCondition = lst.join(QStringLiteral(" AND "));
    }
    const QString strAndWhere = mapSpec.value(QStringLiteral("and_where")).toString();
    if (!strAndWhere.isEmpty()) {
        if (!strCondition.isEmpty())
            strCondition += QStringLiteral(" AND ");
        strCondition += QLatin1Char('(') + strAndWhere + QLatin1Char(')');
    }
    return strCondition;
}

QString withCondition(QString strSql, const QString &strCondition)
{
    if (!strCondition.isEmpty())
        strSql += QStringLiteral(" WHERE ") + strCondition;
    return strSql;
}

} // namespace

QString escapeQuotes(const QString &str)
{
    QString strOut = str;
    return strOut.replace(QLatin1Char('\''), QStringLiteral("''"));
}

QString escapeLike(const QString &str)
{
    QString strOut;
    strOut.reserve(str.size() + 8);
    for (const QChar ch : str) {
        if (ch == QLatin1Char('\\') || ch == QLatin1Char('%') || ch == QLatin1Char('_'))
            strOut += QLatin1Char('\\');
        strOut += ch;
    }
    return strOut;
}

QString createUuidString()
{
    return QUuid::createUuid().toString();
}

QString md5Hex(const QString &str)
{
    return QString::fromLatin1(
        QCryptographicHash::hash(str.toUtf8(), QCryptographicHash::Md5).toHex());
}

void fillContentDigest(QVariantMap &mapNote)
{
    if (!mapNote.contains(QStringLiteral("content")))
        return;
    const QByteArray baContent = mapNote.value(QStringLiteral("content")).toString().toUtf8();
    mapNote.insert(QStringLiteral("content_size"), baContent.size());
    if (baContent.isEmpty())
        mapNote.insert(QStringLiteral("md5"), QVariant());
    else
        mapNote.insert(QStringLiteral("md5"),
                       QString::fromLatin1(
                           QCryptographicHash::hash(baContent, QCryptographicHash::Md5).toHex()));
}

namespace {
std::atomic<TimeSource> g_pTimeSource{nullptr};
} // namespace

void setTimeSource(TimeSource pSource)
{
    g_pTimeSource = pSource;
}

QString currentTimeString()
{
    if (const TimeSource pSource = g_pTimeSource)
        return pSource();
    return QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
}

QString currentUtcString()
{
    if (const TimeSource pSource = g_pTimeSource)
        return pSource();
    return QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
}

QString buildInsertPrepared(QVariantMap &mapSpec)
{
    const QString strTable = mapSpec.value(QStringLiteral("table")).toString();
    if (strTable.isEmpty() || mapSpec.value(QStringLiteral("data")).toMap().isEmpty())
        return QString();
    addNoteColumns(mapSpec);
    const QVariantMap mapData = mapSpec.value(QStringLiteral("data")).toMap();
    QStringList lstValues;
    for (auto it = mapData.cbegin(); it != mapData.cend(); ++it)
        lstValues << QLatin1Char(':') + it.key();
    return QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
        .arg(strTable, columnList(mapData), lstValues.join(QLatin1Char(',')));
}

QString buildInsert(QVariantMap &mapSpec, const QSet<QString> &setNumeric)
{
    const QString strTable = mapSpec.value(QStringLiteral("table")).toString();
    if (strTable.isEmpty() || mapSpec.value(QStringLiteral("data")).toMap().isEmpty())
        return QString();
    addNoteColumns(mapSpec);
    const QVariantMap mapData = mapSpec.value(QStringLiteral("data")).toMap();
    QStringList lstValues;
    for (auto it = mapData.cbegin(); it != mapData.cend(); ++it) {
        if (!it.value().isValid())
            lstValues << QStringLiteral("NULL");
        else
            lstValues << literal(it.key(), it.value(), setNumeric);
    }
    return QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
        .arg(strTable, columnList(mapData), lstValues.join(QLatin1Char(',')));
}

QString buildSelect(const QVariantMap &mapSpec, const QSet<QString> &setNumeric)
{
    const QString strTable = mapSpec.value(QStringLiteral("table")).toString();
    if (strTable.isEmpty())
        return QString();
    const QVariant field = mapSpec.value(QStringLiteral("field"));
    QString strFields;
    if (field.type() == QVariant::List || field.type() == QVariant::StringList)
        strFields = field.toStringList().join(QStringLiteral(", "));
    else
        strFields = field.toString();
    if (strFields.isEmpty())
        strFields = QStringLiteral("*");
    return withCondition(QStringLiteral("SELECT %1 FROM %2").arg(strFields, strTable),
                         combinedCondition(mapSpec, setNumeric, ConditionStyle::Select));
}

QString buildUpdate(const QVariantMap &mapSpec, const QSet<QString> &setNumeric)
{
    const QString strTable = mapSpec.value(QStringLiteral("table")).toString();
    if (strTable.isEmpty())
        return QString();
    const QVariantMap mapData = mapSpec.value(QStringLiteral("data")).toMap();
    QStringList lstSet;
    for (auto it = mapData.cbegin(); it != mapData.cend(); ++it) {
        if (!it.value().isValid())
            lstSet << it.key() + QStringLiteral(" = NULL");
        else
            lstSet << it.key() + QStringLiteral(" = ") + literal(it.key(), it.value(), setNumeric);
    }
    return withCondition(QStringLiteral("UPDATE %1 SET ").arg(strTable)
                             + lstSet.join(QStringLiteral(", ")),
                         combinedCondition(mapSpec, setNumeric, ConditionStyle::Update));
}

QString buildUpdatePrepared(const QVariantMap &mapSpec, const QSet<QString> &setNumeric)
{
    const QString strTable = mapSpec.value(QStringLiteral("table")).toString();
    if (strTable.isEmpty())
        return QString();
    const QVariantMap mapData = mapSpec.value(QStringLiteral("data")).toMap();
    QStringList lstSet;
    for (auto it = mapData.cbegin(); it != mapData.cend(); ++it)
        lstSet << QStringLiteral("%1 = :%1").arg(it.key());
    lstSet << mapSpec.value(QStringLiteral("set_sql")).toStringList();
    return withCondition(QStringLiteral("UPDATE %1 SET %2")
                             .arg(strTable, lstSet.join(QStringLiteral(", "))),
                         combinedCondition(mapSpec, setNumeric, ConditionStyle::Update));
}
