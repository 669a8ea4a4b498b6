#ifndef STOREMESSAGES_H
#define STOREMESSAGES_H

#include <QString>
#include <QVariantMap>

// What the user is told when the local store fails: what happened and, where there is one,
// what to do. Never the statement; the file is named where it helps.
namespace StoreMessages {

// Why a store request failed, from its result map ("error_kind", "error_text", "error"),
// as a sentence that can follow "could not be saved: ".
QString failureReason(const QVariantMap &mapResult, const QString &strDbFile);

// Whether the result's failure is that the store could not be opened at all.
bool isOpenFailure(const QVariantMap &mapResult);

// The message for a notice of the store (CThreadDb::notice); bError tells whether it is
// an error or an information. Empty when there is nothing to say.
QString noticeMessage(const QVariantMap &mapNotice, bool &bError);

} // namespace StoreMessages

#endif // STOREMESSAGES_H
