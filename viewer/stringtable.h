#pragma once
// Every text the viewer shows, in English and Traditional Chinese, looked up by
// its resource number. One table, chosen once at start-up from the user's
// language, so no text can be left in the other language by accident.

#include <QString>

namespace orvane {

// Resource numbers. Where the program's resources already numbered a string it
// keeps that number; the others live in the 20000 range so they never clash.
enum Sid : int
{
    IDR_MAINFRAME = 128, // document string
    IDS_ACK_HEADER = 132,
    IDS_APPEND_HEADER = 133,
    IDS_RECORD_COUNT = 134,
    IDS_READING = 135,
    IDS_REPORT_TITLE = 136,
    IDS_PAGE = 137,
    IDS_START_TIME = 138,
    IDS_END_TIME = 140,
    IDS_GROUP_SELECT = 152,
    IDS_PRINT_ALL = 153,
    IDS_ALL = 156,
    IDS_SUBGROUP_PART = 158,
    IDS_GROUP_JOIN = 159,

    // Command prompts: status-bar text, a newline, then the tooltip.
    ID_EXPORT_DATA = 32776,
    ID_VIEW_FOLLOW = 32777,
    ID_FILE_NEW = 57600,
    ID_FILE_OPEN = 57601,
    ID_FILE_PRINT_SETUP = 57606,
    ID_FILE_PRINT = 57607,
    ID_FILE_PRINT_DIRECT = 57608,
    ID_FILE_PRINT_PREVIEW = 57609,
    ID_FILE_MRU_FILE1 = 57616,
    ID_APP_ABOUT = 57664,
    ID_APP_EXIT = 57665,
    ID_HELP_FINDER = 57667,
    ID_VIEW_TOOLBAR = 59392,
    ID_VIEW_STATUS_BAR = 59393,

    AFX_IDS_APP_TITLE = 57344,
    AFX_IDS_IDLEMESSAGE = 57345,

    IDS_PROGRAM_RUNNING = 20001,
    IDS_OPEN_FILE_FAIL,
    IDS_PLEASE_WAIT,
    IDS_SELECT_GROUP_FIRST,
    IDS_CANNOT_OPEN_FILE,
    IDS_UNTITLED,
    IDS_FILE_FILTER,
    IDS_ALL_FILES_FILTER,
    IDS_OPEN_TITLE,

    IDS_COL_DATE_TIME,
    IDS_COL_GROUP,
    IDS_COL_SUBGROUP,
    IDS_COL_MESSAGE,

    IDS_BAR_SELECT_TIME,
    IDS_BAR_ENABLE,
    IDS_BAR_FROM,
    IDS_BAR_TO,
    IDS_BAR_SELECT_GROUP,
    IDS_BAR_LIST,
    IDS_BAR_TOOLBAR_TITLE,
    IDS_BAR_SELECTION_TITLE,

    IDS_MENU_FILE,
    IDS_MENU_OPEN,
    IDS_MENU_EXPORT,
    IDS_MENU_PRINT,
    IDS_MENU_PRINT_DIRECT,
    IDS_MENU_PRINT_PREVIEW,
    IDS_MENU_PRINT_SETUP,
    IDS_MENU_RECENT,
    IDS_MENU_EXIT,
    IDS_MENU_VIEW,
    IDS_MENU_TOOLBAR,
    IDS_MENU_STATUS_BAR,
    IDS_MENU_HELP,
    IDS_MENU_HELP_TOPICS,
    IDS_MENU_ABOUT,

    IDS_ABOUT_TITLE,
    IDS_ABOUT_PRODUCT,
    IDS_ABOUT_VERSION,
    IDS_ABOUT_PLATFORMS,
    IDS_OK,
    IDS_CANCEL,
    IDS_YES,
    IDS_NO,
    IDS_NUM,

    IDS_EXPORT_TITLE,
    IDS_EXPORT_METHOD,
    IDS_EXPORT_BEFORE,
    IDS_EXPORT_EXPORT,
    IDS_EXPORT_DELETE,
    IDS_DATA_SOURCE_ERROR,
    IDS_SOURCE_ILLEGAL,
    IDS_EXPORT_ERROR,
    IDS_DELETE_FAIL,
    IDS_EXPORT_SUCCESS,
    IDS_DELETE_SUCCESS,
    IDS_DELETE_QUESTION,
    IDS_LOG_FILES_FILTER,
    IDS_MENU_EXPORT_PDF,
    IDS_PDF_FILTER,
    IDS_NO_PRINTER,
    IDS_PDF_WRITE_FAIL,
    IDS_MENU_FOLLOW,
    IDS_MENU_CODE_PAGE,
    IDS_CODE_PAGE_BIG5,
    IDS_CODE_PAGE_GBK,
    IDS_CODE_PAGE_SHIFT_JIS,
    IDS_CODE_PAGE_EUC_KR,
    IDS_CODE_PAGE_WESTERN,
    IDS_PRINTER_NOT_FOUND,
    IDS_PRINT_FAIL,
    IDS_HANDED_OVER,
    IDS_HANDED_OVER_CAPTION,
    IDS_DELETE_SCOPE,
    IDS_EXPORT_SCOPE,
    IDS_EXPORT_QUESTION,
    IDS_LAST_STRING = IDS_EXPORT_QUESTION,
};

enum class Language
{
    English,
    Chinese
};

// The language of the texts. Chosen from ORVANE_LANG when set (a locale name
// such as "zh_TW" or "en_US"), else from the user's locale: a Traditional
// Chinese locale (Taiwan, Hong Kong, Macau, or the Hant script) gives Chinese,
// everything else English.
Language LanguageForLocale(const QString &localeName);
Language DetectLanguage();
void SetLanguage(Language language);
Language CurrentLanguage();

// The text of one resource string in the current language.
QString Str(Sid id);
// The text before the newline of a command prompt, and the text after it.
QString PromptOf(Sid id);
QString TooltipOf(Sid id);
// Field n (0-based) of the newline-separated document string.
QString DocStringField(int n);

// printf-style formatting of a resource string, as the program's resources
// are printf formats ("Record : %d/%d            ").
template <typename... Args> QString StrF(Sid id, Args... args)
{
    const QByteArray format = Str(id).toUtf8();
    return QString::asprintf(format.constData(), args...);
}

// True when every string has a text in both languages (checked by the tests).
bool StringTableComplete(QString *missing = nullptr);

} // namespace orvane
