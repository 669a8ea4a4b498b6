#ifndef NOTETEXT_H
#define NOTETEXT_H

#include <QString>
#include <QVariantMap>

// What a person sees of a note, as plain text, and what lists show of it. Free functions,
// safe on any thread (they build no widget and load no picture).

// The visible text of a note body: rich text converted with Qt's own conversion
// (QTextDocument), plain text as it stands; pictures are left out. Paragraphs become
// line breaks.
QString notePlainText(const QString &strContent);
// A text typed without formatting as a note body keeps it: as it stands, unless it would be
// read as rich text (a tag such as "<b>" or "<div>" before the end of its first line, or
// "&lt;"); then as rich text that shows exactly the typed text, every character of it.
QString plainTextContent(const QString &strPlain);
// A text typed without formatting as rich text that shows exactly it: each line a
// paragraph, blanks and tabs kept, characters escaped, no font of its own.
QString plainTextAsRichText(const QString &strPlain);
// When the note has "content": "plain_text" = notePlainText of it.
void fillPlainText(QVariantMap &mapNote);
// A list title: the first nLength characters of the plain text, never half a character.
QString titleFromPlainText(const QString &strPlain, int nLength = 50);
// Whether strText holds strNeedle, blind to case in every script (Unicode case folding).
bool containsFolded(const QString &strText, const QString &strNeedle);
// A short piece of the plain text around the first match of strNeedle (case-blind), on one
// line, with "…" where it was cut; the first nLength characters when there is no match.
QString searchSnippet(const QString &strPlain, const QString &strNeedle, int nLength = 80);

#endif // NOTETEXT_H
