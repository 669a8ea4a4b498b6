#ifndef PROTOCOL_H
#define PROTOCOL_H

// The words of the note service's protocol that the application (CNetMgt, CNoteMgt)
// and the service (kelpo-server) both use: endpoint names, form fields, answer members
// and the error texts that the application reacts to. One place, so that the two
// programs cannot drift apart by a typo.

#include <QLatin1String>

namespace Protocol {

namespace Detail {
template<int N>
constexpr QLatin1String word(const char (&sz)[N])
{
    return QLatin1String(sz, N - 1);
}
} // namespace Detail

// POST http://HOST:PORT/mobile/ENDPOINT
namespace Endpoint {
inline constexpr QLatin1String kRegisterUser = Detail::word("register_user");
inline constexpr QLatin1String kLogin = Detail::word("login");
inline constexpr QLatin1String kForgotPwd = Detail::word("forgot_pwd");
inline constexpr QLatin1String kResetPwd = Detail::word("reset_pwd");
inline constexpr QLatin1String kReplaceNoteItem = Detail::word("replace_note_item");
inline constexpr QLatin1String kInsertNoteItem = Detail::word("insert_note_item");
inline constexpr QLatin1String kUpdateNoteItem = Detail::word("update_note_item");
inline constexpr QLatin1String kCompareUpdateNoteItem = Detail::word("compare_update_note_item");
inline constexpr QLatin1String kGetNoteListByMonth = Detail::word("get_note_list_by_month");
inline constexpr QLatin1String kGetNoteListByOffset = Detail::word("get_note_list_by_offset");
inline constexpr QLatin1String kGetNoteItem = Detail::word("get_note_item");
// The account's notes by their place in the service's sequence of changes, the latest
// first (see the fields below).
inline constexpr QLatin1String kGetNoteChanges = Detail::word("get_note_changes");
} // namespace Endpoint

// Form fields of the requests and members of the answers.
namespace Field {
// Login state, sent with every request after a login.
inline constexpr QLatin1String kUserId = Detail::word("user_id");
inline constexpr QLatin1String kLoginToken = Detail::word("login_token");
// Accounts.
inline constexpr QLatin1String kName = Detail::word("name");
inline constexpr QLatin1String kPwd = Detail::word("pwd");
inline constexpr QLatin1String kPwdOrg = Detail::word("pwd_org");
inline constexpr QLatin1String kEmail = Detail::word("email");
inline constexpr QLatin1String kNickname = Detail::word("nickname");
inline constexpr QLatin1String kLang = Detail::word("lang");
inline constexpr QLatin1String kLoginFrom = Detail::word("login_from");
inline constexpr QLatin1String kClassifyString = Detail::word("classify_string");
inline constexpr QLatin1String kUserName = Detail::word("user_name");
inline constexpr QLatin1String kUserEmail = Detail::word("user_email");
inline constexpr QLatin1String kResetToken = Detail::word("reset_token");
// Notes.
inline constexpr QLatin1String kId = Detail::word("id");
inline constexpr QLatin1String kNoteId = Detail::word("note_id");
inline constexpr QLatin1String kUuid = Detail::word("uuid");
inline constexpr QLatin1String kSetAt = Detail::word("set_at");
inline constexpr QLatin1String kCreatedAt = Detail::word("created_at");
inline constexpr QLatin1String kUpdatedAt = Detail::word("updated_at");
inline constexpr QLatin1String kTitle = Detail::word("title");
inline constexpr QLatin1String kContent = Detail::word("content");
inline constexpr QLatin1String kContentSize = Detail::word("content_size");
inline constexpr QLatin1String kMd5 = Detail::word("md5");
inline constexpr QLatin1String kDeleted = Detail::word("deleted");
// Lists.
inline constexpr QLatin1String kTimeYear = Detail::word("time_year");
inline constexpr QLatin1String kTimeMonth = Detail::word("time_month");
inline constexpr QLatin1String kLimit = Detail::word("limit");
inline constexpr QLatin1String kOffset = Detail::word("offset");
inline constexpr QLatin1String kIsSync = Detail::word("is_sync");
inline constexpr QLatin1String kStartTime = Detail::word("start_time");
inline constexpr QLatin1String kEndTime = Detail::word("end_time");
inline constexpr QLatin1String kSearchString = Detail::word("search_string");
// "0": the list answer leaves every note's text out (its size and digest stay).
inline constexpr QLatin1String kWithContent = Detail::word("with_content");
// Changes: every write of a note takes the next number of its account's change sequence.
// "cursor": the number the client has seen everything up to (0: nothing); "before": walk
// on below this number (0: from the latest change); "content_limit": texts of at most this
// many bytes come with the notes, larger ones are left out (0: none).
inline constexpr QLatin1String kCursor = Detail::word("cursor");
inline constexpr QLatin1String kBefore = Detail::word("before");
inline constexpr QLatin1String kContentLimit = Detail::word("content_limit");
// Answer: the account's latest change number when the request came ("last_change"), the
// notes still to come above the cursor and below "before" ("remaining", this page
// included), and where the next page starts ("before"; 0: nothing is left below).
inline constexpr QLatin1String kLastChange = Detail::word("last_change");
inline constexpr QLatin1String kRemaining = Detail::word("remaining");
// A note's number never goes down while the account's history goes on. The answer names
// the note with the highest number up to "last_change" ("check_uuid", with that number as
// "check_change"); a later request that sends both back is answered "restored" true when
// that note's number is now lower, or the note is gone: the service's database was put
// back from an older copy, and the numbers above the cursor are no longer those the
// client followed.
inline constexpr QLatin1String kCheckUuid = Detail::word("check_uuid");
inline constexpr QLatin1String kCheckChange = Detail::word("check_change");
inline constexpr QLatin1String kRestored = Detail::word("restored");
// Times: a request with "times" "utc" reads the times of changes in answers as
// "yyyy-MM-ddThh:mm:ssZ"; without it as the service's local time "yyyy-MM-dd hh:mm:ss".
// Requests may send either form.
inline constexpr QLatin1String kTimes = Detail::word("times");
inline constexpr QLatin1String kTimesUtc = Detail::word("utc");
// Every answer of an endpoint: the service's clock, "yyyy-MM-ddThh:mm:ssZ".
inline constexpr QLatin1String kServerTime = Detail::word("server_time");
// The version a change was made from (replace_note_item, update_note_item): the time and
// digest of the last version the sender had from the service or had acknowledged by it
// ("base_md5" empty for a version without text). When the note's current version at the
// service is another one, a change that wins still answers "conflict" true and the text
// it replaced as "replaced" (a note object, times as requested), so that the sender keeps
// it as a conflict copy.
inline constexpr QLatin1String kBaseUpdatedAt = Detail::word("base_updated_at");
inline constexpr QLatin1String kBaseMd5 = Detail::word("base_md5");
inline constexpr QLatin1String kConflict = Detail::word("conflict");
inline constexpr QLatin1String kReplaced = Detail::word("replaced");
// Answers.
inline constexpr QLatin1String kError = Detail::word("error");
inline constexpr QLatin1String kNotes = Detail::word("notes");
inline constexpr QLatin1String kApplied = Detail::word("applied");
inline constexpr QLatin1String kMessage = Detail::word("message");
} // namespace Field

// Error texts with a meaning of their own. The application compares them without
// regard to letter case.
namespace Error {
// The login token is unknown, of another user or expired: log in again.
inline constexpr QLatin1String kTokenWrong = Detail::word("Login token is wrong.");
// The name or the password of a login is wrong.
inline constexpr QLatin1String kWrongLogin = Detail::word("Wrong name or password.");
inline constexpr QLatin1String kTooMany = Detail::word("Too many attempts. Try again later.");
// The service has no room for the request now (status 503).
inline constexpr QLatin1String kBusy = Detail::word("The service is busy. Try again in a moment.");
// A change or look-up of a note the account does not hold.
inline constexpr QLatin1String kNoNote = Detail::word("The note does not exist.");
} // namespace Error

// Texts of successful answers.
namespace Text {
// The "message" of every answer to forgot_pwd, whether or not an account matched.
inline constexpr QLatin1String kResetSent = Detail::word(
    "If an account has this name or e-mail address, a mail with a reset code is on its way"
    " to its address.");
} // namespace Text

} // namespace Protocol

#endif // PROTOCOL_H
