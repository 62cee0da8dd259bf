#pragma once
// Which language a person reads, for both programs: Traditional Chinese for
// a Taiwan, Hong Kong, Macau or Hant locale, English for everything else.

#include <QLocale>
#include <QString>
#include <QStringList>

namespace uilanguage {

// `localeName` as "zh_TW", "zh-Hant-HK", "en_US.UTF-8", ...
inline bool IsTraditionalChinese(const QString &localeName)
{
    if (localeName.isEmpty())
        return false;
    const QLocale locale(QString(localeName).replace(u'-', u'_'));
    if (locale.language() != QLocale::Chinese)
        return false;
    const auto territory = locale.territory();
    return locale.script() == QLocale::TraditionalChineseScript || territory == QLocale::Taiwan ||
           territory == QLocale::HongKong || territory == QLocale::Macau;
}

// The locale whose language the texts follow: `overrideVariable` when set,
// else the desktop's. uiLanguages() follows LANGUAGE and LC_MESSAGES, which
// pick a program's texts on Linux; name() alone would follow LC_ALL only.
inline QString UserLocaleName(const char *overrideVariable)
{
    const QString forced = qEnvironmentVariable(overrideVariable);
    if (!forced.isEmpty())
        return forced;
    const QStringList languages = QLocale::system().uiLanguages();
    return languages.isEmpty() ? QLocale::system().name() : languages.first();
}

} // namespace uilanguage
