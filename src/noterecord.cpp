#include "noterecord.h"

#include "notetext.h"
#include "sqlbuilder.h"

#include <QCoreApplication>
#include <QTextDocument>

namespace {

const int kTitleLength = 50;

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

void prepare(QVariantMap &map)
{
    const QString strContent(QStringLiteral("content"));
    const QString strTitle(QStringLiteral("title"));
    const QString strUpdatedAt(QStringLiteral("updated_at"));
    if (map.contains(strContent)) {
        const QString str = map.value(strContent).toString();
        if (str.isEmpty()) {
            map.insert(strTitle, str);
            map.insert(strUpdatedAt, currentTimeString());
            fillContentDigest(map);
        } else if (!map.contains(QStringLiteral("md5"))) {
            fillContentDigest(map);
        }
    }
    if (map.value(QStringLiteral("content_size")).toInt() <= 0 && map.contains(strTitle)) {
        if (!map.contains(strContent))
            map.insert(strContent, QString());
        map.insert(strTitle, map.value(strContent).toString());
        map.insert(strUpdatedAt, currentTimeString());
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

} // namespace NoteRecord
