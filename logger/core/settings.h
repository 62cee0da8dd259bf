#pragma once
// Quillet.set: the INI-like settings file. The reader fills the global state,
// the writer writes it back.

#include <QString>
#include <QStringList>

namespace quillet {

constexpr int MaxSettingLines = 1000;

// Splits text into at most 1000 trimmed line slots (1-based, empty lines leave
// their slot empty) and returns the last line number.
int TextToArray(const QString &text, QStringList &lines);

// Value of Key in Section of already-read file content; Default when absent.
QString GetIniValue(const QString &section, const QString &key, const QString &defaultValue,
                    const QString &content);
// Same lookup over content already split by TextToArray.
QString GetIniValue(const QString &section, const QString &key, const QString &defaultValue,
                    const QStringList &lines, int count);

// The leading number of a text, as the 0/1 keys are read ("1abc" -> 1, "x" -> 0).
qint16 LeadingNumber(const QString &value);

// Fills the global settings from G.SettingFile, checking the log (and database)
// path with the exit option. Returns false when a path check ended the program.
bool LoadSettings();

// Writes the global settings to G.SettingFile (through a temporary file that
// replaces the old one only when complete). False when it could not be written.
bool Save2SettingFile();

// A DDE value as the file and the pokes carry it: locale-independent ("2.5").
QString DDEValueText(double value);

} // namespace quillet
