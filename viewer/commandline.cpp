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

QString COrvaneCommandLineInfo::InfoText(const QStringList &arguments)
{
    if (arguments.contains(QLatin1String("--help")) || arguments.contains(QLatin1String("-h")))
        return QStringLiteral(
            "Usage: orvane [FILE] [switches]\n"
            "       orvane FILE [switches] -pdf OUT.pdf\n"
            "       orvane -p FILE [switches] | -pt FILE PRINTER [switches]\n"
            "\n"
            "Orvane lists the records of a history log written by Quillet, filters them\n"
            "by time span and group, prints them as a report and moves old records out.\n"
            "Put the file first; a switch may be followed by a value word.\n"
            "\n"
            "  -na            leave out the acknowledge-message column\n"
            "  -m2            add the append-message column\n"
            "  -t TITLE       report title\n"
            "  -mt1 TEXT      header of the acknowledge-message column\n"
            "  -mt2 TEXT      header of the append-message column\n"
            "  -c GROUP       list only the first group beginning with GROUP\n"
            "  -f             lock the group chosen with -c\n"
            "  -pdf OUT.pdf   write the report to OUT.pdf and exit, without a window\n"
            "  -p, -pt        print the report on the default or the named printer and exit\n"
            "  --help         show this text and exit\n"
            "  --version      show the version and exit\n"
            "\n"
            "One viewer runs per desktop session and display: a second start there\n"
            "hands its file to it. ORVANE_LANG=en or zh_TW overrides the language.\n");
    if (arguments.contains(QLatin1String("--version")))
        return QStringLiteral("orvane %1\n").arg(QStringLiteral(QUILLET_VERSION));
    return QString();
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
