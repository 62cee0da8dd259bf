#include "stringtable.h"

#include "uilanguage.h"

#include <QLocale>
#include <QStringList>
#include <unordered_map>

namespace orvane {

namespace {

struct Entry
{
    const char *english;
    const char *chinese;
};

const std::unordered_map<int, Entry> &Table()
{
    static const std::unordered_map<int, Entry> table = {
        {AFX_IDS_APP_TITLE, {"Orvane", "Orvane"}},
        {AFX_IDS_IDLEMESSAGE, {"Ready", "就緒"}},
        {IDR_MAINFRAME,
         {"Orvane\n\nOrvane\nOrvane File (*.log)\n.log\nOrvane.Document\nOrvane Document",
          "Orvane\n\nOrvane\nOrvane 檔案 (*.log)\n.log\nOrvane.Document\nOrvane Document"}},
        {IDS_ACK_HEADER, {"AcKnowledge Message", "確認訊息"}},
        {IDS_APPEND_HEADER, {"Append Message", "附加訊息"}},
        {IDS_RECORD_COUNT, {"Record : %d/%d            ", "總筆數: %d/%d            "}},
        {IDS_READING, {"Reading  %.0f%%", "正在讀取 %.0f%%"}},
        {IDS_REPORT_TITLE, {"History List Table", "歷史記錄報表"}},
        {IDS_PAGE, {"Page %d of %d", "第 %d 頁 / 總頁數 %d"}},
        {IDS_START_TIME, {"Start Date Time : %s", "起始時間 : %s"}},
        {IDS_END_TIME, {"End Date Time : %s", "終止時間 : %s"}},
        {IDS_GROUP_SELECT, {"Group select : %s", "分類選擇 : %s"}},
        {IDS_PRINT_ALL, {"[All]", "[全部]"}},
        {IDS_ALL, {"[All]", "[全部]"}},
        {IDS_SUBGROUP_PART, {" - %s", " - %s"}},
        {IDS_GROUP_JOIN, {"%s%s", "%s%s"}},

        {ID_EXPORT_DATA, {"Move data before select time\n Export", "移出指定時間之前的資料\n匯出"}},
        {ID_VIEW_FOLLOW,
         {"Show the records the logger adds as they come\nFollow",
          "記錄程式新增記錄時立即顯示\n即時更新"}},
        {ID_FILE_NEW, {"Create a new document\nNew", "建立新文件\n開新檔案"}},
        {ID_FILE_OPEN, {"Open an existing document\nOpen", "開啟一舊文件\n開啟舊檔"}},
        {ID_FILE_PRINT_SETUP,
         {"Change the printer and printing options\nPrint Setup",
          "變更印表機及列印選項\n列印設定"}},
        {ID_FILE_PRINT, {"Print the active document\nPrint", "列印目前的文件\n列印"}},
        {ID_FILE_PRINT_DIRECT,
         {"Print the active document direct to default printer\nPrint Direct",
          "直接列印目前的文件\n直接列印"}},
        {ID_FILE_PRINT_PREVIEW, {"Display full pages\nPrint Preview", "顯示整頁\n預覽列印"}},
        {ID_FILE_MRU_FILE1, {"Open this document", "開啟此文件"}},
        {ID_APP_ABOUT,
         {"Display program information, version number and copyright\nAbout",
          "顯示程式資訊、版本號碼與版權\n關於"}},
        {ID_APP_EXIT,
         {"Quit the application; prompts to save documents\nExit",
          "結束應用程式並提示儲存檔案\n結束"}},
        {ID_HELP_FINDER, {"List Help topics\nHelp Topics", "List Help topics\nHelp Topics"}},
        {ID_VIEW_TOOLBAR,
         {"Show or hide the toolbar\nToggle ToolBar", "隱藏或顯示工具列\n切換工具列"}},
        {ID_VIEW_STATUS_BAR,
         {"Show or hide the status bar\nToggle StatusBar", "隱藏或顯示狀態列\n切換狀態列"}},

        {IDS_PROGRAM_RUNNING, {"Program is running!!", "程式正被執行中!!"}},
        {IDS_OPEN_FILE_FAIL,
         {"Open file fail !!", "開啟檔案失敗(錯誤的檔案或是檔案中含有格式不對的資料)!!"}},
        {IDS_PLEASE_WAIT, {"Please waiting . . .", "資料處理中，請稍後 . . ."}},
        {IDS_SELECT_GROUP_FIRST, {"Please select group !!", "請選擇類別!!"}},
        {IDS_CANNOT_OPEN_FILE,
         {"%s\nCannot open this file.\nPlease verify that the correct path and file name are "
          "given.",
          "%s\n無法開啟這個檔案。\n請確認路徑及檔名是否正確。"}},
        {IDS_UNTITLED, {"Untitled", "未命名"}},
        {IDS_FILE_FILTER, {"Orvane File (*.log)", "Orvane 檔案 (*.log)"}},
        {IDS_ALL_FILES_FILTER, {"All Files (*)", "所有檔案 (*)"}},
        {IDS_OPEN_TITLE, {"Open", "開啟舊檔"}},

        {IDS_COL_DATE_TIME, {"Date Time", "日期時間"}},
        {IDS_COL_GROUP, {"Group", "分類"}},
        {IDS_COL_SUBGROUP, {"Subgroup", "子分類"}},
        {IDS_COL_MESSAGE, {"Message", "訊息"}},

        {IDS_BAR_SELECT_TIME, {"Select Time", "時間選擇"}},
        {IDS_BAR_ENABLE, {"Enable", "啟用"}},
        {IDS_BAR_FROM, {"From", "從"}},
        {IDS_BAR_TO, {"To", "到"}},
        {IDS_BAR_SELECT_GROUP, {"Select Group", "分類選擇"}},
        {IDS_BAR_LIST, {"List", "列出"}},
        {IDS_BAR_TOOLBAR_TITLE, {"Toolbar", "工具列"}},
        {IDS_BAR_SELECTION_TITLE, {"Selection", "選擇"}},

        {IDS_MENU_FILE, {"&File", "檔案(&F)"}},
        {IDS_MENU_OPEN, {"&Open...\tCtrl+O", "開啟舊檔(&O)...\tCtrl+O"}},
        {IDS_MENU_EXPORT, {"&Export Data", "匯出(&E)"}},
        {IDS_MENU_PRINT, {"&Print...\tCtrl+P", "列印(&P)...\tCtrl+P"}},
        {IDS_MENU_PRINT_DIRECT, {"Print Direc&t\tF7", "直接列印(&T)\tF7"}},
        {IDS_MENU_PRINT_PREVIEW, {"Print Pre&view", "預覽列印(&V)"}},
        {IDS_MENU_PRINT_SETUP, {"P&rint Setup...", "列印設定(&R)..."}},
        {IDS_MENU_RECENT, {"Recent File", "最近開啟檔案"}},
        {IDS_MENU_EXIT, {"E&xit", "結束(&X)"}},
        {IDS_MENU_VIEW, {"&View", "檢視(&V)"}},
        {IDS_MENU_TOOLBAR, {"&Toolbar", "工具列(&T)"}},
        {IDS_MENU_STATUS_BAR, {"&Status Bar", "狀態列(&S)"}},
        {IDS_MENU_HELP, {"&Help", "說明(&H)"}},
        {IDS_MENU_HELP_TOPICS, {"&Help Topics", "&Help Topics"}},
        {IDS_MENU_ABOUT, {"&About Orvane...", "關於 Orvane(&A)..."}},

        {IDS_ABOUT_TITLE, {"About Orvane", "關於 Orvane 檔查詢程式"}},
        {IDS_ABOUT_PRODUCT,
         {"Orvane Historical Log File Viewer", "Orvane 歷史記錄查詢程式  %s 版"}},
        {IDS_ABOUT_VERSION, {"Version %s", "Version %s"}},
        {IDS_ABOUT_PLATFORMS, {"Linux", "Linux"}},
        {IDS_OK, {"OK", "確定"}},
        {IDS_CANCEL, {"Cancel", "取消"}},
        {IDS_YES, {"&Yes", "是(&Y)"}},
        {IDS_NO, {"&No", "否(&N)"}},
        {IDS_NUM, {"NUM", "NUM"}},

        {IDS_EXPORT_TITLE, {"Export Data", "匯出資料"}},
        {IDS_EXPORT_METHOD, {"Export method", "匯出方法"}},
        {IDS_EXPORT_BEFORE, {"Export or delete records before", "匯出指定時間之前的記錄:"}},
        {IDS_EXPORT_EXPORT, {"Export", "存到其它檔案"}},
        {IDS_EXPORT_DELETE, {"Delete", "刪除"}},
        {IDS_DATA_SOURCE_ERROR, {"Data source error !!", "資料來源錯誤!!"}},
        {IDS_SOURCE_ILLEGAL, {"Source illegal !!", "目的不可與來源相同!!"}},
        {IDS_EXPORT_ERROR, {"Export data error !!", "匯出資料錯誤!!"}},
        {IDS_DELETE_FAIL, {"Delete data fail !!", "刪除資料失敗!!"}},
        {IDS_EXPORT_SUCCESS, {"Export success !!", "匯出成功!!"}},
        {IDS_DELETE_SUCCESS, {"Delete success !!", "刪除成功!!"}},
        {IDS_DELETE_QUESTION, {"Are you sure you want to delete", "確定要刪除嗎"}},
        {IDS_LOG_FILES_FILTER, {"Log Files, (*.LOG) (*.log)", "Log Files, (*.LOG) (*.log)"}},
        {IDS_MENU_EXPORT_PDF, {"Export Report as P&DF...", "匯出報表為 PDF(&D)..."}},
        {IDS_PDF_FILTER, {"PDF Files (*.pdf)", "PDF 檔案 (*.pdf)"}},
        {IDS_NO_PRINTER,
         {"No printer is installed. Use Export Report as PDF instead.",
          "沒有安裝印表機，請改用匯出報表為 PDF。"}},
        {IDS_PDF_WRITE_FAIL, {"%s\nCannot write this file.", "%s\n無法寫入這個檔案。"}},
        {IDS_MENU_FOLLOW, {"&Follow", "即時更新(&F)"}},
        {IDS_MENU_CODE_PAGE, {"Legacy &Code Page", "舊檔編碼(&C)"}},
        {IDS_CODE_PAGE_BIG5, {"Big5 (Traditional Chinese)", "Big5 (繁體中文)"}},
        {IDS_CODE_PAGE_GBK, {"GBK (Simplified Chinese)", "GBK (簡體中文)"}},
        {IDS_CODE_PAGE_SHIFT_JIS, {"Shift_JIS (Japanese)", "Shift_JIS (日文)"}},
        {IDS_CODE_PAGE_EUC_KR, {"EUC-KR (Korean)", "EUC-KR (韓文)"}},
        {IDS_CODE_PAGE_WESTERN, {"Windows-1252 (Western)", "Windows-1252 (西歐)"}},
        {IDS_PRINTER_NOT_FOUND, {"Printer %s not found.", "找不到印表機 %s。"}},
        {IDS_PRINT_FAIL, {"Cannot print on %s.", "無法在 %s 上列印。"}},
        {IDS_HANDED_OVER,
         {"Opened %s, sent by another start of Orvane", "已開啟另一次啟動的 Orvane 送來的 %s"}},
        {IDS_HANDED_OVER_CAPTION, {" (sent by another start)", "（另一次啟動送來）"}},
        {IDS_DELETE_SCOPE,
         {"Every record stamped before %s, of every group (%s in all), will be deleted from "
          "this file. The time span and the group chosen for the list do not limit this.",
          "將從這個檔案刪除 %s 之前的所有記錄，不分類別（共 %s 筆）。"
          "列表所選的時間範圍與分類不會限制刪除的範圍。"}},
        {IDS_EXPORT_SCOPE,
         {"Every record stamped before %s, of every group (%s in all), will be moved from "
          "this file to %s. The time span and the group chosen for the list do not limit this.",
          "將把 %s 之前的所有記錄，不分類別（共 %s 筆），從這個檔案移到 %s。"
          "列表所選的時間範圍與分類不會限制匯出的範圍。"}},
        {IDS_EXPORT_QUESTION, {"Export them?", "確定要匯出嗎"}},
    };
    return table;
}

Language g_language = Language::English;

} // namespace

Language LanguageForLocale(const QString &localeName)
{
    return uilanguage::IsTraditionalChinese(localeName) ? Language::Chinese : Language::English;
}

Language DetectLanguage()
{
    return LanguageForLocale(uilanguage::UserLocaleName("ORVANE_LANG"));
}

void SetLanguage(Language language)
{
    g_language = language;
}

Language CurrentLanguage()
{
    return g_language;
}

QString Str(Sid id)
{
    const auto &table = Table();
    const auto it = table.find(id);
    if (it == table.end())
        return QString();
    return QString::fromUtf8(g_language == Language::Chinese ? it->second.chinese
                                                             : it->second.english);
}

QString PromptOf(Sid id)
{
    return Str(id).section(u'\n', 0, 0);
}

QString TooltipOf(Sid id)
{
    const QString text = Str(id);
    const qsizetype nl = text.indexOf(u'\n');
    return nl < 0 ? text : text.mid(nl + 1).trimmed();
}

QString DocStringField(int n)
{
    return Str(IDR_MAINFRAME).section(u'\n', n, n);
}

bool StringTableComplete(QString *missing)
{
    for (int id = IDS_PROGRAM_RUNNING; id <= IDS_LAST_STRING; ++id) {
        const auto &table = Table();
        const auto it = table.find(id);
        if (it == table.end() || !*it->second.english || !*it->second.chinese) {
            if (missing)
                *missing = QString::number(id);
            return false;
        }
    }
    return true;
}

} // namespace orvane
