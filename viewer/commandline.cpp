#include "commandline.h"

#include <QFileInfo>

namespace orvane {

void COrvaneCommandLineInfo::ParseParam(const QString &text, bool isSwitch, bool isLast)
{
    Q_UNUSED(isLast);
    if (isSwitch) {
        switches.insert(text, QStringLiteral("1"));
        lastSwitch = text;
        ParseFrameworkFlag(text);
    } else {
        if (!lastSwitch.isEmpty()) {
            switches.insert(lastSwitch, text);
            lastSwitch.clear();
        }
        ParseFrameworkWord(text);
    }
}

void COrvaneCommandLineInfo::ParseFrameworkFlag(const QString &name)
{
    // The framework's own switches keep their usual meaning: print the file,
    // or print it to a named printer.
    if (name.compare(u"pt", Qt::CaseInsensitive) == 0)
        shellCommand = FilePrintTo;
    else if (name.compare(u"p", Qt::CaseInsensitive) == 0)
        shellCommand = FilePrint;
}

void COrvaneCommandLineInfo::ParseFrameworkWord(const QString &word)
{
    if (fileName.isEmpty()) {
        fileName = word;
        if (shellCommand == FileNew)
            shellCommand = FileOpen;
    } else if (shellCommand == FilePrintTo && printerName.isEmpty()) {
        printerName = word;
    }
}

COrvaneCommandLineInfo COrvaneCommandLineInfo::Parse(const QStringList &arguments)
{
    COrvaneCommandLineInfo info;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &word = arguments.at(i);
        bool isSwitch = word.size() > 1 && word.startsWith(u'-');
        if (word.size() > 1 && word.startsWith(u'/')) {
            // On this platform "/" also starts every absolute path, which the
            // shell and the logger hand us; a switch name never holds a "/".
            const bool isPath = word.indexOf(u'/', 1) > 0 || QFileInfo(word).isFile();
            isSwitch = !isPath;
        }
        info.ParseParam(isSwitch ? word.mid(1) : word, isSwitch, i + 1 == arguments.size());
    }
    return info;
}

} // namespace orvane
