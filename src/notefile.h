#ifndef NOTEFILE_H
#define NOTEFILE_H

#include <QByteArray>
#include <QList>
#include <QString>
#include <QVariantMap>

class QDir;
class QTextDocument;

// A note as a file of its own, as export writes it and import reads it: Markdown with a
// front matter, or HTML with the same fields in a leading comment; pictures as files
// beside it.
namespace NoteFile {

// The fields of the header, in the order they are written.
extern const QStringList kHeaderFields; // "title", "date", "created", "updated", "uuid"

// Puts a note's stored text into doc as the editor reads it: rich text when it looks like
// rich text, else plain text with its lines and its "<" and "&" as typed.
void setNoteText(QTextDocument &doc, const QString &strContent);

// Marks the characters of doc's text that Markdown would read as markup (emphasis, links,
// HTML, entities, and headings, lists or quotes where a line may start) as literal, so
// that the Markdown written from doc reads back as the same text.
void escapeMarkdown(QTextDocument &doc);

// What a note is called in file names: its title, else the start of its text, else "Note".
QString displayTitle(const QString &strTitle, const QString &strContent);
// "2026-12-10 A walk in the kelp forest": the day and the title, with characters that
// file systems refuse or misread replaced and the length bounded.
QString baseName(const QString &strDay, const QString &strTitle);

// The Markdown front matter ("---" lines) or the HTML comment that carries mapFields.
QString header(const QVariantMap &mapFields, bool bHtml);
// Takes the header off the start of strText into mapFields. Returns false when the text
// has none; an unreadable header gives false with pstrError set.
bool takeHeader(QString &strText, QVariantMap &mapFields, QString *pstrError);

struct Picture
{
    QString strFileName;
    QByteArray baData;
};
// Replaces every picture held in the text as data ("data:...;base64,...") by a file name
// strStem + "-N.<type>" and returns the pictures to be written.
QList<Picture> takePictures(QTextDocument &doc, const QString &strStem);
// Replaces every picture named by a relative file in dir by its data, sized as the editor
// sizes inserted pictures. Pictures already held as data stay. Returns "" or the reason
// the note cannot be read (a missing or unreadable picture).
QString inlinePictures(QTextDocument &doc, const QDir &dir);
// The data form of a picture as the editor stores it: "data:image/png;base64,...".
QString dataUrl(const QByteArray &baData);
// What makes two notes the same for an import: the text with its blanks made single, and
// the bytes of each picture. Formatting does not count, so a note read back from
// Markdown matches the note it was written from.
QString fingerprint(const QString &strHtml);
// The editor's displayed size of a picture: the longer side at most 500.
void scaledSize(int nWidth, int nHeight, int *pnWidth, int *pnHeight);

} // namespace NoteFile

#endif // NOTEFILE_H
