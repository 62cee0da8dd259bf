#pragma once
// The one line syntax the simulator reads everywhere: control commands,
// preloaded message files, --message options and its own store dumps.
//
// A line is a list of words separated by blanks. A word is either a bare
// word (`dump`, `on`, `250`) or `key=value`. Double quotes group blanks into a
// word, and a backslash escapes the next character, inside or outside quotes:
//
//   \n \r \t      line feed, carriage return, tab
//   \\ \" \'      the character itself
//   \xHH          the character U+00HH
//   \uHHHH        the character U+HHHH
//
// so   text="Pump \"A\", level low\nsecond line"   is one word.

#include <QList>
#include <QString>

namespace devsim {

struct Word
{
    QString key;   // empty for a bare word
    QString value; // the bare word itself, or the part after the first '='
};

// Splits a line into words. Returns false with a message on an unterminated
// quote or a broken escape.
bool ParseWords(const QString &line, QList<Word> &words, QString &error);

// Writes a value so that ParseWords reads it back unchanged.
QString QuoteValue(const QString &value);

} // namespace devsim
