#include "notejson.h"

#include "validation.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariant>

#include <cstdio>

QString NoteJson::noteColumns(bool bPostgres, bool bWithContent, const QString &strCarried)
{
    QString strContent = QStringLiteral("NULL");
    if (bWithContent)
        strContent = bPostgres ? QStringLiteral("convert_to(content, 'UTF8')")
                               : QStringLiteral("CAST(content AS BLOB)");
    QString strColumns = QStringLiteral("id, uuid, user_id, set_at, created_at, updated_at, title,"
                                        " %1, content_size, md5, deleted");
    if (!bWithContent || strCarried.isEmpty())
        return strColumns.arg(strContent);
    return (strColumns + QStringLiteral(", CASE WHEN %2 THEN 1 ELSE 0 END"))
        .arg(QStringLiteral("CASE WHEN %1 THEN %2 ELSE NULL END").arg(strCarried, strContent),
             strCarried);
}

qint64 NoteJson::escapedSize(const QString &str)
{
    qint64 nSize = 0;
    for (const QChar c : str) {
        const ushort u = c.unicode();
        if (u < 0x20)
            nSize += u == '\n' || u == '\r' || u == '\t' ? 2 : 6;
        else if (u == '"' || u == '\\')
            nSize += 2;
        else if (u < 0x80)
            nSize += 1;
        else if (u < 0x800 || c.isSurrogate())
            nSize += 2; // (a surrogate pair is four bytes of UTF-8)
        else
            nSize += 3;
    }
    return nSize;
}

void NoteJson::appendString(QByteArray &ba, const QString &str)
{
    appendUtf8(ba, str.toUtf8());
}

void NoteJson::appendUtf8(QByteArray &ba, const QByteArray &baUtf8)
{
    ba.reserve(ba.size() + baUtf8.size() + 2);
    ba.append('"');
    for (const char c : baUtf8) {
        switch (c) {
        case '"':
            ba.append("\\\"", 2);
            break;
        case '\\':
            ba.append("\\\\", 2);
            break;
        case '\n':
            ba.append("\\n", 2);
            break;
        case '\r':
            ba.append("\\r", 2);
            break;
        case '\t':
            ba.append("\\t", 2);
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                char szEscape[8];
                std::snprintf(szEscape, sizeof szEscape, "\\u%04x", unsigned(c));
                ba.append(szEscape, 6);
            } else {
                ba.append(c);
            }
        }
    }
    ba.append('"');
}

void NoteJson::appendNote(QByteArray &ba, const QSqlQuery &query, bool bWithContent, bool bWire)
{
    appendNote(ba, query, bWithContent, bWire, false);
}

void NoteJson::appendNote(
    QByteArray &ba, const QSqlQuery &query, bool bWithContent, bool bWire, bool bCarriedColumn)
{
    if (bWithContent && bCarriedColumn)
        bWithContent = query.value(11).toInt() == 1;
    static const char *const aszText[]
        = {"uuid", "set_at", "created_at", "updated_at", "title", "md5"};
    static const int anTextColumn[] = {1, 3, 4, 5, 6, 9};
    ba.append("{\"id\":");
    ba.append(QByteArray::number(query.value(0).toLongLong()));
    ba.append(",\"user_id\":");
    ba.append(QByteArray::number(query.value(2).toLongLong()));
    ba.append(",\"content_size\":");
    ba.append(QByteArray::number(query.value(8).toLongLong()));
    ba.append(",\"deleted\":");
    ba.append(QByteArray::number(query.value(10).toLongLong()));
    for (int i = 0; i < 6; ++i) {
        ba.append(",\"");
        ba.append(aszText[i]);
        ba.append("\":");
        const QString strValue = query.value(anTextColumn[i]).toString();
        // created_at and updated_at are kept in UTC.
        appendString(ba, i == 2 || i == 3 ? Validation::answerTime(strValue, bWire) : strValue);
    }
    if (bWithContent) {
        ba.append(",\"content\":");
        appendUtf8(ba, query.value(7).toByteArray());
    }
    ba.append('}');
}

bool NoteJson::appendNoteList(QByteArray &ba, QSqlQuery &query, bool bWithContent, bool bWire)
{
    ba = "{\"notes\":[";
    const bool bCarriedColumn = query.record().count() > 11;
    for (bool bFirst = true; query.next(); bFirst = false) {
        if (!bFirst)
            ba.append(',');
        appendNote(ba, query, bWithContent, bWire, bCarriedColumn);
    }
    ba.append("]}");
    return !query.lastError().isValid();
}

void NoteJson::insertServerTime(QByteArray &ba, const QString &strWireTime)
{
    if (!ba.startsWith('{'))
        return;
    QByteArray baMember = "\"server_time\":";
    appendString(baMember, strWireTime);
    const bool bEmpty = ba.mid(1).trimmed().startsWith('}');
    if (!bEmpty)
        baMember.append(',');
    ba.insert(1, baMember);
}
