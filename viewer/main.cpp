#include "loglibrary.h"
#include "orvaneapp.h"
#include "stringtable.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QTranslator>

int main(int argc, char *argv[])
{
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
