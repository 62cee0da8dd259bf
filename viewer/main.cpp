#include "commandline.h"
#include "loglibrary.h"
#include "orvaneapp.h"
#include "stringtable.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QTranslator>
#include <algorithm>
#include <cstdio>
#include <cstring>

int main(int argc, char *argv[])
{
    // Answered before anything needs a display, so they work anywhere.
    QStringList words;
    for (int i = 1; i < argc; ++i)
        words.append(QString::fromLocal8Bit(argv[i]));
    const QString info = orvane::COrvaneCommandLineInfo::InfoText(words);
    if (!info.isEmpty()) {
        std::fputs(info.toLocal8Bit().constData(), stdout);
        return 0;
    }

    // A report written with -pdf, or printed with -p or -pt, needs no
    // screen: on a machine without one it runs on the offscreen platform
    // instead of failing to start.
    const bool pdfOnly = std::any_of(argv + 1, argv + argc, [](const char *a) {
        return std::strcmp(a, "-pdf") == 0 || std::strcmp(a, "-p") == 0 ||
               std::strcmp(a, "-pt") == 0 || std::strcmp(a, "/p") == 0 ||
               std::strcmp(a, "/pt") == 0;
    });
    if (pdfOnly && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
        qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");

    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Brantwick"));
    QApplication::setApplicationName(QStringLiteral("Orvane"));
    QApplication::setDesktopFileName(QStringLiteral("orvane"));

    orvane::SetLanguage(orvane::DetectLanguage());
    // Qt's own dialogs (the file dialog) follow the same language.
    QTranslator qtTexts;
    if (orvane::CurrentLanguage() == orvane::Language::Chinese &&
        qtTexts.load(QStringLiteral("qtbase_zh_TW"),
                     QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtTexts);

    std::unique_ptr<orvane::LogLibrary> library = orvane::MakeTamsinLibrary();
    orvane::COrvaneApp orvaneApp(*library);
    QStringList arguments = QApplication::arguments();
    arguments.removeFirst();
    if (!orvaneApp.InitInstance(arguments))
        return orvaneApp.exitCode();
    return QApplication::exec();
}
