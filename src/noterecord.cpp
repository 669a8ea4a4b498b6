#include "noterecord.h"

#include "notetext.h"
#include "sqlbuilder.h"

#include "kelpolog.h"
#include "wiretime.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QRegularExpression>
#include <QTextDocument>
#include <QUuid>

#include <cmath>

namespace {

const int kTitleLength = 50;

bool isNumber(const QVariant &var)
{
    switch (var.userType()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        return true;
    case QMetaType::Double:
        return std::isfinite(var.toDouble()) && std::floor(var.toDouble()) == var.toDouble();
    default:
        return false;
    }
}

bool isText(const QVariant &var)
{
    return var.userType() == QMetaType::QString;
}

// A time of change: the kept form, or the wire form with its zone.
bool isMoment(const QString &str)
{
    return WireTime::parse(str, QTimeZone::utc()).isValid();
}

} // namespace

namespace NoteRecord {

QString dayOf(const QString &strDateTime)
{
    return strDateTime.section(QLatin1Char(' '), 0, 0);
}

void normaliseSetAt(QVariantMap &map)
{
    const QString strSetAt(QStringLiteral("set_at"));
    if (map.contains(strSetAt))
        map.insert(strSetAt, dayOf(map.value(strSetAt).toString()) + QStringLiteral(" 00:00:00"));
}

void prepare(QVariantMap &map, const QString &strGivenNow)
{
    const QString strNow = strGivenNow.isEmpty() ? currentUtcString() : strGivenNow;
    const QString strContent(QStringLiteral("content"));
    const QString strTitle(QStringLiteral("title"));
    const QString strUpdatedAt(QStringLiteral("updated_at"));
    if (map.contains(strContent)) {
        const QString str = map.value(strContent).toString();
        if (str.isEmpty()) {
            map.insert(strTitle, str);
            map.insert(strUpdatedAt, strNow);
            fillContentDigest(map);
        } else if (!map.contains(QStringLiteral("md5"))) {
            fillContentDigest(map);
        }
    }
    if (map.value(QStringLiteral("content_size")).toInt() <= 0 && map.contains(strTitle)) {
        if (!map.contains(strContent))
            map.insert(strContent, QString());
        map.insert(strTitle, map.value(strContent).toString());
        map.insert(strUpdatedAt, strNow);
        fillContentDigest(map);
    }
    normaliseSetAt(map);
}

void convertServerItem(QVariantMap &map, int nUserId)
{
    QVariantMap mapNew{{QStringLiteral("user_id"), nUserId}};
    if (map.contains(QStringLiteral("id")))
        mapNew.insert(QStringLiteral("server_id"), map.value(QStringLiteral("id")));
    for (const char *key :
         {"set_at", "title", "content", "content_size", "md5", "created_at", "updated_at", "uuid"}) {
        const QString strKey = QLatin1String(key);
        if (map.contains(strKey))
            mapNew.insert(strKey, map.value(strKey));
    }
    map = mapNew;
}

void fillDisplayFields(QVariantMap &map)
{
    // The store delivers each note's visible text ("plain_text", taken out here); a text
    // document is built only for a note whose text is not derived yet (an older diary being
    // migrated) or that shows no text (pictures alone).
    const QString strPlainStored = map.take(QStringLiteral("plain_text")).toString();
    const QString strContent = map.value(QStringLiteral("content")).toString();
    if (!strContent.isEmpty() && map.value(QStringLiteral("title")).toString().isEmpty()) {
        QString strTitle = strPlainStored;
        if (strTitle.trimmed().isEmpty()) {
            QTextDocument doc;
            doc.setHtml(strContent);
            // Pictures stand in the plain text as object replacement characters: no title
            // text. A note of pictures alone is listed as one, not as a blank row.
            const QString strPlain = doc.toPlainText();
            strTitle = QString(strPlain).remove(QChar::ObjectReplacementCharacter);
            if (strTitle.trimmed().isEmpty() && strPlain.contains(QChar::ObjectReplacementCharacter))
                strTitle = QCoreApplication::translate("CNoteMgt", "[Picture]");
        }
        map.insert(QStringLiteral("title"), titleFromPlainText(strTitle, kTitleLength));
    }
    if (map.contains(QStringLiteral("set_at")))
        map.insert(QStringLiteral("set_at"), dayOf(map.value(QStringLiteral("set_at")).toString()));
}

void fillDisplayFieldsOfList(QVariantList &list)
{
    for (QVariant &item : list) {
        QVariantMap map = item.toMap();
        fillDisplayFields(map);
        item = map;
    }
}

bool isTombstone(const QVariantMap &map)
{
    return map.value(QStringLiteral("deleted")).toInt() == 1;
}

bool lacksText(const QVariantMap &map)
{
    return map.value(QStringLiteral("content")).toString().isEmpty()
           && map.value(QStringLiteral("content_size")).toInt() > 0;
}

QString textDigest(const QVariantMap &map)
{
    if (map.value(QStringLiteral("content_size")).toInt() <= 0)
        return QString();
    return map.value(QStringLiteral("md5")).toString();
}

QVariantMap singleNoteOfReply(const QVariant &varPayload)
{
    QVariantMap map = varPayload.toMap();
    if (varPayload.type() == QVariant::List && !varPayload.toList().isEmpty())
        map = varPayload.toList().first().toMap();
    if (map.value(QStringLiteral("id")).toInt() <= 0)
        return QVariantMap();
    return map;
}

QVariantMap noteForServer(const QVariantMap &mapLocalItem)
{
    QVariantMap map;
    for (const char *key : {"uuid", "set_at", "created_at", "title", "updated_at"}) {
        const QString strKey = QLatin1String(key);
        const QString strValue = mapLocalItem.value(strKey).toString();
        if (!strValue.isEmpty())
            map.insert(strKey, strValue);
    }
    if (!lacksText(mapLocalItem)) {
        const QString strContent = mapLocalItem.value(QStringLiteral("content")).toString();
        map.insert(QStringLiteral("content"), strContent);
        map.insert(QStringLiteral("title"), mapLocalItem.value(QStringLiteral("title")).toString());
        QVariantMap mapDigest{{QStringLiteral("content"), strContent}};
        fillContentDigest(mapDigest);
        map.insert(QStringLiteral("content_size"), mapDigest.value(QStringLiteral("content_size")));
        map.insert(QStringLiteral("md5"), mapDigest.value(QStringLiteral("md5")).toString());
    }
    return map;
}

bool isValidServerNote(const QVariantMap &map, QString *pError)
{
    auto fail = [pError](const QString &strError) {
        if (pError)
            *pError = strError;
        return false;
    };
    const QVariant id = map.value(QStringLiteral("id"));
    if (!isNumber(id) || id.toLongLong() <= 0 || id.toLongLong() > 0x7fffffff)
        return fail(QStringLiteral("\"id\" is not a note id"));
    for (const char *pKey : {"user_id", "content_size"}) {
        const QVariant var = map.value(QLatin1String(pKey));
        if (var.isValid() && (!isNumber(var) || var.toLongLong() < 0))
            return fail(QStringLiteral("\"%1\" is not a number").arg(QLatin1String(pKey)));
    }
    const QVariant deleted = map.value(QStringLiteral("deleted"));
    if (deleted.isValid() && (!isNumber(deleted) || (deleted.toInt() != 0 && deleted.toInt() != 1)))
        return fail(QStringLiteral("\"deleted\" is not 0 or 1"));
    for (const char *pKey :
         {"uuid", "set_at", "created_at", "updated_at", "title", "content", "md5"}) {
        const QVariant var = map.value(QLatin1String(pKey));
        if (var.isValid() && !isText(var))
            return fail(QStringLiteral("\"%1\" is not a text").arg(QLatin1String(pKey)));
    }
    const QString strUuid = map.value(QStringLiteral("uuid")).toString();
    if (!strUuid.isEmpty() && QUuid(strUuid).isNull())
        return fail(QStringLiteral("\"uuid\" is not a UUID"));
    if (!isMoment(map.value(QStringLiteral("updated_at")).toString()))
        return fail(QStringLiteral("\"updated_at\" is not a time"));
    const QString strCreatedAt = map.value(QStringLiteral("created_at")).toString();
    if (!strCreatedAt.isEmpty() && !isMoment(strCreatedAt))
        return fail(QStringLiteral("\"created_at\" is not a time"));
    const QString strSetAt = map.value(QStringLiteral("set_at")).toString();
    if (!isMoment(strSetAt)
        && !(strSetAt.size() == 10
             && QDate::fromString(strSetAt, QStringLiteral("yyyy-MM-dd")).isValid()))
        return fail(QStringLiteral("\"set_at\" is not a day"));
    static const QRegularExpression reDigest(QStringLiteral("^[0-9a-fA-F]{32}$"));
    const QString strMd5 = map.value(QStringLiteral("md5")).toString();
    if (!strMd5.isEmpty() && !reDigest.match(strMd5).hasMatch())
        return fail(QStringLiteral("\"md5\" is not a digest"));
    return true;
}

QVariantList validServerNotes(const QVariantList &lstNotes)
{
    QVariantList lst;
    for (const QVariant &var : lstNotes) {
        QString strError;
        if (var.userType() == QMetaType::QVariantMap && isValidServerNote(var.toMap(), &strError))
            lst << var;
        else
            qCWarning(lcNote) << "A note of the service's answer is left out:" << strError;
    }
    return lst;
}

} // namespace NoteRecord
