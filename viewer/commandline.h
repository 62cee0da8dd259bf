#pragma once
// The viewer's command line: a file path and named switches, each switch
// optionally followed by a value word.

#include <QMap>
#include <QString>
#include <QStringList>

namespace orvane {

class COrvaneCommandLineInfo
{
public:
    // What the framework does with the command line after parsing.
    enum ShellCommand
    {
        FileNew,
        FileOpen,
        FilePrint,
        FilePrintTo
    };

    // Called once per word, in order. text is the word without its leading
    // "-" or "/" when isSwitch is set.
    void ParseParam(const QString &text, bool isSwitch, bool isLast);

    // Splits argument words (program name left out) into ParseParam calls.
    // A word starting with "-" is a switch. So is one starting with "/",
    // unless it is an absolute path: a further "/" in it, or an existing file.
    static COrvaneCommandLineInfo Parse(const QStringList &arguments);
    // For "--help" (or "-h") and "--version" anywhere on the command line:
    // the text to print before ending with 0, which needs no display. Empty
    // for any other command line.
    static QString InfoText(const QStringList &arguments);

    bool has(const QString &name) const { return switches.contains(name); }
    QString value(const QString &name) const { return switches.value(name); }

    QMap<QString, QString> switches;
    QString lastSwitch;

    // The framework's share: the first non-switch word is the file.
    QString fileName;
    ShellCommand shellCommand = FileNew;
    QString printerName;

private:
    void ParseFrameworkFlag(const QString &name);
    void ParseFrameworkWord(const QString &word);
};

} // namespace orvane
