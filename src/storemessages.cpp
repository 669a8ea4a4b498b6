#include "storemessages.h"

#include "threaddb.h"

#include <QCoreApplication>
#include <QDir>

namespace StoreMessages {

namespace {

QString tr(const char *pText)
{
    return QCoreApplication::translate("StoreMessages", pText);
}

QString shown(const QString &strFile)
{
    return QDir::toNativeSeparators(strFile);
}

// The driver's text without the statement that "error" carries in parentheses.
QString plainError(const QVariantMap &mapResult)
{
    QString strText = mapResult.value(QStringLiteral("error_text")).toString().trimmed();
    if (!strText.isEmpty())
        return strText;
    strText = mapResult.value(QStringLiteral("error")).toString().trimmed();
    const int nOpen = strText.indexOf(QLatin1Char('('));
    if (nOpen > 0 && strText.endsWith(QLatin1Char(')')))
        strText = strText.left(nOpen).trimmed();
    return strText;
}

} // namespace

bool isOpenFailure(const QVariantMap &mapResult)
{
    const QString strError = mapResult.value(QStringLiteral("error")).toString();
    return strError.startsWith(QLatin1String("Fail to open db:"))
           || strError.startsWith(QLatin1String("Fail to add db connection:"));
}

QString failureReason(const QVariantMap &mapResult, const QString &strDbFile)
{
    const QString strKind = mapResult.value(QStringLiteral("error_kind")).toString();
    if (strKind == CThreadDb::kKindLocked)
        return tr("Kelpo is already open on this diary. Close the other window, then try again.");
    if (strKind == CThreadDb::kKindReadOnly)
        return tr("%1 cannot be written. Allow writing to it and to its folder, then try again.")
            .arg(shown(strDbFile));
    if (strKind == CThreadDb::kKindFull)
        return tr("the disk is full. Free some space, then try again.");
    if (strKind == CThreadDb::kKindDamaged)
        return tr("%1 is damaged. Copy what you wrote, then restore the file from a backup.")
            .arg(shown(strDbFile));
    if (strKind == CThreadDb::kKindDeleted)
        return tr("%1 was deleted while Kelpo was running. Kelpo has written it again from "
                  "the copy it had open; try again.")
            .arg(shown(strDbFile));
    if (strKind == CThreadDb::kKindReplaced)
        return tr("%1 was replaced by another file while Kelpo was running. Try again to "
                  "write into the new file.")
            .arg(shown(strDbFile));
    if (strKind == CThreadDb::kKindCannotOpen || isOpenFailure(mapResult))
        return tr("%1 cannot be opened (%2). Check that it is a file Kelpo may read and "
                  "write, in a folder that exists, then try again.")
            .arg(shown(strDbFile), plainError(mapResult));
    return plainError(mapResult);
}

QString noticeMessage(const QVariantMap &mapNotice, bool &bError)
{
    const QString strKind = mapNotice.value(QStringLiteral("kind")).toString();
    const QString strFile = shown(mapNotice.value(QStringLiteral("file")).toString());
    const QString strKept = shown(mapNotice.value(QStringLiteral("kept")).toString());
    bError = true;
    if (strKind == CThreadDb::kKindDamaged)
        return tr("The diary file %1 is damaged: some notes may not be readable. Copy what "
                  "you need, then restore the file from a backup.")
            .arg(strFile);
    if (strKind == CThreadDb::kKindDeleted) {
        if (strKept.isEmpty())
            return tr("The diary file %1 was deleted while Kelpo was running and could not be "
                      "written again: quit Kelpo and restore it from a backup.")
                .arg(strFile);
        return tr("The diary file %1 was deleted while Kelpo was running. Kelpo has written it "
                  "again from the copy it had open.")
            .arg(strFile);
    }
    if (strKind == CThreadDb::kKindReplaced) {
        if (strKept.isEmpty())
            return tr("The diary file %1 was replaced by another file while Kelpo was running. "
                      "Kelpo now uses the new file.")
                .arg(strFile);
        return tr("The diary file %1 was replaced by another file while Kelpo was running. "
                  "The notes Kelpo had open were kept in %2; Kelpo now uses the new file.")
            .arg(strFile, strKept);
    }
    if (strKind == CThreadDb::kKindUnfinishedDone) {
        const int nDone = mapNotice.value(QStringLiteral("count")).toInt();
        const int nFailed = mapNotice.value(QStringLiteral("failed")).toInt();
        if (nFailed > 0)
            return tr("Of the changes left unfinished when Kelpo last quit, %1 were saved now "
                      "and %2 could not be.")
                .arg(nDone)
                .arg(nFailed);
        bError = false;
        return tr("%1 changes left unfinished when Kelpo last quit were saved now.").arg(nDone);
    }
    return QString();
}

} // namespace StoreMessages
